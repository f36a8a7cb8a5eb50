#pragma once
// A small owner of isochronous streaming in place of the engine: it fills every OUT transfer with
// a counting pattern (sample frame n carries n on channel 0 and n + 0x1000 on channel 1), keeps
// every period it is handed, and records restart requests, which the test carries out.

#include <functional>
#include <vector>

#include "UsbTestOwner.h"

// What a fill was asked for: the transfer's start frame and samples, and its previous slot's.
struct FillRecord
{
    ULONG startFrame;
    ULONG samples;
    ULONG previousStartFrame;
    ULONG previousSamples;
};

struct PeriodRecord
{
    ULONG startFrame;
    ULONG samples;
    ULONG column;
    bool hasData;
    LONG errorFlags;
    ULONG slotSamples;
    LONG queueAhead;
    std::vector<int32_t> firstChannel;   // IN periods: channel 0 of every sample frame
    std::vector<int32_t> secondChannel;  // and channel 1, when there is one
};

inline constexpr int32_t kPatternPeriod = 0x7FFFF;  // values 1..period on channel 0

class UsbStreamingTest : public UsbTransportTest
{
protected:
    // Starts streaming at a rate on a record that names every streaming interface of the
    // variant (interface 1 OUT, interface 2 IN when the variant has both).
    NTSTATUS StartStreaming(ULONG rate)
    {
        IsoEngineCallbacks routines{};
        routines.onFillOutput = &FillOutput;
        routines.onCancelPacket = &CancelPacket;
        routines.fillContext = this;
        routines.onUsbPeriod = &UsbPeriod;
        routines.periodContext = this;
        routines.onPeriodsLost = &PeriodsLost;
        routines.restartStreaming = &Restart;
        routines.restartContext = this;
        transport->SetEngineCallbacks(routines);
        transport->SetStreamShape(shape.outChannels != 0 ? shape : DefaultShape());
        transport->SetRequestedSamplesPerTransfer(1);
        if (transport->CurrentRate() != rate) {
            EXPECT_EQ(transport->SetSampleRate(rate), STATUS_SUCCESS);
        }
        return transport->StartIsoStreaming();
    }
    // Two 24-bit outputs, and the inputs when the record switches the capture interface.
    IsoStreamShape DefaultShape() const
    {
        const bool capture = transport->ConfigRecord().alternateSettings[2] != 0;
        return IsoStreamShape{2, 3, capture ? inChannels : 0, capture ? 3u : 0u};
    }
    void StopStreaming() { EXPECT_EQ(transport->StopIsoStreaming(), STATUS_SUCCESS); }
    void Run(ULONG frames) { bus->StepFrames(frames); }

    // Channel 0 of every sample frame the device received on endpoint 1, priming silence
    // dropped; the packets are forgotten so a long run keeps little.
    std::vector<int32_t> TakeReceived()
    {
        std::vector<int32_t> values;
        const UsbSim::OutSampleArray received = device->OutSamples(0x01);
        values.reserve(received.size());
        for (size_t i = 0; i < received.size(); ++i) {
            const int32_t first = received.Sample(i, 0);
            if (first != 0 || !values.empty() || sawPattern) {
                values.push_back(first);
                EXPECT_EQ(received.Sample(i, 1), first + 0x1000);
            }
        }
        sawPattern = sawPattern || !values.empty();
        device->ClearOutPackets();
        return values;
    }

    static void FillOutput(PVOID context, ULONG startFrame, ULONG samples, ULONG, PVOID* buffer,
                           ULONG, ULONG previousStartFrame, ULONG previousSamples)
    {
        auto* self = static_cast<UsbStreamingTest*>(context);
        if (self->duringNextFill) {
            const std::function<void()> hook = std::move(self->duringNextFill);
            self->duringNextFill = nullptr;
            hook();
        }
        self->fills.push_back({startFrame, samples, previousStartFrame, previousSamples});
        auto* bytes = static_cast<uint8_t*>(*buffer);
        for (ULONG s = 0; s < samples; ++s) {
            const int32_t value = static_cast<int32_t>(self->produced % kPatternPeriod) + 1;
            ++self->produced;
            for (int32_t channel = 0; channel < 2; ++channel) {
                const int32_t v = value + channel * 0x1000;
                for (int b = 0; b < 3; ++b) {
                    *bytes++ = static_cast<uint8_t>(v >> (8 * b));
                }
            }
        }
        self->filledSamples.push_back(samples);
    }
    static void CancelPacket(PVOID context, ULONG, ULONG samples, ULONG, PVOID)
    {
        static_cast<UsbStreamingTest*>(context)->returnedSamples += samples;
    }
    static void UsbPeriod(PVOID context, ULONG startFrame, ULONG samples, ULONG column, PVOID data,
                          LONG errorFlags, ULONG slotSamples, LONG queueAhead)
    {
        auto* self = static_cast<UsbStreamingTest*>(context);
        PeriodRecord record{startFrame, samples, column, data != nullptr, errorFlags, slotSamples,
                            queueAhead, {},      {}};
        if (data != nullptr && self->keepInData) {
            const auto* bytes = static_cast<const uint8_t*>(data);
            const ULONG frameBytes = 3 * self->inChannels;
            // Written in place: a ten-minute soak records a hundred million values.
            record.firstChannel.resize(samples);
            const bool two = self->inChannels >= 2;
            record.secondChannel.resize(two ? samples : 0);
            int32_t* first = record.firstChannel.data();
            int32_t* second = record.secondChannel.data();
            for (ULONG s = 0; s < samples; ++s) {
                const uint8_t* at = bytes + s * frameBytes;
                const uint32_t raw = at[0] | at[1] << 8 | at[2] << 16;
                first[s] = static_cast<int32_t>(raw << 8) >> 8;
                if (two) {
                    const uint32_t next = at[3] | at[4] << 8 | at[5] << 16;
                    second[s] = static_cast<int32_t>(next << 8) >> 8;
                }
            }
        }
        self->periods.push_back(std::move(record));
    }
    static void PeriodsLost(PVOID context, ULONG frames)
    {
        EXPECT_GE(KeGetCurrentIrql(), DISPATCH_LEVEL) << "losses are found by completions";
        static_cast<UsbStreamingTest*>(context)->lostReported += frames;
    }
    static void Restart(PVOID context)
    {
        EXPECT_GE(KeGetCurrentIrql(), DISPATCH_LEVEL) << "restarts come from completions";
        ++static_cast<UsbStreamingTest*>(context)->restarts;
    }

    uint64_t produced = 0;
    std::vector<ULONG> filledSamples;
    std::vector<FillRecord> fills;
    uint64_t returnedSamples = 0;
    std::vector<PeriodRecord> periods;
    int restarts = 0;
    ULONG lostReported = 0;  // frames the transport told were lost
    bool keepInData = false;
    ULONG inChannels = 2;
    bool sawPattern = false;
    IsoStreamShape shape{};  // what the configuration carries; none set: DefaultShape()
    // Runs once, inside the next fill: on a completion that is sending its transfer again, after
    // it looked whether streaming runs and before the transfer goes out.
    std::function<void()> duringNextFill;
};

// A record for the variants: interface 1 and, with a capture interface, interface 2 stream on
// setting 1.
inline UsbConfigRecord StreamingRecord(bool capture, bool feedback = false)
{
    UsbConfigRecord record{};
    record.alternateSettings[1] = 1;
    record.alternateSettings[2] = capture ? 1 : 0;
    record.feedback = feedback ? 1 : 0;
    return record;
}
