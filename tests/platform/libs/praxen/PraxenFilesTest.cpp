#include <filesystem>
#include <string>

#include "PraxenFixture.h"

namespace {

namespace fs = std::filesystem;
using PraxenFiles = PraxenFixture;

TEST_F(PraxenFiles, EachOpenGivesANewNonZeroHandle)
{
    const int second = Reopen();
    EXPECT_NE(second, 0);
    EXPECT_NE(second, handle);
    EXPECT_EQ(CloseIniFile(second, 0), PRAXEN_OK);
    // A missing file opens empty and is only created by the first change.
    EXPECT_FALSE(fs::exists(path));
}

TEST_F(PraxenFiles, OpenFailuresLeaveTheHandleZero)
{
    fs::create_directory(folder / "folder.ini");
    const std::string missingFolder = (folder / "absent" / "Settings.ini").string();
    const std::string isFolder = (folder / "folder.ini").string();
    const struct
    {
        const char* path;
        int result;
    } cases[] = {
        {missingFolder.c_str(), PRAXEN_E_IO},
        {isFolder.c_str(), PRAXEN_E_IO},
        {"", PRAXEN_E_INVALID_ARGUMENT},
        {nullptr, PRAXEN_E_INVALID_ARGUMENT},
    };
    for (const auto& c : cases) {
        int other = 12345;
        EXPECT_EQ(OpenIniFile(c.path, "1", "P", &other), c.result);
        EXPECT_EQ(other, 0);
    }
    EXPECT_EQ(OpenIniFile(path.c_str(), "1", "P", nullptr), PRAXEN_E_INVALID_ARGUMENT);
}

TEST_F(PraxenFiles, WindowsSeparatorsInThePathAreAccepted)
{
    ASSERT_EQ(SetIniValueInt(handle, "RendererType", 2), PRAXEN_OK);
    const std::string windowsPath = folder.string() + "\\Settings.ini";
    int other = 0;
    ASSERT_EQ(OpenIniFile(windowsPath.c_str(), "3", "Quorvel", &other), PRAXEN_OK);
    EXPECT_EQ(GetInt(other, "RendererType"), 2);
    CloseIniFile(other, 0);
}

TEST_F(PraxenFiles, UnknownOrClosedHandlesAreRefusedEverywhere)
{
    const int closed = Reopen();
    ASSERT_EQ(CloseIniFile(closed, 0), PRAXEN_OK);
    for (const int bad : {0, -1, closed, 1 << 30}) {
        SCOPED_TRACE(bad);
        char buffer[8] = {};
        int needed = 0;
        int value = 0;
        EXPECT_EQ(WriteIniFile(bad), PRAXEN_E_BAD_HANDLE);
        EXPECT_EQ(CloseIniFile(bad, 1), PRAXEN_E_BAD_HANDLE);
        EXPECT_FALSE(DoesNodeExist(bad, ""));
        EXPECT_EQ(GetIniValueInt(bad, "a", 4, &value), PRAXEN_E_BAD_HANDLE);
        EXPECT_EQ(value, 4);
        EXPECT_EQ(SetIniValueInt(bad, "a", 1), PRAXEN_E_BAD_HANDLE);
        EXPECT_EQ(GetIniValueStr(bad, "a", "d", buffer, 8, &needed), PRAXEN_E_BAD_HANDLE);
        EXPECT_EQ(SetIniValueStr(bad, "a", "x"), PRAXEN_E_BAD_HANDLE);
        EXPECT_EQ(GetKeyCount(bad, "", &value), PRAXEN_E_BAD_HANDLE);
        EXPECT_EQ(value, 0);
        EXPECT_EQ(GetKeyNameAt(bad, "", 0, buffer, 8, &needed), PRAXEN_E_BAD_HANDLE);
        EXPECT_EQ(GetArrayCount(bad, "a", &value), PRAXEN_E_BAD_HANDLE);
        EXPECT_EQ(SetArrayCount(bad, "a", 1), PRAXEN_E_BAD_HANDLE);
        EXPECT_EQ(GetArrayItemAt(bad, "a", 0, buffer, 8, &needed), PRAXEN_E_BAD_HANDLE);
        EXPECT_EQ(SetArrayItemAt(bad, "a", 0, "x"), PRAXEN_E_BAD_HANDLE);
        EXPECT_EQ(RemoveArrayItemAt(bad, "a", 0), PRAXEN_E_BAD_HANDLE);
    }
    EXPECT_FALSE(fs::exists(path));
}

TEST_F(PraxenFiles, WriteAndCloseWithFlagRestoreADeletedFile)
{
    ASSERT_EQ(SetIniValueInt(handle, "Kept", 1), PRAXEN_OK);
    const std::string text = FileText();
    const int other = Reopen();
    // The file is gone: the open handles forget their content as the disk did...
    fs::remove(path);
    EXPECT_EQ(GetInt(other, "Kept", 0), 0);
    EXPECT_EQ(GetInt(handle, "Kept", 0), 0);
    // ... and a write makes the (now empty) file exist again.
    EXPECT_EQ(WriteIniFile(handle), PRAXEN_OK);
    EXPECT_TRUE(fs::exists(path));
    ASSERT_EQ(SetIniValueInt(other, "Kept", 1), PRAXEN_OK);
    fs::remove(path);
    EXPECT_EQ(CloseIniFile(other, 1), PRAXEN_OK);
    EXPECT_TRUE(fs::exists(path));
    EXPECT_EQ(CloseIniFile(other, 0), PRAXEN_E_BAD_HANDLE);
}

TEST_F(PraxenFiles, EveryChangeIsOnDiskAtOnceAndSeenByOtherHandles)
{
    const int other = Reopen();
    ASSERT_EQ(SetIniValueInt(handle, "A", 1), PRAXEN_OK);
    EXPECT_EQ(GetInt(other, "A"), 1);
    ASSERT_EQ(SetIniValueInt(other, "B", 2), PRAXEN_OK);
    // Written by the handle that last read the file again: A is not lost.
    ASSERT_EQ(SetIniValueInt(handle, "C", 3), PRAXEN_OK);
    EXPECT_EQ(FileText(), "; Quorvel settings, version 3\nA=1\nB=2\nC=3\n");
    CloseIniFile(other, 0);
}

TEST_F(PraxenFiles, AFileReplacedByAnotherProgramIsReadAgain)
{
    ASSERT_EQ(SetIniValueInt(handle, "RendererType", 1), PRAXEN_OK);
    ReplaceFileText("RendererType=2\n[Extra]\nKey=v\n");
    EXPECT_EQ(GetInt(handle, "RendererType"), 2);
    EXPECT_EQ(GetText(handle, "Extra/Key"), "v");
}

TEST_F(PraxenFiles, AMalformedFileIsRefusedAndNeverOverwritten)
{
    const std::string malformed = "Good=1\n[Broken\nMore=2\n";
    std::ofstream(path, std::ios::binary) << malformed;
    int other = 77;
    EXPECT_EQ(OpenIniFile(path.c_str(), "3", "Quorvel", &other), PRAXEN_E_MALFORMED_FILE);
    EXPECT_EQ(other, 0);
    // A handle opened before the damage reports it too and does not write over it.
    EXPECT_EQ(GetInt(handle, "Good", 5), 5);
    EXPECT_EQ(lastResult, PRAXEN_E_MALFORMED_FILE);
    EXPECT_EQ(SetIniValueInt(handle, "Good", 3), PRAXEN_E_MALFORMED_FILE);
    EXPECT_EQ(WriteIniFile(handle), PRAXEN_E_MALFORMED_FILE);
    EXPECT_EQ(FileText(), malformed);
    // Once repaired, the same handle works again.
    ReplaceFileText("Good=1\n");
    EXPECT_EQ(GetInt(handle, "Good"), 1);
}

TEST_F(PraxenFiles, AnOversizedFileIsRefused)
{
    {
        std::ofstream out(path, std::ios::binary);
        const std::string line = "; " + std::string(1022, 'x') + "\n";
        for (int64_t written = 0; written <= kPraxenMaxFileBytes; written += 1024) {
            out << line;
        }
    }
    int other = 0;
    EXPECT_EQ(OpenIniFile(path.c_str(), "3", "Quorvel", &other), PRAXEN_E_MALFORMED_FILE);
    EXPECT_EQ(other, 0);
}

TEST_F(PraxenFiles, AFailedWriteChangesNothing)
{
    // The folder is replaced by a plain file, so no temporary file can be made whoever runs the
    // test; the settings file did not exist yet, so there is nothing to read again either.
    const fs::path moved = folder.string() + ".moved";
    fs::rename(folder, moved);
    std::ofstream(folder, std::ios::binary) << "not a folder";
    EXPECT_EQ(SetIniValueInt(handle, "After", 2), PRAXEN_E_IO);
    EXPECT_EQ(SetArrayItemAt(handle, "List", 0, "x"), PRAXEN_E_IO);
    fs::remove(folder);
    fs::rename(moved, folder);

    EXPECT_EQ(GetInt(handle, "After", 0), 0);
    int count = -1;
    EXPECT_EQ(GetArrayCount(handle, "List", &count), PRAXEN_OK);
    EXPECT_EQ(count, 0);
    EXPECT_FALSE(fs::exists(path));
    ASSERT_EQ(SetIniValueInt(handle, "After", 2), PRAXEN_OK);
    // Only the settings file is in the folder: no temporary file was left behind.
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
}

}  // namespace
