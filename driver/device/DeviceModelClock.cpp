// The device model's clock sources and the clock synchronisation status.
#include "ProductDeviceModel.h"
#include "engine/StreamingEngine.h"

namespace {

constexpr LONG kStatusNoLock = 0;
constexpr LONG kStatusInSync = 1;
constexpr LONG kStatusLockedElsewhere = 2;

}  // namespace

NTSTATUS ProductDeviceModel::GetClockSourceInfo(ClockSourceInfo* info)
{
    *info = {0, 1, static_cast<ULONG>(selectedClockSource)};
    return STATUS_SUCCESS;
}

NTSTATUS ProductDeviceModel::GetClockSourceGuid(ULONG index, GUID* guid)
{
    if (index != 0) {
        return STATUS_UNSUCCESSFUL;
    }
    RtlZeroMemory(guid, sizeof *guid);
    return STATUS_SUCCESS;
}

bool ProductDeviceModel::IsExternalClockSelected()
{
    return selectedClockSource != 0;
}

LONG ProductDeviceModel::GetClockSourceRecord(ClockSourceRecord* record)
{
    RtlZeroMemory(record, sizeof *record);
    record->count = 1;
    ClockSourceEntry& internal = record->entries[0];
    internal.index = 0;
    internal.channel = 0;
    internal.group = 0;
    internal.isCurrent = selectedClockSource == 0 ? 1 : 0;
    const char name[] = "Internal";
    RtlCopyMemory(internal.name, name, sizeof name);
    return selectedClockSource;
}

void ProductDeviceModel::NotifyClockState(LONG status, ULONG rate)
{
    if (owner == nullptr) {
        return;
    }
    ClockSourceInfo info;
    GetClockSourceInfo(&info);
    owner->generalSink->OnClockStateChanged(&info, status, rate);
}

NTSTATUS ProductDeviceModel::SetClockSource(LONG index)
{
    NTSTATUS status = STATUS_UNSUCCESSFUL;
    // Only the internal clock exists: only a change to it succeeds.
    if (index != selectedClockSource && index == 0) {
        selectedClockSource = 0;
        NotifyClockState(clockStatus, engine->ReadCurrentRate());
        status = STATUS_SUCCESS;
    }
    if (selectedClockSource != 0) {
        statusTimer.StartTimer(kStatusTimerPeriodMs);
    } else {
        statusTimer.StopTimer();
    }
    return status;
}

LONG ProductDeviceModel::EvaluateClockStatus()
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
    engine->GetRoutingState(&configuration, &rateIndex, &currentRate);
    ULONG deviceRate = 0;
    bool locked = false;
    if (engine->ReadHardwareRate(&deviceRate, &locked) < 0) {
        locked = true;
        deviceRate = engine->IsStreaming() ? engine->MeasuredRate() : currentRate;
    }

    StreamConfiguration current;
    engine->GetEngineConfiguration(&current);
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

    const bool running = engine->IsStreaming();
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
            engine->ChangeRate(&index, nearestIndex);
        }
    }
    lastFollowedRate = nearest;
    lastMeasuredRate = deviceRate;
    InterlockedExchange(&evaluationGuard, 0);
    return status;
}

LONG ProductDeviceModel::GetClockStatus()
{
    return clockStatus;
}

void ProductDeviceModel::PollStatus()
{
    if (IsExternalClockSelected()) {
        EvaluateClockStatus();
    }
}
