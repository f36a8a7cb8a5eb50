#pragma once
// Keeps the bytes of received OUT packets in a few large blocks instead of one heap block each: a
// ten-minute stream is hundreds of thousands of packets. Spans handed out stay valid until
// Clear(); Clear() keeps the blocks for the next packets, so a run that checks and clears as it
// goes stops allocating once it has its blocks.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <vector>

namespace UsbSim {

#if defined(__SANITIZE_THREAD__)
#define QUORVEL_BUS_MASTER_READ __attribute__((no_sanitize("thread")))
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define QUORVEL_BUS_MASTER_READ __attribute__((no_sanitize("thread")))
#endif
#endif

#if defined(QUORVEL_BUS_MASTER_READ)
// The device takes OUT data as a bus master does, outside the processor's memory model. A driver
// that still writes into a transfer the bus is sending has a timing fault, which the checks of
// the received samples report; ThreadSanitizer is not to call it a race of the simulator's own.
QUORVEL_BUS_MASTER_READ inline void CopyAsBusMaster(uint8_t* to, const uint8_t* from, size_t n)
{
    const volatile uint8_t* source = from;
    for (size_t i = 0; i < n; ++i) {
        to[i] = source[i];
    }
}
#undef QUORVEL_BUS_MASTER_READ
#else
inline void CopyAsBusMaster(uint8_t* to, const uint8_t* from, size_t n)
{
    std::memcpy(to, from, n);
}
#endif

class OutPacketArena
{
public:
    std::span<const uint8_t> Keep(std::span<const uint8_t> bytes)
    {
        if (bytes.empty()) {
            return {};
        }
        while (current < blocks.size() && used + bytes.size() > blocks[current].size) {
            ++current;
            used = 0;
        }
        if (current == blocks.size()) {
            const size_t size = std::max(kBlockBytes, bytes.size());
            blocks.push_back({std::make_unique<uint8_t[]>(size), size});
            used = 0;
        }
        uint8_t* at = blocks[current].bytes.get() + used;
        CopyAsBusMaster(at, bytes.data(), bytes.size());
        used += bytes.size();
        return {at, bytes.size()};
    }

    void Clear()
    {
        current = 0;
        used = 0;
    }

private:
    static constexpr size_t kBlockBytes = size_t{1} << 20;
    struct Block
    {
        std::unique_ptr<uint8_t[]> bytes;
        size_t size;
    };
    std::vector<Block> blocks;
    size_t current = 0;  // the block being filled
    size_t used = 0;     // bytes of it taken
};

}  // namespace UsbSim
