#pragma once
// Result codes of the panel. A negative value is a failure, anything else a success; callers test
// with ORV_FAILED / ORV_SUCCEEDED (less than zero), never against zero.

#include <winerror.h>

#include <cstdint>

namespace Orv {
using ORVRESULT = int32_t;

constexpr bool ORV_FAILED(ORVRESULT result)
{
    return result < 0;
}
constexpr bool ORV_SUCCEEDED(ORVRESULT result)
{
    return result >= 0;
}
}  // namespace Orv
