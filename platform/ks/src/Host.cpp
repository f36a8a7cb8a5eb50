// The Windows side: the PnP manager, the I/O manager's request path and user-mode handles.
#include <KernelTestApi.h>
#include <KsHostApi.h>
#include <Registry/MachineRegistry.h>
#include <UsbDescriptorSet.h>
#include <UsbTestApi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

#include "KsInternal.h"

namespace Platform::Ks {
namespace {

using Platform::Kernel::AttachedToProcess;

DRIVER_OBJECT busDriver{};  // owns the physical device objects; handles no requests

NTSTATUS KeepIrp(PDEVICE_OBJECT, struct _IRP*, PVOID)
{
    return STATUS_MORE_PROCESSING_REQUIRED;
}

std::u16string Utf16(const std::string& text)
{
    return std::u16string(text.begin(), text.end());
}

struct IrpResult
{
    NTSTATUS status;
    ULONG_PTR information;
};

// A close cannot fail: the I/O manager takes its IRP from a reserve and retries until it has one,
// so a handle closed while memory is short still reaches the driver (bounded here, so that a test
// that fails every allocation ends).
constexpr int kCloseIrpAttempts = 10000;

// Sends an IRP built by fill to the device object and waits for nothing: every request of this
// layer completes before IoCallDriver returns.
template <typename Fill>
IrpResult Call(PDEVICE_OBJECT target, Fill fill, bool mustSucceed = false)
{
    struct _IRP* irp = IoAllocateIrp(target->StackSize, FALSE);
    for (int attempt = 1; irp == nullptr && mustSucceed && attempt < kCloseIrpAttempts; ++attempt) {
        irp = IoAllocateIrp(target->StackSize, FALSE);
    }
    if (irp == nullptr) {
        return {STATUS_INSUFFICIENT_RESOURCES, 0};
    }
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
    irp->IoStatus.Information = 0;
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    std::memset(next, 0, sizeof *next);
    fill(irp, next);
    IoSetCompletionRoutine(irp, KeepIrp, nullptr, TRUE, TRUE, TRUE);
    IoCallDriver(target, irp);
    const IrpResult result{irp->IoStatus.Status, irp->IoStatus.Information};
    IoFreeIrp(irp);
    return result;
}

void AppendLittleEndian(std::vector<uint8_t>& bytes, const void* value, size_t size)
{
    const auto* p = static_cast<const uint8_t*>(value);
    bytes.insert(bytes.end(), p, p + size);
}

}  // namespace

std::vector<std::u16string> HardwareIdsOf(const UsbSim::UsbDescriptorSet& descriptors)
{
    const std::vector<uint8_t>& d = descriptors.device;
    if (d.size() < 14 || d[0] < 14) {
        return {};
    }
    const unsigned vendor = d[8] | d[9] << 8;
    const unsigned product = d[10] | d[11] << 8;
    const unsigned revision = d[12] | d[13] << 8;
    char withRevision[64];
    char plain[64];
    std::snprintf(withRevision, sizeof withRevision, "USB\\VID_%04X&PID_%04X&REV_%04X&MI_00",
                  vendor, product, revision);
    std::snprintf(plain, sizeof plain, "USB\\VID_%04X&PID_%04X&MI_00", vendor, product);
    return {Utf16(withRevision), Utf16(plain)};
}

std::vector<uint8_t> MultiStringBytes(const std::vector<std::u16string>& strings)
{
    std::vector<uint8_t> bytes;
    const char16_t nul = 0;
    for (const std::u16string& s : strings) {
        AppendLittleEndian(bytes, s.data(), s.size() * sizeof(char16_t));
        AppendLittleEndian(bytes, &nul, sizeof nul);
    }
    AppendLittleEndian(bytes, &nul, sizeof nul);
    return bytes;
}

std::vector<InterfaceValue> InterfaceValues(const DeviceInterface& deviceInterface)
{
    using Platform::Registry::MachineRegistry;
    const std::u16string path =
        Internal::InterfaceKeyPath(deviceInterface.symbolicLink, deviceInterface.category);
    std::vector<InterfaceValue> values;
    for (size_t i = 0;; ++i) {
        std::u16string name;
        Platform::Registry::Value value;
        if (MachineRegistry::Instance().EnumerateValue(Platform::Registry::Hive::LocalMachine, path,
                                                       Platform::Registry::View::Native, i, &name,
                                                       &value) != Platform::Registry::Result::Ok) {
            return values;
        }
        values.push_back({name, value.type, value.data});
    }
}

std::u16string GuidText(const GUID& guid)
{
    std::u16string text = Internal::LowerGuidText(guid);
    for (char16_t& c : text) {
        if (c >= u'a' && c <= u'f') {
            c = static_cast<char16_t>(c - u'a' + u'A');
        }
    }
    return text;
}

std::vector<uint8_t> PropertyBytes(const GUID& set, ULONG id, ULONG flags,
                                   const std::vector<uint8_t>& tail)
{
    KSPROPERTY property{set, id, flags};
    std::vector<uint8_t> bytes;
    AppendLittleEndian(bytes, &property, sizeof property);
    bytes.insert(bytes.end(), tail.begin(), tail.end());
    return bytes;
}

// ---- Driver --------------------------------------------------------------------------------

std::unique_ptr<Driver> Driver::Load(DriverEntryRoutine entry, NTSTATUS* status)
{
    std::unique_ptr<Driver> driver(new Driver());
    driver->serviceKey_ = u"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\Driver";
    UNICODE_STRING path;
    path.Buffer = driver->serviceKey_.data();
    path.Length = static_cast<USHORT>(driver->serviceKey_.size() * sizeof(char16_t));
    path.MaximumLength = path.Length;
    const NTSTATUS result = entry(&driver->driverObject_, &path);
    if (status != nullptr) {
        *status = result;
    }
    if (!NT_SUCCESS(result)) {
        return nullptr;
    }
    return driver;
}

Driver::~Driver()
{
    for (auto& device : devices_) {
        if (!device->removed_) {
            device->openHandles_ = 0;
            device->Send(PnpRequest::Remove);
        }
    }
    devices_.clear();
    if (driverObject_.DriverUnload != nullptr) {
        driverObject_.DriverUnload(&driverObject_);
    }
}

Device* Driver::PlugIn(const std::vector<std::u16string>& hardwareIds, NTSTATUS* status,
                       PDEVICE_OBJECT lowerDevice)
{
    if (hardwareIds.empty()) {
        if (status != nullptr) {
            *status = STATUS_INVALID_PARAMETER;
        }
        return nullptr;
    }
    std::unique_ptr<Device> device(new Device(*this));
    if (lowerDevice != nullptr) {
        device->pdo_ = lowerDevice;
    } else {
        device->ownPhysicalDeviceObject_.DriverObject = &busDriver;
        device->ownPhysicalDeviceObject_.StackSize = 1;
    }
    PDEVICE_OBJECT pdo = device->pdo_;
    Platform::Kernel::SetDeviceProperty(pdo, DevicePropertyHardwareID,
                                        MultiStringBytes(hardwareIds));
    char instance[32];
    std::snprintf(instance, sizeof instance, "\\1&0&%04zu", devices_.size());
    const std::u16string instancePath = hardwareIds.back() + Utf16(instance);
    const NTSTATUS result = Internal::AddDevice(&driverObject_, pdo, instancePath, &device->impl_);
    if (status != nullptr) {
        *status = result;
    }
    if (!NT_SUCCESS(result)) {
        Platform::Kernel::ForgetDeviceProperties(pdo);
        return nullptr;
    }
    devices_.push_back(std::move(device));
    return devices_.back().get();
}

Device* Driver::PlugIn(const UsbSim::UsbDescriptorSet& descriptors, NTSTATUS* status)
{
    return PlugIn(HardwareIdsOf(descriptors), status);
}

Device* Driver::PlugIn(UsbSim::SimulatedUsbBus& bus, const UsbSim::SimulatedUsbDevice& device,
                       NTSTATUS* status)
{
    return PlugIn(HardwareIdsOf(device.Descriptors()), status, bus.LowerDevice());
}

std::vector<Device*> Driver::Devices() const
{
    std::vector<Device*> present;
    for (const auto& device : devices_) {
        if (!device->removed_) {
            present.push_back(device.get());
        }
    }
    return present;
}

// ---- Device --------------------------------------------------------------------------------

Device::~Device()
{
    Platform::Kernel::ForgetDeviceProperties(pdo_);
}

PKSDEVICE Device::KsDevice() const
{
    return removed_ ? nullptr : &impl_->device;
}

NTSTATUS Device::SendIrp(UCHAR major, UCHAR minor, PVOID argument1, PVOID argument2)
{
    if (removed_) {
        return STATUS_NO_SUCH_DEVICE;
    }
    return Call(&impl_->functionalDeviceObject,
                [&](struct _IRP*, PIO_STACK_LOCATION next) {
                    next->MajorFunction = major;
                    next->MinorFunction = minor;
                    next->Parameters.Others.Argument1 = argument1;
                    next->Parameters.Others.Argument2 = argument2;
                })
        .status;
}

NTSTATUS Device::Send(PnpRequest request)
{
    switch (request) {
        case PnpRequest::Start:
            return SendIrp(IRP_MJ_PNP, IRP_MN_START_DEVICE, nullptr, nullptr);
        case PnpRequest::QueryStop:
            return SendIrp(IRP_MJ_PNP, IRP_MN_QUERY_STOP_DEVICE, nullptr, nullptr);
        case PnpRequest::CancelStop:
            return SendIrp(IRP_MJ_PNP, IRP_MN_CANCEL_STOP_DEVICE, nullptr, nullptr);
        case PnpRequest::Stop:
            return SendIrp(IRP_MJ_PNP, IRP_MN_STOP_DEVICE, nullptr, nullptr);
        case PnpRequest::QueryRemove:
            return SendIrp(IRP_MJ_PNP, IRP_MN_QUERY_REMOVE_DEVICE, nullptr, nullptr);
        case PnpRequest::CancelRemove:
            return SendIrp(IRP_MJ_PNP, IRP_MN_CANCEL_REMOVE_DEVICE, nullptr, nullptr);
        case PnpRequest::SurpriseRemoval:
            return SendIrp(IRP_MJ_PNP, IRP_MN_SURPRISE_REMOVAL, nullptr, nullptr);
        case PnpRequest::Remove: {
            if (removed_) {
                return STATUS_NO_SUCH_DEVICE;
            }
            if (openHandles_ != 0) {
                return STATUS_INVALID_DEVICE_STATE;
            }
            const NTSTATUS status = SendIrp(IRP_MJ_PNP, IRP_MN_REMOVE_DEVICE, nullptr, nullptr);
            Internal::DeleteDevice(impl_);
            impl_ = nullptr;
            removed_ = true;
            Platform::Kernel::ForgetDeviceProperties(pdo_);
            return status;
        }
    }
    return STATUS_INVALID_PARAMETER;
}

NTSTATUS Device::SetPower(DEVICE_POWER_STATE state)
{
    return SendIrp(IRP_MJ_POWER, IRP_MN_SET_POWER,
                   reinterpret_cast<PVOID>(static_cast<ULONG_PTR>(state)), nullptr);
}

NTSTATUS Device::QueryCapabilities(DEVICE_CAPABILITIES* capabilities)
{
    return SendIrp(IRP_MJ_PNP, IRP_MN_QUERY_CAPABILITIES, capabilities, nullptr);
}

DEVICE_POWER_STATE Device::PowerState() const
{
    return removed_ ? PowerDeviceUnspecified : impl_->device.DevicePowerState;
}

std::vector<DeviceInterface> Device::Interfaces() const
{
    std::vector<DeviceInterface> interfaces;
    if (removed_) {
        return interfaces;
    }
    for (const Internal::FactoryImpl* factory : impl_->factories) {
        for (const Internal::InterfaceRecord& record : factory->interfaces) {
            interfaces.push_back(
                {record.category, record.referenceString, record.symbolicLink, record.enabled});
        }
    }
    return interfaces;
}

std::u16string Device::FindInterface(const GUID& category,
                                     const std::u16string& referenceString) const
{
    for (const DeviceInterface& i : Interfaces()) {
        if (IsEqualGUIDAligned(i.category, category) &&
            Internal::SameTextIgnoringCase(i.referenceString, referenceString)) {
            return i.symbolicLink;
        }
    }
    return {};
}

size_t Device::OpenHandleCount() const
{
    return openHandles_;
}

// ---- Filter handles ------------------------------------------------------------------------

std::unique_ptr<FilterHandle> FilterHandle::Open(Platform::Kernel::UserProcess& process,
                                                 Device& device, const std::u16string& symbolicLink,
                                                 NTSTATUS* status)
{
    auto fail = [&](NTSTATUS failure) {
        if (status != nullptr) {
            *status = failure;
        }
        return nullptr;
    };
    const DeviceInterface* found = nullptr;
    const std::vector<DeviceInterface> interfaces = device.Interfaces();
    for (const DeviceInterface& i : interfaces) {
        if (Internal::SameTextIgnoringCase(i.symbolicLink, symbolicLink) && i.enabled) {
            found = &i;
        }
    }
    if (found == nullptr) {
        return fail(STATUS_OBJECT_NAME_NOT_FOUND);
    }
    std::unique_ptr<FilterHandle> handle(new FilterHandle(process, device));
    auto* file =
        new Internal::FileObject{Internal::kFileObjectMagic, found->referenceString, nullptr};
    handle->fileObject_ = file;
    const NTSTATUS result = handle->Send(IRP_MJ_CREATE, 0, nullptr, 0, nullptr, 0, nullptr);
    if (!NT_SUCCESS(result)) {
        delete file;
        handle->fileObject_ = nullptr;
        return fail(result);
    }
    handle->open_ = true;
    ++device.openHandles_;
    if (status != nullptr) {
        *status = result;
    }
    return handle;
}

FilterHandle::~FilterHandle()
{
    Close();
}

NTSTATUS FilterHandle::Close()
{
    if (!open_) {
        return STATUS_INVALID_HANDLE;
    }
    CancelPending();
    const NTSTATUS status = Send(IRP_MJ_CLOSE, 0, nullptr, 0, nullptr, 0, nullptr);
    open_ = false;
    if (!device_.removed_) {
        --device_.openHandles_;
    }
    delete static_cast<Internal::FileObject*>(fileObject_);
    fileObject_ = nullptr;
    for (void* data : eventData_) {
        process_.Free(data);
    }
    eventData_.clear();
    FreeSpareBuffers();
    return status;
}

PKSFILTER FilterHandle::Filter() const
{
    auto* file = static_cast<Internal::FileObject*>(fileObject_);
    return file != nullptr && file->filter != nullptr ? &file->filter->filter : nullptr;
}

NTSTATUS FilterHandle::Send(UCHAR major, ULONG ioControlCode, void* input, ULONG inputSize,
                            void* output, ULONG outputSize, ULONG_PTR* information)
{
    if (device_.removed_) {
        return STATUS_NO_SUCH_DEVICE;
    }
    AttachedToProcess attached(process_);
    const IrpResult result = Call(
        &device_.impl_->functionalDeviceObject,
        [&](struct _IRP* irp, PIO_STACK_LOCATION next) {
            next->MajorFunction = major;
            next->FileObject = fileObject_;
            next->Parameters.DeviceIoControl.IoControlCode = ioControlCode;
            next->Parameters.DeviceIoControl.InputBufferLength = inputSize;
            next->Parameters.DeviceIoControl.OutputBufferLength = outputSize;
            next->Parameters.DeviceIoControl.Type3InputBuffer = input;
            irp->UserBuffer = output;
            irp->RequestorMode = UserMode;
        },
        major == IRP_MJ_CLOSE);
    if (information != nullptr) {
        *information = result.information;
    }
    return result.status;
}

std::unique_ptr<PendingRequest> FilterHandle::BeginDeviceIoControl(ULONG ioControlCode,
                                                                   std::span<const uint8_t> input,
                                                                   ULONG outputSize,
                                                                   std::span<const uint8_t> output)
{
    std::unique_ptr<PendingRequest> request(new PendingRequest(*this));
    if (!open_ || device_.removed_) {
        request->result_.status = open_ ? STATUS_NO_SUCH_DEVICE : STATUS_INVALID_HANDLE;
        request->completed_ = true;
        return request;
    }
    bool inputReused = false;
    bool outputReused = false;
    request->input_ = TakeUserBuffer(input.size(), &inputReused);
    request->output_ = TakeUserBuffer(outputSize, &outputReused);
    request->inputSize_ = input.size();
    request->outputSize_ = outputSize;
    if (request->input_ != nullptr) {
        std::memcpy(request->input_, input.data(), input.size());
    }
    if (request->output_ != nullptr) {
        const size_t given = std::min<size_t>(output.size(), outputSize);
        if (given != 0) {
            std::memcpy(request->output_, output.data(), given);
        }
        if (outputReused) {
            std::memset(request->output_ + given, 0, outputSize - given);  // as a fresh block
        }
    }
    KSPROPERTY header{};
    if (input.size() >= sizeof header) {
        std::memcpy(&header, input.data(), sizeof header);
    }
    request->copyBack_ = (ioControlCode == IOCTL_KS_PROPERTY &&
                          (header.Flags & ~KSPROPERTY_TYPE_TOPOLOGY) == KSPROPERTY_TYPE_GET) ||
                         ioControlCode == IOCTL_KS_WRITE_STREAM ||
                         ioControlCode == IOCTL_KS_READ_STREAM;

    PDEVICE_OBJECT target = &device_.impl_->functionalDeviceObject;
    request->irp_ = IoAllocateIrp(target->StackSize, FALSE);
    if (request->irp_ == nullptr) {
        request->result_.status = STATUS_INSUFFICIENT_RESOURCES;
        request->completed_ = true;
        return request;
    }
    struct _IRP* irp = request->irp_;
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
    irp->UserBuffer = request->output_;
    irp->RequestorMode = UserMode;
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    std::memset(next, 0, sizeof *next);
    next->MajorFunction = IRP_MJ_DEVICE_CONTROL;
    next->FileObject = fileObject_;
    next->Parameters.DeviceIoControl.IoControlCode = ioControlCode;
    next->Parameters.DeviceIoControl.InputBufferLength = static_cast<ULONG>(input.size());
    next->Parameters.DeviceIoControl.OutputBufferLength = outputSize;
    next->Parameters.DeviceIoControl.Type3InputBuffer = request->input_;
    IoSetCompletionRoutine(irp, PendingRequest::OnComplete, request.get(), TRUE, TRUE, TRUE);
    pending_.push_back(request.get());
    {
        AttachedToProcess attached(process_);
        IoCallDriver(target, irp);
    }
    return request;
}

NTSTATUS PendingRequest::OnComplete(PDEVICE_OBJECT, struct _IRP* irp, PVOID context)
{
    auto* request = static_cast<PendingRequest*>(context);
    Internal::FinishBufferedRequest(irp, request->copyBack_, request->outputSize_);
    static std::atomic<uint64_t> completions{0};
    request->completionSequence_ = ++completions;
    request->result_.status = irp->IoStatus.Status;
    request->result_.information = irp->IoStatus.Information;
    if (request->output_ != nullptr) {
        request->result_.data.assign(request->output_, request->output_ + request->outputSize_);
    }
    request->completed_ = true;
    return STATUS_MORE_PROCESSING_REQUIRED;
}

RequestResult PendingRequest::Result() const
{
    return completed_.load() ? result_ : RequestResult{STATUS_PENDING, 0, {}};
}

bool PendingRequest::Cancel()
{
    return !completed_.load() && irp_ != nullptr && IoCancelIrp(irp_) != FALSE;
}

PendingRequest::~PendingRequest()
{
    if (!completed_.load()) {
        Cancel();
    }
    std::erase(handle_.pending_, this);
    if (irp_ != nullptr && completed_.load()) {
        IoFreeIrp(irp_);
    }
    handle_.process_.Free(input_);
    handle_.process_.Free(output_);
}

void FilterHandle::CancelPending()
{
    const std::vector<PendingRequest*> pending = pending_;
    for (PendingRequest* request : pending) {
        request->Cancel();
    }
    // The close waits for every request of the handle; one a driver acquired and never released
    // can be neither cancelled nor completed by anyone else, so the handle would never close.
    for (PendingRequest* request : pending) {
        if (!request->Completed() && request->irp_ != nullptr) {
            Platform::Kernel::CheckIrpNotAcquired(request->irp_, "the close of the handle");
        }
    }
    abandoned_.clear();
}

RequestResult FilterHandle::DeviceIoControl(ULONG ioControlCode, const std::vector<uint8_t>& input,
                                            ULONG outputSize, const std::vector<uint8_t>& output)
{
    return Exchange(ioControlCode, input, outputSize, output);
}

RequestResult FilterHandle::Exchange(ULONG ioControlCode, std::span<const uint8_t> input,
                                     ULONG outputSize, std::span<const uint8_t> output)
{
    std::unique_ptr<PendingRequest> request =
        BeginDeviceIoControl(ioControlCode, input, outputSize, output);
    // Those that completed meanwhile are done with; a handle that lives long keeps only the rest.
    std::erase_if(abandoned_,
                  [](const std::unique_ptr<PendingRequest>& left) { return left->Completed(); });
    if (!request->Completed()) {
        abandoned_.push_back(std::move(request));  // completes or is cancelled at close
        return RequestResult{STATUS_PENDING, 0, {}};
    }
    RequestResult result = std::move(request->result_);
    // Done with: the driver completed the request and its output was copied out.
    KeepUserBuffer(std::exchange(request->input_, nullptr), request->inputSize_);
    KeepUserBuffer(std::exchange(request->output_, nullptr), request->outputSize_);
    return result;
}

uint8_t* FilterHandle::TakeUserBuffer(size_t bytes, bool* reused)
{
    *reused = false;
    if (bytes == 0) {
        return nullptr;
    }
    for (auto it = spareBuffers_.begin(); it != spareBuffers_.end(); ++it) {
        if (it->bytes == bytes) {
            uint8_t* address = it->address;
            spareBuffers_.erase(it);
            *reused = true;
            return address;
        }
    }
    return static_cast<uint8_t*>(process_.Allocate(bytes));
}

void FilterHandle::KeepUserBuffer(uint8_t* address, size_t bytes)
{
    // A few sizes of requests alternate; more would be a caller of many sizes, which gets fresh
    // blocks. Pages that went with their unlocking are the process's to map again.
    constexpr size_t kSpareBuffers = 8;
    if (address == nullptr) {
        return;
    }
    if (spareBuffers_.size() < kSpareBuffers && !process_.PagesMayHaveGone()) {
        spareBuffers_.push_back({address, bytes});
    } else {
        process_.Free(address);
    }
}

void FilterHandle::FreeSpareBuffers()
{
    for (const SpareBuffer& spare : spareBuffers_) {
        process_.Free(spare.address);
    }
    spareBuffers_.clear();
}

namespace {

std::vector<uint8_t> WidthBytes(const Platform::Kernel::UserProcess& process, uint64_t value)
{
    std::vector<uint8_t> bytes(process.Is32Bit() ? 4 : 8);
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<uint8_t>(value >> (8 * i));
    }
    return bytes;
}

}  // namespace

