// Special pool: every block is exactly the size asked for, followed by guard bytes. Under
// AddressSanitizer the guard is poisoned, so the first access past the end is reported where it
// happens; otherwise the guard is checked when the block is freed. Freed blocks are poisoned.
#pragma once

#include <cstddef>
#include <string>

namespace Platform::Kernel::Internal {

inline constexpr size_t kSpecialPoolGuardBytes = 32;

// Null when the host allocator has nothing left.
void* SpecialPoolAllocate(size_t size, size_t alignment);

// Mends the block's guard, so the block can still be reclaimed; the offset of the first guard byte
// that was written, or kSpecialPoolGuardBytes when none was. Every free checks the guard, so the
// check builds no text.
size_t SpecialPoolMendGuard(void* block, size_t size);

// Stops the system naming the block whose guard was written `at` bytes past its end. `what`
// describes the block ("tag 'PcNw', 24 bytes ...").
void SpecialPoolReportOverrun(void* block, size_t size, size_t at, const std::string& what);

// Poisons the block and frees it.
void SpecialPoolFree(void* block, size_t size);

// Frees without checks (reclaiming what a leaking test left).
void SpecialPoolDiscard(void* block, size_t size);

}  // namespace Platform::Kernel::Internal
