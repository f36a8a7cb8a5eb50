// Start and stop of the USB layer: the roles brought up in order when the device starts and
// taken down when it stops.
#include "usb/UsbTransport.h"

UsbTransport::UsbTransport(DeviceContext* context)
    : requests(context, bus, streaming),
      bus(requests),
      descriptors(requests),
      configuration(requests, bus, descriptors, pipeTable),
      classRequests(requests, descriptors, configuration, pipeTable, streaming),
      streaming(requests, bus, pipeTable, configuration),
      midiPipes(requests, pipeTable, streaming)
{
}

NTSTATUS UsbTransport::InitializeUsb(const UsbConfigRecord& record)
{
    bus.QueryInterface();  // a failed query leaves full speed
    NTSTATUS status = descriptors.ReadDescriptors();
    if (!NT_SUCCESS(status)) {
        return status;
    }
    descriptors.ChooseConfiguration(record.configurationNumber);
    status = configuration.SelectConfiguration();
    if (!NT_SUCCESS(status)) {
        return status;
    }
    streaming.SetFeedbackFlags(record.feedback != 0, record.noFeedbackRestart != 0);
    configuration.SetRecord(record);
    if (!bus.HighSpeed()) {
        classRequests.CheckRateRequests();
    }
    configuration.SelectAlternateSettings(false);
    return status;
}

void UsbTransport::ReleaseUsb()
{
    // Transfers still in flight hold buffers and pipes that go now.
    midiPipes.StopMidiPipes();
    if (streaming.HasSyncPipe()) {
        streaming.StopIsoStreaming();
    }
    descriptors.FreeStrings();
    descriptors.FreeConfigurations();
    configuration.FreeAllPipes();
    descriptors.FreeDeviceDescriptor();
    configuration.Unconfigure();
    configuration.FreeAllPipes();
    bus.Release();
}
