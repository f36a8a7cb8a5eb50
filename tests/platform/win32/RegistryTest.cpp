// The registry functions of the Win32 layer over the machine registry, read from a .reg fixture.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "MachineRootFolder.h"

namespace {

class RegistryTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(root_.LoadRegistry(ORV_FIXTURES_DIR "/registry/framework-keys.reg"), "");
    }

    // The text of a REG_SZ value, or the error.
    static std::u16string ReadText(HKEY key, const char16_t* name)
    {
        DWORD type = 0, size = 0;
        if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
            type != REG_SZ) {
            return u"<none>";
        }
        std::u16string text(size / 2, u'\0');
        EXPECT_EQ(RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text.data()),
                                   &size),
                  ERROR_SUCCESS);
        return text.substr(0, text.find(u'\0'));
    }

    MachineRootFolder root_;
};

TEST_F(RegistryTest, TheTwoViewsOfSoftwareDiffer)
{
    HKEY native = nullptr, redirected = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Corvane\\Quorvel", 0,
                            KEY_READ | KEY_WOW64_64KEY, &native),
              ERROR_SUCCESS);
    ASSERT_EQ(
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\corvane\\quorvel", 0, KEY_READ, &redirected),
        ERROR_SUCCESS);
    EXPECT_EQ(ReadText(native, u"Version"), u"2.4.1");
    EXPECT_EQ(ReadText(redirected, u"version"), u"2.4.0 (32-bit)");
    EXPECT_EQ(RegCloseKey(native), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(redirected), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(native), ERROR_INVALID_HANDLE);

    // The current user's Software is one key for both.
    HKEY user = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Corvane\\Quorvel", 0, KEY_READ, &user),
              ERROR_SUCCESS);
    EXPECT_EQ(ReadText(user, u"Skin"), u"Dark");
    RegCloseKey(user);
}

TEST_F(RegistryTest, OpeningChecksItsArgumentsAndTheKey)
{
    HKEY key = reinterpret_cast<HKEY>(1);
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Nobody", 0, KEY_READ, &key),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key, nullptr);
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE", 0, KEY_READ, nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegOpenKeyExW(reinterpret_cast<HKEY>(0x7777), u"x", 0, KEY_READ, &key),
              ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegOpenKeyExW(HKEY_USERS, u".DEFAULT", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);

    HKEY parent = nullptr, child = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Corvane", 0, KEY_READ | KEY_WOW64_64KEY,
                            &parent),
              ERROR_SUCCESS);
    ASSERT_EQ(RegOpenKeyExW(parent, u"Quorvel\\Drivers", 0, KEY_READ | KEY_WOW64_64KEY, &child),
              ERROR_SUCCESS);
    EXPECT_EQ(ReadText(child, u"Path"), u"C:\\Windows\\System32\\drivers\\Quorvel.sys");
    RegCloseKey(child);
    RegCloseKey(parent);
}

TEST_F(RegistryTest, QueryGivesSizeThenDataAndRefusesAShortBuffer)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Corvane\\Quorvel", 0,
                            KEY_READ | KEY_WOW64_64KEY, &key),
              ERROR_SUCCESS);
    DWORD type = 0, size = 0;
    ASSERT_EQ(RegQueryValueExW(key, u"Item", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_BINARY);
    EXPECT_EQ(size, 16u);
    BYTE data[16] = {};
    DWORD shortSize = 15;
    EXPECT_EQ(RegQueryValueExW(key, u"Item", nullptr, &type, data, &shortSize), ERROR_MORE_DATA);
    EXPECT_EQ(shortSize, 16u);
    EXPECT_EQ(data[0], 0);  // nothing copied
    ASSERT_EQ(RegQueryValueExW(key, u"Item", nullptr, nullptr, data, &size), ERROR_SUCCESS);
    EXPECT_EQ(data[0], 0x10);
    EXPECT_EQ(data[12], 0x2A);
    ASSERT_EQ(RegQueryValueExW(key, u"Count", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(size, 4u);

    EXPECT_EQ(RegQueryValueExW(key, u"Missing", nullptr, &type, nullptr, &size),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegQueryValueExW(key, u"Item", nullptr, &type, data, nullptr),
              ERROR_INVALID_PARAMETER);
    DWORD reserved = 0;
    EXPECT_EQ(RegQueryValueExW(key, u"Item", &reserved, &type, nullptr, &size),
              ERROR_INVALID_PARAMETER);
    RegCloseKey(key);
    EXPECT_EQ(RegQueryValueExW(key, u"Item", nullptr, &type, nullptr, &size), ERROR_INVALID_HANDLE);
}

TEST_F(RegistryTest, InfoAndEnumerationListTheSubKeys)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Corvane\\Quorvel", 0,
                            KEY_READ | KEY_WOW64_64KEY, &key),
              ERROR_SUCCESS);
    WCHAR keyClass[260];
    DWORD classLength = 260, subKeys = 0, maxSubKey = 0, maxClass = 9, values = 0, maxValueName = 0,
          maxValue = 0, security = 9;
    FILETIME written{1, 1};
    ASSERT_EQ(RegQueryInfoKeyW(key, keyClass, &classLength, nullptr, &subKeys, &maxSubKey,
                               &maxClass, &values, &maxValueName, &maxValue, &security, &written),
              ERROR_SUCCESS);
    EXPECT_EQ(subKeys, 2u);
    EXPECT_EQ(maxSubKey, 8u);  // "Firmware"
    EXPECT_EQ(values, 7u);
    EXPECT_EQ(maxValueName, 9u);  // "Truncated"
    EXPECT_EQ(maxValue, 16u);
    EXPECT_EQ(classLength, 0u);
    EXPECT_EQ(maxClass, 0u);
    EXPECT_EQ(security, 0u);

    WCHAR name[255];
    DWORD length = 255;
    ASSERT_EQ(RegEnumKeyExW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(name), u"Drivers");
    EXPECT_EQ(length, 7u);
    length = 8;  // "Firmware" needs 9 with its terminator
    EXPECT_EQ(RegEnumKeyExW(key, 1, name, &length, nullptr, nullptr, nullptr, nullptr),
              ERROR_MORE_DATA);
    length = 255;
    EXPECT_EQ(RegEnumKeyExW(key, 2, name, &length, nullptr, nullptr, nullptr, nullptr),
              ERROR_NO_MORE_ITEMS);
    RegCloseKey(key);
}

TEST_F(RegistryTest, AccessIsCheckedPerCall)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Corvane\\Quorvel", 0,
                            KEY_ENUMERATE_SUB_KEYS | KEY_WOW64_64KEY, &key),
              ERROR_SUCCESS);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(key, u"Item", nullptr, nullptr, nullptr, &size),
              ERROR_ACCESS_DENIED);
    WCHAR name[255];
    DWORD length = 255;
    EXPECT_EQ(RegEnumKeyExW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

}  // namespace
