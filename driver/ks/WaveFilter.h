// Wave filters: one kernel-streaming filter factory per audio endpoint, with descriptors built at
// run time from its WaveEndpoint, the device interface values of the factory, and the format
// questions of the audio stack (proposed format, intersection, set format).
//
// The WaveFilter is the factory's context and lives in the factory's object bag: it goes with the
// factory and frees everything it built. Each open filter has a WaveFilterContext in the filter's
// bag; it lists the filter's open pins.
#pragma once

#include <ks.h>
#include <ksmedia.h>

#include "device/DeviceContext.h"
#include "device/FilterLinks.h"
#include "ks/FilterPinList.h"
#include "ks/WaveEndpoint.h"

inline constexpr ULONG kWaveFilterTag = 0x774E6350;      // "PcNw"
inline constexpr ULONG kWaveDescriptorTag = 0x78434641;  // "AFCx"

// The reference GUID of every wave filter descriptor; it also tells wave factories apart.
inline constexpr GUID kWaveFilterReferenceGuid = {
    0x456DC893, 0x44B5, 0x4220, {0x9C, 0x43, 0x87, 0x69, 0x7C, 0x5A, 0x09, 0x7C}};
// The "CLSID" value of every wave filter's device interface.
inline constexpr char16_t kWaveFilterClsid[] = u"{17CCA71B-ECD7-11D0-B908-00A0C9223196}";

// An audio range as the descriptors carry it: 88 bytes, FormatSize 88.
struct WaveRangeRecord
{
    KSDATARANGE_AUDIO audio;
};
static_assert(sizeof(WaveRangeRecord) == 88);

struct WaveRangeSet
{
    ULONG count;
    WaveRangeRecord* records;
    PKSDATARANGE* pointers;
};

enum WaveRangeSetIndex : ULONG
{
    kCapturePcmRanges = 0,
    kRenderPcmRanges = 1,
    kRenderIec61937Ranges = 2,
};

// The filter shapes the builder knows. Endpoint kinds select the first three; the duplex shapes
// (render pins first, as in their render shape, then the capture stream pin and its bridge) are
// built only when asked for by name.
enum class WaveTopology
{
    Render,
    Capture,
    SpdifRender,
    Duplex,       // 4 pins: render stream, bridge out, capture stream, bridge in
    DuplexSpdif,  // 5 pins: render PCM, render IEC 61937, bridge out, capture stream, bridge in
};

struct WaveFilter
{
    PKSFILTERFACTORY factory;
    UCHAR interfaceEnabled;
    WaveEndpoint endpoint;
    WaveTopology topology;
    KSFILTER_DESCRIPTOR* descriptor;  // "AFCx"
    KSPIN_DESCRIPTOR_EX* pins;        // "AFCx"
    ULONG pinCount;
    WaveRangeSet ranges[3];
};

// Per open filter: the filter, its open pins and the two lists of them.
using WavePinNode = FilterPinNode;

class WaveFilterContext final : public WavePinSet
{
public:
    bool IsAnyPinRunning() override;

    PKSFILTER filter;
    LONG openPins;
    WavePinNode* capturePins;
    WavePinNode* renderPins;
    KSPIN_LOCK pinListLock;  // in-stack queued
};

// PASSIVE_LEVEL. Null when the channel count is 0 or the factory could not be built (nothing is
// then published: no factory, no interface values).
WaveFilter* CreateWaveFilterFactory(DeviceContext* context, const WaveEndpoint* endpoint);
// The same with the shape given instead of taken from the endpoint's kind.
WaveFilter* CreateWaveFilterFactory(DeviceContext* context, const WaveEndpoint* endpoint,
                                    WaveTopology topology);

// The reference string of an endpoint name: at most 32 characters looked at, a-z upper-cased,
// the no-break space as '_', only A-Z, 0-9 and '_' kept. out holds 33 characters.
void WaveReferenceString(const WCHAR* name, WCHAR* out);
WaveTopology TopologyOf(const WaveEndpoint& endpoint);

// Descriptor builders (WaveDescriptors.cpp); false when out of pool (the filter frees what they
// got).
bool BuildWaveFilterDescriptor(WaveFilter* filter);
bool BuildWavePinDescriptors(WaveFilter* filter);
bool BuildWaveDataRanges(WaveFilter* filter);
void FreeWaveFilter(PVOID filter);  // the bag's free routine

// The device context of a kernel-streaming object's device, or null.
DeviceContext* WaveDeviceContext(PVOID object);
WaveFilterContext* WaveFilterContextOf(PKSFILTER filter);
// The WaveFilter of an open filter's factory.
WaveFilter* WaveFilterOf(PKSFILTER filter);

// Format answers (WaveFormats.cpp).
NTSTATUS CheckProposedFormat(PIRP irp, PKSIDENTIFIER request, PVOID data);
NTSTATUS IntersectAudioFormat(PVOID context, PIRP irp, PKSPIN_DESCRIPTOR pin,
                              PKSDATARANGE callerRange, PKSDATARANGE pinRange, ULONG bufferSize,
                              PVOID data, PULONG dataSize);
NTSTATUS SetCapturePinFormat(PKSPIN pin, PKSDATAFORMAT oldFormat, PVOID oldAttributes,
                             const KSDATARANGE* range, PVOID attributeRange);
NTSTATUS SetRenderPinFormat(PKSPIN pin, PKSDATAFORMAT oldFormat, PVOID oldAttributes,
                            const KSDATARANGE* range, PVOID attributeRange);
// The WAVEFORMATEX inside a connection format, after the KSDATAFORMAT (or the DSOUND header), with
// the bytes the format holds of it; null when the format is too short for one or not audio.
const WAVEFORMATEX* WaveFormatIn(const KSDATAFORMAT* format, ULONG* available);
