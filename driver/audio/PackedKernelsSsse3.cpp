// The packed kernels with SSSE3 byte shuffles (built with -mssse3; chosen only where present).
#include "audio/PackedKernels.h"

const PackedKernelSet kPackedKernelsSsse3 = kKernels;
