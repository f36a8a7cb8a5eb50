// MIDI output frames as a user process fills them, raw MIDI (KSMUSICFORMAT) or DirectMusic
// (DMUS_EVENTHEADER) records with any counts, walked record by record as the output pin walks them
// and sent to a codec. Every record must lie inside its frame (each frame is a buffer of exactly
// its size, so a read past it stops the run), the walk must make progress, and every buffer the
// codec kept must come back, with nothing leaked.
//
// Input: byte 0 bit 0 picks DirectMusic; then frames, each a 16-bit little-endian length and that
// many bytes (cut short at the end of the input).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <vector>

#include "MidiFuzzSupport.h"
#include "ks/MidiOutputRecords.h"
#include "ks/MidiPinStream.h"
#include "midi/MidiRouter.h"
#include "midi/UsbMidiCodec.h"

namespace {

class CountingOwner : public MidiWriterOwner
{
public:
    void BufferDone(MidiWriter*, const UCHAR* buffer) override { ++returned[buffer]; }
    void PortTableChanged(MidiWriter*, ULONG) override {}

    std::map<const UCHAR*, int> returned;
};

void Drain(UsbMidiCodec* codec, LONGLONG now)
{
    for (int guard = 0; guard < 1000000; ++guard) {
        UsbMidiPacket packet = {};
        LONGLONG wait = 0;
        codec->NextMidiOutPacket(0, now, &packet, &wait);
        if (packet.bytes[0] == kNoPacket && wait != 0) {
            return;
        }
    }
    abort();
}

// Walks one frame as the pin does; the records' bytes go to the writer.
void WalkFrame(const std::vector<UCHAR>& frame, ULONG format, MidiWriter* writer,
               std::map<const UCHAR*, int>* kept)
{
    ULONG offset = 0;
    const auto size = static_cast<ULONG>(frame.size());
    for (int guard = 0; offset < size || guard == 0; ++guard) {
        if (guard > 100000) {
            abort();  // no progress
        }
        const ULONG remaining = size - offset;
        MidiOutRecord record;
        const MidiRecordWalk walk =
            ReadMidiOutRecord(format, frame.data() + offset, remaining, &record);
        if (walk != MidiRecordWalk::Record) {
            return;  // the rest of the frame is padding, or the frame fails
        }
        if (record.advance == 0 || record.advance > remaining ||
            static_cast<ULONGLONG>(record.dataOffset) + record.dataBytes > remaining) {
            abort();
        }
        if (record.dataBytes != 0) {
            const UCHAR* data = frame.data() + offset + record.dataOffset;
            const LONG answer = SubmitMidiPort(writer, record.delta, data, record.dataBytes);
            if (answer == 1) {
                ++(*kept)[data];
            }
        }
        offset += record.advance;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1 || size > 0x10000) {
        return 0;
    }
    const ULONG format = (data[0] & 1) != 0 ? kMidiDataDirectMusic : kMidiDataRaw;
    QuietEngine engine;
    ULONG ids[1] = {0};
    MidiConfiguration table = {1, 0, nullptr, nullptr, 1, nullptr, ids, nullptr};
    UsbMidiCodec* codec = UsbMidiCodec::Create(&engine, 1);
    MidiRouter* router = codec != nullptr ? MidiRouter::Create(codec) : nullptr;
    if (router == nullptr) {
        abort();
    }
    codec->SetPortTable(&table);
    CountingOwner owner;
    MidiWriter* writer = router->RegisterWriter(&owner, 0);
    // Frames stay until the codec is done with them, as the pin's clones keep them.
    std::vector<std::vector<UCHAR>> frames;
    frames.reserve(size);
    std::map<const UCHAR*, int> kept;
    size_t at = 1;
    while (at + 2 <= size) {
        const size_t length = std::min<size_t>(data[at] | data[at + 1] << 8, size - at - 2);
        at += 2;
        frames.emplace_back(data + at, data + at + length);
        at += length;
        WalkFrame(frames.back(), format, writer, &kept);
        Drain(codec, 0);
    }
    Drain(codec, 0x7FFFFFFFFFFFFFLL);
    router->UnregisterWriter(writer);
    for (const auto& [buffer, count] : kept) {
        if (owner.returned[buffer] < count) {
            abort();  // a kept buffer never came back
        }
    }
    router->Destroy();
    codec->Destroy();
    AbortOnLeak();
    return 0;
}
