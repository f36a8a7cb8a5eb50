#include "RootModule.h"

#include "ParamIds.h"

namespace {

bool IsPseudoModuleId(int32_t id)
{
    return id >= ParamIds::kFirstPseudoModuleId && id <= ParamIds::kLastPseudoModuleId;
}

}  // namespace

Orv::RCPtr<LRootModule> LRootModule::Create(bool offline)
{
    Orv::RCPtr<LRootModule> root(new LRootModule(offline));
    root->CreateChildModules();
    return root;
}

LRootModule::LRootModule(bool offline) : offline(offline)
{
    pending.SetCount(1);
}

LRootModule::~LRootModule()
{
    if (communication) {
        communication->SetReceiveEnabled(false);
        communication->SetReceiver(nullptr);
        communication->DisconnectDevice();
    }
}

void LRootModule::CreateChildModules()
{
    device = LDevice::Create();
}

Orv::ORVRESULT LRootModule::Initialize(
    EngineCallback callback, void* context, const Orv::RCPtr<LParamCache>& newCache,
    const Orv::RCPtr<LDeviceCommunicationInterface>& newCommunication, int32_t firstId)
{
    {
        const Orv::ScopedLock guard(storeLock);
        engineCallback = callback;
        engineContext = context;
        cache = newCache;
        communication = newCommunication;
        SetFirstParamID(nullptr, firstId, 0);
        for (int32_t i = 0; i < kIdCount && cache; ++i) {
            const auto module = GetModuleForParamID(firstId + i);
            if (!module) {
                continue;
            }
            Orv::Variant value;
            module->GetParamValueDefault(value, firstId + i);
            cache->Update(Orv::ParamDescriptor{i, {}}, value, false);
        }
        if (cache) {
            cache->Configure(1);
        }
    }
    if (communication) {
        communication->SetReceiver(this);
        communication->SetReceiveEnabled(true);
        communication->OnReceiverReady();
    }
    return 0;
}

Orv::ORVRESULT LRootModule::Connect(const Orv::Variant& deviceId)
{
    if (!communication) {
        offline.store(true, std::memory_order_release);
        return LDeviceCommunicationInterface::kNoBinding;
    }
    communication->DisconnectDevice();
    const Orv::ORVRESULT result = communication->ConnectDevice(deviceId);
    if (result < 0) {
        offline.store(true, std::memory_order_release);
        return result;
    }
    offline.store(false, std::memory_order_release);
    Orv::ParamRanges ranges;
    const Orv::ParamRange block{GetFirstParamID(), kIdCount};
    ranges.SetRanges(&block, 1);
    communication->RequestParamRanges(ranges);
    communication->RequestParamValue(Orv::ParamDescriptor{ParamIds::kDeviceName, {}});
    return result;
}

Orv::ORVRESULT LRootModule::StopReceiving()
{
    if (communication) {
        communication->SetReceiveEnabled(false);
    }
    return 0;
}

void LRootModule::OnParamValuesReceived(const Orv::ParamValues& values)
{
    const Orv::ScopedLock guard(storeLock);
    for (uint32_t i = 0; i < values.GetListItemCount(); ++i) {
        Orv::Variant value;
        int32_t id = -1;
        Orv::Variant subIndex;
        values.GetParamValueItem(i, value, id, subIndex);
        Orv::RCPtr<LParameterizedModule> target;
        if (id >= 0) {
            target = GetModuleForParamID(id);
        } else if (IsPseudoModuleId(id)) {
            target = GetPseudoModule();
        } else if (id == ParamIds::kCommunicationState && value.GetBool()) {
            OnDeviceConnected();
        }
        if (target) {
            target->SetParamValueLocal(Orv::ParamDescriptor{id, subIndex}, value, true);
        } else {
            SendParamValue(Orv::ParamDescriptor{id, {}}, value);
        }
    }
}

Orv::ORVRESULT LRootModule::ReceiveOther(int32_t, const Orv::Variant*, void*)
{
    return E_FAIL;
}

Orv::ORVRESULT LRootModule::SetParamValueChild(const Orv::ParamDescriptor& descriptor,
                                               const Orv::Variant& value)
{
    return SetParamValue(descriptor, value);
}

