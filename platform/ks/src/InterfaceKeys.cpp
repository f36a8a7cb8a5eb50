// The registry keys of device interfaces, under the device classes key of the interface's
// category: "...\DeviceClasses\{category}\##?#<instance>#{category}\#<reference>\Device
// Parameters".
#include <Registry/MachineRegistry.h>

#include <KernelTestApi.h>

#include "KsInternal.h"

namespace Platform::Ks::Internal {

std::u16string InterfaceKeyPath(const std::u16string& symbolicLink, const GUID& category)
{
    // The link "\??\X#Y#{c}\ref" gives the key "##?#X#Y#{c}" and its subkey "#ref".
    std::u16string link = symbolicLink;
    std::u16string reference;
    const size_t tail = link.find(u'\\', 4);
    if (tail != std::u16string::npos) {
        reference = link.substr(tail + 1);
        link.resize(tail);
    }
    return u"System\\CurrentControlSet\\Control\\DeviceClasses\\" + LowerGuidText(category) +
           u"\\##?#" + link.substr(4) + u"\\#" + reference + u"\\Device Parameters";
}

}  // namespace Platform::Ks::Internal

using namespace Platform::Ks::Internal;

NTSTATUS IoOpenDeviceInterfaceRegistryKey(PUNICODE_STRING symbolicLinkName,
                                          ACCESS_MASK desiredAccess, PHANDLE deviceInterfaceKey)
{
    Platform::Kernel::RequireCallerIrql(PASSIVE_LEVEL, "IoOpenDeviceInterfaceRegistryKey");
    *deviceInterfaceKey = nullptr;
    if (symbolicLinkName == nullptr || symbolicLinkName->Buffer == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    const std::u16string link(symbolicLinkName->Buffer,
                              symbolicLinkName->Length / sizeof(char16_t));
    GUID category{};
    if (!FindRegisteredInterface(link, &category)) {
        return STATUS_OBJECT_NAME_NOT_FOUND;
    }
    const std::u16string path = InterfaceKeyPath(link, category);
    if (Platform::Registry::MachineRegistry::Instance().CreateKeyPath(
            Platform::Registry::Hive::LocalMachine, path) != Platform::Registry::Result::Ok) {
        return STATUS_UNSUCCESSFUL;
    }
    std::u16string fullName = u"\\Registry\\Machine\\" + path;
    UNICODE_STRING name;
    name.Buffer = fullName.data();
    name.Length = static_cast<USHORT>(fullName.size() * sizeof(char16_t));
    name.MaximumLength = name.Length;
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE,
                               nullptr, nullptr);
    return ZwOpenKey(deviceInterfaceKey, desiredAccess, &attributes);
}
