// The packed kernels with SSE4.1 products (built with -msse4.1; chosen only where present).
#include "audio/PackedKernels.h"

const PackedKernelSet kPackedKernelsSse41 = kKernels;
