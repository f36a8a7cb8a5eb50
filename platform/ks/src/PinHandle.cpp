// The audio client's side of a pin: create, state, frames and position as a user process sends
// them.
#include <KsPinHandle.h>

#include <cstring>

#include "PinInternal.h"

namespace Platform::Ks {
namespace {

inline constexpr GUID kPropSetStream = {
    0x65AABA60, 0x98AE, 0x11CF, {0xA1, 0x0D, 0x00, 0x20, 0xAF, 0xD1, 0x56, 0xE4}};
constexpr ULONG kPropertyStreamMasterClock = 3;

template <typename T>
void Append(std::vector<uint8_t>& bytes, const T& value)
{
    const auto* p = reinterpret_cast<const uint8_t*>(&value);
    bytes.insert(bytes.end(), p, p + sizeof value);
}

// The value's bytes where it lies: a stream request sends its header without a copy on the heap.
template <typename T>
std::span<const uint8_t> SpanOf(const T& value)
{
    return {reinterpret_cast<const uint8_t*>(&value), sizeof value};
}

template <typename T>
std::vector<uint8_t> BytesOf(const T& value)
{
    std::vector<uint8_t> bytes;
    Append(bytes, value);
    return bytes;
}

}  // namespace

std::vector<uint8_t> PcmFormatBytes(ULONG channels, ULONG rate, ULONG bits, bool extensible,
                                    ULONG validBits, ULONG blockAlign)
{
    const ULONG align = blockAlign != 0 ? blockAlign : channels * ((bits + 7) / 8);
    WAVEFORMATEXTENSIBLE wave{};
    wave.Format.wFormatTag = extensible ? WAVE_FORMAT_EXTENSIBLE : WAVE_FORMAT_PCM;
    wave.Format.nChannels = static_cast<USHORT>(channels);
    wave.Format.nSamplesPerSec = rate;
    wave.Format.nAvgBytesPerSec = align * rate;
    wave.Format.nBlockAlign = static_cast<USHORT>(align);
    wave.Format.wBitsPerSample = static_cast<USHORT>(bits);
    wave.Format.cbSize = extensible ? 22 : 0;
    wave.Samples.wValidBitsPerSample = static_cast<USHORT>(validBits != 0 ? validBits : bits);
    wave.dwChannelMask = channels == 2 ? SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT : 0;
    wave.SubFormat = KSDATAFORMAT_SUBTYPE_PCM;
    const ULONG size =
        extensible ? sizeof(KSDATAFORMAT_WAVEFORMATEXTENSIBLE) : sizeof(KSDATAFORMAT_WAVEFORMATEX);
    KSDATAFORMAT format{};
    format.FormatSize = size;
    format.MajorFormat = KSDATAFORMAT_TYPE_AUDIO;
    format.SubFormat = KSDATAFORMAT_SUBTYPE_PCM;
    format.Specifier = KSDATAFORMAT_SPECIFIER_WAVEFORMATEX;
    std::vector<uint8_t> bytes = BytesOf(format);
    const auto* w = reinterpret_cast<const uint8_t*>(&wave);
    bytes.insert(bytes.end(), w, w + (extensible ? sizeof wave : sizeof wave.Format));
    return bytes;
}

std::unique_ptr<PinHandle> PinHandle::Open(FilterHandle& filter, ULONG pinId,
                                           const std::vector<uint8_t>& dataFormat, NTSTATUS* status,
                                           bool assignClock)
{
    KSPIN_CONNECT connect{};
    connect.Interface = {KSINTERFACESETID_Standard, KSINTERFACE_STANDARD_STREAMING, 0};
    connect.Medium = {KSMEDIUMSETID_Standard, KSMEDIUM_TYPE_ANYINSTANCE, 0};
    connect.PinId = pinId;
    connect.Priority = {0x40000000, 1};
    std::vector<uint8_t> parameters = BytesOf(connect);
    parameters.insert(parameters.end(), dataFormat.begin(), dataFormat.end());
    std::unique_ptr<PinHandle> pin = Create(filter, parameters, status);
    if (pin != nullptr && assignClock) {
        const HANDLE clock = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0xC10C));
        pin->handle_->SetProperty(kPropSetStream, kPropertyStreamMasterClock, BytesOf(clock));
    }
    return pin;
}

