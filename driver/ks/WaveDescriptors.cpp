// The descriptors of a wave filter, built from its endpoint: the filter descriptor of its
// topology, the streaming and bridge pins, and the three data-range sets.
#include <iterator>

#include "ks/FilterComponentId.h"
#include "ks/WaveFilter.h"
#include "ks/WavePins.h"

namespace {

// The names of the bridge pins before Windows Vista.
constexpr GUID kLegacyCaptureBridgeName = {
    0x185FEDF9, 0x9905, 0x11D1, {0x95, 0xA9, 0x00, 0xC0, 0x4F, 0xB9, 0x25, 0xD3}};
constexpr GUID kLegacyRenderBridgeName = {
    0x185FEDF7, 0x9905, 0x11D1, {0x95, 0xA9, 0x00, 0xC0, 0x4F, 0xB9, 0x25, 0xD3}};
constexpr ULONG kVistaVersion = 0x06000000;

NTSTATUS GetComponentId(PIRP, PKSIDENTIFIER, PVOID data)
{
    RtlCopyMemory(data, &kFilterComponentId, sizeof kFilterComponentId);
    return STATUS_SUCCESS;
}

KSPROPERTY_ITEM PropertyItem(ULONG id, PFNKSHANDLER get, ULONG minProperty, ULONG minData,
                             PFNKSHANDLER set)
{
    KSPROPERTY_ITEM item{};
    item.PropertyId = id;
    item.GetPropertyHandler = get;
    item.MinProperty = minProperty;
    item.MinData = minData;
    item.SetPropertyHandler = set;
    return item;
}

const KSPROPERTY_ITEM kGeneralItems[] = {
    PropertyItem(KSPROPERTY_GENERAL_COMPONENTID, GetComponentId, sizeof(KSPROPERTY),
                 sizeof(KSCOMPONENTID), nullptr),
};
const KSPROPERTY_ITEM kPinItems[] = {
    PropertyItem(KSPROPERTY_PIN_PROPOSEDATAFORMAT, nullptr, sizeof(KSP_PIN),
                 sizeof(KSDATAFORMAT_WAVEFORMATEX), CheckProposedFormat),
};
const KSPROPERTY_SET kFilterPropertySets[] = {
    {&KSPROPSETID_General, 1, kGeneralItems, 0, nullptr},
    {&KSPROPSETID_Pin, 1, kPinItems, 0, nullptr},
};
const KSAUTOMATION_TABLE kFilterAutomation = {
    .PropertySetsCount = static_cast<ULONG>(std::size(kFilterPropertySets)),
    .PropertyItemSize = sizeof(KSPROPERTY_ITEM),
    .PropertySets = kFilterPropertySets,
    .MethodSetsCount = 0,
    .MethodItemSize = 0,
    .MethodSets = nullptr,
    .EventSetsCount = 0,
    .EventItemSize = 0,
    .EventSets = nullptr,
    .Alignment = nullptr,
};

NTSTATUS WaveFilterCreate(PKSFILTER filter, PIRP irp);
NTSTATUS WaveFilterClose(PKSFILTER filter, PIRP irp);

}  // namespace

// Filter create and close live in WaveFilter.cpp.
NTSTATUS OpenWaveFilter(PKSFILTER filter, PIRP irp);
NTSTATUS CloseWaveFilter(PKSFILTER filter, PIRP irp);

namespace {

NTSTATUS WaveFilterCreate(PKSFILTER filter, PIRP irp)
{
    return OpenWaveFilter(filter, irp);
}

NTSTATUS WaveFilterClose(PKSFILTER filter, PIRP irp)
{
    return CloseWaveFilter(filter, irp);
}

const KSFILTER_DISPATCH kWaveFilterDispatch = {WaveFilterCreate, WaveFilterClose, nullptr, nullptr};

const KSPIN_INTERFACE kStreamInterfaces[] = {
    {KSINTERFACESETID_Standard, KSINTERFACE_STANDARD_STREAMING, 0},
    {KSINTERFACESETID_Standard, KSINTERFACE_STANDARD_LOOPED_STREAMING, 0},
};
const KSPIN_MEDIUM kStandardMedium = {KSMEDIUMSETID_Standard, KSMEDIUM_TYPE_ANYINSTANCE, 0};

const KSDATARANGE kBridgeRange = {{sizeof(KSDATARANGE), 0, 0, 0, KSDATAFORMAT_TYPE_AUDIO,
                                   KSDATAFORMAT_SUBTYPE_ANALOG, KSDATAFORMAT_SPECIFIER_NONE}};
const PKSDATARANGE kBridgeRanges[] = {const_cast<PKSDATARANGE>(&kBridgeRange)};

const KSALLOCATOR_FRAMING_EX kStreamFraming = {
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
        .Frames = 2,
        .FileAlignment = 0,
        .MemoryTypeWeight = 0,
        .PhysicalRange = {0, 0xFFFFFFFF, 1},
        .FramingRange = {{64, 8192, 1}, 0, 0},
    }},
};

