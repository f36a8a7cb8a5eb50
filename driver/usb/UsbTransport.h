// The driver's only path to the device. The streaming engine owns one, calls InitializeUsb when
// the device starts and ReleaseUsb when it stops, and reaches the device through the operations
// below only. The transport is composed of one object per role, each owning its fields, which
// keep the order below (the roles' members at the end of this class, in the same order):
//
// requests (UsbRequestChannel): device context, request mutex, sync completion event, last sync
//     completion time. Every synchronous request to the device.
// bus (UsbBus): high speed, buffer frames, packets per transfer, bus interface.
// descriptors (UsbDescriptors): manufacturer and product strings, configuration descriptors,
//     selected configuration, device descriptor.
// configuration (UsbConfiguration): configuration handle, configuration record, alternate
//     settings active. Configuration and interface selection.
// pipeTable (UsbPipeTable): pipe table, OUT and IN audio pipes, buffer cache, pipe-table lock.
// classRequests (UsbClassRequests): rate-request flag. Rates, raw class and port requests.
// streaming (UsbIsoStreaming): streaming, feedback, no feedback restart, restart attempts,
//     feedback errors, feedback valid, audio pipes, total samples, transfer carry, fraction
//     accumulator, fraction, frames in flight, first start frame, slot table, current rate,
//     requested samples per transfer, samples per transfer, feedback transfers, transfers,
//     frames per transfer; measured (UsbCaptureFrameSizes): measured ring, window sum and
//     count; effective rate; learning (UsbLatenessLearning): queue-ahead, lateness, window
//     timer, window maximum; engine callbacks, error flags, slot lock, cancel lock.
// midiPipes (UsbMidiPipes): the USB-MIDI pipes' reads and OUT transfers, MIDI started, the
//     pending OUT transfer, the input they deliver to.
//
// Levels: everything here runs at PASSIVE_LEVEL except NextPipe and the FindLast* lookups (up to
// DISPATCH_LEVEL) and what the comments below say.
#pragma once

#include <usbbusif.h>
#include <usbdlib.h>
#include <wdm.h>

#include "usb/UsbBus.h"
#include "usb/UsbClassDescriptors.h"
#include "usb/UsbClassRequests.h"
#include "usb/UsbConfiguration.h"
#include "usb/UsbDescriptors.h"
#include "usb/UsbIsoStreaming.h"
#include "usb/UsbIsoTypes.h"
#include "usb/UsbMidiPipes.h"
#include "usb/UsbPipe.h"
#include "usb/UsbPipeTable.h"
#include "usb/UsbRequestChannel.h"

class UsbTransport
{
public:
    // The context gives the kernel-streaming device, whose next lower device object receives
    // every request, and the remove lock that brackets each of them.
    explicit UsbTransport(DeviceContext* context);
    UsbTransport(const UsbTransport&) = delete;
    UsbTransport& operator=(const UsbTransport&) = delete;

    NTSTATUS InitializeUsb(const UsbConfigRecord& record);
    void ReleaseUsb();

    // Device access and configuration.
    NTSTATUS ReadDescriptors() { return descriptors.ReadDescriptors(); }
    // *buffer: length bytes of pool "QUSB" the caller frees; *transferred: bytes the device sent.
    NTSTATUS GetDescriptor(UCHAR type, UCHAR index, USHORT language, ULONG length, PUCHAR* buffer,
                           ULONG* transferred = nullptr)
    {
        return descriptors.GetDescriptor(type, index, language, length, buffer, transferred);
    }
    NTSTATUS SelectConfiguration() { return configuration.SelectConfiguration(); }
    NTSTATUS SelectInterface(ULONG interfaceNumber, UCHAR alternateSetting)
    {
        return configuration.SelectInterface(interfaceNumber, alternateSetting);
    }
    NTSTATUS SelectAlternateSettings(bool enable)
    {
        return configuration.SelectAlternateSettings(enable);
    }
    static NTSTATUS ParseClassDescriptors(PUSB_CONFIGURATION_DESCRIPTOR configurationDescriptor,
                                          PUSB_INTERFACE_DESCRIPTOR interfaceDescriptor,
                                          ULONG endpointIndex, EndpointFormat* out)
    {
        return ParseEndpointClassDescriptors(configurationDescriptor, interfaceDescriptor,
                                             endpointIndex, out);
    }
    NTSTATUS SubmitUrb(PURB urb) { return requests.SubmitUrb(urb); }
    NTSTATUS CallLowerDriver(PIRP irp) { return requests.CallLowerDriver(irp); }

    // Class requests.
    NTSTATUS SetSampleRate(ULONG rate) { return classRequests.SetSampleRate(rate); }
    void CheckRateRequests() { classRequests.CheckRateRequests(); }
    NTSTATUS SendRawClassRequest(ULONG transferFlags, const RawClassRequest& request, PVOID buffer,
                                 ULONG bufferLength)
    {
        return classRequests.SendRawClassRequest(transferFlags, request, buffer, bufferLength);
    }
    NTSTATUS CyclePort() { return classRequests.CyclePort(); }
    NTSTATUS QueryUsbLocation(PUSB_TOPOLOGY_ADDRESS address)
    {
        return classRequests.QueryUsbLocation(address);
    }

    // The pipe table (up to DISPATCH_LEVEL).
    bool NextPipe(UsbPipe** pipe, ULONG* index) { return pipeTable.NextPipe(pipe, index); }
    UsbPipe* FindLastOutAudioPipe() { return pipeTable.FindLastAudioPipe(false); }
    UsbPipe* FindLastInAudioPipe() { return pipeTable.FindLastAudioPipe(true); }

