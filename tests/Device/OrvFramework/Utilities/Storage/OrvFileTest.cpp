// Files and path helpers: shared descriptors, delete on last close, the run-time errors' texts,
// directory chains, listings and the file-name sanitiser.
#include "Utilities/Storage/OrvFile.h"

#include <gtest/gtest.h>

#include <fstream>
#include <stdexcept>
#include <string>

#include "MachineRootFolder.h"
#include "Utilities/Storage/FilePaths.h"

namespace {

using namespace Orv;
namespace fs = std::filesystem;

void WriteHostFile(const fs::path& path, const std::string& bytes)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

// The text of the runtime_error that the call throws, or "" when it throws none. The line number
// is that of the throw in the source, so it is checked to be one and shown as "Line <n>".
template <class Call>
std::string ThrownText(Call call)
{
    std::string text;
    try {
        call();
    } catch (const Exception<std::runtime_error>& e) {
        text = e.what();
    }
    const std::size_t line = text.rfind(" : Line ");
    if (line == std::string::npos) {
        return text;
    }
    const std::string number = text.substr(line + 8);
    EXPECT_FALSE(number.empty()) << text;
    EXPECT_EQ(number.find_first_not_of("0123456789"), std::string::npos) << text;
    return text.substr(0, line) + " : Line <n>";
}

class OrvFileTest : public testing::Test
{
protected:
    fs::path Host(const std::string& relative) const { return root_.Path() / "C" / relative; }

