// The X11 back end: one X window per top-level window; X events become the model's input,
// exposure and placement; a window's pixels reach the screen through XPutImage.

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/cursorfont.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <clocale>
#include <cstdio>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "Utf16.h"
#include "WindowModel.h"
#include "X11Keys.h"

namespace Win32Detail {

namespace {

constexpr size_t kMostPending = 16;

std::atomic<bool> connectionLost{false};

int IgnoreProtocolError(Display*, XErrorEvent* error)
{
    // A request on a window that went away meanwhile (focus on an unmapped window, a grab that
    // failed): nothing to do about it here.
    (void)error;
    return 0;
}

int ConnectionLost(Display*)
{
    connectionLost = true;
    return 0;
}

void KeepRunningAfterConnectionLoss(Display*, void*)
{
    // Instead of Xlib's exit: the loops see the loss and end with WM_QUIT.
}

std::u16string FromUtf8(const char* text, int length)
{
    std::u16string out;
    for (int i = 0; i < length;) {
        const auto c = static_cast<unsigned char>(text[i]);
        uint32_t code = 0xFFFD;
        int size = 1;
        if (c < 0x80) {
            code = c;
        } else if ((c & 0xE0) == 0xC0 && i + 1 < length) {
            code = ((c & 0x1Fu) << 6) | (static_cast<unsigned char>(text[i + 1]) & 0x3Fu);
            size = 2;
        } else if ((c & 0xF0) == 0xE0 && i + 2 < length) {
            code = ((c & 0x0Fu) << 12) | ((static_cast<unsigned char>(text[i + 1]) & 0x3Fu) << 6) |
                   (static_cast<unsigned char>(text[i + 2]) & 0x3Fu);
            size = 3;
        } else if ((c & 0xF8) == 0xF0 && i + 3 < length) {
            code = ((c & 0x07u) << 18) | ((static_cast<unsigned char>(text[i + 1]) & 0x3Fu) << 12) |
                   ((static_cast<unsigned char>(text[i + 2]) & 0x3Fu) << 6) |
                   (static_cast<unsigned char>(text[i + 3]) & 0x3Fu);
            size = 4;
        }
        if (code >= 0x10000) {
            code -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(code));
        }
        i += size;
    }
    return out;
}

unsigned int FontCursorShape(HCURSOR cursor)
{
    switch (reinterpret_cast<ULONG_PTR>(cursor)) {
        case 32513:
            return XC_xterm;
        case 32514:
            return XC_watch;
        case 32515:
            return XC_crosshair;
        case 32516:
            return XC_sb_up_arrow;
        case 32642:
            return XC_bottom_right_corner;
        case 32643:
            return XC_bottom_left_corner;
        case 32644:
            return XC_sb_h_double_arrow;
        case 32645:
            return XC_sb_v_double_arrow;
        case 32646:
            return XC_fleur;
        case 32648:
            return XC_X_cursor;
        case 32649:
            return XC_hand2;
        case 32650:
            return XC_watch;
        case 32651:
            return XC_question_arrow;
        default:
            return XC_left_ptr;
    }
}

class X11Backend : public Backend
{
public:
    explicit X11Backend(Display* display) : display_(display)
    {
        root_ = DefaultRootWindow(display_);
        protocols_ = XInternAtom(display_, "WM_PROTOCOLS", False);
        deleteWindow_ = XInternAtom(display_, "WM_DELETE_WINDOW", False);
        netWmName_ = XInternAtom(display_, "_NET_WM_NAME", False);
        utf8String_ = XInternAtom(display_, "UTF8_STRING", False);
        frameExtents_ = XInternAtom(display_, "_NET_FRAME_EXTENTS", False);
        netWmState_ = XInternAtom(display_, "_NET_WM_STATE", False);
        stateAbove_ = XInternAtom(display_, "_NET_WM_STATE_ABOVE", False);
        supportingWmCheck_ = XInternAtom(display_, "_NET_SUPPORTING_WM_CHECK", False);
        stateHidden_ = XInternAtom(display_, "_NET_WM_STATE_HIDDEN", False);
        wmState_ = XInternAtom(display_, "WM_STATE", False);
        Bool supported = False;
        // Held keys repeat as presses only, as Windows' auto-repeat does.
        XkbSetDetectableAutoRepeat(display_, True, &supported);
        XSetLocaleModifiers("@im=none");
        inputMethod_ = XOpenIM(display_, nullptr, nullptr, nullptr);
        ReadScreen();
    }

