// The control-tree vocabulary of a skin: Skin, SubControl with its layout and font attributes,
// fonts per locale and create parameters.

#include <algorithm>
#include <iterator>

#include "ControlBase/ControlFactory.h"
#include "ObjectBase/Exception.h"

namespace Orv {

namespace {

const char16_t kApplicationClass[] = u"Application";

int32_t PositionReferenceOf(const WideString& text, WideString& name)
{
    if (text == u"Parent" || text == u"Screen") {
        return kPositionToParent;
    }
    if (text == u"Client" || text == u"Active Window") {
        return kPositionToClient;
    }
    name = text;
    return kPositionToNamed;
}

int32_t SizeReferenceOf(const WideString& text, WideString& name)
{
    if (text == u"Parent" || text == u"Screen") {
        return kSizeToParent;
    }
    if (text == u"Client" || text == u"Active Window") {
        return kSizeToClient;
    }
    if (text == u"Self") {
        return kSizeToSelf;
    }
    name = text;
    return kSizeToNamed;
}

void ReadPosition(LayoutPosition& position, const WideString& text)
{
    position.toControl = PositionReferenceOf(text, position.toControlName);
}

void ReadSize(LayoutSize& size, const WideString& text)
{
    size.toControl = SizeReferenceOf(text, size.toControlName);
}

void ReadLimit(LayoutLimit& limit, const WideString& text)
{
    limit.toControl = !(text == u"Self");
    if (limit.toControl) {
        limit.toControlName = text;
    }
}

void ReadOverflowX(int32_t& type, const WideString& text)
{
    if (text == u"Clip") {
        type = 0;
    } else if (text == u"Expand") {
        type = 1;
    } else if (text == u"Wrap") {
        type = 2;
    }
}

void ReadOverflowY(int32_t& type, const WideString& text)
{
    if (text == u"Clip") {
        type = 0;
    } else if (text == u"Expand") {
        type = 1;
    }
}

// One layout attribute of a SubControl and how its text becomes the field.
struct LayoutAttribute
{
    const char16_t* name;
    void (*read)(LayoutValues& layout, const WideString& text);
    bool skippedAtTopLevel;  // ignored for the children of a top-level Skin
};

const LayoutAttribute kLayoutAttributes[] = {
    {u"ClipToParent", [](LayoutValues& l, const WideString& t) { l.clipToParent = ParseBool(t); },
     false},
    {u"IsVisible", [](LayoutValues& l, const WideString& t) { l.isVisible = ParseBool(t); }, true},
    {u"XIsDocked", [](LayoutValues& l, const WideString& t) { l.xIsDocked = ParseBool(t); }, false},
    {u"YIsDocked", [](LayoutValues& l, const WideString& t) { l.yIsDocked = ParseBool(t); }, false},
    {u"Z_Order", [](LayoutValues& l, const WideString& t) { l.zOrder = ParseInteger(t); }, false},
    {u"TabStop", [](LayoutValues& l, const WideString& t) { l.tabStop = ParseInteger(t); }, true},
    {u"LayoutOrder", [](LayoutValues& l, const WideString& t) { l.layoutOrder = ParseNumber(t); },
     false},
    {u"XPlacementAnchor",
     [](LayoutValues& l, const WideString& t) { l.xPosition.placementAnchor = ParseFloat(t); },
     false},
    {u"YPlacementAnchor",
     [](LayoutValues& l, const WideString& t) { l.yPosition.placementAnchor = ParseFloat(t); },
     false},
    {u"XPositionToControl",
     [](LayoutValues& l, const WideString& t) { ReadPosition(l.xPosition, t); }, false},
    {u"YPositionToControl",
     [](LayoutValues& l, const WideString& t) { ReadPosition(l.yPosition, t); }, false},
    {u"XSizeToControl", [](LayoutValues& l, const WideString& t) { ReadSize(l.xSize, t); }, false},
    {u"YSizeToControl", [](LayoutValues& l, const WideString& t) { ReadSize(l.ySize, t); }, false},
    {u"XMinSizeToControl", [](LayoutValues& l, const WideString& t) { ReadLimit(l.xMinSize, t); },
     false},
    {u"YMinSizeToControl", [](LayoutValues& l, const WideString& t) { ReadLimit(l.yMinSize, t); },
     false},
    {u"XMaxSizeToControl", [](LayoutValues& l, const WideString& t) { ReadLimit(l.xMaxSize, t); },
     false},
    {u"YMaxSizeToControl", [](LayoutValues& l, const WideString& t) { ReadLimit(l.yMaxSize, t); },
     false},
    {u"XPositionRel", [](LayoutValues& l, const WideString& t) { l.xPosition.rel = ParseFloat(t); },
     false},
    {u"YPositionRel", [](LayoutValues& l, const WideString& t) { l.yPosition.rel = ParseFloat(t); },
     false},
    {u"XSizeRel", [](LayoutValues& l, const WideString& t) { l.xSize.rel = ParseFloat(t); }, false},
    {u"YSizeRel", [](LayoutValues& l, const WideString& t) { l.ySize.rel = ParseFloat(t); }, false},
    {u"XMinSizeRel", [](LayoutValues& l, const WideString& t) { l.xMinSize.rel = ParseFloat(t); },
     false},
    {u"YMinSizeRel", [](LayoutValues& l, const WideString& t) { l.yMinSize.rel = ParseFloat(t); },
     false},
    {u"XMaxSizeRel", [](LayoutValues& l, const WideString& t) { l.xMaxSize.rel = ParseFloat(t); },
     false},
    {u"YMaxSizeRel", [](LayoutValues& l, const WideString& t) { l.yMaxSize.rel = ParseFloat(t); },
     false},
    {u"XPositionAbs",
     [](LayoutValues& l, const WideString& t) { l.xPosition.abs = ParseInteger(t); }, false},
    {u"YPositionAbs",
     [](LayoutValues& l, const WideString& t) { l.yPosition.abs = ParseInteger(t); }, false},
    {u"XSizeAbs", [](LayoutValues& l, const WideString& t) { l.xSize.abs = ParseInteger(t); },
     false},
    {u"YSizeAbs", [](LayoutValues& l, const WideString& t) { l.ySize.abs = ParseInteger(t); },
     false},
    {u"XMinSizeAbs", [](LayoutValues& l, const WideString& t) { l.xMinSize.abs = ParseInteger(t); },
     false},
    {u"YMinSizeAbs", [](LayoutValues& l, const WideString& t) { l.yMinSize.abs = ParseInteger(t); },
     false},
    {u"XMaxSizeAbs", [](LayoutValues& l, const WideString& t) { l.xMaxSize.abs = ParseInteger(t); },
     false},
    {u"YMaxSizeAbs", [](LayoutValues& l, const WideString& t) { l.yMaxSize.abs = ParseInteger(t); },
     false},
    {u"TextDecoration", [](LayoutValues& l, const WideString& t) { l.textDecoration = t; }, false},
    {u"TextOverflowXType",
     [](LayoutValues& l, const WideString& t) { ReadOverflowX(l.textOverflowXType, t); }, false},
    {u"TextOverflowYType",
     [](LayoutValues& l, const WideString& t) { ReadOverflowY(l.textOverflowYType, t); }, false},
};

}  // namespace

int32_t LControlFactory::DepthOf(const LControlDescriptor* descriptor) const
{
    int32_t depth = 0;
    for (; descriptor != nullptr && descriptor->parent != nullptr;
         descriptor = descriptor->parent) {
        ++depth;
    }
    return depth;
}

void LControlFactory::OnSkin(const XmlAttributes& attributes)
{
    WideString name;
    if (!ReadStringAttribute(attributes, u"Name", name)) {
        return;
    }
    RCPtr<LSkinDescriptor> skin(new LSkinDescriptor(name));
    if (!currentControl) {
        RCPtr<LControlDescriptor> root(
            new LControlDescriptor(kApplicationClass, GetApplicationName(), nullptr));
        currentSkinIndex = skins.AddItem(root);
        currentControl = root;
        ReadStringAttribute(attributes, u"FontName", skin->fontName);
        ReadFloatAttribute(attributes, u"FontSize", skin->fontSize);
        ReadIntAttribute(attributes, u"FontStyle", skin->fontStyle);
        fontTranslations.clear();
    } else {
        const auto translation = fontTranslations.find(pendingFont.name);
        skin->fontName =
            translation != fontTranslations.end() ? translation->second : pendingFont.name;
        skin->fontSize = pendingFont.size;
        skin->fontStyle = pendingFont.style;
        skin->fontInheritsFromParent = pendingFont.inheritsFromParent;
        skin->fontSizeIsRelative = pendingFont.sizeIsRelative;
        WideString lookListName;
        if (ReadStringAttribute(attributes, u"LookList", lookListName)) {
            skin->lookList = FindLookList(lookListName);
        }
    }
    currentControl->SetSkin(skin);
}

void LControlFactory::OnSkinEnd()
{
    if (currentControl && currentControl == GetCurrentSkin()) {
        currentControl = nullptr;
    }
}

void LControlFactory::OnFontLocale(const XmlAttributes& attributes)
{
    int32_t lcid = 0;
    if (ReadIntAttribute(attributes, u"LCID", lcid)) {
        fontLocale = lcid;
    }
}

void LControlFactory::OnFontXLat(const XmlAttributes& attributes)
{
    WideString name;
    WideString translation;
    if (!ReadStringAttribute(attributes, u"Name", name) ||
        !ReadStringAttribute(attributes, u"XLat", translation)) {
        return;
    }
    if (!fontLocale || static_cast<uint32_t>(*fontLocale) != currentLanguage) {
        return;
    }
    fontTranslations.try_emplace(name, translation);
    if (currentControl && currentControl->skin && currentControl->skin->fontName == name) {
        currentControl->skin->fontName = translation;
    }
}

void LControlFactory::OnSubControl(const XmlAttributes& attributes)
{
    // Class and Name were checked by XMLStartElement.
    if (!currentControl) {
        // Outside any Skin there is nothing to hang it on.
        subControlOpened.push_back(false);
        return;
    }
    if (DepthOf(currentControl.Get()) >= kMaxSubControlDepth) {
        ORV_THROW_DETAIL(RuntimeError, "SubControls nested too deeply");
    }
    RCPtr<LControlDescriptor> control(new LControlDescriptor(
        *attributes.Find(u"Class"), *attributes.Find(u"Name"), currentControl.Get()));
    RCPtr<LLayoutDescriptor> layout(new LLayoutDescriptor());
    const bool topLevel = currentControl->className == kApplicationClass;
    for (const LayoutAttribute& attribute : kLayoutAttributes) {
        if (topLevel && attribute.skippedAtTopLevel) {
            continue;
        }
        if (const WideString* text = attributes.Find(attribute.name)) {
            attribute.read(*layout, *text);
        }
    }
    control->SetLayout(layout);

    pendingFont = PendingFont();
    ReadBoolAttribute(attributes, u"FontInheritsFromParent", pendingFont.inheritsFromParent);
    ReadBoolAttribute(attributes, u"FontSizeIsRelative", pendingFont.sizeIsRelative);
    ReadStringAttribute(attributes, u"FontName", pendingFont.name);
    if (!ReadFloatAttribute(attributes, u"FontSize", pendingFont.size)) {
        pendingFont.sizeIsRelative = false;
    }
    ReadIntAttribute(attributes, u"FontStyle", pendingFont.style);

    currentControl->AddSubControl(control);
    currentControl = control;
    subControlOpened.push_back(true);
}

void LControlFactory::OnSubControlEnd()
{
    if (subControlOpened.empty()) {
        return;
    }
    const bool opened = subControlOpened.back();
    subControlOpened.pop_back();
    // A LookLists inside the SubControl may have left no current descriptor.
    if (!opened || !currentControl) {
        return;
    }
    RCPtr<LControlDescriptor>* children = currentControl->subControls.GetData();
    std::sort(children, children + currentControl->subControls.GetCount(),
              [](const RCPtr<LControlDescriptor>& a, const RCPtr<LControlDescriptor>& b) {
                  return a->layout->layoutOrder < b->layout->layoutOrder;
              });
    currentControl = currentControl->parent;
}

void LControlFactory::OnCreateParamList(const XmlAttributes&)
{
    currentCreateParams = RCPtr<LStringTable>(new LStringTable());
}

void LControlFactory::OnCreateParam(const XmlAttributes& attributes)
{
    WideString id;
    if (!ReadStringAttribute(attributes, u"ID", id)) {
        return;
    }
    StopCollectingCreateParam();
    collectingCreateParam = true;
    createParamId = id;
    createParamTarget = currentCreateParams;
    createParamText.clear();
}

void LControlFactory::StopCollectingCreateParam()
{
    if (collectingCreateParam && createParamTarget && !createParamId.IsEmpty()) {
        // The whole text of the element, however expat split it; a repeated ID replaces.
        createParamTarget->SetString(createParamId, WideString(createParamText.c_str()));
    }
    collectingCreateParam = false;
    createParamTarget = nullptr;
    createParamId.Clear();
    createParamText.clear();
}

}  // namespace Orv
