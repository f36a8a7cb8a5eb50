// The pool's table of outstanding blocks against a std::map on random inserts and erases: keys
// that meet in a probe run, runs that wrap past the table's end and erases from the middle of a
// run (the backward shift) must leave every key findable and none invented.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <random>
#include <vector>

#include "PoolBlockTable.h"

namespace {

using Platform::Kernel::Internal::PoolBlockTable;

constexpr size_t kKeys = 3000;  // up to 3000 live: the table grows twice from 1024 slots

// Scattered 16-byte-aligned addresses, as the heap gives (consecutive ones would spread evenly
// and never share a probe run).
const void* Key(uint64_t n)
{
    static const std::vector<const void*> keys = [] {
        std::mt19937_64 scatter(11);
        std::vector<const void*> made(kKeys);
        for (const void*& key : made) {
            key = reinterpret_cast<const void*>(static_cast<uintptr_t>((scatter() >> 20) << 4));
        }
        return made;
    }();
    return keys[n];
}

void ExpectSame(PoolBlockTable<uint64_t>& table, const std::map<const void*, uint64_t>& model,
                size_t keys)
{
    for (uint64_t n = 0; n < keys; ++n) {
        const uint64_t* found = table.Find(Key(n));
        const auto it = model.find(Key(n));
        ASSERT_EQ(found != nullptr, it != model.end()) << "key " << n;
        if (found != nullptr) {
            ASSERT_EQ(*found, it->second) << "key " << n;
        }
    }
    size_t visited = 0;
    table.ForEach([&](const void* key, uint64_t value) {
        ++visited;
        EXPECT_EQ(model.at(key), value);
    });
    EXPECT_EQ(visited, model.size());
}

TEST(PoolBlockTable, AgreesWithAnOrderedMapThroughGrowthAndErases)
{
    PoolBlockTable<uint64_t> table;
    std::map<const void*, uint64_t> model;
    std::mt19937_64 random(7);
    for (uint64_t step = 0; step < 60000; ++step) {
        const uint64_t n = random() % kKeys;
        if (random() % 3 == 0) {
            table.Erase(Key(n));
            model.erase(Key(n));
        } else {
            table.Insert(Key(n), step);
            model[Key(n)] = step;
        }
        if (step % 5000 == 0) {
            ExpectSame(table, model, kKeys);
        }
    }
    ExpectSame(table, model, kKeys);
    for (uint64_t n = 0; n < kKeys; n += 2) {
        table.Erase(Key(n));
        model.erase(Key(n));
    }
    ExpectSame(table, model, kKeys);
    table.Clear();
    model.clear();
    ExpectSame(table, model, kKeys);
}

}  // namespace
