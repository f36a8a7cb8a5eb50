// The format questions of the audio stack: a proposed format, the intersection of a caller's
// range with a pin's, and the format a pin is set to. Formats come from user mode: every length
// is checked before a field is read.
#include "device/DeviceLifecycle.h"
#include "device/DeviceModel.h"
#include "device/StreamConfiguration.h"
#include "ks/WaveFilter.h"
#include "ks/WavePinFormat.h"

namespace {

constexpr ULONG kWin8Version = 0x06020000;

bool SameGuid(const GUID& a, const GUID& b)
{
    return IsEqualGUIDAligned(a, b);
}

bool IsIec61937(const GUID& subFormat)
{
    return SameGuid(subFormat, KSDATAFORMAT_SUBTYPE_IEC61937_DOLBY_DIGITAL) ||
           SameGuid(subFormat, KSDATAFORMAT_SUBTYPE_IEC61937_WMA_PRO);
}

const KSDATARANGE_AUDIO* AudioRange(const KSDATARANGE* range)
{
    return range != nullptr && range->FormatSize >= sizeof(KSDATARANGE_AUDIO)
               ? reinterpret_cast<const KSDATARANGE_AUDIO*>(range)
               : nullptr;
}

// The current configuration and its rate index, read until both agree.
ULONG CurrentConfigurationRate(DeviceModel* model, StreamConfiguration* configuration)
{
    for (int attempt = 0; attempt < 8; ++attempt) {
        model->GetCurrentConfiguration(configuration);
        LONG index = -1;
        const ULONG rateIndex = model->GetCurrentRateIndex(&index);
        if (index == static_cast<LONG>(configuration->index) &&
            rateIndex < configuration->rateCount && configuration->rates != nullptr) {
            return configuration->rates[rateIndex];
        }
    }
    return 0;
}

bool IsConfigurationRate(const StreamConfiguration& configuration, ULONG rate)
{
    for (ULONG i = 0; configuration.rates != nullptr && i < configuration.rateCount; ++i) {
        if (configuration.rates[i] == rate) {
            return true;
        }
    }
    return false;
}

const KSPIN_DESCRIPTOR_EX* PinOfFilter(PKSFILTER filter, ULONG id)
{
    WaveFilter* wave = filter != nullptr ? WaveFilterOf(filter) : nullptr;
    return wave != nullptr && id < wave->pinCount ? &wave->pins[id] : nullptr;
}

NTSTATUS CheckProposedPcm(DeviceContext* context, PKSFILTER filter, ULONG pinId,
                          const WAVEFORMATEX* wave, ULONG available)
{
    if (wave == nullptr) {
        return STATUS_SUCCESS;
    }
    if (context == nullptr || context->deviceModel == nullptr) {
        return STATUS_NO_MATCH;
    }
    const KSPIN_DESCRIPTOR_EX* pin = PinOfFilter(filter, pinId);
    const KSDATARANGE_AUDIO* first = pin != nullptr && pin->PinDescriptor.DataRangesCount > 0
                                         ? AudioRange(pin->PinDescriptor.DataRanges[0])
                                         : nullptr;
    const ULONG maximumChannels = first != nullptr ? first->MaximumChannels : 0;
    StreamConfiguration configuration{};
    const ULONG current = CurrentConfigurationRate(context->deviceModel, &configuration);
    bool rateOk = wave->nSamplesPerSec == current;
    if (QueryOsVersion(context) >= kWin8Version) {
        const bool capture = pin != nullptr && pin->PinDescriptor.DataFlow == KSPIN_DATAFLOW_OUT;
        rateOk = capture ? IsRateSupported(context, wave->nSamplesPerSec)
                         : IsConfigurationRate(configuration, wave->nSamplesPerSec);
    }
    if ((wave->wBitsPerSample != 16 && wave->wBitsPerSample != 32) || !rateOk ||
        wave->nAvgBytesPerSec != static_cast<ULONG>(wave->nBlockAlign) * wave->nSamplesPerSec) {
        return STATUS_NO_MATCH;
    }
    if (wave->wFormatTag == WAVE_FORMAT_PCM && wave->cbSize == 0) {
        return wave->nChannels == 2 ? STATUS_SUCCESS : STATUS_NO_MATCH;
    }
    if (wave->wFormatTag != WAVE_FORMAT_EXTENSIBLE || wave->cbSize != 22 ||
        available < sizeof(WAVEFORMATEXTENSIBLE)) {
        return STATUS_NO_MATCH;
    }
    return wave->nChannels == 2 || wave->nChannels == maximumChannels ? STATUS_SUCCESS
                                                                      : STATUS_NO_MATCH;
}

NTSTATUS CheckProposedIec61937(DeviceContext* context, PKSFILTER filter, ULONG pinId,
                               const WAVEFORMATEX* wave)
{
    const KSPIN_DESCRIPTOR_EX* pin = PinOfFilter(filter, pinId);
    if (context == nullptr || pinId != 1 || pin == nullptr ||
        pin->PinDescriptor.Communication != KSPIN_COMMUNICATION_SINK ||
        pin->PinDescriptor.DataFlow != KSPIN_DATAFLOW_IN) {
        return STATUS_NO_MATCH;
    }
    if (IsAnyClientStreaming(context) || IsAnyWavePinRunning(context)) {
        return STATUS_NO_MATCH;
    }
    if (wave == nullptr) {
        return STATUS_SUCCESS;
    }
    return wave->wBitsPerSample == 16 && wave->nChannels == 2 &&
                   wave->nAvgBytesPerSec ==
                       static_cast<ULONG>(wave->nBlockAlign) * wave->nSamplesPerSec
               ? STATUS_SUCCESS
               : STATUS_NO_MATCH;
}

// Step 5 of the intersection: the rate both ranges and the device can take, or 0.
ULONG IntersectionRate(DeviceContext* context, const KSDATARANGE_AUDIO& caller,
                       const KSDATARANGE_AUDIO& pin)
{
    if (caller.MinimumSampleFrequency > pin.MaximumSampleFrequency ||
        pin.MinimumSampleFrequency > caller.MaximumSampleFrequency) {
        return 0;
    }
    DeviceModel* model = context->deviceModel;
    if (model == nullptr) {
        return 0;
    }
    if (IsDeviceBusy(context)) {
        const ULONG rate = model->GetCurrentRate();
        return rate >= caller.MinimumSampleFrequency && rate <= caller.MaximumSampleFrequency ? rate
                                                                                              : 0;
    }
    const ULONG lo = caller.MinimumSampleFrequency > pin.MinimumSampleFrequency
                         ? caller.MinimumSampleFrequency
                         : pin.MinimumSampleFrequency;
    const ULONG hi = caller.MaximumSampleFrequency < pin.MaximumSampleFrequency
                         ? caller.MaximumSampleFrequency
                         : pin.MaximumSampleFrequency;
    StreamConfiguration configuration{};
    ULONG rate = CurrentConfigurationRate(model, &configuration);
    rate = rate < lo ? lo : (rate > hi ? hi : rate);
    return model->CanUseRate(rate) ? rate : 0;
}

ULONG Smaller(ULONG a, ULONG b)
{
    return a < b ? a : b;
}

}  // namespace

