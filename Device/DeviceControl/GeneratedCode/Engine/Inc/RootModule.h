#pragma once
// The engine's root module: the receiver of the device's values and the hub of all parameter
// traffic. Values from the device are routed to the module that owns their id, cached, and each
// one that changes the cache is handed to the engine to publish; values of ids nobody owns are
// published only. Values from the panels are cached, published and sent to the device. Offline,
// the root works with its cache alone.
//
// The store lock (re-entrant) serialises everything that touches the cache and the pending
// array: the receive thread, the panels' and the engine's reads and writes, and the status
// injection, which comes back into the receiver on the writing thread with the lock held. The
// engine callback runs under it and must take no lock of the engine.
//
// Lifetime: created by the engine, which holds it; it holds the device module, the cache and the
// communication interface, and is the interface's receiver until it is destroyed.

#include <atomic>
#include <cstdint>

#include "Device.h"
#include "DeviceCommunicationReceiver.h"
#include "ParamCache.h"
#include "RootModuleInterface.h"
#include "System/Mutex.h"
#include "Utilities/Storage/Array.h"

class LRootModule : public IRootModule, public DeviceCommunicationReceiver
{
public:
    // The engine's publishing entry, called with the context given to Initialize.
    using EngineCallback = void (*)(void* context, const Orv::Array<Orv::ParamValue>& values);

    // A root with its device module and that module's children.
    static Orv::RCPtr<LRootModule> Create(bool offline);
    ~LRootModule() override;

    // Keeps callback, context, cache and interface; gives the tree its first ids; seeds the cache
    // with the modules' defaults (nothing published); becomes the interface's receiver. 0.
    Orv::ORVRESULT Initialize(EngineCallback callback, void* context,
                              const Orv::RCPtr<LParamCache>& cache,
                              const Orv::RCPtr<LDeviceCommunicationInterface>& communication,
                              int32_t firstId);
    // Disconnects the previous device and connects this one; on success asks for every value of
    // the id block and the device name, which arrive later through the receiver. A failure sets
    // offline and is returned. Takes no lock of the root.
    Orv::ORVRESULT Connect(const Orv::Variant& deviceId);
    // No value reaches the receiver after this returns. 0.
    Orv::ORVRESULT StopReceiving();
    bool IsOffline() const { return offline.load(std::memory_order_acquire); }

    // DeviceCommunicationReceiver
    void OnParamValuesReceived(const Orv::ParamValues& values) override;
    Orv::ORVRESULT ReceiveOther(int32_t kind, const Orv::Variant* data, void* context) override;

    // IRootModule and LParameterizedModule
    Orv::ORVRESULT SetParamValueChild(const Orv::ParamDescriptor& descriptor,
                                      const Orv::Variant& value) override;
    void GetParamValueChild(Orv::Variant& value,
                            const Orv::ParamDescriptor& descriptor) const override;
    // Caches a value of the block that is not empty and differs from the cached one, and
    // publishes it: 0 (also when nothing changed); -1 for an id outside the block.
    Orv::ORVRESULT SetParamValue(const Orv::ParamDescriptor& descriptor,
                                 const Orv::Variant& value) override;
    // The cached value; empty when the cache has none.
    void GetParamValue(Orv::Variant& value, const Orv::ParamDescriptor& descriptor) const override;
    void SendParamValue(const Orv::ParamDescriptor& descriptor, const Orv::Variant& value) override;
    Orv::RCPtr<LDeviceCommunicationInterface> GetDeviceCommunicationInterface() override;
    Orv::ORVRESULT StoreParamValue(const Orv::ParamDescriptor& descriptor,
                                   const Orv::Variant& value) override;
    Orv::ORVRESULT ReadParamValue(const Orv::ParamDescriptor& descriptor,
                                  Orv::Variant& value) override;
    Orv::RCPtr<IDevice> GetDevice() override;

    virtual Orv::RCPtr<LParamCache> GetParamCache();
    virtual void NotifyEngine(const Orv::Array<Orv::ParamValue>& values);
    virtual void CreateChildModules();

private:
    explicit LRootModule(bool offline);
    bool IsOwnBlockId(int32_t id) const;

    std::atomic<bool> offline;
    Orv::RCPtr<IDevice> device;
    EngineCallback engineCallback = nullptr;
    void* engineContext = nullptr;
    Orv::RCPtr<LDeviceCommunicationInterface> communication;
    Orv::RCPtr<LParamCache> cache;
    // The store lock and the one-element array handed to the engine for each published value.
    mutable Orv::Mutex storeLock;
    Orv::Array<Orv::ParamValue> pending;
};
