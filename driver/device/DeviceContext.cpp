#include "DeviceContext.h"

bool TryAcquireRemoveLock(DeviceContext* context, PCSTR file, ULONG line)
{
    return IoAcquireRemoveLockEx(&context->removeLock, nullptr, file, line,
                                 sizeof(IO_REMOVE_LOCK)) == STATUS_SUCCESS;
}

void ReleaseRemoveLock(DeviceContext* context)
{
    IoReleaseRemoveLockEx(&context->removeLock, nullptr, sizeof(IO_REMOVE_LOCK));
}

PDEVICE_OBJECT FunctionalDeviceObject(DeviceContext* context)
{
    return context->device != nullptr ? context->device->FunctionalDeviceObject : nullptr;
}
