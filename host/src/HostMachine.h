// The machine the host plays: Windows with the driver's production assembly loaded, one simulated
// USB device plugged into a bus of its own and started by Plug and Play, and a clock that runs in
// real or virtual time. It finds the device's endpoints as an audio application does (through
// their device interfaces and the filters behind them), and unplugs the device at the end,
// telling what the driver left behind.
#pragma once

#include <KsHostApi.h>
#include <UsbTestApi.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "HostDevices.h"

struct DeviceContext;

namespace Host {

struct EndpointInfo
{
    std::string name;             // the interface's FriendlyName
    std::u16string reference;     // the filter's reference string
    std::u16string symbolicLink;  // the audio interface's link, opened as the filter
    bool capture = false;
    bool render = false;  // both, for a MIDI filter with ports each way
    ULONG pinId = 0;      // the streaming pin (the one with PCM ranges)
    ULONG maxChannels = 0;
    ULONG minBits = 0;
    ULONG maxBits = 0;
    ULONG minRate = 0;         // Hz
    ULONG maxRate = 0;         // Hz
    bool passThrough = false;  // also offers IEC 61937 pass-through
};

struct LeftBehind
{
    std::vector<std::string> pool;  // blocks, described
    size_t timers = 0;
    size_t workItems = 0;
    bool Nothing() const { return pool.empty() && timers == 0 && workItems == 0; }
};

class HostMachine
{
public:
    explicit HostMachine(bool virtualTime) : virtualTime_(virtualTime) {}
    ~HostMachine();
    HostMachine(const HostMachine&) = delete;
    HostMachine& operator=(const HostMachine&) = delete;

    // Loads the driver, plugs the device in and starts it. False with the reason.
    bool Start(const DeviceChoice& choice, std::string* error);

    const DeviceChoice& Choice() const { return *choice_; }
    Platform::Ks::Device& Device() { return *device_; }
    UsbSim::SimulatedUsbDevice& UsbDevice() { return *usbDevice_; }
    DeviceContext* Context();
    Platform::Kernel::UserProcess& Process() { return process_; }

    std::vector<EndpointInfo> Endpoints();
    // The rates the device offers, in Hz, lowest first.
    std::vector<ULONG> Rates();

    // Streaming runs on the clock: in real time the kernel layer's threads carry timers, DPCs and
    // work items from BeginStreaming to EndStreaming; in virtual time Wait moves the clock. In
    // real time the calling thread, the streaming client, runs at a real-time priority until
    // EndStreaming, as the kernel layer's threads do; when the scheduler refuses, the notes
    // stream is told so once.
    void BeginStreaming();
    void Wait(std::chrono::microseconds duration);
    void EndStreaming();
    bool VirtualTime() const { return virtualTime_; }
    void SetNotes(std::ostream* notes) { notes_ = notes; }
    // The kernel clock, in milliseconds since it started.
    static uint64_t NowMs();

    // Pulls the device off the bus (its pending transfers complete with the device gone) and
    // sends the surprise removal that follows, as when the cable goes while clients are open.
    void PullOut();
    // PullOut unless done, then the removal once the handles are closed (they must be), and
    // unloads the driver: what is left is the driver's.
    LeftBehind Unplug();

private:
    bool virtualTime_;
    bool streaming_ = false;
    bool pulledOut_ = false;
    bool clientRaised_ = false;
    bool toldNormalPriority_ = false;
    std::ostream* notes_ = nullptr;
    const DeviceChoice* choice_ = nullptr;
    std::shared_ptr<DeviceParts> parts_;
    // The device and its bus outlive the driver's device objects.
    std::unique_ptr<UsbSim::SimulatedUsbDevice> usbDevice_;
    std::unique_ptr<UsbSim::SimulatedUsbBus> bus_;
    std::unique_ptr<Platform::Ks::Driver> driver_;
    Platform::Ks::Device* device_ = nullptr;
    Platform::Kernel::UserProcess process_;
};

// A status as Windows writes it: "0xC0000184".
std::string StatusText(NTSTATUS status);

}  // namespace Host
