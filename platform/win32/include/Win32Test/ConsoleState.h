#pragma once
// Tests and hosts: the state of the process console.

#include "win32/Console.h"

namespace Win32Test {

struct ConsoleState
{
    bool open;
    COORD bufferSize;  // characters
};

ConsoleState GetConsoleState();
// Back to no console and the default buffer size.
void ResetConsole();

}  // namespace Win32Test
