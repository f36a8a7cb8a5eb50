#include <KernelTestApi.h>

#include <string>

#include "KernelInternal.h"

namespace Platform::Kernel::Internal {
thread_local constinit KIRQL t_irql = PASSIVE_LEVEL;
thread_local constinit int t_spinLocksHeld = 0;
thread_local constinit char t_threadIdentity = 0;

void SetCurrentIrql(KIRQL irql)
{
    t_irql = irql;
}

int SpinLocksHeld()
{
    return t_spinLocksHeld;
}

void ForgetSpinLocksHeld()
{
    t_spinLocksHeld = 0;
}

void IrqlAbove(KIRQL maxIrql, const char* service)
{
    Violation(kIrqlNotLessOrEqual,
              std::string(service) + " called at IRQL " + std::to_string(t_irql) +
                  ", above the highest it allows (" + std::to_string(maxIrql) + ")",
              t_irql, maxIrql);
}

}  // namespace Platform::Kernel::Internal

using namespace Platform::Kernel;

KIRQL KeGetCurrentIrql()
{
    return Internal::t_irql;
}

void KeRaiseIrql(KIRQL newIrql, PKIRQL oldIrql)
{
    const KIRQL current = Internal::t_irql;
    if (newIrql < current) {
        Internal::Violation(kIrqlNotGreaterOrEqual,
                            "KeRaiseIrql to " + std::to_string(newIrql) + " from the higher IRQL " +
                                std::to_string(current),
                            current, newIrql);
    }
    *oldIrql = current;
    Internal::t_irql = newIrql;
}

void KeLowerIrql(KIRQL newIrql)
{
    const KIRQL current = Internal::t_irql;
    if (newIrql > current) {
        Internal::Violation(kIrqlNotLessOrEqual,
                            "KeLowerIrql to " + std::to_string(newIrql) + " from the lower IRQL " +
                                std::to_string(current),
                            current, newIrql);
    }
    if (newIrql < DISPATCH_LEVEL && Internal::t_spinLocksHeld > 0) {
        Internal::Violation(kDriverVerifierDetectedViolation,
                            "IRQL lowered below DISPATCH_LEVEL while holding " +
                                std::to_string(Internal::t_spinLocksHeld) + " spin lock(s)");
    }
    Internal::t_irql = newIrql;
}

KIRQL KeRaiseIrqlToDpcLevel()
{
    KIRQL old;
    KeRaiseIrql(DISPATCH_LEVEL, &old);
    return old;
}
