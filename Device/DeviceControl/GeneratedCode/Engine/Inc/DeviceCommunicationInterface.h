#pragma once
// The panel's channel to one device through the client library: it owns the binding, remembers
// the device it connected, and owns the receive queue and thread through which the device's
// values reach the receiver. Every device operation uses the remembered device id. No operation
// throws.
//
// Results: -1 no binding (before Initialize) or the library or its export is missing; E_FAIL
// refused or failed here; -3 a device id is stored but not connected; otherwise the library's.
//
// Locks, in order: the drain lock (held by the receive thread while it delivers), then the
// receiver's own locks, then the state lock (guards the device id; never held while the library
// or the receiver is called). The receive queue has its own lock.
//
// Lifetime: the receive threader holds this interface as its parameter object, counted as a back
// reference; when the last other reference goes, DropBackReferences releases the threader, which
// stops the receive thread, and the interface is destroyed: it disables receiving, disconnects,
// and unloads the library.

#include <cstdint>
#include <memory>

#include <windows.h>

#include "DeviceCommunicationReceiver.h"
#include "ObjectBase/RCPtr.h"
#include "ReceivePath.h"
#include "Utilities/Storage/Array.h"
#include "Utilities/Storage/ParamLists.h"

namespace Orv {
class UlvaneInterface;
}

class LDeviceCommunicationInterface : public virtual Orv::LRefCountedObject
{
public:
    // The interval of the remote-device polls of WaitForRemoteDeviceChange.
    static constexpr uint32_t kRemotePollMilliseconds = 250;
    static constexpr int32_t kNoBinding = -1;
    static constexpr int32_t kNotConnected = -3;

    // A new interface whose receive thread waits for values; no binding yet. Throws a runtime
    // error when the thread cannot be started.
    static Orv::RCPtr<LDeviceCommunicationInterface> Create();
    ~LDeviceCommunicationInterface() override;

    // The binding, with the library the registry names or the one next to the program: 0, 1
    // when it exists already, E_FAIL when it could not be made. A library that does not load
    // still makes a binding.
    virtual Orv::ORVRESULT Initialize();
    virtual bool IsCommunicationAvailable();
    // Feeds [value, available] as pseudo parameter -4 to the receiver, on this thread; returns
    // whether communication is available (false without receiver).
    virtual bool InjectStatusValue(int64_t value);
    // Waits for any operation that holds the state lock.
    virtual void Synchronize();
    virtual void OnReceiverReady();
    virtual Orv::ORVRESULT FindDevices(const Orv::Array<GUID>& filter,
                                       Orv::Array<Orv::Variant>& ids);
    // Polls the remote devices every kRemotePollMilliseconds until their list differs from
    // `known` (0) or timeoutMilliseconds have passed (1); `known` is the latest list.
    virtual Orv::ORVRESULT WaitForRemoteDeviceChange(const Orv::Array<GUID>& filter,
                                                     Orv::Array<Orv::Variant>& known,
                                                     uint32_t timeoutMilliseconds);
    virtual Orv::ORVRESULT FindRemoteDevices(const Orv::Array<GUID>& filter,
                                             Orv::Array<Orv::Variant>& ids);
    virtual Orv::ORVRESULT ConnectDevice(const Orv::Variant& deviceId);
    virtual Orv::ORVRESULT RequestParamRanges(const Orv::ParamRanges& ranges);
    virtual Orv::ORVRESULT RequestParamValues(const Orv::ParamDescriptors& descriptors);
    virtual Orv::ORVRESULT RequestParamValue(const Orv::ParamDescriptor& descriptor);
    virtual Orv::ORVRESULT GetParamRanges(const Orv::Variant* ranges, Orv::Variant* values);
    virtual Orv::ORVRESULT GetParamValues(const Orv::Variant* descriptors, Orv::Variant* values);
    virtual Orv::ORVRESULT GetParamValue(const Orv::ParamDescriptor& descriptor,
                                         Orv::Variant& value);
    virtual Orv::ORVRESULT SetParamValue(const Orv::ParamDescriptor& descriptor,
                                         const Orv::Variant& value);
    virtual Orv::ORVRESULT SetParamValues(const Orv::ParamValues& values);
    virtual bool IsDeviceConnected();
    // deviceId becomes the stored id: 0 when connected, kNotConnected otherwise.
    virtual Orv::ORVRESULT GetConnectionStatus(Orv::Variant& deviceId);
    // Disconnects the stored device; the id is kept.
    virtual Orv::ORVRESULT DisconnectDevice();
    // For the given device, not the stored one; record: 256 bytes.
    virtual Orv::ORVRESULT GetDeviceInfo(const Orv::Variant& deviceId, uint8_t* record);
    virtual Orv::ORVRESULT GetDeviceName(Orv::Variant& name);
    virtual Orv::ORVRESULT SetDeviceName(const Orv::Variant& name);
    virtual Orv::ORVRESULT GetProductIndex(int32_t& index);

    // Not owned; the root module sets itself.
    void SetReceiver(DeviceCommunicationReceiver* receiver);
    // Disabling waits for a delivery in progress: once it returns, no value reaches the
    // receiver until receiving is enabled again.
    void SetReceiveEnabled(bool enabled);

    Orv::ORVRESULT DropBackReferences() override;

private:
    struct State;

    LDeviceCommunicationInterface();
    // The binding as it is now, null before Initialize.
    Orv::UlvaneInterface* Binding() const;
    Orv::Variant CopyDeviceId() const;
    // kNoBinding, or call(binding, copy of the device id) with the state lock released.
    template <class Call>
    Orv::ORVRESULT CallWithDeviceId(Call call) const;
    // The stored device's items of a library list into ids.
    static void CopyItems(const Orv::Variant& list, Orv::Array<Orv::Variant>& ids);
    void Enqueue(const Orv::Variant& values);
    void DrainReceived();

    std::unique_ptr<State> state;

    friend void ::UlvaneReceiveCallback(void*, int32_t, const Orv::Variant*);
    friend class LDeviceCommunicationThreadWorker;
};
