// Property and event requests from user mode: what kernel streaming refuses before a handler
// runs, what reaches the handler, and how events reach the user's event objects.
#include <KernelTestApi.h>
#include <KsHostApi.h>
#include <gtest/gtest.h>

#include <cstring>

#include "KernelTestFixture.h"
#include "KsTestDriver.h"

using Platform::Kernel::UserProcess;
using Platform::Ks::FilterHandle;
using Platform::Ks::PnpRequest;

namespace {

std::vector<uint8_t> Bytes(ULONGLONG value, size_t size = 8)
{
    std::vector<uint8_t> bytes(size);
    std::memcpy(bytes.data(), &value, std::min(size, sizeof value));
    return bytes;
}

class KsRequestTest : public Platform::Kernel::Testing::KernelTest
{
protected:
    void SetUp() override
    {
        KernelTest::SetUp();
        driver_ = Platform::Ks::Driver::Load(KsTestDriver::DriverEntry);
        ASSERT_NE(driver_, nullptr);
        device_ = driver_->PlugIn({u"USB\\VID_1234&PID_5678&MI_00"});
        ASSERT_NE(device_, nullptr);
        ASSERT_EQ(device_->Send(PnpRequest::Start), STATUS_SUCCESS);
        link_ = device_->FindInterface(KSCATEGORY_AUDIO, KsTestDriver::kReference);
        ASSERT_FALSE(link_.empty());
    }

    void TearDown() override
    {
        driver_.reset();
        KernelTest::TearDown();
    }

    std::unique_ptr<FilterHandle> Open(UserProcess& process)
    {
        NTSTATUS status = STATUS_UNSUCCESSFUL;
        auto handle = FilterHandle::Open(process, *device_, link_, &status);
        EXPECT_EQ(status, STATUS_SUCCESS);
        return handle;
    }

