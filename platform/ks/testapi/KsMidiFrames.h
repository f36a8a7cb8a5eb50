// What a MIDI client puts into and takes out of a MIDI pin's frames: the music data formats it
// opens pins with, raw MIDI (KSMUSICFORMAT) and DirectMusic (DMUS_EVENTHEADER) records, and the
// records of a completed capture frame. Driver code never includes this.
#pragma once

#include <KsPinHandle.h>

#include <cstdint>
#include <span>
#include <vector>

namespace Platform::Ks {

// A KSDATAFORMAT (64 bytes) of music, specifier none, with the MIDI or DirectMusic subformat.
std::vector<uint8_t> MidiFormatBytes(bool directMusic);

// One raw MIDI record: the 8-byte header, the bytes, zeros to a multiple of four.
std::vector<uint8_t> MusicRecord(uint32_t timeDeltaMs, const std::vector<uint8_t>& bytes);
// One DirectMusic event: the 20-byte header, the bytes, zeros to (cbEvent + 27) & ~7 bytes.
std::vector<uint8_t> DirectMusicEvent(int64_t timeDelta, const std::vector<uint8_t>& bytes,
                                      uint32_t flags = 0, uint32_t channelGroup = 1);
// The same records appended to a frame being built (a soak builds millions).
void AppendMusicRecord(std::vector<uint8_t>& frame, uint32_t timeDeltaMs,
                       std::span<const uint8_t> bytes);
void AppendDirectMusicEvent(std::vector<uint8_t>& frame, int64_t timeDelta,
                            std::span<const uint8_t> bytes, uint32_t flags = 0,
                            uint32_t channelGroup = 1);

struct MidiFrameRecord
{
    int64_t delta;   // raw: TimeDeltaMs; DirectMusic: rtDelta
    uint32_t flags;  // DirectMusic only
    std::vector<uint8_t> bytes;
};

// The records of DataUsed bytes of a completed frame; a record that runs past them ends the walk
// and sets *malformed.
std::vector<MidiFrameRecord> MidiRecordsOf(const CompletedFrame& frame, bool directMusic,
                                           bool* malformed = nullptr);

// A record where it lies in the frame.
struct MidiFrameRecordView
{
    int64_t delta;
    uint32_t flags;
    std::span<const uint8_t> bytes;
};

// The same walk without a copy of each record (a soak reads millions): visit is called for each
// record in order. Answers whether a record ran past DataUsed.
bool VisitMidiRecords(const CompletedFrame& frame, bool directMusic,
                      void (*visit)(void* context, const MidiFrameRecordView& record),
                      void* context);

}  // namespace Platform::Ks
