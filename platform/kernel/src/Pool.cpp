// Pool: every block is recorded with its tag so a test can list what is still outstanding, new
// blocks are poisoned so uninitialised pool shows, and allocations can be made to fail. Blocks
// come from the special pool (GuardedPool.h): exactly the size asked for, guarded past the end.
#include <KernelTestApi.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>

#include "GuardedPool.h"
#include "KernelInternal.h"
#include "PoolBlockTable.h"
#include "Verifier.h"

using namespace Platform::Kernel;

namespace {

std::atomic<unsigned char> poisonByte{Platform::Kernel::kPoolPoisonByte};

constexpr size_t kPoolAlignment = 16;

struct Block
{
    size_t size;
    ULONG tag;
    bool contiguous;
    uint64_t sequence;
    bool paged;  // freed at APC_LEVEL at most, as it was allocated
};

struct PoolState
{
    std::mutex mutex;
    Internal::PoolBlockTable<Block> blocks;
    uint64_t attempts = 0;
    uint64_t failAt = 0;  // 0 = none
    std::set<ULONG> failingTags;
};

PoolState& State()
{
    static PoolState state;
    return state;
}

// Whether the allocation being made is one a test asked to fail. Under the pool lock.
bool FailsThisAllocation(PoolState& state, ULONG tag)
{
    ++state.attempts;
    if (state.failAt != 0 && state.attempts == state.failAt) {
        state.failAt = 0;
        return true;
    }
    return state.failingTags.count(tag) != 0 || Internal::LowResourcesFailsAllocation(tag);
}

// The block is made before the lock is taken, so that one holding of the lock both counts the
// attempt and records the block; an allocation failed on purpose gives its block straight back.
void* Allocate(size_t size, ULONG tag, bool contiguous, size_t alignment, bool paged = false)
{
    PoolState& state = State();
    void* p = Internal::SpecialPoolAllocate(size, alignment);
    if (p != nullptr) {
        std::memset(p, poisonByte.load(std::memory_order_relaxed), size);
    }
    bool failed = false;
    {
        std::lock_guard lock(state.mutex);
        failed = FailsThisAllocation(state, tag);
        if (!failed && p != nullptr) {
            state.blocks.Insert(p, Block{size, tag, contiguous, state.attempts, paged});
        }
    }
    if (failed && p != nullptr) {
        Internal::SpecialPoolDiscard(p, size);
        return nullptr;
    }
    return p;
}

void Release(void* p, const char* service, bool contiguous, const ULONG* expectedTag)
{
    if (p == nullptr) {
        Internal::Violation(kBadPoolCaller, std::string(service) + " given a null pointer");
    }
    PoolState& state = State();
    Block block{};
    {
        std::lock_guard lock(state.mutex);
        const Block* found = state.blocks.Find(p);
        if (found == nullptr) {
            Internal::Violation(kBadPoolCaller,
                                std::string(service) +
                                    " given an address that is not an "
                                    "outstanding block (double free?)",
                                reinterpret_cast<ULONG_PTR>(p));
        }
        block = *found;
    }
    if (block.contiguous != contiguous) {
        Internal::Violation(kBadPoolCaller,
                            std::string(service) +
                                (contiguous ? " given a pool block" : " given contiguous memory"),
                            reinterpret_cast<ULONG_PTR>(p));
    }
    if (expectedTag != nullptr && *expectedTag != block.tag) {
        Internal::Violation(kBadPoolCaller,
                            std::string(service) + " with tag '" + TagText(*expectedTag) +
                                "' for a block tagged '" + TagText(block.tag) + "'",
                            reinterpret_cast<ULONG_PTR>(p), *expectedTag, block.tag);
    }
    if (block.paged && KeGetCurrentIrql() > APC_LEVEL) {
        Internal::IrqlAbove(APC_LEVEL, (std::string(service) + " of a paged pool block").c_str());
    }
    Internal::CheckNoLiveKernelObjectsIn(p, block.size);
    const size_t overrun = Internal::SpecialPoolMendGuard(p, block.size);
    if (overrun != Internal::kSpecialPoolGuardBytes) {
        Internal::SpecialPoolReportOverrun(
            p, block.size, overrun,
            PoolBlock{p, block.size, block.tag, block.contiguous, block.sequence}.Describe());
    }
    Internal::ForgetLocksIn(p, block.size);
    {
        std::lock_guard lock(state.mutex);
        state.blocks.Erase(p);
    }
    Internal::SpecialPoolFree(p, block.size);
}

}  // namespace

