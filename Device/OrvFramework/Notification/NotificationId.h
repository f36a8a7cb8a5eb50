#pragma once
// Notification ids: wide texts beginning "NID_", interned once into one process-wide registry so
// that notifications of the same kind carry the same pointer and are compared by it, never by text.
// An interned text is never removed or changed: an id stays valid until the process ends.

#include "Utilities/Storage/StringT.h"

namespace Orv {

// The registry's pointer to the characters of an interned text; null for "no id".
using NotificationId = const char16_t*;

// The id of a text (a literal or an id obtained earlier); null for a null or empty text.
// Re-interning an id finds it by identity, without comparing texts. Thread-safe.
NotificationId InternNotificationId(const char16_t* text);

// The registry itself, in order of first use. Readers hold NotificationRegistryLock().
StringArrayT<char16_t, char>& GetNotificationIdRegistry();

}  // namespace Orv
