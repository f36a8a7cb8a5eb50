#include "DeviceParts.h"

namespace {

DeviceParts* installedParts = nullptr;

}  // namespace

void SetDeviceParts(DeviceParts* parts)
{
    __atomic_store_n(&installedParts, parts, __ATOMIC_RELEASE);
}

DeviceParts* GetDeviceParts()
{
    return __atomic_load_n(&installedParts, __ATOMIC_ACQUIRE);
}
