#pragma once
// The running program's file, inside this layer only.

#include <string>

namespace Win32Internal {

// The host path of the program (from /proc/self/exe); empty when it cannot be read.
std::string ProgramPath();

}  // namespace Win32Internal
