#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <vector>

#include "FailingAllocator.h"
#include "Utilities/Storage/Buffer.h"
#include "Utilities/Storage/LBuffer.h"

namespace OrvTest {
FailingAllocator& TestAllocatorInstance()
{
    static FailingAllocator allocator;
    return allocator;
}
}  // namespace OrvTest

namespace {

using OrvTest::TestAllocator;
using OrvTest::TestAllocatorInstance;

using TextBuffer = Orv::BufferT<1, 128, 8, char*, &TestAllocator>;
using QueueBuffer = Orv::BufferT<1024, 1024, 8, char*, &TestAllocator>;
using WordBuffer = Orv::BufferT<4, 0, 8, char*, &TestAllocator>;
using ExactBuffer = Orv::BufferT<1, 0, 8, char*, &TestAllocator>;

class BufferTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        allocator.FailAt(0);
        allocator.outstanding = 0;
        allocator.reallocations = 0;
    }
    void TearDown() override
    {
        EXPECT_EQ(allocator.outstanding, 0) << "a block was not given back";
    }

    OrvTest::FailingAllocator& allocator = TestAllocatorInstance();
};

// One row: a buffer resized from a starting capacity to a new size, and the capacity after it.
struct SlackRow
{
    const char* name;
    int buffer;  // 0 text <1,128>, 1 queue <1024,1024>, 2 word <4,0>, 3 exact <1,0>
    uint32_t start;
    uint32_t resizeTo;
    uint32_t capacityAfter;
    bool reallocated;
};

template <class Buffer>
void RunSlackRow(const SlackRow& row, OrvTest::FailingAllocator& allocator)
{
    Buffer buffer;
    buffer.Allocate(row.start);
    ASSERT_EQ(buffer.GetCapacity() % Buffer::kGranularity, 0u);
    std::memset(buffer.GetData(), 0x5A, buffer.GetSize());
    const int before = allocator.reallocations;
    EXPECT_EQ(buffer.Resize(row.resizeTo), row.resizeTo);
    EXPECT_EQ(buffer.GetSize(), row.resizeTo);
    EXPECT_EQ(buffer.GetCapacity(), row.capacityAfter) << row.name;
    EXPECT_EQ(allocator.reallocations != before, row.reallocated) << row.name;
    // The contents that fit are kept either way.
    const uint32_t kept = std::min(row.start, row.resizeTo);
    for (uint32_t i = 0; i < kept; ++i) {
        ASSERT_EQ(static_cast<unsigned char*>(buffer.GetData())[i], 0x5A)
            << row.name << " byte " << i;
    }
}

TEST_F(BufferTest, ResizeKeepsItsBlockWithinTheSlackAndReallocatesOutsideIt)
{
    const SlackRow rows[] = {
        {"text 300 -> 172 keeps the block", 0, 300, 172, 300, false},
        {"text 300 -> 171 reallocates to fit", 0, 300, 171, 171, true},
        {"text 200 -> 72 keeps", 0, 200, 72, 200, false},
        {"text 200 -> 201 grows to exactly 201", 0, 200, 201, 201, true},
        {"queue 2048 -> 1024 keeps", 1, 2048, 1024, 2048, false},
        {"queue 2048 -> 1 shrinks to one step", 1, 2048, 1, 1024, true},
        {"queue 2048 -> 2049 grows one step", 1, 2048, 2049, 3072, true},
        {"word 12 -> 9 keeps (3 free)", 2, 12, 9, 12, false},
        {"word 12 -> 8 shrinks to 8", 2, 12, 8, 8, true},
        {"exact 10 -> 9 reallocates", 3, 10, 9, 9, true},
        {"exact 10 -> 10 stays", 3, 10, 10, 10, false},
    };
    for (const SlackRow& row : rows) {
        SCOPED_TRACE(row.name);
        switch (row.buffer) {
            case 0:
                RunSlackRow<TextBuffer>(row, allocator);
                break;
            case 1:
                RunSlackRow<QueueBuffer>(row, allocator);
                break;
            case 2:
                RunSlackRow<WordBuffer>(row, allocator);
                break;
            default:
                RunSlackRow<ExactBuffer>(row, allocator);
                break;
        }
    }
}

TEST_F(BufferTest, AllocateKeepsTheBlockOnlyWhenTheRoundedSizeIsUnchanged)
{
    WordBuffer buffer;
    buffer.Allocate(6);
    std::memcpy(buffer.GetData(), "abcdef", 6);
    const void* block = buffer.GetData();
    EXPECT_EQ(buffer.Allocate(7), 7u);  // both round to 8
    EXPECT_EQ(buffer.GetData(), block);
    EXPECT_EQ(std::memcmp(buffer.GetData(), "abcdef", 6), 0);
    EXPECT_EQ(buffer.Allocate(13), 13u);
    EXPECT_EQ(buffer.GetCapacity(), 16u);
    EXPECT_EQ(buffer.Allocate(0), 0u);
    EXPECT_EQ(buffer.GetCapacity(), 0u);
    EXPECT_EQ(buffer.GetData(), nullptr);
}

TEST_F(BufferTest, ResizeOfAnEmptyBufferAllocates)
{
    QueueBuffer buffer;
    EXPECT_EQ(buffer.GetData(), nullptr);
    EXPECT_EQ(buffer.Resize(5), 5u);
    EXPECT_EQ(buffer.GetCapacity(), 1024u);
    EXPECT_EQ(allocator.reallocations, 0);
}

