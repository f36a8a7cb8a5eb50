#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "System/LPraxen.h"
#include "System/PraxenProxy.h"

namespace {

namespace fs = std::filesystem;
using Orv::LPraxen;
using Orv::WideString;

WideString Utf8(const std::string& text)
{
    return WideString(text.c_str());
}

std::string ToUtf8(const WideString& text)
{
    return Orv::NarrowString(text).GetText();
}

TEST(PraxenStore, WithoutTheLibraryEveryOperationFailsQuietlyWithItsDefault)
{
    const auto store = LPraxen::Create();
    EXPECT_EQ(store->Load(WideString(u"/no/such/folder")), E_FAIL);
    const WideString node(u"RendererType");
    int32_t handle = 77;
    EXPECT_EQ(store->OpenIniFile(WideString(u"a.ini"), WideString(u"1"), WideString(u"P"), &handle),
              E_FAIL);
    EXPECT_EQ(handle, 0);
    EXPECT_EQ(store->WriteIniFile(1), E_FAIL);
    EXPECT_FALSE(store->DoesNodeExist(1, node));
    EXPECT_EQ(store->CloseIniFile(1, 0), E_FAIL);
    int32_t value = 0;
    EXPECT_EQ(store->GetIniValueInt(1, node, 3, &value), E_FAIL);
    EXPECT_EQ(value, 3);
    EXPECT_EQ(store->SetIniValueInt(1, node, 3), E_FAIL);
    WideString text(u"stale");
    EXPECT_EQ(store->GetIniValueStr(1, node, WideString(u"Dark"), text), E_FAIL);
    EXPECT_EQ(ToUtf8(text), "Dark");
    EXPECT_EQ(store->SetIniValueStr(1, node, text), E_FAIL);
    int32_t count = 5;
    EXPECT_EQ(store->GetKeyCount(1, node, &count), E_FAIL);
    EXPECT_EQ(count, 0);
    text = WideString(u"stale");
    EXPECT_EQ(store->GetKeyNameAt(1, node, 0, text), E_FAIL);
    EXPECT_TRUE(text.IsEmpty());
    count = 5;
    EXPECT_EQ(store->GetArrayCount(1, node, &count), E_FAIL);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(store->SetArrayCount(1, node, 2), E_FAIL);
    text = WideString(u"stale");
    EXPECT_EQ(store->GetArrayItemAt(1, node, 0, text), E_FAIL);
    EXPECT_TRUE(text.IsEmpty());
    EXPECT_EQ(store->SetArrayItemAt(1, node, 0, text), E_FAIL);
    EXPECT_EQ(store->RemoveArrayItemAt(1, node, 0), E_FAIL);
    EXPECT_EQ(store->Unload(), 1);
}

TEST(PraxenStore, NullOutputsAreRefusedEvenWhenNotLoaded)
{
    const auto store = LPraxen::Create();
    const WideString node(u"a");
    EXPECT_EQ(store->OpenIniFile(node, node, node, nullptr), E_INVALIDARG);
    EXPECT_EQ(store->GetIniValueInt(1, node, 0, nullptr), E_INVALIDARG);
    EXPECT_EQ(store->GetKeyCount(1, node, nullptr), E_INVALIDARG);
    EXPECT_EQ(store->GetArrayCount(1, node, nullptr), E_INVALIDARG);
}

TEST(PraxenStore, ALibraryLackingOneExportIsRefusedAndReleased)
{
    const auto store = LPraxen::Create();
    EXPECT_EQ(store->Load(WideString(INCOMPLETE_PRAXEN_DIR)), E_FAIL);
    // Not kept loaded behind the caller's back.
    const std::string file = std::string(INCOMPLETE_PRAXEN_DIR) + "/libPraxen.so";
    EXPECT_EQ(dlopen(file.c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr);
    // Every operation behaves as without a library; the incomplete one aborts if called.
    int32_t handle = 9;
    EXPECT_EQ(store->OpenIniFile(WideString(u"x"), WideString(u"1"), WideString(u"P"), &handle),
              E_FAIL);
    EXPECT_EQ(handle, 0);
    int32_t value = 0;
    EXPECT_EQ(store->GetIniValueInt(1, WideString(u"a"), 4, &value), E_FAIL);
    EXPECT_EQ(value, 4);
    EXPECT_EQ(store->RemoveArrayItemAt(1, WideString(u"a"), 0), E_FAIL);
    EXPECT_EQ(store->Unload(), 1);
}

TEST(PraxenStore, LoadsOnceAndUnloadsOnce)
{
    const auto store = LPraxen::Create();
    EXPECT_EQ(store->Load(WideString()), S_OK);
    EXPECT_EQ(store->Load(WideString()), 1);
    EXPECT_EQ(store->Unload(), S_OK);
    EXPECT_EQ(store->Unload(), 1);
    EXPECT_EQ(store->WriteIniFile(1), E_FAIL);
}

TEST(PraxenStore, DirectoryWithOrWithoutTrailingSeparatorLoadsTheSameLibrary)
{
    const std::string folder = SCRIPTED_PRAXEN_DIR;
    for (const std::string& directory : {folder, folder + "\\", folder + "/"}) {
        SCOPED_TRACE(directory);
        const auto store = LPraxen::Create();
        ASSERT_EQ(store->Load(Utf8(directory)), S_OK);
        // Only the scripted library answers this way.
        EXPECT_EQ(store->WriteIniFile(5), 1005);
    }
}

TEST(PraxenStore, ArgumentsReachTheLibraryAndResultsComeBackUnchanged)
{
    const auto store = LPraxen::Create();
    ASSERT_EQ(store->Load(WideString(SCRIPTED_PRAXEN_DIR)), S_OK);
    const WideString node(u"n\u00e9");  // two characters, three UTF-8 bytes
    int32_t handle = 0;
    EXPECT_EQ(
        store->OpenIniFile(WideString(u"\u00e9"), WideString(u"12"), WideString(u"abc"), &handle),
        5);
    EXPECT_EQ(handle, 2 + 10 * 2 + 100 * 3);
    EXPECT_EQ(store->WriteIniFile(7), 1007);
    EXPECT_EQ(store->CloseIniFile(7, 3), 73);
    EXPECT_TRUE(store->DoesNodeExist(1, WideString(u"yes")));
    EXPECT_FALSE(store->DoesNodeExist(1, WideString(u"no")));
    int32_t value = 0;
    EXPECT_EQ(store->GetIniValueInt(4, node, 10, &value), 3);
    EXPECT_EQ(value, 24);
    EXPECT_EQ(store->SetIniValueInt(4, node, 10), 6);
    EXPECT_EQ(store->SetIniValueStr(4, node, WideString(u"\u20ac")), 4 + 300 + 3);
    EXPECT_EQ(store->GetKeyCount(4, node, &value), 11);
    EXPECT_EQ(value, 11);
    EXPECT_EQ(store->GetArrayCount(4, node, &value), 12);
    EXPECT_EQ(value, 13);
    EXPECT_EQ(store->SetArrayCount(4, node, 10), 6);
    EXPECT_EQ(store->SetArrayItemAt(4, node, 2, WideString(u"ab")), 4 + 2000 + 3 + 2);
    EXPECT_EQ(store->RemoveArrayItemAt(4, node, 2), -6);
}

// The three text reads share the buffer protocol; each row runs through all three.
TEST(PraxenStore, TextReadsRetryWithTheSizeAskedForOnlyWhenItIsPlausible)
{
    const auto store = LPraxen::Create();
    ASSERT_EQ(store->Load(WideString(SCRIPTED_PRAXEN_DIR)), S_OK);
    const struct
    {
        const char* node;
        int32_t result;
        std::string text;  // for GetIniValueStr; "" stands for the preset
    } cases[] = {
        {"needed-0", -2, ""},
        {"needed--1", -2, ""},
        {"needed-1048577", -2, ""},
        {"needed-2147483647", -2, ""},
        {"second-fails", -7, ""},
        {"first-fails", -5, ""},
        {"grows-3000", 0, std::string(2999, 'g')},
        {"grows-1048576", 0, std::string(1048575, 'g')},
    };
    const WideString fallback(u"fallback");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.node);
        WideString text(u"stale");
        EXPECT_EQ(store->GetIniValueStr(1, Utf8(c.node), fallback, text), c.result);
        EXPECT_EQ(ToUtf8(text), c.text.empty() ? "fallback" : c.text);
        text = WideString(u"stale");
        EXPECT_EQ(store->GetKeyNameAt(1, Utf8(c.node), 0, text), c.result);
        EXPECT_EQ(ToUtf8(text), c.text);
        text = WideString(u"stale");
        EXPECT_EQ(store->GetArrayItemAt(1, Utf8(c.node), 0, text), c.result);
        EXPECT_EQ(ToUtf8(text), c.text);
    }
    WideString text;
    EXPECT_EQ(store->GetIniValueStr(1, WideString(u"echo"), WideString(u"d\u20ac"), text), 0);
    EXPECT_EQ(ToUtf8(text), "echo|d\xE2\x82\xAC");
    EXPECT_EQ(store->GetArrayItemAt(1, WideString(u"echo"), 42, text), 0);
    EXPECT_EQ(ToUtf8(text), "echo|42");
}

