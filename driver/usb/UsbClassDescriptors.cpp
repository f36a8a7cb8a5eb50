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

// Where a walk stands: the endpoint it looks for, the endpoints met so far and the subclass of
// the interface it is in.
struct DescriptorWalk
{
    ULONG endpointIndex;
    ULONG endpointCount;
    UCHAR subclass;
    EndpointFormat* out;
};

enum class WalkStep
{
    next,   // go on with the next descriptor
    found,  // the endpoint looked for was reached
    stop,   // a descriptor the walk does not accept ends it
};

// Audio and vendor-specific interfaces give the subclass; HID marks the endpoint; any other class
// ends the walk.
WalkStep ReadInterface(const UCHAR* at, ULONG length, DescriptorWalk* walk)
{
    if (length < sizeof(USB_INTERFACE_DESCRIPTOR)) {
        return WalkStep::stop;
    }
    const auto* d = reinterpret_cast<const USB_INTERFACE_DESCRIPTOR*>(at);
    if (d->bInterfaceClass == kAudioClass || d->bInterfaceClass == kVendorClass) {
        walk->subclass = d->bInterfaceSubClass;
        if (walk->subclass == kMidiStreaming) {
            walk->out->isMidi = 1;
        }
        return WalkStep::next;
    }
    if (d->bInterfaceClass == kHidClass) {
        walk->out->isHid = 1;
        return WalkStep::next;
    }
    return WalkStep::stop;
}

// Every endpoint met gives its direction (and an IN endpoint whether it is a feedback one); the
// one looked for ends the walk.
WalkStep ReadEndpoint(const UCHAR* at, ULONG length, DescriptorWalk* walk)
{
    if (length < sizeof(USB_ENDPOINT_DESCRIPTOR)) {
        return WalkStep::stop;
    }
    const auto* d = reinterpret_cast<const USB_ENDPOINT_DESCRIPTOR*>(at);
    EndpointFormat* out = walk->out;
    if (USB_ENDPOINT_DIRECTION_IN(d->bEndpointAddress)) {
        out->isIn = 1;
        out->isOut = 0;
        out->isFeedback = (d->bmAttributes & 0x11) == 0x11 ? 1 : 0;
    } else {
        out->isOut = 1;
        out->isIn = 0;
    }
    if (walk->endpointCount == walk->endpointIndex) {
        return WalkStep::found;
    }
    ++walk->endpointCount;
    return WalkStep::next;
}

// Only the class-specific interface descriptors in front of the endpoint looked for count: an
// audio streaming interface's general and format type descriptors; a MIDI streaming interface's
// are passed over; those of any other subclass end the walk.
WalkStep ReadClassInterface(const UCHAR* at, ULONG length, DescriptorWalk* walk)
{
    if (walk->endpointCount != walk->endpointIndex) {
        return WalkStep::next;
    }
    if (walk->subclass == kAudioStreaming) {
        if (length >= 3 && at[2] == kAsGeneral && length == kUac2AsGeneralLength) {
            walk->out->channels = at[10];
        } else if (length >= 4 && at[2] == kFormatType) {
            ReadFormatType(at, length, walk->out);
        }
        return WalkStep::next;
    }
    return walk->subclass == kMidiStreaming ? WalkStep::next : WalkStep::stop;
}

// One descriptor of length bytes (at least 2, inside the configuration).
WalkStep ReadDescriptor(const UCHAR* at, ULONG length, DescriptorWalk* walk)
{
    switch (at[1]) {
        case USB_INTERFACE_DESCRIPTOR_TYPE:
            return ReadInterface(at, length, walk);
        case USB_ENDPOINT_DESCRIPTOR_TYPE:
            return ReadEndpoint(at, length, walk);
        case kClassInterfaceDescriptor:
            return ReadClassInterface(at, length, walk);
        case kClassEndpointDescriptor:
            return WalkStep::next;
        default:
            return WalkStep::stop;
    }
}

// What the walk gathered, held to what can be streamed.
void SettleFormat(bool found, EndpointFormat* out)
{
    // Without its endpoint the walk says nothing about one: what it gathered belongs to other
    // endpoints or to none. The interface's kind (MIDI, HID) stands.
    if (!found) {
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
    DescriptorWalk walk{endpointIndex, 0, 0, out};
    WalkStep step = WalkStep::next;
    while (step == WalkStep::next && end - at >= 2) {
        const ULONG length = at[0];
        if (length < 2 || length > static_cast<ULONG>(end - at)) {
            break;  // a zero length counts as the end; anything else that overruns too
        }
        step = ReadDescriptor(at, length, &walk);
        at += length;
    }
    const bool found = step == WalkStep::found;
    SettleFormat(found, out);
    return found ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL;
}
