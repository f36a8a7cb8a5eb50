#pragma once
// An Xvfb server of the test's own: a 24-bit screen on the display number the server picks
// (-displayfd), stopped by its process id.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

class XvfbServer
{
public:
    // False (with the reason) when Xvfb is not installed or does not start. The screen is
    // width x height x depth.
    bool Start(std::string* why, const char* screen = "640x480x24")
    {
        const std::string program = FindProgram("Xvfb");
        if (program.empty()) {
            *why = "Xvfb is not installed";
            return false;
        }
        int fds[2];
        if (pipe(fds) != 0) {
            *why = "no pipe";
            return false;
        }
        pid_ = fork();
        if (pid_ == 0) {
            close(fds[0]);
            const std::string fd = std::to_string(fds[1]);
            execl(program.c_str(), "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen,
                  "-nolisten", "tcp", "-noreset", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        std::string number;
        pollfd wait{fds[0], POLLIN, 0};
        while (poll(&wait, 1, 10000) > 0) {
            char c = 0;
            if (read(fds[0], &c, 1) != 1 || c == '\n') {
                break;
            }
            number.push_back(c);
        }
        close(fds[0]);
        if (number.empty()) {
            *why = "Xvfb did not report a display";
            Stop();
            return false;
        }
        name_ = ":" + number;
        return true;
    }

    void Stop()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }

    ~XvfbServer() { Stop(); }

    const std::string& Name() const { return name_; }

private:
    static std::string FindProgram(const char* name)
    {
        const char* path = std::getenv("PATH");
        std::string paths = path != nullptr ? path : "/usr/bin:/bin";
        size_t start = 0;
        while (start <= paths.size()) {
            const size_t end = paths.find(':', start);
            const std::string candidate =
                paths.substr(start, end == std::string::npos ? std::string::npos : end - start) +
                "/" + name;
            if (access(candidate.c_str(), X_OK) == 0) {
                return candidate;
            }
            if (end == std::string::npos) {
                break;
            }
            start = end + 1;
        }
        return {};
    }

    pid_t pid_ = -1;
    std::string name_;
};
