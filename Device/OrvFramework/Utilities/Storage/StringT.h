#pragma once
// The framework's strings: StringT<char16_t, char> holds UTF-16 (the user interface's text),
// StringT<char, char16_t> holds UTF-8. The text lives NUL-terminated in a counted byte buffer
// (LTextBuffer) that copies share until one of them writes.
//
// States: unlocked (the buffer is shareable and exactly length + 1 characters long, so the length
// is never counted by scanning) and locked (between Lock and Unlock: the buffer is this string's
// alone, may be longer than its text, and is written in place). The empty string shares one
// static buffer that is never freed; a string's buffer is never null.
//
// Lengths and positions are signed 32-bit counts of code units. kWholeText as a maximum length
// means the whole text; -1 is the position "not found". A string object is not for concurrent use,
// but strings that share a buffer may live on different threads.

#include <cstdint>
#include <type_traits>

#include "ObjectBase/OrvResult.h"
#include "ObjectBase/RCPtr.h"
#include "Utilities/Storage/LBuffer.h"

namespace Orv {

template <class Char, class OtherChar>
class StringArrayT;

template <class Char, class OtherChar>
class StringT
{
    static_assert((std::is_same_v<Char, char16_t> && std::is_same_v<OtherChar, char>) ||
                      (std::is_same_v<Char, char> && std::is_same_v<OtherChar, char16_t>),
                  "StringT is UTF-16 over UTF-8 or UTF-8 over UTF-16");
    static constexpr bool kWide = std::is_same_v<Char, char16_t>;

public:
    using CharType = Char;
    using OtherString = StringT<OtherChar, Char>;
    using Array = StringArrayT<Char, OtherChar>;

    static constexpr int32_t kWholeText = 0x7FFFFFFE;
    static constexpr int32_t kNotFound = -1;

    StringT();
    StringT(const StringT& other);
    StringT(const Char* text);  // NOLINT: a literal is a string wherever one is expected
    explicit StringT(Char ch);
    // Text of the other width, converted (UTF-8 <-> UTF-16); length < 0: up to its NUL.
    explicit StringT(const OtherChar* text, int32_t length = -1);
    explicit StringT(const OtherString& other);
    virtual ~StringT();

    StringT& operator=(const StringT& other);
    StringT& operator=(const Char* text);

    // Up to maxLength characters of text (fewer at its NUL). A locked string receives them in
    // place (its buffer grows when they do not fit) and stays locked.
    void Assign(const Char* text, int32_t maxLength = kWholeText);
    // Wide only: the first maxBytes bytes of UTF-8 text (up to its NUL), in place when locked.
    // E_FAIL when the text is not legal UTF-8; the string then holds what came before the fault.
    template <class C = Char>
    requires std::is_same_v<C, char16_t> ORVRESULT AssignUtf8(const char* utf8,
                                                              int32_t maxBytes = kWholeText)
    {
        return AssignUtf8InPlace(utf8, maxBytes);
    }
    // Wide only: UTF-8 to UTF-16 into a new buffer (the string ends unlocked); count < 0: the
    // whole text. 0, or E_FAIL keeping the text converted before the fault.
    template <class C = Char>
    requires std::is_same_v<C, char16_t> ORVRESULT AssignNarrow(const char* text,
                                                                int32_t count = -1)
    {
        return AssignConverted(text, count);
    }
    // Narrow only: UTF-16 to UTF-8, as AssignNarrow.
    template <class C = Char>
    requires std::is_same_v<C, char> ORVRESULT AssignWide(const char16_t* text, int32_t count = -1)
    {
        return AssignConverted(text, count);
    }
    void Clear();

    int32_t GetLength() const;
    bool IsEmpty() const { return Text()[0] == 0; }
    uint32_t GetBufferSize() const { return buffer->GetSize(); }
    const Char* GetText() const { return Text(); }
    operator const Char*() const { return Text(); }  // NOLINT: reads as the platform's text type
    bool IsLocked() const { return !buffer->IsShareable(); }

    // A writable pointer to a private buffer of `length` characters (0: the text's length + 1),
    // NUL at its last character. Null when the string is already locked.
    Char* Lock(int32_t length = 0);
    // Back to shareable, the buffer cut to the text. 1 when the string was not locked, else 0.
    int32_t Unlock();

    bool Equals(const Char* text) const;
    bool Equals(const StringT& other) const;
    bool Equals(const OtherChar* text) const;
    bool operator==(const StringT& other) const { return Equals(other); }
    bool operator==(const Char* text) const { return Equals(text); }
    // Ordinal order of the code units; the key order of string maps.
    bool Less(const StringT& other) const;
    bool operator<(const StringT& other) const { return Less(other); }

