#include "ControlBase/RemoteCommandLine.h"

#include <cstring>
#include <vector>

#include "Utilities/Storage/Utf.h"

namespace Orv {

WideString DecodeRemoteCommandLine(const void* data, uint32_t bytes)
{
    if (data == nullptr || bytes == 0) {
        return WideString();
    }
    const char* text = static_cast<const char*>(data);
    // memchr reads no further than the sender said it sent.
    const void* zero = std::memchr(text, 0, bytes);
    const char* end = zero != nullptr ? static_cast<const char*>(zero) : text + bytes;
    // UTF-8 never takes fewer bytes than UTF-16 takes units.
    std::vector<char16_t> wide(static_cast<size_t>(end - text) + 1);
    const char* source = text;
    char16_t* target = wide.data();
    char16_t* const targetEnd = wide.data() + wide.size() - 1;
    while (source < end) {
        const ConversionResult result = ConvertUtf8ToUtf16(&source, end, &target, targetEnd, false);
        if (result == ConversionOK || result == TargetExhausted || target == targetEnd) {
            break;
        }
        // Illegal or cut off: one replacement character for the lead byte and its continuation
        // bytes, then go on at the next byte that can start a character.
        *target++ = 0xFFFD;
        ++source;
        while (source < end && (static_cast<unsigned char>(*source) & 0xC0) == 0x80) {
            ++source;
        }
    }
    *target = 0;
    return WideString(wide.data());
}

}  // namespace Orv
