// Key bindings: the table's rules, loading from a string table, and hot keys that post
// notifications.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>

#include "Notification/NotificationCenterManager.h"
#include "NotificationFixtures.h"
#include "ObjectBase/Pair.h"
#include "System/GlobalHotKeyManager.h"
#include "System/HotKeyTable.h"

namespace {

using namespace Orv;
using OrvTest::CallLog;
using OrvTest::MakeClient;
using OrvTest::NotificationTest;

constexpr const char16_t* kExit = u"NID_APP_EXIT_REQ";

// A string table as the hot-key loader sees it: its (ID, text) pairs, sorted by ID.
using TableEntry = Orv::Pair<WideString, WideString>;

class LTestStringTable : public virtual LRefCountedObject
{
public:
    explicit LTestStringTable(std::map<std::u16string, std::u16string> entries)
        : entries(std::move(entries))
    {
    }

    ORVRESULT GetAllStrings(Array<TableEntry>& out) const
    {
        out.RemoveAll();
        for (const auto& [id, text] : entries) {
            out.AddItem(TableEntry{WideString(id.c_str()), WideString(text.c_str())});
        }
        return S_OK;
    }

private:
    std::map<std::u16string, std::u16string> entries;
};

RCPtr<LTestStringTable> MakeTable(std::map<std::u16string, std::u16string> entries)
{
    return RCPtr<LTestStringTable>(new LTestStringTable(std::move(entries)));
}

std::u16string IdText(NotificationId id)
{
    return id == nullptr ? u"" : id;
}

TEST(HotKeyTableTest, AKeyIsBoundOncePerTable)
{
    HotKeyTable table;
    EXPECT_EQ(table.AddHotKey(KeyCode(u'X', 0), u"NID_UPPER"), S_OK);
    EXPECT_EQ(table.AddHotKey(KeyCode(u'x', 0), u"NID_LOWER"), S_OK);  // case counts
    EXPECT_EQ(table.AddHotKey(KeyCode(u'x', KeyModifier::kCtrl), u"NID_OTHER"), E_INVALIDARG);
    EXPECT_EQ(table.AddHotKey(KeyCode(u'x', KeyModifier::kAlt), u"NID_LOWER"), S_OK);
    EXPECT_EQ(table.AddHotKey(KeyCode::Parse(u"VKEY_F5"), u""), E_INVALIDARG);
    EXPECT_EQ(table.AddHotKey(KeyCode::Parse(u"VKEY_F5"), nullptr), E_INVALIDARG);
    EXPECT_FALSE(table.HasHotKeys(u"NID_OTHER"));

    const Array<KeyCode> lower = table.GetHotKeys(u"NID_LOWER");
    ASSERT_EQ(lower.GetCount(), 2u);
    EXPECT_EQ(lower.GetAt(0).code, 0x78u);
    EXPECT_EQ(lower.GetAt(1).code, 0x04000078u);
    EXPECT_EQ(table.GetFirstHotKey(u"NID_LOWER").code, 0x78u);
    EXPECT_TRUE(table.HasHotKeys(u"NID_UPPER"));

    EXPECT_EQ(IdText(table.FindNotificationId(KeyCode(u'x', KeyModifier::kShift))), u"NID_LOWER");
    EXPECT_EQ(table.FindNotificationId(KeyCode(u'x', KeyModifier::kCmd)), nullptr);
    // The id found is the interned one.
    EXPECT_EQ(table.FindNotificationId(KeyCode(u'X', 0)), InternNotificationId(u"NID_UPPER"));
}

TEST(HotKeyTableTest, MissingAndEmptyIdsHaveNoKeys)
{
    HotKeyTable table;
    table.AddHotKey(KeyCode::Parse(u"Alt+VKEY_F4"), kExit);
    for (const char16_t* id : {u"", static_cast<const char16_t*>(nullptr), u"NID_NOTHING"}) {
        EXPECT_FALSE(table.HasHotKeys(id));
        EXPECT_EQ(table.GetHotKeys(id).GetCount(), 0u);
        EXPECT_EQ(table.GetFirstHotKey(id), KeyCode());
        EXPECT_EQ(table.GetFirstHotKey(id).code, 0x80000000u);
    }
    table.RemoveAll();
    EXPECT_FALSE(table.HasHotKeys(kExit));
    EXPECT_EQ(table.FindNotificationId(KeyCode::Parse(u"Alt+VKEY_F4")), nullptr);
}

TEST(HotKeyTableTest, LoadsTheEntriesOfItsPrefixInIdOrder)
{
    HotKeyTable table;
    const auto strings = MakeTable({
        {u"GHK.NID_B_SECOND", u"Ctrl+VKEY_S"},
        {u"GHK.NID_A_FIRST", u"Ctrl+VKEY_S"},  // sorts first: keeps the key
        {u"GHK.Menu.File.NID_OPEN", u"Ctrl+VKEY_O"},
        {u"GHK.", u"Ctrl+VKEY_E"},  // no id after the dot
        {u"GHKX.NID_WRONG_PREFIX", u"Ctrl+VKEY_W"},
        {u"LHK.NID_LOCAL", u"Ctrl+VKEY_L"},
        {u"TOOLTIP", u"Open"},
        {u"GHK.NID_UNKNOWN_KEY", u"Ctrl+VKEY_NOPE"},
    });
    EXPECT_EQ(table.LoadFromStringTable(strings, u"GHK"), S_OK);
    EXPECT_TRUE(table.HasHotKeys(u"NID_A_FIRST"));
    EXPECT_FALSE(table.HasHotKeys(u"NID_B_SECOND"));
    EXPECT_EQ(table.GetFirstHotKey(u"NID_OPEN").code, KeyCode::Parse(u"Ctrl+VKEY_O").code);
    EXPECT_FALSE(table.HasHotKeys(u"NID_WRONG_PREFIX"));
    EXPECT_FALSE(table.HasHotKeys(u"NID_LOCAL"));
    EXPECT_EQ(table.FindNotificationId(KeyCode::Parse(u"Ctrl+VKEY_E")), nullptr);
    // A key that names nothing is still bound, and no key event matches it.
    EXPECT_EQ(table.GetFirstHotKey(u"NID_UNKNOWN_KEY").code, 0x21000000u);
    EXPECT_EQ(table.FindNotificationId(KeyCode(0, true, false, KeyModifier::kCtrl)),
              InternNotificationId(u"NID_UNKNOWN_KEY"));

    HotKeyTable local;
    EXPECT_EQ(local.LoadFromStringTable(strings, u"LHK"), S_OK);
    EXPECT_TRUE(local.HasHotKeys(u"NID_LOCAL"));
    EXPECT_FALSE(local.HasHotKeys(u"NID_A_FIRST"));
    EXPECT_EQ(local.LoadFromStringTable(RCPtr<LTestStringTable>(), u"LHK"), E_INVALIDARG);
}

class LRecordingReceiver : public LNotificationReceiver
{
public:
    int OnNotification(const RCPtr<LNotificationDistributor>& sender,
                       const RCPtr<LNotification>& notification) override
    {
        received.push_back(IdText(notification->id));
        senderWasNull = sender.IsNull();
        return 0;
    }
    ORVRESULT Unregister(const RCPtr<LNotificationDistributor>&, const char16_t*) override
    {
        return S_OK;
    }

