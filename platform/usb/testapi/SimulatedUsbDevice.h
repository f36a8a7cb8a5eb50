#pragma once
// A USB device built from its descriptor bytes, as the simulated bus sees it. It answers the
// standard requests from its descriptors, keeps the configuration and alternate settings the host
// selected, answers the audio class's sampling-frequency requests, takes isochronous OUT samples
// (recorded bit-exact with their frame numbers), produces isochronous IN samples from a generator
// on its own clock, answers its feedback endpoint, and carries bulk data for USB-MIDI.
//
// It is stricter than hardware: a packet for an endpoint the current alternate setting does not
// have, a packet longer than its endpoint allows or holding part of a sample frame is answered
// with an error and listed in Violations(); an unsupported request stalls; a control request
// whose wLength does not fit the request is listed too. A bulk or interrupt endpoint that stalled
// stays halted until the host clears it. Faults are injected per test.
//
// Every device the process creates is tracked: the kernel test fixture's tear-down fails the
// running test with each violation a device recorded during it, however the device was plugged
// in, as it does for leaked pool.

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "OutPacketArena.h"
#include "UsbDescriptorSet.h"

namespace UsbSim {

struct SetupPacket
{
    uint8_t bmRequestType;
    uint8_t bRequest;
    uint16_t wValue;
    uint16_t wIndex;
    uint16_t wLength;
};

enum class Outcome
{
    Ok,          // done; length says how many bytes moved
    Stall,       // the device refused (STALL handshake)
    NoResponse,  // nothing came back (a lost packet, a hung control request)
    Gone,        // the device is no longer there
    Error,       // a transfer the device cannot take (see Violations)
    Nak,         // a bulk endpoint has nothing to give or cannot take more yet
};

struct Result
{
    Outcome outcome = Outcome::Ok;
    size_t length = 0;  // bytes moved
};

struct ClassRequestRecord
{
    SetupPacket setup;
    std::vector<uint8_t> data;  // what the host sent (host to device) or was answered
    bool stalled = false;
};

struct OutPacketRecord
{
    uint8_t endpoint;
    uint32_t frame;                  // 1 ms bus frame
    uint8_t microframe;              // 0 at full speed
    std::span<const uint8_t> bytes;  // valid until ClearOutPackets()
};

// The sample frames received on an OUT endpoint, flat: sample frame i holds channels samples from
// samples[i x channels], sign-extended from the subslot the format declares, and arrived in bus
// frame frames[i].
struct OutSampleArray
{
    uint32_t channels = 0;
    std::vector<uint32_t> frames;
    std::vector<int32_t> samples;

    size_t size() const { return frames.size(); }
    bool empty() const { return frames.empty(); }
    int32_t Sample(size_t frame, uint32_t channel) const
    {
        return samples[frame * channels + channel];
    }
    std::span<const int32_t> Frame(size_t frame) const
    {
        return {samples.data() + frame * channels, channels};
    }
};

// The audio format of an alternate setting, from its class-specific descriptors.
struct StreamFormat
{
    uint32_t channels = 0;
    uint32_t subslotBytes = 0;
    uint32_t bitResolution = 0;
    std::vector<uint32_t> rates;  // discrete rates of a class 1 format; empty for class 2
    uint32_t BytesPerSampleFrame() const { return channels * subslotBytes; }
};

struct EndpointModel
{
    uint8_t address = 0;
    uint8_t attributes = 0;
    uint16_t maxPacketSize = 0;
    uint8_t interval = 0;
    bool rateControl = false;  // the class-specific endpoint offers sampling-frequency control
};

struct AlternateSettingModel
{
    uint8_t interfaceClass = 0;
    uint8_t interfaceSubClass = 0;
    std::vector<EndpointModel> endpoints;
    StreamFormat format;
};

struct InterfaceModel
{
    std::map<uint8_t, AlternateSettingModel> alternates;
};

struct ConfigurationModel
{
    uint8_t value = 0;
    std::map<uint8_t, InterfaceModel> interfaces;
};

// Produces the sample of a channel with a running sample index (per endpoint, from 0).
using SampleGenerator = std::function<int32_t(uint32_t channel, uint64_t index)>;
// Produces a packet's sample frames in one call: samples.size() / channels frames, channels
// interleaved, the first at the running index first. A ten-minute run at 96 kHz is more than a
// hundred million samples; one call a packet keeps the device's own cost out of the figures.
using FrameGenerator =
    std::function<void(uint64_t first, uint32_t channels, std::span<int32_t> samples)>;

class SimulatedUsbDevice
{
public:
    // Null with the reason in *error when the bytes do not describe a device this model can run.
    static std::unique_ptr<SimulatedUsbDevice> Create(UsbDescriptorSet descriptors,
                                                      std::string* error);
    ~SimulatedUsbDevice();
    SimulatedUsbDevice(const SimulatedUsbDevice&) = delete;
    SimulatedUsbDevice& operator=(const SimulatedUsbDevice&) = delete;

