// The driver's entry, its device descriptor and the device dispatch that kernel streaming calls
// for Plug and Play and power, with the helpers every other part of the driver calls on the
// device context.
#pragma once

#include <ks.h>
#include <wdm.h>

#include "DeviceContext.h"

// The private control filter, the device descriptor's only filter; defined with the filter.
extern const KSFILTER_DESCRIPTOR ControlFilterDescriptor;
extern const KSDEVICE_DESCRIPTOR DeviceDescriptor;

// Values shared by every control client of every device (last writer wins).
extern volatile ULONG ControlSampleRate;  // Hz; 44100 when the driver loads
extern volatile ULONG ControlBufferSize;  // samples; 512 when the driver loads

inline constexpr GUID kPropSetControlGeneral = {
    0x55A8C0F3, 0x67A0, 0x4AF8, {0x9C, 0x0D, 0xEC, 0x86, 0xAE, 0x3F, 0x67, 0x89}};
inline constexpr GUID kPropSetControlRaw = {
    0x3961234E, 0xB801, 0x4B28, {0x8F, 0xAA, 0x5B, 0xB5, 0xDC, 0x0E, 0xF6, 0x10}};

// PASSIVE_LEVEL.
NTSTATUS DriverEntry(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath);
void DriverUnloadHook(PDRIVER_OBJECT driverObject);

// Device dispatch, in KSDEVICE_DISPATCH order. PASSIVE_LEVEL, except SetPower and
// SurpriseRemoval, which check the level themselves.
NTSTATUS DispatchAdd(PKSDEVICE device);
NTSTATUS DispatchStart(PKSDEVICE device, PIRP irp, PCM_RESOURCE_LIST translated,
                       PCM_RESOURCE_LIST untranslated);
NTSTATUS DispatchPostStart(PKSDEVICE device);
NTSTATUS DispatchQueryStop(PKSDEVICE device, PIRP irp);
void DispatchCancelStop(PKSDEVICE device, PIRP irp);
void DispatchStop(PKSDEVICE device, PIRP irp);
NTSTATUS DispatchQueryRemove(PKSDEVICE device, PIRP irp);
void DispatchCancelRemove(PKSDEVICE device, PIRP irp);
void DispatchRemove(PKSDEVICE device, PIRP irp);
NTSTATUS DispatchQueryCapabilities(PKSDEVICE device, PIRP irp, PDEVICE_CAPABILITIES capabilities);
void DispatchSurpriseRemoval(PKSDEVICE device, PIRP irp);
NTSTATUS DispatchQueryPower(PKSDEVICE device, PIRP irp, DEVICE_POWER_STATE deviceTo,
                            DEVICE_POWER_STATE deviceFrom, SYSTEM_POWER_STATE systemTo,
                            SYSTEM_POWER_STATE systemFrom, POWER_ACTION action);
void DispatchSetPower(PKSDEVICE device, PIRP irp, DEVICE_POWER_STATE to, DEVICE_POWER_STATE from);

// The context's construction and teardown. Initialisation fails with
// STATUS_INSUFFICIENT_RESOURCES when the device model, the stream manager or the MIDI router
// cannot be made (the rest of the driver relies on all three); DestroyDeviceContext (also the
// object bag's free routine, FreeDeviceContext) frees whatever the context made.
NTSTATUS InitializeDeviceContext(DeviceContext* context);
void DestroyDeviceContext(DeviceContext* context);
void FreeDeviceContext(PVOID context);

// Power changes under the power mutex. PASSIVE_LEVEL.
void ApplyPowerChange(DeviceContext* context, bool powerUp);

// Helpers other parts call. IRQL <= DISPATCH_LEVEL unless said otherwise.
bool IsDeviceModelStarted(DeviceContext* context);
void FireControlEvent(DeviceContext* context, const GUID* eventSet);
void WakeClientEvents(DeviceContext* context);
bool IsAnyClientStreaming(DeviceContext* context);
bool IsAnyWavePinRunning(DeviceContext* context);
bool IsDeviceBusy(DeviceContext* context);
bool IsRateSupported(DeviceContext* context, ULONG rate);
ULONG QueryOsVersion(DeviceContext* context);  // PASSIVE_LEVEL on the first call

// The control filter's open and close keep the list of open control filters: a node pushed at the
// head on open (the count goes up and the all-closed event is cleared), unlinked on close (the
// event is signalled when the count falls below 1). STATUS_INSUFFICIENT_RESOURCES when the node
// cannot be allocated, with the count, the event and the list untouched: the open must fail.
NTSTATUS AddOpenControlFilter(DeviceContext* context, PKSFILTER filter);
void RemoveOpenControlFilter(DeviceContext* context, PKSFILTER filter);
// Calls visit for each open control filter, newest first, under the walk mutex that open and
// close also take: a filter visited has not closed, and the visit may fire control events.
// PASSIVE_LEVEL.
void ForEachOpenControlFilter(DeviceContext* context, void (*visit)(PKSFILTER filter, PVOID arg),
                              PVOID arg);
// The wave filters' list, under its own lock; false when the node cannot be allocated.
bool AddOpenWaveFilter(DeviceContext* context, PKSFILTER filter);
void RemoveOpenWaveFilter(DeviceContext* context, PKSFILTER filter);
