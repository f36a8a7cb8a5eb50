// Kernel-streaming pins as a minidriver sees them: the pin object, its dispatch and allocator
// framing, its states, the frames queued on it and the stream pointers that walk them, the pin's
// processing and its reference clock. Included by ks.h.
//
// A pin is created from a filter's pin factory (a KSPIN_DESCRIPTOR_EX of the filter descriptor)
// when a client opens it with a data format; it lives until its handle closes. Frames the client
// submits queue on the pin in order. The leading-edge stream pointer walks them; clones keep a
// frame alive after the leading edge moved past it. A frame completes back to the client once no
// stream pointer refers to it and every frame before it has completed: completions come in the
// order of submission.
#pragma once

// ---- States ------------------------------------------------------------------------------

typedef enum
{
    KSSTATE_STOP = 0,
    KSSTATE_ACQUIRE = 1,
    KSSTATE_RUN = 2,
    KSSTATE_PAUSE = 3,
} KSSTATE,
    *PKSSTATE;

// ---- Frames ------------------------------------------------------------------------------

typedef struct
{
    LONGLONG Time;  // in units of Numerator / Denominator x 100 ns
    ULONG Numerator;
    ULONG Denominator;
} KSTIME;

// One frame as the client describes it: Data and FrameExtent give its buffer, DataUsed the bytes
// that hold data (render: set by the client; capture: set by the driver).
typedef struct
{
    ULONG Size;  // bytes of this header
    ULONG TypeSpecificFlags;
    KSTIME PresentationTime;
    LONGLONG Duration;
    ULONG FrameExtent;
    ULONG DataUsed;
    PVOID Data;
    ULONG OptionsFlags;
    ULONG Reserved;
} KSSTREAM_HEADER, *PKSSTREAM_HEADER;

#define KSSTREAM_HEADER_OPTIONSF_SPLICEPOINT 0x00000001
#define KSSTREAM_HEADER_OPTIONSF_TIMEVALID 0x00000080
#define KSSTREAM_HEADER_OPTIONSF_DURATIONVALID 0x00000100
#define KSSTREAM_HEADER_OPTIONSF_ENDOFSTREAM 0x00000200

// Frames travel as device controls on the pin's handle; the output buffer holds the header.
#define IOCTL_KS_WRITE_STREAM KS_CTL_CODE(0x004)
#define IOCTL_KS_READ_STREAM KS_CTL_CODE(0x005)

// ---- Stream pointers ---------------------------------------------------------------------

typedef struct
{
    PUCHAR Data;      // the next byte of the frame, in system space
    ULONG Count;      // bytes of the frame (render: DataUsed; capture: FrameExtent)
    ULONG Remaining;  // bytes from Data to the end of the frame
} KSSTREAM_POINTER_OFFSET, *PKSSTREAM_POINTER_OFFSET;

struct _KSPIN;

typedef struct _KSSTREAM_POINTER
{
    PVOID Context;  // the clone's context area (contextSize bytes), else null
    struct _KSPIN* Pin;
    PKSSTREAM_HEADER StreamHeader;    // the frame's header, kernel copy
    PKSSTREAM_POINTER_OFFSET Offset;  // &OffsetIn for a sink-in pin, &OffsetOut otherwise
    KSSTREAM_POINTER_OFFSET OffsetIn;
    KSSTREAM_POINTER_OFFSET OffsetOut;
} KSSTREAM_POINTER, *PKSSTREAM_POINTER;

typedef enum
{
    KSSTREAM_POINTER_STATE_UNLOCKED = 0,
    KSSTREAM_POINTER_STATE_LOCKED = 1,
} KSSTREAM_POINTER_STATE;

typedef void (*PFNKSSTREAMPOINTER)(PKSSTREAM_POINTER streamPointer);

// ---- Allocator framing -------------------------------------------------------------------

typedef struct
{
    ULONG MinFrameSize;
    ULONG MaxFrameSize;
    ULONG Stepping;
} KS_FRAMING_RANGE;

typedef struct
{
    KS_FRAMING_RANGE Range;
    ULONG InPlaceWeight;
    ULONG NotInPlaceWeight;
} KS_FRAMING_RANGE_WEIGHTED;

typedef struct
{
    ULONG RatioNumerator;
    ULONG RatioDenominator;
    ULONG RatioConstantMargin;
} KS_COMPRESSION;

typedef struct
{
    GUID MemoryType;
    GUID BusType;
    ULONG MemoryFlags;
    ULONG BusFlags;
    ULONG Flags;
    ULONG Frames;
    ULONG FileAlignment;
    ULONG MemoryTypeWeight;
    KS_FRAMING_RANGE PhysicalRange;
    KS_FRAMING_RANGE_WEIGHTED FramingRange;
} KS_FRAMING_ITEM;

struct _KSALLOCATOR_FRAMING_EX
{
    ULONG CountItems;
    ULONG PinFlags;
    KS_COMPRESSION OutputCompression;
    ULONG PinWeight;
    KS_FRAMING_ITEM FramingItem[1];
};

