// The program's and a library's file as Windows paths, and buffers too small for them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "windows.h"

namespace {

std::u16string HostPathAsWindows(std::string path)
{
    std::replace(path.begin(), path.end(), '/', '\\');
    return std::u16string(path.begin(), path.end());
}

std::string ProgramHostPath()
{
    char buffer[4096] = {};
    const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return length > 0 ? std::string(buffer, static_cast<size_t>(length)) : std::string();
}

TEST(ModuleFileName, ProgramPathHasBackslashes)
{
    char16_t buffer[MAX_PATH * 8] = {};
    const DWORD length = GetModuleFileNameW(nullptr, buffer, MAX_PATH * 8);
    const std::u16string expected = HostPathAsWindows(ProgramHostPath());
    ASSERT_EQ(length, expected.size());
    EXPECT_EQ(std::u16string(buffer), expected);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
}

TEST(ModuleFileName, LoadedLibraryGivesItsOwnFile)
{
    const HMODULE module = LoadLibraryA(LOADER_PROBE_FILE);
    ASSERT_NE(module, nullptr);
    char16_t buffer[4096] = {};
    const DWORD length = GetModuleFileNameW(module, buffer, 4096);
    EXPECT_EQ(std::u16string(buffer, length), HostPathAsWindows(LOADER_PROBE_FILE));
    FreeLibrary(module);
}

TEST(ModuleFileName, ShortBufferIsCutAndTerminated)
{
    const std::u16string full = HostPathAsWindows(ProgramHostPath());
    ASSERT_GT(full.size(), 4u);
    for (const DWORD size : {DWORD{1}, DWORD{4}, static_cast<DWORD>(full.size())}) {
        std::u16string buffer(size + 2, u'#');
        EXPECT_EQ(GetModuleFileNameW(nullptr, buffer.data(), size), size);
        EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
        EXPECT_EQ(buffer.substr(0, size - 1), full.substr(0, size - 1));
        EXPECT_EQ(buffer[size - 1], u'\0');
        EXPECT_EQ(buffer[size], u'#') << "wrote past the buffer of " << size;
    }
    char16_t fits[4096] = {};
    EXPECT_EQ(GetModuleFileNameW(nullptr, fits, static_cast<DWORD>(full.size() + 1)), full.size());
    EXPECT_EQ(GetModuleFileNameW(nullptr, nullptr, 0), 0u);
}

}  // namespace
