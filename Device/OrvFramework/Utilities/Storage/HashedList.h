#pragma once
// HashedList<T, Key, GetKeyFn, HashBits, HashFn>: values of T found by a key that each value
// carries (GetKeyFn(value), a function or a member function of T). 2^HashBits buckets, each an
// array of (key, value) pairs; a key's bucket is HashFn(key) (usually GetBits). A bucket is
// searched from its last pair to its first. IHashedList<T, Key> is what the users of such a list
// (caches, glyph tables) see of it; the key type is part of the interface because Find and Remove
// take one.
//
// No lock: the owner of a list shared between threads holds one around every use.

#include <array>
#include <cstdint>
#include <functional>

#include "ObjectBase/Pair.h"
#include "Utilities/Storage/Array.h"

namespace Orv {

template <class T, class Key>
class IHashedList
{
public:
    // Number of (key, value) pairs.
    virtual uint32_t GetCount() const = 0;
    // The value stored under an equal key, else fallback.
    virtual T Find(const Key& key, const T& fallback) const = 0;
    // Stores the value under its own key: replaces the value of a pair with an equal key (false)
    // or appends a new pair (true).
    virtual bool Set(const T& value) = 0;
    // True when a pair was removed.
    virtual bool Remove(const Key& key) = 0;
    virtual void RemoveAll() = 0;

protected:
    ~IHashedList() = default;
};

template <class T, class Key, auto GetKeyFn, uint32_t HashBits, auto HashFn>
class HashedList : public IHashedList<T, Key>
{
public:
    static constexpr uint32_t kBucketCount = uint32_t{1} << HashBits;
    static_assert(HashBits >= 1 && HashBits <= 16, "between 2 and 65536 buckets");

    HashedList() = default;
    virtual ~HashedList() = default;

    uint32_t GetCount() const override { return count; }

    T Find(const Key& key, const T& fallback) const override
    {
        const Bucket& bucket = BucketOf(key);
        const int32_t at = IndexIn(bucket, key);
        return at < 0 ? fallback : bucket.GetAt(static_cast<uint32_t>(at)).second;
    }

    bool Set(const T& value) override
    {
        const Key key = std::invoke(GetKeyFn, value);
        Bucket& bucket = BucketOf(key);
        const int32_t at = IndexIn(bucket, key);
        if (at >= 0) {
            bucket.GetAt(static_cast<uint32_t>(at)).second = value;
            return false;
        }
        bucket.AddItem(Entry{key, value});
        ++count;
        return true;
    }

    bool Remove(const Key& key) override
    {
        Bucket& bucket = BucketOf(key);
        const int32_t at = IndexIn(bucket, key);
        if (at < 0) {
            return false;
        }
        bucket.RemoveItems(static_cast<uint32_t>(at), 1);
        --count;
        return true;
    }

    void RemoveAll() override
    {
        for (Bucket& bucket : buckets) {
            bucket.RemoveAll();
        }
        count = 0;
    }

private:
    using Entry = Pair<Key, T>;
    using Bucket = Array<Entry>;

    // A hash function that returns more than HashBits bits still lands in a bucket.
    static uint32_t BucketIndex(const Key& key)
    {
        return static_cast<uint32_t>(std::invoke(HashFn, key)) & (kBucketCount - 1);
    }
    Bucket& BucketOf(const Key& key) { return buckets[BucketIndex(key)]; }
    const Bucket& BucketOf(const Key& key) const { return buckets[BucketIndex(key)]; }

    // Last pair first: the pair added last for a key is the one found.
    static int32_t IndexIn(const Bucket& bucket, const Key& key)
    {
        for (uint32_t i = bucket.GetCount(); i-- > 0;) {
            if (bucket.GetAt(i).first == key) {
                return static_cast<int32_t>(i);
            }
        }
        return -1;
    }

    std::array<Bucket, kBucketCount> buckets;
    uint32_t count = 0;
};

}  // namespace Orv
