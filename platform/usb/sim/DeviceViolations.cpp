// Every simulated device is tracked from creation to destruction, so that what any of them
// recorded reaches the running test's tear-down, however the test plugged it in.
#include <KernelTestApi.h>

#include <cstdio>
#include <mutex>
#include <set>

#include "SimulatedUsbDevice.h"

namespace UsbSim {
namespace {

struct Tracked
{
    std::mutex mutex;
    std::set<SimulatedUsbDevice*> live;
    std::vector<std::string> fromDestroyed;  // not yet reported
};

Tracked& TheTracked()
{
    static Tracked tracked;
    return tracked;
}

std::string Named(const SimulatedUsbDevice& device, const std::string& violation)
{
    const auto& d = device.Descriptors().device;
    if (d.size() < 12) {
        return "simulated device: " + violation;
    }
    char id[40];
    std::snprintf(id, sizeof id, "simulated device %02X%02X:%02X%02X: ", d[9], d[8], d[11], d[10]);
    return id + violation;
}

void RegisterTearDownCheck()
{
    static std::once_flag once;
    std::call_once(once,
                   [] { Platform::Kernel::AddTearDownCheck(&TakeUnreportedDeviceViolations); });
}

}  // namespace

SimulatedUsbDevice::SimulatedUsbDevice(UsbDescriptorSet descriptorSet)
    : descriptors(std::move(descriptorSet))
{
    RegisterTearDownCheck();
    Tracked& tracked = TheTracked();
    std::lock_guard lock(tracked.mutex);
    tracked.live.insert(this);
}

SimulatedUsbDevice::~SimulatedUsbDevice()
{
    Tracked& tracked = TheTracked();
    std::lock_guard lock(tracked.mutex);
    tracked.live.erase(this);
    for (const std::string& violation : TakeUnreportedViolations()) {
        tracked.fromDestroyed.push_back(Named(*this, violation));
    }
}

std::vector<std::string> SimulatedUsbDevice::TakeUnreportedViolations()
{
    std::vector<std::string> taken(violations.begin() + static_cast<ptrdiff_t>(reportedViolations),
                                   violations.end());
    reportedViolations = violations.size();
    return taken;
}

std::vector<std::string> TakeUnreportedDeviceViolations()
{
    Tracked& tracked = TheTracked();
    std::lock_guard lock(tracked.mutex);
    std::vector<std::string> taken;
    taken.swap(tracked.fromDestroyed);
    for (SimulatedUsbDevice* device : tracked.live) {
        for (const std::string& violation : device->TakeUnreportedViolations()) {
            taken.push_back(Named(*device, violation));
        }
    }
    return taken;
}

}  // namespace UsbSim