std::vector<uint8_t> UserPointerBytes(const Platform::Kernel::UserProcess& process,
                                      const void* address)
{
    return WidthBytes(process, reinterpret_cast<uintptr_t>(address));
}

std::vector<uint8_t> UserHandleBytes(const Platform::Kernel::UserProcess& process, HANDLE handle)
{
    return WidthBytes(process, reinterpret_cast<uintptr_t>(handle));
}

namespace {

// A KSPROPERTY and its tail in one buffer, on the stack when the tail is short (as nearly every
// tail is): a property request is the low-latency client's every period.
class PropertyRequestBytes
{
public:
    PropertyRequestBytes(const GUID& set, ULONG id, ULONG flags, const std::vector<uint8_t>& tail)
    {
        const KSPROPERTY property{set, id, flags};
        size_ = sizeof property + tail.size();
        if (size_ > sizeof inline_) {
            heap_ = PropertyBytes(set, id, flags, tail);
            return;
        }
        std::memcpy(inline_, &property, sizeof property);
        if (!tail.empty()) {
            std::memcpy(inline_ + sizeof property, tail.data(), tail.size());
        }
    }
    std::span<const uint8_t> Bytes() const
    {
        return heap_.empty() ? std::span<const uint8_t>(inline_, size_) : heap_;
    }

private:
    uint8_t inline_[96];
    size_t size_ = 0;
    std::vector<uint8_t> heap_;
};

}  // namespace

