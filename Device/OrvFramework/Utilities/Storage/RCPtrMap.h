#pragma once
// RCPtrMap<K, V, HashBits>: from a key object, by its identity (the address of its counted-object
// part, not its value), to a counted pointer to a V. 2^HashBits buckets chosen by bits 4 and up of
// the address (GetBits), each an array of pairs searched from its last pair.
//
// The map holds a reference to each key as well as to each value: while an entry exists its key
// object cannot be freed, so its address cannot be reused by another object that would then find
// a stale entry.
//
// No lock: the owner of a map shared between threads holds one around every use.

#include <cstdint>

#include "ObjectBase/RCPtr.h"
#include "ObjectBase/RefCountedObject.h"
#include "Utilities/Storage/GetBits.h"
#include "Utilities/Storage/HashedList.h"

namespace Orv {

template <class K, class V, uint32_t HashBits>
class RCPtrMap
{
public:
    RCPtrMap() = default;
    RCPtrMap(const RCPtrMap&) = delete;
    RCPtrMap& operator=(const RCPtrMap&) = delete;

    uint32_t GetCount() const { return entries.GetCount(); }

    // Replaces the value of an existing key, else adds a pair. A null key is ignored (false);
    // otherwise true.
    bool Set(const K* key, const RCPtr<V>& value)
    {
        if (key == nullptr) {
            return false;
        }
        entries.Set(Entry{Identity(key), ConstRCPtr<K>(key), value});
        return true;
    }

    // The value of the key, null when the key has no entry.
    RCPtr<V> Find(const K* key) const
    {
        return key == nullptr ? RCPtr<V>() : entries.Find(Identity(key), Entry{}).value;
    }

    // True when the key had an entry; its references to key and value are dropped.
    bool Remove(const K* key) { return key != nullptr && entries.Remove(Identity(key)); }

    void RemoveAll() { entries.RemoveAll(); }

private:
    struct Entry
    {
        const void* identity = nullptr;  // the key's address, compared
        ConstRCPtr<K> key;               // keeps that address from being reused
        RCPtr<V> value;

        const void* GetIdentity() const { return identity; }
    };

    static const void* Identity(const K* key) { return static_cast<const LRefCountedObject*>(key); }
    static uint32_t HashAddress(const void* address)
    {
        return GetBits<HashBits, 4>(reinterpret_cast<uintptr_t>(address));
    }

    HashedList<Entry, const void*, &Entry::GetIdentity, HashBits, &RCPtrMap::HashAddress> entries;
};

}  // namespace Orv
