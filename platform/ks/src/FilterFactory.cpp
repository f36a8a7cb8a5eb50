// Filter factories: their create items in the device header and their device interfaces.
#include <KernelTestApi.h>

#include <cstdio>

#include "KsInternal.h"

namespace Platform::Ks::Internal {
namespace {

std::u16string Utf16(const char* text)
{
    std::u16string out;
    for (; *text != 0; ++text) {
        out.push_back(static_cast<char16_t>(static_cast<unsigned char>(*text)));
    }
    return out;
}

std::u16string UpperGuidText(const GUID& guid)
{
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  guid.Data1, guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2],
                  guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    return Utf16(text);
}

// "\??\USB#VID_2B7E&PID_5C19&MI_00#1&0&0000#{category}\reference".
std::u16string SymbolicLinkFor(const DeviceImpl* device, const GUID& category,
                               const std::u16string& referenceString)
{
    std::u16string link = u"\\??\\";
    for (char16_t c : device->instancePath) {
        link.push_back(c == u'\\' ? u'#' : c);
    }
    link += u"#" + LowerGuidText(category);
    if (!referenceString.empty()) {
        link += u"\\" + referenceString;
    }
    return link;
}

void FreeFactory(FactoryImpl* factory)
{
    FreeBag(&factory->bag);
    delete factory;
}

}  // namespace

std::u16string LowerGuidText(const GUID& guid)
{
    std::u16string text = UpperGuidText(guid);
    for (char16_t& c : text) {
        if (c >= u'A' && c <= u'F') {
            c = static_cast<char16_t>(c - u'A' + u'a');
        }
    }
    return text;
}

void ReleaseFactoryIfUnused(FactoryImpl* factory)
{
    if (factory->createItemPresent || factory->openFilters != 0) {
        return;
    }
    DeviceImpl* device = factory->object.device;
    for (auto it = device->factories.begin(); it != device->factories.end(); ++it) {
        if (*it == factory) {
            device->factories.erase(it);
            break;
        }
    }
    FreeFactory(factory);
}

void DestroyAllFactories(DeviceImpl* device)
{
    while (!device->factories.empty()) {
        FactoryImpl* factory = device->factories.back();
        device->factories.pop_back();
        FreeFactory(factory);
    }
    device->header->createItems.clear();
}

NTSTATUS CreateDescriptorFactories(DeviceImpl* device)
{
    const KSDEVICE_DESCRIPTOR* descriptor = device->device.Descriptor;
    if (descriptor == nullptr) {
        return STATUS_SUCCESS;
    }
    for (ULONG i = 0; i < descriptor->FilterDescriptorsCount; ++i) {
        const KSFILTER_DESCRIPTOR* filter = descriptor->FilterDescriptors[i];
        bool present = false;
        for (FactoryImpl* factory : device->factories) {
            present = present || (factory->fromDeviceDescriptor &&
                                  factory->factory.FilterDescriptor == filter);
        }
        if (present) {
            continue;
        }
        PKSFILTERFACTORY created = nullptr;
        const NTSTATUS status =
            KsCreateFilterFactory(&device->functionalDeviceObject, filter, nullptr, nullptr, 0,
                                  nullptr, nullptr, &created);
        if (!NT_SUCCESS(status)) {
            return status;
        }
        FactoryOf(created)->fromDeviceDescriptor = true;
    }
    return STATUS_SUCCESS;
}

void EnableDescriptorFactories(DeviceImpl* device)
{
    for (FactoryImpl* factory : device->factories) {
        if (factory->fromDeviceDescriptor) {
            KsFilterFactorySetDeviceClassesState(&factory->factory, TRUE);
        }
    }
}

void SetAllInterfaces(DeviceImpl* device, bool enabled)
{
    for (FactoryImpl* factory : device->factories) {
        for (InterfaceRecord& record : factory->interfaces) {
            record.enabled = enabled;
        }
    }
}

}  // namespace Platform::Ks::Internal

using namespace Platform::Ks::Internal;

