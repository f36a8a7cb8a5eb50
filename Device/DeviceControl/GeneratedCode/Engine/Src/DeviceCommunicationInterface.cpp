#include "DeviceCommunicationInterface.h"

#include <atomic>
#include <new>

#include "ObjectBase/Wrapper.h"
#include "ParamIds.h"
#include "System/Event.h"
#include "System/EventGatedThreader.h"
#include "System/Mutex.h"
#include "System/RegistryKey.h"
#include "UlvaneInterface.h"
#include "Utilities/Storage/RCPtrQueue.h"

namespace {

constexpr char16_t kDriversKey[] = u"Software\\Tervolt\\Audio\\Drivers";
constexpr char16_t kProductKey[] = u"{6242F6B0-04E7-497F-AE8D-287E12D19420}";
constexpr char16_t kSoftwarePathValue[] = u"SoftwarePath";
constexpr char16_t kLibraryValue[] = u"DeviceInterfaceLib";

// Manufacturer and product, chosen by the product index.
constexpr const char* kPseudoTexts[] = {"Corvane", "Quorvel"};

constexpr int32_t kReceiveQueueSlots = 256;

using Batch = Orv::LWrapper<Orv::ParamValues>;

// The library's folder and file from the registry; empty when either is missing or empty.
Orv::WideString LibraryPathFromRegistry()
{
    const auto drivers = Orv::LRegistryKey::Create(Orv::LRegistryKey::kLocalMachine,
                                                   Orv::WideString(kDriversKey), 0);
    if (drivers->Open() < 0) {
        return {};
    }
    const auto product = drivers->OpenSubKey(Orv::WideString(kProductKey));
    if (!product) {
        return {};
    }
    Orv::VariantEx folder;
    Orv::VariantEx file;
    if (product->GetValue(Orv::WideString(kSoftwarePathValue), folder) < 0 ||
        product->GetValue(Orv::WideString(kLibraryValue), file) < 0) {
        return {};
    }
    const Orv::WideString folderText = folder.ToString();
    const Orv::WideString fileText = file.ToString();
    if (folderText.IsEmpty() || fileText.IsEmpty()) {
        return {};
    }
    Orv::WideString path = folderText;
    path.Append(Orv::WideString(u"\\"));
    path.Append(fileText);
    return path;
}

}  // namespace

struct LDeviceCommunicationInterface::State
{
    Orv::Mutex lock;  // guards deviceId
    Orv::RCPtr<Orv::LEventGatedThreader> receiveThreader;
    Orv::RCPtr<Orv::LEvent> receiveEvent;
    Orv::Mutex queueLock;
    Orv::RCPtrQueue<Batch, kReceiveQueueSlots> receiveQueue{&queueLock};
    Orv::Mutex drainLock;
    Orv::RCPtr<LDeviceCommunicationThreadWorker> receiveWorker;
    Orv::Mutex initLock;  // one binding, however many threads initialise at once
    std::atomic<Orv::UlvaneInterface*> binding{nullptr};  // owned
    Orv::Variant deviceId;
    std::atomic<bool> receiveEnabled{false};
    std::atomic<DeviceCommunicationReceiver*> receiver{nullptr};
};

LDeviceCommunicationInterface::LDeviceCommunicationInterface() : state(std::make_unique<State>())
{
    state->receiveWorker =
        Orv::RCPtr<LDeviceCommunicationThreadWorker>(new LDeviceCommunicationThreadWorker());
    state->receiveEvent = Orv::RCPtr<Orv::LEvent>(new Orv::LEvent());
}

Orv::RCPtr<LDeviceCommunicationInterface> LDeviceCommunicationInterface::Create()
{
    Orv::RCPtr<LDeviceCommunicationInterface> created(new LDeviceCommunicationInterface());
    State& s = *created->state;
    s.receiveThreader = Orv::LEventGatedThreader::Create(
        s.receiveEvent, s.receiveWorker, Orv::RCPtr<Orv::LRefCountedObject>(created.Get()), 0);
    created->AddBackReference();
    return created;
}

Orv::ORVRESULT LDeviceCommunicationInterface::DropBackReferences()
{
    if (state->receiveThreader) {
        RemoveBackReference();
        // Stops the receive thread and gives back its reference to this interface.
        state->receiveThreader = Orv::RCPtr<Orv::LEventGatedThreader>();
    }
    return LRefCountedObject::DropBackReferences();
}

