// Handles and addresses of 32-bit callers: handles widen by sign, addresses by zero, and a
// 64-bit caller's buffer table must be whole.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "controlfilter/CallerLayout.h"

namespace {

std::vector<uint8_t> Bytes64(uint64_t value)
{
    std::vector<uint8_t> bytes(8);
    std::memcpy(bytes.data(), &value, 8);
    return bytes;
}

TEST(CallerLayoutTest, AddressesOfA32BitCallerAreZeroExtendedAndHandlesSignExtended)
{
    struct Row
    {
        const char* name;
        uint32_t value;
        uintptr_t address;
        uintptr_t handle;
    };
    const Row rows[] = {
        {"low", 0x00001000u, 0x1000u, 0x1000u},
        {"above 2 GB", 0x80001000u, 0x80001000u, 0xFFFFFFFF80001000u},
        {"top", 0xFFFFFFFCu, 0xFFFFFFFCu, 0xFFFFFFFFFFFFFFFCu},
    };
    for (const Row& row : rows) {
        auto bytes = Bytes64(0xAAAAAAAA00000000ull | row.value);  // high half must be ignored
        EXPECT_EQ(reinterpret_cast<uintptr_t>(ReadUserAddress(bytes.data(), 0, true)), row.address)
            << row.name;
        EXPECT_EQ(reinterpret_cast<uintptr_t>(ReadUserHandle(bytes.data(), 0, true)), row.handle)
            << row.name;
    }
    auto wide = Bytes64(0x00007FFF12345678ull);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(ReadUserAddress(wide.data(), 0, false)),
              0x00007FFF12345678u);
}

TEST(CallerLayoutTest, BufferTablesOfBothWidthsReadTheSameAndA64BitTableMustBeWhole)
{
    std::vector<uint8_t> narrow(164, 0);
    std::vector<uint8_t> wide(324, 0);
    for (uint32_t slot = 0; slot < 40; ++slot) {
        const uint32_t address = 0x90000000u + slot * 0x1000u;
        std::memcpy(narrow.data() + slot * 4, &address, 4);
        const uint64_t address64 = address;
        std::memcpy(wide.data() + slot * 8, &address64, 8);
    }
    const uint32_t length = 2048;
    std::memcpy(narrow.data() + 160, &length, 4);
    std::memcpy(wide.data() + 320, &length, 4);

    ClientBufferTable fromNarrow{};
    ClientBufferTable fromWide{};
    ASSERT_EQ(ReadBufferTable(narrow.data(), 164, true, &fromNarrow), STATUS_SUCCESS);
    ASSERT_EQ(ReadBufferTable(wide.data(), 324, false, &fromWide), STATUS_SUCCESS);
    EXPECT_EQ(std::memcmp(&fromNarrow, &fromWide, sizeof fromNarrow), 0);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(fromNarrow.halves[19][1]), 0x90027000u);
    EXPECT_EQ(fromNarrow.halfBytes, 2048u);

    ClientBufferTable untouched{};
    EXPECT_EQ(ReadBufferTable(wide.data(), 164, false, &untouched), STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(ReadBufferTable(wide.data(), 323, false, &untouched), STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(ReadBufferTable(narrow.data(), 163, true, &untouched), STATUS_BUFFER_TOO_SMALL);
}

}  // namespace
