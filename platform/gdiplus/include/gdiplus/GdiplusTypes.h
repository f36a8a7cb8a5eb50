#pragma once
// The values of the GDI+ flat API as the panel uses them: status codes, pixel formats, modes and
// the small records the calls take. Written from the calls the panel makes.

#include <cstdint>

#include "win32/GlobalMemory.h"
#include "win32/Types.h"
#include "win32/Window.h"

namespace Gdiplus {

enum GpStatus : int
{
    Ok = 0,
    GenericError = 1,
    InvalidParameter = 2,
    OutOfMemory = 3,
    ObjectBusy = 4,
    InsufficientBuffer = 5,
    NotImplemented = 6,
    Win32Error = 7,
    WrongState = 8,
    Aborted = 9,
    FileNotFound = 10,
    ValueOverflow = 11,
    AccessDenied = 12,
    UnknownImageFormat = 13,
    FontFamilyNotFound = 14,
    FontStyleNotFound = 15,
    NotTrueTypeFont = 16,
    UnsupportedGdiplusVersion = 17,
    GdiplusNotInitialized = 18,
    PropertyNotFound = 19,
    PropertyNotSupported = 20,
};
using Status = GpStatus;

using ARGB = uint32_t;  // 0xAARRGGBB, straight alpha
using REAL = float;

using PixelFormat = int32_t;
inline constexpr PixelFormat PixelFormat32bppRGB = 0x00022009;
inline constexpr PixelFormat PixelFormat32bppARGB = 0x0026200A;   // straight alpha
inline constexpr PixelFormat PixelFormat32bppPARGB = 0x000E200B;  // premultiplied alpha

struct GpPoint
{
    INT X;
    INT Y;
};
struct GpPointF
{
    REAL X;
    REAL Y;
};
struct GpRect
{
    INT X;
    INT Y;
    INT Width;
    INT Height;
};
struct GpRectF
{
    REAL X;
    REAL Y;
    REAL Width;
    REAL Height;
};

enum ImageLockMode : UINT
{
    ImageLockModeRead = 1,
    ImageLockModeWrite = 2,
    ImageLockModeUserInputBuf = 4,
};

struct BitmapData
{
    UINT Width;
    UINT Height;
    INT Stride;  // bytes
    Gdiplus::PixelFormat PixelFormat;
    void* Scan0;
    UINT_PTR Reserved;
};

enum GpUnit : int
{
    UnitWorld = 0,
    UnitDisplay = 1,
    UnitPixel = 2,
    UnitPoint = 3,
    UnitInch = 4,
    UnitDocument = 5,
    UnitMillimeter = 6,
};
using Unit = GpUnit;

enum GpFillMode : int
{
    FillModeAlternate = 0,
    FillModeWinding = 1,
};
using FillMode = GpFillMode;

enum SmoothingMode : int
{
    SmoothingModeInvalid = -1,
    SmoothingModeDefault = 0,
    SmoothingModeHighSpeed = 1,
    SmoothingModeHighQuality = 2,
    SmoothingModeNone = 3,
    SmoothingModeAntiAlias = 4,
};

enum InterpolationMode : int
{
    InterpolationModeInvalid = -1,
    InterpolationModeDefault = 0,
    InterpolationModeLowQuality = 1,
    InterpolationModeHighQuality = 2,
    InterpolationModeBilinear = 3,
    InterpolationModeBicubic = 4,
    InterpolationModeNearestNeighbor = 5,
    InterpolationModeHighQualityBilinear = 6,
    InterpolationModeHighQualityBicubic = 7,
};

enum PixelOffsetMode : int
{
    PixelOffsetModeInvalid = -1,
    PixelOffsetModeDefault = 0,
    PixelOffsetModeHighSpeed = 1,
    PixelOffsetModeHighQuality = 2,
    PixelOffsetModeNone = 3,
    PixelOffsetModeHalf = 4,
};

enum CompositingMode : int
{
    CompositingModeSourceOver = 0,
    CompositingModeSourceCopy = 1,
};

enum GpWrapMode : int
{
    WrapModeTile = 0,
    WrapModeTileFlipX = 1,
    WrapModeTileFlipY = 2,
    WrapModeTileFlipXY = 3,
    WrapModeClamp = 4,
};
using WrapMode = GpWrapMode;

enum CombineMode : int
{
    CombineModeReplace = 0,
    CombineModeIntersect = 1,
};

enum GpMatrixOrder : int
{
    MatrixOrderPrepend = 0,
    MatrixOrderAppend = 1,
};
using MatrixOrder = GpMatrixOrder;

enum GpFlushIntention : int
{
    FlushIntentionFlush = 0,
    FlushIntentionSync = 1,
};
using FlushIntention = GpFlushIntention;

struct GdiplusStartupInput
{
    uint32_t GdiplusVersion = 1;
    void* DebugEventCallback = nullptr;
    BOOL SuppressBackgroundThread = FALSE;
    BOOL SuppressExternalCodecs = FALSE;
};

struct GdiplusStartupOutput
{
    void* NotificationHook;
    void* NotificationUnhook;
};

// The objects of the API; callers hold pointers only. A bitmap is an image, and solid and texture
// brushes are brushes, so the pointers convert as callers expect; the layer defines the rest.
struct GpImage
{
    virtual ~GpImage() = default;

protected:
    GpImage() = default;
};
struct GpBitmap : GpImage
{
};
struct GpBrush
{
    virtual ~GpBrush() = default;

protected:
    GpBrush() = default;
};
struct GpSolidFill : GpBrush
{
};
struct GpTexture : GpBrush
{
};
struct GpGraphics;
struct GpCachedBitmap;
struct GpPen;
struct GpPath;
struct GpMatrix;
struct GpImageAttributes;

using DrawImageAbort = BOOL (*)(void* data);

}  // namespace Gdiplus