constexpr ULONG kRenderPinFlags =
    KSPIN_FLAG_PROCESS_IN_RUN_STATE_ONLY | KSPIN_FLAG_DISPATCH_LEVEL_PROCESSING;  // 0x10001
constexpr ULONG kCapturePinFlags = kRenderPinFlags | KSPIN_FLAG_DO_NOT_INITIATE_PROCESSING;
static_assert(kRenderPinFlags == 0x10001 && kCapturePinFlags == 0x10011);

const GUID kRenderCategories[] = {KSCATEGORY_AUDIO, KSCATEGORY_RENDER};
const GUID kCaptureCategories[] = {KSCATEGORY_AUDIO, KSCATEGORY_CAPTURE};
const GUID kDuplexCategories[] = {KSCATEGORY_AUDIO, KSCATEGORY_RENDER, KSCATEGORY_CAPTURE};

const KSNODE_DESCRIPTOR kDacNode[] = {{nullptr, &KSNODETYPE_DAC, nullptr}};
const KSNODE_DESCRIPTOR kAdcNode[] = {{nullptr, &KSNODETYPE_ADC, nullptr}};
const KSNODE_DESCRIPTOR kSpdifNodes[] = {{nullptr, &KSNODETYPE_DAC, nullptr},
                                         {nullptr, &KSNODETYPE_SPDIF_INTERFACE, nullptr}};
const KSNODE_DESCRIPTOR kDuplexNodes[] = {{nullptr, &KSNODETYPE_DAC, nullptr},
                                          {nullptr, &KSNODETYPE_ADC, nullptr}};
const KSNODE_DESCRIPTOR kDuplexSpdifNodes[] = {{nullptr, &KSNODETYPE_DAC, nullptr},
                                               {nullptr, &KSNODETYPE_SPDIF_INTERFACE, nullptr},
                                               {nullptr, &KSNODETYPE_ADC, nullptr}};

const KSTOPOLOGY_CONNECTION kRenderConnections[] = {
    {KSFILTER_NODE, 0, 0, 1},
    {0, 0, KSFILTER_NODE, 1},
};
const KSTOPOLOGY_CONNECTION kCaptureConnections[] = {
    {KSFILTER_NODE, 1, 0, 1},
    {0, 0, KSFILTER_NODE, 0},
};
const KSTOPOLOGY_CONNECTION kSpdifConnections[] = {
    {KSFILTER_NODE, 0, 0, 1},
    {0, 0, KSFILTER_NODE, 2},
    {KSFILTER_NODE, 1, 1, 1},
    {1, 0, KSFILTER_NODE, 2},
};

// Render pins and nodes as in the render shapes, then the capture stream pin and its bridge
// through the ADC, the last node.
const KSTOPOLOGY_CONNECTION kDuplexConnections[] = {
    {KSFILTER_NODE, 0, 0, 1},
    {0, 0, KSFILTER_NODE, 1},
    {KSFILTER_NODE, 3, 1, 1},
    {1, 0, KSFILTER_NODE, 2},
};
const KSTOPOLOGY_CONNECTION kDuplexSpdifConnections[] = {
    {KSFILTER_NODE, 0, 0, 1}, {0, 0, KSFILTER_NODE, 2}, {KSFILTER_NODE, 1, 1, 1},
    {1, 0, KSFILTER_NODE, 2}, {KSFILTER_NODE, 4, 2, 1}, {2, 0, KSFILTER_NODE, 3},
};

