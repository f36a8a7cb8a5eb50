#pragma once
// The state behind the exports: the open connections, the callback thread and the device side.
// One per loaded library; every operation may be called from any thread.

#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "CallbackThread.h"
#include "DeviceSide.h"
#include "SimulatedDeviceSide.h"
#include "Ulvane.h"
#include "UlvaneTest/UlvaneControl.h"

namespace Ulvane {

class TestControl;

class ClientLibrary
{
public:
    static ClientLibrary& Instance();
    ~ClientLibrary();

    int32_t FindDevices(const _GUID* filter, uint32_t filterCount, Value* ids, bool remote,
                        bool oneShotScan);
    int32_t ConnectDevice(const Value* id, UlvaneReceiveCallbackFn callback, void* context);
    // Reads the listed parameters and sends them through the callback as one batch.
    int32_t RequestValues(const Value* id, const Value* list, bool listIsRanges);
    // Reads the listed parameters into a ParamValues list.
    int32_t GetValues(const Value* id, const Value* list, bool listIsRanges, Value* values);
    int32_t GetParamValue(const Value* id, const ParamDescriptor* descriptor, Value* value);
    int32_t SetParamValue(const Value* id, const ParamDescriptor* descriptor, const Value* value);
    // Writes in list order and stops at the first value the device refuses.
    int32_t SetParamValues(const Value* id, const Value* values);
    int32_t DisconnectDevice(const Value* id);
    int32_t IsDeviceConnected(const Value* id);
    int32_t GetDeviceInfo(const Value* id, uint8_t* record);
    void ReleaseAll();

    void Count(UlvaneTest::Export which);
    UlvaneTest::IUlvaneControl& Control();

    // For the control side.
    SimulatedDeviceSide& Simulation() { return simulation; }
    CallbackThread& Callbacks() { return callbacks; }
    uint64_t GetCallCount(UlvaneTest::Export which) const;
    int32_t GetOpenConnectionCount();
    void ResetCounts();

private:
    struct Connection;

    ClientLibrary();
    std::shared_ptr<Connection> FindConnection(const Value* id);
    // The descriptors a list names: a ParamDescriptors list as it is, a ParamRanges list as the
    // device's ids inside its ranges.
    int32_t ListedDescriptors(IDevice& device, const Value& list, bool listIsRanges,
                              std::vector<ParamDescriptor>& descriptors);
    int32_t ReadListed(const Value* id, const Value* list, bool listIsRanges,
                       std::shared_ptr<Connection>& connection, Value& values);
    void Close(const std::shared_ptr<Connection>& connection);

    SimulatedDeviceSide simulation;
    IDeviceSide& devices;
    CallbackThread callbacks;
    std::mutex lock;
    std::vector<std::shared_ptr<Connection>> connections;  // guarded by lock
    uint64_t nextSerial = 1;                               // guarded by lock
    std::atomic<bool> connectFails{false};
    std::array<std::atomic<uint64_t>, static_cast<size_t>(UlvaneTest::Export::Count)> calls{};
    std::unique_ptr<TestControl> control;

    friend class TestControl;
};

}  // namespace Ulvane
