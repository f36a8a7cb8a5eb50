#pragma once
// HotKeyTable: key bindings, from notification ids to the keys bound to them (in the order they
// were added). A key is bound to at most one id per table: the first binding of a key wins. Ids
// are kept in the order of their interned pointers, which fixes the order lookups visit them in.
// Filled by code and from string-table entries "<prefix>.<...>.<id>" whose text is a key
// (KeyCode::Parse): "GHK" for global tables, "LHK" for a control's local table. UI thread only.

#include <map>
#include <type_traits>

#include "Notification/NotificationId.h"
#include "ObjectBase/RCPtr.h"
#include "System/KeyCode.h"
#include "Utilities/Storage/Array.h"
#include "Utilities/Storage/StringT.h"

namespace Orv {

class HotKeyTable
{
public:
    // A copy of the keys bound to the id; empty for a null or empty id text.
    Array<KeyCode> GetHotKeys(const char16_t* idText) const;
    // The first key bound to the id, or no key.
    KeyCode GetFirstHotKey(const char16_t* idText) const;
    bool HasHotKeys(const char16_t* idText) const;
    // No key is bound at all.
    bool IsEmpty() const { return keys.empty(); }
    // The id of the binding the key matches (KeyCode::Matches), null when none.
    NotificationId FindNotificationId(const KeyCode& key) const;
    // 0 when added; E_INVALIDARG when the key already matches a binding of this table, or the id
    // text is empty. A duplicate is a refusal, not S_FALSE: a caller that only needs the key bound
    // treats E_INVALIDARG after a successful lookup (FindNotificationId) as "already bound".
    ORVRESULT AddHotKey(const KeyCode& key, const char16_t* idText);
    // Forgets every binding (a root window refills its table for a new root control).
    void RemoveAll() { keys.clear(); }

    // The bindings of the string table's entries whose ID begins with prefix and a dot, in the
    // table's ID order. A binding that cannot be added is skipped. E_INVALIDARG for a null table,
    // else 0. The table lists its (ID, text) pairs, sorted by ID, with GetAllStrings into an array
    // of pairs with `first` and `second`.
    template <class StringTable>
    ORVRESULT LoadFromStringTable(const RCPtr<StringTable>& table, const WideString& prefix);

    // One string-table entry, as LoadFromStringTable reads it.
    void AddBindingFromEntry(const WideString& entryId, const WideString& keyText,
                             const WideString& prefixWithDot);

private:
    // Ordered by pointer value.
    std::map<NotificationId, Array<KeyCode>> keys;
};

namespace Detail {
template <class Method>
struct ListingArray;
template <class Table, class Result, class Argument>
struct ListingArray<Result (Table::*)(Argument)>
{
    using type = std::remove_cvref_t<Argument>;
};
template <class Table, class Result, class Argument>
struct ListingArray<Result (Table::*)(Argument) const>
{
    using type = std::remove_cvref_t<Argument>;
};
}  // namespace Detail

template <class StringTable>
ORVRESULT HotKeyTable::LoadFromStringTable(const RCPtr<StringTable>& table,
                                           const WideString& prefix)
{
    if (table.IsNull()) {
        return E_INVALIDARG;
    }
    typename Detail::ListingArray<decltype(&StringTable::GetAllStrings)>::type entries;
    table->GetAllStrings(entries);
    const WideString prefixWithDot = prefix + u".";
    for (uint32_t i = 0; i < entries.GetCount(); ++i) {
        AddBindingFromEntry(entries.GetAt(i).first, entries.GetAt(i).second, prefixWithDot);
    }
    return S_OK;
}

}  // namespace Orv
