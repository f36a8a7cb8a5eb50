// The test and host side of the kernel layer. Driver code never includes this.
//
// Bug checks: KeBugCheckEx, and every misuse the layer detects (a PASSIVE-only service at a raised
// IRQL, a spin lock taken twice, a bad pool free, a wait nothing can satisfy ...), call the
// installed bug-check hook. The default hook prints the code and the reason and aborts the
// process. Tests install ThrowingBugCheckHook (the PlatformKernelTesting fixture does so for
// every test): the bug check becomes a BugCheckRaised exception, which fails the test that caused
// it, and ExpectBugCheck runs code that must stop the system and returns what it stopped with.
// The exception unwinds through driver frames built without exceptions (their unwind tables are
// still there); nothing in those frames is cleaned up, which suits a system that has stopped.
// A bug check on one of the layer's own threads (real time mode) is kept and reported by
// TakeSystemThreadBugCheck; that thread stops running work.
#pragma once

#include <wdm.h>

#include "KernelVerifierApi.h"

#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Platform::Kernel {

// Bug-check codes the layer raises for misuse it detects.
inline constexpr ULONG kIrqlNotGreaterOrEqual = 0x09;
inline constexpr ULONG kIrqlNotLessOrEqual = 0x0A;  // a PASSIVE-only service at a raised IRQL
inline constexpr ULONG kSpinLockAlreadyOwned = 0x0F;
inline constexpr ULONG kSpinLockNotOwned = 0x10;
inline constexpr ULONG kThreadNotMutexOwner = 0x11;
inline constexpr ULONG kSpecialPoolDetectedCorruption = 0xC1;  // a block written past its end
inline constexpr ULONG kBadPoolCaller = 0xC2;
inline constexpr ULONG kDriverVerifierDetectedViolation = 0xC4;
inline constexpr ULONG kTimerOrDpcInvalid = 0xC7;
inline constexpr ULONG kDeadlockDetected = 0xDEAD;  // a wait that nothing can ever satisfy

struct BugCheckInfo
{
    ULONG code = 0;
    ULONG_PTR parameters[4] = {};
    std::string reason;  // what the layer saw; empty when the driver called KeBugCheckEx itself

    std::string Describe() const;  // "bug check 0x0000000A (...): reason"
};

class BugCheckRaised : public std::exception
{
public:
    explicit BugCheckRaised(BugCheckInfo info);
    const char* what() const noexcept override { return text_.c_str(); }
    const BugCheckInfo& Info() const { return info_; }

private:
    BugCheckInfo info_;
    std::string text_;
};

// A hook must not return; when it does, the process aborts.
using BugCheckHook = void (*)(const BugCheckInfo&);
BugCheckHook SetBugCheckHook(BugCheckHook hook);  // returns the previous hook; null = default
[[noreturn]] void ThrowingBugCheckHook(const BugCheckInfo& info);

// Runs body with the throwing hook; returns the bug check it raised, or nothing when it returned
// normally. The calling thread's IRQL is put back to what it was.
std::optional<BugCheckInfo> ExpectBugCheck(const std::function<void()>& body);

// A bug check that stopped one of the layer's threads in real time mode, taken once.
std::optional<BugCheckInfo> TakeSystemThreadBugCheck();

// ---- Pool ----------------------------------------------------------------------------------

inline constexpr unsigned char kPoolPoisonByte = 0xCD;  // fills every new block
inline constexpr unsigned char kFreedPoolByte = 0xDF;   // fills every block as it is freed

// The byte that fills new blocks from now on (kPoolPoisonByte until set; ResetKernel puts it
// back). Running the same work under two poison bytes shows whether any byte a caller receives
// was never written.
void SetPoolPoisonByte(unsigned char poison);
unsigned char PoolPoisonByte();

