#pragma once
// Tests: windows without a display, whose pixels a test can read back one by one.

#include <cstdint>

#include "win32/Window.h"

namespace Win32Test {

// A window with a client area of the given size (at least 0 x 0), every pixel 0xFF000000.
HWND CreateHeadlessWindow(int width, int height);
// Destroys it; its device contexts become invalid.
void DestroyHeadlessWindow(HWND window);
// The pixel as 0xFFRRGGBB; 0 outside the client area or for no window.
uint32_t GetWindowPixel(HWND window, int x, int y);
// Every pixel set to 0xFFRRGGBB of the given colour.
void FillWindow(HWND window, uint32_t rgb);
// Device contexts handed out by GetDC and not yet released.
int GetOpenDeviceContextCount(HWND window);

}  // namespace Win32Test