    std::vector<std::u16string> received;
    bool senderWasNull = false;
};

TEST_F(NotificationTest, AltF4PostsTheExitRequestOnPressOnly)
{
    CallLog log;
    const auto center = GetNotificationCenterManager()->GetCenter(WideString(u"application"));
    const auto application = MakeClient("app", log);
    application->Register(center, kExit);
    const auto manager = LGlobalHotKeyManager::Create(center->GetPostingReceiver());
    ASSERT_EQ(manager->GetHotKeys().AddHotKey(KeyCode::Parse(u"Alt+VKEY_F4"), kExit), S_OK);

    const KeyCode press(0x73, true, false, KeyModifier::kAlt | KeyModifier::kLeftAlt);
    const KeyCode release(0x73, false, true, KeyModifier::kAlt | KeyModifier::kLeftAlt);
    EXPECT_EQ(manager->HandleKey(release), 1);
    EXPECT_EQ(manager->HandleKey(KeyCode(0x73, true, false, 0)), 1);  // F4 without Alt
    EXPECT_EQ(manager->HandleKey(press), 0);
    EXPECT_TRUE(log.empty());  // queued, not acted on during the key event
    center->ProcessQueue(false);
    EXPECT_EQ(log, CallLog{"app:NID_APP_EXIT_REQ"});
    application->UnregisterAll();
}

TEST(GlobalHotKeyManagerTest, DeliversToItsTargetOrReportsNothingDone)
{
    const RCPtr<LRecordingReceiver> receiver(new LRecordingReceiver());
    LGlobalHotKeyManager manager(receiver);
    manager.GetHotKeys().AddHotKey(KeyCode(u'q', KeyModifier::kAlt), u"NID_QUIT");
    EXPECT_EQ(manager.HandleKey(KeyCode(u'q', KeyModifier::kAlt | KeyModifier::kCtrl)), 0);
    EXPECT_EQ(receiver->received, std::vector<std::u16string>{u"NID_QUIT"});
    EXPECT_TRUE(receiver->senderWasNull);
    EXPECT_EQ(manager.HandleKey(KeyCode(u'q', 0)), 1);

    // Without a target nothing can be delivered, so the key is not consumed.
    const auto orphan = LGlobalHotKeyManager::Create(nullptr);
    orphan->GetHotKeys().AddHotKey(KeyCode(u'q', 0), u"NID_QUIT");
    EXPECT_EQ(orphan->HandleKey(KeyCode(u'q', 0)), 1);
}

}  // namespace
