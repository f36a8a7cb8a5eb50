#pragma once
// The test and host side of the USB layer: a bus (a host controller with its root hub port) that
// the driver reaches through the hub's device object, with a device plugged into it.
//
// Requests arrive as IRPs: internal device controls (submit URB, cycle port, topology address)
// and the PnP interface query for the bus interface. Control requests complete inside the call
// (at DISPATCH_LEVEL) unless the device does not answer; isochronous, bulk and interrupt transfers
// are scheduled on the frame clock, 1 ms frames of the kernel layer's clock (8 microframes at high
// speed), and complete after their last frame has passed, in time order. Pending requests can be
// cancelled. The driver's code never includes this header.

#include <usb.h>
#include <usbbusif.h>
#include <wdm.h>

#include <cstdint>
#include <map>
#include <vector>

#include "SimulatedUsbDevice.h"

namespace UsbSim {

class SimulatedUsbBus
{
public:
    SimulatedUsbBus();
    ~SimulatedUsbBus();  // the device is detached first
    SimulatedUsbBus(const SimulatedUsbBus&) = delete;
    SimulatedUsbBus& operator=(const SimulatedUsbBus&) = delete;

    // The device object the driver sends its requests to (the hub's PDO).
    PDEVICE_OBJECT LowerDevice() { return &device; }

    // Plugs a device in (not owned; it must outlive its attachment).
    void Attach(SimulatedUsbDevice& usbDevice);
    // Surprise removal: every pending request completes with the device gone, later ones fail.
    void Detach();

    // Moves the kernel clock on by whole frames; everything due runs. PASSIVE_LEVEL.
    void StepFrames(uint32_t frames);
    ULONG CurrentFrame() const;

    // What the bus saw and holds.
    size_t UrbCount(USHORT function) const;
    size_t PendingRequests() const;
    int CyclePortCount() const { return cyclePorts; }
    int BusInterfaceReferences() const { return interfaceReferences; }
    bool Configured() const { return configurationHandle != 0; }

    void SetTopology(const USB_TOPOLOGY_ADDRESS& address) { topology = address; }
    // The next `count` isochronous transfers submitted complete `frames` frames after their last
    // frame passed, as behind a busy host controller: their packets still move in their frames,
    // and the transfers after them may complete first.
    void DelayIsoCompletions(uint32_t frames, int count)
    {
        isoDelayFrames = frames;
        isoDelayCount = count;
    }
    // The next `count` isochronous transfers submitted are refused at once with
    // USBD_STATUS_BAD_START_FRAME, as a host controller refuses a schedule it cannot keep.
    void RefuseIsoTransfers(int count) { isoRefusals = count; }
    // The transfers whose completions were held back, as they completed (oldest first); taking
    // them forgets them.
    struct HeldCompletion
    {
        UCHAR endpointAddress;
        ULONG firstFrame;  // the transfer's packets moved in firstFrame..lastFrame
        ULONG lastFrame;
        ULONG completedFrame;  // the frame in which its completion ran
    };
    std::vector<HeldCompletion> TakeHeldCompletions();
    void SetBusInterfaceAvailable(bool available) { busInterfaceAvailable = available; }
    // The next `count` bulk or interrupt transfers of the endpoint complete with `status` (and
    // USBD_STATUS_STALL_PID), moving nothing, as a host controller reports a failed transfer; the
    // URB's length stays as the driver set it.
    void FailBulkTransfers(UCHAR endpointAddress, NTSTATUS status, int count)
    {
        bulkFailures[endpointAddress] = {status, count};
    }

private:
    struct BusPipe
    {
        UCHAR interfaceNumber;
        UCHAR endpointAddress;
        USBD_PIPE_TYPE type;
        USHORT maxPacketSize;
        UCHAR interval;
        ULONG packetsPerFrame;  // isochronous
        ULONG nextFrame;        // isochronous: frame after the last one scheduled
    };
    struct Pending
    {
        PIRP irp;
        PURB urb;          // null for a hung port request
        uintptr_t pipe;    // 0: a control request the device did not answer
        ULONG startFrame;  // isochronous
        ULONG frames;      // isochronous (at least 1); 0 for any other transfer
        ULONG delay = 0;   // isochronous: frames the completion is held back
        // Isochronous: the packets moved when their frames passed, whatever the delay.
        bool exchanged = false;
        bool exchangeFailed = false;
    };