    void Created(WindowObject& window) override
    {
        XSetWindowAttributes attributes{};
        attributes.event_mask = ExposureMask | ButtonPressMask | ButtonReleaseMask |
                                PointerMotionMask | KeyPressMask | KeyReleaseMask |
                                FocusChangeMask | StructureNotifyMask | PropertyChangeMask;
        attributes.background_pixel = BlackPixel(display_, DefaultScreen(display_));
        Model& model = TheModel();
        const POINT origin = ClientOrigin(model, window);
        const Window created = XCreateWindow(
            display_, root_, origin.x, origin.y,
            static_cast<unsigned>(std::max(1, window.surfaceWidth)),
            static_cast<unsigned>(std::max(1, window.surfaceHeight)), 0, CopyFromParent,
            InputOutput, CopyFromParent, CWEventMask | CWBackPixel, &attributes);
        XSetWMProtocols(display_, created, &deleteWindow_, 1);
        if (inputMethod_ != nullptr) {
            contexts_[created] =
                XCreateIC(inputMethod_, XNInputStyle, XIMPreeditNothing | XIMStatusNothing,
                          XNClientWindow, created, XNFocusWindow, created, nullptr);
        }
        window.native = created;
        {
            std::lock_guard guard(lock_);
            windows_[created] = window.handle;
        }
        Titled(window);
        SetSizeHints(window);
        KeepAbove(window);
        if (cursor_ != 0) {
            XDefineCursor(display_, created, cursor_);
        }
        XFlush(display_);
    }

    void Destroyed(WindowObject& window) override
    {
        if (window.native == 0) {
            return;
        }
        const auto native = static_cast<Window>(window.native);
        if (auto it = contexts_.find(native); it != contexts_.end()) {
            if (it->second != nullptr) {
                XDestroyIC(it->second);
            }
            contexts_.erase(it);
        }
        kept_.erase(native);
        XDestroyWindow(display_, native);
        XFlush(display_);
        std::lock_guard guard(lock_);
        windows_.erase(native);
        requested_.erase(native);
        knownSize_.erase(native);
        hidden_.erase(native);
    }

    void Shown(WindowObject& window) override
    {
        if (window.native == 0) {
            return;
        }
        if (window.visible && !window.iconic) {
            XMapWindow(display_, static_cast<Window>(window.native));
        } else if (window.visible) {
            XIconifyWindow(display_, static_cast<Window>(window.native), DefaultScreen(display_));
        } else {
            XUnmapWindow(display_, static_cast<Window>(window.native));
        }
        XFlush(display_);
    }

    void Placed(WindowObject& window) override
    {
        if (window.native == 0) {
            return;
        }
        KeepAbove(window);
        if (window.iconic) {
            XFlush(display_);
            return;
        }
        Model& model = TheModel();
        // A framed window is placed by its frame's corner, an unframed one by its client area.
        const POINT origin = window.hasNativeFrame ? POINT{window.rect.left, window.rect.top}
                                                   : ClientOrigin(model, window);
        SetSizeHints(window);
        const std::pair<int, int> size{std::max(1, window.surfaceWidth),
                                       std::max(1, window.surfaceHeight)};
        {
            std::lock_guard guard(lock_);
            const auto native = static_cast<Window>(window.native);
            auto known = knownSize_.find(native);
            if (known == knownSize_.end() || known->second != size) {
                // Its report is the program's resize, not a drag of the frame.
                auto& pending = requested_[native];
                pending.push_back(size);
                if (pending.size() > kMostPending) {
                    pending.pop_front();
                }
                knownSize_[native] = size;
            }
        }
        XMoveResizeWindow(display_, static_cast<Window>(window.native), origin.x, origin.y,
                          static_cast<unsigned>(size.first), static_cast<unsigned>(size.second));
        if ((window.exStyle & WS_EX_TOPMOST) != 0) {
            XRaiseWindow(display_, static_cast<Window>(window.native));
        }
        XFlush(display_);
    }

