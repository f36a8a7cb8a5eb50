#pragma once
// A host window that records what the root window asks of it, an application whose platform
// answers tests set, and a control that records the input it gets and hit-tests to a chosen
// control.

#include <climits>
#include <string>
#include <utility>
#include <vector>

#include "Application/FrameworkApp.h"
#include "ControlBase/Control.h"
#include "ControlBase/InputPayloads.h"
#include "ControlBase/RootWindow.h"
#include "ControlBase/WindowOSServices.h"
#include "ControlTestSupport.h"

namespace RootWindowTest {

using Orv::LControl;
using Orv::PointL;
using Orv::RCPtr;
using Orv::RectL;

class RecordingServices : public Orv::IWindowOSServices
{
public:
    Orv::ORVRESULT SetTitle(const Orv::WideString&) override { return Log("SetTitle"); }
    Orv::ORVRESULT InvalidateAll() override { return Log("InvalidateAll"); }
    Orv::ORVRESULT InvalidateRect(const RectL& rect) override
    {
        invalidated.push_back(rect);
        return Log("InvalidateRect");
    }
    Orv::ORVRESULT GetClientRect(RectL& rect) override
    {
        rect = RectL{0, 0, client.x, client.y};
        return S_OK;
    }
    Orv::ORVRESULT ScreenToClient(PointL& out, const PointL& screen) override
    {
        out = PointL{screen.x - origin.x, screen.y - origin.y};
        return S_OK;
    }
    Orv::ORVRESULT ClientToScreen(PointL& out, const PointL& point) override
    {
        out = PointL{point.x + origin.x, point.y + origin.y};
        return S_OK;
    }
    Orv::ORVRESULT SetClientRect(const RectL&) override { return Log("SetClientRect"); }
    bool Show(int32_t) override { return true; }
    Orv::ORVRESULT UpdateNow() override { return Log("UpdateNow"); }
    Orv::ORVRESULT BringToTop() override { return Log("BringToTop"); }
    Orv::ORVRESULT SetTopmost(bool) override { return Log("SetTopmost"); }
    Orv::ORVRESULT EndModal(int32_t result) override
    {
        endModalResults.push_back(result);
        return Log("EndModal");
    }
    int32_t RunModal() override { return 0; }
    bool IsModal() override { return modal; }
    bool IsActive() override { return active; }
    bool HasFocus() override { return focused; }
    Orv::ORVRESULT SetFocus() override { return Log("SetFocus"); }
    HCURSOR SetCursor(HCURSOR next) override
    {
        HCURSOR previous = cursor;
        cursor = next;
        return previous;
    }
    Orv::ORVRESULT GetCursorPosition(PointL& point) override
    {
        point = pointer;
        return S_OK;
    }
    int32_t GetMouseButtons() override { return buttons; }
    HWND GetNativeHandle() override { return nullptr; }
    Orv::ORVRESULT SetTextInputActive(bool active, void* data) override
    {
        textInput.push_back({active, data});
        return Log("SetTextInputActive");
    }

    int Count(const std::string& call) const
    {
        int count = 0;
        for (const std::string& entry : calls) {
            count += entry == call ? 1 : 0;
        }
        return count;
    }

    std::vector<std::string> calls;
    std::vector<RectL> invalidated;
    std::vector<int32_t> endModalResults;
    std::vector<std::pair<bool, void*>> textInput;  // SetTextInputActive's arguments
    PointL client{1024, 768};
    PointL origin{100, 50};
    PointL pointer{0, 0};
    HCURSOR cursor = nullptr;
    int32_t buttons = 0;
    bool active = true;
    bool modal = false;
    bool focused = true;

private:
    Orv::ORVRESULT Log(const char* call)
    {
        calls.emplace_back(call);
        return S_OK;
    }
};

// Records the input it receives as "name:call"; HitTest answers hitTarget for every point.
class InputProbe : public LControl
{
public:
    InputProbe(const RCPtr<LControl>& parent, const char16_t* name, std::vector<std::string>* log)
        : LControl(parent, name), log(log)
    {
    }

    RCPtr<LControl>& HitTest(RCPtr<LControl>& result, const PointL& point, bool, PointL& localPoint,
                             int32_t&) override
    {
        result = hitTarget;
        localPoint = point;
        return result;
    }
    Orv::ORVRESULT OnMouseEnter() override { return Log("enter"); }
    Orv::ORVRESULT OnMouseLeave() override { return Log("leave"); }
    Orv::ORVRESULT OnMouseMove(const RCPtr<Orv::LPointWithModifiersParam>& point) override
    {
        lastPointerIndex = point->pointerIndex;
        return Log("move " + std::to_string(point->x) + "," + std::to_string(point->y));
    }
    Orv::ORVRESULT OnMouseDown(const RCPtr<Orv::LMouseButtonParam>& button) override
    {
        lastDoubleClick = button->doubleClick;
        lastPointerIndex = button->pointerIndex;
        Log("down " + std::to_string(button->button));
        if (onDown) {
            onDown(*this);
        }
        return S_OK;
    }
    Orv::ORVRESULT OnMouseUp(const RCPtr<Orv::LMouseButtonParam>& button) override
    {
        lastDoubleClick = button->doubleClick;
        return Log("up " + std::to_string(button->button));
    }
    Orv::ORVRESULT OnMouseWheel(const RCPtr<Orv::LMouseWheelParam>&) override
    {
        Log("wheel");
        return wheelAnswer;
    }
    Orv::ORVRESULT OnCaptureLost() override { return Log("capture lost"); }
    void OnKey(const RCPtr<Orv::LKeyParam>&) override { Log("key"); }
    Orv::ORVRESULT SetFocus(bool first) override
    {
        return Log(first ? "focus first" : "focus last");
    }
    Orv::ORVRESULT ReleaseFocus() override { return Log("release focus"); }
    Orv::ORVRESULT ShowToolTip(bool show) override { return Log(show ? "tip on" : "tip off"); }
    const Orv::WideString& GetToolTipText() const override { return tip; }

    RCPtr<LControl> hitTarget;
    Orv::ORVRESULT wheelAnswer = S_OK;
    int32_t lastDoubleClick = -1;
    int32_t lastPointerIndex = -100;
    Orv::WideString tip;
    void (*onDown)(InputProbe&) = nullptr;

private:
    Orv::ORVRESULT Log(const std::string& call)
    {
        if (log != nullptr) {
            log->push_back(ControlTest::Narrow(GetName()) + ":" + call);
        }
        return S_OK;
    }
    std::vector<std::string>* log;
};

// The platform answers of an application, set by the test.
class TestApp : public Orv::LFrameworkApp
{
public:
    Orv::ORVRESULT GetKeyState(int32_t key, bool& down, bool& toggled) override
    {
        down = key == shiftKey ? shiftDown : false;
        toggled = false;
        return S_OK;
    }
    PointL GetSystemCursorPos() override { return systemPointer; }
    int32_t GetSystemMouseButtons() override { return systemButtons; }

    int32_t shiftKey = 0x10;
    bool shiftDown = false;
    PointL systemPointer{0, 0};
    int32_t systemButtons = 0;
};

// A root window with a public constructor for tests that need no self link.
inline RCPtr<Orv::LRootWindow> MakeWindow(const RCPtr<Orv::LRenderer>& renderer,
                                          Orv::IWindowOSServices* services)
{
    return Orv::LRootWindow::Create(renderer, services);
}

}  // namespace RootWindowTest
