#pragma once
// The library's view of the devices it serves, apart from the connections and callbacks above it:
// today simulated devices; the driver's control filter can stand behind the same interfaces.

#include <cstdint>
#include <memory>
#include <vector>

#include "UlvaneAbi.h"

namespace Ulvane {

// Receives the values a device sends on its own (changes, confirmations of writes).
class IValueSink
{
public:
    // Called under the device's lock: queue the list, do not call back into the device.
    virtual void OnDeviceValues(const Value& values) = 0;

protected:
    ~IValueSink() = default;
};

class IDevice
{
public:
    virtual ~IDevice() = default;

    virtual Value GetId() const = 0;
    virtual bool IsPresent() const = 0;
    // The sink receives the device's values until Detach returns. Negative when the device
    // cannot be opened.
    virtual int32_t Attach(IValueSink* sink) = 0;
    virtual void Detach(IValueSink* sink) = 0;
    virtual int32_t ReadValue(const ParamDescriptor& descriptor, Value& value) = 0;
    // Stores the value; the device confirms it to every attached sink.
    virtual int32_t WriteValue(const ParamDescriptor& descriptor, const Value& value) = 0;
    // The ids of the device's parameters, in ascending order.
    virtual std::vector<int32_t> GetParameterIds() const = 0;
    virtual int32_t ReadInfo(uint8_t* record) = 0;
};

class IDeviceSide
{
public:
    virtual ~IDeviceSide() = default;

    // The ids of the present devices of one kind; negative when the devices cannot be listed.
    virtual int32_t ListDevices(bool remote, std::vector<Value>& ids) = 0;
    // The device of an id (present or not); null when the id names none.
    virtual std::shared_ptr<IDevice> FindDevice(const Value& id) = 0;
    // The result of a one-shot remote scan that succeeded.
    virtual int32_t RemoteScanResult() = 0;
};

}  // namespace Ulvane