    static NTSTATUS DispatchInternal(PDEVICE_OBJECT deviceObject, PIRP irp);
    static NTSTATUS DispatchPnp(PDEVICE_OBJECT deviceObject, PIRP irp);
    static void CancelPending(PDEVICE_OBJECT deviceObject, PIRP irp);
    static void FrameDpc(PKDPC dpc, PVOID context, PVOID, PVOID);

    NTSTATUS SubmitUrb(PIRP irp, PURB urb);
    NTSTATUS ControlUrb(PIRP irp, PURB urb);
    NTSTATUS ControlRequest(PIRP irp, PURB urb, const SetupPacket& setup, PVOID buffer,
                            ULONG* length, bool shortOk);
    NTSTATUS SelectConfiguration(PIRP irp, PURB urb);
    NTSTATUS SelectInterface(PIRP irp, PURB urb);
    bool FillInterface(PUSB_CONFIGURATION_DESCRIPTOR configuration,
                       PUSBD_INTERFACE_INFORMATION info, ULONG room,
                       std::map<uintptr_t, BusPipe>& opened);
    NTSTATUS PipeRequest(PIRP irp, PURB urb);
    NTSTATUS IsochronousTransferLocked(PIRP irp, PURB urb, KIRQL old);
    NTSTATUS BulkTransfer(PIRP irp, PURB urb);
    NTSTATUS Queue(PIRP irp, const Pending& pending);
    NTSTATUS QueueLocked(PIRP irp, const Pending& pending, KIRQL old);
    void ClosePipes(bool (*match)(const BusPipe&, UCHAR), UCHAR interfaceNumber);
    void TakePendingOfPipe(uintptr_t pipe, std::vector<PIRP>& out);
    bool ExchangeIso(const Pending& p, const BusPipe& pipe);
    void ExchangeDueIso(Pending& p, const BusPipe& pipe, ULONG now);
    bool ExchangeBulk(const Pending& p, const BusPipe& pipe);
    bool TakeBulkFailure(const BusPipe& pipe, NTSTATUS* status);
    void OnFrame();
    void ArmFrameTimer();
    NTSTATUS Complete(PIRP irp, NTSTATUS status, USBD_STATUS usbdStatus);
    void CompleteAll(std::vector<PIRP>& irps, NTSTATUS status, USBD_STATUS usbdStatus);
    USBD_STATUS OutcomeStatus(Outcome outcome) const;

    static void InterfaceReference(PVOID context);
    static void InterfaceDereference(PVOID context);
    static NTSTATUS QueryBusTime(PVOID context, PULONG currentFrame);
    static BOOLEAN IsDeviceHighSpeed(PVOID context);
    static void GetUsbdiVersion(PVOID context, PUSBD_VERSION_INFORMATION version,
                                PULONG capabilities);
    static NTSTATUS SubmitIsoOutUrb(PVOID context, PURB urb);
    static NTSTATUS QueryBusInformation(PVOID context, ULONG level, PVOID buffer,
                                        PULONG bufferLength, PULONG actualLength);

    DRIVER_OBJECT driver{};
    DEVICE_OBJECT device{};
    mutable KSPIN_LOCK lock = 0;
    KTIMER frameTimer{};
    KDPC frameDpc{};
    bool timerArmed = false;
    SimulatedUsbDevice* usbDevice = nullptr;
    bool gone = false;
    uintptr_t configurationHandle = 0;
    uintptr_t nextHandle = 0x1000;
    std::map<uintptr_t, BusPipe> pipes;
    // In submission order. A few dozen while streaming, walked every frame: contiguous, and no
    // heap block per transfer.
    std::vector<Pending> pending;
    std::map<USHORT, size_t> urbCounts;
    int cyclePorts = 0;
    int interfaceReferences = 0;
    bool busInterfaceAvailable = true;
    uint32_t isoDelayFrames = 0;
    int isoDelayCount = 0;
    int isoRefusals = 0;
    std::vector<HeldCompletion> heldCompletions;
    std::map<UCHAR, std::pair<NTSTATUS, int>> bulkFailures;
    USB_TOPOLOGY_ADDRESS topology{0, 20, 0, 0, 3, {1, 0, 0, 0, 0}, 0};
};

}  // namespace UsbSim
