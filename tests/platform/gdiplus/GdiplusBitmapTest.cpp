#include <cairo.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "GdiplusFixture.h"
#include "Win32Test/HeadlessWindow.h"
#include "gdiplus/PngDecoder.h"

namespace {

using namespace Gdiplus;
using GdiplusTest::GdiplusFixture;

// Straight ARGB values with every alpha class: opaque, half, faint, and fully transparent.
constexpr ARGB kSamples[] = {0xFF123456u, 0xFFFFFFFFu, 0xFF000000u, 0x80FF8040u,
                             0x40102030u, 0x01FFFFFFu, 0xC0808080u, 0x00000000u};

int ChannelError(ARGB a, ARGB b)
{
    int worst = 0;
    for (int shift : {24, 16, 8, 0}) {
        const int d = static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF);
        worst = std::max(worst, std::abs(d));
    }
    return worst;
}

// The layer keeps pixels premultiplied, so a straight pixel comes back exactly when opaque and
// within the rounding of premultiplying otherwise: 255 / (2 * alpha) per channel, rounded up.
void ExpectRoundTrip(ARGB sent, ARGB got, const char* where)
{
    const unsigned alpha = sent >> 24;
    if (alpha == 255) {
        EXPECT_EQ(got, sent) << where;
    } else if (alpha == 0) {
        EXPECT_EQ(got >> 24, 0u) << where;
    } else {
        EXPECT_EQ(got >> 24, alpha) << where;
        EXPECT_LE(ChannelError(sent, got), static_cast<int>((255 + 2 * alpha - 1) / (2 * alpha)))
            << where << std::hex << " sent " << sent << " got " << got;
    }
}

TEST_F(GdiplusFixture, LockBitsRoundTripsStraightAlpha)
{
    BitmapData data{};
    const GpRect area{1, 2, 4, 2};
    ASSERT_EQ(GdipBitmapLockBits(bitmap, &area, ImageLockModeWrite, PixelFormat32bppARGB, &data),
              Ok);
    EXPECT_EQ(GdipBitmapLockBits(bitmap, &area, ImageLockModeRead, PixelFormat32bppARGB, &data),
              WrongState)
        << "locked twice";
    ARGB pixel = 0;
    EXPECT_EQ(GdipBitmapGetPixel(bitmap, 0, 0, &pixel), WrongState);
    ASSERT_EQ(data.Width, 4u);
    ASSERT_EQ(data.Height, 2u);
    for (int i = 0; i < 8; ++i) {
        auto* row = reinterpret_cast<ARGB*>(static_cast<BYTE*>(data.Scan0) + (i / 4) * data.Stride);
        row[i % 4] = kSamples[i];
    }
    ASSERT_EQ(GdipBitmapUnlockBits(bitmap, &data), Ok);
    EXPECT_EQ(GdipBitmapUnlockBits(bitmap, &data), WrongState);

    // Read back through a second lock, and pixel by pixel.
    ASSERT_EQ(GdipBitmapLockBits(bitmap, &area, ImageLockModeRead, PixelFormat32bppARGB, &data),
              Ok);
    for (int i = 0; i < 8; ++i) {
        auto* row = reinterpret_cast<ARGB*>(static_cast<BYTE*>(data.Scan0) + (i / 4) * data.Stride);
        ExpectRoundTrip(kSamples[i], row[i % 4], "locked read");
    }
    ASSERT_EQ(GdipBitmapUnlockBits(bitmap, &data), Ok);
    for (int i = 0; i < 8; ++i) {
        ASSERT_EQ(GdipBitmapGetPixel(bitmap, 1 + i % 4, 2 + i / 4, &pixel), Ok);
        ExpectRoundTrip(kSamples[i], pixel, "GetPixel");
    }
    ASSERT_EQ(GdipBitmapGetPixel(bitmap, 0, 0, &pixel), Ok);
    EXPECT_EQ(pixel, GdiplusTest::kWhite) << "outside the locked area nothing changed";

    // Premultiplied access gives the stored words themselves.
    ASSERT_EQ(GdipBitmapLockBits(bitmap, &area, ImageLockModeRead, PixelFormat32bppPARGB, &data),
              Ok);
    const ARGB stored = static_cast<ARGB*>(data.Scan0)[3];
    ASSERT_EQ(GdipBitmapUnlockBits(bitmap, &data), Ok);
    EXPECT_EQ(stored >> 24, 0x80u);
    EXPECT_LE(ChannelError(stored, 0x80804020u), 1) << std::hex << stored;
}

