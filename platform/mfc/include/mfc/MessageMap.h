#pragma once
// Message maps: per class a table of messages and handlers, chained to the base class's table.
// Each entry names how its handler's arguments are cracked from wParam and lParam.

#include <bit>

#include <windows.h>

class CWnd;
class CCmdTarget;

struct CPoint : POINT
{
    CPoint() : POINT{0, 0} {}
    CPoint(int x0, int y0) : POINT{x0, y0} {}
};

struct CRect : RECT
{
    CRect() : RECT{0, 0, 0, 0} {}
    CRect(int l, int t, int r, int b) : RECT{l, t, r, b} {}
    CRect(const RECT& r) : RECT(r) {}
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
};

using AFX_PMSG = void (CCmdTarget::*)();
using AFX_INVOKE = LRESULT (*)(CWnd* target, AFX_PMSG handler, WPARAM wParam, LPARAM lParam);

struct AFX_MSGMAP_ENTRY
{
    UINT nMessage;  // 0 ends the table
    AFX_INVOKE invoke;
    AFX_PMSG pfn;
};

struct AFX_MSGMAP
{
    const AFX_MSGMAP* (*pfnGetBaseMap)();
    const AFX_MSGMAP_ENTRY* lpEntries;
};

inline constexpr UINT WM_KICKIDLE = 0x036A;

// The crackers: one per handler shape.
namespace AfxSig {
LRESULT v_v(CWnd*, AFX_PMSG, WPARAM, LPARAM);         // void ()
LRESULT v_uuu(CWnd*, AFX_PMSG, WPARAM, LPARAM);       // keys: (char, repeat, flags)
LRESULT v_uPt(CWnd*, AFX_PMSG, WPARAM, LPARAM);       // pointer: (key flags, point)
LRESULT v_uRect(CWnd*, AFX_PMSG, WPARAM, LPARAM);     // sizing: (edge, rect); TRUE
LRESULT v_uii(CWnd*, AFX_PMSG, WPARAM, LPARAM);       // size: (type, cx, cy)
LRESULT v_ii(CWnd*, AFX_PMSG, WPARAM, LPARAM);        // move: (x, y)
LRESULT b_uShortPt(CWnd*, AFX_PMSG, WPARAM, LPARAM);  // wheel: (flags, delta, point)
LRESULT v_uShortPt(CWnd*, AFX_PMSG, WPARAM, LPARAM);  // horizontal wheel; 0
LRESULT v_WFromL(CWnd*, AFX_PMSG, WPARAM, LPARAM);    // (the window in lParam)
LRESULT v_WFromW(CWnd*, AFX_PMSG, WPARAM, LPARAM);    // (the window in wParam)
LRESULT v_uL(CWnd*, AFX_PMSG, WPARAM, LPARAM);        // system command: (id, lParam)
LRESULT b_WCopy(CWnd*, AFX_PMSG, WPARAM, LPARAM);     // copy data: (window, COPYDATASTRUCT*)
LRESULT v_u(CWnd*, AFX_PMSG, WPARAM, LPARAM);         // (UINT wParam)
LRESULT v_uptr(CWnd*, AFX_PMSG, WPARAM, LPARAM);      // timer: (UINT_PTR id)
LRESULT u_uL(CWnd*, AFX_PMSG, WPARAM, LPARAM);        // power: UINT (event, data)
LRESULT i_create(CWnd*, AFX_PMSG, WPARAM, LPARAM);    // int (CREATESTRUCTW*)
LRESULT l_wl(CWnd*, AFX_PMSG, WPARAM, LPARAM);        // LRESULT (wParam, lParam)
}  // namespace AfxSig

#define DECLARE_MESSAGE_MAP()                     \
protected:                                        \
    static const AFX_MSGMAP* GetThisMessageMap(); \
    const AFX_MSGMAP* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)        \
    const AFX_MSGMAP* theClass::GetMessageMap() const \
    {                                                 \
        return GetThisMessageMap();                   \
    }                                                 \
    const AFX_MSGMAP* theClass::GetThisMessageMap()   \
    {                                                 \
        using ThisClass [[maybe_unused]] = theClass;  \
        using TheBaseClass = baseClass;               \
        static const AFX_MSGMAP_ENTRY entries[] = {
#define END_MESSAGE_MAP()                                                      \
    {                                                                          \
        0, nullptr, nullptr                                                    \
    }                                                                          \
    }                                                                          \
    ;                                                                          \
    static const AFX_MSGMAP map = {&TheBaseClass::GetThisMessageMap, entries}; \
    return &map;                                                               \
    }

#define AFX_ENTRY(message, sig, type, member) \
    {message, &AfxSig::sig, std::bit_cast<AFX_PMSG>(static_cast<type>(&ThisClass::member))},

#define ON_MESSAGE(message, member) \
    AFX_ENTRY(message, l_wl, LRESULT (CWnd::*)(WPARAM, LPARAM), member)
#define ON_WM_CREATE() AFX_ENTRY(WM_CREATE, i_create, int (CWnd::*)(CREATESTRUCTW*), OnCreate)
#define ON_WM_DESTROY() AFX_ENTRY(WM_DESTROY, v_v, void (CWnd::*)(), OnDestroy)
#define ON_WM_PAINT() AFX_ENTRY(WM_PAINT, v_v, void (CWnd::*)(), OnPaint)
#define ON_WM_CLOSE() AFX_ENTRY(WM_CLOSE, v_v, void (CWnd::*)(), OnClose)
#define ON_WM_KEYDOWN() AFX_ENTRY(WM_KEYDOWN, v_uuu, void (CWnd::*)(UINT, UINT, UINT), OnKeyDown)
#define ON_WM_KEYUP() AFX_ENTRY(WM_KEYUP, v_uuu, void (CWnd::*)(UINT, UINT, UINT), OnKeyUp)
#define ON_WM_SYSKEYDOWN() \
    AFX_ENTRY(WM_SYSKEYDOWN, v_uuu, void (CWnd::*)(UINT, UINT, UINT), OnSysKeyDown)
