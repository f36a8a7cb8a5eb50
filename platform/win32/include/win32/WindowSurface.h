#pragma once
// The seam between windows and the drawing layers of the platform (GDI+): the pixels of a
// window's client area. Not for the system's code, which draws through GDI+.

#include <cstdint>
#include <memory>

#include "win32/Window.h"

namespace Win32Detail {

// Rows of 32-bit words 0xXXRRGGBB (the top byte is not used: windows are opaque), top row first,
// stride in bytes. The pixels stay valid while the holder is kept, even past the window's
// destruction or a resize (drawing then reaches nobody).
struct WindowSurface
{
    uint32_t* pixels;
    int width;
    int height;
    int stride;  // bytes
    std::shared_ptr<void> holder;
};

bool GetWindowSurface(HWND window, WindowSurface* surface);

// What was drawn into the window's surface reaches the screen (a drawing layer calls this when
// its graphics is flushed or released). Nothing for a window without a display.
void PresentWindowSurface(HWND window);

}  // namespace Win32Detail
