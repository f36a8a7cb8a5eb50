// The simulated device's endpoint halt (a stalled bulk or interrupt endpoint stays halted until
// the host clears it) and its checks of the length fields of standard requests.
#include <algorithm>

#include "SimulatedUsbDevice.h"

namespace UsbSim {
namespace {

constexpr uint8_t kGetStatus = 0x00;
constexpr uint8_t kClearFeature = 0x01;
constexpr uint8_t kSetFeature = 0x03;
constexpr uint8_t kSetAddress = 0x05;
constexpr uint8_t kGetDescriptor = 0x06;
constexpr uint8_t kGetConfiguration = 0x08;
constexpr uint8_t kSetConfiguration = 0x09;
constexpr uint8_t kGetInterface = 0x0A;
constexpr uint8_t kSetInterface = 0x0B;
constexpr uint16_t kEndpointHalt = 0;

struct LengthRule
{
    uint8_t bRequest;
    const char* name;
    int exact;  // the only wLength allowed; -1: any non-zero length
};

// The standard requests and the data stage each carries (USB 2.0, chapter 9).
constexpr LengthRule kLengthRules[] = {
    {kGetStatus, "GET_STATUS", 2},
    {kClearFeature, "CLEAR_FEATURE", 0},
    {kSetFeature, "SET_FEATURE", 0},
    {kSetAddress, "SET_ADDRESS", 0},
    {kGetDescriptor, "GET_DESCRIPTOR", -1},
    {kGetConfiguration, "GET_CONFIGURATION", 1},
    {kSetConfiguration, "SET_CONFIGURATION", 0},
    {kGetInterface, "GET_INTERFACE", 1},
    {kSetInterface, "SET_INTERFACE", 0},
};

bool IsBulkOrInterrupt(const EndpointModel& e)
{
    return (e.attributes & 3) == 2 || (e.attributes & 3) == 3;
}

}  // namespace

bool SimulatedUsbDevice::CheckStandardLength(const SetupPacket& setup)
{
    const auto* rule =
        std::find_if(std::begin(kLengthRules), std::end(kLengthRules),
                     [&](const LengthRule& r) { return r.bRequest == setup.bRequest; });
    if (rule == std::end(kLengthRules)) {
        return true;
    }
    const bool fits = rule->exact < 0 ? setup.wLength != 0 : setup.wLength == rule->exact;
    if (!fits) {
        Violation(std::string(rule->name) + " with wLength " + std::to_string(setup.wLength) +
                  (rule->exact < 0 ? " (it needs a data stage)"
                                   : " (it carries " + std::to_string(rule->exact) + ")"));
    }
    return fits;
}

std::optional<Result> SimulatedUsbDevice::HaltedTransfer(uint8_t endpoint)
{
    if (stallNext.erase(endpoint) != 0) {
        halted.insert(endpoint);
    }
    if (halted.contains(endpoint)) {
        return Result{Outcome::Stall};
    }
    return std::nullopt;
}

std::optional<Result> SimulatedUsbDevice::EndpointFeature(const SetupPacket& setup,
                                                          std::span<uint8_t> data)
{
    if ((setup.bmRequestType & 0x1F) != 2) {
        return std::nullopt;
    }
    const auto address = static_cast<uint8_t>(setup.wIndex);
    const EndpointModel* e = ActiveEndpoint(address);
    const bool featureRequest = setup.bmRequestType == 0x02 &&
                                (setup.bRequest == kClearFeature || setup.bRequest == kSetFeature);
    if (featureRequest) {
        if (e == nullptr || setup.wValue != kEndpointHalt || setup.wIndex > 0xFF) {
            return Result{Outcome::Stall};
        }
        if (setup.bRequest == kSetFeature && IsBulkOrInterrupt(*e)) {
            halted.insert(address);
        } else if (setup.bRequest == kClearFeature) {
            halted.erase(address);
            stallNext.erase(address);
        }
        return Result{};
    }
    if (setup.bmRequestType == 0x82 && setup.bRequest == kGetStatus) {
        if (e == nullptr) {
            return Result{Outcome::Stall};
        }
        data[0] = halted.contains(address) ? 1 : 0;
        data[1] = 0;
        return Result{Outcome::Ok, 2};
    }
    return std::nullopt;
}

}  // namespace UsbSim
