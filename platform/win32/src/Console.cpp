#include "win32/Console.h"

#include <mutex>

#include "Win32Test/ConsoleState.h"
#include "win32/LastError.h"

namespace {

constexpr COORD kDefaultBufferSize = {80, 300};
constexpr SMALL_RECT kWindow = {0, 0, 79, 24};
constexpr SHORT kLargestBufferSide = 32766;

struct Console
{
    std::mutex lock;
    bool open = false;
    COORD bufferSize = kDefaultBufferSize;
};

Console& TheConsole()
{
    static Console console;
    return console;
}

// One distinct handle per standard stream.
HANDLE StandardHandle(int index)
{
    static char handles[3];
    return &handles[index];
}

bool IsScreenHandle(HANDLE handle)
{
    return handle == StandardHandle(1) || handle == StandardHandle(2);
}

}  // namespace

BOOL WINAPI AllocConsole()
{
    Console& console = TheConsole();
    const std::lock_guard guard(console.lock);
    if (console.open) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    console.open = true;
    return TRUE;
}

BOOL WINAPI FreeConsole()
{
    Console& console = TheConsole();
    const std::lock_guard guard(console.lock);
    console.open = false;
    return TRUE;
}

HANDLE WINAPI GetStdHandle(DWORD stdHandle)
{
    switch (stdHandle) {
        case STD_INPUT_HANDLE:
            return StandardHandle(0);
        case STD_OUTPUT_HANDLE:
            return StandardHandle(1);
        case STD_ERROR_HANDLE:
            return StandardHandle(2);
        default:
            SetLastError(ERROR_INVALID_HANDLE);
            return INVALID_HANDLE_VALUE;
    }
}

BOOL WINAPI GetConsoleScreenBufferInfo(HANDLE handle, PCONSOLE_SCREEN_BUFFER_INFO info)
{
    Console& console = TheConsole();
    const std::lock_guard guard(console.lock);
    if (!console.open || !IsScreenHandle(handle) || info == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    *info = {console.bufferSize, {0, 0}, 7, kWindow, {80, 25}};
    return TRUE;
}

BOOL WINAPI SetConsoleScreenBufferSize(HANDLE handle, COORD size)
{
    Console& console = TheConsole();
    const std::lock_guard guard(console.lock);
    if (!console.open || !IsScreenHandle(handle)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (size.X <= kWindow.Right || size.Y <= kWindow.Bottom || size.X > kLargestBufferSide ||
        size.Y > kLargestBufferSide) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    console.bufferSize = size;
    return TRUE;
}

namespace Win32Test {

ConsoleState GetConsoleState()
{
    Console& console = TheConsole();
    const std::lock_guard guard(console.lock);
    return {console.open, console.bufferSize};
}

void ResetConsole()
{
    Console& console = TheConsole();
    const std::lock_guard guard(console.lock);
    console.open = false;
    console.bufferSize = kDefaultBufferSize;
}

}  // namespace Win32Test
