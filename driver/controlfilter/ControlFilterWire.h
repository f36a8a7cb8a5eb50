// The private control filter's wire protocol: the GUIDs and ids of its property and event sets and
// the byte layouts user-mode clients send and receive. Every value is little-endian; a layout
// marked 64-bit is what a 64-bit process sends, and a 32-bit process's form is given beside it.
#pragma once

#include <ks.h>
#include <wdm.h>

#include <cstddef>

#include "device/DeviceLifecycle.h"

inline constexpr GUID kPropSetControlStreaming = {
    0xEC564D60, 0x879D, 0x44B9, {0x8A, 0xFF, 0x9B, 0x96, 0x56, 0xA8, 0x0B, 0x36}};
inline constexpr GUID kPropSetControlMidiPorts = {
    0xA0634132, 0x2F7F, 0x4FDA, {0x93, 0xBA, 0xEA, 0x6D, 0x7D, 0x1B, 0xDD, 0x0D}};
inline constexpr GUID kControlFilterReference = {
    0x6242F6B0, 0x04E7, 0x497F, {0xAE, 0x8D, 0x28, 0x7E, 0x12, 0xD1, 0x94, 0x20}};

// Property bytes: the bare KSPROPERTY, and a KSPROPERTY with one u32 after it.
inline constexpr ULONG kPropertyBare = sizeof(KSPROPERTY);
inline constexpr ULONG kPropertyWithIndex = 32;
inline constexpr ULONG kMidiReadPropertyBytes = 48;
inline constexpr ULONG kRawPropertyBytes = 96;

enum GeneralId : ULONG
{
    kPropGeneralDeviceInfo = 0,
    kPropGeneralVersions = 1,
    kPropGeneralFlag2 = 2,
    kPropGeneralSampleRate = 4,
    kPropGeneralBufferSize = 5,
    kPropGeneralRemovalEvent = 7,
    kPropGeneralReleaseRemovalEvent = 8,
    kPropGeneralStreaming = 9,
    kPropGeneralSyncStatus = 10,
    kPropGeneralControlSwitch = 11,
    kPropGeneralClockSource = 12,
    kPropGeneralClockSourceId = 13,
    kPropGeneralRateStatus = 14,
    kPropGeneralRateByIndex = 15,
    kPropGeneralOutputModeValue = 16,
    kPropGeneralOutputModeActive = 17,
    kPropGeneralHighSpeed = 18,
    kPropGeneralExtendedInfo = 19,
    kPropGeneralControlValue = 20,
    kPropGeneralMixer = 21,
    kPropGeneralInputPeaks = 22,
    kPropGeneralOutputPeaks = 23,
    kPropGeneralKeepRunning = 24,
};

enum StreamingId : ULONG
{
    kPropStreamingClockSources = 0,
    kPropStreamingRunning = 1,
    kPropStreamingReserved2 = 2,
    kPropStreamingInputBuffers = 3,
    kPropStreamingOutputBuffers = 4,
    kPropStreamingEvents = 5,
    kPropStreamingReleaseEvents = 6,
    kPropStreamingReleaseInputBuffers = 7,
    kPropStreamingReleaseOutputBuffers = 8,
    kPropStreamingBufferDone = 9,
    kPropStreamingStart = 10,
    kPropStreamingStop = 11,
    kPropStreamingChangeFlags = 12,
    kPropStreamingWait = 13,
    kPropStreamingReleaseWait = 14,
    kPropStreamingPosition = 15,
    kPropStreamingInputChannelName = 16,
    kPropStreamingOutputChannelName = 17,
    kPropStreamingCanSampleRate = 18,
    kPropStreamingLatencies = 19,
    kPropStreamingBufferSizeRange = 20,
};

enum MidiPortId : ULONG
{
    kPropMidiOutputPortCount = 0,
    kPropMidiInputPortCount = 1,
    kPropMidiEvent = 2,
    kPropMidiReleaseEvent = 3,
    kPropMidiOpenOutput = 4,
    kPropMidiOpenInput = 5,
    kPropMidiCloseOutput = 6,
    kPropMidiCloseInput = 7,
    kPropMidiCloseAll = 8,
    kPropMidiOpenOutputMask = 9,
    kPropMidiOpenInputMask = 10,
    kPropMidiInputDataMask = 11,
    kPropMidiRead = 12,
    kPropMidiWrite = 13,
    kPropMidiOutputPortName = 14,
    kPropMidiInputPortName = 15,
};

inline constexpr ULONG kPropRawClassRequest = 0;

inline constexpr ULONG kDeviceInfoTagSlots = 36;
inline constexpr ULONG kProductNameBytes = 32;

