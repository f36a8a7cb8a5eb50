#include "mfc/MessageMap.h"

#include "mfc/Wnd.h"

BOOL CCmdTarget::OnCmdMsg(UINT, int, void*, void*)
{
    return FALSE;
}

const AFX_MSGMAP* CCmdTarget::GetMessageMap() const
{
    return GetThisMessageMap();
}

const AFX_MSGMAP* CCmdTarget::GetThisMessageMap()
{
    static const AFX_MSGMAP_ENTRY entries[] = {{0, nullptr, nullptr}};
    static const AFX_MSGMAP map = {nullptr, entries};
    return &map;
}

namespace AfxSig {

namespace {

template <typename Handler>
Handler As(AFX_PMSG handler)
{
    // All member pointers of single, non-virtual inheritance share one layout.
    static_assert(sizeof(Handler) == sizeof(AFX_PMSG));
    return std::bit_cast<Handler>(handler);
}

CPoint PointOf(LPARAM lParam)
{
    return CPoint(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
}

}  // namespace

LRESULT v_v(CWnd* target, AFX_PMSG handler, WPARAM, LPARAM)
{
    (target->*As<void (CWnd::*)()>(handler))();
    return 0;
}

LRESULT v_uuu(CWnd* target, AFX_PMSG handler, WPARAM wParam, LPARAM lParam)
{
    (target->*As<void (CWnd::*)(UINT, UINT, UINT)>(handler))(static_cast<UINT>(wParam),
                                                             LOWORD(lParam), HIWORD(lParam));
    return 0;
}

LRESULT v_uPt(CWnd* target, AFX_PMSG handler, WPARAM wParam, LPARAM lParam)
{
    (target->*As<void (CWnd::*)(UINT, CPoint)>(handler))(static_cast<UINT>(wParam),
                                                         PointOf(lParam));
    return 0;
}

LRESULT v_uRect(CWnd* target, AFX_PMSG handler, WPARAM wParam, LPARAM lParam)
{
    (target->*As<void (CWnd::*)(UINT, RECT*)>(handler))(static_cast<UINT>(wParam),
                                                        reinterpret_cast<RECT*>(lParam));
    return TRUE;
}

LRESULT v_uii(CWnd* target, AFX_PMSG handler, WPARAM wParam, LPARAM lParam)
{
    (target->*As<void (CWnd::*)(UINT, int, int)>(handler))(static_cast<UINT>(wParam),
                                                           LOWORD(lParam), HIWORD(lParam));
    return 0;
}

LRESULT v_ii(CWnd* target, AFX_PMSG handler, WPARAM, LPARAM lParam)
{
    (target->*As<void (CWnd::*)(int, int)>(handler))(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
    return 0;
}

LRESULT b_uShortPt(CWnd* target, AFX_PMSG handler, WPARAM wParam, LPARAM lParam)
{
    return (target->*As<BOOL (CWnd::*)(UINT, short, CPoint)>(handler))(
        LOWORD(wParam), static_cast<short>(HIWORD(wParam)), PointOf(lParam));
}

LRESULT v_uShortPt(CWnd* target, AFX_PMSG handler, WPARAM wParam, LPARAM lParam)
{
    (target->*As<void (CWnd::*)(UINT, short, CPoint)>(handler))(
        LOWORD(wParam), static_cast<short>(HIWORD(wParam)), PointOf(lParam));
    return 0;
}

LRESULT v_WFromL(CWnd* target, AFX_PMSG handler, WPARAM, LPARAM lParam)
{
    (target->*As<void (CWnd::*)(CWnd*)>(handler))(CWnd::FromHandle(reinterpret_cast<HWND>(lParam)));
    return 0;
}

LRESULT v_WFromW(CWnd* target, AFX_PMSG handler, WPARAM wParam, LPARAM)
{
    (target->*As<void (CWnd::*)(CWnd*)>(handler))(CWnd::FromHandle(reinterpret_cast<HWND>(wParam)));
    return 0;
}

LRESULT v_uL(CWnd* target, AFX_PMSG handler, WPARAM wParam, LPARAM lParam)
{
    (target->*As<void (CWnd::*)(UINT, LPARAM)>(handler))(static_cast<UINT>(wParam), lParam);
    return 0;
}

LRESULT b_WCopy(CWnd* target, AFX_PMSG handler, WPARAM wParam, LPARAM lParam)
{
    return (target->*As<BOOL (CWnd::*)(CWnd*, COPYDATASTRUCT*)>(handler))(
        CWnd::FromHandle(reinterpret_cast<HWND>(wParam)),
        reinterpret_cast<COPYDATASTRUCT*>(lParam));
}

LRESULT v_u(CWnd* target, AFX_PMSG handler, WPARAM wParam, LPARAM)
{
    (target->*As<void (CWnd::*)(UINT)>(handler))(static_cast<UINT>(wParam));
    return 0;
}

LRESULT v_uptr(CWnd* target, AFX_PMSG handler, WPARAM wParam, LPARAM)
{
    (target->*As<void (CWnd::*)(UINT_PTR)>(handler))(static_cast<UINT_PTR>(wParam));
    return 0;
}

LRESULT u_uL(CWnd* target, AFX_PMSG handler, WPARAM wParam, LPARAM lParam)
{
    return (target->*As<UINT (CWnd::*)(UINT, LPARAM)>(handler))(static_cast<UINT>(wParam), lParam);
}

LRESULT i_create(CWnd* target, AFX_PMSG handler, WPARAM, LPARAM lParam)
{
    return (target->*As<int (CWnd::*)(CREATESTRUCTW*)>(handler))(
        reinterpret_cast<CREATESTRUCTW*>(lParam));
}

LRESULT l_wl(CWnd* target, AFX_PMSG handler, WPARAM wParam, LPARAM lParam)
{
    return (target->*As<LRESULT (CWnd::*)(WPARAM, LPARAM)>(handler))(wParam, lParam);
}

}  // namespace AfxSig
