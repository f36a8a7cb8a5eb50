// The host's command line: `quorvel-host [--virtual] [--device NAME] [COMMAND ARGS...]`. Options
// may come anywhere; every value is checked, and a bad one gets a one-line reason.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Host {

struct HostOptions
{
    std::string command = "demo";
    bool help = false;
    bool virtualTime = false;
    std::string device = "product";
    std::string file;  // play: the WAV played; record: the WAV written
    std::string out;   // play: where what the device received goes (empty: nowhere)
    uint32_t seconds = 0;
    uint32_t rate = 48000;  // record
    uint32_t buffer = 0;    // lowlatency
    // Tests only, no option sets them: the player holds back once (PlayOptions).
    uint64_t holdPlayerAtFrame = 0;
    uint32_t holdPlayerMs = 0;
};

bool ParseOptions(const std::vector<std::string>& args, HostOptions* options, std::string* error);
// The help of a command, or of the whole host for an empty or unknown one.
std::string HelpText(const std::string& command);

}  // namespace Host
