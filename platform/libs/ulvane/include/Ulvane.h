#pragma once
// Ulvane: the device-control client library, loaded at run time as "Ulvane.dll". These are the
// fourteen functions it exports, with the C calling convention. Every value crosses as an
// Ulvane::Value passed by address; lists are list values of the shapes of UlvaneAbi.h. Results are
// 0 or positive on success and one of the negative codes below on failure (QELT_ReleaseAll has
// none).
//
// Threads: every function may be called from any thread. After QELT_ConnectDevice the library
// calls the receive callback on a thread of its own, one batch (a ParamValues list) at a time, in
// the order the values arose. Once QELT_DisconnectDevice or QELT_ReleaseAll has returned, no
// callback of that connection is running or will be made; called from inside a callback they do
// not wait for that callback itself.

#include <cstdint>

#include "UlvaneAbi.h"

struct _GUID;

// Results.
inline constexpr int32_t kUlvaneOk = 0;
inline constexpr int32_t kUlvaneMoreToScan = 1;  // QELT_FindRemoteDevices(..., 1): scan again
inline constexpr int32_t kUlvaneNoSuchDevice = -2;
inline constexpr int32_t kUlvaneNotConnected = -3;
inline constexpr int32_t kUlvaneBadList = -4;  // a list argument of the wrong shape
inline constexpr int32_t kUlvaneUnknownParameter = -5;
inline constexpr int32_t kUlvaneNoDriverInterface = -6;  // the driver's control process is absent
inline constexpr int32_t kUlvaneBadArgument = -7;        // null pointer, bad value or sub-index
inline constexpr int32_t kUlvaneReadOnly = -8;
inline constexpr int32_t kUlvaneConnectFailed = -9;
inline constexpr int32_t kUlvaneDeviceGone = -10;  // the device was unplugged

// The device-information record: 256 bytes, filled by QELT_GetDeviceInfo.
inline constexpr uint32_t kUlvaneDeviceInfoSize = 256;
inline constexpr uint32_t kUlvaneDeviceInfoNameOffset = 0;  // UTF-8, NUL-terminated
inline constexpr uint32_t kUlvaneDeviceInfoNameSize = 64;
inline constexpr uint32_t kUlvaneDeviceInfoPresentOffset = 252;  // nonzero: present, connectable

extern "C" {

// context: as given to QELT_ConnectDevice; reserved: always 0; values: a ParamValues list, valid
// during the call only.
using UlvaneReceiveCallbackFn = void (*)(void* context, int32_t reserved,
                                         const Ulvane::Value* values);

// The filters select device classes; this library serves one class, so a filter only has to be
// well-formed (no entries, or a non-null array of them).
int32_t QELT_FindDevices(const _GUID* filter, uint32_t filterCount, Ulvane::Value* deviceIds);
int32_t QELT_FindRemoteDevices(const _GUID* filter, uint32_t filterCount, Ulvane::Value* deviceIds,
                               int32_t oneShotScan);
int32_t QELT_ConnectDevice(const Ulvane::Value* deviceId, UlvaneReceiveCallbackFn callback,
                           void* context);
int32_t QELT_RequestParamRanges(const Ulvane::Value* deviceId, const Ulvane::Value* ranges);
int32_t QELT_RequestParamValues(const Ulvane::Value* deviceId, const Ulvane::Value* descriptors);
// The current values of the ranges' ids that the device has (ParamRanges in, ParamValues out).
int32_t QELT_GetParamRanges(const Ulvane::Value* deviceId, const Ulvane::Value* ranges,
                            Ulvane::Value* values);
// The current values of the listed parameters (ParamDescriptors in, ParamValues out).
int32_t QELT_GetParamValues(const Ulvane::Value* deviceId, const Ulvane::Value* descriptors,
                            Ulvane::Value* values);
int32_t QELT_GetParamValue(const Ulvane::Value* deviceId, const Ulvane::ParamDescriptor* descriptor,
                           Ulvane::Value* value);
int32_t QELT_SetParamValue(const Ulvane::Value* deviceId, const Ulvane::ParamDescriptor* descriptor,
                           const Ulvane::Value* value);
int32_t QELT_SetParamValues(const Ulvane::Value* deviceId, const Ulvane::Value* values);
int32_t QELT_DisconnectDevice(const Ulvane::Value* deviceId);
// 0 when connected to the device and the device is present; 1 otherwise.
int32_t QELT_IsDeviceConnected(const Ulvane::Value* deviceId);
int32_t QELT_GetDeviceInfo(const Ulvane::Value* deviceId, uint8_t* record);
int32_t QELT_ReleaseAll();
}