struct TopologyTable
{
    const GUID* categories;
    ULONG categoryCount;
    const KSNODE_DESCRIPTOR* nodes;
    ULONG nodeCount;
    const KSTOPOLOGY_CONNECTION* connections;
    ULONG connectionCount;
    ULONG pinCount;
};

TopologyTable TableOf(WaveTopology topology)
{
    switch (topology) {
        case WaveTopology::Capture:
            return {kCaptureCategories,
                    2,
                    kAdcNode,
                    1,
                    kCaptureConnections,
                    static_cast<ULONG>(std::size(kCaptureConnections)),
                    2};
        case WaveTopology::SpdifRender:
            return {kRenderCategories,
                    2,
                    kSpdifNodes,
                    2,
                    kSpdifConnections,
                    static_cast<ULONG>(std::size(kSpdifConnections)),
                    3};
        case WaveTopology::Duplex:
            return {kDuplexCategories,
                    3,
                    kDuplexNodes,
                    2,
                    kDuplexConnections,
                    static_cast<ULONG>(std::size(kDuplexConnections)),
                    4};
        case WaveTopology::DuplexSpdif:
            return {kDuplexCategories,
                    3,
                    kDuplexSpdifNodes,
                    3,
                    kDuplexSpdifConnections,
                    static_cast<ULONG>(std::size(kDuplexSpdifConnections)),
                    5};
        case WaveTopology::Render:
            break;
    }
    return {kRenderCategories,
            2,
            kDacNode,
            1,
            kRenderConnections,
            static_cast<ULONG>(std::size(kRenderConnections)),
            2};
}

KSPIN_DESCRIPTOR_EX StreamPin(bool capture, const WaveRangeSet& ranges)
{
    KSPIN_DESCRIPTOR_EX pin{};
    pin.Dispatch = capture ? &kWaveCapturePinDispatch : &kWaveRenderPinDispatch;
    pin.AutomationTable = &kWaveStreamPinAutomation;
    pin.PinDescriptor.InterfacesCount = static_cast<ULONG>(std::size(kStreamInterfaces));
    pin.PinDescriptor.Interfaces = kStreamInterfaces;
    pin.PinDescriptor.MediumsCount = 1;
    pin.PinDescriptor.Mediums = &kStandardMedium;
    pin.PinDescriptor.DataRangesCount = ranges.count;
    pin.PinDescriptor.DataRanges = ranges.pointers;
    pin.PinDescriptor.DataFlow = capture ? KSPIN_DATAFLOW_OUT : KSPIN_DATAFLOW_IN;
    pin.PinDescriptor.Communication = KSPIN_COMMUNICATION_SINK;
    pin.PinDescriptor.Category = &KSCATEGORY_AUDIO;
    pin.Flags = capture ? kCapturePinFlags : kRenderPinFlags;
    pin.InstancesPossible = 1;
    pin.InstancesNecessary = 0;
    pin.AllocatorFraming = &kStreamFraming;
    pin.IntersectHandler = IntersectAudioFormat;
    return pin;
}

const GUID* RenderBridgeCategory(const WaveEndpoint& e)
{
    if (e.mainOutput != 0) {
        return &KSNODETYPE_SPEAKER;
    }
    if (e.kind == kEndpointDigital || (e.kind == kEndpointLineAndDigital && e.digital != 0)) {
        return &KSNODETYPE_SPDIF_INTERFACE;
    }
    return e.kind == 2 ? &KSNODETYPE_DIGITAL_AUDIO_INTERFACE : &KSNODETYPE_LINE_CONNECTOR;
}

KSPIN_DESCRIPTOR_EX BridgePin(bool capture, const WaveEndpoint& e)
{
    KSPIN_DESCRIPTOR_EX pin{};
    pin.PinDescriptor.InterfacesCount = 1;
    pin.PinDescriptor.Interfaces = kStreamInterfaces;
    pin.PinDescriptor.MediumsCount = 1;
    pin.PinDescriptor.Mediums = &kStandardMedium;
    pin.PinDescriptor.DataRangesCount = 1;
    pin.PinDescriptor.DataRanges = kBridgeRanges;
    pin.PinDescriptor.DataFlow = capture ? KSPIN_DATAFLOW_IN : KSPIN_DATAFLOW_OUT;
    pin.PinDescriptor.Communication = KSPIN_COMMUNICATION_NONE;
    const bool legacy = e.systemVersion < kVistaVersion;
    if (capture) {
        pin.PinDescriptor.Category = &KSNODETYPE_LINE_CONNECTOR;
        pin.PinDescriptor.Name = legacy ? &kLegacyCaptureBridgeName : e.pinName;
    } else {
        pin.PinDescriptor.Category = legacy ? &KSNODETYPE_SPEAKER : RenderBridgeCategory(e);
        pin.PinDescriptor.Name = legacy ? &kLegacyRenderBridgeName : e.pinName;
    }
    return pin;
}

