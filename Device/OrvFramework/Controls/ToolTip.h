#pragma once
// LToolTip: the small text window shown beside the pointer over a control ("Framework.ToolTip").
// A control creates it as its "toolTip" child, gives it the text and arms it; the tip itself
// decides when it shows (after a delay, or at once when another tip was hidden just before),
// where it goes and when it disappears. Its parent closes it when it is hidden. UI thread only.

#include <cstdint>

#include "ControlBase/Control.h"
#include "ControlBase/ToolTipControl.h"

namespace Orv {

class LToolTip : public LControl, public IToolTipControl
{
public:
    enum State : int32_t
    {
        kIdle = 0,
        kWaiting = 1,  // for the show delay
        kShown = 2,
    };

    static constexpr uint32_t kShowDelayMs = 500;
    static constexpr uint32_t kShowTimeMs = 5000;
    // A tip armed less than this after another was hidden shows at once.
    static constexpr uint32_t kFollowOnMs = 50;
    static constexpr int32_t kPointerOffsetY = 20;
    static constexpr int32_t kWindowMargin = 8;

    LToolTip(const RCPtr<LControl>& parent, const WideString& name);
    ~LToolTip() override;

    // --- Overrides, in the base's slot order
    bool IsTransparentAt(int32_t x, int32_t y) override;
    void OnTick() override;
    ORVRESULT ReadCreateParams() override;
    ORVRESULT OnCreated() override;

    // Starts a tip that has just been created and given its text. 0.
    ORVRESULT Arm() override;
    // Ends it: its parent closes it. 0.
    ORVRESULT Hide() override;
    // Beside the pointer, inside the window.
    void PlaceAtPointer();

    int32_t GetState() const { return state; }
    uint32_t GetStateTime() const { return stateTime; }
    // When a visible tip was last hidden (application milliseconds), and whether one ever was.
    static uint32_t GetLastHideTime() { return lastHideTime; }
    static bool WasAnyHidden() { return hiddenOnce; }
    // A new session of tips: none was hidden yet.
    static void ForgetLastHide();

private:
    static uint32_t NowMs();

    int32_t state = kIdle;
    uint32_t stateTime = 0;  // application milliseconds when the state began

    // Shared by all tips. The clock may start at 0, so 0 cannot mean "never": the flag does.
    static uint32_t lastHideTime;
    static bool hiddenOnce;
};

}  // namespace Orv
