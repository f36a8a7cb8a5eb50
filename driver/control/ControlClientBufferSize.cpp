// The handle's buffer size: snapped to the sizes the device allows, fixed while streaming, shared
// through the control buffer size global by handles that do not stream.
#include "ControlClient.h"
#include "ControlClientParts.h"
#include "common/InStackLock.h"
#include "device/DeviceLifecycle.h"
#include "device/DeviceModel.h"

namespace {

// Reads until the configuration and the rate index belong together; a device that keeps
// switching under the reader gives up after a few tries.
bool ReadMatchingConfiguration(DeviceModel* model, StreamConfiguration* record, ULONG* rateIndex)
{
    for (int attempt = 0; attempt < 16; ++attempt) {
        model->GetCurrentConfiguration(record);
        LONG index = -1;
        *rateIndex = model->GetCurrentRateIndex(&index);
        if (index >= 0 && static_cast<ULONG>(index) == record->index) {
            return true;
        }
    }
    return false;
}

// The allowed size nearest to size between minimum and maximum (a tie goes to the larger);
// step 0 means that allowed sizes double.
ULONG WalkCandidates(ULONG size, ULONG minimum, ULONG maximum, ULONG step)
{
    ULONG lower = minimum;
    for (ULONG candidate = minimum; candidate <= maximum;) {
        if (candidate == size) {
            return size;
        }
        if (candidate < size) {
            lower = candidate;
        } else {
            return size - lower < candidate - size ? lower : candidate;
        }
        const ULONG next = step > 0 ? candidate + step : candidate * 2;
        if (next <= candidate) {
            break;  // no progress (a minimum of 0 doubling, or overflow)
        }
        candidate = next;
    }
    return 0;
}

}  // namespace

ULONG ControlClient::SnapBufferSize(ULONG size)
{
    if (context == nullptr || context->deviceModel == nullptr || !IsDeviceModelStarted(context)) {
        return 0;
    }
    if (IsRunning()) {
        if (bufferSize != 0) {
            return bufferSize;
        }
        return size <= 1 ? 1 : 0;
    }
    DeviceModel* model = context->deviceModel;
    StreamConfiguration current{};
    ULONG rateIndex = 0;
    if (!ReadMatchingConfiguration(model, &current, &rateIndex)) {
        return 0;
    }
    const ULONG minimum = current.minimumBufferSize != nullptr && rateIndex < current.rateCount
                              ? current.minimumBufferSize[rateIndex]
                              : 0;
    ULONG maximum = current.maximumBufferSize;
    const LONG granularity = static_cast<LONG>(model->GetBufferGranularity(rateIndex));
    const ULONG step = granularity > 0 ? static_cast<ULONG>(granularity) : 0;
    bool hasStream = false;
    {
        InStackLock hold(&streamLock);
        hasStream = stream != nullptr;
    }
    if (hasStream && maximum > mappedLength) {
        maximum = mappedLength;
    }
    if (size <= minimum) {
        return minimum;
    }
    if (size >= maximum) {
        return maximum;
    }
    if (minimum > maximum) {
        return 0;
    }
    return WalkCandidates(size, minimum, maximum, step);
}

NTSTATUS ControlClient::SetBufferSize(ULONG size)
{
    // While the device is not started every size snaps to 0: 0 would pass and be shared.
    if (size == 0) {
        return STATUS_INVALID_PARAMETER;
    }
    // Checked under the mutex that start takes: a size allowed before a start must not be stored
    // once the stream runs with the size it found.
    MutexHold hold(&controlMutex);
    if (SnapBufferSize(size) != size) {
        return STATUS_UNSUCCESSFUL;
    }
    if (HasOwner()) {
        if (bufferSize == size) {
            return STATUS_SUCCESS;
        }
    } else {
        if (ControlBufferSize == size) {
            return STATUS_SUCCESS;
        }
        ControlBufferSize = size;
        if (context != nullptr) {
            RaiseOnEveryClient(context, kChangeBufferSize);
        }
    }
    bufferSize = size;
    if (!IsRunning()) {  // a running stream keeps its size; its periods are in use
        ComputePeriodsPerHalf();
    }
    FireGeneralEvent();
    return STATUS_SUCCESS;
}

NTSTATUS ControlClient::OnControlRateChanged(ULONG rate)
{
    ControlSampleRate = rate;
    if (IsRunning() || SnapBufferSize(bufferSize) == bufferSize) {
        return STATUS_SUCCESS;
    }
    const ULONG shared = ControlBufferSize;
    SetBufferSize(SnapBufferSize(shared) == shared ? shared : SnapBufferSize(bufferSize));
    return STATUS_SUCCESS;
}
