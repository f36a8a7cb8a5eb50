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

#include <array>
#include <cstdint>

#include "ObjectBase/RCPtr.h"
#include "ObjectBase/RefCountedObject.h"
#include "Utilities/Storage/Array.h"
#include "Utilities/Storage/GetBits.h"

namespace Orv {

template <class K, class V, uint32_t HashBits>
class RCPtrMap
{
public:
    static constexpr uint32_t kBucketCount = uint32_t{1} << HashBits;
    static_assert(HashBits >= 1 && HashBits <= 16, "between 2 and 65536 buckets");

    RCPtrMap() = default;
    RCPtrMap(const RCPtrMap&) = delete;
    RCPtrMap& operator=(const RCPtrMap&) = delete;

    uint32_t GetCount() const { return count; }

    // Replaces the value of an existing key, else adds a pair. A null key is ignored (false);
    // otherwise true.
    bool Set(const K* key, const RCPtr<V>& value)
    {
        if (key == nullptr) {
            return false;
        }
        Bucket& bucket = BucketOf(key);
        const int32_t at = IndexIn(bucket, key);
        if (at >= 0) {
            bucket.GetAt(static_cast<uint32_t>(at)).value = value;
        } else {
            bucket.AddItem(Entry{Identity(key), ConstRCPtr<K>(key), value});
            ++count;
        }
        return true;
    }

    // The value of the key, null when the key has no entry.
    RCPtr<V> Find(const K* key) const
    {
        if (key == nullptr) {
            return RCPtr<V>();
        }
        const Bucket& bucket = BucketOf(key);
        const int32_t at = IndexIn(bucket, key);
        return at < 0 ? RCPtr<V>() : bucket.GetAt(static_cast<uint32_t>(at)).value;
    }

    // True when the key had an entry; its references to key and value are dropped.
    bool Remove(const K* key)
    {
        if (key == nullptr) {
            return false;
        }
        Bucket& bucket = BucketOf(key);
        const int32_t at = IndexIn(bucket, key);
        if (at < 0) {
            return false;
        }
        bucket.RemoveItems(static_cast<uint32_t>(at), 1);
        --count;
        return true;
    }

    void RemoveAll()
    {
        for (Bucket& bucket : buckets) {
            bucket.RemoveAll();
        }
        count = 0;
    }

private:
    struct Entry
    {
        const void* identity = nullptr;  // the key's address, compared
        ConstRCPtr<K> key;               // keeps that address from being reused
        RCPtr<V> value;
    };
    using Bucket = Array<Entry>;

    static const void* Identity(const K* key) { return static_cast<const LRefCountedObject*>(key); }
    static Bucket& Select(std::array<Bucket, kBucketCount>& all, const K* key)
    {
        return all[GetBits<HashBits, 4>(reinterpret_cast<uintptr_t>(Identity(key)))];
    }
    Bucket& BucketOf(const K* key) { return Select(buckets, key); }
    const Bucket& BucketOf(const K* key) const
    {
        return const_cast<RCPtrMap*>(this)->BucketOf(key);
    }

    static int32_t IndexIn(const Bucket& bucket, const K* key)
    {
        const void* identity = Identity(key);
        for (uint32_t i = bucket.GetCount(); i-- > 0;) {
            if (bucket.GetAt(i).identity == identity) {
                return static_cast<int32_t>(i);
            }
        }
        return -1;
    }

    std::array<Bucket, kBucketCount> buckets;
    uint32_t count = 0;
};

}  // namespace Orv
