// A handle's buffer tables and buffer size against a caller that tries again: a direction maps
// once until it is unmapped, whatever its first table held, so a second, shorter table can never
// slip under a stream that keeps the period it started with; and a buffer size of 0 is refused
// whatever the device's state.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <future>
#include <thread>
#include <vector>

#include "ControlTestDevice.h"
#include "UserStreamer.h"
#include "device/DeviceLifecycle.h"

namespace {

using namespace std::chrono_literals;

constexpr ULONG kHalf = 480;
constexpr uint8_t kGuard = 0xA5;

size_t MdlsOutstanding()
{
    size_t count = 0;
    for (const auto& block : Platform::Kernel::OutstandingPool()) {
        count += block.tag == Platform::Kernel::MakeTag("Mdl ") ? 1 : 0;
    }
    return count;
}

// Short halves for two channels in one block of the process's memory, each between guard bytes:
// whatever the engine writes past a half lands in the guard.
class GuardedHalves
{
public:
    static constexpr ULONG kBytes = 64;
    static constexpr ULONG kStride = 8192;  // room for a whole period written past the half

    explicit GuardedHalves(Platform::Kernel::UserProcess& process) : process_(process)
    {
        block_ = static_cast<uint8_t*>(process.Allocate(kStride * 4));
        std::memset(block_, kGuard, kStride * 4);
        for (ULONG c = 0; c < 2; ++c) {
            for (ULONG h = 0; h < kControlHalves; ++h) {
                pointers[c][h] = block_ + (c * 2 + h) * kStride + kStride / 2;
            }
        }
    }
    ~GuardedHalves() { process_.Free(block_); }
    GuardedHalves(const GuardedHalves&) = delete;
    GuardedHalves& operator=(const GuardedHalves&) = delete;

    // Bytes changed outside the halves, and inside them.
    size_t TouchedOutside() const { return Touched(false); }
    size_t TouchedInside() const { return Touched(true); }

    PVOID pointers[kControlChannels][kControlHalves] = {};

private:
    size_t Touched(bool inside) const
    {
        size_t touched = 0;
        for (ULONG i = 0; i < kStride * 4; ++i) {
            const ULONG offset = i % kStride;
            const bool inHalf = offset >= kStride / 2 && offset < kStride / 2 + kBytes;
            touched += inHalf == inside && block_[i] != kGuard ? 1 : 0;
        }
        return touched;
    }

