// The message queue of each thread: posting, sending, taking, dispatching; timers.

#include <algorithm>
#include <chrono>

#include "WindowModel.h"
#include "win32/LastError.h"
#include "win32/Sleep.h"

using namespace Win32Detail;

namespace {

constexpr UINT kMinimumTimer = 10;  // ms
#define THREAD_ONLY (reinterpret_cast<HWND>(static_cast<LONG_PTR>(-1)))

bool InRange(UINT message, UINT low, UINT high)
{
    return (low == 0 && high == 0) || (message >= low && message <= high);
}

bool ForWindow(HWND filter, HWND window)
{
    if (filter == THREAD_ONLY) {
        return window == nullptr;
    }
    return filter == nullptr || filter == window;
}

bool IsButtonDown(UINT message)
{
    return message == WM_LBUTTONDOWN || message == WM_LBUTTONDBLCLK || message == WM_RBUTTONDOWN ||
           message == WM_RBUTTONDBLCLK || message == WM_MBUTTONDOWN || message == WM_MBUTTONDBLCLK;
}

struct Taken
{
    MSG message{};
    bool input = false;
};

// Lock held: the next message in Win32's order, or false.
bool Take(Model& model, ThreadQueue& queue, HWND filter, UINT low, UINT high, bool remove,
          Taken* out)
{
    for (auto it = queue.posted.begin(); it != queue.posted.end(); ++it) {
        if (ForWindow(filter, it->hwnd) && InRange(it->message, low, high)) {
            out->message = *it;
            if (remove) {
                queue.posted.erase(it);
            }
            return true;
        }
    }
    for (auto it = queue.input.begin(); it != queue.input.end(); ++it) {
        if (ForWindow(filter, it->message.hwnd) && InRange(it->message.message, low, high)) {
            out->message = it->message;
            out->input = true;
            if (remove) {
                queue.keys = it->keys;
                queue.lastCharacters = std::move(it->characters);
                queue.input.erase(it);
            }
            return true;
        }
    }
    const auto now = static_cast<DWORD>(Now());
    if (queue.quit) {
        out->message = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(queue.quitCode),
                           0,       now,     model.cursorPosition};
        if (remove) {
            queue.quit = false;
        }
        return true;
    }
    if (InRange(WM_PAINT, low, high)) {
        for (const auto& [key, window] : model.windows) {
            if (window->thread == queue.thread && !window->update.Empty() &&
                ForWindow(filter, window->handle) && IsShownOnScreen(model, *window)) {
                out->message = MSG{window->handle, WM_PAINT, 0, 0, now, model.cursorPosition};
                return true;
            }
        }
    }
    if (InRange(WM_TIMER, low, high)) {
        Timer* due = nullptr;
        for (Timer& timer : queue.timers) {
            if (timer.due <= Now() && ForWindow(filter, timer.window) &&
                (due == nullptr || timer.due < due->due)) {
                due = &timer;
            }
        }
        if (due != nullptr) {
            out->message = MSG{due->window, WM_TIMER,
                               due->id,     reinterpret_cast<LPARAM>(due->procedure),
                               now,         model.cursorPosition};
            if (remove) {
                // However late, one message: the next is a whole period away.
                due->due = Now() + due->period;
            }
            return true;
        }
    }
    return false;
}

// The earliest due time of the thread's timers that the filter lets through, or 0 for none.
uint64_t NextDue(ThreadQueue& queue, HWND filter)
{
    uint64_t next = 0;
    for (const Timer& timer : queue.timers) {
        if (ForWindow(filter, timer.window) && (next == 0 || timer.due < next)) {
            next = timer.due;
        }
    }
    return next;
}

// What happens as an input message is taken, before it is handed out: a press activates its
// window, and the pointer's window sets the cursor. False when the window did not survive it.
bool PrepareInput(const MSG& message)
{
    HWND window = message.hwnd;
    if (IsButtonDown(message.message)) {
        HWND top = GetAncestor(window, GA_ROOT);
        if (top != nullptr && GetActiveWindow() != top) {
            Activate(top, WA_CLICKACTIVE);
        }
    }
    if (message.message >= WM_MOUSEFIRST && message.message <= WM_MBUTTONDBLCLK &&
        GetCapture() == nullptr && IsWindow(window)) {
        SendMessageW(window, WM_SETCURSOR, reinterpret_cast<WPARAM>(window),
                     MAKELPARAM(HTCLIENT, message.message));
    }
    return IsWindow(window) != FALSE;
}

