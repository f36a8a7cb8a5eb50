// The path of every synchronous request to the device: the next lower device object of the
// kernel-streaming device, an IRP per request bracketed by the device's remove lock, the request
// mutex that orders them, and at high speed the pacing that starts a request right after a
// completion of the sync pipe rather than just before one.
//
// Levels: SubmitUrb, CallLowerDriver and the requests built on them run at PASSIVE_LEVEL (they
// wait); MarkSyncCompletion and its two halves at any IRQL up to DISPATCH_LEVEL.
#pragma once

#include <usb.h>
#include <wdm.h>

#include "device/DeviceContext.h"

class UsbBus;
class UsbIsoStreaming;

class UsbRequestChannel
{
public:
    // The bus gives the speed and the streaming side whether it runs and how many frames each
    // transfer covers: the pacing of requests at high speed depends on both.
    UsbRequestChannel(DeviceContext* context, const UsbBus& bus, const UsbIsoStreaming& streaming);
    UsbRequestChannel(const UsbRequestChannel&) = delete;
    UsbRequestChannel& operator=(const UsbRequestChannel&) = delete;

    // An IRP of IOCTL_INTERNAL_USB_SUBMIT_URB, waited for up to 5 s (then cancelled:
    // STATUS_IO_TIMEOUT); STATUS_UNSUCCESSFUL without the remove lock.
    NTSTATUS SubmitUrb(PURB urb);
    // IofCallDriver under the request mutex, after the pacing wait when it applies.
    NTSTATUS CallLowerDriver(PIRP irp);
    // Remove lock and IRP for a request to the lower device; both are given back by
    // FinishRequest, which sends it and waits for it (a timeout of 0 waits without limit; a
    // request still pending after its time-out is cancelled and gives STATUS_IO_TIMEOUT).
    NTSTATUS BeginRequest(PIRP* irp);
    NTSTATUS FinishRequest(PIRP irp, LONGLONG timeout100ns);
    // Holds the request mutex across several requests; the holder may send through it.
    void LockRequests();
    void UnlockRequests();

    // A completion of the sync pipe: its time, then the event the pacing waits on.
    void MarkSyncCompletion()
    {
        NoteSyncCompletionTime();
        SignalSyncCompletion();
    }
    void NoteSyncCompletionTime() { lastSyncCompletionTime = Now100ns(); }
    void SignalSyncCompletion() { KeSetEvent(&syncCompletionEvent, 8, FALSE); }

    DeviceContext* Context() const { return deviceContext; }
    PDEVICE_OBJECT LowerDevice() const { return deviceContext->device->NextDeviceObject; }
    static LONGLONG Now100ns();
    // Sets the event given as context; the IRP stays with its sender.
    static IO_COMPLETION_ROUTINE SignalRequestDone;

private:
    DeviceContext* deviceContext;
    KMUTEX requestMutex;
    KEVENT syncCompletionEvent;
    LONGLONG lastSyncCompletionTime = 0;  // 100 ns
    const UsbBus& bus;
    const UsbIsoStreaming& streaming;
};
