// MIDI input pins closed on the wall clock while their deliveries are queued behind a busy worker
// or running on it. A delivery runs only on a pin still listed on an open filter and holds that
// listing until it ends, so a close waits for a running delivery and a queued one finds the pin
// gone; one that did not would fill frames of a freed pin (AddressSanitizer) or race the close
// (ThreadSanitizer).
#include <KernelTestApi.h>
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>

#include "MidiPinFixture.h"
#include "ks/MidiPinStream.h"
#include "midi/MidiFifo.h"

namespace {

using namespace std::chrono_literals;
using Platform::Kernel::SetTimeMode;
using Platform::Kernel::TimeMode;

struct WorkerBlock
{
    std::atomic<bool> started{false};
    std::atomic<bool> release{false};
    std::atomic<bool> finished{false};
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
    block->finished = true;  // the block may go once this is seen
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

// Note-ons on cable 1 (port B), count of them.
std::vector<uint8_t> Notes(int count)
{
    std::vector<uint8_t> packets;
    for (int i = 0; i < count; ++i) {
        const auto note = static_cast<uint8_t>(i % 128);
        packets.insert(packets.end(), {0x19, 0x90, note, 0x40});
    }
    return packets;
}

class MidiPinThreads : public MidiPinTest
{
protected:
    void TearDown() override
    {
        SetTimeMode(TimeMode::Virtual);
        MidiPinTest::TearDown();
    }

    void Start()
    {
        ASSERT_NE(PlugIn(TwoInThreeOut()), nullptr);
        filter = OpenFilter(KSCATEGORY_CAPTURE, u"PORTB");
        ASSERT_NE(filter, nullptr);
        // The device's input is queued before the wall clock runs: its queue is the bus's.
        QueueIn(Notes(64000));
        SetTimeMode(TimeMode::Real);
    }

    std::unique_ptr<Platform::Ks::PinHandle> RunningPin(bool directMusic)
    {
        NTSTATUS status = STATUS_UNSUCCESSFUL;
        auto pin = Platform::Ks::PinHandle::Open(
            *filter, kMidiPairPinInput, Platform::Ks::MidiFormatBytes(directMusic), &status);
        EXPECT_EQ(status, STATUS_SUCCESS);
        if (pin != nullptr) {
            EXPECT_EQ(pin->WalkTo(KSSTATE_RUN), STATUS_SUCCESS);
        }
        return pin;
    }

    static MidiReader* ReaderOf(Platform::Ks::PinHandle& pin)
    {
        return static_cast<MidiInputPinStream*>(MidiPinOf(pin.Pin()))->Reader();
    }

    void Finish()
    {
        SetTimeMode(TimeMode::Virtual);
        Run(20ms);
        EXPECT_FALSE(Platform::Kernel::TakeSystemThreadBugCheck().has_value());
    }

    Platform::Ks::FilterHandle* filter = nullptr;
};

// The delivery is queued behind a held worker when the pin closes; the worker frees up later and
// the delivery finds the pin gone.
TEST_F(MidiPinThreads, ADeliveryQueuedBehindABusyWorkerFindsThePinClosed)
{
    ASSERT_NO_FATAL_FAILURE(Start());
    for (int round = 0; round < 20; ++round) {
        auto pin = RunningPin(round % 2 == 1);
        ASSERT_NE(pin, nullptr);
        MidiReader* reader = ReaderOf(*pin);
        ASSERT_NE(reader, nullptr);
        // No frame yet: the notes wait in the reader's FIFO.
        ASSERT_TRUE(WaitFor([&] { return FifoHasData(&reader->fifo); })) << "round " << round;

        WorkerBlock block;
        block.item = IoAllocateWorkItem(FunctionalDeviceObject(Context()));
        ASSERT_NE(block.item, nullptr);
        IoQueueWorkItem(block.item, HoldWorker, DelayedWorkQueue, &block);
        ASSERT_TRUE(WaitFor([&] { return block.started.load(); }));
        // The frame's processing schedules a delivery, which queues behind the held worker.
        pin->Read(64);
        std::thread releaser([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(2 + round % 4 * 3));
            block.release = true;
        });
        EXPECT_EQ(pin->Close(), STATUS_SUCCESS);
        releaser.join();
        ASSERT_TRUE(WaitFor([&] { return block.finished.load(); }));
        pin.reset();
    }
    Finish();
}

// Pins receive a stream of notes in frames given a few at a time and are closed at random points:
// deliveries are as often running as queued or done when the close begins.
TEST_F(MidiPinThreads, ClosingWhileDeliveriesRunFreesNothingInUse)
{
    ASSERT_NO_FATAL_FAILURE(Start());
    std::mt19937 random(30);
    for (int round = 0; round < 60; ++round) {
        auto pin = RunningPin(round % 3 == 2);
        ASSERT_NE(pin, nullptr);
        std::atomic<bool> stop{false};
        std::thread reader([&, seed = random()] {
            std::mt19937 own(seed);
            while (!stop) {
                pin->Read(64);
                std::this_thread::sleep_for(std::chrono::microseconds(200 + own() % 300));
            }
        });
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 4000));
        stop = true;
        reader.join();
        EXPECT_EQ(pin->Close(), STATUS_SUCCESS);
        pin.reset();
    }
    Finish();
}

}  // namespace
