#include "ProductModelFixture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

void ProductModelFixture::SetUp()
{
    Journal().clear();
    LoadDriver(parts_, DriverKey::Installed);
}

Platform::Ks::Device* ProductModelFixture::PlugIn(bool start, USHORT bcdDevice, NTSTATUS* status)
{
    UsbSim::UsbDescriptorSet descriptors = UsbSim::ProductUac2();
    descriptors.device[12] = static_cast<uint8_t>(bcdDevice & 0xFF);
    descriptors.device[13] = static_cast<uint8_t>(bcdDevice >> 8);
    return PlugInDevice(std::move(descriptors), start, status);
}

namespace {

OBJECT_ATTRIBUTES Attributes(UNICODE_STRING* name, const std::u16string& path)
{
    RtlInitUnicodeString(name, path.c_str());
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, nullptr,
                               nullptr);
    return attributes;
}

}  // namespace

NTSTATUS ProductModelFixture::CreateKeyPath(const std::u16string& path)
{
    // One component at a time below "\Registry\Machine".
    const std::u16string root = u"\\Registry\\Machine";
    NTSTATUS status = STATUS_SUCCESS;
    for (size_t end = path.find(u'\\', root.size() + 1);; end = path.find(u'\\', end + 1)) {
        const std::u16string prefix = path.substr(0, end);
        UNICODE_STRING name;
        OBJECT_ATTRIBUTES attributes = Attributes(&name, prefix);
        HANDLE key = nullptr;
        ULONG disposition = 0;
        status = ZwCreateKey(&key, KEY_ALL_ACCESS, &attributes, 0, nullptr, REG_OPTION_NON_VOLATILE,
                             &disposition);
        if (!NT_SUCCESS(status)) {
            return status;
        }
        ZwClose(key);
        if (end == std::u16string::npos) {
            return status;
        }
    }
}

NTSTATUS ProductModelFixture::WriteValue(const std::u16string& key, const std::u16string& name,
                                         ULONG type, const void* data, ULONG size)
{
    NTSTATUS status = CreateKeyPath(key);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    UNICODE_STRING keyName;
    OBJECT_ATTRIBUTES attributes = Attributes(&keyName, key);
    HANDLE handle = nullptr;
    status = ZwOpenKey(&handle, KEY_SET_VALUE, &attributes);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    UNICODE_STRING valueName;
    RtlInitUnicodeString(&valueName, name.c_str());
    status = ZwSetValueKey(handle, &valueName, 0, type, const_cast<void*>(data), size);
    ZwClose(handle);
    return status;
}

NTSTATUS ProductModelFixture::ReadDword(const std::u16string& key, const std::u16string& name,
                                        ULONG* value)
{
    UNICODE_STRING keyName;
    OBJECT_ATTRIBUTES attributes = Attributes(&keyName, key);
    HANDLE handle = nullptr;
    NTSTATUS status = ZwOpenKey(&handle, KEY_READ, &attributes);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    UNICODE_STRING valueName;
    RtlInitUnicodeString(&valueName, name.c_str());
    std::vector<UCHAR> buffer(sizeof(KEY_VALUE_PARTIAL_INFORMATION) + 16);
    ULONG length = 0;
    status = ZwQueryValueKey(handle, &valueName, KeyValuePartialInformation, buffer.data(),
                             static_cast<ULONG>(buffer.size()), &length);
    ZwClose(handle);
    if (NT_SUCCESS(status)) {
        auto* info = reinterpret_cast<PKEY_VALUE_PARTIAL_INFORMATION>(buffer.data());
        if (info->Type != REG_DWORD || info->DataLength != sizeof(ULONG)) {
            return STATUS_OBJECT_TYPE_MISMATCH;
        }
        std::memcpy(value, info->Data, sizeof(ULONG));
    }
    return status;
}
