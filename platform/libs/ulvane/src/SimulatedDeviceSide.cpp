#include "SimulatedDeviceSide.h"

#include <algorithm>

#include "Ulvane.h"

namespace Ulvane {

int32_t SimulatedDeviceSide::ListDevices(bool remote, std::vector<Value>& ids)
{
    ids.clear();
    if (driverInterfaceMissing) {
        return kUlvaneNoDriverInterface;
    }
    const std::lock_guard<std::mutex> guard(lock);
    for (const auto& device : devices) {
        if (device->IsRemote() == remote && device->IsPresent()) {
            ids.push_back(device->GetId());
        }
    }
    return kUlvaneOk;
}

std::shared_ptr<IDevice> SimulatedDeviceSide::FindDevice(const Value& id)
{
    const std::lock_guard<std::mutex> guard(lock);
    for (const auto& device : devices) {
        if (device->GetId() == id) {
            return device;
        }
    }
    return nullptr;
}

std::shared_ptr<SimulatedDevice> SimulatedDeviceSide::Plug(const std::string& name, bool remote)
{
    std::shared_ptr<SimulatedDevice> device = FindByName(name);
    if (device != nullptr) {
        device->SetPresent(true);
        return device;
    }
    device = std::make_shared<SimulatedDevice>(name, remote);
    const std::lock_guard<std::mutex> guard(lock);
    devices.push_back(device);
    return device;
}

bool SimulatedDeviceSide::Unplug(const std::string& name)
{
    const std::shared_ptr<SimulatedDevice> device = FindByName(name);
    if (device == nullptr) {
        return false;
    }
    device->SetPresent(false);
    return true;
}

std::shared_ptr<SimulatedDevice> SimulatedDeviceSide::FindByName(const std::string& name)
{
    const std::lock_guard<std::mutex> guard(lock);
    const auto found = std::find_if(devices.begin(), devices.end(), [&name](const auto& device) {
        return device->GetName() == name;
    });
    return found != devices.end() ? *found : nullptr;
}

void SimulatedDeviceSide::Clear()
{
    {
        const std::lock_guard<std::mutex> guard(lock);
        devices.clear();
    }
    driverInterfaceMissing = false;
    remoteScanResult = 0;
}

}  // namespace Ulvane
