// Device properties reported by the bus driver.
#include <KernelHostApi.h>
#include <wdm.h>

#include <cstring>
#include <mutex>

#include "KernelInternal.h"

namespace {

struct HostState
{
    std::mutex lock;
    std::map<PDEVICE_OBJECT, std::map<DEVICE_REGISTRY_PROPERTY, std::vector<uint8_t>>> properties;
    uint64_t queryFailureCountdown = 0;
    NTSTATUS queryFailureStatus = STATUS_SUCCESS;
};

HostState& State()
{
    static HostState state;
    return state;
}

}  // namespace

namespace Platform::Kernel {

void SetDeviceProperty(PDEVICE_OBJECT physicalDeviceObject, DEVICE_REGISTRY_PROPERTY property,
                       std::vector<uint8_t> value)
{
    std::lock_guard guard(State().lock);
    State().properties[physicalDeviceObject][property] = std::move(value);
}

void ForgetDeviceProperties(PDEVICE_OBJECT physicalDeviceObject)
{
    std::lock_guard guard(State().lock);
    State().properties.erase(physicalDeviceObject);
}

void FailDevicePropertyQuery(uint64_t n, NTSTATUS status)
{
    std::lock_guard guard(State().lock);
    State().queryFailureCountdown = n;
    State().queryFailureStatus = status;
}

void ResetHostState()
{
    std::lock_guard guard(State().lock);
    State().queryFailureCountdown = 0;
    State().queryFailureStatus = STATUS_SUCCESS;
    Internal::ResetUserObjectFailures();
}

}  // namespace Platform::Kernel

NTSTATUS IoGetDeviceProperty(PDEVICE_OBJECT deviceObject, DEVICE_REGISTRY_PROPERTY property,
                             ULONG bufferLength, PVOID propertyBuffer, PULONG resultLength)
{
    Platform::Kernel::Internal::RequirePassive("IoGetDeviceProperty");
    HostState& state = State();
    std::lock_guard guard(state.lock);
    if (state.queryFailureCountdown != 0 && --state.queryFailureCountdown == 0) {
        return state.queryFailureStatus;
    }
    auto device = state.properties.find(deviceObject);
    if (device == state.properties.end()) {
        return STATUS_INVALID_PARAMETER_2;
    }
    auto value = device->second.find(property);
    if (value == device->second.end()) {
        return STATUS_INVALID_PARAMETER_2;
    }
    const auto size = static_cast<ULONG>(value->second.size());
    *resultLength = size;
    if (propertyBuffer == nullptr || bufferLength < size) {
        return STATUS_BUFFER_TOO_SMALL;
    }
    std::memcpy(propertyBuffer, value->second.data(), size);
    return STATUS_SUCCESS;
}
