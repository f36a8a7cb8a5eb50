#pragma once
// Points and rectangles. Layout works in floating-point coordinates; windows and pixels need
// whole ones. One rule turns the first into the second everywhere: round half away from zero and
// saturate at the 32-bit limits instead of wrapping. The reverse conversion is exact.

#include <algorithm>
#include <concepts>
#include <cstdint>

namespace Orv {

// The integer coordinate: 32 bits, as the platform's LONG (not the host's long).
using LongCoord = int32_t;

// The integer rule for one value: NaN and everything below -2^31 give -2147483648, everything
// above 2147483647 gives 2147483647, the rest rounds half away from zero.
LongCoord RoundToLong(double value);

// (int)v toward zero for a value a skin or a caller may have made arbitrarily large: saturates at
// the 32-bit limits instead of being undefined; NaN gives 0.
LongCoord TruncateToLong(double value);

// Rounds half away from zero and stays a double; -0.0 becomes +0.0.
double RoundHalfAwayFromZero(double value);

// The layout's rounding: half away from zero, kept as a double, and always a whole number a
// 64-bit integer can hold. Skins are outside data, so a position may be NaN or endless: NaN gives
// 0 and anything past the 64-bit range gives that range's nearest limit (+-2^63). -0.0 gives 0.
double RoundHalfAway(double value);

// An integer coordinate as a double, clamped to +-2^52 where doubles still count every integer.
double LongToDouble(int64_t value);

// The smallest extent that still counts as an area: one unit in the last place at 1.0, so that
// edges equal up to rounding noise give an empty intersection. Whole coordinates need one pixel.
template <class T>
constexpr T kAreaEpsilon = T{0};
template <>
inline constexpr double kAreaEpsilon<double> = 2.220446049250313e-16;  // 2^-52
template <>
inline constexpr float kAreaEpsilon<float> = 1.1920929e-07f;  // 2^-23

// Floors v, except that a value less than one part in 2^52 below a whole number is that number:
// an edge computed as 9.999999999999998 lies on pixel 10, not on pixel 9.
double FloorWithTolerance(double value);

template <class T>
struct PointT
{
    T x{};
    T y{};

    constexpr bool operator==(const PointT&) const = default;

    PointT<LongCoord> ToLong() const requires std::floating_point<T>
    {
        return {RoundToLong(static_cast<double>(x)), RoundToLong(static_cast<double>(y))};
    }
    PointT<LongCoord> RoundToIntPoint() const requires std::floating_point<T> { return ToLong(); }

    // Only whole coordinates widen to double: a float point would have to round first, and
    // doing it here silently truncated (2.75 became 2).
    PointT<double> ToDouble() const requires std::same_as<T, LongCoord>
    {
        return {LongToDouble(x), LongToDouble(y)};
    }

    // In place, each coordinate rounded half away from zero (still floating point). It returns
    // nothing: a caller that wants a rounded copy rounds a copy.
    void Round() requires std::floating_point<T>
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

    RectT<double> ToDouble() const requires std::same_as<T, LongCoord>
    {
        return {LongToDouble(x), LongToDouble(y), LongToDouble(width), LongToDouble(height)};
    }

    RectT<float> ToFloat() const requires std::same_as<T, LongCoord>
    {
        return {static_cast<float>(x), static_cast<float>(y), static_cast<float>(width),
                static_cast<float>(height)};
    }

    // Each member by the integer rule, independently (the extent is not recomputed from rounded
    // edges).
    RectT<LongCoord> ToLong() const requires std::floating_point<T>
    {
        return {RoundToLong(static_cast<double>(x)), RoundToLong(static_cast<double>(y)),
                RoundToLong(static_cast<double>(width)), RoundToLong(static_cast<double>(height))};
    }

    // out = a intersected with b. Disjoint rectangles leave out with a zero or negative extent;
    // the result says whether a real area (wider and higher than kAreaEpsilon) remains. A NaN
    // member never makes an area. out may be a or b.
    static bool Intersect(RectT& out, const RectT& a, const RectT& b)
    {
        const T left = std::max(a.x, b.x);
        const T top = std::max(a.y, b.y);
        const T right = std::min(a.Right(), b.Right());
        const T bottom = std::min(a.Bottom(), b.Bottom());
        out = {left, top, right - left, bottom - top};
        return out.width > kAreaEpsilon<T> && out.height > kAreaEpsilon<T>;
    }

    // In place: the right and bottom edges and the origin are each rounded (RoundHalfAway) and
    // the extent becomes the difference of the rounded edges, so the right edge lands where the
    // unrounded one rounds to: x 10.5, width 20.2 gives x 11, width 20 (right edge 31).
    void RoundEdges() requires std::same_as<T, double>
    {
        const double right = RoundHalfAway(x + width);
        const double bottom = RoundHalfAway(y + height);
        x = RoundHalfAway(x);
        y = RoundHalfAway(y);
        width = right - x;
        height = bottom - y;
    }

    // In place: a negative extent is turned positive by moving the origin by it; then each edge
    // is floored (with FloorWithTolerance) and the extent becomes the difference of the floored
    // edges, so the rectangle covers whole pixels only.
    void SnapToPixels() requires std::same_as<T, double>
    {
        if (width < 0) {
            x += width;
            width = -width;
        }
        if (height < 0) {
            y += height;
            height = -height;
        }
        const double left = FloorWithTolerance(x);
        const double top = FloorWithTolerance(y);
        const double right = FloorWithTolerance(x + width);
        const double bottom = FloorWithTolerance(y + height);
        *this = {left, top, right - left, bottom - top};
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
