// What a lying or careless user process must not get away with: kernel addresses passed as its
// buffers, unmapping while the engine streams, handles that name no event, events released
// while the period signals them, cancelled reads, port numbers past the tables, and failures
// reported as success.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "ControlTestDevice.h"
#include "UserStreamer.h"
#include "midi/MidiRouter.h"

namespace {

using namespace std::chrono_literals;

constexpr ULONG kHalf = 480;

class ControlFaultsTest : public ControlClientFixture
{
protected:
    void SetUp() override
    {
        ControlClientFixture::SetUp();
        PlugIn();
        UsbDevice().SetInGenerator(&SoakRun::CaptureSample);
    }
    void RunServing(UserStreamer& user, std::chrono::milliseconds duration)
    {
        for (auto done = 0ms; done < duration; done += 2ms) {
            Run(2ms);
            user.Serve();
        }
    }
    NTSTATUS Read(CallerRequest& request, ControlClient* client, ULONG port, PVOID buffer,
                  ULONG length, ControlMidiReadResult* result)
    {
        return request.Dispatch(
            [&](PIRP irp) { return client->ReadMidi(irp, port, buffer, length, result); });
    }
    static size_t MdlsOutstanding()
    {
        size_t count = 0;
        for (const auto& block : Platform::Kernel::OutstandingPool()) {
            count += block.tag == Platform::Kernel::MakeTag("Mdl ") ? 1 : 0;
        }
        return count;
    }
};

// Buffers are probed in the mode of the request that hands them in: a user-mode request naming
// kernel memory maps nothing there, while a kernel-mode caller's buffers are taken as given.
struct ProbeCase
{
    const char* name;
    KPROCESSOR_MODE mode;
    bool written;
};

class ControlProbeTest : public ControlFaultsTest, public ::testing::WithParamInterface<ProbeCase>
{
};

TEST_P(ControlProbeTest, KernelAddressesAreMappedOnlyForKernelCallers)
{
    ControlClient* client = OpenClient();
    std::vector<int32_t> kernel(2 * 2 * kHalf, 0x5A5A5A5A);  // not the process's memory
    PVOID inputs[kControlChannels][kControlHalves] = {};
    PVOID outputs[kControlChannels][kControlHalves] = {};
    for (ULONG c = 0; c < 2; ++c) {
        for (ULONG h = 0; h < 2; ++h) {
            inputs[c][h] = &kernel[(c * 2 + h) * kHalf];
            outputs[c][h] = process.Allocate(kHalf * 4);
        }
    }
    ASSERT_EQ(client->MapClientBuffers(kControlInput, inputs, kHalf * 4, GetParam().mode),
              STATUS_SUCCESS);
    ASSERT_EQ(client->MapClientBuffers(kControlOutput, outputs, kHalf * 4, UserMode),
              STATUS_SUCCESS);
    ASSERT_EQ(client->StartStreaming(), STATUS_SUCCESS);
    Run(300ms);
    bool touched = false;
    for (int32_t value : kernel) {
        touched = touched || value != 0x5A5A5A5A;
    }
    EXPECT_EQ(touched, GetParam().written);
    ASSERT_EQ(client->UnmapClientBuffers(kControlInput), STATUS_SUCCESS);
    ASSERT_EQ(client->UnmapClientBuffers(kControlOutput), STATUS_SUCCESS);
}

INSTANTIATE_TEST_SUITE_P(Modes, ControlProbeTest,
                         ::testing::Values(ProbeCase{"UserMode", UserMode, false},
                                           ProbeCase{"KernelMode", KernelMode, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ControlFaultsTest, AUserModeMidiWriteOfKernelMemoryFails)
{
    ControlClient* client = OpenClient();
    ASSERT_EQ(client->OpenOutputPort(0), STATUS_SUCCESS);
    UCHAR kernel[3] = {0x90, 0x3C, 0x40};
    EXPECT_EQ(client->WriteMidi(0, kernel, 3, UserMode), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(kernel[0], 0x90) << "nothing was locked, nothing handed back";
    Run(20ms);
    EXPECT_TRUE(UsbDevice().BulkReceived(kControlMidiOutEndpoint).empty());
    // A user-mode read request naming kernel memory fails the same way.
    ASSERT_EQ(client->OpenInputPort(0), STATUS_SUCCESS);
    ControlMidiReadResult result{};
    CallerRequest request;
    EXPECT_EQ(Read(request, client, 0, kernel, 3, &result), STATUS_UNSUCCESSFUL);
}

// The engine writes through the mapped halves until its client stream is gone: unmapping either
// direction stops and removes the stream first, so the process may free its memory the moment
// the unmap returns.
class ControlUnmapTest : public ControlFaultsTest,
                         public ::testing::WithParamInterface<ControlDirection>
{
};

TEST_P(ControlUnmapTest, UnmappingWhileStreamingStopsTheEngineFirst)
{
    // Unlocked pages go at once: an engine still writing through a released half faults here.
    process.SetPagesGoWhenUnlocked(true);
    ControlClient* client = OpenClient();
    UserStreamer user(client, process, 2, kHalf);
    ASSERT_EQ(user.Start(), STATUS_SUCCESS);
    RunServing(user, 100ms);
    ASSERT_EQ(client->UnmapClientBuffers(GetParam()), STATUS_SUCCESS);
    user.FreeBuffers(GetParam() == kControlInput, GetParam() == kControlOutput);
    EXPECT_FALSE(client->IsRunning());
    RunServing(user, 100ms);  // the released halves are gone from the process: a touch faults
    EXPECT_EQ(client->StartStreaming(), STATUS_UNSUCCESSFUL) << "no client stream any more";
    EXPECT_EQ(client->BufferDone(), STATUS_UNSUCCESSFUL);
}

INSTANTIATE_TEST_SUITE_P(Directions, ControlUnmapTest,
                         ::testing::Values(kControlInput, kControlOutput), [](const auto& info) {
                             return info.param == kControlInput ? "Input" : "Output";
                         });

// Flags are or-ed in from several contexts at once and taken by user mode: none may be lost.
TEST_F(ControlFaultsTest, ChangeFlagsRaisedAtOnceAreAllKept)
{
    ControlClient* client = OpenClient();
    constexpr int kThreads = 4;
    constexpr int kRounds = 5000;
    std::atomic<int> arrived{0};
    std::atomic<int> round{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int r = 0; r < kRounds; ++r) {
                while (round.load() < r) {
                    std::this_thread::yield();
                }
                client->OnFlags(nullptr, 1u << t);
                arrived.fetch_add(1);
            }
        });
    }
    int lost = 0;
    for (int r = 0; r < kRounds; ++r) {
        while (arrived.load() < (r + 1) * kThreads) {
            std::this_thread::yield();
        }
        lost += client->TakeChangeFlags() != (1u << kThreads) - 1 ? 1 : 0;
        round.store(r + 1);
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(lost, 0);
}

// A handle that names no event (or one the caller may not signal) registers nothing: the period
// never signals or clears a missing object, and a good registration still goes through after.
struct HandleCase
{
    const char* name;
    bool badFirst;
    bool badSecond;
};

class ControlEventHandleTest : public ControlFaultsTest,
                               public ::testing::WithParamInterface<HandleCase>
{
};

TEST_P(ControlEventHandleTest, AnUnreferencableHandleRegistersNothing)
{
    ControlClient* client = OpenClient();
    UserStreamer user(client, process, 2, kHalf);
    ASSERT_EQ(user.Map(kControlInput), STATUS_SUCCESS);
    ASSERT_EQ(user.Map(kControlOutput), STATUS_SUCCESS);
    HANDLE unsignallable = process.CreateEvent(false, false, SYNCHRONIZE);
    HANDLE unknown = reinterpret_cast<HANDLE>(0x7FF0);
    const size_t objectsBefore = Platform::Kernel::LiveObjectCount();
    HANDLE first = GetParam().badFirst ? unknown : user.Event(0);
    HANDLE second = GetParam().badSecond ? unsignallable : user.Event(1);
    EXPECT_NE(client->SetEvents(first, second), STATUS_SUCCESS);
    EXPECT_EQ(Platform::Kernel::LiveObjectCount(), objectsBefore) << "no reference kept";
    ASSERT_EQ(client->StartStreaming(), STATUS_SUCCESS);
    Run(100ms);
    EXPECT_FALSE(process.IsEventSignalled(user.Event(1)).value_or(true));
    EXPECT_EQ(client->SetEvents(user.Event(0), user.Event(1)), STATUS_SUCCESS);
    ASSERT_EQ(client->StopStreaming(), STATUS_SUCCESS);
    ASSERT_EQ(client->StartStreaming(), STATUS_SUCCESS);
    Run(30ms);
    EXPECT_TRUE(process.IsEventSignalled(user.Event(1)).value_or(false));
    // The MIDI event alike.
    EXPECT_NE(client->SetMidiEvent(unsignallable), STATUS_SUCCESS);
    EXPECT_NE(client->SetMidiEvent(unknown), STATUS_SUCCESS);
    ASSERT_EQ(client->OpenInputPort(0), STATUS_SUCCESS);
    UsbDevice().QueueBulkIn(kControlMidiInEndpoint, {0x19, 0x90, 0x3C, 0x40});
    Run(5ms);
    EXPECT_EQ(client->GetInputDataMask(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Handles, ControlEventHandleTest,
                         ::testing::Values(HandleCase{"UnknownFirst", true, false},
                                           HandleCase{"NoModifyAccessSecond", false, true},
                                           HandleCase{"Both", true, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// Released events are gone from the client before their references are dropped: the process
// closing its handles right after frees the objects, and the periods that follow touch nothing.
TEST_F(ControlFaultsTest, ReleasedEventsAreNeverSignalledAgain)
{
    ControlClient* client = OpenClient();
    UserStreamer user(client, process, 2, kHalf);
    ASSERT_EQ(user.Start(), STATUS_SUCCESS);
    HANDLE midiEvent = process.CreateEvent(false, false);
    ASSERT_EQ(client->SetMidiEvent(midiEvent), STATUS_SUCCESS);
    ASSERT_EQ(client->OpenInputPort(0), STATUS_SUCCESS);
    RunServing(user, 100ms);
    const size_t objectsBefore = Platform::Kernel::LiveObjectCount();
    ASSERT_EQ(client->ReleaseEvents(), STATUS_SUCCESS);
    ASSERT_EQ(client->ReleaseMidiEvent(), STATUS_SUCCESS);
    process.CloseHandle(user.Event(0));
    process.CloseHandle(user.Event(1));
    process.CloseHandle(midiEvent);
    EXPECT_EQ(Platform::Kernel::LiveObjectCount(), objectsBefore - 3) << "the objects are gone";
    UsbDevice().QueueBulkIn(kControlMidiInEndpoint, {0x19, 0x90, 0x3C, 0x40});
    Run(200ms);
    EXPECT_TRUE(client->IsRunning());
    EXPECT_EQ(client->GetInputDataMask(), 1u);
}

// A cancelled pending read releases its locked buffer; the port takes the next read.
TEST_F(ControlFaultsTest, ACancelledReadFreesItsBuffer)
{
    ControlClient* client = OpenClient();
    ASSERT_EQ(client->OpenInputPort(0), STATUS_SUCCESS);
    auto* buffer = static_cast<UCHAR*>(process.Allocate(64));
    const size_t before = MdlsOutstanding();
    for (int i = 0; i < 3; ++i) {
        ControlMidiReadResult result{};
        CallerRequest request;
        ASSERT_EQ(Read(request, client, 0, buffer, 64, &result), STATUS_PENDING);
        EXPECT_EQ(MdlsOutstanding(), before + 1);
        EXPECT_TRUE(request.Cancel());
        ASSERT_TRUE(request.Completed());
        EXPECT_EQ(request.Status(), STATUS_CANCELLED);
        EXPECT_EQ(MdlsOutstanding(), before) << "round " << i;
    }
}

// A second read while one pends is refused and leaves the first as it was: the next message, a
// cancel or the port's close each still end it, and its buffer is released.
enum class FirstReadEnd
{
    Message,
    Cancel,
    PortClosed,
    HandleClosed,
};

struct SecondReadCase
{
    const char* name;
    FirstReadEnd end;
    NTSTATUS status;
    ULONG bytes;
};

class ControlSecondReadTest : public ControlFaultsTest,
                              public ::testing::WithParamInterface<SecondReadCase>
{
};

TEST_P(ControlSecondReadTest, ASecondReadLeavesThePendingOneToComplete)
{
    ControlClient* client = OpenClient();
    ASSERT_EQ(client->OpenInputPort(0), STATUS_SUCCESS);
    auto* buffer = static_cast<UCHAR*>(process.Allocate(16));
    auto* other = static_cast<UCHAR*>(process.Allocate(16));
    ControlMidiReadResult result{};
    ControlMidiReadResult otherResult{};
    CallerRequest first;
    ASSERT_EQ(Read(first, client, 0, buffer, 16, &result), STATUS_PENDING);
    {
        CallerRequest second;
        EXPECT_EQ(Read(second, client, 0, other, 16, &otherResult), STATUS_UNSUCCESSFUL);
        EXPECT_TRUE(second.Completed());
    }
    EXPECT_FALSE(first.Completed());
    EXPECT_EQ(MdlsOutstanding(), 1u) << "only the first read's buffer is locked";
    switch (GetParam().end) {
        case FirstReadEnd::Message:
            UsbDevice().QueueBulkIn(kControlMidiInEndpoint, {0x19, 0x90, 0x3C, 0x40});
            Run(5ms);
            break;
        case FirstReadEnd::Cancel:
            EXPECT_TRUE(first.Cancel()) << "its cancel routine is in place";
            break;
        case FirstReadEnd::PortClosed:
            EXPECT_EQ(client->CloseInputPort(0), STATUS_SUCCESS);
            break;
        case FirstReadEnd::HandleClosed:
            CloseClient(client);
            break;
    }
    ASSERT_TRUE(first.Completed());
    EXPECT_EQ(first.Status(), GetParam().status);
    EXPECT_EQ(result.bytes, GetParam().bytes);
    EXPECT_EQ(MdlsOutstanding(), 0u);
    if (GetParam().end == FirstReadEnd::Message) {
        EXPECT_EQ(buffer[0], 0x90);
        CallerRequest next;  // the port takes a read again
        EXPECT_EQ(Read(next, client, 0, other, 16, &otherResult), STATUS_PENDING);
        EXPECT_TRUE(next.Cancel());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Ends, ControlSecondReadTest,
    ::testing::Values(SecondReadCase{"Message", FirstReadEnd::Message, STATUS_SUCCESS, 3},
                      SecondReadCase{"Cancel", FirstReadEnd::Cancel, STATUS_CANCELLED, 0},
                      SecondReadCase{"PortClosed", FirstReadEnd::PortClosed, STATUS_SUCCESS, 0},
                      SecondReadCase{"HandleClosed", FirstReadEnd::HandleClosed, STATUS_SUCCESS,
                                     0}),
    [](const auto& info) { return std::string(info.param.name); });

// Port numbers index 32-entry tables: 32 and above are refused by every operation, and closing
// them changes nothing.
TEST_F(ControlFaultsTest, PortNumbersFrom32AreRefused)
{
    ControlClient* client = OpenClient();
    ASSERT_EQ(client->OpenOutputPort(0), STATUS_SUCCESS);
    ASSERT_EQ(client->OpenInputPort(0), STATUS_SUCCESS);
    auto* buffer = static_cast<UCHAR*>(process.Allocate(16));
    buffer[0] = 0x90;
    for (ULONG n : {32u, 33u, 64u, 1000u, 0x80000000u, 0xFFFFFFFFu}) {
        EXPECT_EQ(client->OpenOutputPort(n), STATUS_UNSUCCESSFUL) << n;
        EXPECT_EQ(client->OpenInputPort(n), STATUS_UNSUCCESSFUL) << n;
        EXPECT_EQ(client->CloseOutputPort(n), STATUS_SUCCESS) << n;
        EXPECT_EQ(client->CloseInputPort(n), STATUS_SUCCESS) << n;
        EXPECT_EQ(client->WriteMidi(n, buffer, 3, UserMode), STATUS_UNSUCCESSFUL) << n;
        ControlMidiReadResult result{};
        CallerRequest request;
        EXPECT_EQ(Read(request, client, n, buffer, 16, &result), STATUS_UNSUCCESSFUL) << n;
    }
    EXPECT_EQ(client->GetOpenOutputMask(), 1u);
    EXPECT_EQ(client->GetOpenInputMask(), 1u);
}

// A write the sender refuses is a failure (its buffer handed back), and so is one of no bytes.
TEST_F(ControlFaultsTest, RefusedAndEmptyWritesFail)
{
    ControlClient* client = OpenClient();
    // The router moves to a table the codec does not know: the codec refuses the writer's sends.
    const MidiConfiguration next = ControlMidiTable(1);
    Context()->midiRouter->OnPortTableChange(&next);
    ASSERT_EQ(client->OpenOutputPort(0), STATUS_SUCCESS);
    auto* buffer = static_cast<UCHAR*>(process.Allocate(3));
    const UCHAR note[] = {0x90, 0x3C, 0x40};
    std::memcpy(buffer, note, 3);
    EXPECT_EQ(client->WriteMidi(0, buffer, 3, UserMode), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(buffer[0], static_cast<UCHAR>(~0x90)) << "the buffer is free again";
    EXPECT_EQ(client->WriteMidi(0, buffer, 0, UserMode), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(client->WriteMidi(0, nullptr, 3, UserMode), STATUS_UNSUCCESSFUL);
    const MidiConfiguration back = ControlMidiTable(0);
    Context()->midiRouter->OnPortTableChange(&back);
    Platform::Kernel::RunPending();
}

// A read whose buffer finds no system address fails instead of answering "no data"; the message
// stays for the next read. A pending read completes (as pending reads always do) with no bytes.
TEST_F(ControlFaultsTest, AReadWhoseBufferCannotBeMappedFails)
{
    ControlClient* client = OpenClient();
    ASSERT_EQ(client->OpenInputPort(0), STATUS_SUCCESS);
    UsbDevice().QueueBulkIn(kControlMidiInEndpoint, {0x19, 0x90, 0x3C, 0x40});
    Run(5ms);
    ASSERT_EQ(client->GetInputDataMask(), 1u);
    auto* buffer = static_cast<UCHAR*>(process.Allocate(16));
    ControlMidiReadResult result{};
    Platform::Kernel::FailSystemAddressMappings(1);
    CallerRequest failed;
    EXPECT_EQ(Read(failed, client, 0, buffer, 16, &result), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(client->GetInputDataMask(), 1u) << "the message is still there";
    CallerRequest next;
    ASSERT_EQ(Read(next, client, 0, buffer, 16, &result), STATUS_SUCCESS);
    EXPECT_EQ(result.bytes, 3u);

    CallerRequest pending;
    ASSERT_EQ(Read(pending, client, 0, buffer, 16, &result), STATUS_PENDING);
    Platform::Kernel::FailSystemAddressMappings(1);
    UsbDevice().QueueBulkIn(kControlMidiInEndpoint, {0x19, 0x80, 0x3C, 0x00});
    Run(5ms);
    ASSERT_TRUE(pending.Completed());
    EXPECT_EQ(pending.Status(), STATUS_SUCCESS);
    EXPECT_EQ(result.bytes, 0u);
    Platform::Kernel::FailSystemAddressMappings(0);
    EXPECT_EQ(MdlsOutstanding(), 0u);
}

}  // namespace
