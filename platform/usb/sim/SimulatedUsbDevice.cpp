#include "SimulatedUsbDevice.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <stdexcept>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "ConfigurationModel.h"

namespace UsbSim {
namespace {

constexpr uint8_t kGetStatus = 0x00;
constexpr uint8_t kGetDescriptor = 0x06;
constexpr uint8_t kGetConfiguration = 0x08;
constexpr uint8_t kSetConfiguration = 0x09;
constexpr uint8_t kGetInterface = 0x0A;
constexpr uint8_t kSetInterface = 0x0B;

constexpr uint8_t kRequestCur = 0x01;    // class 1 SET_CUR, class 2 CUR
constexpr uint8_t kRequestRange = 0x02;  // class 2 RANGE
constexpr uint8_t kGetCurClass1 = 0x81;
constexpr uint16_t kSamplingFrequencyControl = 0x0100;

bool DeviceToHost(const SetupPacket& setup)
{
    return (setup.bmRequestType & 0x80) != 0;
}
int RequestType(const SetupPacket& setup)
{
    return (setup.bmRequestType >> 5) & 3;
}
int Recipient(const SetupPacket& setup)
{
    return setup.bmRequestType & 0x1F;
}

bool IsIsochronous(const EndpointModel& e)
{
    return (e.attributes & 3) == 1;
}
bool IsFeedback(const EndpointModel& e)
{
    return IsIsochronous(e) && (e.attributes & 0x30) == 0x10;
}
bool IsIn(uint8_t address)
{
    return (address & 0x80) != 0;
}

void PutLe(std::span<uint8_t> out, size_t offset, uint32_t value, size_t width)
{
    for (size_t i = 0; i < width; ++i) {
        out[offset + i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

#if defined(__x86_64__)
bool HasSsse3()
{
    static const bool has = __builtin_cpu_supports("ssse3");
    return has;
}

// Four values a step into 3-byte subslots with SSSE3's byte shuffle, while sixteen bytes can be
// written inside the packet (the last four of each step belong to the next, written next); how
// many it took.
__attribute__((target("ssse3"))) size_t PackTripletsSsse3(uint8_t* out, size_t bytes,
                                                          const int32_t* values, size_t count)
{
    const __m128i gather = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    size_t i = 0;
    for (; i + 4 <= count && 3 * i + 16 <= bytes; i += 4) {
        const __m128i lanes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(values + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 3 * i), _mm_shuffle_epi8(lanes, gather));
    }
    return i;
}

size_t PackTripletsWide(uint8_t* out, size_t bytes, const int32_t* values, size_t count)
{
    return HasSsse3() ? PackTripletsSsse3(out, bytes, values, count) : 0;
}
#else
size_t PackTripletsWide(uint8_t*, size_t, const int32_t*, size_t)
{
    return 0;
}
#endif

// Each value into its subslot, little-endian. Widths 2 to 4 store a whole word for each value
// but the last (the bytes past its subslot belong to the next one, written next).
void PackSamples(std::span<uint8_t> out, std::span<const int32_t> values, uint32_t width)
{
    size_t i =
        width == 3 ? PackTripletsWide(out.data(), out.size(), values.data(), values.size()) : 0;
    size_t at = i * width;
    if (width >= 2 && width <= 4 && !values.empty()) {
        static_assert(std::endian::native == std::endian::little);
        for (; i + 1 < values.size(); ++i, at += width) {
            std::memcpy(out.data() + at, &values[i], 4);
        }
    }
    for (; i < values.size(); ++i, at += width) {
        PutLe(out, at, static_cast<uint32_t>(values[i]), width);
    }
}

int32_t DefaultSample(uint32_t channel, uint64_t index)
{
    // A ramp per channel that crosses every byte lane: any misplaced byte shows.
    return static_cast<int32_t>(static_cast<uint32_t>(index * 0x010203u + channel * 0x400000u));
}

template <class Fault, class Match>
bool TakeFault(std::vector<Fault>& faults, Match match, Fault* taken = nullptr)
{
    for (auto it = faults.begin(); it != faults.end(); ++it) {
        if (!match(*it)) {
            continue;
        }
        if (taken != nullptr) {
            *taken = *it;
        }
        if (it->count > 0 && --it->count == 0) {
            faults.erase(it);
        }
        return true;
    }
    return false;
}

}  // namespace

std::unique_ptr<SimulatedUsbDevice> SimulatedUsbDevice::Create(UsbDescriptorSet descriptors,
                                                               std::string* error)
{
    std::string reason;
    if (descriptors.device.size() != 18 || descriptors.device[0] != 18 ||
        descriptors.device[1] != 1) {
        reason = "the device descriptor is not 18 bytes of type 1";
    } else if (descriptors.configurations.size() != descriptors.device[17]) {
        reason = "bNumConfigurations does not match the configurations given";
    }
    std::unique_ptr<SimulatedUsbDevice> device(new SimulatedUsbDevice(std::move(descriptors)));
    for (size_t i = 0; reason.empty() && i < device->descriptors.configurations.size(); ++i) {
        ConfigurationFacts facts;
        auto model = ReadConfigurationModel(device->descriptors.configurations[i], facts, reason);
        if (model) {
            device->configurations.push_back(std::move(*model));
            device->audioClass = facts.audioClass != 0 ? facts.audioClass : 1;
            device->clockSourceId = facts.clockSourceId;
        }
    }
    if (!reason.empty()) {
        if (error != nullptr) {
            *error = reason;
        }
        return nullptr;
    }
    // The device starts at the first rate it knows of.
    device->sampleRate = 48000;
    if (!device->descriptors.clockRates.empty()) {
        device->sampleRate = device->descriptors.clockRates.front();
    }
    for (const auto& [number, interface] : device->configurations.front().interfaces) {
        for (const auto& [alt, setting] : interface.alternates) {
            if (!setting.format.rates.empty()) {
                device->sampleRate = setting.format.rates.front();
            }
        }
    }
    device->generator = DefaultSample;
    return device;
}

const ConfigurationModel* SimulatedUsbDevice::ActiveConfiguration() const
{
    return activeConfiguration < 0 ? nullptr : &configurations[activeConfiguration];
}

uint8_t SimulatedUsbDevice::AlternateSetting(uint8_t interfaceNumber) const
{
    auto it = alternates.find(interfaceNumber);
    return it == alternates.end() ? 0 : it->second;
}

const AlternateSettingModel* SimulatedUsbDevice::ActiveSettingOf(uint8_t endpoint) const
{
    if (!settingKnown[endpoint]) {
        settingOf[endpoint] = FindActiveSetting(endpoint);
        settingKnown[endpoint] = true;
    }
    return settingOf[endpoint];
}

const AlternateSettingModel* SimulatedUsbDevice::FindActiveSetting(uint8_t endpoint) const
{
    const ConfigurationModel* configuration = ActiveConfiguration();
    if (configuration == nullptr) {
        return nullptr;
    }
    for (const auto& [number, interface] : configuration->interfaces) {
        auto setting = interface.alternates.find(AlternateSetting(number));
        if (setting == interface.alternates.end()) {
            continue;
        }
        for (const EndpointModel& e : setting->second.endpoints) {
            if (e.address == endpoint) {
                return &setting->second;
            }
        }
    }
    return nullptr;
}

const EndpointModel* SimulatedUsbDevice::ActiveEndpoint(uint8_t address) const
{
    return EndpointIn(ActiveSettingOf(address), address);
}

const EndpointModel* SimulatedUsbDevice::EndpointIn(const AlternateSettingModel* setting,
                                                    uint8_t address)
{
    if (setting == nullptr) {
        return nullptr;
    }
    for (const EndpointModel& e : setting->endpoints) {
        if (e.address == address) {
            return &e;
        }
    }
    return nullptr;
}

bool SimulatedUsbDevice::TakeRequestFault(const SetupPacket& setup, bool& hang)
{
    RequestFault taken{};
    const bool hit = TakeFault(
        requestFaults,
        [&](const RequestFault& f) {
            return f.bmRequestType == setup.bmRequestType && f.bRequest == setup.bRequest;
        },
        &taken);
    hang = hit && taken.hang;
    return hit;
}

std::optional<size_t> SimulatedUsbDevice::TakePacketFault(uint8_t endpoint)
{
    if (packetFaults.empty()) {
        return std::nullopt;  // the common case, asked for every packet
    }
    PacketFault taken{};
    if (TakeFault(
            packetFaults, [&](const PacketFault& f) { return f.endpoint == endpoint; }, &taken)) {
        return taken.bytesRemoved;
    }
    return std::nullopt;
}

Result SimulatedUsbDevice::Control(const SetupPacket& setup, std::span<uint8_t> data)
{
    if (isGone) {
        return {Outcome::Gone};
    }
    if (data.size() < setup.wLength) {
        Violation("control request with a buffer shorter than wLength");
        return {Outcome::Error};
    }
    data = data.first(setup.wLength);
    bool hang = false;
    Result result;
    if (TakeRequestFault(setup, hang)) {
        result = {hang ? Outcome::NoResponse : Outcome::Stall};
    } else if (RequestType(setup) == 0) {
        if (!CheckStandardLength(setup)) {
            return {Outcome::Stall};
        }
        if (auto answered = EndpointFeature(setup, data)) {
            return *answered;
        }
        return Standard(setup, data);
    } else if (RequestType(setup) == 1) {
        return ClassRequest(setup, data);
    } else {
        result = {Outcome::Stall};
    }
    if (RequestType(setup) == 1) {
        classRequests.push_back({setup, {data.begin(), data.end()}, true});
    }
    return result;
}

Result SimulatedUsbDevice::Standard(const SetupPacket& setup, std::span<uint8_t> data)
{
    const uint8_t type = setup.bmRequestType;
    if (type == 0x80 && setup.bRequest == kGetDescriptor) {
        return GetDescriptor(setup, data);
    }
    if (type == 0x00 && setup.bRequest == kSetConfiguration) {
        alternates.clear();
        settingKnown.fill(false);
        ClearHalts();
        if (setup.wValue == 0) {
            activeConfiguration = -1;
            return {};
        }
        for (size_t i = 0; i < configurations.size(); ++i) {
            if (configurations[i].value == setup.wValue) {
                activeConfiguration = static_cast<int>(i);
                return {};
            }
        }
        return {Outcome::Stall};
    }
    const ConfigurationModel* configuration = ActiveConfiguration();
    if (type == 0x01 && setup.bRequest == kSetInterface && configuration != nullptr) {
        auto interface = configuration->interfaces.find(static_cast<uint8_t>(setup.wIndex));
        if (setup.wIndex > 0xFF || interface == configuration->interfaces.end() ||
            setup.wValue > 0xFF || !interface->second.alternates.contains(setup.wValue)) {
            return {Outcome::Stall};
        }
        alternates[static_cast<uint8_t>(setup.wIndex)] = static_cast<uint8_t>(setup.wValue);
        settingKnown.fill(false);
        ClearHalts();
        return {};
    }
    if (type == 0x80 && setup.bRequest == kGetConfiguration && data.size() >= 1) {
        data[0] = configuration == nullptr ? 0 : configuration->value;
        return {Outcome::Ok, 1};
    }
    if (type == 0x81 && setup.bRequest == kGetInterface && data.size() >= 1 &&
        configuration != nullptr) {
        data[0] = AlternateSetting(static_cast<uint8_t>(setup.wIndex));
        return {Outcome::Ok, 1};
    }
    if ((type & 0xFC) == 0x80 && setup.bRequest == kGetStatus && data.size() >= 2) {
        data[0] = data[1] = 0;
        return {Outcome::Ok, 2};
    }
    return {Outcome::Stall};
}

std::optional<std::vector<uint8_t>> SimulatedUsbDevice::DescriptorBytes(uint8_t type, uint8_t index,
                                                                        uint16_t language,
                                                                        int read) const
{
    std::vector<uint8_t> bytes;
    const auto replacement = std::find_if(patches.rbegin(), patches.rend(), [&](const auto& p) {
        return p.replace && p.type == type && p.index == index;
    });
    if (replacement != patches.rend()) {
        return replacement->bytes;
    }
    if (type == 1 && index == 0) {
        bytes = descriptors.device;
    } else if (type == 2 && index < descriptors.configurations.size()) {
        bytes = descriptors.configurations[index];
    } else if (type == 3 && index == 0) {
        bytes = {4, 3, 0x09, 0x04};
    } else if (type == 3 && language == 0x0409 && descriptors.strings.contains(index)) {
        const std::u16string& text = descriptors.strings.at(index);
        const size_t characters = std::min<size_t>(text.size(), 126);
        bytes = {static_cast<uint8_t>(2 + 2 * characters), 3};
        for (size_t i = 0; i < characters; ++i) {
            bytes.push_back(static_cast<uint8_t>(text[i]));
            bytes.push_back(static_cast<uint8_t>(text[i] >> 8));
        }
    } else {
        return std::nullopt;
    }
    for (const DescriptorPatch& patch : patches) {
        if (!patch.replace && patch.type == type && patch.index == index &&
            read > patch.afterReads) {
            if (bytes.size() < patch.offset + patch.bytes.size()) {
                bytes.resize(patch.offset + patch.bytes.size());
            }
            std::copy(patch.bytes.begin(), patch.bytes.end(), bytes.begin() + patch.offset);
        }
    }
    return bytes;
}

Result SimulatedUsbDevice::GetDescriptor(const SetupPacket& setup, std::span<uint8_t> data)
{
    const uint8_t type = static_cast<uint8_t>(setup.wValue >> 8);
    const uint8_t index = static_cast<uint8_t>(setup.wValue);
    if (TakeFault(descriptorFaults,
                  [&](const DescriptorFault& f) { return f.type == type && f.index == index; })) {
        return {Outcome::Stall};
    }
    const int read = ++descriptorReads[static_cast<uint16_t>(type << 8 | index)];
    auto bytes = DescriptorBytes(type, index, setup.wIndex, read);
    if (!bytes) {
        return {Outcome::Stall};
    }
    const size_t length = std::min(bytes->size(), data.size());
    std::copy_n(bytes->begin(), length, data.begin());
    return {Outcome::Ok, length};
}

bool SimulatedUsbDevice::IsSupportedRate(uint32_t rate) const
{
    if (audioClass == 2) {
        return std::find(descriptors.clockRates.begin(), descriptors.clockRates.end(), rate) !=
               descriptors.clockRates.end();
    }
    for (const auto& [number, interface] : configurations.front().interfaces) {
        for (const auto& [alt, setting] : interface.alternates) {
            const auto& rates = setting.format.rates;
            if (std::find(rates.begin(), rates.end(), rate) != rates.end()) {
                return true;
            }
        }
    }
    return false;
}

Result SimulatedUsbDevice::SamplingFrequency(const SetupPacket& setup, std::span<uint8_t> data,
                                             size_t width)
{
    if (data.size() != width) {
        Violation("sampling-frequency " + std::string(DeviceToHost(setup) ? "GET" : "SET") +
                  " request with wLength " + std::to_string(data.size()) + " (the control is " +
                  std::to_string(width) + " bytes)");
        return {Outcome::Stall};
    }
    if (!DeviceToHost(setup)) {
        uint32_t rate = 0;
        for (size_t i = 0; i < width; ++i) {
            rate |= static_cast<uint32_t>(data[i]) << (8 * i);
        }
        if (!IsSupportedRate(rate)) {
            return {Outcome::Stall};
        }
        sampleRate = rate;
        return {Outcome::Ok, width};
    }
    uint8_t value[4]{};
    PutLe(value, 0, sampleRate, 4);
    const size_t length = std::min(width, data.size());
    std::copy_n(value, length, data.begin());
    return {Outcome::Ok, length};
}

Result SimulatedUsbDevice::ClassRequest(const SetupPacket& setup, std::span<uint8_t> data)
{
    Result result{Outcome::Stall};
    const uint8_t getCur = audioClass == 2 ? kRequestCur : kGetCurClass1;
    if (Recipient(setup) == 2 && setup.wValue == kSamplingFrequencyControl &&
        setup.bRequest == (DeviceToHost(setup) ? getCur : kRequestCur)) {
        // Class 2 firmware also takes the endpoint form of the request.
        const EndpointModel* endpoint = ActiveEndpoint(static_cast<uint8_t>(setup.wIndex));
        if (endpoint != nullptr && IsIsochronous(*endpoint) && !IsFeedback(*endpoint) &&
            (audioClass == 2 || endpoint->rateControl)) {
            result = SamplingFrequency(setup, data, 3);
        }
    } else if (Recipient(setup) == 1 && audioClass == 2 &&
               setup.wValue == kSamplingFrequencyControl && setup.wIndex == (clockSourceId << 8)) {
        if (setup.bRequest == kRequestCur) {
            result = SamplingFrequency(setup, data, 4);
        } else if (setup.bRequest == kRequestRange && DeviceToHost(setup) && data.size() < 2) {
            Violation("sampling-frequency RANGE request with wLength " +
                      std::to_string(data.size()) + " (the count alone is 2 bytes)");
        } else if (setup.bRequest == kRequestRange && DeviceToHost(setup)) {
            std::vector<uint8_t> range(2 + 12 * descriptors.clockRates.size());
            PutLe(range, 0, static_cast<uint32_t>(descriptors.clockRates.size()), 2);
            for (size_t i = 0; i < descriptors.clockRates.size(); ++i) {
                PutLe(range, 2 + 12 * i, descriptors.clockRates[i], 4);
                PutLe(range, 6 + 12 * i, descriptors.clockRates[i], 4);
            }
            const size_t length = std::min(range.size(), data.size());
            std::copy_n(range.begin(), length, data.begin());
            result = {Outcome::Ok, length};
        }
    }
    classRequests.push_back(
        {setup,
         {data.begin(), data.begin() + (DeviceToHost(setup) ? result.length : data.size())},
         result.outcome == Outcome::Stall});
    return result;
}

Result SimulatedUsbDevice::IsoOut(uint8_t endpoint, uint32_t frame, uint8_t microframe,
                                  std::span<const uint8_t> packet)
{
    if (isGone) {
        return {Outcome::Gone};
    }
    const AlternateSettingModel* setting = ActiveSettingOf(endpoint);
    const EndpointModel* e = EndpointIn(setting, endpoint);
    if (e == nullptr || IsIn(endpoint) || !IsIsochronous(*e)) {
        Violation("isochronous OUT packet for endpoint " + std::to_string(endpoint) +
                  ", which the current settings do not have");
        return {Outcome::Error};
    }
    if (packet.size() > e->maxPacketSize) {
        Violation("OUT packet of " + std::to_string(packet.size()) + " bytes on endpoint " +
                  std::to_string(endpoint) + " (most " + std::to_string(e->maxPacketSize) + ")");
        return {Outcome::Error};
    }
    const uint32_t frameBytes = setting->format.BytesPerSampleFrame();
    // The size fits in 32 bits (at most the packet size), and a 32-bit division is the cheaper.
    if (frameBytes != 0 && static_cast<uint32_t>(packet.size()) % frameBytes != 0) {
        Violation("OUT packet of " + std::to_string(packet.size()) +
                  " bytes holds part of a sample frame");
        return {Outcome::Error};
    }
    if (auto fault = packetFaults.empty() ? std::nullopt : TakePacketFault(endpoint)) {
        if (*fault == 0) {
            return {Outcome::NoResponse};
        }
        packet = packet.first(packet.size() - std::min(*fault, packet.size()));
    }
    // Filled in place: a record built aside and copied in stalled on its own bytes.
    NoteOutFormat(endpoint, setting);
    OutPacketRecord& record = outPackets.emplace_back();
    record.endpoint = endpoint;
    record.frame = frame;
    record.microframe = microframe;
    record.bytes = outBytes.Keep(packet);
    return {Outcome::Ok, packet.size()};
}

uint32_t SimulatedUsbDevice::SamplesForPacket(InStream& stream, uint32_t packetsPerSecond)
{
    const int64_t scaled = static_cast<int64_t>(sampleRate) * (1000000 + clockOffsetPpm);
    const auto step = static_cast<uint64_t>(std::max<int64_t>(scaled, 0));
    const uint64_t unit = static_cast<uint64_t>(packetsPerSecond) * 1000000;
    if (step != stream.step || unit != stream.unit) {
        stream.step = step;
        stream.unit = unit;
        stream.stepSamples = step / unit;
        stream.stepFraction = step % unit;
    }
    uint64_t samples = stream.stepSamples;
    if (stream.accumulator >= unit) [[unlikely]] {  // left by an earlier, smaller unit
        const uint64_t carried = stream.accumulator / unit;
        stream.accumulator -= carried * unit;
        samples += carried;
    }
    // accumulator + step = (accumulator + fraction) + whole samples x unit, where accumulator +
    // fraction stays below two units.
    stream.accumulator += stream.stepFraction;
    if (stream.accumulator >= unit) {
        stream.accumulator -= unit;
        ++samples;
    }
    return static_cast<uint32_t>(samples);
}

void SimulatedUsbDevice::WriteInSamples(std::span<uint8_t> packet, const StreamFormat& format,
                                        uint32_t samples, InStream& stream)
{
    const uint32_t width = format.subslotBytes;
    if (!defaultGenerator || width < 2 || width > 4) {
        const uint32_t channels = format.channels;
        inValues.resize(static_cast<size_t>(samples) * channels);
        if (frameGenerator) {
            frameGenerator(stream.produced, channels, inValues);
        } else {
            for (uint32_t s = 0; s < samples; ++s) {
                for (uint32_t c = 0; c < channels; ++c) {
                    inValues[static_cast<size_t>(s) * channels + c] =
                        generator(c, stream.produced + s);
                }
            }
        }
        PackSamples(packet, inValues, width);
        stream.produced += samples;
        return;
    }
    // The built-in ramp step by step. Each value but the last is stored as one little-endian word
    // (the bytes past its subslot belong to the next one, written next); the last byte by byte.
    uint8_t* out = packet.data();
    const uint32_t channels = format.channels;  // a local: the byte stores below may alias it
    const size_t values = static_cast<size_t>(samples) * channels;
    uint32_t first = static_cast<uint32_t>(DefaultSample(0, stream.produced));
    size_t done = 0;
    for (uint32_t s = 0; s < samples; ++s, first += 0x010203u) {
        uint32_t value = first;
        for (uint32_t c = 0; c < channels; ++c, value += 0x400000u, out += width) {
            if (++done < values || width == 4) {
                static_assert(std::endian::native == std::endian::little);
                std::memcpy(out, &value, 4);
            } else {
                for (uint32_t b = 0; b < width; ++b) {
                    out[b] = static_cast<uint8_t>(value >> (8 * b));
                }
            }
        }
    }
    stream.produced += samples;
}

Result SimulatedUsbDevice::IsoIn(uint8_t endpoint, uint32_t frame, uint8_t microframe,
                                 std::span<uint8_t> packet)
{
    (void)frame;
    (void)microframe;
    if (isGone) {
        return {Outcome::Gone};
    }
    const AlternateSettingModel* setting = ActiveSettingOf(endpoint);
    const EndpointModel* e = EndpointIn(setting, endpoint);
    if (e == nullptr || !IsIn(endpoint) || !IsIsochronous(*e)) {
        Violation("isochronous IN request for endpoint " + std::to_string(endpoint) +
                  ", which the current settings do not have");
        return {Outcome::Error};
    }
    const int64_t scaled = static_cast<int64_t>(sampleRate) * (1000000 + clockOffsetPpm);
    size_t length = 0;
    if (IsFeedback(*e)) {
        // Samples per frame as 10.14 (full speed) or per microframe as 16.16 (high speed).
        length = HighSpeed() ? 4 : 3;
        const uint64_t value = HighSpeed() ? static_cast<uint64_t>(scaled) * 65536 / 8000000000ull
                                           : static_cast<uint64_t>(scaled) * 16384 / 1000000000ull;
        if (packet.size() < length) {
            Violation("feedback request with room for less than one value");
            return {Outcome::Error};
        }
        PutLe(packet, 0, static_cast<uint32_t>(value), length);
    } else {
        const StreamFormat& format = setting->format;
        const uint32_t packetsPerSecond =
            HighSpeed() ? 8000u >> std::clamp<int>(e->interval - 1, 0, 3) : 1000u;
        InStream& stream = inStreams[endpoint];
        const uint32_t samples = SamplesForPacket(stream, packetsPerSecond);
        length = static_cast<size_t>(samples) * format.BytesPerSampleFrame();
        if (length > e->maxPacketSize || length > packet.size()) {
            Violation("IN packet of " + std::to_string(length) + " bytes does not fit");
            return {Outcome::Error};
        }
        WriteInSamples(packet.first(length), format, samples, stream);
    }
    if (auto fault = packetFaults.empty() ? std::nullopt : TakePacketFault(endpoint)) {
        if (*fault == 0) {
            return {Outcome::NoResponse};
        }
        length -= std::min(*fault, length);
    }
    return {Outcome::Ok, length};
}

Result SimulatedUsbDevice::BulkOut(uint8_t endpoint, std::span<const uint8_t> data)
{
    if (isGone) {
        return {Outcome::Gone};
    }
    const EndpointModel* e = ActiveEndpoint(endpoint);
    if (e == nullptr || IsIn(endpoint) || IsIsochronous(*e) || (e->attributes & 3) == 0) {
        Violation("bulk OUT transfer for endpoint " + std::to_string(endpoint) +
                  ", which the current settings do not have");
        return {Outcome::Error};
    }
    if (auto stalled = HaltedTransfer(endpoint)) {
        return *stalled;
    }
    if (TakeRandomNak(endpoint)) {
        return {Outcome::Nak};
    }
    if (TakePacketFault(endpoint)) {
        return {Outcome::NoResponse};
    }
    auto& received = bulkReceived[endpoint];
    received.insert(received.end(), data.begin(), data.end());
    return {Outcome::Ok, data.size()};
}

Result SimulatedUsbDevice::BulkIn(uint8_t endpoint, std::span<uint8_t> data)
{
    if (isGone) {
        return {Outcome::Gone};
    }
    const EndpointModel* e = ActiveEndpoint(endpoint);
    if (e == nullptr || !IsIn(endpoint) || IsIsochronous(*e) || (e->attributes & 3) == 0) {
        Violation("bulk IN transfer for endpoint " + std::to_string(endpoint) +
                  ", which the current settings do not have");
        return {Outcome::Error};
    }
    if (auto stalled = HaltedTransfer(endpoint)) {
        return *stalled;
    }
    auto& queue = bulkInQueue[endpoint];
    if (queue.empty() || TakeRandomNak(endpoint)) {
        return {Outcome::Nak};
    }
    if (TakePacketFault(endpoint)) {
        return {Outcome::NoResponse};
    }
    std::vector<uint8_t>& front = queue.front();
    const size_t length = std::min(front.size(), data.size());
    std::copy_n(front.begin(), length, data.begin());
    front.erase(front.begin(), front.begin() + length);
    if (front.empty()) {
        queue.pop_front();
    }
    return {Outcome::Ok, length};
}

namespace {

// Little-endian samples of `subslot` bytes, sign-extended, a whole packet at a time. Every
// sample whose word ends inside the packet is read as one word (its high bytes belong to the next
// samples and are shifted out); the last ones byte by byte.
template <uint32_t kSubslot>
void DecodeSubslotsOf(const uint8_t* bytes, size_t count, int32_t* out)
{
    constexpr uint32_t kShift = 32 - 8 * kSubslot;
    static_assert(std::endian::native == std::endian::little);
    size_t i = 0;
    for (; kSubslot < 4 && (count - i) * kSubslot >= 4; ++i, bytes += kSubslot) {
        uint32_t raw;
        std::memcpy(&raw, bytes, 4);
        out[i] = static_cast<int32_t>(raw << kShift) >> kShift;
    }
    for (; i < count; ++i, bytes += kSubslot) {
        uint32_t raw = 0;
        for (uint32_t b = 0; b < kSubslot; ++b) {
            raw |= static_cast<uint32_t>(bytes[b]) << (8 * b);
        }
        out[i] = static_cast<int32_t>(raw << kShift) >> kShift;
    }
}

#if defined(__x86_64__)
// Four 3-byte samples a step with SSSE3's byte shuffle, each into the top of its lane and shifted
// down with its sign, while sixteen bytes can be read inside the packet; how many it took. A
// ten-minute run at 96 kHz reads back more than a hundred million samples.
__attribute__((target("ssse3"))) size_t DecodeTripletsSsse3(const uint8_t* bytes, size_t count,
                                                            int32_t* out)
{
    const __m128i spread = _mm_setr_epi8(-1, 0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11);
    size_t i = 0;
    for (; (count - i) * 3 >= 16; i += 4) {
        const __m128i raw = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + 3 * i));
        const __m128i lanes = _mm_srai_epi32(_mm_shuffle_epi8(raw, spread), 8);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), lanes);
    }
    return i;
}

