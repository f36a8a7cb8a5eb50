#include "RootModuleEngine.h"

#include <new>

#include "Application/ApplicationNotificationCenter.h"
#include "Notification/Notification.h"
#include "ObjectBase/Exception.h"

namespace {

constexpr const char16_t* kStateChange = u"NID_PARAM_MODULE_STATE_CHANGE";
constexpr const char16_t* kConnectionStateChange = u"NID_DEVICE_CONNECTION_STATE_CHANGE";
constexpr const char16_t* kDeviceListChange = u"NID_REMOTE_DEVICE_LIST_CHANGE";
constexpr const char16_t* kChangeRequest = u"NID_PARAM_MODULE_CHANGE_REQ";
constexpr uint32_t kDeviceInfoSize = 256;
constexpr uint32_t kDeviceInfoPresentByte = 252;

}  // namespace

Orv::RCPtr<LRootModuleEngine> LRootModuleEngine::Create()
{
    return Orv::RCPtr<LRootModuleEngine>(new LRootModuleEngine());
}

LRootModuleEngine::LRootModuleEngine()
    : threader(std::make_unique<Orv::RetriggerableThreader>(Orv::WideString(u"")))
{
}

LRootModuleEngine::~LRootModuleEngine()
{
    if (root) {
        root->StopReceiving();
    }
    // Waits for a pass still running; from inside the pass the threader ends after it.
    stop.store(true, std::memory_order_release);
    threader.reset();
    root = nullptr;
    cache = nullptr;
    communication = nullptr;
}

Orv::ORVRESULT LRootModuleEngine::Initialize(int32_t firstId)
{
    try {
        handler = Orv::RCPtr<Orv::LNotificationHandler<LRootModuleEngine>>(
            new Orv::LNotificationHandler<LRootModuleEngine>(this));
    } catch (const std::bad_alloc&) {
        return E_FAIL;
    }
    center = GetApplicationNotificationCenter();
    const Orv::ORVRESULT bound =
        handler->AddHandler(&LRootModuleEngine::OnChangeRequest,
                            Orv::RCPtr<Orv::LNotificationDistributor>(center), kChangeRequest);
    if (bound < 0) {
        Orv::ThrowFailedResult(bound, Orv::ThrowSite{__PRETTY_FUNCTION__, ORV_THIS_FILE, 237});
    }

    communication = LDeviceCommunicationInterface::Create();
    cache = Orv::RCPtr<LParamCache>(new LParamCache(IRootModule::kIdCount));
    libraryFailed = communication->Initialize() < 0;
    Orv::Array<Orv::Variant> found;
    if (!libraryFailed) {
        communication->FindDevices(Orv::Array<GUID>(), found);
    }
    root = LRootModule::Create(libraryFailed);
    root->Initialize(&LRootModuleEngine::PublishFromRoot, this, cache, communication, firstId);
    initialised.store(true, std::memory_order_release);

    Orv::Array<Orv::ParamValue> starting;
    starting.SetCount(IRootModule::kIdCount);
    for (int32_t i = 0; i < IRootModule::kIdCount; ++i) {
        Orv::ParamValue& item = starting.GetAt(static_cast<uint32_t>(i));
        item.descriptor.id = firstId + i;
        root->ReadParamValue(item.descriptor, item.value);
    }
    PublishValues(starting);

    if (!libraryFailed && found.GetCount() > 0) {
        ConnectDevice(found.GetAt(0), false);
    }
    return S_OK;
}

void LRootModuleEngine::PublishFromRoot(void* context, const Orv::Array<Orv::ParamValue>& values)
{
    static_cast<LRootModuleEngine*>(context)->PublishValues(values);
}

