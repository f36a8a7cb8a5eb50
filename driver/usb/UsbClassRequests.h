// The class-specific and port requests: the sampling frequency of the audio endpoints (and
// whether the device needs it sent at all), a raw class-interface request for the private control
// filter, the port cycle and the query of the device's place on the bus. PASSIVE_LEVEL.
#pragma once

#include <usb.h>
#include <wdm.h>

#include "usb/UsbPipe.h"

class UsbConfiguration;
class UsbDescriptors;
class UsbIsoStreaming;
class UsbPipeTable;
class UsbRequestChannel;

// A class request to an interface, as the private control filter passes it through.
struct RawClassRequest
{
    UCHAR request;
    USHORT value;
    USHORT index;
    ULONG length;  // bytes to move; at most the caller's buffer
};

class UsbClassRequests
{
public:
    UsbClassRequests(UsbRequestChannel& requests, UsbDescriptors& descriptors,
                     UsbConfiguration& configuration, UsbPipeTable& pipeTable,
                     UsbIsoStreaming& streaming)
        : requests(requests),
          descriptors(descriptors),
          configuration(configuration),
          pipeTable(pipeTable),
          streaming(streaming)
    {
    }
    UsbClassRequests(const UsbClassRequests&) = delete;
    UsbClassRequests& operator=(const UsbClassRequests&) = delete;

    // Sends the rate to the last OUT and the last IN audio pipe unless they have a single rate;
    // the rate becomes the streaming side's current and effective rate once it is taken.
    NTSTATUS SetSampleRate(ULONG rate);
    // Full speed: the rate needs sending only when a streaming endpoint offers several rates.
    void CheckRateRequests();
    NTSTATUS SendRawClassRequest(ULONG transferFlags, const RawClassRequest& request, PVOID buffer,
                                 ULONG bufferLength);
    NTSTATUS CyclePort();
    NTSTATUS QueryUsbLocation(PUSB_TOPOLOGY_ADDRESS address);

    bool RateRequestFlag() const { return rateRequestFlag != 0; }

private:
    NTSTATUS SetEndpointSampleRate(UsbPipe* pipe, ULONG rate);
    NTSTATUS SetAudioPipesRate(ULONG rate);
    NTSTATUS SendPortRequest(ULONG ioControlCode, PVOID argument, bool throughMutex);

    UsbRequestChannel& requests;
    UsbDescriptors& descriptors;
    UsbConfiguration& configuration;
    UsbPipeTable& pipeTable;
    UsbIsoStreaming& streaming;
    UCHAR rateRequestFlag = 1;
};