TEST_F(GdiplusFixture, LockBitsIntoTheCallersBuffer)
{
    ARGB buffer[3 * 2] = {};
    BitmapData data{3, 2, 3 * 4, PixelFormat32bppARGB, buffer, 0};
    const GpRect area{0, 0, 3, 2};
    ASSERT_EQ(GdipBitmapLockBits(bitmap, &area, ImageLockModeRead | ImageLockModeUserInputBuf,
                                 PixelFormat32bppARGB, &data),
              Ok);
    EXPECT_EQ(data.Scan0, buffer);
    EXPECT_EQ(buffer[5], GdiplusTest::kWhite);
    ASSERT_EQ(GdipBitmapUnlockBits(bitmap, &data), Ok);
}

TEST_F(GdiplusFixture, BadArgumentsGiveStatusesNotCrashes)
{
    BitmapData data{};
    const GpRect outside{6, 6, 4, 4};
    ARGB pixel = 0;
    GpBitmap* made = nullptr;
    GpGraphics* windowGraphics = nullptr;
    const struct
    {
        const char* name;
        GpStatus status;
        GpStatus expected;
    } cases[] = {
        {"lock outside",
         GdipBitmapLockBits(bitmap, &outside, ImageLockModeRead, PixelFormat32bppARGB, &data),
         InvalidParameter},
        {"lock unknown format",
         GdipBitmapLockBits(bitmap, nullptr, ImageLockModeRead, 0x12345, &data), InvalidParameter},
        {"lock without mode", GdipBitmapLockBits(bitmap, nullptr, 0, PixelFormat32bppARGB, &data),
         InvalidParameter},
        {"pixel left of the bitmap", GdipBitmapGetPixel(bitmap, -1, 0, &pixel), InvalidParameter},
        {"pixel below the bitmap", GdipBitmapSetPixel(bitmap, 0, 8, 0), InvalidParameter},
        {"null bitmap", GdipBitmapGetPixel(nullptr, 0, 0, &pixel), InvalidParameter},
        {"zero width", GdipCreateBitmapFromScan0(0, 4, 0, PixelFormat32bppARGB, nullptr, &made),
         InvalidParameter},
        {"stride too small",
         GdipCreateBitmapFromScan0(4, 4, 8, PixelFormat32bppARGB, reinterpret_cast<BYTE*>(&pixel),
                                   &made),
         InvalidParameter},
        {"clone outside", GdipCloneBitmapAreaI(4, 4, 5, 5, PixelFormat32bppARGB, bitmap, &made),
         InvalidParameter},
        {"clone of null", GdipCloneBitmapAreaI(0, 0, 1, 1, PixelFormat32bppARGB, nullptr, &made),
         InvalidParameter},
        {"graphics for no window", GdipCreateFromHWND(nullptr, &windowGraphics), Win32Error},
        {"pen of negative width", GdipCreatePen1(0, -1.0f, UnitPixel, nullptr), InvalidParameter},
        {"draw image from a unit other than pixels",
         GdipDrawImagePointRectI(graphics, bitmap, 0, 0, 0, 0, 1, 1, UnitWorld), InvalidParameter},
        {"polygon of two points", GdipAddPathPolygon(nullptr, nullptr, 2), InvalidParameter},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.status, c.expected) << c.name;
    }
    EXPECT_EQ(made, nullptr);
    EXPECT_EQ(windowGraphics, nullptr);
}

