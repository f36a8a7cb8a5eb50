// MIDI byte streams from writers (user mode, through the MIDI pins and private ports), any bytes
// and any split, through the output queues and the event-packet encoder. Every packet must carry a
// defined Code Index Number with its unused bytes zero, every buffer the codec kept must come back
// exactly once, and nothing may leak.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <vector>

#include "MidiFuzzSupport.h"
#include "midi/MidiBytes.h"
#include "midi/MidiConfiguration.h"
#include "midi/MidiRouter.h"
#include "midi/UsbMidiCodec.h"

namespace {

class CountingOwner : public MidiWriterOwner
{
public:
    void BufferDone(MidiWriter*, const UCHAR* buffer) override
    {
        if (++returned[buffer] > 1) {
            abort();  // a buffer came back twice
        }
    }
    void PortTableChanged(MidiWriter*, ULONG) override {}

    std::map<const UCHAR*, int> returned;
};

constexpr ULONG kPorts = 2;

void CheckPacket(const UsbMidiPacket& packet)
{
    const UCHAR cin = packet.bytes[0];
    if (cin < 2 || cin > 15) {
        abort();
    }
    for (ULONG i = MidiBytesForCin(cin); i < 3; ++i) {
        if (packet.bytes[1 + i] != 0) {
            abort();
        }
    }
}

void DrainPort(UsbMidiCodec* codec, ULONG port, LONGLONG now)
{
    for (int guard = 0; guard < 100000; ++guard) {
        UsbMidiPacket packet = {};
        LONGLONG wait = 0;
        codec->NextMidiOutPacket(port, now, &packet, &wait);
        if (packet.bytes[0] == kNoPacket) {
            if (wait != 0) {
                return;
            }
            continue;
        }
        CheckPacket(packet);
    }
    abort();  // a queue that never runs dry
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 0x10000) {
        return 0;
    }
    QuietEngine engine;
    ULONG ids[kPorts] = {0, 1};
    MidiConfiguration table = {1, 0, nullptr, nullptr, kPorts, nullptr, ids, nullptr};
    UsbMidiCodec* codec = UsbMidiCodec::Create(&engine, kPorts);
    MidiRouter* router = codec != nullptr ? MidiRouter::Create(codec) : nullptr;
    if (router == nullptr) {
        abort();
    }
    codec->SetPortTable(&table);
    CountingOwner owner;
    MidiWriter* writers[3] = {router->RegisterWriter(&owner, 0), router->RegisterWriter(&owner, 0),
                              router->RegisterWriter(&owner, 1)};
    std::vector<std::unique_ptr<std::vector<UCHAR>>> buffers;
    std::map<const UCHAR*, int> kept;
    LONGLONG now = 0;
    size_t at = 0;
    while (at < size) {
        const uint8_t control = data[at++];
        const size_t length = std::min<size_t>(1 + control % 32, size - at);
        if (length == 0) {
            break;
        }
        buffers.push_back(std::make_unique<std::vector<UCHAR>>(data + at, data + at + length));
        at += length;
        MidiWriter* writer = writers[(control >> 5) % 3];
        const std::vector<UCHAR>& bytes = *buffers.back();
        const LONG answer =
            SubmitMidiPort(writer, now, bytes.data(), static_cast<ULONG>(bytes.size()));
        if (answer == 1) {
            ++kept[bytes.data()];
        } else if (answer != 0) {
            abort();
        }
        if ((control & 0x80) != 0) {
            now += 10000;
            DrainPort(codec, (control >> 6) & 1, now);
        }
    }
    for (ULONG port = 0; port < kPorts; ++port) {
        DrainPort(codec, port, now + 1000000);
    }
    for (MidiWriter* writer : writers) {
        router->UnregisterWriter(writer);
    }
    for (const auto& [buffer, count] : kept) {
        if (owner.returned[buffer] != count) {
            abort();  // a kept buffer never came back
        }
    }
    router->Destroy();
    codec->Destroy();
    AbortOnLeak();
    return 0;
}
