// The records of the driver's USB layer: the audio format of an endpoint, an open pipe, a parked
// set of transfer buffers and the engine's configuration record.
#pragma once

#include <usb.h>
#include <wdm.h>

struct IsoTransfer;
class UsbIsoStreaming;

inline constexpr ULONG kUsbMaxPipes = 30;          // records in the pipe table
inline constexpr ULONG kUsbTransferSlots = 15;     // transfer buffers per audio pipe
inline constexpr ULONG kUsbMaxRates = 10;          // discrete rates kept per endpoint
inline constexpr ULONG kUsbConfigInterfaces = 8;   // interfaces the configuration record names
inline constexpr ULONG kUsbMaxConfigurations = 4;  // configuration descriptors read

// Pool tags, in memory order.
inline constexpr ULONG kTagUrb = 0x20627255;   // "Urb "
inline constexpr ULONG kTagData = 0x61746144;  // "Data"
inline constexpr ULONG kTagPipe = 0x65706950;  // "Pipe"
inline constexpr ULONG kTagQusb = 0x42535551;  // "QUSB"
inline constexpr ULONG kTagInfo = 0x6F666E49;  // "Info"
inline constexpr ULONG kTagTrOb = 0x624F7254;  // "TrOb"

// What the class-specific descriptors say about one endpoint. Zero-filled before each parse.
struct EndpointFormat
{
    ULONG channels;             // bNrChannels
    ULONG subframeSize;         // bytes per sample
    ULONG bitResolution;        // bits per sample
    LONG rateCount;             // class 1 bSamFreqType: 0 continuous, else discrete rates
    ULONG rates[kUsbMaxRates];  // Hz; a continuous range keeps lower and upper bound
    LONG isIn;
    LONG isOut;
    LONG isMidi;      // MIDI streaming interface (class 1, subclass 3)
    LONG hasFormat;   // a usable format type descriptor was found: the endpoint carries audio
    LONG isHid;       // the interface has class 3
    LONG isFeedback;  // isochronous IN endpoint with feedback usage
};

// One open endpoint. Non-paged pool "Pipe", zero-filled.
struct UsbPipe
{
    USBD_PIPE_INFORMATION pipeInformation;
    ULONG interfaceNumber;
    UCHAR alternateSetting;
    LONG firstChannel;  // among the audio pipes of its direction
    EndpointFormat format;
    ULONG packetsPerFrame;                     // isochronous packets per 1 ms frame
    PVOID transferBuffers[kUsbTransferSlots];  // audio pipes only; a feedback pipe receives its
                                               // values in the entries of slots 0 and 1
    ULONG bytesPerFrame;                       // packets per frame x MaximumPacketSize

    // Isochronous streaming.
    LONG feedbackInterval;                                // frames between feedback transfers
    LONG nextFeedbackFrame;                               // -1: none yet
    volatile LONG completionCounters[kUsbTransferSlots];  // per slot
    LONG sync;                                            // 1 for the pipe that paces the others
    volatile LONG outstanding;                            // transfers submitted and not yet retired
    KEVENT allDoneEvent;         // notification; signalled when outstanding drops to 0
    KSPIN_LOCK outstandingLock;  // the last retirement's count and signal as one step
    UsbIsoStreaming* owner;      // the streaming side of the transport that opened the pipe
    IsoTransfer* transferObjects[kUsbTransferSlots];
    volatile LONG inSubmit[kUsbTransferSlots];  // IofCallDriver calls for the slot not returned yet
};

// Once, when the pipe record is made.
void InitializePipeOutstanding(UsbPipe* pipe);
// A transfer of the pipe retired: the last one signals the pipe's all-done event. Any IRQL up
// to DISPATCH_LEVEL.
void ReleasePipeOutstanding(UsbPipe* pipe);
// No transfer of the pipe outstanding, and none still signalling: the pipe may be freed.
bool PipeDrained(UsbPipe* pipe);

// Transfer buffers parked while their interface is at alternate setting 0.
struct BufferCacheEntry
{
    ULONG interfaceNumber;
    UCHAR alternateSetting;
    UCHAR endpointAddress;
    ULONG contiguous;  // the buffers came from contiguous memory (OUT pipes)
    ULONG bytesPerFrame;
    PVOID buffers[kUsbTransferSlots];
};

// The engine's static record of how the device is used.
struct UsbConfigRecord
{
    UCHAR alternateSettings[kUsbConfigInterfaces];  // streaming setting per interface; 0 = not
                                                    // switched
    ULONG feedback;             // nonzero: streaming reads the feedback endpoint
    ULONG noFeedbackRestart;    // nonzero: feedback errors never ask for a restart
    UCHAR configurationNumber;  // 1-based; 0 = the device's last configuration
};
