// Message lengths and Code Index Numbers of every byte value, and the bytes each CIN carries.
#include <gtest/gtest.h>

#include "midi/MidiBytes.h"

namespace {

struct StatusRange
{
    int first;
    int last;
    ULONG length;
    UCHAR cin;
};

const StatusRange kRanges[] = {
    {0x00, 0x7F, 0, kNoCodeIndex},  // data bytes
    {0x80, 0x8F, 3, 8},
    {0x90, 0x9F, 3, 9},
    {0xA0, 0xAF, 3, 10},
    {0xB0, 0xBF, 3, 11},
    {0xC0, 0xCF, 2, 12},
    {0xD0, 0xDF, 2, 13},
    {0xE0, 0xEF, 3, 14},
    {0xF0, 0xF0, 0, kNoCodeIndex},
    {0xF1, 0xF1, 2, 2},
    {0xF2, 0xF2, 3, 3},
    {0xF3, 0xF3, 2, 2},
    {0xF4, 0xF5, 0, kNoCodeIndex},
    {0xF6, 0xF7, 1, 5},
    {0xF8, 0xF8, 1, 15},
    {0xF9, 0xF9, 0, kNoCodeIndex},
    {0xFA, 0xFC, 1, 15},
    {0xFD, 0xFD, 0, kNoCodeIndex},
    {0xFE, 0xFF, 1, 15},
};

TEST(MidiBytesTest, EveryByteHasItsLengthAndCodeIndex)
{
    int covered = 0;
    for (const StatusRange& range : kRanges) {
        for (int value = range.first; value <= range.last; ++value, ++covered) {
            const auto status = static_cast<UCHAR>(value);
            EXPECT_EQ(MidiMessageLength(status), range.length) << std::hex << value;
            EXPECT_EQ(CodeIndexNumber(status), range.cin) << std::hex << value;
        }
    }
    EXPECT_EQ(covered, 256);
}

TEST(MidiBytesTest, EachCodeIndexCarriesItsBytes)
{
    const ULONG expected[16] = {0, 0, 2, 3, 3, 1, 2, 3, 3, 3, 3, 3, 2, 2, 3, 1};
    for (UCHAR cin = 0; cin < 16; ++cin) {
        EXPECT_EQ(MidiBytesForCin(cin), expected[cin]) << int(cin);
        // A wire header carries the cable in its high bits: only the CIN counts.
        EXPECT_EQ(MidiBytesForCin(static_cast<UCHAR>(0xF0 | cin)), expected[cin]) << int(cin);
    }
}

}  // namespace
