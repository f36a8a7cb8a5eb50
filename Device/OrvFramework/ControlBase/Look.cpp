#include "ControlBase/Look.h"

#include <algorithm>
#include <atomic>
#include <limits>

#include "ControlBase/Control.h"
#include "Renderer/Renderer.h"

namespace Orv {

namespace {

std::atomic<int32_t> liveLooks{0};

int32_t ClampToInt32(int64_t value)
{
    return static_cast<int32_t>(std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

RectT<LongCoord> MakeRect(int64_t left, int64_t top, int64_t right, int64_t bottom)
{
    return {ClampToInt32(left), ClampToInt32(top), ClampToInt32(right - left),
            ClampToInt32(bottom - top)};
}

PointT<float> ToFloat(int64_t x, int64_t y)
{
    return {static_cast<float>(x), static_cast<float>(y)};
}

}  // namespace

LLook::LLook()
{
    liveLooks.fetch_add(1, std::memory_order_relaxed);
}

LLook::~LLook()
{
    liveLooks.fetch_sub(1, std::memory_order_relaxed);
}

int32_t LLook::GetLiveCount()
{
    return liveLooks.load(std::memory_order_relaxed);
}

RCPtr<LLook> LLook::Create(const RCPtr<LLookDescriptor>& descriptor, bool wordWrap)
{
    RCPtr<LLook> look(new LLook());
    look->SetDescriptor(descriptor, wordWrap);
    return look;
}

ORVRESULT LLook::SetDescriptor(const RCPtr<LLookDescriptor>& newDescriptor, bool wordWrap)
{
    descriptor = newDescriptor;
    textForegroundPart = nullptr;
    clientPart = nullptr;
    partRects.clear();
    parts.clear();
    if (!descriptor) {
        textBlock = nullptr;
    } else {
        if (descriptor->textForegroundPart) {
            textForegroundPart = descriptor->textForegroundPart->GetVisualPart();
        }
        if (descriptor->hasTextProperties) {
            if (!textBlock) {
                textBlock = RCPtr<LFontText>(new LFontText(WideString(), ConstRCPtr<LFont>()));
            }
            bool changed = false;
            if (textBlock->GetWrap() != wordWrap) {
                textBlock->SetWrap(wordWrap);
                changed = true;
            }
            if (textBlock->GetHorizontalAlignment() != descriptor->text.textHAlign) {
                textBlock->SetHorizontalAlignment(descriptor->text.textHAlign);
                changed = true;
            }
            if (textBlock->GetVerticalAlignment() != descriptor->text.textVAlign) {
                textBlock->SetVerticalAlignment(descriptor->text.textVAlign);
                changed = true;
            }
            if (changed) {
                textBlock->Invalidate();
            }
        } else {
            textBlock = nullptr;
        }
        if (descriptor->clientPart) {
            clientPart = GetVisualPart(*descriptor->clientPart);
        }
        // Unplaced until the next layout: a look of size 0 x 0 keeps them so.
        const size_t count = descriptor->nonClientParts.GetCount();
        partRects.resize(count, RectT<LongCoord>{});
        parts.resize(count);
    }
    const PointT<LongCoord> remembered{width, height};
    width = 0;
    height = 0;
    SetSize(remembered);
    return 0;
}

bool LLook::SetSize(const PointT<LongCoord>& size)
{
    if (size.x == width && size.y == height) {
        return true;
    }
    width = size.x;
    height = size.y;
    LayOutClientPart();
    for (size_t index = 0; index < partRects.size(); ++index) {
        LayOutNonClientPart(index);
    }
    LayOutTextBox();
    stencil = nullptr;
    return true;
}

void LLook::LayOutClientPart()
{
    const int64_t w = std::max<int64_t>(width, 0);
    const int64_t h = std::max<int64_t>(height, 0);
    if (!descriptor || !descriptor->clientPart) {
        clientRect = {0, 0, static_cast<int32_t>(w), static_cast<int32_t>(h)};
        return;
    }
    const DockedPlacement& placement = descriptor->clientPart->placement;
    const int64_t x = std::clamp<int64_t>(placement.offsetLeft, 0, w);
    const int64_t y = std::clamp<int64_t>(placement.offsetTop, 0, h);
    const int64_t clientWidth = std::clamp<int64_t>(w + placement.offsetRight - x, 0, w - x);
    const int64_t clientHeight = std::clamp<int64_t>(h + placement.offsetBottom - y, 0, h - y);
    clientRect = {static_cast<int32_t>(x), static_cast<int32_t>(y),
                  static_cast<int32_t>(clientWidth), static_cast<int32_t>(clientHeight)};
}

void LLook::LayOutNonClientPart(size_t index)
{
    const RCPtr<LDockedPart>& docked = descriptor->nonClientParts.GetData()[index];
    if (!docked) {
        partRects[index] = {};
        parts[index] = nullptr;
        return;
    }
    parts[index] = GetVisualPart(*docked);
    const DockedPlacement& placement = docked->placement;
    const int32_t mask = placement.offsetMask;
    const int64_t partWidth =
        placement.hasWidth ? placement.width : (parts[index] ? parts[index]->GetWidth() : 0);
    const int64_t partHeight =
        placement.hasHeight ? placement.height : (parts[index] ? parts[index]->GetHeight() : 0);
    const bool hasLeft = (mask & kOffsetLeftGiven) != 0;
    const bool hasTop = (mask & kOffsetTopGiven) != 0;
    const bool hasRight = (mask & kOffsetRightGiven) != 0;
    const bool hasBottom = (mask & kOffsetBottomGiven) != 0;
    // In 64 bits: offsets and sizes from a skin are any int32, and their sums must not wrap.
    int64_t left = hasLeft ? placement.offsetLeft : 0;
    int64_t top = hasTop ? placement.offsetTop : 0;
    int64_t right = hasRight ? int64_t{width} + placement.offsetRight : width;
    int64_t bottom = hasBottom ? int64_t{height} + placement.offsetBottom : height;
    if (!hasLeft) {
        left = right - partWidth;
    }
    if (!hasTop) {
        top = bottom - partHeight;
    }
    if (!hasRight) {
        right = left + partWidth;
    }
    if (!hasBottom) {
        bottom = top + partHeight;
    }
    if (!hasLeft && !hasRight) {
        left = (int64_t{width} - partWidth) / 2;
        right = left + partWidth;
    }
    if (!hasTop && !hasBottom) {
        top = (int64_t{height} - partHeight) / 2;
        bottom = top + partHeight;
    }
    partRects[index] = MakeRect(left, top, right, bottom);
}

void LLook::LayOutTextBox()
{
    if (!textBlock || !descriptor) {
        return;
    }
    const TextProperties& text = descriptor->text;
    const float w = static_cast<float>(width);
    const float h = static_cast<float>(height);
    const float left = static_cast<float>(text.textLeftAbs) + text.textLeftRel * w;
    const float right = static_cast<float>(text.textRightAbs) + text.textRightRel * w;
    const float top = static_cast<float>(text.textTopAbs) + text.textTopRel * h;
    const float bottom = static_cast<float>(text.textBottomAbs) + text.textBottomRel * h;
    // Rounded and truncated with saturation: a skin's values may lie far outside any window.
    const PointT<LongCoord> box = PointT<float>{right - left, bottom - top}.ToLong();
    if (box.x != textBlock->GetBoxWidth() || box.y != textBlock->GetBoxHeight()) {
        textBlock->SetBoxSize(box.x, box.y);
        textBlock->Invalidate();
    }
    textX = TruncateToLong(left);
    textY = TruncateToLong(top);
}

void LLook::CollectDrawRects(const RCPtr<LRenderer>& renderer, const RectRegion& dirty,
                             std::vector<RectT<double>>& out) const
{
    out.clear();
    const RenderState* state = renderer ? renderer->GetCurrentState() : nullptr;
    const PointT<double> offset = state ? state->GetOffset() : PointT<double>{};
    const RectRegion* source = &dirty;
    RectRegion limited;
    if (!region.IsEmpty()) {
        limited = region;
        const PointT<LongCoord> shift = offset.ToLong();
        limited.Offset(shift.x, shift.y);
        limited.Intersect(dirty);
        limited.Normalize();
        source = &limited;
    }
    for (const RectNode* node = source->GetFirst(); node != nullptr; node = node->next) {
        out.push_back({static_cast<double>(node->left) - offset.x,
                       static_cast<double>(node->top) - offset.y,
                       static_cast<double>(node->right) - static_cast<double>(node->left),
                       static_cast<double>(node->bottom) - static_cast<double>(node->top)});
    }
}

namespace {

// Where a drawing step must run: the part of the dirty rectangle inside the step's frame, when
// that is an area and lies within the renderer's clip.
bool StepArea(const RCPtr<LRenderer>& renderer, const RectT<double>& dirtyRect,
              const RectT<double>& frame, RectT<double>& area)
{
    if (!RectT<double>::Intersect(area, dirtyRect, frame)) {
        return false;
    }
    const RenderState* state = renderer->GetCurrentState();
    if (state == nullptr) {
        return true;
    }
    RectT<double> visible;
    return RectT<double>::Intersect(visible, area, state->GetClipRect());
}

void DrawPartStep(const RCPtr<LRenderer>& renderer, const RectT<double>& frame,
                  const RectT<double>& area, const ConstRCPtr<LStencil>& stencil,
                  const LVisualPart* first, const LVisualPart* second)
{
    CAutoClip clip(renderer, frame, area, stencil);
    const PointT<float> size{static_cast<float>(frame.width), static_cast<float>(frame.height)};
    if (first != nullptr) {
        first->Draw(renderer, size);
    }
    if (second != nullptr) {
        second->Draw(renderer, size);
    }
}

}  // namespace

int32_t LLook::DrawNonClientParts(const RCPtr<LRenderer>& renderer, const RectRegion& dirty)
{
    std::vector<RectT<double>> rects;
    CollectDrawRects(renderer, dirty, rects);
    for (size_t index = 0; index < parts.size(); ++index) {
        if (!parts[index]) {
            continue;
        }
        const RectT<double> frame = partRects[index].ToDouble();
        for (const RectT<double>& dirtyRect : rects) {
            RectT<double> area;
            if (StepArea(renderer, dirtyRect, frame, area)) {
                DrawPartStep(renderer, frame, area, ConstRCPtr<LStencil>(), parts[index].Get(),
                             nullptr);
            }
        }
    }
    return 0;
}

int32_t LLook::DrawClientPart(const RCPtr<LRenderer>& renderer, const RectRegion& dirty)
{
    const LVisualPart* client = (overlay && overlayReplacesClient) ? nullptr : clientPart.Get();
    if (client == nullptr && !overlay) {
        return 0;
    }
    std::vector<RectT<double>> rects;
    CollectDrawRects(renderer, dirty, rects);
    const RectT<double> frame = clientRect.ToDouble();
    for (const RectT<double>& dirtyRect : rects) {
        RectT<double> area;
        if (StepArea(renderer, dirtyRect, frame, area)) {
            DrawPartStep(renderer, frame, area, stencil, client, overlay.Get());
        }
    }
    return 0;
}

int32_t LLook::DrawLabelText(const RCPtr<LRenderer>& renderer, const RectRegion& dirty,
                             const PointT<double>& textOrigin)
{
    if (!textBlock) {
        return 1;
    }
    std::vector<RectT<double>> rects;
    CollectDrawRects(renderer, dirty, rects);
    const RectT<double> textBox =
        RectT<LongCoord>{textX, textY, textBlock->GetBoxWidth(), textBlock->GetBoxHeight()}
            .ToDouble();
    const RectT<double> whole = RectT<LongCoord>{0, 0, width, height}.ToDouble();
    for (const RectT<double>& dirtyRect : rects) {
        RectT<double> area;
        if (!StepArea(renderer, dirtyRect, textBox, area)) {
            continue;
        }
        CAutoClip lookClip(renderer, whole, area, stencil);
        // Only a colour part gives the label a colour; an image cannot (gradients were made
        // their start colour when the part was built).
        if (!textForegroundPart || textForegroundPart->IsMissingImage()) {
            continue;
        }
        if (!textForegroundPart->IsColorFill()) {
            if (textForegroundPart->GetBitmap()) {
                textForegroundPart->SayOnceUnusableAsTextColor();
            }
            continue;
        }
        const ColorT color =
            ColorT::FromPackedARGB(textForegroundPart->GetColorAtPoint(PointT<LongCoord>{0, 0}));
        CAutoClip boxClip(renderer, textBox, textBox, ConstRCPtr<LStencil>());
        const int32_t count = textBlock->GetLineCount();
        for (int32_t line = 0; line < count; ++line) {
            const RectT<float> lineRect = textBlock->GetLineRect(line);
            const PointT<LongCoord> origin =
                PointT<double>{static_cast<double>(lineRect.x) - textOrigin.x,
                               static_cast<double>(lineRect.y) - textOrigin.y}
                    .ToLong();
            renderer->DrawText(textBlock->GetLines().GetAt(static_cast<uint32_t>(line)),
                               textBlock->GetFont(), origin, color);
        }
    }
    return 0;
}

PackedColor LLook::GetColorAtPoint(const PointT<LongCoord>& point) const
{
    auto colorIn = [&point](const LVisualPart& part, const RectT<LongCoord>& rect) {
        return part.GetColorAtPoint(ToFloat(int64_t{point.x} - rect.x, int64_t{point.y} - rect.y),
                                    ToFloat(rect.width, rect.height));
    };
    for (size_t index = 0; index < parts.size(); ++index) {
        if (!parts[index]) {
            continue;
        }
        const PackedColor color = colorIn(*parts[index], partRects[index]);
        if (IsOpaqueAtAll(color)) {
            return color;
        }
    }
    if (overlay) {
        const PackedColor color = colorIn(*overlay, clientRect);
        if (IsOpaqueAtAll(color)) {
            return color;
        }
    }
    if (clientPart) {
        return colorIn(*clientPart, clientRect);
    }
    return kTransparentColor;
}

bool LLook::SetText(const WideString& text)
{
    return textBlock ? textBlock->SetText(text) : true;
}

bool LLook::SetFont(const ConstRCPtr<LFont>& font)
{
    return textBlock ? textBlock->SetFont(font) : true;
}

bool LLook::SetOverlayBitmap(const RCPtr<LBitmap>& bitmap, int32_t resizeType, bool replacesClient)
{
    if (bitmap) {
        overlay = LControl::CreateLookVisualPart(WideString(), bitmap, resizeType,
                                                 ConstRCPtr<LColorizer>(), 1.0f, RCPtr<LBitmap>());
        overlayReplacesClient = replacesClient;
        return false;
    }
    if (overlay) {
        overlay = nullptr;
        return false;
    }
    return true;
}

}  // namespace Orv