// A tag whose bytes in memory spell the text: MakeTag("PcNw").
constexpr ULONG MakeTag(const char (&text)[5])
{
    return static_cast<ULONG>(static_cast<unsigned char>(text[0])) |
           static_cast<ULONG>(static_cast<unsigned char>(text[1])) << 8 |
           static_cast<ULONG>(static_cast<unsigned char>(text[2])) << 16 |
           static_cast<ULONG>(static_cast<unsigned char>(text[3])) << 24;
}
std::string TagText(ULONG tag);  // the four characters in memory order; '.' for unprintable

struct PoolBlock
{
    const void* address = nullptr;
    size_t size = 0;
    ULONG tag = 0;
    bool contiguous = false;  // from MmAllocateContiguousMemory*
    uint64_t sequence = 0;    // 1 for the first allocation since the last reset

    std::string Describe() const;  // "tag 'PcNw', 64 bytes (allocation #3)"
};

std::vector<PoolBlock> OutstandingPool();  // in allocation order
void FreeOutstandingPool();                // reclaims what a leaking test left
uint64_t AllocationCount();                // attempts since the last reset, failed ones included

// Failure injection: the n-th allocation attempt from now fails (1 = the next one), or every
// allocation with the tag fails. Contiguous memory counts as allocations with tag 0.
void FailAllocationNumber(uint64_t n);
void FailAllocationsWithTag(ULONG tag);
void ClearAllocationFailures();  // the low-resources simulation too (its counts stay)

// Special pool: a block is exactly the size asked for (contiguous memory too), followed by guard
// bytes. Under AddressSanitizer the first access past the end is reported where it happens;
// otherwise freeing a block whose guard was written stops the system
// (kSpecialPoolDetectedCorruption, "special pool: ..."). Freed blocks are filled with
// kFreedPoolByte.

// Low-resources simulation: once `graceAllocations` more attempts have passed, each allocation
// attempt fails with the probability failuresPerMillion / 1000000, drawn from a generator seeded
// with `seed`, so a run can be repeated. failuresPerMillion 0 turns it off. What it failed is
// counted by tag until the next ResetKernel.
struct LowResources
{
    uint64_t seed = 1;
    uint32_t failuresPerMillion = 0;
    uint64_t graceAllocations = 0;
};
void SimulateLowResources(const LowResources& settings);
uint64_t LowResourcesFailures();
uint64_t LowResourcesFailures(ULONG tag);
std::map<ULONG, uint64_t> LowResourcesFailuresByTag();

// ---- Time ----------------------------------------------------------------------------------
//
// Virtual mode (the default): the clock stands still until a test moves it. AdvanceTime runs
// everything that falls due, in time order, on the calling thread: at each instant the timers
// due then fire, their DPCs run at DISPATCH_LEVEL, then the work items queued so far run at
// PASSIVE_LEVEL. Nothing runs behind the test's back: a DPC or work item queued outside
// AdvanceTime runs at the next AdvanceTime or RunPending, or when a wait needs it. A wait that
// is not satisfied runs what is pending and moves the clock to the next timer, up to its
// timeout; a wait nothing can satisfy stops the system (kDeadlockDetected) with what it waited
// for, after the watchdog gave other threads of the test a chance to satisfy it.
//
// Real mode: the clock is the wall clock; a timer thread fires timers and runs DPCs, and one
// worker thread per work queue runs work items. SetTimeMode(Virtual) or ResetKernel stops the
// threads after they ran what was already queued. The driver's code is the same in both modes.

enum class TimeMode
{
    Virtual,
    Real,
};

void SetTimeMode(TimeMode mode);
TimeMode GetTimeMode();