    // --- What the bus calls. ---
    bool HighSpeed() const { return descriptors.highSpeed; }
    Result Control(const SetupPacket& setup, std::span<uint8_t> data);
    Result IsoOut(uint8_t endpoint, uint32_t frame, uint8_t microframe,
                  std::span<const uint8_t> packet);
    Result IsoIn(uint8_t endpoint, uint32_t frame, uint8_t microframe, std::span<uint8_t> packet);
    Result BulkOut(uint8_t endpoint, std::span<const uint8_t> data);
    Result BulkIn(uint8_t endpoint, std::span<uint8_t> data);
    // Endpoint of the current configuration and alternate settings, or null.
    const EndpointModel* ActiveEndpoint(uint8_t address) const;
    // Null when the device is not configured.
    const ConfigurationModel* ActiveConfiguration() const;
    uint8_t AlternateSetting(uint8_t interfaceNumber) const;

    // --- What tests call. ---
    const UsbDescriptorSet& Descriptors() const { return descriptors; }
    const std::vector<ClassRequestRecord>& ClassRequests() const { return classRequests; }
    const std::vector<OutPacketRecord>& OutPackets() const { return outPackets; }
    // Decoded with the format of the setting selected when the packets came (std::logic_error
    // when they came under two formats and were not cleared between).
    OutSampleArray OutSamples(uint8_t endpoint) const;
    // The same into `into`, whose room is kept: a run that checks as it goes allocates once.
    void OutSamples(uint8_t endpoint, OutSampleArray& into) const;
    // Forgets the OUT packets received so far (a long run checks and drops them as it goes).
    void ClearOutPackets()
    {
        outPackets.clear();
        outBytes.Clear();
        outFormatOf.fill(nullptr);
        outFormatMixed.fill(false);
    }
    const std::vector<std::string>& Violations() const { return violations; }
    // The violations recorded since the last call (the tear-down check's view).
    std::vector<std::string> TakeUnreportedViolations();
    // Whether the host left the endpoint halted (after a stall, until it clears the halt).
    bool Halted(uint8_t endpoint) const { return halted.contains(endpoint); }
    std::vector<uint8_t> BulkReceived(uint8_t endpoint) const;
    // The bytes received so far, forgotten here (a long run takes them as it goes).
    std::vector<uint8_t> TakeBulkReceived(uint8_t endpoint);
    void QueueBulkIn(uint8_t endpoint, std::vector<uint8_t> data);
    uint32_t SampleRate() const { return sampleRate; }
    void SetInGenerator(SampleGenerator generator);
    // As SetInGenerator, a packet's frames at once; null goes back to the built-in ramp.
    void SetInFrameGenerator(FrameGenerator generator);
    // The device's clock against its nominal rate, in parts per million (+100: 100 ppm fast).
    void SetClockOffsetPpm(int32_t ppm) { clockOffsetPpm = ppm; }
    uint64_t InSamplesProduced(uint8_t endpoint) const;

