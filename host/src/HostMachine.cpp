#include "HostMachine.h"

#include <KernelTestApi.h>
#include <Registry/MachineRegistry.h>
#include <ksmedia.h>

#include <algorithm>
#include <cstdio>
#include <thread>

#include "device/DeviceContext.h"
#include "device/DeviceModel.h"
#include "device/DeviceParts.h"
#include "product/ProductDeviceParts.h"

namespace Host {
namespace {

// The driver's key as the installation leaves it.
constexpr char16_t kInstalledDriverKey[] =
    u"Software\\Wow6432Node\\Tervolt\\Audio\\Drivers\\{6242F6B0-04E7-497F-AE8D-287E12D19420}";

std::string Narrow(const std::vector<uint8_t>& utf16)
{
    std::string text;
    for (size_t i = 0; i + 1 < utf16.size(); i += 2) {
        const unsigned c = utf16[i] | utf16[i + 1] << 8;
        if (c == 0) {
            break;
        }
        text += c < 0x80 ? static_cast<char>(c) : '?';
    }
    return text;
}

std::string Narrow(const std::u16string& text)
{
    std::string out;
    for (const char16_t c : text) {
        out += c < 0x80 ? static_cast<char>(c) : '?';
    }
    return out;
}

bool IsPcmRange(const KSDATARANGE* range)
{
    return range->FormatSize >= sizeof(KSDATARANGE_AUDIO) &&
           IsEqualGUIDAligned(range->MajorFormat, KSDATAFORMAT_TYPE_AUDIO) &&
           IsEqualGUIDAligned(range->SubFormat, KSDATAFORMAT_SUBTYPE_PCM);
}

// The streaming pin and its PCM ranges, read from the filter's descriptor as kernel streaming
// answers a data-ranges property.
void ReadRanges(const KSFILTER_DESCRIPTOR& descriptor, EndpointInfo* info)
{
    const auto* pins =
        static_cast<const uint8_t*>(static_cast<const void*>(descriptor.PinDescriptors));
    for (ULONG p = 0; p < descriptor.PinDescriptorsCount; ++p) {
        const auto* pin =
            reinterpret_cast<const KSPIN_DESCRIPTOR_EX*>(pins + p * descriptor.PinDescriptorSize);
        bool pcm = false;
        for (ULONG r = 0; r < pin->PinDescriptor.DataRangesCount; ++r) {
            const KSDATARANGE* range = pin->PinDescriptor.DataRanges[r];
            if (!IsPcmRange(range)) {
                info->passThrough = info->passThrough ||
                                    IsEqualGUIDAligned(range->MajorFormat, KSDATAFORMAT_TYPE_AUDIO);
                continue;
            }
            const auto* audio = reinterpret_cast<const KSDATARANGE_AUDIO*>(range);
            if (!pcm && info->maxChannels == 0) {
                info->pinId = p;
                info->minBits = audio->MinimumBitsPerSample;
                info->minRate = audio->MinimumSampleFrequency;
            }
            pcm = true;
            info->maxChannels = std::max(info->maxChannels, audio->MaximumChannels);
            info->minBits = std::min(info->minBits, audio->MinimumBitsPerSample);
            info->maxBits = std::max(info->maxBits, audio->MaximumBitsPerSample);
            info->minRate = std::min(info->minRate, audio->MinimumSampleFrequency);
            info->maxRate = std::max(info->maxRate, audio->MaximumSampleFrequency);
        }
        if (pcm) {
            return;
        }
    }
}

}  // namespace

std::string StatusText(NTSTATUS status)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(status));
    return text;
}

HostMachine::~HostMachine()
{
    if (streaming_) {
        EndStreaming();
    }
    driver_.reset();
    bus_.reset();
    usbDevice_.reset();
    SetDeviceParts(nullptr);
}

bool HostMachine::Start(const DeviceChoice& choice, std::string* error)
{
    choice_ = &choice;
    Platform::Kernel::ResetHostState();
    parts_ = choice.makeParts != nullptr ? choice.makeParts() : nullptr;
    SetDeviceParts(parts_.get());
    NTSTATUS status = STATUS_UNSUCCESSFUL;
    driver_ = Platform::Ks::Driver::Load(ProductDriverEntry, &status);
    if (driver_ == nullptr) {
        *error = "the driver did not load: status " + StatusText(status);
        return false;
    }
    if (Platform::Registry::MachineRegistry::Instance().CreateKeyPath(
            Platform::Registry::Hive::LocalMachine, kInstalledDriverKey) !=
        Platform::Registry::Result::Ok) {
        *error = "the driver's registry key could not be made";
        return false;
    }
    usbDevice_ =
        UsbSim::SimulatedUsbDevice::Create(UsbSim::BuildProductDescriptors(choice.variant), error);
    if (usbDevice_ == nullptr) {
        return false;
    }
    bus_ = std::make_unique<UsbSim::SimulatedUsbBus>();
    bus_->Attach(*usbDevice_);
    device_ = driver_->PlugIn(*bus_, *usbDevice_, &status);
    if (device_ == nullptr) {
        *error = "the driver did not add the device: status " + StatusText(status);
        return false;
    }
    status = device_->Send(Platform::Ks::PnpRequest::Start);
    Platform::Kernel::RunPending();
    if (status != STATUS_SUCCESS) {
        *error = "the device did not start: status " + StatusText(status);
        return false;
    }
    return true;
}

