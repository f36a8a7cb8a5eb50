// The Windows side of kernel streaming, for tests and hosts: loads a kernel-streaming driver,
// plugs devices in and sends them Plug and Play and power requests as the PnP manager does, and
// opens their filters from a simulated user process to send property and event requests.
// Driver code never includes this.
//
// Requests travel as IRPs through the driver object's dispatch routines, on the calling thread,
// which runs in the context of the requesting process while the request is delivered.
#pragma once

#include <KernelHostApi.h>
#include <ks.h>
#include <wdm.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace UsbSim {
struct UsbDescriptorSet;
class SimulatedUsbBus;
class SimulatedUsbDevice;
}  // namespace UsbSim

namespace Platform::Ks {

namespace Internal {
struct DeviceImpl;
}

using DriverEntryRoutine = NTSTATUS (*)(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath);

class Device;
class FilterHandle;

// The hardware IDs Windows gives interface 0 of a USB device, most specific first:
// "USB\VID_vvvv&PID_pppp&REV_rrrr&MI_00", "USB\VID_vvvv&PID_pppp&MI_00". Empty when the device
// descriptor is too short to carry the IDs.
std::vector<std::u16string> HardwareIdsOf(const UsbSim::UsbDescriptorSet& descriptors);

// The IDs as the DevicePropertyHardwareID multi-string: each terminated, then one more NUL.
std::vector<uint8_t> MultiStringBytes(const std::vector<std::u16string>& strings);

struct DeviceInterface
{
    GUID category;
    std::u16string referenceString;
    std::u16string symbolicLink;
    bool enabled;
};

// A value of a device interface's key, as the registry holds it.
struct InterfaceValue
{
    std::u16string name;
    uint32_t type;
    std::vector<uint8_t> data;
};

// The values the driver wrote under the interface's key, in the order they were first set.
std::vector<InterfaceValue> InterfaceValues(const DeviceInterface& deviceInterface);

// The audio endpoint store Windows keeps under the machine's MMDevices key: when a render or
// capture interface is first enabled, the audio service records an endpoint there with the
// device's instance path and the formats it will open the endpoint at (48000 Hz stereo), and keeps
// them across later enables. Tests add other devices' endpoints the same way.
inline constexpr char16_t kMmDevicesRenderKey[] =
    u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\MMDevices\\Audio\\Render";
inline constexpr char16_t kMmDevicesCaptureKey[] =
    u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\MMDevices\\Audio\\Capture";
inline constexpr char16_t kMmInstancePathValue[] = u"{b3f8fa53-0004-438e-9003-51a46e139bfc},2";
inline constexpr char16_t kMmOemFormatValue[] = u"{e4870e26-3cc5-4cd2-ba46-ca0a9a70ed04},0";
inline constexpr char16_t kMmDeviceFormatValue[] = u"{f19f064d-082c-4e27-bc73-6882a1bb8e4c},0";
inline constexpr char16_t kMmMixFormatValue[] = u"{3d6e1656-2e50-4c4c-8d85-d0acae3c6c68},2";

// A stored format value: an 8-byte blob header, then a WAVEFORMATEXTENSIBLE.
std::vector<uint8_t> StoredAudioFormat(uint32_t rate, uint16_t channels, uint16_t bits,
                                       bool isFloat);
// Records an endpoint (its key under the Render or Capture root, "\Properties" below it) unless
// the store already has it. instancePath is the device's, without the "{1}." Windows puts first.
void StoreAudioEndpoint(bool capture, const std::u16string& endpointKey,
                        const std::u16string& instancePath);
// The Properties key of an endpoint, as a machine path.
std::u16string AudioEndpointProperties(bool capture, const std::u16string& endpointKey);
// The endpoint keys under a root, in the store's order.
std::vector<std::u16string> StoredAudioEndpoints(bool capture);

enum class PnpRequest
{
    Start,
    QueryStop,
    CancelStop,
    Stop,
    QueryRemove,
    CancelRemove,
    Remove,
    SurpriseRemoval,
};

// A loaded driver. Unloading removes every device still present, then calls the driver's unload
// routine; close the filter handles first (a filter still open when its device goes is lost).
class Driver
{
public:
    // Calls DriverEntry with the driver's service key. Null (and the status) when it fails.
    static std::unique_ptr<Driver> Load(DriverEntryRoutine entry, NTSTATUS* status = nullptr);
    ~Driver();
    Driver(const Driver&) = delete;
    Driver& operator=(const Driver&) = delete;

