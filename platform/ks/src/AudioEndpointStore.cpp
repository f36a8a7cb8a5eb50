// The audio service's endpoint store: what Windows records under MMDevices when a device's render
// or capture interface appears, so that a driver that edits it works on what Windows would have
// written there.
#include <KsHostApi.h>
#include <Registry/MachineRegistry.h>

#include <cstdio>

#include "KsInternal.h"

namespace Platform::Ks {
namespace {

using Platform::Registry::Hive;
using Platform::Registry::MachineRegistry;
using Platform::Registry::Result;
using Platform::Registry::Value;
using Platform::Registry::View;

constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegBinary = 3;
constexpr uint32_t kBlobType = 0x41;  // VT_BLOB
constexpr uint16_t kExtensibleTag = 0xFFFE;
constexpr uint16_t kExtensibleSize = 22;
constexpr uint8_t kPcmSubFormat[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                       0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
constexpr uint8_t kFloatSubFormat[16] = {0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                         0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

void Put16(std::vector<uint8_t>& out, uint16_t v)
{
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void Put32(std::vector<uint8_t>& out, uint32_t v)
{
    Put16(out, static_cast<uint16_t>(v));
    Put16(out, static_cast<uint16_t>(v >> 16));
}

std::vector<uint8_t> Utf16Z(const std::u16string& text)
{
    std::vector<uint8_t> bytes;
    for (char16_t c : text) {
        Put16(bytes, c);
    }
    Put16(bytes, 0);
    return bytes;
}

// A stable endpoint id per interface link, as the audio service derives one per endpoint.
std::u16string EndpointKeyFor(const std::u16string& symbolicLink)
{
    uint64_t hash = 1469598103934665603ull;
    for (char16_t c : symbolicLink) {
        hash = (hash ^ c) * 1099511628211ull;
    }
    char text[64];
    std::snprintf(text, sizeof text, "{0.0.0.00000000}.{%08x-%04x-%04x-%04x-%012llx}",
                  static_cast<unsigned>(hash >> 32), static_cast<unsigned>(hash >> 16 & 0xFFFF),
                  static_cast<unsigned>(hash & 0xFFFF), static_cast<unsigned>(hash >> 48),
                  static_cast<unsigned long long>(hash & 0xFFFFFFFFFFFFull));
    return std::u16string(text, text + std::char_traits<char>::length(text));
}

}  // namespace

std::vector<uint8_t> StoredAudioFormat(uint32_t rate, uint16_t channels, uint16_t bits,
                                       bool isFloat)
{
    const uint16_t blockAlign = static_cast<uint16_t>(channels * bits / 8);
    std::vector<uint8_t> value;
    Put32(value, kBlobType);
    Put32(value, 40);  // the format's size
    Put16(value, kExtensibleTag);
    Put16(value, channels);
    Put32(value, rate);
    Put32(value, rate * blockAlign);
    Put16(value, blockAlign);
    Put16(value, bits);
    Put16(value, kExtensibleSize);
    Put16(value, isFloat ? bits : static_cast<uint16_t>(bits == 32 ? 24 : bits));
    Put32(value, channels == 2 ? 3u : 0u);  // front left and right
    const uint8_t* sub = isFloat ? kFloatSubFormat : kPcmSubFormat;
    value.insert(value.end(), sub, sub + 16);
    return value;
}

std::u16string AudioEndpointProperties(bool capture, const std::u16string& endpointKey)
{
    return std::u16string(capture ? kMmDevicesCaptureKey : kMmDevicesRenderKey) + u"\\" +
           endpointKey + u"\\Properties";
}

void StoreAudioEndpoint(bool capture, const std::u16string& endpointKey,
                        const std::u16string& instancePath)
{
    MachineRegistry& registry = MachineRegistry::Instance();
    const std::u16string properties = AudioEndpointProperties(capture, endpointKey);
    if (registry.KeyExists(Hive::LocalMachine, properties)) {
        return;  // Windows keeps what it stored for an endpoint it knows
    }
    registry.CreateKeyPath(Hive::LocalMachine, properties);
    registry.SetValue(Hive::LocalMachine, properties, kMmInstancePathValue,
                      Value{kRegSz, Utf16Z(u"{1}." + instancePath)});
    registry.SetValue(Hive::LocalMachine, properties, kMmOemFormatValue,
                      Value{kRegBinary, StoredAudioFormat(48000, 2, 24, false)});
    registry.SetValue(Hive::LocalMachine, properties, kMmDeviceFormatValue,
                      Value{kRegBinary, StoredAudioFormat(48000, 2, 24, false)});
    registry.SetValue(Hive::LocalMachine, properties, kMmMixFormatValue,
                      Value{kRegBinary, StoredAudioFormat(48000, 2, 32, true)});
}

std::vector<std::u16string> StoredAudioEndpoints(bool capture)
{
    std::vector<std::u16string> keys;
    std::u16string name;
    for (size_t i = 0; MachineRegistry::Instance().EnumerateSubkey(
                           Hive::LocalMachine, capture ? kMmDevicesCaptureKey : kMmDevicesRenderKey,
                           View::Native, i, &name) == Result::Ok;
         ++i) {
        keys.push_back(name);
    }
    return keys;
}

namespace Internal {

void PublishAudioEndpoints(const FactoryImpl& factory)
{
    for (const InterfaceRecord& record : factory.interfaces) {
        const bool render = IsEqualGUIDAligned(record.category, KSCATEGORY_RENDER);
        const bool capture = IsEqualGUIDAligned(record.category, KSCATEGORY_CAPTURE);
        if (record.enabled && (render || capture)) {
            StoreAudioEndpoint(capture, EndpointKeyFor(record.symbolicLink),
                               factory.object.device->instancePath);
        }
    }
}

}  // namespace Internal
}  // namespace Platform::Ks