    void Titled(WindowObject& window) override
    {
        if (window.native == 0) {
            return;
        }
        const std::string utf8 = Win32Internal::Utf16ToUtf8(window.title);
        const auto native = static_cast<Window>(window.native);
        XChangeProperty(display_, native, netWmName_, utf8String_, 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(utf8.data()),
                        static_cast<int>(utf8.size()));
        char* list[] = {const_cast<char*>(utf8.c_str())};
        XTextProperty property{};
        if (Xutf8TextListToTextProperty(display_, list, 1, XStdICCTextStyle, &property) >= 0) {
            XSetWMName(display_, native, &property);
            XFree(property.value);
        }
        XFlush(display_);
    }

    void Activated(WindowObject& window) override
    {
        if (window.native == 0 || !window.visible) {
            return;
        }
        XWindowAttributes attributes{};
        const auto native = static_cast<Window>(window.native);
        if (XGetWindowAttributes(display_, native, &attributes) &&
            attributes.map_state == IsViewable) {
            XRaiseWindow(display_, native);
            XSetInputFocus(display_, native, RevertToParent, CurrentTime);
            XFlush(display_);
        }
    }

    void CaptureChanged(HWND window, uintptr_t native) override
    {
        if (window != nullptr && native != 0) {
            XGrabPointer(display_, static_cast<Window>(native), False,
                         ButtonPressMask | ButtonReleaseMask | PointerMotionMask, GrabModeAsync,
                         GrabModeAsync, None, None, CurrentTime);
        } else {
            XUngrabPointer(display_, CurrentTime);
        }
        XFlush(display_);
    }

    void CursorChanged(HCURSOR cursor) override
    {
        const unsigned int shape = FontCursorShape(cursor);
        auto& made = cursors_[shape];
        if (made == 0) {
            made = XCreateFontCursor(display_, shape);
        }
        cursor_ = made;
        std::lock_guard guard(lock_);
        for (const auto& [native, handle] : windows_) {
            XDefineCursor(display_, native, cursor_);
        }
        XFlush(display_);
    }

    void WarpPointer(POINT screen) override
    {
        XWarpPointer(display_, None, root_, 0, 0, 0, 0, screen.x, screen.y);
        XFlush(display_);
    }

    void Present(WindowObject& window) override
    {
        PresentArea(window, RECT{0, 0, window.surfaceWidth, window.surfaceHeight});
    }

    void Pump(int timeoutMs) override
    {
        if (Lost()) {
            return;
        }
        Drain();
        if (timeoutMs == 0 || Lost()) {
            return;
        }
        // Only this thread reads its own wake: a wake meant for it is never taken by another.
        const int wake = WakeOf(GetCurrentThreadId());
        if (XEventsQueued(display_, QueuedAlready) == 0) {
            pollfd waits[2] = {{ConnectionNumber(display_), POLLIN, 0}, {wake, POLLIN, 0}};
            poll(waits, wake >= 0 ? 2 : 1, timeoutMs);
        }
        uint64_t count = 0;
        if (wake >= 0) {
            (void)!read(wake, &count, sizeof count);
        }
        Drain();
    }

    void Wake(DWORD thread) override
    {
        const int wake = WakeOf(thread);
        if (wake >= 0) {
            const uint64_t one = 1;
            (void)!write(wake, &one, sizeof one);
        }
    }

private:
    // The thread's wake, made at its first use by either side (so a wake that comes before the
    // thread first waits is kept for it) and closed when the thread ends.
    int WakeOf(DWORD thread)
    {
        struct Owned
        {
            X11Backend* backend = nullptr;
            DWORD thread = 0;
            ~Owned()
            {
                if (backend != nullptr) {
                    backend->ForgetWake(thread);
                }
            }
        };
        thread_local Owned owned;
        std::lock_guard guard(lock_);
        auto it = wakes_.find(thread);
        if (it == wakes_.end()) {
            it = wakes_.emplace(thread, eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)).first;
        }
        if (thread == GetCurrentThreadId() && owned.backend == nullptr) {
            owned.backend = this;
            owned.thread = thread;
        }
        return it->second;
    }

    void ForgetWake(DWORD thread)
    {
        std::lock_guard guard(lock_);
        if (auto it = wakes_.find(thread); it != wakes_.end()) {
            if (it->second >= 0) {
                close(it->second);
            }
            wakes_.erase(it);
        }
    }