class PraxenStoreOnFile : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "store.XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        folder = pattern;
        // The application names its files with Windows separators.
        path = folder.string() + "\\UserSettings.ini";
        ASSERT_EQ(store->Load(WideString()), S_OK);
        store->OpenIniFile(Utf8(path), WideString(u"2"), WideString(u"Quorvel"), &handle);
        ASSERT_NE(handle, 0);
    }
    void TearDown() override { fs::remove_all(folder); }

    // Runs the settings tool on the same file and returns what it printed.
    std::string RunTool(const std::string& arguments)
    {
        const std::string command = std::string(SETTINGS_TOOL) + " '" + path + "' " + arguments;
        FILE* pipe = popen(command.c_str(), "r");
        std::string output;
        char chunk[64];
        while (pipe != nullptr && std::fgets(chunk, sizeof chunk, pipe) != nullptr) {
            output += chunk;
        }
        toolStatus = pipe != nullptr ? pclose(pipe) : -1;
        return output;
    }

    Orv::RCPtr<LPraxen> store = LPraxen::Create();
    fs::path folder;
    std::string path;
    int32_t handle = 0;
    int toolStatus = -1;
};

TEST_F(PraxenStoreOnFile, RendererTypeRoundTripsBetweenTwoProcesses)
{
    const WideString node(u"RendererType");
    ASSERT_EQ(store->SetIniValueInt(handle, node, 2), S_OK);
    EXPECT_EQ(RunTool("get RendererType"), "2\n");
    EXPECT_EQ(toolStatus, 0);
    EXPECT_EQ(RunTool("set RendererType 3"), "");
    EXPECT_EQ(toolStatus, 0);
    int32_t value = 0;
    EXPECT_EQ(store->GetIniValueInt(handle, node, -1, &value), S_OK);
    EXPECT_EQ(value, 3);
}

