#pragma once
// Result codes of the panel. A negative value is a failure, anything else a success; callers test
// with ORV_FAILED / ORV_SUCCEEDED (less than zero), never against zero.

#include <cstdint>

namespace Orv {
using ORVRESULT = int32_t;
}  // namespace Orv

// The codes carry the platform's values and names. They live in the global namespace, as the
// platform's do; the Win32 layer defines the same names under the same guard, so whichever header
// comes first provides them and the two never disagree.
#ifndef QUORVEL_RESULT_CODES
#define QUORVEL_RESULT_CODES
inline constexpr int32_t S_OK = 0;
inline constexpr int32_t S_FALSE = 1;
inline constexpr int32_t E_NOTIMPL = static_cast<int32_t>(0x80004001u);
inline constexpr int32_t E_FAIL = static_cast<int32_t>(0x80004005u);
inline constexpr int32_t E_OUTOFMEMORY = static_cast<int32_t>(0x8007000Eu);
inline constexpr int32_t E_INVALIDARG = static_cast<int32_t>(0x80070057u);
#endif

namespace Orv {
constexpr bool ORV_FAILED(ORVRESULT result)
{
    return result < 0;
}
constexpr bool ORV_SUCCEEDED(ORVRESULT result)
{
    return result >= 0;
}
}  // namespace Orv
