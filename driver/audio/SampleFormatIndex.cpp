#include "audio/SampleFormatIndex.h"

#include <wdm.h>

namespace {
constexpr ULONG kUnknownSampleFormatBugCheck = 0xDEADDEAD;
}

uint32_t SampleFormatIndexOrStop(SampleFormatCode code)
{
    const uint32_t index = SampleFormatIndexOf(code);
    if (index == kSampleFormatIndexCount) {
        KeBugCheckEx(kUnknownSampleFormatBugCheck, 0, 0, 0, 0);
    }
    return index;
}
