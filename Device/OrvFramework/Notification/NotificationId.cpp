#include "Notification/NotificationId.h"

#include "Notification/NotificationLocks.h"

namespace Orv {

StringArrayT<char16_t, char>& GetNotificationIdRegistry()
{
    static StringArrayT<char16_t, char> registry;
    return registry;
}

NotificationId InternNotificationId(const char16_t* text)
{
    if (text == nullptr || text[0] == 0) {
        return nullptr;
    }
    const ScopedLock lock(&NotificationRegistryLock());
    StringArrayT<char16_t, char>& registry = GetNotificationIdRegistry();
    // An id interned earlier is found by identity, newest first; any other text by comparison,
    // oldest first, before a copy of it is made.
    int32_t index = registry.FindPointer(text);
    for (uint32_t i = 0; index < 0 && i < registry.GetCount(); ++i) {
        if (registry.GetAt(i).Equals(text)) {
            index = static_cast<int32_t>(i);
        }
    }
    if (index < 0) {
        // The registry's element shares, and from now on solely owns, the copy's text.
        registry.AddItem(WideString(text));
        index = static_cast<int32_t>(registry.GetCount()) - 1;
    }
    return registry.GetAt(static_cast<uint32_t>(index)).GetText();
}

}  // namespace Orv
