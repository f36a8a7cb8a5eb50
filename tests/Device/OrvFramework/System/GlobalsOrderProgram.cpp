// A program shaped like the panel: its own application object is its first global, built before
// the framework's globals and destroyed after them. Constructors and destructors of its globals
// check what exists at their time; any failed check ends the process with status 3, so that a
// fault found during teardown still fails the test.

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "Notification/Notification.h"
#include "Notification/NotificationCenterManager.h"
#include "Notification/NotificationDistributor.h"
#include "System/DebugOutput.h"
#include "System/FrameworkGlobals.h"
#include "Win32Test/DebugOutputSink.h"

namespace {

using Orv::FrameworkGlobalsStage;
using Orv::GetFrameworkGlobalsStage;

// What happened, in order; constant-initialised and never destroyed, so every object may write it.
const char* events[16];
int eventCount = 0;

void Record(const char* event)
{
    if (eventCount < 16) {
        events[eventCount++] = event;
    }
}

void Check(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "FAILED: %s\n", what);
        std::fflush(stderr);
        std::_Exit(3);
    }
}

bool SharesEmptyText(const Orv::WideString& text)
{
    return text.GetText() == Orv::WideString().GetText();
}

const char kPendingText[] = "pending at exit";

// Stands for the application object: the first framework-level object of the program.
struct ApplicationStandIn
{
    Orv::WideString title;  // built by the default constructor, which builds the empty text
    Orv::RCPtr<Orv::LNotificationCenter> center;

    ApplicationStandIn()
    {
        Record("application built");
        Check(GetFrameworkGlobalsStage() == FrameworkGlobalsStage::NotBuilt,
              "the application object is built before the framework's globals");
        Check(SharesEmptyText(title), "a default string shares the empty text");
        // Built now, so that it outlives this object and can be read by its destructor.
        Win32Test::TakeDebugOutput();
        // As the application does: the manager and the main center at construction.
        center = Orv::GetNotificationCenterManager()->GetCenter(Orv::MainCenterName());
        Check(center && center->GetName().Equals(u"application"),
              "the main center is reachable while the application object is built");
    }

    ~ApplicationStandIn()
    {
        Record("application destroyed");
        Check(GetFrameworkGlobalsStage() == FrameworkGlobalsStage::TornDown,
              "the application object is destroyed after the framework's globals built after it");
        // The debug channel went before this object and sent what was pending then.
        const std::vector<std::string> sent = Win32Test::TakeDebugOutput();
        Check(sent == std::vector<std::string>{kPendingText},
              "the debug channel sends its pending text when it is destroyed");
        // What this object's constructor built first outlives it: the empty text, the notification
        // system's locks and lists that the manager needs.
        Check(SharesEmptyText(title) && title.IsEmpty(), "the empty text outlives the application");
        Check(!Orv::NullRCPtr<Orv::LNotification>(), "a null pointer reads null after teardown");
        Check(Orv::NotificationPool().GetCount() == 1, "the notification pool outlives its users");
        center = nullptr;
        Orv::ReleaseNotificationCenterManager();
        Orv::EnableNotificationPooling(false);
        Check(Orv::NotificationPool().GetCount() == 0, "switching pooling off empties the pool");
        Check(Orv::ActiveDistributors().GetCount() == 0, "no distributor is left registered");

        Record("done");
        const std::vector<std::string> expected{
            "application built",     "late global built",     "main",
            "late global destroyed", "application destroyed", "done"};
        Check(std::vector<std::string>(events, events + eventCount) == expected,
              "the program's globals are destroyed in the reverse order of their construction");
        std::printf("globals built before main and destroyed in reverse order\n");
    }
};

ApplicationStandIn application;

// A global built after the application object, while the framework's empty constant exists.
struct LateGlobal
{
    Orv::WideString text{u"not empty"};

    LateGlobal()
    {
        Record("late global built");
        const Orv::WideString& constant = Orv::EmptyWideString();
        text = u"";
        Check(text.GetText() == constant.GetText(),
              "a string assigned an empty text shares the empty constant's buffer");
    }
    ~LateGlobal() { Record("late global destroyed"); }
};

LateGlobal lateGlobal;

}  // namespace

int main()
{
    Record("main");
    Check(GetFrameworkGlobalsStage() == FrameworkGlobalsStage::Built,
          "the framework's globals exist when main starts");
    Check(!Orv::NullRCPtr<Orv::LNotification>(), "a null pointer reads null");

    // Text left in the debug channel without a flush: sent when the channel is destroyed.
    Orv::GetDebugLogTarget().narrowStream << kPendingText;

    // A pooled notification stays in the pool until the pool itself goes at exit.
    Orv::EnableNotificationPooling(true);
    {
        const Orv::RCPtr<Orv::LNotification> notification =
            Orv::CreateNotification(u"NID_GLOBALS_ORDER");
        Check(static_cast<bool>(notification), "a notification can be made");
    }
    Check(Orv::NotificationPool().GetCount() == 1, "a released notification is pooled");
    return 0;
}
