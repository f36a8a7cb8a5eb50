// The machine registry: case-insensitive keys, typed values, the 32-bit view, persistence.
#include "Registry/MachineRegistry.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace {

using namespace Platform::Registry;
namespace fs = std::filesystem;

class MachineRegistryTest : public testing::Test
{
protected:
    void SetUp() override
    {
        root_ = fs::temp_directory_path() /
                ("registry-test-" + std::to_string(::getpid()) + "-" +
                 testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root_);
        fs::create_directories(root_);
        ASSERT_EQ(registry_.Open(root_), "");
    }

    void TearDown() override { fs::remove_all(root_); }

    fs::path root_;
    MachineRegistry registry_;
};

Value Dword(uint32_t v)
{
    return Value{kRegDword, {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}};
}

TEST_F(MachineRegistryTest, ValuesRoundTripThroughTheFileWithTheirTypes)
{
    ASSERT_EQ(registry_.CreateKeyPath(Hive::LocalMachine, u"SOFTWARE\\Tervolt\\Audio"), Result::Ok);
    const Value values[] = {
        Dword(3),
        Value{kRegSz, {'C', 0, 'o', 0, 0, 0}},
        Value{kRegBinary, {0, 1, 2, 0xFF}},
        Value{kRegMultiSz, {'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0}},
        Value{kRegQword, {1, 2, 3, 4, 5, 6, 7, 8}},
    };
    const std::u16string names[] = {u"Delay", u"Name", u"Blob", u"List", u"Big"};
    for (size_t i = 0; i < std::size(values); ++i) {
        ASSERT_EQ(registry_.SetValue(Hive::LocalMachine, u"SOFTWARE\\Tervolt\\Audio", names[i],
                                     values[i]),
                  Result::Ok);
    }
    ASSERT_EQ(registry_.SetValue(Hive::CurrentUser, u"Software", u"Profile", Dword(7)), Result::Ok);
    EXPECT_TRUE(fs::exists(root_ / "Registry.reg"));
    EXPECT_FALSE(fs::exists(root_ / "Registry.reg.tmp"));

    MachineRegistry reopened;
    ASSERT_EQ(reopened.Open(root_), "");
    for (size_t i = 0; i < std::size(values); ++i) {
        Value read;
        ASSERT_EQ(reopened.GetValue(Hive::LocalMachine, u"software\\TERVOLT\\audio", names[i],
                                    View::Native, &read),
                  Result::Ok)
            << i;
        EXPECT_EQ(read, values[i]) << i;
    }
    Value profile;
    EXPECT_EQ(reopened.GetValue(Hive::CurrentUser, u"Software", u"profile", View::Native, &profile),
              Result::Ok);
    EXPECT_EQ(profile, Dword(7));
    std::u16string name;
    Value value;
    ASSERT_EQ(reopened.EnumerateValue(Hive::LocalMachine, u"SOFTWARE\\Tervolt\\Audio", View::Native,
                                      0, &name, &value),
              Result::Ok);
    EXPECT_EQ(name, u"Delay");  // first set, first listed; the name keeps its case
}

TEST_F(MachineRegistryTest, KeysCompareWithoutCaseAndKeepTheirFirstSpelling)
{
    bool created = false;
    EXPECT_EQ(registry_.CreateKey(Hive::LocalMachine, u"SOFTWARE\\Tervolt", View::Native, &created),
              Result::Ok);
    EXPECT_TRUE(created);
    EXPECT_EQ(registry_.CreateKey(Hive::LocalMachine, u"software\\TERVOLT", View::Native, &created),
              Result::Ok);
    EXPECT_FALSE(created);
    std::u16string name;
    size_t index = 0;
    bool found = false;
    while (registry_.EnumerateSubkey(Hive::LocalMachine, u"SOFTWARE", View::Native, index++,
                                     &name) == Result::Ok) {
        found = found || name == u"Tervolt";
    }
    EXPECT_TRUE(found);
    EXPECT_EQ(registry_.EnumerateSubkey(Hive::LocalMachine, u"SOFTWARE", View::Native, 1000, &name),
              Result::NoMoreEntries);
}

TEST_F(MachineRegistryTest, CreateKeyMakesOnlyTheLastComponent)
{
    EXPECT_EQ(
        registry_.CreateKey(Hive::LocalMachine, u"SOFTWARE\\Missing\\Child", View::Native, nullptr),
        Result::ParentMissing);
    EXPECT_FALSE(registry_.KeyExists(Hive::LocalMachine, u"SOFTWARE\\Missing"));
}

TEST_F(MachineRegistryTest, The32BitViewOfSoftwareIsWow6432Node)
{
    ASSERT_EQ(registry_.CreateKeyPath(Hive::LocalMachine, u"SOFTWARE\\Tervolt", View::Wow32),
              Result::Ok);
    EXPECT_TRUE(registry_.KeyExists(Hive::LocalMachine, u"SOFTWARE\\Wow6432Node\\Tervolt"));
    EXPECT_FALSE(registry_.KeyExists(Hive::LocalMachine, u"SOFTWARE\\Tervolt"));
    ASSERT_EQ(
        registry_.SetValue(Hive::LocalMachine, u"Software\\Tervolt", u"X", Dword(1), View::Wow32),
        Result::Ok);
    Value read;
    EXPECT_EQ(registry_.GetValue(Hive::LocalMachine, u"SOFTWARE\\WOW6432NODE\\Tervolt", u"X",
                                 View::Native, &read),
              Result::Ok);
    EXPECT_EQ(
        MachineRegistry::ResolvePath(Hive::LocalMachine, u"Software\\Wow6432Node\\A", View::Wow32),
        u"Software\\Wow6432Node\\A");
    EXPECT_EQ(MachineRegistry::ResolvePath(Hive::CurrentUser, u"Software\\A", View::Wow32),
              u"Software\\A");
    EXPECT_EQ(MachineRegistry::ResolvePath(Hive::LocalMachine, u"SYSTEM\\A", View::Wow32),
              u"SYSTEM\\A");
}

TEST_F(MachineRegistryTest, BadNamesAreRefused)
{
    EXPECT_EQ(registry_.CreateKeyPath(Hive::LocalMachine, u"SOFTWARE\\\\X"), Result::InvalidName);
    EXPECT_EQ(registry_.CreateKeyPath(Hive::LocalMachine, u"SOFTWARE\\X\\"), Result::InvalidName);
    EXPECT_EQ(registry_.CreateKeyPath(Hive::LocalMachine, std::u16string(256, u'k')),
              Result::InvalidName);
    EXPECT_EQ(registry_.SetValue(Hive::LocalMachine, u"SOFTWARE", u"a\nb", Dword(1)),
              Result::InvalidName);
    Value v;
    EXPECT_EQ(registry_.GetValue(Hive::LocalMachine, u"SOFTWARE", u"absent", View::Native, &v),
              Result::NotFound);
    EXPECT_EQ(registry_.DeleteValue(Hive::LocalMachine, u"SOFTWARE", u"absent"), Result::NotFound);
}

TEST_F(MachineRegistryTest, AMalformedFileIsMovedAsideWithAClearError)
{
    {
        std::ofstream out(root_ / "Registry.reg", std::ios::binary);
        out << "Windows Registry Editor Version "
               "5.00\r\n[HKEY_LOCAL_MACHINE\\X]\r\n\"a\"=hex:zz\r\n";
    }
    MachineRegistry reopened;
    const std::string error = reopened.Open(root_);
    EXPECT_NE(error.find("line 3"), std::string::npos) << error;
    EXPECT_TRUE(fs::exists(root_ / "Registry.reg.bad"));
    EXPECT_TRUE(reopened.KeyExists(Hive::LocalMachine, u"SYSTEM\\CurrentControlSet\\Control"));
    EXPECT_EQ(reopened.SetValue(Hive::LocalMachine, u"SOFTWARE", u"a", Dword(2)), Result::Ok);
}

TEST_F(MachineRegistryTest, AFileThatCannotBeWrittenIsReported)
{
    fs::remove_all(root_);
    {
        std::ofstream blocker(root_);  // a file where the folder should be
    }
    EXPECT_EQ(registry_.SetValue(Hive::LocalMachine, u"SOFTWARE", u"a", Dword(2)),
              Result::StoreError);
    fs::remove(root_);
}

}  // namespace