struct DeviceInfoBlock
{
    ULONG inputChannels;
    ULONG outputChannels;
    ULONG productId;
    ULONG one;
    ULONG defaultBufferSize;  // samples
    CHAR productName[kProductNameBytes];
    ULONG inputKinds[kDeviceInfoTagSlots];
    ULONG outputKinds[kDeviceInfoTagSlots];
    ULONG maxRateKilohertz;
};
static_assert(sizeof(DeviceInfoBlock) == 344);
static_assert(offsetof(DeviceInfoBlock, productName) == 20);
static_assert(offsetof(DeviceInfoBlock, inputKinds) == 52);
static_assert(offsetof(DeviceInfoBlock, outputKinds) == 196);
static_assert(offsetof(DeviceInfoBlock, maxRateKilohertz) == 340);

struct VersionsBlock
{
    ULONG driver[5];  // 7, 0, 0, 3505, 0
    ULONG firmware[4];
};
static_assert(sizeof(VersionsBlock) == 36);

struct RateStatusBlock
{
    ULONG configurationIndex;
    ULONG rateCount;
    ULONG selectedIndex;
    ULONG lockedIndex;  // 0xFFFFFFFF: none
};
static_assert(sizeof(RateStatusBlock) == 16);

struct RateByIndexBlock
{
    ULONG configurationIndex;
    ULONG rateIndex;
    ULONG rate;  // Hz
};
static_assert(sizeof(RateByIndexBlock) == 12);

struct ClockSourceBlock
{
    ULONG reserved;
    ULONG sourceCount;
    ULONG selectedSource;
};
static_assert(sizeof(ClockSourceBlock) == 12);

// Channel names (streaming ids 16, 17) and MIDI port names (MIDI ids 14, 15).
inline constexpr ULONG kNameRecordTextBytes = 128;
inline constexpr ULONG kNameRecordCopiedBytes = 64;  // 32 UTF-16 characters
struct NameRecord
{
    UCHAR text[kNameRecordTextBytes];  // UTF-16
    LONG value;                        // channel group, or the MIDI port's id
};
static_assert(sizeof(NameRecord) == 132);

struct BufferSizeRangeBlock
{
    ULONG minimum;  // samples
    ULONG maximum;
    ULONG preferred;
    ULONG granularity;  // 0 or less: sizes double
};
static_assert(sizeof(BufferSizeRangeBlock) == 16);

struct PositionBlock
{
    ULONGLONG samples;
    ULONGLONG nanoseconds;
};
static_assert(sizeof(PositionBlock) == 16);

struct LatenciesBlock
{
    ULONG input;  // samples
    ULONG output;
};
static_assert(sizeof(LatenciesBlock) == 8);

// The buffer tables of streaming ids 3 and 4: two halves per channel.
inline constexpr ULONG kTableChannels = 20;
inline constexpr ULONG kTableHalves = 2;
struct BufferTable64
{
    ULONGLONG addresses[kTableChannels][kTableHalves];
    ULONG halfBytes;
};
static_assert(offsetof(BufferTable64, halfBytes) == 320);
inline constexpr ULONG kBufferTable64Bytes = 324;  // without the struct's tail padding
struct BufferTable32
{
    ULONG addresses[kTableChannels][kTableHalves];
    ULONG halfBytes;
};
static_assert(sizeof(BufferTable32) == 164);
inline constexpr ULONG kBufferTable32Bytes = 164;

// MIDI id 12: the property (64-bit layout; a 32-bit caller puts the address in bytes 32-35).
struct MidiReadProperty
{
    KSPROPERTY property;
    ULONG port;
    ULONG padding1;
    ULONGLONG buffer;
    ULONG length;
    ULONG padding2;
};
static_assert(sizeof(MidiReadProperty) == kMidiReadPropertyBytes);
static_assert(offsetof(MidiReadProperty, buffer) == 32);
static_assert(offsetof(MidiReadProperty, length) == 40);

struct MidiReadResult
{
    ULONGLONG time100ns;
    ULONG bytes;
    ULONG kind;  // 1: a complete short message; 0: SysEx data
};
static_assert(sizeof(MidiReadResult) == 16);

// MIDI id 13: the data (64-bit layout; a 32-bit caller puts the address in bytes 8-11).
struct MidiWriteData
{
    ULONG port;
    ULONG padding1;
    ULONGLONG buffer;
    ULONG length;
    ULONG padding2;
};
static_assert(sizeof(MidiWriteData) == 24);
static_assert(offsetof(MidiWriteData, buffer) == 8);
static_assert(offsetof(MidiWriteData, length) == 16);

inline constexpr ULONG kMixerBlockBytes = 32784;
inline constexpr ULONG kExtendedInfoBytes = 1024;
inline constexpr ULONG kPeaksBytes = 256;
inline constexpr ULONG kClockSourceRecordBytes = 580;

// The longest raw class transfer: a control transfer's length field is 16 bits, and a request to
// the audio control interface never needs more than this; the answer is built in pool of this
// size at most.
inline constexpr ULONG kRawTransferLimit = 4096;
