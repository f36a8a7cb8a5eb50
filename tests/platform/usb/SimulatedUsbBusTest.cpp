// The simulated bus as a driver sees it: URBs in IRPs, configuration and interface selection, the
// frame clock with isochronous scheduling by start frame, bulk transfers, cancellation, surprise
// removal and the bus interface; and the USBD helpers that build the configuration request.
#include <KernelTestApi.h>
#include <UsbTestApi.h>
#include <usbdlib.h>

#include <gtest/gtest.h>

#include <memory>
#include <optional>

#include "KernelTestFixture.h"

namespace {

using namespace Platform::Kernel;
using namespace UsbSim;

struct Sent
{
    PIRP irp = nullptr;
    int completions = 0;
    NTSTATUS status = 0;
    KIRQL irql = 0;
    ULONG frameAtCompletion = 0;
    SimulatedUsbBus* bus = nullptr;
};

NTSTATUS Done(PDEVICE_OBJECT, PIRP irp, PVOID context)
{
    auto* sent = static_cast<Sent*>(context);
    ++sent->completions;
    sent->status = irp->IoStatus.Status;
    sent->irql = KeGetCurrentIrql();
    sent->frameAtCompletion = sent->bus->CurrentFrame();
    return STATUS_MORE_PROCESSING_REQUIRED;
}

class BusTest : public Testing::KernelTest
{
protected:
    void Plug(const ProductVariant& variant)
    {
        device = SimulatedUsbDevice::Create(BuildProductDescriptors(variant), nullptr);
        ASSERT_NE(device, nullptr);
        bus.emplace();
        bus->Attach(*device);
    }
    void TearDown() override
    {
        for (auto& s : sent) {
            if (s->irp != nullptr) {
                IoFreeIrp(s->irp);
            }
        }
        sent.clear();
        if (bus) {
            EXPECT_EQ(bus->PendingRequests(), 0u);
        }
        bus.reset();
        if (device) {
            EXPECT_TRUE(device->Violations().empty()) << device->Violations().front();
        }
        KernelTest::TearDown();
    }
    // Sends the URB in a new IRP; returns IofCallDriver's status.
    NTSTATUS Send(PURB urb, Sent** record = nullptr)
    {
        sent.push_back(std::make_unique<Sent>());
        Sent* s = sent.back().get();
        s->bus = &*bus;
        s->irp = IoAllocateIrp(bus->LowerDevice()->StackSize + 1, FALSE);
        PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(s->irp);
        next->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
        next->Parameters.DeviceIoControl.IoControlCode = IOCTL_INTERNAL_USB_SUBMIT_URB;
        next->Parameters.Others.Argument1 = urb;
        IoSetCompletionRoutine(s->irp, &Done, s, TRUE, TRUE, TRUE);
        if (record != nullptr) {
            *record = s;
        }
        return IoCallDriver(bus->LowerDevice(), s->irp);
    }
    // Selects the configuration; returns the request with the pipes filled in.
    PURB Configure()
    {
        const auto& bytes = device->Descriptors().configurations[0];
        configuration.assign(bytes.begin(), bytes.end());
        auto* c = reinterpret_cast<PUSB_CONFIGURATION_DESCRIPTOR>(configuration.data());
        std::vector<USBD_INTERFACE_LIST_ENTRY> list;
        for (LONG i = 0; i < c->bNumInterfaces; ++i) {
            list.push_back({USBD_ParseConfigurationDescriptorEx(c, c, i, 0, -1, -1, -1), nullptr});
        }
        list.push_back({nullptr, nullptr});
        PURB urb = USBD_CreateConfigurationRequestEx(c, list.data());
        EXPECT_EQ(Send(urb), STATUS_SUCCESS);
        configurationHandle = urb->UrbSelectConfiguration.ConfigurationHandle;
        return urb;
    }
    // Switches an interface to a setting with endpoints; returns the first pipe's information.
    std::vector<USBD_PIPE_INFORMATION> Select(UCHAR interfaceNumber, UCHAR alt, UCHAR endpoints)
    {
        std::vector<uint8_t> storage(URB_SELECT_INTERFACE_HEADER_SIZE + 24 + 24 * endpoints);
        auto* urb = reinterpret_cast<PURB>(storage.data());
        urb->UrbHeader.Length = static_cast<USHORT>(storage.size());
        urb->UrbHeader.Function = URB_FUNCTION_SELECT_INTERFACE;
        urb->UrbSelectInterface.ConfigurationHandle = configurationHandle;
        urb->UrbSelectInterface.Interface.Length = static_cast<USHORT>(24 + 24 * endpoints);
        urb->UrbSelectInterface.Interface.InterfaceNumber = interfaceNumber;
        urb->UrbSelectInterface.Interface.AlternateSetting = alt;
        EXPECT_EQ(Send(urb), STATUS_SUCCESS);
        const PUSBD_PIPE_INFORMATION pipes = urb->UrbSelectInterface.Interface.Pipes;
        return {pipes, pipes + urb->UrbSelectInterface.Interface.NumberOfPipes};
    }
    // An isochronous URB with packets of the given sizes (bytes), back to back.
    PURB Iso(USBD_PIPE_HANDLE pipe, std::vector<ULONG> sizes, std::vector<uint8_t>& buffer,
             ULONG startFrame, bool asap = false, bool in = false)
    {
        isoStorage.push_back(std::vector<uint8_t>(152 + 12 * sizes.size()));
        auto* urb = reinterpret_cast<PURB>(isoStorage.back().data());
        auto& r = urb->UrbIsochronousTransfer;
        r.Hdr.Length = static_cast<USHORT>(isoStorage.back().size());
        r.Hdr.Function = URB_FUNCTION_ISOCH_TRANSFER;
        r.PipeHandle = pipe;
        r.TransferFlags = (in ? USBD_TRANSFER_DIRECTION_IN | USBD_SHORT_TRANSFER_OK : 0) |
                          (asap ? USBD_START_ISO_TRANSFER_ASAP : 0);
        r.StartFrame = startFrame;
        r.NumberOfPackets = static_cast<ULONG>(sizes.size());
        ULONG offset = 0;
        const PUSBD_ISO_PACKET_DESCRIPTOR packets = r.IsoPacket;
        for (size_t k = 0; k < sizes.size(); ++k) {
            packets[k].Offset = offset;
            packets[k].Length = in ? 0 : sizes[k];
            offset += sizes[k];
        }
        buffer.resize(offset);
        r.TransferBuffer = buffer.data();
        r.TransferBufferLength = offset;
        return urb;
    }

