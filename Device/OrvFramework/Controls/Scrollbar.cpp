// The scroll bar: thumb placement, paging, dragging, step buttons and keys.

#include "Controls/Scrollbar.h"

#include <algorithm>
#include <cmath>

#include "Application/FrameworkApp.h"
#include "ControlBase/ConditionsParam.h"
#include "ControlBase/InputPayloads.h"
#include "ControlBase/LayoutDescriptor.h"
#include "ControlBase/Look.h"
#include "ControlBase/RootWindow.h"
#include "ControlBase/SiblingKeyParam.h"
#include "Controls/Button.h"
#include "Notification/NotificationForwarder.h"

namespace Orv {

namespace {

constexpr double kCoordinateLimit = 4503599627370496.0;  // 2^52

double Now()
{
    LFrameworkApp* application = GetFrameworkApp();
    return application ? application->GetTimeSeconds() : 0.0;
}

double ClampCoordinate(double value)
{
    return std::clamp(value, -kCoordinateLimit, kCoordinateLimit);
}

bool Rose(const LConditionsParam& conditions, ControlConditions bit)
{
    return (conditions.newConditions & bit) != 0 && (conditions.oldConditions & bit) == 0;
}

bool Fell(const LConditionsParam& conditions, ControlConditions bit)
{
    return (conditions.newConditions & bit) == 0 && (conditions.oldConditions & bit) != 0;
}

const LConditionsParam* ConditionsOf(const RCPtr<LNotification>& notification)
{
    return notification ? dynamic_cast<const LConditionsParam*>(notification->parameter.Get())
                        : nullptr;
}

}  // namespace

LScrollbar::LScrollbar(const RCPtr<LControl>& parent, const WideString& name)
    : LControl(parent, name)
{
    LControl::SetValueRange(0.0, 100.0, 0);
}

LScrollbar::~LScrollbar() = default;

ORVRESULT LScrollbar::DropBackReferences()
{
    // The thumb is a grandchild: held here, it would keep its channel, and so itself, alive.
    thumb = nullptr;
    return LControl::DropBackReferences();
}

RCPtr<LControl> LScrollbar::Channel() const
{
    return FindChild(u"channel");
}

double LScrollbar::ThumbStart() const
{
    return thumb ? (vertical ? thumb->GetRect().y : thumb->GetRect().x) : 0.0;
}

double LScrollbar::ThumbSize() const
{
    return thumb ? (vertical ? thumb->GetRect().height : thumb->GetRect().width) : 0.0;
}

double LScrollbar::SetValue(double position)
{
    if (dragging) {
        pendingValue = position;
        return GetValuePosition();
    }
    const RCPtr<LControl> self = HoldSelf();
    LControl::SetValue(std::clamp(position, 0.0, 1.0));
    PlaceThumb();
    return GetValuePosition();
}

ORVRESULT LScrollbar::SetValueRange(double low, double high, int32_t newScale)
{
    const double value = ValueFromPosition(GetValuePosition());
    ORVRESULT result = S_OK;
    if (newScale == 0 || (newScale == 1 && low > 0 && high > 0)) {
        LControl::SetValueRange(low, high, newScale);
    } else {
        result = E_INVALIDARG;
    }
    SetValue(PositionFromValue(value));
    PlaceThumb();
    return result;
}

void LScrollbar::OnClientRectChanged()
{
    const RCPtr<LControl> channel = Channel();
    if (!thumb || !channel) {
        return;
    }
    const RectD client = channel->GetClientRect(-1);
    trackOffset = vertical ? channel->GetRect().y + client.y : channel->GetRect().x + client.x;
    trackStart = 0;
    trackEnd = vertical ? client.height : client.width;
    UpdateThumbSize();
    PlaceThumb();
}

void LScrollbar::UpdateThumbSize()
{
    thumbLength =
        std::trunc(std::max(minimumThumbLength, (trackEnd - trackStart) * visibleFraction) + 0.5);
    if (thumb && thumb->GetLayout()) {
        const int axis = vertical ? 1 : 0;
        AxisPositionSpec position;
        AxisSizeSpec size;
        thumb->GetLayout()->GetAxisPlacement(axis, position, size);
        if (size.reference != kSizeToSelf || size.abs != thumbLength) {
            size.reference = kSizeToSelf;
            size.referenceName = WideString();
            size.rel = 0;
            size.abs = thumbLength;
            thumb->SetAxisLayout(axis, position, size);
        }
    }
    PlaceThumb();
}

void LScrollbar::MoveThumbTo(double offset)
{
    if (!thumb || !thumb->GetLayout()) {
        return;
    }
    const int axis = vertical ? 1 : 0;
    AxisPositionSpec position;
    AxisSizeSpec size;
    thumb->GetLayout()->GetAxisPlacement(axis, position, size);
    position.abs = offset;
    thumb->SetAxisLayout(axis, position, size);
}

void LScrollbar::PlaceThumb()
{
    if (dragging || !thumb) {
        return;
    }
    // A thumb as long as the track (or longer) has nowhere to travel: it stays at the start.
    const double travel = std::max(trackEnd - trackStart - thumbLength, 0.0);
    const double offset = RoundHalfAwayFromZero(travel * GetValuePosition() + trackStart);
    if (offset != ThumbStart()) {
        MoveThumbTo(offset);
    }
}

ORVRESULT LScrollbar::SetKeyMask(uint32_t mask)
{
    if (mask != 0 && !siblingKeysHooked && barHandler) {
        siblingKeysHooked = true;
        // A bar without parent has nobody to hear keys from; keys handed to it still arrive.
        if (const RCPtr<LControl> up = GetParent()) {
            barHandler->AddHandler(&LScrollbar::OnBarSiblingKey,
                                   RCPtr<LNotificationDistributor>(up), u"NID_SIBLING_KEY");
        }
        barHandler->AddDirectHandler(&LScrollbar::OnBarSiblingKey, u"NID_SIBLING_KEY");
    }
    keyMask = mask & 0xFFu;
    return (mask & ~0xFFu) != 0 ? E_INVALIDARG : S_OK;
}

int32_t LScrollbar::HitTrackZone(const PointD& point) const
{
    const double at = vertical ? point.y : point.x;
    const double start = ThumbStart();
    if (trackStart <= at && at <= start) {
        return 1;
    }
    if (start + ThumbSize() <= at && at <= trackEnd) {
        return 2;
    }
    return 0;
}

ORVRESULT LScrollbar::Initialize()
{
    if (ORV_FAILED(LControl::Initialize())) {
        return E_FAIL;
    }
    barHandler =
        RCPtr<LNotificationHandler<LScrollbar>>(new LNotificationHandler<LScrollbar>(this));
    if (const RCPtr<LControl> channel = Channel()) {
        const RCPtr<LNotificationDistributor> source(channel);
        barHandler->AddHandler(&LScrollbar::OnTrackPress, source,
                               u"NID_LEFT_DRAG_CONDITION_CHANGE");
        barHandler->AddHandler(&LScrollbar::OnTrackHover, source, u"NID_HOVER_CONDITION_CHANGE");
        thumb = channel->FindChild(u"thumb");
        if (thumb) {
            // The thumb keeps looking held while a drag takes the pointer off it.
            if (auto* thumbButton = dynamic_cast<LButton*>(thumb.Get())) {
                thumbButton->pressedLookOutside = true;
            }
            const RCPtr<LNotificationDistributor> thumbSource(thumb);
            barHandler->AddHandler(&LScrollbar::OnThumbMove, thumbSource, u"NID_MOUSE_MOVE");
            barHandler->AddHandler(&LScrollbar::OnThumbDrag, thumbSource,
                                   u"NID_LEFT_DRAG_CONDITION_CHANGE");
        }
    }
    const RCPtr<LControl> dec = FindChild(u"dec");
    const RCPtr<LControl> inc = FindChild(u"inc");
    for (const RCPtr<LControl>& step : {dec, inc}) {
        if (step) {
            barHandler->AddHandler(&LScrollbar::OnStepButton, RCPtr<LNotificationDistributor>(step),
                                   u"NID_BUTTON_AUTOREPEAT");
            // Held, a step button repeats on the button's own timing.
            if (auto* stepButton = dynamic_cast<LButton*>(step.Get())) {
                stepButton->autoRepeat = true;
                stepButton->repeating = false;
            }
        }
    }
    if (dec && inc) {
        vertical =
            (inc->GetRect().x - dec->GetRect().x) <= (inc->GetRect().y - dec->GetRect().y) ? 1 : 0;
    }
    OnClientRectChanged();
    SetKeyMask(0xFF);
    return S_OK;
}

ORVRESULT LScrollbar::OnCreated()
{
    const RCPtr<LControl> channel = Channel();
    for (const RCPtr<LControl>& part :
         {RCPtr<LControl>(this), FindChild(u"dec"), FindChild(u"inc"), channel, thumb}) {
        if (part) {
            part->SetNotFocusable(true);
        }
    }
    if (thumb) {
        minimumThumbLength = vertical ? thumb->GetRect().width : thumb->GetRect().height;
    }
    OnClientRectChanged();
    return S_OK;
}

PointD LScrollbar::PointerInChannel() const
{
    const RCPtr<LControl> channel = Channel();
    const RCPtr<LRootWindow> window = channel ? channel->GetRootWindowRef() : nullptr;
    if (!window) {
        return PointD{-kCoordinateLimit, -kCoordinateLimit};
    }
    const PointL cursor = window->GetCursorPosition();
    const RCPtr<LControl> top = channel->GetTopLevelControl();
    const PointD origin = channel->GetWindowOrigin();
    const RectD client = channel->GetClientRect(-1);
    return PointD{
        ClampCoordinate(cursor.x - RoundHalfAwayFromZero(top->GetRect().x) - origin.x - client.x),
        ClampCoordinate(cursor.y - RoundHalfAwayFromZero(top->GetRect().y) - origin.y - client.y)};
}

bool LScrollbar::IsPointerInPageZone() const
{
    const RCPtr<LControl> channel = Channel();
    return channel && pageZone != 0 &&
           (channel->ComputeConditions() & kConditionHoverOrForced) != 0 &&
           HitTrackZone(PointerInChannel()) == pageZone;
}

void LScrollbar::UpdatePageHighlight()
{
    const RCPtr<LControl> channel = Channel();
    if (!channel || !IsPointerInPageZone()) {
        ClearPageHighlight();
        return;
    }
    const RectD client = channel->GetClientRect(-1);
    const double from = pageZone == 1 ? 0.0 : ThumbStart() + ThumbSize();
    const double to = pageZone == 1 ? ThumbStart() : (vertical ? client.height : client.width);
    const RectD zone = vertical ? RectD{0, from, client.width, to - from}
                                : RectD{from, 0, to - from, client.height};
    pageHighlight = RoundToIntRect(zone);
    channel->SetLookWeight(1, 1.0f, false);
    const RCPtrArray<LLook>& looks = channel->GetLooks();
    if (looks.GetCount() > 1 && looks.GetData()[1]) {
        RectRegion& region = looks.GetData()[1]->GetRegion();
        region.Clear();
        region.AddRectRounded(RectD{zone.x + client.x, zone.y + client.y, zone.width, zone.height});
        channel->SetLookRegionToComplement(0, 1);
    }
}

void LScrollbar::ClearPageHighlight()
{
    pageHighlight = RectL{0, 0, 0, 0};
    if (const RCPtr<LControl> channel = Channel()) {
        channel->ClearLookRegions();
        channel->SetLookWeight(0, 1.0f, true);
    }
}

void LScrollbar::PageOnce()
{
    const double position = GetValuePosition();
    SetValue(pageZone == 1 ? position - pageStep : position + pageStep);
}

int LScrollbar::OnTrackPress(const RCPtr<LNotificationDistributor>&,
                             const RCPtr<LNotification>& notification)
{
    const LConditionsParam* conditions = ConditionsOf(notification);
    const RCPtr<LControl> channel = Channel();
    if (conditions == nullptr || !channel) {
        return 1;
    }
    const RCPtr<LControl> self = HoldSelf();
    if (Rose(*conditions, kConditionLeftPressed)) {
        const RectD client = channel->GetClientRect(-1);
        const PointD press{ClampCoordinate(conditions->point.x - channel->GetRect().x - client.x),
                           ClampCoordinate(conditions->point.y - channel->GetRect().y - client.y)};
        pageZone = HitTrackZone(press);
        if (pageZone != 0) {
            PageOnce();
            UpdatePageHighlight();
            lastPageTime = Now();
            pageDelayRemaining = firstPageDelay;
            RequestIdle();
        }
    } else if (Fell(*conditions, kConditionCapture) && pageZone != 0) {
        pageZone = 0;
        ClearPageHighlight();
        ReleaseIdle();
    }
    if (pageZone != 0) {
        UpdatePageHighlight();
    }
    return 1;
}

int LScrollbar::OnTrackHover(const RCPtr<LNotificationDistributor>&,
                             const RCPtr<LNotification>& notification)
{
    const LConditionsParam* conditions = ConditionsOf(notification);
    if (conditions == nullptr) {
        return 1;
    }
    if (Rose(*conditions, kConditionHoverOrForced)) {
        // Time spent off the channel does not count towards the next page.
        lastPageTime = Now();
    }
    if (pageZone != 0) {
        UpdatePageHighlight();
    }
    return 1;
}

void LScrollbar::OnTick()
{
    if (pageZone == 0 || !IsPointerInPageZone()) {
        return;
    }
    const double now = Now();
    pageDelayRemaining -= now - lastPageTime;
    lastPageTime = now;
    // The clock counts seconds since far back, so differences of it are off by a few ulps (about
    // a nanosecond): a delay met to within a microsecond is met, or the page waits a tick more.
    if (pageDelayRemaining <= 1e-6) {
        pageDelayRemaining = pageRepeatInterval;
        PageOnce();
        UpdatePageHighlight();
    }
}

int LScrollbar::OnThumbDrag(const RCPtr<LNotificationDistributor>&,
                            const RCPtr<LNotification>& notification)
{
    const LConditionsParam* conditions = ConditionsOf(notification);
    if (conditions == nullptr || !thumb) {
        return 1;
    }
    if (Rose(*conditions, kConditionLeftDrag)) {
        dragging = true;
        // The press point is in the channel's content coordinates, as is the thumb's rectangle.
        grabOffset[0] = static_cast<int32_t>(
            RoundHalfAwayFromZero(ClampCoordinate(conditions->point.x - thumb->GetRect().x)));
        grabOffset[1] = static_cast<int32_t>(
            RoundHalfAwayFromZero(ClampCoordinate(conditions->point.y - thumb->GetRect().y)));
        pendingValue = -1.0;
    } else if (Fell(*conditions, kConditionLeftDrag)) {
        dragging = false;
        const RCPtr<LControl> self = HoldSelf();
        if (applyPendingValue && pendingValue >= 0.0 && pendingValue <= 1.0) {
            LControl::SetValue(pendingValue);
            PlaceThumb();
        }
        pendingValue = -1.0;
    }
    return 1;
}

int LScrollbar::OnThumbMove(const RCPtr<LNotificationDistributor>&,
                            const RCPtr<LNotification>& notification)
{
    const auto* point =
        notification ? dynamic_cast<const LPointWithModifiersParam*>(notification->parameter.Get())
                     : nullptr;
    if (!dragging || point == nullptr || !thumb) {
        return 0;
    }
    // The move is in the thumb's own coordinates; the thumb's rectangle is in the channel's.
    const double along =
        (vertical ? thumb->GetRect().y + point->y : thumb->GetRect().x + point->x) -
        grabOffset[vertical ? 1 : 0];
    const double last = std::max(trackEnd - thumbLength, trackStart);
    const double offset = std::clamp(std::trunc(ClampCoordinate(along)), trackStart, last);
    if (offset == ThumbStart()) {
        return 0;
    }
    const RCPtr<LControl> self = HoldSelf();
    MoveThumbTo(offset);
    const double travel = trackEnd - trackStart - thumbLength;
    // A thumb as long as the track has no travel: the position stays where it was.
    if (travel > 0) {
        LControl::SetValue(std::clamp((offset - trackStart) / travel, 0.0, 1.0));
    }
    PlaceThumb();
    return 0;
}

int LScrollbar::OnStepButton(const RCPtr<LNotificationDistributor>& sender,
                             const RCPtr<LNotification>&)
{
    const auto* button = dynamic_cast<const LControl*>(sender.Get());
    if (button == nullptr) {
        return 1;
    }
    const double position = GetValuePosition();
    if (button->GetName() == u"dec") {
        SetValue(position - lineStep);
    } else if (button->GetName() == u"inc") {
        SetValue(position + lineStep);
    }
    return 1;
}

double LScrollbar::PositionForKey(uint32_t keyWord) const
{
    struct KeyRule
    {
        uint32_t word;
        uint32_t maskBit;
        int32_t orientation;  // 1 vertical, 0 horizontal, -1 either
        int32_t kind;         // -1/+1 line, -2/+2 page, 3 start, 4 end
    };
    static constexpr KeyRule kRules[] = {
        {0x20260000u, 0x01, 1, -1}, {0x20280000u, 0x02, 1, 1},  {0x20250000u, 0x04, 0, -1},
        {0x20270000u, 0x08, 0, 1},  {0x20210000u, 0x10, 1, -2}, {0x20220000u, 0x20, 1, 2},
        {0x20240000u, 0x40, -1, 3}, {0x20230000u, 0x80, -1, 4},
    };
    const double position = GetValuePosition();
    for (const KeyRule& rule : kRules) {
        if (rule.word != keyWord || (keyMask & rule.maskBit) == 0 ||
            (rule.orientation >= 0 && rule.orientation != vertical)) {
            continue;
        }
        switch (rule.kind) {
            case -1:
                return std::max(position - lineStep, 0.0);
            case 1:
                return position + lineStep;
            case -2:
                return std::max(position - pageStep, 0.0);
            case 2:
                return position + pageStep;
            case 3:
                return 0.0;
            default:
                return 1.0;
        }
    }
    return -1.0;
}

int LScrollbar::OnBarSiblingKey(const RCPtr<LNotificationDistributor>&,
                                const RCPtr<LNotification>& notification)
{
    auto* offer =
        notification ? dynamic_cast<LSiblingKeyParam*>(notification->parameter.Get()) : nullptr;
    if (offer == nullptr || !IsVisible(true)) {
        return 0;
    }
    const double position = PositionForKey(offer->key.code);
    if (position < 0) {
        return 0;
    }
    const RCPtr<LControl> self = HoldSelf();
    SetValue(position);
    offer->result = 0;
    return 0;
}

int LScrollbar::OnNotification(const RCPtr<LNotificationDistributor>& sender,
                               const RCPtr<LNotification>& notification)
{
    return NotificationForwarder(IsCreated(), sender, notification, barHandler,
                                 GetNotificationHandler());
}

ORVRESULT LScrollbar::Unregister(const RCPtr<LNotificationDistributor>& source,
                                 const char16_t* idText)
{
    return UnregisterForwarder(*this, source, idText, barHandler, GetNotificationHandler());
}

}  // namespace Orv
