// A device's whole life on the product's own parts, with the 1st, 2nd, 3rd ... pool allocation
// from the device's Add on made to fail, one per run, until a run sees no failure: Add, Start, a
// stream, a rate change, a second stream at the new rate, then Stop or surprise removal, and
// Remove. Every run must end with no pool left, no bug check, no armed timer or queued work and
// nothing pending on the bus, and the failure must either reach the caller of the operation it
// hit or leave that operation working (the fallbacks: a transfer not resubmitted, a
// configuration left empty).
//
// COUNTDOWN_LIMIT (an environment variable) caps the number of runs; by default every
// allocation of the scenario is failed once.
#include <KernelTestApi.h>

#include <gtest/gtest.h>

#include <Registry/MachineRegistry.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "EndToEndFixture.h"
#include "StreamTestSupport.h"
#include "device/DeviceLifecycle.h"
#include "engine/StreamManagerParts.h"

namespace {

using namespace std::chrono_literals;
namespace Kernel = Platform::Kernel;

constexpr char16_t kDriverKey[] =
    u"Software\\Wow6432Node\\Tervolt\\Audio\\Drivers\\{6242F6B0-04E7-497F-AE8D-287E12D19420}";

enum class Ending
{
    StopThenRemove,
    SurpriseRemoval,
};

// What one run saw.
struct RunRecord
{
    bool failureFired = false;
    std::string hitStep;         // the step during which the failed allocation was attempted
    bool hitStepFailed = false;  // that step reported a failure to its caller
    std::vector<std::string> problems;
    std::string steps;  // each step with its outcome, for the report of a failing run
};

class AllocationCountdownTest : public Kernel::Testing::KernelTest,
                                public ::testing::WithParamInterface<Ending>
{
protected:
    void SetUp() override
    {
        KernelTest::SetUp();
        SetDeviceParts(&parts);
    }
    void TearDown() override
    {
        SetDeviceParts(nullptr);
        Kernel::ResetHostState();
        KernelTest::TearDown();
    }

    static uint64_t RunLimit()
    {
        const char* text = std::getenv("COUNTDOWN_LIMIT");
        return text != nullptr ? std::strtoull(text, nullptr, 10) : 100000;
    }

    // One life of a device with allocation `failAt` failed (0: none).
    RunRecord RunOnce(uint64_t failAt);

    ProductParts parts;
};

// The scenario, step by step; a step that fails ends the device's life early (it is removed).
class Scenario
{
public:
    Scenario(RunRecord& record, uint64_t failAt, Ending ending)
        : record(record), failAt(failAt), ending(ending)
    {
    }

    void Run();
    const char* currentStep = "";  // the step that runs or ran last
    // After a bug check: the host's driver and device are dropped without unloading.
    void Abandon()
    {
        static_cast<void>(driver.release());
        static_cast<void>(new Platform::Ks::PluggedUsbDevices(std::move(usbDevices)));
    }

private:
    // Runs one step; false when it reported a failure. Notes whether the failed allocation fell
    // inside it.
    template <typename Step>
    bool Do(const char* name, Step step)
    {
        const uint64_t before = Kernel::AllocationCount() - base;
        currentStep = name;
        const bool ok = step();
        const uint64_t after = Kernel::AllocationCount() - base;
        record.steps += std::string(name) + (ok ? " ok; " : " FAILED; ");
        if (failAt != 0 && before < failAt && after >= failAt) {
            record.failureFired = true;
            record.hitStep = name;
            record.hitStepFailed = !ok;
        }
        return ok;
    }
    static void Advance(std::chrono::milliseconds duration)
    {
        Kernel::AdvanceTime(duration);
        Kernel::RunPending();
    }
    // A PnP request as the PnP manager sends it: its own IRP never fails to allocate (the one the
    // run would fail is spared and the next allocation, the driver's, fails instead).
    NTSTATUS SendPnp(Platform::Ks::PnpRequest request)
    {
        if (failAt != 0 && Kernel::AllocationCount() - base + 1 == failAt) {
            ++failAt;
            Kernel::FailAllocationNumber(2);
        }
        return device->Send(request);
    }
    DeviceContext* Context() { return static_cast<DeviceContext*>(device->KsDevice()->Context); }
    StreamManager* Manager() { return Context()->streamManager; }
    bool StartStream(ULONG rateIndex);
    bool StopStream();
    void EndLife(bool started);
    void Problem(const std::string& text) { record.problems.push_back(text); }