std::unique_ptr<PinHandle> PinHandle::OpenRaw(FilterHandle& filter,
                                              const std::vector<uint8_t>& createParameters,
                                              NTSTATUS* status)
{
    return Create(filter, createParameters, status);
}

std::unique_ptr<PinHandle> PinHandle::Create(FilterHandle& filter,
                                             const std::vector<uint8_t>& parameters,
                                             NTSTATUS* status)
{
    auto fail = [&](NTSTATUS failure) {
        if (status != nullptr) {
            *status = failure;
        }
        return nullptr;
    };
    if (!filter.open_ || filter.device_.removed_) {
        return fail(STATUS_INVALID_HANDLE);
    }
    std::unique_ptr<FilterHandle> handle(new FilterHandle(filter.process_, filter.device_));
    void* user = filter.process_.Allocate(parameters.size());
    if (user != nullptr) {
        std::memcpy(user, parameters.data(), parameters.size());
    }
    auto* file = new Internal::FileObject{Internal::kFileObjectMagic, u"", nullptr};
    file->related = static_cast<Internal::FileObject*>(filter.fileObject_);
    file->createParameters = user;
    file->createParametersSize = static_cast<ULONG>(parameters.size());
    handle->fileObject_ = file;
    const NTSTATUS result = handle->Send(IRP_MJ_CREATE, 0, nullptr, 0, nullptr, 0, nullptr);
    filter.process_.Free(user);
    file->createParameters = nullptr;
    if (!NT_SUCCESS(result)) {
        delete file;
        handle->fileObject_ = nullptr;
        return fail(result);
    }
    handle->open_ = true;
    ++filter.device_.openHandles_;
    if (status != nullptr) {
        *status = result;
    }
    return std::unique_ptr<PinHandle>(new PinHandle(std::move(handle)));
}

PinHandle::~PinHandle()
{
    Close();
    frames_.clear();
}

NTSTATUS PinHandle::Close()
{
    const NTSTATUS status = handle_->Close();
    for (Submitted& frame : frames_) {
        handle_->process_.Free(frame.data);
        frame.data = nullptr;
    }
    return status;
}

PKSPIN PinHandle::Pin() const
{
    auto* file = static_cast<Internal::FileObject*>(handle_->fileObject_);
    return file != nullptr && file->pin != nullptr ? &file->pin->pin : nullptr;
}

NTSTATUS PinHandle::SetState(KSSTATE state)
{
    return handle_
        ->SetProperty(KSPROPSETID_Connection, KSPROPERTY_CONNECTION_STATE,
                      BytesOf(static_cast<ULONG>(state)))
        .status;
}

KSSTATE PinHandle::State(NTSTATUS* status)
{
    const RequestResult result =
        handle_->GetProperty(KSPROPSETID_Connection, KSPROPERTY_CONNECTION_STATE, sizeof(ULONG));
    if (status != nullptr) {
        *status = result.status;
    }
    ULONG state = KSSTATE_STOP;
    if (NT_SUCCESS(result.status) && result.data.size() >= sizeof state) {
        std::memcpy(&state, result.data.data(), sizeof state);
    }
    return static_cast<KSSTATE>(state);
}

NTSTATUS PinHandle::WalkTo(KSSTATE target)
{
    static constexpr KSSTATE kOrder[] = {KSSTATE_STOP, KSSTATE_ACQUIRE, KSSTATE_PAUSE, KSSTATE_RUN};
    auto rank = [](KSSTATE s) {
        for (int i = 0; i < 4; ++i) {
            if (kOrder[i] == s) {
                return i;
            }
        }
        return 0;
    };
    KSSTATE current = State();
    while (current != target) {
        const KSSTATE next = kOrder[rank(current) + (rank(target) > rank(current) ? 1 : -1)];
        const NTSTATUS status = SetState(next);
        if (!NT_SUCCESS(status)) {
            return status;
        }
        current = next;
    }
    return STATUS_SUCCESS;
}

