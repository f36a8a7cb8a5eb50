// Allocation failures across the open, streaming and close of each kind of client: the n-th
// allocation from the client's open on fails, for n = 1, 2, ... until a run sees no failure, and
// then runs under random failures of a seeded low-resources simulation (seeds from
// QUORVEL_STRESS_ALLOCATION_SEEDS, default 10). Every failure ends as a failure its caller sees or
// as the fallback the driver takes; the device plays again once memory is back, and nothing leaks.
#include <KernelTestApi.h>
#include <KernelTestFixture.h>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>

#include "HostMachine.h"
#include "SoakRun.h"
#include "StressClients.h"

namespace {

using namespace std::chrono_literals;

constexpr uint64_t kMostAllocations = 5000;
constexpr int kStreamMs = 30;
constexpr int kPlayMs = 200;  // the first data of a client that opened comes back within this

// A kind of client and the device that has its endpoint.
struct ClientKind
{
    const char* name;
    const char* device;
    bool capture;
    bool control = false;  // the control filter's low-latency client instead of a wave pin
    bool midi = false;     // MIDI pins instead of a wave pin
};

class AllocationFailureStress : public Platform::Kernel::Testing::KernelTest,
                                public ::testing::WithParamInterface<ClientKind>
{
protected:
    static bool Start(Host::HostMachine& machine)
    {
        std::string error;
        EXPECT_TRUE(machine.Start(*Host::FindDevice(GetParam().device), &error)) << error;
        return error.empty();
    }

    static std::unique_ptr<Stress::StressClient> MakeClient(Host::HostMachine& machine)
    {
        if (GetParam().midi) {
            return std::make_unique<Stress::MidiClient>(machine);
        }
        if (GetParam().control) {
            return std::make_unique<Stress::ControlClient>(machine, 48000);
        }
        return std::make_unique<Stress::WaveClient>(machine, GetParam().capture, 48000);
    }

    // What became of a client's life: whether its open succeeded, and whether it then moved data.
    struct Life
    {
        bool opened = false;
        bool moved = false;
    };

    // A client's whole life under the failures `inject` sets up; false when its open answered a
    // success of another kind, or one of its requests came back in a way no failure explains.
    static bool ClientLife(Host::HostMachine& machine, const std::function<void()>& inject,
                           Life* life)
    {
        auto client = MakeClient(machine);
        inject();
        const NTSTATUS status = client->Open();
        life->opened = status == STATUS_SUCCESS;
        bool sound = life->opened || NT_ERROR(status);
        for (int ms = 0; ms < kStreamMs; ++ms) {
            sound = client->Stream() && sound;
            machine.Wait(1ms);
        }
        // An open that succeeded plays, however long its first data takes to come back.
        for (int ms = kStreamMs; life->opened && ms < kPlayMs && client->Moved() == 0; ++ms) {
            sound = client->Stream() && sound;
            machine.Wait(1ms);
        }
        life->moved = client->Moved() != 0;
        client->Close();
        Platform::Kernel::ClearAllocationFailures();
        return sound && client->PendingRequests() == 0;
    }

    // Memory is back: a fresh client opens, runs and streams.
    static void PlaysAgain(Host::HostMachine& machine, const std::string& label)
    {
        auto client = MakeClient(machine);
        EXPECT_EQ(client->Open(), STATUS_SUCCESS) << label;
        int ms = 0;
        for (; ms < kPlayMs && client->Moved() == 0; ++ms) {
            EXPECT_TRUE(client->Stream()) << label;
            machine.Wait(1ms);
        }
        EXPECT_NE(client->Moved(), 0u) << label << ": plays again";
        client->Close();
    }

    static void CheckNothingLeft(Host::HostMachine& machine, const std::string& label)
    {
        const Host::LeftBehind left = machine.Unplug();
        EXPECT_TRUE(left.Nothing())
            << label << ": " << left.pool.size() << " pool block(s) ("
            << (left.pool.empty() ? "" : left.pool.front()) << "), " << left.timers << " timer(s), "
            << left.workItems << " work item(s)";
    }
};

TEST_P(AllocationFailureStress, EachAllocationOfAClientsLifeFailsInTurn)
{
    uint64_t n = 1;
    for (; n < kMostAllocations; ++n) {
        Host::HostMachine machine(true);
        ASSERT_TRUE(Start(machine));
        const uint64_t before = Platform::Kernel::AllocationCount();
        const std::string label = "allocation " + std::to_string(n);
        Life life;
        EXPECT_TRUE(ClientLife(
            machine, [n] { Platform::Kernel::FailAllocationNumber(n); }, &life))
            << label;
        const bool hit = Platform::Kernel::AllocationCount() - before >= n;
        PlaysAgain(machine, label);
        CheckNothingLeft(machine, label);
        if (!hit || HasFailure()) {
            break;
        }
    }
    // A client's life allocates far more than this: a countdown that stopped early tested little.
    EXPECT_GT(n, 50u);
}

TEST_P(AllocationFailureStress, RandomFailuresAcrossAClientsLife)
{
    const int seeds = SoakRun::Seconds("QUORVEL_STRESS_ALLOCATION_SEEDS", 10);
    uint64_t injected = 0;
    for (int seed = 1; seed <= seeds && !HasFailure(); ++seed) {
        Host::HostMachine machine(true);
        ASSERT_TRUE(Start(machine));
        const std::string label = "seed " + std::to_string(seed);
        Life life;
        EXPECT_TRUE(ClientLife(
            machine,
            [seed] {
                Platform::Kernel::SimulateLowResources(
                    {.seed = static_cast<uint64_t>(seed), .failuresPerMillion = 50000});
            },
            &life))
            << label;
        injected += Platform::Kernel::LowResourcesFailures();
        PlaysAgain(machine, label);
        CheckNothingLeft(machine, label);
    }
    EXPECT_GT(injected, 0u);
}

// An open that succeeded while allocations failed must play: a pin that walked to run (or a
// control client that started) and never moves data is a success with nothing behind it. The
// failures that reach past the open (the engine's start from raised IRQL, the transport's
// transfers and URBs, a capture pin's stream and ring) either fail the open or are overcome.
TEST_P(AllocationFailureStress, AnOpenThatSucceededUnderFailuresPlays)
{
    uint64_t opened = 0;
    for (uint64_t n = 1; n < kMostAllocations; ++n) {
        Host::HostMachine machine(true);
        ASSERT_TRUE(Start(machine));
        const uint64_t before = Platform::Kernel::AllocationCount();
        Life life;
        ClientLife(
            machine, [n] { Platform::Kernel::FailAllocationNumber(n); }, &life);
        EXPECT_TRUE(!life.opened || life.moved) << "allocation " << n << " failed: opened, silent";
        opened += life.opened ? 1 : 0;
        const bool hit = Platform::Kernel::AllocationCount() - before >= n;
        CheckNothingLeft(machine, "allocation " + std::to_string(n));
        if (!hit) {
            break;
        }
    }
    EXPECT_GT(opened, 0u) << "no open succeeded: the check saw nothing";
}

INSTANTIATE_TEST_SUITE_P(Clients, AllocationFailureStress,
                         ::testing::Values(ClientKind{"RenderPin", "product", false},
                                           ClientKind{"CapturePin", "inputs", true},
                                           ClientKind{"LowLatencyControlClient", "product", false,
                                                      true},
                                           ClientKind{"MidiPins", "midi", false, false, true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