    bool Lost()
    {
        if (!connectionLost.load()) {
            return false;
        }
        if (!reported_) {
            reported_ = true;
            std::fprintf(stderr, "The connection to the X display was lost; the program ends.\n");
            // Every loop ends: the quit goes to each thread's queue.
            Model& model = TheModel();
            std::lock_guard guard(model.lock);
            for (auto& [thread, queue] : model.queues) {
                queue->quit = true;
                WakeThread(model, thread);
            }
        }
        return true;
    }

    void ReadScreen()
    {
        const int screen = DefaultScreen(display_);
        RECT full{0, 0, DisplayWidth(display_, screen), DisplayHeight(display_, screen)};
        RECT work = full;
        Atom type = None;
        int format = 0;
        unsigned long count = 0;
        unsigned long after = 0;
        unsigned char* data = nullptr;
        const Atom workarea = XInternAtom(display_, "_NET_WORKAREA", True);
        if (workarea != None &&
            XGetWindowProperty(display_, root_, workarea, 0, 4, False, XA_CARDINAL, &type, &format,
                               &count, &after, &data) == Success &&
            data != nullptr && format == 32 && count >= 4) {
            const auto* values = reinterpret_cast<const long*>(data);
            work = RECT{static_cast<LONG>(values[0]), static_cast<LONG>(values[1]),
                        static_cast<LONG>(values[0] + values[2]),
                        static_cast<LONG>(values[1] + values[3])};
        }
        if (data != nullptr) {
            XFree(data);
        }
        Model& model = TheModel();
        std::lock_guard guard(model.lock);
        model.screen = full;
        model.workArea = work;
    }

    // Reads a list of atoms (or cardinals) of the window; empty when it has none.
    std::vector<long> ReadList(Window native, Atom property, Atom type)
    {
        Atom actualType = None;
        int format = 0;
        unsigned long count = 0;
        unsigned long after = 0;
        unsigned char* data = nullptr;
        std::vector<long> out;
        if (XGetWindowProperty(display_, native, property, 0, 64, False, type, &actualType, &format,
                               &count, &after, &data) == Success &&
            data != nullptr && format == 32) {
            const auto* values = reinterpret_cast<const long*>(data);
            out.assign(values, values + count);
        }
        if (data != nullptr) {
            XFree(data);
        }
        return out;
    }

    // An EWMH window manager names a window of its own on the root, which names itself back.
    bool WindowManagerPresent()
    {
        const std::vector<long> check = ReadList(root_, supportingWmCheck_, XA_WINDOW);
        if (check.empty() || check[0] == 0) {
            return false;
        }
        const std::vector<long> self =
            ReadList(static_cast<Window>(check[0]), supportingWmCheck_, XA_WINDOW);
        return !self.empty() && self[0] == check[0];
    }

    // A topmost window asks to be kept above the others. Lock of the model held.
    void KeepAbove(const WindowObject& window)
    {
        const auto native = static_cast<Window>(window.native);
        const bool above = (window.exStyle & WS_EX_TOPMOST) != 0;
        if (above == (kept_.count(native) != 0)) {
            return;
        }
        if (above) {
            kept_.insert(native);
        } else {
            kept_.erase(native);
        }
        std::vector<long> state = ReadList(native, netWmState_, XA_ATOM);
        if (WindowManagerPresent()) {
            XEvent message{};
            message.xclient.type = ClientMessage;
            message.xclient.window = native;
            message.xclient.message_type = netWmState_;
            message.xclient.format = 32;
            message.xclient.data.l[0] = above ? 1 : 0;  // add, remove
            message.xclient.data.l[1] = static_cast<long>(stateAbove_);
            message.xclient.data.l[3] = 1;  // from an application
            XSendEvent(display_, root_, False, SubstructureRedirectMask | SubstructureNotifyMask,
                       &message);
        }
        // Also on the window itself: readable at once, and all there is without a manager, which
        // rewrites it with its own view when it handles the message.
        if (above) {
            state.push_back(static_cast<long>(stateAbove_));
        } else {
            std::erase(state, static_cast<long>(stateAbove_));
        }
        XChangeProperty(display_, native, netWmState_, XA_ATOM, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(state.data()),
                        static_cast<int>(state.size()));
    }

