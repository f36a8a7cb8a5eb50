#pragma once
// Window hooks: the computer-based-training hook of a thread, told of each window it creates
// before the window gets its first message (HCBT_CREATEWND), which is how class libraries attach
// their objects to new windows.

#include "win32/Window.h"

struct HHOOK__;
using HHOOK = HHOOK__*;
using HOOKPROC = LRESULT(CALLBACK*)(int code, WPARAM wParam, LPARAM lParam);

inline constexpr int WH_CBT = 5;
inline constexpr int HCBT_CREATEWND = 3;

// WH_CBT for the calling thread only (threadId is the caller's); null with ERROR_INVALID_PARAMETER
// otherwise. The hook is called with HCBT_CREATEWND and the new window as wParam.
HHOOK WINAPI SetWindowsHookExW(int kind, HOOKPROC procedure, HINSTANCE instance, DWORD threadId);
BOOL WINAPI UnhookWindowsHookEx(HHOOK hook);
LRESULT WINAPI CallNextHookEx(HHOOK hook, int code, WPARAM wParam, LPARAM lParam);

#define SetWindowsHookEx SetWindowsHookExW
