// The packed routines: the chosen level's vector kernel for the leading multiple of four samples,
// the scalar routine for the rest and for whatever the kernels leave out (gain 0, whose special
// rules the scalar routines keep, and gains a level cannot take).
#include <wdm.h>

#include <cstddef>

#include "audio/PackedKernelTables.h"
#include "audio/SampleConverters.h"
#include "audio/SampleFormatIndex.h"

namespace {

// Set once at start-up; a later selector only reads it.
const PackedKernelSet* chosenKernels = nullptr;
SampleVectorLevel chosenLevel = SampleVectorLevel::Scalar;
bool levelChosen = false;

const PackedKernelSet* Kernels()
{
    if (!levelChosen) {
        ChooseSampleVectorLevel();
    }
    return chosenKernels;
}

PackedKernel KernelOf(const PackedKernelTable PackedKernelSet::*copy,
                      const PackedKernelTable PackedKernelSet::*add, uint32_t source,
                      uint32_t destination, uint32_t addFlag)
{
    const PackedKernelSet* kernels = Kernels();
    if (kernels == nullptr) {
        return nullptr;
    }
    const PackedKernelTable& table = (addFlag & 0xFFu) != 0 ? kernels->*add : kernels->*copy;
    return table.byDestination[destination].bySource[source];
}

}  // namespace

SampleVectorLevel ChooseSampleVectorLevel()
{
#if defined(__x86_64__)
    if (!ExIsProcessorFeaturePresent(PF_XMMI64_INSTRUCTIONS_AVAILABLE)) {
        chosenKernels = nullptr;
        chosenLevel = SampleVectorLevel::Scalar;
    } else if (!ExIsProcessorFeaturePresent(PF_SSSE3_INSTRUCTIONS_AVAILABLE)) {
        chosenKernels = &kPackedKernelsSse2;
        chosenLevel = SampleVectorLevel::Sse2;
    } else if (!ExIsProcessorFeaturePresent(PF_SSE4_1_INSTRUCTIONS_AVAILABLE)) {
        chosenKernels = &kPackedKernelsSsse3;
        chosenLevel = SampleVectorLevel::Ssse3;
    } else {
        chosenKernels = &kPackedKernelsSse41;
        chosenLevel = SampleVectorLevel::Sse41;
    }
#endif
    levelChosen = true;
    return chosenLevel;
}

PackedConverter SelectPackedConverter(SampleFormatCode sourceCode, SampleFormatCode destinationCode,
                                      uint32_t add)
{
    const uint32_t source = SampleFormatIndexOrStop(sourceCode);
    const uint32_t destination = SampleFormatIndexOrStop(destinationCode);
    return {SelectConverter(sourceCode, destinationCode, add),
            KernelOf(&PackedKernelSet::copy, &PackedKernelSet::add, source, destination, add),
            BytesPerSample(sourceCode), BytesPerSample(destinationCode)};
}

PackedGainConverter SelectPackedGainConverter(SampleFormatCode sourceCode,
                                              SampleFormatCode destinationCode, uint32_t add)
{
    const uint32_t source = SampleFormatIndexOrStop(sourceCode);
    const uint32_t destination = SampleFormatIndexOrStop(destinationCode);
    return {
        SelectGainConverter(sourceCode, destinationCode, add),
        KernelOf(&PackedKernelSet::gainCopy, &PackedKernelSet::gainAdd, source, destination, add),
        BytesPerSample(sourceCode), BytesPerSample(destinationCode)};
}

PackedPeakKernel SelectPackedPeakKernel(uint32_t formatIndex)
{
    const PackedKernelSet* kernels = Kernels();
    return kernels != nullptr && formatIndex < 6 ? kernels->peak[formatIndex] : nullptr;
}

void PackedConverter::operator()(const void* source, void* destination, uint32_t count) const
{
    const uint8_t* s = static_cast<const uint8_t*>(source);
    uint8_t* d = static_cast<uint8_t*>(destination);
    const uint32_t done = vector != nullptr ? vector(s, d, count, 0) : 0;
    if (done < count) {
        scalar(s + size_t{done} * sourceBytes, sourceBytes, d + size_t{done} * destinationBytes,
               destinationBytes, count - done);
    }
}

void PackedGainConverter::operator()(const void* source, void* destination, uint32_t count,
                                     SampleGain gain) const
{
    const uint8_t* s = static_cast<const uint8_t*>(source);
    uint8_t* d = static_cast<uint8_t*>(destination);
    const bool vectorTakesIt = vector != nullptr && gain != 0;
    const uint32_t done = vectorTakesIt ? vector(s, d, count, gain) : 0;
    if (done < count) {
        scalar(s + size_t{done} * sourceBytes, sourceBytes, d + size_t{done} * destinationBytes,
               destinationBytes, count - done, gain);
    }
}
