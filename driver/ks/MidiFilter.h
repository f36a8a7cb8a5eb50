// MIDI filters: one kernel-streaming filter factory per MIDI port, or per pair of ports sharing an
// id, with raw MIDI and DirectMusic streaming pins, synthesizer nodes and bridge pins, built at run
// time for the port table's entries; the device interface values of the factory; and the format
// and node questions of the system's MIDI stacks.
//
// The MidiFilter is the factory's context and lives in the factory's object bag: it goes with the
// factory and frees what it built. Each open filter has a MidiFilterContext in the filter's bag,
// listing the filter's open input and output pins under one lock; open filters are on the
// device's MIDI-filter list.
#pragma once

#include <dmusicks.h>
#include <ks.h>
#include <ksmedia.h>

#include "device/DeviceContext.h"
#include "ks/FilterPinList.h"

inline constexpr ULONG kMidiFilterTag = 0x774E6350;      // "PcNw"
inline constexpr ULONG kMidiDescriptorTag = 0x7843464D;  // "MFCx"

// The reference GUID of every MIDI filter descriptor; it also tells MIDI factories apart.
inline constexpr GUID kMidiFilterReferenceGuid = {
    0x456DC892, 0x44B5, 0x4220, {0x9C, 0x43, 0x87, 0x69, 0x7C, 0x5A, 0x09, 0x7C}};
// The "CLSID" value of every MIDI filter's device interface.
inline constexpr char16_t kMidiFilterClsid[] = u"{17CCA71B-ECD7-11D0-B908-00A0C9223196}";
// Characters of a port name the reference string looks at.
inline constexpr ULONG kMidiReferenceCharacters = 31;

// Kinds of MIDI filter, and their pin ids.
enum MidiFilterKindValue : ULONG
{
    kMidiKindInput = 0,
    kMidiKindOutput = 1,
    kMidiKindInputOutput = 2,
};

enum MidiOutputPinId : ULONG
{
    kMidiOutPinRaw = 0,          // kinds 1 and 2
    kMidiOutPinDirectMusic = 1,  // kinds 1 and 2
    kMidiOutPinBridge = 2,       // kinds 1 and 2
    kMidiPairPinBridgeIn = 3,    // kind 2
    kMidiPairPinInput = 4,       // kind 2
};
enum MidiInputPinId : ULONG
{
    kMidiInPinBridge = 0,  // kind 0
    kMidiInPinInput = 1,   // kind 0
};

struct MidiFilter
{
    PKSFILTERFACTORY factory;
    UCHAR enabled;
    LONG inputPort;                   // -1: none
    LONG outputPort;                  // -1: none
    ULONG kind;                       // MidiFilterKindValue
    KSFILTER_DESCRIPTOR* descriptor;  // "MFCx"
    KSPIN_DESCRIPTOR_EX* pins;        // "MFCx"
    ULONG pinCount;
};

// Per open filter: its open MIDI pins, listed until they close.
using MidiPinNode = FilterPinNode;

struct MidiFilterContext
{
    PKSFILTER filter;
    LONG openPins;
    MidiPinNode* inputPins;   // under pinListLock
    MidiPinNode* outputPins;  // under pinListLock
    KSPIN_LOCK pinListLock;   // in-stack queued
};

// PASSIVE_LEVEL. Null when both indexes are -1, the kind does not match them, or the factory could
// not be built (nothing is then published).
MidiFilter* CreateMidiFilterFactory(DeviceContext* context, ULONG kind, LONG inputIndex,
                                    LONG outputIndex);

// The reference string of a port name: at most 31 characters looked at, a-z upper-cased, the
// no-break space as '_', only A-Z, 0-9 and '_' kept, then 'I' for kind 0, 'O' for kind 1. out
// holds kMidiReferenceCharacters + 2 characters.
void MidiReferenceString(const WCHAR* name, ULONG kind, WCHAR* out);

// Descriptors (MidiDescriptors.cpp): false when out of pool (the filter frees what they got).
bool BuildMidiPinDescriptors(MidiFilter* filter);
bool BuildMidiFilterDescriptor(MidiFilter* filter);
void FreeMidiFilter(PVOID filter);  // the bag's free routine

MidiFilterContext* MidiFilterContextOf(PKSFILTER filter);
MidiFilter* MidiFilterOf(PKSFILTER filter);
// The MidiFilter of a factory, or null when it is no MIDI factory.
MidiFilter* MidiFilterOfFactory(PKSFILTERFACTORY factory);

// Filter dispatch (MidiFilter.cpp). PASSIVE_LEVEL.
NTSTATUS OpenMidiFilter(PKSFILTER filter, PIRP irp);
NTSTATUS CloseMidiFilter(PKSFILTER filter, PIRP irp);

// Format answers and automation (MidiFormats.cpp, MidiSynthProperties.cpp).
NTSTATUS IntersectMidiFormat(PVOID context, PIRP irp, PKSPIN_DESCRIPTOR pin,
                             PKSDATARANGE callerRange, PKSDATARANGE pinRange, ULONG bufferSize,
                             PVOID data, PULONG dataSize);
NTSTATUS SetMidiPinFormat(PKSPIN pin, PKSDATAFORMAT oldFormat, PVOID oldAttributes,
                          const KSDATARANGE* range, PVOID attributeRange);
// True for a MIDI or DirectMusic connection format; *directMusic tells which.
bool IsMidiFormat(const KSDATAFORMAT* format, bool* directMusic);
extern const KSAUTOMATION_TABLE kMidiFilterAutomation;
extern const KSAUTOMATION_TABLE kSynthNodeAutomation;
