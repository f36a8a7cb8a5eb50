// The windowing model's test and host interface.

#include <atomic>
#include <cstdlib>

#include "Win32Test/Windowing.h"
#include "WindowModel.h"

using namespace Win32Detail;

namespace {

enum class Choice
{
    Undecided,
    Headless,
    Display,
};

std::atomic<Choice> chosen{Choice::Undecided};
std::mutex chooseLock;

std::u16string UsKeyboardCharacters(int key)
{
    const bool shift = (GetAsyncKeyState(VK_SHIFT) & 0x8000) != 0;
    const bool ctrl = (GetAsyncKeyState(VK_CONTROL) & 0x8000) != 0;
    const bool caps = (GetKeyState(VK_CAPITAL) & 1) != 0;
    if (key >= 'A' && key <= 'Z') {
        if (ctrl) {
            return std::u16string(1, static_cast<char16_t>(key - 'A' + 1));
        }
        return std::u16string(1, static_cast<char16_t>(shift != caps ? key : key - 'A' + 'a'));
    }
    if (key >= '0' && key <= '9' && !shift) {
        return std::u16string(1, static_cast<char16_t>(key));
    }
    switch (key) {
        case VK_SPACE:
            return u" ";
        case VK_RETURN:
            return u"\r";
        case VK_TAB:
            return u"\t";
        case VK_BACK:
            return u"\b";
        case VK_ESCAPE:
            return u"\x1b";
        default:
            return u"";
    }
}

std::vector<HWND> TopLevelWindows()
{
    Model& model = TheModel();
    std::lock_guard guard(model.lock);
    return model.zOrder;
}

}  // namespace

namespace Win32Detail {

Backend* OpenX11Backend(const char* display);

void ChooseBackend()
{
    if (chosen.load() != Choice::Undecided) {
        return;
    }
    std::lock_guard guard(chooseLock);
    if (chosen.load() != Choice::Undecided) {
        return;
    }
    const char* forced = std::getenv("QUORVEL_HEADLESS");
    if (forced == nullptr || forced[0] == 0 || forced[0] == '0') {
        if (Backend* backend = OpenX11Backend(nullptr)) {
            SetBackend(backend);
            chosen = Choice::Display;
            return;
        }
    }
    chosen = Choice::Headless;
}

}  // namespace Win32Detail

