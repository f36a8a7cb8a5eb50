// Whatever Windows (or anything else) left in the audio endpoint store, the rename of this
// device's stored formats reads it without crashing, gives back every buffer it took, and leaves
// the endpoints of other devices exactly as they were.
//
// The product's driver is loaded and its device started once; each input then fills four endpoint
// slots (render and capture) with values of any name, type and length, runs a rename and a rename
// for a rate change, and checks the store.
//
// Input: bytes 0-1 pick the two rates (indexes into a table); then records until the input ends:
// byte 0 = slot (bits 0-1) and value name (bits 2-4: 0-3 the instance path and the three format
// names, 4 and up a name taken from the data), byte 1 = type, byte 2 = length n, then n bytes of
// data. An instance path of type 1 whose first data byte is 0xF0 or 0xF1 becomes this device's own
// path (0xF1: cut short by the second byte), so that the rewrite itself is reached.
#include <KernelTestApi.h>
#include <KsHostApi.h>
#include <PluggedUsbDevices.h>
#include <Registry/MachineRegistry.h>
#include <UsbDescriptorSet.h>

#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "device/DeviceContext.h"
#include "device/EndpointNaming.h"
#include "product/ProductDeviceParts.h"

namespace {

using Platform::Registry::Hive;
using Platform::Registry::MachineRegistry;
using Platform::Registry::Result;
using Platform::Registry::Value;
using Platform::Registry::View;

constexpr size_t kSlots = 4;
const char16_t* const kSlotKeys[kSlots] = {
    u"{0.0.0.00000000}.{fuzz-0}", u"{0.0.0.00000000}.{fuzz-1}", u"{0.0.1.00000000}.{fuzz-2}",
    u"{0.0.1.00000000}.{fuzz-3}"};
const char16_t* const kKnownNames[] = {
    Platform::Ks::kMmInstancePathValue, Platform::Ks::kMmOemFormatValue,
    Platform::Ks::kMmDeviceFormatValue, Platform::Ks::kMmMixFormatValue};
const ULONG kRates[] = {0, 44100, 48000, 88200, 96000, 0xFFFFFFFF};

bool IsCapture(size_t slot)
{
    return slot >= 2;
}

struct LoadedProduct
{
    Platform::Ks::PluggedUsbDevices usb;
    std::unique_ptr<Platform::Ks::Driver> driver;
    DeviceContext* context = nullptr;
    std::u16string ownPrefix;  // what an instance path of this device begins with
    std::u16string ownPath;    // the instance path Windows stores for this device
};

LoadedProduct& Product()
{
    static LoadedProduct* product = [] {
        Platform::Kernel::ResetKernel();
        Platform::Kernel::ResetHostState();
        auto* p = new LoadedProduct;
        NTSTATUS status = STATUS_UNSUCCESSFUL;
        p->driver = Platform::Ks::Driver::Load(ProductDriverEntry, &status);
        std::string error;
        Platform::Ks::Device* device =
            status == STATUS_SUCCESS ? p->usb.PlugIn(*p->driver, UsbSim::ProductUac2(), &error)
                                     : nullptr;
        if (device == nullptr || device->Send(Platform::Ks::PnpRequest::Start) != STATUS_SUCCESS) {
            abort();
        }
        Platform::Kernel::RunPending();
        p->context = static_cast<DeviceContext*>(device->KsDevice()->Context);
        p->ownPrefix = u"{1}.";
        for (PCWSTR c = p->context->hardwareIdPrefix; c != nullptr && *c != 0; ++c) {
            p->ownPrefix += *c;
        }
        p->ownPath = p->ownPrefix + u"\\5&0&0&0000";
        for (size_t slot = 0; slot < kSlots; ++slot) {
            Platform::Ks::StoreAudioEndpoint(IsCapture(slot), kSlotKeys[slot], u"");
        }
        return p;
    }();
    return *product;
}

std::u16string Properties(size_t slot)
{
    return Platform::Ks::AudioEndpointProperties(IsCapture(slot), kSlotKeys[slot]);
}

std::map<std::u16string, Value> ValuesOf(size_t slot)
{
    std::map<std::u16string, Value> values;
    std::u16string name;
    Value value;
    for (size_t i = 0;
         MachineRegistry::Instance().EnumerateValue(Hive::LocalMachine, Properties(slot),
                                                    View::Native, i, &name, &value) == Result::Ok;
         ++i) {
        values[name] = value;
    }
    return values;
}

void ClearSlots()
{
    for (size_t slot = 0; slot < kSlots; ++slot) {
        for (const auto& [name, value] : ValuesOf(slot)) {
            MachineRegistry::Instance().DeleteValue(Hive::LocalMachine, Properties(slot), name);
        }
    }
}

std::u16string NameFrom(const std::vector<uint8_t>& data)
{
    std::u16string name;
    for (size_t i = 0; i + 1 < data.size() && name.size() < 40; i += 2) {
        name += static_cast<char16_t>(data[i] | data[i + 1] << 8);
    }
    return name;
}

// Writes one record; an instance path may become this device's own, whole or cut short.
void WriteRecord(const LoadedProduct& product, uint8_t pick, uint8_t type,
                 std::vector<uint8_t> data)
{
    const size_t slot = pick & 3;
    const size_t nameIndex = (pick >> 2) & 7;
    std::u16string name = nameIndex < 4 ? std::u16string(kKnownNames[nameIndex]) : NameFrom(data);
    if (nameIndex == 0 && type == REG_SZ && !data.empty() && (data[0] == 0xF0 || data[0] == 0xF1)) {
        std::u16string path = product.ownPath;
        if (data[0] == 0xF1 && data.size() > 1) {
            path.resize(data[1] % (path.size() + 1));
        }
        data.clear();
        for (char16_t c : path) {
            data.push_back(static_cast<uint8_t>(c));
            data.push_back(static_cast<uint8_t>(c >> 8));
        }
        data.push_back(0);
        data.push_back(0);
    }
    MachineRegistry::Instance().SetValue(Hive::LocalMachine, Properties(slot), name,
                                         Value{type, std::move(data)});
}

// An endpoint of another device: no string instance path that carries this device's whole
// hardware-ID prefix after its first four characters.
bool BelongsToOthers(const LoadedProduct& product, const std::map<std::u16string, Value>& values)
{
    const auto path = values.find(Platform::Ks::kMmInstancePathValue);
    if (path == values.end() ||
        (path->second.type != REG_SZ && path->second.type != REG_EXPAND_SZ)) {
        return true;
    }
    const std::u16string& prefix = product.ownPrefix;
    const std::vector<uint8_t>& bytes = path->second.data;
    if (bytes.size() < prefix.size() * 2) {
        return true;
    }
    for (size_t i = 4; i < prefix.size(); ++i) {
        const char16_t c = static_cast<char16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
        if ((c & 0xFFDF) != (prefix[i] & 0xFFDF)) {
            return true;
        }
    }
    return false;
}

void CheckStore(const LoadedProduct& product,
                const std::map<std::u16string, Value> (&before)[kSlots])
{
    for (size_t slot = 0; slot < kSlots; ++slot) {
        const auto after = ValuesOf(slot);
        if (BelongsToOthers(product, before[slot]) && after != before[slot]) {
            abort();  // another device's endpoint was changed
        }
        // This device's values keep their names, types and lengths.
        if (after.size() != before[slot].size()) {
            abort();
        }
        for (const auto& [name, value] : before[slot]) {
            const auto now = after.find(name);
            if (now == after.end() || now->second.type != value.type ||
                now->second.data.size() != value.data.size()) {
                abort();
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    LoadedProduct& product = Product();
    if (size < 2 || size > 4096) {
        return 0;
    }
    ClearSlots();
    for (size_t at = 2; at + 3 <= size;) {
        const size_t length = data[at + 2];
        const size_t end = at + 3 + length <= size ? at + 3 + length : size;
        WriteRecord(product, data[at], data[at + 1],
                    std::vector<uint8_t>(data + at + 3, data + end));
        at = end;
    }
    std::map<std::u16string, Value> before[kSlots];
    for (size_t slot = 0; slot < kSlots; ++slot) {
        before[slot] = ValuesOf(slot);
    }
    const size_t pool = Platform::Kernel::OutstandingPool().size();
    RenameMmDeviceEndpoints(product.context, kRates[data[0] % std::size(kRates)]);
    RenameMmDeviceEndpoints(product.context, kRates[data[1] % std::size(kRates)]);
    Platform::Kernel::RunPending();
    if (Platform::Kernel::OutstandingPool().size() != pool) {
        abort();  // the rename kept a buffer
    }
    CheckStore(product, before);
    return 0;
}