BOOL TakeMessage(MSG* message, HWND filter, UINT low, UINT high, UINT remove, bool wait)
{
    if (message == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    Model& model = TheModel();
    const DWORD self = GetCurrentThreadId();
    for (;;) {
        Backend* backend = nullptr;
        {
            std::lock_guard guard(model.lock);
            backend = model.backend;
        }
        if (backend != nullptr) {
            backend->Pump(0);
        }
        RunDeliveries();
        Taken taken;
        bool found = false;
        uint64_t next = 0;
        {
            std::unique_lock guard(model.lock);
            ThreadQueue& queue = QueueOf(model, self);
            found = Take(model, queue, filter, low, high, (remove & PM_REMOVE) != 0, &taken);
            if (found) {
                if ((remove & PM_REMOVE) != 0) {
                    queue.last = taken.message;
                }
            } else if (!wait) {
                return FALSE;
            } else {
                next = NextDue(queue, filter);
                if (!queue.deliveries.empty()) {
                    continue;
                }
                if (backend == nullptr && !(IsVirtualClock() && next != 0)) {
                    // Until another thread posts, or the next timer on the wall clock.
                    if (next == 0) {
                        queue.wake.wait(guard);
                    } else if (const uint64_t now = Now(); next > now) {
                        queue.wake.wait_for(guard, std::chrono::milliseconds(next - now));
                    }
                    continue;
                }
            }
        }
        if (!found) {
            const uint64_t now = Now();
            if (IsVirtualClock() && next != 0) {
                // Nothing to deliver: the virtual clock moves on to the next timer.
                Sleep(next > now ? static_cast<DWORD>(next - now) : 0);
            } else {
                backend->Pump(next == 0 ? -1 : static_cast<int>(next > now ? next - now : 0));
            }
            continue;
        }
        if (taken.input && (remove & PM_REMOVE) != 0 && !PrepareInput(taken.message)) {
            continue;
        }
        *message = taken.message;
        return wait && message->message == WM_QUIT ? FALSE : TRUE;
    }
}

}  // namespace

BOOL WINAPI PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    Model& model = TheModel();
    std::lock_guard guard(model.lock);
    DWORD thread = GetCurrentThreadId();
    if (window != nullptr) {
        const WindowObject* object = Find(model, window);
        if (object == nullptr) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        thread = object->thread;
    }
    POINT point = model.cursorPosition;
    QueueOf(model, thread)
        .posted.push_back(MSG{window, message, wParam, lParam, static_cast<DWORD>(Now()), point});
    WakeThread(model, thread);
    return TRUE;
}

BOOL WINAPI PostThreadMessageW(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam)
{
    Model& model = TheModel();
    std::lock_guard guard(model.lock);
    auto it = model.queues.find(threadId);
    if (it == model.queues.end()) {
        SetLastError(ERROR_INVALID_THREAD_ID);
        return FALSE;
    }
    it->second->posted.push_back(
        MSG{nullptr, message, wParam, lParam, static_cast<DWORD>(Now()), model.cursorPosition});
    WakeThread(model, threadId);
    return TRUE;
}

LRESULT WINAPI SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    {
        Model& model = TheModel();
        std::lock_guard guard(model.lock);
        const WindowObject* object = Find(model, window);
        if (object == nullptr) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
        if (object->thread != GetCurrentThreadId()) {
            // Nothing here sends across threads; waiting on another thread's loop is not offered.
            SetLastError(ERROR_NOT_SUPPORTED);
            return 0;
        }
    }
    return CallProcedure(window, message, wParam, lParam, true);
}

BOOL WINAPI GetMessageW(MSG* message, HWND window, UINT filterMin, UINT filterMax)
{
    return TakeMessage(message, window, filterMin, filterMax, PM_REMOVE, true);
}

BOOL WINAPI PeekMessageW(MSG* message, HWND window, UINT filterMin, UINT filterMax, UINT remove)
{
    return TakeMessage(message, window, filterMin, filterMax, remove, false);
}

BOOL WINAPI TranslateMessage(const MSG* message)
{
    if (message == nullptr ||
        (message->message != WM_KEYDOWN && message->message != WM_SYSKEYDOWN)) {
        return FALSE;
    }
    Model& model = TheModel();
    std::lock_guard guard(model.lock);
    ThreadQueue& queue = QueueOf(model, GetCurrentThreadId());
    const MSG& last = queue.last;
    if (last.hwnd != message->hwnd || last.message != message->message ||
        last.lParam != message->lParam || queue.lastCharacters.empty()) {
        return FALSE;
    }
    const UINT kind = message->message == WM_KEYDOWN ? WM_CHAR : WM_SYSCHAR;
    // Ahead of everything else, in their order: a surrogate pair as two messages.
    for (auto it = queue.lastCharacters.rbegin(); it != queue.lastCharacters.rend(); ++it) {
        queue.posted.push_front(MSG{message->hwnd, kind, static_cast<WPARAM>(*it), message->lParam,
                                    message->time, message->pt});
    }
    queue.lastCharacters.clear();
    return TRUE;
}

