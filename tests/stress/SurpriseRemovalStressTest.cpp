// The device pulled out at seeded random points while a client streams through a wave pin, with
// rate changes, stream-configuration changes and pins reopened at other rates in flight: each
// time the removal leaves no pool, no request, no work item and no timer. The number of removals
// comes from QUORVEL_STRESS_REMOVALS (default 100; 1000 for the full run).
#include <KernelTestApi.h>
#include <KernelTestFixture.h>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <random>

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

class SurpriseRemovalStress : public Platform::Kernel::Testing::KernelTest
{
protected:
    // One change in flight, drawn from the generator.
    void Change(Host::HostMachine& machine, std::unique_ptr<Stress::StressClient>& client,
                std::mt19937& random)
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
            default:
                client->Close();
                client = std::make_unique<Stress::WaveRenderClient>(machine, kRates[random() % 3]);
                client->Open();
                break;
        }
    }
};

TEST_F(SurpriseRemovalStress, RemovalAtRandomPointsWhileStreamingLeavesNothing)
{
    const int removals = SoakRun::Seconds("QUORVEL_STRESS_REMOVALS", 100);
    std::mt19937 random(20261211);
    for (int run = 0; run < removals; ++run) {
        const uint32_t removeAt = random() % kLongestRunMs;
        Host::HostMachine machine(true);
        std::string error;
        ASSERT_TRUE(machine.Start(*Host::FindDevice("product"), &error)) << error;
        std::unique_ptr<Stress::StressClient> client =
            std::make_unique<Stress::WaveRenderClient>(machine, kRates[random() % 3]);
        client->Open();
        for (uint32_t ms = 0; ms < removeAt; ++ms) {
            if (random() % 1000 < kChangesPerThousand) {
                Change(machine, client, random);
            }
            ASSERT_TRUE(client->Stream()) << "run " << run << " at " << ms << " ms";
            machine.Wait(1ms);
        }
        machine.PullOut();
        client->Stream();  // requests after the removal fail and leave nothing
        machine.Wait(5ms);
        client->Close();
        EXPECT_EQ(client->PendingRequests(), 0u) << "run " << run << ": " << client->Describe();
        client.reset();
        const Host::LeftBehind left = machine.Unplug();
        ASSERT_TRUE(left.Nothing())
            << "run " << run << ", removed at " << removeAt << " ms: " << left.pool.size()
            << " pool block(s) (" << (left.pool.empty() ? "" : left.pool.front()) << "), "
            << left.timers << " timer(s), " << left.workItems << " work item(s)";
    }
}

}  // namespace