void LRootModuleEngine::PublishValues(const Orv::Array<Orv::ParamValue>& values)
{
    const uint32_t count = values.GetCount();
    if (count > 2) {
        Orv::ParamValues list;
        list.SetValues(values.GetData(), count);
        PostNamedNotification(center, kStateChange,
                              Orv::RCPtr<Orv::LRefCountedObject>(new ValueList(std::move(list))));
        return;
    }
    for (uint32_t i = 0; i < count; ++i) {
        const Orv::ParamValue& item = values.GetAt(i);
        PostNamedNotification(
            center, kStateChange,
            Orv::RCPtr<Orv::LRefCountedObject>(new ValueChange(item.descriptor, item.value)));
    }
}

Orv::ORVRESULT LRootModuleEngine::PostNamedNotification(
    const Orv::RCPtr<Orv::LNotificationCenter>& target, const char16_t* idText,
    const Orv::RCPtr<Orv::LRefCountedObject>& parameter)
{
    if (!target) {
        return E_FAIL;
    }
    const auto notification = Orv::CreateNotification(idText, parameter);
    return notification ? target->PostNotification(notification) : E_FAIL;
}

bool LRootModuleEngine::IsDevicePresent(const Orv::Variant& deviceId) const
{
    if (deviceId.IsEmpty() || !communication) {
        return false;
    }
    uint8_t record[kDeviceInfoSize] = {};
    return communication->GetDeviceInfo(deviceId, record) >= 0 &&
           record[kDeviceInfoPresentByte] != 0;
}

Orv::ORVRESULT LRootModuleEngine::ConnectDevice(const Orv::Variant& deviceId, bool retry)
{
    busy.store(true, std::memory_order_release);
    DisconnectDevice();
    Orv::ORVRESULT result = E_FAIL;
    bool watch = false;
    {
        const Orv::ScopedLock guard(lock);
        result = root ? root->Connect(deviceId) : LDeviceCommunicationInterface::kNoBinding;
        if (result >= 0) {
            currentDeviceId = deviceId;
            watch = IsDevicePresent(deviceId);
        } else if (!retry) {
            currentDeviceId.Clear();
        } else if (IsDevicePresent(deviceId)) {
            connectRequested = true;
            currentDeviceId = deviceId;
            watch = true;
        }
    }
    // Started without the lock: a start may wait for an ending pass, which takes the lock.
    if (watch) {
        StartEngineThread();
    }
    busy.store(false, std::memory_order_release);
    UpdateConnectionState();
    StopEngineThreadIfIdle();
    return result;
}

Orv::ORVRESULT LRootModuleEngine::DisconnectDevice()
{
    Orv::ORVRESULT result = LDeviceCommunicationInterface::kNoBinding;
    {
        const Orv::ScopedLock guard(lock);
        connectRequested = false;
        currentDeviceId.Clear();
        if (communication) {
            result = communication->DisconnectDevice();
        }
    }
    if (!busy.load(std::memory_order_acquire)) {
        UpdateConnectionState();
        StopEngineThreadIfIdle();
    }
    return result;
}

void LRootModuleEngine::UpdateConnectionState()
{
    DeviceConnectionState changedTo = kDisconnected;
    bool changed = false;
    {
        const Orv::ScopedLock guard(lock);
        const DeviceConnectionState now = communication && communication->IsDeviceConnected()
                                              ? kConnected
                                          : connectRequested ? kConnecting
                                                             : kDisconnected;
        if (now != connectionState) {
            connectionState = now;
            changedTo = now;
            changed = true;
        }
    }
    if (changed) {
        PostConnectionState(changedTo);
    }
}

void LRootModuleEngine::PostConnectionState(DeviceConnectionState state)
{
    PostNamedNotification(center, kConnectionStateChange,
                          Orv::RCPtr<Orv::LRefCountedObject>(new StateHolder(state)));
}

void LRootModuleEngine::PostDeviceCount(unsigned int count)
{
    PostNamedNotification(center, kDeviceListChange,
                          Orv::RCPtr<Orv::LRefCountedObject>(new DeviceCountHolder(count)));
}

LRootModuleEngine::DeviceConnectionState LRootModuleEngine::GetConnectionState() const
{
    const Orv::ScopedLock guard(lock);
    return connectionState;
}