void FillRange(WaveRangeRecord* record, const GUID& subFormat, const GUID& specifier,
               const WaveEndpoint& e, ULONG minimumBits, ULONG maximumBits)
{
    RtlZeroMemory(record, sizeof *record);
    KSDATARANGE& range = record->audio.DataRange;
    range.FormatSize = sizeof(WaveRangeRecord);
    range.MajorFormat = KSDATAFORMAT_TYPE_AUDIO;
    range.SubFormat = subFormat;
    range.Specifier = specifier;
    record->audio.MaximumChannels = e.channelCount;
    record->audio.MinimumBitsPerSample = minimumBits;
    record->audio.MaximumBitsPerSample = maximumBits;
    record->audio.MinimumSampleFrequency = e.lowestRate;
    record->audio.MaximumSampleFrequency = e.highestRate;
}

bool AllocateRangeSet(WaveRangeSet* set, ULONG count)
{
    set->records = static_cast<WaveRangeRecord*>(
        ExAllocatePoolWithTag(NonPagedPoolNx, sizeof(WaveRangeRecord) * count, kWaveDescriptorTag));
    set->pointers = static_cast<PKSDATARANGE*>(
        ExAllocatePoolWithTag(NonPagedPoolNx, sizeof(PKSDATARANGE) * count, kWaveDescriptorTag));
    if (set->records == nullptr || set->pointers == nullptr) {
        return false;
    }
    set->count = count;
    for (ULONG i = 0; i < count; ++i) {
        set->pointers[i] = &set->records[i].audio.DataRange;
    }
    return true;
}

}  // namespace

WaveTopology TopologyOf(const WaveEndpoint& endpoint)
{
    const bool capture = endpoint.capture != 0;
    if (endpoint.kind == kEndpointLine || endpoint.kind == kEndpointLineAndDigital) {
        return capture ? WaveTopology::Capture : WaveTopology::Render;
    }
    if (endpoint.kind == kEndpointDigital) {
        return capture ? WaveTopology::Capture : WaveTopology::SpdifRender;
    }
    return WaveTopology::Capture;
}

bool BuildWaveDataRanges(WaveFilter* filter)
{
    const WaveEndpoint& e = filter->endpoint;
    for (ULONG set : {kCapturePcmRanges, kRenderPcmRanges}) {
        if (!AllocateRangeSet(&filter->ranges[set], 2)) {
            return false;
        }
        FillRange(&filter->ranges[set].records[0], KSDATAFORMAT_SUBTYPE_PCM,
                  KSDATAFORMAT_SPECIFIER_WAVEFORMATEX, e, 16, 32);
        FillRange(&filter->ranges[set].records[1], KSDATAFORMAT_SUBTYPE_PCM,
                  KSDATAFORMAT_SPECIFIER_DSOUND, e, 16, 32);
    }
    WaveRangeSet& iec = filter->ranges[kRenderIec61937Ranges];
    if (!AllocateRangeSet(&iec, 4)) {
        return false;
    }
    const GUID* subFormats[] = {
        &KSDATAFORMAT_SUBTYPE_IEC61937_DOLBY_DIGITAL, &KSDATAFORMAT_SUBTYPE_IEC61937_DOLBY_DIGITAL,
        &KSDATAFORMAT_SUBTYPE_IEC61937_WMA_PRO, &KSDATAFORMAT_SUBTYPE_IEC61937_WMA_PRO};
    for (ULONG i = 0; i < 4; ++i) {
        FillRange(
            &iec.records[i], *subFormats[i],
            (i % 2) == 0 ? KSDATAFORMAT_SPECIFIER_WAVEFORMATEX : KSDATAFORMAT_SPECIFIER_DSOUND, e,
            16, 16);
    }
    return true;
}