TEST_F(GdiplusFixture, SetPixelCloneAndBounds)
{
    ASSERT_EQ(GdipBitmapSetPixel(bitmap, 7, 7, GdiplusTest::kRed), Ok);
    ASSERT_EQ(GdipBitmapSetPixel(bitmap, 6, 7, 0x80FF0000u), Ok);
    GpBitmap* clone = nullptr;
    ASSERT_EQ(GdipCloneBitmapAreaI(6, 6, 2, 2, PixelFormat32bppARGB, bitmap, &clone), Ok);
    EXPECT_EQ(Compare(clone, {"..", "?R"}), "");
    ARGB pixel = 0;
    ASSERT_EQ(GdipBitmapGetPixel(clone, 0, 1, &pixel), Ok);
    ExpectRoundTrip(0x80FF0000u, pixel, "half-transparent pixel in the clone");
    GpRectF bounds{};
    GpUnit unit = UnitWorld;
    ASSERT_EQ(GdipGetImageBounds(clone, &bounds, &unit), Ok);
    EXPECT_EQ((std::vector<REAL>{bounds.X, bounds.Y, bounds.Width, bounds.Height}),
              (std::vector<REAL>{0, 0, 2, 2}));
    EXPECT_EQ(unit, UnitPixel);
    REAL dpi = 0;
    ASSERT_EQ(GdipGetDpiX(graphics, &dpi), Ok);
    EXPECT_EQ(dpi, 96.0f);
    ASSERT_EQ(GdipGetImageHorizontalResolution(clone, &dpi), Ok);
    EXPECT_EQ(dpi, 96.0f);
    EXPECT_EQ(GdipDisposeImage(clone), Ok);

    GpBitmap* compatible = nullptr;
    ASSERT_EQ(GdipCreateBitmapFromGraphics(3, 5, graphics, &compatible), Ok);
    UINT width = 0, height = 0;
    EXPECT_EQ(GdipGetImageWidth(compatible, &width), Ok);
    EXPECT_EQ(GdipGetImageHeight(compatible, &height), Ok);
    EXPECT_EQ(width * 10 + height, 35u);
    EXPECT_EQ(GdipDisposeImage(compatible), Ok);
}

// The format an image reports is the one it was made in, and a clone's is the one asked for.
TEST_F(GdiplusFixture, PixelFormatOfCreatedAndClonedImages)
{
    struct Case
    {
        PixelFormat created;
        PixelFormat cloned;
    };
    for (const Case c : {Case{PixelFormat32bppARGB, PixelFormat32bppRGB},
                         Case{PixelFormat32bppRGB, PixelFormat32bppPARGB},
                         Case{PixelFormat32bppPARGB, PixelFormat32bppARGB}}) {
        GpBitmap* made = nullptr;
        ASSERT_EQ(GdipCreateBitmapFromScan0(2, 2, 0, c.created, nullptr, &made), Ok);
        PixelFormat format = 0;
        EXPECT_EQ(GdipGetImagePixelFormat(made, &format), Ok);
        EXPECT_EQ(format, c.created);
        GpBitmap* clone = nullptr;
        ASSERT_EQ(GdipCloneBitmapAreaI(0, 0, 1, 1, c.cloned, made, &clone), Ok);
        EXPECT_EQ(GdipGetImagePixelFormat(clone, &format), Ok);
        EXPECT_EQ(format, c.cloned);
        EXPECT_EQ(GdipDisposeImage(clone), Ok);
        EXPECT_EQ(GdipDisposeImage(made), Ok);
    }
    PixelFormat format = 0;
    EXPECT_EQ(GdipGetImagePixelFormat(nullptr, &format), InvalidParameter);
    EXPECT_EQ(GdipGetImagePixelFormat(bitmap, nullptr), InvalidParameter);
}