    MachineRootFolder root_;
};

TEST_F(OrvFileTest, OpensDirectoryAndNameOrAWholePath)
{
    WriteHostFile(Host("Skins/Dark.xml"), "<skin/>");
    File byName(u"C:\\Skins", u"Dark.xml", FileOpen::kRead);
    ASSERT_TRUE(byName.IsOpen());
    EXPECT_EQ(byName.GetFullPath(), WideString(u"C:\\Skins\\Dark.xml"));
    EXPECT_EQ(byName.GetFileName(), WideString(u"Dark.xml"));
    EXPECT_EQ(byName.GetLength(), 7);
    EXPECT_EQ(byName.Open(u"C:\\Other", u"x", FileOpen::kReadWrite), 1);  // nothing changes
    EXPECT_EQ(byName.GetFullPath(), WideString(u"C:\\Skins\\Dark.xml"));

    File whole(u"C:\\Skins\\Dark.xml", u"", FileOpen::kRead);
    ASSERT_TRUE(whole.IsOpen());
    EXPECT_EQ(whole.GetFileName(), WideString(u""));
    char text[8] = {};
    EXPECT_EQ(whole.Read(text, 7, -1), 7);
    EXPECT_STREQ(text, "<skin/>");

    EXPECT_EQ(ThrownText([] { File(u"", u"", FileOpen::kRead); }),
              "Runtime Error : invalid pathname : Orv::File::Open : Utilities\\Storage\\OrvFile : "
              "Line <n>");
    File missing(u"C:\\Skins\\Light.xml", u"", FileOpen::kRead);
    EXPECT_FALSE(missing.IsOpen());
    EXPECT_EQ(missing.Open(u"C:\\Skins\\Light.xml", u"", FileOpen::kRead), E_FAIL);
}

TEST_F(OrvFileTest, CreateFlagsAndExclusiveCreate)
{
    const int32_t create = FileOpen::kReadWrite | FileOpen::kCreate;
    File created(u"C:\\new.bin", u"", create);
    ASSERT_TRUE(created.IsOpen());
    EXPECT_EQ(created.Write("abc", 3, -1), 3);
    created.Close();
    EXPECT_FALSE(created.IsOpen());

    File again(u"C:\\new.bin", u"", create | FileOpen::kExclusive);
    EXPECT_FALSE(again.IsOpen());
    EXPECT_EQ(again.Open(u"C:\\new.bin", u"", create | FileOpen::kExclusive), E_FAIL);
    File plain(u"C:\\absent.bin", u"", FileOpen::kReadWrite);  // no create: refused
    EXPECT_FALSE(plain.IsOpen());
}

TEST_F(OrvFileTest, ReadsWritesAndSeeksAtOffsets)
{
    File file(u"C:\\data.bin", u"", FileOpen::kReadWrite | FileOpen::kCreate);
    ASSERT_TRUE(file.IsOpen());
    EXPECT_EQ(file.Write("0123456789", 10, -1), 10);
    EXPECT_EQ(file.Write("ab", 2, 4), 2);
    char buffer[16] = {};
    EXPECT_EQ(file.Read(buffer, 3, 0), 3);
    EXPECT_EQ(std::string(buffer, 3), "012");
    EXPECT_EQ(file.Read(buffer, 3, -1), 3);  // continues at the current position
    EXPECT_EQ(std::string(buffer, 3), "3ab");
    EXPECT_EQ(file.Read(buffer, 4, 100), 0);  // beyond the end
    EXPECT_EQ(file.Seek(-2, 2), 8);
    EXPECT_EQ(file.Seek(1, 1), 9);
    EXPECT_EQ(file.Seek(-1, 0), -1);
    EXPECT_EQ(file.GetLength(), 10);
}

TEST_F(OrvFileTest, RuntimeFailuresThrowTheirTexts)
{
    WriteHostFile(Host("ro.bin"), "xyz");
    File readOnly(u"C:\\ro.bin", u"", FileOpen::kRead);
    ASSERT_TRUE(readOnly.IsOpen());
    EXPECT_EQ(ThrownText([&] { readOnly.Write("q", 1, 0); }),
              "Runtime Error : file is read only : Orv::File::Write : Utilities\\Storage\\OrvFile "
              ": Line <n>");
    char buffer[4] = {};
    EXPECT_EQ(readOnly.Read(buffer, 3, 0), 3);
    EXPECT_EQ(std::string(buffer, 3), "xyz");  // the refused write touched nothing
    EXPECT_EQ(ThrownText([&] { readOnly.Read(buffer, 1, -5); }),
              "Runtime Error : lseek : Orv::File::Read : Utilities\\Storage\\OrvFile : Line <n>");

    File writable(u"C:\\rw.bin", u"", FileOpen::kReadWrite | FileOpen::kCreate);
    EXPECT_EQ(ThrownText([&] { writable.Write("q", 1, -7); }),
              "Runtime Error : lseek : Orv::File::Write : Utilities\\Storage\\OrvFile : Line <n>");

    // A directory opens read-only, but reading it fails.
    File directory(u"C:\\", u"", FileOpen::kRead);
    ASSERT_TRUE(directory.IsOpen());
    EXPECT_EQ(ThrownText([&] { directory.Read(buffer, 1, -1); }),
              "Runtime Error : read : Orv::File::Read : Utilities\\Storage\\OrvFile : Line <n>");

    // A write past what the descriptor's file may hold fails in the run-time.
    File devFull(u"/dev/full", u"", FileOpen::kReadWrite);
    ASSERT_TRUE(devFull.IsOpen());
    EXPECT_EQ(ThrownText([&] { devFull.Write("q", 1, -1); }),
              "Runtime Error : write : Orv::File::Write : Utilities\\Storage\\OrvFile : Line <n>");

    // Calls on a closed file are refused before they reach the run-time.
    File closed(u"C:\\missing", u"", FileOpen::kRead);
    EXPECT_NE(ThrownText([&] { closed.Read(buffer, 1, -1); }), "");
    EXPECT_NE(ThrownText([&] { closed.GetLength(); }), "");
    EXPECT_EQ(closed.Seek(0, 0), -1);
}

TEST_F(OrvFileTest, DeleteOnCloseWaitsForTheLastCopy)
{
    const int32_t flags = FileOpen::kReadWrite | FileOpen::kCreate | FileOpen::kDeleteOnClose;
    auto* first = new File(u"C:\\temp.bin", u"", flags);
    ASSERT_TRUE(first->IsOpen());
    File second(*first);
    {
        File third(second);
        EXPECT_EQ(third.Write("z", 1, -1), 1);
        EXPECT_EQ(second.Seek(0, 1), 1);  // copies share the position
    }
    EXPECT_TRUE(fs::exists(Host("temp.bin")));
    EXPECT_EQ(first->Close(), 0);  // not the last holder: nothing happens
    EXPECT_TRUE(first->IsOpen());
    delete first;
    EXPECT_TRUE(fs::exists(Host("temp.bin")));
    EXPECT_EQ(second.Close(), 0);
    EXPECT_FALSE(second.IsOpen());
    EXPECT_FALSE(fs::exists(Host("temp.bin")));

    {
        File alone(u"C:\\temp2.bin", u"", flags);
        ASSERT_TRUE(alone.IsOpen());
    }
    EXPECT_FALSE(fs::exists(Host("temp2.bin")));

    // Assigning over an open file is its close: the file it held is not left behind.
    File replaced(u"C:\\temp3.bin", u"", flags);
    WriteHostFile(Host("other.bin"), "o");
    const File other(u"C:\\other.bin", u"", FileOpen::kRead);
    replaced = other;
    EXPECT_FALSE(fs::exists(Host("temp3.bin")));
    EXPECT_EQ(replaced.GetFullPath(), WideString(u"C:\\other.bin"));
    EXPECT_EQ(replaced.GetLength(), 1);
}

TEST_F(OrvFileTest, DirectoryHelpers)
{
    WriteHostFile(Host("Fonts/a.ttf"), "a");
    EXPECT_TRUE(DirectoryExists(u"C:\\Fonts"));
    EXPECT_TRUE(DirectoryExists(u"C:\\Fonts\\"));
    EXPECT_TRUE(DirectoryExists(u"C:\\"));
    EXPECT_FALSE(DirectoryExists(u"C:\\Fonts\\a.ttf"));
    EXPECT_FALSE(DirectoryExists(u"C:\\None"));
    EXPECT_TRUE(FileExists(u"C:\\Fonts\\a.ttf"));
    EXPECT_FALSE(FileExists(u"C:\\Fonts"));
    EXPECT_FALSE(FileExists(u"C:\\Fonts\\b.ttf"));

    EXPECT_EQ(EnsureDirectory(u"C:\\Fonts"), 1);
    EXPECT_EQ(EnsureDirectory(u"C:\\Fonts\\a.ttf"), E_FAIL);
    EXPECT_EQ(EnsureDirectory(u"C:\\Users\\me/Settings\\Corvane"), 0);
    EXPECT_TRUE(fs::is_directory(Host("Users/me/Settings/Corvane")));
    EXPECT_EQ(EnsureDirectory(u"C:\\Fonts\\a.ttf\\sub"), E_FAIL);
    EXPECT_TRUE(CreateDirectoryPath(u"C:\\x\\y\\"));
    EXPECT_TRUE(fs::is_directory(Host("x/y")));
    EXPECT_FALSE(CreateDirectoryPath(nullptr));
    EXPECT_FALSE(CreateDirectoryPath(u""));

    EXPECT_EQ(GetLongPath(u"C:\\Fonts\\a.ttf"), WideString(u"C:\\Fonts\\a.ttf"));
    EXPECT_EQ(GetLongPath(u"C:\\Fonts\\b.ttf"), WideString(u""));
    const std::u16string longName(300, u'n');
    EXPECT_EQ(GetLongPath(WideString((u"C:\\" + longName).c_str())), WideString(u""));
}

TEST_F(OrvFileTest, ListFilesSkipsFoldersAndNeedsTheDirectory)
{
    WriteHostFile(Host("Fonts/b.ttf"), "b");
    WriteHostFile(Host("Fonts/a.ttf"), "a");
    WriteHostFile(Host("Fonts/readme.txt"), "r");
    fs::create_directories(Host("Fonts/folder.ttf"));
    Array<WideString> files;
    files.AddItem(u"stale");
    EXPECT_EQ(ListFiles(u"C:\\Fonts", u"*.ttf", files), 2);
    ASSERT_EQ(files.GetCount(), 2u);
    EXPECT_EQ(files.GetAt(0), WideString(u"C:\\Fonts\\a.ttf"));
    EXPECT_EQ(files.GetAt(1), WideString(u"C:\\Fonts\\b.ttf"));
    EXPECT_EQ(ListFiles(u"C:\\Fonts", u"*.fon", files), 0);
    EXPECT_EQ(files.GetCount(), 0u);
    files.AddItem(u"stale");
    EXPECT_EQ(ListFiles(u"C:\\Missing", u"*", files), E_NOTIMPL);
    EXPECT_EQ(files.GetCount(), 0u);
}

TEST(SanitizeFileNameTest, ReplacesExactlyTheReservedCharacters)
{
    EXPECT_EQ(SanitizeFileName(u"a\\b/c:d*e?f\"g<h>i|j&k;l,m^n(o)p"),
              WideString(u"a_b_c_d_e_f_g_h_i_j_k_l_m_n_o_p"));
    const char16_t* kept = u"Quorvel 2.4 [x] {y} #1 ~!@$%=+'`é.ini";
    EXPECT_EQ(SanitizeFileName(kept), WideString(kept));
    EXPECT_EQ(SanitizeFileName(u""), WideString(u""));
}

}  // namespace
