// USB-MIDI IN transfers from a device, any bytes and any length, through the input path: event
// packets decoded, delivered by the router to open readers, queued in their FIFOs (SysEx
// fragments included) and read back in pieces. Nothing may crash, overrun or leak.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "MidiFuzzSupport.h"
#include "midi/MidiConfiguration.h"
#include "midi/MidiRouter.h"
#include "midi/UsbMidiCodec.h"
#include "midi/UsbMidiInput.h"

namespace {

class Owner : public MidiReaderOwner
{
public:
    explicit Owner(bool takes) : takes(takes) {}
    LONG Deliver(MidiReader*, LONGLONG, const UCHAR* bytes, ULONG count, bool) override
    {
        if (count == 0 || count > 3) {
            abort();
        }
        volatile UCHAR last = bytes[count - 1];
        (void)last;
        return takes ? 0 : 1;
    }
    void DataAvailable(MidiReader*) override {}
    void PortTableChanged(MidiReader*, ULONG) override {}

private:
    bool takes;
};

constexpr ULONG kPorts = 4;

void Drain(MidiReader* reader, ULONG capacity)
{
    std::vector<UCHAR> buffer(capacity);
    for (int guard = 0; guard < 4096; ++guard) {
        LONGLONG time = 0;
        ULONG whole = 0;
        const LONG read = ReaderGet(reader, &time, buffer.data(), capacity, &whole);
        if (read <= 0) {
            return;
        }
        if (static_cast<ULONG>(read) > capacity) {
            abort();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 0x10000) {
        return 0;
    }
    QuietEngine engine;
    PCWSTR names[kPorts] = {u"A", u"B", u"C", u"D"};
    ULONG ids[kPorts] = {0, 1, 2, static_cast<ULONG>(-1)};
    MidiConfiguration table = {5, kPorts, names, ids, kPorts, names, ids, nullptr};
    UsbMidiCodec* codec = UsbMidiCodec::Create(&engine, kPorts);
    MidiRouter* router = codec != nullptr ? MidiRouter::Create(codec) : nullptr;
    if (router == nullptr) {
        abort();
    }
    codec->SetPortTable(&table);
    Owner queues(false);
    Owner takes(true);
    MidiReader* readers[3] = {router->RegisterReader(&queues, 0), router->RegisterReader(&takes, 1),
                              router->RegisterReader(&queues, 15)};
    for (MidiReader* reader : readers) {
        router->SetClientOpen(reader, true);
    }
    size_t at = 0;
    while (at < size) {
        const uint8_t control = data[at++];
        // A transfer of exactly its length, so a read past it is caught.
        const size_t length = std::min<size_t>(control % 65, size - at);
        std::vector<UCHAR> transfer(data + at, data + at + length);
        at += length;
        const ULONG generation = (control & 0x80) != 0 ? 6 : 5;
        DeliverUsbMidiTransfer(router, generation, static_cast<LONGLONG>(at) * 10000,
                               transfer.empty() ? nullptr : transfer.data(),
                               static_cast<ULONG>(transfer.size()));
        if ((control & 0x40) != 0) {
            Drain(readers[0], 1 + control % 7);
        }
    }
    Drain(readers[0], 3);
    for (MidiReader* reader : readers) {
        router->UnregisterReader(reader);
    }
    router->Destroy();
    codec->Destroy();
    AbortOnLeak();
    return 0;
}
