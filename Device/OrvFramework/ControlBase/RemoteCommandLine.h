#pragma once
// The command line a second instance hands to the running one through WM_COPYDATA. It comes from
// another process: nothing in it is trusted.

#include <cstdint>

#include "Utilities/Storage/StringT.h"

namespace Orv {

// At most `bytes` bytes of UTF-8 text, ending at the first zero byte; every malformed or cut-off
// sequence becomes U+FFFD. Null data gives an empty text.
WideString DecodeRemoteCommandLine(const void* data, uint32_t bytes);

}  // namespace Orv
