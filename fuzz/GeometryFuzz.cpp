// Arbitrary doubles through the integer geometry rule and the layout's rounding: never undefined
// behaviour (the sanitizers watch the conversions), always inside the target range, always the
// nearest integer when in range.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "Utilities/Graphics/Geometry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    while (size >= sizeof(double)) {
        double value;
        std::memcpy(&value, data, sizeof value);
        data += sizeof value;
        size -= sizeof value;

        const Orv::LongCoord rounded = Orv::RoundToLong(value);
        if (value >= -2147483648.0 && value <= 2147483647.0) {
            const double distance = std::fabs(static_cast<double>(rounded) - value);
            if (distance > 0.5 ||
                (distance == 0.5 && std::fabs(static_cast<double>(rounded)) < std::fabs(value))) {
                std::abort();
            }
        }
        Orv::PointD point{value, -value};
        point.Round();
        if (!std::isnan(value) && std::fabs(point.x - value) > 0.5) {
            std::abort();
        }
        (void)Orv::RoundToIntRect(Orv::RectD{value, value * 0.5, -value, value * 3});

        // The layout's rounding: always a whole, finite number within the 64-bit range, the
        // nearest one (ties away from zero) wherever the value itself is in range.
        const double layout = Orv::RoundHalfAway(value);
        if (!std::isfinite(layout) || layout != std::trunc(layout) ||
            std::fabs(layout) > 9223372036854775808.0) {
            std::abort();
        }
        if (std::fabs(value) < 9223372036854775808.0) {
            const double distance = std::fabs(layout - value);
            if (distance > 0.5 || (distance == 0.5 && std::fabs(layout) < std::fabs(value))) {
                std::abort();
            }
        }
        Orv::RectD edges{value, -value, value * 3, value * 0.5};
        edges.RoundEdges();
        if (!std::isfinite(edges.x) || !std::isfinite(edges.y) || !std::isfinite(edges.width) ||
            !std::isfinite(edges.height)) {
            std::abort();
        }
    }
    return 0;
}
