#pragma once
// A fixed number of back-end objects (GDI+ paths and bitmaps, OpenGL display lists and textures)
// kept for the framework objects they were built from. Acquire returns the key's object slot;
// when it is null the caller builds the object and stores it there, and the cache owns it. A full
// cache reuses its least recently used entry. The owner can also release every object not used
// since a mark it took earlier (PurgeOlderThan).
//
// Time is the use counter: every Acquire advances it by one, so no two entries are ever equally
// old unless a purge or a discard reset them. Ages are unsigned differences and survive the
// counter wrapping.
//
// UI thread only; no locks. A hit allocates nothing.

#include <array>
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

#include "ObjectBase/Exception.h"
#include "ObjectBase/RCPtr.h"

namespace Orv {

template <class Object, class ID>
struct PurgableCacheEntry
{
    virtual ~PurgableCacheEntry() = default;
    virtual bool IsEmpty() const { return object.IsNull(); }

    // Back to a fresh entry's counts and no object; the ID stays.
    void Reset()
    {
        object = nullptr;
        lastUse = 0;
        useCount = 0;
    }

    ID id{};
    RCPtr<Object> object;
    uint32_t lastUse = 0;   // use counter at the last Acquire; 0 after a reset
    uint32_t useCount = 0;  // Acquires since the last reset, saturating
};

// Bits 4 to 11, for IDs that are addresses (their low four bits hardly vary).
template <class ID>
uint32_t HashAddressBits(const ID& id)
{
    return static_cast<uint32_t>((static_cast<uint64_t>(id) >> 4) & 0xFFu);
}

// The low eight bits, for IDs that are counters.
template <class ID>
uint32_t HashLowBits(const ID& id)
{
    return static_cast<uint32_t>(static_cast<uint64_t>(id) & 0xFFu);
}

// GetID turns a Key into the ID the entry is indexed under; HashFn turns an ID into a bucket
// below 2^HashBits.
template <class Object, class Key, class ID, auto GetID, int HashBits = 8,
          auto HashFn = &HashLowBits<ID>>
class PurgableObjectCache
{
public:
    using Entry = PurgableCacheEntry<Object, ID>;

    // A cache needs at least one entry to hand out a slot.
    explicit PurgableObjectCache(int capacity) : capacity(capacity)
    {
        if (capacity < 1) {
            ORV_THROW_DETAIL(InvalidArgument, "cache capacity below 1");
        }
        entries = std::make_unique<Entry[]>(static_cast<size_t>(capacity));
    }
    virtual ~PurgableObjectCache() = default;
    PurgableObjectCache(const PurgableObjectCache&) = delete;
    PurgableObjectCache& operator=(const PurgableObjectCache&) = delete;

    // The key's object slot, null when the caller must build the object. invalidate drops a
    // cached object first.
    RCPtr<Object>& Acquire(const Key& key, bool invalidate)
    {
        const ID id = GetID(key);
        Entry* entry = Find(id);
        if (entry != nullptr) {
            if (invalidate) {
                entry->Reset();
            }
        } else if (indexedCount < capacity) {
            entry = &entries[static_cast<size_t>(indexedCount)];
            Take(*entry, id);
        } else {
            entry = ChooseVictim();
            Remove(entry->id);
            Take(*entry, id);
        }
        if (entry->useCount != std::numeric_limits<uint32_t>::max()) {
            ++entry->useCount;
        }
        ++useCounter;
        entry->lastUse = useCounter;
        return entry->object;
    }

    // Releases the object of every entry last used before mark (a signed 32-bit difference, so
    // the counter may wrap); the entries keep their IDs. Returns how many were treated.
    int PurgeOlderThan(uint32_t mark)
    {
        int purged = 0;
        for (int i = 0; i < capacity; ++i) {
            Entry& entry = entries[static_cast<size_t>(i)];
            if (static_cast<int32_t>(entry.lastUse - mark) < 0) {
                entry.Reset();
                ++purged;
            }
        }
        return purged;
    }

    // 0 when the key was cached (its object is released, the ID stays indexed), 1 otherwise.
    int Discard(const Key& key)
    {
        Entry* entry = Find(GetID(key));
        if (entry == nullptr) {
            return 1;
        }
        entry->Reset();
        return 0;
    }

    uint32_t GetUseCounter() const { return useCounter; }
    uint32_t GetPurgeMark() const { return purgeMark; }
    void SetPurgeMark(uint32_t mark) { purgeMark = mark; }
    int GetCapacity() const { return capacity; }
    int GetIndexedCount() const { return indexedCount; }
    const Entry& GetEntry(int index) const { return entries[static_cast<size_t>(index)]; }

protected:
    static const ID& GetEntryID(const Entry* entry) { return entry->id; }

private:
    static constexpr size_t kBucketCount = size_t{1} << HashBits;

    std::vector<Entry*>& BucketOf(const ID& id)
    {
        return buckets[static_cast<size_t>(HashFn(id)) & (kBucketCount - 1)];
    }

    // The bucket is searched from its last pair to its first.
    Entry* Find(const ID& id)
    {
        auto& bucket = BucketOf(id);
        for (auto it = bucket.rbegin(); it != bucket.rend(); ++it) {
            if (GetEntryID(*it) == id) {
                return *it;
            }
        }
        return nullptr;
    }

    void Remove(const ID& id)
    {
        auto& bucket = BucketOf(id);
        for (auto it = bucket.rbegin(); it != bucket.rend(); ++it) {
            if (GetEntryID(*it) == id) {
                bucket.erase(std::next(it).base());
                --indexedCount;
                return;
            }
        }
    }

    void Take(Entry& entry, const ID& id)
    {
        entry.Reset();
        entry.id = id;
        BucketOf(id).push_back(&entry);
        ++indexedCount;
    }

    // The first empty entry; else the oldest, then the least used, then the lowest index.
    Entry* ChooseVictim()
    {
        Entry* victim = nullptr;
        uint32_t victimAge = 0;
        for (int i = 0; i < capacity; ++i) {
            Entry& entry = entries[static_cast<size_t>(i)];
            if (entry.IsEmpty()) {
                return &entry;
            }
            const uint32_t age = useCounter - entry.lastUse;
            if (victim == nullptr || age > victimAge ||
                (age == victimAge && entry.useCount < victim->useCount)) {
                victim = &entry;
                victimAge = age;
            }
        }
        return victim;
    }

    int capacity;
    uint32_t useCounter = 0;
    uint32_t purgeMark = 0;
    std::unique_ptr<Entry[]> entries;
    std::array<std::vector<Entry*>, kBucketCount> buckets;
    int indexedCount = 0;
};

}  // namespace Orv
