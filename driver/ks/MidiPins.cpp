// What both MIDI pins share: their create and close on the filter's lists, the device and clock
// helpers of their streams, and the dispatch tables of the streaming pins.
#include "ks/MidiPins.h"

#include <new>

#include "common/InStackLock.h"
#include "device/DeviceLifecycle.h"
#include "ks/MidiPinStream.h"

namespace {

constexpr ULONG kVistaVersion = 0x06000000;

template <typename Stream>
void FreeStream(PVOID object)
{
    auto* stream = static_cast<Stream*>(static_cast<PinStream*>(object));
    stream->~Stream();
    ExFreePoolWithTag(object, kMidiFilterTag);
}

FilterPinListRef ListOf(MidiFilterContext* filter, bool input)
{
    return {&filter->pinListLock, input ? &filter->inputPins : &filter->outputPins,
            &filter->openPins};
}

bool ListPin(MidiFilterContext* filter, PKSPIN pin, bool input)
{
    return ListFilterPin(ListOf(filter, input), pin, kMidiFilterTag);
}

// Under the pin-list lock, which a delivery of the pin holds while it runs: once unlisted, no
// delivery reaches the pin.
void UnlistPin(MidiFilterContext* filter, PKSPIN pin, bool input)
{
    UnlistFilterPin(ListOf(filter, input), pin, kMidiFilterTag);
}

DeviceContext* DeviceContextOf(PVOID object)
{
    PKSDEVICE device = KsGetDevice(object);
    return device != nullptr ? static_cast<DeviceContext*>(device->Context) : nullptr;
}

template <typename Stream>
NTSTATUS CreateMidiPin(PKSPIN pin, bool input)
{
    bool directMusic = false;
    if (!IsMidiFormat(pin->ConnectionFormat, &directMusic)) {
        return STATUS_NO_MATCH;
    }
    void* memory = ExAllocatePoolWithTag(NonPagedPoolNx, sizeof(Stream), kMidiFilterTag);
    if (memory == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    RtlZeroMemory(memory, sizeof(Stream));
    auto* stream = new (memory) Stream();
    KsAcquireControl(pin);
    NTSTATUS status =
        KsAddItemToObjectBag(pin->Bag, static_cast<PinStream*>(stream), FreeStream<Stream>);
    KsReleaseControl(pin);
    if (!NT_SUCCESS(status)) {
        FreeStream<Stream>(static_cast<PinStream*>(stream));
        return status;
    }
    stream->pin = pin;
    KeInitializeSpinLock(&stream->pinLock);
    KeInitializeSpinLock(&stream->cloneLock);
    stream->context = DeviceContextOf(pin);
    stream->systemVersion =
        stream->context != nullptr ? QueryOsVersion(stream->context) : kVistaVersion;
    stream->ChangeFormat(directMusic ? kMidiDataDirectMusic : kMidiDataRaw);
    PKSFILTER filter = KsPinGetParentFilter(pin);
    MidiFilterContext* filterContext = MidiFilterContextOf(filter);
    const MidiFilter* midi = MidiFilterOf(filter);
    const LONG port = input ? midi->inputPort : midi->outputPort;
    if (stream->context == nullptr || filterContext == nullptr || port < 0) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    stream->port = static_cast<ULONG>(port);
    stream->filterContext = filterContext;
    // The context first: a delivery that finds the pin listed reaches its stream through it.
    pin->Context = static_cast<PinStream*>(stream);
    if (!ListPin(filterContext, pin, input)) {
        pin->Context = nullptr;
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    return STATUS_SUCCESS;
}

NTSTATUS CreateInputPin(PKSPIN pin, PIRP)
{
    return CreateMidiPin<MidiInputPinStream>(pin, true);
}

NTSTATUS CreateOutputPin(PKSPIN pin, PIRP)
{
    return CreateMidiPin<MidiOutputPinStream>(pin, false);
}

MidiInputPinStream* InputOf(PKSPIN pin)
{
    return static_cast<MidiInputPinStream*>(MidiPinOf(pin));
}

MidiOutputPinStream* OutputOf(PKSPIN pin)
{
    return static_cast<MidiOutputPinStream*>(MidiPinOf(pin));
}

NTSTATUS CloseInputPin(PKSPIN pin, PIRP)
{
    MidiInputPinStream* stream = InputOf(pin);
    if (stream != nullptr) {
        UnlistPin(stream->filterContext, pin, true);
        stream->Close();
    }
    return STATUS_SUCCESS;
}

NTSTATUS CloseOutputPin(PKSPIN pin, PIRP)
{
    MidiOutputPinStream* stream = OutputOf(pin);
    if (stream != nullptr) {
        UnlistPin(stream->filterContext, pin, false);
        stream->Close();
    }
    return STATUS_SUCCESS;
}

NTSTATUS ProcessInputPin(PKSPIN pin)
{
    MidiInputPinStream* stream = InputOf(pin);
    return stream != nullptr ? stream->Process() : STATUS_DEVICE_NOT_CONNECTED;
}

NTSTATUS ProcessOutputPin(PKSPIN pin)
{
    MidiOutputPinStream* stream = OutputOf(pin);
    return stream != nullptr ? stream->Process() : STATUS_DEVICE_NOT_CONNECTED;
}

NTSTATUS SetInputState(PKSPIN pin, KSSTATE to, KSSTATE from)
{
    MidiInputPinStream* stream = InputOf(pin);
    return stream != nullptr ? stream->SetState(to, from) : STATUS_DEVICE_NOT_CONNECTED;
}

NTSTATUS SetOutputState(PKSPIN pin, KSSTATE to, KSSTATE from)
{
    MidiOutputPinStream* stream = OutputOf(pin);
    return stream != nullptr ? stream->SetState(to, from) : STATUS_DEVICE_NOT_CONNECTED;
}

}  // namespace

MidiPinStream* MidiPinOf(PKSPIN pin)
{
    return pin->Context != nullptr
               ? static_cast<MidiPinStream*>(static_cast<PinStream*>(pin->Context))
               : nullptr;
}

void MidiPinStream::ChangeFormat(ULONG format)
{
    InStackLock hold(&pinLock);
    dataFormat = format;
}

bool MidiPinStream::DeviceGone() const
{
    return context == nullptr || GetPnpState(context) > kPnpStarted;
}

void MidiPinStream::TakeClock()
{
    if (clock == nullptr && !NT_SUCCESS(KsPinGetReferenceClockInterface(pin, &clock))) {
        clock = nullptr;
    }
}

void MidiPinStream::ReleaseClock()
{
    if (clock != nullptr) {
        clock->Release();
        clock = nullptr;
    }
}

const KSPIN_DISPATCH kMidiInputPinDispatch = {
    .Create = CreateInputPin,
    .Close = CloseInputPin,
    .Process = ProcessInputPin,
    .Reset = nullptr,
    .SetDataFormat = SetMidiPinFormat,
    .SetDeviceState = SetInputState,
    .Connect = nullptr,
    .Disconnect = nullptr,
    .Clock = nullptr,
    .Allocator = nullptr,
};

const KSPIN_DISPATCH kMidiOutputPinDispatch = {
    .Create = CreateOutputPin,
    .Close = CloseOutputPin,
    .Process = ProcessOutputPin,
    .Reset = nullptr,
    .SetDataFormat = SetMidiPinFormat,
    .SetDeviceState = SetOutputState,
    .Connect = nullptr,
    .Disconnect = nullptr,
    .Clock = nullptr,
    .Allocator = nullptr,
};
