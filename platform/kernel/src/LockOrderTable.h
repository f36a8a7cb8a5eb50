// Each thread's table of the locks it holds and its cache of lock-order edges it has seen in the
// global graph (LockOrder.cpp). A spin lock's acquisition and release go through here on every
// call, so the common case is inline in the spin lock services: the held locks are checked
// against the cache and pushed; a lock released at the top of the table is popped. Everything
// else (an edge not yet cached, a release out of order) goes out of line to the graph.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "Verifier.h"

namespace Platform::Kernel::Internal {

inline constexpr size_t kMaxHeld = 64;
inline constexpr size_t kCacheSets = 256;  // a power of two
inline constexpr size_t kCacheWays = 4;    // one cache line of edges per set

struct Held
{
    const void* lock = nullptr;
    void* caller = nullptr;
    LockKind kind = LockKind::SpinLock;
    unsigned recursion = 0;
};

struct CachedEdge
{
    const void* from = nullptr;
    const void* to = nullptr;
};

// Constant-initialised, so reaching it costs no initialisation check. The cache holds edges this
// thread saw in the graph, so taking locks in a known order needs no global lock; it is valid while
// no edge has been forgotten since (the generation).
struct ThreadLocks
{
    Held entries[kMaxHeld] = {};
    size_t count = 0;
    size_t base = 0;  // entries below belong to the context a DPC or work item interrupted
    uint64_t epoch = 0;
    alignas(64) CachedEdge cache[kCacheSets][kCacheWays] = {};
    uint64_t cacheGeneration = 0;
};

extern std::atomic<uint64_t> g_lockEpoch;           // moves on when the layer is reset
extern std::atomic<uint64_t> g_lockEdgeGeneration;  // moves on whenever edges are forgotten
extern thread_local constinit ThreadLocks t_locks;

// The calling thread's table, emptied when the layer was reset since it last looked.
inline ThreadLocks& MyLocks()
{
    ThreadLocks& t = t_locks;
    const uint64_t epoch = g_lockEpoch.load(std::memory_order_relaxed);
    if (t.epoch != epoch) [[unlikely]] {
        t.count = 0;
        t.base = 0;
        t.epoch = epoch;
    }
    return t;
}

// The set an edge may sit in. Locks sit at strides of the structures that hold them (a lock per
// stream, per pipe): a multiplicative mix keeps such families apart, and the ways of a set keep
// the few edges that still meet from evicting each other on every period, which sent each such
// acquisition to the graph lock.
inline CachedEdge* CacheSet(ThreadLocks& t, const void* from, const void* to)
{
    const auto a = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(from));
    const auto b = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(to));
    const uint64_t mixed = (a * 0x9E3779B97F4A7C15ull) ^ (b * 0xC2B2AE3D27D4EB4Full);
    return t.cache[(mixed >> 32) & (kCacheSets - 1)];
}

inline bool IsCached(ThreadLocks& t, const void* from, const void* to)
{
    const CachedEdge* set = CacheSet(t, from, to);
    for (size_t way = 0; way < kCacheWays; ++way) {
        if (set[way].from == from && set[way].to == to) {
            return true;
        }
    }
    return false;
}

// Whether every edge from the context's held locks to `lock` is one this thread saw in the graph
// since the last edge was forgotten.
inline bool AllEdgesCached(ThreadLocks& t, const void* lock)
{
    if (t.cacheGeneration != g_lockEdgeGeneration.load(std::memory_order_acquire)) {
        return false;
    }
    for (size_t i = t.base; i < t.count; ++i) {
        const void* held = t.entries[i].lock;
        if (held != lock && !IsCached(t, held, lock)) {
            return false;
        }
    }
    return true;
}

// Adds the edges from every lock the context holds to `lock` to the graph; stops the system on a
// cycle.
void RecordNewOrder(ThreadLocks& t, const void* lock, LockKind kind);
// A release of a lock below the top of the table (or of one never pushed), or of the top one by
// the other kind's service; stops the system on the second.
void ReleasedBelowTop(ThreadLocks& t, const void* lock, LockKind kind);

// A spin lock is about to be taken by the calling thread: stops the system when taking it closes
// a cycle in the lock order, then counts it as held. `caller` is where the driver asked for it.
inline void TakingSpinLock(const void* lock, LockKind kind, void* caller)
{
    ThreadLocks& t = MyLocks();
    if (t.count != t.base && !AllEdgesCached(t, lock)) [[unlikely]] {
        RecordNewOrder(t, lock, kind);
    }
    if (t.count < kMaxHeld) [[likely]] {
        t.entries[t.count++] = Held{lock, caller, kind, 1};
    }
}

// `kind` is the kind the releasing service releases: a plain spin lock and an in-stack queued one
// are not interchangeable.
inline void ReleasedSpinLock(const void* lock, LockKind kind)
{
    ThreadLocks& t = MyLocks();
    if (t.count > t.base && t.entries[t.count - 1].lock == lock &&
        t.entries[t.count - 1].kind == kind) [[likely]] {
        --t.count;
        return;
    }
    ReleasedBelowTop(t, lock, kind);
}

}  // namespace Platform::Kernel::Internal
