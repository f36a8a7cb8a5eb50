// What every wave pin shares: the private format copy, the pin's create and close on its filter's
// lists, the audio position property, and the dispatch tables of the streaming pins.
#include <new>

#include "common/InStackLock.h"
#include "device/DeviceLifecycle.h"
#include "device/DeviceModel.h"
#include "device/DeviceParts.h"
#include "ks/CapturePinStream.h"
#include "ks/RenderPinStream.h"
#include "ks/WaveFilter.h"
#include "ks/WavePins.h"

namespace {

void FreePinStream(PVOID object)
{
    auto* stream = static_cast<WavePinBase*>(static_cast<PinStream*>(object));
    FreeWaveFormat(stream->waveFormat);
    stream->waveFormat = nullptr;
    stream->~WavePinBase();
    ExFreePoolWithTag(object, kWaveFilterTag);
}

FilterPinListRef ListOf(WaveFilterContext* filter, bool capture)
{
    return {&filter->pinListLock, capture ? &filter->capturePins : &filter->renderPins,
            &filter->openPins};
}

bool ListPin(WaveFilterContext* filter, PKSPIN pin, bool capture)
{
    return ListFilterPin(ListOf(filter, capture), pin, kWaveFilterTag);
}

void UnlistPin(WaveFilterContext* filter, PKSPIN pin, bool capture)
{
    UnlistFilterPin(ListOf(filter, capture), pin, kWaveFilterTag);
}

// What each kind of pin stream sets up of its own before the pin is listed.
void PrepareOwnParts(RenderPinStream* stream, PKSPIN pin)
{
    KeInitializeSpinLock(&stream->nodeLock);
    stream->digital = pin->Id == 1 ? 1 : 0;
}

void PrepareOwnParts(CapturePinStream* stream, PKSPIN)
{
    KeInitializeSpinLock(&stream->streamLock);
}

template <typename Stream>
NTSTATUS CreateWavePin(PKSPIN pin, bool capture)
{
    // No pin opens on a factory that endpoint naming is rebuilding.
    DeviceContext* context = WaveDeviceContext(pin);
    if (context != nullptr && ReadUCharAcquire(&context->endpointUpdateFlag) != 0) {
        return STATUS_DEVICE_BUSY;
    }
    void* memory = ExAllocatePoolWithTag(NonPagedPoolNx, sizeof(Stream), kWaveFilterTag);
    if (memory == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    RtlZeroMemory(memory, sizeof(Stream));
    auto* stream = new (memory) Stream();
    KsAcquireControl(pin);
    NTSTATUS status =
        KsAddItemToObjectBag(pin->Bag, static_cast<PinStream*>(stream), FreePinStream);
    KsReleaseControl(pin);
    if (!NT_SUCCESS(status)) {
        FreePinStream(static_cast<PinStream*>(stream));
        return status;
    }
    stream->pin = pin;
    stream->capture = capture;
    KeInitializeSpinLock(&stream->pinLock);
    KeInitializeSpinLock(&stream->cloneLock);
    PrepareOwnParts(stream, pin);
    stream->context = WaveDeviceContext(pin);
    stream->systemVersion =
        stream->context != nullptr ? QueryOsVersion(stream->context) : 0x06000000;
    stream->waveFormat = CopyWaveFormat(pin->ConnectionFormat);
    if (stream->waveFormat == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    PKSFILTER filter = KsPinGetParentFilter(pin);
    WaveFilterContext* filterContext =
        filter->Context != nullptr ? WaveFilterContextOf(filter) : nullptr;
    if (filterContext == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    stream->filterContext = filterContext;
    const WaveFilter* wave = WaveFilterOf(filter);
    stream->firstChannel = wave->endpoint.firstChannel;
    stream->channelCount = wave->endpoint.channelCount;
    // The device walks the filter's lists on other threads and asks each listed pin whether it
    // runs: the pin is whole before it is listed.
    pin->Context = static_cast<PinStream*>(stream);
    if (!ListPin(filterContext, pin, capture)) {
        pin->Context = nullptr;
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    return STATUS_SUCCESS;
}

RenderPinStream* RenderOf(PKSPIN pin)
{
    return static_cast<RenderPinStream*>(WavePinOf(pin));
}

NTSTATUS CreateRenderPin(PKSPIN pin, PIRP)
{
    return CreateWavePin<RenderPinStream>(pin, false);
}

NTSTATUS CloseRenderPin(PKSPIN pin, PIRP)
{
    RenderPinStream* stream = RenderOf(pin);
    if (stream == nullptr) {
        return STATUS_SUCCESS;
    }
    stream->Close();
    UnlistPin(stream->filterContext, pin, false);
    return STATUS_SUCCESS;
}

NTSTATUS ProcessRenderPin(PKSPIN pin)
{
    return RenderOf(pin)->Process();
}

void ResetWavePin(PKSPIN pin)
{
    WavePinBase* stream = WavePinOf(pin);
    stream->Flush();
    InStackLock hold(stream->PositionLock());
    stream->playPosition = 0;
    stream->writePosition = 0;
}

NTSTATUS SetRenderState(PKSPIN pin, KSSTATE to, KSSTATE from)
{
    return RenderOf(pin)->SetState(to, from);
}

// PASSIVE_LEVEL. The format copy is replaced (and the old one freed) under the pin's control
// mutex when a stopped pin takes a new format: a property handler reads it under that mutex.
void ReadPinFormat(PKSPIN pin, const WavePinBase* stream, ULONGLONG* averageBytes, ULONG* align)
{
    KsAcquireControl(pin);
    *averageBytes = stream->waveFormat != nullptr ? stream->waveFormat->Format.nAvgBytesPerSec : 0;
    *align = stream->BlockAlign();
    KsReleaseControl(pin);
}

NTSTATUS GetPosition(PIRP irp, PKSIDENTIFIER, PVOID data)
{
    PKSPIN pin = KsGetPinFromIrp(irp);
    WavePinBase* stream = pin != nullptr ? WavePinOf(pin) : nullptr;
    if (stream == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    KSAUDIO_POSITION position;
    ULONGLONG last;
    {
        InStackLock hold(stream->PositionLock());
        position = {stream->playPosition, stream->writePosition};
        last = stream->lastPositionTime;
    }
    if (stream->capture &&
        (stream->context == nullptr || GetPnpState(stream->context) != kPnpStarted)) {
        const ULONGLONG now = Now100ns();
        const ULONGLONG elapsed = now > last ? now - last : 0;
        ULONGLONG rate = 0;
        ULONG align = 0;
        ReadPinFormat(pin, stream, &rate, &align);
        // elapsed x rate / 10^7 without overflow for any elapsed time, in whole blocks: a client
        // reads the offset as a count of blocks.
        ULONGLONG advance =
            elapsed / 10000000ull * rate + elapsed % 10000000ull * rate / 10000000ull;
        advance -= align != 0 ? advance % align : 0;
        position.PlayOffset = position.PlayOffset + advance < position.WriteOffset
                                  ? position.PlayOffset + advance
                                  : position.WriteOffset;
    }
    RtlCopyMemory(data, &position, sizeof position);
    irp->IoStatus.Information = sizeof position;
    return STATUS_SUCCESS;
}

NTSTATUS SetPosition(PIRP irp, PKSIDENTIFIER, PVOID data)
{
    PKSPIN pin = KsGetPinFromIrp(irp);
    WavePinBase* stream = pin != nullptr ? WavePinOf(pin) : nullptr;
    if (stream == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    KSAUDIO_POSITION position;
    RtlCopyMemory(&position, data, sizeof position);
    ULONGLONG rate = 0;
    ULONG align = 0;
    ReadPinFormat(pin, stream, &rate, &align);
    InStackLock hold(stream->PositionLock());
    stream->lastPositionTime = Now100ns();
    stream->playPosition = position.PlayOffset;
    stream->writePosition =
        align != 0 ? position.WriteOffset - position.WriteOffset % align : position.WriteOffset;
    return STATUS_SUCCESS;
}

KSPROPERTY_ITEM PositionItem()
{
    KSPROPERTY_ITEM item{};
    item.PropertyId = KSPROPERTY_AUDIO_POSITION;
    item.GetPropertyHandler = GetPosition;
    item.MinProperty = sizeof(KSPROPERTY);
    item.MinData = sizeof(KSAUDIO_POSITION);
    item.SetPropertyHandler = SetPosition;
    return item;
}

const KSPROPERTY_ITEM kAudioItems[] = {PositionItem()};
const KSPROPERTY_SET kAudioSets[] = {{&KSPROPSETID_Audio, 1, kAudioItems, 0, nullptr}};

}  // namespace

const KSAUTOMATION_TABLE kWaveStreamPinAutomation = {
    .PropertySetsCount = 1,
    .PropertyItemSize = sizeof(KSPROPERTY_ITEM),
    .PropertySets = kAudioSets,
    .MethodSetsCount = 0,
    .MethodItemSize = 0,
    .MethodSets = nullptr,
    .EventSetsCount = 0,
    .EventItemSize = 0,
    .EventSets = nullptr,
    .Alignment = nullptr,
};

const KSPIN_DISPATCH kWaveRenderPinDispatch = {
    .Create = CreateRenderPin,
    .Close = CloseRenderPin,
    .Process = ProcessRenderPin,
    .Reset = ResetWavePin,
    .SetDataFormat = SetRenderPinFormat,
    .SetDeviceState = SetRenderState,
    .Connect = nullptr,
    .Disconnect = nullptr,
    .Clock = nullptr,
    .Allocator = nullptr,
};

WavePinBase* WavePinOf(PKSPIN pin)
{
    return pin->Context != nullptr
               ? static_cast<WavePinBase*>(static_cast<PinStream*>(pin->Context))
               : nullptr;
}

WAVEFORMATEXTENSIBLE* CopyWaveFormat(const KSDATAFORMAT* format)
{
    ULONG available = 0;
    const WAVEFORMATEX* wave = WaveFormatIn(format, &available);
    if (wave == nullptr) {
        return nullptr;
    }
    ULONG bytes = 0;
    switch (wave->wFormatTag) {
        case WAVE_FORMAT_PCM:
        case WAVE_FORMAT_DOLBY_AC3_SPDIF:
        case WAVE_FORMAT_WMASPDIF:
            bytes = sizeof(WAVEFORMATEX);
            break;
        case WAVE_FORMAT_EXTENSIBLE:
            bytes = sizeof(WAVEFORMATEXTENSIBLE);
            break;
        default:
            return nullptr;
    }
    // Only what the format holds: an extensible format cut short is refused, not read past.
    if (available < bytes) {
        return nullptr;
    }
    auto* copy = static_cast<WAVEFORMATEXTENSIBLE*>(
        ExAllocatePoolWithTag(NonPagedPoolNx, kWaveFormatCopyBytes, kWaveFormatTag));
    if (copy != nullptr) {
        RtlZeroMemory(copy, kWaveFormatCopyBytes);
        RtlCopyMemory(copy, wave, bytes);
    }
    return copy;
}

void FreeWaveFormat(WAVEFORMATEXTENSIBLE* format)
{
    if (format != nullptr) {
        ExFreePoolWithTag(format, kWaveFormatTag);
    }
}

bool RefreshPinWaveFormat(PKSPIN pin)
{
    WavePinBase* stream = WavePinOf(pin);
    if (stream == nullptr) {
        return true;  // at creation: the stream takes its copy when it is made
    }
    WAVEFORMATEXTENSIBLE* fresh = CopyWaveFormat(pin->ConnectionFormat);
    if (fresh == nullptr) {
        return false;
    }
    FreeWaveFormat(stream->waveFormat);
    stream->waveFormat = fresh;
    return true;
}

bool WavePinBase::DeviceGone() const
{
    return context == nullptr || GetPnpState(context) > kPnpStarted;
}

ULONG WavePinBase::ContainerBytes() const
{
    const ULONG channels = waveFormat != nullptr ? waveFormat->Format.nChannels : 0;
    return channels != 0 ? BlockAlign() / channels : 2;
}

void WavePinBase::DeleteClones()
{
    InStackLock hold(&cloneLock);
    const bool gone = DeviceGone();
    for (PKSSTREAM_POINTER clone = KsPinGetFirstCloneStreamPointer(pin); clone != nullptr;
         clone = KsPinGetFirstCloneStreamPointer(pin)) {
        if (capture && clone->StreamHeader != nullptr) {
            clone->StreamHeader->DataUsed = 0;
        }
        if (gone) {
            KsStreamPointerSetStatusCode(clone, STATUS_DEVICE_NOT_CONNECTED);
        }
        KsStreamPointerDelete(clone);
    }
}

void WavePinBase::TakeClock()
{
    if (clock == nullptr && !NT_SUCCESS(KsPinGetReferenceClockInterface(pin, &clock))) {
        clock = nullptr;
    }
}

void WavePinBase::ReleaseClock()
{
    if (clock != nullptr) {
        clock->Release();
        clock = nullptr;
    }
}

namespace {

CapturePinStream* CaptureOf(PKSPIN pin)
{
    return static_cast<CapturePinStream*>(WavePinOf(pin));
}

NTSTATUS CreateCapturePin(PKSPIN pin, PIRP)
{
    NTSTATUS status = CreateWavePin<CapturePinStream>(pin, true);
    if (NT_SUCCESS(status) && !CaptureOf(pin)->Build()) {
        status = STATUS_INSUFFICIENT_RESOURCES;
    }
    if (!NT_SUCCESS(status) && WavePinOf(pin) != nullptr) {
        CaptureOf(pin)->Close();
        UnlistPin(CaptureOf(pin)->filterContext, pin, true);
    }
    return status;
}

NTSTATUS CloseCapturePin(PKSPIN pin, PIRP)
{
    CapturePinStream* stream = CaptureOf(pin);
    if (stream == nullptr) {
        return STATUS_SUCCESS;
    }
    stream->Close();
    UnlistPin(stream->filterContext, pin, true);
    return STATUS_SUCCESS;
}

NTSTATUS ProcessCapturePin(PKSPIN pin)
{
    return CaptureOf(pin)->Process();
}

NTSTATUS SetCaptureState(PKSPIN pin, KSSTATE to, KSSTATE from)
{
    return CaptureOf(pin)->SetState(to, from);
}

}  // namespace

const KSPIN_DISPATCH kWaveCapturePinDispatch = {
    .Create = CreateCapturePin,
    .Close = CloseCapturePin,
    .Process = ProcessCapturePin,
    .Reset = ResetWavePin,
    .SetDataFormat = SetCapturePinFormat,
    .SetDeviceState = SetCaptureState,
    .Connect = nullptr,
    .Disconnect = nullptr,
    .Clock = nullptr,
    .Allocator = nullptr,
};

NTSTATUS WavePinBase::PutRateInForce()
{
    DeviceModel* model = context->deviceModel;
    DeviceParts* parts = GetDeviceParts();
    const ULONG rate = waveFormat->Format.nSamplesPerSec;
    ULONG index = 0;
    for (int attempt = 0; attempt < 8; ++attempt) {
        LONG configurationIndex = -1;
        index = model->GetNearestRateIndex(rate, &configurationIndex);
        if (configurationIndex == static_cast<LONG>(configuration.index)) {
            break;
        }
        model->GetCurrentConfiguration(&configuration);
    }
    WriteUCharRelease(&context->rateFixedByPin, 1);
    const ULONG inForce =
        parts != nullptr ? parts->ApplyRateIndex(context->streamManager, static_cast<LONG>(index))
                         : 0;
    // The rate in force must be the configuration's at that index and the format's own: the
    // nearest rate is not the format's rate, and streaming at it would run at the wrong speed.
    if (index >= configuration.rateCount || inForce != configuration.rates[index] ||
        inForce != rate) {
        WriteUCharRelease(&context->rateFixedByPin, 0);
        return STATUS_UNSUCCESSFUL;
    }
    return STATUS_SUCCESS;
}