RequestResult FilterHandle::GetProperty(const GUID& set, ULONG id, ULONG dataSize,
                                        const std::vector<uint8_t>& tail)
{
    const PropertyRequestBytes request(set, id, KSPROPERTY_TYPE_GET, tail);
    return Exchange(IOCTL_KS_PROPERTY, request.Bytes(), dataSize, {});
}

RequestResult FilterHandle::SetProperty(const GUID& set, ULONG id, const std::vector<uint8_t>& data,
                                        const std::vector<uint8_t>& tail)
{
    const PropertyRequestBytes request(set, id, KSPROPERTY_TYPE_SET, tail);
    return Exchange(IOCTL_KS_PROPERTY, request.Bytes(), static_cast<ULONG>(data.size()), data);
}

NTSTATUS FilterHandle::EnableEvent(const GUID& set, ULONG id, HANDLE userEvent, void** cookie)
{
    if (!open_) {
        return STATUS_INVALID_HANDLE;
    }
    const ULONG size = process_.Is32Bit() ? 16 : sizeof(KSEVENTDATA);
    auto* data = static_cast<uint8_t*>(process_.Allocate(size));
    const ULONG type = KSEVENTF_EVENT_HANDLE;
    std::memcpy(data, &type, sizeof type);
    if (process_.Is32Bit()) {
        const auto handle32 = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(userEvent));
        std::memcpy(data + 4, &handle32, sizeof handle32);
    } else {
        std::memcpy(data + offsetof(KSEVENTDATA, EventHandle), &userEvent, sizeof userEvent);
    }
    const std::vector<uint8_t> request = PropertyBytes(set, id, KSEVENT_TYPE_ENABLE);
    auto* in = static_cast<uint8_t*>(process_.Allocate(request.size()));
    std::memcpy(in, request.data(), request.size());
    const NTSTATUS status = Send(IRP_MJ_DEVICE_CONTROL, IOCTL_KS_ENABLE_EVENT, in,
                                 static_cast<ULONG>(request.size()), data, size, nullptr);
    process_.Free(in);
    if (!NT_SUCCESS(status)) {
        process_.Free(data);
        return status;
    }
    eventData_.push_back(data);
    if (cookie != nullptr) {
        *cookie = data;
    }
    return status;
}

NTSTATUS FilterHandle::DisableEvent(void* cookie)
{
    if (!open_) {
        return STATUS_INVALID_HANDLE;
    }
    const ULONG size = process_.Is32Bit() ? 16 : sizeof(KSEVENTDATA);
    const NTSTATUS status =
        Send(IRP_MJ_DEVICE_CONTROL, IOCTL_KS_DISABLE_EVENT, cookie, size, nullptr, 0, nullptr);
    if (NT_SUCCESS(status)) {
        std::erase(eventData_, cookie);
        process_.Free(cookie);
    }
    return status;
}

}  // namespace Platform::Ks
