#pragma once
// HRESULT and the tests of its sign; the codes themselves are the platform's shared ones.

#include <winerror.h>

#include <cstdint>

using HRESULT = int32_t;

#define SUCCEEDED(hr) (static_cast<HRESULT>(hr) >= 0)
#define FAILED(hr) (static_cast<HRESULT>(hr) < 0)
