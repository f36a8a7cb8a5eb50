#pragma once
// LScrollView: a control whose content (its children) may be larger than its client area. It
// keeps a client extent (set by the application or taken from the children), shows its "hBar"
// and "vBar" scroll bars only when the content does not fit, keeps the bars and the scroll
// offset in step both ways, and scrolls with the wheel. The skin's "corner" child decides how
// thick a shown bar is.
//
// Line mode (a line step of 1 pixel or more on an axis) makes the bar count lines instead of
// pixels. UI thread only.

#include <cstdint>

#include "ControlBase/Control.h"
#include "Notification/NotificationHandler.h"

namespace Orv {

class LScrollbar;

class LScrollView : public LControl
{
public:
    LScrollView(const RCPtr<LControl>& parent, const WideString& name);
    ~LScrollView() override;

    // --- Own virtual operations, after the control's
    /* 94 */ virtual void OnClientExtentChanged();
    /* 95 */ virtual void OnViewportChanged();
    // true for the vertical bar, false for the horizontal one.
    /* 96 */ virtual void OnScrollBarShownChanged(bool vertical);

    // --- Overridden control slots
    RectD CalcClientRect() override;
    void OnClientRectChanged() override;
    void OnScrollOffsetChanged(const PointD& oldOffset, const PointD& newOffset) override;
    bool OnChildRectChanged(const RCPtr<LControl>& child) override;
    void GetMaxSize(PointD& size) override;
    PointD SetScrollOffset(const PointD& offset) override;
    void GetScrollRange(RectD& range, const RCPtr<LControl>& asking) override;
    void GetClientBounds(RectD& bounds) override;
    void OnWindowAvailable() override;
    ORVRESULT ApplyDescriptor(const RCPtr<LControlDescriptor>& descriptor) override;
    ORVRESULT OnWheel(const RCPtr<LMouseWheelParam>& wheel) override;
    ORVRESULT OnHWheel(const RCPtr<LMouseWheelParam>& wheel) override;
    ORVRESULT Initialize() override;
    ORVRESULT ReadCreateParams() override;
    void GetVisibleClientRect(RectD& rect) override;

    int OnNotification(const RCPtr<LNotificationDistributor>& sender,
                       const RCPtr<LNotification>& notification) override;
    ORVRESULT Unregister(const RCPtr<LNotificationDistributor>& source,
                         const char16_t* idText) override;

    // 1 when both sizes equal the stored ones (within the double's epsilon); otherwise they are
    // stored, slot 94 runs and "NID_CLIENT_EXTENT_CHANGE" goes out. 0.
    ORVRESULT SetClientExtent(double width, double height);
    const PointD& GetClientExtent() const { return clientExtent; }
    // Bit 0: the width from the children, bit 1: the height; the margin is added. 0.
    ORVRESULT SetAutoClientExtent(int32_t mode, int32_t marginX, int32_t marginY);
    // Mode non-zero: the bar on that axis (0 x, 1 y) counts lines of lineStep pixels; a step
    // below 1 counts pixels all the same. E_INVALIDARG for another axis.
    ORVRESULT SetLineMode(int axis, int32_t mode, int32_t lineStep);
    // The space the bars take: the corner's size, else the vertical bar's width and the
    // horizontal bar's height.
    PointD GetScrollBarArea() const;
    // The extent from the children; 0 while auto extent is off, 1 unchanged, another mode 0.
    ORVRESULT UpdateAutoExtent();
    // 1 when called from inside itself, else 0.
    ORVRESULT UpdateBars();
    bool IsBarShown(bool vertical) const;
    const RCPtr<LScrollbar>& GetBar(bool vertical) const { return vertical ? vBar : hBar; }

protected:
    const RCPtr<LNotificationHandler<LScrollView>>& GetScrollViewHandler() const
    {
        return scrollHandler;
    }

private:
    void HookBars();
    void ShowBar(bool vertical, bool show);
    void UpdateScrollBars();
    void UpdateBarInPixels(bool vertical, const RectD& viewport);
    void UpdateBarInLines(bool vertical, const RectD& viewport);
    bool BarTakesSpace(bool vertical) const;
    int32_t LineStepOf(bool vertical) const;
    ORVRESULT WheelOn(const RCPtr<LScrollbar>& bar, const RCPtr<LMouseWheelParam>& wheel,
                      int32_t addCode);
    int OnBarValueChange(const RCPtr<LNotificationDistributor>& sender,
                         const RCPtr<LNotification>& notification);

    RCPtr<LNotificationHandler<LScrollView>> scrollHandler;
    bool updatingBars = false;
    bool scrolling = false;
    bool clientRectUpdate = false;
    RCPtr<LScrollbar> hBar;
    RCPtr<LScrollbar> vBar;
    RCPtr<LControl> corner;
    PointD clientExtent;
    PointD barThickness;  // x: the vertical bar's width, y: the horizontal bar's height
    int32_t lineMode[2] = {0, 0};
    int32_t lineStep[2] = {0, 0};
    int32_t autoExtentMode = 0;
    int32_t autoExtentMargin[2] = {0, 0};
};

}  // namespace Orv
