#include "PluggedUsbDevices.h"

namespace Platform::Ks {

Device* PluggedUsbDevices::PlugIn(Driver& driver, UsbSim::UsbDescriptorSet descriptors,
                                  std::string* error, NTSTATUS* status)
{
    auto device = UsbSim::SimulatedUsbDevice::Create(std::move(descriptors), error);
    if (device == nullptr) {
        return nullptr;
    }
    auto bus = std::make_unique<UsbSim::SimulatedUsbBus>();
    bus->Attach(*device);
    Device* plugged = driver.PlugIn(*bus, *device, status);
    devices_.push_back(std::move(device));
    buses_.push_back(std::move(bus));
    return plugged;
}

void PluggedUsbDevices::Clear()
{
    buses_.clear();
    devices_.clear();
}

}  // namespace Platform::Ks