size_t DecodeTripletsWide(const uint8_t* bytes, size_t count, int32_t* out)
{
    return HasSsse3() ? DecodeTripletsSsse3(bytes, count, out) : 0;
}
#else
size_t DecodeTripletsWide(const uint8_t*, size_t, int32_t*)
{
    return 0;
}
#endif

void DecodeSubslots(const uint8_t* bytes, uint32_t subslot, size_t count, int32_t* out)
{
    if (subslot == 3) {
        const size_t done = DecodeTripletsWide(bytes, count, out);
        return DecodeSubslotsOf<3>(bytes + 3 * done, count - done, out + done);
    }
    switch (subslot) {
        case 1:
            return DecodeSubslotsOf<1>(bytes, count, out);
        case 2:
            return DecodeSubslotsOf<2>(bytes, count, out);
        case 3:
            return DecodeSubslotsOf<3>(bytes, count, out);
        case 4:
            return DecodeSubslotsOf<4>(bytes, count, out);
        default:  // wider than a sample: its low four bytes
            for (size_t i = 0; i < count; ++i, bytes += subslot) {
                DecodeSubslotsOf<4>(bytes, 1, out + i);
            }
    }
}

}  // namespace

OutSampleArray SimulatedUsbDevice::OutSamples(uint8_t endpoint) const
{
    OutSampleArray received;
    OutSamples(endpoint, received);
    return received;
}

