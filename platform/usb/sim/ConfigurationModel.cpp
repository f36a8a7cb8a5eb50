#include "ConfigurationModel.h"

namespace UsbSim {
namespace {

uint32_t Le(std::span<const uint8_t> d, size_t offset, size_t width)
{
    uint32_t value = 0;
    for (size_t i = 0; i < width; ++i) {
        value |= static_cast<uint32_t>(d[offset + i]) << (8 * i);
    }
    return value;
}

void ReadStreamingFormat(std::span<const uint8_t> d, int audioClass, StreamFormat& format)
{
    const uint8_t subtype = d[2];
    if (subtype == 1 && audioClass == 2 && d.size() >= 16) {
        format.channels = d[10];
    } else if (subtype == 2 && d.size() >= 4 && d[3] == 1) {
        if (audioClass == 2 && d.size() >= 6) {
            format.subslotBytes = d[4];
            format.bitResolution = d[5];
        } else if (audioClass == 1 && d.size() >= 8) {
            format.channels = d[4];
            format.subslotBytes = d[5];
            format.bitResolution = d[6];
            const size_t count = d[7];
            for (size_t i = 0; i < count && 8 + 3 * i + 3 <= d.size(); ++i) {
                format.rates.push_back(Le(d, 8 + 3 * i, 3));
            }
        }
    }
}

}  // namespace

std::optional<ConfigurationModel> ReadConfigurationModel(std::span<const uint8_t> bytes,
                                                         ConfigurationFacts& facts,
                                                         std::string& error)
{
    if (bytes.size() < 9 || bytes[0] < 9 || bytes[1] != 2) {
        error = "not a configuration descriptor";
        return std::nullopt;
    }
    const size_t total = Le(bytes, 2, 2);
    if (total > bytes.size() || total < 9) {
        error = "wTotalLength does not match the bytes";
        return std::nullopt;
    }
    ConfigurationModel model;
    model.value = bytes[5];
    AlternateSettingModel* current = nullptr;
    EndpointModel* lastEndpoint = nullptr;
    for (size_t offset = bytes[0]; offset < total;) {
        const size_t length = bytes[offset];
        if (length < 2 || length > total - offset) {
            error =
                "descriptor at offset " + std::to_string(offset) + " overruns the configuration";
            return std::nullopt;
        }
        const std::span<const uint8_t> d = bytes.subspan(offset, length);
        offset += length;
        switch (d[1]) {
            case 4:
                if (length < 9) {
                    error = "short interface descriptor";
                    return std::nullopt;
                }
                current = &model.interfaces[d[2]].alternates[d[3]];
                current->interfaceClass = d[5];
                current->interfaceSubClass = d[6];
                lastEndpoint = nullptr;
                break;
            case 5:
                if (length < 7 || current == nullptr) {
                    error = "endpoint descriptor outside an interface";
                    return std::nullopt;
                }
                current->endpoints.push_back({.address = d[2],
                                              .attributes = d[3],
                                              .maxPacketSize = static_cast<uint16_t>(Le(d, 4, 2)),
                                              .interval = d[6]});
                lastEndpoint = &current->endpoints.back();
                break;
            case 0x24:
                if (current == nullptr || length < 3 || current->interfaceClass != 1) {
                    break;
                }
                if (current->interfaceSubClass == 1 && d[2] == 1 && length >= 5) {
                    facts.audioClass = Le(d, 3, 2) >= 0x0200 ? 2 : 1;
                } else if (current->interfaceSubClass == 1 && d[2] == 0x0A && length >= 4) {
                    facts.clockSourceId = d[3];
                } else if (current->interfaceSubClass == 2) {
                    ReadStreamingFormat(d, facts.audioClass, current->format);
                    // Samples are produced and read as 32-bit values, one subslot at a time.
                    const uint32_t subslot = current->format.subslotBytes;
                    if (subslot > 4) {
                        error = "subslot of " + std::to_string(subslot) + " bytes at offset " +
                                std::to_string(offset - length);
                        return std::nullopt;
                    }
                }
                break;
            case 0x25:
                if (lastEndpoint != nullptr && length >= 4 && d[2] == 1 && facts.audioClass == 1) {
                    lastEndpoint->rateControl = (d[3] & 1) != 0;
                }
                break;
            default:
                break;
        }
    }
    return model;
}

}  // namespace UsbSim
