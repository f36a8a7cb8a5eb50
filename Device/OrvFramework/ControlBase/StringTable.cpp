#include "ControlBase/StringTable.h"

namespace Orv {

bool LStringTable::GetString(const char16_t* id, WideString& text) const
{
    if (id == nullptr) {
        return false;
    }
    const auto found = strings.find(WideString(id));
    if (found == strings.end()) {
        return false;
    }
    text = found->second;
    return true;
}

ORVRESULT LStringTable::GetAllStrings(Array<Pair<WideString, WideString>>& out) const
{
    out.SetCount(0);
    // The map's order is the ordinal order of the IDs, which is what readers of the list rely on.
    for (const auto& [id, text] : strings) {
        out.AddItem(Pair<WideString, WideString>{id, text});
    }
    return S_OK;
}

int32_t LStringTable::CollectPrefixedStrings(const WideString& prefix,
                                             Array<Pair<WideString, WideString>>& out) const
{
    out.SetCount(0);
    const int32_t length = prefix.GetLength();
    // Every ID with the prefix sorts at or after the prefix itself, and they are contiguous.
    for (auto at = strings.lower_bound(prefix); at != strings.end(); ++at) {
        if (at->first.Left(length) != prefix) {
            break;
        }
        out.AddItem(Pair<WideString, WideString>{at->first, at->second});
    }
    return static_cast<int32_t>(out.GetCount());
}

ORVRESULT LStringTable::SetString(const char16_t* id, const WideString& text)
{
    if (id == nullptr || id[0] == 0) {
        return E_INVALIDARG;
    }
    auto [at, added] = strings.try_emplace(WideString(id), text);
    if (!added) {
        at->second = text;
    }
    return added ? 0 : 1;
}

}  // namespace Orv
