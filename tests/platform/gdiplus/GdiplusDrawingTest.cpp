#include <cmath>
#include <functional>
#include <limits>

#include "GdiplusFixture.h"

namespace {

using namespace Gdiplus;
using GdiplusTest::GdiplusFixture;
using GdiplusTest::kBlue;
using GdiplusTest::kGreen;
using GdiplusTest::kRed;

class GdiplusDrawing : public GdiplusFixture
{
public:
    // A 2 x 2 image: red, blue / green, black.
    GpBitmap* Quad()
    {
        const ARGB pixels[4] = {kRed, kBlue, kGreen, GdiplusTest::kBlack};
        GpBitmap* quad = nullptr;
        EXPECT_EQ(
            GdipCreateBitmapFromScan0(2, 2, 8, PixelFormat32bppARGB,
                                      reinterpret_cast<BYTE*>(const_cast<ARGB*>(pixels)), &quad),
            Ok);
        images.push_back(quad);
        return quad;
    }
    GpPath* Path(GpFillMode mode)
    {
        GpPath* path = nullptr;
        EXPECT_EQ(GdipCreatePath(mode, &path), Ok);
        paths.push_back(path);
        return path;
    }
    void TearDown() override
    {
        for (GpBitmap* image : images) {
            EXPECT_EQ(GdipDisposeImage(image), Ok);
        }
        for (GpPath* path : paths) {
            EXPECT_EQ(GdipDeletePath(path), Ok);
        }
        GdiplusFixture::TearDown();
    }

