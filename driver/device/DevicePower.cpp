// Power transitions: applied inline at PASSIVE_LEVEL when nothing is queued, otherwise queued to
// a work item behind the ones already waiting, so they apply in the order they arrived.
#include "DeviceLifecycle.h"
#include "DeviceModel.h"
#include "PoolTag.h"

namespace {

struct PowerWorkPacket
{
    PIO_WORKITEM workItem;
    DeviceContext* context;
    bool powerUp;
};

// PASSIVE_LEVEL, on a system worker thread.
void PowerChangeWorkItem(PDEVICE_OBJECT, PVOID argument)
{
    auto* packet = static_cast<PowerWorkPacket*>(argument);
    DeviceContext* context = packet->context;
    // Remove has stopped the device and waits for this item: a change still queued then would
    // start the device again (or mark it powered down) under a device that is going away.
    if (GetPnpState(context) != kPnpRemoved) {
        ApplyPowerChange(context, packet->powerUp);
    }
    InterlockedDecrement(&context->pendingPowerWork);
    PIO_WORKITEM workItem = packet->workItem;
    ExFreePoolWithTag(packet, kTagDeviceData);
    IoFreeWorkItem(workItem);
    ReleaseRemoveLock(context);
}

void QueuePowerChange(DeviceContext* context, bool powerUp)
{
    if (!TryAcquireRemoveLock(context)) {
        return;
    }
    auto* packet = static_cast<PowerWorkPacket*>(
        ExAllocatePoolWithTag(NonPagedPoolNx, sizeof(PowerWorkPacket), kTagDeviceData));
    if (packet == nullptr) {
        ReleaseRemoveLock(context);
        return;
    }
    packet->workItem = IoAllocateWorkItem(FunctionalDeviceObject(context));
    if (packet->workItem == nullptr) {
        ExFreePoolWithTag(packet, kTagDeviceData);
        ReleaseRemoveLock(context);
        return;
    }
    packet->context = context;
    packet->powerUp = powerUp;
    InterlockedIncrement(&context->pendingPowerWork);
    IoQueueWorkItem(packet->workItem, PowerChangeWorkItem, DelayedWorkQueue, packet);
}

}  // namespace

void DispatchSetPower(PKSDEVICE device, PIRP, DEVICE_POWER_STATE to, DEVICE_POWER_STATE from)
{
    const bool powerDown = from == PowerDeviceD0 && to != PowerDeviceD0;
    const bool powerUp = from != PowerDeviceD0 && to == PowerDeviceD0;
    if (!powerDown && !powerUp) {
        return;
    }
    auto* context = static_cast<DeviceContext*>(device->Context);
    if (KeGetCurrentIrql() == PASSIVE_LEVEL &&
        InterlockedCompareExchange(&context->pendingPowerWork, 0, 0) == 0) {
        ApplyPowerChange(context, powerUp);
        return;
    }
    QueuePowerChange(context, powerUp);
}

void ApplyPowerChange(DeviceContext* context, bool powerUp)
{
    KeWaitForSingleObject(&context->powerMutex, Executive, KernelMode, FALSE, nullptr);
    DeviceModel* model = context->deviceModel;
    if (powerUp) {
        context->previousState = GetPnpState(context);
        SetPnpState(context, kPnpStarted);
        if (model != nullptr) {
            model->LoadSetting();
            model->Start();
        }
    } else {
        if (model != nullptr) {
            model->Stop(kStopPowerDown);
        }
        context->previousState = GetPnpState(context);
        SetPnpState(context, kPnpPoweredDown);
    }
    KeReleaseMutex(&context->powerMutex, FALSE);
}
