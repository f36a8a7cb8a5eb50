#include "GuardedPool.h"

#include <KernelTestApi.h>

#include <cstdint>
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
// Every free checks a guard: whole words are compared first, bytes only when one differs.
size_t FirstOverwrittenGuardByte(const unsigned char* guard)
{
    static_assert(kSpecialPoolGuardBytes % sizeof(uint64_t) == 0);
    constexpr uint64_t kGuardWord = 0x0101010101010101ull * kGuardByte;
    uint64_t differs = 0;
    for (size_t i = 0; i < kSpecialPoolGuardBytes; i += sizeof(uint64_t)) {
        uint64_t word;
        std::memcpy(&word, guard + i, sizeof word);
        differs |= word ^ kGuardWord;
    }
    if (differs == 0) {
        return kSpecialPoolGuardBytes;
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
