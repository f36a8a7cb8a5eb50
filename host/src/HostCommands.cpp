#include "HostCommands.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "HostMachine.h"
#include "LowLatency.h"
#include "Meter.h"
#include "Player.h"
#include "Recorder.h"

namespace Host {
namespace {

constexpr uint32_t kDemoRate = 48000;
constexpr uint32_t kDemoMilliseconds = 3000;

std::string RatesText(const std::vector<ULONG>& rates)
{
    std::string text;
    for (const ULONG rate : rates) {
        text += (text.empty() ? "" : ", ") + std::to_string(rate);
    }
    return text + " Hz";
}

std::string PeaksText(const std::vector<int32_t>& peaks)
{
    std::string text;
    for (size_t c = 0; c < peaks.size(); ++c) {
        text += (c == 0 ? "" : ", ") + std::to_string(c + 1) + ": " + PeakText(peaks[c]);
    }
    return text;
}

std::string FormatText(const EndpointInfo& e)
{
    if (e.maxChannels == 0) {
        return "no PCM pin";
    }
    std::string text = "PCM " + std::to_string(e.minBits) + "-" + std::to_string(e.maxBits) +
                       " bit (24-bit in 32-bit containers), up to " +
                       std::to_string(e.maxChannels) + " channels, " + std::to_string(e.minRate) +
                       "-" + std::to_string(e.maxRate) + " Hz";
    return e.passThrough ? text + "; IEC 61937 pass-through" : text;
}

void PrintList(HostMachine& machine, std::ostream& out)
{
    out << "Device: " << machine.Choice().name << " (" << machine.Choice().description << ")\n";
    out << "Rates: " << RatesText(machine.Rates()) << "\n";
    out << "Endpoints:\n";
    size_t midiIn = 0;
    size_t midiOut = 0;
    for (const EndpointInfo& e : machine.Endpoints()) {
        if (e.maxChannels == 0) {
            // A MIDI port's filter: in (capture), out (render) or both.
            midiIn += e.capture ? 1 : 0;
            midiOut += e.render ? 1 : 0;
            out << "  midi     \"" << e.name << "\"  MIDI "
                << (e.capture && e.render ? "in and out"
                    : e.capture           ? "in"
                                          : "out")
                << "\n";
            continue;
        }
        out << "  " << (e.capture ? "capture" : "render ") << "  \"" << e.name << "\"  "
            << FormatText(e) << "\n";
    }
    out << "MIDI ports: "
        << (midiIn + midiOut == 0
                ? std::string("none")
                : std::to_string(midiIn) + " in, " + std::to_string(midiOut) + " out")
        << "\n";
}

const EndpointInfo* FindEndpoint(const std::vector<EndpointInfo>& endpoints, bool capture)
{
    for (const EndpointInfo& e : endpoints) {
        if (e.capture == capture && e.maxChannels != 0) {
            return &e;
        }
    }
    return nullptr;
}

// The unplug every command ends with; false (and why) when the driver left something behind.
// After a refusal of the user's input only what went wrong is told: the refusal is the answer.
bool Unplug(HostMachine& machine, std::ostream& out, std::ostream& err, bool refused = false)
{
    const LeftBehind left = machine.Unplug();
    if (left.Nothing()) {
        if (!refused) {
            out << "Unplugged: the driver left nothing behind (no pool, no timer, no work item)\n";
        }
        return true;
    }
    err << "Unplugged: the driver left " << left.pool.size() << " pool block(s), " << left.timers
        << " timer(s) and " << left.workItems << " work item(s) behind";
    if (!left.pool.empty()) {
        err << "; first: " << left.pool.front();
    }
    err << "\n";
    return false;
}

// An output file that cannot be made is bad input: found before any audio runs. A file the check
// made is removed again, so that a command that fails later leaves none.
bool CanCreate(const std::string& path, std::ostream& err)
{
    if (path.empty()) {
        return true;
    }
    const bool existed = std::filesystem::exists(path);
    if (!std::ofstream(path, std::ios::binary | std::ios::app)) {
        err << "quorvel-host: " << path << ": cannot create the file\n";
        return false;
    }
    if (!existed) {
        std::filesystem::remove(path);
    }
    return true;
}

bool StartMachine(HostMachine& machine, const HostOptions& options, std::ostream& err)
{
    std::string error;
    machine.SetNotes(&err);
    if (!machine.Start(*FindDevice(options.device), &error)) {
        err << "quorvel-host: " << error << "\n";
        return false;
    }
    return true;
}

// The rates the device's descriptors declare, lowest first: known before the device is plugged
// in, so that a file or option it cannot take is refused without starting anything.
std::vector<ULONG> DeclaredRates(const DeviceChoice& choice)
{
    std::vector<ULONG> rates(choice.variant.rates.begin(), choice.variant.rates.end());
    std::sort(rates.begin(), rates.end());
    return rates;
}

bool CheckRate(const std::vector<ULONG>& rates, uint32_t rate, const std::string& what,
               std::ostream& err)
{
    if (std::find(rates.begin(), rates.end(), rate) != rates.end()) {
        return true;
    }
    err << "quorvel-host: " << what << ": " << rate << " Hz is not a rate the device offers ("
        << RatesText(rates) << ")\n";
    return false;
}

int PlayAndReport(HostMachine& machine, const EndpointInfo& endpoint, const WavAudio& audio,
                  const HostOptions& options, std::ostream& out, std::ostream& err, bool terminal)
{
    PlayOptions play;
    play.keepReceived = !options.out.empty();
    play.meterOut = &out;
    play.terminal = terminal;
    play.holdAtFrame = options.holdPlayerAtFrame;
    play.holdFor = std::chrono::milliseconds(options.holdPlayerMs);
    PlayReport report;
    std::string error;
    if (!Play(machine, endpoint, audio, play, &report, &error)) {
        err << "quorvel-host: " << error << "\n";
        return kExitCheckFailed;
    }
    out << "Device received " << report.framesReceived << " of " << report.framesPlayed
        << " frames; ";
    if (!report.underruns.empty()) {
        out << report.underruns.size()
            << " underrun(s): the audio came late and the device played silence; ";
    }
    out << (report.Altered()           ? "NOT bit-exact"
            : report.underruns.empty() ? "every sample bit-exact"
                                       : "every other sample bit-exact")
        << "\n";
    PrintUnderruns(out, report.underruns, audio.rate);
    if (report.mismatches != 0) {
        out << "  " << report.mismatches << " sample(s) differ; first: " << report.firstMismatch
            << "\n";
    }
    if (report.extra != 0) {
        out << "  " << report.extra << " frame(s) not silent after the audio's end\n";
    }
    out << "Peak levels: " << PeaksText(report.peaks) << "\n";
    if (!options.out.empty()) {
        if (!WriteWavFile(options.out, report.received, &error)) {
            err << "quorvel-host: " << error << "\n";
            return kExitBadInput;
        }
        out << "Wrote what the device received to " << options.out << "\n";
    }
    return report.Passed() ? kExitOk : kExitCheckFailed;
}

int RunList(const HostOptions& options, std::ostream& out, std::ostream& err)
{
    HostMachine machine(options.virtualTime);
    if (!StartMachine(machine, options, err)) {
        return kExitCheckFailed;
    }
    PrintList(machine, out);
    return Unplug(machine, out, err) ? kExitOk : kExitCheckFailed;
}

int RunPlay(const HostOptions& options, std::ostream& out, std::ostream& err, bool terminal)
{
    WavAudio audio;
    std::string error;
    if (!ReadWavFile(options.file, &audio, &error)) {
        err << "quorvel-host: " << error << "\n";
        return kExitBadInput;
    }
    if (audio.Frames() == 0) {
        err << "quorvel-host: " << options.file << ": the data chunk holds no audio\n";
        return kExitBadInput;
    }
    const DeviceChoice& choice = *FindDevice(options.device);
    if (choice.variant.outChannels == 0) {
        err << "quorvel-host: the device has no render endpoint\n";
        return kExitBadInput;
    }
    if (!CheckRate(DeclaredRates(choice), audio.rate, options.file, err)) {
        return kExitBadInput;
    }
    if (audio.channels != choice.variant.outChannels) {
        err << "quorvel-host: " << options.file << " has " << audio.channels
            << " channel(s); the device's render endpoint carries "
            << static_cast<int>(choice.variant.outChannels) << "\n";
        return kExitBadInput;
    }
    if (!CanCreate(options.out, err)) {
        return kExitBadInput;
    }
    HostMachine machine(options.virtualTime);
    if (!StartMachine(machine, options, err)) {
        return kExitCheckFailed;
    }
    const std::vector<EndpointInfo> endpoints = machine.Endpoints();
    const EndpointInfo* endpoint = FindEndpoint(endpoints, false);
    int result = kExitBadInput;
    if (endpoint == nullptr) {
        err << "quorvel-host: the device has no render endpoint\n";
    } else if (!CheckRate(machine.Rates(), audio.rate, options.file, err)) {
    } else if (audio.channels != endpoint->maxChannels) {
        err << "quorvel-host: " << options.file << " has " << audio.channels
            << " channel(s); the endpoint \"" << endpoint->name << "\" carries "
            << endpoint->maxChannels << "\n";
    } else {
        out << "Playing " << options.file << " (" << audio.Frames() << " frames, " << audio.rate
            << " Hz, " << audio.containerBits << "-bit, " << audio.channels
            << " channels) through \"" << endpoint->name << "\"\n";
        result = PlayAndReport(machine, *endpoint, audio, options, out, err, terminal);
    }
    const bool clean = Unplug(machine, out, err, result == kExitBadInput);
    return result == kExitOk && !clean ? kExitCheckFailed : result;
}

int RecordAndReport(HostMachine& machine, const EndpointInfo& endpoint, const HostOptions& options,
                    std::ostream& out, std::ostream& err, bool terminal)
{
    RecordOptions record;
    record.rate = options.rate;
    record.milliseconds = options.seconds * 1000;
    record.meterOut = &out;
    record.terminal = terminal;
    WavAudio recording;
    RecordReport report;
    std::string error;
    out << "Recording " << options.seconds << " s at " << options.rate << " Hz from \""
        << endpoint.name << "\" (the device's inputs play a tone)\n";
    if (!Record(machine, endpoint, record, &recording, &report, &error)) {
        err << "quorvel-host: " << error << "\n";
        return kExitCheckFailed;
    }
    if (!WriteWavFile(options.file, recording, &error)) {
        err << "quorvel-host: " << error << "\n";
        return kExitBadInput;
    }
    out << "Recorded " << report.frames << " frames to " << options.file << "; ";
    if (!report.underruns.empty()) {
        out << report.underruns.size()
            << " underrun(s): the client read late and the device's input was lost; ";
    }
    out << (!report.BitExact() ? "NOT the device's input (" + std::to_string(report.mismatches) +
                                     " sample(s) differ)"
            : report.underruns.empty() ? "every sample bit-exact to the device's input"
                                       : "every other sample bit-exact to the device's input")
        << "\n";
    PrintUnderruns(out, report.underruns, options.rate);
    out << "Peak levels: " << PeaksText(report.peaks) << "\n";
    return report.Passed() ? kExitOk : kExitCheckFailed;
}

int RunRecord(const HostOptions& options, std::ostream& out, std::ostream& err, bool terminal)
{
    const DeviceChoice& choice = *FindDevice(options.device);
    if (choice.variant.inChannels == 0) {
        err << "quorvel-host: the device '" << options.device
            << "' has no capture endpoint (--device inputs has one)\n";
        return kExitBadInput;
    }
    if (!CheckRate(DeclaredRates(choice), options.rate, "--rate", err)) {
        return kExitBadInput;
    }
    if (!CanCreate(options.file, err)) {
        return kExitBadInput;
    }
    HostMachine machine(options.virtualTime);
    if (!StartMachine(machine, options, err)) {
        return kExitCheckFailed;
    }
    const std::vector<EndpointInfo> endpoints = machine.Endpoints();
    const EndpointInfo* endpoint = FindEndpoint(endpoints, true);
    int result = kExitBadInput;
    if (endpoint == nullptr) {
        err << "quorvel-host: the device '" << options.device
            << "' has no capture endpoint (--device inputs has one)\n";
    } else if (CheckRate(machine.Rates(), options.rate, "--rate", err)) {
        result = RecordAndReport(machine, *endpoint, options, out, err, terminal);
    }
    const bool clean = Unplug(machine, out, err, result == kExitBadInput);
    return result == kExitOk && !clean ? kExitCheckFailed : result;
}

int LowLatencyAndReport(HostMachine& machine, const HostOptions& options, std::ostream& out,
                        std::ostream& err, bool terminal)
{
    LowLatencyOptions run;
    run.rate = options.rate;
    run.frames = options.buffer;
    run.milliseconds = options.seconds * 1000;
    run.meterOut = &out;
    run.terminal = terminal;
    LowLatencyReport report;
    std::string error;
    out << "Low-latency client through the control filter: " << options.buffer
        << "-frame halves at " << options.rate << " Hz for " << options.seconds << " s\n";
    const LowLatencyResult result = RunLowLatency(machine, run, &report, &error);
    if (result != LowLatencyResult::Done) {
        err << "quorvel-host: " << error << "\n";
        return result == LowLatencyResult::BadInput ? kExitBadInput : kExitCheckFailed;
    }
    out << "Device: \"" << report.productName << "\", " << report.inputs << " input(s), "
        << report.outputs << " output(s)\n";
    out << "Halves handed back: " << report.halves
        << "; missed periods: " << report.MissedPeriods();
    if (report.gaps != 0) {
        out << " (the device played " << report.gapFrames << " frames of silence in " << report.gaps
            << " gap(s))";
    }
    out << "; failed buffer-done answers: " << report.failedDones;
    if (report.failedDones != 0) {
        out << " (change flags " << StatusText(static_cast<NTSTATUS>(report.changeFlags)) << ")";
    }
    out << "\n";
    out << "Device received " << report.received << " of " << report.written << " frames; "
        << (!report.BitExact()       ? "NOT bit-exact"
            : report.lostFrames == 0 ? "every sample bit-exact"
                                     : "every sample that came in time bit-exact")
        << "\n";
    if (!report.failure.empty()) {
        out << "  first break: " << report.failure << "\n";
    }
    if (report.received > report.written) {
        out << "  the device received " << report.received - report.written
            << " frame(s) more than the client wrote\n";
    }
    out << "Peak levels: " << PeaksText(report.peaks) << "\n";
    return report.Passed() ? kExitOk : kExitCheckFailed;
}

int RunLowLatency(const HostOptions& options, std::ostream& out, std::ostream& err, bool terminal)
{
    if (!CheckRate(DeclaredRates(*FindDevice(options.device)), options.rate, "--rate", err)) {
        return kExitBadInput;
    }
    HostMachine machine(options.virtualTime);
    if (!StartMachine(machine, options, err)) {
        return kExitCheckFailed;
    }
    int result = kExitBadInput;
    if (CheckRate(machine.Rates(), options.rate, "--rate", err)) {
        result = LowLatencyAndReport(machine, options, out, err, terminal);
    }
    const bool clean = Unplug(machine, out, err, result == kExitBadInput);
    return result == kExitOk && !clean ? kExitCheckFailed : result;
}

int RunDemo(const HostOptions& options, std::ostream& out, std::ostream& err, bool terminal)
{
    out << "Quorvel host: the driver's production assembly with the simulated '" << options.device
        << "' device, in " << (options.virtualTime ? "virtual" : "real") << " time\n";
    HostMachine machine(options.virtualTime);
    if (!StartMachine(machine, options, err)) {
        return kExitCheckFailed;
    }
    PrintList(machine, out);
    const std::vector<EndpointInfo> endpoints = machine.Endpoints();
    const EndpointInfo* endpoint = FindEndpoint(endpoints, false);
    int result = kExitCheckFailed;
    if (endpoint == nullptr) {
        err << "quorvel-host: the device has no render endpoint\n";
    } else {
        out << "Playing a " << kDemoMilliseconds / 1000 << "-second test signal (" << kDemoRate
            << " Hz, 24-bit stereo: 440 Hz at -6 dBFS left, 660 Hz at -12 dBFS right) through \""
            << endpoint->name << "\"\n";
        result = PlayAndReport(machine, *endpoint, TestSignal(kDemoRate, kDemoMilliseconds),
                               options, out, err, terminal);
    }
    const bool clean = Unplug(machine, out, err);
    const bool passed = result == kExitOk && clean;
    out << (passed ? "Demonstration passed.\n" : "Demonstration FAILED.\n");
    return passed ? kExitOk : kExitCheckFailed;
}

}  // namespace

int RunHost(const HostOptions& options, std::ostream& out, std::ostream& err, bool terminal)
{
    if (options.help) {
        out << HelpText(options.command);
        return kExitOk;
    }
    if (options.command == "list") {
        return RunList(options, out, err);
    }
    if (options.command == "play") {
        return RunPlay(options, out, err, terminal);
    }
    if (options.command == "record") {
        return RunRecord(options, out, err, terminal);
    }
    if (options.command == "lowlatency") {
        return RunLowLatency(options, out, err, terminal);
    }
    return RunDemo(options, out, err, terminal);
}

}  // namespace Host
