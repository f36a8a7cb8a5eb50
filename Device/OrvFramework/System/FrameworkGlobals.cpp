#include "System/FrameworkGlobals.h"

#include <cstdlib>
#include <iterator>

#include "Notification/Notification.h"
#include "Notification/NotificationDistributor.h"
#include "Notification/NotificationLocks.h"
#include "System/DebugOutput.h"
#include "System/PayloadPools.h"

namespace Orv {

namespace {

const WideString* CursorNameTable()
{
    static const WideString names[] = {
        u"UI_CURSOR_APP_STARTING", u"UI_CURSOR_ARROW",     u"UI_CURSOR_IBEAM",
        u"UI_CURSOR_WAIT",         u"UI_CURSOR_CROSS",     u"UI_CURSOR_UP_ARROW",
        u"UI_CURSOR_SIZE_ALL",     u"UI_CURSOR_SIZE_NWSE", u"UI_CURSOR_SIZE_NESW",
        u"UI_CURSOR_SIZE_WE",      u"UI_CURSOR_SIZE_NS",   u"UI_CURSOR_HAND",
        u"UI_CURSOR_HELP",         u"UI_CURSOR_NO_DROP",   u"UI_CURSOR_DROP_MOVE",
        u"UI_CURSOR_DROP_COPY",    u"UI_CURSOR_SPLIT_V",   u"UI_CURSOR_SPLIT_H",
        u"UI_CURSOR_ROTATE",       u"UI_CURSOR_MAG",       u"UI_CURSOR_MAG_PLUS",
        u"UI_CURSOR_MAG_MINUS",    u"UI_CURSOR_ARROW",
    };
    static_assert(std::size(names) == kCursorNameCount, "one name per cursor id");
    return names;
}

}  // namespace

const WideString& EmptyWideString()
{
    static const WideString empty{WideString()};
    return empty;
}

const NarrowString& EmptyNarrowString()
{
    static const NarrowString empty{NarrowString()};
    return empty;
}

const WideString& MainCenterName()
{
    static const WideString name(u"application");
    return name;
}

const WideString& GetCursorName(CursorId which)
{
    const auto index = static_cast<uint32_t>(which);
    return index < kCursorNameCount ? CursorNameTable()[index] : EmptyWideString();
}

const WideString& LineBreak()
{
    static const WideString text(u"\n");
    return text;
}

const WideString& Blank()
{
    static const WideString text(u" ");
    return text;
}

const WideString& DisplayVersionValueName()
{
    static const WideString text(u"DisplayVersion");
    return text;
}

namespace {

void MarkTornDown()
{
    Detail::SetFrameworkGlobalsStage(FrameworkGlobalsStage::TornDown);
}

// Builds every global before main, after the program's own units (the application object's
// among them). Registered with the exit list before the first of them, the mark runs after the
// last of them has been destroyed.
struct FrameworkGlobalsBuilder
{
    FrameworkGlobalsBuilder()
    {
        if (std::atexit(MarkTornDown) != 0) {
            std::abort();  // cannot happen: the exit list has room for 32 entries at least
        }
        EmptyWideString();
        EmptyNarrowString();
        NotificationPool();
        NotificationRegistryLock();
        MainCenterName();
        NotificationQueueLock();
        ActiveDistributors();
        BuildFrameworkPayloadPools();
        GetDebugLogTarget();
        CursorNameTable();
        LineBreak();
        Blank();
        DisplayVersionValueName();
        Detail::SetFrameworkGlobalsStage(FrameworkGlobalsStage::Built);
    }
};

const FrameworkGlobalsBuilder builder;

}  // namespace
}  // namespace Orv

// Named to the linker by the OrvGlobals library, so that every program linked with the library
// takes this unit, and with it the builder above, whether or not it calls anything here.
extern "C" void OrvFrameworkGlobalsUnit() {}