bool BuildWavePinDescriptors(WaveFilter* filter)
{
    const WaveTopology topology = filter->topology;
    const ULONG count = TableOf(topology).pinCount;
    filter->pins = static_cast<KSPIN_DESCRIPTOR_EX*>(ExAllocatePoolWithTag(
        NonPagedPoolNx, sizeof(KSPIN_DESCRIPTOR_EX) * count, kWaveDescriptorTag));
    if (filter->pins == nullptr) {
        return false;
    }
    filter->pinCount = count;
    const WaveEndpoint& e = filter->endpoint;
    switch (topology) {
        case WaveTopology::Render:
            filter->pins[0] = StreamPin(false, filter->ranges[kRenderPcmRanges]);
            filter->pins[1] = BridgePin(false, e);
            break;
        case WaveTopology::Capture:
            filter->pins[0] = StreamPin(true, filter->ranges[kCapturePcmRanges]);
            filter->pins[1] = BridgePin(true, e);
            break;
        case WaveTopology::SpdifRender:
            filter->pins[0] = StreamPin(false, filter->ranges[kRenderPcmRanges]);
            filter->pins[1] = StreamPin(false, filter->ranges[kRenderIec61937Ranges]);
            filter->pins[2] = BridgePin(false, e);
            break;
        case WaveTopology::Duplex:
            filter->pins[0] = StreamPin(false, filter->ranges[kRenderPcmRanges]);
            filter->pins[1] = BridgePin(false, e);
            filter->pins[2] = StreamPin(true, filter->ranges[kCapturePcmRanges]);
            filter->pins[3] = BridgePin(true, e);
            break;
        case WaveTopology::DuplexSpdif:
            filter->pins[0] = StreamPin(false, filter->ranges[kRenderPcmRanges]);
            filter->pins[1] = StreamPin(false, filter->ranges[kRenderIec61937Ranges]);
            filter->pins[2] = BridgePin(false, e);
            filter->pins[3] = StreamPin(true, filter->ranges[kCapturePcmRanges]);
            filter->pins[4] = BridgePin(true, e);
            break;
    }
    return true;
}

bool BuildWaveFilterDescriptor(WaveFilter* filter)
{
    filter->descriptor = static_cast<KSFILTER_DESCRIPTOR*>(
        ExAllocatePoolWithTag(NonPagedPoolNx, sizeof(KSFILTER_DESCRIPTOR), kWaveDescriptorTag));
    if (filter->descriptor == nullptr) {
        return false;
    }
    const TopologyTable table = TableOf(filter->topology);
    *filter->descriptor = {
        .Dispatch = &kWaveFilterDispatch,
        .AutomationTable = &kFilterAutomation,
        .Version = KSFILTER_DESCRIPTOR_VERSION,
        .Flags = 0,
        .ReferenceGuid = &kWaveFilterReferenceGuid,
        .PinDescriptorsCount = filter->pinCount,
        .PinDescriptorSize = sizeof(KSPIN_DESCRIPTOR_EX),
        .PinDescriptors = filter->pins,
        .CategoriesCount = table.categoryCount,
        .Categories = table.categories,
        .NodeDescriptorsCount = table.nodeCount,
        .NodeDescriptorSize = sizeof(KSNODE_DESCRIPTOR),
        .NodeDescriptors = table.nodes,
        .ConnectionsCount = table.connectionCount,
        .Connections = table.connections,
        .ComponentId = &kFilterComponentId,
    };
    return true;
}

void FreeWaveFilter(PVOID object)
{
    auto* filter = static_cast<WaveFilter*>(object);
    for (WaveRangeSet& set : filter->ranges) {
        if (set.records != nullptr) {
            ExFreePoolWithTag(set.records, kWaveDescriptorTag);
        }
        if (set.pointers != nullptr) {
            ExFreePoolWithTag(set.pointers, kWaveDescriptorTag);
        }
    }
    if (filter->pins != nullptr) {
        ExFreePoolWithTag(filter->pins, kWaveDescriptorTag);
    }
    if (filter->descriptor != nullptr) {
        ExFreePoolWithTag(filter->descriptor, kWaveDescriptorTag);
    }
    ExFreePoolWithTag(filter, kWaveFilterTag);
}
