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
struct PackedKernelSet
{
    PackedKernelTable copy;
    PackedKernelTable add;
    PackedKernelTable gainCopy;
    PackedKernelTable gainAdd;
};

// Each level's set, built with that level's compiler flags; x64 only.
extern const PackedKernelSet kPackedKernelsSse2;
extern const PackedKernelSet kPackedKernelsSsse3;
extern const PackedKernelSet kPackedKernelsSse41;