Orv::ORVRESULT LRootModuleEngine::StartEngineThread()
{
    if (threader->IsRunning()) {
        if (!stop.load(std::memory_order_acquire)) {
            return 1;
        }
        if (!StopAndWait()) {
            return E_FAIL;
        }
    }
    stop.store(false, std::memory_order_release);
    // The pass's reference is counted as a back reference from the moment the threader holds
    // it, not from when the pass begins: a release in between would otherwise find a reference
    // it cannot drop, and the engine and its thread would live on.
    AddBackReference();
    const Orv::ORVRESULT result = threader->Trigger(Orv::RCPtr<Orv::LThreadWorker>(this),
                                                    Orv::RCPtr<Orv::LRefCountedObject>(), 0);
    if (result < 0) {
        RemoveBackReference();
        stop.store(true, std::memory_order_release);
    }
    return result;
}

void LRootModuleEngine::StopEngineThreadIfIdle()
{
    if (!threader->IsRunning() || stop.load(std::memory_order_acquire) ||
        scanEnabled.load(std::memory_order_acquire) || busy.load(std::memory_order_acquire)) {
        return;
    }
    const Orv::ScopedLock guard(lock);
    if (connectionState == kDisconnected ||
        (connectionState == kConnected && !IsDevicePresent(currentDeviceId))) {
        stop.store(true, std::memory_order_release);
    }
}

bool LRootModuleEngine::StopAndWait()
{
    if (!threader->IsRunning()) {
        return true;
    }
    stop.store(true, std::memory_order_release);
    for (uint32_t poll = 0; poll < kStopPolls && threader->IsRunning(); ++poll) {
        Sleep(1);
    }
    return !threader->IsRunning();
}

int LRootModuleEngine::Run(Orv::RCPtr<Orv::LRefCountedObject>&)
{
    // The back reference taken by StartEngineThread is given back at the end of the pass.
    if (center) {
        uint32_t counter = 0;
        bool rescan = false;
        while (!stop.load(std::memory_order_acquire)) {
            bool present = false;
            {
                const Orv::ScopedLock guard(lock);
                present = IsDevicePresent(currentDeviceId);
            }
            if (present) {
                UpdateConnectionState();
                bool reconnected = false;
                {
                    const Orv::ScopedLock guard(lock);
                    if (connectionState == kConnecting && !currentDeviceId.IsEmpty() &&
                        root->Connect(currentDeviceId) >= 0) {
                        connectRequested = false;
                        connectionState = kConnected;
                        reconnected = true;
                    }
                }
                if (reconnected) {
                    PostConnectionState(kConnected);
                }
            }
            if (scanEnabled.load(std::memory_order_acquire)) {
                ScanCycle(counter, rescan);
            } else {
                Sleep(kCycleMilliseconds);
            }
            // Nothing left to watch (for instance the device went away): the pass ends.
            StopEngineThreadIfIdle();
        }
    }
    RemoveBackReference();
    return 0;
}

void LRootModuleEngine::ScanCycle(uint32_t& counter, bool& rescan)
{
    const Orv::Array<GUID> noFilter;
    if (!rescan && counter < kPollsPerScan) {
        ++counter;
        Orv::Array<Orv::Variant> copy;
        {
            const Orv::ScopedLock guard(lock);
            copy = deviceList;
        }
        const Orv::ORVRESULT result =
            communication->WaitForRemoteDeviceChange(noFilter, copy, kCycleMilliseconds);
        if (!stop.load(std::memory_order_acquire) && result == 0) {
            {
                const Orv::ScopedLock guard(lock);
                deviceList = copy;
            }
            PostDeviceCount(copy.GetCount());
        }
        return;
    }
    counter = 0;
    Orv::Array<Orv::Variant> fresh;
    const Orv::ORVRESULT result = communication->FindRemoteDevices(noFilter, fresh);
    if (stop.load(std::memory_order_acquire)) {
        return;
    }
    if (result >= 0) {
        rescan = result == 1;
        bool changed = false;
        {
            const Orv::ScopedLock guard(lock);
            if (!fresh.IsEqual(deviceList)) {
                deviceList = fresh;
                changed = true;
            }
        }
        if (changed) {
            PostDeviceCount(fresh.GetCount());
        }
    }
    Sleep(kCycleMilliseconds);
}