TEST_F(BufferTest, AReserveBeyondTheSlackIsGivenBackAtOnce)
{
    WordBuffer reserved(10, 100, true);
    EXPECT_EQ(reserved.GetSize(), 10u);
    EXPECT_EQ(reserved.GetCapacity(), 12u);
    const std::vector<char> zeros(10, 0);
    EXPECT_EQ(std::memcmp(reserved.GetData(), zeros.data(), 10), 0);

    TextBuffer kept(10, 100);
    EXPECT_EQ(kept.GetCapacity(), 100u) << "within the slack the reserve stays as given";
}

TEST_F(BufferTest, FillAndFillWordsRefuseRangesOutsideTheBuffer)
{
    ExactBuffer buffer;
    buffer.Allocate(5);
    std::memset(buffer.GetData(), 0xEE, 5);
    auto* bytes = static_cast<unsigned char*>(buffer.GetData());

    EXPECT_EQ(buffer.Fill(0, 5, -1), S_OK) << "nothing to write at the end";
    EXPECT_EQ(buffer.Fill(0, 6, -1), E_INVALIDARG);
    EXPECT_EQ(buffer.Fill(0, 3, 3), E_INVALIDARG);
    EXPECT_EQ(bytes[3], 0xEE) << "a refused range writes nothing";
    EXPECT_EQ(buffer.Fill(0x11, 1, 2), S_OK);
    EXPECT_EQ(bytes[0], 0xEE);
    EXPECT_EQ(bytes[1], 0x11);
    EXPECT_EQ(bytes[2], 0x11);
    EXPECT_EQ(bytes[3], 0xEE);

    EXPECT_EQ(buffer.FillWords(0xA1B2, 0, -1), S_OK);
    uint16_t words[2];
    std::memcpy(words, bytes, 4);
    EXPECT_EQ(words[0], 0xA1B2);
    EXPECT_EQ(words[1], 0xA1B2);
    EXPECT_EQ(bytes[4], 0xEE) << "an odd last byte is left alone";
    EXPECT_EQ(buffer.FillWords(0, 2, 2), E_INVALIDARG);
    EXPECT_EQ(buffer.FillWords(0, 6, -1), E_INVALIDARG);
}

TEST_F(BufferTest, AFailedAllocationThrowsAndKeepsTheOldBlock)
{
    TextBuffer buffer;
    buffer.Allocate(10);
    std::memcpy(buffer.GetData(), "0123456789", 10);
    const void* block = buffer.GetData();

    allocator.FailAt(1);
    EXPECT_THROW(buffer.Resize(500), std::bad_alloc);
    EXPECT_EQ(buffer.GetData(), block);
    EXPECT_EQ(buffer.GetSize(), 10u);
    EXPECT_EQ(buffer.GetCapacity(), 10u);
    EXPECT_EQ(std::memcmp(buffer.GetData(), "0123456789", 10), 0);

    allocator.FailAt(1);
    EXPECT_THROW(buffer.Allocate(500), std::bad_alloc);
    EXPECT_EQ(buffer.GetData(), block);
    EXPECT_EQ(buffer.GetSize(), 10u);

    allocator.FailAt(1);
    EXPECT_THROW(TextBuffer(10, 500), std::bad_alloc);
    allocator.FailAt(2);
    EXPECT_THROW(WordBuffer(10, 500), std::bad_alloc) << "the reserve is given back on the way out";
}

TEST(LBuffer, CopyRangeTakesTheBytesThatExistAndZeroFillsTheRest)
{
    const Orv::RCPtr<Orv::LIBuffer> source = Orv::LTextBuffer::Create(10);
    std::memcpy(source->GetData(), "0123456789", 10);

    const Orv::RCPtr<Orv::LIBuffer> tail = source->CopyRange(8, 6);
    ASSERT_EQ(tail->GetSize(), 8u);
    EXPECT_EQ(std::memcmp(tail->GetData(), "6789\0\0\0\0", 8), 0);

    for (uint32_t offset : {10u, 11u, 4000000000u}) {
        const Orv::RCPtr<Orv::LIBuffer> beyond = source->CopyRange(8, offset);
        EXPECT_EQ(std::memcmp(beyond->GetData(), "\0\0\0\0\0\0\0\0", 8), 0) << offset;
    }
}

TEST(LBuffer, AnUnshareableBufferGivesEveryFurtherHolderAPrivateCopy)
{
    Orv::RCPtr<Orv::LIBuffer> owner = Orv::LTextBuffer::Create(4);
    std::memcpy(owner->GetData(), "abc", 4);
    owner->SetUnshareable(true);

    const Orv::RCPtr<Orv::LIBuffer> second(owner);
    EXPECT_NE(second.Get(), owner.Get());
    EXPECT_EQ(owner->GetRefCount(), 1);
    EXPECT_EQ(second->GetSize(), 4u);
    EXPECT_STREQ(static_cast<const char*>(second->GetData()), "abc");
    EXPECT_TRUE(second->IsShareable());
}

TEST(SystemAllocator, IsOneInstanceThatRefusesAnOverflowingZeroedRequest)
{
    Orv::IAllocator& allocator = Orv::GetSystemAllocator();
    EXPECT_EQ(&allocator, &Orv::GetSystemAllocator());
    EXPECT_EQ(allocator.AllocateZeroed(0x10000, 0x10001), nullptr);
    auto* zeros = static_cast<unsigned char*>(allocator.AllocateZeroed(4, 8));
    ASSERT_NE(zeros, nullptr);
    for (int i = 0; i < 32; ++i) {
        EXPECT_EQ(zeros[i], 0);
    }
    void* grown = allocator.Reallocate(zeros, 64);
    ASSERT_NE(grown, nullptr);
    allocator.Free(grown);
    allocator.Free(nullptr);
}

}  // namespace
