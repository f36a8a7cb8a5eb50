// What the processor offers beyond the base instruction set.
#pragma once

#include "wdm/NtTypes.h"

// Feature numbers, as the kernel numbers them.
#define PF_XMMI64_INSTRUCTIONS_AVAILABLE 10  // SSE2
#define PF_SSE3_INSTRUCTIONS_AVAILABLE 13
#define PF_SSSE3_INSTRUCTIONS_AVAILABLE 36
#define PF_SSE4_1_INSTRUCTIONS_AVAILABLE 37
#define PF_SSE4_2_INSTRUCTIONS_AVAILABLE 38
#define PF_AVX_INSTRUCTIONS_AVAILABLE 39
#define PF_AVX2_INSTRUCTIONS_AVAILABLE 40

// TRUE when every processor of the system has the feature; FALSE for a number it does not know.
BOOLEAN ExIsProcessorFeaturePresent(ULONG ProcessorFeature);