// The format of the setting the host had selected when the endpoint's packets came; before any
// came, the one selected now. Two settings may carry the endpoint with different formats.
const StreamFormat* SimulatedUsbDevice::OutFormatOf(uint8_t endpoint) const
{
    if (outFormatMixed[endpoint]) {
        throw std::logic_error("the OUT packets of endpoint " + std::to_string(endpoint) +
                               " came under settings of different formats: clear them between");
    }
    if (outFormatOf[endpoint] != nullptr) {
        return outFormatOf[endpoint];
    }
    const AlternateSettingModel* setting = ActiveSettingOf(endpoint);
    return setting != nullptr && setting->format.BytesPerSampleFrame() != 0 ? &setting->format
                                                                            : nullptr;
}

void SimulatedUsbDevice::NoteOutFormat(uint8_t endpoint, const AlternateSettingModel* setting)
{
    const StreamFormat& format = setting->format;
    if (format.BytesPerSampleFrame() == 0) {
        return;
    }
    const StreamFormat*& taken = outFormatOf[endpoint];
    if (taken == nullptr) {
        taken = &format;
    } else if (taken != &format &&
               (taken->channels != format.channels || taken->subslotBytes != format.subslotBytes)) {
        outFormatMixed[endpoint] = true;
    }
}

namespace {

// n / d for 32-bit n and d by a multiplication with a 64-bit reciprocal, exact for every such n
// and d > 1 (Lemire, Kaser and Kurz, "Faster remainder by direct computation", 2019): a
// ten-minute run reads back millions of packets.
class ExactDivision
{
public:
    explicit ExactDivision(uint32_t d) : d_(d), m_(d > 1 ? UINT64_MAX / d + 1 : 0) {}
    uint32_t Of(uint32_t n) const
    {
        return d_ > 1 ? static_cast<uint32_t>((static_cast<unsigned __int128>(m_) * n) >> 64) : n;
    }

private:
    uint32_t d_;
    uint64_t m_;
};

// A packet's frames all carry its frame number: four a store (a packet is a dozen frames or so,
// too few for the compiler's own loop to go wide).
void FillFrameNumbers(uint32_t* out, uint32_t count, uint32_t frame)
{
    using Lanes = uint32_t __attribute__((vector_size(16)));
    const Lanes four = {frame, frame, frame, frame};
    uint32_t i = 0;
    for (; i + 4 <= count; i += 4) {
        std::memcpy(out + i, &four, sizeof four);
    }
    for (; i < count; ++i) {
        out[i] = frame;
    }
}

}  // namespace