    PDRIVER_OBJECT Object() { return &driverObject_; }

    // Gives the physical device object its hardware IDs and calls the driver's AddDevice. The
    // physical device object is the given lower device (a bus's), or one of this layer's that
    // answers no requests. Null (and the status) when AddDevice fails; the device is then gone.
    Device* PlugIn(const std::vector<std::u16string>& hardwareIds, NTSTATUS* status = nullptr,
                   PDEVICE_OBJECT lowerDevice = nullptr);
    Device* PlugIn(const UsbSim::UsbDescriptorSet& descriptors, NTSTATUS* status = nullptr);
    // The device attached to the simulated bus, with the bus's device object below the driver.
    Device* PlugIn(UsbSim::SimulatedUsbBus& bus, const UsbSim::SimulatedUsbDevice& device,
                   NTSTATUS* status = nullptr);

    // Devices not yet removed, oldest first.
    std::vector<Device*> Devices() const;

private:
    Driver() = default;
    friend class Device;

    DRIVER_OBJECT driverObject_{};
    std::u16string serviceKey_;
    std::vector<std::unique_ptr<Device>> devices_;
};

// A device as the PnP manager sees it.
class Device
{
public:
    ~Device();
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    PKSDEVICE KsDevice() const;
    PDEVICE_OBJECT PhysicalDeviceObject() { return pdo_; }

    // Sends the request; the result is what the device's stack answered. Remove is refused with
    // STATUS_INVALID_DEVICE_STATE while filter handles are open (Windows holds it back until they
    // close); after Remove the device object is gone and the device answers
    // STATUS_NO_SUCH_DEVICE.
    NTSTATUS Send(PnpRequest request);
    // IRP_MN_SET_POWER for a device power state; may be sent at DISPATCH_LEVEL.
    NTSTATUS SetPower(DEVICE_POWER_STATE state);
    NTSTATUS QueryCapabilities(DEVICE_CAPABILITIES* capabilities);
    DEVICE_POWER_STATE PowerState() const;
    bool Removed() const { return removed_; }

    // Device interfaces of the device's filter factories.
    std::vector<DeviceInterface> Interfaces() const;
    // The symbolic link of the interface of the category with the reference string (compared
    // without regard to case); empty when there is none.
    std::u16string FindInterface(const GUID& category, const std::u16string& referenceString) const;

    size_t OpenHandleCount() const;

private:
    friend class Driver;
    friend class FilterHandle;
    friend class PinHandle;
    explicit Device(Driver& driver) : driver_(driver) {}
    NTSTATUS SendIrp(UCHAR major, UCHAR minor, PVOID argument1, PVOID argument2);

    Driver& driver_;
    Internal::DeviceImpl* impl_ = nullptr;
    DEVICE_OBJECT ownPhysicalDeviceObject_{};
    PDEVICE_OBJECT pdo_ = &ownPhysicalDeviceObject_;
    bool removed_ = false;
    std::atomic<size_t> openHandles_ = 0;
};

// Result of a request from user mode.
struct RequestResult
{
    NTSTATUS status;
    ULONG_PTR information;      // bytes the driver returned (or asks for)
    std::vector<uint8_t> data;  // the output buffer after the request
};

class PendingRequest;

// An open filter handle in a user process. Closing (or destroying) it cancels the requests still
// pending on it, then sends the close request.
class FilterHandle
{
public:
    // Opens the filter behind the symbolic link (as CreateFile would) from the process.
    static std::unique_ptr<FilterHandle> Open(Platform::Kernel::UserProcess& process,
                                              Device& device, const std::u16string& symbolicLink,
                                              NTSTATUS* status = nullptr);
    ~FilterHandle();
    FilterHandle(const FilterHandle&) = delete;
    FilterHandle& operator=(const FilterHandle&) = delete;

    NTSTATUS Close();
    bool IsOpen() const { return open_; }
    PKSFILTER Filter() const;

    // A device control with the buffers copied into the process's memory: input bytes, and an
    // output buffer of outputSize bytes holding output (zero-padded) before the request.
    RequestResult DeviceIoControl(ULONG ioControlCode, const std::vector<uint8_t>& input,
                                  ULONG outputSize, const std::vector<uint8_t>& output = {});
    // The same as an overlapped request: it may stay pending in the driver until it completes or
    // is cancelled. Destroying a request that is still pending cancels it first.
    std::unique_ptr<PendingRequest> BeginDeviceIoControl(ULONG ioControlCode,
                                                         std::span<const uint8_t> input,
                                                         ULONG outputSize,
                                                         std::span<const uint8_t> output = {});

