#include "MidiBytes.h"

namespace {

struct StatusTable
{
    UCHAR length[256];
    UCHAR cin[256];
};

constexpr StatusTable BuildStatusTable()
{
    StatusTable table = {};
    for (int status = 0; status < 256; ++status) {
        table.cin[status] = kNoCodeIndex;
    }
    for (int status = 0x80; status <= 0xEF; ++status) {
        const int kind = status >> 4;
        // Program change and channel pressure carry one data byte, the other channel messages two.
        table.length[status] = (kind == 0xC || kind == 0xD) ? 2 : 3;
        table.cin[status] = static_cast<UCHAR>(kind);
    }
    const struct
    {
        UCHAR status;
        UCHAR length;
        UCHAR cin;
    } systemRows[] = {
        {0xF1, 2, 2},  // time code quarter frame
        {0xF2, 3, 3},  // song position
        {0xF3, 2, 2},  // song select
        {0xF6, 1, 5},  // tune request
        {0xF7, 1, 5},  // end of exclusive
        {0xF8, 1, 15}, {0xFA, 1, 15}, {0xFB, 1, 15}, {0xFC, 1, 15}, {0xFE, 1, 15}, {0xFF, 1, 15},
    };
    for (const auto& row : systemRows) {
        table.length[row.status] = row.length;
        table.cin[row.status] = row.cin;
    }
    return table;
}

constexpr StatusTable kStatusTable = BuildStatusTable();

constexpr UCHAR kBytesForCin[16] = {0, 0, 2, 3, 3, 1, 2, 3, 3, 3, 3, 3, 2, 2, 3, 1};

static_assert(kStatusTable.length[0x90] == 3 && kStatusTable.length[0xC5] == 2);
static_assert(kStatusTable.length[0xF0] == 0 && kStatusTable.cin[0xF0] == kNoCodeIndex);
static_assert(kStatusTable.cin[0xF4] == kNoCodeIndex && kStatusTable.cin[0xFD] == kNoCodeIndex);

}  // namespace

ULONG MidiMessageLength(UCHAR status)
{
    return kStatusTable.length[status];
}

UCHAR CodeIndexNumber(UCHAR status)
{
    return kStatusTable.cin[status];
}

ULONG MidiBytesForCin(UCHAR cin)
{
    return kBytesForCin[cin & 0x0F];
}