    std::vector<GpBitmap*> images;
    std::vector<GpPath*> paths;
};

// Two squares, the inner one inside the outer: alternate filling leaves the inner one empty.
void AddNestedSquares(GpPath* path)
{
    const GpPointF outer[] = {{0, 0}, {8, 0}, {8, 8}, {0, 8}};
    const GpPointF inner[] = {{2, 2}, {6, 2}, {6, 6}, {2, 6}};
    EXPECT_EQ(GdipAddPathPolygon(path, outer, 4), Ok);
    EXPECT_EQ(GdipAddPathPolygon(path, inner, 4), Ok);
}

TEST_F(GdiplusDrawing, ScenesPixelByPixel)
{
    const struct
    {
        const char* name;
        std::function<void(GdiplusDrawing&)> draw;
        std::vector<std::string> picture;
    } scenes[] = {
        {"filled rectangle",
         [](GdiplusDrawing& t) {
             EXPECT_EQ(GdipFillRectangleI(t.graphics, t.Solid(kRed), 1, 2, 3, 2), Ok);
         },
         {"........", "........", ".RRR....", ".RRR....", "........"}},
        {"outlined rectangle covers both edges",
         [](GdiplusDrawing& t) {
             EXPECT_EQ(GdipDrawRectangleI(t.graphics, t.Pen(kBlue), 1, 1, 4, 3), Ok);
         },
         {"........", ".BBBBB..", ".B...B..", ".B...B..", ".BBBBB..", "........"}},
        {"horizontal and vertical lines",
         [](GdiplusDrawing& t) {
             EXPECT_EQ(GdipDrawLineI(t.graphics, t.Pen(kRed), 0, 1, 5, 1), Ok);
             EXPECT_EQ(GdipDrawLine(t.graphics, t.Pen(kBlue), 6.0f, 3.0f, 6.0f, 7.0f), Ok);
         },
         {"........", "RRRRRR..", "........", "......B.", "......B.", "......B.", "......B.",
          "......B."}},
        {"clip replaces",
         [](GdiplusDrawing& t) {
             EXPECT_EQ(GdipSetClipRectI(t.graphics, 5, 5, 8, 8, CombineModeReplace), Ok);
             EXPECT_EQ(GdipSetClipRectI(t.graphics, 2, 2, 3, 2, CombineModeReplace), Ok);
             EXPECT_EQ(GdipFillRectangleI(t.graphics, t.Solid(kRed), 0, 0, 8, 8), Ok);
         },
         {"........", "........", "..RRR...", "..RRR...", "........", "........"}},
        {"clip stays in device space when the transform moves",
         [](GdiplusDrawing& t) {
             EXPECT_EQ(GdipSetClipRectI(t.graphics, 2, 2, 3, 2, CombineModeReplace), Ok);
             EXPECT_EQ(GdipTranslateWorldTransform(t.graphics, 3, 1, MatrixOrderAppend), Ok);
             EXPECT_EQ(GdipFillRectangleI(t.graphics, t.Solid(kRed), -3, -1, 8, 8), Ok);
         },
         {"........", "........", "..RRR...", "..RRR...", "........"}},
        {"clip set after a translation is taken in world coordinates",
         [](GdiplusDrawing& t) {
             EXPECT_EQ(GdipTranslateWorldTransform(t.graphics, 3, 1, MatrixOrderAppend), Ok);
             EXPECT_EQ(GdipSetClipRectI(t.graphics, 0, 0, 2, 2, CombineModeReplace), Ok);
             EXPECT_EQ(GdipFillRectangleI(t.graphics, t.Solid(kRed), -3, -1, 8, 8), Ok);
         },
         {"........", "...RR...", "...RR...", "........"}},
        {"translation",
         [](GdiplusDrawing& t) {
             EXPECT_EQ(GdipTranslateWorldTransform(t.graphics, 2, 1, MatrixOrderPrepend), Ok);
             EXPECT_EQ(GdipTranslateWorldTransform(t.graphics, 1, 0, MatrixOrderPrepend), Ok);
             EXPECT_EQ(GdipFillRectangleI(t.graphics, t.Solid(kBlue), 0, 0, 2, 2), Ok);
         },
         {"........", "...BB...", "...BB...", "........"}},
        {"alternate fill leaves the inner figure empty",
         [](GdiplusDrawing& t) {
             GpPath* path = t.Path(FillModeAlternate);
             AddNestedSquares(path);
             EXPECT_EQ(GdipFillPath(t.graphics, t.Solid(kRed), path), Ok);
         },
         {"RRRRRRRR", "RRRRRRRR", "RR....RR", "RR....RR", "RR....RR", "RR....RR", "RRRRRRRR",
          "RRRRRRRR"}},
        {"winding fill of the same figures fills everything",
         [](GdiplusDrawing& t) {
             GpPath* path = t.Path(FillModeWinding);
             AddNestedSquares(path);
             EXPECT_EQ(GdipFillPath(t.graphics, t.Solid(kRed), path), Ok);
         },
         {"RRRRRRRR", "RRRRRRRR", "RRRRRRRR", "RRRRRRRR"}},
        {"lines of a path, figures apart, a clone scaled by a matrix",
         [](GdiplusDrawing& t) {
             GpPath* path = t.Path(FillModeAlternate);
             EXPECT_EQ(GdipAddPathLine(path, 0, 0, 1, 0), Ok);
             EXPECT_EQ(GdipStartPathFigure(path), Ok);
             EXPECT_EQ(GdipAddPathLine(path, 0, 1, 1, 1), Ok);
             INT count = 0;
             EXPECT_EQ(GdipGetPointCount(path, &count), Ok);
             EXPECT_EQ(count, 4);
             GpPath* clone = nullptr;
             EXPECT_EQ(GdipClonePath(path, &clone), Ok);
             t.paths.push_back(clone);
             GpMatrix* matrix = nullptr;
             EXPECT_EQ(GdipCreateMatrix(&matrix), Ok);
             EXPECT_EQ(GdipScaleMatrix(matrix, 4, 3, MatrixOrderAppend), Ok);
             EXPECT_EQ(GdipTransformPath(clone, matrix), Ok);
             EXPECT_EQ(GdipDeleteMatrix(matrix), Ok);
             EXPECT_EQ(GdipDrawPath(t.graphics, t.Pen(kBlue), clone), Ok);
         },
         {"BBBBB...", "........", "........", "BBBBB...", "........"}},
        {"a filled closed triangle scaled up",
         [](GdiplusDrawing& t) {
             GpPath* path = t.Path(FillModeAlternate);
             const GpPointF corners[] = {{0, 0}, {2, 0}, {0, 2}};
             EXPECT_EQ(GdipAddPathLine2(path, corners, 3), Ok);
             EXPECT_EQ(GdipClosePathFigure(path), Ok);
             GpMatrix* matrix = nullptr;
             EXPECT_EQ(GdipCreateMatrix2(2, 0, 0, 2, 0, 0, &matrix), Ok);
             EXPECT_EQ(GdipTransformPath(path, matrix), Ok);
             EXPECT_EQ(GdipDeleteMatrix(matrix), Ok);
             EXPECT_EQ(GdipFillPath(t.graphics, t.Solid(kGreen), path), Ok);
         },
         {"GGG?....", "GG?.....", "G?......", "?.......", "........"}},
        {"texture brush tiles from the origin",
         [](GdiplusDrawing& t) {
             GpTexture* texture = nullptr;
             EXPECT_EQ(GdipCreateTexture(t.Quad(), WrapModeTile, &texture), Ok);
             t.brushes.push_back(texture);
             EXPECT_EQ(GdipFillRectangleI(t.graphics, texture, 1, 1, 5, 3), Ok);
         },
         {"........", ".KGKGK..", ".BRBRB..", ".KGKGK..", "........"}},
        {"texture brush of an image's area tiles that area",
         [](GdiplusDrawing& t) {
             GpTexture* texture = nullptr;
             EXPECT_EQ(GdipCreateTextureIA(t.Quad(), nullptr, 1, 0, 1, 2, &texture), Ok);
             t.brushes.push_back(texture);
             EXPECT_EQ(GdipFillRectangle(t.graphics, texture, 0, 0, 3, 4), Ok);
         },
         {"BBB.....", "KKK.....", "BBB.....", "KKK.....", "........"}},
        {"image area scaled into a float rectangle",
         [](GdiplusDrawing& t) {
             EXPECT_EQ(GdipSetInterpolationMode(t.graphics, InterpolationModeNearestNeighbor), Ok);
             EXPECT_EQ(GdipDrawImageRectRect(t.graphics, t.Quad(), 2, 1, 2, 4, 0, 1, 2, 1,
                                             UnitPixel, nullptr, nullptr, nullptr),
                       Ok);
         },
         {"........", "..GK....", "..GK....", "..GK....", "..GK....", "........"}},
        {"image at a point",
         [](GdiplusDrawing& t) { EXPECT_EQ(GdipDrawImageI(t.graphics, t.Quad(), 5, 6), Ok); },
         {"........", "........", "........", "........", "........", "........", ".....RB.",
          ".....GK."}},
        {"part of an image at a point",
         [](GdiplusDrawing& t) {
             EXPECT_EQ(GdipDrawImagePointRectI(t.graphics, t.Quad(), 3, 3, 1, 0, 1, 2, UnitPixel),
                       Ok);
         },
         {"........", "........", "........", "...B....", "...K....", "........"}},
        {"nearest-neighbour scaling doubles each pixel",
         [](GdiplusDrawing& t) {
             EXPECT_EQ(GdipSetInterpolationMode(t.graphics, InterpolationModeNearestNeighbor), Ok);
             EXPECT_EQ(GdipDrawImageRectRectI(t.graphics, t.Quad(), 1, 1, 4, 4, 0, 0, 2, 2,
                                              UnitPixel, nullptr, nullptr, nullptr),
                       Ok);
         },
         {"........", ".RRBB...", ".RRBB...", ".GGKK...", ".GGKK...", "........"}},
        {"cached bitmap",
         [](GdiplusDrawing& t) {
             GpCachedBitmap* cached = nullptr;
             EXPECT_EQ(GdipCreateCachedBitmap(t.Quad(), t.graphics, &cached), Ok);
             EXPECT_EQ(GdipDrawCachedBitmap(t.graphics, cached, 0, 0), Ok);
             EXPECT_EQ(GdipDeleteCachedBitmap(cached), Ok);
         },
         {"RB......", "GK......", "........"}},
        {"source over blends, source copy replaces",
         [](GdiplusDrawing& t) {
             EXPECT_EQ(GdipFillRectangleI(t.graphics, t.Solid(0x00FF0000u), 0, 0, 2, 1), Ok);
             EXPECT_EQ(GdipSetCompositingMode(t.graphics, CompositingModeSourceCopy), Ok);
             EXPECT_EQ(GdipFillRectangleI(t.graphics, t.Solid(0x00FF0000u), 2, 0, 2, 1), Ok);
         },
         {"..00....", "........"}},
        {"clear respects the clip",
         [](GdiplusDrawing& t) {
             EXPECT_EQ(GdipSetClipRectI(t.graphics, 0, 0, 2, 1, CombineModeReplace), Ok);
             EXPECT_EQ(GdipGraphicsClear(t.graphics, kBlue), Ok);
         },
         {"BB......", "........"}},
    };
    for (const auto& scene : scenes) {
        ASSERT_EQ(GdipResetClip(graphics), Ok);
        ASSERT_EQ(GdipResetWorldTransform(graphics), Ok);
        ASSERT_EQ(GdipSetCompositingMode(graphics, CompositingModeSourceOver), Ok);
        ASSERT_EQ(GdipSetInterpolationMode(graphics, InterpolationModeDefault), Ok);
        ASSERT_EQ(GdipGraphicsClear(graphics, GdiplusTest::kWhite), Ok);
        scene.draw(*this);
        ASSERT_EQ(GdipFlush(graphics, FlushIntentionSync), Ok);
        EXPECT_EQ(Shows(scene.picture), "") << scene.name;
    }
}

TEST_F(GdiplusDrawing, BadImageAreasAndValuesFailWithoutDrawing)
{
    GpBitmap* quad = Quad();
    GpTexture* texture = nullptr;
    struct Area
    {
        REAL x, y, width, height;
    };
    const Area areas[] = {
        {-1, 0, 1, 1}, {0, 0, 3, 1}, {1, 1, 1, 2}, {0, 0, 0, 1}, {0, 0, std::nanf(""), 1}};
    for (const Area& a : areas) {
        EXPECT_EQ(GdipCreateTextureIA(quad, nullptr, a.x, a.y, a.width, a.height, &texture),
                  InvalidParameter)
            << a.x << "," << a.y << " " << a.width << "x" << a.height;
        EXPECT_EQ(texture, nullptr);
    }
    EXPECT_EQ(GdipCreateTextureIA(nullptr, nullptr, 0, 0, 1, 1, &texture), InvalidParameter);
    EXPECT_EQ(GdipCreateTextureIA(quad, nullptr, 0, 0, 1, 1, nullptr), InvalidParameter);
    EXPECT_EQ(GdipDrawImageRectRect(graphics, quad, 0, 0, std::numeric_limits<REAL>::infinity(), 2,
                                    0, 0, 2, 2, UnitPixel, nullptr, nullptr, nullptr),
              InvalidParameter);
    EXPECT_EQ(GdipDrawImageRectRect(graphics, nullptr, 0, 0, 2, 2, 0, 0, 2, 2, UnitPixel, nullptr,
                                    nullptr, nullptr),
              InvalidParameter);
    ASSERT_EQ(GdipFlush(graphics, FlushIntentionSync), Ok);
    EXPECT_EQ(Shows({"........", "........"}), "");
}

TEST_F(GdiplusDrawing, ClipBoundsAreInWorldCoordinates)
{
    GpRect bounds{};
    ASSERT_EQ(GdipGetClipBoundsI(graphics, &bounds), Ok);
    EXPECT_LT(bounds.X, -1000000) << "unclipped";
    ASSERT_EQ(GdipSetClipRectI(graphics, 2, 2, 4, 4, CombineModeReplace), Ok);
    ASSERT_EQ(GdipSetClipRectI(graphics, 4, 0, 8, 8, CombineModeIntersect), Ok);
    ASSERT_EQ(GdipTranslateWorldTransform(graphics, 1, 1, MatrixOrderAppend), Ok);
    ASSERT_EQ(GdipGetClipBoundsI(graphics, &bounds), Ok);
    EXPECT_EQ((std::vector<INT>{bounds.X, bounds.Y, bounds.Width, bounds.Height}),
              (std::vector<INT>{3, 1, 2, 4}));
}

}  // namespace