    // KSPROPERTY{set, id, flags} followed by tail, as the property buffer.
    RequestResult GetProperty(const GUID& set, ULONG id, ULONG dataSize,
                              const std::vector<uint8_t>& tail = {});
    RequestResult SetProperty(const GUID& set, ULONG id, const std::vector<uint8_t>& data,
                              const std::vector<uint8_t>& tail = {});

    // Enables an event with KSEVENTF_EVENT_HANDLE and the user's event handle, in the layout of
    // the process (32 or 64 bits). The KSEVENTDATA stays in the process's memory until disabled;
    // *cookie names it for DisableEvent.
    NTSTATUS EnableEvent(const GUID& set, ULONG id, HANDLE userEvent, void** cookie = nullptr);
    NTSTATUS DisableEvent(void* cookie);

private:
    friend class PendingRequest;
    friend class PinHandle;
    FilterHandle(Platform::Kernel::UserProcess& process, Device& device)
        : process_(process), device_(device)
    {
    }
    NTSTATUS Send(UCHAR major, ULONG ioControlCode, void* input, ULONG inputSize, void* output,
                  ULONG outputSize, ULONG_PTR* information);
    void CancelPending();
    RequestResult Exchange(ULONG ioControlCode, std::span<const uint8_t> input, ULONG outputSize,
                           std::span<const uint8_t> output);
    // User memory for a request's buffer of exactly `bytes` (null for none); *reused when it
    // held an earlier request's bytes.
    uint8_t* TakeUserBuffer(size_t bytes, bool* reused);
    // A finished request's buffer, kept for a later request of its size or freed.
    void KeepUserBuffer(uint8_t* address, size_t bytes);
    void FreeSpareBuffers();

    Platform::Kernel::UserProcess& process_;
    Device& device_;
    void* fileObject_ = nullptr;
    bool open_ = false;
    std::vector<void*> eventData_;
    std::vector<PendingRequest*> pending_;
    std::vector<std::unique_ptr<PendingRequest>> abandoned_;  // synchronous calls left pending
    // Buffers of finished synchronous requests, each of its exact size: a low-latency client sends
    // two requests per period, and a fresh block each time cost them most of their time. They
    // stay the process's memory, as a caller's buffers on its heap would.
    struct SpareBuffer
    {
        uint8_t* address;
        size_t bytes;
    };
    std::vector<SpareBuffer> spareBuffers_;
};

// A request sent from user mode that the driver may complete later.
class PendingRequest
{
public:
    ~PendingRequest();
    PendingRequest(const PendingRequest&) = delete;
    PendingRequest& operator=(const PendingRequest&) = delete;

    bool Completed() const { return completed_.load(); }
    // Counts completions across every request of the host: a later request that completed first
    // has the smaller number. 0 before completion.
    uint64_t CompletionSequence() const { return completionSequence_; }
    // The outcome once completed; status STATUS_PENDING before.
    RequestResult Result() const;
    // IoCancelIrp: true when the driver's cancel routine was called.
    bool Cancel();

private:
    friend class FilterHandle;
    friend class PinHandle;
    PendingRequest(FilterHandle& handle) : handle_(handle) {}
    static NTSTATUS OnComplete(PDEVICE_OBJECT, struct _IRP* irp, PVOID context);

    FilterHandle& handle_;
    struct _IRP* irp_ = nullptr;
    uint8_t* input_ = nullptr;
    uint8_t* output_ = nullptr;
    size_t inputSize_ = 0;
    ULONG outputSize_ = 0;
    bool copyBack_ = false;
    std::atomic<bool> completed_{false};
    uint64_t completionSequence_ = 0;
    RequestResult result_{STATUS_PENDING, 0, {}};
};

// A KSPROPERTY as bytes, with tail appended.
std::vector<uint8_t> PropertyBytes(const GUID& set, ULONG id, ULONG flags,
                                   const std::vector<uint8_t>& tail = {});

// A user address or a handle as the process puts it into a request's bytes: 8 bytes from a
// 64-bit process, the low 4 from a 32-bit one (whose addresses and handles fit in 32 bits).
std::vector<uint8_t> UserPointerBytes(const Platform::Kernel::UserProcess& process,
                                      const void* address);
std::vector<uint8_t> UserHandleBytes(const Platform::Kernel::UserProcess& process, HANDLE handle);

std::u16string GuidText(const GUID& guid);  // "{6242F6B0-04E7-...}", upper case

}  // namespace Platform::Ks
