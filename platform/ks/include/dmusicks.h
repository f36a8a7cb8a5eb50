// MIDI over kernel streaming: the music data formats and ranges, the raw MIDI (KSMUSICFORMAT) and
// DirectMusic (DMUS_EVENTHEADER) frame records, and the synthesizer property sets that the
// system's MIDI and DirectMusic stacks ask of a MIDI filter's nodes.
#pragma once

#include <ks.h>
#include <ksmedia.h>

// ---- Formats and ranges ------------------------------------------------------------------

inline constexpr GUID KSDATAFORMAT_TYPE_MUSIC = {
    0xE725D360, 0x62CC, 0x11CF, {0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00}};
inline constexpr GUID KSDATAFORMAT_SUBTYPE_MIDI = {
    0x1D262760, 0xE957, 0x11CF, {0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00}};
inline constexpr GUID KSDATAFORMAT_SUBTYPE_MIDI_BUS = {
    0x2CA15FA0, 0x6CFE, 0x11CF, {0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00}};
inline constexpr GUID KSDATAFORMAT_SUBTYPE_DIRECTMUSIC = {
    0x1A82F8BC, 0x3F8B, 0x11D2, {0xB7, 0x74, 0x00, 0x60, 0x08, 0x33, 0x16, 0xC1}};
inline constexpr GUID KSMUSIC_TECHNOLOGY_PORT = {
    0x86C92E60, 0x62E8, 0x11CF, {0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00}};
inline constexpr GUID KSNODETYPE_SYNTHESIZER = {
    0xDFF220F3, 0xF70F, 0x11D0, {0xB9, 0x17, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};

typedef struct
{
    KSDATARANGE DataRange;
    GUID Technology;
    ULONG Channels;
    ULONG Notes;
    ULONG ChannelMask;
} KSDATARANGE_MUSIC, *PKSDATARANGE_MUSIC;
static_assert(sizeof(KSDATARANGE_MUSIC) == 96);

// ---- Frame records -----------------------------------------------------------------------

// One raw MIDI record: the header, then ByteCount bytes, padded to four bytes.
typedef struct
{
    ULONG TimeDeltaMs;  // ms after the stream's start (capture) or the frame's time (render)
    ULONG ByteCount;
} KSMUSICFORMAT, *PKSMUSICFORMAT;
static_assert(sizeof(KSMUSICFORMAT) == 8);

// One DirectMusic event: this header, the event's bytes at offset 20, the record padded to eight
// bytes: (cbEvent + 27) & ~7 in all.
#pragma pack(push, 4)
typedef struct
{
    ULONG cbEvent;
    ULONG dwChannelGroup;
    LONGLONG rtDelta;  // 100 ns after the frame's time
    ULONG dwFlags;     // DMUS_EVENT_STRUCTURED for a complete short message
} DMUS_EVENTHEADER, *PDMUS_EVENTHEADER;
#pragma pack(pop)
static_assert(sizeof(DMUS_EVENTHEADER) == 20);

#define DMUS_EVENT_STRUCTURED 0x00000001

// ---- Synthesizer property sets -------------------------------------------------------------

// A property addressed to one node of a filter.
typedef struct
{
    KSPROPERTY Property;
    ULONG NodeId;
    ULONG Reserved;
} KSNODEPROPERTY, *PKSNODEPROPERTY;
static_assert(sizeof(KSNODEPROPERTY) == 32);

inline constexpr GUID KSPROPSETID_Synth = {
    0xFEDFAE25, 0xE46E, 0x11D1, {0xAA, 0xCE, 0x00, 0x00, 0xF8, 0x75, 0xAC, 0x12}};
inline constexpr GUID KSPROPSETID_SynthClock = {
    0xFEDFAE26, 0xE46E, 0x11D1, {0xAA, 0xCE, 0x00, 0x00, 0xF8, 0x75, 0xAC, 0x12}};

#define KSPROPERTY_SYNTH_CAPS 2
#define KSPROPERTY_SYNTH_PORTPARAMETERS 3
#define KSPROPERTY_SYNTH_CHANNELGROUPS 4
#define KSPROPERTY_SYNTH_LATENCYCLOCK 6
#define KSPROPERTY_SYNTH_MASTERCLOCK 0

typedef struct
{
    GUID Guid;
    ULONG Flags;
    ULONG MemorySize;
    ULONG MaxChannelGroups;
    ULONG MaxVoices;
    ULONG MaxAudioChannels;
    ULONG EffectFlags;
    WCHAR Description[128];
} SYNTHCAPS, *PSYNTHCAPS;
static_assert(sizeof(SYNTHCAPS) == 296);

typedef struct
{
    ULONG ValidParams;
    ULONG Voices;
    ULONG ChannelGroups;
    ULONG AudioChannels;
    ULONG SampleRate;
    ULONG EffectsFlags;
    ULONG Share;
} SYNTH_PORTPARAMS, *PSYNTH_PORTPARAMS;
static_assert(sizeof(SYNTH_PORTPARAMS) == 28);

#define SYNTH_PC_EXTERNAL 0x00000002
#define SYNTH_PORTPARAMS_CHANNELGROUPS 0x00000002
