// The USB-MIDI pipes stopped and started again and again on the wall clock while their reads
// complete on the kernel layer's timer thread: a stop cancels reads that may be completing, being
// resubmitted or retiring at that moment, and must neither cancel a freed IRP nor wait for a read
// that was sent again behind its back. Every read the device answered is delivered once, in order.
#include <gtest/gtest.h>

#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "MidiDeviceModel.h"

namespace {

using namespace std::chrono_literals;

// Each packet the device sends carries its number in its two data bytes.
class NumberingInput final : public MidiInput
{
public:
    void OnMidiInPacket(const UCHAR* data, ULONG length) override
    {
        std::lock_guard<std::mutex> hold(mutex);
        for (ULONG at = 0; at + 4 <= length; at += 4) {
            numbers.push_back(data[at + 2] | (data[at + 3] << 7));
        }
    }
    std::vector<ULONG> Numbers()
    {
        std::lock_guard<std::mutex> hold(mutex);
        return numbers;
    }

private:
    std::mutex mutex;
    std::vector<ULONG> numbers;
};

class MidiPipesThreadsTest : public MidiDeviceFixture
{
protected:
    void TearDown() override
    {
        Platform::Kernel::SetTimeMode(Platform::Kernel::TimeMode::Virtual);
        MidiDeviceFixture::TearDown();
    }
};

TEST_F(MidiPipesThreadsTest, StoppingWhileReadsCompleteRetiresEveryReadOnce)
{
    ASSERT_NE(PlugInMidi(MidiVariant()), nullptr);
    constexpr ULONG kPackets = 16000;
    for (ULONG n = 0; n < kPackets; ++n) {
        UsbDevice().QueueBulkIn(kMidiInEndpoint, {0x09, 0x90, static_cast<UCHAR>(n & 0x7F),
                                                  static_cast<UCHAR>((n >> 7) & 0x7F)});
    }
    NumberingInput input;
    UsbMidiPipes* pipes = Pipes();
    pipes->SetMidiInput(&input);
    std::mt19937 random(3);
    Platform::Kernel::SetTimeMode(Platform::Kernel::TimeMode::Real);
    for (int round = 0; round < 150; ++round) {
        ASSERT_EQ(pipes->StartMidiPipes(), STATUS_SUCCESS);
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 3000));
        pipes->StopMidiPipes();
        ASSERT_EQ(pipes->ReadsInFlight(), 0) << "round " << round;
    }
    Platform::Kernel::SetTimeMode(Platform::Kernel::TimeMode::Virtual);
    pipes->SetMidiInput(nullptr);
    EXPECT_EQ(Bus().PendingRequests(), 0u);
    EXPECT_EQ(pipes->FailedReads(), 0u) << "cancelled reads at a stop are no failures";
    const std::vector<ULONG> numbers = input.Numbers();
    EXPECT_GT(numbers.size(), 150u);
    for (size_t i = 0; i < numbers.size(); ++i) {
        ASSERT_EQ(numbers[i], i) << "lost or repeated";
    }
}

}  // namespace
