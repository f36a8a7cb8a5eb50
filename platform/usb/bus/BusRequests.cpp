// The bus's request side: IRP dispatch, control requests, configuration and interface selection,
// pipe requests, the port requests and the bus interface.
#include <KernelTestApi.h>

#include <cstring>

#include "UsbTestApi.h"

namespace UsbSim {
namespace {

SimulatedUsbBus* BusOf(PDEVICE_OBJECT device)
{
    return static_cast<SimulatedUsbBus*>(device->DeviceExtension);
}

// Completions run at DISPATCH_LEVEL, as a host controller's do.
struct AtDispatch
{
    AtDispatch() { KeRaiseIrql(DISPATCH_LEVEL, &old); }
    ~AtDispatch() { KeLowerIrql(old); }
    KIRQL old;
};

// The size of the structure a request of a fixed-size function is read as; 0 for the functions
// whose URBs have a variable part (their own checks read the header's length).
size_t FixedUrbSize(USHORT function)
{
    switch (function) {
        case URB_FUNCTION_ABORT_PIPE:
        case URB_FUNCTION_SYNC_RESET_PIPE_AND_CLEAR_STALL:
            return sizeof(_URB_PIPE_REQUEST);
        case URB_FUNCTION_GET_CURRENT_FRAME_NUMBER:
            return sizeof(_URB_GET_CURRENT_FRAME_NUMBER);
        case URB_FUNCTION_CONTROL_TRANSFER:
            return sizeof(_URB_CONTROL_TRANSFER);
        case URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER:
            return sizeof(_URB_BULK_OR_INTERRUPT_TRANSFER);
        case URB_FUNCTION_GET_DESCRIPTOR_FROM_DEVICE:
            return sizeof(_URB_CONTROL_DESCRIPTOR_REQUEST);
        case URB_FUNCTION_VENDOR_DEVICE:
        case URB_FUNCTION_VENDOR_INTERFACE:
        case URB_FUNCTION_VENDOR_ENDPOINT:
        case URB_FUNCTION_CLASS_DEVICE:
        case URB_FUNCTION_CLASS_INTERFACE:
        case URB_FUNCTION_CLASS_ENDPOINT:
            return sizeof(_URB_CONTROL_VENDOR_OR_CLASS_REQUEST);
        default:
            return 0;
    }
}

USBD_PIPE_TYPE PipeType(UCHAR attributes)
{
    return static_cast<USBD_PIPE_TYPE>(attributes & USB_ENDPOINT_TYPE_MASK);
}

}  // namespace

SimulatedUsbBus::SimulatedUsbBus()
{
    driver.MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = &DispatchInternal;
    driver.MajorFunction[IRP_MJ_PNP] = &DispatchPnp;
    device.DriverObject = &driver;
    device.DeviceExtension = this;
    device.StackSize = 1;
    KeInitializeSpinLock(&lock);
    KeInitializeTimerEx(&frameTimer, NotificationTimer);
    KeInitializeDpc(&frameDpc, &FrameDpc, this);
}

SimulatedUsbBus::~SimulatedUsbBus()
{
    Detach();
    KeCancelTimer(&frameTimer);
    KeRemoveQueueDpc(&frameDpc);
}

void SimulatedUsbBus::Attach(SimulatedUsbDevice& newDevice)
{
    KIRQL old;
    KeAcquireSpinLock(&lock, &old);
    usbDevice = &newDevice;
    gone = false;
    configurationHandle = 0;
    pipes.clear();
    KeReleaseSpinLock(&lock, old);
}

void SimulatedUsbBus::Detach()
{
    std::vector<PIRP> irps;
    KIRQL old;
    KeAcquireSpinLock(&lock, &old);
    gone = true;
    usbDevice = nullptr;
    configurationHandle = 0;
    pipes.clear();
    for (auto it = pending.begin(); it != pending.end();) {
        if (IoSetCancelRoutine(it->irp, nullptr) != nullptr) {
            irps.push_back(it->irp);
            it = pending.erase(it);
        } else {
            ++it;  // being cancelled: the cancel routine completes it
        }
    }
    KeReleaseSpinLock(&lock, old);
    CompleteAll(irps, STATUS_NO_SUCH_DEVICE, USBD_STATUS_DEVICE_GONE);
}

void SimulatedUsbBus::StepFrames(uint32_t frames)
{
    Platform::Kernel::AdvanceTime(std::chrono::milliseconds(frames));
}

ULONG SimulatedUsbBus::CurrentFrame() const
{
    // Frame numbers start well above 0, so 0 never reads as a real frame.
    return static_cast<ULONG>(KeQueryInterruptTime() / 10000 + 0x1000);
}

size_t SimulatedUsbBus::UrbCount(USHORT function) const
{
    auto it = urbCounts.find(function);
    return it == urbCounts.end() ? 0 : it->second;
}

// Under the bus lock: a test may ask while a driver thread cancels or queues.
size_t SimulatedUsbBus::PendingRequests() const
{
    KIRQL old;
    KeAcquireSpinLock(&lock, &old);
    const size_t count = pending.size();
    KeReleaseSpinLock(&lock, old);
    return count;
}

USBD_STATUS SimulatedUsbBus::OutcomeStatus(Outcome outcome) const
{
    switch (outcome) {
        case Outcome::Ok:
            return USBD_STATUS_SUCCESS;
        case Outcome::Stall:
            return USBD_STATUS_STALL_PID;
        case Outcome::NoResponse:
            return USBD_STATUS_DEV_NOT_RESPONDING;
        case Outcome::Gone:
            return USBD_STATUS_DEVICE_GONE;
        case Outcome::Nak:
            return USBD_STATUS_PENDING;
        case Outcome::Error:
        default:
            return USBD_STATUS_BUFFER_OVERRUN;
    }
}

NTSTATUS SimulatedUsbBus::Complete(PIRP irp, NTSTATUS status, USBD_STATUS usbdStatus)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    if (stack->MajorFunction == IRP_MJ_INTERNAL_DEVICE_CONTROL &&
        stack->Parameters.DeviceIoControl.IoControlCode == IOCTL_INTERNAL_USB_SUBMIT_URB) {
        static_cast<PURB>(stack->Parameters.Others.Argument1)->UrbHeader.Status = usbdStatus;
    }
    irp->IoStatus.Status = status;
    AtDispatch raised;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

void SimulatedUsbBus::CompleteAll(std::vector<PIRP>& irps, NTSTATUS status, USBD_STATUS usbdStatus)
{
    for (PIRP irp : irps) {
        Complete(irp, status, usbdStatus);
    }
    irps.clear();
}

NTSTATUS SimulatedUsbBus::DispatchInternal(PDEVICE_OBJECT deviceObject, PIRP irp)
{
    SimulatedUsbBus* bus = BusOf(deviceObject);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    irp->IoStatus.Information = 0;
    switch (stack->Parameters.DeviceIoControl.IoControlCode) {
        case IOCTL_INTERNAL_USB_SUBMIT_URB: {
            auto* urb = static_cast<PURB>(stack->Parameters.Others.Argument1);
            if (urb == nullptr) {
                return bus->Complete(irp, STATUS_INVALID_PARAMETER, USBD_STATUS_SUCCESS);
            }
            return bus->SubmitUrb(irp, urb);
        }
        case IOCTL_INTERNAL_USB_CYCLE_PORT: {
            KIRQL old;
            KeAcquireSpinLock(&bus->lock, &old);
            const bool present = bus->usbDevice != nullptr && !bus->usbDevice->Gone();
            if (present) {
                // The device re-enumerates: unconfigured, every pipe closed.
                ++bus->cyclePorts;
                bus->usbDevice->Control({0x00, 0x09, 0, 0, 0}, {});
                bus->configurationHandle = 0;
                bus->pipes.clear();
            }
            KeReleaseSpinLock(&bus->lock, old);
            return bus->Complete(irp, present ? STATUS_SUCCESS : STATUS_NO_SUCH_DEVICE, 0);
        }
        case IOCTL_INTERNAL_USB_GET_TOPOLOGY_ADDRESS: {
            auto* out = static_cast<PUSB_TOPOLOGY_ADDRESS>(stack->Parameters.Others.Argument1);
            if (out == nullptr) {
                return bus->Complete(irp, STATUS_INVALID_PARAMETER, 0);
            }
            *out = bus->topology;
            return bus->Complete(irp, STATUS_SUCCESS, 0);
        }
        default:
            return bus->Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    }
}

NTSTATUS SimulatedUsbBus::DispatchPnp(PDEVICE_OBJECT deviceObject, PIRP irp)
{
    SimulatedUsbBus* bus = BusOf(deviceObject);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    NTSTATUS status = irp->IoStatus.Status;  // an interface we do not know keeps what was preset
    if (stack->MinorFunction == IRP_MN_QUERY_INTERFACE && bus->busInterfaceAvailable &&
        stack->Parameters.QueryInterface.InterfaceType != nullptr &&
        std::memcmp(stack->Parameters.QueryInterface.InterfaceType, &USB_BUS_INTERFACE_USBDI_GUID,
                    sizeof(GUID)) == 0) {
        auto* out = reinterpret_cast<PUSB_BUS_INTERFACE_USBDI_V1>(
            stack->Parameters.QueryInterface.Interface);
        const USHORT version = stack->Parameters.QueryInterface.Version;
        const USHORT size = stack->Parameters.QueryInterface.Size;
        if (out == nullptr || version > USB_BUSIF_USBDI_VERSION_1 ||
            size < (version == 0 ? FIELD_OFFSET(USB_BUS_INTERFACE_USBDI_V1, IsDeviceHighSpeed)
                                 : sizeof(USB_BUS_INTERFACE_USBDI_V1))) {
            status = STATUS_INVALID_PARAMETER;
        } else {
            out->Size = version == 0 ? FIELD_OFFSET(USB_BUS_INTERFACE_USBDI_V1, IsDeviceHighSpeed)
                                     : sizeof(USB_BUS_INTERFACE_USBDI_V1);
            out->Version = version;
            out->BusContext = bus;
            out->InterfaceReference = &InterfaceReference;
            out->InterfaceDereference = &InterfaceDereference;
            out->GetUSBDIVersion = &GetUsbdiVersion;
            out->QueryBusTime = &QueryBusTime;
            out->SubmitIsoOutUrb = &SubmitIsoOutUrb;
            out->QueryBusInformation = &QueryBusInformation;
            if (version >= 1) {
                out->IsDeviceHighSpeed = &IsDeviceHighSpeed;
            }
            InterfaceReference(bus);
            status = STATUS_SUCCESS;
        }
    }
    irp->IoStatus.Status = status;
    AtDispatch raised;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

NTSTATUS SimulatedUsbBus::SubmitUrb(PIRP irp, PURB urb)
{
    KIRQL old;
    KeAcquireSpinLock(&lock, &old);
    ++urbCounts[urb->UrbHeader.Function];
    const bool absent = gone || usbDevice == nullptr || usbDevice->Gone();
    if (!absent && urb->UrbHeader.Function == URB_FUNCTION_ISOCH_TRANSFER) {
        // Two transfers a frame while streaming: checked and queued under this one hold.
        return IsochronousTransferLocked(irp, urb, old);
    }
    KeReleaseSpinLock(&lock, old);
    if (absent) {
        return Complete(irp, STATUS_NO_SUCH_DEVICE, USBD_STATUS_DEVICE_GONE);
    }
    // The USB stack refuses a URB whose header says it is shorter than its function's structure,
    // rather than read what lies past it.
    if (urb->UrbHeader.Length < FixedUrbSize(urb->UrbHeader.Function)) {
        return Complete(irp, STATUS_INVALID_PARAMETER, USBD_STATUS_INVALID_PARAMETER);
    }
    switch (urb->UrbHeader.Function) {
        case URB_FUNCTION_SELECT_CONFIGURATION:
            return SelectConfiguration(irp, urb);
        case URB_FUNCTION_SELECT_INTERFACE:
            return SelectInterface(irp, urb);
        case URB_FUNCTION_ABORT_PIPE:
        case URB_FUNCTION_SYNC_RESET_PIPE_AND_CLEAR_STALL:
            return PipeRequest(irp, urb);
        case URB_FUNCTION_GET_CURRENT_FRAME_NUMBER:
            urb->UrbGetCurrentFrameNumber.FrameNumber = CurrentFrame();
            return Complete(irp, STATUS_SUCCESS, USBD_STATUS_SUCCESS);
        case URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER:
            return BulkTransfer(irp, urb);
        case URB_FUNCTION_CONTROL_TRANSFER:
        case URB_FUNCTION_GET_DESCRIPTOR_FROM_DEVICE:
        case URB_FUNCTION_CLASS_DEVICE:
        case URB_FUNCTION_CLASS_INTERFACE:
        case URB_FUNCTION_CLASS_ENDPOINT:
        case URB_FUNCTION_VENDOR_DEVICE:
        case URB_FUNCTION_VENDOR_INTERFACE:
        case URB_FUNCTION_VENDOR_ENDPOINT:
            return ControlUrb(irp, urb);
        default:
            return Complete(irp, STATUS_INVALID_PARAMETER, USBD_STATUS_INVALID_URB_FUNCTION);
    }
}

NTSTATUS SimulatedUsbBus::ControlUrb(PIRP irp, PURB urb)
{
    SetupPacket setup{};
    PVOID buffer = nullptr;
    ULONG* length = nullptr;
    bool shortOk = true;
    const USHORT function = urb->UrbHeader.Function;
    if (function == URB_FUNCTION_GET_DESCRIPTOR_FROM_DEVICE) {
        auto& r = urb->UrbControlDescriptorRequest;
        setup = {0x80, 0x06, static_cast<uint16_t>(r.DescriptorType << 8 | r.Index), r.LanguageId,
                 static_cast<uint16_t>(r.TransferBufferLength)};
        buffer = r.TransferBuffer;
        length = &r.TransferBufferLength;
    } else if (function == URB_FUNCTION_CONTROL_TRANSFER) {
        auto& r = urb->UrbControlTransfer;
        std::memcpy(&setup, r.SetupPacket, sizeof(setup));
        buffer = r.TransferBuffer;
        length = &r.TransferBufferLength;
        shortOk = (r.TransferFlags & USBD_SHORT_TRANSFER_OK) != 0;
        if (setup.wLength != r.TransferBufferLength) {
            return Complete(irp, STATUS_INVALID_PARAMETER, USBD_STATUS_INVALID_PARAMETER);
        }
    } else {
        auto& r = urb->UrbControlVendorClassRequest;
        const bool vendor =
            function >= URB_FUNCTION_VENDOR_DEVICE && function <= URB_FUNCTION_VENDOR_ENDPOINT;
        const UCHAR recipient = static_cast<UCHAR>(
            function - (vendor ? URB_FUNCTION_VENDOR_DEVICE : URB_FUNCTION_CLASS_DEVICE));
        const bool in = (r.TransferFlags & USBD_TRANSFER_DIRECTION_IN) != 0;
        setup = {static_cast<uint8_t>((in ? 0x80 : 0) | (vendor ? 0x40 : 0x20) | recipient),
                 r.Request, r.Value, r.Index, static_cast<uint16_t>(r.TransferBufferLength)};
        buffer = r.TransferBuffer;
        length = &r.TransferBufferLength;
        shortOk = (r.TransferFlags & USBD_SHORT_TRANSFER_OK) != 0;
        if (r.TransferBufferLength > 0xFFFF) {
            return Complete(irp, STATUS_INVALID_PARAMETER, USBD_STATUS_INVALID_PARAMETER);
        }
    }
    if (buffer == nullptr && *length != 0) {
        return Complete(irp, STATUS_INVALID_PARAMETER, USBD_STATUS_INVALID_PARAMETER);
    }
    return ControlRequest(irp, urb, setup, buffer, length, shortOk);
}

NTSTATUS SimulatedUsbBus::ControlRequest(PIRP irp, PURB urb, const SetupPacket& setup, PVOID buffer,
                                         ULONG* length, bool shortOk)
{
    KIRQL old;
    KeAcquireSpinLock(&lock, &old);
    Result result =
        usbDevice->Control(setup, std::span<uint8_t>(static_cast<uint8_t*>(buffer), setup.wLength));
    KeReleaseSpinLock(&lock, old);
    if (result.outcome == Outcome::NoResponse) {
        // The device never answers: the request stays until it is cancelled.
        return Queue(irp, {irp, urb, 0, 0, 0});
    }
    if (result.outcome != Outcome::Ok) {
        *length = 0;
        return Complete(
            irp, result.outcome == Outcome::Gone ? STATUS_NO_SUCH_DEVICE : STATUS_UNSUCCESSFUL,
            OutcomeStatus(result.outcome));
    }
    const bool in = (setup.bmRequestType & 0x80) != 0;
    if (in) {
        const bool shortTransfer = result.length < setup.wLength;
        *length = static_cast<ULONG>(result.length);
        if (shortTransfer && !shortOk) {
            return Complete(irp, STATUS_UNSUCCESSFUL, USBD_STATUS_ERROR_SHORT_TRANSFER);
        }
    }
    return Complete(irp, STATUS_SUCCESS, USBD_STATUS_SUCCESS);
}

// Fills one interface information from the configuration; false when the interface (or its
// alternate setting) is not there or the information has no room for its pipes.
bool SimulatedUsbBus::FillInterface(PUSB_CONFIGURATION_DESCRIPTOR configuration,
                                    PUSBD_INTERFACE_INFORMATION info, ULONG room,
                                    std::map<uintptr_t, BusPipe>& opened)
{
    if (room < USBD_INTERFACE_INFORMATION_HEADER_SIZE || info->Length > room) {
        return false;
    }
    const UCHAR* at = reinterpret_cast<const UCHAR*>(configuration);
    const UCHAR* end = at + configuration->wTotalLength;
    const USB_INTERFACE_DESCRIPTOR* found = nullptr;
    std::vector<const USB_ENDPOINT_DESCRIPTOR*> endpoints;
    for (at += configuration->bLength; end - at >= 2; at += at[0]) {
        if (at[0] < 2 || at[0] > end - at) {
            return false;
        }
        if (at[1] == USB_INTERFACE_DESCRIPTOR_TYPE && at[0] >= sizeof(USB_INTERFACE_DESCRIPTOR)) {
            const auto* d = reinterpret_cast<const USB_INTERFACE_DESCRIPTOR*>(at);
            if (found != nullptr) {
                break;
            }
            if (d->bInterfaceNumber == info->InterfaceNumber &&
                d->bAlternateSetting == info->AlternateSetting) {
                found = d;
            }
        } else if (found != nullptr && at[1] == USB_ENDPOINT_DESCRIPTOR_TYPE &&
                   at[0] >= sizeof(USB_ENDPOINT_DESCRIPTOR)) {
            endpoints.push_back(reinterpret_cast<const USB_ENDPOINT_DESCRIPTOR*>(at));
        }
    }
    if (found == nullptr || endpoints.size() != found->bNumEndpoints ||
        info->Length < USBD_INTERFACE_INFORMATION_HEADER_SIZE +
                           sizeof(USBD_PIPE_INFORMATION) * endpoints.size()) {
        return false;
    }
    info->Class = found->bInterfaceClass;
    info->SubClass = found->bInterfaceSubClass;
    info->Protocol = found->bInterfaceProtocol;
    info->InterfaceHandle = reinterpret_cast<USBD_INTERFACE_HANDLE>(nextHandle++);
    info->NumberOfPipes = static_cast<ULONG>(endpoints.size());
    const bool highSpeed = usbDevice->HighSpeed();
    PUSBD_PIPE_INFORMATION pipeInfo = info->Pipes;
    for (size_t i = 0; i < endpoints.size(); ++i) {
        const USB_ENDPOINT_DESCRIPTOR* e = endpoints[i];
        const uintptr_t handle = nextHandle++;
        BusPipe pipe{info->InterfaceNumber,
                     e->bEndpointAddress,
                     PipeType(e->bmAttributes),
                     static_cast<USHORT>(e->wMaxPacketSize & 0x7FF),
                     e->bInterval,
                     1,
                     0};
        if (pipe.type == UsbdPipeTypeIsochronous && highSpeed && e->bInterval >= 1 &&
            e->bInterval <= 4) {
            pipe.packetsPerFrame = 8u >> (e->bInterval - 1);
        }
        opened[handle] = pipe;
        pipeInfo[i].MaximumPacketSize = pipe.maxPacketSize;
        pipeInfo[i].EndpointAddress = pipe.endpointAddress;
        pipeInfo[i].Interval = pipe.interval;
        pipeInfo[i].PipeType = pipe.type;
        pipeInfo[i].PipeHandle = reinterpret_cast<USBD_PIPE_HANDLE>(handle);
        pipeInfo[i].PipeFlags = 0;
    }
    return true;
}

NTSTATUS SimulatedUsbBus::SelectConfiguration(PIRP irp, PURB urb)
{
    auto& r = urb->UrbSelectConfiguration;
    std::vector<PIRP> cancelled;
    KIRQL old;
    KeAcquireSpinLock(&lock, &old);
    for (const auto& [handle, pipe] : pipes) {
        TakePendingOfPipe(handle, cancelled);
    }
    pipes.clear();
    configurationHandle = 0;
    PUSB_CONFIGURATION_DESCRIPTOR configuration = r.ConfigurationDescriptor;
    Result result{Outcome::Ok};
    bool valid = true;
    std::map<uintptr_t, BusPipe> opened;
    if (configuration == nullptr) {
        result = usbDevice->Control({0x00, 0x09, 0, 0, 0}, {});
    } else if (urb->UrbHeader.Length < URB_SELECT_CONFIGURATION_HEADER_SIZE ||
               configuration->bLength < sizeof(USB_CONFIGURATION_DESCRIPTOR) ||
               configuration->bDescriptorType != USB_CONFIGURATION_DESCRIPTOR_TYPE ||
               configuration->wTotalLength < configuration->bLength) {
        valid = false;
    } else {
        UCHAR* at = reinterpret_cast<UCHAR*>(&r.Interface);
        ULONG room = urb->UrbHeader.Length - URB_SELECT_CONFIGURATION_HEADER_SIZE;
        for (ULONG i = 0; valid && i < configuration->bNumInterfaces; ++i) {
            auto* info = reinterpret_cast<PUSBD_INTERFACE_INFORMATION>(at);
            valid = FillInterface(configuration, info, room, opened);
            if (valid) {
                at += info->Length;
                room -= info->Length;
            }
        }
        if (valid) {
            result = usbDevice->Control({0x00, 0x09, configuration->bConfigurationValue, 0, 0}, {});
        }
    }
    if (valid && result.outcome == Outcome::Ok && configuration != nullptr) {
        pipes = std::move(opened);
        configurationHandle = nextHandle++;
        r.ConfigurationHandle = reinterpret_cast<USBD_CONFIGURATION_HANDLE>(configurationHandle);
    }
    KeReleaseSpinLock(&lock, old);
    CompleteAll(cancelled, STATUS_CANCELLED, USBD_STATUS_CANCELED);
    if (!valid) {
        return Complete(irp, STATUS_INVALID_PARAMETER,
                        USBD_STATUS_INVALID_CONFIGURATION_DESCRIPTOR);
    }
    if (result.outcome != Outcome::Ok) {
        return Complete(irp, STATUS_UNSUCCESSFUL, OutcomeStatus(result.outcome));
    }
    return Complete(irp, STATUS_SUCCESS, USBD_STATUS_SUCCESS);
}

NTSTATUS SimulatedUsbBus::SelectInterface(PIRP irp, PURB urb)
{
    auto& r = urb->UrbSelectInterface;
    std::vector<PIRP> cancelled;
    KIRQL old;
    KeAcquireSpinLock(&lock, &old);
    const ConfigurationModel* active = usbDevice->ActiveConfiguration();
    bool valid = configurationHandle != 0 &&
                 reinterpret_cast<uintptr_t>(r.ConfigurationHandle) == configurationHandle &&
                 active != nullptr && urb->UrbHeader.Length >= URB_SELECT_INTERFACE_HEADER_SIZE;
    std::map<uintptr_t, BusPipe> opened;
    Result result{Outcome::Ok};
    if (valid) {
        // The descriptor the device was configured with, as the device holds it.
        const auto& bytes = usbDevice->Descriptors().configurations;
        const std::vector<uint8_t>* configurationBytes = nullptr;
        for (const auto& c : bytes) {
            if (c.size() >= 9 && c[5] == active->value) {
                configurationBytes = &c;
            }
        }
        valid = configurationBytes != nullptr &&
                FillInterface(reinterpret_cast<PUSB_CONFIGURATION_DESCRIPTOR>(
                                  const_cast<uint8_t*>(configurationBytes->data())),
                              &r.Interface,
                              urb->UrbHeader.Length - URB_SELECT_INTERFACE_HEADER_SIZE, opened);
    }
    if (valid) {
        result = usbDevice->Control(
            {0x01, 0x0B, r.Interface.AlternateSetting, r.Interface.InterfaceNumber, 0}, {});
    }
    if (valid && result.outcome == Outcome::Ok) {
        for (auto it = pipes.begin(); it != pipes.end();) {
            if (it->second.interfaceNumber == r.Interface.InterfaceNumber) {
                TakePendingOfPipe(it->first, cancelled);
                it = pipes.erase(it);
            } else {
                ++it;
            }
        }
        pipes.insert(opened.begin(), opened.end());
    }
    KeReleaseSpinLock(&lock, old);
    CompleteAll(cancelled, STATUS_CANCELLED, USBD_STATUS_CANCELED);
    if (!valid) {
        return Complete(irp, STATUS_INVALID_PARAMETER, USBD_STATUS_INVALID_PARAMETER);
    }
    if (result.outcome != Outcome::Ok) {
        return Complete(irp, STATUS_UNSUCCESSFUL, OutcomeStatus(result.outcome));
    }
    return Complete(irp, STATUS_SUCCESS, USBD_STATUS_SUCCESS);
}

NTSTATUS SimulatedUsbBus::PipeRequest(PIRP irp, PURB urb)
{
    const uintptr_t handle = reinterpret_cast<uintptr_t>(urb->UrbPipeRequest.PipeHandle);
    std::vector<PIRP> aborted;
    KIRQL old;
    KeAcquireSpinLock(&lock, &old);
    auto it = pipes.find(handle);
    const bool known = it != pipes.end();
    Result result{Outcome::Ok};
    if (known && urb->UrbHeader.Function == URB_FUNCTION_ABORT_PIPE) {
        TakePendingOfPipe(handle, aborted);
    } else if (known && it->second.type != UsbdPipeTypeIsochronous) {
        result = usbDevice->Control({0x02, 0x01, 0, it->second.endpointAddress, 0}, {});
    }
    KeReleaseSpinLock(&lock, old);
    CompleteAll(aborted, STATUS_CANCELLED, USBD_STATUS_CANCELED);
    if (!known) {
        return Complete(irp, STATUS_INVALID_PARAMETER, USBD_STATUS_INVALID_PIPE_HANDLE);
    }
    if (result.outcome != Outcome::Ok) {
        return Complete(irp, STATUS_UNSUCCESSFUL, OutcomeStatus(result.outcome));
    }
    return Complete(irp, STATUS_SUCCESS, USBD_STATUS_SUCCESS);
}

void SimulatedUsbBus::InterfaceReference(PVOID context)
{
    InterlockedIncrement(reinterpret_cast<LONG volatile*>(
        &static_cast<SimulatedUsbBus*>(context)->interfaceReferences));
}

void SimulatedUsbBus::InterfaceDereference(PVOID context)
{
    InterlockedDecrement(reinterpret_cast<LONG volatile*>(
        &static_cast<SimulatedUsbBus*>(context)->interfaceReferences));
}

NTSTATUS SimulatedUsbBus::QueryBusTime(PVOID context, PULONG currentFrame)
{
    if (currentFrame == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    *currentFrame = static_cast<SimulatedUsbBus*>(context)->CurrentFrame();
    return STATUS_SUCCESS;
}

BOOLEAN SimulatedUsbBus::IsDeviceHighSpeed(PVOID context)
{
    auto* bus = static_cast<SimulatedUsbBus*>(context);
    KIRQL old;
    KeAcquireSpinLock(&bus->lock, &old);
    const bool high = bus->usbDevice != nullptr && bus->usbDevice->HighSpeed();
    KeReleaseSpinLock(&bus->lock, old);
    return high ? TRUE : FALSE;
}

void SimulatedUsbBus::GetUsbdiVersion(PVOID, PUSBD_VERSION_INFORMATION version, PULONG capabilities)
{
    if (version != nullptr) {
        version->USBDI_Version = 0x600;
        version->Supported_USB_Version = 0x200;
    }
    if (capabilities != nullptr) {
        *capabilities = 0;
    }
}

NTSTATUS SimulatedUsbBus::SubmitIsoOutUrb(PVOID, PURB)
{
    return STATUS_NOT_SUPPORTED;
}

NTSTATUS SimulatedUsbBus::QueryBusInformation(PVOID, ULONG, PVOID, PULONG, PULONG)
{
    return STATUS_NOT_SUPPORTED;
}

}  // namespace UsbSim