    // What the streaming side reports, which paces the requests at high speed: whether the
    // isochronous transfers run and how many frames each covers, and each completion of the sync
    // pipe (any IRQL up to DISPATCH_LEVEL).
    void SetIsoStreamingState(bool running, ULONG frames)
    {
        streaming.SetStreamingState(running, frames);
    }
    void MarkSyncCompletion() { requests.MarkSyncCompletion(); }

    // Isochronous streaming (PASSIVE_LEVEL). The engine sets the callbacks, the samples it asks
    // per transfer and the queue-ahead before each start.
    NTSTATUS StartIsoStreaming() { return streaming.StartIsoStreaming(); }
    NTSTATUS StopIsoStreaming() { return streaming.StopIsoStreaming(); }
    void SetEngineCallbacks(const IsoEngineCallbacks& routines)
    {
        streaming.SetEngineCallbacks(routines);
    }
    // A start refuses audio pipes that do not carry this shape (STATUS_INVALID_PARAMETER).
    void SetStreamShape(const IsoStreamShape& expected) { streaming.SetStreamShape(expected); }
    void SetRequestedSamplesPerTransfer(ULONG samples)
    {
        streaming.SetRequestedSamplesPerTransfer(samples);
    }
    // Clamped to 0..8: the sizing needs a budget of 7 to 15 frames.
    void SetQueueAhead(LONG frames) { streaming.SetQueueAhead(frames); }
    LONG QueueAhead() const { return streaming.QueueAhead(); }
    bool IsStreaming() const { return streaming.IsStreaming(); }
    ULONGLONG TotalSamples() const { return streaming.TotalSamples(); }
    ULONG Transfers() const { return streaming.Transfers(); }
    ULONG FramesPerTransfer() const { return streaming.FramesPerTransfer(); }
    ULONG SamplesPerTransfer() const { return streaming.SamplesPerTransfer(); }
    LONG Lateness() const { return streaming.Lateness(); }
    ULONG Fraction() const { return streaming.Fraction(); }
    bool FeedbackValid() const { return streaming.FeedbackValid(); }
    ULONG FeedbackErrors() const { return streaming.FeedbackErrors(); }
    ULONG RestartAttempts() const { return streaming.RestartAttempts(); }
    ULONG LostFrames() const { return streaming.LostFrames(); }
    const TransferSlot& Slot(ULONG i) const { return streaming.Slot(i); }
    // Any IRQL up to DISPATCH_LEVEL; at PASSIVE_LEVEL through a request.
    NTSTATUS GetCurrentFrame(PULONG frame) { return bus.GetCurrentFrame(frame); }
    NTSTATUS PipeRequest(USBD_PIPE_HANDLE handle, bool reset)
    {
        return streaming.PipeRequest(handle, reset);
    }
    static LONG ClampQueueAhead(LONG frames) { return UsbIsoStreaming::ClampQueueAhead(frames); }
    static constexpr LONG kMaxQueueAhead = UsbIsoStreaming::kMaxQueueAhead;

    // State the engine and the streaming side read.
    bool HighSpeed() const { return bus.HighSpeed(); }
    ULONG PacketsPerTransfer() const { return bus.PacketsPerTransfer(); }
    ULONG BufferFrames() const { return bus.BufferFrames(); }
    const USB_DEVICE_DESCRIPTOR* DeviceDescriptor() const { return descriptors.DeviceDescriptor(); }
    // Never null: a string that could not be read, or not even be stored, reads as empty.
    const WCHAR* ManufacturerString() const { return descriptors.ManufacturerString(); }
    const WCHAR* ProductString() const { return descriptors.ProductString(); }
    PUSB_CONFIGURATION_DESCRIPTOR SelectedConfigurationDescriptor() const
    {
        return descriptors.SelectedConfigurationDescriptor();
    }
    ULONG SelectedConfiguration() const { return descriptors.SelectedConfiguration(); }
    bool Configured() const { return configuration.Configured(); }
    ULONG PipeCount() const { return pipeTable.PipeCount(); }
    ULONG OutAudioPipes() const { return pipeTable.OutAudioPipes(); }
    ULONG InAudioPipes() const { return pipeTable.InAudioPipes(); }
    ULONG BufferCacheCount() const { return pipeTable.BufferCacheCount(); }
    bool RateRequestFlag() const { return classRequests.RateRequestFlag(); }
    bool AlternateSettingsActive() const { return configuration.AlternateSettingsActive(); }
    ULONG CurrentRate() const { return streaming.CurrentRate(); }
    ULONG EffectiveRate() const { return streaming.EffectiveRate(); }
    const UsbConfigRecord& ConfigRecord() const { return configuration.ConfigRecord(); }

    // The USB-MIDI pipes, which the engine's MIDI tick drives; ReleaseUsb stops them first.
    UsbMidiPipes* MidiPipes() { return &midiPipes; }

private:
    // In the order of the roles above; the first ones take references to later ones, which they
    // use only once the transport is built.
    UsbRequestChannel requests;
    UsbBus bus;
    UsbDescriptors descriptors;
    UsbConfiguration configuration;
    UsbPipeTable pipeTable;
    UsbClassRequests classRequests;
    UsbIsoStreaming streaming;
    UsbMidiPipes midiPipes;
};