const WAVEFORMATEX* WaveFormatIn(const KSDATAFORMAT* format, ULONG* available)
{
    *available = 0;
    ULONG offset = sizeof(KSDATAFORMAT);
    if (SameGuid(format->Specifier, KSDATAFORMAT_SPECIFIER_DSOUND)) {
        offset += 2 * sizeof(ULONG);
    } else if (!SameGuid(format->Specifier, KSDATAFORMAT_SPECIFIER_WAVEFORMATEX)) {
        return nullptr;
    }
    if (format->FormatSize < offset + sizeof(WAVEFORMATEX)) {
        return nullptr;
    }
    *available = format->FormatSize - offset;
    return reinterpret_cast<const WAVEFORMATEX*>(reinterpret_cast<const UCHAR*>(format) + offset);
}

NTSTATUS CheckProposedFormat(PIRP irp, PKSIDENTIFIER request, PVOID data)
{
    const ULONG dataSize =
        IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl.OutputBufferLength;
    const ULONG pinId = reinterpret_cast<PKSP_PIN>(request)->PinId;
    const auto* format = static_cast<const KSDATAFORMAT*>(data);
    PKSFILTER filter = KsGetFilterFromIrp(irp);
    DeviceContext* context = filter != nullptr ? WaveDeviceContext(filter) : nullptr;
    if (!SameGuid(format->MajorFormat, KSDATAFORMAT_TYPE_AUDIO) ||
        !SameGuid(format->Specifier, KSDATAFORMAT_SPECIFIER_WAVEFORMATEX)) {
        return STATUS_NO_MATCH;
    }
    // The handler sees the whole data buffer; a format that claims more than was sent is cut to
    // what arrived.
    ULONG available = 0;
    const WAVEFORMATEX* wave = nullptr;
    if (dataSize >= sizeof(KSDATAFORMAT_WAVEFORMATEX)) {
        wave = reinterpret_cast<const WAVEFORMATEX*>(static_cast<const UCHAR*>(data) +
                                                     sizeof(KSDATAFORMAT));
        available = dataSize - static_cast<ULONG>(sizeof(KSDATAFORMAT));
    }
    if (SameGuid(format->SubFormat, KSDATAFORMAT_SUBTYPE_PCM)) {
        return CheckProposedPcm(context, filter, pinId, wave, available);
    }
    if (IsIec61937(format->SubFormat)) {
        return CheckProposedIec61937(context, filter, pinId, wave);
    }
    return STATUS_NO_MATCH;
}

