// The host's commands, run on a fresh machine each: the demonstration, list, play, record and
// lowlatency. Exit codes: 0 when everything held, 1 when a check failed (samples that differ,
// something the driver left behind, a stream that failed), 2 for bad input (options, files,
// devices and rates the device lacks).
#pragma once

#include <ostream>

#include "HostOptions.h"

namespace Host {

inline constexpr int kExitOk = 0;
inline constexpr int kExitCheckFailed = 1;
inline constexpr int kExitBadInput = 2;

// `terminal`: the meter rewrites its line in place.
int RunHost(const HostOptions& options, std::ostream& out, std::ostream& err, bool terminal);

}  // namespace Host