NTSTATUS KsCreateFilterFactory(PDEVICE_OBJECT deviceObject, const KSFILTER_DESCRIPTOR* descriptor,
                               PCWSTR referenceString, PSECURITY_DESCRIPTOR securityDescriptor,
                               ULONG createItemFlags, PFNKSFILTERFACTORYPOWER sleepCallback,
                               PFNKSFILTERFACTORYPOWER wakeCallback, PKSFILTERFACTORY* factory)
{
    UNREFERENCED_PARAMETER(securityDescriptor);
    UNREFERENCED_PARAMETER(sleepCallback);
    UNREFERENCED_PARAMETER(wakeCallback);
    Platform::Kernel::RequireCallerIrql(PASSIVE_LEVEL, "KsCreateFilterFactory");
    if (factory != nullptr) {
        *factory = nullptr;
    }
    if (deviceObject == nullptr || deviceObject->DeviceExtension == nullptr ||
        descriptor == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    KSDEVICE_HEADER header = static_cast<DeviceExtension*>(deviceObject->DeviceExtension)->header;
    DeviceImpl* device = header->device;

    std::u16string reference;
    if (referenceString != nullptr) {
        reference = referenceString;
    } else if (descriptor->ReferenceGuid != nullptr) {
        std::u16string lower = LowerGuidText(*descriptor->ReferenceGuid);
        reference = lower;
        for (char16_t& c : reference) {
            if (c >= u'a' && c <= u'f') {
                c = static_cast<char16_t>(c - u'a' + u'A');
            }
        }
    }
    for (const CreateItem& item : header->createItems) {
        if (item.referenceString == reference) {
            return STATUS_OBJECT_NAME_COLLISION;
        }
    }

    auto* impl = new FactoryImpl{};
    InitializeObject(&impl->object, ObjectKind::Factory, device);
    InitializeBag(&impl->bag, &device->object.mutex, "KS device mutex");
    impl->factory.FilterDescriptor = descriptor;
    impl->factory.Bag = &impl->bag;
    impl->referenceString = reference;
    impl->createItemFlags = createItemFlags;
    impl->createItemPresent = true;
    for (ULONG i = 0; i < descriptor->CategoriesCount; ++i) {
        impl->interfaces.push_back({descriptor->Categories[i], reference,
                                    SymbolicLinkFor(device, descriptor->Categories[i], reference),
                                    false});
    }
    if (!impl->interfaces.empty()) {
        std::u16string& link = impl->interfaces.front().symbolicLink;
        impl->symbolicLink.Buffer = link.data();
        impl->symbolicLink.Length = static_cast<USHORT>(link.size() * sizeof(char16_t));
        impl->symbolicLink.MaximumLength = impl->symbolicLink.Length;
    }
    header->createItems.push_back({reference, impl, createItemFlags});
    device->factories.push_back(impl);
    if (factory != nullptr) {
        *factory = &impl->factory;
    }
    return STATUS_SUCCESS;
}

NTSTATUS KsFilterFactorySetDeviceClassesState(PKSFILTERFACTORY factory, BOOLEAN newState)
{
    Platform::Kernel::RequireCallerIrql(PASSIVE_LEVEL, "KsFilterFactorySetDeviceClassesState");
    FactoryImpl* impl = FactoryOf(factory);
    if (newState && (impl->object.device->surpriseRemoved || !impl->createItemPresent)) {
        return STATUS_INVALID_DEVICE_STATE;
    }
    for (InterfaceRecord& record : impl->interfaces) {
        record.enabled = newState != FALSE;
    }
    if (newState) {
        PublishAudioEndpoints(*impl);
    }
    return STATUS_SUCCESS;
}

PUNICODE_STRING KsFilterFactoryGetSymbolicLink(PKSFILTERFACTORY factory)
{
    FactoryImpl* impl = FactoryOf(factory);
    return impl->interfaces.empty() ? nullptr : &impl->symbolicLink;
}

PKSFILTERFACTORY KsDeviceGetFirstChildFilterFactory(PKSDEVICE device)
{
    DeviceImpl* impl = DeviceOf(device);
    RequireMutexHeld(&impl->object.mutex, "KS device mutex", "KsDeviceGetFirstChildFilterFactory");
    return impl->factories.empty() ? nullptr : &impl->factories.front()->factory;
}

PKSFILTERFACTORY KsFilterFactoryGetNextSiblingFilterFactory(PKSFILTERFACTORY factory)
{
    FactoryImpl* impl = FactoryOf(factory);
    RequireMutexHeld(&impl->object.device->object.mutex, "KS device mutex",
                     "KsFilterFactoryGetNextSiblingFilterFactory");
    std::vector<FactoryImpl*>& siblings = impl->object.device->factories;
    for (size_t i = 0; i + 1 < siblings.size(); ++i) {
        if (siblings[i] == impl) {
            return &siblings[i + 1]->factory;
        }
    }
    return nullptr;
}

PKSDEVICE KsFilterFactoryGetParentDevice(PKSFILTERFACTORY factory)
{
    return &FactoryOf(factory)->object.device->device;
}

void KsFreeObjectCreateItemsByContext(KSDEVICE_HEADER header, PVOID context)
{
    Platform::Kernel::RequireCallerIrql(PASSIVE_LEVEL, "KsFreeObjectCreateItemsByContext");
    std::vector<CreateItem>& items = header->createItems;
    std::vector<FactoryImpl*> released;
    for (auto it = items.begin(); it != items.end();) {
        if (static_cast<PVOID>(&it->context->factory) == context) {
            released.push_back(it->context);
            it = items.erase(it);
        } else {
            ++it;
        }
    }
    for (FactoryImpl* factory : released) {
        for (InterfaceRecord& record : factory->interfaces) {
            record.enabled = false;
        }
        factory->createItemPresent = false;
        ReleaseFactoryIfUnused(factory);
    }
}