NTSTATUS IntersectAudioFormat(PVOID context, PIRP irp, PKSPIN_DESCRIPTOR, PKSDATARANGE callerRange,
                              PKSDATARANGE pinRange, ULONG bufferSize, PVOID data, PULONG dataSize)
{
    UNREFERENCED_PARAMETER(context);
    if (SameGuid(callerRange->Specifier, KSDATAFORMAT_SPECIFIER_NONE)) {
        if (bufferSize < sizeof(KSDATAFORMAT)) {
            *dataSize = sizeof(KSDATAFORMAT);
            return bufferSize == 0 ? STATUS_BUFFER_OVERFLOW : STATUS_BUFFER_TOO_SMALL;
        }
        RtlCopyMemory(data, callerRange, sizeof(KSDATAFORMAT));
        *dataSize = sizeof(KSDATAFORMAT);
        return STATUS_SUCCESS;
    }
    if (!SameGuid(callerRange->MajorFormat, KSDATAFORMAT_TYPE_AUDIO) ||
        !SameGuid(callerRange->SubFormat, KSDATAFORMAT_SUBTYPE_PCM)) {
        return STATUS_INVALID_PARAMETER;
    }
    // Only a PCM range of the pin meets a PCM caller: a PCM format built from the IEC 61937 pin's
    // ranges is one that pin refuses.
    if (!SameGuid(pinRange->SubFormat, KSDATAFORMAT_SUBTYPE_PCM)) {
        return STATUS_NO_MATCH;
    }
    const bool dsound = SameGuid(callerRange->Specifier, KSDATAFORMAT_SPECIFIER_DSOUND);
    const ULONG size = dsound ? 112 : 104;
    if (bufferSize < size) {
        *dataSize = size;
        return bufferSize == 0 ? STATUS_BUFFER_OVERFLOW : STATUS_BUFFER_TOO_SMALL;
    }
    PKSFILTER filter = irp != nullptr ? KsGetFilterFromIrp(irp) : nullptr;
    DeviceContext* device = filter != nullptr ? WaveDeviceContext(filter) : nullptr;
    const KSDATARANGE_AUDIO* caller = AudioRange(callerRange);
    const KSDATARANGE_AUDIO* pin = AudioRange(pinRange);
    if (device == nullptr || caller == nullptr || pin == nullptr) {
        return STATUS_NO_MATCH;
    }
    const ULONG rate = IntersectionRate(device, *caller, *pin);
    if (rate == 0) {
        return STATUS_NO_MATCH;
    }
    ULONG channels = Smaller(caller->MaximumChannels, pin->MaximumChannels);
    ULONG mask = SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT;
    if (channels != 2) {
        channels = pin->MaximumChannels;
        mask = 0;
    }
    const ULONG bits =
        Smaller(caller->MaximumBitsPerSample, pin->MaximumBitsPerSample) > 16 ? 32 : 16;
    if (bits < caller->MinimumBitsPerSample || bits > caller->MaximumBitsPerSample ||
        bits < pin->MinimumBitsPerSample || bits > pin->MaximumBitsPerSample || channels == 0) {
        return STATUS_NO_MATCH;
    }
    auto* out = static_cast<UCHAR*>(data);
    RtlZeroMemory(out, size);
    auto* format = reinterpret_cast<KSDATAFORMAT*>(out);
    format->FormatSize = size;
    format->MajorFormat = KSDATAFORMAT_TYPE_AUDIO;
    format->SubFormat = KSDATAFORMAT_SUBTYPE_PCM;
    format->Specifier = callerRange->Specifier;
    WAVEFORMATEXTENSIBLE wave{};
    wave.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
    wave.Format.nChannels = static_cast<USHORT>(channels);
    wave.Format.nSamplesPerSec = rate;
    wave.Format.nBlockAlign = static_cast<USHORT>(bits * channels / 8);
    wave.Format.nAvgBytesPerSec = wave.Format.nBlockAlign * rate;
    wave.Format.wBitsPerSample = static_cast<USHORT>(bits);
    wave.Format.cbSize = 22;
    wave.Samples.wValidBitsPerSample = static_cast<USHORT>(bits < 24 ? bits : 24);
    wave.dwChannelMask = mask;
    wave.SubFormat = KSDATAFORMAT_SUBTYPE_PCM;
    RtlCopyMemory(out + size - sizeof wave, &wave, sizeof wave);
    *dataSize = size;
    return STATUS_SUCCESS;
}

// ---- Pin SetDataFormat ------------------------------------------------------------------

