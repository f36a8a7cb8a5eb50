// The scroll view: extent, bars and offset kept in step.

#include "Controls/ScrollView.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include "ControlBase/ControlDescriptor.h"
#include "ControlBase/InputPayloads.h"
#include "ControlBase/LayoutDescriptor.h"
#include "ControlBase/StringTable.h"
#include "ControlBase/ValueParam.h"
#include "Controls/Scrollbar.h"
#include "Notification/NotificationForwarder.h"
#include "System/KeyCode.h"

namespace Orv {

namespace {

constexpr double kExtentEpsilon = 2.220446049250313e-15;
constexpr double kUnbounded = 4503599627370496.0;  // 2^52
constexpr int32_t kWheelVerticalNegative = 0;
constexpr int32_t kWheelHorizontalNegative = 2;

bool IsTrueParameter(const RCPtr<LStringTable>& parameters, const char16_t* id)
{
    WideString text;
    return parameters && parameters->GetString(id, text) && text.Trim().ToLower() == u"true";
}

// A line count from pixels: truncated, and held within int32 so that a huge extent over a small
// step cannot wrap round to a negative count.
int32_t LineCount(double pixels, int32_t step)
{
    const double lines = std::trunc(pixels / step);
    if (!(lines > 0)) {
        return 0;
    }
    return lines >= static_cast<double>(INT32_MAX) ? INT32_MAX : static_cast<int32_t>(lines);
}

}  // namespace

LScrollView::LScrollView(const RCPtr<LControl>& parent, const WideString& name)
    : LControl(parent, name)
{
}

LScrollView::~LScrollView() = default;

void LScrollView::OnClientExtentChanged()
{
    UpdateBars();
}

void LScrollView::OnViewportChanged() {}

void LScrollView::OnScrollBarShownChanged(bool) {}

ORVRESULT LScrollView::SetClientExtent(double width, double height)
{
    if (std::fabs(width - clientExtent.x) < kExtentEpsilon &&
        std::fabs(height - clientExtent.y) < kExtentEpsilon) {
        return 1;
    }
    const RCPtr<LControl> self = HoldSelf();
    clientExtent = PointD{width, height};
    OnClientExtentChanged();
    SendNotification(CreateNotification(u"NID_CLIENT_EXTENT_CHANGE"));
    return S_OK;
}

ORVRESULT LScrollView::SetAutoClientExtent(int32_t mode, int32_t marginX, int32_t marginY)
{
    autoExtentMode = mode;
    autoExtentMargin[0] = marginX;
    autoExtentMargin[1] = marginY;
    UpdateAutoExtent();
    return S_OK;
}

ORVRESULT LScrollView::SetLineMode(int axis, int32_t mode, int32_t step)
{
    if (axis != 0 && axis != 1) {
        return E_INVALIDARG;
    }
    lineMode[axis] = mode;
    lineStep[axis] = step;
    UpdateBars();
    return S_OK;
}

int32_t LScrollView::LineStepOf(bool vertical) const
{
    const int axis = vertical ? 1 : 0;
    // A step below one pixel would divide by zero or count more lines than pixels: such an axis
    // scrolls in pixels.
    return lineMode[axis] != 0 && lineStep[axis] >= 1 ? lineStep[axis] : 0;
}

PointD LScrollView::GetScrollBarArea() const
{
    if (corner) {
        return PointD{corner->GetRect().width, corner->GetRect().height};
    }
    return PointD{vBar ? vBar->GetRect().width : 0.0, hBar ? hBar->GetRect().height : 0.0};
}

bool LScrollView::IsBarShown(bool vertical) const
{
    const RCPtr<LScrollbar>& bar = vertical ? vBar : hBar;
    if (!bar || !bar->GetLayout()) {
        return false;
    }
    return bar->GetLayout()->isVisible && bar->GetRect().width > 0 && bar->GetRect().height > 0;
}

bool LScrollView::BarTakesSpace(bool vertical) const
{
    if (corner) {
        return vertical ? corner->GetRect().width > 0 : corner->GetRect().height > 0;
    }
    const RCPtr<LScrollbar>& bar = vertical ? vBar : hBar;
    return bar && (vertical ? bar->GetRect().width > 0 : bar->GetRect().height > 0);
}

void LScrollView::GetClientBounds(RectD& bounds)
{
    const RectD client = GetClientRect(-1);
    bounds = RectD{0, 0, client.width, client.height};
    if (IsBarShown(true)) {
        bounds.width -= corner ? corner->GetRect().width : vBar->GetRect().width;
    }
    if (IsBarShown(false)) {
        bounds.height -= corner ? corner->GetRect().height : hBar->GetRect().height;
    }
    bounds.width = std::max(bounds.width, 0.0);
    bounds.height = std::max(bounds.height, 0.0);
}

void LScrollView::GetScrollRange(RectD& range, const RCPtr<LControl>&)
{
    RectD viewport;
    GetClientBounds(viewport);
    range = RectD{0, 0, kUnbounded, kUnbounded};
    if (clientExtent.x > 0) {
        range.width = std::max(clientExtent.x - viewport.width, 0.0);
    }
    if (clientExtent.y > 0) {
        range.height = std::max(clientExtent.y - viewport.height, 0.0);
    }
}

namespace {

// The right and bottom edges of the children that are not docked on that axis, rounded.
PointD ChildrenExtent(const LControl& view)
{
    PointD extent{0, 0};
    const LControl::ChildControlList& children = view.GetChildren();
    for (uint32_t index = 0; index < children.GetCount(); ++index) {
        const RCPtr<LControl>& child =
            children.GetAt(index, LControl::ChildControlList::kInsertionOrder);
        const RCPtr<LLayoutDescriptor>& layout = child->GetLayout();
        const RectD& rect = child->GetRect();
        if (!layout || !layout->xIsDocked) {
            extent.x = std::max(extent.x, std::round(rect.x) + std::round(rect.width));
        }
        if (!layout || !layout->yIsDocked) {
            extent.y = std::max(extent.y, std::round(rect.y) + std::round(rect.height));
        }
    }
    return extent;
}

}  // namespace

void LScrollView::GetMaxSize(PointD& size)
{
    LControl::GetMaxSize(size);
    const RCPtr<LLayoutDescriptor>& layout = GetLayout();
    if (!layout || (!layout->xMaxSize.toControl && !layout->yMaxSize.toControl)) {
        return;
    }
    const PointD extent = ChildrenExtent(*this);
    if (layout->xMaxSize.toControl) {
        size.x = extent.x;
    }
    if (layout->yMaxSize.toControl) {
        size.y = extent.y;
    }
}

void LScrollView::GetVisibleClientRect(RectD& visible)
{
    const RectD client = GetClientRect(-1);
    const double wide = std::max(clientExtent.x, client.width);
    const double high = std::max(clientExtent.y, client.height);
    const PointD& offset = GetScrollOffset();
    RectL bounds{0, 0, 0, 0};
    ChildrenBounds(bounds);
    visible.x = std::max(offset.x - (wide - client.width) / 2, 0.0);
    visible.y = std::max(offset.y - (high - client.height) / 2, 0.0);
    visible.width = std::max(std::min(wide, static_cast<double>(bounds.x + bounds.width)), 1.0);
    visible.height = std::max(std::min(high, static_cast<double>(bounds.y + bounds.height)), 1.0);
}

ORVRESULT LScrollView::UpdateAutoExtent()
{
    if (autoExtentMode == 0) {
        return 1;
    }
    PointD extent = ChildrenExtent(*this);
    extent.x += autoExtentMargin[0];
    extent.y += autoExtentMargin[1];
    switch (autoExtentMode) {
        case 1:
            return SetClientExtent(extent.x, clientExtent.y);
        case 2:
            return SetClientExtent(clientExtent.x, extent.y);
        case 3:
            return SetClientExtent(extent.x, extent.y);
        default:
            return S_OK;
    }
}

ORVRESULT LScrollView::UpdateBars()
{
    if (updatingBars) {
        return 1;
    }
    const RCPtr<LControl> self = HoldSelf();
    updatingBars = true;
    const bool verticalBefore = BarTakesSpace(true);
    const bool horizontalBefore = BarTakesSpace(false);
    const bool verticalShownBefore = IsBarShown(true);
    const bool horizontalShownBefore = IsBarShown(false);
    RectD viewportBefore;
    GetClientBounds(viewportBefore);
    const double fullWidth = viewportBefore.width + (verticalBefore ? barThickness.x : 0.0);
    const double fullHeight = viewportBefore.height + (horizontalBefore ? barThickness.y : 0.0);
    UpdateAutoExtent();
    bool needVertical = clientExtent.y > fullHeight;
    const bool needHorizontal = clientExtent.x > fullWidth - (needVertical ? barThickness.x : 0.0);
    if (needHorizontal && !needVertical) {
        needVertical = clientExtent.y > fullHeight - barThickness.y;
    }
    ShowBar(true, needVertical);
    ShowBar(false, needHorizontal);
    UpdateScrollBars();
    if (IsBarShown(true) != verticalShownBefore) {
        OnScrollBarShownChanged(true);
    }
    if (IsBarShown(false) != horizontalShownBefore) {
        OnScrollBarShownChanged(false);
    }
    RectD viewportAfter;
    GetClientBounds(viewportAfter);
    if (viewportAfter.x != viewportBefore.x || viewportAfter.y != viewportBefore.y ||
        viewportAfter.width != viewportBefore.width ||
        viewportAfter.height != viewportBefore.height) {
        OnViewportChanged();
    }
    UpdateAutoExtent();
    updatingBars = false;
    return S_OK;
}

void LScrollView::ShowBar(bool vertical, bool show)
{
    const RCPtr<LScrollbar>& bar = vertical ? vBar : hBar;
    if (!bar || IsBarShown(vertical) == show) {
        return;
    }
    const RCPtr<LControl> placed = corner ? corner : RCPtr<LControl>(bar);
    const RCPtr<LLayoutDescriptor>& layout = placed->GetLayout();
    if (!layout) {
        return;
    }
    // The cross axis: a vertical bar's width, a horizontal bar's height.
    const int axis = vertical ? 0 : 1;
    AxisPositionSpec position;
    AxisSizeSpec size;
    layout->GetAxisPlacement(axis, position, size);
    size.reference = kSizeToSelf;
    size.referenceName = WideString();
    size.abs = show ? std::trunc(vertical ? barThickness.x : barThickness.y) : 0.0;
    placed->SetAxisLayout(axis, position, size);
}

void LScrollView::UpdateScrollBars()
{
    RectD viewport;
    GetClientBounds(viewport);
    for (const bool vertical : {false, true}) {
        const RCPtr<LScrollbar> bar = vertical ? vBar : hBar;
        if (!bar || !bar->GetParent()) {
            continue;
        }
        if (LineStepOf(vertical) != 0) {
            UpdateBarInLines(vertical, viewport);
        } else {
            UpdateBarInPixels(vertical, viewport);
        }
    }
}

void LScrollView::UpdateBarInPixels(bool vertical, const RectD& viewport)
{
    const RCPtr<LScrollbar> bar = vertical ? vBar : hBar;
    const double visible = vertical ? viewport.height : viewport.width;
    const double extent = vertical ? clientExtent.y : clientExtent.x;
    double visibleFraction = 1;
    double pageFraction = 1;
    if (extent > visible) {
        visibleFraction = visible / extent;
        pageFraction = std::clamp(visible / (extent - visible), 0.0, 1.0);
    }
    const double travel = std::max(extent - visible, 0.0);
    bar->SetValueRange(0, travel, 0);
    bar->visibleFraction = visibleFraction;
    bar->UpdateThumbSize();
    bar->pageStep = pageFraction;
    bar->lineStep = pageFraction / 10;
    const double target = std::max(RoundHalfAwayFromZero(travel * bar->GetValuePosition()), 0.0);
    const PointD& offset = GetScrollOffset();
    if (target != (vertical ? offset.y : offset.x)) {
        SetScrollOffset(vertical ? PointD{offset.x, target} : PointD{target, offset.y});
    }
}

void LScrollView::UpdateBarInLines(bool vertical, const RectD& viewport)
{
    const RCPtr<LScrollbar> bar = vertical ? vBar : hBar;
    const int32_t step = LineStepOf(vertical);
    const int32_t lines = LineCount(vertical ? clientExtent.y : clientExtent.x, step);
    const int32_t fit = LineCount(vertical ? viewport.height : viewport.width, step);
    const bool scrolls = lines > fit;
    const double travel = scrolls ? static_cast<double>(lines) - fit : 0.0;
    bar->lineStep = scrolls ? 1.0 / travel : 1.0;
    bar->pageStep = std::min(fit * bar->lineStep, 1.0);
    bar->visibleFraction = scrolls ? static_cast<double>(fit) / lines : 1.0;
    bar->UpdateThumbSize();
    const double value = std::clamp(bar->ValueFromPosition(bar->GetValuePosition()), 0.0, travel);
    bar->SetValueRange(0, travel, 0);
    bar->SetValue(bar->PositionFromValue(value));
}

int LScrollView::OnBarValueChange(const RCPtr<LNotificationDistributor>& sender,
                                  const RCPtr<LNotification>&)
{
    const bool vertical = sender.Get() == static_cast<LNotificationDistributor*>(vBar.Get());
    const RCPtr<LScrollbar> bar = vertical ? vBar : hBar;
    if (!bar) {
        return 1;
    }
    const double value = bar->ValueFromPosition(bar->GetValuePosition());
    const int32_t step = LineStepOf(vertical);
    const double moved = step != 0 ? std::trunc(value) * step : RoundHalfAwayFromZero(value);
    const PointD& offset = GetScrollOffset();
    SetScrollOffset(vertical ? PointD{offset.x, moved} : PointD{moved, offset.y});
    return 1;
}

void LScrollView::OnScrollOffsetChanged(const PointD& oldOffset, const PointD& newOffset)
{
    RectD viewport;
    GetClientBounds(viewport);
    for (const bool vertical : {false, true}) {
        const RCPtr<LScrollbar> bar = vertical ? vBar : hBar;
        if (!bar) {
            continue;
        }
        const double travel = std::max(
            vertical ? clientExtent.y - viewport.height : clientExtent.x - viewport.width, 0.0);
        const double position = travel > 0 ? (vertical ? newOffset.y : newOffset.x) / travel : 0.0;
        const RCPtr<LNotificationDistributor> source(bar);
        if (scrollHandler && scrollHandler->HasHandler(source, u"NID_VALUE_CHANGE")) {
            // The bar's answer would only bring the same offset back.
            const CAutoNotificationDisabler<LScrollView> quiet(scrollHandler, source,
                                                               u"NID_VALUE_CHANGE");
            bar->SetValue(position);
        } else {
            bar->SetValue(position);
        }
    }
    LControl::OnScrollOffsetChanged(oldOffset, newOffset);
}

PointD LScrollView::SetScrollOffset(const PointD& offset)
{
    const RCPtr<LControl> self = HoldSelf();
    const bool saved = scrolling;
    scrolling = true;
    const PointD result = LControl::SetScrollOffset(offset);
    scrolling = saved;
    return result;
}

bool LScrollView::OnChildRectChanged(const RCPtr<LControl>& child)
{
    if (!updatingBars && !scrolling && !clientRectUpdate) {
        const LLayoutDescriptor* layout = child ? child->GetLayout().Get() : nullptr;
        if (layout && layout->xIsDocked && layout->yIsDocked) {
            UpdateBars();
        } else {
            UpdateAutoExtent();
        }
    }
    return LControl::OnChildRectChanged(child);
}

RectD LScrollView::CalcClientRect()
{
    clientRectUpdate = true;
    return LControl::CalcClientRect();
}

void LScrollView::OnClientRectChanged()
{
    LControl::OnClientRectChanged();
    clientRectUpdate = false;
    UpdateAutoExtent();
    UpdateBars();
}

void LScrollView::OnWindowAvailable()
{
    LControl::OnWindowAvailable();
    if (GetRootWindowRef()) {
        UpdateAutoExtent();
    }
}

ORVRESULT LScrollView::ApplyDescriptor(const RCPtr<LControlDescriptor>& descriptor)
{
    if (!GetDescriptor()) {
        return LControl::ApplyDescriptor(descriptor);
    }
    const int32_t mode = autoExtentMode;
    autoExtentMode = 0;
    const ORVRESULT result = LControl::ApplyDescriptor(descriptor);
    HookBars();
    autoExtentMode = mode;
    UpdateAutoExtent();
    UpdateBars();
    OnClientRectChanged();
    return result;
}

ORVRESULT LScrollView::WheelOn(const RCPtr<LScrollbar>& bar, const RCPtr<LMouseWheelParam>& wheel,
                               int32_t addCode)
{
    const double step =
        (wheel->modifiers & KeyModifier::kShift) != 0 ? bar->pageStep : bar->lineStep;
    const double position = bar->GetValuePosition();
    bar->SetValue(wheel->wheelCode == addCode ? position + step : position - step);
    return S_OK;
}

ORVRESULT LScrollView::OnWheel(const RCPtr<LMouseWheelParam>& wheel)
{
    const bool vertical = IsBarShown(true);
    const bool horizontal = IsBarShown(false);
    if (!wheel || (!vertical && !horizontal)) {
        return 1;
    }
    const bool useHorizontal =
        !vertical || (horizontal && (wheel->modifiers & KeyModifier::kAlt) != 0);
    return WheelOn(useHorizontal ? hBar : vBar, wheel, kWheelVerticalNegative);
}

ORVRESULT LScrollView::OnHWheel(const RCPtr<LMouseWheelParam>& wheel)
{
    const bool vertical = IsBarShown(true);
    const bool horizontal = IsBarShown(false);
    if (!wheel || (!vertical && !horizontal)) {
        return 1;
    }
    return WheelOn(horizontal ? hBar : vBar, wheel, kWheelHorizontalNegative);
}

ORVRESULT LScrollView::Initialize()
{
    const ORVRESULT result = LControl::Initialize();
    if (ORV_FAILED(result)) {
        return result;
    }
    scrollHandler =
        RCPtr<LNotificationHandler<LScrollView>>(new LNotificationHandler<LScrollView>(this));
    corner = FindChild(u"corner");
    hBar = RCPtr<LScrollbar>(dynamic_cast<LScrollbar*>(FindChild(u"hBar").Get()));
    vBar = RCPtr<LScrollbar>(dynamic_cast<LScrollbar*>(FindChild(u"vBar").Get()));
    HookBars();
    return S_OK;
}

void LScrollView::HookBars()
{
    barThickness = PointD{0, 0};
    if (corner && corner->GetDescriptor() && corner->GetDescriptor()->layout) {
        barThickness.x = corner->GetDescriptor()->layout->xSize.abs;
        barThickness.y = corner->GetDescriptor()->layout->ySize.abs;
    }
    for (const bool vertical : {false, true}) {
        const RCPtr<LScrollbar>& bar = vertical ? vBar : hBar;
        if (!bar) {
            continue;
        }
        if (!IsCreated() && scrollHandler) {
            scrollHandler->AddHandler(&LScrollView::OnBarValueChange,
                                      RCPtr<LNotificationDistributor>(bar), u"NID_VALUE_CHANGE");
        }
        double& thickness = vertical ? barThickness.x : barThickness.y;
        if (thickness == 0) {
            thickness = vertical ? bar->GetRect().width : bar->GetRect().height;
        }
    }
    UpdateBars();
}

ORVRESULT LScrollView::ReadCreateParams()
{
    const ORVRESULT result = LControl::ReadCreateParams();
    const RCPtr<LControlDescriptor>& descriptor = GetDescriptor();
    const RCPtr<LStringTable> parameters = descriptor ? descriptor->createParams : nullptr;
    if (parameters) {
        int32_t mode = 0;
        if (IsTrueParameter(parameters, u"AUTO_CLIENT_EXTENT_X")) {
            mode |= 1;
        }
        if (IsTrueParameter(parameters, u"AUTO_CLIENT_EXTENT_Y")) {
            mode |= 2;
        }
        autoExtentMode = mode;
        autoExtentMargin[0] = 0;
        autoExtentMargin[1] = 0;
        UpdateAutoExtent();
    }
    return result;
}

int LScrollView::OnNotification(const RCPtr<LNotificationDistributor>& sender,
                                const RCPtr<LNotification>& notification)
{
    return NotificationForwarder(IsCreated(), sender, notification, scrollHandler,
                                 GetNotificationHandler());
}

ORVRESULT LScrollView::Unregister(const RCPtr<LNotificationDistributor>& source,
                                  const char16_t* idText)
{
    return UnregisterForwarder(*this, source, idText, scrollHandler, GetNotificationHandler());
}

}  // namespace Orv
