// What the system's MIDI and DirectMusic stacks ask of a MIDI filter: the data intersection and
// data format of its streaming pins, the master clock of the filter and the synthesizer
// properties of its nodes. Property handlers run at PASSIVE_LEVEL.
#include <iterator>

#include "ks/MidiFilter.h"
#include "ks/MidiPinStream.h"
#include "ks/PinStream.h"

namespace {

constexpr GUID kOutputSynthGuid = {
    0xD3F0CE1C, 0xFFFC, 0x11D1, {0x81, 0xB0, 0x00, 0x60, 0x08, 0x33, 0x16, 0xC1}};
constexpr GUID kInputSynthGuid = {
    0xD3F0CE1D, 0xFFFC, 0x11D1, {0x81, 0xB0, 0x00, 0x60, 0x08, 0x33, 0x16, 0xC1}};
constexpr LONGLONG kLatency100ns = 40000;  // 4 ms

bool HasFilterContext(PIRP irp)
{
    PKSFILTER filter = KsGetFilterFromIrp(irp);
    return filter != nullptr && filter->Context != nullptr;
}

ULONG NodeOf(PKSIDENTIFIER request)
{
    return reinterpret_cast<PKSNODEPROPERTY>(request)->NodeId;
}

void CopyText(WCHAR* out, const char16_t* text)
{
    for (ULONG i = 0; text[i] != 0; ++i) {
        out[i] = text[i];
    }
}

NTSTATUS GetCaps(PIRP irp, PKSIDENTIFIER request, PVOID data)
{
    if (!HasFilterContext(irp)) {
        return STATUS_INVALID_PARAMETER_1;
    }
    auto* caps = static_cast<SYNTHCAPS*>(data);
    RtlZeroMemory(caps, sizeof *caps);
    // The node decides: node 0 answers the output form, even as an input-only filter's only node.
    const bool output = NodeOf(request) == 0;
    caps->Guid = output ? kOutputSynthGuid : kInputSynthGuid;
    CopyText(caps->Description, output ? u"MIDI Out " : u"MIDI In ");
    caps->Flags = SYNTH_PC_EXTERNAL;
    caps->MemorySize = 0;
    caps->MaxChannelGroups = 1;
    caps->MaxVoices = 0xFFFFFFFF;
    caps->MaxAudioChannels = 0xFFFFFFFF;
    caps->EffectFlags = 0;
    irp->IoStatus.Information = sizeof *caps;
    return STATUS_SUCCESS;
}

NTSTATUS GetPortParameters(PIRP irp, PKSIDENTIFIER request, PVOID data)
{
    if (!HasFilterContext(irp)) {
        return STATUS_INVALID_PARAMETER_1;
    }
    SYNTH_PORTPARAMS asked;
    RtlCopyMemory(&asked, reinterpret_cast<PUCHAR>(request) + sizeof(KSNODEPROPERTY), sizeof asked);
    SYNTH_PORTPARAMS answer = asked;
    answer.ValidParams &= SYNTH_PORTPARAMS_CHANNELGROUPS;
    answer.ChannelGroups = 1;
    RtlCopyMemory(data, &answer, sizeof answer);
    irp->IoStatus.Information = sizeof answer;
    if (answer.ValidParams != 0 && asked.ChannelGroups != 1) {
        return STATUS_NOT_ALL_ASSIGNED;
    }
    return STATUS_SUCCESS;
}

NTSTATUS ChannelGroups(PIRP irp, PKSIDENTIFIER, PVOID data)
{
    if (!HasFilterContext(irp)) {
        return STATUS_INVALID_PARAMETER_1;
    }
    const ULONG groups = 1;
    RtlCopyMemory(data, &groups, sizeof groups);
    irp->IoStatus.Information = sizeof groups;
    return STATUS_SUCCESS;
}

NTSTATUS GetLatencyClock(PIRP irp, PKSIDENTIFIER, PVOID data)
{
    if (!HasFilterContext(irp)) {
        return STATUS_INVALID_PARAMETER_1;
    }
    const LONGLONG time = static_cast<LONGLONG>(Now100ns()) + kLatency100ns;
    RtlCopyMemory(data, &time, sizeof time);
    irp->IoStatus.Information = sizeof time;
    return STATUS_SUCCESS;
}

NTSTATUS GetMasterClock(PIRP irp, PKSIDENTIFIER, PVOID data)
{
    if (!HasFilterContext(irp)) {
        return STATUS_INVALID_PARAMETER_1;
    }
    const auto time = static_cast<LONGLONG>(Now100ns());
    RtlCopyMemory(data, &time, sizeof time);
    irp->IoStatus.Information = sizeof time;
    return STATUS_SUCCESS;
}

NTSTATUS SetMasterClock(PIRP irp, PKSIDENTIFIER, PVOID)
{
    return HasFilterContext(irp) ? STATUS_SUCCESS : STATUS_INVALID_PARAMETER_1;
}

KSPROPERTY_ITEM Item(ULONG id, PFNKSHANDLER get, ULONG minProperty, ULONG minData, PFNKSHANDLER set)
{
    KSPROPERTY_ITEM item{};
    item.PropertyId = id;
    item.GetPropertyHandler = get;
    item.MinProperty = minProperty;
    item.MinData = minData;
    item.SetPropertyHandler = set;
    return item;
}

constexpr ULONG kNodeProperty = sizeof(KSNODEPROPERTY);

const KSPROPERTY_ITEM kSynthItems[] = {
    Item(KSPROPERTY_SYNTH_CAPS, GetCaps, kNodeProperty, sizeof(SYNTHCAPS), nullptr),
    Item(KSPROPERTY_SYNTH_PORTPARAMETERS, GetPortParameters,
         kNodeProperty + sizeof(SYNTH_PORTPARAMS), sizeof(SYNTH_PORTPARAMS), nullptr),
    Item(KSPROPERTY_SYNTH_CHANNELGROUPS, ChannelGroups, kNodeProperty, sizeof(ULONG),
         ChannelGroups),
    Item(KSPROPERTY_SYNTH_LATENCYCLOCK, GetLatencyClock, kNodeProperty, sizeof(LONGLONG), nullptr),
};
const KSPROPERTY_SET kSynthSets[] = {
    {&KSPROPSETID_Synth, static_cast<ULONG>(std::size(kSynthItems)), kSynthItems, 0, nullptr},
};

const KSPROPERTY_ITEM kClockItems[] = {
    Item(KSPROPERTY_SYNTH_MASTERCLOCK, GetMasterClock, kNodeProperty, sizeof(LONGLONG),
         SetMasterClock),
};
const KSPROPERTY_SET kClockSets[] = {
    {&KSPROPSETID_SynthClock, 1, kClockItems, 0, nullptr},
};

constexpr KSAUTOMATION_TABLE PropertiesOnly(const KSPROPERTY_SET* sets, ULONG count)
{
    return {
        .PropertySetsCount = count,
        .PropertyItemSize = sizeof(KSPROPERTY_ITEM),
        .PropertySets = sets,
        .MethodSetsCount = 0,
        .MethodItemSize = 0,
        .MethodSets = nullptr,
        .EventSetsCount = 0,
        .EventItemSize = 0,
        .EventSets = nullptr,
        .Alignment = nullptr,
    };
}

}  // namespace

