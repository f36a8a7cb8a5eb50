#pragma once
// The tables of vector kernels one instruction-set level offers. Types only: this header is
// included by code built for every level.

#include <cstdint>

#include "audio/SampleFormat.h"

// Moves the leading multiple of four of count packed samples; returns how many it moved.
using PackedKernel = uint32_t (*)(const uint8_t* source, uint8_t* destination, uint32_t count,
                                  SampleGain gain);

// Indexed like the converter tables: by destination layout, then by source layout.
struct PackedKernelRow
{
    PackedKernel bySource[6];
};
struct PackedKernelTable
{
    PackedKernelRow byDestination[6];
};
// Raises peaks[i % channels] to the magnitude of packed sample i, channels being 1, 2 or 4, for
// the leading multiple of four of count samples; returns how many it took.
using PackedPeakKernel = uint32_t (*)(const uint8_t* source, uint32_t count, uint32_t channels,
                                      uint32_t* peaks);

struct PackedKernelSet
{
    PackedKernelTable copy;
    PackedKernelTable add;
    PackedKernelTable gainCopy;
    PackedKernelTable gainAdd;
    PackedPeakKernel peak[6];  // by layout; null where the level has none
};

// The chosen level's peak kernel of a layout (by format index), or null.
PackedPeakKernel SelectPackedPeakKernel(uint32_t formatIndex);

// Each level's set, built with that level's compiler flags; x64 only.
extern const PackedKernelSet kPackedKernelsSse2;
extern const PackedKernelSet kPackedKernelsSsse3;
extern const PackedKernelSet kPackedKernelsSse41;