    // Faults. A count of -1 means "until cleared".
    void StallRequests(uint8_t bmRequestType, uint8_t bRequest, int count = -1);
    void HangRequests(uint8_t bmRequestType, uint8_t bRequest, int count = -1);
    // The next bulk or interrupt transfer on the endpoint is answered with STALL and the endpoint
    // halts: every transfer on it stalls until CLEAR_FEATURE(ENDPOINT_HALT) (what a pipe reset
    // sends) or a new configuration or alternate setting clears it.
    void StallEndpoint(uint8_t endpoint) { stallNext.insert(endpoint); }
    void DropPackets(uint8_t endpoint, int count);
    void ShortenPackets(uint8_t endpoint, int count, size_t bytesRemoved);
    void RefuseDescriptor(uint8_t type, uint8_t index, int count = -1);
    // The bytes at offset of the descriptor (type, index) read differently from now on.
    void PatchDescriptor(uint8_t type, uint8_t index, size_t offset, std::vector<uint8_t> bytes);
    // As PatchDescriptor, for the reads after the first `reads` ones: a descriptor that changes
    // between two reads.
    void PatchDescriptorAfter(uint8_t type, uint8_t index, int reads, size_t offset,
                              std::vector<uint8_t> bytes);
    // The descriptor (type, index) reads as these bytes from now on; the device itself still
    // works by the descriptors it was built from.
    void ReplaceDescriptor(uint8_t type, uint8_t index, std::vector<uint8_t> bytes);
    // Bulk transfers of the endpoint are answered with NAK at random, percent in 100 of the tries,
    // in a sequence fixed by seed; percent 0 stops it. A bulk IN endpoint also fails with no
    // response for packets dropped by DropPackets.
    void NakBulkAtRandom(uint8_t endpoint, uint32_t percent, uint32_t seed);
    uint64_t BulkNaks(uint8_t endpoint) const;
    void SetGone(bool gone) { isGone = gone; }
    bool Gone() const { return isGone; }
    void ClearFaults();

private:
    struct RequestFault
    {
        uint8_t bmRequestType;
        uint8_t bRequest;
        int count;
        bool hang;
    };
    struct PacketFault
    {
        uint8_t endpoint;
        int count;
        size_t bytesRemoved;  // 0: the packet is dropped
    };
    struct DescriptorFault
    {
        uint8_t type;
        uint8_t index;
        int count;
    };
    struct DescriptorPatch
    {
        uint8_t type;
        uint8_t index;
        size_t offset;
        std::vector<uint8_t> bytes;
        bool replace;
        int afterReads = 0;
    };
    struct RandomNak
    {
        uint32_t percent = 0;
        uint32_t state = 1;
        uint64_t naks = 0;
    };
    struct InStream
    {
        uint64_t produced = 0;
        uint64_t accumulator = 0;  // sample fractions in units of 1 / (packets per s x 10^6)
        // The last step added and its unit, split into whole samples and the fraction left: the
        // accumulator then moves without a 64-bit division per packet.
        uint64_t step = 0;
        uint64_t unit = 0;
        uint64_t stepSamples = 0;
        uint64_t stepFraction = 0;
    };