    int32_t Find(const StringT& sub, int32_t start = 0) const;
    int32_t FindOneOf(const StringT& set, int32_t start = 0) const;
    int32_t ReverseFind(Char ch) const;
    // Wide only: the character as one byte of UTF-8 (a byte of 0x80 or more is found nowhere).
    template <class C = Char>
    requires std::is_same_v<C, char16_t> int32_t ReverseFind(char ch)
    const
    {
        return static_cast<unsigned char>(ch) >= 0x80 ? kNotFound
                                                      : ReverseFind(static_cast<Char>(ch));
    }

    StringT Mid(int32_t start, int32_t count) const;
    StringT Mid(int32_t start) const;
    StringT Left(int32_t count) const;
    StringT Right(int32_t count) const;

    StringT& Append(const StringT& other);
    StringT& operator+=(const StringT& other) { return Append(other); }
    StringT operator+(const StringT& other) const;
    void AppendChar(Char ch);
    // Wide only: one byte of UTF-8 (a byte of 0x80 or more appends nothing).
    template <class C = Char>
    requires std::is_same_v<C, char16_t>
    void AppendChar(char ch)
    {
        if (static_cast<unsigned char>(ch) < 0x80) {
            AppendChar(static_cast<Char>(ch));
        }
    }

    // E_INVALIDARG (and no change) when index is beyond the length; a negative index is 0.
    ORVRESULT Insert(int32_t index, const StringT& text);
    ORVRESULT Insert(int32_t index, const Char* text, int32_t count);
    template <class C = Char>
    requires std::is_same_v<C, char16_t> ORVRESULT InsertUtf8(int32_t index, const char* utf8)
    {
        return index > GetLength() ? E_INVALIDARG : Insert(index, StringT(utf8));
    }
    void ReplaceChars(const Char* set, Char with);

    StringT ToUpper() const;
    StringT ToLower() const;
    // A text made only of set characters comes back unchanged from TrimLeft, empty from TrimRight.
    StringT TrimLeft(const StringT& set = DefaultTrimSet()) const;
    StringT TrimRight(const StringT& set = DefaultTrimSet()) const;
    StringT Trim() const;
    Array Split(const StringT& set) const;
    // The pieces between characters of `set` (an empty piece between two separators, none after a
    // final one; the whole text when no separator occurs). The limit is not used.
    int32_t SplitAtAnyOf(Array& array, const StringT& set, int32_t limit = -1) const;

    int ToInt() const;
    double ToDouble() const;

    // printf-style, see Utilities/Storage/TextFormat.h; the text grows as needed, without a limit
    // on its length: a caller that shows at most so many characters cuts the text itself.
    static StringT Format(const Char* format, ...);

    // Wide only: the UTF-8 form.
    template <class C = Char>
    requires std::is_same_v<C, char16_t> OtherString ToNarrow()
    const { return OtherString(*this); }

    static StringT DefaultTrimSet();

private:
    const Char* Text() const { return static_cast<const Char*>(buffer->GetData()); }
    Char* MutableText() { return static_cast<Char*>(buffer->GetData()); }
    int32_t Units() const { return static_cast<int32_t>(buffer->GetSize() / sizeof(Char)); }
    StringT Slice(int64_t start, int64_t count) const;
    // A copy with every code unit mapped.
    StringT Mapped(Char (*map)(Char)) const;
    ORVRESULT AssignConverted(const OtherChar* text, int32_t count);
    ORVRESULT AssignUtf8InPlace(const char* utf8, int32_t maxBytes);
    // Sole holder of a buffer of the same length, for edits that keep the length.
    Char* WritableText();
    void ResizeLocked(int64_t units);

    static const RCPtr<LIBuffer>& EmptyBuffer();
    static RCPtr<LIBuffer> NewBuffer(int64_t units);

    RCPtr<LIBuffer> buffer;

    friend class StringT<OtherChar, Char>;
};

using WideString = StringT<char16_t, char>;
using NarrowString = StringT<char, char16_t>;

extern template class StringT<char16_t, char>;
extern template class StringT<char, char16_t>;

// value / 10^decimals as text: 123, 2 gives "1.23"; 5, 2 gives ".05"; -5, 2 gives "-0.05";
// decimals <= 0 gives the plain number.
WideString FormatFixedPoint(int value, int decimals);
WideString FormatFixedPoint(unsigned int value, int decimals);
// precision < 0: "%lf" (six decimals); else that many decimals, rounded half away from zero.
WideString FormatDouble(double value, int precision);

}  // namespace Orv

#include "Utilities/Storage/StringArray.h"