namespace Win32Test {

void UseHeadless()
{
    std::lock_guard guard(chooseLock);
    if (chosen.load() == Choice::Undecided) {
        chosen = Choice::Headless;
    }
}

bool UseDisplay(const char* name)
{
    std::lock_guard guard(chooseLock);
    if (chosen.load() == Choice::Display) {
        return true;
    }
    Backend* backend = OpenX11Backend(name);
    if (backend == nullptr) {
        return false;
    }
    SetBackend(backend);
    chosen = Choice::Display;
    return true;
}

bool UsesDisplay()
{
    return chosen.load() == Choice::Display;
}

void ResetWindowing()
{
    UseHeadless();
    Model& model = TheModel();
    for (;;) {
        HWND any = nullptr;
        {
            std::lock_guard guard(model.lock);
            for (const auto& [key, window] : model.windows) {
                if ((window->style & WS_CHILD) == 0) {
                    any = window->handle;
                    break;
                }
            }
        }
        if (any == nullptr) {
            break;
        }
        DestroyAnyThread(any);
    }
    std::lock_guard guard(model.lock);
    model.classes.clear();
    for (auto& [thread, queue] : model.queues) {
        queue->posted.clear();
        queue->input.clear();
        queue->timers.clear();
        queue->deliveries.clear();
        queue->quit = false;
        queue->keys = {};
        queue->lastCharacters.clear();
        queue->last = MSG{};
    }
    model.capture = nullptr;
    model.focus = nullptr;
    model.active = nullptr;
    model.keys = {};
    model.cursorPosition = POINT{0, 0};
    model.cursor = nullptr;
    model.screen = RECT{0, 0, 1920, 1080};
    model.workArea = model.screen;
    model.frame = Margins{0, 0, 0, 0};
    model.clickWindow = nullptr;
    model.clickWasDouble = false;
    model.logAll = false;
    model.allLog.clear();
}

void MovePointer(int x, int y)
{
    InputMouseMove(POINT{x, y});
}

void PressButton(Button button, int x, int y)
{
    InputMouseButton(static_cast<int>(button), true, POINT{x, y});
}

void ReleaseButton(Button button, int x, int y)
{
    InputMouseButton(static_cast<int>(button), false, POINT{x, y});
}

void Wheel(int delta, int x, int y)
{
    InputWheel(delta, false, POINT{x, y});
}

void HorizontalWheel(int delta, int x, int y)
{
    InputWheel(delta, true, POINT{x, y});
}

void PressKey(int virtualKey)
{
    // The characters follow the modifiers as they are before this key goes down.
    PressKey(virtualKey, UsKeyboardCharacters(virtualKey));
}

void PressKey(int virtualKey, const std::u16string& characters)
{
    InputKey(virtualKey, true, 0, characters);
}

void ReleaseKey(int virtualKey)
{
    InputKey(virtualKey, false, 0, u"");
}

void ClickCloseBox(HWND window)
{
    PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
}

void DragFrame(HWND window, int width, int height)
{
    RECT proposed{};
    if (!GetWindowRect(window, &proposed)) {
        return;
    }
    proposed.right = proposed.left + width;
    proposed.bottom = proposed.top + height;
    SendMessageW(window, WM_SIZING, WMSZ_BOTTOMRIGHT, reinterpret_cast<LPARAM>(&proposed));
    SetWindowPos(window, nullptr, 0, 0, proposed.right - proposed.left,
                 proposed.bottom - proposed.top, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void MoveFrame(HWND window, int x, int y)
{
    SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Minimise(HWND window)
{
    SendMessageW(window, WM_SYSCOMMAND, SC_MINIMIZE, 0);
}

void Restore(HWND window)
{
    SendMessageW(window, WM_SYSCOMMAND, SC_RESTORE, 0);
}

void Uncover(HWND window, const RECT& client)
{
    InvalidateRect(window, &client, TRUE);
}

void ChangeDisplay(int width, int height)
{
    {
        Model& model = TheModel();
        std::lock_guard guard(model.lock);
        model.screen = RECT{0, 0, width, height};
        model.workArea = model.screen;
    }
    for (HWND window : TopLevelWindows()) {
        SendMessageW(window, WM_DISPLAYCHANGE, 32, MAKELPARAM(width, height));
    }
}

void PowerEvent(WPARAM event, LPARAM data)
{
    for (HWND window : TopLevelWindows()) {
        SendMessageW(window, WM_POWERBROADCAST, event, data);
    }
}

void LoseActivation()
{
    DeactivateAll(true);
}

void SetScreen(const RECT& screen, const RECT& workArea)
{
    Model& model = TheModel();
    std::lock_guard guard(model.lock);
    model.screen = screen;
    model.workArea = workArea;
}

void SetFrameMargins(LONG left, LONG top, LONG right, LONG bottom)
{
    Model& model = TheModel();
    std::lock_guard guard(model.lock);
    model.frame = Margins{left, top, right, bottom};
    for (auto& [key, window] : model.windows) {
        FollowClientSize(model, *window);
    }
}

void StartMessageLog(HWND window)
{
    Model& model = TheModel();
    std::lock_guard guard(model.lock);
    if (window == nullptr) {
        model.logAll = true;
        model.allLog.clear();
    } else if (WindowObject* object = Find(model, window)) {
        object->logging = true;
        object->log.clear();
    }
}

void StopMessageLogs()
{
    Model& model = TheModel();
    std::lock_guard guard(model.lock);
    model.logAll = false;
    model.allLog.clear();
    for (auto& [key, window] : model.windows) {
        window->logging = false;
        window->log.clear();
    }
}

std::vector<Message> TakeMessages(HWND window)
{
    Model& model = TheModel();
    std::lock_guard guard(model.lock);
    std::vector<Message> out;
    if (window == nullptr) {
        for (const auto& [handle, m] : model.allLog) {
            out.push_back(Message{handle, m.message, m.wParam, m.lParam, m.sent});
        }
        model.allLog.clear();
    } else if (WindowObject* object = Find(model, window)) {
        for (const LoggedMessage& m : object->log) {
            out.push_back(Message{window, m.message, m.wParam, m.lParam, m.sent});
        }
        object->log.clear();
    }
    return out;
}

HCURSOR GetShownCursor()
{
    return GetCursor();
}

std::u16string GetTitle(HWND window)
{
    Model& model = TheModel();
    std::lock_guard guard(model.lock);
    const WindowObject* object = Find(model, window);
    return object != nullptr ? object->title : std::u16string();
}

uintptr_t GetNativeWindow(HWND window)
{
    Model& model = TheModel();
    std::lock_guard guard(model.lock);
    const WindowObject* object = Find(model, window);
    return object != nullptr ? object->native : 0;
}

}  // namespace Win32Test