LDeviceCommunicationInterface::~LDeviceCommunicationInterface()
{
    SetReceiveEnabled(false);
    if (Orv::UlvaneInterface* binding = state->binding.exchange(nullptr)) {
        const Orv::Variant id = CopyDeviceId();
        binding->DisconnectDevice(&id);
        delete binding;
    }
    state->receiver = nullptr;
}

Orv::UlvaneInterface* LDeviceCommunicationInterface::Binding() const
{
    return state->binding.load(std::memory_order_acquire);
}

Orv::Variant LDeviceCommunicationInterface::CopyDeviceId() const
{
    Orv::ScopedLock guard(state->lock);
    return state->deviceId;
}

template <class Call>
Orv::ORVRESULT LDeviceCommunicationInterface::CallWithDeviceId(Call call) const
{
    Orv::UlvaneInterface* binding = Binding();
    if (binding == nullptr) {
        return kNoBinding;
    }
    const Orv::Variant id = CopyDeviceId();
    return call(*binding, &id);
}

Orv::ORVRESULT LDeviceCommunicationInterface::Initialize()
{
    Orv::ScopedLock guard(state->initLock);
    if (Binding() != nullptr) {
        return 1;
    }
    try {
        const Orv::WideString path = LibraryPathFromRegistry();
        auto* binding =
            path.IsEmpty() ? new Orv::UlvaneInterface() : new Orv::UlvaneInterface(path);
        state->binding.store(binding, std::memory_order_release);
    } catch (const std::exception&) {
        return E_FAIL;
    }
    return S_OK;
}

bool LDeviceCommunicationInterface::IsCommunicationAvailable()
{
    return true;
}

bool LDeviceCommunicationInterface::InjectStatusValue(int64_t value)
{
    DeviceCommunicationReceiver* receiver = state->receiver.load(std::memory_order_acquire);
    if (receiver == nullptr) {
        return false;
    }
    // Built under the lock, delivered after it: the receiver takes its own store lock, which
    // comes before this lock.
    Orv::ParamValues values;
    bool available = false;
    {
        Orv::ScopedLock guard(state->lock);
        available = IsCommunicationAvailable();
        Orv::Variant status[2];
        status[0].SetInt64(value);
        status[1].SetBool(available);
        Orv::ParamDescriptor descriptor;
        descriptor.id = ParamIds::kStatusInjection;
        Orv::Variant statusList;
        statusList.SetList(status, 2);
        values.SetSingleValue(descriptor, statusList);
    }
    receiver->OnParamValuesReceived(values);
    return available;
}

void LDeviceCommunicationInterface::Synchronize()
{
    Orv::ScopedLock guard(state->lock);
}

void LDeviceCommunicationInterface::OnReceiverReady() {}

void LDeviceCommunicationInterface::CopyItems(const Orv::Variant& list,
                                              Orv::Array<Orv::Variant>& ids)
{
    const uint32_t count = list.GetListItemCount();
    ids.SetCount(count);
    for (uint32_t i = 0; i < count; ++i) {
        list.GetListItem(i, ids.GetAt(i));
    }
}

Orv::ORVRESULT LDeviceCommunicationInterface::FindDevices(const Orv::Array<GUID>& filter,
                                                          Orv::Array<Orv::Variant>& ids)
{
    ids.RemoveAll();
    Orv::UlvaneInterface* binding = Binding();
    if (binding == nullptr) {
        return kNoBinding;
    }
    Orv::Variant found;
    if (binding->FindDevices(filter.GetData(), filter.GetCount(), &found) < 0) {
        return E_FAIL;
    }
    CopyItems(found, ids);
    return S_OK;
}

Orv::ORVRESULT LDeviceCommunicationInterface::WaitForRemoteDeviceChange(
    const Orv::Array<GUID>& filter, Orv::Array<Orv::Variant>& known, uint32_t timeoutMilliseconds)
{
    Orv::UlvaneInterface* binding = Binding();
    if (binding == nullptr) {
        return kNoBinding;
    }
    const Orv::Array<Orv::Variant> before(known);
    // 64 bits: a time-out near the 32-bit limit must not wrap the sum and poll for ever.
    for (uint64_t elapsed = 0;; elapsed += kRemotePollMilliseconds) {
        Orv::Variant found;
        if (binding->FindRemoteDevices(filter.GetData(), filter.GetCount(), &found, 0) < 0) {
            return E_FAIL;
        }
        CopyItems(found, known);
        if (!known.IsEqual(before)) {
            return S_OK;
        }
        if (elapsed >= timeoutMilliseconds) {
            return 1;
        }
        Sleep(kRemotePollMilliseconds);
    }
}

