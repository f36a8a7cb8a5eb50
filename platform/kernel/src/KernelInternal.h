// State and checks shared by the kernel layer's sources. Not part of any public header.
#pragma once

#include <KernelTestApi.h>

#include <string>

namespace Platform::Kernel::Internal {

// Stops the system with a reason the layer found; goes through the installed hook.
[[noreturn]] void Violation(ULONG code, const std::string& reason, ULONG_PTR p1 = 0,
                            ULONG_PTR p2 = 0, ULONG_PTR p3 = 0, ULONG_PTR p4 = 0);

// Keeps the first bug check that stopped one of the layer's own threads.
void RecordSystemThreadBugCheck(const BugCheckInfo& info);

// The calling thread's IRQL, held spin locks and identity. Constant-initialised, so the other
// sources reach them without an initialisation call: every spin lock acquisition reads them.
extern thread_local constinit KIRQL t_irql;
extern thread_local constinit int t_spinLocksHeld;
extern thread_local constinit char t_threadIdentity;

[[noreturn]] void IrqlAbove(KIRQL maxIrql, const char* service);
// Fails loudly when the calling thread runs above maxIrql.
inline void RequireIrqlAtMost(KIRQL maxIrql, const char* service)
{
    if (t_irql > maxIrql) {
        IrqlAbove(maxIrql, service);
    }
}
inline void RequirePassive(const char* service)
{
    RequireIrqlAtMost(PASSIVE_LEVEL, service);
}

// Sets the calling thread's IRQL without checks (the layer's own threads and resets).
void SetCurrentIrql(KIRQL irql);

// A non-zero value unique to the calling thread while it lives.
inline ULONG_PTR CurrentThreadId()
{
    return reinterpret_cast<ULONG_PTR>(&t_threadIdentity);
}
inline void CountSpinLock(int delta)
{
    t_spinLocksHeld += delta;
}

// Number of spin locks the calling thread holds.
int SpinLocksHeld();
void ForgetSpinLocksHeld();

// Pool blocks are checked against armed timers and queued DPCs before they are freed.
void CheckNoLiveKernelObjectsIn(const void* begin, size_t size);

void ResetPoolFailures();

// Whether the low-resources simulation fails this allocation (counted under its tag).
bool LowResourcesFailsAllocation(ULONG tag);
// Turns the simulation off; forgetCounts also clears what it counted.
void ResetLowResources(bool forgetCounts);
void ShowAllProcessorFeatures();
void ResetRegistryHandles();
void ResetDispatcher();

// Injected user-object failures back to none (ResetHostState).
void ResetUserObjectFailures();

}  // namespace Platform::Kernel::Internal