    void SetSizeHints(const WindowObject& window)
    {
        XSizeHints* hints = XAllocSizeHints();
        if (hints == nullptr) {
            return;
        }
        hints->flags = PPosition;
        hints->x = 0;
        hints->y = 0;
        if ((window.style & WS_THICKFRAME) == 0) {
            // A fixed-size window: the window manager may not resize it.
            hints->flags |= PMinSize | PMaxSize;
            hints->min_width = hints->max_width = std::max(1, window.surfaceWidth);
            hints->min_height = hints->max_height = std::max(1, window.surfaceHeight);
        }
        XSetWMNormalHints(display_, static_cast<Window>(window.native), hints);
        XFree(hints);
    }

    // Lock of the model held.
    void PresentArea(WindowObject& window, const RECT& area)
    {
        const RECT r = Intersect(area, RECT{0, 0, window.surfaceWidth, window.surfaceHeight});
        if (window.native == 0 || IsEmptyRect(r)) {
            return;
        }
        Visual* visual = DefaultVisual(display_, DefaultScreen(display_));
        XImage* image = XCreateImage(
            display_, visual, 24, ZPixmap, 0, reinterpret_cast<char*>(window.pixels->data()),
            static_cast<unsigned>(window.surfaceWidth), static_cast<unsigned>(window.surfaceHeight),
            32, window.surfaceWidth * 4);
        if (image == nullptr) {
            return;
        }
        image->byte_order = LSBFirst;
        XPutImage(display_, static_cast<Window>(window.native),
                  DefaultGC(display_, DefaultScreen(display_)), image, r.left, r.top, r.left, r.top,
                  static_cast<unsigned>(r.right - r.left), static_cast<unsigned>(r.bottom - r.top));
        image->data = nullptr;  // the window's
        XDestroyImage(image);
        XFlush(display_);
    }

    HWND HandleOf(Window native)
    {
        std::lock_guard guard(lock_);
        auto it = windows_.find(native);
        return it != windows_.end() ? it->second : nullptr;
    }

    void Drain()
    {
        // One reader at a time keeps the events in order; another thread's drain takes them all.
        std::unique_lock reading(reading_, std::try_to_lock);
        if (!reading.owns_lock()) {
            return;
        }
        while (!Lost() && XPending(display_) > 0) {
            XEvent event;
            XNextEvent(display_, &event);
            Handle(event);
        }
    }

