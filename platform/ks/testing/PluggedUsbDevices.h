// Simulated USB devices, each on a bus of its own, plugged into a loaded driver. Keep the rack
// alive longer than the driver: the devices and their buses must outlive the device objects.
#pragma once

#include <KsHostApi.h>
#include <UsbDescriptorSet.h>
#include <UsbTestApi.h>

#include <memory>
#include <string>
#include <vector>

namespace Platform::Ks {

class PluggedUsbDevices
{
public:
    // Null when the descriptors are refused (error says why) or when AddDevice fails (status).
    Device* PlugIn(Driver& driver, UsbSim::UsbDescriptorSet descriptors, std::string* error,
                   NTSTATUS* status = nullptr);

    UsbSim::SimulatedUsbDevice& LastDevice() { return *devices_.back(); }
    UsbSim::SimulatedUsbBus& LastBus() { return *buses_.back(); }
    void Clear();

private:
    std::vector<std::unique_ptr<UsbSim::SimulatedUsbDevice>> devices_;
    std::vector<std::unique_ptr<UsbSim::SimulatedUsbBus>> buses_;
};

}  // namespace Platform::Ks