namespace Platform::Kernel {

void SetPoolPoisonByte(unsigned char poison)
{
    poisonByte.store(poison, std::memory_order_relaxed);
}

unsigned char PoolPoisonByte()
{
    return poisonByte.load(std::memory_order_relaxed);
}

std::string TagText(ULONG tag)
{
    std::string text;
    for (int i = 0; i < 4; ++i) {
        const char c = static_cast<char>((tag >> (8 * i)) & 0xFF);
        text += (c >= 0x20 && c < 0x7F) ? c : '.';
    }
    return text;
}

std::string PoolBlock::Describe() const
{
    const std::string what = contiguous ? "contiguous memory" : "tag '" + TagText(tag) + "'";
    return what + ", " + std::to_string(size) + " bytes (allocation #" + std::to_string(sequence) +
           ")";
}

std::vector<PoolBlock> OutstandingPool()
{
    PoolState& state = State();
    std::lock_guard lock(state.mutex);
    std::vector<PoolBlock> out;
    state.blocks.ForEach([&](const void* address, const Block& block) {
        out.push_back(PoolBlock{address, block.size, block.tag, block.contiguous, block.sequence});
    });
    std::sort(out.begin(), out.end(),
              [](const PoolBlock& a, const PoolBlock& b) { return a.sequence < b.sequence; });
    return out;
}

void FreeOutstandingPool()
{
    PoolState& state = State();
    std::lock_guard lock(state.mutex);
    state.blocks.ForEach([](const void* address, const Block& block) {
        Internal::SpecialPoolDiscard(const_cast<void*>(address), block.size);
    });
    state.blocks.Clear();
}

uint64_t AllocationCount()
{
    PoolState& state = State();
    std::lock_guard lock(state.mutex);
    return state.attempts;
}

void FailAllocationNumber(uint64_t n)
{
    PoolState& state = State();
    std::lock_guard lock(state.mutex);
    state.failAt = n == 0 ? 0 : state.attempts + n;
}

void FailAllocationsWithTag(ULONG tag)
{
    PoolState& state = State();
    std::lock_guard lock(state.mutex);
    state.failingTags.insert(tag);
}

void ClearAllocationFailures()
{
    PoolState& state = State();
    std::lock_guard lock(state.mutex);
    state.failAt = 0;
    state.failingTags.clear();
    Internal::ResetLowResources(false);
}

namespace Internal {

bool FindPoolBlock(const void* address, ULONG* tag, size_t* offset, size_t* size)
{
    PoolState& state = State();
    std::lock_guard lock(state.mutex);
    // Only reports ask, so a walk of every block will do.
    const auto* at = static_cast<const char*>(address);
    bool found = false;
    state.blocks.ForEach([&](const void* key, const Block& block) {
        const auto* begin = static_cast<const char*>(key);
        if (!found && at >= begin && at < begin + block.size) {
            *tag = block.tag;
            *offset = static_cast<size_t>(at - begin);
            *size = block.size;
            found = true;
        }
    });
    return found;
}

void ResetPoolFailures()
{
    PoolState& state = State();
    std::lock_guard lock(state.mutex);
    state.failAt = 0;
    state.failingTags.clear();
    state.attempts = 0;
    ResetLowResources(true);
}

}  // namespace Internal
}  // namespace Platform::Kernel

PVOID ExAllocatePoolWithTag(POOL_TYPE poolType, SIZE_T numberOfBytes, ULONG tag)
{
    const bool paged = (poolType & 1) != 0;
    Internal::RequireIrqlAtMost(
        paged ? APC_LEVEL : DISPATCH_LEVEL,
        paged ? "ExAllocatePoolWithTag(PagedPool)" : "ExAllocatePoolWithTag");
    // The verifier's pool checks: a block nobody can use, and a block no leak report can name.
    if (numberOfBytes == 0) {
        Internal::Violation(kDriverVerifierDetectedViolation,
                            "ExAllocatePoolWithTag of zero bytes (tag '" + TagText(tag) + "')", 0,
                            static_cast<ULONG_PTR>(poolType), 0, tag);
    }
    if (tag == 0) {
        Internal::Violation(kDriverVerifierDetectedViolation,
                            "ExAllocatePoolWithTag with a tag of zero", 0x9B,
                            static_cast<ULONG_PTR>(poolType), numberOfBytes);
    }
    return Allocate(numberOfBytes, tag, false, kPoolAlignment, paged);
}

void ExFreePoolWithTag(PVOID p, ULONG tag)
{
    Internal::RequireIrqlAtMost(DISPATCH_LEVEL, "ExFreePoolWithTag");
    Release(p, "ExFreePoolWithTag", false, &tag);
}

void ExFreePool(PVOID p)
{
    Internal::RequireIrqlAtMost(DISPATCH_LEVEL, "ExFreePool");
    Release(p, "ExFreePool", false, nullptr);
}

PVOID MmAllocateContiguousMemorySpecifyCache(SIZE_T numberOfBytes, PHYSICAL_ADDRESS lowest,
                                             PHYSICAL_ADDRESS highest, PHYSICAL_ADDRESS boundary,
                                             MEMORY_CACHING_TYPE cacheType)
{
    Internal::RequireIrqlAtMost(DISPATCH_LEVEL, "MmAllocateContiguousMemorySpecifyCache");
    if (numberOfBytes == 0 || highest.QuadPart < lowest.QuadPart || boundary.QuadPart < 0 ||
        cacheType > MmWriteCombined) {
        return nullptr;
    }
    return Allocate(numberOfBytes, 0, true, PAGE_SIZE);
}

PVOID MmAllocateContiguousMemory(SIZE_T numberOfBytes, PHYSICAL_ADDRESS highestAcceptableAddress)
{
    PHYSICAL_ADDRESS zero;
    zero.QuadPart = 0;
    return MmAllocateContiguousMemorySpecifyCache(numberOfBytes, zero, highestAcceptableAddress,
                                                  zero, MmCached);
}

void MmFreeContiguousMemory(PVOID baseAddress)
{
    Internal::RequirePassive("MmFreeContiguousMemory");
    Release(baseAddress, "MmFreeContiguousMemory", true, nullptr);
}
