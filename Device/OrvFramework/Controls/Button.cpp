// The push button: automatic value on click, radio groups among siblings, auto-repeat while held,
// simulated clicks with a visible press, and its table of looks.

#include "Controls/Button.h"

#include <stdexcept>

#include "Application/FrameworkApp.h"
#include "ControlBase/ControlDescriptor.h"
#include "ControlBase/StringTable.h"
#include "Notification/Notification.h"
#include "Notification/NotificationForwarder.h"
#include "ObjectBase/Exception.h"
#include "ObjectBase/SourceName.h"

namespace Orv {

namespace {

constexpr uint32_t kEnterDown = 0x200D0000;  // VK_RETURN with the key-down bit

// Looks by state; checked buttons use the same table 7 further on.
constexpr uint32_t kLookNormal = 0;
constexpr uint32_t kLookHover = 1;
constexpr uint32_t kLookPressed = 2;
constexpr uint32_t kLookFocusedOffset = 3;
constexpr uint32_t kLookDisabled = 6;
constexpr uint32_t kLookCheckedOffset = 7;

// The application clock counts whole milliseconds, summed in seconds: rounding leaves a step
// of exactly the interval a hair short, so intervals compare within half a millisecond.
constexpr double kClockTolerance = 0.0005;

// The line the product's failure text has always named, kept so that logs read the same.
constexpr int kInitializeFailureLine = 50;

bool Became(ControlConditions oldBits, ControlConditions newBits, ControlConditions bit)
{
    return (oldBits & bit) == 0 && (newBits & bit) != 0;
}

bool Cleared(ControlConditions oldBits, ControlConditions newBits, ControlConditions bit)
{
    return (oldBits & bit) != 0 && (newBits & bit) == 0;
}

// A create parameter reads true when its lower-cased text is exactly "true" (no trimming).
bool ReadFlag(const RCPtr<LStringTable>& parameters, const char16_t* id, bool& flag)
{
    WideString text;
    if (!parameters || !parameters->GetString(id, text)) {
        return false;
    }
    flag = text.ToLower() == WideString(u"true");
    return true;
}

}  // namespace

LButton::LButton(const RCPtr<LControl>& parent, const WideString& name) : LControl(parent, name) {}

LButton::~LButton()
{
    handler = nullptr;
}

double LButton::Now() const
{
    LFrameworkApp* application = GetFrameworkApp();
    return application ? application->GetTimeSeconds() : 0.0;
}

ORVRESULT LButton::Initialize()
{
    const ORVRESULT base = LControl::Initialize();
    if (base < 0) {
        return base;
    }
    try {
        handler = RCPtr<LNotificationHandler<LButton>>(new LNotificationHandler<LButton>(this));
        const ORVRESULT added =
            handler->AddDirectHandler(&LButton::OnSimulateClickNotification, u"NID_SIMULATE_CLICK");
        if (added < 0) {
            ThrowFailedResult(
                added, ThrowSite{__PRETTY_FUNCTION__, ORV_THIS_FILE, kInitializeFailureLine});
        }
        const RCPtr<LControlDescriptor>& descriptor = GetDescriptor();
        const RCPtr<LStringTable> parameters =
            descriptor ? descriptor->createParams : RCPtr<LStringTable>();
        bool flag = false;
        if (ReadFlag(parameters, u"AUTO_VALUE_SET", flag)) {
            SetAutoValueSet(flag);
        }
        flag = false;
        if (ReadFlag(parameters, u"IS_RADIO", flag)) {
            SetRadio(flag);
        }
    } catch (const Exception<std::runtime_error>&) {
        return base;
    }
    return S_OK;
}

int LButton::OnNotification(const RCPtr<LNotificationDistributor>& sender,
                            const RCPtr<LNotification>& notification)
{
    return NotificationForwarder(IsCreated(), sender, notification, handler,
                                 GetNotificationHandler());
}

ORVRESULT LButton::Unregister(const RCPtr<LNotificationDistributor>& source, const char16_t* idText)
{
    return UnregisterForwarder(*this, source, idText, handler, GetNotificationHandler());
}

ORVRESULT LButton::SetAutoValueSet(bool set)
{
    autoValueSet = set;
    return S_OK;
}

ORVRESULT LButton::SetRadio(bool set)
{
    radio = set;
    return S_OK;
}

bool LButton::SetChecked(bool checked)
{
    return SetValue(checked ? 1.0 : 0.0) >= 0.5;
}

ORVRESULT LButton::UpdateLook()
{
    if (externalLook || simulatedClickActive) {
        return S_OK;
    }
    const bool checked = GetValuePosition() >= 0.5;
    const uint32_t offset = checked ? kLookCheckedOffset : 0;
    if (!IsEnabled(true)) {
        SelectLook(kLookDisabled + offset);
        return S_OK;
    }
    const ControlConditions bits = ComputeConditions();
    const bool over = (bits & kConditionHover) != 0;
    const bool captured = (bits & kConditionCapture) != 0;
    // A press shows at once: the left button is down on the button whether or not it has moved
    // past the drag threshold yet.
    const bool leftDown = (bits & (kConditionLeftDrag | kConditionLeftPressed)) != 0;
    uint32_t state = kLookNormal;
    if (captured && leftDown) {
        state = over || pressedLookOutside ? kLookPressed : kLookHover;
    } else if (over && !captured) {
        state = kLookHover;
    }
    if (HasFocus()) {
        state += kLookFocusedOffset;
    }
    SelectLook(state + offset);
    return S_OK;
}

void LButton::OnValueChanged()
{
    if (radio && GetValuePosition() >= 0.5 && GetParent()) {
        // The clients of each sibling's change may add or close children: walk a counted copy.
        const RCPtr<LControl> parentControl = GetParent();
        const ChildControlList& list = parentControl->GetChildren();
        RCPtrArray<LControl> siblings;
        for (uint32_t index = 0; index < list.GetCount(); ++index) {
            siblings.AddItem(list.GetAt(index, ChildControlList::kInsertionOrder));
        }
        for (uint32_t index = siblings.GetCount(); index-- > 0;) {
            auto* sibling = dynamic_cast<LButton*>(siblings.GetData()[index].Get());
            // One that a client took out of the group is no longer in it.
            if (sibling != nullptr && sibling != this && sibling->radio &&
                sibling->GetParent().Get() == parentControl.Get()) {
                sibling->SetValue(0.0);
            }
        }
    }
    UpdateLook();
}

void LButton::SetEnabled(bool enabled)
{
    LControl::SetEnabled(enabled);
    UpdateLook();
}

void LButton::OnLeftClickHook(const RCPtr<LMouseButtonParam>&)
{
    if (!autoValueSet) {
        return;
    }
    if (radio) {
        SetValue(1.0);
    } else {
        SetValue(GetValuePosition() >= 0.5 ? 0.0 : 1.0);
    }
}

int32_t LButton::ContainsPoint(const PointL& point)
{
    return externalLook ? 0 : LControl::ContainsPoint(point);
}

ORVRESULT LButton::OnKeyHook(const RCPtr<LKeyParam>& key)
{
    if (key && key->key.code == kEnterDown) {
        SimulateClick();
        return S_OK;
    }
    return 1;
}

void LButton::OnConditionsChanged(const RCPtr<LConditionsParam>& conditions)
{
    const RCPtr<LControl> self = HoldSelf();
    const ControlConditions oldBits = conditions ? conditions->oldConditions : 0;
    const ControlConditions newBits = conditions ? conditions->newConditions : 0;
    if (autoRepeat && Became(oldBits, newBits, kConditionHoverOrForced)) {
        lastTickTime = Now();  // the time spent outside does not count
    } else if (Became(oldBits, newBits, kConditionLeftPressed)) {
        if (autoRepeat && IsEnabled(true) && !repeating) {
            repeating = true;
            RequestIdle();
            lastTickTime = Now();
            timeToNextRepeat = repeatDelay;
            SendAutoRepeat();
        }
    } else if (Cleared(oldBits, newBits, kConditionCapture) && autoRepeat && repeating) {
        repeating = false;
        if (!simulatedClickActive) {
            ReleaseIdle();
        }
    }
    UpdateLook();
}

void LButton::SendAutoRepeat()
{
    SendNotification(CreateNotification(u"NID_BUTTON_AUTOREPEAT", RCPtr<LRefCountedObject>()));
}

void LButton::CompleteSimulatedClick()
{
    const RCPtr<LControl> self = HoldSelf();
    simulatedClickActive = false;
    if (!repeating) {
        ReleaseIdle();
    }
    simulatedClickStart = 0;
    UpdateLook();
    if (autoRepeat) {
        SendAutoRepeat();
    }
    const RCPtr<LRootWindow>& window = GetRootWindowRef();
    const int32_t buttonsDown = window ? window->GetMouseButtons() : 0;
    OnLeftClick(RCPtr<LMouseButtonParam>(new LMouseButtonParam(1, 0, 0, 0, 0, buttonsDown, 0)));
}

void LButton::SimulateClick()
{
    const RCPtr<LControl> self = HoldSelf();
    if (simulatedClickActive) {
        CompleteSimulatedClick();
    }
    simulatedClickActive = true;
    SetFocus(true);
    RequestIdle();
    simulatedClickStart = Now();
    const bool checked = GetValuePosition() >= 0.5;
    SelectLook(checked ? kLookPressed + kLookCheckedOffset : kLookPressed);
    const RectD& box = GetRect();
    InvalidateRect(RectD{0, 0, box.width, box.height}, GetLayout() && GetLayout()->clipToParent);
}

int LButton::OnSimulateClickNotification(const RCPtr<LNotificationDistributor>&,
                                         const RCPtr<LNotification>&)
{
    if (IsEnabled(true)) {
        SimulateClick();
    }
    return 1;
}

void LButton::OnTick()
{
    const RCPtr<LControl> self = HoldSelf();
    const double now = Now();
    if (simulatedClickActive && now - simulatedClickStart >= simulatedClickTime - kClockTolerance) {
        CompleteSimulatedClick();
    }
    if (repeating && (ComputeConditions() & kConditionHover) != 0 && IsEnabled(true)) {
        timeToNextRepeat -= now - lastTickTime;
        lastTickTime = now;
        if (timeToNextRepeat <= kClockTolerance) {
            timeToNextRepeat = repeatInterval;  // no catch-up for the overshoot
            SendAutoRepeat();
        }
    }
}

const WideString& LButton::GetToolTipText() const
{
    return GetClippedTextToolTip();
}

}  // namespace Orv