    std::unique_ptr<SimulatedUsbDevice> device;
    std::optional<SimulatedUsbBus> bus;
    std::vector<std::unique_ptr<Sent>> sent;
    std::vector<uint8_t> configuration;
    std::vector<std::vector<uint8_t>> isoStorage;
    USBD_CONFIGURATION_HANDLE configurationHandle = nullptr;
};

TEST_F(BusTest, IsochronousOutCompletesAfterItsLastFrame)
{
    Plug({});
    ExFreePool(Configure());
    const auto pipes = Select(1, 1, 1);
    ASSERT_EQ(pipes.size(), 1u);
    EXPECT_EQ(pipes[0].PipeType, UsbdPipeTypeIsochronous);
    EXPECT_EQ(pipes[0].MaximumPacketSize, 78);
    std::vector<uint8_t> buffer;
    const ULONG start = bus->CurrentFrame() + 3;
    PURB urb = Iso(pipes[0].PipeHandle, std::vector<ULONG>(16, 36), buffer, start);
    for (size_t i = 0; i < buffer.size(); ++i) {
        buffer[i] = static_cast<uint8_t>(i * 7);
    }
    Sent* s = nullptr;
    ASSERT_EQ(Send(urb, &s), STATUS_PENDING);
    bus->StepFrames(4);
    EXPECT_EQ(s->completions, 0) << "frame start + 1 has not passed yet";
    bus->StepFrames(1);
    ASSERT_EQ(s->completions, 1);
    EXPECT_EQ(s->status, STATUS_SUCCESS);
    EXPECT_EQ(s->irql, DISPATCH_LEVEL);
    EXPECT_EQ(s->frameAtCompletion, start + 2);
    EXPECT_EQ(urb->UrbHeader.Status, USBD_STATUS_SUCCESS);
    const auto& packets = device->OutPackets();
    ASSERT_EQ(packets.size(), 16u);
    EXPECT_EQ(packets[0].frame, start);
    EXPECT_EQ(packets[7].microframe, 7);
    EXPECT_EQ(packets[8].frame, start + 1);
    EXPECT_EQ(std::vector<uint8_t>(packets[15].bytes.begin(), packets[15].bytes.end()),
              std::vector<uint8_t>(buffer.end() - 36, buffer.end()));
}

// A busy controller reports late, yet the packets went out in their frames: what the buffer holds
// afterwards is not sent, and the transfer after the late one completes first.
TEST_F(BusTest, ADelayedCompletionStillMovesItsPacketsInTheirFrames)
{
    Plug({});
    ExFreePool(Configure());
    const auto pipes = Select(1, 1, 1);
    ASSERT_EQ(pipes.size(), 1u);
    std::vector<uint8_t> first;
    std::vector<uint8_t> second;
    const ULONG start = bus->CurrentFrame() + 3;
    PURB late = Iso(pipes[0].PipeHandle, std::vector<ULONG>(8, 36), first, start);
    PURB onTime = Iso(pipes[0].PipeHandle, std::vector<ULONG>(8, 36), second, start + 1);
    std::fill(first.begin(), first.end(), uint8_t{0x11});
    std::fill(second.begin(), second.end(), uint8_t{0x22});
    bus->DelayIsoCompletions(4, 1);
    Sent* lateSent = nullptr;
    Sent* onTimeSent = nullptr;
    ASSERT_EQ(Send(late, &lateSent), STATUS_PENDING);
    ASSERT_EQ(Send(onTime, &onTimeSent), STATUS_PENDING);
    bus->StepFrames(4);
    EXPECT_EQ(lateSent->completions, 0);
    ASSERT_EQ(device->OutPackets().size(), 8u) << "the late transfer's frame has passed";
    std::fill(first.begin(), first.end(), uint8_t{0x33});  // too late to be sent
    bus->StepFrames(1);
    EXPECT_EQ(onTimeSent->completions, 1);
    EXPECT_EQ(lateSent->completions, 0);
    bus->StepFrames(3);
    ASSERT_EQ(lateSent->completions, 1);
    EXPECT_EQ(lateSent->status, STATUS_SUCCESS);
    EXPECT_EQ(onTimeSent->frameAtCompletion, start + 2);
    EXPECT_EQ(lateSent->frameAtCompletion, start + 5);
    const auto& packets = device->OutPackets();
    ASSERT_EQ(packets.size(), 16u);
    EXPECT_EQ(packets[0].frame, start);
    EXPECT_EQ(std::vector<uint8_t>(packets[0].bytes.begin(), packets[0].bytes.end()),
              std::vector<uint8_t>(36, 0x11));
    EXPECT_EQ(std::vector<uint8_t>(packets[8].bytes.begin(), packets[8].bytes.end()),
              std::vector<uint8_t>(36, 0x22));
}

TEST_F(BusTest, StartFrameRules)
{
    Plug({});
    ExFreePool(Configure());
    const auto pipes = Select(1, 1, 1);
    std::vector<uint8_t> a, b, c, d;
    const ULONG now = bus->CurrentFrame();
    PURB late = Iso(pipes[0].PipeHandle, std::vector<ULONG>(8, 6), a, now);
    EXPECT_EQ(Send(late), STATUS_UNSUCCESSFUL) << "the current frame has begun";
    EXPECT_EQ(late->UrbHeader.Status, USBD_STATUS_BAD_START_FRAME);
    PURB far = Iso(pipes[0].PipeHandle, std::vector<ULONG>(8, 6), b, now + 5000);
    EXPECT_EQ(Send(far), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(far->UrbHeader.Status, USBD_STATUS_BAD_START_FRAME);
    PURB partial = Iso(pipes[0].PipeHandle, std::vector<ULONG>(5, 6), c, now + 2);
    EXPECT_EQ(Send(partial), STATUS_UNSUCCESSFUL) << "not whole frames of 8 packets";
    // ASAP on an idle pipe starts 2 frames out; the next one follows on.
    PURB first = Iso(pipes[0].PipeHandle, std::vector<ULONG>(16, 6), d, 0, true);
    ASSERT_EQ(Send(first), STATUS_PENDING);
    EXPECT_EQ(first->UrbIsochronousTransfer.StartFrame, now + 2);
    std::vector<uint8_t> e;
    PURB second = Iso(pipes[0].PipeHandle, std::vector<ULONG>(8, 6), e, 0, true);
    ASSERT_EQ(Send(second), STATUS_PENDING);
    EXPECT_EQ(second->UrbIsochronousTransfer.StartFrame, now + 4);
    bus->StepFrames(6);
    EXPECT_EQ(bus->PendingRequests(), 0u);
}

TEST_F(BusTest, IsochronousInFollowsTheDeviceAndCompletesInFrameOrder)
{
    Plug({.audioClass = 1, .outChannels = 2, .inChannels = 2, .rates = {44100}});
    ExFreePool(Configure());
    const auto out = Select(1, 1, 1);
    const auto in = Select(2, 1, 1);
    std::vector<uint8_t> inBuffer, outBuffer;
    const ULONG now = bus->CurrentFrame();
    // The IN transfer ends a frame after the OUT one, though it was sent first.
    PURB inUrb = Iso(in[0].PipeHandle, std::vector<ULONG>(10, in[0].MaximumPacketSize), inBuffer,
                     now + 1, false, true);
    PURB outUrb = Iso(out[0].PipeHandle, std::vector<ULONG>(9, 6), outBuffer, now + 1);
    Sent* inSent = nullptr;
    Sent* outSent = nullptr;
    ASSERT_EQ(Send(inUrb, &inSent), STATUS_PENDING);
    ASSERT_EQ(Send(outUrb, &outSent), STATUS_PENDING);
    bus->StepFrames(11);
    ASSERT_EQ(inSent->completions, 1);
    ASSERT_EQ(outSent->completions, 1);
    EXPECT_LT(outSent->frameAtCompletion, inSent->frameAtCompletion);
    const PUSBD_ISO_PACKET_DESCRIPTOR packets = inUrb->UrbIsochronousTransfer.IsoPacket;
    ULONG total = 0;
    for (ULONG k = 0; k < 10; ++k) {
        EXPECT_EQ(packets[k].Length, (k == 9 ? 45u : 44u) * 6) << k;
        total += packets[k].Length;
    }
    EXPECT_EQ(inUrb->UrbIsochronousTransfer.TransferBufferLength, total);
}

TEST_F(BusTest, LostAndShortenedPacketsAreReportedPerPacket)
{
    Plug({.audioClass = 1, .outChannels = 0, .inChannels = 2, .rates = {48000}});
    ExFreePool(Configure());
    const auto in = Select(1, 1, 1);
    device->DropPackets(0x82, 1);
    device->ShortenPackets(0x82, 1, 6);
    std::vector<uint8_t> buffer;
    PURB urb = Iso(in[0].PipeHandle, std::vector<ULONG>(3, in[0].MaximumPacketSize), buffer,
                   bus->CurrentFrame() + 1, false, true);
    Sent* s = nullptr;
    ASSERT_EQ(Send(urb, &s), STATUS_PENDING);
    bus->StepFrames(4);
    ASSERT_EQ(s->completions, 1);
    EXPECT_EQ(s->status, STATUS_SUCCESS);
    const PUSBD_ISO_PACKET_DESCRIPTOR packets = urb->UrbIsochronousTransfer.IsoPacket;
    EXPECT_EQ(packets[0].Status, USBD_STATUS_DEV_NOT_RESPONDING);
    EXPECT_EQ(packets[0].Length, 0u);
    EXPECT_EQ(packets[1].Length, 47u * 6);
    EXPECT_EQ(packets[2].Length, 48u * 6);
    EXPECT_EQ(urb->UrbIsochronousTransfer.ErrorCount, 1u);
}

TEST_F(BusTest, CancelAndSurpriseRemovalCompletePendingTransfers)
{
    Plug({.midi = true});
    PURB config = Configure();
    auto& midiInfo = *reinterpret_cast<PUSBD_INTERFACE_INFORMATION>(
        reinterpret_cast<PUCHAR>(&config->UrbSelectConfiguration.Interface) + 24 + 24);
    ASSERT_EQ(midiInfo.InterfaceNumber, 2);
    const PUSBD_PIPE_INFORMATION midiPipes = midiInfo.Pipes;
    const USBD_PIPE_HANDLE midiIn = midiPipes[1].PipeHandle;
    const USBD_PIPE_HANDLE midiOut = midiPipes[0].PipeHandle;
    ExFreePool(config);

    uint8_t inData[64] = {};
    _URB_BULK_OR_INTERRUPT_TRANSFER read{};
    read.Hdr = {sizeof(read), URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER, 0, nullptr, 0};
    read.PipeHandle = midiIn;
    read.TransferFlags = USBD_TRANSFER_DIRECTION_IN | USBD_SHORT_TRANSFER_OK;
    read.TransferBuffer = inData;
    read.TransferBufferLength = sizeof(inData);
    Sent* reading = nullptr;
    ASSERT_EQ(Send(reinterpret_cast<PURB>(&read), &reading), STATUS_PENDING);
    bus->StepFrames(3);
    EXPECT_EQ(reading->completions, 0) << "nothing to read yet";
    device->QueueBulkIn(0x83, {0x09, 0x90, 0x3C, 0x64});
    bus->StepFrames(1);
    ASSERT_EQ(reading->completions, 1);
    EXPECT_EQ(read.TransferBufferLength, 4u);
    EXPECT_EQ(inData[1], 0x90);

    uint8_t outData[4] = {0x08, 0x80, 0x3C, 0x00};
    _URB_BULK_OR_INTERRUPT_TRANSFER write = read;
    write.PipeHandle = midiOut;
    write.TransferFlags = 0;
    write.TransferBuffer = outData;
    write.TransferBufferLength = 4;
    ASSERT_EQ(Send(reinterpret_cast<PURB>(&write)), STATUS_PENDING);
    bus->StepFrames(1);
    EXPECT_EQ(device->BulkReceived(0x03), std::vector<uint8_t>(outData, outData + 4));

    // A read left pending is cancelled; another is completed by the removal.
    read.TransferBufferLength = sizeof(inData);
    Sent* cancelled = nullptr;
    ASSERT_EQ(Send(reinterpret_cast<PURB>(&read), &cancelled), STATUS_PENDING);
    EXPECT_TRUE(IoCancelIrp(cancelled->irp));
    EXPECT_EQ(cancelled->status, STATUS_CANCELLED);
    EXPECT_EQ(read.Hdr.Status, USBD_STATUS_CANCELED);
    Sent* removed = nullptr;
    ASSERT_EQ(Send(reinterpret_cast<PURB>(&read), &removed), STATUS_PENDING);
    bus->Detach();
    EXPECT_EQ(removed->status, STATUS_NO_SUCH_DEVICE);
    EXPECT_EQ(read.Hdr.Status, USBD_STATUS_DEVICE_GONE);
    EXPECT_EQ(Send(reinterpret_cast<PURB>(&read)), STATUS_NO_SUCH_DEVICE) << "and stays gone";
}

TEST_F(BusTest, ReselectingAnInterfaceCancelsItsTransfersAndClosesItsPipes)
{
    Plug({});
    ExFreePool(Configure());
    const auto pipes = Select(1, 1, 1);
    std::vector<uint8_t> buffer;
    Sent* s = nullptr;
    ASSERT_EQ(
        Send(Iso(pipes[0].PipeHandle, std::vector<ULONG>(8, 6), buffer, bus->CurrentFrame() + 2),
             &s),
        STATUS_PENDING);
    Select(1, 0, 0);
    EXPECT_EQ(s->status, STATUS_CANCELLED);
    std::vector<uint8_t> again;
    PURB stale = Iso(pipes[0].PipeHandle, std::vector<ULONG>(8, 6), again, bus->CurrentFrame() + 2);
    EXPECT_EQ(Send(stale), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(stale->UrbHeader.Status, USBD_STATUS_INVALID_PIPE_HANDLE);
}

TEST_F(BusTest, BusInterfaceGivesSpeedAndFrame)
{
    for (int audioClass : {1, 2}) {
        Plug({.audioClass = audioClass});
        USB_BUS_INTERFACE_USBDI_V1 busInterface{};
        PIRP irp = IoAllocateIrp(2, FALSE);
        irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
        PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
        next->MajorFunction = IRP_MJ_PNP;
        next->MinorFunction = IRP_MN_QUERY_INTERFACE;
        next->Parameters.QueryInterface.InterfaceType = &USB_BUS_INTERFACE_USBDI_GUID;
        next->Parameters.QueryInterface.Size = sizeof(busInterface);
        next->Parameters.QueryInterface.Version = 1;
        next->Parameters.QueryInterface.Interface = reinterpret_cast<PINTERFACE>(&busInterface);
        Sent s;
        s.bus = &*bus;
        IoSetCompletionRoutine(irp, &Done, &s, TRUE, TRUE, TRUE);
        ASSERT_EQ(IoCallDriver(bus->LowerDevice(), irp), STATUS_SUCCESS);
        IoFreeIrp(irp);
        EXPECT_EQ(busInterface.IsDeviceHighSpeed(busInterface.BusContext), audioClass == 2);
        EXPECT_EQ(bus->BusInterfaceReferences(), 1);
        bus->StepFrames(7);
        ULONG frame = 0;
        ASSERT_EQ(busInterface.QueryBusTime(busInterface.BusContext, &frame), STATUS_SUCCESS);
        _URB_GET_CURRENT_FRAME_NUMBER urb{};
        urb.Hdr = {sizeof(urb), URB_FUNCTION_GET_CURRENT_FRAME_NUMBER, 0, nullptr, 0};
        ASSERT_EQ(Send(reinterpret_cast<PURB>(&urb)), STATUS_SUCCESS);
        EXPECT_EQ(urb.FrameNumber, frame);
        busInterface.InterfaceDereference(busInterface.BusContext);
        EXPECT_EQ(bus->BusInterfaceReferences(), 0);
    }
}

// The USB stack reads a URB as its function's structure: a header that claims less is refused
// before anything of it is read, and the same request at its full length is served.
TEST_F(BusTest, AUrbShorterThanItsFunctionsStructureIsRefused)
{
    Plug({.audioClass = 2});
    struct Case
    {
        const char* name;
        USHORT function;
        USHORT size;
    };
    const Case cases[] = {
        {"abort pipe", URB_FUNCTION_ABORT_PIPE, sizeof(_URB_PIPE_REQUEST)},
        {"reset pipe", URB_FUNCTION_SYNC_RESET_PIPE_AND_CLEAR_STALL, sizeof(_URB_PIPE_REQUEST)},
        {"frame number", URB_FUNCTION_GET_CURRENT_FRAME_NUMBER,
         sizeof(_URB_GET_CURRENT_FRAME_NUMBER)},
        {"control transfer", URB_FUNCTION_CONTROL_TRANSFER, sizeof(_URB_CONTROL_TRANSFER)},
        {"bulk transfer", URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER,
         sizeof(_URB_BULK_OR_INTERRUPT_TRANSFER)},
        {"descriptor", URB_FUNCTION_GET_DESCRIPTOR_FROM_DEVICE,
         sizeof(_URB_CONTROL_DESCRIPTOR_REQUEST)},
        {"vendor device", URB_FUNCTION_VENDOR_DEVICE, sizeof(_URB_CONTROL_VENDOR_OR_CLASS_REQUEST)},
        {"class interface", URB_FUNCTION_CLASS_INTERFACE,
         sizeof(_URB_CONTROL_VENDOR_OR_CLASS_REQUEST)},
        {"class endpoint", URB_FUNCTION_CLASS_ENDPOINT,
         sizeof(_URB_CONTROL_VENDOR_OR_CLASS_REQUEST)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        URB urb{};
        urb.UrbHeader.Length = static_cast<USHORT>(c.size - 1);
        urb.UrbHeader.Function = c.function;
        EXPECT_EQ(Send(&urb), STATUS_INVALID_PARAMETER);
        EXPECT_EQ(urb.UrbHeader.Status, USBD_STATUS_INVALID_PARAMETER);
    }

    UCHAR descriptor[18] = {};
    URB urb{};
    urb.UrbHeader.Length = sizeof(_URB_CONTROL_DESCRIPTOR_REQUEST);
    urb.UrbHeader.Function = URB_FUNCTION_GET_DESCRIPTOR_FROM_DEVICE;
    urb.UrbControlDescriptorRequest.DescriptorType = USB_DEVICE_DESCRIPTOR_TYPE;
    urb.UrbControlDescriptorRequest.TransferBuffer = descriptor;
    urb.UrbControlDescriptorRequest.TransferBufferLength = sizeof descriptor;
    ASSERT_EQ(Send(&urb), STATUS_SUCCESS);
    EXPECT_EQ(urb.UrbControlDescriptorRequest.TransferBufferLength, sizeof descriptor);
    EXPECT_EQ(descriptor[1], USB_DEVICE_DESCRIPTOR_TYPE);
}

TEST(UsbdLib, ParsesWithinTheConfigurationOnly)
{
    auto set = BuildProductDescriptors({.midi = true});
    std::vector<uint8_t> bytes = set.configurations[0];
    auto* c = reinterpret_cast<PUSB_CONFIGURATION_DESCRIPTOR>(bytes.data());
    PUSB_INTERFACE_DESCRIPTOR streaming =
        USBD_ParseConfigurationDescriptorEx(c, c, 1, 1, -1, -1, -1);
    ASSERT_NE(streaming, nullptr);
    EXPECT_EQ(streaming->bNumEndpoints, 1);
    EXPECT_EQ(USBD_ParseConfigurationDescriptorEx(c, c, -1, -1, 1, 3, -1)->bInterfaceNumber, 2);
    EXPECT_EQ(USBD_ParseConfigurationDescriptorEx(c, c, 9, -1, -1, -1, -1), nullptr);
    // A descriptor of length 0 ends the walk; one past wTotalLength too.
    const size_t midiAt =
        reinterpret_cast<uint8_t*>(USBD_ParseConfigurationDescriptorEx(c, c, 2, 0, -1, -1, -1)) -
        bytes.data();
    reinterpret_cast<uint8_t*>(streaming)[0] = 0;
    EXPECT_EQ(USBD_ParseConfigurationDescriptorEx(c, c, 2, 0, -1, -1, -1), nullptr);
    c->wTotalLength = static_cast<USHORT>(midiAt + 4);
    EXPECT_EQ(USBD_ParseConfigurationDescriptorEx(c, reinterpret_cast<uint8_t*>(c) + midiAt, 2, 0,
                                                  -1, -1, -1),
              nullptr);
}

class UsbdRequest : public Testing::KernelTest
{
};

TEST_F(UsbdRequest, BuildsOneInformationPerInterface)
{
    auto set = BuildProductDescriptors({.inChannels = 2, .feedback = true});
    auto& bytes = set.configurations[0];
    auto* c = reinterpret_cast<PUSB_CONFIGURATION_DESCRIPTOR>(bytes.data());
    USBD_INTERFACE_LIST_ENTRY list[] = {
        {USBD_ParseConfigurationDescriptorEx(c, c, 0, 0, -1, -1, -1), nullptr},
        {USBD_ParseConfigurationDescriptorEx(c, c, 1, 1, -1, -1, -1), nullptr},
        {nullptr, nullptr}};
    PURB urb = USBD_CreateConfigurationRequestEx(c, list);
    ASSERT_NE(urb, nullptr);
    EXPECT_EQ(urb->UrbHeader.Function, URB_FUNCTION_SELECT_CONFIGURATION);
    EXPECT_EQ(urb->UrbHeader.Length, 40 + 24 + (24 + 2 * 24));
    EXPECT_EQ(list[0].Interface->Length, 24);
    EXPECT_EQ(list[1].Interface->InterfaceNumber, 1);
    EXPECT_EQ(list[1].Interface->AlternateSetting, 1);
    EXPECT_EQ(list[1].Interface->NumberOfPipes, 2u);
    EXPECT_EQ(reinterpret_cast<PUCHAR>(list[1].Interface),
              reinterpret_cast<PUCHAR>(list[0].Interface) + 24);
    ExFreePool(urb);

    USB_INTERFACE_DESCRIPTOR outside{};
    USBD_INTERFACE_LIST_ENTRY bad[] = {{&outside, nullptr}, {nullptr, nullptr}};
    EXPECT_EQ(USBD_CreateConfigurationRequestEx(c, bad), nullptr);
    FailAllocationNumber(1);
    EXPECT_EQ(USBD_CreateConfigurationRequestEx(c, list), nullptr);
}

}  // namespace
