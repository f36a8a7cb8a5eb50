// A binding that cannot be restored when a CAutoNotificationDisabler ends is reported on the
// debug channel. The only way restoring fails is running out of memory, so this program replaces
// the global allocation functions with ones that fail the n-th request on demand.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "Notification/NotificationForwarder.h"
#include "Notification/NotificationHandler.h"
#include "Notification/NotificationIdTexts.h"
#include "NotificationFixtures.h"
#include "Win32Test/DebugOutputSink.h"

namespace {

// 0: never fail; n: the n-th request from now on this thread fails, once.
thread_local long failCountdown = 0;

void* Allocate(std::size_t size)
{
    if (failCountdown > 0 && --failCountdown == 0) {
        throw std::bad_alloc();
    }
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    return block;
}

}  // namespace

void* operator new(std::size_t size)
{
    return Allocate(size);
}
void* operator new[](std::size_t size)
{
    return Allocate(size);
}
void operator delete(void* block) noexcept
{
    std::free(block);
}
void operator delete[](void* block) noexcept
{
    std::free(block);
}
void operator delete(void* block, std::size_t) noexcept
{
    std::free(block);
}
void operator delete[](void* block, std::size_t) noexcept
{
    std::free(block);
}

namespace OrvTest {
namespace {

using Orv::CAutoNotificationDisabler;
using Orv::LNotificationHandler;
using Orv::NID_VALUE_CHANGE;

class LOwner : public virtual LNotificationClient
{
public:
    int OnNotification(const RCPtr<LNotificationDistributor>& sender,
                       const RCPtr<LNotification>& notification) override
    {
        return Orv::NotificationForwarder(true, sender, notification, handler);
    }
    Orv::ORVRESULT Unregister(const RCPtr<LNotificationDistributor>& source,
                              const char16_t* idText) override
    {
        return Orv::UnregisterForwarder(*this, source, idText, handler);
    }
    int OnValue(const RCPtr<LNotificationDistributor>&, const RCPtr<LNotification>&) { return 1; }

    RCPtr<LNotificationHandler<LOwner>> handler;
};

class DisablerReport : public NotificationTest
{
protected:
    void SetUp() override
    {
        owner->handler =
            RCPtr<LNotificationHandler<LOwner>>(new LNotificationHandler<LOwner>(owner.Get()));
        Win32Test::TakeDebugOutput();
    }
    void TearDown() override
    {
        owner->UnregisterAll();
        NotificationTest::TearDown();
    }

    RCPtr<LNotificationDistributor> source = MakeDistributor();
    RCPtr<LOwner> owner{new LOwner()};
};

TEST_F(DisablerReport, AFailedRestoreGoesToTheDebugChannelAndNothingElseBreaks)
{
    // Fail the first request made while restoring, then the second, ... until restoring makes no
    // request that fails: every failure point of the restore is walked.
    int reports = 0;
    for (long request = 1;; ++request) {
        ASSERT_LT(request, 1000) << "restoring never stopped failing";
        if (!owner->handler->HasHandler(source, NID_VALUE_CHANGE)) {
            ASSERT_EQ(owner->handler->AddHandler(&LOwner::OnValue, source, NID_VALUE_CHANGE), S_OK);
        }
        {
            const CAutoNotificationDisabler<LOwner> disabler(owner->handler, source,
                                                             NID_VALUE_CHANGE);
            failCountdown = request;
        }
        const bool failed = failCountdown == 0;
        failCountdown = 0;
        const std::vector<std::string> sent = Win32Test::TakeDebugOutput();
        if (!failed) {
            EXPECT_TRUE(sent.empty()) << "a restore that worked reports nothing";
            EXPECT_TRUE(owner->handler->HasHandler(source, NID_VALUE_CHANGE));
            break;
        }
        ASSERT_EQ(sent.size(), 1u) << "request " << request;
        EXPECT_EQ(sent[0].rfind("Failed Result : std::bad_alloc : ", 0), 0u) << sent[0];
        EXPECT_NE(sent[0].find("~CAutoNotificationDisabler"), std::string::npos) << sent[0];
        EXPECT_EQ(sent[0].back(), '\n') << "one flushed line per report";
        ++reports;
    }
    EXPECT_GT(reports, 0);
    // The source still delivers to whatever binding is left.
    EXPECT_EQ(source->SendNotification(Orv::CreateNotification(NID_VALUE_CHANGE)) >= 0, true);
}

}  // namespace
}  // namespace OrvTest
