#pragma once
// The file of a loaded module, as a Windows path: the host path with "\" separators, so that
// callers that cut a path at its last backslash find the program's folder.

#include "win32/Types.h"

// A null module is the running program. Copies at most size - 1 characters and a NUL; the result
// is the number of characters copied without the NUL. A path that does not fit is cut, the
// result is size and the last error ERROR_INSUFFICIENT_BUFFER; 0 when the module is unknown.
DWORD WINAPI GetModuleFileNameW(HMODULE module, LPWSTR fileName, DWORD size);
