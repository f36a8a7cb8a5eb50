#pragma once
// The virtual-key names of the configuration texts ("VKEY_F4") and the display names of the keys
// ("F4"). Both tables are built together, once, on first use, and live until process exit.

#include <cstdint>
#include <map>

#include "Utilities/Storage/StringT.h"

namespace Orv {

// Names compare exactly (every name is upper case).
using VirtualKeyNameTable = std::map<WideString, uint8_t>;
using VirtualKeyDisplayNameTable = std::map<uint8_t, WideString>;

// Fills both tables unless already filled; an insertion never replaces an entry, so where several
// names share a code the first display name stays.
void BuildVirtualKeyNameTable();

const VirtualKeyNameTable& GetVirtualKeyNameTable();
const VirtualKeyDisplayNameTable& GetVirtualKeyDisplayNameTable();

// 0 when the name is not a known key.
uint8_t LookupVirtualKeyByName(const WideString& name);
// Empty when the code has no display name.
WideString GetVirtualKeyDisplayName(uint32_t virtualKey);

}  // namespace Orv
