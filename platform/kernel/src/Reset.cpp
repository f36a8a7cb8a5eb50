#include <KernelTestApi.h>

#include "KernelInternal.h"
#include "Verifier.h"

namespace Platform::Kernel {

void ResetKernel()
{
    Internal::ResetDispatcher();
    Internal::ResetPoolFailures();
    SetPoolPoisonByte(kPoolPoisonByte);
    Internal::ShowAllProcessorFeatures();
    Internal::ResetRegistryHandles();
    SetOsVersion(NTDDI_WIN10);
    Internal::SetCurrentIrql(PASSIVE_LEVEL);
    Internal::ForgetSpinLocksHeld();
    Internal::ResetLockOrder();
}

}  // namespace Platform::Kernel
