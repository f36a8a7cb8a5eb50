// The packed kernels on SSE2, which every x64 processor has.
#include "audio/PackedKernels.h"

const PackedKernelSet kPackedKernelsSse2 = kKernels;
