// Files of the Win32 layer: Windows paths on the host, the run-time's descriptors, directories,
// attributes, long names and file search.
#include <io.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <string>
#include <vector>

#include "MachineRootFolder.h"
#include "win32/HostPath.h"

namespace {

namespace fs = std::filesystem;
using Platform::Win32::ToHostPath;

void WriteFile(const fs::path& path, const std::string& bytes)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

class FileApiTest : public testing::Test
{
protected:
    MachineRootFolder root_;
};

TEST_F(FileApiTest, DriveRootedPathsLieUnderTheMachineRoot)
{
    const std::string base = root_.Path().string();
    EXPECT_EQ(ToHostPath(u"C:\\Program Files\\Corvane"), base + "/C/Program Files/Corvane");
    EXPECT_EQ(ToHostPath(u"d:/x\\y"), base + "/D/x/y");
    EXPECT_EQ(ToHostPath(u"E:"), base + "/E");
    EXPECT_EQ(ToHostPath(u"Skins\\Dark.xml"), "Skins/Dark.xml");
    EXPECT_EQ(ToHostPath(u"/tmp/a\\b"), "/tmp/a/b");
    EXPECT_EQ(ToHostPath(u"C:name"), "C:name");  // drive-relative: not placed
    ::unsetenv("QUORVEL_ROOT");
    EXPECT_EQ(ToHostPath(u"C:\\x"), std::nullopt);
    EXPECT_EQ(GetFileAttributesW(u"C:\\"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

TEST_F(FileApiTest, DescriptorsReadWriteSeekAndStat)
{
    ASSERT_TRUE(CreateDirectoryW(u"C:\\Data", nullptr));
    const int fd = _wsopen(u"C:\\Data\\f.bin", _O_RDWR | _O_CREAT | _O_EXCL | _O_BINARY, _SH_DENYNO,
                           _S_IREAD | _S_IWRITE);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(_write(fd, "abcdef", 6), 6);
    EXPECT_EQ(_lseek(fd, 2, 0), 2);
    char buffer[8] = {};
    EXPECT_EQ(_read(fd, buffer, 8), 4);
    EXPECT_STREQ(buffer, "cdef");
    EXPECT_EQ(_lseek(fd, -1, 2), 5);
    EXPECT_EQ(_lseek(fd, -10, 1), -1);  // before the start
    EXPECT_EQ(_lseek(fd, 0, 1), 5);     // and the position stays
    struct _stat status
    {
    };
    ASSERT_EQ(_fstat(fd, &status), 0);
    EXPECT_EQ(status.st_size, 6);
    EXPECT_EQ(status.st_mode & _S_IFMT, _S_IFREG);
    EXPECT_EQ(_close(fd), 0);

    EXPECT_EQ(_wsopen(u"C:\\Data\\f.bin", _O_RDWR | _O_CREAT | _O_EXCL, _SH_DENYNO, _S_IWRITE), -1);
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(_wsopen(u"C:\\Data\\missing", _O_RDONLY, _SH_DENYNO), -1);
    EXPECT_EQ(_wsopen(nullptr, _O_RDONLY, _SH_DENYNO), -1);
    ASSERT_EQ(_stat("C:\\Data", &status), 0);
    EXPECT_EQ(status.st_mode & _S_IFMT, _S_IFDIR);
    EXPECT_EQ(_waccess(u"C:\\Data\\f.bin", 0), 0);
    EXPECT_EQ(_waccess(u"C:\\Data\\f.bin", 1), -1);  // not a mode the run-time knows
    EXPECT_EQ(_wunlink(u"C:\\Data\\f.bin"), 0);
    EXPECT_EQ(_waccess(u"C:\\Data\\f.bin", 0), -1);
}

TEST_F(FileApiTest, ReadOnlyPermissionMakesAReadOnlyFile)
{
    const int fd = _wsopen(u"C:\\ro.bin", _O_RDWR | _O_CREAT, _SH_DENYNO, _S_IREAD);
    ASSERT_GE(fd, 0);
    _close(fd);
    EXPECT_EQ(GetFileAttributesW(u"C:\\ro.bin"), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(_waccess(u"C:\\ro.bin", 4), 0);
}

TEST_F(FileApiTest, CreateDirectoryMakesOneLevelAndSaysWhy)
{
    EXPECT_FALSE(CreateDirectoryW(u"C:\\a\\b", nullptr));
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_TRUE(CreateDirectoryW(u"C:\\a", nullptr));
    EXPECT_FALSE(CreateDirectoryW(u"C:\\a", nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(GetFileAttributesW(u"C:\\a"), FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(GetFileAttributesW(u"C:\\none"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(FileApiTest, LongPathNeedsAnExistingPathAndRoom)
{
    WriteFile(root_.Path() / "C" / "file.txt", "x");
    WCHAR buffer[32];
    EXPECT_EQ(GetLongPathNameW(u"C:\\file.txt", buffer, 32), 11u);
    EXPECT_EQ(std::u16string(buffer), u"C:\\file.txt");
    EXPECT_EQ(GetLongPathNameW(u"C:\\file.txt", buffer, 11), 12u);  // room for the terminator
    EXPECT_EQ(GetLongPathNameW(u"C:\\gone.txt", buffer, 32), 0u);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(FileApiTest, LongPathGivesEachNameWithItsStoredCase)
{
    WriteFile(root_.Path() / "C" / "Program Files" / "Quorvel" / "Skin.xml", "x");
    WriteFile(root_.Path() / "C" / "twins" / "a", "lower");
    WriteFile(root_.Path() / "C" / "twins" / "A", "upper");
    WriteFile(root_.Path() / "C" / "twins" / "\xc3\xa9t\xc3\xa9", "accented");
    struct Row
    {
        const char16_t* asked;
        const char16_t* expected;
    };
    const Row rows[] = {
        {u"c:\\PROGRAM FILES\\quorvel\\skin.XML", u"c:\\Program Files\\Quorvel\\Skin.xml"},
        {u"C:/program files\\QUORVEL/", u"C:/Program Files\\Quorvel/"},
        {u"C:\\Program Files\\Quorvel\\Skin.xml", u"C:\\Program Files\\Quorvel\\Skin.xml"},
        {u"C:\\twins\\a", u"C:\\twins\\a"},  // an exact name is taken as it is
        {u"C:\\twins\\A", u"C:\\twins\\A"},
        {u"C:\\TWINS\\\u00c9T\u00c9", u"C:\\twins\\\u00e9t\u00e9"},
        {u"C:\\twins\\..\\program files", u"C:\\twins\\..\\Program Files"},
    };
    for (const Row& row : rows) {
        WCHAR buffer[64] = {};
        const std::u16string expected = row.expected;
        EXPECT_EQ(GetLongPathNameW(row.asked, buffer, 64), expected.size());
        EXPECT_EQ(std::u16string(buffer), expected);
        EXPECT_EQ(GetLongPathNameW(row.asked, nullptr, 0), expected.size() + 1);
    }

    WCHAR buffer[64];
    EXPECT_EQ(GetLongPathNameW(u"C:\\program files\\gone.xml", buffer, 64), 0u);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(GetLongPathNameW(u"C:\\no folder\\skin.xml", buffer, 64), 0u);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

TEST_F(FileApiTest, SearchListsMatchingEntriesInNameOrder)
{
    const fs::path dir = root_.Path() / "C" / "Fonts";
    WriteFile(dir / "b.TTF", "bb");
    WriteFile(dir / "a.ttf", "a");
    WriteFile(dir / "c.otf", "c");
    fs::create_directories(dir / "sub.ttf");

    const auto list = [](const char16_t* pattern) {
        std::vector<std::u16string> names;
        WIN32_FIND_DATAW data{};
        const HANDLE search = FindFirstFileW(pattern, &data);
        if (search == INVALID_HANDLE_VALUE) {
            return names;
        }
        do {
            names.push_back(
                data.cFileName +
                std::u16string(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY ? u"/" : u""));
        } while (FindNextFileW(search, &data));
        EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
        EXPECT_TRUE(FindClose(search));
        return names;
    };
    EXPECT_EQ(list(u"C:\\Fonts\\*.ttf"),
              (std::vector<std::u16string>{u"a.ttf", u"b.TTF", u"sub.ttf/"}));
    EXPECT_EQ(list(u"C:\\Fonts\\*.*").size(), 4u);
    EXPECT_EQ(list(u"C:\\Fonts\\?.otf"), (std::vector<std::u16string>{u"c.otf"}));

    WIN32_FIND_DATAW data{};
    EXPECT_EQ(FindFirstFileW(u"C:\\Fonts\\*.fon", &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(FindFirstFileW(u"C:\\Nowhere\\*", &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    int notASearch = 0;
    EXPECT_FALSE(FindNextFileW(&notASearch, &data));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(FindClose(&notASearch));
}

}  // namespace
