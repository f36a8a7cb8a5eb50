// Capture pins closed on the wall clock while their 1 ms timer's expiry is in flight: queued
// behind a busy worker, or running on it. Close stops the timer and must wait for that expiry
// before the pin's stream (and the timer inside it) is freed; a close that did not would leave
// the work item reading freed pool (AddressSanitizer) or racing the close (ThreadSanitizer).
#include <KernelTestApi.h>
#include <KsPinHandle.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <random>
#include <thread>

#include "InputDeviceModel.h"
#include "WaveFixture.h"
#include "ks/CapturePinStream.h"
#include "ks/WavePinFormat.h"

namespace {

using namespace std::chrono_literals;
using Platform::Kernel::SetTimeMode;
using Platform::Kernel::TimeMode;
using Platform::Ks::PcmFormatBytes;

WaveEndpoint InputEndpoint()
{
    WaveEndpoint endpoint = ProductEndpoint();
    const WCHAR name[] = u"Corvane Quorvel Stereo In 1-2";
    RtlZeroMemory(endpoint.name, sizeof endpoint.name);
    std::memcpy(endpoint.name, name, sizeof name);
    endpoint.mainOutput = 0;
    endpoint.capture = 1;
    return endpoint;
}

// Holds the delayed work queue's worker until released, so that work items queued meanwhile
// wait behind it.
struct WorkerBlock
{
    std::atomic<bool> started{false};
    std::atomic<bool> release{false};
    PIO_WORKITEM item = nullptr;
};

void HoldWorker(PDEVICE_OBJECT, PVOID context)
{
    auto* block = static_cast<WorkerBlock*>(context);
    block->started = true;
    while (!block->release) {
        std::this_thread::sleep_for(100us);
    }
    IoFreeWorkItem(block->item);
}

template <typename Predicate>
bool WaitFor(Predicate done, std::chrono::milliseconds limit = 2000ms)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(100us);
    }
    return true;
}

class CapturePinThreads : public WaveFilterTest
{
protected:
    CapturePinThreads() : inputParts(InputDeviceUsbRecord(true, false)) {}
    void SetUp() override
    {
        WaveFilterTest::SetUp();
        SetDeviceParts(&inputParts);
        EndpointForNextStart() = InputEndpoint();
    }
    void TearDown() override
    {
        SetTimeMode(TimeMode::Virtual);
        WaveFilterTest::TearDown();
    }

    // A capture pin in RUN without frames: its 1 ms timer is armed.
    std::unique_ptr<Platform::Ks::PinHandle> RunningPin()
    {
        NTSTATUS status = STATUS_UNSUCCESSFUL;
        auto pin = Platform::Ks::PinHandle::Open(*filter_, 0, PcmFormatBytes(2, 48000, 16, false),
                                                 &status);
        EXPECT_EQ(status, STATUS_SUCCESS);
        if (pin != nullptr) {
            EXPECT_EQ(pin->WalkTo(KSSTATE_RUN), STATUS_SUCCESS);
        }
        return pin;
    }

    static PeriodicTimer& TimerOf(Platform::Ks::PinHandle& pin)
    {
        return static_cast<CapturePinStream*>(WavePinOf(pin.Pin()))->timer;
    }

    void Start()
    {
        PlugInAndStart(UsbSim::BuildProductDescriptors({.audioClass = 2, .inChannels = 2}));
        ASSERT_NE(OpenFilter(KSCATEGORY_CAPTURE, u"CORVANEQUORVELSTEREOIN12"), nullptr);
        SetTimeMode(TimeMode::Real);
    }

    void Finish()
    {
        SetTimeMode(TimeMode::Virtual);
        Run(20ms);
        EXPECT_FALSE(Platform::Kernel::TakeSystemThreadBugCheck().has_value());
    }

    InputDeviceParts inputParts;
};

