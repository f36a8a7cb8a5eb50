#pragma once
// Runs part of a test in a child process: for state that is process-wide and set once, and for
// what two processes do to one file.

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

// Runs body (returning whether its checks held) in a forked child and returns the child's exit
// status: 0 when they held, 1 when not, 128 when the child died.
template <class Body>
int RunInChild(Body body)
{
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        _exit(body() ? 0 : 1);
    }
    int status = -1;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}