    std::unique_ptr<Platform::Ks::Driver> driver_;
    Platform::Ks::Device* device_ = nullptr;
    std::u16string link_;
};

TEST_F(KsRequestTest, MalformedPropertyRequestsAreRefusedBeforeTheHandler)
{
    UserProcess process;
    auto handle = Open(process);
    ASSERT_NE(handle, nullptr);
    const std::vector<uint8_t> tail = Bytes(7);
    struct Case
    {
        const char* name;
        std::vector<uint8_t> property;
        ULONG dataSize;
        NTSTATUS status;
        ULONG_PTR information;
    };
    using Platform::Ks::PropertyBytes;
    const Case cases[] = {
        {"unknown set", PropertyBytes(KsTestDriver::kUnknownSet, 1, KSPROPERTY_TYPE_GET, tail), 8,
         STATUS_PROPSET_NOT_FOUND, 0},
        {"unknown id", PropertyBytes(KsTestDriver::kPropertySet, 9, KSPROPERTY_TYPE_GET, tail), 8,
         STATUS_NOT_FOUND, 0},
        {"shorter than a KSPROPERTY", std::vector<uint8_t>(16, 0), 8, STATUS_INVALID_BUFFER_SIZE,
         0},
        {"property below its minimum",
         PropertyBytes(KsTestDriver::kPropertySet, KsTestDriver::kValueId, KSPROPERTY_TYPE_GET), 8,
         STATUS_INVALID_BUFFER_SIZE, 0},
        {"no data buffer",
         PropertyBytes(KsTestDriver::kPropertySet, KsTestDriver::kValueId, KSPROPERTY_TYPE_GET,
                       tail),
         0, STATUS_BUFFER_OVERFLOW, 8},
        {"data below its minimum",
         PropertyBytes(KsTestDriver::kPropertySet, KsTestDriver::kValueId, KSPROPERTY_TYPE_GET,
                       tail),
         4, STATUS_BUFFER_TOO_SMALL, 8},
        {"get of a set-only item",
         PropertyBytes(KsTestDriver::kPropertySet, KsTestDriver::kSetOnlyId, KSPROPERTY_TYPE_GET),
         4, STATUS_INVALID_DEVICE_REQUEST, 0},
        {"neither get nor set",
         PropertyBytes(KsTestDriver::kPropertySet, KsTestDriver::kValueId, 0, tail), 8,
         STATUS_INVALID_PARAMETER, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto result = handle->DeviceIoControl(IOCTL_KS_PROPERTY, c.property, c.dataSize);
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.information, c.information);
    }
    EXPECT_EQ(KsTestDriver::State().handlerCalls, 0);
}

TEST_F(KsRequestTest, HandlersSeeTheRequestAndGetsReturnTheirData)
{
    for (bool narrow : {false, true}) {
        SCOPED_TRACE(narrow);
        UserProcess process(narrow);
        auto handle = Open(process);
        ASSERT_NE(handle, nullptr);
        const auto set = handle->SetProperty(KsTestDriver::kPropertySet, KsTestDriver::kValueId,
                                             Bytes(0x1122334455667788ULL), Bytes(42));
        EXPECT_EQ(set.status, STATUS_SUCCESS);
        EXPECT_EQ(KsTestDriver::State().lastPropertyTail, 42u);
        EXPECT_EQ(KsTestDriver::State().lastCallerWas32Bit, narrow);

        const auto get =
            handle->GetProperty(KsTestDriver::kPropertySet, KsTestDriver::kValueId, 16, Bytes(0));
        EXPECT_EQ(get.status, STATUS_SUCCESS);
        EXPECT_EQ(get.information, 8u);
        EXPECT_EQ(std::vector<uint8_t>(get.data.begin(), get.data.begin() + 8),
                  Bytes(0x1122334455667788ULL));
    }

    // A failing get leaves the caller's buffer as it was.
    UserProcess process;
    auto handle = Open(process);
    const auto failed = handle->DeviceIoControl(
        IOCTL_KS_PROPERTY,
        Platform::Ks::PropertyBytes(KsTestDriver::kPropertySet, KsTestDriver::kFailingGetId,
                                    KSPROPERTY_TYPE_GET),
        8, Bytes(0x0102030405060708ULL));
    EXPECT_EQ(failed.status, STATUS_UNSUCCESSFUL);
    EXPECT_EQ(failed.data, Bytes(0x0102030405060708ULL));
}

// A handle's requests of one size may run in the same user memory, one after the other: each
// still starts from what its caller gave (zero past that), never from what an earlier one left.
TEST_F(KsRequestTest, EachRequestStartsFromWhatItsCallerGave)
{
    UserProcess process;
    auto handle = Open(process);
    ASSERT_NE(handle, nullptr);
    using Platform::Ks::PropertyBytes;
    // A failing get leaves its buffer as it was before the request.
    const auto failing =
        PropertyBytes(KsTestDriver::kPropertySet, KsTestDriver::kFailingGetId, KSPROPERTY_TYPE_GET);
    struct Case
    {
        const char* name;
        std::vector<uint8_t> given;
        std::vector<uint8_t> back;
    };
    const Case cases[] = {
        {"filled", Bytes(0x0102030405060708ULL), Bytes(0x0102030405060708ULL)},
        {"nothing given", {}, std::vector<uint8_t>(8, 0)},
        {"two bytes given", {0xAA, 0xBB}, {0xAA, 0xBB, 0, 0, 0, 0, 0, 0}},
        {"filled again", Bytes(0xF0E0D0C0B0A09080ULL), Bytes(0xF0E0D0C0B0A09080ULL)},
        {"nothing given again", {}, std::vector<uint8_t>(8, 0)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto result = handle->DeviceIoControl(IOCTL_KS_PROPERTY, failing, 8, c.given);
        EXPECT_EQ(result.status, STATUS_UNSUCCESSFUL);
        EXPECT_EQ(result.data, c.back);
    }

    // A get of 8 bytes into 16: the last 8 are the caller's zeros, after requests that wrote
    // all 16 and one whose property carried other bytes.
    ASSERT_EQ(handle
                  ->SetProperty(KsTestDriver::kPropertySet, KsTestDriver::kValueId,
                                Bytes(0x1122334455667788ULL), Bytes(42))
                  .status,
              STATUS_SUCCESS);
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        const auto over = handle->DeviceIoControl(
            IOCTL_KS_PROPERTY,
            PropertyBytes(KsTestDriver::kPropertySet, KsTestDriver::kValueId, KSPROPERTY_TYPE_GET,
                          Bytes(0)),
            16, std::vector<uint8_t>(16, 0xEE));
        ASSERT_EQ(over.status, STATUS_SUCCESS);
        EXPECT_EQ(std::vector<uint8_t>(over.data.begin() + 8, over.data.end()),
                  std::vector<uint8_t>(8, 0xEE));
        const auto get = handle->GetProperty(KsTestDriver::kPropertySet, KsTestDriver::kValueId, 16,
                                             Bytes(round));
        ASSERT_EQ(get.status, STATUS_SUCCESS);
        ASSERT_EQ(get.information, 8u);
        EXPECT_EQ(get.data, (std::vector<uint8_t>{0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11, 0,
                                                  0, 0, 0, 0, 0, 0, 0}));
        EXPECT_EQ(KsTestDriver::State().lastPropertyTail, static_cast<ULONG>(round));
    }
}

TEST_F(KsRequestTest, EnabledEventsSignalTheUsersEventUntilDisabledOrClosed)
{
    for (bool narrow : {false, true}) {
        SCOPED_TRACE(narrow);
        UserProcess process(narrow);
        auto handle = Open(process);
        ASSERT_NE(handle, nullptr);
        HANDLE event = process.CreateEvent(false, false);
        void* cookie = nullptr;
        ASSERT_EQ(handle->EnableEvent(KsTestDriver::kEventSet, 0, event, &cookie), STATUS_SUCCESS);
        EXPECT_EQ(Platform::Kernel::LiveObjectCount(), 1u);
        process.CloseHandle(event);  // the enabled event keeps the object alive
        EXPECT_EQ(Platform::Kernel::LiveObjectCount(), 1u);

        HANDLE second = process.CreateEvent(false, false);
        ASSERT_EQ(handle->EnableEvent(KsTestDriver::kEventSet, 0, second, &cookie), STATUS_SUCCESS);
        KsGenerateEvents(handle->Filter(), &KsTestDriver::kEventSet, 0, 0, nullptr, nullptr,
                         nullptr);
        EXPECT_TRUE(process.ConsumeEvent(second));
        KsGenerateEvents(handle->Filter(), &KsTestDriver::kPropertySet, 0, 0, nullptr, nullptr,
                         nullptr);
        EXPECT_FALSE(process.ConsumeEvent(second));

        EXPECT_EQ(handle->DisableEvent(cookie), STATUS_SUCCESS);
        KsGenerateEvents(handle->Filter(), &KsTestDriver::kEventSet, 0, 0, nullptr, nullptr,
                         nullptr);
        EXPECT_FALSE(process.ConsumeEvent(second));
        handle.reset();
        EXPECT_EQ(Platform::Kernel::LiveObjectCount(), 1u);  // only the open handle "second"
    }
    EXPECT_EQ(Platform::Kernel::LiveObjectCount(), 0u);
}

TEST_F(KsRequestTest, EventEnableChecksTheHandleAndTheItem)
{
    UserProcess process;
    auto handle = Open(process);
    ASSERT_NE(handle, nullptr);
    struct Case
    {
        const char* name;
        GUID set;
        ULONG id;
        HANDLE event;
        NTSTATUS status;
    };
    const Case cases[] = {
        {"no modify access", KsTestDriver::kEventSet, 0,
         process.CreateEvent(false, false, SYNCHRONIZE), STATUS_ACCESS_DENIED},
        {"a handle the process does not have", KsTestDriver::kEventSet, 0,
         reinterpret_cast<HANDLE>(0x400), STATUS_INVALID_HANDLE},
        {"unknown set", KsTestDriver::kUnknownSet, 0, process.CreateEvent(false, false),
         STATUS_PROPSET_NOT_FOUND},
        {"unknown id", KsTestDriver::kEventSet, 5, process.CreateEvent(false, false),
         STATUS_NOT_FOUND},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(handle->EnableEvent(c.set, c.id, c.event), c.status);
    }
    // Too short an event data block.
    const auto result = handle->DeviceIoControl(
        IOCTL_KS_ENABLE_EVENT,
        Platform::Ks::PropertyBytes(KsTestDriver::kEventSet, 0, KSEVENT_TYPE_ENABLE), 12);
    EXPECT_EQ(result.status, STATUS_BUFFER_TOO_SMALL);
}

TEST_F(KsRequestTest, FilterBagsAreFreedAtClose)
{
    UserProcess process;
    auto first = Open(process);
    auto second = Open(process);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(KsTestDriver::State().openFilters.size(), 2u);
    EXPECT_EQ(device_->OpenHandleCount(), 2u);
    first.reset();
    EXPECT_EQ(KsTestDriver::State().freedBagItems, 1);
    // Remove waits for the handles: Windows holds it back until they close.
    EXPECT_EQ(device_->Send(PnpRequest::Remove), STATUS_INVALID_DEVICE_STATE);
    second.reset();
    EXPECT_EQ(KsTestDriver::State().freedBagItems, 2);
    EXPECT_EQ(device_->Send(PnpRequest::Remove), STATUS_SUCCESS);
    EXPECT_EQ(device_->Send(PnpRequest::Start), STATUS_NO_SUCH_DEVICE);
}

TEST_F(KsRequestTest, FactoriesOpenOnlyThroughEnabledInterfacesAndLiveCreateItems)
{
    PKSDEVICE device = device_->KsDevice();
    KsAcquireDevice(device);
    PKSFILTERFACTORY factory = KsDeviceGetFirstChildFilterFactory(device);
    PKSFILTERFACTORY second =
        factory != nullptr ? KsFilterFactoryGetNextSiblingFilterFactory(factory) : nullptr;
    KsReleaseDevice(device);
    ASSERT_NE(factory, nullptr);
    EXPECT_EQ(second, nullptr);
    EXPECT_EQ(KsFilterFactoryGetParentDevice(factory), device);
    const UNICODE_STRING* link = KsFilterFactoryGetSymbolicLink(factory);
    ASSERT_NE(link, nullptr);
    EXPECT_EQ(std::u16string(link->Buffer, link->Length / sizeof(char16_t)), link_);
    EXPECT_EQ(link_.rfind(u"\\??\\USB#VID_1234&PID_5678&MI_00#", 0), 0u);
    EXPECT_EQ(
        KsCreateFilterFactory(device->FunctionalDeviceObject, factory->FilterDescriptor,
                              KsTestDriver::kReference, nullptr, 0, nullptr, nullptr, nullptr),
        STATUS_OBJECT_NAME_COLLISION);

    UserProcess process;
    NTSTATUS status = STATUS_SUCCESS;
    ASSERT_EQ(KsFilterFactorySetDeviceClassesState(factory, FALSE), STATUS_SUCCESS);
    EXPECT_EQ(FilterHandle::Open(process, *device_, link_, &status), nullptr);
    EXPECT_EQ(status, STATUS_OBJECT_NAME_NOT_FOUND);
    ASSERT_EQ(KsFilterFactorySetDeviceClassesState(factory, TRUE), STATUS_SUCCESS);
    auto handle = Open(process);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(KsFilterGetParentFilterFactory(handle->Filter()), factory);
    EXPECT_EQ(KsGetDevice(handle->Filter()), device);

    // Freeing the create item keeps the factory while its filter is open.
    KSDEVICE_HEADER header =
        *static_cast<KSDEVICE_HEADER*>(device->FunctionalDeviceObject->DeviceExtension);
    KsAcquireDevice(device);
    KsFreeObjectCreateItemsByContext(header, factory);
    EXPECT_EQ(KsDeviceGetFirstChildFilterFactory(device), factory);
    KsReleaseDevice(device);
    EXPECT_EQ(KsFilterFactorySetDeviceClassesState(factory, TRUE), STATUS_INVALID_DEVICE_STATE);
    const auto stillWorks =
        handle->GetProperty(KsTestDriver::kPropertySet, KsTestDriver::kValueId, 8, Bytes(0));
    EXPECT_EQ(stillWorks.status, STATUS_SUCCESS);
    handle.reset();
    KsAcquireDevice(device);
    EXPECT_EQ(KsDeviceGetFirstChildFilterFactory(device), nullptr);
    KsReleaseDevice(device);
}

TEST_F(KsRequestTest, PendingRequestsCompleteLaterOrAreCancelled)
{
    UserProcess process;
    auto handle = Open(process);
    ASSERT_NE(handle, nullptr);
    auto wait = [&] {
        return handle->BeginDeviceIoControl(
            IOCTL_KS_PROPERTY,
            Platform::Ks::PropertyBytes(KsTestDriver::kPropertySet, KsTestDriver::kWaitId,
                                        KSPROPERTY_TYPE_GET),
            8);
    };
    auto first = wait();
    auto second = wait();
    EXPECT_FALSE(first->Completed());
    EXPECT_EQ(first->Result().status, STATUS_PENDING);

    // Completed by a later request, with its data back in the caller's buffer.
    EXPECT_EQ(
        handle->SetProperty(KsTestDriver::kPropertySet, KsTestDriver::kReleaseId, Bytes(0xABCDEF))
            .status,
        STATUS_SUCCESS);
    ASSERT_TRUE(first->Completed());
    EXPECT_EQ(first->Result().status, STATUS_SUCCESS);
    EXPECT_EQ(first->Result().data, Bytes(0xABCDEF));
    EXPECT_FALSE(second->Completed());

    // Cancelled by its requester: off the queue, so the next release finds nothing.
    EXPECT_TRUE(second->Cancel());
    ASSERT_TRUE(second->Completed());
    EXPECT_EQ(second->Result().status, STATUS_CANCELLED);
    EXPECT_FALSE(second->Cancel());
    EXPECT_EQ(
        handle->SetProperty(KsTestDriver::kPropertySet, KsTestDriver::kReleaseId, Bytes(1)).status,
        STATUS_NOT_FOUND);

    // Closing the handle cancels what is still pending; so does KsCancelIo.
    auto third = wait();
    auto fourth = wait();
    KsCancelIo(&KsTestDriver::State().waitQueue, &KsTestDriver::State().waitLock);
    EXPECT_EQ(third->Result().status, STATUS_CANCELLED);
    EXPECT_EQ(fourth->Result().status, STATUS_CANCELLED);
    auto fifth = wait();
    handle->Close();
    EXPECT_EQ(fifth->Result().status, STATUS_CANCELLED);
}

TEST_F(KsRequestTest, InterfaceKeysHoldTheValuesTheDriverWrites)
{
    std::u16string link = link_;
    UNICODE_STRING name{static_cast<USHORT>(link.size() * 2), static_cast<USHORT>(link.size() * 2),
                        link.data()};
    HANDLE key = nullptr;
    ASSERT_EQ(IoOpenDeviceInterfaceRegistryKey(&name, KEY_WRITE, &key), STATUS_SUCCESS);
    std::u16string valueName = u"FriendlyName";
    UNICODE_STRING value{static_cast<USHORT>(valueName.size() * 2),
                         static_cast<USHORT>(valueName.size() * 2), valueName.data()};
    const char16_t text[] = u"Test Filter";
    EXPECT_EQ(ZwSetValueKey(key, &value, 0, REG_SZ, const_cast<char16_t*>(text), sizeof text),
              STATUS_SUCCESS);
    EXPECT_EQ(ZwClose(key), STATUS_SUCCESS);

    const auto interfaces = device_->Interfaces();
    ASSERT_EQ(interfaces.size(), 1u);
    const auto values = Platform::Ks::InterfaceValues(interfaces[0]);
    ASSERT_EQ(values.size(), 1u);
    EXPECT_EQ(values[0].name, u"FriendlyName");
    EXPECT_EQ(values[0].type, static_cast<uint32_t>(REG_SZ));
    EXPECT_EQ(values[0].data.size(), sizeof text);

    std::u16string unknown = u"\\??\\NOTHING#{0}";
    UNICODE_STRING unknownName{static_cast<USHORT>(unknown.size() * 2),
                               static_cast<USHORT>(unknown.size() * 2), unknown.data()};
    EXPECT_EQ(IoOpenDeviceInterfaceRegistryKey(&unknownName, KEY_WRITE, &key),
              STATUS_OBJECT_NAME_NOT_FOUND);
}

TEST_F(KsRequestTest, ObjectBagRemovalFreesOnlyWhenAsked)
{
    constexpr ULONG tag = Platform::Kernel::MakeTag("TsBx");
    PKSDEVICE device = device_->KsDevice();
    PVOID kept = ExAllocatePoolWithTag(NonPagedPoolNx, 8, tag);
    PVOID freed = ExAllocatePoolWithTag(NonPagedPoolNx, 8, tag);
    KsAcquireDevice(device);
    ASSERT_EQ(KsAddItemToObjectBag(device->Bag, kept, nullptr), STATUS_SUCCESS);
    ASSERT_EQ(KsAddItemToObjectBag(device->Bag, freed, nullptr), STATUS_SUCCESS);
    KsRemoveItemFromObjectBag(device->Bag, kept, FALSE);
    KsRemoveItemFromObjectBag(device->Bag, freed, TRUE);
    KsReleaseDevice(device);
    const auto outstanding = Platform::Kernel::OutstandingPool();
    const auto withTag = std::count_if(outstanding.begin(), outstanding.end(),
                                       [&](const auto& block) { return block.tag == tag; });
    EXPECT_EQ(withTag, 1);
    ExFreePoolWithTag(kept, tag);

    Platform::Kernel::FailAllocationNumber(1);
    KsAcquireDevice(device);
    EXPECT_EQ(KsAddItemToObjectBag(device->Bag, kept, nullptr), STATUS_INSUFFICIENT_RESOURCES);
    KsReleaseDevice(device);
}

}  // namespace