// The expiry's work item sits queued behind a busy worker when Close begins; the worker frees up
// only later. Close returns after the item ran, and the item never touches the freed pin.
TEST_F(CapturePinThreads, CloseWaitsForAnExpiryQueuedBehindABusyWorker)
{
    ASSERT_NO_FATAL_FAILURE(Start());
    for (int round = 0; round < 20; ++round) {
        auto pin = RunningPin();
        ASSERT_NE(pin, nullptr);
        PeriodicTimer& timer = TimerOf(*pin);
        ASSERT_TRUE(WaitFor([&] { return ReadUCharAcquire(&timer.running) != 0; }));

        WorkerBlock block;
        block.item = IoAllocateWorkItem(FunctionalDeviceObject(Context()));
        ASSERT_NE(block.item, nullptr);
        IoQueueWorkItem(block.item, HoldWorker, DelayedWorkQueue, &block);
        ASSERT_TRUE(WaitFor([&] { return block.started.load(); }));
        // The next expiry queues its work item behind the held worker.
        ASSERT_TRUE(WaitFor([&] {
            return InterlockedCompareExchange(&timer.workPending, 0, 0) != 0;
        })) << "round "
            << round;

        std::atomic<bool> closed{false};
        std::thread releaser([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(5 + round % 4 * 5));
            EXPECT_FALSE(closed.load()) << "Close returned with the expiry still queued";
            block.release = true;
        });
        EXPECT_EQ(pin->Close(), STATUS_SUCCESS);
        closed = true;
        releaser.join();
        pin.reset();
    }
    Finish();
}

// Pins opened, run (some with a frame, so the client stream runs too) and closed at random points
// of their timer's period: the expiry is as often running as queued or idle when Close begins.
TEST_F(CapturePinThreads, ClosingAtRandomPointsOfTheTimersPeriodFreesNothingInUse)
{
    ASSERT_NO_FATAL_FAILURE(Start());
    std::mt19937 random(26);
    int inFlight = 0;
    for (int round = 0; round < 150; ++round) {
        auto pin = RunningPin();
        ASSERT_NE(pin, nullptr);
        if (round % 3 == 1) {
            EXPECT_EQ(pin->Read(4 * 480), STATUS_PENDING);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 3000));
        PeriodicTimer& timer = TimerOf(*pin);
        inFlight += InterlockedCompareExchange(&timer.workPending, 0, 0) != 0 ? 1 : 0;
        EXPECT_EQ(pin->Close(), STATUS_SUCCESS);
        pin.reset();
    }
    RecordProperty("ClosedWithAnExpiryInFlight", inFlight);
    Finish();
}

// Short and long frames recorded on the wall clock: the 1 ms timer's processing and the
// engine's periods both take frames off the leading edge, on different threads, and both count
// the write offset. Each frame must be taken once: every frame comes back whole and in order, and
// the write offset lies between the bytes of the frames completed and the bytes submitted. (The
// input itself may skip on the wall clock: a late completion restarts the streaming. Its content
// is checked in virtual time.) The window in which both sides reach for the same frame is narrow;
// this run makes the handover between them happen a few hundred times.
TEST_F(CapturePinThreads, FramesAreTakenOnceWhenTimerAndPeriodsRaceForThem)
{
    ASSERT_NO_FATAL_FAILURE(Start());
    NTSTATUS status = STATUS_UNSUCCESSFUL;
    auto pin =
        Platform::Ks::PinHandle::Open(*filter_, 0, PcmFormatBytes(2, 48000, 32, true, 24), &status);
    ASSERT_EQ(status, STATUS_SUCCESS);
    ASSERT_EQ(pin->WalkTo(KSSTATE_RUN), STATUS_SUCCESS);
    static constexpr ULONG kBlocks[] = {8, 480, 8, 32, 8, 96};
    uint64_t frames = 0;
    uint64_t submitted = 0;
    uint64_t completed = 0;
    const auto end = std::chrono::steady_clock::now() + 1500ms;
    while (std::chrono::steady_clock::now() < end) {
        // Mostly kept fed; now and then left to run dry, so that the timer takes over.
        const size_t queued = frames % 50 < 40 ? 12 : 0;
        while (pin->PendingFrames() < queued) {
            // Input already waiting fills a frame as it arrives: completed at once is as good.
            const NTSTATUS read = pin->Read(kBlocks[frames % 6] * 8);
            ASSERT_TRUE(read == STATUS_PENDING || read == STATUS_SUCCESS) << read;
            submitted += kBlocks[frames % 6] * 8;
            ++frames;
        }
        frames += queued == 0 ? 1 : 0;
        std::this_thread::sleep_for(std::chrono::microseconds(200 + frames % 7 * 150));
        for (const Platform::Ks::CompletedFrame& frame : pin->Collect()) {
            ASSERT_EQ(frame.status, STATUS_SUCCESS);
            ASSERT_EQ(frame.header.DataUsed, frame.data.size()) << "a frame came back short";
            completed += frame.data.size();
        }
    }
    EXPECT_GT(completed, 48000u * 8 / 2);
    EXPECT_EQ(pin->OutOfOrderCompletions(), 0u);
    KSAUDIO_POSITION position{};
    ASSERT_EQ(pin->GetPosition(&position), STATUS_SUCCESS);
    EXPECT_GE(position.WriteOffset, completed);
    EXPECT_LE(position.WriteOffset, submitted);
    EXPECT_EQ(pin->WalkTo(KSSTATE_STOP), STATUS_SUCCESS);
    EXPECT_EQ(pin->Close(), STATUS_SUCCESS);
    pin.reset();
    Finish();
}