void SimulatedUsbDevice::OutSamples(uint8_t endpoint, OutSampleArray& received) const
{
    const StreamFormat* format = OutFormatOf(endpoint);
    if (format == nullptr) {
        received = {};
        return;
    }
    const uint32_t frameBytes = format->BytesPerSampleFrame();
    const uint32_t channels = format->channels;
    const ExactDivision perFrame(frameBytes);
    received.channels = channels;
    // A shortened packet may end in part of a frame, which is left out.
    size_t total = 0;
    for (const OutPacketRecord& packet : outPackets) {
        total += packet.endpoint == endpoint
                     ? perFrame.Of(static_cast<uint32_t>(packet.bytes.size()))
                     : 0;
    }
    received.frames.resize(total);
    received.samples.resize(total * channels);
    uint32_t* frameOut = received.frames.data();
    int32_t* sampleOut = received.samples.data();
    for (const OutPacketRecord& packet : outPackets) {
        if (packet.endpoint != endpoint) {
            continue;
        }
        const uint32_t frames = perFrame.Of(static_cast<uint32_t>(packet.bytes.size()));
        FillFrameNumbers(frameOut, frames, packet.frame);
        frameOut += frames;
        DecodeSubslots(packet.bytes.data(), format->subslotBytes, frames * channels, sampleOut);
        sampleOut += frames * channels;
    }
}

