// The appearance vocabulary of a skin: colorizers, parts, looks and look lists. A required
// attribute missing skips its element; an unknown name skips the reference; the first
// definition of a name wins.

#include "ControlBase/ControlFactory.h"

namespace Orv {

namespace {

template <class T>
RCPtr<T> FindIn(const std::map<WideString, RCPtr<T>>& map, const WideString& name)
{
    const auto found = map.find(name);
    return found != map.end() ? found->second : RCPtr<T>();
}

int32_t ResizeTypeOf(const WideString& text)
{
    if (text == u"Tile") {
        return LVisualPartDescriptor::kTile;
    }
    if (text == u"Center") {
        return LVisualPartDescriptor::kCenter;
    }
    return LVisualPartDescriptor::kStretch;
}

int32_t ColorTypeOf(const WideString& text)
{
    if (text == u"LinearGradient") {
        return LColorizer::kLinearGradient;
    }
    if (text == u"RadialGradient") {
        return LColorizer::kRadialGradient;
    }
    return LColorizer::kSolid;
}

}  // namespace

RCPtr<LColorizer> LControlFactory::FindColorizer(const WideString& name) const
{
    return FindIn(colorizers, name);
}

RCPtr<LVisualPartDescriptor> LControlFactory::FindPart(const WideString& name) const
{
    return FindIn(parts, name);
}

RCPtr<LLookDescriptor> LControlFactory::FindLook(const WideString& name) const
{
    return FindIn(looks, name);
}

RCPtr<LookList> LControlFactory::FindLookList(const WideString& name) const
{
    return FindIn(lookLists, name);
}

void LControlFactory::OnLookList(const XmlAttributes& attributes)
{
    WideString name;
    int32_t count = 0;
    if (!ReadStringAttribute(attributes, u"Name", name) ||
        !ReadIntAttribute(attributes, u"NumLooks", count) || count < 0 ||
        count > kMaxLooksPerList) {
        // The Look entries inside must not fill whichever list came before.
        currentLookList = nullptr;
        return;
    }
    if (RCPtr<LookList> existing = FindLookList(name)) {
        if (currentControl && currentControl->skin) {
            currentControl->skin->lookList = existing;
        }
        currentLookList = nullptr;
        return;
    }
    RCPtr<LookList> list(new LookList(static_cast<uint32_t>(count)));
    lookLists.emplace(name, list);
    currentLookList = list;
    if (currentControl && currentControl->skin) {
        currentControl->skin->lookList = list;
    }
}

void LControlFactory::OnLookLists(const XmlAttributes&)
{
    currentControl = nullptr;
}

void LControlFactory::OnLook(const XmlAttributes& attributes)
{
    WideString name;
    if (!ReadStringAttribute(attributes, u"Name", name)) {
        return;
    }
    if (inLooks) {
        RCPtr<LLookDescriptor> look(new LLookDescriptor(name));
        currentLook = look;
        looks.try_emplace(name, look);
        return;
    }
    int32_t index = 0;
    if (!ReadIntegerAttribute(attributes, u"Index", index) || !currentLookList) {
        return;
    }
    RCPtr<LLookDescriptor> look = FindLook(name);
    if (!look || index < 0 || static_cast<uint32_t>(index) >= currentLookList->GetCount()) {
        return;
    }
    currentLookList->GetData()[index] = look;
}

void LControlFactory::OnLooks(const XmlAttributes&)
{
    inLooks = true;
}

void LControlFactory::OnClientPart(const XmlAttributes& attributes)
{
    WideString name;
    DockedPlacement placement;
    if (!ReadStringAttribute(attributes, u"Name", name) ||
        !ReadIntAttribute(attributes, u"OffsetLeft", placement.offsetLeft) ||
        !ReadIntAttribute(attributes, u"OffsetTop", placement.offsetTop) ||
        !ReadIntAttribute(attributes, u"OffsetRight", placement.offsetRight) ||
        !ReadIntAttribute(attributes, u"OffsetBottom", placement.offsetBottom)) {
        return;
    }
    RCPtr<LVisualPartDescriptor> part = FindPart(name);
    if (!part || !currentLook) {
        return;
    }
    placement.offsetMask = kAllOffsetsGiven;
    currentLook->SetClientPart(RCPtr<LDockedPart>(new LDockedPart(part, placement)));
}

void LControlFactory::OnTextProperties(const XmlAttributes& attributes)
{
    TextProperties text;
    WideString foreground;
    if (!ReadFloatAttribute(attributes, u"TextLeftRel", text.textLeftRel) ||
        !ReadIntAttribute(attributes, u"TextLeftAbs", text.textLeftAbs) ||
        !ReadFloatAttribute(attributes, u"TextRightRel", text.textRightRel) ||
        !ReadIntAttribute(attributes, u"TextRightAbs", text.textRightAbs) ||
        !ReadFloatAttribute(attributes, u"TextHAlign", text.textHAlign) ||
        !ReadFloatAttribute(attributes, u"TextTopRel", text.textTopRel) ||
        !ReadIntAttribute(attributes, u"TextTopAbs", text.textTopAbs) ||
        !ReadFloatAttribute(attributes, u"TextBottomRel", text.textBottomRel) ||
        !ReadIntAttribute(attributes, u"TextBottomAbs", text.textBottomAbs) ||
        !ReadFloatAttribute(attributes, u"TextVAlign", text.textVAlign) ||
        !ReadStringAttribute(attributes, u"TextForegroundPart", foreground)) {
        return;
    }
    RCPtr<LVisualPartDescriptor> part = FindPart(foreground);
    if (!part || !currentLook) {
        return;
    }
    currentLook->SetTextProperties(text, part);
}

void LControlFactory::OnNonClientPart(const XmlAttributes& attributes)
{
    WideString name;
    if (!ReadStringAttribute(attributes, u"Name", name)) {
        return;
    }
    RCPtr<LVisualPartDescriptor> part = FindPart(name);
    if (!part || !currentLook) {
        return;
    }
    DockedPlacement placement;
    const struct
    {
        const char16_t* attribute;
        int32_t* offset;
        int32_t given;
    } offsets[] = {
        {u"OffsetLeft", &placement.offsetLeft, kOffsetLeftGiven},
        {u"OffsetTop", &placement.offsetTop, kOffsetTopGiven},
        {u"OffsetRight", &placement.offsetRight, kOffsetRightGiven},
        {u"OffsetBottom", &placement.offsetBottom, kOffsetBottomGiven},
    };
    for (const auto& offset : offsets) {
        if (ReadIntAttribute(attributes, offset.attribute, *offset.offset)) {
            placement.offsetMask |= offset.given;
        }
    }
    ReadIntAttribute(attributes, u"Width", placement.width);
    ReadIntAttribute(attributes, u"Height", placement.height);
    placement.hasWidth = placement.width > 0;
    placement.hasHeight = placement.height > 0;
    currentLook->nonClientParts.AddItem(RCPtr<LDockedPart>(new LDockedPart(part, placement)));
}

void LControlFactory::OnPart(const XmlAttributes& attributes)
{
    WideString name;
    int32_t width = 0;
    int32_t height = 0;
    WideString resize;
    if (!ReadStringAttribute(attributes, u"Name", name) ||
        !ReadIntAttribute(attributes, u"Width", width) ||
        !ReadIntAttribute(attributes, u"Height", height) ||
        !ReadStringAttribute(attributes, u"ResizeType", resize)) {
        return;
    }
    ImageReference image;
    WideString imageFile;
    if (ReadStringAttribute(attributes, u"ImageFile", imageFile) && !imageFile.IsEmpty() &&
        ReadIntAttribute(attributes, u"ImageLocX", image.x) &&
        ReadIntAttribute(attributes, u"ImageLocY", image.y)) {
        image.file = basePath + imageFile.ToLower();
        image.width = width;
        image.height = height;
    } else {
        image = ImageReference();
    }
    RCPtr<LColorizer> colorizer;
    WideString colorizerName;
    if (ReadStringAttribute(attributes, u"ColorizerName", colorizerName)) {
        colorizer = FindColorizer(colorizerName);
    }
    if (image.file.IsEmpty() && !colorizer) {
        return;
    }
    float alpha = 1;
    ReadFloatAttribute(attributes, u"ColorizerAlphaMod", alpha);
    ImageReference mask;
    WideString maskFile;
    if (ReadStringAttribute(attributes, u"ColorizerMaskFile", maskFile) &&
        ReadIntAttribute(attributes, u"MaskLocX", mask.x) &&
        ReadIntAttribute(attributes, u"MaskLocY", mask.y)) {
        mask.file = basePath + maskFile;
        mask.width = width;
        mask.height = height;
    } else {
        mask = ImageReference();
    }
    if (parts.count(name) != 0) {
        return;
    }
    parts.emplace(name,
                  RCPtr<LVisualPartDescriptor>(new LVisualPartDescriptor(
                      name, image, ResizeTypeOf(resize), colorizer, width, height, alpha, mask)));
}

void LControlFactory::OnColorizer(const XmlAttributes& attributes)
{
    WideString name;
    WideString type;
    ColorT color;
    if (!ReadStringAttribute(attributes, u"Name", name) ||
        !ReadStringAttribute(attributes, u"ColorType", type) ||
        !ReadColorAttribute(attributes, u"Color", color)) {
        return;
    }
    int32_t colorType = ColorTypeOf(type);
    ColorT endColor;
    float points[4] = {0, 0, 0, 0};
    if (colorType != LColorizer::kSolid) {
        static const char16_t* const kPointAttributes[] = {u"GradientStartX", u"GradientStartY",
                                                           u"GradientEndX", u"GradientEndY"};
        // Read in order up to the first one missing; a gradient given whole is kept as a
        // plain fill of its first colour (gradient fills are not drawn).
        bool complete = ReadColorAttribute(attributes, u"GradientEndColor", endColor);
        for (int index = 0; complete && index < 4; ++index) {
            complete = ReadFloatAttribute(attributes, kPointAttributes[index], points[index]);
        }
        if (complete) {
            colorType = LColorizer::kSolid;
            endColor = ColorT();
            for (float& point : points) {
                point = 0;
            }
        }
    }
    colorizers.try_emplace(
        name, RCPtr<LColorizer>(new LColorizer(name, colorType, color, endColor, points[0],
                                               points[1], points[2], points[3])));
}

}  // namespace Orv
