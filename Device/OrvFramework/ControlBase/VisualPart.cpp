#include "ControlBase/VisualPart.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <new>
#include <ostream>

#include "ControlBase/Control.h"
#include "ControlBase/DockedPart.h"
#include "ControlBase/VisualPartDescriptor.h"
#include "ObjectBase/Exception.h"
#include "Renderer/Renderer.h"
#include "System/DebugOutput.h"

// The failures carry the lines by which users and logs have always known them.
#define ORV_THROW_PART_ERROR(line)                                \
    ::Orv::ThrowException(::Orv::ExceptionKind::RuntimeError, {}, \
                          ::Orv::ThrowSite{__PRETTY_FUNCTION__, ORV_THIS_FILE, (line)})

namespace Orv {

namespace {

std::atomic<int32_t> liveParts{0};

// The largest magnitude a part's size keeps as a float: beyond it floats no longer count every
// integer, and the arithmetic below would stop meaning pixels.
constexpr float kSizeLimit = 8388608.0f;
// Two sizes closer than this are the same size.
constexpr float kSameSize = 1.1920929e-6f;
// The relative tolerance of snapping to whole pixels.
constexpr float kSnapTolerance = 1.1920929e-07f;  // 2^-23

void SayOnDebugChannel(const WideString& partName, const std::string& what)
{
    *GetDebugLogTarget().narrowOutput << "Visual part \"" << partName.ToNarrow().GetText()
                                      << "\": " << what << '\n'
                                      << std::flush;
}

// Floor with a relative tolerance of 2^-23: a value a rounding error below a whole number snaps
// to that number.
int32_t SnapBelow(float value)
{
    return value >= 0.0f ? TruncateToLong(value + value * kSnapTolerance)
                         : TruncateToLong(value - (value * kSnapTolerance + 1.0f));
}

int32_t ClampToInt32(int64_t value)
{
    return static_cast<int32_t>(std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

float ClampSize(int32_t size)
{
    return std::clamp(static_cast<float>(size), -kSizeLimit, kSizeLimit);
}

}  // namespace

LVisualPart::LVisualPart(const WideString& name, const RCPtr<LBitmap>& bitmap, int32_t resizeType,
                         const ConstRCPtr<LColorizer>& colorizer, int32_t width, int32_t height,
                         float alphaModifier, const RCPtr<LBitmap>& mask)
    : name(name),
      bitmap(bitmap),
      width(bitmap ? bitmap->GetWidth() : width),
      height(bitmap ? bitmap->GetHeight() : height),
      resizeType(resizeType),
      colorizer(colorizer),
      alphaModifier(alphaModifier),
      mask(mask),
      hasSourceImage(bitmap || mask)
{
    liveParts.fetch_add(1, std::memory_order_relaxed);
    if (colorizer && (bitmap || mask || colorizer->GetColorType() != LColorizer::kSolid)) {
        Colourise();
    }
}

LVisualPart::~LVisualPart()
{
    liveParts.fetch_sub(1, std::memory_order_relaxed);
}

RCPtr<LVisualPart> LVisualPart::CreateMissingImagePart(const WideString& name, int32_t resizeType,
                                                       int32_t width, int32_t height)
{
    RCPtr<LVisualPart> part(new LVisualPart(name, RCPtr<LBitmap>(), resizeType,
                                            ConstRCPtr<LColorizer>(), width, height, 1.0f,
                                            RCPtr<LBitmap>()));
    part->missingImage = true;
    return part;
}

int32_t LVisualPart::GetLiveCount()
{
    return liveParts.load(std::memory_order_relaxed);
}

// What cannot be colourised is drawn as it is, once said: a skin read from a folder must not end
// the program while its controls are built.
void LVisualPart::Colourise()
{
    ConstRCPtr<LColorizer> tint = colorizer;
    if (bitmap && mask) {
        SayOnDebugChannel(name,
                          "an image and a mask cannot both be colourised; the image is "
                          "drawn untinted");
        return;
    }
    if (colorizer->IsTwoColourGradient()) {
        if (bitmap) {
            SayOnDebugChannel(name, "gradient fills are not drawn; the image is drawn untinted");
            return;
        }
        SayOnDebugChannel(name,
                          "gradient fills are not drawn; the part takes the gradient's "
                          "start colour");
        if (!mask) {
            return;
        }
        tint = ConstRCPtr<LColorizer>(new LColorizer(colorizer->GetName(), LColorizer::kSolid,
                                                     colorizer->GetColor(), ColorT(), 0.0f, 0.0f,
                                                     0.0f, 0.0f));
    }
    if (!bitmap && !mask && (width <= 0 || height <= 0)) {
        // A one-colour gradient without size: nothing to fill a bitmap with; it draws as a fill.
        return;
    }
    try {
        RCPtr<LBitmap> tinted =
            LBitmap::ApplyColorizer(tint, alphaModifier, width, height, ConstRCPtr<LBitmap>(bitmap),
                                    ConstRCPtr<LBitmap>(mask));
        if (tinted) {
            bitmap = tinted;
        } else {
            SayOnDebugChannel(name, "the colourised bitmap could not be made; drawn untinted");
        }
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const ExceptionBase& failure) {
        // An image rectangle outside its image cannot be copied, and a copy that cannot be locked
        // cannot be tinted.
        SayOnDebugChannel(
            name, std::string("cannot be colourised (") + failure.what() + "); drawn untinted");
    }
}

int32_t LVisualPart::Draw(const RCPtr<LRenderer>& renderer, const PointT<float>& size) const
{
    if (missingImage) {
        return 0;
    }
    const PointT<LongCoord> drawSize = size.ToLong();
    if (bitmap) {
        renderer->DrawBitmap(ConstRCPtr<LBitmap>(bitmap), {0, 0, drawSize.x, drawSize.y},
                             static_cast<ResizeType>(resizeType));
        return 0;
    }
    if (!colorizer) {
        ORV_THROW_PART_ERROR(218);
    }
    const ColorT color = GetFillColor();
    if (color.alpha > 0.0f) {
        RectT<LongCoord> area{0, 0, drawSize.x, drawSize.y};
        if (resizeType == kCenter) {
            area = {ClampToInt32((static_cast<int64_t>(drawSize.x) - width) / 2),
                    ClampToInt32((static_cast<int64_t>(drawSize.y) - height) / 2), width, height};
        }
        renderer->FillRect(area, color, true);
    }
    return 0;
}

void LVisualPart::SayOnceUnusableAsTextColor() const
{
    if (!saidUnusableAsTextColor) {
        saidUnusableAsTextColor = true;
        SayOnDebugChannel(name,
                          "label text takes its colour from a colour part only; the text "
                          "is not drawn");
    }
}

bool LVisualPart::IsColorFill() const
{
    return !missingImage && !hasSourceImage && colorizer;
}

ColorT LVisualPart::GetFillColor() const
{
    if (!colorizer) {
        return ColorT();
    }
    ColorT color = colorizer->GetColor();
    color.alpha *= alphaModifier;
    return color;
}

PackedColor LVisualPart::GetColorAtPoint(const PointT<LongCoord>& point) const
{
    if (missingImage || point.x < 0 || point.x >= width || point.y < 0 || point.y >= height) {
        return kTransparentColor;
    }
    if (bitmap) {
        return bitmap->GetPixelColor(point.x, point.y).ToPackedARGB();
    }
    if (!colorizer) {
        ORV_THROW_PART_ERROR(91);
    }
    // A gradient without a bitmap was made a fill of its start colour when the part was built.
    return GetFillColor().ToPackedARGB();
}

PackedColor LVisualPart::GetColorAtPoint(const PointT<float>& point,
                                         const PointT<float>& drawSize) const
{
    const float w = ClampSize(width);
    const float h = ClampSize(height);
    const float drawWidth = drawSize.x;
    const float drawHeight = drawSize.y;
    if (std::fabs(drawWidth - w) < kSameSize && std::fabs(drawHeight - h) < kSameSize) {
        return GetColorAtPoint(point.ToLong());
    }
    // Written so that a NaN coordinate is outside too.
    if (!(point.x >= 0.0f && point.x < drawWidth && point.y >= 0.0f && point.y < drawHeight)) {
        return kTransparentColor;
    }
    switch (resizeType) {
        case kTile: {
            const int32_t tileWidth = TruncateToLong(w + 0.5f);
            const int32_t tileHeight = TruncateToLong(h + 0.5f);
            if (tileWidth <= 0 || tileHeight <= 0) {
                return kTransparentColor;
            }
            return GetColorAtPoint(PointT<LongCoord>{TruncateToLong(point.x + 0.5f) % tileWidth,
                                                     TruncateToLong(point.y + 0.5f) % tileHeight});
        }
        case kCenter:
            return GetColorAtPoint(
                PointT<float>{point.x - (drawWidth - w) * 0.5f, point.y - (drawHeight - h) * 0.5f}
                    .ToLong());
        case kStretch: {
            const float sx = w / drawWidth;
            const float sy = h / drawHeight;
            if (drawWidth >= w && drawHeight >= h) {
                return GetColorAtPoint(
                    PointT<LongCoord>{TruncateToLong(sx * point.x), TruncateToLong(sy * point.y)});
            }
            return ColorOfStretchBlock(point.x, point.y, sx, sy, w, h);
        }
        default:
            ORV_THROW_PART_ERROR(165);
    }
}

// A drawn pixel of a shrunk part covers a block of part pixels: the first of them that is not
// transparent, column by column, else the last one read.
PackedColor LVisualPart::ColorOfStretchBlock(float x, float y, float sx, float sy, float w,
                                             float h) const
{
    const float left = std::floor(sx * x);
    const float top = std::floor(sy * y);
    // The block never reaches past the part (sx * (x + 1) <= w); clamping keeps a tiny draw size
    // from turning into a block of billions of pixels.
    const float right = std::min(left + std::max(sx, 1.0f), std::max(w, 0.0f));
    const float bottom = std::min(top + std::max(sy, 1.0f), std::max(h, 0.0f));
    const int32_t blockLeft = SnapBelow(left);
    const int32_t blockTop = SnapBelow(top);
    const int32_t blockWidth = SnapBelow(right) - blockLeft;
    const int32_t blockHeight = SnapBelow(bottom) - blockTop;
    PackedColor color = kTransparentColor;
    for (int32_t column = 0; column < blockWidth; ++column) {
        for (int32_t row = 0; row < blockHeight; ++row) {
            color = GetColorAtPoint(PointT<LongCoord>{blockLeft + column, blockTop + row});
            if (IsOpaqueAtAll(color)) {
                return color;
            }
        }
    }
    return color;
}

void LVisualPart::SetOwner(const RCPtr<LVisualPartDescriptor>& newOwner)
{
    if (owner) {
        RemoveBackReference();
    }
    owner = newOwner;
    if (owner) {
        AddBackReference();
    }
}

ORVRESULT LVisualPart::DropBackReferences()
{
    if (GetBackReferenceCount() == 0) {
        return 1;
    }
    if (!owner) {
        return 0;
    }
    if (owner->cachedPart == this) {
        // This release only counts down: the reference being released keeps the part alive.
        owner->cachedPart = nullptr;
        owner->visualPart = nullptr;
        RemoveBackReference();
    }
    return 0;
}

RCPtr<LBitmap> LoadPartImage(const ImageReference& image)
{
    const RCPtr<LBitmap> whole = GetBitmap(image.file);
    if (!whole) {
        return RCPtr<LBitmap>();
    }
    return whole->CreateSubBitmap(image.x, image.y, image.width, image.height);
}

ConstRCPtr<LVisualPart> LControl::CreateLookVisualPart(
    const WideString& name, const RCPtr<LBitmap>& bitmap, int32_t resizeType,
    const ConstRCPtr<LColorizer>& colorizer, float alphaModifier, const RCPtr<LBitmap>& mask)
{
    if (!bitmap) {
        return ConstRCPtr<LVisualPart>();
    }
    return ConstRCPtr<LVisualPart>(
        new LVisualPart(name, bitmap, resizeType, colorizer, 0, 0, alphaModifier, mask));
}

ConstRCPtr<LVisualPart> CreateColorizerVisualPart(const WideString& name,
                                                  const ConstRCPtr<LColorizer>& colorizer,
                                                  int32_t width, int32_t height, int32_t resizeType,
                                                  float alphaModifier, const RCPtr<LBitmap>& mask)
{
    if (!colorizer) {
        return ConstRCPtr<LVisualPart>();
    }
    return ConstRCPtr<LVisualPart>(new LVisualPart(name, RCPtr<LBitmap>(), resizeType, colorizer,
                                                   width, height, alphaModifier, mask));
}

ConstRCPtr<LVisualPart> LVisualPartDescriptor::GetVisualPart()
{
    if (cachedPart != nullptr) {
        return ConstRCPtr<LVisualPart>(cachedPart);
    }
    // A named image or mask that does not load leaves a part of this size that shows nothing:
    // drawing its colour alone would show a shape the skin never meant.
    WideString missing;
    RCPtr<LBitmap> maskBitmap;
    if (!mask.file.IsEmpty()) {
        maskBitmap = LoadPartImage(mask);
        if (!maskBitmap) {
            missing = mask.file;
        }
    }
    ConstRCPtr<LVisualPart> part;
    if (!image.file.IsEmpty()) {
        const RCPtr<LBitmap> bitmap = LoadPartImage(image);
        if (!bitmap) {
            missing = image.file;
        } else if (missing.IsEmpty()) {
            part = LControl::CreateLookVisualPart(name, bitmap, resizeType,
                                                  ConstRCPtr<LColorizer>(colorizer),
                                                  colorizerAlphaMod, maskBitmap);
        }
    } else if (missing.IsEmpty()) {
        part = CreateColorizerVisualPart(name, ConstRCPtr<LColorizer>(colorizer), width, height,
                                         resizeType, colorizerAlphaMod, maskBitmap);
    }
    RCPtr<LVisualPart> built;
    if (part) {
        // Only the descriptor that builds a part sets its owner; the part is not shared yet.
        built = RCPtr<LVisualPart>(const_cast<LVisualPart*>(part.Get()));
    } else {
        if (!missing.IsEmpty()) {
            SayOnDebugChannel(name, "image \"" + std::string(missing.ToNarrow().GetText()) +
                                        "\" did not load; the part draws nothing");
        } else {
            SayOnDebugChannel(name, "has neither an image nor a colorizer; it draws nothing");
        }
        built = LVisualPart::CreateMissingImagePart(name, resizeType, width, height);
    }
    built->SetOwner(RCPtr<LVisualPartDescriptor>(this));
    visualPart = ConstRCPtr<LRefCountedObject>(static_cast<const LRefCountedObject*>(built.Get()));
    cachedPart = built.Get();
    return built;
}

ConstRCPtr<LVisualPart> GetVisualPart(const LDockedPart& dockedPart)
{
    if (!dockedPart.part) {
        return ConstRCPtr<LVisualPart>();
    }
    return dockedPart.part->GetVisualPart();
}

}  // namespace Orv
