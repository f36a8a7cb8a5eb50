#include "ControlBase/SkinAttributes.h"

#include <locale.h>
#include <stdlib.h>

#include <algorithm>
#include <cfloat>
#include <limits>
#include <utility>

namespace Orv {

namespace {

bool IsCSpace(char16_t ch)
{
    return ch == u' ' || (ch >= u'\t' && ch <= u'\r');
}

// atoi's reading (white space, a sign, digits up to the first other character, 0 without
// digits), limited to the int32 range where atoi's result would be undefined.
int32_t DecimalPrefix(const char16_t* text)
{
    while (IsCSpace(*text)) {
        ++text;
    }
    bool negative = false;
    if (*text == u'+' || *text == u'-') {
        negative = *text == u'-';
        ++text;
    }
    constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
    int64_t value = 0;
    for (; *text >= u'0' && *text <= u'9'; ++text) {
        value = std::min<int64_t>(value * 10 + (*text - u'0'), kLimit);
    }
    if (negative) {
        return static_cast<int32_t>(-value);
    }
    return static_cast<int32_t>(std::min<int64_t>(value, kLimit - 1));
}

int HexDigit(char16_t ch)
{
    if (ch >= u'0' && ch <= u'9') {
        return ch - u'0';
    }
    if (ch >= u'a' && ch <= u'f') {
        return ch - u'a' + 10;
    }
    if (ch >= u'A' && ch <= u'F') {
        return ch - u'A' + 10;
    }
    return -1;
}

// Reads UTF-8 as the UTF-16 code units it stands for, one at a time (0 at its end), so names
// kept in UTF-8 sort as their UTF-16 forms do. expat hands over valid UTF-8 only; a malformed
// byte reads as itself.
class Utf16Units
{
public:
    explicit Utf16Units(std::string_view text) : text(text) {}

