// The device model's clock sources and the clock synchronisation status.
#include "DeviceModel.h"
#include "DeviceModelRecords.h"
#include "StreamConfiguration.h"
#include "engine/StreamingEngine.h"

namespace {

constexpr LONG kStatusNoLock = 0;
constexpr LONG kStatusInSync = 1;
constexpr LONG kStatusLockedElsewhere = 2;

}  // namespace

NTSTATUS DeviceModel::GetClockSourceInfo(ClockSourceInfo* info)
{
    *info = {0, 1, static_cast<ULONG>(selectedClockSource)};
    return STATUS_SUCCESS;
}

NTSTATUS DeviceModel::GetClockSourceGuid(ULONG index, GUID* guid)
{
    if (index != 0) {
        return STATUS_UNSUCCESSFUL;
    }
    RtlZeroMemory(guid, sizeof *guid);
    return STATUS_SUCCESS;
}

bool DeviceModel::IsExternalClockSelected()
{
    return selectedClockSource != 0;
}

void DeviceModel::NotifyClockState(LONG status, ULONG rate)
{
    if (owner == nullptr) {
        return;
    }
    ClockSourceInfo info;
    GetClockSourceInfo(&info);
    owner->generalSink->OnClockStateChanged(&info, status, rate);
}

NTSTATUS DeviceModel::SetClockSource(LONG index)
{
    // A device without clock choices: only the source in force can be "selected", and nothing
    // changes.
    return index == selectedClockSource ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL;
}

LONG DeviceModel::EvaluateClockStatus()
{
    if (!IsExternalClockSelected()) {
        clockStatus = kStatusInSync;
        return kStatusInSync;
    }
    if (InterlockedExchange(&evaluationGuard, 1) == 1) {
        return clockStatus;
    }
    LONG configuration = -1;
    ULONG rateIndex = 0;
    ULONG currentRate = 0;
    GetEngine()->GetRoutingState(&configuration, &rateIndex, &currentRate);
    ULONG deviceRate = 0;
    bool locked = false;
    if (GetEngine()->ReadHardwareRate(&deviceRate, &locked) < 0) {
        locked = true;
        deviceRate = GetEngine()->IsStreaming() ? GetEngine()->MeasuredRate() : currentRate;
    }

    StreamConfiguration current;
    GetEngine()->GetEngineConfiguration(&current);
    ULONG nearest = currentRate;  // a configuration without rates has nothing to follow
    ULONG nearestIndex = 0;
    if (current.rateCount > 0) {
        if (deviceRate <= current.rates[0]) {
            nearest = current.rates[0];
        } else {
            nearestIndex = FindNearestRate(deviceRate, &nearest, current);
        }
    }
    const LONG status = !locked                  ? kStatusNoLock
                        : nearest == currentRate ? kStatusInSync
                                                 : kStatusLockedElsewhere;

    const bool running = GetEngine()->IsStreaming();
    if (engineWasRunning != 0 && !running) {
        lastFollowedRate = 0;
    }
    engineWasRunning = running ? 1 : 0;

    if (status == clockStatus && (!locked || nearest == lastFollowedRate)) {
        if (deviceRate != lastMeasuredRate && owner != nullptr) {
            owner->generalSink->OnClockRateChanged();
        }
    } else {
        clockStatus = status;
        NotifyClockState(status, nearest);
        if (locked && nearest != lastFollowedRate && !running && nearest != currentRate) {
            // The next streams start at the external clock's rate.
            LONG index = configuration;
            GetEngine()->ChangeRate(&index, nearestIndex);
        }
    }
    lastFollowedRate = nearest;
    lastMeasuredRate = deviceRate;
    InterlockedExchange(&evaluationGuard, 0);
    return status;
}

LONG DeviceModel::GetClockStatus()
{
    return clockStatus;
}

void DeviceModel::PollStatus()
{
    if (IsExternalClockSelected()) {
        EvaluateClockStatus();
    }
}
