#pragma once
// Windows and their device contexts, as far as drawing needs them: a window is a pixel surface of
// its client size; GetDC and ReleaseDC hand out and take back device contexts; the screen has 96
// pixels per logical inch. Windows are created by the host-window layer (and by tests, through
// Win32Test::CreateHeadlessWindow); for now they are headless.

#include "win32/Types.h"

struct HWND__;
using HWND = HWND__*;
struct HDC__;
using HDC = HDC__*;

struct RECT
{
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};

struct POINT
{
    LONG x;
    LONG y;
};

#define LOGPIXELSX 88
#define LOGPIXELSY 90
#define HORZRES 8
#define VERTRES 10

// A device context of the window's client area (of the screen for a null window); null for a
// window that does not exist. Every GetDC is matched by one ReleaseDC.
HDC GetDC(HWND window);
// 1 when the context was the window's and is now released, 0 otherwise.
int ReleaseDC(HWND window, HDC deviceContext);
// LOGPIXELSX and LOGPIXELSY: 96; HORZRES and VERTRES: the client size; 0 for anything else.
int GetDeviceCaps(HDC deviceContext, int index);
BOOL GetClientRect(HWND window, RECT* rect);
BOOL IsWindow(HWND window);
