#pragma once
// One table of user-visible texts: string ID to text, in ascending ordinal order of the IDs. A
// table handed out by the store is the caller's own copy.

#include <map>

#include "ObjectBase/Pair.h"
#include "ObjectBase/RefCountedObject.h"
#include "Utilities/Storage/Array.h"
#include "Utilities/Storage/StringT.h"

namespace Orv {

class LStringTable : public virtual LRefCountedObject
{
public:
    using Map = std::map<WideString, WideString>;

    LStringTable() = default;
    explicit LStringTable(Map strings) : strings(std::move(strings)) {}

    // True with the text copied into `text` when the ID exists; false, `text` unchanged, when not.
    bool GetString(const char16_t* id, WideString& text) const;
    // Every (ID, text) pair in ascending ID order, replacing what `out` held. 0.
    ORVRESULT GetAllStrings(Array<Pair<WideString, WideString>>& out) const;
    // The (ID, text) pairs whose ID begins with the prefix (an empty prefix takes all), in
    // ascending ID order, replacing what `out` held. The number found.
    int32_t CollectPrefixedStrings(const WideString& prefix,
                                   Array<Pair<WideString, WideString>>& out) const;
    // 0 when the ID was added, 1 when its text was replaced; E_INVALIDARG (nothing stored) for an
    // empty or null ID.
    ORVRESULT SetString(const char16_t* id, const WideString& text);

private:
    Map strings;
};

}  // namespace Orv
