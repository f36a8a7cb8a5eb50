// A render stream of a known ramp through the stream manager, and the reader that checks what
// the simulated device received against it.
#pragma once

#include <UsbTestApi.h>

#include <cstdint>
#include <string>

#include "StreamTestSupport.h"
#include "common/InStackLock.h"
#include "engine/StreamManager.h"
#include "engine/StreamNode.h"

inline constexpr ULONG kBlockFrames = 64;

// The n-th frame of the test signal: never 0, so the first frame of it stands out of the
// silence before it; the right channel carries the negated value.
inline int32_t Ramp(uint64_t n)
{
    return static_cast<int32_t>(n % 0x7FFFFE) + 1;
}

// A wave render pin in miniature: 64-frame blocks of interleaved stereo in 32-bit containers,
// the next one handed over as soon as the stream manager took the last.
class RampPin : public PinStreamSink
{
public:
    explicit RampPin(StreamManager* owner) : manager(owner), pointers{samples}
    {
        node = manager->AddPinStream(this);
        TakeConfiguration();
    }
    ~RampPin() { manager->RemovePinStream(node); }

    // As the pin's format step: the configuration in force, the block's layout.
    void TakeConfiguration()
    {
        StreamConfiguration configuration{};
        manager->GetConfiguration(&configuration);
        InStackLock hold(&node->lock);
        node->configurationIndex = static_cast<LONG>(configuration.index);
        node->format = kSampleInt32LE;
        node->interleavedChannels = 2;
        node->interleaved = 1;
        node->startChannel = 0;
    }
    // Blocks go until one is queued; each block placed at once is done.
    void Submit()
    {
        for (int i = 0; i < 8; ++i) {
            for (ULONG f = 0; f < kBlockFrames; ++f) {
                const int32_t value = Ramp(produced + f);
                samples[f * 2] = value * 256;
                samples[f * 2 + 1] = -value * 256;
            }
            manager->SetNodeBuffers(node, pointers, kBlockFrames);
            const LONG answer = manager->ServicePinStream(node);
            if (answer == kStreamPending) {
                produced += kBlockFrames;
                return;
            }
            if (answer < 0) {
                ++refusals;
                return;
            }
            produced += kBlockFrames;
        }
    }
    void Stop() { manager->StopPinStream(node); }

    void OnNodePeriod(StreamNode*) override { Submit(); }
    void OnNodeConfigurationChanged(StreamNode*, LONG) override { TakeConfiguration(); }
    void OnNodeLate(StreamNode*, ULONG) override { ++lates; }
    void OnNodeStreamingChanged(LONG) override {}

    StreamManager* manager;
    StreamNode* node = nullptr;
    int32_t samples[kBlockFrames * 2] = {};
    PVOID pointers[1];
    uint64_t produced = 0;
    int lates = 0;
    int refusals = 0;
};

// Reads what the device received and checks it against the ramp: silence, then the ramp from
// its first frame on, frame after frame.
class RampReceiver
{
public:
    bool TakeFrame(int32_t left, int32_t right)
    {
        ++frames;
        if (received == 0 && left == 0 && right == 0) {
            return true;
        }
        const int32_t expected = Ramp(received);
        if (left != expected || right != -expected) {
            failure = "frame " + std::to_string(received) + " of the ramp carries " +
                      std::to_string(left) + ", " + std::to_string(right) + " instead of " +
                      std::to_string(expected);
            return false;
        }
        ++received;
        return true;
    }
    explicit RampReceiver(UsbSim::SimulatedUsbDevice& usbDevice) : device(usbDevice) {}

    // False at the first frame that breaks the ramp (with the reason in failure). Reads the
    // packets' bytes directly (two 3-byte samples a frame): a ten-minute run reads millions.
    bool Take()
    {
        bool intact = true;
        for (const UsbSim::OutPacketRecord& packet : device.OutPackets()) {
            if (packet.endpoint != 0x01) {
                continue;
            }
            const uint32_t packetFrames = static_cast<uint32_t>(packet.bytes.size() / 6);
            fewestPerPacket = packetFrames < fewestPerPacket ? packetFrames : fewestPerPacket;
            mostPerPacket = packetFrames > mostPerPacket ? packetFrames : mostPerPacket;
            for (size_t offset = 0; intact && offset + 6 <= packet.bytes.size(); offset += 6) {
                const uint8_t* at = &packet.bytes[offset];
                const int32_t left = Signed24(at);
                const int32_t right = Signed24(at + 3);
                if (received != 0 && left == next && right == -next) {
                    // The ramp going on as expected, counted here: ten minutes are millions of
                    // frames, and a sanitizer build pays for every call.
                    ++frames;
                    ++received;
                    next = next == kRampTop ? 1 : next + 1;
                    continue;
                }
                intact = TakeFrame(left, right);
                next = Ramp(received);
            }
        }
        device.ClearOutPackets();
        return intact;
    }

    UsbSim::SimulatedUsbDevice& device;
    uint64_t frames = 0;    // every frame the device received
    uint64_t received = 0;  // frames of the ramp
    uint32_t fewestPerPacket = 0xFFFFFFFF;
    uint32_t mostPerPacket = 0;
    std::string failure;

private:
    static constexpr int32_t kRampTop = 0x7FFFFE;  // Ramp's largest value, before 1 again
    static int32_t Signed24(const uint8_t* at)
    {
        return static_cast<int32_t>(static_cast<uint32_t>(at[0] | at[1] << 8 | at[2] << 16) << 8) >>
               8;
    }
    int32_t next = 1;  // Ramp(received)
};
