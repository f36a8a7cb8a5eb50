// Registry keys read from a .reg fixture: texts, serialised items, sub-keys and the two views.
#include "System/RegistryKey.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "MachineRootFolder.h"

namespace {

using namespace Orv;

constexpr const char16_t* kProductPath = u"SOFTWARE\\Corvane\\Quorvel";

class RegistryKeyTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(root_.LoadRegistry(ORV_FIXTURES_DIR "/registry/framework-keys.reg"), "");
    }

    static RCPtr<LRegistryKey> Product(int32_t use64BitView = 1)
    {
        return LRegistryKey::Create(LRegistryKey::kLocalMachine, kProductPath, use64BitView);
    }

    static std::string Text(const VariantEx& value)
    {
        return value.GetType() == kVariantString ? value.GetString() : "<not a text>";
    }

    MachineRootFolder root_;
};

TEST_F(RegistryKeyTest, TextValuesReadAsUtf8)
{
    const auto key = Product();
    const struct
    {
        const char16_t* name;
        const char* text;
    } cases[] = {
        {u"Version", "2.4.1"},
        {u"Title",
         "Gr\xC3\xB6\xC3\x9F"
         "e"},
        {u"Bare", "AB"},  // no terminator in the data: never read beyond it
        {u"Empty", ""},
    };
    for (const auto& c : cases) {
        VariantEx value;
        ASSERT_EQ(key->GetValue(c.name, value), S_OK);
        EXPECT_EQ(Text(value), c.text);
    }
}

TEST_F(RegistryKeyTest, OtherTypesHoldOneSerialisedItem)
{
    const auto key = Product();
    VariantEx value;
    ASSERT_EQ(key->GetValue(u"Item", value), S_OK);
    EXPECT_EQ(value.GetType(), kVariantInt32);
    EXPECT_EQ(value.GetInt32(), 42);

    // A dword is shorter than an item's header, and a header may claim more than the data holds:
    // both fail and leave the output as it was.
    for (const char16_t* name : {u"Count", u"Truncated", u"Missing"}) {
        VariantEx kept;
        kept.SetString("kept");
        EXPECT_EQ(key->GetValue(name, kept), E_FAIL);
        EXPECT_EQ(Text(kept), "kept");
    }
}

TEST_F(RegistryKeyTest, TheViewsOfSoftwareDiffer)
{
    VariantEx native, redirected;
    ASSERT_EQ(Product(1)->GetValue(u"Version", native), S_OK);
    ASSERT_EQ(Product(0)->GetValue(u"Version", redirected), S_OK);
    EXPECT_EQ(Text(native), "2.4.1");
    EXPECT_EQ(Text(redirected), "2.4.0 (32-bit)");

    VariantEx skin;
    ASSERT_EQ(LRegistryKey::Create(LRegistryKey::kCurrentUser, u"Software\\Corvane\\Quorvel", 0)
                  ->GetValue(u"Skin", skin),
              S_OK);
    EXPECT_EQ(Text(skin), "Dark");
}

TEST_F(RegistryKeyTest, SubKeysOpenOnlyWithTheirExactCase)
{
    const auto key = Product();
    StringArray names;
    names.AddItem(u"stale");
    ASSERT_EQ(key->GetSubKeyNames(names), S_OK);
    ASSERT_EQ(names.GetCount(), 2u);
    EXPECT_EQ(names.GetAt(0), WideString(u"Drivers"));
    EXPECT_EQ(names.GetAt(1), WideString(u"Firmware"));

    EXPECT_TRUE(key->OpenSubKey(u"drivers").IsNull());
    EXPECT_TRUE(key->OpenSubKey(u"Nothing").IsNull());
    EXPECT_TRUE(key->OpenSubKey(u"").IsNull());
    const auto drivers = key->OpenSubKey(u"Drivers");
    ASSERT_FALSE(drivers.IsNull());
    VariantEx path;
    ASSERT_EQ(drivers->GetValue(u"Path", path), S_OK);
    EXPECT_EQ(Text(path), "C:\\Windows\\System32\\drivers\\Quorvel.sys");
    StringArray none;
    EXPECT_EQ(drivers->GetSubKeyNames(none), S_OK);
    EXPECT_EQ(none.GetCount(), 0u);

    // The sub-key keeps the view: the 32-bit product key has no sub-keys.
    EXPECT_TRUE(Product(0)->OpenSubKey(u"Drivers").IsNull());
    // Right below a root there is no path to join.
    const auto software =
        LRegistryKey::Create(LRegistryKey::kLocalMachine, u"", 1)->OpenSubKey(u"SOFTWARE");
    ASSERT_FALSE(software.IsNull());
    ASSERT_FALSE(software->OpenSubKey(u"Corvane").IsNull());
}

TEST_F(RegistryKeyTest, MissingKeysAndBadRootsFail)
{
    for (const auto& key :
         {LRegistryKey::Create(4, kProductPath, 1), LRegistryKey::Create(-1, kProductPath, 1),
          LRegistryKey::Create(LRegistryKey::kLocalMachine, u"SOFTWARE\\None", 1),
          LRegistryKey::Create(LRegistryKey::kUsers, u".DEFAULT", 1)}) {
        VariantEx value;
        StringArray names;
        names.AddItem(u"kept");
        EXPECT_EQ(key->Open(), E_FAIL);
        EXPECT_FALSE(key->IsOpen());
        EXPECT_EQ(key->GetValue(u"Version", value), E_FAIL);
        EXPECT_TRUE(value.IsEmpty());
        EXPECT_EQ(key->GetSubKeyNames(names), E_FAIL);
        EXPECT_EQ(names.GetCount(), 1u);
        EXPECT_TRUE(key->OpenSubKey(u"Drivers").IsNull());
    }
    EXPECT_EQ(LRegistryKey::GetRootKey(2), HKEY_LOCAL_MACHINE);
    EXPECT_EQ(reinterpret_cast<intptr_t>(LRegistryKey::GetRootKey(4)), -1);
}

TEST_F(RegistryKeyTest, OperationsCloseWhatTheyOpenedAndAnOpenKeyStaysOpen)
{
    const auto key = Product();
    VariantEx value;
    EXPECT_EQ(key->GetValue(u"Version", value), S_OK);
    EXPECT_FALSE(key->IsOpen());
    // Closed between calls, so a key removed meanwhile is seen as gone.
    ASSERT_EQ(Platform::Registry::MachineRegistry::Instance().Open({}), "");
    EXPECT_EQ(key->GetValue(u"Version", value), E_FAIL);

    ASSERT_EQ(root_.LoadRegistry(ORV_FIXTURES_DIR "/registry/framework-keys.reg"), "");
    EXPECT_EQ(key->Open(), S_OK);
    EXPECT_EQ(key->Open(), 1);
    EXPECT_EQ(key->GetValue(u"Version", value), S_OK);
    StringArray names;
    EXPECT_EQ(key->GetSubKeyNames(names), S_OK);
    EXPECT_TRUE(key->IsOpen());
}

TEST_F(RegistryKeyTest, OneKeyServesSeveralThreads)
{
    const auto key = Product();
    std::vector<std::thread> threads;
    std::vector<int> failures(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 50; ++i) {
                VariantEx value;
                StringArray names;
                if (key->GetValue(u"Version", value) != S_OK || Text(value) != "2.4.1" ||
                    key->GetSubKeyNames(names) != S_OK || names.GetCount() != 2) {
                    ++failures[t];
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failures, std::vector<int>(4, 0));
    EXPECT_FALSE(key->IsOpen());
}

}  // namespace
