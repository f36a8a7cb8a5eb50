// Device contexts and the pixel surfaces of windows.

#include <algorithm>

#include "Win32Test/HeadlessWindow.h"
#include "Win32Test/Windowing.h"
#include "WindowModel.h"
#include "win32/WindowSurface.h"

using namespace Win32Detail;

namespace {

constexpr int kScreenDpi = 96;
constexpr uint32_t kOpaque = 0xFF000000u;

LRESULT CALLBACK PlainProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

HDC GetDC(HWND window)
{
    Model& model = TheModel();
    std::lock_guard guard(model.lock);
    WindowObject* object = Find(model, window);
    if (window != nullptr && object == nullptr) {
        return nullptr;
    }
    HDC deviceContext = new HDC__{window};
    model.deviceContexts.insert(deviceContext);
    if (object != nullptr) {
        ++object->openDeviceContexts;
    }
    return deviceContext;
}

int ReleaseDC(HWND window, HDC deviceContext)
{
    Model& model = TheModel();
    std::lock_guard guard(model.lock);
    if (model.deviceContexts.count(deviceContext) == 0 || deviceContext->window != window) {
        return 0;
    }
    model.deviceContexts.erase(deviceContext);
    if (WindowObject* object = Find(model, window)) {
        --object->openDeviceContexts;
    }
    delete deviceContext;
    return 1;
}

int GetDeviceCaps(HDC deviceContext, int index)
{
    Model& model = TheModel();
    std::lock_guard guard(model.lock);
    if (model.deviceContexts.count(deviceContext) == 0) {
        return 0;
    }
    const WindowObject* object = Find(model, deviceContext->window);
    switch (index) {
        case LOGPIXELSX:
        case LOGPIXELSY:
            return kScreenDpi;
        case HORZRES:
            return object != nullptr ? ClientWidth(model, *object) : 0;
        case VERTRES:
            return object != nullptr ? ClientHeight(model, *object) : 0;
        default:
            return 0;
    }
}

namespace Win32Detail {

bool GetWindowSurface(HWND window, WindowSurface* surface)
{
    Model& model = TheModel();
    std::lock_guard guard(model.lock);
    WindowObject* object = Find(model, window);
    if (surface == nullptr || object == nullptr || object->pixels->empty()) {
        return false;
    }
    *surface = WindowSurface{object->pixels->data(), object->surfaceWidth, object->surfaceHeight,
                             object->surfaceWidth * 4, object->pixels};
    return true;
}

void PresentWindowSurface(HWND window)
{
    Model& model = TheModel();
    std::lock_guard guard(model.lock);
    WindowObject* object = Find(model, window);
    if (object != nullptr && model.backend != nullptr) {
        model.backend->Present(*object);
    }
}

}  // namespace Win32Detail

namespace Win32Test {

HWND CreateHeadlessWindow(int width, int height)
{
    UseHeadless();
    WNDCLASSW windowClass{};
    if (!GetClassInfoW(nullptr, u"Win32TestPlainWindow", &windowClass)) {
        windowClass.lpfnWndProc = PlainProcedure;
        windowClass.lpszClassName = u"Win32TestPlainWindow";
        RegisterClassW(&windowClass);
    }
    return CreateWindowExW(0, u"Win32TestPlainWindow", u"", WS_POPUP, 0, 0, std::max(width, 0),
                           std::max(height, 0), nullptr, nullptr, nullptr, nullptr);
}

void DestroyHeadlessWindow(HWND window)
{
    DestroyAnyThread(window);
}

uint32_t GetWindowPixel(HWND window, int x, int y)
{
    Model& model = TheModel();
    std::lock_guard guard(model.lock);
    const WindowObject* object = Find(model, window);
    if (object == nullptr || x < 0 || y < 0 || x >= object->surfaceWidth ||
        y >= object->surfaceHeight) {
        return 0;
    }
    return (*object->pixels)[static_cast<size_t>(y) * object->surfaceWidth + x] | kOpaque;
}

void FillWindow(HWND window, uint32_t rgb)
{
    Model& model = TheModel();
    std::lock_guard guard(model.lock);
    if (WindowObject* object = Find(model, window)) {
        std::fill(object->pixels->begin(), object->pixels->end(), rgb | kOpaque);
    }
}

int GetOpenDeviceContextCount(HWND window)
{
    Model& model = TheModel();
    std::lock_guard guard(model.lock);
    const WindowObject* object = Find(model, window);
    return object != nullptr ? object->openDeviceContexts : 0;
}

}  // namespace Win32Test