inline constexpr GUID KSMEMORY_TYPE_KERNEL_NONPAGED = {
    0x4A6D5FC4, 0x7895, 0x11D2, {0x87, 0xEF, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
inline constexpr GUID KSMEMORY_TYPE_KERNEL_PAGED = {
    0xD833F8F8, 0x7894, 0x11D2, {0x87, 0xEF, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};

// ---- The pin -----------------------------------------------------------------------------

typedef struct _KSPIN
{
    const KSPIN_DESCRIPTOR_EX* Descriptor;
    KSOBJECT_BAG Bag;
    PVOID Context;
    ULONG Id;  // the pin factory's index in the filter descriptor
    KSPIN_COMMUNICATION Communication;
    PKSDATAFORMAT ConnectionFormat;  // the format the pin was opened with (owned by the pin)
    KSPIN_DATAFLOW DataFlow;
    KSSTATE DeviceState;  // the state the minidriver last accepted
    KSSTATE ClientState;  // the state the client asked for
} KSPIN, *PKSPIN;

typedef NTSTATUS (*PFNKSPINIRP)(PKSPIN pin, struct _IRP* irp);
typedef NTSTATUS (*PFNKSPIN)(PKSPIN pin);
typedef void (*PFNKSPINVOID)(PKSPIN pin);
// oldFormat is null on the pin's first format (at creation); dataRange is the pin's range that
// matched the new format, which is already the pin's ConnectionFormat.
typedef NTSTATUS (*PFNKSPINSETDATAFORMAT)(PKSPIN pin, PKSDATAFORMAT oldFormat,
                                          PVOID oldAttributeList, const KSDATARANGE* dataRange,
                                          PVOID attributeRange);
typedef NTSTATUS (*PFNKSPINSETDEVICESTATE)(PKSPIN pin, KSSTATE toState, KSSTATE fromState);

struct _KSPIN_DISPATCH
{
    PFNKSPINIRP Create;
    PFNKSPINIRP Close;
    PFNKSPIN Process;
    PFNKSPINVOID Reset;
    PFNKSPINSETDATAFORMAT SetDataFormat;
    PFNKSPINSETDEVICESTATE SetDeviceState;
    PFNKSPINVOID Connect;
    PFNKSPINVOID Disconnect;
    const void* Clock;
    const void* Allocator;
};

// Pin descriptor flags.
#define KSPIN_FLAG_DISPATCH_LEVEL_PROCESSING 0x00000001
#define KSPIN_FLAG_CRITICAL_PROCESSING 0x00000002
#define KSPIN_FLAG_HYPERCRITICAL_PROCESSING 0x00000004
#define KSPIN_FLAG_ASYNCHRONOUS_PROCESSING 0x00000008
#define KSPIN_FLAG_DO_NOT_INITIATE_PROCESSING 0x00000010
#define KSPIN_FLAG_PROCESS_IN_RUN_STATE_ONLY 0x00010000

// What a client sends to open a pin: this, then the KSDATAFORMAT (with its format block).
typedef struct
{
    KSPIN_INTERFACE Interface;
    KSPIN_MEDIUM Medium;
    ULONG PinId;
    HANDLE PinToHandle;  // null: the client is the other end
    struct
    {
        ULONG PriorityClass;
        ULONG PrioritySubClass;
    } Priority;
} KSPIN_CONNECT, *PKSPIN_CONNECT;

inline constexpr GUID KSINTERFACESETID_Standard = {
    0x1A8766A0, 0x62CE, 0x11CF, {0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00}};
inline constexpr GUID KSMEDIUMSETID_Standard = {
    0x4747B320, 0x62CE, 0x11CF, {0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00}};
#define KSINTERFACE_STANDARD_STREAMING 0
#define KSINTERFACE_STANDARD_LOOPED_STREAMING 1
#define KSMEDIUM_TYPE_ANYINSTANCE 0

// The connection state and data format properties, which kernel streaming serves itself on every
// pin; a new data format goes to the pin's SetDataFormat with the one it replaces.
inline constexpr GUID KSPROPSETID_Connection = {
    0x1D58C920, 0xAC9B, 0x11CF, {0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00}};
#define KSPROPERTY_CONNECTION_STATE 0
#define KSPROPERTY_CONNECTION_DATAFORMAT 2

// The pin property set of filters. Kernel streaming answers the data intersection itself: the
// property is a KSP_PIN followed by a KSMULTIPLE_ITEM of the caller's data ranges; each range,
// in order, is offered with each of the pin's ranges of the same major format, subformat and
// specifier to the pin's intersection handler, and the first format it produces is the answer.
inline constexpr GUID KSPROPSETID_Pin = {
    0x8C134960, 0x51AD, 0x11CF, {0x87, 0x8A, 0x94, 0xF8, 0x01, 0xC1, 0x00, 0x00}};
#define KSPROPERTY_PIN_DATAINTERSECTION 4
#define KSPROPERTY_PIN_PROPOSEDATAFORMAT 14

// A property addressed to one pin factory of a filter.
typedef struct
{
    KSPROPERTY Property;
    ULONG PinId;
    ULONG Reserved;
} KSP_PIN, *PKSP_PIN;

typedef struct
{
    ULONG Size;   // bytes of this header and the items
    ULONG Count;  // items
} KSMULTIPLE_ITEM, *PKSMULTIPLE_ITEM;

// ---- Pin services ------------------------------------------------------------------------

// The pin a request on a pin handle was sent to, or null.
PKSPIN KsGetPinFromIrp(struct _IRP* irp);
PKSFILTER KsPinGetParentFilter(PKSPIN pin);
// The filter's first open pin of the factory, and the next one; walk under the filter's control
// mutex.
PKSPIN KsFilterGetFirstChildPin(PKSFILTER filter, ULONG pinId);
PKSPIN KsPinGetNextSiblingPin(PKSPIN pin);
ULONG KsFilterGetChildPinCount(PKSFILTER filter, ULONG pinId);

// Asks for the pin's Process dispatch. Asynchronous: from a DPC soon after; otherwise now on this
// thread when no other processing runs (else it runs again once that one returns). Nothing when
// the pin is not in a state that processes. IRQL <= DISPATCH_LEVEL.
void KsPinAttemptProcessing(PKSPIN pin, BOOLEAN asynchronous);

// The leading edge (the first frame not yet advanced past) or the trailing edge (the oldest frame
// not yet completed); null when there is no such frame. IRQL <= DISPATCH_LEVEL for all below.
PKSSTREAM_POINTER KsPinGetLeadingEdgeStreamPointer(PKSPIN pin, KSSTREAM_POINTER_STATE state);
PKSSTREAM_POINTER KsPinGetTrailingEdgeStreamPointer(PKSPIN pin, KSSTREAM_POINTER_STATE state);
NTSTATUS KsStreamPointerLock(PKSSTREAM_POINTER streamPointer);
// Ejecting moves the pointer to the next frame.
void KsStreamPointerUnlock(PKSSTREAM_POINTER streamPointer, BOOLEAN eject);
// To the next frame; STATUS_DEVICE_NOT_READY when there is none (the pointer is then past the
// last frame and refers to none).
NTSTATUS KsStreamPointerAdvance(PKSSTREAM_POINTER streamPointer);
// Moves through the frame by the bytes used (inUsed on a sink-in pin, outUsed otherwise; a
// capture frame's DataUsed grows by outUsed); at the frame's end, or when ejecting, on to the
// next frame as KsStreamPointerAdvance does. More than remains is STATUS_INVALID_PARAMETER.
NTSTATUS KsStreamPointerAdvanceOffsets(PKSSTREAM_POINTER streamPointer, ULONG inUsed, ULONG outUsed,
                                       BOOLEAN eject);
NTSTATUS KsStreamPointerAdvanceOffsetsAndUnlock(PKSSTREAM_POINTER streamPointer, ULONG inUsed,
                                                ULONG outUsed, BOOLEAN eject);
// A second pointer to the same frame and offset, with a zeroed context area of contextSize bytes;
// the frame stays until every clone of it is deleted. STATUS_INSUFFICIENT_RESOURCES when out of
// pool, STATUS_DEVICE_NOT_READY for a pointer that refers to no frame.
NTSTATUS KsStreamPointerClone(PKSSTREAM_POINTER streamPointer, PFNKSSTREAMPOINTER cancelCallback,
                              ULONG contextSize, PKSSTREAM_POINTER* cloneStreamPointer);
// Deletes a clone (never an edge); its frame completes once nothing holds it.
void KsStreamPointerDelete(PKSSTREAM_POINTER streamPointer);
// The status the frame completes with (success unless set).
void KsStreamPointerSetStatusCode(PKSSTREAM_POINTER streamPointer, NTSTATUS status);
// The pin's clones, oldest first.
PKSSTREAM_POINTER KsPinGetFirstCloneStreamPointer(PKSPIN pin);
PKSSTREAM_POINTER KsStreamPointerGetNextClone(PKSSTREAM_POINTER streamPointer);

// ---- Reference clock ---------------------------------------------------------------------

// The clock the client gave the pin, in 100 ns units. Reference counted.
class IKsReferenceClock
{
public:
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;
    virtual LONGLONG GetTime() = 0;
    virtual LONGLONG GetPhysicalTime() = 0;
    // The time and the performance counter read together.
    virtual LONGLONG GetCorrelatedTime(LONGLONG* systemTime) = 0;

protected:
    ~IKsReferenceClock() = default;
};
typedef IKsReferenceClock* PIKSREFERENCECLOCK;

// A referenced interface; STATUS_DEVICE_NOT_READY when the client gave the pin no clock.
NTSTATUS KsPinGetReferenceClockInterface(PKSPIN pin, PIKSREFERENCECLOCK* interfacePointer);