// Real mode asks the scheduler for real-time priority (SCHED_FIFO) for its threads: the timer
// thread highest, then a host's streaming client, then the critical and the delayed work queue.
enum class RealTimeRole
{
    Timer,
    Client,
    CriticalWork,
    DelayedWork,
};
// Why the last switch to real mode ran the layer's threads at normal priority (no CAP_SYS_NICE,
// RLIMIT_RTPRIO too low); empty when the scheduler granted it.
std::string RealTimeSchedulingRefusal();
// The calling thread at the role's real-time priority; false, and why, when refused (it then
// stays as it was). ReturnToNormalScheduling puts it back to normal priority.
bool RaiseToRealTime(RealTimeRole role, std::string* why);
void ReturnToNormalScheduling();

void AdvanceTime(std::chrono::nanoseconds duration);  // virtual mode, at PASSIVE_LEVEL
void RunPending();                                    // queued DPCs, then work items

LONGLONG InterruptTime100ns();  // the clock, 100 ns units since the layer's boot
void SetPerformanceFrequency(LONGLONG countsPerSecond);  // default 10 MHz
// 100 ns units: the finest resolution asked for by a set not yet released; 0 = none.
ULONG TimerResolutionInForce();
// ExSetTimerResolution's requests as the kernel counts them: every set must be released once.
// The kernel test fixture fails a test that ends with either count nonzero.
struct TimerResolutionRequests
{
    ULONG outstanding = 0;        // sets not yet released
    ULONG unmatchedReleases = 0;  // releases that found no set to release
};
TimerResolutionRequests TimerResolutionRequestCounts();

// How long a wait nothing in the layer can satisfy waits for another thread before it stops
// the system; 0 = forever. Also the limit of virtual time such a wait lets pass. Default 2 s.
void SetDeadlockWatchdog(std::chrono::milliseconds realTime);

size_t ArmedTimerCount();
size_t PendingWorkItemCount();

// ---- Remove locks --------------------------------------------------------------------------

struct RemoveLockHolder
{
    ULONG_PTR tag = 0;
    std::string file;
    ULONG line = 0;

    std::string Describe() const;  // "tag 0x0 from DeviceContext.cpp:42"
};

std::vector<RemoveLockHolder> RemoveLockHolders(const IO_REMOVE_LOCK* lock);

// ---- Registry and OS version ----------------------------------------------------------------

// The registry routines use the machine registry (PlatformRegistry); ResetKernel gives each test
// a fresh one in memory, MachineRegistry::Open(folder) one kept in a folder.
size_t OpenRegistryHandleCount();  // Zw handles not yet closed

// Runs before each ZwQueryValueKey reads its value (key path below the machine hive, value name),
// so a test can change the value between two queries as another writer could. Null removes it;
// ResetKernel does too.
using ValueQueryHook = std::function<void(std::u16string_view keyPath, std::u16string_view name)>;
void SetValueQueryHook(ValueQueryHook hook);

// The version RtlIsNtDdiVersionAvailable answers from; default NTDDI_WIN10.
void SetOsVersion(ULONG ntddiVersion);

// ---- Tear-down checks ----------------------------------------------------------------------

// Other layers' checks of a test's end (the simulated USB devices' violations ...). Each returns
// one text per fault found since it last ran, and forgets them. The kernel test fixture runs them
// all after every test and fails the test with each text, as it does for leaked pool.
using TearDownCheck = std::vector<std::string> (*)();
void AddTearDownCheck(TearDownCheck check);  // once per check; adding it again does nothing
std::vector<std::string> RunTearDownChecks();
// ---- Processor ----------------------------------------------------------------------------

// ExIsProcessorFeaturePresent answers FALSE for a hidden feature (a PF_ number), so code that
// picks its routines by feature can run every path on one machine. ResetKernel shows them all.
void HideProcessorFeature(ULONG feature, bool hidden = true);

// ---- Whole layer ---------------------------------------------------------------------------

// Back to a fresh virtual-time system: the clock at 0, no timers, DPCs or work items, the calling
// thread at PASSIVE_LEVEL, no injected failures, no registry handles, a fresh in-memory registry,
// the default OS version, no hidden processor features. Pool blocks stay (check them first).
void ResetKernel();

}  // namespace Platform::Kernel
