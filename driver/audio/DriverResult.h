#pragma once
// Result codes of the driver's data path: the same shape and values as the platform's HRESULTs
// (negative = failure). Defined under the shared guard, so whichever header comes first provides
// them and the definitions never disagree.

#include <cstdint>

#ifndef QUORVEL_RESULT_CODES
#define QUORVEL_RESULT_CODES
inline constexpr int32_t S_OK = 0;
inline constexpr int32_t S_FALSE = 1;
inline constexpr int32_t E_NOTIMPL = static_cast<int32_t>(0x80004001u);
inline constexpr int32_t E_FAIL = static_cast<int32_t>(0x80004005u);
inline constexpr int32_t E_OUTOFMEMORY = static_cast<int32_t>(0x8007000Eu);
inline constexpr int32_t E_INVALIDARG = static_cast<int32_t>(0x80070057u);
#endif
