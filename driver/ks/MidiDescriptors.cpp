// The descriptors of a MIDI filter, by kind: the streaming and bridge pins, the synthesizer nodes
// and the connections between them. The tables are constant; each filter gets its own copy of its
// kind's pins and filter descriptor.
#include <iterator>

#include "ks/FilterComponentId.h"
#include "ks/MidiFilter.h"
#include "ks/MidiPins.h"

namespace {

constexpr GUID kRawOutputPinName = {
    0x185FEDF8, 0x9905, 0x11D1, {0x95, 0xA9, 0x00, 0xC0, 0x4F, 0xB9, 0x25, 0xD3}};
constexpr GUID kDirectMusicOutputPinName = {
    0xA4DF0EB5, 0xBAC9, 0x11D2, {0xB7, 0xA8, 0x00, 0x60, 0x08, 0x33, 0x16, 0xC1}};
constexpr GUID kInputPinName = {
    0xB2EC0A7D, 0xBAC9, 0x11D2, {0xB7, 0xA8, 0x00, 0x60, 0x08, 0x33, 0x16, 0xC1}};

const KSPIN_INTERFACE kStandardInterface = {KSINTERFACESETID_Standard,
                                            KSINTERFACE_STANDARD_STREAMING, 0};
const KSPIN_MEDIUM kStandardMedium = {KSMEDIUMSETID_Standard, KSMEDIUM_TYPE_ANYINSTANCE, 0};

KSDATARANGE_MUSIC MusicRange(const GUID& subFormat)
{
    KSDATARANGE_MUSIC range{};
    range.DataRange.FormatSize = sizeof(KSDATARANGE_MUSIC);
    range.DataRange.MajorFormat = KSDATAFORMAT_TYPE_MUSIC;
    range.DataRange.SubFormat = subFormat;
    range.DataRange.Specifier = KSDATAFORMAT_SPECIFIER_NONE;
    range.Technology = KSMUSIC_TECHNOLOGY_PORT;
    range.Channels = 0;
    range.Notes = 0;
    range.ChannelMask = 0xFFFF;
    return range;
}

const KSDATARANGE_MUSIC kMidiRange = MusicRange(KSDATAFORMAT_SUBTYPE_MIDI);
const KSDATARANGE_MUSIC kDirectMusicRange = MusicRange(KSDATAFORMAT_SUBTYPE_DIRECTMUSIC);
const KSDATARANGE kBusRange = {{sizeof(KSDATARANGE), 0, 0, 0, KSDATAFORMAT_TYPE_MUSIC,
                                KSDATAFORMAT_SUBTYPE_MIDI_BUS, KSDATAFORMAT_SPECIFIER_NONE}};

const PKSDATARANGE kMidiRanges[] = {const_cast<PKSDATARANGE>(&kMidiRange.DataRange)};
const PKSDATARANGE kDirectMusicRanges[] = {const_cast<PKSDATARANGE>(&kDirectMusicRange.DataRange)};
const PKSDATARANGE kInputRanges[] = {const_cast<PKSDATARANGE>(&kMidiRange.DataRange),
                                     const_cast<PKSDATARANGE>(&kDirectMusicRange.DataRange)};
const PKSDATARANGE kBusRanges[] = {const_cast<PKSDATARANGE>(&kBusRange)};

constexpr KSALLOCATOR_FRAMING_EX Framing(ULONG frames, ULONG bytes)
{
    return {
        .CountItems = 1,
        .PinFlags = 0,
        .OutputCompression = {1, 1, 0},
        .PinWeight = 0,
        .FramingItem = {{
            .MemoryType = KSMEMORY_TYPE_KERNEL_NONPAGED,
            .BusType = {},
            .MemoryFlags = 0,
            .BusFlags = 0,
            .Flags = 0x80000003,
            .Frames = frames,
            .FileAlignment = 0,
            .MemoryTypeWeight = 0,
            .PhysicalRange = {0, 0xFFFFFFFF, 1},
            .FramingRange = {{bytes, bytes, 1}, 0, 0},
        }},
    };
}

const KSALLOCATOR_FRAMING_EX kOutputFraming = Framing(2, 8192);
const KSALLOCATOR_FRAMING_EX kInputFraming = Framing(0, 4096);

constexpr ULONG kStreamPinFlags =
    KSPIN_FLAG_PROCESS_IN_RUN_STATE_ONLY | KSPIN_FLAG_DISPATCH_LEVEL_PROCESSING;
static_assert(kStreamPinFlags == 0x10001);
constexpr ULONG kStreamPinInstances = 4;

enum class PinShape
{
    RawOutput,
    DirectMusicOutput,
    Input,
    BridgeOut,
    BridgeIn,
};

KSPIN_DESCRIPTOR_EX PinOf(PinShape shape)
{
    KSPIN_DESCRIPTOR_EX pin{};
    pin.PinDescriptor.InterfacesCount = 1;
    pin.PinDescriptor.Interfaces = &kStandardInterface;
    pin.PinDescriptor.MediumsCount = 1;
    pin.PinDescriptor.Mediums = &kStandardMedium;
    pin.PinDescriptor.Category = &KSCATEGORY_AUDIO;
    if (shape == PinShape::BridgeOut || shape == PinShape::BridgeIn) {
        pin.PinDescriptor.DataRangesCount = 1;
        pin.PinDescriptor.DataRanges = kBusRanges;
        pin.PinDescriptor.DataFlow =
            shape == PinShape::BridgeOut ? KSPIN_DATAFLOW_OUT : KSPIN_DATAFLOW_IN;
        pin.PinDescriptor.Communication = KSPIN_COMMUNICATION_NONE;
        return pin;
    }
    const bool input = shape == PinShape::Input;
    pin.Dispatch = input ? &kMidiInputPinDispatch : &kMidiOutputPinDispatch;
    pin.PinDescriptor.DataRangesCount = input ? 2 : 1;
    pin.PinDescriptor.DataRanges = input                          ? kInputRanges
                                   : shape == PinShape::RawOutput ? kMidiRanges
                                                                  : kDirectMusicRanges;
    pin.PinDescriptor.DataFlow = input ? KSPIN_DATAFLOW_OUT : KSPIN_DATAFLOW_IN;
    pin.PinDescriptor.Communication = KSPIN_COMMUNICATION_SINK;
    pin.PinDescriptor.Name = input                          ? &kInputPinName
                             : shape == PinShape::RawOutput ? &kRawOutputPinName
                                                            : &kDirectMusicOutputPinName;
    pin.Flags = kStreamPinFlags;
    pin.InstancesPossible = kStreamPinInstances;
    pin.AllocatorFraming = input ? &kInputFraming : &kOutputFraming;
    pin.IntersectHandler = IntersectMidiFormat;
    return pin;
}

constexpr PinShape kInputShapes[] = {PinShape::BridgeIn, PinShape::Input};
constexpr PinShape kOutputShapes[] = {PinShape::RawOutput, PinShape::DirectMusicOutput,
                                      PinShape::BridgeOut};
constexpr PinShape kPairShapes[] = {PinShape::RawOutput, PinShape::DirectMusicOutput,
                                    PinShape::BridgeOut, PinShape::BridgeIn, PinShape::Input};
static_assert(kInputShapes[kMidiInPinInput] == PinShape::Input);
static_assert(kPairShapes[kMidiOutPinRaw] == PinShape::RawOutput);
static_assert(kPairShapes[kMidiOutPinDirectMusic] == PinShape::DirectMusicOutput);
static_assert(kPairShapes[kMidiPairPinInput] == PinShape::Input);

const GUID kInputCategories[] = {KSCATEGORY_AUDIO, KSCATEGORY_CAPTURE};
const GUID kOutputCategories[] = {KSCATEGORY_AUDIO, KSCATEGORY_RENDER};
const GUID kPairCategories[] = {KSCATEGORY_AUDIO, KSCATEGORY_CAPTURE, KSCATEGORY_RENDER};

const KSNODE_DESCRIPTOR kSynthNodes[] = {
    {&kSynthNodeAutomation, &KSNODETYPE_SYNTHESIZER, nullptr},
    {&kSynthNodeAutomation, &KSNODETYPE_SYNTHESIZER, nullptr},
};

const KSTOPOLOGY_CONNECTION kInputConnections[] = {
    {KSFILTER_NODE, 0, 0, 1},
    {0, 0, KSFILTER_NODE, 1},
};
const KSTOPOLOGY_CONNECTION kOutputConnections[] = {
    {KSFILTER_NODE, 0, KSFILTER_NODE, 2},
    {KSFILTER_NODE, 1, 0, 1},
    {0, 0, KSFILTER_NODE, 2},
};
const KSTOPOLOGY_CONNECTION kPairConnections[] = {
    {KSFILTER_NODE, 0, KSFILTER_NODE, 2},
    {KSFILTER_NODE, 1, 0, 1},
    {0, 0, KSFILTER_NODE, 2},
    {KSFILTER_NODE, 3, 1, 1},
    {1, 0, KSFILTER_NODE, 4},
};

struct KindTable
{
    const PinShape* pins;
    ULONG pinCount;
    const GUID* categories;
    ULONG categoryCount;
    ULONG nodeCount;
    const KSTOPOLOGY_CONNECTION* connections;
    ULONG connectionCount;
};

template <typename T, size_t N>
constexpr ULONG CountOf(const T (&)[N])
{
    return static_cast<ULONG>(N);
}

const KindTable kKinds[] = {
    {kInputShapes, CountOf(kInputShapes), kInputCategories, CountOf(kInputCategories), 1,
     kInputConnections, CountOf(kInputConnections)},
    {kOutputShapes, CountOf(kOutputShapes), kOutputCategories, CountOf(kOutputCategories), 1,
     kOutputConnections, CountOf(kOutputConnections)},
    {kPairShapes, CountOf(kPairShapes), kPairCategories, CountOf(kPairCategories), 2,
     kPairConnections, CountOf(kPairConnections)},
};
static_assert(std::size(kKinds) == kMidiKindInputOutput + 1);

NTSTATUS MidiFilterCreate(PKSFILTER filter, PIRP irp)
{
    return OpenMidiFilter(filter, irp);
}

NTSTATUS MidiFilterClose(PKSFILTER filter, PIRP irp)
{
    return CloseMidiFilter(filter, irp);
}

const KSFILTER_DISPATCH kMidiFilterDispatch = {MidiFilterCreate, MidiFilterClose, nullptr, nullptr};

}  // namespace

