// Hashed lists and their bucket hash: values found by the key they carry.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "Utilities/Storage/GetBits.h"
#include "Utilities/Storage/HashedList.h"

namespace {

struct Glyph
{
    long character = 0;
    int width = 0;
    long GetUniqueID() const { return character; }
};

using GlyphList = Orv::HashedList<Glyph, long, &Glyph::GetUniqueID, 8, &Orv::GetBits<8, 0, long>>;

TEST(GetBits, TakesTheNamedBitsOfTheValue)
{
    struct Row
    {
        const char* name;
        uint32_t actual;
        uint32_t expected;
    };
    const Row rows[] = {
        {"bits 4 to 11 of a handle", Orv::GetBits<8, 4, int>(0x12345), 0x34},
        {"low four bits ignored", Orv::GetBits<8, 4, int>(0x0F), 0},
        {"bit 12 and up ignored", Orv::GetBits<8, 4, int>(0x1000), 0},
        {"low 8 bits of a character", Orv::GetBits<8, 0, long>(0x1FF), 0xFF},
        {"negative handle by its bit pattern", Orv::GetBits<8, 4, int>(-1), 0xFF},
        {"one bit", Orv::GetBits<1, 31, uint32_t>(0x80000000u), 1},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(row.actual, row.expected) << row.name;
    }
    static_assert(Orv::GetBits<8, 4, int>(0xABC) == 0xAB, "usable in constant expressions");
}

TEST(HashedList, SetAddsOrReplacesByTheValuesKey)
{
    GlyphList list;
    EXPECT_TRUE(list.Set(Glyph{u'A', 7}));
    EXPECT_TRUE(list.Set(Glyph{u'B', 8}));
    EXPECT_EQ(list.GetCount(), 2u);

    EXPECT_FALSE(list.Set(Glyph{u'A', 9})) << "an equal key replaces";
    EXPECT_EQ(list.GetCount(), 2u);
    EXPECT_EQ(list.Find(u'A', Glyph{0, -1}).width, 9);
    EXPECT_EQ(list.Find(u'B', Glyph{0, -1}).width, 8);
    EXPECT_EQ(list.Find(u'C', Glyph{0, -1}).width, -1) << "an absent key gives the default";
}

TEST(HashedList, KeysSharingABucketStayApart)
{
    GlyphList list;
    // 0x41, 0x141 and 0x241 all land in bucket 0x41.
    const std::vector<long> keys{0x41, 0x141, 0x241};
    for (long key : keys) {
        EXPECT_TRUE(list.Set(Glyph{key, static_cast<int>(key)}));
    }
    EXPECT_EQ(list.GetCount(), 3u);
    for (long key : keys) {
        EXPECT_EQ(list.Find(key, Glyph{}).width, key);
    }

    EXPECT_TRUE(list.Remove(0x141));
    EXPECT_FALSE(list.Remove(0x141)) << "removed once only";
    EXPECT_FALSE(list.Remove(0x341)) << "same bucket, never added";
    EXPECT_EQ(list.GetCount(), 2u);
    EXPECT_EQ(list.Find(0x141, Glyph{0, -1}).width, -1);
    EXPECT_EQ(list.Find(0x41, Glyph{}).width, 0x41);
    EXPECT_EQ(list.Find(0x241, Glyph{}).width, 0x241);
}

TEST(HashedList, RemoveAllEmptiesEveryBucket)
{
    GlyphList list;
    for (long key = 0; key < 600; ++key) {
        list.Set(Glyph{key, 1});
    }
    EXPECT_EQ(list.GetCount(), 600u);
    list.RemoveAll();
    EXPECT_EQ(list.GetCount(), 0u);
    for (long key = 0; key < 600; ++key) {
        ASSERT_EQ(list.Find(key, Glyph{0, -1}).width, -1) << key;
    }
    EXPECT_TRUE(list.Set(Glyph{5, 2})) << "usable again";
}

// A list of pointers keyed by a free function, seen through its interface, as a cache does.
struct Entry
{
    int id;
};
int GetEntryID(const Entry* entry)
{
    return entry->id;
}

TEST(HashedList, WorksThroughItsInterfaceWithAFreeKeyFunction)
{
    Orv::HashedList<const Entry*, int, &GetEntryID, 8, &Orv::GetBits<8, 4, int>> concrete;
    Orv::IHashedList<const Entry*, int>& list = concrete;
    const Entry first{0x10}, second{0x1010}, replacement{0x10};
    EXPECT_TRUE(list.Set(&first));
    EXPECT_TRUE(list.Set(&second));
    EXPECT_FALSE(list.Set(&replacement));
    EXPECT_EQ(list.Find(0x10, nullptr), &replacement);
    EXPECT_EQ(list.Find(0x1010, nullptr), &second);
    EXPECT_EQ(list.Find(0x20, nullptr), nullptr);
    EXPECT_EQ(list.GetCount(), 2u);
}

}  // namespace
