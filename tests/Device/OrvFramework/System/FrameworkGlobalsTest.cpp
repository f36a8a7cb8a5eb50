// The framework's constants and shared objects as the program finds them.
#include "System/FrameworkGlobals.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "Notification/Notification.h"
#include "Notification/NotificationDistributor.h"
#include "System/PayloadPools.h"
#include "Utilities/Storage/PooledPayload.h"
#include "Utilities/Storage/RCPtrArray.h"

namespace {

using Orv::WideString;

std::u16string Text(const WideString& text)
{
    return text.GetText();
}

TEST(FrameworkGlobals, AreBuiltWhenTheProgramRuns)
{
    EXPECT_EQ(Orv::GetFrameworkGlobalsStage(), Orv::FrameworkGlobalsStage::Built);
}

TEST(FrameworkGlobals, CursorNamesComeInTheirOrderWithTheArrowTwice)
{
    const std::vector<std::u16string> expected{
        u"UI_CURSOR_APP_STARTING", u"UI_CURSOR_ARROW",     u"UI_CURSOR_IBEAM",
        u"UI_CURSOR_WAIT",         u"UI_CURSOR_CROSS",     u"UI_CURSOR_UP_ARROW",
        u"UI_CURSOR_SIZE_ALL",     u"UI_CURSOR_SIZE_NWSE", u"UI_CURSOR_SIZE_NESW",
        u"UI_CURSOR_SIZE_WE",      u"UI_CURSOR_SIZE_NS",   u"UI_CURSOR_HAND",
        u"UI_CURSOR_HELP",         u"UI_CURSOR_NO_DROP",   u"UI_CURSOR_DROP_MOVE",
        u"UI_CURSOR_DROP_COPY",    u"UI_CURSOR_SPLIT_V",   u"UI_CURSOR_SPLIT_H",
        u"UI_CURSOR_ROTATE",       u"UI_CURSOR_MAG",       u"UI_CURSOR_MAG_PLUS",
        u"UI_CURSOR_MAG_MINUS",    u"UI_CURSOR_ARROW"};
    std::vector<std::u16string> actual;
    for (uint32_t i = 0; i < Orv::kCursorNameCount; ++i) {
        actual.push_back(Text(Orv::GetCursorName(static_cast<Orv::CursorId>(i))));
    }
    EXPECT_EQ(actual, expected);
    EXPECT_EQ(std::set<std::u16string>(actual.begin(), actual.end()).size(), 22u);
    EXPECT_EQ(Text(Orv::GetCursorName(Orv::CursorId::Standard)), u"UI_CURSOR_ARROW");
    EXPECT_EQ(Text(Orv::GetCursorName(Orv::CursorId::MagMinus)), u"UI_CURSOR_MAG_MINUS");
    EXPECT_TRUE(Orv::GetCursorName(Orv::CursorId::Count).IsEmpty());
    EXPECT_TRUE(Orv::GetCursorName(static_cast<Orv::CursorId>(1000)).IsEmpty());
}

TEST(FrameworkGlobals, SeparatorsAndNamesHoldTheirTexts)
{
    struct Row
    {
        const char* name;
        const WideString& value;
        std::u16string expected;
    };
    const Row rows[] = {
        {"line break", Orv::LineBreak(), u"\n"},
        {"blank", Orv::Blank(), u" "},
        {"registry value name", Orv::DisplayVersionValueName(), u"DisplayVersion"},
        {"main center name", Orv::MainCenterName(), u"application"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(Text(row.value), row.expected) << row.name;
        EXPECT_EQ(row.value.GetLength(), static_cast<int32_t>(row.expected.size())) << row.name;
    }
}

TEST(FrameworkGlobals, EmptyConstantsShareTheEmptyText)
{
    EXPECT_TRUE(Orv::EmptyWideString().IsEmpty());
    EXPECT_TRUE(Orv::EmptyNarrowString().IsEmpty());
    EXPECT_EQ(Orv::EmptyWideString().GetText(), WideString().GetText());
    EXPECT_EQ(Orv::EmptyNarrowString().GetText(), Orv::NarrowString().GetText());
    WideString cleared(u"text");
    cleared.Clear();
    EXPECT_EQ(cleared.GetText(), Orv::EmptyWideString().GetText());
}

TEST(FrameworkGlobals, NullPointersStayNullWhateverIsAssignedFromThem)
{
    Orv::RCPtr<Orv::LNotification> notification = Orv::CreateNotification(u"NID_GLOBALS_TEST");
    ASSERT_TRUE(notification);
    notification = Orv::NullRCPtr<Orv::LNotification>();
    EXPECT_FALSE(notification);
    EXPECT_FALSE(Orv::NullRCPtr<Orv::LNotification>());
    EXPECT_FALSE(Orv::NullRCPtr<Orv::LNotificationDistributor>());
    EXPECT_EQ(&Orv::NullRCPtr<Orv::LNotification>(), &Orv::NullRCPtr<Orv::LNotification>());
}

// Entries that note when their pool is asked for.
std::vector<int>& BuildOrder()
{
    static std::vector<int> order;
    return order;
}
template <int Id>
struct RecordingEntry
{
    static int& Pool()
    {
        static int pool = Id;
        BuildOrder().push_back(Id);
        return pool;
    }
};

TEST(PayloadPools, AListBuildsItsPoolsInItsOrder)
{
    BuildOrder().clear();
    Orv::PayloadPoolList<RecordingEntry<3>, RecordingEntry<1>, RecordingEntry<2>>::Build();
    EXPECT_EQ(BuildOrder(), (std::vector<int>{3, 1, 2}));
    Orv::PayloadPoolList<>::Build();  // the empty list builds nothing
    EXPECT_EQ(BuildOrder().size(), 3u);
}

class LSmallParam : public virtual Orv::LRefCountedObject, public Orv::PooledPayload<LSmallParam, 4>
{
};
class LBusyParam : public virtual Orv::LRefCountedObject, public Orv::PooledPayload<LBusyParam, 32>
{
};

TEST(PayloadPools, PayloadPoolsAreBuiltEmptyEachWithItsOwnLock)
{
    Orv::PayloadPoolList<LSmallParam, LBusyParam>::Build();
    EXPECT_TRUE(LSmallParam::Pool().HasLock());
    EXPECT_TRUE(LBusyParam::Pool().HasLock());
    EXPECT_EQ(LSmallParam::Pool().GetBlockCount(), 0u);
    EXPECT_EQ(LBusyParam::Pool().GetBlockCount(), 0u);
    // Room for the first step of blocks already.
    EXPECT_EQ(LSmallParam::Pool().GetBlockCapacity(), 4u);
    EXPECT_EQ(LBusyParam::Pool().GetBlockCapacity(), 32u);
    {
        const Orv::RCPtr<LBusyParam> param(new LBusyParam);
        EXPECT_EQ(LBusyParam::Pool().GetBlockCount(), 1u);
    }
    EXPECT_EQ(LBusyParam::Pool().GetFreeCount(), 1u);
}

}  // namespace