std::vector<uint8_t> SimulatedUsbDevice::BulkReceived(uint8_t endpoint) const
{
    auto it = bulkReceived.find(endpoint);
    return it == bulkReceived.end() ? std::vector<uint8_t>{} : it->second;
}

std::vector<uint8_t> SimulatedUsbDevice::TakeBulkReceived(uint8_t endpoint)
{
    std::vector<uint8_t> taken;
    taken.swap(bulkReceived[endpoint]);
    return taken;
}

void SimulatedUsbDevice::QueueBulkIn(uint8_t endpoint, std::vector<uint8_t> data)
{
    bulkInQueue[endpoint].push_back(std::move(data));
}

void SimulatedUsbDevice::SetInGenerator(SampleGenerator newGenerator)
{
    defaultGenerator = !newGenerator;
    generator = newGenerator ? std::move(newGenerator) : DefaultSample;
    frameGenerator = nullptr;
}

void SimulatedUsbDevice::SetInFrameGenerator(FrameGenerator newGenerator)
{
    defaultGenerator = !newGenerator;
    generator = DefaultSample;
    frameGenerator = std::move(newGenerator);
}

uint64_t SimulatedUsbDevice::InSamplesProduced(uint8_t endpoint) const
{
    return inStreams[endpoint].produced;
}

