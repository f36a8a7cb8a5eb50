#pragma once
// The device's parameters by id, with their names and the values the panel shows before the
// device has sent its own, and the negative pseudo ids that belong to no module.

#include <cstdint>

#include "Utilities/Storage/Variant.h"

namespace ParamIds {

// The root module's first id; relative and absolute ids coincide.
inline constexpr int32_t kFirstId = 0;
inline constexpr int32_t kDriverVersion = 0;
inline constexpr int32_t kFirmwareVersion = 1;
inline constexpr int32_t kAsioPreferredBufferSize = 2;  // int32, samples
inline constexpr int32_t kAsioBufferSizes = 3;          // [smallest, largest, step], int32
inline constexpr int32_t kSampleRate = 4;               // double, Hz
inline constexpr int32_t kSampleRatesAvailable = 5;
inline constexpr int32_t kClockSource = 6;
inline constexpr int32_t kClockSourcesAvailable = 7;  // list of [index, four-character code]
inline constexpr int32_t kClockValid = 8;
inline constexpr int32_t kStreamingStatus = 9;
inline constexpr int32_t kAc3Status = 10;
inline constexpr int32_t kParamCount = 11;

// Pseudo ids.
inline constexpr int32_t kNone = -1;
inline constexpr int32_t kCommunicationState = -2;  // bool
inline constexpr int32_t kStatusInjection = -4;     // [int64, bool communication available]
inline constexpr int32_t kDeviceName = -8;          // text
inline constexpr int32_t kManufacturer = -9;        // text
inline constexpr int32_t kProduct = -10;            // text
inline constexpr int32_t kFirstReadOnly = -242;     // -242 to -240: never written
inline constexpr int32_t kLastReadOnly = -240;
inline constexpr int32_t kLatencies = -244;            // 8-byte blob of two int32
inline constexpr int32_t kFirstPseudoModuleId = -256;  // -256 to -129: the root's pseudo module
inline constexpr int32_t kLastPseudoModuleId = -129;

inline constexpr uint32_t kClockSourceSpdif = 0x73706466;  // 'spdf'

struct ParamDefinition
{
    int32_t id;
    const char* name;
};

// The kParamCount parameters, in id order.
const ParamDefinition* GetParamDefinitions();
// The value of a parameter before the device has sent one; empty for ids outside 0-10 and for
// the values only the device sets.
Orv::Variant GetDefaultValue(int32_t id);

inline bool IsReadOnlyPseudoId(int32_t id)
{
    return id >= kFirstReadOnly && id <= kLastReadOnly;
}

}  // namespace ParamIds
