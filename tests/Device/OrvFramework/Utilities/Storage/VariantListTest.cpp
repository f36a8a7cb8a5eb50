// The list byte format: written byte for byte, read back, and malformed input refused.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

#include "Utilities/Storage/ParamLists.h"
#include "Utilities/Storage/Variant.h"
#include "Utilities/Storage/VariantEx.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Orv::Variant;

Bytes BlockOf(const Variant& list)
{
    int32_t size = 0;
    const auto* data = static_cast<const uint8_t*>(list.GetData(size));
    return Bytes(data, data + size);
}

void AppendUInt32(Bytes& bytes, uint32_t value)
{
    for (int i = 0; i < 4; ++i) {
        bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
}

// One item: length, format, type and the payload, with the length given or computed.
Bytes Item(uint32_t type, const Bytes& payload, uint32_t format = 1, int64_t length = -1)
{
    Bytes bytes;
    AppendUInt32(bytes, length < 0 ? static_cast<uint32_t>(12 + payload.size())
                                   : static_cast<uint32_t>(length));
    AppendUInt32(bytes, format);
    AppendUInt32(bytes, type);
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    return bytes;
}

Variant ListOf(const Bytes& block)
{
    Variant list;
    list.Set(Orv::kVariantList, block.data(), static_cast<uint32_t>(block.size()));
    return list;
}

TEST(VariantList, DescriptorListMatchesTheFortyByteLayout)
{
    Orv::ParamDescriptor descriptor;
    descriptor.id = 2;
    Orv::ParamDescriptors list;
    ASSERT_EQ(list.SetDescriptors(&descriptor, 1), 0);
    const Bytes expected = {0x28, 0, 0,    0, 0x01, 0, 0,    0, 0x10, 0, 0,    0,  // outer item
                            0x10, 0, 0,    0, 0x01, 0, 0,    0, 0x06, 0, 0,    0, 0x02, 0,
                            0,    0, 0x0C, 0, 0,    0, 0x01, 0, 0,    0, 0x00, 0, 0,    0};
    EXPECT_EQ(BlockOf(list), expected);

    ASSERT_EQ(list.GetListItemCount(), 1u);
    Variant pair;
    ASSERT_EQ(list.GetListItem(0, pair), 0);
    ASSERT_EQ(pair.GetListItemCount(), 2u);
    Variant id;
    Variant subIndex;
    ASSERT_EQ(pair.GetListItem(0, id), 0);
    ASSERT_EQ(pair.GetListItem(1, subIndex), 0);
    EXPECT_EQ(id.GetType(), Orv::kVariantInt32);
    EXPECT_EQ(id.GetInt32(), 2);
    EXPECT_TRUE(subIndex.IsEmpty());
}

TEST(VariantList, TextItemBytes)
{
    Variant text;
    text.SetString("abc");
    Variant list;
    EXPECT_EQ(list.SetList(&text, 1), Orv::kVariantList);
    EXPECT_EQ(BlockOf(list), Item(15, {0x61, 0x62, 0x63, 0x00}));
}

// One value of every type that a list carries through the format.
std::vector<Variant> OneOfEveryType()
{
    std::vector<Variant> values(15);
    values[1].SetBool(true);
    values[2].SetInt8(-8);
    values[3].SetUInt8(250);
    values[4].SetInt16(-1600);
    values[5].SetUInt16(65000);
    values[6].SetInt32(-320000);
    values[7].SetUInt32(4000000000u);
    values[8].SetFloat(-1.25f);
    values[9].SetDouble(6.02e23);
    values[10].SetInt64(-(1LL << 50));
    values[11].SetUInt64(0xFEDCBA9876543210ULL);
    values[12].SetBlob("\x00\x01\x02", 3);
    values[13].SetString("text \xC3\xA9");
    Variant inner[2];
    inner[0].SetInt32(7);
    inner[1].SetString("nested");
    values[14].SetList(inner, 2);
    return values;
}

TEST(VariantList, EveryTypeReadsBackEqual)
{
    const std::vector<Variant> values = OneOfEveryType();
    Variant list;
    ASSERT_EQ(list.SetList(values.data(), static_cast<uint32_t>(values.size())), Orv::kVariantList);
    ASSERT_EQ(list.GetListItemCount(), values.size());
    for (uint32_t i = 0; i < values.size(); ++i) {
        Variant item;
        ASSERT_EQ(list.GetListItem(i, item), 0) << i;
        EXPECT_TRUE(item == values[i]) << i;
    }
    // Into a VariantEx the items land in its counted buffer.
    Orv::VariantEx ex;
    ASSERT_EQ(list.GetListItem(13, ex), 0);
    EXPECT_FALSE(ex.GetBuffer().IsNull());
    EXPECT_EQ(std::u16string(ex.ToString().GetText()), u"text \u00e9");
}

TEST(VariantList, EmptyListAsAnItem)
{
    Variant empty;
    EXPECT_EQ(empty.SetList(static_cast<const Variant*>(nullptr), 0), Orv::kVariantList);
    EXPECT_EQ(empty.GetSize(), 0u);
    EXPECT_EQ(empty.GetListItemCount(), 0u);
    int32_t size = 0;
    EXPECT_EQ(empty.GetData(size), nullptr);

    Variant outer;
    outer.SetList(&empty, 1);
    EXPECT_EQ(BlockOf(outer), Item(16, {}));
    Variant back;
    ASSERT_EQ(outer.GetListItem(0, back), 0);
    EXPECT_EQ(back.GetType(), Orv::kVariantList);
    EXPECT_EQ(back.GetSize(), 0u);
    EXPECT_TRUE(back == empty);
}

TEST(VariantList, EmptyVariantAndEmptyTextItems)
{
    Variant items[2];
    items[1].SetString("");
    Variant list;
    list.SetList(items, 2);
    Bytes expected = Item(0, {});
    const Bytes text = Item(15, {0});
    expected.insert(expected.end(), text.begin(), text.end());
    EXPECT_EQ(BlockOf(list), expected);
    Variant back;
    back.SetInt32(9);
    ASSERT_EQ(list.GetListItem(0, back), 0);
    EXPECT_TRUE(back.IsEmpty());
    ASSERT_EQ(list.GetListItem(1, back), 0);
    EXPECT_STREQ(back.GetString(), "");
}

TEST(VariantList, EmptyBlobIsWrittenAsAHeaderAndRefusedWhenRead)
{
    Variant blob;
    blob.SetBlob(nullptr, 0);
    Variant list;
    list.SetList(&blob, 1);
    EXPECT_EQ(BlockOf(list), Item(14, {}));
    Variant back;
    EXPECT_EQ(list.GetListItem(0, back), -1);
    EXPECT_TRUE(back.IsEmpty());
}

TEST(VariantList, IndexBeyondTheCountFails)
{
    Variant items[3];
    items[0].SetInt8(1);
    items[1].SetInt8(2);
    items[2].SetInt8(3);
    Variant list;
    list.SetList(items, 3);
    Variant out;
    out.SetString("stale");
    EXPECT_EQ(list.GetListItem(3, out), -1);
    EXPECT_TRUE(out.IsEmpty());
    EXPECT_EQ(list.GetListItem(2, out), 0);
    EXPECT_EQ(out.GetInt8(), 3);

    Variant notAList;
    notAList.SetInt32(1);
    EXPECT_EQ(notAList.GetListItemCount(), 0u);
    EXPECT_EQ(notAList.GetListItem(0, out), -1);
}

TEST(VariantList, PointerFormAndNullItems)
{
    Variant a;
    a.SetUInt16(0xBEEF);
    const Variant* items[] = {&a, nullptr};
    Variant list;
    list.SetList(items, 2);
    Bytes expected = Item(5, {0xEF, 0xBE});
    const Bytes empty = Item(0, {});
    expected.insert(expected.end(), empty.begin(), empty.end());
    EXPECT_EQ(BlockOf(list), expected);
}

TEST(VariantList, ListCanHoldItselfAndReadIntoItself)
{
    Variant list;
    list.SetInt32(5);
    list.SetList(&list, 1);
    const Variant* twice[] = {&list, &list};
    list.SetList(twice, 2);
    ASSERT_EQ(list.GetListItemCount(), 2u);
    ASSERT_EQ(list.GetListItem(1, list), 0);
    ASSERT_EQ(list.GetListItem(0, list), 0);
    EXPECT_EQ(list.GetInt32(), 5);
}

TEST(VariantList, TrailingBytesThatAreNoWholeItemAreNotCounted)
{
    for (size_t extra : {1u, 4u, 5u, 11u}) {
        Bytes block = Item(6, {1, 0, 0, 0});
        block.resize(block.size() + extra, 0xAB);
        const Variant list = ListOf(block);
        EXPECT_EQ(list.GetListItemCount(), 1u) << extra;
        Variant out;
        EXPECT_EQ(list.GetListItem(1, out), -1) << extra;
    }
}

TEST(VariantList, CountStopsAtAnItemThatIsNotWhole)
{
    const Bytes good = Item(2, {9});
    const struct
    {
        const char* name;
        Bytes second;
    } rows[] = {
        {"length zero", Item(6, {1, 0, 0, 0}, 1, 0)},
        {"length below header", Item(6, {1, 0, 0, 0}, 1, 11)},
        {"negative length", Item(6, {1, 0, 0, 0}, 1, -16 & 0xFFFFFFFF)},
        {"length beyond the block", Item(6, {1, 0, 0, 0}, 1, 1000)},
    };
    for (const auto& row : rows) {
        Bytes block = good;
        block.insert(block.end(), row.second.begin(), row.second.end());
        block.insert(block.end(), good.begin(), good.end());
        const Variant list = ListOf(block);
        EXPECT_EQ(list.GetListItemCount(), 1u) << row.name;
        Variant out;
        EXPECT_EQ(list.GetListItem(1, out), -1) << row.name;
        EXPECT_EQ(list.GetListItem(2, out), -1) << row.name;
        EXPECT_TRUE(out.IsEmpty()) << row.name;
    }
}

struct MalformedItem
{
    const char* name;
    Bytes bytes;
    uint32_t available;  // 0: all of them
};

// Test names, not the bytes of the row.
void PrintTo(const MalformedItem& row, std::ostream* out)
{
    *out << row.name;
}

class VariantListReader : public ::testing::TestWithParam<MalformedItem>
{
};

TEST_P(VariantListReader, RefusesAndLeavesTheOutputUntouched)
{
    const MalformedItem& row = GetParam();
    // Exactly the bytes offered, so a read beyond them is caught by the address sanitizer.
    const uint32_t available =
        row.available != 0 ? row.available : static_cast<uint32_t>(row.bytes.size());
    std::vector<uint8_t> exact(row.bytes.begin(), row.bytes.begin() + available);
    Variant out;
    out.SetUInt8(77);
    EXPECT_EQ(Variant::ReadListItem(out, exact.data(), available), E_FAIL);
    EXPECT_EQ(out.GetType(), Orv::kVariantUInt8);
    EXPECT_EQ(out.GetUInt8(), 77);

    // The same bytes as the only item of a list: no item, and the output empty.
    const Variant list = ListOf(exact);
    Variant item;
    item.SetInt32(1);
    EXPECT_EQ(list.GetListItem(0, item), -1);
    EXPECT_TRUE(item.IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Table, VariantListReader,
    ::testing::Values(MalformedItem{"ShorterThanAHeader", Item(6, {1, 0, 0, 0}), 11},
                      MalformedItem{"LengthBeyondTheBytes", Item(6, {1, 0, 0, 0}), 15},
                      MalformedItem{"LengthBelowHeader", Item(0, {}, 1, 8), 0},
                      MalformedItem{"LengthZero", Item(0, {}, 1, 0), 0},
                      MalformedItem{"FormatTwo", Item(6, {1, 0, 0, 0}, 2), 0},
                      MalformedItem{"FormatZero", Item(6, {1, 0, 0, 0}, 0), 0},
                      MalformedItem{"TypeSeventeen", Item(17, {1, 0, 0, 0}), 0},
                      MalformedItem{"TypeHuge", Item(0xFFFFFFFF, {1, 0, 0, 0}), 0},
                      MalformedItem{"Int32WithThreeBytes", Item(6, {1, 0, 0}), 0},
                      MalformedItem{"Int32WithFiveBytes", Item(6, {1, 0, 0, 0, 0}), 0},
                      MalformedItem{"BoolWithoutPayload", Item(1, {}), 0},
                      MalformedItem{"DoubleWithFourBytes", Item(9, {0, 0, 0, 0}), 0},
                      MalformedItem{"EmptyWithPayload", Item(0, {1}), 0},
                      MalformedItem{"TextWithoutTerminator", Item(15, {'a', 'b', 'c'}), 0},
                      MalformedItem{"EmptyText", Item(15, {}), 0},
                      MalformedItem{"ExternalData", Item(12, {1, 2, 3, 4}), 0},
                      MalformedItem{"ExternalOpaque", Item(13, {1, 2, 3, 4}), 0},
                      MalformedItem{"EmptyBlob", Item(14, {}), 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(VariantListReader, TextEndsAtItsFirstZeroByte)
{
    const Bytes item = Item(15, {'a', 0, 'b', 0});
    Variant out;
    ASSERT_EQ(Variant::ReadListItem(out, item.data(), static_cast<uint32_t>(item.size())), S_OK);
    EXPECT_STREQ(out.GetString(), "a");
    EXPECT_EQ(out.GetSize(), 2u);
}

TEST(VariantListReader, NestedListIsTakenWholeAndCheckedWhenRead)
{
    const Bytes inner = Item(6, {1, 0, 0, 0}, 1, 200);
    const Bytes outer = Item(16, inner);
    Variant list;
    ASSERT_EQ(list.ReadItem(outer.data(), static_cast<uint32_t>(outer.size())), S_OK);
    EXPECT_EQ(list.GetType(), Orv::kVariantList);
    EXPECT_EQ(list.GetListItemCount(), 0u);
    Variant out;
    EXPECT_EQ(list.GetListItem(0, out), -1);
}

TEST(VariantListReader, ReadItemKeepsTheValueOnBadBytes)
{
    Variant value;
    value.SetString("kept");
    const uint8_t dword[4] = {1, 0, 0, 0};
    EXPECT_EQ(value.ReadItem(dword, 4), E_FAIL);
    EXPECT_EQ(value.ReadItem(nullptr, 0), E_FAIL);
    EXPECT_STREQ(value.GetString(), "kept");
    const Bytes item = Item(6, {0x2A, 0, 0, 0});
    EXPECT_EQ(value.ReadItem(item.data(), static_cast<uint32_t>(item.size())), S_OK);
    EXPECT_EQ(value.GetInt32(), 42);
}

}  // namespace
