// A program linked with the framework's globals that calls nothing in the globals unit: the
// globals must still be built before main.

#include <cstdio>

#include "System/FrameworkGlobals.h"

int main()
{
    if (Orv::GetFrameworkGlobalsStage() != Orv::FrameworkGlobalsStage::Built) {
        std::printf("FAILED: the globals were not built before main\n");
        return 3;
    }
    std::printf("globals built without a call into their unit\n");
    return 0;
}
