#pragma once
// The way in for the values the client library sends: its callback only copies a batch into the
// receive queue and wakes the receive thread, whose worker hands the queued batches, in order, to
// the receiver (see DeviceCommunicationInterface.h).

#include <cstdint>

#include "System/ThreadWorker.h"
#include "Utilities/Storage/Variant.h"

// The library's receive callback, on the library's thread: context is the
// LDeviceCommunicationInterface the device was connected with. A null list or context is
// ignored.
extern "C" void UlvaneReceiveCallback(void* context, int32_t ignored, const Orv::Variant* values);

class LDeviceCommunicationThreadWorker : public Orv::LThreadWorker
{
public:
    // Drains the queue of the LDeviceCommunicationInterface given as parameter object; 0.
    int Run(Orv::RCPtr<Orv::LRefCountedObject>& parameters) override;
};
