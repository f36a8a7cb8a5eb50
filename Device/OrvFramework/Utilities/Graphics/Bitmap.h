#pragma once
// The user interface's images. A root bitmap owns a decoded GDI+ image; a sub-bitmap is a
// rectangular view of its root's image and shares the pixels. GetBitmap loads an image once and
// shares it through a process-wide cache keyed by its normalised name; the cache does not keep a
// bitmap alive: when only the cache holds it, it leaves the cache and is destroyed.
//
// Names: "::name" is an image resource of type "GDIPLUS" of the resource module (the rest of the
// name upper-cased, "." and " " as "_"); any other name is a file path.
//
// UI thread only: neither the cache nor a bitmap has a lock.

#include <cstdint>

#include "ObjectBase/RCPtr.h"
#include "ObjectBase/RefCountedObject.h"
#include "Utilities/Graphics/Color.h"
#include "Utilities/Graphics/PixelBuffer.h"
#include "Utilities/Storage/StringT.h"

struct IStream;
namespace Gdiplus {
struct GpBitmap;
}

namespace Orv {

class LColorizer;
class LBitmapData;

class LBitmap : public virtual LRefCountedObject
{
public:
    ~LBitmap() override;

    // Leaves the name cache when only the cache's reference would remain.
    ORVRESULT DropBackReferences() override;

    // A view of (x, y, width, height) of this bitmap, sharing the root's image; a width or height
    // of 0 or less views the whole of this bitmap. The rectangle is not checked here: reads and
    // locks outside the root image fail.
    RCPtr<LBitmap> CreateSubBitmap(int32_t x, int32_t y, int32_t width, int32_t height);
    // A new root bitmap with its own copy of this bitmap's pixels; null when they cannot be read.
    RCPtr<LBitmap> Clone() const;
    // The image backing this bitmap (the root's); null for a bitmap without one.
    Gdiplus::GpBitmap* GetGdiplusBitmap() const;
    // Colour of the pixel at (x, y) of this bitmap; all components 0 when it cannot be read (the
    // GDI+ status is kept) or lies outside this bitmap.
    ColorT GetPixelColor(int32_t x, int32_t y) const;
    // The whole root image locked as 32-bit ARGB for reading; null when it cannot be locked.
    RCPtr<LBitmapData> GetPixelData() const;

    int32_t GetX() const { return x; }
    int32_t GetY() const { return y; }
    int32_t GetWidth() const { return width; }
    int32_t GetHeight() const { return height; }
    const RCPtr<LBitmap>& GetParent() const { return parent; }
    // The name it was loaded by; empty for a bitmap made in memory and once it left the cache.
    const WideString& GetName() const { return name; }
    const WideString& GetKey() const { return key; }
    // The last failing GDI+ status of an operation on the image (0 while none failed).
    int GetLastStatus() const;

    // Tints the bitmap's own pixels towards the colorizer's colour by its alpha x amount.
    static void ApplyColorizer(const RCPtr<LBitmap>& bitmap,
                               const ConstRCPtr<LColorizer>& colorizer, float amount);
    // What a visual part draws: a tinted copy of the bitmap, or of the mask, or (with neither) a
    // bitmap of the given size filled from the colorizer. The cached bitmaps stay untouched.
    static RCPtr<LBitmap> ApplyColorizer(const ConstRCPtr<LColorizer>& colorizer, float amount,
                                         int32_t width, int32_t height,
                                         const ConstRCPtr<LBitmap>& bitmap,
                                         const ConstRCPtr<LBitmap>& mask);
    static RCPtr<LBitmap> CreateColorizedBitmap(const ConstRCPtr<LColorizer>& colorizer,
                                                float amount, int32_t width, int32_t height);
    // A bitmap of one colour that owns its pixels; null when GDI+ cannot make it.
    static RCPtr<LBitmap> CreateFilledBitmap(int32_t width, int32_t height, const ColorT& color);
    // Gradient fills are not provided: always throws.
    [[noreturn]] static RCPtr<LBitmap> CreateGradientFilledBitmap(
        int32_t width, int32_t height, const ColorT& color, const ColorT& endColor, float startX,
        float startY, float endX, float endY, bool radial);

private:
    friend RCPtr<LBitmap> GetBitmap(const WideString& name);
    friend class LBitmapData;

    // A root bitmap loaded from a name; without image when it cannot be loaded.
    LBitmap(const WideString& name, const WideString& key);
    // A root bitmap over an image it takes over.
    explicit LBitmap(Gdiplus::GpBitmap* image);
    // A view of a root bitmap.
    LBitmap(const RCPtr<LBitmap>& root, int32_t x, int32_t y, int32_t width, int32_t height);

    void LoadResource(const WideString& resourceName);
    void LoadFile(const WideString& path);
    // Width and height from the new image; a failing status discards it.
    void AdoptImage(int status);
    const LBitmap& Root() const { return parent ? *parent : *this; }
    void KeepStatus(int status) const;

    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;
    RCPtr<LBitmap> parent;
    WideString name;
    WideString key;
    Gdiplus::GpBitmap* image = nullptr;
    // The stream a resource image was read from: GDI+ may read it for as long as the image lives.
    IStream* stream = nullptr;
    mutable int status = 0;
};

// The bitmap of that name from the cache, loading it when absent; null when it cannot be loaded
// (nothing is cached then, and the next call tries again).
RCPtr<LBitmap> GetBitmap(const WideString& name);
// How many bitmaps the name cache holds, for leak checks.
int32_t GetBitmapCacheCount();

// The locked pixels of a root bitmap's whole image: 32-bit ARGB words, bytes B, G, R, A in memory.
// Unlocks and lets the bitmap go when destroyed.
class LBitmapData : public IPixelBuffer<int32_t>, public virtual LRefCountedObject
{
public:
    ~LBitmapData() override;

    int32_t GetWidth() const override;
    int32_t GetHeight() const override;
    int32_t GetRowLength() const override;
    const int32_t* GetPixelAddress(int32_t x, int32_t y) const override;
    int32_t* GetPixelAddress(int32_t x, int32_t y) override;

private:
    friend class LBitmap;
    explicit LBitmapData(const RCPtr<LBitmap>& root);
    bool IsLocked() const { return first != nullptr; }

    RCPtr<LBitmap> bitmap;
    int32_t lockWidth = 0;
    int32_t lockHeight = 0;
    int32_t stride = 0;
    int32_t format = 0;
    uint8_t* first = nullptr;
};

}  // namespace Orv
