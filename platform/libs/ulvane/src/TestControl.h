#pragma once
// The tests' control of the library (UlvaneTest/UlvaneControl.h), on its simulated devices.

#include "UlvaneTest/UlvaneControl.h"

namespace Ulvane {

class ClientLibrary;

class TestControl final : public UlvaneTest::IUlvaneControl
{
public:
    explicit TestControl(ClientLibrary& library) : library(library) {}
    ~TestControl() = default;

    void Reset() override;
    void AddDevice(const char* name, bool remote, Value* id) override;
    bool RemoveDevice(const char* name) override;
    void SetConnectFails(bool fails) override;
    void SetDriverInterfaceMissing(bool missing) override;
    void SetRemoteScanResult(int32_t result) override;
    bool PushValue(const char* name, int32_t parameterId, const Value* value) override;
    bool PushList(const char* name, const Value* list) override;
    bool GetDeviceValue(const char* name, int32_t parameterId, Value* value) override;
    void WaitForCallbacks() override;
    uint64_t GetCallCount(UlvaneTest::Export which) override;
    int32_t GetOpenConnectionCount() override;
    bool IsCallbackThreadRunning() override;

private:
    ClientLibrary& library;
};

}  // namespace Ulvane
