#pragma once
// The simulated world behind the library: the devices that tests plug in and out, and the faults
// they switch on (see UlvaneTest/UlvaneControl.h).

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "DeviceSide.h"
#include "SimulatedDevice.h"

namespace Ulvane {

class SimulatedDeviceSide : public IDeviceSide
{
public:
    int32_t ListDevices(bool remote, std::vector<Value>& ids) override;
    std::shared_ptr<IDevice> FindDevice(const Value& id) override;
    int32_t RemoteScanResult() override { return remoteScanResult.load(); }

    // The device of that name, plugged in; made when the name is new.
    std::shared_ptr<SimulatedDevice> Plug(const std::string& name, bool remote);
    bool Unplug(const std::string& name);
    std::shared_ptr<SimulatedDevice> FindByName(const std::string& name);
    void Clear();

    void SetDriverInterfaceMissing(bool missing) { driverInterfaceMissing = missing; }
    void SetRemoteScanResult(int32_t result) { remoteScanResult = result; }

private:
    std::mutex lock;
    std::vector<std::shared_ptr<SimulatedDevice>> devices;  // guarded by lock, in plug order
    std::atomic<bool> driverInterfaceMissing{false};
    std::atomic<int32_t> remoteScanResult{0};
};

}  // namespace Ulvane
