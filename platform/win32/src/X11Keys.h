#pragma once
// The X keysym of a key to its Windows virtual key, through one table; 0 for a key without one.

#include <cstdint>

namespace Win32Detail {

int VirtualKeyFromKeysym(unsigned long keysym);

}  // namespace Win32Detail
