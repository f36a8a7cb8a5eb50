#include "Utilities/Graphics/Geometry.h"

#include <cmath>
#include <limits>

namespace Orv {
namespace {

constexpr double kLongMin = -2147483648.0;
constexpr double kLongMax = 2147483647.0;
constexpr double kExactIntegerLimit = 4503599627370496.0;  // 2^52
constexpr double kInt64Limit = 9223372036854775808.0;      // 2^63

LongCoord SaturatingAdd(LongCoord a, LongCoord b)
{
    const int64_t sum = static_cast<int64_t>(a) + b;
    if (sum > std::numeric_limits<LongCoord>::max()) {
        return std::numeric_limits<LongCoord>::max();
    }
    if (sum < std::numeric_limits<LongCoord>::min()) {
        return std::numeric_limits<LongCoord>::min();
    }
    return static_cast<LongCoord>(sum);
}

}  // namespace

LongCoord RoundToLong(double value)
{
    if (!(value >= kLongMin)) {
        return std::numeric_limits<LongCoord>::min();
    }
    if (value > kLongMax) {
        return std::numeric_limits<LongCoord>::max();
    }
    // std::round is exact; "v + 0.5, truncated" turns 0.49999999999999994 into 1.
    return static_cast<LongCoord>(std::round(value));
}

LongCoord TruncateToLong(double value)
{
    if (std::isnan(value)) {
        return 0;
    }
    if (value >= kLongMax) {
        return std::numeric_limits<LongCoord>::max();
    }
    if (value <= kLongMin) {
        return std::numeric_limits<LongCoord>::min();
    }
    return static_cast<LongCoord>(value);
}

double RoundHalfAwayFromZero(double value)
{
    if (std::isnan(value) || std::fabs(value) >= kExactIntegerLimit) {
        // Already whole (or not a number); converting through 64 bits would be undefined past 2^63.
        return value;
    }
    return std::round(value) + 0.0;  // + 0.0 turns -0.0 into +0.0
}

double RoundHalfAway(double value)
{
    if (std::isnan(value)) {
        return 0.0;
    }
    // The 64-bit limits as doubles: -2^63 exactly, and 2^63 - 1 which rounds to 2^63.
    if (value >= kInt64Limit) {
        return kInt64Limit;
    }
    if (value <= -kInt64Limit) {
        return -kInt64Limit;
    }
    // From 2^52 on every double is whole. Below, std::round is exact where "add one half and
    // truncate" is not (it turns 0.49999999999999994 into 1, 2^52 + 1 into 2^52 + 2).
    if (std::fabs(value) >= kExactIntegerLimit) {
        return value;
    }
    return std::round(value) + 0.0;  // + 0.0 turns -0.0 into +0.0
}

double LongToDouble(int64_t value)
{
    const double exact = static_cast<double>(value);
    if (exact > kExactIntegerLimit) {
        return kExactIntegerLimit;
    }
    if (exact < -kExactIntegerLimit) {
        return -kExactIntegerLimit;
    }
    return exact;
}

double FloorWithTolerance(double value)
{
    const double up = std::ceil(value);
    if (up != value && up - value <= std::fabs(up) * kAreaEpsilon<double>) {
        return up;
    }
    return std::floor(value);
}

RectL RoundToIntRect(const RectD& rect)
{
    return rect.ToLong();
}

PointL operator+(const PointL& point, const PointD& offset)
{
    const PointL rounded = offset.ToLong();
    return {SaturatingAdd(point.x, rounded.x), SaturatingAdd(point.y, rounded.y)};
}

}  // namespace Orv