namespace {

NTSTATUS CheckPcmShape(const WAVEFORMATEX& wave, const KSDATARANGE_AUDIO& range, bool render)
{
    // The engine reads channels x container bytes per block: the block alignment must be
    // exactly that, with a 2- or 4-byte container that holds the bits (packed 3-byte samples are
    // refused).
    const ULONG channels = wave.nChannels;
    if (channels == 0 || wave.nBlockAlign % channels != 0) {
        return STATUS_NO_MATCH;
    }
    const ULONG container = wave.nBlockAlign / channels;
    if ((container != 2 && container != 4) || wave.wBitsPerSample > 8 * container) {
        return STATUS_NO_MATCH;
    }
    if (channels != 2 && channels != range.MaximumChannels) {
        return STATUS_NO_MATCH;
    }
    if (render && wave.wBitsPerSample < 16) {
        return STATUS_NO_MATCH;
    }
    return STATUS_SUCCESS;
}

NTSTATUS SetPinFormat(PKSPIN pin, PKSDATAFORMAT oldFormat, const KSDATARANGE* range, bool render)
{
    DeviceContext* context = WaveDeviceContext(pin);
    if (context == nullptr || !IsDeviceModelStarted(context) || context->endpointUpdateFlag != 0 ||
        GetPnpState(context) != kPnpStarted) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    if (context->deviceModel->IsOutputModeActive()) {
        return STATUS_NO_MATCH;
    }
    const KSDATAFORMAT* format = pin->ConnectionFormat;
    const bool pcm = SameGuid(format->SubFormat, KSDATAFORMAT_SUBTYPE_PCM);
    const bool iec = IsIec61937(format->SubFormat);
    const bool waveSpecifier = SameGuid(format->Specifier, KSDATAFORMAT_SPECIFIER_WAVEFORMATEX);
    const bool dsound = SameGuid(format->Specifier, KSDATAFORMAT_SPECIFIER_DSOUND);
    if (!SameGuid(format->MajorFormat, KSDATAFORMAT_TYPE_AUDIO) || (!pcm && !iec) ||
        (!waveSpecifier && !dsound) || (!render && !waveSpecifier)) {
        return STATUS_NO_MATCH;
    }
    if (iec && !render) {
        IsAnyClientStreaming(context);
        IsAnyWavePinRunning(context);
        return STATUS_NO_MATCH;
    }
    ULONG available = 0;
    const WAVEFORMATEX* wave = WaveFormatIn(format, &available);
    const KSDATARANGE_AUDIO* limits = AudioRange(range);
    // An extensible format must hold all 40 bytes of its kind; the copy never reads past it.
    if (wave == nullptr || limits == nullptr ||
        (wave->wFormatTag == WAVE_FORMAT_EXTENSIBLE && available < sizeof(WAVEFORMATEXTENSIBLE))) {
        return STATUS_NO_MATCH;
    }
    if (iec && (IsAnyClientStreaming(context) || IsAnyWavePinRunning(context) ||
                wave->nBlockAlign != 4 || wave->wBitsPerSample != 16 || wave->nChannels != 2)) {
        return STATUS_NO_MATCH;
    }
    if (wave->wBitsPerSample < limits->MinimumBitsPerSample ||
        wave->wBitsPerSample > limits->MaximumBitsPerSample ||
        wave->nSamplesPerSec < limits->MinimumSampleFrequency ||
        wave->nSamplesPerSec > limits->MaximumSampleFrequency) {
        return STATUS_NO_MATCH;
    }
    if (pcm && !NT_SUCCESS(CheckPcmShape(*wave, *limits, render))) {
        return STATUS_NO_MATCH;
    }
    if (oldFormat == nullptr) {
        return IsRateSupported(context, wave->nSamplesPerSec) ? STATUS_SUCCESS : STATUS_NO_MATCH;
    }
    if (!context->deviceModel->CanUseRate(wave->nSamplesPerSec)) {
        return STATUS_NO_MATCH;
    }
    if (pin->DeviceState != KSSTATE_STOP) {
        return STATUS_INVALID_DEVICE_STATE;
    }
    return RefreshPinWaveFormat(pin) ? STATUS_SUCCESS : STATUS_INSUFFICIENT_RESOURCES;
}

}  // namespace

NTSTATUS SetCapturePinFormat(PKSPIN pin, PKSDATAFORMAT oldFormat, PVOID, const KSDATARANGE* range,
                             PVOID)
{
    return SetPinFormat(pin, oldFormat, range, false);
}

NTSTATUS SetRenderPinFormat(PKSPIN pin, PKSDATAFORMAT oldFormat, PVOID, const KSDATARANGE* range,
                            PVOID)
{
    return SetPinFormat(pin, oldFormat, range, true);
}
