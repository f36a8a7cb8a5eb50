#include "SimulatedDevice.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "ParamItems.h"
#include "Ulvane.h"
#include "ValueMakers.h"

namespace Ulvane {

namespace {

// The buffer sizes the device offers: from 64 to 4096 samples in steps of 32.
constexpr int32_t kSmallestBuffer = 64;
constexpr int32_t kLargestBuffer = 4096;
constexpr int32_t kBufferStep = 32;
constexpr int32_t kSpdifClockSource = 0x73706466;  // 'spdf'
constexpr uint32_t kLongestName = 63;

std::map<int32_t, Value> FactoryValues(const std::string& name)
{
    Value bools[3];
    bools[0].SetBool(true);
    bools[1].SetBool(false);
    bools[2].SetBool(false);
    Value rate;
    rate.SetDouble(44100.0);
    Value noRate;
    noRate.SetBool(false);
    const uint32_t latencies[2] = {32, 48};  // input and output, samples
    Value latencyBlob;
    latencyBlob.SetBlob(latencies, sizeof latencies);

    std::map<int32_t, Value> values;
    values[0] = TextValue("1.4.0.212");
    values[1] = TextValue("2.07");
    values[2] = Int32Value(256);
    values[3] = ListValue(
        {Int32Value(kSmallestBuffer), Int32Value(kLargestBuffer), Int32Value(kBufferStep)});
    values[4] = rate;
    values[5] = ListValue({Int32Value(0), noRate, rate});
    values[6] = Int32Value(0);
    values[7] = ListValue({ListValue({Int32Value(0), Int32Value(kSpdifClockSource)})});
    values[8] = bools[0];
    values[9] = bools[1];
    values[10] = bools[2];
    values[-2] = bools[0];
    values[-8] = TextValue(name.c_str());
    values[-9] = TextValue("Corvane");
    values[-10] = TextValue("Quorvel");
    values[-240] = Int32Value(1);
    values[-241] = Int32Value(0);
    values[-242] = Int32Value(2);
    values[-244] = latencyBlob;
    return values;
}

// Whether the program may write the value to the parameter; only these parameters are writable.
int32_t CheckWrite(int32_t parameterId, const Value& value)
{
    switch (parameterId) {
        case 2: {
            const int32_t samples = value.GetInt32();
            if (value.GetType() != kValueInt32 || samples < kSmallestBuffer ||
                samples > kLargestBuffer || (samples - kSmallestBuffer) % kBufferStep != 0) {
                return kUlvaneBadArgument;
            }
            return kUlvaneOk;
        }
        case 4:
            return value.GetType() == kValueDouble && std::isfinite(value.GetDouble()) &&
                           value.GetDouble() > 0.0
                       ? kUlvaneOk
                       : kUlvaneBadArgument;
        case 6:  // the one clock source the device offers
            return value.GetType() == kValueInt32 && value.GetInt32() == 0 ? kUlvaneOk
                                                                           : kUlvaneBadArgument;
        case -8:
            return value.GetType() == kValueText && value.GetSize() > 1 &&
                           value.GetSize() - 1 <= kLongestName
                       ? kUlvaneOk
                       : kUlvaneBadArgument;
        default:
            return kUlvaneReadOnly;
    }
}

}  // namespace

SimulatedDevice::SimulatedDevice(std::string deviceName, bool isRemote)
    : name(std::move(deviceName)), remote(isRemote), values(FactoryValues(name))
{
}

Value SimulatedDevice::GetId() const
{
    return TextValue(("QRV:" + name).c_str());
}

bool SimulatedDevice::IsPresent() const
{
    const std::lock_guard<std::mutex> guard(lock);
    return present;
}

void SimulatedDevice::SetPresent(bool isPresent)
{
    const std::lock_guard<std::mutex> guard(lock);
    present = isPresent;
}

int32_t SimulatedDevice::Attach(IValueSink* sink)
{
    const std::lock_guard<std::mutex> guard(lock);
    if (!present) {
        return kUlvaneDeviceGone;
    }
    sinks.push_back(sink);
    return kUlvaneOk;
}

void SimulatedDevice::Detach(IValueSink* sink)
{
    const std::lock_guard<std::mutex> guard(lock);
    sinks.erase(std::remove(sinks.begin(), sinks.end(), sink), sinks.end());
}

int32_t SimulatedDevice::ReadValue(const ParamDescriptor& descriptor, Value& value)
{
    const std::lock_guard<std::mutex> guard(lock);
    if (!present) {
        return kUlvaneDeviceGone;
    }
    const auto found = values.find(descriptor.id);
    if (found == values.end()) {
        return kUlvaneUnknownParameter;
    }
    if (descriptor.subIndex.IsEmpty()) {
        value = found->second;
        return kUlvaneOk;
    }
    // An entry of a list value, by its index.
    const Value& index = descriptor.subIndex;
    std::vector<Value> entries;
    if (!found->second.ReadList(entries) || index.GetType() != kValueInt32 ||
        index.GetInt32() < 0 || static_cast<size_t>(index.GetInt32()) >= entries.size()) {
        value.Clear();
        return kUlvaneBadArgument;
    }
    value = entries[static_cast<size_t>(index.GetInt32())];
    return kUlvaneOk;
}

int32_t SimulatedDevice::WriteValue(const ParamDescriptor& descriptor, const Value& value)
{
    const std::lock_guard<std::mutex> guard(lock);
    if (!present) {
        return kUlvaneDeviceGone;
    }
    if (values.find(descriptor.id) == values.end()) {
        return kUlvaneUnknownParameter;
    }
    if (!descriptor.subIndex.IsEmpty()) {
        return kUlvaneBadArgument;  // entries of list values are only read
    }
    const int32_t allowed = CheckWrite(descriptor.id, value);
    if (allowed != kUlvaneOk) {
        return allowed;
    }
    values[descriptor.id] = value;
    SendValueLocked(descriptor.id, value);
    return kUlvaneOk;
}

std::vector<int32_t> SimulatedDevice::GetParameterIds() const
{
    const std::lock_guard<std::mutex> guard(lock);
    std::vector<int32_t> ids;
    for (const auto& entry : values) {
        ids.push_back(entry.first);
    }
    return ids;
}

int32_t SimulatedDevice::ReadInfo(uint8_t* record)
{
    const std::lock_guard<std::mutex> guard(lock);
    std::memset(record, 0, kUlvaneDeviceInfoSize);
    const size_t length = std::min<size_t>(name.size(), kUlvaneDeviceInfoNameSize - 1);
    std::memcpy(record + kUlvaneDeviceInfoNameOffset, name.data(), length);
    record[kUlvaneDeviceInfoPresentOffset] = present ? 1 : 0;
    return kUlvaneOk;
}

bool SimulatedDevice::Push(int32_t parameterId, const Value& value)
{
    const std::lock_guard<std::mutex> guard(lock);
    if (values.find(parameterId) == values.end()) {
        return false;
    }
    values[parameterId] = value;
    if (present) {
        SendValueLocked(parameterId, value);
    }
    return true;
}

bool SimulatedDevice::PushList(const Value& list)
{
    const std::lock_guard<std::mutex> guard(lock);
    if (present) {
        SendLocked(list);
    }
    return true;
}

bool SimulatedDevice::Peek(int32_t parameterId, Value& value) const
{
    const std::lock_guard<std::mutex> guard(lock);
    const auto found = values.find(parameterId);
    if (found == values.end()) {
        return false;
    }
    value = found->second;
    return true;
}

void SimulatedDevice::SendValueLocked(int32_t parameterId, const Value& value)
{
    ParamDescriptor descriptor;
    descriptor.id = parameterId;
    Value list;
    list.SetList({MakeValueItem(descriptor, value)});
    SendLocked(list);
}

void SimulatedDevice::SendLocked(const Value& list)
{
    for (IValueSink* sink : sinks) {
        sink->OnDeviceValues(list);
    }
}

}  // namespace Ulvane
