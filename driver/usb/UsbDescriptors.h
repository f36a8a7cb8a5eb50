// What the device says about itself: its device descriptor, the manufacturer and product
// strings, and its configuration descriptors with the one chosen. PASSIVE_LEVEL.
#pragma once

#include <usb.h>
#include <wdm.h>

#include "usb/UsbPipe.h"

class UsbRequestChannel;

class UsbDescriptors
{
public:
    explicit UsbDescriptors(UsbRequestChannel& requests) : requests(requests) {}
    UsbDescriptors(const UsbDescriptors&) = delete;
    UsbDescriptors& operator=(const UsbDescriptors&) = delete;

    // Nothing to do when the device descriptor is present.
    NTSTATUS ReadDescriptors();
    // *buffer: length bytes of pool "QUSB" the caller frees; *transferred: bytes the device sent.
    NTSTATUS GetDescriptor(UCHAR type, UCHAR index, USHORT language, ULONG length, PUCHAR* buffer,
                           ULONG* transferred = nullptr);
    // The record's 1-based configuration number when the device has it, else its last one.
    void ChooseConfiguration(UCHAR configurationNumber);
    void FreeStrings();
    void FreeConfigurations();
    void FreeDeviceDescriptor();

    const USB_DEVICE_DESCRIPTOR* DeviceDescriptor() const { return deviceDescriptor; }
    // Never null: a string that could not be read, or not even be stored, reads as empty.
    const WCHAR* ManufacturerString() const
    {
        return manufacturerString != nullptr ? manufacturerString : u"";
    }
    const WCHAR* ProductString() const { return productString != nullptr ? productString : u""; }
    PUSB_CONFIGURATION_DESCRIPTOR SelectedConfigurationDescriptor() const
    {
        return selectedConfiguration < kUsbMaxConfigurations
                   ? configurationDescriptors[selectedConfiguration]
                   : nullptr;
    }
    ULONG SelectedConfiguration() const { return selectedConfiguration; }

private:
    NTSTATUS ReadString(UCHAR index, ULONG extra, PUCHAR* buffer, WCHAR** text);
    NTSTATUS ReadConfigurations();

    UsbRequestChannel& requests;
    PUCHAR manufacturerBuffer = nullptr;
    WCHAR* manufacturerString = nullptr;  // NUL-terminated, inside manufacturerBuffer
    PUCHAR productBuffer = nullptr;
    WCHAR* productString = nullptr;
    PUSB_CONFIGURATION_DESCRIPTOR configurationDescriptors[kUsbMaxConfigurations] = {};
    ULONG selectedConfiguration = 0;
    PUSB_DEVICE_DESCRIPTOR deviceDescriptor = nullptr;
};