TEST(Gdiplus, CallsBeforeStartupFail)
{
    GpBitmap* bitmap = nullptr;
    EXPECT_EQ(GdipCreateBitmapFromScan0(1, 1, 0, PixelFormat32bppARGB, nullptr, &bitmap),
              GdiplusNotInitialized);
    ULONG_PTR token = 0;
    GdiplusStartupInput input;
    input.GdiplusVersion = 2;
    EXPECT_EQ(GdiplusStartup(&token, &input, nullptr), UnsupportedGdiplusVersion);
    EXPECT_EQ(GdiplusStartup(&token, nullptr, nullptr), InvalidParameter);
}

TEST_F(GdiplusFixture, DrawsIntoAWindow)
{
    HWND window = Win32Test::CreateHeadlessWindow(6, 4);
    GpGraphics* onWindow = nullptr;
    ASSERT_EQ(GdipCreateFromHWND(window, &onWindow), Ok);
    EXPECT_EQ(GdipFillRectangleI(onWindow, Solid(GdiplusTest::kRed), 1, 1, 2, 2), Ok);
    // A half-transparent fill blends with what the window shows.
    EXPECT_EQ(GdipFillRectangleI(onWindow, Solid(0x800000FFu), 4, 0, 1, 1), Ok);
    EXPECT_EQ(GdipDeleteGraphics(onWindow), Ok);
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 6; ++x) {
            const bool red = x >= 1 && x < 3 && y >= 1 && y < 3;
            const ARGB expected =
                red ? 0xFFFF0000u : (x == 4 && y == 0 ? 0xFF000080u : 0xFF000000u);
            EXPECT_EQ(Win32Test::GetWindowPixel(window, x, y), expected) << x << ", " << y;
        }
    }
    Win32Test::DestroyHeadlessWindow(window);
}

TEST_F(GdiplusFixture, GraphicsOutlivingItsWindowDrawsIntoNothing)
{
    HWND window = Win32Test::CreateHeadlessWindow(4, 4);
    GpGraphics* onWindow = nullptr;
    ASSERT_EQ(GdipCreateFromHWND(window, &onWindow), Ok);
    Win32Test::DestroyHeadlessWindow(window);
    EXPECT_EQ(GdipFillRectangleI(onWindow, Solid(GdiplusTest::kRed), 0, 0, 4, 4), Ok);
    EXPECT_EQ(GdipDeleteGraphics(onWindow), Ok);
}

class GdiplusPng : public GdiplusFixture
{
public:
    // Named by process: CTest runs these tests in parallel processes, which may start in the same
    // millisecond (one random seed) and place the fixture at one address.
    std::filesystem::path folder = std::filesystem::temp_directory_path() /
                                   ("gdiplus_png_" + std::to_string(::getpid()) + "_" +
                                    std::to_string(reinterpret_cast<uintptr_t>(this)));
    void SetUp() override
    {
        GdiplusFixture::SetUp();
        std::filesystem::create_directories(folder);
    }
    void TearDown() override
    {
        std::filesystem::remove_all(folder);
        GdiplusFixture::TearDown();
    }
    // A 3 x 2 PNG with an opaque, a half-transparent and a transparent pixel, written by Cairo.
    std::string WritePng(const char* name)
    {
        cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 3, 2);
        auto* pixels = reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(surface));
        const int stride = cairo_image_surface_get_stride(surface) / 4;
        pixels[0] = 0xFFFF0000u;
        pixels[1] = 0xFF00FF00u;
        pixels[2] = 0x80000080u;  // premultiplied: straight 0x800000FF
        pixels[stride] = 0;
        pixels[stride + 1] = 0xFF0000FFu;
        pixels[stride + 2] = 0xFF000000u;
        cairo_surface_mark_dirty(surface);
        const std::string path = (folder / name).string();
        EXPECT_EQ(cairo_surface_write_to_png(surface, path.c_str()), CAIRO_STATUS_SUCCESS);
        cairo_surface_destroy(surface);
        return path;
    }
    static std::u16string Wide(const std::string& text) { return {text.begin(), text.end()}; }
};