#define ON_WM_SYSKEYUP() AFX_ENTRY(WM_SYSKEYUP, v_uuu, void (CWnd::*)(UINT, UINT, UINT), OnSysKeyUp)
#define ON_WM_CHAR() AFX_ENTRY(WM_CHAR, v_uuu, void (CWnd::*)(UINT, UINT, UINT), OnChar)
#define AFX_POINTER(message, member) AFX_ENTRY(message, v_uPt, void (CWnd::*)(UINT, CPoint), member)
#define ON_WM_MOUSEMOVE() AFX_POINTER(WM_MOUSEMOVE, OnMouseMove)
#define ON_WM_LBUTTONDOWN() AFX_POINTER(WM_LBUTTONDOWN, OnLButtonDown)
#define ON_WM_LBUTTONUP() AFX_POINTER(WM_LBUTTONUP, OnLButtonUp)
#define ON_WM_LBUTTONDBLCLK() AFX_POINTER(WM_LBUTTONDBLCLK, OnLButtonDblClk)
#define ON_WM_MBUTTONDOWN() AFX_POINTER(WM_MBUTTONDOWN, OnMButtonDown)
#define ON_WM_MBUTTONUP() AFX_POINTER(WM_MBUTTONUP, OnMButtonUp)
#define ON_WM_MBUTTONDBLCLK() AFX_POINTER(WM_MBUTTONDBLCLK, OnMButtonDblClk)
#define ON_WM_RBUTTONDOWN() AFX_POINTER(WM_RBUTTONDOWN, OnRButtonDown)
#define ON_WM_RBUTTONUP() AFX_POINTER(WM_RBUTTONUP, OnRButtonUp)
#define ON_WM_RBUTTONDBLCLK() AFX_POINTER(WM_RBUTTONDBLCLK, OnRButtonDblClk)
#define ON_WM_NCLBUTTONDOWN() AFX_POINTER(WM_NCLBUTTONDOWN, OnNcLButtonDown)
#define ON_WM_NCMBUTTONDOWN() AFX_POINTER(WM_NCMBUTTONDOWN, OnNcMButtonDown)
#define ON_WM_NCRBUTTONDOWN() AFX_POINTER(WM_NCRBUTTONDOWN, OnNcRButtonDown)
#define ON_WM_SIZING() AFX_ENTRY(WM_SIZING, v_uRect, void (CWnd::*)(UINT, RECT*), OnSizing)
#define ON_WM_SIZE() AFX_ENTRY(WM_SIZE, v_uii, void (CWnd::*)(UINT, int, int), OnSize)
#define ON_WM_MOVE() AFX_ENTRY(WM_MOVE, v_ii, void (CWnd::*)(int, int), OnMove)
#define ON_WM_MOUSEWHEEL() \
    AFX_ENTRY(WM_MOUSEWHEEL, b_uShortPt, BOOL (CWnd::*)(UINT, short, CPoint), OnMouseWheel)
#define ON_WM_MOUSEHWHEEL() \
    AFX_ENTRY(WM_MOUSEHWHEEL, v_uShortPt, void (CWnd::*)(UINT, short, CPoint), OnMouseHWheel)
#define ON_WM_CAPTURECHANGED() \
    AFX_ENTRY(WM_CAPTURECHANGED, v_WFromL, void (CWnd::*)(CWnd*), OnCaptureChanged)
#define ON_WM_SETFOCUS() AFX_ENTRY(WM_SETFOCUS, v_WFromW, void (CWnd::*)(CWnd*), OnSetFocus)
#define ON_WM_KILLFOCUS() AFX_ENTRY(WM_KILLFOCUS, v_WFromW, void (CWnd::*)(CWnd*), OnKillFocus)
#define ON_WM_SYSCOMMAND() \
    AFX_ENTRY(WM_SYSCOMMAND, v_uL, void (CWnd::*)(UINT, LPARAM), OnSysCommand)
#define ON_WM_COPYDATA() \
    AFX_ENTRY(WM_COPYDATA, b_WCopy, BOOL (CWnd::*)(CWnd*, COPYDATASTRUCT*), OnCopyData)
#define ON_WM_DESTROYCLIPBOARD() \
    AFX_ENTRY(WM_DESTROYCLIPBOARD, v_v, void (CWnd::*)(), OnDestroyClipboard)
#define ON_WM_RENDERFORMAT() AFX_ENTRY(WM_RENDERFORMAT, v_u, void (CWnd::*)(UINT), OnRenderFormat)
#define ON_WM_RENDERALLFORMATS() \
    AFX_ENTRY(WM_RENDERALLFORMATS, v_v, void (CWnd::*)(), OnRenderAllFormats)
#define ON_WM_TIMER() AFX_ENTRY(WM_TIMER, v_uptr, void (CWnd::*)(UINT_PTR), OnTimer)
#define ON_WM_POWERBROADCAST() \
    AFX_ENTRY(WM_POWERBROADCAST, u_uL, UINT (CWnd::*)(UINT, LPARAM), OnPowerBroadcast)

class CCmdTarget
{
public:
    virtual ~CCmdTarget() = default;
    // Commands are not routed anywhere in this subset: FALSE, not handled.
    virtual BOOL OnCmdMsg(UINT id, int code, void* extra, void* handlerInfo);
    virtual const AFX_MSGMAP* GetMessageMap() const;
    static const AFX_MSGMAP* GetThisMessageMap();
};
