// A control's value: a position 0..1 mapped linearly or logarithmically onto a range, announced
// by "NID_VALUE_CHANGE".

#include <algorithm>
#include <cmath>

#include "ControlBase/Control.h"
#include "ControlBase/ValueParam.h"
#include "Notification/NotificationIdTexts.h"

namespace Orv {

namespace {

constexpr int32_t kLinear = 0;
constexpr int32_t kLogarithmic = 1;

}  // namespace

double LControl::SetValue(double position)
{
    // NaN passes any clamp and then differs from itself, so every call would announce a change:
    // it is no position at all.
    if (std::isnan(position)) {
        return valuePosition;
    }
    const double bounded = std::clamp(position, 0.0, 1.0);
    // A client may close the control, or let its last reference go, inside the notification.
    RCPtr<LControl> self;
    if (bounded != valuePosition) {
        self = HoldSelf();
        valuePosition = bounded;
        OnValueChanged();
        const RCPtr<LValueParam> payload(
            new LValueParam(valuePosition, ValueFromPosition(valuePosition)));
        SendNotification(CreateNotification(NID_VALUE_CHANGE, payload));
    }
    return valuePosition;
}

ORVRESULT LControl::SetValueRange(double low, double high, int32_t newScale)
{
    // Infinite or NaN bounds would make every mapped value NaN; a logarithm needs positive
    // bounds.
    if (!std::isfinite(low) || !std::isfinite(high)) {
        return E_INVALIDARG;
    }
    if (newScale != kLinear && !(newScale == kLogarithmic && low > 0 && high > 0)) {
        return E_INVALIDARG;
    }
    rangeLow = low;
    rangeHigh = high;
    scale = newScale;
    return S_OK;
}

double LControl::ValueFromPosition(double position) const
{
    if (scale == kLogarithmic) {
        return rangeLow * std::pow(rangeHigh / rangeLow, position);
    }
    return rangeLow + (rangeHigh - rangeLow) * position;
}

double LControl::PositionFromValue(double value) const
{
    const double bounded =
        std::clamp(value, std::min(rangeLow, rangeHigh), std::max(rangeLow, rangeHigh));
    if (rangeLow == rangeHigh) {
        return 0;
    }
    if (scale == kLogarithmic) {
        return std::log(bounded / rangeLow) / std::log(rangeHigh / rangeLow);
    }
    return (bounded - rangeLow) / (rangeHigh - rangeLow);
}

}  // namespace Orv
