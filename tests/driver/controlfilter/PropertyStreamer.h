// A low-latency host as user-mode software drives the control filter, purely by property
// requests in its process's layout: it maps two halves per channel and direction, registers two
// events, starts, and at each event checks the input half just finished against the device's
// capture pattern, fills the output half with the next frames of a ramp and reports the half done.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "../common/SoakRun.h"
#include "ControlRequester.h"
#include "RampStream.h"

class PropertyStreamer
{
public:
    PropertyStreamer(ControlRequester& control, ULONG channels, ULONG samples)
        : control_(control), channels_(channels), samples_(samples)
    {
        auto& process = control.Process();
        for (ULONG c = 0; c < channels; ++c) {
            for (ULONG h = 0; h < kTableHalves; ++h) {
                input_[c][h] = Allocate();
                output_[c][h] = Allocate();
            }
        }
        events_[0] = process.CreateEvent(false, false);
        events_[1] = process.CreateEvent(false, false);
    }
    ~PropertyStreamer()
    {
        for (ULONG c = 0; c < channels_; ++c) {
            for (ULONG h = 0; h < kTableHalves; ++h) {
                control_.Process().Free(input_[c][h]);
                control_.Process().Free(output_[c][h]);
            }
        }
    }
    PropertyStreamer(const PropertyStreamer&) = delete;
    PropertyStreamer& operator=(const PropertyStreamer&) = delete;

    NTSTATUS Map(bool output)
    {
        void* halves[kTableChannels][kTableHalves] = {};
        for (ULONG c = 0; c < channels_; ++c) {
            for (ULONG h = 0; h < kTableHalves; ++h) {
                halves[c][h] = output ? output_[c][h] : input_[c][h];
            }
        }
        return control_
            .Set(kPropSetControlStreaming,
                 output ? kPropStreamingOutputBuffers : kPropStreamingInputBuffers,
                 control_.BufferTableData(halves, samples_ * 4))
            .status;
    }
    NTSTATUS Start()
    {
        EXPECT_EQ(Map(false), STATUS_SUCCESS);
        EXPECT_EQ(Map(true), STATUS_SUCCESS);
        EXPECT_EQ(control_
                      .Set(kPropSetControlStreaming, kPropStreamingEvents,
                           control_.EventPairData(events_[0], events_[1]))
                      .status,
                  STATUS_SUCCESS);
        FillOutput(1);
        return control_.SetU32(kPropSetControlStreaming, kPropStreamingStart, 0);
    }
    NTSTATUS Stop() { return control_.SetU32(kPropSetControlStreaming, kPropStreamingStop, 0); }
    void Unmap()
    {
        EXPECT_EQ(control_.SetU32(kPropSetControlStreaming, kPropStreamingReleaseInputBuffers, 0),
                  STATUS_SUCCESS);
        EXPECT_EQ(control_.SetU32(kPropSetControlStreaming, kPropStreamingReleaseOutputBuffers, 0),
                  STATUS_SUCCESS);
        EXPECT_EQ(control_.SetU32(kPropSetControlStreaming, kPropStreamingReleaseEvents, 0),
                  STATUS_SUCCESS);
    }

    // Serves whichever event is signalled; the number of halves served.
    int Serve()
    {
        int served = 0;
        for (ULONG h = 0; h < kTableHalves; ++h) {
            if (!control_.Process().ConsumeEvent(events_[h])) {
                continue;
            }
            ++events;
            const ULONG finished = 1 - h;
            CheckInput(finished);
            FillOutput(finished);
            const NTSTATUS done =
                control_.SetU32(kPropSetControlStreaming, kPropStreamingBufferDone, 0);
            failedDones += NT_SUCCESS(done) ? 0 : 1;
            ++served;
        }
        return served;
    }

    uint64_t events = 0;
    uint64_t failedDones = 0;
    uint64_t written = 0;       // ramp frames written into output halves
    uint64_t inputChecked = 0;  // input frames found in sequence
    std::string inputFailure;

private:
    int32_t* Allocate()
    {
        auto& process = control_.Process();
        const size_t bytes = static_cast<size_t>(samples_) * 4;
        void* memory = process.Allocate(bytes);
        EXPECT_NE(memory, nullptr);
        return static_cast<int32_t*>(memory);
    }
    void FillOutput(ULONG h)
    {
        for (ULONG f = 0; f < samples_; ++f) {
            const int32_t value = Ramp(written + f);
            for (ULONG c = 0; c < channels_; ++c) {
                output_[c][h][f] = c == 0 ? value * 256 : c == 1 ? -value * 256 : 0;
            }
        }
        written += samples_;
    }
    void CheckInput(ULONG h)
    {
        if (!inputFailure.empty() || channels_ < 2) {
            return;
        }
        for (ULONG f = 0; f < samples_; ++f) {
            const int32_t left = input_[0][h][f];
            const int32_t right = input_[1][h][f];
            if (!placed_) {
                if (left == 0) {
                    continue;  // silence before the device's first captured frame
                }
                next_ = static_cast<uint64_t>((left >> 8) - 1);
                placed_ = true;
            }
            if ((left & 0xFF) != 0 || (right & 0xFF) != 0 ||
                left >> 8 != SoakRun::CaptureSample(0, next_) ||
                right >> 8 != SoakRun::CaptureSample(1, next_)) {
                inputFailure = "input frame " + std::to_string(inputChecked) + " carries " +
                               std::to_string(left) + ", " + std::to_string(right) +
                               " instead of device sample " + std::to_string(next_);
                return;
            }
            ++next_;
            ++inputChecked;
        }
    }

    ControlRequester& control_;
    ULONG channels_;
    ULONG samples_;
    int32_t* input_[kTableChannels][kTableHalves] = {};
    int32_t* output_[kTableChannels][kTableHalves] = {};
    HANDLE events_[kTableHalves] = {};
    bool placed_ = false;
    uint64_t next_ = 0;
};