void LRootModule::GetParamValueChild(Orv::Variant& value,
                                     const Orv::ParamDescriptor& descriptor) const
{
    GetParamValue(value, descriptor);
}

bool LRootModule::IsOwnBlockId(int32_t id) const
{
    const uint32_t offset = static_cast<uint32_t>(id) - static_cast<uint32_t>(GetFirstParamID());
    return offset < static_cast<uint32_t>(kIdCount);
}

Orv::ORVRESULT LRootModule::SetParamValue(const Orv::ParamDescriptor& descriptor,
                                          const Orv::Variant& value)
{
    if (!IsOwnBlockId(descriptor.id)) {
        return -1;
    }
    const Orv::ScopedLock guard(storeLock);
    const Orv::ParamDescriptor key{descriptor.id - GetFirstParamID(), descriptor.subIndex};
    Orv::Variant cached;
    cache->Get(key, cached);
    if (value != cached && !value.IsEmpty()) {
        // A key the cache refuses (such as a NaN sub-index) is neither stored nor published.
        if (cache->Update(key, value, true) == 0) {
            SendParamValue(descriptor, value);
        }
    }
    return 0;
}

void LRootModule::GetParamValue(Orv::Variant& value, const Orv::ParamDescriptor& descriptor) const
{
    const Orv::ScopedLock guard(storeLock);
    const Orv::ParamDescriptor key{static_cast<int32_t>(static_cast<uint32_t>(descriptor.id) -
                                                        static_cast<uint32_t>(GetFirstParamID())),
                                   descriptor.subIndex};
    if (!cache || cache->Get(key, value) < 0) {
        value.Clear();
    }
}

void LRootModule::SendParamValue(const Orv::ParamDescriptor& descriptor, const Orv::Variant& value)
{
    const Orv::ScopedLock guard(storeLock);
    Orv::ParamValue& only = pending.GetAt(0);
    only.descriptor = descriptor;
    only.value = value;
    NotifyEngine(pending);
}

void LRootModule::NotifyEngine(const Orv::Array<Orv::ParamValue>& values)
{
    if (engineCallback != nullptr) {
        engineCallback(engineContext, values);
    }
}

Orv::RCPtr<LDeviceCommunicationInterface> LRootModule::GetDeviceCommunicationInterface()
{
    return communication;
}

Orv::ORVRESULT LRootModule::StoreParamValue(const Orv::ParamDescriptor& descriptor,
                                            const Orv::Variant& value)
{
    const Orv::ScopedLock guard(storeLock);
    const int32_t id = descriptor.id;
    if (id == ParamIds::kStatusInjection) {
        return communication && communication->InjectStatusValue(value.GetInt64()) ? 0 : 1;
    }
    if (IsOffline()) {
        return SetParamValue(descriptor, value);
    }
    if (!communication) {
        return LDeviceCommunicationInterface::kNoBinding;
    }
    if (id < 0 && !IsPseudoModuleId(id)) {
        return communication->SetParamValue(descriptor, value);
    }
    const auto module = id < 0 ? GetPseudoModule() : GetModuleForParamID(id);
    if (module) {
        module->SetParamValueLocal(descriptor, value, false);
    }
    return communication->SetParamValue(descriptor, value);
}

Orv::ORVRESULT LRootModule::ReadParamValue(const Orv::ParamDescriptor& descriptor,
                                           Orv::Variant& value)
{
    const Orv::ScopedLock guard(storeLock);
    if (descriptor.id < 0) {
        if (!communication) {
            value.Clear();
            return LDeviceCommunicationInterface::kNoBinding;
        }
        return communication->GetParamValue(descriptor, value);
    }
    if (IsOffline()) {
        GetParamValue(value, descriptor);
        return 0;
    }
    const auto module = GetModuleForParamIDConst(descriptor.id);
    if (!module) {
        value.Clear();
        return E_FAIL;
    }
    module->GetParamValueLocal(value, descriptor);
    return 0;
}

Orv::RCPtr<IDevice> LRootModule::GetDevice()
{
    return device;
}

Orv::RCPtr<LParamCache> LRootModule::GetParamCache()
{
    return cache;
}
