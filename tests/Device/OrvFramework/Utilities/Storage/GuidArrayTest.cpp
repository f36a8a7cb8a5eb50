// Arrays of identifiers, as the panel keeps the interface identifiers it asks a device for.
#include <windows.h>

#include <gtest/gtest.h>

#include "Utilities/Storage/Array.h"

namespace {

constexpr GUID kFirst{0x12345678, 0x9ABC, 0xDEF0, {1, 2, 3, 4, 5, 6, 7, 8}};
constexpr GUID kSecond{0x12345678, 0x9ABC, 0xDEF0, {1, 2, 3, 4, 5, 6, 7, 9}};

TEST(GuidArray, CopiesAndComparesIdentifiersFieldByField)
{
    Orv::Array<GUID> ids;
    EXPECT_EQ(ids.AddItem(kFirst), 0);
    EXPECT_EQ(ids.AddItem(kSecond), 1);
    EXPECT_TRUE(ids.GetAt(0) == kFirst);
    EXPECT_FALSE(ids.GetAt(1) == kFirst) << "the last byte differs";

    Orv::Array<GUID> copy;
    EXPECT_EQ(copy.Assign(ids), 2);
    EXPECT_TRUE(copy.IsEqual(ids));
    copy.GetAt(1).Data4[7] = 8;
    EXPECT_FALSE(copy.IsEqual(ids));
    EXPECT_TRUE(ids.GetAt(1) == kSecond) << "the copy is independent";

    // Every field takes part.
    GUID other = kFirst;
    for (GUID changed : {GUID{1, 0x9ABC, 0xDEF0, {1, 2, 3, 4, 5, 6, 7, 8}},
                         GUID{0x12345678, 1, 0xDEF0, {1, 2, 3, 4, 5, 6, 7, 8}},
                         GUID{0x12345678, 0x9ABC, 1, {1, 2, 3, 4, 5, 6, 7, 8}},
                         GUID{0x12345678, 0x9ABC, 0xDEF0, {0, 2, 3, 4, 5, 6, 7, 8}}}) {
        EXPECT_FALSE(changed == other);
    }
    EXPECT_TRUE(other == kFirst);
}

}  // namespace