NTSTATUS PinHandle::Submit(ULONG ioControlCode, void* data, ULONG extent, ULONG used,
                           const LONGLONG* time)
{
    KSSTREAM_HEADER header{};
    header.Size = sizeof header;
    header.FrameExtent = extent;
    header.DataUsed = used;
    header.Data = data;
    header.PresentationTime = {time != nullptr ? *time : 0, 1, 1};
    header.OptionsFlags = time != nullptr ? KSSTREAM_HEADER_OPTIONSF_TIMEVALID : 0;
    std::unique_ptr<PendingRequest> request =
        handle_->BeginDeviceIoControl(ioControlCode, {}, sizeof header, SpanOf(header));
    const NTSTATUS status = request->Completed() ? request->result_.status : STATUS_PENDING;
    frames_.push_back({std::move(request), data, extent});
    return status;
}

NTSTATUS PinHandle::Write(const std::vector<uint8_t>& data, ULONG frameExtent)
{
    const ULONG extent = frameExtent > data.size() ? frameExtent : static_cast<ULONG>(data.size());
    void* user = handle_->process_.Allocate(extent);
    if (user != nullptr && !data.empty()) {
        std::memcpy(user, data.data(), data.size());
    }
    return Submit(IOCTL_KS_WRITE_STREAM, user, extent, static_cast<ULONG>(data.size()));
}

NTSTATUS PinHandle::WriteAt(const std::vector<uint8_t>& data, LONGLONG time, ULONG frameExtent)
{
    const ULONG extent = frameExtent > data.size() ? frameExtent : static_cast<ULONG>(data.size());
    void* user = handle_->process_.Allocate(extent);
    if (user != nullptr && !data.empty()) {
        std::memcpy(user, data.data(), data.size());
    }
    return Submit(IOCTL_KS_WRITE_STREAM, user, extent, static_cast<ULONG>(data.size()), &time);
}

NTSTATUS PinHandle::Read(ULONG frameExtent)
{
    return Submit(IOCTL_KS_READ_STREAM, handle_->process_.Allocate(frameExtent), frameExtent, 0);
}

RequestResult PinHandle::SubmitHeader(ULONG ioControlCode, const KSSTREAM_HEADER& header,
                                      ULONG outputSize)
{
    std::unique_ptr<PendingRequest> request =
        handle_->BeginDeviceIoControl(ioControlCode, {}, outputSize, SpanOf(header));
    const RequestResult result = request->Result();
    if (!request->Completed()) {
        frames_.push_back({std::move(request), nullptr, 0});
    }
    return result;
}

std::vector<CompletedFrame> PinHandle::Collect()
{
    std::vector<CompletedFrame> done;
    size_t ready = 0;
    while (ready < frames_.size() && frames_[ready].request->Completed()) {
        ++ready;
    }
    done.reserve(ready);
    while (!frames_.empty() && frames_.front().request->Completed()) {
        Submitted& frame = frames_.front();
        // Completed: the result no longer changes, and a copy would cost a heap block a frame.
        const RequestResult& result = frame.request->result_;
        const uint64_t sequence = frame.request->CompletionSequence();
        outOfOrder_ += sequence < lastCollected_ ? 1 : 0;
        lastCollected_ = sequence;
        CompletedFrame completed{result.status, {}, {}};
        if (result.data.size() >= sizeof(KSSTREAM_HEADER)) {
            std::memcpy(&completed.header, result.data.data(), sizeof completed.header);
        }
        if (frame.data != nullptr) {
            const auto* bytes = static_cast<const uint8_t*>(frame.data);
            completed.data.assign(bytes, bytes + frame.extent);
            handle_->process_.Free(frame.data);
        }
        done.push_back(std::move(completed));
        frames_.pop_front();
    }
    return done;
}

NTSTATUS PinHandle::GetPosition(KSAUDIO_POSITION* position)
{
    const RequestResult result =
        handle_->GetProperty(KSPROPSETID_Audio, KSPROPERTY_AUDIO_POSITION, sizeof *position);
    if (NT_SUCCESS(result.status) && result.data.size() >= sizeof *position) {
        std::memcpy(position, result.data.data(), sizeof *position);
    }
    return result.status;
}

NTSTATUS PinHandle::SetPosition(const KSAUDIO_POSITION& position)
{
    return handle_->SetProperty(KSPROPSETID_Audio, KSPROPERTY_AUDIO_POSITION, BytesOf(position))
        .status;
}

}  // namespace Platform::Ks
