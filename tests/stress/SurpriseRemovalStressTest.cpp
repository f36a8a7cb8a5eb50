// The device pulled out at seeded random points while clients stream through wave pins (render on
// the product; render and capture on the test model with inputs) and, every other run, a
// low-latency client of the control filter streams beside them, and on the model with MIDI ports
// MIDI pins stream too, with rate changes,
// stream-configuration changes and pins reopened at other rates in flight: each time the removal
// leaves no pool, no request, no work item and no timer. The number of removals
// comes from QUORVEL_STRESS_REMOVALS (default 100; 1000 for the full run).
#include <KernelTestApi.h>
#include <KernelTestFixture.h>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <random>
#include <vector>

#include "HostMachine.h"
#include "SoakRun.h"
#include "StressClients.h"
#include "device/DeviceContext.h"
#include "device/DeviceModel.h"
#include "device/ProductConfigurations.h"
#include "device/StreamConfiguration.h"
#include "engine/StreamManagerParts.h"

namespace {

using namespace std::chrono_literals;

constexpr ULONG kRates[] = {44100, 48000, 96000};
constexpr uint32_t kLongestRunMs = 300;
constexpr uint32_t kChangesPerThousand = 40;  // per millisecond

// A client that has been open this long before the cut has moved data through the driver.
constexpr uint32_t kSettleMs = 60;

// The render client first, then the capture client when the device has inputs, then the MIDI
// client on the model with MIDI ports, then the control filter's client when the run has one.
using Clients = std::vector<std::unique_ptr<Stress::StressClient>>;

// When each client last opened (the run's millisecond) and what it had moved then; never for an
// open that failed.
struct OpenRecord
{
    bool opened = false;
    uint32_t at = 0;
    uint64_t moved = 0;
};

class SurpriseRemovalStress : public Platform::Kernel::Testing::KernelTest
{
protected:
    // One change in flight, drawn from the generator.
    // Opens a client: it opens, or fails with a status (never a success of another kind).
    static void Open(Clients& clients, std::vector<OpenRecord>& records, size_t which, uint32_t ms)
    {
        const NTSTATUS status = clients[which]->Open();
        EXPECT_TRUE(status == STATUS_SUCCESS || NT_ERROR(status))
            << clients[which]->Describe() << " opened with " << std::hex << status;
        records[which] = {status == STATUS_SUCCESS, ms, clients[which]->Moved()};
    }

    void Change(Host::HostMachine& machine, Clients& clients, std::vector<OpenRecord>& records,
                size_t waveClients, std::mt19937& random, uint32_t ms)
    {
        DeviceContext* context = machine.Context();
        switch (random() % 3) {
            case 0:
                ApplyRateIndex(context->streamManager, static_cast<LONG>(random() % 3));
                break;
            case 1: {
                StreamConfiguration record{};
                if (CopyProductConfiguration(random() % kProductConfigurationCount, &record)) {
                    context->deviceModel->SetStreamConfiguration(&record, 0);
                }
                break;
            }
            default: {
                const size_t which = random() % waveClients;
                const bool capture = which == 1;
                clients[which]->Close();
                clients[which] =
                    std::make_unique<Stress::WaveClient>(machine, capture, kRates[random() % 3]);
                Open(clients, records, which, ms);
                break;
            }
        }
    }
};

TEST_F(SurpriseRemovalStress, RemovalAtRandomPointsWhileStreamingLeavesNothing)
{
    const int removals = SoakRun::Seconds("QUORVEL_STRESS_REMOVALS", 100);
    std::mt19937 random(20261211);
    for (int run = 0; run < removals; ++run) {
        const uint32_t removeAt = random() % kLongestRunMs;
        // Product, model with inputs, model with MIDI ports (whose MIDI pins stream too).
        const char* const kDevices[] = {"product", "inputs", "midi"};
        const char* device = kDevices[run % 3];
        const bool inputs = run % 3 == 1;
        Host::HostMachine machine(true);
        std::string error;
        ASSERT_TRUE(machine.Start(*Host::FindDevice(device), &error)) << error;
        Clients clients;
        const ULONG rate = kRates[random() % 3];
        clients.push_back(std::make_unique<Stress::WaveClient>(machine, false, rate));
        if (inputs) {
            clients.push_back(std::make_unique<Stress::WaveClient>(machine, true, rate));
        }
        const size_t waveClients = clients.size();
        if (run % 3 == 2) {
            clients.push_back(std::make_unique<Stress::MidiClient>(machine));
        }
        if (run % 4 >= 2) {
            clients.push_back(std::make_unique<Stress::ControlClient>(machine, rate));
        }
        // On the device just started, every client opens.
        std::vector<OpenRecord> records(clients.size());
        for (size_t i = 0; i < clients.size(); ++i) {
            Open(clients, records, i, 0);
            ASSERT_TRUE(records[i].opened) << "run " << run << ": " << clients[i]->Describe();
        }
        for (uint32_t ms = 0; ms < removeAt; ++ms) {
            if (random() % 1000 < kChangesPerThousand) {
                Change(machine, clients, records, waveClients, random, ms);
            }
            for (auto& client : clients) {
                ASSERT_TRUE(client->Stream()) << "run " << run << " at " << ms << " ms";
            }
            machine.Wait(1ms);
        }
        // Before the cut, every client open long enough moved data.
        for (size_t i = 0; i < clients.size(); ++i) {
            if (records[i].opened && removeAt - records[i].at >= kSettleMs) {
                EXPECT_GT(clients[i]->Moved(), records[i].moved)
                    << "run " << run << ": " << clients[i]->Describe() << ", open since "
                    << records[i].at << " ms, cut at " << removeAt << " ms";
            }
        }
        machine.PullOut();
        for (auto& client : clients) {
            client->Stream();  // requests after the removal fail and leave nothing
        }
        machine.Wait(5ms);
        for (auto& client : clients) {
            client->Close();
            EXPECT_EQ(client->PendingRequests(), 0u) << "run " << run << ": " << client->Describe();
        }
        clients.clear();
        const Host::LeftBehind left = machine.Unplug();
        ASSERT_TRUE(left.Nothing())
            << "run " << run << ", removed at " << removeAt << " ms: " << left.pool.size()
            << " pool block(s) (" << (left.pool.empty() ? "" : left.pool.front()) << "), "
            << left.timers << " timer(s), " << left.workItems << " work item(s)";
    }
}

}  // namespace
