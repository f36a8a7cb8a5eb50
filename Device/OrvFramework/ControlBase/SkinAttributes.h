#pragma once
// The attributes of one element of a skin or string-table document, and the readers of their
// values. Names and keywords are compared exactly, case-sensitively, by UTF-16 code units.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "Utilities/Graphics/Color.h"
#include "Utilities/Storage/StringT.h"

namespace Orv {

// Attribute name to value, in ascending ordinal order of the names' UTF-16 code units; of two
// equal names the first stays. Values are UTF-16; names stay the UTF-8 expat gives (valid only
// while the element's callback runs), since they are only ever compared: making a counted string
// of each name cost as much as the rest of the reading.
class XmlAttributes
{
public:
    struct Entry
    {
        std::string_view name;  // UTF-8
        WideString value;
    };

    XmlAttributes() = default;
    XmlAttributes(const XmlAttributes&) = delete;
    XmlAttributes& operator=(const XmlAttributes&) = delete;
    // From expat's NUL-terminated list of alternating UTF-8 names and values, which must outlive
    // this map. A value that is not UTF-8 keeps what came before the fault, as everywhere the
    // framework converts.
    explicit XmlAttributes(const char** utf8Pairs);

    // Adds a pair unless the name is there; the map keeps its own copy of the name.
    void Add(const WideString& name, const WideString& value);
    // The value of the attribute; null when it is absent.
    const WideString* Find(const char16_t* name) const;
    bool Has(const char16_t* name) const { return Find(name) != nullptr; }

    // The attributes in name order.
    size_t Count() const { return order.size(); }
    const Entry& At(size_t index) const { return entries[order[index]]; }

private:
    // Strings are counted, not moved: entries stay where they were made, and the order is kept
    // as indexes.
    std::vector<Entry> entries;
    std::vector<uint32_t> order;
    std::deque<std::string> ownedNames;  // names given to Add
};

// The value readers. Each gives the attribute's value when it is present (true) and leaves the
// output untouched otherwise (false).

// The text as it stands.
bool ReadStringAttribute(const XmlAttributes& attributes, const char16_t* name, WideString& out);
// True exactly for "True".
bool ReadBoolAttribute(const XmlAttributes& attributes, const char16_t* name, bool& out);
// "0x" and up to four hexadecimal digits, or a decimal number as C's atoi reads one, limited to
// the int32 range.
bool ReadIntAttribute(const XmlAttributes& attributes, const char16_t* name, int32_t& out);
// A decimal number as C's atoi reads one, limited to the int32 range; no hexadecimal form.
bool ReadIntegerAttribute(const XmlAttributes& attributes, const char16_t* name, int32_t& out);
// C's strtod in the C locale (a point separates the decimals, whatever the process's locale),
// narrowed to float.
bool ReadFloatAttribute(const XmlAttributes& attributes, const char16_t* name, float& out);
// The hexadecimal colour text of a skin.
bool ReadColorAttribute(const XmlAttributes& attributes, const char16_t* name, ColorT& out);

// The parsers behind the readers.
bool ParseBool(const WideString& text);
int32_t ParseNumber(const WideString& text);
int32_t ParseInteger(const WideString& text);
float ParseFloat(const WideString& text);

}  // namespace Orv
