// Pins under the verifier: a pin's bag and its filter's pin list are guarded by the filter's
// control mutex, which the pin shares and the layer holds around the minidriver's Create, Close
// and state changes; the pin list walks and the stream entry points stop at the wrong IRQL.
#include <KernelTestApi.h>
#include <KernelVerifierApi.h>
#include <KsHostApi.h>
#include <KsPinHandle.h>
#include <gtest/gtest.h>
#include <ksmedia.h>

#include <functional>
#include <string>
#include <vector>

#include "KernelTestFixture.h"

using Platform::Kernel::BugCheckInfo;
using Platform::Kernel::ExpectBugCheck;
using Platform::Kernel::UserProcess;
using Platform::Ks::FilterHandle;
using Platform::Ks::PinHandle;
using Platform::Ks::PnpRequest;

namespace {

constexpr ULONG kTag = Platform::Kernel::MakeTag("KsPv");
constexpr char16_t kReference[] = u"PINVERIFIER";

// What the minidriver found in its dispatches: whether the filter's control mutex was held, and
// whether the bag and the pin list could be used without taking it again.
struct PinDriverState
{
    std::vector<std::string> heldIn;
    std::vector<std::string> notHeldIn;
    ULONG countInCreate = 0;
};

PinDriverState& State()
{
    static PinDriverState state;
    return state;
}

void Record(PKSPIN pin, const char* dispatch)
{
    PKSFILTER filter = KsPinGetParentFilter(pin);
    // The layer holds the mutex: the bag and the list need no acquisition of the minidriver's.
    PVOID item = ExAllocatePoolWithTag(NonPagedPoolNx, 8, kTag);
    const bool held = item != nullptr && NT_SUCCESS(KsAddItemToObjectBag(pin->Bag, item, nullptr));
    if (std::string(dispatch) == "Create") {
        State().countInCreate = KsFilterGetChildPinCount(filter, pin->Id);
    }
    (held ? State().heldIn : State().notHeldIn).push_back(dispatch);
}

NTSTATUS PinCreate(PKSPIN pin, PIRP)
{
    Record(pin, "Create");
    return STATUS_SUCCESS;
}

NTSTATUS PinClose(PKSPIN pin, PIRP)
{
    Record(pin, "Close");
    return STATUS_SUCCESS;
}

NTSTATUS PinSetState(PKSPIN pin, KSSTATE, KSSTATE)
{
    Record(pin, "SetDeviceState");
    return STATUS_SUCCESS;
}

NTSTATUS PinProcess(PKSPIN)
{
    return STATUS_SUCCESS;
}

const KSPIN_DISPATCH kPinDispatch = {
    .Create = PinCreate,
    .Close = PinClose,
    .Process = PinProcess,
    .Reset = nullptr,
    .SetDataFormat = nullptr,
    .SetDeviceState = PinSetState,
    .Connect = nullptr,
    .Disconnect = nullptr,
    .Clock = nullptr,
    .Allocator = nullptr,
};

const KSDATARANGE kPcmRange = {{sizeof(KSDATARANGE), 0, 0, 0, KSDATAFORMAT_TYPE_AUDIO,
                                KSDATAFORMAT_SUBTYPE_PCM, KSDATAFORMAT_SPECIFIER_WAVEFORMATEX}};
const PKSDATARANGE kPcmRanges[] = {const_cast<PKSDATARANGE>(&kPcmRange)};

const KSPIN_DESCRIPTOR_EX kPins[] = {{
    .Dispatch = &kPinDispatch,
    .AutomationTable = nullptr,
    .PinDescriptor = {.InterfacesCount = 0,
                      .Interfaces = nullptr,
                      .MediumsCount = 0,
                      .Mediums = nullptr,
                      .DataRangesCount = 1,
                      .DataRanges = kPcmRanges,
                      .DataFlow = KSPIN_DATAFLOW_IN,
                      .Communication = KSPIN_COMMUNICATION_SINK,
                      .Category = &KSCATEGORY_AUDIO,
                      .Name = nullptr,
                      .Reserved = 0},
    .Flags = KSPIN_FLAG_DISPATCH_LEVEL_PROCESSING,
    .InstancesPossible = 2,
    .InstancesNecessary = 0,
    .AllocatorFraming = nullptr,
    .IntersectHandler = nullptr,
}};

const GUID kCategories[] = {KSCATEGORY_AUDIO};
const KSFILTER_DESCRIPTOR kFilter = {
    .Dispatch = nullptr,
    .AutomationTable = nullptr,
    .Version = KSFILTER_DESCRIPTOR_VERSION,
    .Flags = 0,
    .ReferenceGuid = nullptr,
    .PinDescriptorsCount = 1,
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
    return NT_SUCCESS(status) ? KsFilterFactorySetDeviceClassesState(factory, TRUE) : status;
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
    State() = PinDriverState{};
    return KsInitializeDriver(driverObject, registryPath, &kDeviceDescriptor);
}

class KsPinVerifierTest : public Platform::Kernel::Testing::KernelTest
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
        NTSTATUS status = STATUS_UNSUCCESSFUL;
        pin_ = PinHandle::Open(*filter_, 0, Platform::Ks::PcmFormatBytes(2, 48000, 16, false),
                               &status);
        ASSERT_EQ(status, STATUS_SUCCESS);
        ASSERT_NE(pin_, nullptr);
    }

    void TearDown() override
    {
        pin_.reset();
        filter_.reset();
        driver_.reset();
        KernelTest::TearDown();
    }

    PKSPIN Pin() const { return pin_->Pin(); }
    PKSFILTER Filter() const { return filter_->Filter(); }

    UserProcess process_;
    std::unique_ptr<Platform::Ks::Driver> driver_;
    Platform::Ks::Device* device_ = nullptr;
    std::unique_ptr<FilterHandle> filter_;
    std::unique_ptr<PinHandle> pin_;
};

