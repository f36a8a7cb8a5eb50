// The audio format of an endpoint from the class-specific descriptors in front of it. The walk is
// bounded: every descriptor must hold at least its own header and end inside wTotalLength, and
// every field is read only when the descriptor is long enough to hold it.

#include "usb/UsbClassDescriptors.h"

namespace {

constexpr UCHAR kClassInterfaceDescriptor = 0x24;
constexpr UCHAR kClassEndpointDescriptor = 0x25;
constexpr UCHAR kAudioClass = 1;
constexpr UCHAR kHidClass = 3;
constexpr UCHAR kVendorClass = 255;
constexpr UCHAR kAudioStreaming = 2;
constexpr UCHAR kMidiStreaming = 3;
constexpr UCHAR kAsGeneral = 1;
constexpr UCHAR kFormatType = 2;
constexpr UCHAR kUac2AsGeneralLength = 16;
constexpr UCHAR kUac2FormatTypeLength = 6;
constexpr UCHAR kUac1FormatTypeHeader = 8;  // bytes before the rate table
constexpr ULONG kMaxSubframeBytes = 4;

ULONG Rate24(const UCHAR* p)
{
    return static_cast<ULONG>(p[0]) | static_cast<ULONG>(p[1]) << 8 |
           static_cast<ULONG>(p[2]) << 16;
}

// A format type descriptor; d holds length bytes, at least 4.
void ReadFormatType(const UCHAR* d, ULONG length, EndpointFormat* out)
{
    const UCHAR formatType = d[3];
    if (length == kUac2FormatTypeLength) {
        if (formatType == 1) {
            out->subframeSize = d[4];
            out->bitResolution = d[5];
            out->hasFormat = 1;
        }
        return;
    }
    if ((formatType != 1 && formatType != 3 && formatType != 15) ||
        length < kUac1FormatTypeHeader) {
        return;
    }
    out->channels = d[4];
    out->subframeSize = d[5];
    out->bitResolution = d[6];
    const ULONG described = d[7] == 0 ? 2 : d[7];  // a continuous range has its two bounds
    const ULONG room = (length - kUac1FormatTypeHeader) / 3;
    const ULONG present = described < room ? described : room;
    out->rateCount = d[7] == 0 ? 0 : static_cast<LONG>(present);
    const ULONG kept = present < kUsbMaxRates ? present : kUsbMaxRates;
    for (ULONG i = 0; i < kept; ++i) {
        out->rates[i] = Rate24(d + kUac1FormatTypeHeader + 3 * i);
    }
    out->hasFormat = 1;
}

}  // namespace

NTSTATUS ParseEndpointClassDescriptors(PUSB_CONFIGURATION_DESCRIPTOR configuration,
                                       PUSB_INTERFACE_DESCRIPTOR interfaceDescriptor,
                                       ULONG endpointIndex, EndpointFormat* out)
{
    RtlZeroMemory(out, sizeof(*out));
    if (configuration == nullptr || interfaceDescriptor == nullptr) {
        return STATUS_UNSUCCESSFUL;
    }
    const UCHAR* begin = reinterpret_cast<const UCHAR*>(configuration);
    const UCHAR* end = begin + configuration->wTotalLength;
    const UCHAR* at = reinterpret_cast<const UCHAR*>(interfaceDescriptor);
    if (at < begin || at >= end) {
        return STATUS_UNSUCCESSFUL;
    }
    ULONG endpointCount = 0;
    UCHAR subclass = 0;
    NTSTATUS status = STATUS_UNSUCCESSFUL;
    bool walking = true;
    while (walking && end - at >= 2) {
        const ULONG length = at[0];
        if (length < 2 || length > static_cast<ULONG>(end - at)) {
            break;  // a zero length counts as the end; anything else that overruns too
        }
        switch (at[1]) {
            case USB_INTERFACE_DESCRIPTOR_TYPE: {
                if (length < sizeof(USB_INTERFACE_DESCRIPTOR)) {
                    walking = false;
                    break;
                }
                const auto* d = reinterpret_cast<const USB_INTERFACE_DESCRIPTOR*>(at);
                if (d->bInterfaceClass == kAudioClass || d->bInterfaceClass == kVendorClass) {
                    subclass = d->bInterfaceSubClass;
                    if (subclass == kMidiStreaming) {
                        out->isMidi = 1;
                    }
                } else if (d->bInterfaceClass == kHidClass) {
                    out->isHid = 1;
                } else {
                    walking = false;
                }
                break;
            }
            case USB_ENDPOINT_DESCRIPTOR_TYPE: {
                if (length < sizeof(USB_ENDPOINT_DESCRIPTOR)) {
                    walking = false;
                    break;
                }
                const auto* d = reinterpret_cast<const USB_ENDPOINT_DESCRIPTOR*>(at);
                if (USB_ENDPOINT_DIRECTION_IN(d->bEndpointAddress)) {
                    out->isIn = 1;
                    out->isOut = 0;
                    out->isFeedback = (d->bmAttributes & 0x11) == 0x11 ? 1 : 0;
                } else {
                    out->isOut = 1;
                    out->isIn = 0;
                }
                if (endpointCount == endpointIndex) {
                    status = STATUS_SUCCESS;
                    walking = false;
                } else {
                    ++endpointCount;
                }
                break;
            }
            case kClassInterfaceDescriptor:
                if (endpointCount != endpointIndex) {
                    break;
                }
                if (subclass == kAudioStreaming) {
                    if (length >= 3 && at[2] == kAsGeneral && length == kUac2AsGeneralLength) {
                        out->channels = at[10];
                    } else if (length >= 4 && at[2] == kFormatType) {
                        ReadFormatType(at, length, out);
                    }
                } else if (subclass != kMidiStreaming) {
                    walking = false;
                }
                break;
            case kClassEndpointDescriptor:
                break;
            default:
                walking = false;
                break;
        }
        at += length;
    }
    // Without its endpoint the walk says nothing about one: what it gathered belongs to other
    // endpoints or to none. The interface's kind (MIDI, HID) stands.
    if (status != STATUS_SUCCESS) {
        out->hasFormat = 0;
        out->isFeedback = 0;
    }
    // An endpoint with its own format carries audio: it is never also the feedback endpoint,
    // whose record keeps feedback values where an audio pipe keeps its buffers.
    if (out->hasFormat) {
        out->isFeedback = 0;
    }
    // A format without channels or sample size (class 2 without its general descriptor) cannot
    // be streamed: nothing may divide by its frame size. A sample is at most a 32-bit word, so a
    // subframe of more than four bytes cannot be carried either.
    if (out->hasFormat &&
        (out->channels == 0 || out->subframeSize == 0 || out->subframeSize > kMaxSubframeBytes)) {
        out->hasFormat = 0;
    }
    return status;
}