TEST_F(GdiplusPng, ReadsAFile)
{
    const std::u16string path = Wide(WritePng("picture.png"));
    GpBitmap* loaded = nullptr;
    ASSERT_EQ(GdipCreateBitmapFromFile(path.c_str(), &loaded), Ok);
    EXPECT_EQ(Compare(loaded, {"RG?", "0BK"}), "");
    ARGB pixel = 0;
    ASSERT_EQ(GdipBitmapGetPixel(loaded, 2, 0, &pixel), Ok);
    ExpectRoundTrip(0x800000FFu, pixel, "half-transparent pixel of the file");
    EXPECT_EQ(GdipDisposeImage(loaded), Ok);
}

// As the program hands resource bytes to GDI+: copied into a movable block, read as a stream.
TEST_F(GdiplusPng, ReadsAStreamOverGlobalMemory)
{
    std::ifstream in(WritePng("stream.png"), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const struct
    {
        const char* name;
        size_t size;
        bool loads;
    } cases[] = {{"whole", bytes.size(), true},
                 {"cut short", bytes.size() - 12, false},
                 {"empty", 0, false}};
    for (const auto& c : cases) {
        HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, c.size);
        ASSERT_NE(block, nullptr);
        void* data = GlobalLock(block);
        ASSERT_NE(data, nullptr);
        std::memcpy(data, bytes.data(), c.size);
        EXPECT_EQ(GlobalUnlock(block), FALSE);
        IStream* stream = nullptr;
        ASSERT_EQ(CreateStreamOnHGlobal(block, TRUE, &stream), S_OK);
        GpBitmap* loaded = nullptr;
        const GpStatus status = GdipCreateBitmapFromStream(stream, &loaded);
        EXPECT_EQ(status == Ok, c.loads) << c.name << " status " << status;
        if (loaded != nullptr) {
            EXPECT_EQ(Compare(loaded, {"RG?", "0BK"}), "") << c.name;
            EXPECT_EQ(GdipDisposeImage(loaded), Ok);
        }
        EXPECT_EQ(stream->Release(), 0u);
        EXPECT_EQ(GlobalFree(block), block) << "the stream freed the block";
    }
    EXPECT_EQ(GdipCreateBitmapFromStream(nullptr, nullptr), InvalidParameter);
}

TEST_F(GdiplusPng, MalformedFilesFail)
{
    const std::string good = WritePng("good.png");
    std::ifstream in(good, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GT(bytes.size(), 40u);

    std::string badCrc = bytes;
    badCrc[29] ^= 0x55;  // the IHDR checksum
    std::string hugeHeader = bytes;
    hugeHeader[16] = 0x7F;  // width 2^31 - something
    std::string corruptData = bytes;
    corruptData[bytes.size() - 20] ^= 0xFF;
    const struct
    {
        const char* name;
        std::string content;
    } cases[] = {
        {"empty", ""},
        {"not a png", "GIF89a not a png at all, but long enough"},
        {"signature only", bytes.substr(0, 8)},
        {"truncated in the header", bytes.substr(0, 20)},
        {"truncated in the data", bytes.substr(0, bytes.size() / 2)},
        {"bad header checksum", badCrc},
        {"huge dimensions", hugeHeader},
        {"corrupt image data", corruptData},
    };
    for (const auto& c : cases) {
        const std::string path = (folder / "bad.png").string();
        std::ofstream(path, std::ios::binary) << c.content;
        GpBitmap* loaded = reinterpret_cast<GpBitmap*>(1);
        const std::u16string wide = Wide(path);
        const GpStatus status = GdipCreateBitmapFromFile(wide.c_str(), &loaded);
        EXPECT_NE(status, Ok) << c.name;
        EXPECT_EQ(loaded, nullptr) << c.name;
        if (status == Ok) {
            GdipDisposeImage(loaded);
        }
    }
    GpBitmap* loaded = nullptr;
    EXPECT_EQ(GdipCreateBitmapFromFile(u"/nonexistent/folder/x.png", &loaded), FileNotFound);
    EXPECT_EQ(GdipCreateBitmapFromFile(nullptr, &loaded), InvalidParameter);
}

}  // namespace
