#pragma once
// Where the device-communication interface delivers the values it receives: the root module. It
// is called from the receive thread, and from the thread that injects a status value, so it
// guards itself and does not rely on the caller's locks.

#include <cstdint>

#include "ObjectBase/OrvResult.h"
#include "Utilities/Storage/ParamLists.h"

class DeviceCommunicationReceiver
{
public:
    // One batch, as the library sent it: usually a ParamValues list; what cannot be read is
    // skipped by the receiver.
    virtual void OnParamValuesReceived(const Orv::ParamValues& values) = 0;
    // Data of other kinds; nothing sends any yet.
    virtual Orv::ORVRESULT ReceiveOther(int32_t kind, const Orv::Variant* data, void* context) = 0;

protected:
    ~DeviceCommunicationReceiver() = default;
};
