// A low-latency host held back well past its deadline at small buffer sizes: the periods it missed
// come together afterwards, each for a place the device has already passed. None of them may land
// a lap of the engine's ring away (heard later, out of order, or over newer frames): at the device
// every frame is the host's next frame or silence where it came too late, and the device never
// hears more frames than the host wrote.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "ControlTestDevice.h"
#include "UserStreamer.h"

namespace {

using namespace std::chrono_literals;

// Follows the ramp the host writes through what the device receives: silence before it, then its
// frames in order; after a silence the ramp may resume where it stopped or further on (the periods
// that came too late), never behind it and never without the silence.
class LateRampReceiver
{
public:
    explicit LateRampReceiver(UsbSim::SimulatedUsbDevice& usbDevice) : device(usbDevice) {}

    bool Take()
    {
        for (const UsbSim::OutPacketRecord& packet : device.OutPackets()) {
            if (packet.endpoint != 0x01) {
                continue;
            }
            for (size_t offset = 0; failure.empty() && offset + 6 <= packet.bytes.size();
                 offset += 6) {
                TakeFrame(Signed24(&packet.bytes[offset]), Signed24(&packet.bytes[offset + 3]));
            }
        }
        device.ClearOutPackets();
        return failure.empty();
    }

    uint64_t frames = 0;      // every frame the device received
    uint64_t rampFrames = 0;  // frames of the ramp
    uint64_t gaps = 0;
    uint64_t gapFrames = 0;   // silent frames inside the ramp
    uint64_t lostFrames = 0;  // frames of the ramp never heard
    std::string failure;

private:
    void TakeFrame(int32_t left, int32_t right)
    {
        const uint64_t at = frames++;
        if (left == 0 && right == 0) {
            silence += rampFrames != 0 ? 1 : 0;
            return;
        }
        const uint64_t n = static_cast<uint64_t>(left) - 1;  // Ramp(n) == n + 1 in a short run
        const bool resumes = silence != 0 && n >= next;
        if (left <= 0 || right != -left || (rampFrames == 0 ? n != 0 : n != next && !resumes)) {
            failure = "device frame " + std::to_string(at) + " carries " + std::to_string(left) +
                      ", " + std::to_string(right) + " where ramp frame " + std::to_string(next) +
                      (rampFrames != 0 ? " or silence" : "") + " was due";
            return;
        }
        if (silence != 0) {
            ++gaps;
            gapFrames += silence;
            lostFrames += n - next;
            silence = 0;
        }
        next = n + 1;
        ++rampFrames;
    }
    static int32_t Signed24(const uint8_t* at)
    {
        return static_cast<int32_t>(static_cast<uint32_t>(at[0] | at[1] << 8 | at[2] << 16) << 8) >>
               8;
    }

    UsbSim::SimulatedUsbDevice& device;
    uint64_t next = 0;     // the ramp frame due next
    uint64_t silence = 0;  // silent frames since the last frame of the ramp
};

struct LateCase
{
    ULONG bufferSize;
    std::chrono::milliseconds held;
};

class ControlLateTest : public ControlClientFixture, public ::testing::WithParamInterface<LateCase>
{
protected:
    // Steps of a fraction of the smallest half, serving after each, as a host's polling thread.
    void RunServing(UserStreamer& user, std::chrono::milliseconds duration)
    {
        constexpr auto kStep = 125us;
        for (std::chrono::microseconds done{0}; done < duration; done += kStep) {
            Platform::Kernel::AdvanceTime(kStep);
            Platform::Kernel::RunPending();
            user.Serve();
        }
    }
};

TEST_P(ControlLateTest, MissedPeriodsThatComeLateNeverLandALapOff)
{
    const LateCase& row = GetParam();
    PlugIn();
    ControlClient* client = OpenClient();
    client->RecordOwner(client);
    UserStreamer user(client, process, 2, row.bufferSize);
    user.inTurn = true;
    ASSERT_EQ(user.Start(row.bufferSize), STATUS_SUCCESS);
    ASSERT_EQ(client->BufferSize(), row.bufferSize);
    LateRampReceiver receiver(UsbDevice());
    RunServing(user, 300ms);
    ASSERT_TRUE(receiver.Take()) << receiver.failure;
    ASSERT_EQ(receiver.gaps, 0u) << "a host served in time leaves no gap";
    ASSERT_EQ(client->TakeChangeFlags(), 0u);

    Run(row.held);  // the host's thread does not run

    RunServing(user, 300ms);
    // The periods that came too late were reported as output that failed.
    EXPECT_EQ(client->TakeChangeFlags() & kChangeOutputFailed, kChangeOutputFailed);
    ASSERT_EQ(client->StopStreaming(), STATUS_SUCCESS);
    Run(20ms);
    ASSERT_TRUE(receiver.Take()) << receiver.failure;
    EXPECT_LE(receiver.rampFrames, user.written) << "the device heard more than was written";
    EXPECT_EQ(receiver.gaps, 1u) << "the late periods were heard as one silence";
    EXPECT_GT(receiver.gapFrames, 0u);
    EXPECT_EQ(receiver.gapFrames % row.bufferSize, 0u) << "whole periods are missing";
    // Silent no longer than the host was late, with the period it was working on.
    EXPECT_LE(receiver.gapFrames, row.held.count() * 48 + 2 * row.bufferSize);
    // After the gap the host's halves play on in time again, to the last ones it wrote.
    EXPECT_GE(receiver.rampFrames + receiver.lostFrames + 4 * row.bufferSize, user.written);
}

INSTANTIATE_TEST_SUITE_P(Buffers, ControlLateTest,
                         ::testing::Values(LateCase{64, 20ms}, LateCase{32, 20ms},
                                           LateCase{64, 45ms}, LateCase{512, 60ms}),
                         [](const auto& info) {
                             return "Buffer" + std::to_string(info.param.bufferSize) + "Held" +
                                    std::to_string(info.param.held.count()) + "ms";
                         });

}  // namespace
