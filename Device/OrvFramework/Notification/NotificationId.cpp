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
    // An id interned earlier is found by identity, newest first.
    int32_t index = registry.FindPointer(text);
    if (index < 0) {
        const WideString candidate(text);
        index = registry.Find(candidate);
        if (index < 0) {
            // The registry's element shares, and from now on solely owns, the candidate's text.
            registry.AddItem(candidate);
            index = static_cast<int32_t>(registry.GetCount()) - 1;
        }
    }
    return registry.GetAt(static_cast<uint32_t>(index)).GetText();
}

}  // namespace Orv
