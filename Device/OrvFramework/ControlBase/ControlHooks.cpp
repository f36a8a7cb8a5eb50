// The base behaviour of the slots that are hooks or plain answers in the base class: derived
// classes override them.

#include "ControlBase/Control.h"
#include "ControlBase/LayoutDescriptor.h"
#include "ObjectBase/Exception.h"

namespace Orv {

void LControl::OnValueChanged() {}

bool LControl::SupportsEditCommands() const
{
    return false;
}

RCPtr<LControl> LControl::GetEditTarget()
{
    if (SupportsEditCommands()) {
        return RCPtr<LControl>(this);
    }
    return parent ? parent->GetEditTarget() : RCPtr<LControl>();
}

bool LControl::CanPerformEdit(int32_t)
{
    return false;
}

ORVRESULT LControl::PerformEdit(int32_t)
{
    ThrowException(ExceptionKind::LogicError, "LControl::PerformEdit must be overridden",
                   ThrowSite{__PRETTY_FUNCTION__, "ControlBase/Control", 580});
}

ORVRESULT LControl::SetDragMode(int32_t mode, uint32_t flags)
{
    dragMode = mode;
    dragFlags = flags;
    return S_OK;
}

void LControl::OnDragMoved(const RCPtr<LPointWithModifiersParam>&) {}

bool LControl::AcceptsDrop(const RCPtr<LControl>&)
{
    return false;
}

uint32_t LControl::GetDropAutoScrollEdges(const RCPtr<LControl>&)
{
    return 0;
}

void LControl::GetScrollRange(RectD& range, const RCPtr<LControl>&)
{
    // Unbounded: the largest extent a double still counts in whole pixels.
    constexpr double kUnbounded = 4503599627370496.0;  // 2^52
    range = RectD{0, 0, kUnbounded, kUnbounded};
}

void LControl::GetDragRange(RectD&) {}

void LControl::OnDragEnter(const RCPtr<LControl>&) {}

void LControl::OnDragOver(const RCPtr<LControl>&, const PointD&) {}

void LControl::OnDragLeave(const RCPtr<LControl>&) {}

ORVRESULT LControl::OnDrop(const RCPtr<LControl>&)
{
    return E_FAIL;
}

void LControl::OnConditionsChanged(const RCPtr<LConditionsParam>&) {}

void LControl::OnWindowAvailable() {}

ORVRESULT LControl::QueryCommandState(const RCPtr<LNotificationDistributor>&,
                                      const RCPtr<LRefCountedObject>&, NotificationId, bool&)
{
    return 1;
}

void LControl::OnContextMenuOpening(const RCPtr<LControl>&) {}

int32_t LControl::ApplicationHook(RectL&)
{
    return 0;
}

void LControl::OnLeftButtonDown(const RCPtr<LMouseButtonParam>&) {}
void LControl::OnLeftButtonUp(const RCPtr<LMouseButtonParam>&) {}
void LControl::OnMiddleButtonDown(const RCPtr<LMouseButtonParam>&) {}
void LControl::OnMiddleButtonUp(const RCPtr<LMouseButtonParam>&) {}
void LControl::OnRightButtonDown(const RCPtr<LMouseButtonParam>&) {}
void LControl::OnRightButtonUp(const RCPtr<LMouseButtonParam>&) {}
void LControl::OnMouseMoveHook(const RCPtr<LPointWithModifiersParam>&) {}

ORVRESULT LControl::OnWheel(const RCPtr<LMouseWheelParam>&)
{
    return 1;
}

ORVRESULT LControl::OnHWheel(const RCPtr<LMouseWheelParam>&)
{
    return 1;
}

void LControl::OnLeftClickHook(const RCPtr<LMouseButtonParam>&) {}
void LControl::OnMiddleClickHook(const RCPtr<LMouseButtonParam>&) {}
void LControl::OnRightClickHook(const RCPtr<LMouseButtonParam>&) {}

ORVRESULT LControl::OnKeyHook(const RCPtr<LKeyParam>&)
{
    return 1;
}

void LControl::DrawContentHook(LRenderer&) {}

void LControl::DrawOverlayHook(LRenderer&) {}

ORVRESULT LControl::CanReleaseFocus()
{
    return 1;
}

}  // namespace Orv
