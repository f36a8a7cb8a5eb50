#pragma once
// The seam between windows and the drawing layers of the platform (GDI+): the pixels of a
// window's client area. Not for the system's code, which draws through GDI+.

#include <cstdint>

#include "win32/Window.h"

namespace Win32Detail {

// Rows of 32-bit words 0xXXRRGGBB (the top byte is not used: windows are opaque), top row first,
// stride in bytes. Valid until the window is resized or destroyed.
struct WindowSurface
{
    uint32_t* pixels;
    int width;
    int height;
    int stride;  // bytes
};

bool GetWindowSurface(HWND window, WindowSurface* surface);

}  // namespace Win32Detail
