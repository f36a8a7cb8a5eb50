#pragma once
// Mono buffers of one 4-byte sample format, one per channel (a low-latency client's channels),
// put together as whole frames and dealt out again, a chunk at a time on the stack: the whole-frame
// routines then move a chunk in one pass where one strided pass per channel took several times as
// long. Called at DISPATCH_LEVEL under the caller's lock; nothing here locks, allocates or fails.

#include <cstdint>

#include "audio/ChannelLayout.h"

// Samples of one chunk: 512 bytes of stack.
constexpr uint32_t kMonoWordChunk = 128;

// Whether list holds exactly channels (2 to kMonoWordChunk) mono buffers of one 4-byte format,
// every one present and none of its channels left out.
bool AreMonoWordBuffers(const ChannelLayoutList& list, const void* const* buffers,
                        uint32_t channels);

// Frames first .. first + count - 1 of the channels mono buffers into count whole frames.
void InterleaveMonoWords(const void* const* buffers, uint32_t channels, uint32_t first,
                         uint32_t count, uint32_t* frames);

// count whole frames into frames first .. first + count - 1 of the channels mono buffers.
void DealMonoWords(const uint32_t* frames, uint32_t channels, uint32_t count, void* const* buffers,
                   uint32_t first);
