// A codec and its router on a port table of four MIDI ports each way, with an engine and client
// owners that record what they are told. The rig is built after the kernel test's SetUp and must
// be gone before its TearDown checks the pool.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "KernelTestFixture.h"
#include "midi/MidiConfiguration.h"
#include "midi/MidiEngineLink.h"
#include "midi/MidiRouter.h"
#include "midi/UsbMidiCodec.h"
#include "midi/UsbMidiPacket.h"

namespace MidiTest {

using Bytes = std::vector<UCHAR>;

class RecordingEngine : public MidiEngineLink
{
public:
    void RequestTick(ULONG) override { ++tickRequests; }
    bool IsTickActive() override { return tickActive; }
    void ApplyMidiConfiguration(const MidiConfiguration* record) override
    {
        applied.push_back(record->index);
    }

    int tickRequests = 0;
    bool tickActive = false;
    std::vector<ULONG> applied;
};

class RecordingWriterOwner : public MidiWriterOwner
{
public:
    void BufferDone(MidiWriter*, const UCHAR* buffer) override { done.push_back(buffer); }
    void PortTableChanged(MidiWriter*, ULONG generation) override
    {
        tableChanges.push_back(generation);
    }

    std::vector<const UCHAR*> done;
    std::vector<ULONG> tableChanges;
};

class RecordingReaderOwner : public MidiReaderOwner
{
public:
    LONG Deliver(MidiReader*, LONGLONG time, const UCHAR* bytes, ULONG count, bool) override
    {
        if (takeDirectly) {
            taken.emplace_back(bytes, bytes + count);
            takenTimes.push_back(time);
            return 0;
        }
        return 1;
    }
    void DataAvailable(MidiReader*) override { ++dataAvailable; }
    void PortTableChanged(MidiReader*, ULONG generation) override
    {
        tableChanges.push_back(generation);
    }

    bool takeDirectly = false;
    std::vector<Bytes> taken;
    std::vector<LONGLONG> takenTimes;
    int dataAvailable = 0;
    std::vector<ULONG> tableChanges;
};

inline constexpr ULONG kRigPorts = 4;

// The port table: generation given, four ports each way, the last of each private.
struct RigPortTable
{
    explicit RigPortTable(ULONG generation)
    {
        record.index = generation;
        record.inputPortCount = kRigPorts;
        record.inputPortNames = names;
        record.inputPortIds = ids;
        record.outputPortCount = kRigPorts;
        record.outputPortNames = names;
        record.outputPortIds = ids;
        record.outputByteRates = rates;
    }
    PCWSTR names[kRigPorts] = {u"A", u"B", u"C", u"D"};
    ULONG ids[kRigPorts] = {0, 1, 2, static_cast<ULONG>(-1)};
    ULONG rates[kRigPorts] = {3125, 3125, 3125, 3125};
    MidiConfiguration record = {};
};

class MidiRig
{
public:
    explicit MidiRig(ULONG generation = 7) : table(generation)
    {
        codec = UsbMidiCodec::Create(&engine, kRigPorts);
        router = MidiRouter::Create(codec);
        codec->SetPortTable(&table.record);
    }
    ~MidiRig()
    {
        router->Destroy();
        codec->Destroy();
    }
    MidiRig(const MidiRig&) = delete;
    MidiRig& operator=(const MidiRig&) = delete;

    // Every packet due by now on the port, as wire bytes with the port as cable.
    Bytes Drain(ULONG port, LONGLONG now)
    {
        Bytes wire;
        for (int guard = 0; guard < 100000; ++guard) {
            UsbMidiPacket packet = {};
            LONGLONG wait = 0;
            codec->NextMidiOutPacket(port, now, &packet, &wait);
            if (packet.bytes[0] != kNoPacket) {
                wire.push_back(static_cast<UCHAR>(port << 4 | packet.bytes[0]));
                wire.insert(wire.end(), packet.bytes + 1, packet.bytes + 4);
            } else if (wait != 0) {
                break;
            }
        }
        return wire;
    }

    RecordingEngine engine;
    RigPortTable table;
    UsbMidiCodec* codec = nullptr;
    MidiRouter* router = nullptr;
};

class MidiRigTest : public Platform::Kernel::Testing::KernelTest
{
protected:
    void SetUp() override
    {
        KernelTest::SetUp();
        rig.emplace();
    }
    void TearDown() override
    {
        rig.reset();
        KernelTest::TearDown();
    }

    // Every message the reader's FIFO holds, read back in pieces of capacity bytes.
    static Bytes ReadAll(MidiReader* reader, ULONG capacity = 64)
    {
        Bytes all;
        for (int guard = 0; guard < 100000; ++guard) {
            Bytes buffer(capacity);
            LONGLONG time = 0;
            ULONG whole = 0;
            const LONG read = ReaderGet(reader, &time, buffer.data(), capacity, &whole);
            if (read <= 0) {
                break;
            }
            all.insert(all.end(), buffer.begin(), buffer.begin() + read);
        }
        return all;
    }

    std::optional<MidiRig> rig;
};

}  // namespace MidiTest
