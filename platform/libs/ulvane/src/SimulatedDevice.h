#pragma once
// One simulated interface: its parameters with their values, which of them the program may
// write and with what, and the sinks of its open connections. Strict: a write of the wrong type,
// out of range or to a value only the device sets is refused, and nothing is sent.

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "DeviceSide.h"

namespace Ulvane {

class SimulatedDevice : public IDevice
{
public:
    SimulatedDevice(std::string name, bool remote);

    Value GetId() const override;
    bool IsPresent() const override;
    int32_t Attach(IValueSink* sink) override;
    void Detach(IValueSink* sink) override;
    int32_t ReadValue(const ParamDescriptor& descriptor, Value& value) override;
    int32_t WriteValue(const ParamDescriptor& descriptor, const Value& value) override;
    std::vector<int32_t> GetParameterIds() const override;
    int32_t ReadInfo(uint8_t* record) override;

    const std::string& GetName() const { return name; }
    bool IsRemote() const { return remote; }
    void SetPresent(bool isPresent);
    // The device's own changes, sent to every sink.
    bool Push(int32_t parameterId, const Value& value);
    bool PushList(const Value& list);
    bool Peek(int32_t parameterId, Value& value) const;

private:
    void SendLocked(const Value& list);
    void SendValueLocked(int32_t parameterId, const Value& value);

    const std::string name;
    const bool remote;
    mutable std::mutex lock;
    bool present = true;              // guarded by lock
    std::map<int32_t, Value> values;  // guarded by lock
    std::vector<IValueSink*> sinks;   // guarded by lock
};

}  // namespace Ulvane
