#pragma once
// ShellExecuteW: documents and links open with the desktop's handler (xdg-open), started
// detached without a shell.

#include "win32/Types.h"
#include "win32/Window.h"

// Above 32 when the handler was started.
inline constexpr int SE_ERR_NOASSOC = 31;

HINSTANCE ShellExecuteW(HWND window, LPCWSTR verb, LPCWSTR file, LPCWSTR parameters,
                        LPCWSTR directory, INT showCommand);
