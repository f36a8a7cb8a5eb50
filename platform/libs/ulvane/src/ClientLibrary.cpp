#include "ClientLibrary.h"

#include <algorithm>

#include "ParamItems.h"
#include "TestControl.h"

namespace Ulvane {

struct ClientLibrary::Connection final : IValueSink
{
    Connection(uint64_t serial, const Value& deviceId, std::shared_ptr<IDevice> device,
               UlvaneReceiveCallbackFn callback, void* context, CallbackThread& callbacks)
        : serial(serial),
          deviceId(deviceId),
          device(std::move(device)),
          callback(callback),
          context(context),
          callbacks(callbacks)
    {
    }

    void OnDeviceValues(const Value& values) override
    {
        callbacks.Post(serial, callback, context, values);
    }

    const uint64_t serial;
    const Value deviceId;
    const std::shared_ptr<IDevice> device;
    const UlvaneReceiveCallbackFn callback;
    void* const context;
    CallbackThread& callbacks;
};

ClientLibrary& ClientLibrary::Instance()
{
    static ClientLibrary library;
    return library;
}

ClientLibrary::ClientLibrary() : devices(simulation), control(std::make_unique<TestControl>(*this))
{
}

ClientLibrary::~ClientLibrary()
{
    ReleaseAll();
}

void ClientLibrary::Count(UlvaneTest::Export which)
{
    calls[static_cast<size_t>(which)].fetch_add(1, std::memory_order_relaxed);
}

uint64_t ClientLibrary::GetCallCount(UlvaneTest::Export which) const
{
    return calls[static_cast<size_t>(which)].load(std::memory_order_relaxed);
}

void ClientLibrary::ResetCounts()
{
    for (auto& count : calls) {
        count.store(0, std::memory_order_relaxed);
    }
}

UlvaneTest::IUlvaneControl& ClientLibrary::Control()
{
    return *control;
}

int32_t ClientLibrary::GetOpenConnectionCount()
{
    const std::lock_guard<std::mutex> guard(lock);
    return static_cast<int32_t>(connections.size());
}

int32_t ClientLibrary::FindDevices(const _GUID* filter, uint32_t filterCount, Value* ids,
                                   bool remote, bool oneShotScan)
{
    if (ids == nullptr || (filter == nullptr && filterCount != 0)) {
        return kUlvaneBadArgument;
    }
    std::vector<Value> found;
    const int32_t result = devices.ListDevices(remote, found);
    if (result < 0) {
        return result;
    }
    ids->SetList(found);
    return remote && oneShotScan ? devices.RemoteScanResult() : kUlvaneOk;
}

std::shared_ptr<ClientLibrary::Connection> ClientLibrary::FindConnection(const Value* id)
{
    if (id == nullptr) {
        return nullptr;
    }
    const std::lock_guard<std::mutex> guard(lock);
    const auto found = std::find_if(connections.begin(), connections.end(),
                                    [id](const auto& c) { return c->deviceId == *id; });
    return found != connections.end() ? *found : nullptr;
}

int32_t ClientLibrary::ConnectDevice(const Value* id, UlvaneReceiveCallbackFn callback,
                                     void* context)
{
    if (id == nullptr || callback == nullptr) {
        return kUlvaneBadArgument;
    }
    if (connectFails) {
        return kUlvaneConnectFailed;
    }
    std::shared_ptr<IDevice> device = devices.FindDevice(*id);
    if (device == nullptr) {
        return kUlvaneNoSuchDevice;
    }
    // Connecting again replaces the earlier connection and its callback.
    if (const std::shared_ptr<Connection> earlier = FindConnection(id)) {
        Close(earlier);
    }
    uint64_t serial = 0;
    {
        const std::lock_guard<std::mutex> guard(lock);
        serial = nextSerial++;
    }
    auto connection =
        std::make_shared<Connection>(serial, *id, device, callback, context, callbacks);
    callbacks.Open(serial);
    const int32_t attached = device->Attach(connection.get());
    if (attached < 0) {
        callbacks.Close(serial);
        return attached;
    }
    const std::lock_guard<std::mutex> guard(lock);
    connections.push_back(std::move(connection));
    return kUlvaneOk;
}

int32_t ClientLibrary::ListedDescriptors(IDevice& device, const Value& list, bool listIsRanges,
                                         std::vector<ParamDescriptor>& descriptors)
{
    std::vector<Value> items;
    if (!list.ReadList(items) || items.empty()) {
        return kUlvaneBadList;
    }
    const std::vector<int32_t> ids =
        listIsRanges ? device.GetParameterIds() : std::vector<int32_t>();
    for (const Value& item : items) {
        if (!listIsRanges) {
            if (!ReadDescriptorItem(item, descriptors.emplace_back())) {
                return kUlvaneBadList;
            }
            continue;
        }
        int32_t first = 0;
        int32_t length = 0;
        if (!ReadRangeItem(item, first, length) || length < 0) {
            return kUlvaneBadList;
        }
        for (const int32_t id : ids) {
            if (id >= first && int64_t{id} < int64_t{first} + length) {
                descriptors.emplace_back().id = id;
            }
        }
    }
    return kUlvaneOk;
}

int32_t ClientLibrary::ReadListed(const Value* id, const Value* list, bool listIsRanges,
                                  std::shared_ptr<Connection>& connection, Value& values)
{
    connection = FindConnection(id);
    if (connection == nullptr) {
        return kUlvaneNotConnected;
    }
    if (list == nullptr) {
        return kUlvaneBadArgument;
    }
    std::vector<ParamDescriptor> descriptors;
    const int32_t listed = ListedDescriptors(*connection->device, *list, listIsRanges, descriptors);
    if (listed < 0) {
        return listed;
    }
    std::vector<Value> items;
    for (const ParamDescriptor& descriptor : descriptors) {
        Value read;
        const int32_t result = connection->device->ReadValue(descriptor, read);
        if (result < 0) {
            return result;
        }
        items.push_back(MakeValueItem(descriptor, read));
    }
    values.SetList(items);
    return kUlvaneOk;
}

int32_t ClientLibrary::RequestValues(const Value* id, const Value* list, bool listIsRanges)
{
    std::shared_ptr<Connection> connection;
    Value values;
    const int32_t result = ReadListed(id, list, listIsRanges, connection, values);
    if (result < 0) {
        return result;
    }
    if (values.GetSize() != 0) {  // an empty list has no bytes
        callbacks.Post(connection->serial, connection->callback, connection->context, values);
    }
    return kUlvaneOk;
}

int32_t ClientLibrary::GetValues(const Value* id, const Value* list, bool listIsRanges,
                                 Value* values)
{
    if (values == nullptr) {
        return kUlvaneBadArgument;
    }
    std::shared_ptr<Connection> connection;
    Value read;
    const int32_t result = ReadListed(id, list, listIsRanges, connection, read);
    if (result >= 0) {
        *values = read;
    }
    return result;
}

int32_t ClientLibrary::GetParamValue(const Value* id, const ParamDescriptor* descriptor,
                                     Value* value)
{
    const std::shared_ptr<Connection> connection = FindConnection(id);
    if (connection == nullptr) {
        return kUlvaneNotConnected;
    }
    if (descriptor == nullptr || value == nullptr) {
        return kUlvaneBadArgument;
    }
    return connection->device->ReadValue(*descriptor, *value);
}

int32_t ClientLibrary::SetParamValue(const Value* id, const ParamDescriptor* descriptor,
                                     const Value* value)
{
    const std::shared_ptr<Connection> connection = FindConnection(id);
    if (connection == nullptr) {
        return kUlvaneNotConnected;
    }
    if (descriptor == nullptr || value == nullptr) {
        return kUlvaneBadArgument;
    }
    return connection->device->WriteValue(*descriptor, *value);
}

int32_t ClientLibrary::SetParamValues(const Value* id, const Value* values)
{
    const std::shared_ptr<Connection> connection = FindConnection(id);
    if (connection == nullptr) {
        return kUlvaneNotConnected;
    }
    if (values == nullptr) {
        return kUlvaneBadArgument;
    }
    std::vector<Value> listed;
    if (!values->ReadList(listed) || listed.empty()) {
        return kUlvaneBadList;
    }
    std::vector<std::pair<ParamDescriptor, Value>> items(listed.size());
    for (size_t i = 0; i < listed.size(); ++i) {
        if (!ReadValueItem(listed[i], items[i].first, items[i].second)) {
            return kUlvaneBadList;
        }
    }
    for (const auto& [descriptor, value] : items) {
        const int32_t result = connection->device->WriteValue(descriptor, value);
        if (result < 0) {
            return result;
        }
    }
    return kUlvaneOk;
}

void ClientLibrary::Close(const std::shared_ptr<Connection>& connection)
{
    {
        const std::lock_guard<std::mutex> guard(lock);
        connections.erase(std::remove(connections.begin(), connections.end(), connection),
                          connections.end());
    }
    connection->device->Detach(connection.get());
    callbacks.Close(connection->serial);
}

int32_t ClientLibrary::DisconnectDevice(const Value* id)
{
    const std::shared_ptr<Connection> connection = FindConnection(id);
    if (connection == nullptr) {
        return kUlvaneNotConnected;
    }
    Close(connection);
    return kUlvaneOk;
}

int32_t ClientLibrary::IsDeviceConnected(const Value* id)
{
    const std::shared_ptr<Connection> connection = FindConnection(id);
    return connection != nullptr && connection->device->IsPresent() ? 0 : 1;
}

int32_t ClientLibrary::GetDeviceInfo(const Value* id, uint8_t* record)
{
    if (id == nullptr || record == nullptr) {
        return kUlvaneBadArgument;
    }
    const std::shared_ptr<IDevice> device = devices.FindDevice(*id);
    if (device == nullptr) {
        return kUlvaneNoSuchDevice;
    }
    return device->ReadInfo(record);
}

void ClientLibrary::ReleaseAll()
{
    std::vector<std::shared_ptr<Connection>> open;
    {
        const std::lock_guard<std::mutex> guard(lock);
        open = connections;
    }
    for (const auto& connection : open) {
        Close(connection);
    }
    callbacks.Stop();
}

}  // namespace Ulvane
