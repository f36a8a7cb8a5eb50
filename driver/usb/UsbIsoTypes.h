// The records of isochronous streaming: a transfer slot shared by the audio pipes, one transfer in
// flight, and the routines through which the engine takes part.
#pragma once

#include <usb.h>
#include <wdm.h>

#include "usb/UsbPipe.h"

inline constexpr ULONG kUsbMaxFramesPerTransfer = 4;  // frame sizes a slot and a buffer hold

struct TransferSlot
{
    ULONG startFrame;                            // bus frame of the slot's next transfer
    SHORT frameSizes[kUsbMaxFramesPerTransfer];  // samples per frame
    ULONG frames;                                // frames of the transfer
    ULONG samples;                               // sum of the frame sizes
    ULONG previousSamples;                       // the cycle last accounted
    ULONG samplesBeforeThat;                     // the cycle before it
    ULONG cyclesAccounted;
};

// Non-paged pool "TrOb", zero-filled.
struct IsoTransfer
{
    PIRP irp;  // stack size of the lower device + 1
    PURB urb;  // "Urb ", room for one packet more than a transfer uses
    ULONG slot;
    LONG startFrame;  // -1: as soon as possible
    UsbPipe* pipe;
    ULONG priming;  // cycles left before data flows
};

// Samples a captured frame may differ from the rate and still be taken as it came.
inline constexpr LONG kCaptureSizeTolerance = 2;

// Error flags reported with each period.
inline constexpr LONG kIsoOutError = 4;  // an OUT transfer failed or carried no samples
inline constexpr LONG kIsoInError = 8;   // an IN transfer or packet failed, or a frame was empty

// What the configuration in force carries in each direction, which every audio pipe of that
// direction must match before streaming starts: the channels of the direction's layouts that the
// device serves, and the byte size of their sample format (0 when the layouts disagree).
struct IsoStreamShape
{
    ULONG outChannels;
    ULONG outSampleBytes;
    ULONG inChannels;
    ULONG inSampleBytes;
};

// What the engine gives the transport before each start. Every routine runs at DISPATCH_LEVEL in
// a completion; the first cycle of the sync pipe is primed with silence and calls none.
struct IsoEngineCallbacks
{
    // Before an OUT transfer goes out: write samples x channels of interleaved data into *buffer,
    // or point *buffer at a buffer of the engine's own, which the transfer then carries.
    void (*onFillOutput)(PVOID context, ULONG startFrame, ULONG samples, ULONG column,
                         PVOID* buffer, ULONG reserved, ULONG previousStartFrame,
                         ULONG previousSamples);
    // An OUT transfer completed; the buffer it carried is free again.
    void (*onCancelPacket)(PVOID context, ULONG startFrame, ULONG samples, ULONG column,
                           PVOID buffer);
    PVOID fillContext;  // of the two above
    // A period completed: captured data of an IN pipe, or (data null) the sync pipe when OUT.
    void (*onUsbPeriod)(PVOID context, ULONG startFrame, ULONG samples, ULONG column, PVOID data,
                        LONG errorFlags, ULONG slotSamples, LONG queueAhead);
    PVOID periodContext;
    // The schedule fell behind the bus (completions held back past the transfers queued ahead)
    // and moved on: frames (1 ms periods of the bus) that carried nothing.
    void (*onPeriodsLost)(PVOID context, ULONG frames);  // periodContext
    // Stop streaming and start again; the engine defers it when called at a raised IRQL.
    void (*restartStreaming)(PVOID context);
    PVOID restartContext;
};
