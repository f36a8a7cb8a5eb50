// The audio client's side of a pin, for tests and hosts: opens a pin of an open filter with a data
// format, moves it through its states, submits frames and collects them as they complete, reads
// the audio position. Requests travel as a user process sends them: every buffer lives in the
// process's memory. Driver code never includes this.
#pragma once

#include <KsHostApi.h>
#include <ksmedia.h>

#include <deque>
#include <memory>
#include <vector>

namespace Platform::Ks {

// A frame back from the driver: how it completed, its header as the driver left it and the bytes
// of its buffer (capture: DataUsed of them; render: the whole buffer as submitted).
struct CompletedFrame
{
    NTSTATUS status;
    KSSTREAM_HEADER header;
    std::vector<uint8_t> data;
};

class PinHandle
{
public:
    // KSPIN_CONNECT (standard interface and medium, the pin id, no peer pin) followed by the
    // format is what the create request carries. With assignClock the pin gets the host's
    // clock (the performance counter) as its master clock once open.
    static std::unique_ptr<PinHandle> Open(FilterHandle& filter, ULONG pinId,
                                           const std::vector<uint8_t>& dataFormat,
                                           NTSTATUS* status = nullptr, bool assignClock = true);
    // Sends create parameters as given, for callers that lie about them.
    static std::unique_ptr<PinHandle> OpenRaw(FilterHandle& filter,
                                              const std::vector<uint8_t>& createParameters,
                                              NTSTATUS* status = nullptr);
    // Closes the handle (the pin completes what it still holds), then frees the frames.
    ~PinHandle();
    PinHandle(const PinHandle&) = delete;
    PinHandle& operator=(const PinHandle&) = delete;

    NTSTATUS Close();
    bool IsOpen() const { return handle_->IsOpen(); }
    PKSPIN Pin() const;
    FilterHandle& Handle() { return *handle_; }

    NTSTATUS SetState(KSSTATE state);
    // The state the pin reports; *status tells whether it answered.
    KSSTATE State(NTSTATUS* status = nullptr);
    // Walks STOP -> ACQUIRE -> PAUSE -> RUN (or back) one request per state, as clients do; the
    // first refusal ends the walk.
    NTSTATUS WalkTo(KSSTATE state);

    // A render frame: the bytes (DataUsed) in a buffer of frameExtent bytes (at least their size).
    // The answer is the request's status once sent: STATUS_PENDING while the driver holds it.
    NTSTATUS Write(const std::vector<uint8_t>& data, ULONG frameExtent = 0);
    // A render frame that carries its presentation time (100 ns, KSSTREAM_HEADER_OPTIONSF_
    // TIMEVALID), as MIDI clients send them.
    NTSTATUS WriteAt(const std::vector<uint8_t>& data, LONGLONG time, ULONG frameExtent = 0);
    // A capture frame of frameExtent bytes for the driver to fill.
    NTSTATUS Read(ULONG frameExtent);
    // A stream request with the header as given (Data must point into the process's memory or
    // be a lie the driver must survive) and an output buffer of outputSize bytes.
    RequestResult SubmitHeader(ULONG ioControlCode, const KSSTREAM_HEADER& header,
                               ULONG outputSize);

    // The frames completed so far that have no earlier frame still pending, oldest first.
    std::vector<CompletedFrame> Collect();
    size_t PendingFrames() const { return frames_.size(); }
    // Frames that completed before a frame submitted earlier (should stay 0).
    size_t OutOfOrderCompletions() const { return outOfOrder_; }

    // KSPROPERTY_AUDIO_POSITION.
    NTSTATUS GetPosition(KSAUDIO_POSITION* position);
    NTSTATUS SetPosition(const KSAUDIO_POSITION& position);

private:
    struct Submitted
    {
        std::unique_ptr<PendingRequest> request;
        void* data;
        ULONG extent;
    };
    explicit PinHandle(std::unique_ptr<FilterHandle> handle) : handle_(std::move(handle)) {}
    static std::unique_ptr<PinHandle> Create(FilterHandle& filter,
                                             const std::vector<uint8_t>& parameters,
                                             NTSTATUS* status);
    NTSTATUS Submit(ULONG ioControlCode, void* data, ULONG extent, ULONG used,
                    const LONGLONG* time = nullptr);
    void CheckOrder();

    std::unique_ptr<FilterHandle> handle_;
    std::deque<Submitted> frames_;
    size_t outOfOrder_ = 0;
    uint64_t lastCollected_ = 0;
};

// A KSDATAFORMAT_WAVEFORMATEX (82 bytes) or KSDATAFORMAT_WAVEFORMATEXTENSIBLE (104 bytes) of PCM
// with the WAVEFORMATEX specifier; validBits 0 means the same as bits.
std::vector<uint8_t> PcmFormatBytes(ULONG channels, ULONG rate, ULONG bits, bool extensible,
                                    ULONG validBits = 0, ULONG blockAlign = 0);

}  // namespace Platform::Ks