void SimulatedUsbDevice::StallRequests(uint8_t bmRequestType, uint8_t bRequest, int count)
{
    requestFaults.push_back({bmRequestType, bRequest, count, false});
}

void SimulatedUsbDevice::HangRequests(uint8_t bmRequestType, uint8_t bRequest, int count)
{
    requestFaults.push_back({bmRequestType, bRequest, count, true});
}

void SimulatedUsbDevice::DropPackets(uint8_t endpoint, int count)
{
    packetFaults.push_back({endpoint, count, 0});
}

void SimulatedUsbDevice::ShortenPackets(uint8_t endpoint, int count, size_t bytesRemoved)
{
    packetFaults.push_back({endpoint, count, std::max<size_t>(bytesRemoved, 1)});
}

void SimulatedUsbDevice::RefuseDescriptor(uint8_t type, uint8_t index, int count)
{
    descriptorFaults.push_back({type, index, count});
}

void SimulatedUsbDevice::PatchDescriptor(uint8_t type, uint8_t index, size_t offset,
                                         std::vector<uint8_t> bytes)
{
    patches.push_back({type, index, offset, std::move(bytes), false});
}

void SimulatedUsbDevice::PatchDescriptorAfter(uint8_t type, uint8_t index, int reads, size_t offset,
                                              std::vector<uint8_t> bytes)
{
    patches.push_back({type, index, offset, std::move(bytes), false, reads});
}

