#pragma once
// A settings file in a private folder that is removed after the test, opened through the library.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "Praxen.h"

class PraxenFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "praxen.XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        folder = pattern;
        path = (folder / "Settings.ini").string();
        ASSERT_EQ(OpenIniFile(path.c_str(), "3", "Quorvel", &handle), PRAXEN_OK);
        ASSERT_NE(handle, 0);
    }

    void TearDown() override
    {
        CloseIniFile(handle, 0);
        std::filesystem::remove_all(folder);
    }

    // A second, independent handle on the same file: it sees only what reached the disk.
    int Reopen() const
    {
        int other = 0;
        EXPECT_EQ(OpenIniFile(path.c_str(), "3", "Quorvel", &other), PRAXEN_OK);
        return other;
    }

    std::string FileText() const
    {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    // Replaces the file as another program would, by writing a new file and renaming it.
    void ReplaceFileText(const std::string& text) const
    {
        const std::string temporary = path + ".other";
        std::ofstream(temporary, std::ios::binary) << text;
        std::filesystem::rename(temporary, path);
    }

    std::string GetText(int fileHandle, const char* node, const char* fallback = "")
    {
        char buffer[4096] = {};
        int needed = 0;
        lastResult = GetIniValueStr(fileHandle, node, fallback, buffer, sizeof buffer, &needed);
        return buffer;
    }

    int GetInt(int fileHandle, const char* node, int fallback = -99)
    {
        int value = 0;
        lastResult = GetIniValueInt(fileHandle, node, fallback, &value);
        return value;
    }

    std::filesystem::path folder;
    std::string path;
    int handle = 0;
    int lastResult = 0;
};
