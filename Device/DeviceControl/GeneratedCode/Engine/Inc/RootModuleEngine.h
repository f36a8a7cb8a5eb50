#pragma once
// LRootModuleEngine: the device parameter engine as the panels see it. It owns the channel to the
// device, the parameter cache and the root module; finds the devices and connects the first;
// keeps a connection state; scans for remote devices when asked; and turns every value that
// changes into a notification of the "application" center. The panels read and write values
// through it, or ask for a change with "NID_PARAM_MODULE_CHANGE_REQ".
//
// Threads: the UI thread (start-up, the panels' calls, the change-request handler at idle time),
// the engine thread (a RetriggerableThreader running Run in 1500 ms cycles only while there is
// something to watch) and the receive thread (through the root into PublishValues).
//
// Locks: the engine lock guards the current device id, the connection state, the
// connect-requested flag and the device list; it comes before the channel's locks and is never
// held together with the root's store lock (PublishValues runs under the store lock and takes no
// engine lock; the root is called without the engine lock except for Connect, which takes no root
// lock). Notifications are posted with no engine lock held.
//
// Lifetime: the application holds the engine. A running engine pass holds it as a back
// reference, so that releasing the last plain reference stops the pass (DropBackReferences).

#include <atomic>
#include <cstdint>
#include <memory>

#include "DeviceCommunicationInterface.h"
#include "Notification/NotificationCenter.h"
#include "Notification/NotificationClient.h"
#include "Notification/NotificationHandler.h"
#include "ObjectBase/Holder.h"
#include "ObjectBase/Pair.h"
#include "ObjectBase/Wrapper.h"
#include "ParamCache.h"
#include "RootModule.h"
#include "System/Mutex.h"
#include "System/RetriggerableThreader.h"
#include "System/ThreadWorker.h"

class LRootModuleEngine : public Orv::LNotificationClient, public Orv::LThreadWorker
{
public:
    enum DeviceConnectionState : int32_t
    {
        kDisconnected = 0,
        kConnecting = 1,  // a failed connect waits to be retried by the engine thread
        kConnected = 3,
    };

    // The parameters of the engine's notifications.
    using ValueChange =
        Orv::LPair<Orv::ParamDescriptor, Orv::Variant, &Orv::ParamDescriptorToString>;
    using ValueList = Orv::LWrapper<Orv::ParamValues>;
    using StateHolder = Orv::LHolder<DeviceConnectionState>;
    using DeviceCountHolder = Orv::LHolder<unsigned int>;

    static constexpr uint32_t kCycleMilliseconds = 1500;
    // Waiting polls of the device list between two one-shot scans.
    static constexpr uint32_t kPollsPerScan = 8;
    static constexpr uint32_t kStopPolls = 10000;

    // Throws a runtime error when the engine thread cannot be created.
    static Orv::RCPtr<LRootModuleEngine> Create();
    ~LRootModuleEngine() override;

    // Binds the change request at the "application" center (a refusal throws a failed result),
    // makes channel, cache and root, finds the devices, publishes the 11 starting values in one
    // notification and connects the first device. 0, or E_FAIL when the handler cannot be made.
    Orv::ORVRESULT Initialize(int32_t firstId);
    // Connects a device (the previous one is disconnected). A failed connect with retry to a
    // present device leaves the state connecting, and the engine thread retries it.
    Orv::ORVRESULT ConnectDevice(const Orv::Variant& deviceId, bool retry);
    Orv::ORVRESULT DisconnectDevice();
    // Switches the background scan; the first switch on polls the library once and its result is
    // the answer of every later switch on (a failure keeps the scan off).
    Orv::ORVRESULT EnableRemoteDeviceScan(bool on);
    Orv::ORVRESULT GetRemoteDeviceList(Orv::Array<Orv::Variant>& out);
    // Only while connected (E_FAIL otherwise); a failed write re-evaluates the state.
    Orv::ORVRESULT SetParamValue(const Orv::ParamDescriptor& descriptor, const Orv::Variant& value);
    Orv::ORVRESULT GetParamValue(const Orv::ParamDescriptor& descriptor, Orv::Variant& value);
    int32_t GetRootFirstParamID() const;
    Orv::ORVRESULT PostNamedNotification(const Orv::RCPtr<Orv::LNotificationCenter>& center,
                                         const char16_t* idText,
                                         const Orv::RCPtr<Orv::LRefCountedObject>& parameter);
    // Three or more values: one notification carrying them all; fewer: one per value. Any thread.
    void PublishValues(const Orv::Array<Orv::ParamValue>& values);

    DeviceConnectionState GetConnectionState() const;
    bool IsEngineThreadRunning() const { return threader && threader->IsRunning(); }

    // LNotificationReceiver
    int OnNotification(const Orv::RCPtr<Orv::LNotificationDistributor>& sender,
                       const Orv::RCPtr<Orv::LNotification>& notification) override;
    Orv::ORVRESULT Unregister(const Orv::RCPtr<Orv::LNotificationDistributor>& source,
                              const char16_t* idText) override;
    // LThreadWorker: one pass of the engine thread.
    int Run(Orv::RCPtr<Orv::LRefCountedObject>& parameters) override;
    // Stops the engine thread, then unregisters everywhere.
    Orv::ORVRESULT DropBackReferences() override;

private:
    LRootModuleEngine();

    static void PublishFromRoot(void* context, const Orv::Array<Orv::ParamValue>& values);
    int OnChangeRequest(const Orv::RCPtr<Orv::LNotificationDistributor>& sender,
                        const Orv::RCPtr<Orv::LNotification>& notification);
    // Caller holds the engine lock.
    bool IsDevicePresent(const Orv::Variant& deviceId) const;
    void UpdateConnectionState();
    void PostConnectionState(DeviceConnectionState state);
    void PostDeviceCount(unsigned int count);
    Orv::ORVRESULT StartEngineThread();
    void StopEngineThreadIfIdle();
    bool StopAndWait();
    // One cycle's scan step; rescan and counter are the pass's.
    void ScanCycle(uint32_t& counter, bool& rescan);

    Orv::RCPtr<Orv::LNotificationHandler<LRootModuleEngine>> handler;
    Orv::RCPtr<Orv::LNotificationCenter> center;
    std::atomic<bool> initialised{false};
    bool libraryFailed = false;
    std::atomic<bool> stop{true};
    std::atomic<bool> busy{false};
    std::atomic<bool> scanEnabled{false};
    bool firstScanDone = false;          // UI thread
    Orv::ORVRESULT firstScanResult = 0;  // UI thread
    // Guarded by the engine lock.
    bool connectRequested = false;
    DeviceConnectionState connectionState = kDisconnected;
    Orv::Array<Orv::Variant> deviceList;
    Orv::Variant currentDeviceId;

    Orv::RCPtr<LDeviceCommunicationInterface> communication;
    Orv::RCPtr<LParamCache> cache;
    Orv::RCPtr<LRootModule> root;
    std::unique_ptr<Orv::RetriggerableThreader> threader;
    mutable Orv::Mutex lock;
};
