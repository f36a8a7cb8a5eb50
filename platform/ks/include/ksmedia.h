// Audio over kernel streaming: wave formats, audio data ranges and formats, the audio and pin
// property sets, node types and the audio position.
#pragma once

#include <ks.h>

// ---- Wave formats ------------------------------------------------------------------------

#define WAVE_FORMAT_PCM 0x0001
#define WAVE_FORMAT_DOLBY_AC3_SPDIF 0x0092
#define WAVE_FORMAT_WMASPDIF 0x0164
#define WAVE_FORMAT_EXTENSIBLE 0xFFFE

#pragma pack(push, 1)
typedef struct
{
    USHORT wFormatTag;
    USHORT nChannels;
    ULONG nSamplesPerSec;
    ULONG nAvgBytesPerSec;
    USHORT nBlockAlign;
    USHORT wBitsPerSample;
    USHORT cbSize;  // bytes of format that follow this structure
} WAVEFORMATEX, *PWAVEFORMATEX;

typedef struct
{
    WAVEFORMATEX Format;
    union {
        USHORT wValidBitsPerSample;
        USHORT wSamplesPerBlock;
        USHORT wReserved;
    } Samples;
    ULONG dwChannelMask;
    GUID SubFormat;
} WAVEFORMATEXTENSIBLE, *PWAVEFORMATEXTENSIBLE;
#pragma pack(pop)

static_assert(sizeof(WAVEFORMATEX) == 18);
static_assert(sizeof(WAVEFORMATEXTENSIBLE) == 40);

#define SPEAKER_FRONT_LEFT 0x1
#define SPEAKER_FRONT_RIGHT 0x2

// ---- Data formats and ranges -------------------------------------------------------------

inline constexpr GUID KSDATAFORMAT_TYPE_AUDIO = {
    0x73647561, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
inline constexpr GUID KSDATAFORMAT_SUBTYPE_PCM = {
    0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
inline constexpr GUID KSDATAFORMAT_SUBTYPE_IEC61937_DOLBY_DIGITAL = {
    0x00000092, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
inline constexpr GUID KSDATAFORMAT_SUBTYPE_IEC61937_WMA_PRO = {
    0x00000164, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
inline constexpr GUID KSDATAFORMAT_SUBTYPE_ANALOG = {
    0x6DBA3190, 0x67BD, 0x11CF, {0xA0, 0xF7, 0x00, 0x20, 0xAF, 0xD1, 0x56, 0xE4}};
inline constexpr GUID KSDATAFORMAT_SPECIFIER_WAVEFORMATEX = {
    0x05589F81, 0xC356, 0x11CE, {0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}};
inline constexpr GUID KSDATAFORMAT_SPECIFIER_DSOUND = {
    0x518590A2, 0xA184, 0x11D0, {0x85, 0x22, 0x00, 0xC0, 0x4F, 0xD9, 0xBA, 0xF3}};
inline constexpr GUID KSDATAFORMAT_SPECIFIER_NONE = {
    0x0F6417D6, 0xC318, 0x11D0, {0xA4, 0x3F, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};

typedef struct
{
    KSDATARANGE DataRange;
    ULONG MaximumChannels;
    ULONG MinimumBitsPerSample;
    ULONG MaximumBitsPerSample;
    ULONG MinimumSampleFrequency;
    ULONG MaximumSampleFrequency;
} KSDATARANGE_AUDIO, *PKSDATARANGE_AUDIO;

static_assert(sizeof(KSDATAFORMAT) == 64);
// 84 bytes of fields, padded to the 8-byte alignment of KSDATARANGE.
static_assert(sizeof(KSDATARANGE_AUDIO) == 88);

#pragma pack(push, 1)
typedef struct
{
    KSDATAFORMAT DataFormat;
    WAVEFORMATEX WaveFormatEx;
} KSDATAFORMAT_WAVEFORMATEX, *PKSDATAFORMAT_WAVEFORMATEX;

typedef struct
{
    KSDATAFORMAT DataFormat;
    WAVEFORMATEXTENSIBLE WaveFormatExt;
} KSDATAFORMAT_WAVEFORMATEXTENSIBLE, *PKSDATAFORMAT_WAVEFORMATEXTENSIBLE;

typedef struct
{
    ULONG Flags;
    ULONG Control;
    WAVEFORMATEX WaveFormatEx;
} KSDSOUND_BUFFERDESC, *PKSDSOUND_BUFFERDESC;

typedef struct
{
    KSDATAFORMAT DataFormat;
    KSDSOUND_BUFFERDESC BufferDesc;
} KSDATAFORMAT_DSOUND, *PKSDATAFORMAT_DSOUND;
#pragma pack(pop)

static_assert(sizeof(KSDATAFORMAT_WAVEFORMATEX) == 82);
static_assert(sizeof(KSDATAFORMAT_WAVEFORMATEXTENSIBLE) == 104);

// ---- Property sets -----------------------------------------------------------------------

inline constexpr GUID KSPROPSETID_Audio = {
    0x45FFAAA0, 0x6E1B, 0x11D0, {0xBC, 0xF2, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
#define KSPROPERTY_AUDIO_POSITION 5

typedef struct
{
    ULONGLONG PlayOffset;   // bytes
    ULONGLONG WriteOffset;  // bytes
} KSAUDIO_POSITION, *PKSAUDIO_POSITION;

inline constexpr GUID KSPROPSETID_General = {
    0x1464EDA5, 0x6A8F, 0x11D1, {0x9A, 0xA7, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
#define KSPROPERTY_GENERAL_COMPONENTID 0

// ---- Node types --------------------------------------------------------------------------

inline constexpr GUID KSNODETYPE_DAC = {
    0x507AE360, 0xC554, 0x11D0, {0x8A, 0x2B, 0x00, 0xA0, 0xC9, 0x25, 0x5A, 0xC1}};
inline constexpr GUID KSNODETYPE_ADC = {
    0x4D837FE0, 0xC555, 0x11D0, {0x8A, 0x2B, 0x00, 0xA0, 0xC9, 0x25, 0x5A, 0xC1}};
inline constexpr GUID KSNODETYPE_SPEAKER = {
    0xDFF21CE1, 0xF70F, 0x11D0, {0xB9, 0x17, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
inline constexpr GUID KSNODETYPE_DIGITAL_AUDIO_INTERFACE = {
    0xDFF21FE2, 0xF70F, 0x11D0, {0xB9, 0x17, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
inline constexpr GUID KSNODETYPE_LINE_CONNECTOR = {
    0xDFF21FE3, 0xF70F, 0x11D0, {0xB9, 0x17, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
inline constexpr GUID KSNODETYPE_SPDIF_INTERFACE = {
    0xDFF21FE5, 0xF70F, 0x11D0, {0xB9, 0x17, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
