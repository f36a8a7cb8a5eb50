#include "ParamIds.h"

#include <vector>

namespace ParamIds {

namespace {

constexpr ParamDefinition kDefinitions[kParamCount] = {
    {kDriverVersion, "DEVICE__VERSIONS__DRIVER_VERSION"},
    {kFirmwareVersion, "DEVICE__VERSIONS__FIRMWARE_VERSION"},
    {kAsioPreferredBufferSize, "DEVICE__DRIVER_STANDARDS_PROPS__ASIO_PREFERRED_BUFFER_SIZE"},
    {kAsioBufferSizes, "DEVICE__DRIVER_STANDARDS_PROPS__ASIO_BUFFER_SIZES"},
    {kSampleRate, "DEVICE__DRIVER_STANDARDS_PROPS__SAMPLE_RATE"},
    {kSampleRatesAvailable, "DEVICE__DRIVER_STANDARDS_PROPS__SAMPLE_RATES_AVAILABLE"},
    {kClockSource, "DEVICE__DRIVER_STANDARDS_PROPS__CLOCK_SOURCE"},
    {kClockSourcesAvailable, "DEVICE__DRIVER_STANDARDS_PROPS__CLOCK_SOURCES_AVAILABLE"},
    {kClockValid, "DEVICE__DRIVER_STANDARDS_PROPS__CLOCK_VALID"},
    {kStreamingStatus, "DEVICE__AUDIO_STATUS__STREAMING_STATUS"},
    {kAc3Status, "DEVICE__AUDIO_STATUS__AC3_STATUS"},
};

Orv::Variant Int32(int32_t value)
{
    Orv::Variant v;
    v.SetInt32(value);
    return v;
}

Orv::Variant Bool(bool value)
{
    Orv::Variant v;
    v.SetBool(value);
    return v;
}

Orv::Variant Double(double value)
{
    Orv::Variant v;
    v.SetDouble(value);
    return v;
}

Orv::Variant ListOf(std::vector<Orv::Variant> items)
{
    Orv::Variant list;
    list.SetList(items.data(), static_cast<uint32_t>(items.size()));
    return list;
}

}  // namespace

const ParamDefinition* GetParamDefinitions()
{
    return kDefinitions;
}

Orv::Variant GetDefaultValue(int32_t id)
{
    switch (id) {
        case kAsioPreferredBufferSize:
            return Int32(256);
        case kAsioBufferSizes:
            return ListOf({Int32(64), Int32(4096), Int32(32)});
        case kSampleRate:
            return Double(44100.0);
        case kSampleRatesAvailable:
            return ListOf({Int32(0), Bool(false), Double(44100.0)});
        case kClockSource:
            return Int32(0);
        case kClockSourcesAvailable:
            return ListOf({ListOf({Int32(0), Int32(static_cast<int32_t>(kClockSourceSpdif))})});
        case kClockValid:
            return Bool(true);
        case kStreamingStatus:
        case kAc3Status:
            return Bool(false);
        default:  // the versions, set by the device, and every id the device alone knows
            return Orv::Variant();
    }
}

}  // namespace ParamIds