Orv::ORVRESULT LDeviceCommunicationInterface::FindRemoteDevices(const Orv::Array<GUID>& filter,
                                                                Orv::Array<Orv::Variant>& ids)
{
    Orv::UlvaneInterface* binding = Binding();
    if (binding == nullptr) {
        return kNoBinding;
    }
    Orv::Variant found;
    const int32_t result =
        binding->FindRemoteDevices(filter.GetData(), filter.GetCount(), &found, 1);
    if (result < 0) {
        return result;
    }
    CopyItems(found, ids);
    return result;
}

Orv::ORVRESULT LDeviceCommunicationInterface::ConnectDevice(const Orv::Variant& deviceId)
{
    Orv::UlvaneInterface* binding = Binding();
    if (binding == nullptr) {
        return kNoBinding;
    }
    {
        Orv::ScopedLock guard(state->lock);
        state->deviceId = deviceId;
    }
    return binding->ConnectDevice(&deviceId, &UlvaneReceiveCallback, this);
}

Orv::ORVRESULT LDeviceCommunicationInterface::RequestParamRanges(const Orv::ParamRanges& ranges)
{
    return CallWithDeviceId([&](Orv::UlvaneInterface& binding, const Orv::Variant* id) {
        return binding.RequestParamRanges(id, &ranges);
    });
}

Orv::ORVRESULT LDeviceCommunicationInterface::RequestParamValues(
    const Orv::ParamDescriptors& descriptors)
{
    return CallWithDeviceId([&](Orv::UlvaneInterface& binding, const Orv::Variant* id) {
        return binding.RequestParamValues(id, &descriptors);
    });
}

Orv::ORVRESULT LDeviceCommunicationInterface::RequestParamValue(
    const Orv::ParamDescriptor& descriptor)
{
    return CallWithDeviceId([&](Orv::UlvaneInterface& binding, const Orv::Variant* id) {
        return binding.RequestParamValues(id, descriptor);
    });
}

Orv::ORVRESULT LDeviceCommunicationInterface::GetParamRanges(const Orv::Variant* ranges,
                                                             Orv::Variant* values)
{
    return CallWithDeviceId([&](Orv::UlvaneInterface& binding, const Orv::Variant* id) {
        return binding.GetParamRanges(id, ranges, values);
    });
}

Orv::ORVRESULT LDeviceCommunicationInterface::GetParamValues(const Orv::Variant* descriptors,
                                                             Orv::Variant* values)
{
    return CallWithDeviceId([&](Orv::UlvaneInterface& binding, const Orv::Variant* id) {
        return binding.GetParamValues(id, descriptors, values);
    });
}

Orv::ORVRESULT LDeviceCommunicationInterface::GetParamValue(const Orv::ParamDescriptor& descriptor,
                                                            Orv::Variant& value)
{
    Orv::UlvaneInterface* binding = Binding();
    if (binding != nullptr) {
        const Orv::Variant id = CopyDeviceId();
        return binding->GetParamValue(&id, &descriptor, &value);
    }
    switch (descriptor.id) {
        case ParamIds::kCommunicationState:
            value.SetBool(IsCommunicationAvailable());
            return S_OK;
        case ParamIds::kDeviceName:
            return GetDeviceName(value);
        case ParamIds::kManufacturer:
        case ParamIds::kProduct: {
            int32_t index = 0;
            GetProductIndex(index);
            index += descriptor.id == ParamIds::kProduct ? 1 : 0;
            if (index < 0 || index >= static_cast<int32_t>(std::size(kPseudoTexts))) {
                return E_FAIL;
            }
            value.SetString(kPseudoTexts[index]);
            return S_OK;
        }
        default:
            return E_FAIL;
    }
}

