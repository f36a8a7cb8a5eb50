// Pins from user mode: creation from the filter's pin factories with their instance limits and
// data ranges, the state walk through the intermediate states, frames that complete in the order
// they were submitted whatever order the minidriver lets them go in, stream pointers, processing,
// the reference clock, and stream requests that lie about their buffers.
#include <KernelHostApi.h>
#include <KernelTestApi.h>
#include <KsHostApi.h>
#include <KsPinHandle.h>
#include <gtest/gtest.h>
#include <ksmedia.h>

#include <cstring>
#include <string>
#include <vector>

#include "KernelTestFixture.h"

using Platform::Kernel::UserProcess;
using Platform::Ks::FilterHandle;
using Platform::Ks::PinHandle;
using Platform::Ks::PnpRequest;

namespace {

constexpr ULONG kRenderPin = 0;
constexpr ULONG kCapturePin = 1;
constexpr ULONG kBridgePin = 2;
constexpr char16_t kReference[] = u"PINFILTER";

// What the minidriver saw and how it behaves.
struct PinDriverState
{
    std::vector<std::string> calls;
    NTSTATUS refuseRun = STATUS_SUCCESS;
    NTSTATUS refuseFormat = STATUS_SUCCESS;
    bool cloneOnProcess = true;
    std::vector<PKSSTREAM_POINTER> clones;
    KIRQL processIrql = PASSIVE_LEVEL;
    int processCalls = 0;
    PKSPIN lastPin = nullptr;
};

PinDriverState& Driver()
{
    static PinDriverState state;
    return state;
}

const char* Name(KSSTATE s)
{
    static const char* const kNames[] = {"STOP", "ACQUIRE", "RUN", "PAUSE"};
    return kNames[s];
}

NTSTATUS PinCreate(PKSPIN pin, PIRP)
{
    Driver().calls.push_back("Create " + std::to_string(pin->Id));
    Driver().lastPin = pin;
    return STATUS_SUCCESS;
}

NTSTATUS PinClose(PKSPIN pin, PIRP)
{
    Driver().calls.push_back("Close " + std::to_string(pin->Id));
    for (PKSSTREAM_POINTER clone : Driver().clones) {
        KsStreamPointerDelete(clone);
    }
    Driver().clones.clear();
    return STATUS_SUCCESS;
}

NTSTATUS PinSetState(PKSPIN, KSSTATE to, KSSTATE from)
{
    Driver().calls.push_back(std::string(Name(from)) + "->" + Name(to));
    if (to == KSSTATE_RUN && Driver().refuseRun != STATUS_SUCCESS) {
        return Driver().refuseRun;
    }
    if (to == KSSTATE_STOP) {
        for (PKSSTREAM_POINTER clone : Driver().clones) {
            KsStreamPointerDelete(clone);
        }
        Driver().clones.clear();
    }
    return STATUS_SUCCESS;
}

NTSTATUS PinSetFormat(PKSPIN pin, PKSDATAFORMAT old, PVOID, const KSDATARANGE* range, PVOID)
{
    Driver().calls.push_back(std::string("Format ") + (old == nullptr ? "first" : "change") +
                             (range != nullptr ? " range" : " none") + " " +
                             std::to_string(pin->ConnectionFormat->FormatSize));
    return Driver().refuseFormat;
}

// Takes every frame at the leading edge: a clone holds each (render) or the frame is filled with
// its byte index (capture), and the leading edge moves past it.
NTSTATUS PinProcess(PKSPIN pin)
{
    ++Driver().processCalls;
    Driver().processIrql = KeGetCurrentIrql();
    PKSSTREAM_POINTER leading =
        KsPinGetLeadingEdgeStreamPointer(pin, KSSTREAM_POINTER_STATE_LOCKED);
    while (leading != nullptr) {
        if (pin->DataFlow == KSPIN_DATAFLOW_OUT) {
            for (ULONG i = 0; i < leading->Offset->Remaining; ++i) {
                leading->Offset->Data[i] = static_cast<UCHAR>(i);
            }
        }
        if (Driver().cloneOnProcess) {
            PKSSTREAM_POINTER clone = nullptr;
            EXPECT_EQ(KsStreamPointerClone(leading, nullptr, 8, &clone), STATUS_SUCCESS);
            Driver().clones.push_back(clone);
        }
        const ULONG bytes = leading->Offset->Remaining;
        const NTSTATUS status = KsStreamPointerAdvanceOffsets(
            leading, pin->DataFlow == KSPIN_DATAFLOW_IN ? bytes : 0,
            pin->DataFlow == KSPIN_DATAFLOW_OUT ? bytes : 0, bytes == 0);
        if (status == STATUS_DEVICE_NOT_READY) {
            break;
        }
    }
    return STATUS_SUCCESS;
}

const KSPIN_DISPATCH kPinDispatch = {
    .Create = PinCreate,
    .Close = PinClose,
    .Process = PinProcess,
    .Reset = nullptr,
    .SetDataFormat = PinSetFormat,
    .SetDeviceState = PinSetState,
    .Connect = nullptr,
    .Disconnect = nullptr,
    .Clock = nullptr,
    .Allocator = nullptr,
};

const KSDATARANGE kPcmRange = {{sizeof(KSDATARANGE), 0, 0, 0, KSDATAFORMAT_TYPE_AUDIO,
                                KSDATAFORMAT_SUBTYPE_PCM, KSDATAFORMAT_SPECIFIER_WAVEFORMATEX}};
const KSDATARANGE kAnalogRange = {{sizeof(KSDATARANGE), 0, 0, 0, KSDATAFORMAT_TYPE_AUDIO,
                                   KSDATAFORMAT_SUBTYPE_ANALOG, KSDATAFORMAT_SPECIFIER_NONE}};
const PKSDATARANGE kPcmRanges[] = {const_cast<PKSDATARANGE>(&kPcmRange)};
const PKSDATARANGE kAnalogRanges[] = {const_cast<PKSDATARANGE>(&kAnalogRange)};

constexpr KSPIN_DESCRIPTOR_EX StreamPin(KSPIN_DATAFLOW flow, ULONG flags)
{
    return {
        .Dispatch = &kPinDispatch,
        .AutomationTable = nullptr,
        .PinDescriptor = {.InterfacesCount = 0,
                          .Interfaces = nullptr,
                          .MediumsCount = 0,
                          .Mediums = nullptr,
                          .DataRangesCount = 1,
                          .DataRanges = kPcmRanges,
                          .DataFlow = flow,
                          .Communication = KSPIN_COMMUNICATION_SINK,
                          .Category = &KSCATEGORY_AUDIO,
                          .Name = nullptr,
                          .Reserved = 0},
        .Flags = flags,
        .InstancesPossible = 1,
        .InstancesNecessary = 0,
        .AllocatorFraming = nullptr,
        .IntersectHandler = nullptr,
    };
}

const KSPIN_DESCRIPTOR_EX kPins[] = {
    StreamPin(KSPIN_DATAFLOW_IN,
              KSPIN_FLAG_PROCESS_IN_RUN_STATE_ONLY | KSPIN_FLAG_DISPATCH_LEVEL_PROCESSING),
    StreamPin(KSPIN_DATAFLOW_OUT, KSPIN_FLAG_PROCESS_IN_RUN_STATE_ONLY |
                                      KSPIN_FLAG_DISPATCH_LEVEL_PROCESSING |
                                      KSPIN_FLAG_DO_NOT_INITIATE_PROCESSING),
    {.Dispatch = nullptr,
     .AutomationTable = nullptr,
     .PinDescriptor = {.InterfacesCount = 0,
                       .Interfaces = nullptr,
                       .MediumsCount = 0,
                       .Mediums = nullptr,
                       .DataRangesCount = 1,
                       .DataRanges = kAnalogRanges,
                       .DataFlow = KSPIN_DATAFLOW_OUT,
                       .Communication = KSPIN_COMMUNICATION_NONE,
                       .Category = &KSNODETYPE_SPEAKER,
                       .Name = nullptr,
                       .Reserved = 0},
     .Flags = 0,
     .InstancesPossible = 0,
     .InstancesNecessary = 0,
     .AllocatorFraming = nullptr,
     .IntersectHandler = nullptr},
};
static_assert(std::size(kPins) == kBridgePin + 1);

const GUID kCategories[] = {KSCATEGORY_AUDIO};
const KSFILTER_DESCRIPTOR kFilter = {
    .Dispatch = nullptr,
    .AutomationTable = nullptr,
    .Version = KSFILTER_DESCRIPTOR_VERSION,
    .Flags = 0,
    .ReferenceGuid = nullptr,
    .PinDescriptorsCount = static_cast<ULONG>(std::size(kPins)),
    .PinDescriptorSize = sizeof(KSPIN_DESCRIPTOR_EX),
    .PinDescriptors = kPins,
    .CategoriesCount = 1,
    .Categories = kCategories,
    .NodeDescriptorsCount = 0,
    .NodeDescriptorSize = sizeof(KSNODE_DESCRIPTOR),
    .NodeDescriptors = nullptr,
    .ConnectionsCount = 0,
    .Connections = nullptr,
    .ComponentId = nullptr,
};

NTSTATUS Start(PKSDEVICE device, PIRP, PCM_RESOURCE_LIST, PCM_RESOURCE_LIST)
{
    PKSFILTERFACTORY factory = nullptr;
    NTSTATUS status = KsCreateFilterFactory(device->FunctionalDeviceObject, &kFilter, kReference,
                                            nullptr, 0, nullptr, nullptr, &factory);
    if (NT_SUCCESS(status)) {
        status = KsFilterFactorySetDeviceClassesState(factory, TRUE);
    }
    return status;
}

KSDEVICE_DISPATCH DeviceDispatch()
{
    KSDEVICE_DISPATCH dispatch{};
    dispatch.Start = Start;
    return dispatch;
}
const KSDEVICE_DISPATCH kDeviceDispatch = DeviceDispatch();
const KSDEVICE_DESCRIPTOR kDeviceDescriptor = {&kDeviceDispatch,   0, nullptr,
                                               MIN_DEV_VER_FOR_QI, 0, 0};

NTSTATUS PinDriverEntry(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath)
{
    Driver() = PinDriverState{};
    return KsInitializeDriver(driverObject, registryPath, &kDeviceDescriptor);
}

std::vector<uint8_t> Pcm()
{
    return Platform::Ks::PcmFormatBytes(2, 48000, 16, false);
}

class KsPinTest : public Platform::Kernel::Testing::KernelTest
{
protected:
    void SetUp() override
    {
        KernelTest::SetUp();
        driver_ = Platform::Ks::Driver::Load(PinDriverEntry);
        ASSERT_NE(driver_, nullptr);
        device_ = driver_->PlugIn({u"USB\\VID_1234&PID_5678&MI_00"});
        ASSERT_NE(device_, nullptr);
        ASSERT_EQ(device_->Send(PnpRequest::Start), STATUS_SUCCESS);
        filter_ = FilterHandle::Open(process_, *device_,
                                     device_->FindInterface(KSCATEGORY_AUDIO, kReference));
        ASSERT_NE(filter_, nullptr);
    }

