// The control client's streaming against the stream manager's configuration changes on another
// thread, as an engine that applies a configuration meets a user thread's buffer-done.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "ControlTestDevice.h"
#include "UserStreamer.h"
#include "engine/StreamManager.h"

namespace {

using namespace std::chrono_literals;

constexpr ULONG kHalfSamples = 480;  // 10 ms at 48 kHz

class ControlClientThreadsTest : public ControlClientFixture
{
};

// Under ThreadSanitizer (the preset the threads label runs in) a change that rewrites the stored
// configuration and the periods per half under the manager's list lock alone is reported at every
// run: the buffer-done that catches up missed periods reads them under the period lock.
TEST_F(ControlClientThreadsTest, ConfigurationChangesMeetBufferDonesCatchingUpMissedPeriods)
{
    PlugIn();
    ControlClient* client = OpenClient();
    UserStreamer user(client, process, 2, kHalfSamples);
    ASSERT_EQ(user.Start(), STATUS_SUCCESS);
    StreamManager* manager = Context()->streamManager;
    StreamConfiguration applied{};
    manager->GetConfiguration(&applied);
    StreamConfiguration records[2]{};
    ASSERT_GE(Context()->deviceModel->GetConfiguration(0, &records[0]), 0);
    ASSERT_GE(Context()->deviceModel->GetConfiguration(1, &records[1]), 0);
    ASSERT_NE(records[0].index, records[1].index);

    std::atomic<bool> done{false};
    std::atomic<int> changes{0};
    std::thread changer([&] {
        for (int i = 0; !done.load(); ++i) {
            manager->OnConfigurationApplied(&records[i % 2]);
            changes.fetch_add(1);
        }
    });
    // Every fourth buffer-done comes after more than a half: the periods it missed are sent by
    // the buffer-done itself.
    int dones = 0;
    for (int i = 0; i < 200 || changes.load() < 20; ++i) {
        Run(i % 4 == 0 ? 12ms : 2ms);
        client->BufferDone();
        ++dones;
    }
    done = true;
    changer.join();
    manager->OnConfigurationApplied(&applied);
    EXPECT_GE(dones, 200);
    EXPECT_NE(client->TakeChangeFlags() & kChangeRestarted, 0u) << "the changes restarted it";

    // Back on the configuration the engine runs, the handle streams on.
    ASSERT_TRUE(client->IsRunning());
    client->TakeChangeFlags();
    for (int i = 0; i < 50; ++i) {
        Run(2ms);
        user.Serve();
    }
    ULONGLONG position = 0;
    ULONGLONG time = 0;
    client->GetPosition(&position, &time);
    EXPECT_GT(position, 0u);
}

}  // namespace
