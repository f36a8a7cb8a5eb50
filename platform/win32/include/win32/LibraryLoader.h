#pragma once
// Run-time loading of our shared libraries under their Windows names.
//
// A name ending in ".dll" (any case) stands for our shared library "lib<stem>.so": LoadLibraryW
// (u"Praxen.dll") opens "libPraxen.so". A bare name is looked up in the program's own folder (the
// folder of /proc/self/exe), which is where Windows looks first; a name with a directory part
// ("\" or "/" both separate) is looked up in that directory only. Any other name is handed to the
// system loader as it is. Loading the same library twice gives the same handle and counts one
// more reference, as on Windows; FreeLibrary drops one.

#include "win32/Types.h"

HMODULE WINAPI LoadLibraryW(LPCWSTR fileName);
HMODULE WINAPI LoadLibraryA(LPCSTR fileName);
FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR procName);
BOOL WINAPI FreeLibrary(HMODULE module);
