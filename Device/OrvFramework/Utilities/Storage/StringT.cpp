#include "Utilities/Storage/StringT.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstring>
#include <string>
#include <string_view>

#include "ObjectBase/Exception.h"
#include "Utilities/Storage/TextFormat.h"
#include "Utilities/Storage/Utf.h"
#include "Utilities/Storage/WideChar.h"

namespace Orv {
namespace {

template <class Char>
int64_t BoundedLength(const Char* text, int64_t maxLength)
{
    int64_t length = 0;
    while (length < maxLength && text[length] != 0) {
        ++length;
    }
    return length;
}

template <class Char>
bool Contains(std::basic_string_view<Char> set, Char c)
{
    return set.find(c) != std::basic_string_view<Char>::npos;
}

// Converts up to `count` units of the other width into this width, leniently; the converted
// units in `out`, the converter's result returned.
ConversionResult Convert(const char* text, int64_t count, std::u16string& out)
{
    out.assign(static_cast<std::size_t>(count) + 1, u'\0');
    const char* source = text;
    char16_t* target = out.data();
    const ConversionResult result =
        ConvertUtf8ToUtf16(&source, text + count, &target, out.data() + out.size(), true);
    out.resize(static_cast<std::size_t>(target - out.data()));
    return result;
}

ConversionResult Convert(const char16_t* text, int64_t count, std::string& out)
{
    out.assign(3 * static_cast<std::size_t>(count) + 1, '\0');
    const char16_t* source = text;
    char* target = out.data();
    const ConversionResult result =
        ConvertUtf16ToUtf8(&source, text + count, &target, out.data() + out.size(), true);
    out.resize(static_cast<std::size_t>(target - out.data()));
    return result;
}

// The text up to its first NUL.
template <class Char>
void CutAtNul(std::basic_string<Char>& text)
{
    const std::size_t nul = text.find(Char(0));
    if (nul != std::basic_string<Char>::npos) {
        text.resize(nul);
    }
}

}  // namespace

// --- construction and assignment -------------------------------------------------------------

template <class Char, class OtherChar>
const RCPtr<LIBuffer>& StringT<Char, OtherChar>::EmptyBuffer()
{
    // Never freed: strings made or destroyed during static teardown still find it.
    static const RCPtr<LIBuffer>* const empty =
        new RCPtr<LIBuffer>(LTextBuffer::Create(sizeof(Char), 0, true));
    return *empty;
}

template <class Char, class OtherChar>
RCPtr<LIBuffer> StringT<Char, OtherChar>::NewBuffer(int64_t units)
{
    if (units <= 0 || units * static_cast<int64_t>(sizeof(Char)) > UINT32_MAX) {
        ThrowBadAlloc();
    }
    return LTextBuffer::Create(static_cast<uint32_t>(units * sizeof(Char)), 0, true);
}

template <class Char, class OtherChar>
StringT<Char, OtherChar>::StringT() : buffer(EmptyBuffer())
{
}

template <class Char, class OtherChar>
StringT<Char, OtherChar>::StringT(const StringT& other)
    : buffer(other.IsLocked() ? EmptyBuffer() : other.buffer)
{
    if (other.IsLocked()) {
        Assign(other.Text(), other.GetLength());
    }
}

template <class Char, class OtherChar>
StringT<Char, OtherChar>::StringT(const Char* text) : buffer(EmptyBuffer())
{
    Assign(text, kWholeText);
}

template <class Char, class OtherChar>
StringT<Char, OtherChar>::StringT(Char ch) : buffer(EmptyBuffer())
{
    if (ch != 0) {
        buffer = NewBuffer(2);
        MutableText()[0] = ch;
    }
}

template <class Char, class OtherChar>
StringT<Char, OtherChar>::StringT(const OtherChar* text, int32_t length) : buffer(EmptyBuffer())
{
    AssignConverted(text, length);
}

template <class Char, class OtherChar>
StringT<Char, OtherChar>::StringT(const OtherString& other) : buffer(EmptyBuffer())
{
    AssignConverted(other.GetText(), -1);
}

template <class Char, class OtherChar>
StringT<Char, OtherChar>::~StringT() = default;

template <class Char, class OtherChar>
StringT<Char, OtherChar>& StringT<Char, OtherChar>::operator=(const StringT& other)
{
    if (this == &other) {
        return *this;
    }
    if (!IsLocked() && !other.IsLocked()) {
        buffer = other.buffer;
    } else {
        Assign(other.Text(), kWholeText);
    }
    return *this;
}

template <class Char, class OtherChar>
StringT<Char, OtherChar>& StringT<Char, OtherChar>::operator=(const Char* text)
{
    Assign(text, kWholeText);
    return *this;
}

template <class Char, class OtherChar>
void StringT<Char, OtherChar>::Assign(const Char* text, int32_t maxLength)
{
    if (text == nullptr || maxLength <= 0 || text[0] == 0) {
        if (IsLocked()) {
            MutableText()[0] = 0;
        } else {
            buffer = EmptyBuffer();
        }
        return;
    }
    const int64_t length = BoundedLength(text, maxLength);
    if (!IsLocked()) {
        RCPtr<LIBuffer> fresh = NewBuffer(length + 1);
        std::memcpy(fresh->GetData(), text, static_cast<std::size_t>(length) * sizeof(Char));
        buffer = fresh;
        return;
    }
    if (length + 1 > Units()) {
        // Growing moves the buffer: a text taken from it is copied out first.
        const std::basic_string<Char> kept(text, static_cast<std::size_t>(length));
        ResizeLocked(length + 1);
        std::memcpy(MutableText(), kept.data(), kept.size() * sizeof(Char));
    } else {
        std::memmove(MutableText(), text, static_cast<std::size_t>(length) * sizeof(Char));
    }
    MutableText()[length] = 0;
}

template <class Char, class OtherChar>
void StringT<Char, OtherChar>::ResizeLocked(int64_t units)
{
    if (units * static_cast<int64_t>(sizeof(Char)) > UINT32_MAX) {
        ThrowBadAlloc();
    }
    buffer->Resize(static_cast<uint32_t>(units * sizeof(Char)));
    MutableText()[units - 1] = 0;
}

template <class Char, class OtherChar>
ORVRESULT StringT<Char, OtherChar>::AssignConverted(const OtherChar* text, int32_t count)
{
    if (text == nullptr || count == 0 || text[0] == 0) {
        buffer = EmptyBuffer();
        return S_OK;
    }
    // count < 0 converts the terminator too, so a text never ends inside a character.
    const int64_t units = count < 0 ? BoundedLength(text, INT64_MAX) + 1 : count;
    std::basic_string<Char> converted;
    const ConversionResult result = Convert(text, units, converted);
    CutAtNul(converted);
    buffer = EmptyBuffer();
    Assign(converted.data(),
           static_cast<int32_t>(std::min<std::size_t>(converted.size(), kWholeText)));
    return result == ConversionOK ? S_OK : E_FAIL;
}

template <class Char, class OtherChar>
ORVRESULT StringT<Char, OtherChar>::AssignUtf8InPlace(const char* utf8, int32_t maxBytes)
{
    if (utf8 == nullptr || maxBytes <= 0 || utf8[0] == 0) {
        Clear();
        return S_OK;
    }
    if constexpr (!kWide) {
        // A narrow string holds UTF-8 already.
        Assign(utf8, maxBytes);
        return S_OK;
    } else {
        std::u16string converted;
        const ConversionResult result = Convert(utf8, BoundedLength(utf8, maxBytes), converted);
        Assign(converted.data(), static_cast<int32_t>(converted.size()));
        return result == ConversionOK ? S_OK : E_FAIL;
    }
}

template <class Char, class OtherChar>
void StringT<Char, OtherChar>::Clear()
{
    if (IsLocked()) {
        MutableText()[0] = 0;
    } else {
        buffer = EmptyBuffer();
    }
}

// --- state ---------------------------------------------------------------------------------------

template <class Char, class OtherChar>
int32_t StringT<Char, OtherChar>::GetLength() const
{
    if (!IsLocked()) {
        return std::max(Units() - 1, 0);
    }
    return static_cast<int32_t>(BoundedLength(Text(), Units()));
}

template <class Char, class OtherChar>
Char* StringT<Char, OtherChar>::Lock(int32_t length)
{
    if (IsLocked()) {
        return nullptr;
    }
    const int64_t units = length <= 0 ? int64_t{GetLength()} + 1 : length;
    if (buffer->GetRefCount() > 1) {
        if (units * static_cast<int64_t>(sizeof(Char)) > UINT32_MAX) {
            ThrowBadAlloc();
        }
        RCPtr<LIBuffer> copy = buffer->CopyRange(static_cast<uint32_t>(units * sizeof(Char)), 0);
        if (!copy) {
            ORV_THROW(RuntimeError);
        }
        buffer = copy;
    }
    // Sized before it is marked, so a failed allocation leaves the string unlocked.
    ResizeLocked(units);
    buffer->SetUnshareable(true);
    return MutableText();
}

template <class Char, class OtherChar>
int32_t StringT<Char, OtherChar>::Unlock()
{
    if (!IsLocked()) {
        return 1;
    }
    const int32_t length = GetLength();
    if (length > 0) {
        buffer->Resize(static_cast<uint32_t>((int64_t{length} + 1) * sizeof(Char)));
        buffer->SetUnshareable(false);
    } else {
        buffer = EmptyBuffer();
    }
    return 0;
}

// --- comparison and search -------------------------------------------------------------------

template <class Char, class OtherChar>
bool StringT<Char, OtherChar>::Equals(const Char* text) const
{
    if (text == nullptr || text[0] == 0) {
        return IsEmpty();
    }
    const Char* mine = Text();
    for (;; ++mine, ++text) {
        if (*mine != *text) {
            return false;
        }
        if (*mine == 0) {
            return true;
        }
    }
}

template <class Char, class OtherChar>
bool StringT<Char, OtherChar>::Equals(const StringT& other) const
{
    return buffer == other.buffer || Equals(other.Text());
}

template <class Char, class OtherChar>
bool StringT<Char, OtherChar>::Equals(const OtherChar* text) const
{
    if (text == nullptr || text[0] == 0) {
        return IsEmpty();
    }
    return Equals(StringT(text));
}

template <class Char, class OtherChar>
bool StringT<Char, OtherChar>::Less(const StringT& other) const
{
    using Unit = std::make_unsigned_t<Char>;
    const Char* a = Text();
    const Char* b = other.Text();
    if (a == b) {
        return false;
    }
    for (;; ++a, ++b) {
        const Unit x = static_cast<Unit>(*a);
        const Unit y = static_cast<Unit>(*b);
        if (x != y) {
            return x < y;
        }
        if (x == 0) {
            return false;
        }
    }
}

template <class Char, class OtherChar>
int32_t StringT<Char, OtherChar>::Find(const StringT& sub, int32_t start) const
{
    const std::basic_string_view<Char> text(Text(), static_cast<std::size_t>(GetLength()));
    const std::size_t from = static_cast<std::size_t>(std::max(start, 0));
    if (from > text.size()) {
        return kNotFound;
    }
    const std::size_t at =
        text.find(std::basic_string_view<Char>(sub.Text(), sub.GetLength()), from);
    return at == std::basic_string_view<Char>::npos ? kNotFound : static_cast<int32_t>(at);
}

template <class Char, class OtherChar>
int32_t StringT<Char, OtherChar>::FindOneOf(const StringT& set, int32_t start) const
{
    const std::basic_string_view<Char> text(Text(), static_cast<std::size_t>(GetLength()));
    const std::size_t from = static_cast<std::size_t>(std::max(start, 0));
    if (from >= text.size() || set.IsEmpty()) {
        return kNotFound;
    }
    const std::size_t at =
        text.find_first_of(std::basic_string_view<Char>(set.Text(), set.GetLength()), from);
    return at == std::basic_string_view<Char>::npos ? kNotFound : static_cast<int32_t>(at);
}

template <class Char, class OtherChar>
int32_t StringT<Char, OtherChar>::ReverseFind(Char ch) const
{
    if (ch == 0) {
        return kNotFound;
    }
    const std::basic_string_view<Char> text(Text(), static_cast<std::size_t>(GetLength()));
    const std::size_t at = text.rfind(ch);
    return at == std::basic_string_view<Char>::npos ? kNotFound : static_cast<int32_t>(at);
}

// --- pieces and edits ----------------------------------------------------------------------

template <class Char, class OtherChar>
StringT<Char, OtherChar> StringT<Char, OtherChar>::Slice(int64_t start, int64_t count) const
{
    const int64_t length = GetLength();
    if (start < 0) {
        start += length;
        if (start < 0) {
            count += start;
            start = 0;
        }
    }
    // A negative count (or start) is clamped to the text: it selects nothing.
    if (count <= 0 || start >= length) {
        return StringT();
    }
    count = std::min(count, length - start);
    StringT piece;
    piece.Assign(Text() + start, static_cast<int32_t>(count));
    return piece;
}

template <class Char, class OtherChar>
StringT<Char, OtherChar> StringT<Char, OtherChar>::Mid(int32_t start, int32_t count) const
{
    return Slice(start, count);
}

template <class Char, class OtherChar>
StringT<Char, OtherChar> StringT<Char, OtherChar>::Mid(int32_t start) const
{
    return Slice(start, int64_t{GetLength()} - start);
}

template <class Char, class OtherChar>
StringT<Char, OtherChar> StringT<Char, OtherChar>::Left(int32_t count) const
{
    return Slice(0, count);
}

template <class Char, class OtherChar>
StringT<Char, OtherChar> StringT<Char, OtherChar>::Right(int32_t count) const
{
    return Slice(-int64_t{count}, count);
}

template <class Char, class OtherChar>
StringT<Char, OtherChar>& StringT<Char, OtherChar>::Append(const StringT& other)
{
    if (other.IsEmpty()) {
        return *this;
    }
    if (other.buffer == buffer) {
        const StringT kept(other.Text());
        return Append(kept);
    }
    const int64_t index = GetLength();
    const int64_t added = other.GetLength();
    const int64_t length = index + added;
    if (length > kWholeText) {
        ThrowBadAlloc();
    }
    if (IsLocked() || buffer->GetRefCount() == 1) {
        // Sole holder: grow in place. (The shared empty buffer always has another holder.)
        ResizeLocked(length + 1);
    } else {
        RCPtr<LIBuffer> fresh = NewBuffer(length + 1);
        std::memcpy(fresh->GetData(), Text(), static_cast<std::size_t>(index) * sizeof(Char));
        buffer = fresh;
    }
    std::memcpy(MutableText() + index, other.Text(),
                static_cast<std::size_t>(added) * sizeof(Char));
    MutableText()[length] = 0;
    return *this;
}

template <class Char, class OtherChar>
StringT<Char, OtherChar> StringT<Char, OtherChar>::operator+(const StringT& other) const
{
    StringT sum(*this);
    sum.Append(other);
    return sum;
}

template <class Char, class OtherChar>
void StringT<Char, OtherChar>::AppendChar(Char ch)
{
    Insert(GetLength(), &ch, 1);
}

template <class Char, class OtherChar>
ORVRESULT StringT<Char, OtherChar>::Insert(int32_t index, const StringT& text)
{
    const int32_t length = GetLength();
    if (index > length) {
        return E_INVALIDARG;
    }
    index = std::max(index, 0);
    if (index == length) {
        Append(text);
    } else if (!text.IsEmpty()) {
        *this = Left(index) + text + Mid(index);
    }
    return S_OK;
}

template <class Char, class OtherChar>
ORVRESULT StringT<Char, OtherChar>::Insert(int32_t index, const Char* text, int32_t count)
{
    if (index > GetLength()) {
        return E_INVALIDARG;
    }
    if (text == nullptr || count <= 0) {
        return S_OK;
    }
    StringT piece;
    piece.Assign(text, count);
    return Insert(index, piece);
}

template <class Char, class OtherChar>
Char* StringT<Char, OtherChar>::WritableText()
{
    if (!IsLocked() && buffer->GetRefCount() > 1) {
        buffer = buffer->CopyRange(buffer->GetSize(), 0);
    }
    return MutableText();
}

template <class Char, class OtherChar>
void StringT<Char, OtherChar>::ReplaceChars(const Char* set, Char with)
{
    if (set == nullptr || with == 0 || set[0] == 0) {
        return;
    }
    const std::basic_string_view<Char> characters(set);
    const int32_t length = GetLength();
    const Char* text = Text();
    int32_t first = 0;
    while (first < length && !Contains(characters, text[first])) {
        ++first;
    }
    if (first == length) {
        return;
    }
    Char* out = WritableText();
    for (int32_t i = first; i < length; ++i) {
        if (Contains(characters, out[i])) {
            out[i] = with;
        }
    }
}

template <class Char, class OtherChar>
StringT<Char, OtherChar> StringT<Char, OtherChar>::Mapped(Char (*map)(Char)) const
{
    std::basic_string<Char> text(Text(), static_cast<std::size_t>(GetLength()));
    for (Char& c : text) {
        c = map(c);
    }
    StringT result;
    result.Assign(text.data(), static_cast<int32_t>(text.size()));
    return result;
}

template <class Char, class OtherChar>
StringT<Char, OtherChar> StringT<Char, OtherChar>::ToUpper() const
{
    if constexpr (kWide) {
        return Mapped(&Orv::towupper);
    } else {
        return Mapped(&Detail::ToUpperAscii);
    }
}

template <class Char, class OtherChar>
StringT<Char, OtherChar> StringT<Char, OtherChar>::ToLower() const
{
    if constexpr (kWide) {
        return Mapped(&Orv::towlower);
    } else {
        return Mapped(&Detail::ToLowerAscii);
    }
}

template <class Char, class OtherChar>
StringT<Char, OtherChar> StringT<Char, OtherChar>::DefaultTrimSet()
{
    static const Char blanks[] = {' ', '\t', '\r', '\n', 0};
    return StringT(blanks);
}

template <class Char, class OtherChar>
StringT<Char, OtherChar> StringT<Char, OtherChar>::TrimLeft(const StringT& set) const
{
    const std::basic_string_view<Char> characters(set.Text(), set.GetLength());
    const int32_t length = GetLength();
    int32_t first = 0;
    while (first < length && Contains(characters, Text()[first])) {
        ++first;
    }
    if (first == 0 || first == length) {
        return *this;
    }
    return Slice(first, length - first);
}

template <class Char, class OtherChar>
StringT<Char, OtherChar> StringT<Char, OtherChar>::TrimRight(const StringT& set) const
{
    const std::basic_string_view<Char> characters(set.Text(), set.GetLength());
    int32_t end = GetLength();
    const int32_t length = end;
    while (end > 0 && Contains(characters, Text()[end - 1])) {
        --end;
    }
    if (end == length) {
        return *this;
    }
    return Slice(0, end);
}

template <class Char, class OtherChar>
StringT<Char, OtherChar> StringT<Char, OtherChar>::Trim() const
{
    const StringT blanks = DefaultTrimSet();
    return TrimLeft(blanks).TrimRight(blanks);
}

template <class Char, class OtherChar>
typename StringT<Char, OtherChar>::Array StringT<Char, OtherChar>::Split(const StringT& set) const
{
    Array pieces;
    SplitAtAnyOf(pieces, set);
    return pieces;
}

template <class Char, class OtherChar>
int32_t StringT<Char, OtherChar>::SplitAtAnyOf(Array& array, const StringT& set, int32_t) const
{
    array.SetCount(0);
    if (FindOneOf(set) < 0) {
        array.AddItem(*this);
        return 1;
    }
    const std::basic_string_view<Char> characters(set.Text(), set.GetLength());
    const int32_t length = GetLength();
    int32_t start = 0;
    while (start < length) {
        int32_t end = start;
        while (end < length && !Contains(characters, Text()[end])) {
            ++end;
        }
        array.AddItem(Slice(start, end - start));
        start = end + 1;
    }
    return static_cast<int32_t>(array.GetCount());
}

template <class Char, class OtherChar>
int StringT<Char, OtherChar>::ToInt() const
{
    if constexpr (kWide) {
        return _wtoi(Text());
    } else {
        return Detail::ParseInt(Text());
    }
}

template <class Char, class OtherChar>
double StringT<Char, OtherChar>::ToDouble() const
{
    if constexpr (kWide) {
        return _wtof(Text());
    } else {
        return Detail::ParseDouble(Text());
    }
}

template <class Char, class OtherChar>
StringT<Char, OtherChar> StringT<Char, OtherChar>::Format(const Char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    const std::basic_string<Char> text = Detail::FormatText(format, arguments);
    va_end(arguments);
    StringT result;
    result.Assign(text.data(),
                  static_cast<int32_t>(std::min<std::size_t>(text.size(), kWholeText)));
    return result;
}

template class StringT<char16_t, char>;
template class StringT<char, char16_t>;

// --- numbers ------------------------------------------------------------------------------------

namespace {

WideString PlaceDecimalPoint(uint64_t magnitude, bool negative, int decimals)
{
    WideString digits = WideString::Format(u"%llu", static_cast<unsigned long long>(magnitude));
    if (decimals <= 0) {
        return negative ? WideString(u"-") + digits : digits;
    }
    while (digits.GetLength() - decimals < 0) {
        digits = WideString(u"0") + digits;
    }
    const int32_t split = digits.GetLength() - decimals;
    WideString text = digits.Left(split) + WideString(u".") + digits.Mid(split);
    if (!negative) {
        return text;
    }
    // The sign goes in front of the magnitude, with a 0 where no digit precedes the point.
    return WideString(split == 0 ? u"-0" : u"-") + text;
}

}  // namespace

WideString FormatFixedPoint(int value, int decimals)
{
    const uint64_t magnitude = value < 0 ? uint64_t{0} - static_cast<uint64_t>(int64_t{value})
                                         : static_cast<uint64_t>(value);
    return PlaceDecimalPoint(magnitude, value < 0, decimals);
}

WideString FormatFixedPoint(unsigned int value, int decimals)
{
    return PlaceDecimalPoint(value, false, decimals);
}

WideString FormatDouble(double value, int precision)
{
    if (precision < 0) {
        return WideString::Format(u"%lf", value);
    }
    const WideString format = WideString::Format(u"%%.%dlf", precision);
    return WideString::Format(format.GetText(), value);
}

}  // namespace Orv
