// The devices the host can plug in: the product, and device models of the tests beside it that
// declare what the product lacks (inputs, MIDI ports), each with the descriptors its simulated USB device
// is built from and the parts the driver builds it on.
#pragma once

#include <UsbDescriptorSet.h>

#include <memory>
#include <string>
#include <vector>

class DeviceParts;

namespace Host {

struct DeviceChoice
{
    const char* name;         // what `--device` takes
    const char* description;  // one line for `list` and `--help`
    UsbSim::ProductVariant variant;
    // The parts the driver builds the device from; null for the product's own (the driver's
    // entry installs them). Shared: the parts destroy themselves through their own type.
    std::shared_ptr<DeviceParts> (*makeParts)();
};

const std::vector<DeviceChoice>& DeviceChoices();
// Null when no device has the name.
const DeviceChoice* FindDevice(const std::string& name);
// "product, inputs, midi"
std::string DeviceNames();

}  // namespace Host
