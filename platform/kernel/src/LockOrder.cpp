// Deadlock detection. Each thread keeps the locks it holds in a fixed table; the order in which
// locks are taken while others are held is one global graph of edges "held, then taken". An
// acquisition that adds an edge closing a cycle could deadlock against the thread that took the
// other edges, whether or not it does this time, so it stops the system there. Only a new edge
// costs more than a look-up: its call stack is kept to name it later.
#include <execinfo.h>

#include <atomic>
#include <map>
#include <mutex>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "AddressFilter.h"
#include "KernelInternal.h"
#include "LockOrderTable.h"
#include "Verifier.h"

namespace Platform::Kernel::Internal {

std::atomic<uint64_t> g_lockEpoch{1};
std::atomic<uint64_t> g_lockEdgeGeneration{1};
thread_local constinit ThreadLocks t_locks;

namespace {

constexpr int kFrames = 12;

struct Frames
{
    void* pc[kFrames];
    int count = 0;
};

struct EdgeKey
{
    const void* from;
    const void* to;
    bool operator==(const EdgeKey&) const = default;
};

struct EdgeHash
{
    size_t operator()(const EdgeKey& key) const
    {
        const auto a = reinterpret_cast<uintptr_t>(key.from);
        const auto b = reinterpret_cast<uintptr_t>(key.to);
        return std::hash<uintptr_t>{}(a * 0x9E3779B97F4A7C15ull ^ b);
    }
};

struct Node
{
    LockKind kind;
    std::vector<const void*> out;
    std::vector<const void*> in;
};

struct MutexHolding
{
    ULONG_PTR thread;
    void* caller;
    unsigned contexts;
};

struct Graph
{
    std::mutex mutex;
    std::unordered_map<EdgeKey, Frames, EdgeHash> edges;
    std::map<const void*, Node> nodes;  // ordered: a freed block forgets a range
    std::map<const void*, std::string> names;
    std::map<const void*, MutexHolding> heldMutexes;
    std::atomic<size_t> tracked{0};  // nodes + names + held mutexes, read without the lock
    AddressFilter trackedAddresses;  // the keys of the three, read without the lock
};

Graph& TheGraph()
{
    static Graph graph;
    return graph;
}

void UpdateTracked(Graph& g)
{
    g.tracked.store(g.nodes.size() + g.names.size() + g.heldMutexes.size(),
                    std::memory_order_relaxed);
}

Frames Capture()
{
    Frames frames;
    frames.count = backtrace(frames.pc, kFrames);
    return frames;
}

std::string DescribeFrames(const Frames& frames);

// A path of edges from `from` to `to`, empty when there is none. Runs under the graph lock.
std::vector<const void*> PathBetween(const Graph& g, const void* from, const void* to)
{
    std::unordered_map<const void*, const void*> parent{{from, nullptr}};
    std::vector<const void*> stack{from};
    while (!stack.empty()) {
        const void* at = stack.back();
        stack.pop_back();
        if (at == to) {
            std::vector<const void*> path;
            for (const void* p = to; p != nullptr; p = parent[p]) {
                path.insert(path.begin(), p);
            }
            return path;
        }
        auto node = g.nodes.find(at);
        if (node == g.nodes.end()) {
            continue;
        }
        for (const void* next : node->second.out) {
            if (parent.emplace(next, at).second) {
                stack.push_back(next);
            }
        }
    }
    return {};
}

// Under the graph lock.
std::string DescribeLocked(const Graph& g, const void* lock, LockKind kind)
{
    auto name = g.names.find(lock);
    return DescribeLockAs(lock, kind, name != g.names.end() ? name->second : std::string());
}

std::string DescribeNode(const Graph& g, const void* lock)
{
    auto node = g.nodes.find(lock);
    return DescribeLocked(g, lock, node != g.nodes.end() ? node->second.kind : LockKind::SpinLock);
}

[[noreturn]] void ReportCycle(std::unique_lock<std::mutex>& guard, const Graph& g, const Held& held,
                              const void* lock, LockKind kind, const Frames& now,
                              const std::vector<const void*>& path)
{
    std::string text = "deadlock detection: " + DescribeLocked(g, lock, kind) +
                       " taken while holding " + DescribeLocked(g, held.lock, held.kind) + ", at " +
                       DescribeFrames(now) + "; the opposite order was taken before:";
    for (size_t i = 0; i + 1 < path.size(); ++i) {
        auto edge = g.edges.find(EdgeKey{path[i], path[i + 1]});
        text += "\n  " + DescribeNode(g, path[i + 1]) + " taken while holding " +
                DescribeNode(g, path[i]) + ", first at " +
                (edge != g.edges.end() ? DescribeFrames(edge->second) : std::string("?"));
    }
    guard.unlock();
    Violation(kDriverVerifierDetectedViolation, text, kRuleLockOrder,
              reinterpret_cast<ULONG_PTR>(held.lock), reinterpret_cast<ULONG_PTR>(lock));
}

void AddEdgeLocked(Graph& g, const Held& held, const void* lock, LockKind kind, const Frames& where)
{
    g.edges.emplace(EdgeKey{held.lock, lock}, where);
    auto [from, fromAdded] = g.nodes.try_emplace(held.lock, Node{held.kind, {}, {}});
    from->second.out.push_back(lock);
    if (fromAdded) {
        g.trackedAddresses.Add(held.lock);
    }
    auto [to, toAdded] = g.nodes.try_emplace(lock, Node{kind, {}, {}});
    to->second.in.push_back(held.lock);
    if (toAdded) {
        g.trackedAddresses.Add(lock);
    }
    UpdateTracked(g);
}

// The newest edge goes first; the set's oldest one makes room.
void Cache(ThreadLocks& t, const void* from, const void* to)
{
    if (IsCached(t, from, to)) {
        return;
    }
    CachedEdge* set = CacheSet(t, from, to);
    for (size_t way = kCacheWays - 1; way > 0; --way) {
        set[way] = set[way - 1];
    }
    set[0] = CachedEdge{from, to};
}

inline void RecordOrder(ThreadLocks& t, const void* lock, LockKind kind)
{
    if (t.count != t.base && !AllEdgesCached(t, lock)) {
        RecordNewOrder(t, lock, kind);
    }
}

void Push(ThreadLocks& t, const void* lock, LockKind kind, void* caller)
{
    if (t.count < kMaxHeld) {
        t.entries[t.count++] = Held{lock, caller, kind, 1};
    }
}

// The context's entry for the lock, newest first; null when it holds none.
Held* FindInContext(ThreadLocks& t, const void* lock)
{
    for (size_t i = t.count; i > t.base; --i) {
        if (t.entries[i - 1].lock == lock) {
            return &t.entries[i - 1];
        }
    }
    return nullptr;
}

void Remove(ThreadLocks& t, const Held* entry)
{
    const size_t index = static_cast<size_t>(entry - t.entries);
    for (size_t i = index; i + 1 < t.count; ++i) {
        t.entries[i] = t.entries[i + 1];
    }
    --t.count;
}

void NoteMutexHolding(const void* mutex, void* caller, int delta)
{
    Graph& g = TheGraph();
    std::lock_guard guard(g.mutex);
    auto [it, added] = g.heldMutexes.try_emplace(mutex, MutexHolding{CurrentThreadId(), caller, 0});
    if (added) {
        g.trackedAddresses.Add(mutex);
    }
    it->second.contexts += delta;
    if (it->second.contexts == 0) {
        g.heldMutexes.erase(it);
        g.trackedAddresses.Remove(mutex);
    }
    UpdateTracked(g);
}

void ForgetNodeLocked(Graph& g, std::map<const void*, Node>::iterator node)
{
    for (const void* to : node->second.out) {
        g.edges.erase(EdgeKey{node->first, to});
        if (auto other = g.nodes.find(to); other != g.nodes.end() && other->first != node->first) {
            std::erase(other->second.in, node->first);
        }
    }
    for (const void* from : node->second.in) {
        g.edges.erase(EdgeKey{from, node->first});
        if (auto other = g.nodes.find(from);
            other != g.nodes.end() && other->first != node->first) {
            std::erase(other->second.out, node->first);
        }
    }
    g.trackedAddresses.Remove(node->first);
    g.nodes.erase(node);
    g_lockEdgeGeneration.fetch_add(1, std::memory_order_release);
}

// Under the graph lock.
template <typename Map>
void EraseRange(Graph& g, Map& map, const void* begin, const void* end)
{
    auto it = map.lower_bound(begin);
    while (it != map.end() && it->first < end) {
        g.trackedAddresses.Remove(it->first);
        it = map.erase(it);
    }
}

std::string DescribeFrames(const Frames& frames)
{
    std::string text;
    int shown = 0;
    for (int i = 0; i < frames.count && shown < 3; ++i) {
        const std::string where = DescribeCode(frames.pc[i]);
        if (where.empty()) {
            continue;  // the kernel layer's own frames
        }
        text += (shown++ == 0 ? "" : " < ") + where;
    }
    return text.empty() ? "?" : text;
}

std::string DescribeHeld(const Held& held)
{
    const std::string where = DescribeCode(held.caller);
    return DescribeLock(held.lock, held.kind) + (where.empty() ? "" : " (taken at " + where + ")");
}

}  // namespace

// Kept out of line: its frame is large and the common case never needs it. An edge forgotten since
// the cache was filled empties the cache first.
__attribute__((noinline)) void RecordNewOrder(ThreadLocks& t, const void* lock, LockKind kind)
{
    const uint64_t generation = g_lockEdgeGeneration.load(std::memory_order_acquire);
    if (t.cacheGeneration != generation) {
        for (CachedEdge(&set)[kCacheWays] : t.cache) {
            for (CachedEdge& edge : set) {
                edge = CachedEdge{};
            }
        }
        t.cacheGeneration = generation;
    }
    Graph& g = TheGraph();
    std::unique_lock guard(g.mutex);
    Frames where;
    for (size_t i = t.base; i < t.count; ++i) {
        const Held& held = t.entries[i];
        if (held.lock == lock) {
            continue;
        }
        if (g.edges.count(EdgeKey{held.lock, lock}) != 0) {
            Cache(t, held.lock, lock);
            continue;
        }
        if (where.count == 0) {
            where = Capture();
        }
        std::vector<const void*> path = PathBetween(g, lock, held.lock);
        if (!path.empty()) {
            ReportCycle(guard, g, held, lock, kind, where, path);
        }
        AddEdgeLocked(g, held, lock, kind, where);
        Cache(t, held.lock, lock);
    }
}

__attribute__((noinline)) void ReleasedBelowTop(ThreadLocks& t, const void* lock, LockKind kind)
{
    if (Held* entry = FindInContext(t, lock)) {
        // The lock word of a queued lock holds its queue, not its owner: the other kind's release
        // finds it not owned (and would strand the queue's waiters).
        if (entry->kind != kind) {
            const bool queued = entry->kind == LockKind::QueuedSpinLock;
            Remove(t, entry);
            Violation(kSpinLockNotOwned,
                      std::string(queued ? "an in-stack queued spin lock released as a plain one"
                                         : "a plain spin lock released as an in-stack queued one"),
                      reinterpret_cast<ULONG_PTR>(lock));
        }
        Remove(t, entry);
    }
}

void WaitingForMutex(const void* mutex, void* caller, bool canBlock)
{
    UNREFERENCED_PARAMETER(caller);
    ThreadLocks& t = MyLocks();
    if (canBlock && FindInContext(t, mutex) == nullptr) {
        RecordOrder(t, mutex, LockKind::Mutex);
    }
}

void OwnedMutex(const void* mutex, void* caller)
{
    ThreadLocks& t = MyLocks();
    if (Held* entry = FindInContext(t, mutex)) {
        ++entry->recursion;
        return;
    }
    Push(t, mutex, LockKind::Mutex, caller);
    NoteMutexHolding(mutex, caller, +1);
}

void ReleasedMutex(const void* mutex)
{
    ThreadLocks& t = MyLocks();
    Held* entry = FindInContext(t, mutex);
    if (entry == nullptr || --entry->recursion != 0) {
        return;
    }
    Remove(t, entry);
    NoteMutexHolding(mutex, nullptr, -1);
}

void ForgetLock(const void* lock)
{
    ForgetLocksIn(lock, 1);
}

void ForgetLocksIn(const void* begin, size_t size)
{
    Graph& g = TheGraph();
    if (g.tracked.load(std::memory_order_relaxed) == 0 ||
        !g.trackedAddresses.MayHoldAny(begin, size)) {
        return;
    }
    const void* end = static_cast<const char*>(begin) + size;
    std::lock_guard guard(g.mutex);
    for (auto it = g.nodes.lower_bound(begin); it != g.nodes.end() && it->first < end;) {
        auto next = std::next(it);
        ForgetNodeLocked(g, it);
        it = next;
    }
    EraseRange(g, g.names, begin, end);
    EraseRange(g, g.heldMutexes, begin, end);
    UpdateTracked(g);
}

void ResetLockOrder()
{
    Graph& g = TheGraph();
    std::lock_guard guard(g.mutex);
    g_lockEpoch.fetch_add(1, std::memory_order_relaxed);
    g_lockEdgeGeneration.fetch_add(1, std::memory_order_release);
    g.edges.clear();
    g.nodes.clear();
    g.names.clear();
    g.heldMutexes.clear();
    g.trackedAddresses.Clear();
    UpdateTracked(g);
}

size_t HeldLockDepth()
{
    return MyLocks().count;
}

bool HoldsAnyMutex()
{
    const ThreadLocks& t = MyLocks();
    for (size_t i = 0; i < t.count; ++i) {
        if (t.entries[i].kind == LockKind::Mutex) {
            return true;
        }
    }
    return false;
}

void TruncateHeldLocks(size_t depth)
{
    ThreadLocks& t = MyLocks();
    while (t.count > depth) {
        const Held& top = t.entries[t.count - 1];
        if (top.kind == LockKind::Mutex) {
            NoteMutexHolding(top.lock, nullptr, -1);
        }
        --t.count;
    }
}

void CheckNoLockTakenSince(size_t depth, const char* what, const void* routine)
{
    ThreadLocks& t = MyLocks();
    if (t.count <= depth) {
        return;
    }
    const Held held = t.entries[t.count - 1];
    Violation(kDriverVerifierDetectedViolation,
              "lock held: " + std::string(what) + " " + DescribeRoutine(routine) +
                  " returned holding " + DescribeHeld(held),
              kRuleLockHeld, reinterpret_cast<ULONG_PTR>(held.lock),
              reinterpret_cast<ULONG_PTR>(routine));
}

void RequireNoLockHeld(const char* service)
{
    ThreadLocks& t = MyLocks();
    if (t.count == t.base) {
        return;
    }
    const Held held = t.entries[t.count - 1];
    Violation(kDriverVerifierDetectedViolation,
              "lock held: " + std::string(service) + " called holding " + DescribeHeld(held),
              kRuleLockHeld, reinterpret_cast<ULONG_PTR>(held.lock));
}

LockContextScope::LockContextScope()
{
    ThreadLocks& t = MyLocks();
    previousBase_ = t.base;
    t.base = t.count;
}

LockContextScope::~LockContextScope()
{
    ThreadLocks& t = MyLocks();
    if (t.base > t.count || previousBase_ > t.base) {
        return;  // the layer was reset while the routine ran
    }
    TruncateHeldLocks(t.base);
    t.base = previousBase_;
}

std::string DescribeLock(const void* lock, LockKind kind)
{
    Graph& g = TheGraph();
    std::lock_guard guard(g.mutex);
    return DescribeLocked(g, lock, kind);
}

}  // namespace Platform::Kernel::Internal

