// The program's variants and the client library's values are the same objects on both sides of
// the boundary (LibraryValues.h holds their layouts together). What no compile-time check sees is
// held here: a variant handed in is filled through its own allocator, the list handed back
// answers the program's virtual operations as the program's own copy does, and a list the library
// cannot read whole is refused.
#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <vector>

#include "EngineTestSupport.h"
#include "UlvaneInterface.h"

namespace {

using Orv::ParamDescriptor;
using Orv::Variant;

constexpr int32_t kBadList = -4;

// Counts the blocks it gives out and takes back.
class CountingVariant : public Variant
{
public:
    ~CountingVariant() override { Clear(); }
    void* AllocateBlock(uint32_t size) override
    {
        ++allocated;
        return Variant::AllocateBlock(size);
    }
    void FreeBlock(void* block) override
    {
        ++freed;
        Variant::FreeBlock(block);
    }

    int allocated = 0;
    int freed = 0;
};

// What the program read from the library's list through its virtual operations, beside what its
// own copy answered.
struct Readings
{
    std::mutex lock;
    std::vector<Variant> copies;
    std::vector<std::string> disagreements;

    // The list is the library's object, not of this program's class: the sanitizer's check of
    // dynamic types cannot tell it from a wrong object.
    __attribute__((no_sanitize("vptr"))) static void Receive(void* context, int32_t,
                                                             const Variant* values)
    {
        auto* readings = static_cast<Readings*>(context);
        const Variant copy(*values);
        std::vector<std::string> differ;
        const auto check = [&differ](bool same, const char* operation) {
            if (!same) {
                differ.emplace_back(operation);
            }
        };
        check(values->GetBool() == copy.GetBool(), "GetBool");
        check(values->GetInt8() == copy.GetInt8(), "GetInt8");
        check(values->GetInt16() == copy.GetInt16(), "GetInt16");
        check(values->GetInt32() == copy.GetInt32(), "GetInt32");
        check(values->GetInt64() == copy.GetInt64(), "GetInt64");
        check(values->GetUInt8() == copy.GetUInt8(), "GetUInt8");
        check(values->GetUInt16() == copy.GetUInt16(), "GetUInt16");
        check(values->GetUInt32() == copy.GetUInt32(), "GetUInt32");
        check(values->GetUInt64() == copy.GetUInt64(), "GetUInt64");
        check(values->GetFloat() == copy.GetFloat(), "GetFloat");
        check(values->GetDouble() == copy.GetDouble(), "GetDouble");
        int32_t theirs = -1;
        int32_t ours = -1;
        const void* data = values->GetData(theirs);
        const void* copied = copy.GetData(ours);
        check(theirs == ours && ours > 0 && std::memcmp(data, copied, ours) == 0, "GetData");
        theirs = -1;
        ours = -1;
        check(values->GetBytes(theirs) == copy.GetBytes(ours) && theirs == ours, "GetBytes");
        check(values->GetString() == copy.GetString(), "GetString");
        const std::lock_guard<std::mutex> guard(readings->lock);
        readings->copies.push_back(copy);
        readings->disagreements.insert(readings->disagreements.end(), differ.begin(), differ.end());
    }
};

void Ignore(void*, int32_t, const Variant*) {}

class LibraryValuesTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(world.IsReady());
        id = world.AddDevice("Desk");
        ASSERT_TRUE(binding.IsLoaded());
    }

    UlvaneWorld world;
    Variant id;
    Orv::UlvaneInterface binding;
};

TEST_F(LibraryValuesTest, AVariantHandedInIsFilledThroughItsOwnAllocator)
{
    ASSERT_EQ(binding.ConnectDevice(&id, &Ignore, nullptr), 0);
    ParamDescriptor maker;
    maker.id = -9;
    CountingVariant value;
    ASSERT_EQ(binding.GetParamValue(&id, &maker, &value), 0);
    EXPECT_STREQ(value.GetString(), "Corvane");
    EXPECT_EQ(value.allocated, 1);
    EXPECT_EQ(value.freed, 0);
    // Filled again, it gives its old block back the way the block came.
    ASSERT_EQ(binding.GetParamValue(&id, &maker, &value), 0);
    EXPECT_EQ(value.allocated, 2);
    EXPECT_EQ(value.freed, 1);

    ParamDescriptor wanted[2];
    wanted[0].id = -9;
    wanted[1].id = 3;
    Orv::ParamDescriptors descriptors;
    ASSERT_EQ(descriptors.SetDescriptors(wanted, 2), 0);
    CountingVariant list;
    ASSERT_EQ(binding.GetParamValues(&id, &descriptors, &list), 0);
    EXPECT_EQ(list.allocated, 1);
    Orv::ParamValues values;
    static_cast<Variant&>(values) = list;
    Variant maker2;
    ASSERT_EQ(values.GetValue(wanted[0], maker2), 0);
    EXPECT_STREQ(maker2.GetString(), "Corvane");
    Variant sizes;
    ASSERT_EQ(values.GetValue(wanted[1], sizes), 0);
    ASSERT_EQ(sizes.GetListItemCount(), 3u);
    Variant largest;
    ASSERT_EQ(sizes.GetListItem(1, largest), 0);
    EXPECT_EQ(largest.GetType(), Orv::kVariantInt32);
    EXPECT_EQ(largest.GetInt32(), 4096);
}

