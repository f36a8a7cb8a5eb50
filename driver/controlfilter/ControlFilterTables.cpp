// The control filter's automation table and pin. Item sizes are binding: clients of both widths
// rely on them, and kernel streaming refuses shorter buffers before a handler runs. The buffer
// tables' minimum is a 32-bit caller's 164 bytes; the handler refuses a 64-bit caller's shorter
// table itself.
#include <iterator>

#include "ControlFilter.h"
#include "ControlFilterSets.h"
#include "ControlFilterWire.h"

namespace {

constexpr KSPROPERTY_ITEM Item(ULONG id, PFNKSHANDLER get, PFNKSHANDLER set, ULONG minData,
                               ULONG minProperty = kPropertyBare)
{
    return {
        .PropertyId = id,
        .GetPropertyHandler = get,
        .MinProperty = minProperty,
        .MinData = minData,
        .SetPropertyHandler = set,
        .Values = nullptr,
        .RelationsCount = 0,
        .Relations = nullptr,
        .SupportHandler = nullptr,
        .SerializedSize = 0,
    };
}

constexpr PFNKSHANDLER kNoHandler = nullptr;

const KSPROPERTY_ITEM kGeneralItems[] = {
    Item(kPropGeneralDeviceInfo, GeneralGet, kNoHandler, sizeof(DeviceInfoBlock)),
    Item(kPropGeneralVersions, GeneralGet, kNoHandler, sizeof(VersionsBlock)),
    Item(kPropGeneralFlag2, kNoHandler, GeneralSet, 4),
    Item(kPropGeneralSampleRate, GeneralGet, GeneralSet, 4),
    Item(kPropGeneralBufferSize, GeneralGet, GeneralSet, 4),
    Item(kPropGeneralRemovalEvent, kNoHandler, GeneralSet, 8),
    Item(kPropGeneralReleaseRemovalEvent, kNoHandler, GeneralSet, 4),
    Item(kPropGeneralStreaming, GeneralGet, kNoHandler, 4),
    Item(kPropGeneralSyncStatus, GeneralGet, kNoHandler, 4),
    Item(kPropGeneralControlSwitch, kNoHandler, GeneralSet, 4),
    Item(kPropGeneralClockSource, GeneralGet, GeneralSet, sizeof(ClockSourceBlock)),
    Item(kPropGeneralClockSourceId, GeneralGet, kNoHandler, sizeof(GUID), kPropertyWithIndex),
    Item(kPropGeneralRateStatus, GeneralGet, kNoHandler, sizeof(RateStatusBlock)),
    Item(kPropGeneralRateByIndex, GeneralGet, kNoHandler, sizeof(RateByIndexBlock),
         kPropertyWithIndex),
    Item(kPropGeneralOutputModeValue, kNoHandler, GeneralSet, 4),
    Item(kPropGeneralOutputModeActive, GeneralGet, kNoHandler, 4),
    Item(kPropGeneralHighSpeed, GeneralGet, kNoHandler, 4),
    Item(kPropGeneralExtendedInfo, GeneralGet, kNoHandler, kExtendedInfoBytes),
    Item(kPropGeneralControlValue, GeneralGet, kNoHandler, 4),
    Item(kPropGeneralMixer, GeneralGet, GeneralSet, kMixerBlockBytes),
    Item(kPropGeneralInputPeaks, GeneralGet, kNoHandler, kPeaksBytes),
    Item(kPropGeneralOutputPeaks, GeneralGet, kNoHandler, kPeaksBytes),
    Item(kPropGeneralKeepRunning, GeneralGet, GeneralSet, 4),
};
static_assert(std::size(kGeneralItems) == 23);

const KSPROPERTY_ITEM kStreamingItems[] = {
    Item(kPropStreamingClockSources, StreamingGet, StreamingSet, kClockSourceRecordBytes),
    Item(kPropStreamingRunning, StreamingGet, kNoHandler, 4),
    Item(kPropStreamingReserved2, StreamingGet, StreamingSet, 4),
    Item(kPropStreamingInputBuffers, kNoHandler, StreamingSet, kBufferTable32Bytes),
    Item(kPropStreamingOutputBuffers, kNoHandler, StreamingSet, kBufferTable32Bytes),
    Item(kPropStreamingEvents, kNoHandler, StreamingSet, 16),
    Item(kPropStreamingReleaseEvents, kNoHandler, StreamingSet, 4),
    Item(kPropStreamingReleaseInputBuffers, kNoHandler, StreamingSet, 4),
    Item(kPropStreamingReleaseOutputBuffers, kNoHandler, StreamingSet, 4),
    Item(kPropStreamingBufferDone, kNoHandler, StreamingSet, 4),
    Item(kPropStreamingStart, kNoHandler, StreamingSet, 4),
    Item(kPropStreamingStop, kNoHandler, StreamingSet, 4),
    Item(kPropStreamingChangeFlags, StreamingGet, kNoHandler, 4),
    Item(kPropStreamingWait, StreamingGet, kNoHandler, 24),
    Item(kPropStreamingReleaseWait, kNoHandler, StreamingSet, 4),
    Item(kPropStreamingPosition, StreamingGet, kNoHandler, sizeof(PositionBlock)),
    Item(kPropStreamingInputChannelName, StreamingGet, kNoHandler, sizeof(NameRecord),
         kPropertyWithIndex),
    Item(kPropStreamingOutputChannelName, StreamingGet, kNoHandler, sizeof(NameRecord),
         kPropertyWithIndex),
    Item(kPropStreamingCanSampleRate, kNoHandler, StreamingSet, 4),
    Item(kPropStreamingLatencies, StreamingGet, kNoHandler, sizeof(LatenciesBlock)),
    Item(kPropStreamingBufferSizeRange, StreamingGet, kNoHandler, sizeof(BufferSizeRangeBlock)),
};
static_assert(std::size(kStreamingItems) == 21);

const KSPROPERTY_ITEM kRawItems[] = {
    Item(kPropRawClassRequest, RawGet, RawSet, 128, kRawPropertyBytes),
};

const KSPROPERTY_ITEM kMidiItems[] = {
    Item(kPropMidiOutputPortCount, MidiPortsGet, kNoHandler, 4),
    Item(kPropMidiInputPortCount, MidiPortsGet, kNoHandler, 4),
    Item(kPropMidiEvent, kNoHandler, MidiPortsSet, 8),
    Item(kPropMidiReleaseEvent, kNoHandler, MidiPortsSet, 4),
    Item(kPropMidiOpenOutput, kNoHandler, MidiPortsSet, 4),
    Item(kPropMidiOpenInput, kNoHandler, MidiPortsSet, 4),
    Item(kPropMidiCloseOutput, kNoHandler, MidiPortsSet, 4),
    Item(kPropMidiCloseInput, kNoHandler, MidiPortsSet, 4),
    Item(kPropMidiCloseAll, kNoHandler, MidiPortsSet, 4),
    Item(kPropMidiOpenOutputMask, MidiPortsGet, kNoHandler, 4),
    Item(kPropMidiOpenInputMask, MidiPortsGet, kNoHandler, 4),
    Item(kPropMidiInputDataMask, MidiPortsGet, kNoHandler, 4),
    Item(kPropMidiRead, MidiPortsGet, kNoHandler, sizeof(MidiReadResult), kMidiReadPropertyBytes),
    Item(kPropMidiWrite, kNoHandler, MidiPortsSet, sizeof(MidiWriteData)),
    Item(kPropMidiOutputPortName, MidiPortsGet, kNoHandler, sizeof(NameRecord), kPropertyWithIndex),
    Item(kPropMidiInputPortName, MidiPortsGet, kNoHandler, sizeof(NameRecord), kPropertyWithIndex),
};
static_assert(std::size(kMidiItems) == 16);

// In the order clients see them: general, streaming, raw, MIDI.
const KSPROPERTY_SET kPropertySets[] = {
    {&kPropSetControlGeneral, std::size(kGeneralItems), kGeneralItems, 0, nullptr},
    {&kPropSetControlStreaming, std::size(kStreamingItems), kStreamingItems, 0, nullptr},
    {&kPropSetControlRaw, std::size(kRawItems), kRawItems, 0, nullptr},
    {&kPropSetControlMidiPorts, std::size(kMidiItems), kMidiItems, 0, nullptr},
};

// One event each, with kernel streaming's default handling: the 64-bit KSEVENTDATA, no extra data.
const KSEVENT_ITEM kEventItem[] = {{
    .EventId = 0,
    .DataInput = sizeof(KSEVENTDATA),
    .ExtraEntryData = 0,
    .AddHandler = nullptr,
    .RemoveHandler = nullptr,
    .SupportHandler = nullptr,
}};

// General, raw, MIDI. Nothing fires the MIDI set; a client may still enable it.
const KSEVENT_SET kEventSets[] = {
    {&kPropSetControlGeneral, 1, kEventItem},
    {&kPropSetControlRaw, 1, kEventItem},
    {&kPropSetControlMidiPorts, 1, kEventItem},
};

const KSPIN_INTERFACE kStandardInterface = {KSINTERFACESETID_Standard, 0, 0};
const KSPIN_MEDIUM kStandardMedium = {KSMEDIUMSETID_Standard, 0, 0};

KSDATARANGE kAnalogRange = {{
    .FormatSize = sizeof(KSDATARANGE),
    .Flags = 0,
    .SampleSize = 0,
    .Reserved = 0,
    .MajorFormat = KSDATAFORMAT_TYPE_AUDIO,
    .SubFormat = KSDATAFORMAT_SUBTYPE_ANALOG,
    .Specifier = KSDATAFORMAT_SPECIFIER_NONE,
}};
static_assert(sizeof(KSDATARANGE) == 64);
const PKSDATARANGE kAnalogRanges[] = {&kAnalogRange};

}  // namespace

