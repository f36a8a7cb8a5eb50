// Keyboard focus: which control may hold it, how it moves down to a descendant and back up,
// and what showing, enabling and focusability changes do to it.
//
// One control of a root window has the focus; every ancestor of it has "contains focus". A move
// sets the new holder first and lets its ancestors release the old branch on the way up, so the
// two flags stay consistent at every step. Each call that can reach a client (a release, the
// condition update) holds the controls it works on, since a client may close them.

#include "ControlBase/Control.h"
#include "ControlBase/LayoutDescriptor.h"
#include "ControlBase/RootWindow.h"

namespace Orv {

namespace {

// Shown and enabled all the way up: what a control needs before it can hold anything.
bool IsUsable(const LControl& control)
{
    return control.IsVisible(true) && control.IsEnabled(true);
}

}  // namespace

bool LControl::IsEnabled(bool recursive) const
{
    for (const LControl* at = this; at != nullptr; at = at->parent.Get()) {
        if (at->layout && !at->layout->isEnabled) {
            return false;
        }
        if (!recursive) {
            break;
        }
    }
    return true;
}

bool LControl::PassesFocusRules() const
{
    if (notFocusable || !IsUsable(*this)) {
        return false;
    }
    if (!parent || focusScope) {
        return true;
    }
    // A focus scope stands for its own subtree: what lies above it does not count.
    for (const LControl* at = parent.Get(); at != nullptr && !at->focusScope;
         at = at->parent.Get()) {
        if (at->notFocusable) {
            return false;
        }
    }
    return true;
}

bool LControl::IsFocusTarget()
{
    return PassesFocusRules() && !CanTakeFocus();
}

bool LControl::CanTakeFocus()
{
    if (notFocusable || !IsUsable(*this)) {
        return false;
    }
    const RCPtr<LControl> self(this);
    for (uint32_t index = children.GetCount(); index-- > 0;) {
        if (index >= children.GetCount()) {
            continue;
        }
        const RCPtr<LControl> child = children.GetAt(index, ChildControlList::kInsertionOrder);
        // A focus target is a child that passes the rules and cannot pass the focus on; either
        // way the child takes it.
        if (child->CanTakeFocus() || child->PassesFocusRules()) {
            return true;
        }
    }
    return false;
}

RCPtr<LControl> LControl::FindNextFocusable(const RCPtr<LControl>& from, bool backwards)
{
    if (!from || from->parent.Get() != this) {
        return RCPtr<LControl>();
    }
    const int32_t count = static_cast<int32_t>(children.GetCount());
    const int32_t start = IndexOfChild(from, ChildControlList::kTabOrder);
    if (start < 0 || count == 0) {
        return RCPtr<LControl>();
    }
    const auto step = [backwards, count](int32_t index) {
        return backwards ? (index == 0 ? count - 1 : index - 1)
                         : (index + 1 == count ? 0 : index + 1);
    };
    int32_t index = step(start);
    if (index == start) {
        return IsUsable(*from) ? from : RCPtr<LControl>();
    }
    for (; index != start; index = step(index)) {
        const RCPtr<LControl>& child =
            children.GetAt(static_cast<uint32_t>(index), ChildControlList::kTabOrder);
        if (IsUsable(*child)) {
            return child;
        }
    }
    return RCPtr<LControl>();
}

RCPtr<LControl> LControl::GetFocusableChild(bool first)
{
    const uint32_t count = children.GetCount();
    if (count == 0) {
        return RCPtr<LControl>();
    }
    const RCPtr<LControl> start =
        children.GetAt(first ? 0 : count - 1, ChildControlList::kTabOrder);
    if (start->CanTakeFocus() || start->PassesFocusRules()) {
        return start;
    }
    // Bounded by the child count: when the start itself is hidden the search never returns to
    // it, and would otherwise circle the other children for ever.
    RCPtr<LControl> at = start;
    for (uint32_t steps = 0; steps < count; ++steps) {
        at = FindNextFocusable(at, !first);
        if (!at || at == start) {
            break;
        }
        if (at->CanTakeFocus() || at->PassesFocusRules()) {
            return at;
        }
    }
    return RCPtr<LControl>();
}

RCPtr<LControl> LControl::FocusPathChild(const LControl* except) const
{
    for (uint32_t index = children.GetCount(); index-- > 0;) {
        const RCPtr<LControl>& child = children.GetAt(index, ChildControlList::kInsertionOrder);
        if (child.Get() != except && (child->hasFocus || child->containsFocus)) {
            return child;
        }
    }
    return RCPtr<LControl>();
}

ORVRESULT LControl::SetFocus(bool first)
{
    const RCPtr<LControl> self(this);
    const RCPtr<LRootWindow> window = GetRootWindowRef();
    if (!hasFocus && window) {
        // A holder that refuses to let go (a text box with invalid text) keeps the focus.
        if (const RCPtr<LControl> holder = window->GetFocusControl()) {
            if (holder->CanReleaseFocus() <= 0) {
                return E_FAIL;
            }
        }
    }
    if (hasFocus && IsFocusTarget()) {
        return S_OK;
    }
    if (CanTakeFocus()) {
        if (containsFocus) {
            const RCPtr<LControl> onPath = FocusPathChild(nullptr);
            if (!onPath) {
                return E_FAIL;
            }
            if (onPath->CanTakeFocus() || onPath->PassesFocusRules()) {
                return onPath->SetFocus(first);
            }
        }
        const RCPtr<LControl> child = GetFocusableChild(first);
        return child ? child->SetFocus(first) : E_FAIL;
    }
    if (PassesFocusRules()) {
        ORVRESULT result = S_OK;
        if (containsFocus) {
            hasFocus = true;
            containsFocus = false;
            const RCPtr<LControl> onPath = FocusPathChild(nullptr);
            result = onPath ? onPath->ReleaseFocus() : E_FAIL;
        } else {
            hasFocus = true;
            if (const RCPtr<LControl> up = parent) {
                result = up->ChildGotFocus(self);
            }
        }
        // The window of now: a release above may have closed the tree.
        if (const RCPtr<LRootWindow> current = GetRootWindowRef(); current && hasFocus) {
            current->SetFocusControl(self);
        }
        UpdateConditions();
        return result;
    }
    if (hasFocus) {
        return E_FAIL;
    }
    const RCPtr<LControl> top = GetTopLevelControl();
    // A top-level control that cannot take the focus itself has nowhere else to send it: asking
    // it again would recurse for ever.
    if (top.Get() != this && (top->hasFocus || top->containsFocus)) {
        return top->SetFocus(true);
    }
    return 1;
}

ORVRESULT LControl::ChildGotFocus(const RCPtr<LControl>& child)
{
    const RCPtr<LControl> self(this);
    if (containsFocus) {
        const RCPtr<LControl> previous = FocusPathChild(child.Get());
        return previous ? previous->ReleaseFocus() : 0;
    }
    containsFocus = true;
    if (hasFocus) {
        hasFocus = false;
        UpdateConditions();
        return 1;
    }
    ORVRESULT result = 1;
    if (const RCPtr<LControl> up = parent) {
        result = up->ChildGotFocus(self);
    }
    UpdateConditions();
    return result;
}

ORVRESULT LControl::ReleaseFocus()
{
    const RCPtr<LControl> self(this);
    if (hasFocus) {
        hasFocus = false;
        UpdateConditions();
        // Only the window's own holder is forgotten: a control that lost the window's focus
        // before must not clear another control's.
        if (const RCPtr<LRootWindow> window = GetRootWindowRef();
            window && window->GetFocusControl().Get() == this) {
            window->OnFocusReleased();
        }
        return 1;
    }
    containsFocus = false;
    const RCPtr<LControl> onPath = FocusPathChild(nullptr);
    const ORVRESULT result = onPath ? onPath->ReleaseFocus() : 0;
    UpdateConditions();
    return result;
}

void LControl::SetNotFocusable(bool flag)
{
    const int32_t tabStop = layout ? layout->tabStop : (flag ? -1 : 0);
    const bool signAgrees = flag ? tabStop < 0 : tabStop >= 0;
    if (flag == notFocusable && signAgrees) {
        return;
    }
    const RCPtr<LControl> self(this);
    notFocusable = flag;
    if (layout && !signAgrees) {
        // The skin may write any 32-bit TabStop: the negation of the lowest one saturates.
        layout->tabStop = tabStop == 0 ? -1 : tabStop == INT32_MIN ? INT32_MAX : -tabStop;
    }
    const RCPtr<LControl> up = parent;
    if (!up) {
        return;
    }
    up->children.MarkChanged();
    if (up->hasFocus && (CanTakeFocus() || PassesFocusRules())) {
        SetFocus(true);
    }
    if (flag && hasFocus) {
        up->SetFocus(true);
    }
}

void LControl::SetEnabled(bool enabled)
{
    if (!layout || layout->isEnabled == enabled) {
        return;
    }
    const RCPtr<LControl> self(this);
    layout->isEnabled = enabled;
    const RCPtr<LControl> up = parent;
    if (!enabled && (hasFocus || containsFocus) && up) {
        up->SetFocus(true);
    }
    if (up && up->hasFocus && (CanTakeFocus() || PassesFocusRules())) {
        SetFocus(true);
    }
    UpdateConditions();
    InvalidateRect(RectD{0, 0, rect.width, rect.height}, layout->clipToParent);
    InvalidateOverlays();
}

}  // namespace Orv