bool BuildMidiPinDescriptors(MidiFilter* filter)
{
    const KindTable& table = kKinds[filter->kind];
    filter->pins = static_cast<KSPIN_DESCRIPTOR_EX*>(ExAllocatePoolWithTag(
        NonPagedPoolNx, sizeof(KSPIN_DESCRIPTOR_EX) * table.pinCount, kMidiDescriptorTag));
    if (filter->pins == nullptr) {
        return false;
    }
    filter->pinCount = table.pinCount;
    for (ULONG i = 0; i < table.pinCount; ++i) {
        filter->pins[i] = PinOf(table.pins[i]);
    }
    return true;
}

bool BuildMidiFilterDescriptor(MidiFilter* filter)
{
    filter->descriptor = static_cast<KSFILTER_DESCRIPTOR*>(
        ExAllocatePoolWithTag(NonPagedPoolNx, sizeof(KSFILTER_DESCRIPTOR), kMidiDescriptorTag));
    if (filter->descriptor == nullptr) {
        return false;
    }
    const KindTable& table = kKinds[filter->kind];
    *filter->descriptor = {
        .Dispatch = &kMidiFilterDispatch,
        .AutomationTable = &kMidiFilterAutomation,
        .Version = KSFILTER_DESCRIPTOR_VERSION,
        .Flags = 0,
        .ReferenceGuid = &kMidiFilterReferenceGuid,
        .PinDescriptorsCount = filter->pinCount,
        .PinDescriptorSize = sizeof(KSPIN_DESCRIPTOR_EX),
        .PinDescriptors = filter->pins,
        .CategoriesCount = table.categoryCount,
        .Categories = table.categories,
        .NodeDescriptorsCount = table.nodeCount,
        .NodeDescriptorSize = sizeof(KSNODE_DESCRIPTOR),
        .NodeDescriptors = kSynthNodes,
        .ConnectionsCount = table.connectionCount,
        .Connections = table.connections,
        .ComponentId = &kFilterComponentId,
    };
    return true;
}

void FreeMidiFilter(PVOID object)
{
    auto* filter = static_cast<MidiFilter*>(object);
    if (filter->pins != nullptr) {
        ExFreePoolWithTag(filter->pins, kMidiDescriptorTag);
    }
    if (filter->descriptor != nullptr) {
        ExFreePoolWithTag(filter->descriptor, kMidiDescriptorTag);
    }
    ExFreePoolWithTag(filter, kMidiFilterTag);
}