const GUID kControlFilterReferenceGuid = kControlFilterReference;

const KSAUTOMATION_TABLE kControlFilterAutomation = {
    .PropertySetsCount = std::size(kPropertySets),
    .PropertyItemSize = sizeof(KSPROPERTY_ITEM),
    .PropertySets = kPropertySets,
    .MethodSetsCount = 0,
    .MethodItemSize = 0,
    .MethodSets = nullptr,
    .EventSetsCount = std::size(kEventSets),
    .EventItemSize = sizeof(KSEVENT_ITEM),
    .EventSets = kEventSets,
    .Alignment = nullptr,
};
static_assert(sizeof(KSPROPERTY_ITEM) == 72);
static_assert(sizeof(KSEVENT_ITEM) == 40);

// The filter's topology needs a pin; nothing ever instantiates it.
const KSPIN_DESCRIPTOR_EX kControlFilterPins[1] = {{
    .Dispatch = nullptr,
    .AutomationTable = nullptr,
    .PinDescriptor =
        {
            .InterfacesCount = 1,
            .Interfaces = &kStandardInterface,
            .MediumsCount = 1,
            .Mediums = &kStandardMedium,
            .DataRangesCount = std::size(kAnalogRanges),
            .DataRanges = kAnalogRanges,
            .DataFlow = KSPIN_DATAFLOW_OUT,
            .Communication = KSPIN_COMMUNICATION_NONE,
            .Category = &KSCATEGORY_AUDIO,
            .Name = nullptr,
            .Reserved = 0,
        },
    .Flags = 0,
    .InstancesPossible = 0,
    .InstancesNecessary = 0,
    .AllocatorFraming = nullptr,
    .IntersectHandler = nullptr,
}};

const KSCOMPONENTID kControlFilterComponentId = {
    .Manufacturer = {0xD5A48096, 0x6D98, 0x11D1, {0xA2, 0x1A, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}},
    .Product = kControlFilterReference,
    .Component = {},
    .Name = {},
    .Version = 0x70000,
    .Revision = 3505,
};
