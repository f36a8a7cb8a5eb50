// Creation and teardown of the control client, the removal-notification registration, what the
// device context asks of it, and the user events both parts register.
#include "ControlClient.h"

#include <new>

#include "common/InStackLock.h"
#include "device/DeviceLifecycle.h"
#include "device/PoolTag.h"

namespace {

constexpr ULONG kTagControlClient = PoolTag("PcNw");

void InitializeEmptyList(PLIST_ENTRY head)
{
    head->Flink = head;
    head->Blink = head;
}

}  // namespace

ControlClient::ControlClient(PKSFILTER owningFilter, DeviceContext* deviceContext)
    : filter(owningFilter), context(deviceContext)
{
    KeInitializeMutex(&controlMutex, 0);
    KeInitializeSpinLock(&removalLock);
    KeInitializeSpinLock(&eventLock);
    KeInitializeSpinLock(&waitLock);
    KeInitializeSpinLock(&streamLock);
    InitializeEmptyList(&waitQueue);
    configurationIndex = -1;
    KeInitializeMutex(&midiMutex, 0);
    KeInitializeSpinLock(&midiEventLock);
    portTable.index = kNoGeneration;
    for (InputPort& port : inputPorts) {
        InitializeEmptyList(&port.reads);
        KeInitializeSpinLock(&port.queueLock);
        KeInitializeSpinLock(&port.lock);
    }
    for (OutputPort& port : outputPorts) {
        KeInitializeSpinLock(&port.lock);
    }
    KeInitializeEvent(&tableWorkIdle, NotificationEvent, TRUE);
}

ControlClient::~ControlClient()
{
    TearDownMidi();
    TearDownStreaming();
    ReleaseRemovalEvent();
}

NTSTATUS ControlClient::Create(PKSFILTER filter, DeviceContext* context, ControlClient** client)
{
    *client = nullptr;
    void* memory = ExAllocatePoolWithTag(NonPagedPoolNx, sizeof(ControlClient), kTagControlClient);
    if (memory == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    RtlZeroMemory(memory, sizeof(ControlClient));
    auto* made = new (memory) ControlClient(filter, context);
    // Port-table changes arrive under the router's locks, where ports cannot be closed; a work
    // item closes them. Without a device object they are closed at the next MIDI operation.
    if (context != nullptr && context->device != nullptr &&
        context->device->FunctionalDeviceObject != nullptr) {
        made->tableWork = IoAllocateWorkItem(context->device->FunctionalDeviceObject);
    }
    *client = made;
    return STATUS_SUCCESS;
}

void ControlClient::Destroy(ControlClient* client)
{
    if (client == nullptr) {
        return;
    }
    client->~ControlClient();
    ExFreePoolWithTag(client, kTagControlClient);
}

void ControlClient::FreeFromObjectBag(PVOID client)
{
    Destroy(static_cast<ControlClient*>(client));
}

// ---- User events --------------------------------------------------------------------------------

NTSTATUS ControlClient::ReferenceUserEvent(HANDLE handle, PRKEVENT* object)
{
    *object = nullptr;
    PVOID referenced = nullptr;
    const NTSTATUS status = ObReferenceObjectByHandle(
        handle, EVENT_MODIFY_STATE, *ExEventObjectType, UserMode, &referenced, nullptr);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    *object = static_cast<PRKEVENT>(referenced);
    return STATUS_SUCCESS;
}

void ControlClient::ReleaseUserEvents(UserEvent* events, ULONG count, PKSPIN_LOCK lock)
{
    PRKEVENT taken[kControlHalves] = {};
    {
        InStackLock hold(lock);
        for (ULONG i = 0; i < count && i < kControlHalves; ++i) {
            taken[i] = events[i].object;
            events[i].object = nullptr;
            events[i].handle = nullptr;
        }
    }
    for (PRKEVENT object : taken) {
        if (object != nullptr) {
            ObDereferenceObject(object);
        }
    }
}

// ---- Removal notification -----------------------------------------------------------------------

NTSTATUS ControlClient::RegisterRemovalEvent(HANDLE handle, PVOID fileObject)
{
    {
        InStackLock hold(&removalLock);
        if (removal.handle != nullptr || removal.object != nullptr) {
            return STATUS_UNSUCCESSFUL;
        }
    }
    PRKEVENT object = nullptr;
    const NTSTATUS status = ReferenceUserEvent(handle, &object);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    {
        InStackLock hold(&removalLock);
        if (removal.object == nullptr) {
            removal = {handle, object};
            removalFile = fileObject;
            object = nullptr;
        }
    }
    if (object != nullptr) {  // another request registered meanwhile
        ObDereferenceObject(object);
        return STATUS_UNSUCCESSFUL;
    }
    return STATUS_SUCCESS;
}

// The device context signals the registered event under its filter-list lock: the object is
// taken out under that lock too, so a signal in progress never meets a dereferenced object.
NTSTATUS ControlClient::ReleaseRemovalEvent()
{
    PRKEVENT taken = nullptr;
    {
        KLOCK_QUEUE_HANDLE list;
        if (context != nullptr) {
            KeAcquireInStackQueuedSpinLock(&context->controlFilterListLock, &list);
        }
        {
            InStackLock hold(&removalLock);
            taken = removal.object;
            removal = {};
            removalFile = nullptr;
        }
        if (context != nullptr) {
            KeReleaseInStackQueuedSpinLock(&list);
        }
    }
    if (taken != nullptr) {
        ObDereferenceObject(taken);
    }
    return STATUS_SUCCESS;
}

// Asked under the device context's filter-list lock.
PRKEVENT ControlClient::RegisteredNotificationEvent()
{
    InStackLock hold(&removalLock);
    return removal.object;
}

bool ControlClient::HasRunningClientStream()
{
    return IsRunning();
}

void ControlClient::RaiseChangeFlags(ULONG flags)
{
    InterlockedOr(&changeFlags, static_cast<LONG>(flags));
}

void ControlClient::RaiseOnEveryClient(DeviceContext* context, ULONG flags)
{
    KLOCK_QUEUE_HANDLE lock;
    KeAcquireInStackQueuedSpinLock(&context->controlFilterListLock, &lock);
    for (FilterListNode* node = context->controlFilters; node != nullptr; node = node->next) {
        auto* link = static_cast<ControlClientLink*>(node->filter->Context);
        if (link != nullptr) {
            link->RaiseChangeFlags(flags);
        }
    }
    KeReleaseInStackQueuedSpinLock(&lock);
}

void ControlClient::FireGeneralEvent()
{
    if (context != nullptr) {
        FireControlEvent(context, &kPropSetControlGeneral);
    }
}