    Platform::Kernel::UserProcess& process_;
    uint8_t* block_ = nullptr;
};

// What the first table of the direction held: nothing, or addresses the caller cannot lock
// (kernel memory named by a user-mode request). Either maps the direction.
enum class FirstTable
{
    Null,
    Unlockable,
};

struct SecondMapCase
{
    const char* name;
    ControlDirection direction;
    FirstTable first;
    bool streaming;
};

class ControlMappingTest : public ControlClientFixture
{
protected:
    void SetUp() override
    {
        ControlClientFixture::SetUp();
        PlugIn();
        UsbDevice().SetInGenerator(&SoakRun::CaptureSample);
    }
    bool DeviceHeardOnlySilence()
    {
        for (const UsbSim::OutPacketRecord& packet : UsbDevice().OutPackets()) {
            for (uint8_t byte : packet.bytes) {
                if (packet.endpoint == 0x01 && byte != 0) {
                    return false;
                }
            }
        }
        return true;
    }
};

class ControlSecondMapTest : public ControlMappingTest,
                             public ::testing::WithParamInterface<SecondMapCase>
{
};

TEST_P(ControlSecondMapTest, ASecondTableIsRefusedWhileTheDirectionIsMapped)
{
    const SecondMapCase& row = GetParam();
    const bool input = row.direction == kControlInput;
    ControlClient* client = OpenClient();
    UserStreamer user(client, process, 2, kHalf);
    client->RecordOwner(&user);
    std::vector<int32_t> kernel(2 * kControlHalves * kHalf, 0);
    PVOID first[kControlChannels][kControlHalves] = {};
    for (ULONG c = 0; c < 2 && row.first == FirstTable::Unlockable; ++c) {
        for (ULONG h = 0; h < kControlHalves; ++h) {
            first[c][h] = &kernel[(c * 2 + h) * kHalf];
        }
    }
    ASSERT_EQ(client->MapClientBuffers(row.direction, first, kHalf * 4, UserMode), STATUS_SUCCESS);
    const ControlDirection other = input ? kControlOutput : kControlInput;
    if (row.streaming) {
        ASSERT_EQ(user.Map(other), STATUS_SUCCESS);
        ASSERT_EQ(client->SetEvents(user.Event(0), user.Event(1)), STATUS_SUCCESS);
        ASSERT_EQ(client->StartStreaming(), STATUS_SUCCESS);
        ASSERT_TRUE(client->IsRunning());
        Run(50ms);
    }
    const size_t mdls = MdlsOutstanding();
    ASSERT_EQ(client->MappedLength(), kHalf);

    GuardedHalves shorter(process);
    EXPECT_EQ(
        client->MapClientBuffers(row.direction, shorter.pointers, GuardedHalves::kBytes, UserMode),
        input ? STATUS_UNSUCCESSFUL : STATUS_SUCCESS);
    EXPECT_EQ(MdlsOutstanding(), mdls) << "nothing of the second table was locked";
    EXPECT_EQ(client->MappedLength(), kHalf) << "the mapped length is the first table's";
    if (row.streaming) {
        for (int i = 0; i < 50; ++i) {
            Run(2ms);
            user.Serve();
        }
        EXPECT_TRUE(client->IsRunning());
    }
    EXPECT_EQ(shorter.TouchedOutside(), 0u) << "bytes written past the second table's halves";
    EXPECT_EQ(shorter.TouchedInside(), 0u) << "the second table is not the engine's";
    if (!input) {
        EXPECT_TRUE(DeviceHeardOnlySilence()) << "the output played the second table";
    }
    for (int32_t value : kernel) {
        ASSERT_EQ(value, 0) << "kernel memory named by user mode was written";
    }

    // Unmapped, the direction takes a table again.
    ASSERT_EQ(client->UnmapClientBuffers(row.direction), STATUS_SUCCESS);
    EXPECT_FALSE(client->IsRunning());
    EXPECT_EQ(
        client->MapClientBuffers(row.direction, shorter.pointers, GuardedHalves::kBytes, UserMode),
        STATUS_SUCCESS);
    EXPECT_EQ(MdlsOutstanding(), mdls + 4);
    ASSERT_EQ(client->UnmapClientBuffers(row.direction), STATUS_SUCCESS);
    ASSERT_EQ(client->UnmapClientBuffers(other), STATUS_SUCCESS);
}

INSTANTIATE_TEST_SUITE_P(
    Tables, ControlSecondMapTest,
    ::testing::Values(
        SecondMapCase{"InputNullWhileStreaming", kControlInput, FirstTable::Null, true},
        SecondMapCase{"InputUnlockableWhileStreaming", kControlInput, FirstTable::Unlockable, true},
        SecondMapCase{"InputNullIdle", kControlInput, FirstTable::Null, false},
        SecondMapCase{"OutputNullWhileStreaming", kControlOutput, FirstTable::Null, true},
        SecondMapCase{"OutputUnlockableWhileStreaming", kControlOutput, FirstTable::Unlockable,
                      true},
        SecondMapCase{"OutputNullIdle", kControlOutput, FirstTable::Null, false}),
    [](const auto& info) { return std::string(info.param.name); });

// A table that cannot be used at all (halves too short for one sample) maps nothing: the
// direction is not marked mapped and takes a good table after.
TEST_F(ControlMappingTest, AFailedMappingLeavesNothingMapped)
{
    ControlClient* client = OpenClient();
    UserStreamer user(client, process, 2, kHalf);
    for (ControlDirection direction : {kControlInput, kControlOutput}) {
        GuardedHalves halves(process);
        EXPECT_EQ(client->MapClientBuffers(direction, halves.pointers, 3, UserMode),
                  STATUS_UNSUCCESSFUL);
        EXPECT_EQ(client->MappedLength(), 0u);
        EXPECT_EQ(MdlsOutstanding(), 0u);
    }
    EXPECT_EQ(user.Start(), STATUS_SUCCESS);
    EXPECT_TRUE(client->IsRunning());
}

// A buffer size of 0 is refused whatever the device's state; the shared size stays and no other
// handle hears of a change. (While the device is not started every size snaps to 0.)
enum class DeviceState
{
    Started,
    Stopped,
    SurpriseRemoved,
};

struct ZeroSizeCase
{
    const char* name;
    DeviceState state;
};

class ControlZeroBufferSizeTest : public ControlClientFixture,
                                  public ::testing::WithParamInterface<ZeroSizeCase>
{
};

TEST_P(ControlZeroBufferSizeTest, ASizeOfZeroIsRefused)
{
    PlugIn();
    ControlClient* client = OpenClient();
    ControlClient* other = OpenClient();
    ASSERT_EQ(client->SetBufferSize(client->SnapBufferSize(256)), STATUS_SUCCESS);
    const ULONG shared = ControlBufferSize;
    ASSERT_NE(shared, 0u);
    other->TakeChangeFlags();
    client->TakeChangeFlags();
    switch (GetParam().state) {
        case DeviceState::Started:
            break;
        case DeviceState::Stopped:
            ASSERT_EQ(device->Send(Platform::Ks::PnpRequest::QueryStop), STATUS_SUCCESS);
            ASSERT_EQ(device->Send(Platform::Ks::PnpRequest::Stop), STATUS_SUCCESS);
            break;
        case DeviceState::SurpriseRemoved:
            ASSERT_EQ(device->Send(Platform::Ks::PnpRequest::SurpriseRemoval), STATUS_SUCCESS);
            break;
    }
    EXPECT_EQ(client->SetBufferSize(0), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(ControlBufferSize, shared);
    EXPECT_EQ(client->BufferSize(), shared);
    EXPECT_EQ(other->TakeChangeFlags(), 0u);
    EXPECT_EQ(client->TakeChangeFlags(), 0u);
}

INSTANTIATE_TEST_SUITE_P(States, ControlZeroBufferSizeTest,
                         ::testing::Values(ZeroSizeCase{"Started", DeviceState::Started},
                                           ZeroSizeCase{"Stopped", DeviceState::Stopped},
                                           ZeroSizeCase{"SurpriseRemoved",
                                                        DeviceState::SurpriseRemoved}),
                         [](const auto& info) { return std::string(info.param.name); });

// The size is checked and stored under the handle's mutex: a start that comes between the check
// and the store runs with the size it found, and a size the check allowed before the start is
// not stored under the running stream. The start is made from another thread at the moment the
// size is being checked; it waits for the mutex (bounded, so the race without it shows too).
TEST_F(ControlMappingTest, ASizeCheckedBeforeAStartIsNotStoredUnderTheStream)
{
    ControlClient* client = OpenClient();
    UserStreamer user(client, process, 2, kHalf);
    client->RecordOwner(&user);
    ASSERT_EQ(user.Map(kControlInput), STATUS_SUCCESS);
    ASSERT_EQ(user.Map(kControlOutput), STATUS_SUCCESS);
    ASSERT_EQ(client->SetEvents(user.Event(0), user.Event(1)), STATUS_SUCCESS);
    ASSERT_EQ(client->SetBufferSize(client->SnapBufferSize(128)), STATUS_SUCCESS);
    const ULONG wanted = client->SnapBufferSize(256);
    ASSERT_NE(wanted, client->BufferSize());
    auto* model = static_cast<ControlDeviceModel*>(Context()->deviceModel);
    ULONG sizeAtStart = 0;
    std::future<void> start;
    model->onNextGranularity = [&] {
        start = std::async(std::launch::async, [&] {
            Platform::Kernel::AttachedToProcess attachedThere(process);
            EXPECT_EQ(client->StartStreaming(), STATUS_SUCCESS);
            sizeAtStart = client->BufferSize();
        });
        start.wait_for(std::chrono::milliseconds(200));
    };
    const NTSTATUS status = client->SetBufferSize(wanted);
    start.wait();
    ASSERT_TRUE(client->IsRunning());
    EXPECT_EQ(client->BufferSize(), sizeAtStart) << "the size changed under the running stream";
    EXPECT_EQ(status == STATUS_SUCCESS, sizeAtStart == wanted);
    ASSERT_EQ(client->StopStreaming(), STATUS_SUCCESS);
    ASSERT_EQ(client->UnmapClientBuffers(kControlInput), STATUS_SUCCESS);
    ASSERT_EQ(client->UnmapClientBuffers(kControlOutput), STATUS_SUCCESS);
}

}  // namespace
