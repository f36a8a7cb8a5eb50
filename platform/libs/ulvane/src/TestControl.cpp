#include "TestControl.h"

#include "ClientLibrary.h"

namespace Ulvane {

void TestControl::Reset()
{
    library.ReleaseAll();
    library.Simulation().Clear();
    library.connectFails = false;
    library.ResetCounts();
}

void TestControl::AddDevice(const char* name, bool remote, Value* id)
{
    const auto device = library.Simulation().Plug(name != nullptr ? name : "", remote);
    if (id != nullptr) {
        *id = device->GetId();
    }
}

bool TestControl::RemoveDevice(const char* name)
{
    return name != nullptr && library.Simulation().Unplug(name);
}

void TestControl::SetConnectFails(bool fails)
{
    library.connectFails = fails;
}

void TestControl::SetDriverInterfaceMissing(bool missing)
{
    library.Simulation().SetDriverInterfaceMissing(missing);
}

void TestControl::SetRemoteScanResult(int32_t result)
{
    library.Simulation().SetRemoteScanResult(result);
}

bool TestControl::PushValue(const char* name, int32_t parameterId, const Value* value)
{
    const auto device = name != nullptr ? library.Simulation().FindByName(name) : nullptr;
    return device != nullptr && value != nullptr && device->Push(parameterId, *value);
}

bool TestControl::PushList(const char* name, const Value* list)
{
    const auto device = name != nullptr ? library.Simulation().FindByName(name) : nullptr;
    return device != nullptr && list != nullptr && device->PushList(*list);
}

bool TestControl::GetDeviceValue(const char* name, int32_t parameterId, Value* value)
{
    const auto device = name != nullptr ? library.Simulation().FindByName(name) : nullptr;
    return device != nullptr && value != nullptr && device->Peek(parameterId, *value);
}

void TestControl::WaitForCallbacks()
{
    library.Callbacks().WaitIdle();
}

uint64_t TestControl::GetCallCount(UlvaneTest::Export which)
{
    return library.GetCallCount(which);
}

int32_t TestControl::GetOpenConnectionCount()
{
    return library.GetOpenConnectionCount();
}

bool TestControl::IsCallbackThreadRunning()
{
    return library.Callbacks().IsRunning();
}

}  // namespace Ulvane