    void Handle(XEvent& event)
    {
        HWND window = HandleOf(event.xany.window);
        switch (event.type) {
            case Expose: {
                if (window == nullptr) {
                    return;
                }
                const RECT exposed{event.xexpose.x, event.xexpose.y,
                                   event.xexpose.x + event.xexpose.width,
                                   event.xexpose.y + event.xexpose.height};
                {
                    // What the surface holds shows at once; the window paints it anew later.
                    Model& model = TheModel();
                    std::lock_guard guard(model.lock);
                    if (WindowObject* object = Find(model, window)) {
                        PresentArea(*object, exposed);
                    }
                }
                InvalidateRect(window, &exposed, FALSE);
                return;
            }
            case ButtonPress:
            case ButtonRelease: {
                const bool down = event.type == ButtonPress;
                const POINT at{event.xbutton.x_root, event.xbutton.y_root};
                switch (event.xbutton.button) {
                    case Button1:
                        InputMouseButton(0, down, at);
                        break;
                    case Button2:
                        InputMouseButton(2, down, at);
                        break;
                    case Button3:
                        InputMouseButton(1, down, at);
                        break;
                    case 4:
                    case 5:
                        if (down) {
                            InputWheel(event.xbutton.button == 4 ? 120 : -120, false, at);
                        }
                        break;
                    case 6:
                    case 7:
                        if (down) {
                            InputWheel(event.xbutton.button == 6 ? -120 : 120, true, at);
                        }
                        break;
                    default:
                        break;
                }
                return;
            }
            case MotionNotify:
                InputMouseMove(POINT{event.xmotion.x_root, event.xmotion.y_root});
                return;
            case KeyPress:
            case KeyRelease: {
                const int key = VirtualKeyFromKeysym(XLookupKeysym(&event.xkey, 0));
                std::u16string characters;
                if (event.type == KeyPress) {
                    char text[64];
                    KeySym ignored = 0;
                    int length = 0;
                    auto context = contexts_.find(event.xkey.window);
                    if (context != contexts_.end() && context->second != nullptr) {
                        Status status = 0;
                        length = Xutf8LookupString(context->second, &event.xkey, text, sizeof text,
                                                   &ignored, &status);
                        if (status != XLookupChars && status != XLookupBoth) {
                            length = 0;
                        }
                    } else {
                        length = XLookupString(&event.xkey, text, sizeof text, &ignored, nullptr);
                    }
                    characters = FromUtf8(text, std::max(0, length));
                }
                InputKey(key, event.type == KeyPress,
                         static_cast<WORD>(event.xkey.keycode >= 8 ? event.xkey.keycode - 8 : 0),
                         characters);
                return;
            }
            case FocusIn:
                if (window != nullptr && event.xfocus.mode == NotifyNormal &&
                    event.xfocus.detail != NotifyPointer) {
                    RereadKeys();
                    DeliverToOwner(window, [window] { Activate(window, WA_ACTIVE); });
                }
                return;
            case FocusOut:
                if (window != nullptr && event.xfocus.mode == NotifyNormal &&
                    event.xfocus.detail != NotifyPointer) {
                    DeliverToOwner(window, [window] {
                        if (GetActiveWindow() == window) {
                            DeactivateAll(true);
                        }
                    });
                }
                return;
            case ConfigureNotify: {
                if (window == nullptr) {
                    return;
                }
                int x = 0;
                int y = 0;
                Window child = 0;
                XTranslateCoordinates(display_, event.xconfigure.window, root_, 0, 0, &x, &y,
                                      &child);
                const int width = event.xconfigure.width;
                const int height = event.xconfigure.height;
                bool ours = false;
                {
                    std::lock_guard guard(lock_);
                    auto& pending = requested_[event.xconfigure.window];
                    const auto asked = std::find(pending.begin(), pending.end(),
                                                 std::pair<int, int>{width, height});
                    if (asked != pending.end()) {
                        ours = true;
                        pending.erase(pending.begin(), asked + 1);
                        if (!pending.empty()) {
                            // The program has asked for more since: the model is there already.
                            return;
                        }
                    } else {
                        pending.clear();
                        knownSize_[event.xconfigure.window] = {width, height};
                    }
                }
                DeliverToOwner(window, [this, window, x, y, width, height, ours] {
                    Placement(window, x, y, width, height, !ours);
                });
                return;
            }
            case UnmapNotify:
                if (window != nullptr && event.xunmap.window == event.xany.window &&
                    Iconified(event.xunmap.window)) {
                    DeliverToOwner(window, [window] { Minimise(window); });
                }
                return;
            case MapNotify:
                if (window != nullptr && event.xmap.window == event.xany.window) {
                    DeliverToOwner(window, [window] { Restore(window); });
                }
                return;
            case ClientMessage:
                if (window != nullptr && event.xclient.message_type == protocols_ &&
                    static_cast<Atom>(event.xclient.data.l[0]) == deleteWindow_) {
                    PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
                }
                return;
            case PropertyNotify:
                if (window == nullptr) {
                    return;
                }
                if (event.xproperty.atom == frameExtents_) {
                    ReadFrameExtents(window, event.xproperty.window);
                } else if (event.xproperty.atom == wmState_) {
                    // Ours to read only: the window manager's view of the window.
                    const long state = WmState(event.xproperty.window);
                    if (state == IconicState) {
                        DeliverToOwner(window, [window] { Minimise(window); });
                    } else if (state == NormalState) {
                        DeliverToOwner(window, [window] { Restore(window); });
                    }
                } else if (event.xproperty.atom == netWmState_) {
                    // This one is written here too (kept above): only a change of its hidden
                    // state is the window manager's minimise or restore.
                    const bool hidden = Hidden(event.xproperty.window);
                    bool changed = false;
                    {
                        std::lock_guard guard(lock_);
                        changed = hidden != (hidden_.count(event.xproperty.window) != 0);
                        if (hidden) {
                            hidden_.insert(event.xproperty.window);
                        } else {
                            hidden_.erase(event.xproperty.window);
                        }
                    }
                    if (changed) {
                        DeliverToOwner(window, [window, hidden] {
                            hidden ? Minimise(window) : Restore(window);
                        });
                    }
                }
                return;
            case MappingNotify:
                XRefreshKeyboardMapping(&event.xmapping);
                return;
            default:
                return;
        }
    }

