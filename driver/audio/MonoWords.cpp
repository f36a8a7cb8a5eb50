#include "audio/MonoWords.h"

#include <cstddef>
#include <cstring>

#include <emmintrin.h>

#include "audio/SampleConverters.h"

bool AreMonoWordBuffers(const ChannelLayoutList& list, const void* const* buffers,
                        uint32_t channels)
{
    if (list.count != channels || channels < 2 || channels > kMonoWordChunk) {
        return false;
    }
    const SampleFormatCode format = list.items[0].format;
    for (uint32_t c = 0; c < channels; ++c) {
        const ChannelLayout& item = list.items[c];
        if (item.channelCount != 1 || item.excludedCount != 0 || item.excludedMask != 0 ||
            item.format != format || buffers[c] == nullptr) {
            return false;
        }
    }
    return BytesPerSample(format) == 4;
}

// Stereo, the common case, goes four frames a step in XMM registers (they need no state saved,
// at any IRQL); other counts a word at a time.
void InterleaveMonoWords(const void* const* buffers, uint32_t channels, uint32_t first,
                         uint32_t count, uint32_t* frames)
{
    if (channels == 2) {
        const auto* left = static_cast<const uint8_t*>(buffers[0]) + size_t{first} * 4;
        const auto* right = static_cast<const uint8_t*>(buffers[1]) + size_t{first} * 4;
        uint32_t f = 0;
        for (; f + 4 <= count; f += 4) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(left + 4 * f));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(right + 4 * f));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(frames + 2 * f), _mm_unpacklo_epi32(a, b));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(frames + 2 * f + 4),
                             _mm_unpackhi_epi32(a, b));
        }
        for (; f < count; ++f) {
            std::memcpy(frames + 2 * f, left + 4 * f, 4);
            std::memcpy(frames + 2 * f + 1, right + 4 * f, 4);
        }
        return;
    }
    for (uint32_t c = 0; c < channels; ++c) {
        const uint8_t* from = static_cast<const uint8_t*>(buffers[c]) + size_t{first} * 4;
        uint32_t* to = frames + c;
        for (uint32_t f = 0; f < count; ++f, from += 4, to += channels) {
            std::memcpy(to, from, 4);
        }
    }
}

void DealMonoWords(const uint32_t* frames, uint32_t channels, uint32_t count, void* const* buffers,
                   uint32_t first)
{
    if (channels == 2) {
        // The even and the odd words picked out.
        auto* left = static_cast<uint8_t*>(buffers[0]) + size_t{first} * 4;
        auto* right = static_cast<uint8_t*>(buffers[1]) + size_t{first} * 4;
        uint32_t f = 0;
        for (; f + 4 <= count; f += 4) {
            const __m128 a =
                _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(frames + 2 * f)));
            const __m128 b = _mm_castsi128_ps(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(frames + 2 * f + 4)));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(left + 4 * f),
                             _mm_castps_si128(_mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0))));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(right + 4 * f),
                             _mm_castps_si128(_mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1))));
        }
        for (; f < count; ++f) {
            std::memcpy(left + 4 * f, frames + 2 * f, 4);
            std::memcpy(right + 4 * f, frames + 2 * f + 1, 4);
        }
        return;
    }
    for (uint32_t c = 0; c < channels; ++c) {
        uint8_t* to = static_cast<uint8_t*>(buffers[c]) + size_t{first} * 4;
        const uint32_t* from = frames + c;
        for (uint32_t f = 0; f < count; ++f, to += 4, from += channels) {
            std::memcpy(to, from, 4);
        }
    }
}