Orv::ORVRESULT LRootModuleEngine::EnableRemoteDeviceScan(bool on)
{
    if (on == scanEnabled.load(std::memory_order_acquire)) {
        return S_OK;
    }
    scanEnabled.store(on, std::memory_order_release);
    if (!on) {
        StopEngineThreadIfIdle();
        return S_OK;
    }
    if (!firstScanDone) {
        Orv::Array<Orv::Variant> scratch;
        firstScanResult =
            communication ? communication->WaitForRemoteDeviceChange(Orv::Array<GUID>(), scratch, 0)
                          : LDeviceCommunicationInterface::kNoBinding;
        firstScanDone = true;
    }
    if (firstScanResult < 0) {
        scanEnabled.store(false, std::memory_order_release);
        return firstScanResult;
    }
    StartEngineThread();
    return firstScanResult;
}

Orv::ORVRESULT LRootModuleEngine::GetRemoteDeviceList(Orv::Array<Orv::Variant>& out)
{
    if (scanEnabled.load(std::memory_order_acquire)) {
        const Orv::ScopedLock guard(lock);
        out = deviceList;
        return S_OK;
    }
    // Polled into a list of its own: an engine pass may replace the device list meanwhile.
    Orv::Array<Orv::Variant> polled;
    const Orv::ORVRESULT result =
        communication ? communication->WaitForRemoteDeviceChange(Orv::Array<GUID>(), polled, 0)
                      : LDeviceCommunicationInterface::kNoBinding;
    const Orv::ScopedLock guard(lock);
    deviceList = result < 0 ? Orv::Array<Orv::Variant>() : polled;
    if (result < 0) {
        return result;
    }
    out = deviceList;
    return S_OK;
}

Orv::ORVRESULT LRootModuleEngine::SetParamValue(const Orv::ParamDescriptor& descriptor,
                                                const Orv::Variant& value)
{
    if (GetConnectionState() != kConnected || !root) {
        return E_FAIL;
    }
    const Orv::ORVRESULT result = root->StoreParamValue(descriptor, value);
    if (result < 0) {
        UpdateConnectionState();
    }
    return result;
}

int LRootModuleEngine::OnChangeRequest(const Orv::RCPtr<Orv::LNotificationDistributor>&,
                                       const Orv::RCPtr<Orv::LNotification>& notification)
{
    const auto* change = dynamic_cast<const ValueChange*>(notification->parameter.Get());
    if (change != nullptr) {
        SetParamValue(change->first, change->second);
    }
    return 1;
}

Orv::ORVRESULT LRootModuleEngine::GetParamValue(const Orv::ParamDescriptor& descriptor,
                                                Orv::Variant& value)
{
    if (!root) {
        value.Clear();
        return E_FAIL;
    }
    return root->ReadParamValue(descriptor, value);
}

int32_t LRootModuleEngine::GetRootFirstParamID() const
{
    return root ? root->GetFirstParamID() : 0;
}

int LRootModuleEngine::OnNotification(const Orv::RCPtr<Orv::LNotificationDistributor>& sender,
                                      const Orv::RCPtr<Orv::LNotification>& notification)
{
    if (!handler || !initialised.load(std::memory_order_acquire)) {
        return 0;
    }
    return handler->HandleNotification(sender, notification);
}

Orv::ORVRESULT LRootModuleEngine::Unregister(
    const Orv::RCPtr<Orv::LNotificationDistributor>& source, const char16_t* idText)
{
    if (handler) {
        handler->RemoveHandler(source, idText);
    }
    return Orv::LNotificationClient::Unregister(source, idText);
}

Orv::ORVRESULT LRootModuleEngine::DropBackReferences()
{
    StopAndWait();
    return Orv::LNotificationClient::DropBackReferences();
}
