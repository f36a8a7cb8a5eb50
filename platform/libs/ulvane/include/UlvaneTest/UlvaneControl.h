#pragma once
// Tests: the control side of the Ulvane stand-in, reached through its extra export
// "UlvaneTest_Control" (GetProcAddress on the loaded library). It shapes the simulated world the
// library serves: devices local or remote, plugged in or out while the program runs, connects that
// fail, values that the device itself changes, a driver interface that is not running. The
// program never calls it.

#include <cstdint>

#include "UlvaneAbi.h"

namespace UlvaneTest {

// The exports, for call counts.
enum class Export : int32_t
{
    FindDevices,
    FindRemoteDevices,
    ConnectDevice,
    RequestParamRanges,
    RequestParamValues,
    GetParamRanges,
    GetParamValues,
    GetParamValue,
    SetParamValue,
    SetParamValues,
    DisconnectDevice,
    IsDeviceConnected,
    GetDeviceInfo,
    ReleaseAll,
    Count,
};

class IUlvaneControl
{
public:
    // No devices, every fault off, counts at 0; open connections are closed first.
    virtual void Reset() = 0;

    // Plugs in a device (again, when the name is known); id becomes its device id. Remote
    // devices are found only by QELT_FindRemoteDevices, local ones only by QELT_FindDevices.
    virtual void AddDevice(const char* name, bool remote, Ulvane::Value* id) = 0;
    // Unplugs it: it is no longer found, connected or present; its connections stay open but
    // receive nothing. False for an unknown name.
    virtual bool RemoveDevice(const char* name) = 0;

    virtual void SetConnectFails(bool fails) = 0;
    // Every device-list call fails with kUlvaneNoDriverInterface.
    virtual void SetDriverInterfaceMissing(bool missing) = 0;
    // The result of the one-shot remote scan (0, or kUlvaneMoreToScan).
    virtual void SetRemoteScanResult(int32_t result) = 0;

    // The device changes a value itself and sends it to every connection. False for an unknown
    // device or parameter.
    virtual bool PushValue(const char* name, int32_t parameterId, const Ulvane::Value* value) = 0;
    // The device sends a list as it is, whatever its shape. False for an unknown device.
    virtual bool PushList(const char* name, const Ulvane::Value* list) = 0;
    // What the device holds for a parameter; false when it has no such parameter.
    virtual bool GetDeviceValue(const char* name, int32_t parameterId, Ulvane::Value* value) = 0;

    // Waits until every batch queued so far has been handed to its callback and returned.
    virtual void WaitForCallbacks() = 0;
    virtual uint64_t GetCallCount(Export which) = 0;
    virtual int32_t GetOpenConnectionCount() = 0;
    virtual bool IsCallbackThreadRunning() = 0;

protected:
    ~IUlvaneControl() = default;
};

using ControlFn = IUlvaneControl* (*)();
inline constexpr const char* kControlExport = "UlvaneTest_Control";

}  // namespace UlvaneTest
