// A user-mode streaming host in miniature, as a low-latency application drives a control handle:
// it maps two halves per direction for its channels from its process's memory, registers two
// events and starts; at each event it checks the input half the device has just finished against
// the device's capture pattern, fills the output half with the next frames of a ramp, and reports
// the half done. The simulated device's received packets are checked against the ramp.
#pragma once

#include <KernelHostApi.h>
#include <UsbTestApi.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "../common/SoakRun.h"
#include "RampStream.h"
#include "control/ControlClient.h"

class UserStreamer
{
public:
    UserStreamer(ControlClient* client, Platform::Kernel::UserProcess& process, ULONG channels,
                 ULONG samples)
        : client_(client), process_(process), channels_(channels), samples_(samples)
    {
        for (ULONG c = 0; c < channels; ++c) {
            for (ULONG h = 0; h < kControlHalves; ++h) {
                input_[c][h] = Allocate();
                output_[c][h] = Allocate();
            }
        }
        events_[0] = process.CreateEvent(false, false);
        events_[1] = process.CreateEvent(false, false);
    }
    ~UserStreamer()
    {
        FreeBuffers();
        process_.CloseHandle(events_[0]);
        process_.CloseHandle(events_[1]);
    }
    UserStreamer(const UserStreamer&) = delete;
    UserStreamer& operator=(const UserStreamer&) = delete;

    // Maps both directions, registers the events, fills output half 1 (the device plays it first)
    // and starts.
    NTSTATUS Map(ControlDirection direction)
    {
        PVOID pointers[kControlChannels][kControlHalves] = {};
        for (ULONG c = 0; c < channels_; ++c) {
            for (ULONG h = 0; h < kControlHalves; ++h) {
                pointers[c][h] = direction == kControlInput ? input_[c][h] : output_[c][h];
            }
        }
        return client_->MapClientBuffers(direction, pointers, samples_ * 4, UserMode);
    }
    // With a buffer size, the handle streams at the size the device allows nearest to it (a half
    // longer than the engine's ring block then takes several periods).
    NTSTATUS Start(ULONG bufferSize = 0)
    {
        client_->RecordOwner(this);
        EXPECT_EQ(Map(kControlInput), STATUS_SUCCESS);
        EXPECT_EQ(Map(kControlOutput), STATUS_SUCCESS);
        EXPECT_EQ(client_->SetEvents(events_[0], events_[1]), STATUS_SUCCESS);
        if (bufferSize != 0) {
            EXPECT_EQ(client_->SetBufferSize(client_->SnapBufferSize(bufferSize)), STATUS_SUCCESS);
        }
        FillOutput(1);
        return client_->StartStreaming();
    }

    // Serves whichever event is signalled; the number of halves served.
    int Serve(bool reportDone = true)
    {
        int served = 0;
        for (ULONG k = 0; k < kControlHalves; ++k) {
            // In turn, the half due next first, as a host does: two events found signalled
            // together came in that order.
            const ULONG h = inTurn ? (nextEvent_ + k) % kControlHalves : k;
            if (!process_.ConsumeEvent(events_[h])) {
                if (inTurn) {
                    break;
                }
                continue;
            }
            nextEvent_ = 1 - h;
            order.push_back(h);
            const ULONG finished = 1 - h;
            CheckInput(finished);
            FillOutput(finished);
            if (reportDone) {
                doneResults.push_back(client_->BufferDone());
            }
            ++served;
        }
        return served;
    }

    // Frees the user memory at once, as a process may the moment an unmap returns.
    void FreeBuffers(bool inputs = true, bool outputs = true)
    {
        for (ULONG c = 0; c < channels_; ++c) {
            for (ULONG h = 0; h < kControlHalves; ++h) {
                if (inputs && input_[c][h] != nullptr) {
                    process_.Free(input_[c][h]);
                    input_[c][h] = nullptr;
                }
                if (outputs && output_[c][h] != nullptr) {
                    process_.Free(output_[c][h]);
                    output_[c][h] = nullptr;
                }
            }
        }
    }

    HANDLE Event(ULONG h) const { return events_[h]; }
    int32_t* Input(ULONG c, ULONG h) { return input_[c][h]; }
    int32_t* Output(ULONG c, ULONG h) { return output_[c][h]; }

    bool inTurn = false;       // serve the events alternately, from event 1 on
    std::vector<ULONG> order;  // the events in the order they came
    std::vector<NTSTATUS> doneResults;
    uint64_t written = 0;       // ramp frames written into output halves
    uint64_t inputChecked = 0;  // input frames found in sequence
    uint64_t firstInput = 0;    // the device's index of the first input frame
    std::string inputFailure;

private:
    int32_t* Allocate()
    {
        return static_cast<int32_t*>(process_.Allocate(static_cast<size_t>(samples_) * 4));
    }
    void FillOutput(ULONG h)
    {
        // A channel at a time: the ramp on the first two, silence on the rest.
        for (ULONG c = 0; c < channels_; ++c) {
            int32_t* out = output_[c][h];
            if (out == nullptr) {
                continue;
            }
            if (c >= 2) {
                std::fill(out, out + samples_, 0);
                continue;
            }
            const int32_t sign = c == 0 ? 1 : -1;
            for (ULONG f = 0; f < samples_; ++f) {
                out[f] = sign * Ramp(written + f) * 256;
            }
        }
        written += samples_;
    }
    void CheckInput(ULONG h)
    {
        if (!inputFailure.empty() || input_[0][h] == nullptr || input_[1][h] == nullptr) {
            return;
        }
        int32_t want = placed_ ? SoakRun::CaptureSample(0, next_) : 0;  // left; right is -want
        for (ULONG f = 0; f < samples_; ++f) {
            const int32_t left = input_[0][h][f];
            const int32_t right = input_[1][h][f];
            if (!placed_) {
                if (left == 0) {
                    continue;  // silence before the device's first captured frame
                }
                next_ = static_cast<uint64_t>((left >> 8) - 1);
                firstInput = next_;
                placed_ = true;
                want = SoakRun::CaptureSample(0, next_);
            }
            if ((left & 0xFF) != 0 || (right & 0xFF) != 0 || left >> 8 != want ||
                right >> 8 != -want) {
                inputFailure = "input frame " + std::to_string(inputChecked) + " carries " +
                               std::to_string(left) + ", " + std::to_string(right) +
                               " instead of device sample " + std::to_string(next_);
                return;
            }
            ++next_;
            ++inputChecked;
            want = SoakRun::NextCaptureValue(want);
        }
    }

    ControlClient* client_;
    Platform::Kernel::UserProcess& process_;
    ULONG channels_;
    ULONG samples_;
    int32_t* input_[kControlChannels][kControlHalves] = {};
    int32_t* output_[kControlChannels][kControlHalves] = {};
    HANDLE events_[kControlHalves] = {};
    bool placed_ = false;
    uint64_t next_ = 0;
    ULONG nextEvent_ = 1;
};