    char16_t Next()
    {
        if (pendingLow != 0) {
            return std::exchange(pendingLow, char16_t{0});
        }
        if (at >= text.size()) {
            return 0;
        }
        const auto lead = static_cast<unsigned char>(text[at]);
        const int extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
        if (extra != 0 && at + static_cast<size_t>(extra) >= text.size()) {
            ++at;  // a sequence cut short
            return lead;
        }
        uint32_t point = extra == 0 ? lead : lead & (0x3F >> extra);
        for (int index = 1; index <= extra; ++index) {
            point = (point << 6) | (static_cast<unsigned char>(text[at + index]) & 0x3F);
        }
        at += 1 + static_cast<size_t>(extra);
        if (point >= 0x10000) {
            point -= 0x10000;
            pendingLow = static_cast<char16_t>(0xDC00 + (point & 0x3FF));
            return static_cast<char16_t>(0xD800 + (point >> 10));
        }
        return static_cast<char16_t>(point);
    }

private:
    std::string_view text;
    size_t at = 0;
    char16_t pendingLow = 0;
};

int CompareUtf16Order(std::string_view a, const char16_t* b)
{
    Utf16Units units(a);
    for (;; ++b) {
        const char16_t unit = units.Next();
        if (unit != *b || unit == 0) {
            return static_cast<int>(unit) - static_cast<int>(*b);
        }
    }
}

int CompareUtf16Order(std::string_view a, std::string_view b)
{
    Utf16Units left(a);
    Utf16Units right(b);
    for (;;) {
        const char16_t x = left.Next();
        const char16_t y = right.Next();
        if (x != y || x == 0) {
            return static_cast<int>(x) - static_cast<int>(y);
        }
    }
}

locale_t CLocale()
{
    // Made once and kept: the numbers of a skin never depend on the user's locale.
    static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return locale;
}

}  // namespace

XmlAttributes::XmlAttributes(const char** utf8Pairs)
{
    if (utf8Pairs == nullptr) {
        return;
    }
    size_t count = 0;
    while (utf8Pairs[2 * count] != nullptr && utf8Pairs[2 * count + 1] != nullptr) {
        ++count;
    }
    entries.resize(count);
    order.resize(count);
    for (size_t index = 0; index < count; ++index) {
        entries[index].name = utf8Pairs[2 * index];
        entries[index].value.AssignNarrow(utf8Pairs[2 * index + 1]);
        order[index] = static_cast<uint32_t>(index);
    }
    // The first of equal names stays (expat refuses them anyway).
    std::stable_sort(order.begin(), order.end(), [this](uint32_t a, uint32_t b) {
        return CompareUtf16Order(entries[a].name, entries[b].name) < 0;
    });
    order.erase(
        std::unique(order.begin(), order.end(),
                    [this](uint32_t a, uint32_t b) { return entries[a].name == entries[b].name; }),
        order.end());
}

void XmlAttributes::Add(const WideString& name, const WideString& value)
{
    if (Find(name.GetText()) != nullptr) {
        return;
    }
    ownedNames.emplace_back(name.ToNarrow().GetText());
    entries.push_back(Entry{ownedNames.back(), value});
    const std::string_view added = ownedNames.back();
    const auto at = std::lower_bound(order.begin(), order.end(), added,
                                     [this](uint32_t index, std::string_view key) {
                                         return CompareUtf16Order(entries[index].name, key) < 0;
                                     });
    order.insert(at, static_cast<uint32_t>(entries.size() - 1));
}

const WideString* XmlAttributes::Find(const char16_t* name) const
{
    const auto at = std::lower_bound(order.begin(), order.end(), name,
                                     [this](uint32_t index, const char16_t* wanted) {
                                         return CompareUtf16Order(entries[index].name, wanted) < 0;
                                     });
    if (at == order.end() || CompareUtf16Order(entries[*at].name, name) != 0) {
        return nullptr;
    }
    return &entries[*at].value;
}

bool ParseBool(const WideString& text)
{
    return text == u"True";
}

int32_t ParseNumber(const WideString& text)
{
    const char16_t* units = text.GetText();
    if (units[0] == u'0' && units[1] == u'x') {
        // Hexadecimal is read up to four digits: a fifth and any after it do not count.
        int32_t value = 0;
        for (int digits = 0; digits < 4 && HexDigit(units[2 + digits]) >= 0; ++digits) {
            value = value * 16 + HexDigit(units[2 + digits]);
        }
        return value;
    }
    return DecimalPrefix(units);
}

int32_t ParseInteger(const WideString& text)
{
    return DecimalPrefix(text.GetText());
}

float ParseFloat(const WideString& text)
{
    const auto narrow = text.ToNarrow();
    const double value = strtod_l(narrow.GetText(), nullptr, CLocale());
    // Out of float's range is infinity, as the hardware narrows; said explicitly, since the
    // language leaves the conversion undefined there.
    if (value > FLT_MAX) {
        return std::numeric_limits<float>::infinity();
    }
    if (value < -FLT_MAX) {
        return -std::numeric_limits<float>::infinity();
    }
    return static_cast<float>(value);
}

bool ReadStringAttribute(const XmlAttributes& attributes, const char16_t* name, WideString& out)
{
    const WideString* value = attributes.Find(name);
    if (value == nullptr) {
        return false;
    }
    out = *value;
    return true;
}

bool ReadBoolAttribute(const XmlAttributes& attributes, const char16_t* name, bool& out)
{
    const WideString* value = attributes.Find(name);
    if (value == nullptr) {
        return false;
    }
    out = ParseBool(*value);
    return true;
}

bool ReadIntAttribute(const XmlAttributes& attributes, const char16_t* name, int32_t& out)
{
    const WideString* value = attributes.Find(name);
    if (value == nullptr) {
        return false;
    }
    out = ParseNumber(*value);
    return true;
}

bool ReadIntegerAttribute(const XmlAttributes& attributes, const char16_t* name, int32_t& out)
{
    const WideString* value = attributes.Find(name);
    if (value == nullptr) {
        return false;
    }
    out = ParseInteger(*value);
    return true;
}

bool ReadFloatAttribute(const XmlAttributes& attributes, const char16_t* name, float& out)
{
    const WideString* value = attributes.Find(name);
    if (value == nullptr) {
        return false;
    }
    out = ParseFloat(*value);
    return true;
}

bool ReadColorAttribute(const XmlAttributes& attributes, const char16_t* name, ColorT& out)
{
    const WideString* value = attributes.Find(name);
    if (value == nullptr) {
        return false;
    }
    out.ParseHexColor(value->ToNarrow().GetText());
    return true;
}

}  // namespace Orv