void SimulatedUsbDevice::ReplaceDescriptor(uint8_t type, uint8_t index, std::vector<uint8_t> bytes)
{
    patches.push_back({type, index, 0, std::move(bytes), true});
}

void SimulatedUsbDevice::NakBulkAtRandom(uint8_t endpoint, uint32_t percent, uint32_t seed)
{
    RandomNak& nak = randomNaks[endpoint];
    nak.percent = std::min<uint32_t>(percent, 100);
    nak.state = seed != 0 ? seed : 1;
}

uint64_t SimulatedUsbDevice::BulkNaks(uint8_t endpoint) const
{
    auto it = randomNaks.find(endpoint);
    return it == randomNaks.end() ? 0 : it->second.naks;
}

// xorshift32: the same seed gives the same answers run after run.
bool SimulatedUsbDevice::TakeRandomNak(uint8_t endpoint)
{
    auto it = randomNaks.find(endpoint);
    if (it == randomNaks.end() || it->second.percent == 0) {
        return false;
    }
    uint32_t x = it->second.state;
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    it->second.state = x;
    const bool nak = x % 100 < it->second.percent;
    it->second.naks += nak ? 1 : 0;
    return nak;
}

void SimulatedUsbDevice::ClearFaults()
{
    randomNaks.clear();
    requestFaults.clear();
    packetFaults.clear();
    descriptorFaults.clear();
    patches.clear();
    isGone = false;
}

}  // namespace UsbSim
