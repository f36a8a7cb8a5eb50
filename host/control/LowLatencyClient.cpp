#include "LowLatencyClient.h"

#include <algorithm>
#include <cstring>
#include <numeric>

namespace Host {
namespace {

constexpr ULONG kDeviceInfoBytes = 344;
constexpr size_t kProductNameAt = 20;
constexpr size_t kProductNameBytes = 32;

std::string StatusHex(NTSTATUS status)
{
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text = "0x";
    for (int shift = 28; shift >= 0; shift -= 4) {
        text += kDigits[(static_cast<uint32_t>(status) >> shift) & 0xF];
    }
    return text;
}

}  // namespace

int32_t LowLatencyRamp(uint64_t n)
{
    return static_cast<int32_t>(n % kLowLatencyRampSpan) + 1;
}

std::string BufferSizeRange::Text() const
{
    const std::string span = std::to_string(minimum) + " to " + std::to_string(maximum);
    if (granularity > 0) {
        return "from " + span + " frames in steps of " + std::to_string(granularity);
    }
    return "doubling from " + span + " frames";
}

LowLatencyClient::~LowLatencyClient()
{
    if (running_) {
        std::string ignored;
        Stop(&ignored);
    }
    Unmap();
    Release();
}

bool LowLatencyClient::Describe(std::string* error)
{
    const auto info =
        control_.Get(kPropSetControlGeneral, kPropGeneralDeviceInfo, kDeviceInfoBytes);
    if (info.status != STATUS_SUCCESS || info.data.size() < kDeviceInfoBytes) {
        *error = "the control filter gave no device information: status " + StatusHex(info.status);
        return false;
    }
    inputs_ = ControlRequester::ReadU32(info.data, 0);
    outputs_ = ControlRequester::ReadU32(info.data, 4);
    if (inputs_ > kTableChannels || outputs_ > kTableChannels || outputs_ == 0) {
        *error = "the control filter reports " + std::to_string(inputs_) + " inputs and " +
                 std::to_string(outputs_) + " outputs, which a client cannot map";
        return false;
    }
    productName_.clear();
    for (size_t i = kProductNameAt; i < kProductNameAt + kProductNameBytes && info.data[i] != 0;
         ++i) {
        productName_ += static_cast<char>(info.data[i]);
    }
    return true;
}

bool LowLatencyClient::Configure(uint32_t rate, uint32_t frames, std::string* error)
{
    const NTSTATUS rated = control_.SetU32(kPropSetControlGeneral, kPropGeneralSampleRate, rate);
    if (rated != STATUS_SUCCESS ||
        control_.GetU32(kPropSetControlGeneral, kPropGeneralSampleRate) != rate) {
        *error =
            "the device did not take " + std::to_string(rate) + " Hz: status " + StatusHex(rated);
        return false;
    }
    const auto range = control_.Get(kPropSetControlStreaming, kPropStreamingBufferSizeRange, 16);
    if (range.status != STATUS_SUCCESS || range.data.size() < 16) {
        *error = "the control filter gave no buffer sizes: status " + StatusHex(range.status);
        return false;
    }
    range_.minimum = ControlRequester::ReadU32(range.data, 0);
    range_.maximum = ControlRequester::ReadU32(range.data, 4);
    range_.preferred = ControlRequester::ReadU32(range.data, 8);
    range_.granularity = static_cast<int32_t>(ControlRequester::ReadU32(range.data, 12));
    if (control_.SetU32(kPropSetControlGeneral, kPropGeneralBufferSize, frames) != STATUS_SUCCESS) {
        *error = "--buffer: the device does not take " + std::to_string(frames) + " frames at " +
                 std::to_string(rate) + " Hz (it takes sizes " + range_.Text() + ")";
        return false;
    }
    frames_ = frames;
    const auto latencies = control_.Get(kPropSetControlStreaming, kPropStreamingLatencies, 8);
    latency_ = latencies.status == STATUS_SUCCESS && latencies.data.size() >= 8
                   ? ControlRequester::ReadU32(latencies.data, 0) +
                         ControlRequester::ReadU32(latencies.data, 4)
                   : 0;
    return true;
}

bool LowLatencyClient::Allocate(std::string* error)
{
    auto& process = control_.Process();
    const size_t bytes = static_cast<size_t>(frames_) * 4;
    for (ULONG c = 0; c < kTableChannels; ++c) {
        for (ULONG h = 0; h < kTableHalves; ++h) {
            if (c < inputs_) {
                input_[c][h] = static_cast<int32_t*>(process.Allocate(bytes));
            }
            if (c < outputs_) {
                output_[c][h] = static_cast<int32_t*>(process.Allocate(bytes));
            }
            if ((c < inputs_ && input_[c][h] == nullptr) ||
                (c < outputs_ && output_[c][h] == nullptr)) {
                *error = "the process could not allocate its buffers";
                return false;
            }
        }
    }
    events_[0] = process.CreateEvent(false, false);
    events_[1] = process.CreateEvent(false, false);
    return true;
}

bool LowLatencyClient::MapDirection(bool output, std::string* error)
{
    void* halves[kTableChannels][kTableHalves] = {};
    for (ULONG c = 0; c < kTableChannels; ++c) {
        for (ULONG h = 0; h < kTableHalves; ++h) {
            halves[c][h] = output ? output_[c][h] : input_[c][h];
        }
    }
    const NTSTATUS status =
        control_
            .Set(kPropSetControlStreaming,
                 output ? kPropStreamingOutputBuffers : kPropStreamingInputBuffers,
                 control_.BufferTableData(halves, frames_ * 4))
            .status;
    if (status != STATUS_SUCCESS) {
        *error = std::string("the control filter did not map the ") +
                 (output ? "output" : "input") + " buffers: status " + StatusHex(status);
        return false;
    }
    return true;
}

bool LowLatencyClient::Start(std::string* error)
{
    if (!Allocate(error) || !MapDirection(false, error) || !MapDirection(true, error)) {
        return false;
    }
    mapped_ = true;
    // The size set before mapping went to every handle; now this handle streams and keeps its own.
    NTSTATUS status = control_.SetU32(kPropSetControlGeneral, kPropGeneralBufferSize, frames_);
    if (status == STATUS_SUCCESS) {
        status = control_
                     .Set(kPropSetControlStreaming, kPropStreamingEvents,
                          control_.EventPairData(events_[0], events_[1]))
                     .status;
    }
    if (status != STATUS_SUCCESS) {
        *error =
            "the control filter refused the buffer size or the events: status " + StatusHex(status);
        return false;
    }
    FillOutput(1);  // the device plays half 1 first
    status = control_.SetU32(kPropSetControlStreaming, kPropStreamingStart, 0);
    running_ = status == STATUS_SUCCESS &&
               control_.GetU32(kPropSetControlStreaming, kPropStreamingRunning) == 1;
    if (!running_) {
        *error = "the device did not start streaming " + std::to_string(frames_) +
                 "-frame halves: status " + StatusHex(status);
        return false;
    }
    return true;
}

namespace {

// Four samples at a time in a vector register (SSE2 on x64, whatever the target has elsewhere).
using Lanes = int32_t __attribute__((vector_size(16)));
constexpr uint32_t kLanes = 4;

// out[k] = (first + k) x 256 for k < count: ramp values first .. first + count - 1, 24-bit.
void RampRun(int32_t* out, int32_t first, uint32_t count)
{
    uint32_t k = 0;
    Lanes values = Lanes{0, 1, 2, 3} + first;
    for (; k + kLanes <= count; k += kLanes, values += static_cast<int32_t>(kLanes)) {
        const Lanes scaled = values * 256;
        std::memcpy(out + k, &scaled, sizeof scaled);
    }
    for (; k < count; ++k) {
        out[k] = (first + static_cast<int32_t>(k)) * 256;
    }
}

void Negated(int32_t* out, const int32_t* from, uint32_t count)
{
    uint32_t k = 0;
    for (; k + kLanes <= count; k += kLanes) {
        Lanes v;
        std::memcpy(&v, from + k, sizeof v);
        v = -v;
        std::memcpy(out + k, &v, sizeof v);
    }
    for (; k < count; ++k) {
        out[k] = -from[k];
    }
}

}  // namespace

void LowLatencyClient::FillOutput(uint32_t half)
{
    // A channel at a time: the ramp into the first, copied to the even ones, negated to the odd.
    const uint32_t frames = frames_;
    if (outputs_ != 0) {
        int32_t* first = output_[0][half];
        uint64_t at = written % kLowLatencyRampSpan;
        for (uint32_t f = 0; f < frames;) {
            // Up to the ramp's last value, then on from its first.
            const auto run =
                static_cast<uint32_t>(std::min<uint64_t>(frames - f, kLowLatencyRampSpan - at));
            RampRun(first + f, static_cast<int32_t>(at) + 1, run);
            f += run;
            at = (at + run) % kLowLatencyRampSpan;
        }
        for (uint32_t c = 1; c < outputs_; ++c) {
            int32_t* out = output_[c][half];
            if (c % 2 == 0) {
                std::copy_n(first, frames, out);
            } else {
                Negated(out, first, frames);
            }
        }
    }
    written += frames;
}

int LowLatencyClient::Serve()
{
    int count = 0;
    // Events alternate; the one due next is looked at first.
    for (int round = 0; round < 2; ++round) {
        const uint32_t h = nextEvent_;
        if (!control_.Process().ConsumeEvent(events_[h])) {
            break;
        }
        nextEvent_ = 1 - h;
        FillOutput(1 - h);
        if (control_.SetU32(kPropSetControlStreaming, kPropStreamingBufferDone, 0) !=
            STATUS_SUCCESS) {
            ++failedDones;
            changeFlags |= control_.GetU32(kPropSetControlStreaming, kPropStreamingChangeFlags);
        }
        ++served;
        ++count;
    }
    if (count != 0) {
        NotePosition(Position());
    }
    return count;
}

uint64_t LowLatencyClient::Position()
{
    const auto position = control_.Get(kPropSetControlStreaming, kPropStreamingPosition, 16);
    return position.status == STATUS_SUCCESS && position.data.size() >= 16
               ? ControlRequester::ReadU64(position.data, 0)
               : 0;
}

// Positions are sums of whole device periods, so their greatest common divisor is the period.
void LowLatencyClient::NotePosition(uint64_t position)
{
    period_ = std::gcd(period_, position);
}

bool LowLatencyClient::Stop(std::string* error)
{
    const uint64_t position = Position();
    NotePosition(position);
    const NTSTATUS status = control_.SetU32(kPropSetControlStreaming, kPropStreamingStop, 0);
    running_ = false;
    uint64_t seen = served;
    for (uint32_t h = 0; h < kTableHalves; ++h) {
        seen += control_.Process().ConsumeEvent(events_[h]) ? 1 : 0;
    }
    // The first period switches halves at once; every half's worth of frames after it, again.
    const uint64_t switches =
        period_ != 0 && position >= period_ ? (position - period_) / frames_ + 1 : 0;
    missed = switches > seen ? switches - seen : 0;
    if (status != STATUS_SUCCESS) {
        *error = "the control filter did not stop: status " + StatusHex(status);
        return false;
    }
    return true;
}

void LowLatencyClient::Unmap()
{
    if (!mapped_) {
        return;
    }
    mapped_ = false;
    control_.SetU32(kPropSetControlStreaming, kPropStreamingReleaseInputBuffers, 0);
    control_.SetU32(kPropSetControlStreaming, kPropStreamingReleaseOutputBuffers, 0);
    control_.SetU32(kPropSetControlStreaming, kPropStreamingReleaseEvents, 0);
}

void LowLatencyClient::Release()
{
    auto& process = control_.Process();
    for (ULONG c = 0; c < kTableChannels; ++c) {
        for (ULONG h = 0; h < kTableHalves; ++h) {
            process.Free(input_[c][h]);
            process.Free(output_[c][h]);
            input_[c][h] = nullptr;
            output_[c][h] = nullptr;
        }
    }
    for (HANDLE& event : events_) {
        if (event != nullptr) {
            process.CloseHandle(event);
            event = nullptr;
        }
    }
}

}  // namespace Host
