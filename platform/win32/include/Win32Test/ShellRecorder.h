#pragma once
// Tests: ShellExecuteW records its calls here instead of starting a program while a recorder is
// installed, and answers what the test sets.

#include <string>
#include <vector>

namespace Win32Test {

struct ShellCall
{
    std::u16string verb;
    std::u16string file;
    std::u16string parameters;
    std::u16string directory;
    int showCommand = 0;
};

struct ShellRecorder
{
    std::vector<ShellCall> calls;
    // What ShellExecuteW answers (cast to its handle type): 42 started, 31 no handler.
    long answer = 42;
};

// Null: the real spawn again.
void SetShellRecorder(ShellRecorder* recorder);

}  // namespace Win32Test
