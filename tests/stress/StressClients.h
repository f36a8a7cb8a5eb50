// The clients the stress runs drive through the driver from a user process, one kind per class:
// each opens, streams a millisecond at a time and closes, and tells whether what it asked for
// failed as a failure (never a success with nothing behind it). Wave pins, MIDI pins and the
// control filter's low-latency client are here.
#pragma once

#include <KsPinHandle.h>

#include <memory>
#include <string>

#include "HostMachine.h"
#include "LowLatencyClient.h"

namespace Stress {

class StressClient
{
public:
    virtual ~StressClient() = default;
    // STATUS_SUCCESS, or the failure the driver answered.
    virtual NTSTATUS Open() = 0;
    // Keeps the client's queue full for one millisecond's turn; false when a request the driver
    // took came back with a status that is neither success nor a failure of its own (a bug).
    virtual bool Stream() = 0;
    virtual void Close() = 0;
    // What the client moved through the driver since it was made: requests that completed with
    // data (wave blocks, MIDI messages sent or received) or halves served (control client).
    virtual uint64_t Moved() const = 0;
    // Requests the driver still holds (after Close: none may be).
    virtual size_t PendingRequests() const = 0;
    virtual std::string Describe() const = 0;
};

// A wave pin at a rate, 24 valid bits in 32-bit containers, stereo, with 10 ms blocks queued:
// render blocks written, or capture blocks read.
class WaveClient final : public StressClient
{
public:
    WaveClient(Host::HostMachine& machine, bool capture, ULONG rate)
        : machine_(machine), capture_(capture), rate_(rate)
    {
    }
    NTSTATUS Open() override;
    bool Stream() override;
    void Close() override;
    uint64_t Moved() const override { return moved_; }
    size_t PendingRequests() const override
    {
        return pin_ != nullptr ? pin_->PendingFrames() : leftPending_;
    }
    std::string Describe() const override
    {
        return std::string(capture_ ? "capture" : "render") + " pin at " + std::to_string(rate_);
    }

private:
    Host::HostMachine& machine_;
    bool capture_;
    ULONG rate_;
    std::unique_ptr<Platform::Ks::FilterHandle> filter_;
    std::unique_ptr<Platform::Ks::PinHandle> pin_;
    size_t leftPending_ = 0;  // what the pin still held when it closed
    uint64_t moved_ = 0;
};

// A MIDI filter's raw output pin and its input pin on the test model with MIDI ports: a note
// written every turn, four reads kept queued.
class MidiClient final : public StressClient
{
public:
    explicit MidiClient(Host::HostMachine& machine) : machine_(machine) {}
    NTSTATUS Open() override;
    bool Stream() override;
    void Close() override;
    uint64_t Moved() const override { return moved_; }
    size_t PendingRequests() const override
    {
        return (output_ != nullptr ? output_->PendingFrames() : 0) +
               (input_ != nullptr ? input_->PendingFrames() : 0) + leftPending_;
    }
    std::string Describe() const override { return "MIDI pins"; }

private:
    bool Sound(Platform::Ks::PinHandle* pin);

    Host::HostMachine& machine_;
    std::unique_ptr<Platform::Ks::FilterHandle> filter_;
    std::unique_ptr<Platform::Ks::PinHandle> output_;
    std::unique_ptr<Platform::Ks::PinHandle> input_;
    size_t leftPending_ = 0;
    uint64_t moved_ = 0;
};

// The control filter's low-latency client: 256-frame halves at a rate, a buffer-done at every
// event. Its requests are all answered at once, so none stays with the driver; the device's
// position must not go back while it runs.
class ControlClient final : public StressClient
{
public:
    ControlClient(Host::HostMachine& machine, ULONG rate) : machine_(machine), rate_(rate) {}
    NTSTATUS Open() override;
    bool Stream() override;
    void Close() override;
    uint64_t Moved() const override { return served_ + (client_ != nullptr ? client_->served : 0); }
    size_t PendingRequests() const override { return 0; }
    std::string Describe() const override
    {
        return "low-latency control client at " + std::to_string(rate_);
    }

private:
    Host::HostMachine& machine_;
    ULONG rate_;
    std::unique_ptr<ControlRequester> control_;
    std::unique_ptr<Host::LowLatencyClient> client_;
    uint64_t served_ = 0;  // by a client closed since
    uint64_t position_ = 0;
};

}  // namespace Stress
