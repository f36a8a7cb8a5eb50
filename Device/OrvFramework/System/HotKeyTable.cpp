#include "System/HotKeyTable.h"

namespace Orv {

namespace {

bool IsEmptyText(const char16_t* text)
{
    return text == nullptr || *text == 0;
}

}  // namespace

Array<KeyCode> HotKeyTable::GetHotKeys(const char16_t* idText) const
{
    if (IsEmptyText(idText)) {
        return {};
    }
    const auto it = keys.find(InternNotificationId(idText));
    return it == keys.end() ? Array<KeyCode>() : it->second;
}

KeyCode HotKeyTable::GetFirstHotKey(const char16_t* idText) const
{
    if (IsEmptyText(idText)) {
        return KeyCode();
    }
    const auto it = keys.find(InternNotificationId(idText));
    return it == keys.end() || it->second.GetCount() == 0 ? KeyCode() : it->second.GetAt(0);
}

bool HotKeyTable::HasHotKeys(const char16_t* idText) const
{
    if (IsEmptyText(idText)) {
        return false;
    }
    const auto it = keys.find(InternNotificationId(idText));
    return it != keys.end() && it->second.GetCount() != 0;
}

NotificationId HotKeyTable::FindNotificationId(const KeyCode& key) const
{
    for (const auto& [id, bound] : keys) {
        for (uint32_t i = bound.GetCount(); i-- > 0;) {
            if (key.Matches(bound.GetAt(i))) {
                return id;
            }
        }
    }
    return nullptr;
}

ORVRESULT HotKeyTable::AddHotKey(const KeyCode& key, const char16_t* idText)
{
    if (FindNotificationId(key) != nullptr || IsEmptyText(idText)) {
        return E_INVALIDARG;
    }
    keys[InternNotificationId(idText)].AddItem(key);
    return S_OK;
}

void HotKeyTable::AddBindingFromEntry(const WideString& entryId, const WideString& keyText,
                                      const WideString& prefixWithDot)
{
    if (entryId.Find(prefixWithDot) != 0) {
        return;
    }
    const WideString id = entryId.Mid(entryId.ReverseFind(u'.') + 1);
    const KeyCode key = KeyCode::Parse(keyText);
    if ((key.code & KeyCode::kNoKeyBit) == 0) {
        AddHotKey(key, id.GetText());  // a key already bound keeps its first binding
    }
}

}  // namespace Orv
