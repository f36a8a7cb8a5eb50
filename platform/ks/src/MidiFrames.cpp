#include <KsMidiFrames.h>
#include <dmusicks.h>

#include <cstring>

namespace Platform::Ks {

std::vector<uint8_t> MidiFormatBytes(bool directMusic)
{
    KSDATAFORMAT format{};
    format.FormatSize = sizeof format;
    format.MajorFormat = KSDATAFORMAT_TYPE_MUSIC;
    format.SubFormat = directMusic ? KSDATAFORMAT_SUBTYPE_DIRECTMUSIC : KSDATAFORMAT_SUBTYPE_MIDI;
    format.Specifier = KSDATAFORMAT_SPECIFIER_NONE;
    const auto* p = reinterpret_cast<const uint8_t*>(&format);
    return std::vector<uint8_t>(p, p + sizeof format);
}

void AppendMusicRecord(std::vector<uint8_t>& frame, uint32_t timeDeltaMs,
                       std::span<const uint8_t> bytes)
{
    const KSMUSICFORMAT header = {timeDeltaMs, static_cast<ULONG>(bytes.size())};
    const size_t at = frame.size();
    frame.resize(at + sizeof header + ((bytes.size() + 3) & ~size_t{3}), 0);
    std::memcpy(frame.data() + at, &header, sizeof header);
    if (!bytes.empty()) {
        std::memcpy(frame.data() + at + sizeof header, bytes.data(), bytes.size());
    }
}

void AppendDirectMusicEvent(std::vector<uint8_t>& frame, int64_t timeDelta,
                            std::span<const uint8_t> bytes, uint32_t flags, uint32_t channelGroup)
{
    const DMUS_EVENTHEADER header = {static_cast<ULONG>(bytes.size()), channelGroup, timeDelta,
                                     flags};
    const size_t at = frame.size();
    frame.resize(at + ((bytes.size() + 27) & ~size_t{7}), 0);
    std::memcpy(frame.data() + at, &header, sizeof header);
    if (!bytes.empty()) {
        std::memcpy(frame.data() + at + sizeof header, bytes.data(), bytes.size());
    }
}

std::vector<uint8_t> MusicRecord(uint32_t timeDeltaMs, const std::vector<uint8_t>& bytes)
{
    std::vector<uint8_t> record;
    AppendMusicRecord(record, timeDeltaMs, bytes);
    return record;
}

std::vector<uint8_t> DirectMusicEvent(int64_t timeDelta, const std::vector<uint8_t>& bytes,
                                      uint32_t flags, uint32_t channelGroup)
{
    std::vector<uint8_t> record;
    AppendDirectMusicEvent(record, timeDelta, bytes, flags, channelGroup);
    return record;
}

bool VisitMidiRecords(const CompletedFrame& frame, bool directMusic,
                      void (*visit)(void* context, const MidiFrameRecordView& record),
                      void* context)
{
    const size_t used =
        frame.header.DataUsed < frame.data.size() ? frame.header.DataUsed : frame.data.size();
    size_t offset = 0;
    const size_t headerBytes = directMusic ? sizeof(DMUS_EVENTHEADER) : sizeof(KSMUSICFORMAT);
    while (used - offset >= headerBytes) {
        MidiFrameRecordView record{};
        size_t count = 0;
        size_t step = 0;
        if (directMusic) {
            DMUS_EVENTHEADER header;
            std::memcpy(&header, frame.data.data() + offset, sizeof header);
            record.delta = header.rtDelta;
            record.flags = header.dwFlags;
            count = header.cbEvent;
            step = (count + 27) & ~size_t{7};
        } else {
            KSMUSICFORMAT header;
            std::memcpy(&header, frame.data.data() + offset, sizeof header);
            record.delta = header.TimeDeltaMs;
            count = header.ByteCount;
            step = sizeof header + ((count + 3) & ~size_t{3});
        }
        if (count > used - offset - headerBytes) {
            return true;
        }
        record.bytes = {frame.data.data() + offset + headerBytes, count};
        visit(context, record);
        offset += step < used - offset ? step : used - offset;
    }
    return false;
}

std::vector<MidiFrameRecord> MidiRecordsOf(const CompletedFrame& frame, bool directMusic,
                                           bool* malformed)
{
    std::vector<MidiFrameRecord> records;
    const bool ranPast = VisitMidiRecords(
        frame, directMusic,
        [](void* context, const MidiFrameRecordView& record) {
            static_cast<std::vector<MidiFrameRecord>*>(context)->push_back(
                {record.delta, record.flags, {record.bytes.begin(), record.bytes.end()}});
        },
        &records);
    if (malformed != nullptr) {
        *malformed = ranPast;
    }
    return records;
}

}  // namespace Platform::Ks
