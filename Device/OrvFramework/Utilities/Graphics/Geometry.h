#pragma once
// Points and rectangles. Layout works in floating-point coordinates; windows and pixels need
// whole ones. One rule turns the first into the second everywhere: round half away from zero and
// saturate at the 32-bit limits instead of wrapping. The reverse conversion is exact.

#include <cstdint>

namespace Orv {

// The integer coordinate: 32 bits, as the platform's LONG (not the host's long).
using LongCoord = int32_t;

// The integer rule for one value: NaN and everything below -2^31 give -2147483648, everything
// above 2147483647 gives 2147483647, the rest rounds half away from zero.
LongCoord RoundToLong(double value);

// Rounds half away from zero and stays a double; -0.0 becomes +0.0.
double RoundHalfAwayFromZero(double value);

// An integer coordinate as a double, clamped to +-2^52 where doubles still count every integer.
double LongToDouble(int64_t value);

template <class T>
struct PointT
{
    T x{};
    T y{};

    constexpr bool operator==(const PointT&) const = default;

    PointT<LongCoord> ToLong() const
    {
        return {RoundToLong(static_cast<double>(x)), RoundToLong(static_cast<double>(y))};
    }
    PointT<LongCoord> RoundToIntPoint() const { return ToLong(); }

    PointT<double> ToDouble() const { return {LongToDouble(x), LongToDouble(y)}; }

    // In place, each coordinate rounded half away from zero (still floating point).
    void Round()
    {
        x = RoundHalfAwayFromZero(x);
        y = RoundHalfAwayFromZero(y);
    }
};

template <class T>
struct RectT
{
    T x{};
    T y{};
    T width{};
    T height{};

    constexpr bool operator==(const RectT&) const = default;

    T Right() const { return x + width; }
    T Bottom() const { return y + height; }

    RectT<double> ToDouble() const
    {
        return {LongToDouble(x), LongToDouble(y), LongToDouble(width), LongToDouble(height)};
    }
};

using PointL = PointT<LongCoord>;
using PointF = PointT<float>;
using PointD = PointT<double>;
using RectL = RectT<LongCoord>;
using RectF = RectT<float>;
using RectD = RectT<double>;

// Each member rounded by itself: width and height are not recomputed from rounded edges.
RectL RoundToIntRect(const RectD& rect);

// An integer point moved by a floating-point offset: the offset is rounded first, then added in
// integer arithmetic (saturating, like every conversion to integer geometry).
PointL operator+(const PointL& point, const PointD& offset);

}  // namespace Orv