namespace Platform::Kernel {

using namespace Internal;

void NameLock(const void* lock, std::string_view name)
{
    Graph& g = TheGraph();
    std::lock_guard guard(g.mutex);
    auto [it, added] = g.names.try_emplace(lock);
    it->second = std::string(name);
    if (added) {
        g.trackedAddresses.Add(lock);
    }
    UpdateTracked(g);
}

bool CurrentThreadOwnsMutex(const KMUTEX* mutex)
{
    // From the thread's own table: the mutex's fields belong to the dispatcher lock, and a work
    // item run inside a wait of its owner is not the owner.
    return FindInContext(MyLocks(), mutex) != nullptr;
}

void CheckNoMutexHeld()
{
    Graph& g = TheGraph();
    std::unique_lock guard(g.mutex);
    if (g.heldMutexes.empty()) {
        return;
    }
    const auto [mutex, holding] = *g.heldMutexes.begin();
    guard.unlock();
    const std::string where = DescribeCode(holding.caller);
    Violation(kDriverVerifierDetectedViolation,
              "lock held: " + DescribeLock(mutex, LockKind::Mutex) +
                  " still held at the end of the test" +
                  (where.empty() ? "" : " (taken at " + where + ")"),
              kRuleLockHeld, reinterpret_cast<ULONG_PTR>(mutex));
}

size_t LockOrderEdgeCount()
{
    Graph& g = TheGraph();
    std::lock_guard guard(g.mutex);
    return g.edges.size();
}

}  // namespace Platform::Kernel
