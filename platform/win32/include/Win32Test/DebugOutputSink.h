#pragma once
// Tests and hosts: what the program sent to the debugger with OutputDebugString.

#include <cstddef>
#include <string>
#include <vector>

namespace Win32Test {

// The sink keeps the most recent texts only, so a long run cannot grow it without end.
inline constexpr size_t kDebugOutputCapacity = 4096;

// Every text written since the last call, oldest first, as UTF-8 (wide texts converted); the sink
// is empty afterwards.
std::vector<std::string> TakeDebugOutput();

// When on, each text is also written to stderr as it arrives.
void SetDebugOutputEcho(bool toStderr);

}  // namespace Win32Test
