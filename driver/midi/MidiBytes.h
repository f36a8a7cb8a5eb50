// What a MIDI byte or a USB-MIDI Code Index Number says about the message it belongs to. Every
// answer comes from a table indexed by the whole byte (or the 4-bit CIN), so any value a device or
// a writer sends has an answer.
#pragma once

#include <wdm.h>

inline constexpr UCHAR kNoCodeIndex = 255;
inline constexpr UCHAR kSysExStart = 0xF0;
inline constexpr UCHAR kSysExEnd = 0xF7;
inline constexpr UCHAR kFirstRealTime = 0xF8;

// Bytes of the message including the status byte; 0 for data bytes, 0xF0 and the undefined
// status bytes (0xF4, 0xF5, 0xF9, 0xFD).
ULONG MidiMessageLength(UCHAR status);

// The USB-MIDI Code Index Number of a message with this status byte; kNoCodeIndex for data
// bytes, 0xF0 and the undefined status bytes.
UCHAR CodeIndexNumber(UCHAR status);

// MIDI bytes an event packet with this CIN carries (0 to 3). Only the low four bits count.
ULONG MidiBytesForCin(UCHAR cin);

inline bool IsStatusByte(UCHAR value)
{
    return (value & 0x80) != 0;
}

inline bool IsRealTimeByte(UCHAR value)
{
    return value >= kFirstRealTime;
}
