// quorvel-host: the driver loaded as Windows loads it, a simulated device plugged in, and an
// audio application that plays and records through it (scripts/run).
#include <KernelTestApi.h>
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "HostCommands.h"
#include "HostOptions.h"

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    Host::HostOptions options;
    std::string error;
    if (!Host::ParseOptions(args, &options, &error)) {
        std::cerr << "quorvel-host: " << error << " (quorvel-host --help tells more)\n";
        return Host::kExitBadInput;
    }
    Platform::Kernel::ResetKernel();
    return Host::RunHost(options, std::cout, std::cerr, isatty(STDOUT_FILENO) != 0);
}
