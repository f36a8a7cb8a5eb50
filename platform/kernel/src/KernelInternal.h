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

// Fails loudly when the calling thread runs above maxIrql.
void RequireIrqlAtMost(KIRQL maxIrql, const char* service);
inline void RequirePassive(const char* service)
{
    RequireIrqlAtMost(PASSIVE_LEVEL, service);
}

// Sets the calling thread's IRQL without checks (the layer's own threads and resets).
void SetCurrentIrql(KIRQL irql);

// A non-zero value unique to the calling thread while it lives.
ULONG_PTR CurrentThreadId();

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
