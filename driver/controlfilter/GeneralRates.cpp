#include "ControlFilterSets.h"
#include "ControlFilterWire.h"
#include "GeneralSetParts.h"
#include "control/ControlClient.h"
#include "device/DeviceModel.h"
#include "device/DeviceParts.h"
#include "engine/StreamManager.h"

namespace {

// Tries before a configuration that keeps changing under the reader is given up.
constexpr ULONG kSettleTries = 16;
constexpr ULONG kNoIndex = 0xFFFFFFFF;

// The locked index when nothing streams: the one rate of several that the device can use, if
// exactly one is.
ULONG OnlyUsableRate(DeviceModel* model, const StreamConfiguration& configuration)
{
    ULONG found = kNoIndex;
    ULONG usable = 0;
    for (ULONG i = 0; i < configuration.rateCount; ++i) {
        if (model->CanUseRate(configuration.rates[i])) {
            found = i;
            ++usable;
        }
    }
    return usable == 1 ? found : kNoIndex;
}

void NoteRate(PKSFILTER filter, PVOID rate)
{
    ControlClient* client = ClientOfFilter(filter);
    if (client != nullptr) {
        client->OnControlRateChanged(*static_cast<ULONG*>(rate));
    }
}

}  // namespace

NTSTATUS ReadSettledConfiguration(DeviceModel* model, StreamConfiguration* configuration,
                                  ULONG* rateIndex)
{
    for (ULONG attempt = 0; attempt < kSettleTries; ++attempt) {
        model->GetCurrentConfiguration(configuration);
        LONG configurationIndex = -1;
        *rateIndex = model->GetCurrentRateIndex(&configurationIndex);
        if (static_cast<LONG>(configuration->index) == configurationIndex) {
            return STATUS_SUCCESS;
        }
    }
    return STATUS_UNSUCCESSFUL;
}

bool IsAnyStreamRunningOn(DeviceContext* device)
{
    return device != nullptr && device->streamManager != nullptr &&
           device->streamManager->IsAnyStreamRunning();
}

NTSTATUS FillRateStatus(const ControlRequest& request, void* answer, const void*)
{
    auto* status = static_cast<RateStatusBlock*>(answer);
    StreamConfiguration configuration = {};
    ULONG current = 0;
    const NTSTATUS settled = ReadSettledConfiguration(request.model, &configuration, &current);
    if (!NT_SUCCESS(settled)) {
        return settled;
    }
    if (configuration.rateCount == 0 || configuration.rates == nullptr) {
        status->lockedIndex = kNoIndex;
        return STATUS_SUCCESS;
    }
    status->configurationIndex = configuration.index;
    status->rateCount = configuration.rateCount;
    status->lockedIndex = IsAnyStreamRunningOn(request.device) ? current : kNoIndex;
    if (status->lockedIndex == kNoIndex && configuration.rateCount > 1) {
        status->lockedIndex = OnlyUsableRate(request.model, configuration);
    }
    status->selectedIndex = current;
    const ULONG wanted = ControlSampleRate;
    for (ULONG i = 0; i < configuration.rateCount; ++i) {
        if (configuration.rates[i] == wanted) {
            if (request.model->CanUseRate(wanted)) {
                status->selectedIndex = i;
            }
            break;
        }
    }
    return STATUS_SUCCESS;
}

NTSTATUS FillRateByIndex(const ControlRequest& request, void* answer, const void*)
{
    StreamConfiguration configuration = {};
    request.model->GetCurrentConfiguration(&configuration);
    const ULONG index = PropertyIndex(request);
    if (index >= configuration.rateCount || configuration.rates == nullptr) {
        return STATUS_UNSUCCESSFUL;
    }
    auto* block = static_cast<RateByIndexBlock*>(answer);
    block->configurationIndex = configuration.index;
    block->rateIndex = index;
    block->rate = configuration.rates[index];
    return STATUS_SUCCESS;
}

NTSTATUS ApplySampleRate(const ControlRequest& request, void* data)
{
    DeviceParts* parts = GetDeviceParts();
    if (request.device->streamManager == nullptr || parts == nullptr) {
        return STATUS_UNSUCCESSFUL;
    }
    ULONG rate;
    RtlCopyMemory(&rate, data, sizeof rate);
    NTSTATUS status = STATUS_UNSUCCESSFUL;
    const LONG index = parts->FindConfigurationRate(request.device->streamManager, rate);
    if (index >= 0) {
        request.client->OnControlRateChanged(rate);
        if (request.model->CanUseRate(rate) &&
            parts->ApplyRateIndex(request.device->streamManager, index) == rate) {
            ForEachOpenControlFilter(request.device, NoteRate, &rate);
            status = STATUS_SUCCESS;
        }
    }
    FireControlEvent(request.device, &kPropSetControlGeneral);
    return status;
}
