#pragma once
// StringArrayT: an Array of strings with two searches.

#include "Utilities/Storage/Array.h"
#include "Utilities/Storage/StringT.h"
#include "Utilities/Storage/WideChar.h"

namespace Orv {

template <class Char, class OtherChar>
class StringArrayT : public Array<StringT<Char, OtherChar>>
{
    using String = StringT<Char, OtherChar>;

public:
    // The first index from `start` whose element shares text's buffer or equals it (ignoring case
    // when asked: the lower-case fold of each code unit); -1 when none or start is not below the
    // count.
    int32_t Find(const String& text, bool caseSensitive = true, int32_t start = 0) const
    {
        const uint32_t count = this->GetCount();
        if (static_cast<uint32_t>(start) >= count) {
            return -1;
        }
        const String* items = this->GetData();
        for (uint32_t i = static_cast<uint32_t>(start); i < count; ++i) {
            const String& item = items[i];
            if (item.GetText() == text.GetText()) {
                return static_cast<int32_t>(i);
            }
            if (caseSensitive ? item.Equals(text) : EqualsIgnoringCase(item, text)) {
                return static_cast<int32_t>(i);
            }
        }
        return -1;
    }

    // The index of the element whose text is at `text`, searching from the last; -1 when none.
    int32_t FindPointer(const Char* text) const
    {
        const String* items = this->GetData();
        for (uint32_t i = this->GetCount(); i-- > 0;) {
            if (items[i].GetText() == text) {
                return static_cast<int32_t>(i);
            }
        }
        return -1;
    }

private:
    static Char Fold(Char c)
    {
        if constexpr (std::is_same_v<Char, char16_t>) {
            return towlower(c);
        } else {
            return Detail::ToLowerAscii(c);
        }
    }

    static bool EqualsIgnoringCase(const String& a, const String& b)
    {
        const Char* x = a.GetText();
        const Char* y = b.GetText();
        for (;; ++x, ++y) {
            if (Fold(*x) != Fold(*y)) {
                return false;
            }
            if (*x == 0) {
                return true;
            }
        }
    }
};

using StringArray = StringArrayT<char16_t, char>;

}  // namespace Orv
