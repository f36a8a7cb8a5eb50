#pragma once
// The GDI+ flat API on Cairo: start-up, bitmaps (from a graphics object, from memory, from a PNG
// file), locked pixel access, graphics on bitmaps and windows, pens, brushes, paths and matrices,
// and drawing. Every call returns its status: a bad argument, a call before GdiplusStartup or a
// failure of Cairo gives a failing status and never a crash.
//
// Pixels: bitmaps are kept premultiplied (as Cairo keeps them); ARGB values in and out of the API
// are straight. A straight pixel with alpha 255 round-trips exactly; with a lower alpha each
// channel comes back within the premultiplication's rounding (at most 255 / (2 * alpha) off).
//
// Coordinates follow GDI+: the clip is kept in device space (a later change of the world
// transform does not move it); outlines of aliased drawing cover the pixels whose top-left corner
// the line passes through.
//
// Single-threaded per object, as GDI+ objects are.

#include "gdiplus/GdiplusTypes.h"

namespace Gdiplus {

GpStatus GdiplusStartup(ULONG_PTR* token, const GdiplusStartupInput* input,
                        GdiplusStartupOutput* output);
void GdiplusShutdown(ULONG_PTR token);

// Images and bitmaps.
GpStatus GdipCreateBitmapFromScan0(INT width, INT height, INT stride, PixelFormat format,
                                   BYTE* scan0, GpBitmap** bitmap);
GpStatus GdipCreateBitmapFromGraphics(INT width, INT height, GpGraphics* target, GpBitmap** bitmap);
GpStatus GdipCreateBitmapFromFile(const WCHAR* fileName, GpBitmap** bitmap);
// Reads the stream from its current position to its end; the caller keeps its reference.
GpStatus GdipCreateBitmapFromStream(IStream* stream, GpBitmap** bitmap);
GpStatus GdipDisposeImage(GpImage* image);
GpStatus GdipGetImageWidth(GpImage* image, UINT* width);
GpStatus GdipGetImageHeight(GpImage* image, UINT* height);
GpStatus GdipGetImageBounds(GpImage* image, GpRectF* bounds, GpUnit* unit);
GpStatus GdipGetImagePixelFormat(GpImage* image, PixelFormat* format);
GpStatus GdipGetImageHorizontalResolution(GpImage* image, REAL* dpi);
GpStatus GdipGetImageVerticalResolution(GpImage* image, REAL* dpi);
GpStatus GdipGetImageGraphicsContext(GpImage* image, GpGraphics** graphics);
GpStatus GdipBitmapLockBits(GpBitmap* bitmap, const GpRect* rect, UINT flags, PixelFormat format,
                            BitmapData* lockedData);
GpStatus GdipBitmapUnlockBits(GpBitmap* bitmap, BitmapData* lockedData);
GpStatus GdipBitmapGetPixel(GpBitmap* bitmap, INT x, INT y, ARGB* color);
GpStatus GdipBitmapSetPixel(GpBitmap* bitmap, INT x, INT y, ARGB color);
GpStatus GdipCloneBitmapAreaI(INT x, INT y, INT width, INT height, PixelFormat format,
                              GpBitmap* source, GpBitmap** clone);
GpStatus GdipCreateCachedBitmap(GpBitmap* bitmap, GpGraphics* graphics,
                                GpCachedBitmap** cachedBitmap);
GpStatus GdipDeleteCachedBitmap(GpCachedBitmap* cachedBitmap);

// Graphics.
GpStatus GdipCreateFromHWND(HWND window, GpGraphics** graphics);
GpStatus GdipDeleteGraphics(GpGraphics* graphics);
GpStatus GdipGraphicsClear(GpGraphics* graphics, ARGB color);
GpStatus GdipFlush(GpGraphics* graphics, GpFlushIntention intention);
GpStatus GdipGetDpiX(GpGraphics* graphics, REAL* dpi);
GpStatus GdipGetDpiY(GpGraphics* graphics, REAL* dpi);
GpStatus GdipSetClipRectI(GpGraphics* graphics, INT x, INT y, INT width, INT height,
                          CombineMode combineMode);
GpStatus GdipSetClipRect(GpGraphics* graphics, REAL x, REAL y, REAL width, REAL height,
                         CombineMode combineMode);
GpStatus GdipResetClip(GpGraphics* graphics);
GpStatus GdipGetClipBoundsI(GpGraphics* graphics, GpRect* rect);
GpStatus GdipTranslateWorldTransform(GpGraphics* graphics, REAL dx, REAL dy, GpMatrixOrder order);
GpStatus GdipResetWorldTransform(GpGraphics* graphics);
GpStatus GdipSetSmoothingMode(GpGraphics* graphics, SmoothingMode mode);
GpStatus GdipGetSmoothingMode(GpGraphics* graphics, SmoothingMode* mode);
GpStatus GdipSetInterpolationMode(GpGraphics* graphics, InterpolationMode mode);
GpStatus GdipSetCompositingMode(GpGraphics* graphics, CompositingMode mode);
// Pixels are addressed by their top-left corner whatever the mode (the high-speed placement).
GpStatus GdipSetPixelOffsetMode(GpGraphics* graphics, PixelOffsetMode mode);

// Pens and brushes.
GpStatus GdipCreatePen1(ARGB color, REAL width, GpUnit unit, GpPen** pen);
GpStatus GdipDeletePen(GpPen* pen);
GpStatus GdipCreateSolidFill(ARGB color, GpSolidFill** brush);
GpStatus GdipCreateTexture(GpImage* image, GpWrapMode wrapMode, GpTexture** texture);
// A tiling texture of the image's area (x, y, width, height), which must lie inside the image.
GpStatus GdipCreateTextureIA(GpImage* image, const GpImageAttributes* attributes, REAL x, REAL y,
                             REAL width, REAL height, GpTexture** texture);
GpStatus GdipDeleteBrush(GpBrush* brush);

// Paths and matrices.
GpStatus GdipCreatePath(GpFillMode fillMode, GpPath** path);
GpStatus GdipDeletePath(GpPath* path);
GpStatus GdipClonePath(GpPath* path, GpPath** clone);
GpStatus GdipStartPathFigure(GpPath* path);
GpStatus GdipClosePathFigure(GpPath* path);
GpStatus GdipAddPathLine(GpPath* path, REAL x1, REAL y1, REAL x2, REAL y2);
GpStatus GdipAddPathLine2(GpPath* path, const GpPointF* points, INT count);
GpStatus GdipAddPathPolygon(GpPath* path, const GpPointF* points, INT count);
GpStatus GdipGetPointCount(GpPath* path, INT* count);
GpStatus GdipTransformPath(GpPath* path, GpMatrix* matrix);
GpStatus GdipCreateMatrix(GpMatrix** matrix);
GpStatus GdipCreateMatrix2(REAL m11, REAL m12, REAL m21, REAL m22, REAL dx, REAL dy,
                           GpMatrix** matrix);
GpStatus GdipDeleteMatrix(GpMatrix* matrix);
GpStatus GdipScaleMatrix(GpMatrix* matrix, REAL scaleX, REAL scaleY, GpMatrixOrder order);
GpStatus GdipTranslateMatrix(GpMatrix* matrix, REAL offsetX, REAL offsetY, GpMatrixOrder order);

// Drawing.
GpStatus GdipFillRectangleI(GpGraphics* graphics, GpBrush* brush, INT x, INT y, INT width,
                            INT height);
GpStatus GdipFillRectangle(GpGraphics* graphics, GpBrush* brush, REAL x, REAL y, REAL width,
                           REAL height);
GpStatus GdipDrawRectangleI(GpGraphics* graphics, GpPen* pen, INT x, INT y, INT width, INT height);
GpStatus GdipDrawLine(GpGraphics* graphics, GpPen* pen, REAL x1, REAL y1, REAL x2, REAL y2);
GpStatus GdipDrawLineI(GpGraphics* graphics, GpPen* pen, INT x1, INT y1, INT x2, INT y2);
GpStatus GdipDrawPath(GpGraphics* graphics, GpPen* pen, GpPath* path);
GpStatus GdipFillPath(GpGraphics* graphics, GpBrush* brush, GpPath* path);
GpStatus GdipDrawImageI(GpGraphics* graphics, GpImage* image, INT x, INT y);
GpStatus GdipDrawImagePointRectI(GpGraphics* graphics, GpImage* image, INT x, INT y, INT srcX,
                                 INT srcY, INT srcWidth, INT srcHeight, GpUnit srcUnit);
GpStatus GdipDrawImageRectRectI(GpGraphics* graphics, GpImage* image, INT dstX, INT dstY,
                                INT dstWidth, INT dstHeight, INT srcX, INT srcY, INT srcWidth,
                                INT srcHeight, GpUnit srcUnit, const GpImageAttributes* attributes,
                                DrawImageAbort callback, void* callbackData);
GpStatus GdipDrawImageRectRect(GpGraphics* graphics, GpImage* image, REAL dstX, REAL dstY,
                               REAL dstWidth, REAL dstHeight, REAL srcX, REAL srcY, REAL srcWidth,
                               REAL srcHeight, GpUnit srcUnit, const GpImageAttributes* attributes,
                               DrawImageAbort callback, void* callbackData);
GpStatus GdipDrawCachedBitmap(GpGraphics* graphics, GpCachedBitmap* cachedBitmap, INT x, INT y);

}  // namespace Gdiplus
