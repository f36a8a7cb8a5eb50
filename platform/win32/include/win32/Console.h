#pragma once
// The process console. There are no console windows here: the console is the terminal the process
// already has, so AllocConsole only marks it as the process's console and the standard streams
// keep their descriptors. The screen buffer is bookkeeping that tests can read
// (Win32Test/ConsoleState.h).

#include "win32/Types.h"

struct COORD
{
    SHORT X;
    SHORT Y;
};

struct SMALL_RECT
{
    SHORT Left;
    SHORT Top;
    SHORT Right;
    SHORT Bottom;
};

struct CONSOLE_SCREEN_BUFFER_INFO
{
    COORD dwSize;
    COORD dwCursorPosition;
    WORD wAttributes;
    SMALL_RECT srWindow;
    COORD dwMaximumWindowSize;
};
using PCONSOLE_SCREEN_BUFFER_INFO = CONSOLE_SCREEN_BUFFER_INFO*;

inline constexpr DWORD STD_INPUT_HANDLE = static_cast<DWORD>(-10);
inline constexpr DWORD STD_OUTPUT_HANDLE = static_cast<DWORD>(-11);
inline constexpr DWORD STD_ERROR_HANDLE = static_cast<DWORD>(-12);

// FALSE (ERROR_ACCESS_DENIED) when the process already has its console.
BOOL WINAPI AllocConsole();
BOOL WINAPI FreeConsole();
HANDLE WINAPI GetStdHandle(DWORD stdHandle);
// Only for the output and error handles while the console is open.
BOOL WINAPI GetConsoleScreenBufferInfo(HANDLE console, PCONSOLE_SCREEN_BUFFER_INFO info);
// The size must cover the window and stay within 32766 lines and columns.
BOOL WINAPI SetConsoleScreenBufferSize(HANDLE console, COORD size);
