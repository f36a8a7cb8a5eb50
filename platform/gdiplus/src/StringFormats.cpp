#include <new>

#include "GdiplusObjects.h"
#include "TextObjects.h"

namespace Gdiplus {
namespace {

constexpr INT kMaxMeasurableRanges = 32;

}  // namespace

GpStatus GdipCreateStringFormat(INT formatFlags, LANGID language, GpStringFormat** format)
{
    GDIP_REQUIRE_STARTED();
    if (format == nullptr) {
        return InvalidParameter;
    }
    *format = new (std::nothrow) GpStringFormat{formatFlags, language, StringTrimmingCharacter, {}};
    return *format != nullptr ? Ok : OutOfMemory;
}

GpStatus GdipDeleteStringFormat(GpStringFormat* format)
{
    return DeleteObject(format);
}

GpStatus GdipSetStringFormatFlags(GpStringFormat* format, INT flags)
{
    GDIP_REQUIRE_STARTED();
    if (format == nullptr) {
        return InvalidParameter;
    }
    format->flags = flags;
    return Ok;
}

GpStatus GdipGetStringFormatFlags(GpStringFormat* format, INT* flags)
{
    GDIP_REQUIRE_STARTED();
    if (format == nullptr || flags == nullptr) {
        return InvalidParameter;
    }
    *flags = format->flags;
    return Ok;
}

GpStatus GdipSetStringFormatTrimming(GpStringFormat* format, StringTrimming trimming)
{
    GDIP_REQUIRE_STARTED();
    if (format == nullptr || trimming < StringTrimmingNone ||
        trimming > StringTrimmingEllipsisPath) {
        return InvalidParameter;
    }
    format->trimming = trimming;
    return Ok;
}

GpStatus GdipSetStringFormatMeasurableCharacterRanges(GpStringFormat* format, INT rangeCount,
                                                      const CharacterRange* ranges)
{
    GDIP_REQUIRE_STARTED();
    if (format == nullptr || rangeCount < 0 || (rangeCount > 0 && ranges == nullptr)) {
        return InvalidParameter;
    }
    if (rangeCount > kMaxMeasurableRanges) {
        return ValueOverflow;
    }
    format->ranges.assign(ranges, ranges + rangeCount);
    return Ok;
}

GpStatus GdipGetStringFormatMeasurableCharacterRangeCount(GpStringFormat* format, INT* count)
{
    GDIP_REQUIRE_STARTED();
    if (format == nullptr || count == nullptr) {
        return InvalidParameter;
    }
    *count = static_cast<INT>(format->ranges.size());
    return Ok;
}

}  // namespace Gdiplus
