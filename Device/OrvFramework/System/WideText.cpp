#include "System/WideText.h"

#include "Utilities/Storage/StringT.h"

namespace Orv {

std::u16string WideTextToUtf16(std::wstring_view text)
{
    constexpr char16_t kReplacement = 0xFFFD;
    std::u16string out;
    out.reserve(text.size());
    for (const wchar_t character : text) {
        const auto codePoint = static_cast<uint32_t>(character);
        if (codePoint >= 0xD800 && codePoint <= 0xDFFF) {
            out += kReplacement;
        } else if (codePoint < 0x10000) {
            out += static_cast<char16_t>(codePoint);
        } else if (codePoint <= 0x10FFFF) {
            const uint32_t offset = codePoint - 0x10000;
            out += static_cast<char16_t>(0xD800 + (offset >> 10));
            out += static_cast<char16_t>(0xDC00 + (offset & 0x3FF));
        } else {
            out += kReplacement;
        }
    }
    return out;
}

std::string WideTextToUtf8(std::wstring_view text)
{
    const std::u16string utf16 = WideTextToUtf16(text);
    const NarrowString narrow{WideString(utf16.c_str())};
    return narrow.GetText();
}

}  // namespace Orv
