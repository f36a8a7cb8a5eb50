#pragma once
// The one model of windows behind both back ends: windows, classes, one queue per thread, update
// regions, timers and the input state. Guarded by one lock, which is never held while a window
// procedure runs.

#include <array>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "win32/Input.h"
#include "win32/Messages.h"
#include "win32/Window.h"

// A device context: of a window's client area, or of the screen (null window).
struct HDC__
{
    HWND window;
};

namespace Win32Detail {

// A set of pixels as disjoint rectangles.
class Region
{
public:
    bool Empty() const { return rects_.empty(); }
    void Add(const RECT& rect);
    void Subtract(const RECT& rect);
    void Clip(const RECT& bounds);
    void Clear() { rects_.clear(); }
    RECT Bounds() const;

private:
    std::vector<RECT> rects_;
};

bool IsEmptyRect(const RECT& rect);
RECT Intersect(const RECT& a, const RECT& b);

struct WindowClass
{
    std::u16string name;
    std::u16string folded;  // for lookups, without regard to case
    UINT style;
    WNDPROC procedure;
    HINSTANCE instance;
    HCURSOR cursor;
    HICON icon;
    HBRUSH background;
    ATOM atom;
};

struct LoggedMessage
{
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    bool sent;  // by SendMessageW or the system; false: taken from the queue and dispatched
};

struct WindowObject
{
    HWND handle;
    DWORD thread;
    std::shared_ptr<WindowClass> windowClass;
    WNDPROC procedure;
    DWORD style;
    DWORD exStyle;
    HWND parent;  // WS_CHILD windows
    HWND owner;   // other windows
    LONG_PTR id = 0;
    LONG_PTR userData = 0;
    HINSTANCE instance;
    RECT rect;        // the window: screen coordinates, or the parent's client coordinates
    RECT normalRect;  // the same while neither minimised nor maximised
    bool visible = false;
    bool iconic = false;
    bool zoomed = false;
    std::u16string title;
    // Shared with the drawing layers, which may outlive the window.
    std::shared_ptr<std::vector<uint32_t>> pixels = std::make_shared<std::vector<uint32_t>>();
    int surfaceWidth = 0;
    int surfaceHeight = 0;
    int openDeviceContexts = 0;
    Region update;  // client coordinates
    bool destroying = false;
    bool logging = false;
    std::vector<LoggedMessage> log;
    uintptr_t native = 0;  // the back end's window
    // The frame a window manager reports around the back end's window, when it does.
    bool hasNativeFrame = false;
    LONG nativeFrame[4] = {0, 0, 0, 0};  // left, top, right, bottom
};

// An input message as it waits in a queue, with the key state that it leaves behind when taken.
struct QueuedInput
{
    MSG message;
    std::array<BYTE, 256> keys;
    std::u16string characters;  // what a key-down makes, for TranslateMessage
};

struct Timer
{
    HWND window;
    UINT_PTR id;
    UINT period;   // ms
    uint64_t due;  // ms of the Win32 clock
    TIMERPROC procedure;
};

struct ThreadQueue
{
    DWORD thread;
    std::deque<MSG> posted;
    std::deque<QueuedInput> input;
    bool quit = false;
    int quitCode = 0;
    std::condition_variable wake;
    std::array<BYTE, 256> keys{};  // as of the last message taken
    std::u16string lastCharacters;
    MSG last{};
    std::vector<Timer> timers;
    UINT_PTR nextThreadTimer = 1;
    // The system's work for this thread's windows that came in on another thread (a back end's
    // events): run in order by this thread's next look at its queue, as sent messages are.
    std::deque<std::function<void()>> deliveries;
};

struct Margins
{
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};

// What a back end that shows windows does when the model changes. Called with the model's lock
// held: a back end never calls into the model from these.
class Backend
{
public:
    virtual ~Backend() = default;
    virtual void Created(WindowObject& window) = 0;
    virtual void Destroyed(WindowObject& window) = 0;
    virtual void Shown(WindowObject& window) = 0;
    virtual void Placed(WindowObject& window) = 0;
    virtual void Titled(WindowObject& window) = 0;
    virtual void Activated(WindowObject& window) = 0;
    virtual void CaptureChanged(HWND window, uintptr_t native) = 0;
    virtual void CursorChanged(HCURSOR cursor) = 0;
    virtual void WarpPointer(POINT screen) = 0;
    // The window's pixels to the screen.
    virtual void Present(WindowObject& window) = 0;
    // Without the model's lock, on a thread waiting for messages: reads the back end's events
    // into the model, then waits at most timeoutMs (-1: until woken) for more.
    virtual void Pump(int timeoutMs) = 0;
    // Ends the wait of that thread in Pump, or its next one. Lock of the model held.
    virtual void Wake(DWORD thread) = 0;
};

struct Model
{
    std::mutex lock;
    std::map<uintptr_t, std::unique_ptr<WindowObject>> windows;  // in creation order
    uintptr_t nextHandle = 0x10000;
    std::vector<std::shared_ptr<WindowClass>> classes;
    ATOM nextAtom = 0xC000;
    std::map<DWORD, std::unique_ptr<ThreadQueue>> queues;
    std::vector<HWND> zOrder;  // top-level windows, front first
    HWND capture = nullptr;
    HWND focus = nullptr;
    HWND active = nullptr;
    std::array<BYTE, 256> keys{};  // as of now
    POINT cursorPosition{};
    HCURSOR cursor = nullptr;
    // Every window's messages in one log, for the order across windows.
    bool logAll = false;
    std::vector<std::pair<HWND, LoggedMessage>> allLog;
    RECT screen{0, 0, 1920, 1080};
    RECT workArea{0, 0, 1920, 1080};
    Margins frame{0, 0, 0, 0};
    std::set<HDC> deviceContexts;
    // The last press, for double clicks.
    HWND clickWindow = nullptr;
    UINT clickButton = 0;
    DWORD clickTime = 0;
    POINT clickPoint{};
    bool clickWasDouble = false;
    Backend* backend = nullptr;
};

Model& TheModel();
// By name (without regard to case) or atom; null when not registered. Lock held.
std::shared_ptr<WindowClass> LookUpClass(Model& model, LPCWSTR name);
// Null for no window or a destroyed one. Lock held.
WindowObject* Find(Model& model, HWND window);
// Lock held; made at the first use.
ThreadQueue& QueueOf(Model& model, DWORD thread);
uint64_t Now();
// Whether the Win32 clock is the tests' virtual clock (win32/Sleep.cpp).
bool IsVirtualClock();
HWND DesktopHandle();

// Lock held.
bool HasFrame(const WindowObject& window);
// The frame around the client area: the window manager's when it reports one, else the
// screen's margins for a window with a caption or sizing frame.
Margins FrameOf(Model& model, const WindowObject& window);
POINT ClientOrigin(Model& model, const WindowObject& window);  // screen
RECT WindowRectOnScreen(Model& model, const WindowObject& window);
int ClientWidth(Model& model, const WindowObject& window);
int ClientHeight(Model& model, const WindowObject& window);
HWND TopLevelOf(Model& model, HWND window);
bool IsShownOnScreen(Model& model, const WindowObject& window);
// Makes the pixel surface follow the client size, keeping what overlaps.
void FollowClientSize(Model& model, WindowObject& window);
// Wakes the thread waiting for messages.
void WakeThread(Model& model, DWORD thread);
// Runs `work` on the thread of the window, when it next looks at its queue (also when that is
// this thread: the caller may hold what the work must not run under). Dropped without the window.
void DeliverToOwner(HWND window, std::function<void()> work);
// The calling thread's deliveries, in order, each without the lock.
void RunDeliveries();

// Calls the window procedure without the lock, recording the call when the window's log is on.
LRESULT CallProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam, bool sent);
// SendMessageW for the system's own messages.
LRESULT SystemSend(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The input state's transitions, each sending its messages.
void Activate(HWND window, WORD how);
// toOtherProgram: WM_ACTIVATEAPP too, as when another program takes the activation.
void DeactivateAll(bool toOtherProgram = false);
void DestroyInputState(HWND window);

// Input as a back end delivers it: into the queue of the window it reaches.
void InputMouseMove(POINT screen);
void InputMouseButton(int button, bool down, POINT screen);  // 0 left, 1 right, 2 middle
void InputWheel(int delta, bool horizontal, POINT screen);
void InputKey(int virtualKey, bool down, WORD scanCode, const std::u16string& characters);
// Key state from outside (a display that had another program's input meanwhile).
void ReplaceKeyState(const std::array<BYTE, 256>& keys);

void SetBackend(Backend* backend);
// Chooses the back end at the first window: the X display unless headless is asked for.
void ChooseBackend();
// The deepest window under a screen point. Lock held.
HWND WindowAtLocked(Model& model, POINT point);

// Destroys the window whatever thread asks (the test interface's windows).
bool DestroyAnyThread(HWND window);
// Adds the client rectangle (or the whole client area for null) to the update region. Lock held.
void InvalidateLocked(Model& model, WindowObject& window, const RECT* rect);

}  // namespace Win32Detail
