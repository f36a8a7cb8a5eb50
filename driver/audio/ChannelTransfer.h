#pragma once
// Moving multichannel audio between two layout descriptions: channel for channel (copy or add),
// one run with per-channel gains, or through a gain matrix. Called at DISPATCH_LEVEL under the lock
// of whoever owns the buffers; nothing here locks, allocates or fails. frames is a count of
// frames; nothing is done when it is 0.

#include <cstdint>

#include "audio/ChannelLayout.h"
#include "audio/SampleConverters.h"

// Moves sourceRun.channelCount channels: channel k of the run is read at channel
// sourceRun.firstChannel + k of sourceBuffer and written (or added) at channel
// destinationRun.firstChannel + k of destinationBuffer. gains is null (unity) or holds one gain per
// channel of the run. The two runs have the same channel count. Returns 0.
int32_t TransferRun(uint32_t frames, bool add, const ChannelRun& sourceRun,
                    const void* sourceBuffer, const ChannelRun& destinationRun,
                    void* destinationBuffer, const SampleGain* gains);

// Copies channels channels from channel sourceStartChannel of the source list (numbered across
// the list) onto the first channels of the destination list: the k-th source channel that takes
// part lands on the k-th destination channel that takes part. Source buffers are read from their
// first frame, destination buffers written from frame destinationFrameOffset. A null buffer skips
// its item's channels. Returns 0.
int32_t TransferLayouts(uint32_t frames, uint32_t channels, const ChannelLayoutList& sourceList,
                        const void* const* sourceBuffers, uint32_t sourceStartChannel,
                        const ChannelLayoutList& destinationList, void* const* destinationBuffers,
                        uint32_t destinationFrameOffset);

// Adds every source channel i of sourceRun into every destination channel j of destinationRun at
// gain rowTable[rowBase + i][columnBase + j]; a zero gain neither reads nor writes. Returns 0.
int32_t MixThroughMatrix(uint32_t frames, const SampleGain* const* rowTable,
                         const ChannelRun& sourceRun, const void* sourceBuffer, uint32_t rowBase,
                         const ChannelRun& destinationRun, void* destinationBuffer,
                         uint32_t columnBase);