void ExpectVerifierStop(const std::optional<BugCheckInfo>& stop, ULONG_PTR rule,
                        const std::string& text)
{
    ASSERT_TRUE(stop.has_value()) << "no stop, expected: " << text;
    EXPECT_EQ(stop->parameters[0], rule);
    EXPECT_NE(stop->reason.find(text), std::string::npos) << stop->reason;
}

TEST_F(KsPinVerifierTest, CreateCloseAndStateChangesRunUnderTheFilterControlMutex)
{
    EXPECT_EQ(pin_->SetState(KSSTATE_ACQUIRE), STATUS_SUCCESS);
    pin_.reset();
    EXPECT_EQ(State().heldIn,
              (std::vector<std::string>{"Create", "SetDeviceState", "SetDeviceState", "Close"}));
    EXPECT_TRUE(State().notHeldIn.empty());
    EXPECT_EQ(State().countInCreate, 1u);  // the pin being created already holds its instance
}

TEST_F(KsPinVerifierTest, AcquiringAPinsControlTakesItsFiltersMutex)
{
    PVOID item = ExAllocatePoolWithTag(NonPagedPoolNx, 8, kTag);
    ASSERT_NE(item, nullptr);
    KsAcquireControl(Pin());
    EXPECT_EQ(KsAddItemToObjectBag(Filter()->Bag, item, nullptr), STATUS_SUCCESS);
    EXPECT_EQ(KsFilterGetFirstChildPin(Filter(), 0), Pin());
    EXPECT_EQ(KsPinGetNextSiblingPin(Pin()), nullptr);
    KsReleaseControl(Pin());
}

TEST_F(KsPinVerifierTest, PinBagAndPinListRequireTheFilterControlMutex)
{
    PVOID item = ExAllocatePoolWithTag(NonPagedPoolNx, 8, kTag);
    ASSERT_NE(item, nullptr);
    const std::pair<const char*, std::function<void()>> cases[] = {
        {"KsAddItemToObjectBag", [&] { KsAddItemToObjectBag(Pin()->Bag, item, nullptr); }},
        {"KsRemoveItemFromObjectBag", [&] { KsRemoveItemFromObjectBag(Pin()->Bag, item, FALSE); }},
        {"KsFilterGetFirstChildPin", [&] { KsFilterGetFirstChildPin(Filter(), 0); }},
        {"KsPinGetNextSiblingPin", [&] { KsPinGetNextSiblingPin(Pin()); }},
        {"KsFilterGetChildPinCount", [&] { KsFilterGetChildPinCount(Filter(), 0); }},
    };
    for (const auto& [name, call] : cases) {
        SCOPED_TRACE(name);
        ExpectVerifierStop(ExpectBugCheck(call), Platform::Kernel::kRuleKsMutexNotHeld,
                           std::string("kernel streaming: ") + name +
                               " called without holding the KS filter control mutex");
    }
    ExFreePoolWithTag(item, kTag);
}

TEST_F(KsPinVerifierTest, PinEntryPointsStopAboveTheirIrql)
{
    struct Case
    {
        const char* name;
        KIRQL irql;
        std::function<void()> call;
    };
    const Case cases[] = {
        {"KsFilterGetChildPinCount", DISPATCH_LEVEL,
         [&] { KsFilterGetChildPinCount(Filter(), 0); }},
        {"KsFilterGetFirstChildPin", DISPATCH_LEVEL,
         [&] { KsFilterGetFirstChildPin(Filter(), 0); }},
        {"KsPinGetNextSiblingPin", DISPATCH_LEVEL, [&] { KsPinGetNextSiblingPin(Pin()); }},
        {"KsAcquireControl", DISPATCH_LEVEL, [&] { KsAcquireControl(Pin()); }},
        {"KsPinAttemptProcessing", HIGH_LEVEL, [&] { KsPinAttemptProcessing(Pin(), TRUE); }},
        {"KsPinGetLeadingEdgeStreamPointer", HIGH_LEVEL,
         [&] { KsPinGetLeadingEdgeStreamPointer(Pin(), KSSTREAM_POINTER_STATE_LOCKED); }},
        {"KsPinGetTrailingEdgeStreamPointer", HIGH_LEVEL,
         [&] { KsPinGetTrailingEdgeStreamPointer(Pin(), KSSTREAM_POINTER_STATE_UNLOCKED); }},
        {"KsPinGetFirstCloneStreamPointer", HIGH_LEVEL,
         [&] { KsPinGetFirstCloneStreamPointer(Pin()); }},
        // Refused before the pointer is looked at.
        {"KsStreamPointerSetStatusCode", HIGH_LEVEL,
         [&] { KsStreamPointerSetStatusCode(nullptr, STATUS_CANCELLED); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto stop = ExpectBugCheck([&] {
            KIRQL old;
            KeRaiseIrql(c.irql, &old);
            c.call();
        });
        ASSERT_TRUE(stop.has_value());
        EXPECT_EQ(stop->code, Platform::Kernel::kIrqlNotLessOrEqual);
        EXPECT_EQ(stop->reason.rfind(c.name, 0), 0u) << stop->reason;
    }
}

}  // namespace
