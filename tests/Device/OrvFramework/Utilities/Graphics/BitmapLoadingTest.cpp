// GetBitmap: resources and files, the name cache and its keys, eviction when released.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "BitmapFixture.h"

namespace {

using namespace BitmapTest;
using Orv::GetBitmap;
using Orv::LBitmap;
using Orv::RCPtr;

// Every pixel of the bitmap, row by row, packed.
std::vector<uint32_t> Pixels(const LBitmap& bitmap)
{
    std::vector<uint32_t> pixels;
    for (int y = 0; y < bitmap.GetHeight(); ++y) {
        for (int x = 0; x < bitmap.GetWidth(); ++x) {
            pixels.push_back(Packed(bitmap.GetPixelColor(x, y)));
        }
    }
    return pixels;
}

TEST_F(BitmapFixture, ResourceNameLoadsTheCompiledInImage)
{
    RCPtr<LBitmap> resource = GetBitmap(u"::Tile Sheet.png");
    ASSERT_TRUE(resource);
    EXPECT_EQ(resource->GetWidth(), 4);
    EXPECT_EQ(resource->GetHeight(), 3);
    EXPECT_EQ(resource->GetName(), u"::Tile Sheet.png");
    EXPECT_EQ(resource->GetKey(), u"::TILE SHEET.PNG");
    EXPECT_FALSE(resource->GetParent());
    EXPECT_EQ(Packed(resource->GetPixelColor(1, 0)), 0xFFFF0000u);
    EXPECT_EQ(Packed(resource->GetPixelColor(2, 1)), 0xFF46505Au);

    // The same bytes read from the file give the same picture.
    RCPtr<LBitmap> file = GetBitmap(Wide(FixtureFile("GDIPLUS/Tile Sheet.png").string()));
    ASSERT_TRUE(file);
    EXPECT_NE(file.Get(), resource.Get());
    EXPECT_EQ(Pixels(*file), Pixels(*resource));
}

TEST_F(BitmapFixture, ResourceNamesDifferingInCaseShareOneEntry)
{
    RCPtr<LBitmap> first = GetBitmap(u"::white.png");
    ASSERT_TRUE(first);
    for (const char16_t* name : {u"::WHITE.PNG", u"::White.Png"}) {
        EXPECT_EQ(GetBitmap(name).Get(), first.Get()) << Orv::WideString(name).ToNarrow().GetText();
    }
    // The dot rule applies to the resource name, not to the cache key: the same resource under
    // another key is a bitmap of its own.
    RCPtr<LBitmap> underscored = GetBitmap(u"::white_png");
    ASSERT_TRUE(underscored);
    EXPECT_NE(underscored.Get(), first.Get());
    EXPECT_EQ(underscored->GetKey(), u"::WHITE_PNG");
    EXPECT_EQ(first->GetBackReferenceCount(), 1);
}

TEST_F(BitmapFixture, UnloadableNamesGiveNullAndAreNotCached)
{
    for (const char16_t* name : {u"::missing.png", u"::empty.png", u"::broken.png", u"::",
                                 u"::Tile Sheet", u"/no/such/file.png", u""}) {
        EXPECT_FALSE(GetBitmap(name)) << Orv::WideString(name).ToNarrow().GetText();
    }
    // A file that could not be read is tried again once it is there.
    const auto path = folder / "later.png";
    EXPECT_FALSE(GetBitmap(Wide(path.string())));
    WritePng(path, 2, 0xFF123456u);
    RCPtr<LBitmap> later = GetBitmap(Wide(path.string()));
    ASSERT_TRUE(later);
    EXPECT_EQ(Packed(later->GetPixelColor(1, 0)), 0xFF123456u);
}

TEST_F(BitmapFixture, ReleasedBitmapLeavesTheCache)
{
    const auto path = WritePng(folder / "gone.png", 3, 0xFF00FF00u);
    RCPtr<LBitmap> held = GetBitmap(Wide(path.string()));
    ASSERT_TRUE(held);
    RCPtr<LBitmap> view = held->CreateSubBitmap(1, 0, 1, 1);
    std::filesystem::remove(path);

    // Still held (also only through a view of it): the cache still answers for the gone file.
    held = nullptr;
    RCPtr<LBitmap> again = GetBitmap(Wide(path.string()));
    ASSERT_TRUE(again);
    EXPECT_EQ(again.Get(), view->GetParent().Get());
    EXPECT_EQ(again->GetRefCount(), 3);  // view's parent, again, the cache
    again = nullptr;
    view = nullptr;

    // Nobody holds it: it left the cache, so the name must be loaded again, which now fails.
    EXPECT_FALSE(GetBitmap(Wide(path.string())));
    WritePng(path, 1, 0xFF0000FFu);
    RCPtr<LBitmap> reloaded = GetBitmap(Wide(path.string()));
    ASSERT_TRUE(reloaded);
    EXPECT_EQ(reloaded->GetWidth(), 1);
}

TEST_F(BitmapFixture, DroppingFromTheCacheClearsTheName)
{
    RCPtr<LBitmap> bitmap = GetBitmap(u"::white.png");
    ASSERT_TRUE(bitmap);
    ASSERT_EQ(bitmap->GetBackReferenceCount(), 1);
    EXPECT_EQ(bitmap->DropBackReferences(), S_OK);
    EXPECT_TRUE(bitmap->GetName().IsEmpty());
    EXPECT_EQ(bitmap->GetBackReferenceCount(), 0);
    EXPECT_EQ(bitmap->GetRefCount(), 1);
    // A second drop finds nothing to do; a new GetBitmap loads a new bitmap.
    EXPECT_EQ(bitmap->DropBackReferences(), S_OK);
    RCPtr<LBitmap> fresh = GetBitmap(u"::white.png");
    ASSERT_TRUE(fresh);
    EXPECT_NE(fresh.Get(), bitmap.Get());
    // Held twice besides the cache: dropping is refused.
    RCPtr<LBitmap> second = fresh;
    EXPECT_EQ(fresh->DropBackReferences(), E_FAIL);
}

// Files whose long form needs 260 characters or more have no long path: each is keyed by its own
// name, so two of them never share a bitmap.
TEST_F(BitmapFixture, FilesWithoutALongFormKeepTheirOwnEntries)
{
    std::filesystem::path deep = folder;
    while (deep.string().size() < 300) {
        deep /= "a_rather_long_folder_name";
    }
    const auto red = WritePng(deep / "red.png", 1, 0xFFFF0000u);
    const auto blue = WritePng(deep / "blue.png", 1, 0xFF0000FFu);
    RCPtr<LBitmap> redBitmap = GetBitmap(Wide(red.string()));
    RCPtr<LBitmap> blueBitmap = GetBitmap(Wide(blue.string()));
    ASSERT_TRUE(redBitmap);
    ASSERT_TRUE(blueBitmap);
    EXPECT_NE(redBitmap.Get(), blueBitmap.Get());
    EXPECT_EQ(Packed(blueBitmap->GetPixelColor(0, 0)), 0xFF0000FFu);
    EXPECT_EQ(blueBitmap->GetKey(), Wide(blue.string()).ToUpper());
}

TEST_F(BitmapFixture, FileNamesOfOneFileShareOneEntry)
{
    const auto path = WritePng(folder / "Shared.png", 1, 0xFF808080u);
    RCPtr<LBitmap> first = GetBitmap(Wide(path.string()));
    ASSERT_TRUE(first);
    EXPECT_EQ(first->GetKey(), Wide(path.string()).ToUpper());
    const std::string other = (folder / "SHARED.PNG").string();
    RCPtr<LBitmap> second = GetBitmap(Wide(other));
    EXPECT_EQ(second.Get(), first.Get());
}

}  // namespace
