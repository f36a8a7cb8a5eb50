#pragma once
// IWindowOSServices: everything a root window asks of the window that hosts it. The host window
// implements it; the operations keep their order. Rectangles are {x, y, width, height} in int32,
// points {x, y}.

#include <cstdint>

#include "ObjectBase/OrvResult.h"
#include "Utilities/Graphics/Geometry.h"
#include "Utilities/Storage/StringT.h"
#include "win32/Window.h"

namespace Orv {

class IWindowOSServices
{
public:
    /* 0 */ virtual ORVRESULT SetTitle(const WideString& text) = 0;
    // The whole client area will be repainted.
    /* 1 */ virtual ORVRESULT InvalidateAll() = 0;
    // That area will be repainted: a paint call follows.
    /* 2 */ virtual ORVRESULT InvalidateRect(const RectL& rect) = 0;
    // Origin 0, 0.
    /* 3 */ virtual ORVRESULT GetClientRect(RectL& rect) = 0;
    /* 4 */ virtual ORVRESULT ScreenToClient(PointL& client, const PointL& screen) = 0;
    /* 5 */ virtual ORVRESULT ClientToScreen(PointL& screen, const PointL& client) = 0;
    // Moves and sizes the window so that its client area gets the rectangle.
    /* 6 */ virtual ORVRESULT SetClientRect(const RectL& rect) = 0;
    /* 7 */ virtual bool Show(int32_t showCommand) = 0;
    // Repaints the invalid areas at once.
    /* 8 */ virtual ORVRESULT UpdateNow() = 0;
    /* 9 */ virtual ORVRESULT BringToTop() = 0;
    /* 10 */ virtual ORVRESULT SetTopmost(bool topmost) = 0;
    // Ends a modal run with the result, or closes a modeless window.
    /* 11 */ virtual ORVRESULT EndModal(int32_t result) = 0;
    /* 12 */ virtual int32_t RunModal() = 0;
    /* 13 */ virtual bool IsModal() = 0;
    /* 14 */ virtual bool IsActive() = 0;
    /* 15 */ virtual bool HasFocus() = 0;
    /* 16 */ virtual ORVRESULT SetFocus() = 0;
    // The previous cursor.
    /* 17 */ virtual HCURSOR SetCursor(HCURSOR cursor) = 0;
    // Client coordinates.
    /* 18 */ virtual ORVRESULT GetCursorPosition(PointL& point) = 0;
    // 1 left, 2 middle, 4 right.
    /* 19 */ virtual int32_t GetMouseButtons() = 0;
    /* 20 */ virtual HWND GetNativeHandle() = 0;
    // A text-entry control gained or lost the focus.
    /* 21 */ virtual ORVRESULT SetTextInputActive(bool active, void* controlData) = 0;

protected:
    ~IWindowOSServices() = default;
};

}  // namespace Orv
