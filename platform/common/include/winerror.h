#pragma once
// The result codes shared by the driver, the framework and the Win32 layer: HRESULT-shaped 32-bit
// values, negative for a failure. Defined once here, so a code added for one side is there for all
// of them.

#include <cstdint>

inline constexpr int32_t S_OK = 0;
inline constexpr int32_t S_FALSE = 1;
inline constexpr int32_t E_NOTIMPL = static_cast<int32_t>(0x80004001u);
inline constexpr int32_t E_FAIL = static_cast<int32_t>(0x80004005u);
inline constexpr int32_t E_OUTOFMEMORY = static_cast<int32_t>(0x8007000Eu);
inline constexpr int32_t E_INVALIDARG = static_cast<int32_t>(0x80070057u);
