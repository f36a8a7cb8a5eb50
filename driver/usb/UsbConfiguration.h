// The device's configuration: its selection with a record per endpoint of alternate setting 0,
// the selection of an interface's alternate setting with the records of its endpoints, and the
// switching of the streaming interfaces the engine's record names between 0 and their streaming
// settings. PASSIVE_LEVEL; the engine serialises these requests with its own mutex.
#pragma once

#include <usb.h>
#include <wdm.h>

#include "usb/UsbPipe.h"

class UsbBus;
class UsbDescriptors;
class UsbPipeTable;
class UsbRequestChannel;

class UsbConfiguration
{
public:
    UsbConfiguration(UsbRequestChannel& requests, const UsbBus& bus, UsbDescriptors& descriptors,
                     UsbPipeTable& pipeTable)
        : requests(requests), bus(bus), descriptors(descriptors), pipeTable(pipeTable)
    {
    }
    UsbConfiguration(const UsbConfiguration&) = delete;
    UsbConfiguration& operator=(const UsbConfiguration&) = delete;

    // Selects the chosen configuration descriptor; the pipe table then holds every endpoint of
    // every interface at alternate setting 0.
    NTSTATUS SelectConfiguration();
    NTSTATUS SelectInterface(ULONG interfaceNumber, UCHAR alternateSetting);
    // Every interface the record names goes to its streaming setting (enable) or to 0; the audio
    // pipes are numbered afterwards whatever the outcome.
    NTSTATUS SelectAlternateSettings(bool enable);
    // The device goes unconfigured; the handle is forgotten.
    void Unconfigure();
    // Every record and cached buffer freed; the streaming settings count as inactive.
    void FreeAllPipes();

    void SetRecord(const UsbConfigRecord& record) { configRecord = record; }
    const UsbConfigRecord& ConfigRecord() const { return configRecord; }
    bool Configured() const { return configurationHandle != nullptr; }
    bool AlternateSettingsActive() const { return alternateSettingsActive != 0; }

private:
    PURB BuildSelectInterfaceUrb(ULONG interfaceNumber, UCHAR alternateSetting, ULONG endpoints);
    NTSTATUS AddConfigurationPipes(PURB urb, ULONG interfaces);
    NTSTATUS AddStreamingPipes(PUSB_INTERFACE_DESCRIPTOR d, PUSBD_INTERFACE_INFORMATION info,
                               ULONG interfaceNumber, UCHAR alternateSetting);

    UsbRequestChannel& requests;
    const UsbBus& bus;
    UsbDescriptors& descriptors;
    UsbPipeTable& pipeTable;
    USBD_CONFIGURATION_HANDLE configurationHandle = nullptr;
    UsbConfigRecord configRecord = {};
    UCHAR alternateSettingsActive = 0;
};