    explicit SimulatedUsbDevice(UsbDescriptorSet descriptorSet);  // tracked until destroyed
    Result Standard(const SetupPacket& setup, std::span<uint8_t> data);
    Result ClassRequest(const SetupPacket& setup, std::span<uint8_t> data);
    Result SamplingFrequency(const SetupPacket& setup, std::span<uint8_t> data, size_t width);
    Result GetDescriptor(const SetupPacket& setup, std::span<uint8_t> data);
    std::optional<std::vector<uint8_t>> DescriptorBytes(uint8_t type, uint8_t index,
                                                        uint16_t language, int read) const;
    const AlternateSettingModel* ActiveSettingOf(uint8_t endpoint) const;
    const AlternateSettingModel* FindActiveSetting(uint8_t endpoint) const;
    const StreamFormat* OutFormatOf(uint8_t endpoint) const;
    void NoteOutFormat(uint8_t endpoint, const AlternateSettingModel* setting);
    static const EndpointModel* EndpointIn(const AlternateSettingModel* setting, uint8_t address);
    void WriteInSamples(std::span<uint8_t> packet, const StreamFormat& format, uint32_t samples,
                        InStream& stream);
    bool TakeRequestFault(const SetupPacket& setup, bool& hang);
    std::optional<size_t> TakePacketFault(uint8_t endpoint);
    bool IsSupportedRate(uint32_t rate) const;
    bool TakeRandomNak(uint8_t endpoint);
    uint32_t SamplesForPacket(InStream& stream, uint32_t packetsPerSecond);
    void Violation(std::string text) { violations.push_back(std::move(text)); }
    // Stall and halt handling of bulk and interrupt endpoints (EndpointHalt.cpp).
    std::optional<Result> HaltedTransfer(uint8_t endpoint);
    std::optional<Result> EndpointFeature(const SetupPacket& setup, std::span<uint8_t> data);
    void ClearHalts() { halted.clear(); }
    // Lists a standard request whose wLength does not fit it; false when it must not go on.
    bool CheckStandardLength(const SetupPacket& setup);

    UsbDescriptorSet descriptors;
    std::vector<ConfigurationModel> configurations;
    int audioClass = 1;
    uint8_t clockSourceId = 0;
    int activeConfiguration = -1;  // index into configurations
    std::map<uint8_t, uint8_t> alternates;
    // ActiveSettingOf's answers by endpoint address until the configuration or a setting changes:
    // every isochronous packet asks.
    mutable std::array<const AlternateSettingModel*, 256> settingOf{};
    mutable std::array<bool, 256> settingKnown{};
    // The format of the setting each OUT endpoint's recorded packets came under, by address;
    // mixed: packets came under two formats (the samples cannot be read as one array).
    std::array<const StreamFormat*, 256> outFormatOf{};
    std::array<bool, 256> outFormatMixed{};
    uint32_t sampleRate = 0;
    int32_t clockOffsetPpm = 0;
    SampleGenerator generator;
    FrameGenerator frameGenerator;  // when set, it produces the IN samples instead of generator
    bool defaultGenerator = true;   // generator is the built-in ramp, written without a call
    std::vector<int32_t> inValues;  // a packet's samples from a generator, before packing
    std::array<InStream, 256> inStreams{};  // by endpoint address: every IN packet looks it up
    std::vector<ClassRequestRecord> classRequests;
    std::vector<OutPacketRecord> outPackets;
    OutPacketArena outBytes;
    std::map<uint8_t, std::vector<uint8_t>> bulkReceived;
    std::map<uint8_t, std::deque<std::vector<uint8_t>>> bulkInQueue;
    std::map<uint8_t, RandomNak> randomNaks;
    std::vector<std::string> violations;
    std::vector<RequestFault> requestFaults;
    std::vector<PacketFault> packetFaults;
    std::vector<DescriptorFault> descriptorFaults;
    std::vector<DescriptorPatch> patches;
    std::map<uint16_t, int> descriptorReads;  // by type << 8 | index
    bool isGone = false;
    std::set<uint8_t> halted;
    std::set<uint8_t> stallNext;
    size_t reportedViolations = 0;
};

// The violations recorded, and not yet reported, by every device of the process, the destroyed
// ones included, each prefixed with the device it came from; forgets them. The kernel test
// fixture calls it at every test's end.
std::vector<std::string> TakeUnreportedDeviceViolations();

}  // namespace UsbSim
