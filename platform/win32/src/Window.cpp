#include "win32/Window.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

#include "Win32Test/HeadlessWindow.h"
#include "win32/WindowSurface.h"

struct HWND__
{
    int width;
    int height;
    // Shared with the drawing layers, which may outlive the window.
    std::shared_ptr<std::vector<uint32_t>> pixels;
    int openDeviceContexts = 0;
};

struct HDC__
{
    HWND window;  // null for the screen
};

namespace {

constexpr int kScreenDpi = 96;
constexpr uint32_t kOpaque = 0xFF000000u;

// Every live window and device context, so a stale or foreign handle is refused, never followed.
struct Windows
{
    std::mutex lock;
    std::set<HWND> windows;
    std::set<HDC> deviceContexts;
};

Windows& AllWindows()
{
    static Windows windows;
    return windows;
}

}  // namespace

HDC GetDC(HWND window)
{
    Windows& all = AllWindows();
    std::lock_guard guard(all.lock);
    if (window != nullptr && all.windows.count(window) == 0) {
        return nullptr;
    }
    HDC deviceContext = new HDC__{window};
    all.deviceContexts.insert(deviceContext);
    if (window != nullptr) {
        ++window->openDeviceContexts;
    }
    return deviceContext;
}

int ReleaseDC(HWND window, HDC deviceContext)
{
    Windows& all = AllWindows();
    std::lock_guard guard(all.lock);
    if (all.deviceContexts.count(deviceContext) == 0 || deviceContext->window != window) {
        return 0;
    }
    all.deviceContexts.erase(deviceContext);
    if (window != nullptr && all.windows.count(window) != 0) {
        --window->openDeviceContexts;
    }
    delete deviceContext;
    return 1;
}

int GetDeviceCaps(HDC deviceContext, int index)
{
    Windows& all = AllWindows();
    std::lock_guard guard(all.lock);
    if (all.deviceContexts.count(deviceContext) == 0) {
        return 0;
    }
    switch (index) {
        case LOGPIXELSX:
        case LOGPIXELSY:
            return kScreenDpi;
        case HORZRES:
            return deviceContext->window != nullptr ? deviceContext->window->width : 0;
        case VERTRES:
            return deviceContext->window != nullptr ? deviceContext->window->height : 0;
        default:
            return 0;
    }
}

BOOL GetClientRect(HWND window, RECT* rect)
{
    Windows& all = AllWindows();
    std::lock_guard guard(all.lock);
    if (rect == nullptr || all.windows.count(window) == 0) {
        return FALSE;
    }
    *rect = RECT{0, 0, window->width, window->height};
    return TRUE;
}

BOOL IsWindow(HWND window)
{
    Windows& all = AllWindows();
    std::lock_guard guard(all.lock);
    return all.windows.count(window) != 0 ? TRUE : FALSE;
}

namespace Win32Detail {

bool GetWindowSurface(HWND window, WindowSurface* surface)
{
    Windows& all = AllWindows();
    std::lock_guard guard(all.lock);
    if (surface == nullptr || all.windows.count(window) == 0 || window->pixels->empty()) {
        return false;
    }
    *surface = WindowSurface{window->pixels->data(), window->width, window->height,
                             window->width * 4, window->pixels};
    return true;
}

}  // namespace Win32Detail

namespace Win32Test {

HWND CreateHeadlessWindow(int width, int height)
{
    width = std::max(width, 0);
    height = std::max(height, 0);
    HWND window = new HWND__{
        width, height,
        std::make_shared<std::vector<uint32_t>>(static_cast<size_t>(width) * height, kOpaque)};
    Windows& all = AllWindows();
    std::lock_guard guard(all.lock);
    all.windows.insert(window);
    return window;
}

void DestroyHeadlessWindow(HWND window)
{
    Windows& all = AllWindows();
    std::lock_guard guard(all.lock);
    if (all.windows.erase(window) == 0) {
        return;
    }
    for (auto it = all.deviceContexts.begin(); it != all.deviceContexts.end();) {
        if ((*it)->window == window) {
            delete *it;
            it = all.deviceContexts.erase(it);
        } else {
            ++it;
        }
    }
    delete window;
}

uint32_t GetWindowPixel(HWND window, int x, int y)
{
    Windows& all = AllWindows();
    std::lock_guard guard(all.lock);
    if (all.windows.count(window) == 0 || x < 0 || y < 0 || x >= window->width ||
        y >= window->height) {
        return 0;
    }
    return (*window->pixels)[static_cast<size_t>(y) * window->width + x] | kOpaque;
}

void FillWindow(HWND window, uint32_t rgb)
{
    Windows& all = AllWindows();
    std::lock_guard guard(all.lock);
    if (all.windows.count(window) != 0) {
        std::fill(window->pixels->begin(), window->pixels->end(), rgb | kOpaque);
    }
}

int GetOpenDeviceContextCount(HWND window)
{
    Windows& all = AllWindows();
    std::lock_guard guard(all.lock);
    return all.windows.count(window) != 0 ? window->openDeviceContexts : 0;
}

}  // namespace Win32Test
