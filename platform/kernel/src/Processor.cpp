#include <KernelTestApi.h>
#include <wdm.h>

#include <atomic>

#include "KernelInternal.h"

namespace {

// One bit per feature number below 64 that a test hides.
std::atomic<uint64_t> hiddenFeatures{0};

bool HostHas(ULONG feature)
{
#if defined(__x86_64__) || defined(__i386__)
    switch (feature) {
        case PF_XMMI64_INSTRUCTIONS_AVAILABLE:
            return __builtin_cpu_supports("sse2");
        case PF_SSE3_INSTRUCTIONS_AVAILABLE:
            return __builtin_cpu_supports("sse3");
        case PF_SSSE3_INSTRUCTIONS_AVAILABLE:
            return __builtin_cpu_supports("ssse3");
        case PF_SSE4_1_INSTRUCTIONS_AVAILABLE:
            return __builtin_cpu_supports("sse4.1");
        case PF_SSE4_2_INSTRUCTIONS_AVAILABLE:
            return __builtin_cpu_supports("sse4.2");
        case PF_AVX_INSTRUCTIONS_AVAILABLE:
            return __builtin_cpu_supports("avx");
        case PF_AVX2_INSTRUCTIONS_AVAILABLE:
            return __builtin_cpu_supports("avx2");
        default:
            return false;
    }
#else
    (void)feature;
    return false;
#endif
}

}  // namespace

BOOLEAN ExIsProcessorFeaturePresent(ULONG ProcessorFeature)
{
    if (ProcessorFeature < 64 && (hiddenFeatures.load() >> ProcessorFeature & 1u) != 0) {
        return FALSE;
    }
    return HostHas(ProcessorFeature) ? TRUE : FALSE;
}

namespace Platform::Kernel {

void HideProcessorFeature(ULONG feature, bool hidden)
{
    if (feature >= 64) {
        return;
    }
    const uint64_t bit = uint64_t{1} << feature;
    if (hidden) {
        hiddenFeatures.fetch_or(bit);
    } else {
        hiddenFeatures.fetch_and(~bit);
    }
}

namespace Internal {

void ShowAllProcessorFeatures()
{
    hiddenFeatures.store(0);
}

}  // namespace Internal

}  // namespace Platform::Kernel
