#include "WindowModel.h"

#include <algorithm>
#include <atomic>

#include "win32/Time.h"

namespace Win32Detail {

bool IsEmptyRect(const RECT& rect)
{
    return rect.right <= rect.left || rect.bottom <= rect.top;
}

RECT Intersect(const RECT& a, const RECT& b)
{
    RECT out{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
             std::min(a.bottom, b.bottom)};
    return IsEmptyRect(out) ? RECT{0, 0, 0, 0} : out;
}

void Region::Add(const RECT& rect)
{
    if (IsEmptyRect(rect)) {
        return;
    }
    // Disjoint rectangles: what is already there is cut out of the new one's place first.
    Subtract(rect);
    rects_.push_back(rect);
}

void Region::Subtract(const RECT& cut)
{
    if (IsEmptyRect(cut)) {
        return;
    }
    std::vector<RECT> kept;
    for (const RECT& r : rects_) {
        const RECT overlap = Intersect(r, cut);
        if (IsEmptyRect(overlap)) {
            kept.push_back(r);
            continue;
        }
        const RECT pieces[] = {{r.left, r.top, r.right, overlap.top},                   // above
                               {r.left, overlap.bottom, r.right, r.bottom},             // below
                               {r.left, overlap.top, overlap.left, overlap.bottom},     // left
                               {overlap.right, overlap.top, r.right, overlap.bottom}};  // right
        for (const RECT& piece : pieces) {
            if (!IsEmptyRect(piece)) {
                kept.push_back(piece);
            }
        }
    }
    rects_ = std::move(kept);
}

void Region::Clip(const RECT& bounds)
{
    std::vector<RECT> kept;
    for (const RECT& r : rects_) {
        const RECT inside = Intersect(r, bounds);
        if (!IsEmptyRect(inside)) {
            kept.push_back(inside);
        }
    }
    rects_ = std::move(kept);
}

RECT Region::Bounds() const
{
    if (rects_.empty()) {
        return RECT{0, 0, 0, 0};
    }
    RECT out = rects_.front();
    for (const RECT& r : rects_) {
        out = RECT{std::min(out.left, r.left), std::min(out.top, r.top),
                   std::max(out.right, r.right), std::max(out.bottom, r.bottom)};
    }
    return out;
}

Model& TheModel()
{
    static Model model;
    return model;
}

WindowObject* Find(Model& model, HWND window)
{
    const auto it = model.windows.find(reinterpret_cast<uintptr_t>(window));
    return it != model.windows.end() ? it->second.get() : nullptr;
}

ThreadQueue& QueueOf(Model& model, DWORD thread)
{
    auto& slot = model.queues[thread];
    if (!slot) {
        slot = std::make_unique<ThreadQueue>();
        slot->thread = thread;
    }
    return *slot;
}

uint64_t Now()
{
    return timeGetTime();
}

HWND DesktopHandle()
{
    return reinterpret_cast<HWND>(static_cast<uintptr_t>(0x10));
}

bool HasFrame(const WindowObject& window)
{
    return (window.style & WS_CHILD) == 0 && (window.style & (WS_CAPTION | WS_THICKFRAME)) != 0;
}

Margins FrameOf(Model& model, const WindowObject& window)
{
    if (window.hasNativeFrame) {
        return Margins{window.nativeFrame[0], window.nativeFrame[1], window.nativeFrame[2],
                       window.nativeFrame[3]};
    }
    return HasFrame(window) ? model.frame : Margins{0, 0, 0, 0};
}

POINT ClientOrigin(Model& model, const WindowObject& window)
{
    const RECT onScreen = WindowRectOnScreen(model, window);
    const Margins frame = FrameOf(model, window);
    return POINT{onScreen.left + frame.left, onScreen.top + frame.top};
}

RECT WindowRectOnScreen(Model& model, const WindowObject& window)
{
    if ((window.style & WS_CHILD) == 0) {
        return window.rect;
    }
    const WindowObject* parent = Find(model, window.parent);
    const POINT origin = parent != nullptr ? ClientOrigin(model, *parent) : POINT{0, 0};
    return RECT{window.rect.left + origin.x, window.rect.top + origin.y,
                window.rect.right + origin.x, window.rect.bottom + origin.y};
}

int ClientWidth(Model& model, const WindowObject& window)
{
    if (window.iconic) {
        return 0;
    }
    const Margins frame = FrameOf(model, window);
    const LONG margins = frame.left + frame.right;
    return std::max<LONG>(0, window.rect.right - window.rect.left - margins);
}

int ClientHeight(Model& model, const WindowObject& window)
{
    if (window.iconic) {
        return 0;
    }
    const Margins frame = FrameOf(model, window);
    const LONG margins = frame.top + frame.bottom;
    return std::max<LONG>(0, window.rect.bottom - window.rect.top - margins);
}

HWND TopLevelOf(Model& model, HWND window)
{
    WindowObject* object = Find(model, window);
    while (object != nullptr && (object->style & WS_CHILD) != 0) {
        WindowObject* parent = Find(model, object->parent);
        if (parent == nullptr) {
            break;
        }
        object = parent;
    }
    return object != nullptr ? object->handle : nullptr;
}

bool IsShownOnScreen(Model& model, const WindowObject& window)
{
    const WindowObject* object = &window;
    while (object != nullptr) {
        if (!object->visible || object->iconic) {
            return false;
        }
        if ((object->style & WS_CHILD) == 0) {
            return true;
        }
        object = Find(model, object->parent);
    }
    return false;
}

void FollowClientSize(Model& model, WindowObject& window)
{
    const int width = ClientWidth(model, window);
    const int height = ClientHeight(model, window);
    if (width == window.surfaceWidth && height == window.surfaceHeight) {
        return;
    }
    // A new buffer: drawing layers that hold the old one keep drawing into memory nobody shows.
    auto pixels =
        std::make_shared<std::vector<uint32_t>>(static_cast<size_t>(width) * height, 0xFF000000u);
    const int keepWidth = std::min(width, window.surfaceWidth);
    const int keepHeight = std::min(height, window.surfaceHeight);
    for (int y = 0; y < keepHeight; ++y) {
        std::copy_n(window.pixels->begin() + static_cast<ptrdiff_t>(y) * window.surfaceWidth,
                    keepWidth, pixels->begin() + static_cast<ptrdiff_t>(y) * width);
    }
    window.pixels = std::move(pixels);
    window.surfaceWidth = width;
    window.surfaceHeight = height;
    window.update.Clip(RECT{0, 0, width, height});
}

void WakeThread(Model& model, DWORD thread)
{
    auto it = model.queues.find(thread);
    if (it != model.queues.end()) {
        it->second->wake.notify_all();
    }
    if (model.backend != nullptr) {
        model.backend->Wake(thread);
    }
}

void DeliverToOwner(HWND window, std::function<void()> work)
{
    Model& model = TheModel();
    std::lock_guard guard(model.lock);
    const WindowObject* object = Find(model, window);
    if (object == nullptr) {
        return;
    }
    QueueOf(model, object->thread).deliveries.push_back(std::move(work));
    WakeThread(model, object->thread);
}

void RunDeliveries()
{
    Model& model = TheModel();
    const DWORD self = GetCurrentThreadId();
    for (;;) {
        std::function<void()> work;
        {
            std::lock_guard guard(model.lock);
            ThreadQueue& queue = QueueOf(model, self);
            if (queue.deliveries.empty()) {
                return;
            }
            work = std::move(queue.deliveries.front());
            queue.deliveries.pop_front();
        }
        work();
    }
}

LRESULT CallProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam, bool sent)
{
    Model& model = TheModel();
    WNDPROC procedure = nullptr;
    {
        std::lock_guard guard(model.lock);
        WindowObject* object = Find(model, window);
        if (object == nullptr) {
            return 0;
        }
        if (object->logging) {
            object->log.push_back(LoggedMessage{message, wParam, lParam, sent});
        }
        if (model.logAll) {
            model.allLog.emplace_back(window, LoggedMessage{message, wParam, lParam, sent});
        }
        procedure = object->procedure;
    }
    return procedure != nullptr ? procedure(window, message, wParam, lParam) : 0;
}

LRESULT SystemSend(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return SendMessageW(window, message, wParam, lParam);
}

void SetBackend(Backend* backend)
{
    Model& model = TheModel();
    std::lock_guard guard(model.lock);
    model.backend = backend;
}

}  // namespace Win32Detail

DWORD WINAPI GetCurrentThreadId()
{
    static std::atomic<DWORD> next{0x100};
    thread_local const DWORD id = next.fetch_add(4);
    return id;
}
