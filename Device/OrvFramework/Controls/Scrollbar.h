#pragma once
// LScrollbar: a horizontal or vertical bar built from a track ("channel") with a draggable
// "thumb" inside it and two step buttons ("dec", "inc"). Its value is the control's position
// (0..1) mapped onto a value range; every change goes out as "NID_VALUE_CHANGE". A scroll view
// writes the steps and the visible fraction directly, then calls UpdateThumbSize.
//
// Lengths are in the channel's client units; steps and the visible fraction in units of the
// position. Timing runs on the application clock and the tree's idle ticks. UI thread only.

#include <cstdint>

#include "ControlBase/Control.h"
#include "Notification/NotificationHandler.h"

namespace Orv {

class LScrollbar : public LControl
{
public:
    LScrollbar(const RCPtr<LControl>& parent, const WideString& name);
    ~LScrollbar() override;

    // --- Overridden control slots
    // While the thumb is dragged the position waits until the drag ends (the current one is
    // returned); otherwise clamped to 0..1 and the thumb follows.
    double SetValue(double position) override;
    // Keeps the mapped value where it was as far as the new range allows. E_INVALIDARG (the old
    // range kept) for a scale other than 0 or 1, or a logarithmic range with a bound <= 0.
    ORVRESULT SetValueRange(double low, double high, int32_t scale) override;
    void OnClientRectChanged() override;
    void OnTick() override;
    ORVRESULT Initialize() override;
    ORVRESULT OnCreated() override;

    int OnNotification(const RCPtr<LNotificationDistributor>& sender,
                       const RCPtr<LNotification>& notification) override;
    ORVRESULT Unregister(const RCPtr<LNotificationDistributor>& source,
                         const char16_t* idText) override;
    ORVRESULT DropBackReferences() override;

    void UpdateThumbSize();
    void PlaceThumb();
    // Bit 0x01 Up, 0x02 Down, 0x04 Left, 0x08 Right, 0x10 Page Up, 0x20 Page Down, 0x40 Home,
    // 0x80 End. E_INVALIDARG for bits above the lowest 8 (which are kept all the same).
    ORVRESULT SetKeyMask(uint32_t mask);
    // 1 between the track start and the thumb, 2 between the thumb and the track end, else 0;
    // the point is in the channel's client coordinates.
    int32_t HitTrackZone(const PointD& point) const;

    bool IsVertical() const { return vertical != 0; }
    bool IsDragging() const { return dragging; }
    int32_t GetPageZone() const { return pageZone; }
    double GetThumbLength() const { return thumbLength; }
    double GetTrackStart() const { return trackStart; }
    double GetTrackEnd() const { return trackEnd; }
    double GetMinimumThumbLength() const { return minimumThumbLength; }
    const RCPtr<LControl>& GetThumb() const { return thumb; }
    // The part of the channel shown as being paged (channel client coordinates); empty when
    // nothing is paged.
    const RectL& GetPageHighlight() const { return pageHighlight; }

    // Written by the scroll view, then UpdateThumbSize.
    double lineStep = 0.02;
    double pageStep = 0.2;
    double visibleFraction = 0.1;

private:
    RCPtr<LControl> Channel() const;
    double ThumbStart() const;
    double ThumbSize() const;
    void MoveThumbTo(double offset);
    PointD PointerInChannel() const;
    bool IsPointerInPageZone() const;
    void UpdatePageHighlight();
    void ClearPageHighlight();
    void PageOnce();
    // The position the key selects, or a negative value when the key is not the bar's.
    double PositionForKey(uint32_t keyWord) const;

    int OnTrackPress(const RCPtr<LNotificationDistributor>& sender,
                     const RCPtr<LNotification>& notification);
    int OnTrackHover(const RCPtr<LNotificationDistributor>& sender,
                     const RCPtr<LNotification>& notification);
    int OnThumbMove(const RCPtr<LNotificationDistributor>& sender,
                    const RCPtr<LNotification>& notification);
    int OnThumbDrag(const RCPtr<LNotificationDistributor>& sender,
                    const RCPtr<LNotification>& notification);
    int OnStepButton(const RCPtr<LNotificationDistributor>& sender,
                     const RCPtr<LNotification>& notification);
    int OnBarSiblingKey(const RCPtr<LNotificationDistributor>& sender,
                        const RCPtr<LNotification>& notification);

    RCPtr<LNotificationHandler<LScrollbar>> barHandler;
    int32_t vertical = 1;
    RCPtr<LControl> thumb;
    double minimumThumbLength = 10.0;
    double thumbLength = 0;
    double trackStart = 0;
    double trackEnd = 0;
    double trackOffset = 0;
    bool dragging = false;
    int32_t grabOffset[2] = {0, 0};
    int32_t pageZone = 0;
    double pageRepeatInterval = 0.2;
    double firstPageDelay = 0.4;
    double lastPageTime = 0;
    double pageDelayRemaining = 0;
    double pendingValue = -1.0;
    bool applyPendingValue = true;
    uint32_t keyMask = 0;
    bool siblingKeysHooked = false;
    RectL pageHighlight{0, 0, 0, 0};
};

}  // namespace Orv
