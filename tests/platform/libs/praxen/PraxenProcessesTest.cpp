// Several processes on one settings file: what one writes the other reads, nothing is lost, and a
// reader never sees a half-written file.
#include <unistd.h>

#include <string>

#include "ChildProcess.h"
#include "PraxenFixture.h"

namespace {

using PraxenProcesses = PraxenFixture;

TEST_F(PraxenProcesses, WhatOneProcessWritesTheOtherReadsAndNothingIsLost)
{
    ASSERT_EQ(SetIniValueInt(handle, "First", 1), PRAXEN_OK);
    const int childStatus = RunInChild([&] {
        int own = 0;
        int value = 0;
        return OpenIniFile(path.c_str(), "3", "Quorvel", &own) == PRAXEN_OK &&
               GetIniValueInt(own, "First", 0, &value) == PRAXEN_OK && value == 1 &&
               SetIniValueInt(own, "RendererType", 2) == PRAXEN_OK;
    });
    ASSERT_EQ(childStatus, 0);
    // The handle opened before the child wrote reads the child's value...
    EXPECT_EQ(GetInt(handle, "RendererType"), 2);
    // ... and its next change keeps it.
    ASSERT_EQ(SetIniValueInt(handle, "Third", 3), PRAXEN_OK);
    EXPECT_EQ(FileText(), "; Quorvel settings, version 3\nFirst=1\nRendererType=2\nThird=3\n");
}

TEST_F(PraxenProcesses, AReaderSeesTheOldFileOrTheNewOneNeverAMix)
{
    constexpr size_t kValueBytes = 200000;
    constexpr int kWrites = 60;
    const std::string header = "; Quorvel settings, version 3\nBig=";
    ASSERT_EQ(SetIniValueStr(handle, "Big", std::string(kValueBytes, 'a').c_str()), PRAXEN_OK);

    const pid_t writer = fork();
    if (writer == 0) {
        bool ok = true;
        for (int i = 0; i < kWrites; ++i) {
            const std::string value(kValueBytes, static_cast<char>('b' + i % 20));
            ok = ok && SetIniValueStr(handle, "Big", value.c_str()) == PRAXEN_OK;
        }
        _exit(ok ? 0 : 1);
    }
    int reads = 0;
    int status = -1;
    while (waitpid(writer, &status, WNOHANG) == 0) {
        const std::string text = FileText();
        ++reads;
        ASSERT_EQ(text.size(), header.size() + kValueBytes + 1) << "after " << reads << " reads";
        const std::string value = text.substr(header.size(), kValueBytes);
        ASSERT_EQ(value.find_first_not_of(value.front()), std::string::npos);
    }
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_GT(reads, 0);
}

}  // namespace