    void TearDown() override
    {
        filter_.reset();
        driver_.reset();
        KernelTest::TearDown();
    }

    std::unique_ptr<PinHandle> OpenPin(ULONG id, NTSTATUS expected = STATUS_SUCCESS,
                                       const std::vector<uint8_t>& format = Pcm())
    {
        NTSTATUS status = STATUS_UNSUCCESSFUL;
        auto pin = PinHandle::Open(*filter_, id, format, &status);
        EXPECT_EQ(status, expected);
        return pin;
    }

    UserProcess process_;
    std::unique_ptr<Platform::Ks::Driver> driver_;
    Platform::Ks::Device* device_ = nullptr;
    std::unique_ptr<FilterHandle> filter_;
};

TEST_F(KsPinTest, StatesPassThroughTheIntermediateOnesAndARefusalStopsTheWalk)
{
    auto pin = OpenPin(kRenderPin);
    ASSERT_NE(pin, nullptr);
    Driver().calls.clear();
    EXPECT_EQ(pin->SetState(KSSTATE_RUN), STATUS_SUCCESS);
    EXPECT_EQ(pin->State(), KSSTATE_RUN);
    EXPECT_EQ(pin->SetState(KSSTATE_STOP), STATUS_SUCCESS);
    const std::vector<std::string> walk = {"STOP->ACQUIRE", "ACQUIRE->PAUSE", "PAUSE->RUN",
                                           "RUN->PAUSE",    "PAUSE->ACQUIRE", "ACQUIRE->STOP"};
    EXPECT_EQ(Driver().calls, walk);

    Driver().refuseRun = STATUS_UNSUCCESSFUL;
    EXPECT_EQ(pin->SetState(KSSTATE_RUN), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(pin->State(), KSSTATE_PAUSE);
    EXPECT_EQ(pin->Pin()->DeviceState, KSSTATE_PAUSE);
    EXPECT_EQ(pin->SetState(static_cast<KSSTATE>(7)), STATUS_INVALID_PARAMETER);
}

TEST_F(KsPinTest, PinFactoriesKeepTheirInstanceLimitsRangesAndCommunication)
{
    auto first = OpenPin(kRenderPin);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(OpenPin(kRenderPin, STATUS_INSUFFICIENT_RESOURCES), nullptr);
    KsAcquireControl(filter_->Filter());
    EXPECT_EQ(KsFilterGetChildPinCount(filter_->Filter(), kRenderPin), 1u);
    KsReleaseControl(filter_->Filter());
    first.reset();
    EXPECT_NE(OpenPin(kRenderPin), nullptr);

    EXPECT_EQ(OpenPin(kBridgePin, STATUS_INVALID_DEVICE_REQUEST), nullptr);
    EXPECT_EQ(OpenPin(7, STATUS_INVALID_PARAMETER), nullptr);
    std::vector<uint8_t> analog = Pcm();
    KSDATAFORMAT header;
    std::memcpy(&header, analog.data(), sizeof header);
    header.SubFormat = KSDATAFORMAT_SUBTYPE_ANALOG;
    std::memcpy(analog.data(), &header, sizeof header);
    EXPECT_EQ(OpenPin(kCapturePin, STATUS_NO_MATCH, analog), nullptr);

    Driver().refuseFormat = STATUS_NO_MATCH;
    EXPECT_EQ(OpenPin(kCapturePin, STATUS_NO_MATCH), nullptr);
    Driver().refuseFormat = STATUS_SUCCESS;
    Driver().calls.clear();
    EXPECT_NE(OpenPin(kCapturePin), nullptr);
    ASSERT_GE(Driver().calls.size(), 2u);
    EXPECT_EQ(Driver().calls[0], "Format first range 82");
    EXPECT_EQ(Driver().calls[1], "Create 1");
}

TEST_F(KsPinTest, CreateParametersThatLieAreRefused)
{
    const std::vector<uint8_t> good = [] {
        KSPIN_CONNECT connect{};
        connect.Interface = {KSINTERFACESETID_Standard, 0, 0};
        connect.Medium = {KSMEDIUMSETID_Standard, 0, 0};
        std::vector<uint8_t> bytes(sizeof connect);
        std::memcpy(bytes.data(), &connect, sizeof connect);
        const std::vector<uint8_t> format = Pcm();
        bytes.insert(bytes.end(), format.begin(), format.end());
        return bytes;
    }();
    auto withFormatSize = [&](ULONG size) {
        std::vector<uint8_t> bytes = good;
        std::memcpy(bytes.data() + sizeof(KSPIN_CONNECT), &size, sizeof size);
        return bytes;
    };
    auto withInterface = [&](ULONG id) {
        std::vector<uint8_t> bytes = good;
        std::memcpy(bytes.data() + offsetof(KSPIN_CONNECT, Interface.Id), &id, sizeof id);
        return bytes;
    };
    struct Case
    {
        const char* name;
        std::vector<uint8_t> parameters;
        NTSTATUS status;
    };
    const Case cases[] = {
        {"cut before the format", std::vector<uint8_t>(good.begin(), good.begin() + 40),
         STATUS_INVALID_BUFFER_SIZE},
        {"format longer than sent", withFormatSize(4096), STATUS_INVALID_BUFFER_SIZE},
        {"format shorter than its header", withFormatSize(12), STATUS_INVALID_BUFFER_SIZE},
        {"unknown interface", withInterface(9), STATUS_NO_MATCH},
        {"as sent", good, STATUS_SUCCESS},
    };
    for (const Case& c : cases) {
        NTSTATUS status = STATUS_PENDING;
        auto pin = PinHandle::OpenRaw(*filter_, c.parameters, &status);
        EXPECT_EQ(status, c.status) << c.name;
        EXPECT_EQ(pin != nullptr, NT_SUCCESS(c.status)) << c.name;
    }
}

TEST_F(KsPinTest, FramesCompleteInSubmissionOrderWhateverOrderTheirClonesGo)
{
    auto pin = OpenPin(kRenderPin);
    ASSERT_NE(pin, nullptr);
    ASSERT_EQ(pin->SetState(KSSTATE_RUN), STATUS_SUCCESS);
    for (uint8_t i = 1; i <= 3; ++i) {
        EXPECT_EQ(pin->Write(std::vector<uint8_t>(16, i)), STATUS_PENDING);
    }
    ASSERT_EQ(Driver().clones.size(), 3u);
    EXPECT_EQ(Driver().processIrql, DISPATCH_LEVEL);
    EXPECT_EQ(KsPinGetLeadingEdgeStreamPointer(pin->Pin(), KSSTREAM_POINTER_STATE_LOCKED), nullptr);
    PKSSTREAM_POINTER trailing =
        KsPinGetTrailingEdgeStreamPointer(pin->Pin(), KSSTREAM_POINTER_STATE_LOCKED);
    ASSERT_NE(trailing, nullptr);
    EXPECT_EQ(trailing->OffsetIn.Data[0], 1);

    KsStreamPointerDelete(Driver().clones[2]);
    KsStreamPointerDelete(Driver().clones[1]);
    EXPECT_TRUE(pin->Collect().empty());  // the first frame still holds the others back
    KsStreamPointerDelete(Driver().clones[0]);
    Driver().clones.clear();
    const auto done = pin->Collect();
    ASSERT_EQ(done.size(), 3u);
    for (size_t i = 0; i < done.size(); ++i) {
        EXPECT_EQ(done[i].status, STATUS_SUCCESS);
        EXPECT_EQ(done[i].header.DataUsed, 16u);
        EXPECT_EQ(done[i].data[0], i + 1);
    }
    EXPECT_EQ(pin->OutOfOrderCompletions(), 0u);
}

TEST_F(KsPinTest, StopAndCloseCompleteEveryFrameAndStoppedPinsRefuseFrames)
{
    auto pin = OpenPin(kRenderPin);
    ASSERT_NE(pin, nullptr);
    EXPECT_EQ(pin->Write(std::vector<uint8_t>(8, 1)), STATUS_INVALID_DEVICE_STATE);
    ASSERT_EQ(pin->SetState(KSSTATE_PAUSE), STATUS_SUCCESS);
    EXPECT_EQ(pin->Write(std::vector<uint8_t>(8, 2)), STATUS_PENDING);  // queued, not processed
    EXPECT_EQ(Driver().processCalls, 0);
    ASSERT_EQ(pin->SetState(KSSTATE_STOP), STATUS_SUCCESS);
    auto done = pin->Collect();
    ASSERT_EQ(done.size(), 2u);
    EXPECT_EQ(done[0].status, STATUS_INVALID_DEVICE_STATE);
    EXPECT_EQ(done[1].status, STATUS_CANCELLED);

    ASSERT_EQ(pin->SetState(KSSTATE_RUN), STATUS_SUCCESS);
    EXPECT_EQ(pin->Write(std::vector<uint8_t>(8, 3)), STATUS_PENDING);  // held by a clone
    ASSERT_EQ(pin->SetState(KSSTATE_PAUSE), STATUS_SUCCESS);
    EXPECT_EQ(pin->Write(std::vector<uint8_t>(8, 4)), STATUS_PENDING);  // queued only
    EXPECT_EQ(pin->PendingFrames(), 2u);
    EXPECT_EQ(pin->Close(), STATUS_SUCCESS);
    EXPECT_EQ(pin->PendingFrames(), 2u);
    done = pin->Collect();
    ASSERT_EQ(done.size(), 2u);
    EXPECT_EQ(done[0].status, STATUS_SUCCESS);  // the minidriver had taken it
    EXPECT_EQ(done[1].status, STATUS_CANCELLED);
}

TEST_F(KsPinTest, CaptureFramesComeBackFilledWithTheirDataUsed)
{
    auto pin = OpenPin(kCapturePin);
    ASSERT_NE(pin, nullptr);
    Driver().cloneOnProcess = false;
    ASSERT_EQ(pin->SetState(KSSTATE_RUN), STATUS_SUCCESS);
    EXPECT_EQ(pin->Read(64), STATUS_PENDING);
    EXPECT_EQ(pin->Write({1, 2}), STATUS_INVALID_DEVICE_REQUEST);
    EXPECT_EQ(Driver().processCalls, 0);  // capture pins are not processed on arrival
    KsPinAttemptProcessing(pin->Pin(), TRUE);
    EXPECT_EQ(Driver().processCalls, 0);  // asynchronous: from a DPC
    Platform::Kernel::RunPending();
    EXPECT_EQ(Driver().processCalls, 1);
    const auto done = pin->Collect();
    ASSERT_EQ(done.size(), 2u);
    EXPECT_EQ(done[0].header.DataUsed, 64u);
    for (ULONG i = 0; i < 64; ++i) {
        EXPECT_EQ(done[0].data[i], i);
    }
    EXPECT_EQ(done[1].status, STATUS_INVALID_DEVICE_REQUEST);
}

TEST_F(KsPinTest, StreamHeadersThatLieAreRefused)
{
    auto pin = OpenPin(kRenderPin);
    ASSERT_NE(pin, nullptr);
    ASSERT_EQ(pin->SetState(KSSTATE_RUN), STATUS_SUCCESS);
    void* data = process_.Allocate(64);
    uint8_t outside[64] = {};
    struct Case
    {
        const char* name;
        ULONG size;
        ULONG extent;
        ULONG used;
        void* data;
        ULONG outputSize;
        NTSTATUS status;
    };
    const ULONG h = sizeof(KSSTREAM_HEADER);
    const Case cases[] = {
        {"used beyond the extent", h, 64, 65, data, h, STATUS_INVALID_PARAMETER},
        {"data past its buffer", h, 128, 128, data, h, STATUS_ACCESS_VIOLATION},
        {"data outside the process", h, 64, 64, outside, h, STATUS_ACCESS_VIOLATION},
        {"no data", h, 64, 64, nullptr, h, STATUS_ACCESS_VIOLATION},
        {"header size not the buffer's", h + 8, 64, 64, data, h, STATUS_INVALID_BUFFER_SIZE},
        {"buffer shorter than a header", h, 64, 64, data, h - 8, STATUS_INVALID_BUFFER_SIZE},
        {"frame beyond the bound", h, 0x7FFFFFFF, 64, data, h, STATUS_INVALID_PARAMETER},
    };
    for (const Case& c : cases) {
        KSSTREAM_HEADER header{};
        header.Size = c.size;
        header.FrameExtent = c.extent;
        header.DataUsed = c.used;
        header.Data = c.data;
        EXPECT_EQ(pin->SubmitHeader(IOCTL_KS_WRITE_STREAM, header, c.outputSize).status, c.status)
            << c.name;
    }
    EXPECT_TRUE(Driver().clones.empty());
    process_.Free(data);
}

TEST_F(KsPinTest, AFrameWhoseDataFindsNoSystemAddressFailsAndTheNextIsServed)
{
    auto pin = OpenPin(kRenderPin);
    ASSERT_NE(pin, nullptr);
    ASSERT_EQ(pin->SetState(KSSTATE_RUN), STATUS_SUCCESS);
    Platform::Kernel::FailSystemAddressMappings(1);
    EXPECT_EQ(pin->Write(std::vector<uint8_t>(16, 7)), STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(Driver().processCalls, 0);
    EXPECT_EQ(pin->Write(std::vector<uint8_t>(16, 8)), STATUS_PENDING);
    EXPECT_EQ(Driver().processCalls, 1);
}

TEST_F(KsPinTest, TheReferenceClockIsThePerformanceCounterWhenTheClientGaveOne)
{
    auto pin = OpenPin(kRenderPin);
    ASSERT_NE(pin, nullptr);
    Platform::Kernel::AdvanceTime(std::chrono::milliseconds(1500));
    PIKSREFERENCECLOCK clock = nullptr;
    ASSERT_EQ(KsPinGetReferenceClockInterface(pin->Pin(), &clock), STATUS_SUCCESS);
    LARGE_INTEGER frequency;
    const LONGLONG counter = KeQueryPerformanceCounter(&frequency).QuadPart;
    EXPECT_EQ(clock->GetTime(), counter * 10'000'000 / frequency.QuadPart);
    clock->Release();
    pin.reset();

    NTSTATUS status = STATUS_UNSUCCESSFUL;
    auto unclocked = PinHandle::Open(*filter_, kRenderPin, Pcm(), &status, false);
    ASSERT_NE(unclocked, nullptr);
    EXPECT_EQ(KsPinGetReferenceClockInterface(unclocked->Pin(), &clock), STATUS_DEVICE_NOT_READY);
    EXPECT_EQ(clock, nullptr);
}

TEST_F(KsPinTest, ClosingTheFilterFirstClosesItsPins)
{
    auto pin = OpenPin(kRenderPin);
    ASSERT_NE(pin, nullptr);
    ASSERT_EQ(pin->SetState(KSSTATE_PAUSE), STATUS_SUCCESS);
    EXPECT_EQ(pin->Write(std::vector<uint8_t>(8, 1)), STATUS_PENDING);
    EXPECT_EQ(filter_->Close(), STATUS_SUCCESS);
    const auto done = pin->Collect();
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0].status, STATUS_CANCELLED);
    EXPECT_EQ(pin->Pin(), nullptr);
}

}  // namespace
