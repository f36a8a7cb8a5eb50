#include "ControlFilterSets.h"
#include "StreamingSetParts.h"
#include "control/ControlClient.h"
#include "device/DeviceModel.h"
#include "engine/StreamManager.h"

void CopyRecordName(NameRecord* record, PCWSTR name)
{
    constexpr ULONG kCharacters = kNameRecordCopiedBytes / sizeof(WCHAR);
    for (ULONG i = 0; name != nullptr && i < kCharacters && name[i] != 0; ++i) {
        RtlCopyMemory(record->text + i * sizeof(WCHAR), &name[i], sizeof(WCHAR));
    }
}

NTSTATUS FillChannelName(const ControlRequest& request, bool output, NameRecord* record)
{
    StreamConfiguration configuration = {};
    request.model->GetCurrentConfiguration(&configuration);
    const ULONG count = output ? configuration.outputChannels : configuration.inputChannels;
    const ULONG* kinds =
        output ? configuration.outputChannelKinds : configuration.inputChannelKinds;
    const PCWSTR* names =
        output ? configuration.outputChannelNames : configuration.inputChannelNames;
    const ULONG index = PropertyIndex(request);
    if (index >= count) {
        return STATUS_UNSUCCESSFUL;
    }
    CopyRecordName(record, names != nullptr ? names[index] : nullptr);
    LONG group = 0;
    for (ULONG c = 1; kinds != nullptr && c <= index; ++c) {
        group += kinds[c] != kinds[c - 1] ? 1 : 0;
    }
    record->value = group;
    return STATUS_SUCCESS;
}

NTSTATUS FillBufferSizeRange(const ControlRequest& request, void* answer, const void*)
{
    StreamConfiguration configuration = {};
    ULONG rateIndex = 0;
    const NTSTATUS settled = ReadSettledConfiguration(request.model, &configuration, &rateIndex);
    if (!NT_SUCCESS(settled)) {
        return settled;
    }
    if (configuration.rateCount == 0) {
        return STATUS_SUCCESS;
    }
    auto* range = static_cast<BufferSizeRangeBlock*>(answer);
    if (configuration.minimumBufferSize != nullptr && rateIndex < configuration.rateCount) {
        range->minimum = configuration.minimumBufferSize[rateIndex];
    }
    range->maximum = configuration.maximumBufferSize;
    range->preferred = ControlBufferSize;
    range->granularity = request.model->GetBufferGranularity(rateIndex);
    return STATUS_SUCCESS;
}

// While this handle is the only running stream on the internal clock it may switch among the
// configuration's rates; otherwise the device decides.
NTSTATUS IsRateUsableFor(const ControlRequest& request, ULONG rate)
{
    StreamManager* manager = request.device->streamManager;
    if (manager != nullptr && manager->RunningCount() == 1 && request.client->IsRunning() &&
        !request.model->IsExternalClockSelected()) {
        StreamConfiguration configuration = {};
        request.model->GetCurrentConfiguration(&configuration);
        for (ULONG i = 0; configuration.rates != nullptr && i < configuration.rateCount; ++i) {
            if (configuration.rates[i] == rate) {
                return STATUS_SUCCESS;
            }
        }
        return STATUS_UNSUCCESSFUL;
    }
    return request.model->CanUseRate(rate) ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL;
}