    RunRecord& record;
    uint64_t failAt;
    Ending ending;
    uint64_t base = 0;
    Platform::Ks::PluggedUsbDevices usbDevices;
    std::unique_ptr<Platform::Ks::Driver> driver;
    Platform::Ks::Device* device = nullptr;
    StreamTest::RecordingClient client;
    ManagedClientStream* stream = nullptr;
    PVOID noBuffers[1] = {};
};

bool Scenario::StartStream(ULONG rateIndex)
{
    StreamConfiguration configuration{};
    Manager()->GetConfiguration(&configuration);
    if (configuration.rateCount <= rateIndex) {
        Problem("the configuration in force has no rate " + std::to_string(rateIndex));
        return false;
    }
    stream = Manager()->AddClientStream(&client);
    if (stream == nullptr) {
        return false;
    }
    if (stream->SetCaptureFormat(&configuration, configuration.minimumBufferSize[rateIndex], 4, 0,
                                 0) != 0 ||
        stream->NextCaptureBuffer(noBuffers, 0) != 0) {
        return false;
    }
    const int periodsBefore = client.periods;
    usbDevices.LastDevice().ClearOutPackets();
    if (Manager()->SetClientStreamRunning(stream, true) != 0) {
        return false;
    }
    Advance(100ms);
    // A stream told it runs is served, and the device is sent its periods.
    const bool served = client.periods > periodsBefore;
    const bool sent = !usbDevices.LastDevice().OutPackets().empty();
    if (served != sent) {
        Problem(served ? "the stream is served but the device hears nothing"
                       : "the device streams but the stream is not served");
    }
    return served && sent;
}

bool Scenario::StopStream()
{
    if (stream == nullptr) {
        return true;
    }
    const LONG answer = Manager()->SetClientStreamRunning(stream, false);
    Manager()->RemoveClientStream(stream);
    stream = nullptr;
    return answer >= 0;
}

void Scenario::EndLife(bool started)
{
    if (started && ending == Ending::SurpriseRemoval) {
        Do("SurpriseRemoval", [&] {
            usbDevices.LastBus().Detach();
            Advance(10ms);
            return SendPnp(Platform::Ks::PnpRequest::SurpriseRemoval) == STATUS_SUCCESS;
        });
        Do("CloseStream", [&] { return StopStream(); });
    } else if (started) {
        Do("CloseStream", [&] { return StopStream(); });
        Do("Stop", [&] {
            const bool ok = SendPnp(Platform::Ks::PnpRequest::Stop) == STATUS_SUCCESS;
            Advance(100ms);
            return ok;
        });
    }
    Do("Remove", [&] {
        const bool ok = SendPnp(Platform::Ks::PnpRequest::Remove) == STATUS_SUCCESS;
        Advance(100ms);
        return ok;
    });
}

void Scenario::Run()
{
    NTSTATUS status = STATUS_UNSUCCESSFUL;
    driver = Platform::Ks::Driver::Load(DriverEntry, &status);
    if (driver == nullptr) {
        Problem("the driver did not load");
        return;
    }
    if (Platform::Registry::MachineRegistry::Instance().CreateKeyPath(
            Platform::Registry::Hive::LocalMachine, kDriverKey) != Platform::Registry::Result::Ok) {
        Problem("no driver key");
        return;
    }
    base = Kernel::AllocationCount();
    if (failAt != 0) {
        Kernel::FailAllocationNumber(failAt);
    }

    const bool added = Do("Add", [&] {
        std::string error;
        device = usbDevices.PlugIn(*driver, UsbSim::ProductUac2(), &error, &status);
        if (!error.empty()) {
            Problem("descriptors refused: " + error);
        }
        return device != nullptr;
    });
    if (added) {
        const bool started = Do("Start", [&] {
            const bool ok = SendPnp(Platform::Ks::PnpRequest::Start) == STATUS_SUCCESS;
            Kernel::RunPending();
            return ok;
        });
        const bool streamed = started && Do("Stream", [&] { return StartStream(1); });
        const bool stopped = streamed && Do("StreamStop", [&] {
                                 const bool ok = StopStream();
                                 Advance(50ms);
                                 return ok;
                             });
        const bool changed = stopped && Do("RateChange", [&] {
                                 const bool ok = ApplyRateIndex(Manager(), 2) == 96000u;
                                 Advance(50ms);
                                 return ok;
                             });
        if (changed) {
            Do("StreamAtNewRate", [&] {
                const bool ok = StartStream(2);
                if (ok && usbDevices.LastDevice().SampleRate() != 96000u) {
                    Problem("the device plays at " +
                            std::to_string(usbDevices.LastDevice().SampleRate()));
                }
                return ok;
            });
        }
        EndLife(started);
    }
    if (failAt != 0 && !record.failureFired && Kernel::AllocationCount() - base >= failAt) {
        record.failureFired = true;
        record.hitStep = "between steps";
    }
    Kernel::ClearAllocationFailures();

    // Everything the device had is gone before the driver unloads.
    if (added && !device->Removed()) {
        Problem("the device was not removed");
    }
    if (added && usbDevices.LastBus().PendingRequests() != 0) {
        Problem(std::to_string(usbDevices.LastBus().PendingRequests()) +
                " requests pending on the bus");
    }
    if (Kernel::ArmedTimerCount() != 0) {
        Problem(std::to_string(Kernel::ArmedTimerCount()) + " timers armed");
    }
    if (Kernel::PendingWorkItemCount() != 0) {
        Problem(std::to_string(Kernel::PendingWorkItemCount()) + " work items queued");
    }
    driver.reset();
    for (const Kernel::PoolBlock& block : Kernel::OutstandingPool()) {
        Problem("leaked " + block.Describe());
    }
    Kernel::FreeOutstandingPool();
    usbDevices.Clear();
}

RunRecord AllocationCountdownTest::RunOnce(uint64_t failAt)
{
    RunRecord record;
    Scenario scenario(record, failAt, GetParam());
    const auto bugCheck = Kernel::ExpectBugCheck([&] { scenario.Run(); });
    if (bugCheck) {
        if (record.hitStep.empty()) {
            record.hitStep = scenario.currentStep;
        }
        record.problems.push_back(bugCheck->Describe());
        std::printf("allocation %llu failed (in %s): %s\n", static_cast<unsigned long long>(failAt),
                    record.hitStep.c_str(), bugCheck->Describe().c_str());
        // The system stopped: nothing of the driver may run again, not even its unload.
        scenario.Abandon();
    }
    Kernel::ClearAllocationFailures();
    Kernel::FreeOutstandingPool();
    Kernel::ResetKernel();
    Kernel::ResetHostState();
    return record;
}

TEST_P(AllocationCountdownTest, EveryAllocationFailedInTurnLeavesNothingBehind)
{
    // The scenario without failures works, or the countdown proves nothing.
    const RunRecord clean = RunOnce(0);
    ASSERT_TRUE(clean.problems.empty()) << clean.problems.front();

    uint64_t runs = 0;
    std::vector<std::string> absorbed;
    for (uint64_t n = 1; n <= RunLimit(); ++n) {
        const RunRecord record = RunOnce(n);
        ++runs;
        for (const std::string& problem : record.problems) {
            ADD_FAILURE() << "allocation " << n << " failed (in " << record.hitStep
                          << "): " << problem;
        }
        if (!record.failureFired) {
            break;
        }
        if (std::getenv("COUNTDOWN_VERBOSE") != nullptr) {
            std::printf("%llu in %s: %s\n", static_cast<unsigned long long>(n),
                        record.hitStep.c_str(), record.steps.c_str());
        }
        if (!record.hitStepFailed) {
            absorbed.push_back(std::to_string(n) + " in " + record.hitStep);
        }
    }
    EXPECT_GT(runs, 10u) << "the scenario allocates";
    std::string list;
    for (const std::string& entry : absorbed) {
        list += entry + "\n";
    }
    RecordProperty("AbsorbedFailures", list);
    std::printf("%llu runs; failures absorbed by a fallback:\n%s",
                static_cast<unsigned long long>(runs), list.c_str());
}

INSTANTIATE_TEST_SUITE_P(Endings, AllocationCountdownTest,
                         ::testing::Values(Ending::StopThenRemove, Ending::SurpriseRemoval),
                         [](const ::testing::TestParamInfo<Ending>& info) {
                             return info.param == Ending::StopThenRemove
                                        ? std::string("StopThenRemove")
                                        : std::string("SurpriseRemoval");
                         });

}  // namespace
