#include "UlvaneInterface.h"

#include <algorithm>

namespace Orv {

namespace {

constexpr char16_t kLibraryName[] = u"Ulvane.dll";

}  // namespace

UlvaneInterface::UlvaneInterface()
{
    char16_t path[kPathCapacity] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, kPathCapacity);
    // A program path cut short would name some other folder: then nothing is loaded.
    if (length == 0 || length >= kPathCapacity) {
        return;
    }
    const char16_t* lastBackslash = std::find(std::make_reverse_iterator(path + length),
                                              std::make_reverse_iterator(path), u'\\')
                                        .base();
    // lastBackslash points just after the backslash (at the start when there is none).
    const uint32_t folderLength = static_cast<uint32_t>(lastBackslash - path);
    const uint32_t nameLength = static_cast<uint32_t>(std::size(kLibraryName) - 1);
    if (folderLength + nameLength >= kPathCapacity) {
        return;
    }
    std::copy_n(kLibraryName, nameLength + 1, path + folderLength);
    Load(path);
}

UlvaneInterface::UlvaneInterface(const WideString& libraryPath)
{
    Load(libraryPath.GetText());
}

UlvaneInterface::~UlvaneInterface()
{
    if (module == nullptr) {
        return;
    }
    if (releaseAll != nullptr) {
        releaseAll();
    }
    FreeLibrary(module);
    module = nullptr;
}

template <class Fn>
void UlvaneInterface::Resolve(Fn& function, const char* name)
{
    function = reinterpret_cast<Fn>(GetProcAddress(module, name));
}

void UlvaneInterface::Load(const char16_t* libraryPath)
{
    module = LoadLibraryW(libraryPath);
    if (module == nullptr) {
        return;
    }
    Resolve(findDevices, "QELT_FindDevices");
    Resolve(findRemoteDevices, "QELT_FindRemoteDevices");
    Resolve(connectDevice, "QELT_ConnectDevice");
    Resolve(requestParamRanges, "QELT_RequestParamRanges");
    Resolve(requestParamValues, "QELT_RequestParamValues");
    Resolve(getParamRanges, "QELT_GetParamRanges");
    Resolve(getParamValues, "QELT_GetParamValues");
    Resolve(getParamValue, "QELT_GetParamValue");
    Resolve(setParamValue, "QELT_SetParamValue");
    Resolve(setParamValues, "QELT_SetParamValues");
    Resolve(disconnectDevice, "QELT_DisconnectDevice");
    Resolve(isDeviceConnected, "QELT_IsDeviceConnected");
    Resolve(getDeviceInfo, "QELT_GetDeviceInfo");
    Resolve(releaseAll, "QELT_ReleaseAll");
}

int32_t UlvaneInterface::FindDevices(const GUID* filter, uint32_t filterCount, Variant* deviceIds)
{
    return findDevices != nullptr ? findDevices(filter, filterCount, deviceIds) : kMissing;
}

int32_t UlvaneInterface::FindRemoteDevices(const GUID* filter, uint32_t filterCount,
                                           Variant* deviceIds, int32_t oneShotScan)
{
    return findRemoteDevices != nullptr
               ? findRemoteDevices(filter, filterCount, deviceIds, oneShotScan)
               : kMissing;
}

int32_t UlvaneInterface::ConnectDevice(const Variant* deviceId, UlvaneReceiveFn callback,
                                       void* context)
{
    return connectDevice != nullptr ? connectDevice(deviceId, callback, context) : kMissing;
}

int32_t UlvaneInterface::RequestParamRanges(const Variant* deviceId, const Variant* ranges)
{
    return requestParamRanges != nullptr ? requestParamRanges(deviceId, ranges) : kMissing;
}

int32_t UlvaneInterface::RequestParamValues(const Variant* deviceId, const Variant* descriptors)
{
    return requestParamValues != nullptr ? requestParamValues(deviceId, descriptors) : kMissing;
}

int32_t UlvaneInterface::RequestParamValues(const Variant* deviceId,
                                            const ParamDescriptor& descriptor)
{
    if (requestParamValues == nullptr) {
        return kMissing;
    }
    ParamDescriptors list;
    list.SetDescriptors(&descriptor, 1);
    return requestParamValues(deviceId, &list);
}

int32_t UlvaneInterface::GetParamRanges(const Variant* deviceId, const Variant* ranges,
                                        Variant* values)
{
    return getParamRanges != nullptr ? getParamRanges(deviceId, ranges, values) : kMissing;
}

int32_t UlvaneInterface::GetParamValues(const Variant* deviceId, const Variant* descriptors,
                                        Variant* values)
{
    return getParamValues != nullptr ? getParamValues(deviceId, descriptors, values) : kMissing;
}

int32_t UlvaneInterface::GetParamValue(const Variant* deviceId, const ParamDescriptor* descriptor,
                                       Variant* value)
{
    return getParamValue != nullptr ? getParamValue(deviceId, descriptor, value) : kMissing;
}

int32_t UlvaneInterface::SetParamValue(const Variant* deviceId, const ParamDescriptor* descriptor,
                                       const Variant* value)
{
    return setParamValue != nullptr ? setParamValue(deviceId, descriptor, value) : kMissing;
}

int32_t UlvaneInterface::SetParamValues(const Variant* deviceId, const Variant* values)
{
    return setParamValues != nullptr ? setParamValues(deviceId, values) : kMissing;
}

bool UlvaneInterface::IsDeviceConnected(const Variant* deviceId)
{
    return isDeviceConnected != nullptr && isDeviceConnected(deviceId) == 0;
}

int32_t UlvaneInterface::DisconnectDevice(const Variant* deviceId)
{
    return disconnectDevice != nullptr ? disconnectDevice(deviceId) : kMissing;
}

int32_t UlvaneInterface::GetDeviceInfo(const Variant* deviceId, uint8_t* record)
{
    return getDeviceInfo != nullptr ? getDeviceInfo(deviceId, record) : kMissing;
}

}  // namespace Orv
