#include "KernelInternal.h"

namespace Platform::Kernel::Internal {

void CheckNoLiveKernelObjectsIn(const void*, size_t) {}
void ResetDispatcher() {}

}  // namespace Platform::Kernel::Internal
