#pragma once
// LButton: the framework's push button ("Framework.Button"). One class serves as push, toggle,
// radio and auto-repeating button, and as the building block of composite controls (scroll-bar
// arrows and thumb, slider thumb, column headers, tab buttons, the check box of checked rows).
//
// Its value is the control's value; "checked" means value >= 0.5. A radio group is every radio
// button under the same parent. Owners write the four public flags directly after creating or
// finding the button. UI thread only.

#include "ControlBase/Control.h"
#include "ControlBase/InputPayloads.h"
#include "Notification/NotificationHandler.h"

namespace Orv {

class LButton : public LControl
{
public:
    LButton(const RCPtr<LControl>& parent, const WideString& name);
    ~LButton() override;

    // --- Overrides, in the base's slot order
    void OnValueChanged() override;
    void OnConditionsChanged(const RCPtr<LConditionsParam>& conditions) override;
    void SetEnabled(bool enabled) override;
    void OnLeftClickHook(const RCPtr<LMouseButtonParam>& button) override;
    int32_t ContainsPoint(const PointL& point) override;
    ORVRESULT OnKeyHook(const RCPtr<LKeyParam>& key) override;
    void OnTick() override;
    ORVRESULT Initialize() override;
    const WideString& GetToolTipText() const override;

    // --- The button's own slots, after the base's last one
    virtual ORVRESULT SetAutoValueSet(bool set);
    virtual ORVRESULT SetRadio(bool set);
    // The value becomes 1 or 0; whether the button is checked now.
    virtual bool SetChecked(bool checked);
    // Selects the look of the current state, unless the owner draws it or a simulated click
    // shows its press.
    virtual ORVRESULT UpdateLook();

    // Presses the button by program: the pressed look for simulatedClickTime, then one click.
    // A click still running is completed first.
    void SimulateClick();

    int OnNotification(const RCPtr<LNotificationDistributor>& sender,
                       const RCPtr<LNotification>& notification) override;
    ORVRESULT Unregister(const RCPtr<LNotificationDistributor>& source,
                         const char16_t* idText) override;

    bool IsAutoValueSet() const { return autoValueSet; }
    bool IsRadio() const { return radio; }
    bool IsSimulatedClickActive() const { return simulatedClickActive; }

private:
    int OnSimulateClickNotification(const RCPtr<LNotificationDistributor>& sender,
                                    const RCPtr<LNotification>& notification);
    // The end of a simulated click: the look back, the repeat (auto-repeat buttons) and the
    // synthesized left click.
    void CompleteSimulatedClick();
    void SendAutoRepeat();
    double Now() const;

    RCPtr<LNotificationHandler<LButton>> handler;
    bool autoValueSet = false;
    bool radio = false;

public:
    bool autoRepeat = false;          // send "NID_BUTTON_AUTOREPEAT" while held
    bool externalLook = false;        // the owner selects the look; pointer hits pass through
    bool repeating = false;           // an auto-repeat is in progress
    bool pressedLookOutside = false;  // a press dragged outside keeps the pressed look

private:
    double repeatInterval = 0.1;       // seconds between repeats
    double repeatDelay = 0.3;          // seconds from the first notification to the first repeat
    double lastTickTime = 0;           // seconds, application clock
    double timeToNextRepeat = 0;       // seconds
    double simulatedClickTime = 0.15;  // seconds the simulated press shows
    double simulatedClickStart = 0;    // seconds, application clock
    bool simulatedClickActive = false;
};

}  // namespace Orv