const KSAUTOMATION_TABLE kSynthNodeAutomation = PropertiesOnly(kSynthSets, 1);
const KSAUTOMATION_TABLE kMidiFilterAutomation = PropertiesOnly(kClockSets, 1);

bool IsMidiFormat(const KSDATAFORMAT* format, bool* directMusic)
{
    if (format == nullptr) {
        return false;
    }
    *directMusic = IsEqualGUIDAligned(format->SubFormat, KSDATAFORMAT_SUBTYPE_DIRECTMUSIC);
    return *directMusic || IsEqualGUIDAligned(format->SubFormat, KSDATAFORMAT_SUBTYPE_MIDI);
}

NTSTATUS SetMidiPinFormat(PKSPIN pin, PKSDATAFORMAT, PVOID, const KSDATARANGE*, PVOID)
{
    bool directMusic = false;
    if (!IsMidiFormat(pin->ConnectionFormat, &directMusic)) {
        return STATUS_NO_MATCH;
    }
    if (MidiPinStream* stream = MidiPinOf(pin)) {
        stream->ChangeFormat(directMusic ? kMidiDataDirectMusic : kMidiDataRaw);
    }
    return STATUS_SUCCESS;
}

NTSTATUS IntersectMidiFormat(PVOID, PIRP, PKSPIN_DESCRIPTOR, PKSDATARANGE callerRange, PKSDATARANGE,
                             ULONG bufferSize, PVOID data, PULONG dataSize)
{
    if (!IsEqualGUIDAligned(callerRange->Specifier, KSDATAFORMAT_SPECIFIER_NONE) &&
        !IsEqualGUIDAligned(callerRange->MajorFormat, KSDATAFORMAT_TYPE_MUSIC)) {
        return STATUS_INVALID_PARAMETER;
    }
    *dataSize = sizeof(KSDATAFORMAT);
    if (bufferSize == 0) {
        return STATUS_BUFFER_OVERFLOW;
    }
    if (bufferSize < sizeof(KSDATAFORMAT)) {
        return STATUS_BUFFER_TOO_SMALL;
    }
    RtlCopyMemory(data, callerRange, sizeof(KSDATAFORMAT));
    static_cast<KSDATAFORMAT*>(data)->FormatSize = sizeof(KSDATAFORMAT);
    return STATUS_SUCCESS;
}
