#include "LifecycleStandIns.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <new>

#include <UsbDescriptorSet.h>

#include "device/EndpointNaming.h"
#include "device/PoolTag.h"

class StreamManager
{
public:
    StreamingEngine* engine;
    DeviceStreamSink* sink;
};

class MidiRouter
{
public:
    StreamingEngine* engine;
};

namespace {

template <typename T, typename... Args>
T* NewFromPool(Args&&... args)
{
    void* memory = ExAllocatePoolWithTag(NonPagedPoolNx, sizeof(T), kTagDeviceObjects);
    return memory == nullptr ? nullptr : new (memory) T{std::forward<Args>(args)...};
}

template <typename T>
void DeleteFromPool(T* object)
{
    object->~T();
    ExFreePoolWithTag(object, kTagDeviceObjects);
}

void Record(std::string entry)
{
    Journal().push_back(std::move(entry));
}

// ---- The stand-in control filter ---------------------------------------------------------

void FreeClient(PVOID memory)
{
    auto* client = static_cast<FakeControlClient*>(memory);
    if (client->removalEvent != nullptr) {
        ObDereferenceObject(client->removalEvent);
    }
    DeleteFromPool(client);
}

NTSTATUS ControlCreate(PKSFILTER filter, PIRP)
{
    auto* client = NewFromPool<FakeControlClient>();
    if (client == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    KsAcquireControl(filter);
    const NTSTATUS status = KsAddItemToObjectBag(filter->Bag, client, FreeClient);
    KsReleaseControl(filter);
    if (!NT_SUCCESS(status)) {
        DeleteFromPool(client);
        return status;
    }
    filter->Context = static_cast<ControlClientLink*>(client);
    auto* context = static_cast<DeviceContext*>(KsGetDevice(filter)->Context);
    if (context == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    return AddOpenControlFilter(context, filter);
}

NTSTATUS ControlClose(PKSFILTER filter, PIRP)
{
    auto* context = static_cast<DeviceContext*>(KsGetDevice(filter)->Context);
    if (context != nullptr) {
        RemoveOpenControlFilter(context, filter);
    }
    return STATUS_SUCCESS;
}

NTSTATUS SetRemovalEvent(PIRP irp, PKSIDENTIFIER, PVOID data)
{
    PKSFILTER filter = KsGetFilterFromIrp(irp);
    if (filter == nullptr || filter->Context == nullptr) {
        return STATUS_INVALID_PARAMETER_1;
    }
    auto* client =
        static_cast<FakeControlClient*>(static_cast<ControlClientLink*>(filter->Context));
    if (client->removalEvent != nullptr) {
        return STATUS_UNSUCCESSFUL;
    }
    HANDLE handle;
    if (IoIs32bitProcess(irp)) {
        int32_t narrow;
        std::memcpy(&narrow, data, sizeof narrow);
        handle = reinterpret_cast<HANDLE>(static_cast<intptr_t>(narrow));
    } else {
        std::memcpy(&handle, data, sizeof handle);
    }
    PVOID object = nullptr;
    const NTSTATUS status = ObReferenceObjectByHandle(
        handle, EVENT_MODIFY_STATE, *ExEventObjectType, UserMode, &object, nullptr);
    if (NT_SUCCESS(status)) {
        client->removalEvent = static_cast<PRKEVENT>(object);
    }
    return status;
}

const KSPROPERTY_ITEM kGeneralItems[] = {{
    .PropertyId = kRemovalEventId,
    .GetPropertyHandler = nullptr,
    .MinProperty = sizeof(KSPROPERTY),
    .MinData = 8,
    .SetPropertyHandler = SetRemovalEvent,
    .Values = nullptr,
    .RelationsCount = 0,
    .Relations = nullptr,
    .SupportHandler = nullptr,
    .SerializedSize = 0,
}};

const KSPROPERTY_SET kPropertySets[] = {
    {&kPropSetControlGeneral, static_cast<ULONG>(std::size(kGeneralItems)), kGeneralItems, 0,
     nullptr},
};

const KSEVENT_ITEM kEventItem = {0, sizeof(KSEVENTDATA), 0, nullptr, nullptr, nullptr};

const KSEVENT_SET kEventSets[] = {
    {&kPropSetControlGeneral, 1, &kEventItem},
    {&kPropSetControlRaw, 1, &kEventItem},
    {&kPropSetControlMidi, 1, &kEventItem},
};

const KSAUTOMATION_TABLE kControlAutomation = {
    .PropertySetsCount = static_cast<ULONG>(std::size(kPropertySets)),
    .PropertyItemSize = sizeof(KSPROPERTY_ITEM),
    .PropertySets = kPropertySets,
    .MethodSetsCount = 0,
    .MethodItemSize = 0,
    .MethodSets = nullptr,
    .EventSetsCount = static_cast<ULONG>(std::size(kEventSets)),
    .EventItemSize = sizeof(KSEVENT_ITEM),
    .EventSets = kEventSets,
    .Alignment = nullptr,
};

const KSFILTER_DISPATCH kControlDispatch = {ControlCreate, ControlClose, nullptr, nullptr};

constexpr GUID kControlReference = {
    0x6242F6B0, 0x04E7, 0x497F, {0xAE, 0x8D, 0x28, 0x7E, 0x12, 0xD1, 0x94, 0x20}};

// ---- The filter the stand-in endpoint naming creates --------------------------------------

const GUID kEndpointCategories[] = {KSCATEGORY_AUDIO, KSCATEGORY_RENDER};

const KSFILTER_DESCRIPTOR kEndpointDescriptor = {
    .Dispatch = nullptr,
    .AutomationTable = nullptr,
    .Version = KSFILTER_DESCRIPTOR_VERSION,
    .Flags = 0,
    .ReferenceGuid = nullptr,
    .PinDescriptorsCount = 0,
    .PinDescriptorSize = sizeof(KSPIN_DESCRIPTOR_EX),
    .PinDescriptors = nullptr,
    .CategoriesCount = static_cast<ULONG>(std::size(kEndpointCategories)),
    .Categories = kEndpointCategories,
    .NodeDescriptorsCount = 0,
    .NodeDescriptorSize = sizeof(KSNODE_DESCRIPTOR),
    .NodeDescriptors = nullptr,
    .ConnectionsCount = 0,
    .Connections = nullptr,
    .ComponentId = nullptr,
};

}  // namespace

const KSFILTER_DESCRIPTOR ControlFilterDescriptor = {
    .Dispatch = &kControlDispatch,
    .AutomationTable = &kControlAutomation,
    .Version = KSFILTER_DESCRIPTOR_VERSION,
    .Flags = 0,
    .ReferenceGuid = &kControlReference,
    .PinDescriptorsCount = 0,
    .PinDescriptorSize = sizeof(KSPIN_DESCRIPTOR_EX),
    .PinDescriptors = nullptr,
    .CategoriesCount = 1,
    .Categories = &KSCATEGORY_TOPOLOGY,
    .NodeDescriptorsCount = 0,
    .NodeDescriptorSize = sizeof(KSNODE_DESCRIPTOR),
    .NodeDescriptors = nullptr,
    .ConnectionsCount = 0,
    .Connections = nullptr,
    .ComponentId = nullptr,
};

// ---- Endpoint naming stand-ins ----------------------------------------------------------------

NTSTATUS CreateFilterFactories(DeviceContext* context)
{
    Record("CreateFilterFactories");
    PKSDEVICE device = context->device;
    KsAcquireDevice(device);
    bool present = false;
    for (PKSFILTERFACTORY f = KsDeviceGetFirstChildFilterFactory(device); f != nullptr;
         f = KsFilterFactoryGetNextSiblingFilterFactory(f)) {
        present = present || f->FilterDescriptor == &kEndpointDescriptor;
        if (f->FilterDescriptor == &kEndpointDescriptor) {
            KsFilterFactorySetDeviceClassesState(f, TRUE);
        }
    }
    KsReleaseDevice(device);
    if (!present) {
        PKSFILTERFACTORY factory = nullptr;
        if (NT_SUCCESS(KsCreateFilterFactory(device->FunctionalDeviceObject, &kEndpointDescriptor,
                                             kEndpointReference, nullptr, KSCREATE_ITEM_FREEONSTOP,
                                             nullptr, nullptr, &factory))) {
            KsFilterFactorySetDeviceClassesState(factory, TRUE);
        }
    }
    return STATUS_SUCCESS;
}

NTSTATUS NameEndpoints(DeviceContext*)
{
    Record("NameEndpoints");
    return STATUS_SUCCESS;
}

NTSTATUS RegisterMediaCategories(DeviceContext*)
{
    Record("RegisterMediaCategories");
    return STATUS_SUCCESS;
}

NTSTATUS RenameMmDeviceEndpoints(DeviceContext*, ULONG rate)
{
    Record("RenameMmDeviceEndpoints(" + std::to_string(rate) + ")");
    return STATUS_SUCCESS;
}

// ---- Device model and parts ---------------------------------------------------------------

std::vector<std::string>& Journal()
{
    static std::vector<std::string> journal;
    return journal;
}

size_t CountOf(const std::string& entry)
{
    return static_cast<size_t>(std::count(Journal().begin(), Journal().end(), entry));
}

NTSTATUS FakeDeviceModel::LoadSetting()
{
    Record("LoadSetting");
    return loadSettingStatus;
}

NTSTATUS FakeDeviceModel::Start()
{
    Record("Start");
    if (NT_SUCCESS(startStatus)) {
        started = true;
        if (owner != nullptr) {
            owner->generalSink->OnDeviceStarted();
        }
    }
    return startStatus;
}

void FakeDeviceModel::Stop(ULONG reason)
{
    Record("Stop(" + std::to_string(reason) + ")");
    started = false;
}

void FakeDeviceModel::GetDeviceChannelCounts(ULONG* outputs, ULONG* inputs)
{
    *outputs = 2;
    *inputs = 0;
}

void FakeDeviceModel::GetMidiPortCounts(ULONG* ports, ULONG* second)
{
    *ports = 0;
    *second = 0;
}

NTSTATUS FakeDeviceModel::GetClockSourceInfo(ClockSourceInfo* info)
{
    *info = {0, 1, 0};
    return STATUS_SUCCESS;
}

ULONG FakeDeviceModel::GetCurrentRateIndex(LONG* configurationIndex)
{
    *configurationIndex = 0;
    return 0;
}

ULONG FakeDeviceModel::GetNearestRateIndex(ULONG, LONG* configurationIndex)
{
    *configurationIndex = 0;
    return 0;
}

LONG FakeDeviceModel::GetControlValue(ULONG* value)
{
    *value = 0;
    return static_cast<LONG>(0x80004001);
}

NTSTATUS FakeDeviceModel::GetKeepRunning(UCHAR* on)
{
    *on = 0;
    return STATUS_SUCCESS;
}

void FakeDeviceModel::GetSupportedRates(ULONG* count, const ULONG** list)
{
    *count = static_cast<ULONG>(std::size(rates));
    *list = rates;
}

StreamingEngine* FakeDeviceModel::GetEngine()
{
    return nullptr;  // the stand-in parts need no engine
}

DeviceModel* FakeParts::CreateDeviceModel(DeviceLink deviceLink, PCWSTR registryPath)
{
    if (failDeviceModel || deviceLink == nullptr) {
        return nullptr;
    }
    FakeDeviceModel* model = NewFromPool<FakeDeviceModel>(deviceLink, registryPath);
    if (model != nullptr) {
        model->registryPath = registryPath;
        lastModel = model;
    }
    return model;
}

void FakeParts::DestroyDeviceModel(DeviceModel* model)
{
    auto* fake = static_cast<FakeDeviceModel*>(model);
    if (fake == lastModel) {
        lastModel = nullptr;
    }
    DeleteFromPool(fake);
}

StreamManager* FakeParts::CreateStreamManager(StreamingEngine* engine, DeviceStreamSink* sink)
{
    return failStreamManager ? nullptr : NewFromPool<StreamManager>(engine, sink);
}

void FakeParts::DestroyStreamManager(StreamManager* manager)
{
    DeleteFromPool(manager);
}

MidiRouter* FakeParts::CreateMidiRouter(StreamingEngine* engine)
{
    return failMidiRouter ? nullptr : NewFromPool<MidiRouter>(engine);
}

void FakeParts::DestroyMidiRouter(MidiRouter* router)
{
    DeleteFromPool(router);
}

LONG FakeParts::FindConfigurationRate(StreamManager*, ULONG rate)
{
    const ULONG rates[] = {44100, 48000, 96000};
    for (LONG i = 0; i < static_cast<LONG>(std::size(rates)); ++i) {
        if (rates[i] == rate) {
            return i;
        }
    }
    return -1;
}

ULONG FakeParts::ApplyRateIndex(StreamManager*, LONG rateIndex)
{
    appliedRateIndexes.push_back(rateIndex);
    return 0;
}

// ---- Fixture --------------------------------------------------------------------------------

FakeControlClient* ClientOf(Platform::Ks::FilterHandle& handle)
{
    PKSFILTER filter = handle.Filter();
    return filter == nullptr
               ? nullptr
               : static_cast<FakeControlClient*>(static_cast<ControlClientLink*>(filter->Context));
}

void DriverFixture::SetUp()
{
    Journal().clear();
    LoadDriver(parts_, DriverKey::Absent);
}

Platform::Ks::Device* DriverFixture::PlugIn(NTSTATUS* status)
{
    return driver_->PlugIn(UsbSim::ProductUac2(), status);
}

std::u16string DriverFixture::ControlFilterLink(Platform::Ks::Device* device) const
{
    return device->FindInterface(KSCATEGORY_TOPOLOGY, u"{6242F6B0-04E7-497F-AE8D-287E12D19420}");
}

std::unique_ptr<Platform::Ks::FilterHandle> DriverFixture::OpenControlFilter(
    Platform::Kernel::UserProcess& process, Platform::Ks::Device* device, NTSTATUS* status)
{
    return Platform::Ks::FilterHandle::Open(process, *device, ControlFilterLink(device), status);
}

std::vector<Platform::Ks::DeviceInterface> DriverFixture::EndpointInterfaces(
    Platform::Ks::Device* device)
{
    std::vector<Platform::Ks::DeviceInterface> found;
    for (const auto& i : device->Interfaces()) {
        if (i.referenceString == kEndpointReference) {
            found.push_back(i);
        }
    }
    return found;
}

void StartedDeviceFixture::SetUp()
{
    DriverFixture::SetUp();
    device_ = PlugIn();
    ASSERT_NE(device_, nullptr);
    ASSERT_EQ(device_->Send(Platform::Ks::PnpRequest::Start), STATUS_SUCCESS);
    context_ = ContextOf(device_);
    Journal().clear();
}