Orv::ORVRESULT LDeviceCommunicationInterface::SetParamValue(const Orv::ParamDescriptor& descriptor,
                                                            const Orv::Variant& value)
{
    if (state->receiver.load(std::memory_order_acquire) == nullptr) {
        return E_FAIL;
    }
    if (descriptor.id == ParamIds::kStatusInjection) {
        return InjectStatusValue(value.GetInt64()) ? S_OK : 1;
    }
    if (ParamIds::IsReadOnlyPseudoId(descriptor.id)) {
        return E_FAIL;
    }
    Orv::UlvaneInterface* binding = Binding();
    if (binding != nullptr) {
        const Orv::Variant id = CopyDeviceId();
        return binding->SetParamValue(&id, &descriptor, &value);
    }
    return descriptor.id == ParamIds::kDeviceName ? SetDeviceName(value) : E_FAIL;
}

Orv::ORVRESULT LDeviceCommunicationInterface::SetParamValues(const Orv::ParamValues& values)
{
    return CallWithDeviceId([&](Orv::UlvaneInterface& binding, const Orv::Variant* id) {
        return binding.SetParamValues(id, &values);
    });
}

bool LDeviceCommunicationInterface::IsDeviceConnected()
{
    Orv::UlvaneInterface* binding = Binding();
    if (binding == nullptr) {
        return false;
    }
    const Orv::Variant id = CopyDeviceId();
    return binding->IsDeviceConnected(&id);
}

Orv::ORVRESULT LDeviceCommunicationInterface::GetConnectionStatus(Orv::Variant& deviceId)
{
    if (Binding() == nullptr) {
        return kNoBinding;
    }
    deviceId = CopyDeviceId();
    return IsDeviceConnected() ? S_OK : kNotConnected;
}

Orv::ORVRESULT LDeviceCommunicationInterface::DisconnectDevice()
{
    return CallWithDeviceId([&](Orv::UlvaneInterface& binding, const Orv::Variant* id) {
        return binding.DisconnectDevice(id);
    });
}

Orv::ORVRESULT LDeviceCommunicationInterface::GetDeviceInfo(const Orv::Variant& deviceId,
                                                            uint8_t* record)
{
    Orv::UlvaneInterface* binding = Binding();
    return binding != nullptr ? binding->GetDeviceInfo(&deviceId, record) : kNoBinding;
}

Orv::ORVRESULT LDeviceCommunicationInterface::GetDeviceName(Orv::Variant& name)
{
    Orv::ParamDescriptor descriptor;
    descriptor.id = ParamIds::kDeviceName;
    return CallWithDeviceId([&](Orv::UlvaneInterface& binding, const Orv::Variant* id) {
        return binding.GetParamValue(id, &descriptor, &name);
    });
}

Orv::ORVRESULT LDeviceCommunicationInterface::SetDeviceName(const Orv::Variant& name)
{
    Orv::ParamDescriptor descriptor;
    descriptor.id = ParamIds::kDeviceName;
    return CallWithDeviceId([&](Orv::UlvaneInterface& binding, const Orv::Variant* id) {
        return binding.SetParamValue(id, &descriptor, &name);
    });
}

Orv::ORVRESULT LDeviceCommunicationInterface::GetProductIndex(int32_t& index)
{
    index = 0;
    return S_OK;
}

void LDeviceCommunicationInterface::SetReceiver(DeviceCommunicationReceiver* receiver)
{
    state->receiver.store(receiver, std::memory_order_release);
}

void LDeviceCommunicationInterface::SetReceiveEnabled(bool enabled)
{
    state->receiveEnabled.store(enabled, std::memory_order_release);
    if (!enabled) {
        Orv::ScopedLock barrier(state->drainLock);
    }
}

void LDeviceCommunicationInterface::Enqueue(const Orv::Variant& values)
{
    Orv::ParamValues copy;
    static_cast<Orv::Variant&>(copy) = values;
    state->receiveQueue.Enqueue(Orv::RCPtr<Batch>(new Batch(std::move(copy))));
    state->receiveEvent->Set();
}

void LDeviceCommunicationInterface::DrainReceived()
{
    Orv::ScopedLock guard(state->drainLock);
    while (state->receiveQueue.GetCount() > 0) {
        const Orv::RCPtr<Batch> batch = state->receiveQueue.Dequeue();
        DeviceCommunicationReceiver* receiver = state->receiver.load(std::memory_order_acquire);
        if (receiver != nullptr && state->receiveEnabled.load(std::memory_order_acquire)) {
            receiver->OnParamValuesReceived(batch->GetValue());
        }
    }
}
