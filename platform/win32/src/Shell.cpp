// ShellExecuteW as xdg-open with the file as its one argument: posix_spawnp, no shell, so no text
// is ever parsed as a command line.

#include "win32/Shell.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <thread>

#include "Utf16.h"
#include "Win32Test/ShellRecorder.h"

extern char** environ;

namespace {

Win32Test::ShellRecorder* recorder = nullptr;

HINSTANCE Answer(intptr_t code)
{
    return reinterpret_cast<HINSTANCE>(code);
}

std::u16string Text(LPCWSTR text)
{
    return std::u16string(Win32Internal::TerminatedView(text));
}

// Starts xdg-open in a session of its own; a detached thread reaps it, so no zombie stays and
// the caller never waits for the handler. True when the opener was started.
bool SpawnDetached(const std::string& file)
{
    posix_spawnattr_t attributes;
    if (posix_spawnattr_init(&attributes) != 0) {
        return false;
    }
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    char program[] = "xdg-open";
    char* const arguments[] = {program, const_cast<char*>(file.c_str()), nullptr};
    pid_t opener = 0;
    const int spawned = posix_spawnp(&opener, program, nullptr, &attributes, arguments, environ);
    posix_spawnattr_destroy(&attributes);
    if (spawned != 0) {
        return false;
    }
    std::thread([opener] {
        int status = 0;
        while (waitpid(opener, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
    return true;
}

}  // namespace

namespace Win32Test {

void SetShellRecorder(ShellRecorder* next)
{
    recorder = next;
}

}  // namespace Win32Test

HINSTANCE ShellExecuteW(HWND, LPCWSTR verb, LPCWSTR file, LPCWSTR parameters, LPCWSTR directory,
                        INT showCommand)
{
    if (recorder != nullptr) {
        recorder->calls.push_back(Win32Test::ShellCall{Text(verb), Text(file), Text(parameters),
                                                       Text(directory), showCommand});
        return Answer(recorder->answer);
    }
    const std::u16string_view target = Win32Internal::TerminatedView(file);
    // Only "open" is known; xdg-open would take a leading "-" as an option of its own.
    if (target.empty() || target.front() == u'-' || (verb != nullptr && Text(verb) != u"open")) {
        return Answer(SE_ERR_NOASSOC);
    }
    return Answer(SpawnDetached(Win32Internal::Utf16ToUtf8(target)) ? 42 : SE_ERR_NOASSOC);
}
