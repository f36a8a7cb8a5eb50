#include "DeviceParts.h"

namespace {

DeviceParts* installedParts = nullptr;

}  // namespace

void SetDeviceParts(DeviceParts* parts)
{
    WritePointerRelease(reinterpret_cast<PVOID volatile*>(&installedParts), parts);
}

DeviceParts* GetDeviceParts()
{
    return static_cast<DeviceParts*>(
        ReadPointerAcquire(reinterpret_cast<PVOID const volatile*>(&installedParts)));
}
