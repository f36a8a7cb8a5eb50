// Applying a skin again to a control that was created from another one: the window keeps its
// place, the control keeps its state, and the children are matched to the new sub-controls by
// name.

#include <cmath>
#include <vector>

#include "ControlBase/Control.h"
#include "ControlBase/ControlDescriptor.h"
#include "ControlBase/LayoutDescriptor.h"
#include "ControlBase/RootWindow.h"
#include "ControlBase/StringTable.h"

namespace Orv {

namespace {

int32_t RoundedPixels(double value)
{
    return static_cast<int32_t>(std::lround(value));
}

}  // namespace

void LControl::KeepWindowPlacement()
{
    const RCPtr<LRootWindow> window = rootWindow;
    if (!window) {
        return;
    }
    const RectL windowRect = window->GetWindowRect();
    RectL proposed{windowRect.x, windowRect.y, RoundedPixels(rect.width),
                   RoundedPixels(rect.height)};
    if (ApplicationHook(proposed) == 1) {
        window->SetClientRect(proposed);
    }
    AxisPositionSpec position[2];
    AxisSizeSpec size[2];
    for (int axis = 0; axis < 2; ++axis) {
        layout->GetAxisPlacement(axis, position[axis], size[axis]);
        position[axis].rel = 0;
        size[axis].rel = 0;
    }
    position[0].abs = proposed.x;
    position[1].abs = proposed.y;
    size[0].abs = proposed.width;
    size[1].abs = proposed.height;
    SetLayoutPlacement(position[0], size[0], position[1], size[1]);
}

void LControl::KeepStateThroughReapplication(bool keptVisible, bool keptEnabled)
{
    if (layout->isVisible != keptVisible) {
        // SetVisible does the rest of a visibility change (repaint, focus, conditions) only when
        // it sees one.
        const bool shown = layout->isVisible;
        layout->isVisible = keptVisible;
        SetVisible(shown);
    }
    layout->isEnabled = keptEnabled;
    const RCPtr<LStringTable> parameters = descriptor ? descriptor->createParams : nullptr;
    WideString value;
    if (parameters && parameters->GetString(u"NOT_FOCUSABLE", value)) {
        SetNotFocusable(value.Trim().ToLower() == u"true");
    } else {
        SetNotFocusable(layout->tabStop < 0);
    }
}

void LControl::CloseChildrenWithoutSubControl()
{
    // The same matching ReattachChildren does (each sub-control takes the first unmatched child
    // of its name), run on names first: a child that will not come back may hold the focus,
    // the capture, the hover, a tip or idle requests, and lets them go through Close while it is
    // still in the tree where the root window can see it.
    const uint32_t count = children.GetCount();
    std::vector<bool> matched(count, false);
    const RCPtrArray<LControlDescriptor>& subControls = descriptor->subControls;
    for (uint32_t sub = 0; sub < subControls.GetCount(); ++sub) {
        const RCPtr<LControlDescriptor>& subDescriptor = subControls.GetData()[sub];
        if (!subDescriptor) {
            continue;
        }
        for (uint32_t index = 0; index < count; ++index) {
            if (!matched[index] &&
                children.GetAt(index, ChildControlList::kInsertionOrder)->GetName() ==
                    subDescriptor->name) {
                matched[index] = true;
                break;
            }
        }
    }
    RCPtrArray<LControl> dropped;
    for (uint32_t index = 0; index < count; ++index) {
        if (!matched[index]) {
            dropped.AddItem(children.GetAt(index, ChildControlList::kInsertionOrder));
        }
    }
    const RCPtr<LRootWindow> window = GetRootWindowRef();
    for (uint32_t index = 0; index < dropped.GetCount(); ++index) {
        const RCPtr<LControl> child = dropped.GetAt(index);
        if (child->parent.Get() != this) {
            continue;  // a client moved it while an earlier one closed
        }
        child->Close();
        if (window) {
            window->ForgetSubtree(child);
        }
    }
}

void LControl::ReattachChildren(RCPtrArray<LControl>& oldChildren)
{
    const RCPtr<LControl> self = HoldSelf();
    layoutSuspended = true;
    const RCPtrArray<LControlDescriptor>& subControls = descriptor->subControls;
    for (uint32_t sub = 0; sub < subControls.GetCount(); ++sub) {
        const RCPtr<LControlDescriptor> subDescriptor = subControls.GetData()[sub];
        if (!subDescriptor) {
            continue;
        }
        RCPtr<LControl> match;
        for (uint32_t index = 0; index < oldChildren.GetCount(); ++index) {
            if (oldChildren.GetAt(index)->GetName() == subDescriptor->name) {
                match = oldChildren.GetAt(index);
                oldChildren.RemoveItems(index, 1);
                break;
            }
        }
        // A new sub-control gets no control: AttachChild answers E_FAIL for a missing child.
        AttachChild(match, subDescriptor);
    }
    layoutSuspended = false;
    // A child AttachChild refused is out of the tree now; it must not keep running.
    const RCPtr<LRootWindow> window = GetRootWindowRef();
    for (uint32_t index = 0; index < oldChildren.GetCount(); ++index) {
        const RCPtr<LControl> child = oldChildren.GetAt(index);
        if (!child->parent) {
            child->Close();
            if (window) {
                window->ForgetSubtree(child);
            }
        }
    }
    oldChildren.RemoveAll();
    if (children.GetCount() > 0) {
        UpdateLayout();
    }
    UpdateConditions();
    OnCreated();
    children.MarkChanged();
    if (!parent && rootWindow) {
        AxisPositionSpec position;
        position.anchor = 0;
        position.reference = kPositionToClient;
        AxisSizeSpec size;
        size.reference = kSizeToClient;
        size.rel = 1;
        SetLayoutPlacement(position, size, position, size);
        UpdateLayout();
        InvalidateRect(RectD{0, 0, rect.width, rect.height}, true);
    }
}

}  // namespace Orv
