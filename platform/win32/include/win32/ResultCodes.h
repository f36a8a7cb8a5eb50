#pragma once
// HRESULT and the common result codes. The framework's own result header defines the same codes
// under the same guard, so whichever is included first provides them and the two always agree.

#include <cstdint>

using HRESULT = int32_t;

#ifndef QUORVEL_RESULT_CODES
#define QUORVEL_RESULT_CODES
inline constexpr int32_t S_OK = 0;
inline constexpr int32_t S_FALSE = 1;
inline constexpr int32_t E_NOTIMPL = static_cast<int32_t>(0x80004001u);
inline constexpr int32_t E_FAIL = static_cast<int32_t>(0x80004005u);
inline constexpr int32_t E_OUTOFMEMORY = static_cast<int32_t>(0x8007000Eu);
inline constexpr int32_t E_INVALIDARG = static_cast<int32_t>(0x80070057u);
#endif

#define SUCCEEDED(hr) (static_cast<HRESULT>(hr) >= 0)
#define FAILED(hr) (static_cast<HRESULT>(hr) < 0)