LRESULT WINAPI DispatchMessageW(const MSG* message)
{
    if (message == nullptr) {
        return 0;
    }
    if (message->message == WM_TIMER && message->lParam != 0) {
        reinterpret_cast<TIMERPROC>(message->lParam)(message->hwnd, WM_TIMER, message->wParam,
                                                     message->time);
        return 0;
    }
    if (message->hwnd == nullptr) {
        return 0;
    }
    {
        Model& model = TheModel();
        std::lock_guard guard(model.lock);
        const WindowObject* object = Find(model, message->hwnd);
        if (object == nullptr || object->thread != GetCurrentThreadId()) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
    }
    return CallProcedure(message->hwnd, message->message, message->wParam, message->lParam, false);
}

LRESULT WINAPI DefWindowProcW(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
        case WM_NCCREATE:
        case WM_NCACTIVATE:
            return TRUE;
        case WM_CLOSE:
            DestroyWindow(window);
            return 0;
        case WM_SYSCOMMAND:
            switch (wParam & 0xFFF0) {
                case SC_CLOSE:
                    SendMessageW(window, WM_CLOSE, 0, 0);
                    break;
                case SC_MINIMIZE:
                    ShowWindow(window, SW_MINIMIZE);
                    break;
                case SC_MAXIMIZE:
                    ShowWindow(window, SW_MAXIMIZE);
                    break;
                case SC_RESTORE:
                    ShowWindow(window, SW_RESTORE);
                    break;
                default:
                    break;
            }
            return 0;
        case WM_SYSKEYDOWN:
            // Alt+F4 closes.
            if (wParam == 0x73 && (lParam & (1 << 29)) != 0) {
                PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
            }
            return 0;
        case WM_PAINT:
            ValidateRect(window, nullptr);
            return 0;
        case WM_SETCURSOR:
            if (LOWORD(lParam) == HTCLIENT) {
                if (const auto cursor =
                        reinterpret_cast<HCURSOR>(GetClassLongPtrW(window, GCL_HCURSOR))) {
                    SetCursor(cursor);
                    return TRUE;
                }
            }
            return FALSE;
        case WM_MOUSEACTIVATE:
            return 1;  // MA_ACTIVATE
        case WM_ACTIVATE:
            if (LOWORD(wParam) != WA_INACTIVE && HIWORD(wParam) == 0) {
                const HWND focus = GetFocus();
                if (focus == nullptr || (focus != window && !IsChild(window, focus))) {
                    SetFocus(window);
                }
            }
            return 0;
        case WM_SETTEXT:
            return SetWindowTextW(window, reinterpret_cast<LPCWSTR>(lParam));
        default:
            return 0;
    }
}

void WINAPI PostQuitMessage(int exitCode)
{
    Model& model = TheModel();
    std::lock_guard guard(model.lock);
    ThreadQueue& queue = QueueOf(model, GetCurrentThreadId());
    queue.quit = true;
    queue.quitCode = exitCode;
}

LONG WINAPI GetMessageTime()
{
    Model& model = TheModel();
    std::lock_guard guard(model.lock);
    return static_cast<LONG>(QueueOf(model, GetCurrentThreadId()).last.time);
}

DWORD WINAPI GetMessagePos()
{
    Model& model = TheModel();
    std::lock_guard guard(model.lock);
    const POINT pt = QueueOf(model, GetCurrentThreadId()).last.pt;
    return static_cast<DWORD>(MAKELONG(pt.x, pt.y));
}

DWORD WINAPI GetQueueStatus(UINT)
{
    MSG message;
    return PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE) ? 1 : 0;
}

UINT_PTR WINAPI SetTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC procedure)
{
    Model& model = TheModel();
    std::lock_guard guard(model.lock);
    DWORD thread = GetCurrentThreadId();
    if (window != nullptr) {
        const WindowObject* object = Find(model, window);
        if (object == nullptr || object->thread != thread) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
    }
    ThreadQueue& queue = QueueOf(model, thread);
    const UINT period = std::clamp<UINT>(elapse, kMinimumTimer, 0x7FFFFFFF);
    if (window == nullptr) {
        const bool existing =
            std::any_of(queue.timers.begin(), queue.timers.end(),
                        [&](const Timer& t) { return t.window == nullptr && t.id == id; });
        if (!existing) {
            id = queue.nextThreadTimer++;
        }
    }
    std::erase_if(queue.timers, [&](const Timer& t) { return t.window == window && t.id == id; });
    queue.timers.push_back(Timer{window, id, period, Now() + period, procedure});
    WakeThread(model, thread);
    return id != 0 ? id : 1;
}

BOOL WINAPI KillTimer(HWND window, UINT_PTR id)
{
    Model& model = TheModel();
    std::lock_guard guard(model.lock);
    ThreadQueue& queue = QueueOf(model, GetCurrentThreadId());
    const size_t removed = std::erase_if(
        queue.timers, [&](const Timer& t) { return t.window == window && t.id == id; });
    return removed != 0 ? TRUE : FALSE;
}
