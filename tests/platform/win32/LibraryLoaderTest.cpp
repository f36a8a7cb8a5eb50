#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <thread>

#include "windows.h"

namespace {

namespace fs = std::filesystem;

using AnswerFunction = int (*)();

int CallAnswer(HMODULE module)
{
    const FARPROC entry = GetProcAddress(module, "LoaderProbeAnswer");
    return entry != nullptr ? reinterpret_cast<AnswerFunction>(entry)() : -1;
}

std::u16string ToUtf16(const std::string& ascii)
{
    return std::u16string(ascii.begin(), ascii.end());
}

// A private folder, removed at the end of the test.
class TemporaryFolder
{
public:
    TemporaryFolder()
    {
        std::string pattern = (fs::temp_directory_path() / "loader.XXXXXX").string();
        path = mkdtemp(pattern.data());
    }
    ~TemporaryFolder() { fs::remove_all(path); }
    const fs::path& Path() const { return path; }

private:
    fs::path path;
};

TEST(LoadLibrary, DllNameOpensTheLibraryOfTheSameStemBesideTheProgram)
{
    for (const char16_t* name : {u"LoaderProbe.dll", u"LoaderProbe.DLL", u"LoaderProbe.Dll"}) {
        SCOPED_TRACE(std::string(name, name + std::char_traits<char16_t>::length(name)));
        const HMODULE module = LoadLibraryW(name);
        ASSERT_NE(module, nullptr);
        EXPECT_EQ(CallAnswer(module), 42);
        EXPECT_TRUE(FreeLibrary(module));
    }
}

TEST(LoadLibrary, BareNameIsLookedUpInTheProgramFolderNotTheWorkingFolder)
{
    const fs::path before = fs::current_path();
    fs::current_path("/");
    const HMODULE module = LoadLibraryW(u"LoaderProbe.dll");
    fs::current_path(before);
    ASSERT_NE(module, nullptr);
    EXPECT_TRUE(FreeLibrary(module));
}

TEST(LoadLibrary, DirectoryPartIsUsedWithEitherSeparatorAndAnyCharacters)
{
    TemporaryFolder folder;
    // Non-ASCII text, with a character outside the basic plane, must reach the file system intact.
    const fs::path directory = folder.Path() / u8"Pr\u00f8be \U0001F50A";
    fs::create_directories(directory);
    fs::copy_file(LOADER_PROBE_FILE, directory / "libLoaderProbe.so");
    const std::u16string base = ToUtf16(folder.Path().string()) + u"/Pr\u00f8be \U0001F50A";

    for (const std::u16string& name : {base + u"\\LoaderProbe.dll", base + u"/LoaderProbe.dll"}) {
        const HMODULE module = LoadLibraryW(name.c_str());
        ASSERT_NE(module, nullptr);
        EXPECT_EQ(CallAnswer(module), 42);
        EXPECT_TRUE(FreeLibrary(module));
    }
}

TEST(LoadLibrary, DirectoryPartIsNotSearchedBeyond)
{
    TemporaryFolder emptyFolder;
    const std::u16string name = ToUtf16(emptyFolder.Path().string()) + u"\\LoaderProbe.dll";
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(LoadLibraryW(name.c_str()), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
}

TEST(LoadLibrary, MissingOrEmptyNamesFailWithTheirErrors)
{
    const struct
    {
        const char16_t* name;
        DWORD error;
    } cases[] = {
        {u"Absent.dll", ERROR_MOD_NOT_FOUND},
        {u".dll", ERROR_MOD_NOT_FOUND},
        {u"", ERROR_INVALID_PARAMETER},
        {nullptr, ERROR_INVALID_PARAMETER},
    };
    for (const auto& c : cases) {
        SetLastError(ERROR_SUCCESS);
        EXPECT_EQ(LoadLibraryW(c.name), nullptr);
        EXPECT_EQ(GetLastError(), c.error);
    }
}

TEST(LoadLibrary, LoadingTwiceSharesOneCopyUntilTheLastFree)
{
    const HMODULE first = LoadLibraryW(u"LoaderProbe.dll");
    const HMODULE second = LoadLibraryA("LoaderProbe.dll");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first, second);
    using CountFunction = int (*)();
    const auto next =
        reinterpret_cast<CountFunction>(GetProcAddress(first, "LoaderProbeNextCount"));
    ASSERT_NE(next, nullptr);
    const int counted = next();
    EXPECT_TRUE(FreeLibrary(second));
    // Still loaded through the first reference: the same static state answers.
    EXPECT_EQ(next(), counted + 1);
    EXPECT_TRUE(FreeLibrary(first));
}

TEST(GetProcAddress, MissingExportOrModuleFails)
{
    const HMODULE module = LoadLibraryW(u"LoaderProbe.dll");
    ASSERT_NE(module, nullptr);
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(GetProcAddress(module, "NoSuchExport"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
    EXPECT_EQ(GetProcAddress(module, nullptr), nullptr);
    EXPECT_EQ(GetProcAddress(nullptr, "LoaderProbeAnswer"), nullptr);
    EXPECT_TRUE(FreeLibrary(module));
    EXPECT_FALSE(FreeLibrary(nullptr));
}

TEST(LastError, IsKeptPerThread)
{
    SetLastError(ERROR_PROC_NOT_FOUND);
    DWORD seenByOtherThread = 1;
    std::thread([&] { seenByOtherThread = GetLastError(); }).join();
    EXPECT_EQ(seenByOtherThread, ERROR_SUCCESS);
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
}

}  // namespace