    // A window manager's minimise or restore, as the user's command on the window's own thread.
    static void Minimise(HWND window)
    {
        if (IsWindowVisible(window) && !IsIconic(window)) {
            SendMessageW(window, WM_SYSCOMMAND, SC_MINIMIZE, 0);
        }
    }

    static void Restore(HWND window)
    {
        if (IsIconic(window)) {
            SendMessageW(window, WM_SYSCOMMAND, SC_RESTORE, 0);
        }
    }

    long WmState(Window native)
    {
        const std::vector<long> state = ReadList(native, wmState_, wmState_);
        return state.empty() ? WithdrawnState : state[0];
    }

    bool Hidden(Window native)
    {
        const std::vector<long> state = ReadList(native, netWmState_, XA_ATOM);
        return std::find(state.begin(), state.end(), static_cast<long>(stateHidden_)) !=
               state.end();
    }

    bool Iconified(Window native) { return WmState(native) == IconicState || Hidden(native); }

    // The edge of a frame drag, by the sides that moved.
    static WPARAM SizingEdge(const RECT& from, const RECT& to)
    {
        WPARAM horizontal = 0;
        if (to.left != from.left && to.right == from.right) {
            horizontal = 1;  // left
        } else if (to.right - to.left != from.right - from.left) {
            horizontal = 2;  // right
        }
        WPARAM vertical = 0;
        if (to.top != from.top && to.bottom == from.bottom) {
            vertical = 3;  // top
        } else if (to.bottom - to.top != from.bottom - from.top) {
            vertical = 6;  // bottom
        }
        return horizontal + vertical != 0 ? horizontal + vertical : WMSZ_BOTTOMRIGHT;
    }

    // The X window's client area moved or changed size: the model follows. A size the program
    // did not ask for is the user's drag of the frame, which the window may adjust (WM_SIZING).
    void Placement(HWND window, int x, int y, int width, int height, bool dragged)
    {
        RECT wanted{};
        RECT before{};
        bool sized = false;
        {
            Model& model = TheModel();
            std::lock_guard guard(model.lock);
            WindowObject* object = Find(model, window);
            if (object == nullptr || object->iconic) {
                return;
            }
            const POINT origin = ClientOrigin(model, *object);
            const bool sameSize = width == std::max(1, object->surfaceWidth) &&
                                  height == std::max(1, object->surfaceHeight);
            if (origin.x == x && origin.y == y && sameSize) {
                return;
            }
            const Margins m = FrameOf(model, *object);
            wanted = RECT{x - m.left, y - m.top, x + width + m.right, y + height + m.bottom};
            if (sameSize) {
                wanted.right = wanted.left + (object->rect.right - object->rect.left);
                wanted.bottom = wanted.top + (object->rect.bottom - object->rect.top);
            }
            before = object->rect;
            sized = !sameSize;
        }
        if (sized && dragged) {
            SendMessageW(window, WM_SIZING, SizingEdge(before, wanted),
                         reinterpret_cast<LPARAM>(&wanted));
        }
        SetWindowPos(window, nullptr, wanted.left, wanted.top, wanted.right - wanted.left,
                     wanted.bottom - wanted.top, SWP_NOZORDER | SWP_NOACTIVATE);
    }

