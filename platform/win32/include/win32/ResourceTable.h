#pragma once
// How a program's resources reach the layer: the build generates, from the program's resource
// folder, one source file whose table of entries registers itself before main. Nothing but that
// generated file uses this header.

#include <cstddef>

#include "win32/Types.h"

struct Win32ResourceEntry
{
    const WCHAR* name;  // upper case, NUL-terminated
    const WCHAR* type;  // upper case, NUL-terminated
    const BYTE* bytes;  // never null, also for an empty resource
    DWORD size;         // bytes
};

// Adds the entries to the program's resources. The table must live for the whole program (the
// generated one is a constant array). An entry whose name and type an earlier one has is never
// found.
class Win32ResourceTableRegistration
{
public:
    Win32ResourceTableRegistration(const Win32ResourceEntry* entries, size_t count);
};
