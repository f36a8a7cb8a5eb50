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
        std::memcpy(at, bytes.data(), bytes.size());
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
