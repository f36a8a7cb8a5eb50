#include "GuardedPool.h"

#include <KernelTestApi.h>

#include <array>
#include <cstdlib>
#include <cstring>

#include "KernelInternal.h"

#if defined(__SANITIZE_ADDRESS__)
#define QUORVEL_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUORVEL_ASAN 1
#endif
#endif

#ifdef QUORVEL_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace Platform::Kernel::Internal {
namespace {

constexpr unsigned char kGuardByte = 0xFD;

void PoisonGuard([[maybe_unused]] unsigned char* guard)
{
#ifdef QUORVEL_ASAN
    ASAN_POISON_MEMORY_REGION(guard, kSpecialPoolGuardBytes);
#endif
}

void UnpoisonGuard([[maybe_unused]] unsigned char* guard)
{
#ifdef QUORVEL_ASAN
    ASAN_UNPOISON_MEMORY_REGION(guard, kSpecialPoolGuardBytes);
#endif
}

// Offset of the first guard byte that no longer holds the pattern, or kSpecialPoolGuardBytes.
size_t FirstOverwrittenGuardByte(const unsigned char* guard)
{
    static constexpr auto kIntact = [] {
        std::array<unsigned char, kSpecialPoolGuardBytes> bytes{};
        bytes.fill(kGuardByte);
        return bytes;
    }();
    if (std::memcmp(guard, kIntact.data(), kSpecialPoolGuardBytes) == 0) {
        return kSpecialPoolGuardBytes;  // every free asks: the whole guard in one compare
    }
    for (size_t i = 0; i < kSpecialPoolGuardBytes; ++i) {
        if (guard[i] != kGuardByte) {
            return i;
        }
    }
    return kSpecialPoolGuardBytes;
}

}  // namespace

void* SpecialPoolAllocate(size_t size, size_t alignment)
{
    void* block = nullptr;
    if (posix_memalign(&block, alignment, size + kSpecialPoolGuardBytes) != 0) {
        return nullptr;
    }
    auto* guard = static_cast<unsigned char*>(block) + size;
    std::memset(guard, kGuardByte, kSpecialPoolGuardBytes);
    PoisonGuard(guard);
    return block;
}

size_t SpecialPoolMendGuard(void* block, size_t size)
{
    auto* guard = static_cast<unsigned char*>(block) + size;
    UnpoisonGuard(guard);
    const size_t at = FirstOverwrittenGuardByte(guard);
    if (at != kSpecialPoolGuardBytes) {
        std::memset(guard, kGuardByte, kSpecialPoolGuardBytes);
    }
    PoisonGuard(guard);
    return at;
}

void SpecialPoolReportOverrun(void* block, size_t size, size_t at, const std::string& what)
{
    Violation(
        kSpecialPoolDetectedCorruption,
        "special pool: " + what + " was written " + std::to_string(at) + " byte(s) past its end",
        reinterpret_cast<ULONG_PTR>(block), size, at);
}

void SpecialPoolFree(void* block, size_t size)
{
    UnpoisonGuard(static_cast<unsigned char*>(block) + size);
    std::memset(block, kFreedPoolByte, size);
    std::free(block);
}

void SpecialPoolDiscard(void* block, size_t size)
{
    UnpoisonGuard(static_cast<unsigned char*>(block) + size);
    std::free(block);
}

}  // namespace Platform::Kernel::Internal
