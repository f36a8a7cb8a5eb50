// The fourteen exports of Ulvane.h, and the tests' control export; each counts its call and hands
// over to the library's state.
#include "ClientLibrary.h"
#include "TestControl.h"
#include "Ulvane.h"

#define ULVANE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using Ulvane::ClientLibrary;
using UlvaneTest::Export;

ClientLibrary& Counted(Export which)
{
    ClientLibrary& library = ClientLibrary::Instance();
    library.Count(which);
    return library;
}

}  // namespace

ULVANE_EXPORT int32_t QELT_FindDevices(const _GUID* filter, uint32_t filterCount,
                                       Ulvane::Value* deviceIds)
{
    return Counted(Export::FindDevices).FindDevices(filter, filterCount, deviceIds, false, false);
}

ULVANE_EXPORT int32_t QELT_FindRemoteDevices(const _GUID* filter, uint32_t filterCount,
                                             Ulvane::Value* deviceIds, int32_t oneShotScan)
{
    return Counted(Export::FindRemoteDevices)
        .FindDevices(filter, filterCount, deviceIds, true, oneShotScan != 0);
}

ULVANE_EXPORT int32_t QELT_ConnectDevice(const Ulvane::Value* deviceId,
                                         UlvaneReceiveCallbackFn callback, void* context)
{
    return Counted(Export::ConnectDevice).ConnectDevice(deviceId, callback, context);
}

ULVANE_EXPORT int32_t QELT_RequestParamRanges(const Ulvane::Value* deviceId,
                                              const Ulvane::Value* ranges)
{
    return Counted(Export::RequestParamRanges).RequestValues(deviceId, ranges, true);
}

ULVANE_EXPORT int32_t QELT_RequestParamValues(const Ulvane::Value* deviceId,
                                              const Ulvane::Value* descriptors)
{
    return Counted(Export::RequestParamValues).RequestValues(deviceId, descriptors, false);
}

ULVANE_EXPORT int32_t QELT_GetParamRanges(const Ulvane::Value* deviceId,
                                          const Ulvane::Value* ranges, Ulvane::Value* values)
{
    return Counted(Export::GetParamRanges).GetValues(deviceId, ranges, true, values);
}

ULVANE_EXPORT int32_t QELT_GetParamValues(const Ulvane::Value* deviceId,
                                          const Ulvane::Value* descriptors, Ulvane::Value* values)
{
    return Counted(Export::GetParamValues).GetValues(deviceId, descriptors, false, values);
}

ULVANE_EXPORT int32_t QELT_GetParamValue(const Ulvane::Value* deviceId,
                                         const Ulvane::ParamDescriptor* descriptor,
                                         Ulvane::Value* value)
{
    return Counted(Export::GetParamValue).GetParamValue(deviceId, descriptor, value);
}

ULVANE_EXPORT int32_t QELT_SetParamValue(const Ulvane::Value* deviceId,
                                         const Ulvane::ParamDescriptor* descriptor,
                                         const Ulvane::Value* value)
{
    return Counted(Export::SetParamValue).SetParamValue(deviceId, descriptor, value);
}

ULVANE_EXPORT int32_t QELT_SetParamValues(const Ulvane::Value* deviceId,
                                          const Ulvane::Value* values)
{
    return Counted(Export::SetParamValues).SetParamValues(deviceId, values);
}

ULVANE_EXPORT int32_t QELT_DisconnectDevice(const Ulvane::Value* deviceId)
{
    return Counted(Export::DisconnectDevice).DisconnectDevice(deviceId);
}

ULVANE_EXPORT int32_t QELT_IsDeviceConnected(const Ulvane::Value* deviceId)
{
    return Counted(Export::IsDeviceConnected).IsDeviceConnected(deviceId);
}

// Builds for tests of a library that lacks exports leave these two out.
#ifndef ULVANE_WITHOUT_GET_DEVICE_INFO
ULVANE_EXPORT int32_t QELT_GetDeviceInfo(const Ulvane::Value* deviceId, uint8_t* record)
{
    return Counted(Export::GetDeviceInfo).GetDeviceInfo(deviceId, record);
}
#endif

#ifndef ULVANE_WITHOUT_RELEASE_ALL
ULVANE_EXPORT int32_t QELT_ReleaseAll()
{
    Counted(Export::ReleaseAll).ReleaseAll();
    return kUlvaneOk;
}
#endif

ULVANE_EXPORT UlvaneTest::IUlvaneControl* UlvaneTest_Control()
{
    return &ClientLibrary::Instance().Control();
}