TEST_F(PraxenStoreOnFile, ALongTextComesBackWholeThroughTheRetry)
{
    std::string long3000;
    while (long3000.size() < 3000) {
        long3000 +=
            "\xE2\x82\xAC"
            "abc";  // a three-byte character among plain ones
    }
    long3000.resize(3000);
    const WideString value = Utf8(long3000);
    ASSERT_EQ(store->SetIniValueStr(handle, WideString(u"Long"), value), S_OK);
    WideString read;
    EXPECT_EQ(store->GetIniValueStr(handle, WideString(u"Long"), WideString(), read), S_OK);
    EXPECT_EQ(ToUtf8(read), long3000);
    ASSERT_EQ(store->SetArrayItemAt(handle, WideString(u"List"), 0, value), S_OK);
    EXPECT_EQ(store->GetArrayItemAt(handle, WideString(u"List"), 0, read), S_OK);
    EXPECT_EQ(ToUtf8(read), long3000);
}

TEST_F(PraxenStoreOnFile, KeysArraysAndDefaultsThroughTheStore)
{
    ASSERT_EQ(store->SetIniValueStr(handle, WideString(u"Skins/Current"), WideString(u"Dark")),
              S_OK);
    EXPECT_TRUE(store->DoesNodeExist(handle, WideString(u"Skins")));
    int32_t count = 0;
    EXPECT_EQ(store->GetKeyCount(handle, WideString(u"Skins"), &count), S_OK);
    EXPECT_EQ(count, 1);
    WideString name;
    EXPECT_EQ(store->GetKeyNameAt(handle, WideString(u"Skins"), 0, name), S_OK);
    EXPECT_EQ(ToUtf8(name), "Current");

    ASSERT_EQ(store->SetArrayCount(handle, WideString(u"Recent"), 2), S_OK);
    ASSERT_EQ(store->SetArrayItemAt(handle, WideString(u"Recent"), 1, WideString(u"b")), S_OK);
    ASSERT_EQ(store->RemoveArrayItemAt(handle, WideString(u"Recent"), 0), S_OK);
    EXPECT_EQ(store->GetArrayCount(handle, WideString(u"Recent"), &count), S_OK);
    EXPECT_EQ(count, 1);
    WideString item;
    EXPECT_EQ(store->GetArrayItemAt(handle, WideString(u"Recent"), 0, item), S_OK);
    EXPECT_EQ(ToUtf8(item), "b");

    WideString absent;
    EXPECT_EQ(store->GetIniValueStr(handle, WideString(u"Absent"), WideString(u"d"), absent), 1);
    EXPECT_EQ(ToUtf8(absent), "d");
    EXPECT_EQ(store->CloseIniFile(handle, 0), S_OK);
    EXPECT_EQ(store->WriteIniFile(handle), -1);
}

}  // namespace