    // The window manager's frame: the client area stays where it is, the window grows around it.
    void ReadFrameExtents(HWND window, Window native)
    {
        Atom type = None;
        int format = 0;
        unsigned long count = 0;
        unsigned long after = 0;
        unsigned char* data = nullptr;
        long extents[4] = {0, 0, 0, 0};  // left, right, top, bottom
        const bool present =
            XGetWindowProperty(display_, native, frameExtents_, 0, 4, False, XA_CARDINAL, &type,
                               &format, &count, &after, &data) == Success &&
            data != nullptr && format == 32 && count == 4;
        if (present) {
            const auto* values = reinterpret_cast<const long*>(data);
            for (int i = 0; i < 4; ++i) {
                extents[i] = std::clamp(values[i], 0L, 4096L);
            }
        }
        if (data != nullptr) {
            XFree(data);
        }
        Model& model = TheModel();
        std::lock_guard guard(model.lock);
        WindowObject* object = Find(model, window);
        if (object == nullptr) {
            return;
        }
        const POINT origin = ClientOrigin(model, *object);
        const int width = ClientWidth(model, *object);
        const int height = ClientHeight(model, *object);
        object->hasNativeFrame = present;
        const LONG frame[4] = {static_cast<LONG>(extents[0]), static_cast<LONG>(extents[2]),
                               static_cast<LONG>(extents[1]), static_cast<LONG>(extents[3])};
        std::copy(std::begin(frame), std::end(frame), object->nativeFrame);
        const Margins m = FrameOf(model, *object);
        object->rect = RECT{origin.x - m.left, origin.y - m.top, origin.x + width + m.right,
                            origin.y + height + m.bottom};
        if (!object->iconic && !object->zoomed) {
            object->normalRect = object->rect;
        }
    }

    void RereadKeys()
    {
        char pressed[32] = {};
        XQueryKeymap(display_, pressed);
        std::array<BYTE, 256> keys{};
        {
            Model& model = TheModel();
            std::lock_guard guard(model.lock);
            keys = model.keys;
        }
        for (auto& state : keys) {
            state &= 0x01;  // toggles stay
        }
        for (int code = 8; code < 256; ++code) {
            if ((pressed[code / 8] & (1 << (code % 8))) == 0) {
                continue;
            }
            const int key = VirtualKeyFromKeysym(
                XkbKeycodeToKeysym(display_, static_cast<KeyCode>(code), 0, 0));
            if (key != 0) {
                keys[key] |= 0x80;
            }
        }
        auto generic = [&](int both, int left, int right) {
            if (((keys[left] | keys[right]) & 0x80) != 0) {
                keys[both] |= 0x80;
            }
        };
        generic(VK_SHIFT, VK_LSHIFT, VK_RSHIFT);
        generic(VK_CONTROL, VK_LCONTROL, VK_RCONTROL);
        generic(VK_MENU, VK_LMENU, VK_RMENU);
        ReplaceKeyState(keys);
    }

    Display* display_;
    Window root_;
    Atom protocols_;
    Atom deleteWindow_;
    Atom netWmName_;
    Atom utf8String_;
    Atom frameExtents_;
    Atom netWmState_;
    Atom stateAbove_;
    Atom supportingWmCheck_;
    Atom stateHidden_;
    Atom wmState_;
    XIM inputMethod_ = nullptr;
    std::map<Window, XIC> contexts_;
    std::set<Window> kept_;  // asked to be kept above; under the model's lock
    std::map<unsigned int, Cursor> cursors_;
    Cursor cursor_ = 0;
    bool reported_ = false;
    std::mutex reading_;
    std::mutex lock_;  // what follows
    std::map<Window, HWND> windows_;
    std::map<DWORD, int> wakes_;
    // Per X window: the sizes asked of the server and not yet reported back, the size last asked
    // or reported, and the last iconified state seen in _NET_WM_STATE.
    std::map<Window, std::deque<std::pair<int, int>>> requested_;
    std::map<Window, std::pair<int, int>> knownSize_;
    std::set<Window> hidden_;
};

}  // namespace

Backend* OpenX11Backend(const char* name)
{
    static std::once_flag threads;
    std::call_once(threads, [] { XInitThreads(); });
    if (name == nullptr && std::getenv("DISPLAY") == nullptr) {
        return nullptr;
    }
    Display* display = XOpenDisplay(name);
    if (display == nullptr) {
        return nullptr;
    }
    if (DefaultDepth(display, DefaultScreen(display)) != 24) {
        // Pixels are handed over as 32-bit words of 24-bit colour.
        XCloseDisplay(display);
        return nullptr;
    }
    XSetErrorHandler(&IgnoreProtocolError);
    XSetIOErrorHandler(&ConnectionLost);
    XSetIOErrorExitHandler(display, &KeepRunningAfterConnectionLoss, nullptr);
    // Lives as long as the program: windows may be made until its end.
    return new X11Backend(display);
}

}  // namespace Win32Detail
