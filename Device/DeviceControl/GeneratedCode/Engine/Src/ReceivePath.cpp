#include "ReceivePath.h"

#include <exception>

#include "DeviceCommunicationInterface.h"

extern "C" void UlvaneReceiveCallback(void* context, int32_t /*ignored*/,
                                      const Orv::Variant* values)
{
    if (context == nullptr || values == nullptr) {
        return;
    }
    try {
        static_cast<LDeviceCommunicationInterface*>(context)->Enqueue(*values);
    } catch (const std::exception&) {
        // Out of memory: the batch is lost, but no exception may cross into the library.
    }
}

int LDeviceCommunicationThreadWorker::Run(Orv::RCPtr<Orv::LRefCountedObject>& parameters)
{
    // A plain pointer: the threader's own reference keeps the interface alive during the run.
    auto* owner = dynamic_cast<LDeviceCommunicationInterface*>(parameters.Get());
    if (owner != nullptr) {
        owner->DrainReceived();
    }
    return 0;
}