DeviceContext* HostMachine::Context()
{
    return static_cast<DeviceContext*>(device_->KsDevice()->Context);
}

std::vector<EndpointInfo> HostMachine::Endpoints()
{
    std::vector<EndpointInfo> endpoints;
    for (const Platform::Ks::DeviceInterface& i : device_->Interfaces()) {
        if (!i.enabled || !IsEqualGUIDAligned(i.category, KSCATEGORY_AUDIO)) {
            continue;
        }
        EndpointInfo info;
        info.reference = i.referenceString;
        info.symbolicLink = i.symbolicLink;
        info.name = Narrow(i.referenceString);
        for (const Platform::Ks::InterfaceValue& v : Platform::Ks::InterfaceValues(i)) {
            if (v.name == u"FriendlyName") {
                info.name = Narrow(v.data);
            }
        }
        info.capture = !device_->FindInterface(KSCATEGORY_CAPTURE, i.referenceString).empty();
        info.render = !device_->FindInterface(KSCATEGORY_RENDER, i.referenceString).empty();
        auto filter = Platform::Ks::FilterHandle::Open(process_, *device_, i.symbolicLink);
        if (filter != nullptr && filter->Filter() != nullptr &&
            filter->Filter()->Descriptor != nullptr) {
            ReadRanges(*filter->Filter()->Descriptor, &info);
        }
        endpoints.push_back(info);
    }
    return endpoints;
}

std::vector<ULONG> HostMachine::Rates()
{
    ULONG count = 0;
    const ULONG* rates = nullptr;
    DeviceContext* context = Context();
    if (context == nullptr || context->deviceModel == nullptr) {
        return {};
    }
    context->deviceModel->GetSupportedRates(&count, &rates);
    std::vector<ULONG> list(rates, rates + (rates != nullptr ? count : 0));
    std::sort(list.begin(), list.end());
    return list;
}

void HostMachine::BeginStreaming()
{
    streaming_ = true;
    if (virtualTime_) {
        return;
    }
    Platform::Kernel::SetTimeMode(Platform::Kernel::TimeMode::Real);
    std::string why = Platform::Kernel::RealTimeSchedulingRefusal();
    std::string clientWhy;
    clientRaised_ =
        Platform::Kernel::RaiseToRealTime(Platform::Kernel::RealTimeRole::Client, &clientWhy);
    if (why.empty()) {
        why = clientWhy;
    }
    if (!why.empty() && notes_ != nullptr && !toldNormalPriority_) {
        toldNormalPriority_ = true;
        *notes_ << "quorvel-host: real-time scheduling refused (" << why
                << "): the driver's threads and the client run at normal priority, so a busy "
                   "machine can make the audio late\n";
    }
}

void HostMachine::Wait(std::chrono::microseconds duration)
{
    if (virtualTime_ || !streaming_) {
        Platform::Kernel::AdvanceTime(duration);  // runs what is pending before it returns
    } else {
        std::this_thread::sleep_for(duration);
    }
}

void HostMachine::EndStreaming()
{
    streaming_ = false;
    if (clientRaised_) {
        clientRaised_ = false;
        Platform::Kernel::ReturnToNormalScheduling();
    }
    if (!virtualTime_) {
        Platform::Kernel::SetTimeMode(Platform::Kernel::TimeMode::Virtual);
    }
    Platform::Kernel::RunPending();
}

uint64_t HostMachine::NowMs()
{
    return static_cast<uint64_t>(Platform::Kernel::InterruptTime100ns() / 10000);
}

void HostMachine::PullOut()
{
    if (pulledOut_) {
        return;
    }
    pulledOut_ = true;
    bus_->Detach();
    Platform::Kernel::RunPending();
    device_->Send(Platform::Ks::PnpRequest::SurpriseRemoval);
    Platform::Kernel::RunPending();
}

LeftBehind HostMachine::Unplug()
{
    if (streaming_) {
        EndStreaming();
    }
    PullOut();
    device_->Send(Platform::Ks::PnpRequest::Remove);
    Platform::Kernel::RunPending();
    driver_.reset();
    device_ = nullptr;
    // The simulated hardware goes too: its bus's frame clock is no part of the driver.
    bus_.reset();
    usbDevice_.reset();
    Platform::Kernel::RunPending();
    LeftBehind left;
    for (const Platform::Kernel::PoolBlock& block : Platform::Kernel::OutstandingPool()) {
        left.pool.push_back(block.Describe());
    }
    left.timers = Platform::Kernel::ArmedTimerCount();
    left.workItems = Platform::Kernel::PendingWorkItemCount();
    return left;
}

}  // namespace Host
