#include "HostOptions.h"

#include <algorithm>

#include "HostDevices.h"

namespace Host {
namespace {

const char* const kCommands[] = {"demo", "list", "play", "record", "lowlatency"};

bool ParseNumber(const std::string& name, const std::string& text, uint32_t low, uint32_t high,
                 uint32_t* value, std::string* error)
{
    uint64_t v = 0;
    bool digits = !text.empty() && text.size() <= 10;
    for (const char c : text) {
        digits = digits && c >= '0' && c <= '9';
        v = v * 10 + static_cast<uint64_t>(c - '0');
    }
    if (!digits || v < low || v > high) {
        *error = name + " takes a whole number from " + std::to_string(low) + " to " +
                 std::to_string(high) + ", not '" + text + "'";
        return false;
    }
    *value = static_cast<uint32_t>(v);
    return true;
}

// The value after an option; false when there is none.
bool TakeValue(const std::vector<std::string>& args, size_t* i, std::string* value,
               std::string* error)
{
    if (*i + 1 >= args.size()) {
        *error = args[*i] + " needs a value";
        return false;
    }
    *value = args[++*i];
    return true;
}

bool TakeOption(const std::vector<std::string>& args, size_t* i, HostOptions* o, std::string* error)
{
    const std::string& a = args[*i];
    std::string value;
    if (a == "--help" || a == "-h") {
        o->help = true;
        return true;
    }
    if (a == "--virtual") {
        o->virtualTime = true;
        return true;
    }
    static const char* const kValueOptions[] = {"--device", "--out", "--seconds", "--rate",
                                                "--buffer"};
    if (std::find(std::begin(kValueOptions), std::end(kValueOptions), a) ==
        std::end(kValueOptions)) {
        *error = "unknown option " + a;
        return false;
    }
    if (!TakeValue(args, i, &value, error)) {
        return false;
    }
    if (a == "--device") {
        o->device = value;
        if (FindDevice(value) == nullptr) {
            *error = "unknown device '" + value + "' (devices: " + DeviceNames() + ")";
            return false;
        }
        return true;
    }
    if (a == "--out") {
        o->out = value;
        return true;
    }
    if (a == "--seconds") {
        return ParseNumber(a, value, 1, 3600, &o->seconds, error);
    }
    if (a == "--rate") {
        return ParseNumber(a, value, 1, 768000, &o->rate, error);
    }
    return ParseNumber(a, value, 1, 65536, &o->buffer, error);  // --buffer
}

bool CheckCommand(HostOptions* o, const std::vector<std::string>& positional, std::string* error)
{
    if (!positional.empty()) {
        o->command = positional[0];
    }
    if (std::find(std::begin(kCommands), std::end(kCommands), o->command) == std::end(kCommands)) {
        *error = "unknown command '" + o->command + "' (commands: list, play, record, lowlatency)";
        return false;
    }
    if (o->help) {
        return true;
    }
    const bool takesFile = o->command == "play" || o->command == "record";
    const size_t wanted = takesFile ? 2 : 1;
    if (positional.size() > wanted) {
        *error = o->command + ": unexpected argument '" + positional[wanted] + "'";
        return false;
    }
    if (takesFile && positional.size() < 2) {
        *error = o->command + " needs a WAV file name";
        return false;
    }
    if (takesFile) {
        o->file = positional[1];
    }
    if ((o->command == "record" || o->command == "lowlatency") && o->seconds == 0) {
        *error = o->command + " needs --seconds N";
        return false;
    }
    if (o->command == "lowlatency" && o->buffer == 0) {
        *error = "lowlatency needs --buffer FRAMES";
        return false;
    }
    return true;
}

}  // namespace

bool ParseOptions(const std::vector<std::string>& args, HostOptions* options, std::string* error)
{
    *options = HostOptions{};
    std::vector<std::string> positional;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i].size() > 1 && args[i][0] == '-') {
            if (!TakeOption(args, &i, options, error)) {
                return false;
            }
        } else {
            positional.push_back(args[i]);
        }
    }
    return CheckCommand(options, positional, error);
}

std::string HelpText(const std::string& command)
{
    std::string devices;
    for (const DeviceChoice& choice : DeviceChoices()) {
        const std::string name = choice.name;
        devices += "  " + name + std::string(name.size() < 10 ? 10 - name.size() : 1, ' ') +
                   choice.description + "\n";
    }
    const std::string common =
        "Options of every command:\n"
        "  --device NAME   the device plugged in (default: product)\n"
        "  --virtual       run in virtual time (as fast as the machine goes) instead of real time\n"
        "Devices:\n" +
        devices;
    if (command == "list") {
        return "Usage: quorvel-host list [--device NAME]\n"
               "Lists the device's endpoints with their names and formats, its rates and MIDI "
               "ports.\n" +
               common;
    }
    if (command == "play") {
        return "Usage: quorvel-host play FILE.wav [--out RECEIVED.wav] [--device NAME]\n"
               "Plays a PCM WAV (16-, 24- or 32-bit, at a rate the device offers, as many "
               "channels\n"
               "as the render endpoint has) through the main render endpoint and checks that the\n"
               "device received every sample bit-exact. --out writes what the device received\n"
               "(24-bit, as the device carries it).\n" +
               common;
    }
    if (command == "record") {
        return "Usage: quorvel-host record FILE.wav --seconds N [--rate HZ] [--device NAME]\n"
               "Records N seconds from the first capture endpoint into a 24-bit WAV (default rate\n"
               "48000 Hz). The device's inputs play a tone, and the recording is checked against\n"
               "it. Needs a device with inputs (--device inputs); the product has none.\n" +
               common;
    }
    if (command == "lowlatency") {
        return "Usage: quorvel-host lowlatency --buffer FRAMES --seconds N [--rate HZ] [--device "
               "NAME]\n"
               "An ASIO-style client that drives the driver's control filter purely by property\n"
               "requests: device information, rate, buffer size, buffers of two halves of FRAMES\n"
               "frames per channel, two events, start, a buffer-done per half, position, stop.\n"
               "It plays a ramp for N seconds (default rate 48000 Hz) and reports the periods it\n"
               "missed and whether the device received every sample bit-exact. A buffer size the\n"
               "device does not take is refused with the sizes it takes.\n" +
               common;
    }
    return "Usage: quorvel-host [--virtual] [--device NAME] [COMMAND ...]\n"
           "The Quorvel driver, loaded as Windows loads it, with a simulated device plugged in.\n"
           "Commands:\n"
           "  (none)          the demonstration: list, play a test signal, check what the device\n"
           "                  received, unplug and check that the driver left nothing behind\n"
           "  list            the device's endpoints, rates and MIDI ports\n"
           "  play FILE.wav   play a WAV through the main render endpoint (--out RECEIVED.wav)\n"
           "  record FILE.wav --seconds N   record from the capture endpoint (--device inputs)\n"
           "  lowlatency --buffer FRAMES --seconds N   a low-latency client through the control\n"
           "                  filter: missed periods, and whether the output arrived bit-exact\n"
           "COMMAND --help tells more.\n" +
           common;
}

}  // namespace Host