// The position of a recording pin on a device that is not started is worked out from the pin's
// format copy, which a format change frees and replaces under the pin's control mutex. Asked for
// while a change holds that mutex, the position waits for it and reads the new copy: read without
// the mutex, it would read the old one as it is freed. (The new copy says 0 bytes a second, so
// its answer is the offset as set, however long the wait.)
TEST_F(CapturePinThreads, ThePositionReadsTheFormatUnderTheLockAChangeHolds)
{
    PlugInAndStart(UsbSim::BuildProductDescriptors({.audioClass = 2, .inChannels = 2}));
    ASSERT_NE(OpenFilter(KSCATEGORY_CAPTURE, u"CORVANEQUORVELSTEREOIN12"), nullptr);
    Platform::Ks::PinHandle* pin = OpenPin(0, PcmFormatBytes(2, 48000, 16, false));
    ASSERT_NE(pin, nullptr);
    ASSERT_EQ(device->Send(Platform::Ks::PnpRequest::SurpriseRemoval), STATUS_SUCCESS);
    const KSAUDIO_POSITION set{1000, 1 << 20};
    ASSERT_EQ(pin->SetPosition(set), STATUS_SUCCESS);
    Run(10ms);  // 1920 bytes at the format's rate

    std::vector<uint8_t> still = PcmFormatBytes(2, 48000, 16, false);
    auto* wave = reinterpret_cast<WAVEFORMATEX*>(still.data() + sizeof(KSDATAFORMAT));
    wave->nAvgBytesPerSec = 0;
    PKSPIN ksPin = pin->Pin();
    KsAcquireControl(ksPin);
    std::atomic<bool> answered{false};
    KSAUDIO_POSITION position{};
    NTSTATUS status = STATUS_UNSUCCESSFUL;
    std::thread reader([&] {
        status = pin->GetPosition(&position);
        answered = true;
    });
    EXPECT_FALSE(WaitFor([&] { return answered.load(); }, 200ms))
        << "the position was read while a format change held the pin";
    PKSDATAFORMAT connection = ksPin->ConnectionFormat;
    ksPin->ConnectionFormat = reinterpret_cast<PKSDATAFORMAT>(still.data());
    EXPECT_TRUE(RefreshPinWaveFormat(ksPin));
    ksPin->ConnectionFormat = connection;
    KsReleaseControl(ksPin);
    reader.join();
    ASSERT_EQ(status, STATUS_SUCCESS);
    EXPECT_EQ(position.PlayOffset, set.PlayOffset);
    pin->Close();
    filter_->Close();
    EXPECT_EQ(device->Send(Platform::Ks::PnpRequest::Remove), STATUS_SUCCESS);
}

}  // namespace
