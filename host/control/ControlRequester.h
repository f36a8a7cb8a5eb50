// The user-mode side of the control filter, as the host and the tests drive it: a handle opened
// from a 32- or a 64-bit process, and the request layouts each width sends (handles and addresses
// in 4 or 8 bytes, the buffer table of 164 or 324 bytes, the MIDI read property and write data).
#pragma once

#include <KernelHostApi.h>
#include <KsHostApi.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "controlfilter/ControlFilterWire.h"

class ControlRequester
{
public:
    ControlRequester(Platform::Kernel::UserProcess& process,
                     std::unique_ptr<Platform::Ks::FilterHandle> handle)
        : process_(process), handle_(std::move(handle))
    {
    }

    Platform::Kernel::UserProcess& Process() { return process_; }
    Platform::Ks::FilterHandle& Handle() { return *handle_; }
    bool Narrow() const { return process_.Is32Bit(); }
    void Close() { handle_.reset(); }

    Platform::Ks::RequestResult Get(const GUID& set, ULONG id, ULONG dataSize,
                                    const std::vector<uint8_t>& tail = {})
    {
        return handle_->GetProperty(set, id, dataSize, tail);
    }
    // A GET whose data buffer holds `fill` bytes before the request, to see what is written.
    Platform::Ks::RequestResult GetOver(const GUID& set, ULONG id, ULONG dataSize, uint8_t fill,
                                        const std::vector<uint8_t>& tail = {})
    {
        return handle_->DeviceIoControl(
            IOCTL_KS_PROPERTY, Platform::Ks::PropertyBytes(set, id, KSPROPERTY_TYPE_GET, tail),
            dataSize, std::vector<uint8_t>(dataSize, fill));
    }
    Platform::Ks::RequestResult Set(const GUID& set, ULONG id, const std::vector<uint8_t>& data,
                                    const std::vector<uint8_t>& tail = {})
    {
        return handle_->SetProperty(set, id, data, tail);
    }
    NTSTATUS SetU32(const GUID& set, ULONG id, uint32_t value)
    {
        return Set(set, id, U32(value)).status;
    }
    uint32_t GetU32(const GUID& set, ULONG id, NTSTATUS* status = nullptr)
    {
        auto result = Get(set, id, 4);
        if (status != nullptr) {
            *status = result.status;
        }
        return result.data.size() >= 4 ? ReadU32(result.data, 0) : 0;
    }

    // A handle in the layout of the process, padded to `bytes`.
    std::vector<uint8_t> HandleData(HANDLE handle, size_t bytes = 8) const
    {
        auto data = Platform::Ks::UserHandleBytes(process_, handle);
        data.resize(bytes, 0);
        return data;
    }
    // Two event handles: at 0 and 8 from a 64-bit process, at 0 and 4 from a 32-bit one.
    std::vector<uint8_t> EventPairData(HANDLE first, HANDLE second) const
    {
        auto data = Platform::Ks::UserHandleBytes(process_, first);
        auto tail = Platform::Ks::UserHandleBytes(process_, second);
        data.insert(data.end(), tail.begin(), tail.end());
        data.resize(16, 0);
        return data;
    }
    // halves[channel][half] (null: unmapped) and the byte length of one half.
    std::vector<uint8_t> BufferTableData(void* const (&halves)[kTableChannels][kTableHalves],
                                         uint32_t halfBytes) const
    {
        std::vector<uint8_t> data;
        for (ULONG c = 0; c < kTableChannels; ++c) {
            for (ULONG h = 0; h < kTableHalves; ++h) {
                auto bytes = Platform::Ks::UserPointerBytes(process_, halves[c][h]);
                data.insert(data.end(), bytes.begin(), bytes.end());
            }
        }
        auto length = U32(halfBytes);
        data.insert(data.end(), length.begin(), length.end());
        return data;
    }
    // The MIDI read property's tail (bytes 24-47).
    std::vector<uint8_t> MidiReadTail(uint32_t port, const void* buffer, uint32_t length) const
    {
        std::vector<uint8_t> tail(24, 0);
        Put(tail, 0, port);
        auto address = Platform::Ks::UserPointerBytes(process_, buffer);
        std::memcpy(tail.data() + 8, address.data(), address.size());
        Put(tail, 16, length);
        return tail;
    }
    std::vector<uint8_t> MidiWriteData(uint32_t port, const void* buffer, uint32_t length) const
    {
        std::vector<uint8_t> data(24, 0);
        Put(data, 0, port);
        auto address = Platform::Ks::UserPointerBytes(process_, buffer);
        std::memcpy(data.data() + 8, address.data(), address.size());
        Put(data, 16, length);
        return data;
    }

    static std::vector<uint8_t> U32(uint32_t value)
    {
        std::vector<uint8_t> bytes(4);
        Put(bytes, 0, value);
        return bytes;
    }
    static uint32_t ReadU32(const std::vector<uint8_t>& bytes, size_t at)
    {
        uint32_t value = 0;
        std::memcpy(&value, bytes.data() + at, sizeof value);
        return value;
    }
    static uint64_t ReadU64(const std::vector<uint8_t>& bytes, size_t at)
    {
        uint64_t value = 0;
        std::memcpy(&value, bytes.data() + at, sizeof value);
        return value;
    }
    static void Put(std::vector<uint8_t>& bytes, size_t at, uint32_t value)
    {
        std::memcpy(bytes.data() + at, &value, sizeof value);
    }

private:
    Platform::Kernel::UserProcess& process_;
    std::unique_ptr<Platform::Ks::FilterHandle> handle_;
};