TEST_F(LibraryValuesTest, TheListHandedBackAnswersAsTheProgramsOwnCopy)
{
    Readings readings;
    ASSERT_EQ(binding.ConnectDevice(&id, &Readings::Receive, &readings), 0);
    ASSERT_TRUE(world.PushValue("Desk", 2, Int32Value(128)));
    world->WaitForCallbacks();

    const std::lock_guard<std::mutex> guard(readings.lock);
    ASSERT_EQ(readings.copies.size(), 1u);
    EXPECT_TRUE(readings.disagreements.empty()) << readings.disagreements.front();
    // Byte for byte the list the program writes for the same value.
    ParamDescriptor size;
    size.id = 2;
    Orv::ParamValues expected;
    expected.SetSingleValue(size, Int32Value(128));
    EXPECT_TRUE(readings.copies[0] == expected);
}

// A list block of raw bytes: items of (format, type, payload).
struct RawItem
{
    uint32_t format;
    uint32_t type;
    std::vector<uint8_t> payload;
};

std::vector<uint8_t> Bytes(const std::vector<RawItem>& items)
{
    std::vector<uint8_t> out;
    for (const RawItem& item : items) {
        const uint32_t header[3] = {static_cast<uint32_t>(12 + item.payload.size()), item.format,
                                    item.type};
        const auto* bytes = reinterpret_cast<const uint8_t*>(header);
        out.insert(out.end(), bytes, bytes + sizeof header);
        out.insert(out.end(), item.payload.begin(), item.payload.end());
    }
    return out;
}

Variant RawList(const std::vector<uint8_t>& bytes)
{
    Variant list;
    list.Set(Orv::kVariantList, bytes.data(), static_cast<uint32_t>(bytes.size()));
    return list;
}

// A descriptor item [id, sub-index] of the given items (the sub-index empty by default).
RawItem Descriptor(RawItem id, RawItem subIndex = {1, Orv::kVariantEmpty, {}})
{
    return {1, Orv::kVariantList, Bytes({std::move(id), std::move(subIndex)})};
}

TEST_F(LibraryValuesTest, AListNotReadableWholeIsRefused)
{
    ASSERT_EQ(binding.ConnectDevice(&id, &Ignore, nullptr), 0);
    const RawItem three{1, Orv::kVariantInt32, {3, 0, 0, 0}};
    const RawItem good = Descriptor(three);
    std::vector<uint8_t> cut = Bytes({good, good});
    cut.pop_back();
    std::vector<uint8_t> trailing = Bytes({good});
    trailing.push_back(0);
    const struct
    {
        const char* name;
        Variant list;
        int32_t result;
    } cases[] = {
        {"one good descriptor", RawList(Bytes({good})), 0},
        {"not a list", Int32Value(3), kBadList},
        {"no descriptor", RawList({}), kBadList},
        {"the last item cut short", RawList(cut), kBadList},
        {"a byte after the last item", RawList(trailing), kBadList},
        {"an item of another format", RawList(Bytes({{2, good.type, good.payload}})), kBadList},
        {"an id that is not an int32",
         RawList(Bytes({Descriptor({1, Orv::kVariantInt16, {3, 0}})})), kBadList},
        {"an id of the wrong size", RawList(Bytes({Descriptor({1, Orv::kVariantInt32, {3, 0}})})),
         kBadList},
        {"a sub-index text without its zero byte",
         RawList(Bytes({Descriptor(three, {1, Orv::kVariantString, {'a'}})})), kBadList},
        {"a sub-index text with a zero byte inside",
         RawList(Bytes({Descriptor(three, {1, Orv::kVariantString, {'a', 0, 'b', 0}})})), kBadList},
        {"external data", RawList(Bytes({{1, Orv::kVariantExternalData, {1, 2, 3, 4}}})), kBadList},
        {"an unknown type", RawList(Bytes({{1, 17, {}}})), kBadList},
    };
    for (const auto& c : cases) {
        CountingVariant out;
        EXPECT_EQ(binding.GetParamValues(&id, &c.list, &out), c.result) << c.name;
        EXPECT_EQ(out.IsEmpty(), c.result != 0) << c.name;
    }

    Orv::ParamRanges backwards;
    const Orv::ParamRange range{0, -1};
    ASSERT_EQ(backwards.SetRanges(&range, 1), 0);
    Variant out;
    EXPECT_EQ(binding.GetParamRanges(&id, &backwards, &out), kBadList);
}

}  // namespace
