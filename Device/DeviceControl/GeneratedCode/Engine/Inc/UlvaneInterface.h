#pragma once
// The binding of the device-control client library "Ulvane.dll": loads it, resolves its fourteen
// exports and offers one wrapper per export. A wrapper only tests that its export exists and
// calls it: no lock, no copy, no check of the result. -1 (false for IsDeviceConnected) means the
// library or that export is missing.
//
// Owned by the device-communication interface, which alone calls the wrappers; the library must
// accept calls from several threads.

#include <cstdint>

#include <windows.h>

#include "Utilities/Storage/ParamLists.h"
#include "Utilities/Storage/StringT.h"

namespace Orv {

// The library's receive callback: context, an integer the panel ignores, a ParamValues list.
using UlvaneReceiveFn = void (*)(void* context, int32_t ignored, const Variant* values);

class UlvaneInterface
{
public:
    static constexpr int32_t kMissing = -1;
    // The size, in wide characters, of the buffer the default path is built in.
    static constexpr uint32_t kPathCapacity = 261;

    // The library next to the program ("Ulvane.dll" in the program's folder).
    UlvaneInterface();
    // The library at the given full path.
    explicit UlvaneInterface(const WideString& libraryPath);
    UlvaneInterface(const UlvaneInterface&) = delete;
    UlvaneInterface& operator=(const UlvaneInterface&) = delete;
    // QELT_ReleaseAll when the library has it, then unloads the library.
    virtual ~UlvaneInterface();

    virtual int32_t FindDevices(const GUID* filter, uint32_t filterCount, Variant* deviceIds);
    virtual int32_t FindRemoteDevices(const GUID* filter, uint32_t filterCount, Variant* deviceIds,
                                      int32_t oneShotScan);
    virtual int32_t ConnectDevice(const Variant* deviceId, UlvaneReceiveFn callback, void* context);
    virtual int32_t RequestParamRanges(const Variant* deviceId, const Variant* ranges);
    virtual int32_t RequestParamValues(const Variant* deviceId, const Variant* descriptors);
    // Sends the one descriptor as a one-item ParamDescriptors list.
    virtual int32_t RequestParamValues(const Variant* deviceId, const ParamDescriptor& descriptor);
    virtual int32_t GetParamRanges(const Variant* deviceId, const Variant* ranges, Variant* values);
    virtual int32_t GetParamValues(const Variant* deviceId, const Variant* descriptors,
                                   Variant* values);
    virtual int32_t GetParamValue(const Variant* deviceId, const ParamDescriptor* descriptor,
                                  Variant* value);
    virtual int32_t SetParamValue(const Variant* deviceId, const ParamDescriptor* descriptor,
                                  const Variant* value);
    virtual int32_t SetParamValues(const Variant* deviceId, const Variant* values);
    // True exactly when the export answers 0.
    virtual bool IsDeviceConnected(const Variant* deviceId);
    virtual int32_t DisconnectDevice(const Variant* deviceId);
    // record: 256 bytes; byte 252 nonzero means present and connectable.
    virtual int32_t GetDeviceInfo(const Variant* deviceId, uint8_t* record);

    bool IsLoaded() const { return module != nullptr; }

private:
    using FindDevicesFn = int32_t (*)(const GUID*, uint32_t, Variant*);
    using FindRemoteDevicesFn = int32_t (*)(const GUID*, uint32_t, Variant*, int32_t);
    using ConnectDeviceFn = int32_t (*)(const Variant*, UlvaneReceiveFn, void*);
    using RequestListFn = int32_t (*)(const Variant*, const Variant*);
    using GetListFn = int32_t (*)(const Variant*, const Variant*, Variant*);
    using GetParamValueFn = int32_t (*)(const Variant*, const ParamDescriptor*, Variant*);
    using SetParamValueFn = int32_t (*)(const Variant*, const ParamDescriptor*, const Variant*);
    using DeviceFn = int32_t (*)(const Variant*);
    using GetDeviceInfoFn = int32_t (*)(const Variant*, uint8_t*);
    using ReleaseAllFn = int32_t (*)();

    void Load(const char16_t* libraryPath);
    template <class Fn>
    void Resolve(Fn& function, const char* name);

    HMODULE module = nullptr;
    // In the order the exports are resolved.
    FindDevicesFn findDevices = nullptr;
    FindRemoteDevicesFn findRemoteDevices = nullptr;
    ConnectDeviceFn connectDevice = nullptr;
    RequestListFn requestParamRanges = nullptr;
    RequestListFn requestParamValues = nullptr;
    GetListFn getParamRanges = nullptr;
    GetListFn getParamValues = nullptr;
    GetParamValueFn getParamValue = nullptr;
    SetParamValueFn setParamValue = nullptr;
    RequestListFn setParamValues = nullptr;
    DeviceFn disconnectDevice = nullptr;
    DeviceFn isDeviceConnected = nullptr;
    GetDeviceInfoFn getDeviceInfo = nullptr;
    ReleaseAllFn releaseAll = nullptr;
};

}  // namespace Orv
