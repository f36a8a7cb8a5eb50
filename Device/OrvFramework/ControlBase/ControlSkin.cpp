// What a control takes from its skin descriptor: its own layout, one look per look-list slot,
// the font and the label; and the operations that keep looks, text and font afterwards.

#include <cmath>

#include "Application/FrameworkApp.h"
#include "ControlBase/Control.h"
#include "ControlBase/ControlDescriptor.h"
#include "ControlBase/LayoutDescriptor.h"
#include "ControlBase/Look.h"
#include "ControlBase/LookDescriptor.h"
#include "ControlBase/SkinDescriptor.h"
#include "ControlBase/StringTable.h"
#include "Utilities/Graphics/Font.h"

namespace Orv {

namespace {

// Skin font sizes are unbounded floats and relative sizes multiply down the tree; whatever
// turns a size into pixels later must never see one it cannot hold.
constexpr float kMaxFontSize = 1000.0f;

float BoundedFontSize(float size, float fallback)
{
    if (!std::isfinite(size)) {
        return fallback;
    }
    return std::fmin(std::fmax(size, 0.0f), kMaxFontSize);
}

ConstRCPtr<LFont> ApplicationDefaultFont()
{
    if (LFrameworkApp* application = GetFrameworkApp()) {
        return application->GetDefaultFont();
    }
    return GetFont(WideString(u"Arial"), 9.0f, 0);
}

constexpr int32_t kWrapText = 2;  // TextOverflowXType "Wrap"

}  // namespace

ORVRESULT LControl::ApplyDescriptor(const RCPtr<LControlDescriptor>& newDescriptor)
{
    if (!newDescriptor) {
        return E_INVALIDARG;
    }
    // A re-application keeps what the user sees of the control's state: its visibility (until
    // the new skin says otherwise), its enabled flag and its text.
    const bool reapplying = created;
    bool keptVisible = true;
    bool keptEnabled = true;
    if (reapplying && layout) {
        keptVisible = layout->isVisible;
        keptEnabled = layout->isEnabled;
        SetClipToParent(true);
    }
    if (parent && layout && !layout->clipToParent) {
        // The old layout's overlay status leaves the ancestors' counts before the new one is
        // counted, so that applying a descriptor again never counts a control twice.
        parent->AddNonClippingDescendants(-1);
    }
    descriptor = newDescriptor;
    layout = newDescriptor->layout ? newDescriptor->layout->Clone()
                                   : RCPtr<LLayoutDescriptor>(new LLayoutDescriptor());
    if (parent) {
        // The child's ClipToParent and TabStop may differ: the parent's orders are stale.
        parent->children.MarkChanged();
    }
    if (!parent && rootWindow) {
        // A window's root control is always shown; the window hides it.
        layout->isVisible = true;
        if (reapplying) {
            KeepWindowPlacement();
        }
    }
    if (reapplying) {
        KeepStateThroughReapplication(keptVisible, keptEnabled);
    }

    looks.RemoveAll();
    lookWeights.SetCount(0);
    const RCPtr<LSkinDescriptor>& skin = newDescriptor->skin;
    if (skin && skin->lookList) {
        const bool wordWrap = layout->textOverflowXType == kWrapText;
        const LookList& lookList = *skin->lookList;
        for (uint32_t slot = 0; slot < lookList.GetCount(); ++slot) {
            const RCPtr<LLookDescriptor>& lookDescriptor = lookList.GetData()[slot];
            // An empty slot stays empty, so that a look's index is its slot.
            AddLook(lookDescriptor ? LLook::Create(lookDescriptor, wordWrap) : RCPtr<LLook>());
        }
    }

    if (skin) {
        fontInheritsFromParent = skin->fontInheritsFromParent;
        fontSizeIsRelative = skin->fontSizeIsRelative;
        SetFont(skin->fontName, skin->fontSize, skin->fontStyle, skin->fontSizeIsRelative);
    } else {
        fontInheritsFromParent = false;
        fontSizeIsRelative = false;
        SetFont(WideString(), 0.0f, -1, false);
    }

    if (!reapplying) {
        WideString label;
        if (const RCPtr<LStringTable>& table = GetStringTable()) {
            table->GetString(u"LABEL", label);
        }
        ChangeText(label, false);
    } else {
        // The new looks have no text yet: a stored text that differs makes ChangeText hand the
        // kept one to them.
        const WideString kept = text;
        text += u"~";
        ChangeText(kept, false);
    }

    if (!layout->clipToParent && parent) {
        parent->AddNonClippingDescendants(1);
    }

    RCPtrArray<LControl> oldChildren;
    if (reapplying) {
        CloseChildrenWithoutSubControl();
        for (uint32_t index = 0; index < children.GetCount(); ++index) {
            oldChildren.AddItem(children.GetAt(index, ChildControlList::kInsertionOrder));
        }
    }
    children.Clear();
    // From nothing, so that every look and child sees a change.
    rect = RectD{0, 0, 0, 0};
    UpdateLayout();

    if (!reapplying) {
        SelectLook(0);
        conditions->oldConditions = conditions->newConditions;
        conditions->point = pressPoint;
    } else {
        ReattachChildren(oldChildren);
    }
    return S_OK;
}

int32_t LControl::AddLook(const RCPtr<LLook>& look)
{
    const int32_t added = looks.AddItem(look);
    while (lookWeights.GetCount() < looks.GetCount()) {
        lookWeights.AddItem(0.0f);
    }
    return added;
}

ORVRESULT LControl::SelectLook(uint32_t index)
{
    return SetLookWeight(index, 1.0f, true);
}

ORVRESULT LControl::SetLookWeight(uint32_t index, float weight, bool exclusive)
{
    if (index >= lookWeights.GetCount()) {
        return E_INVALIDARG;
    }
    bool changed = false;
    if (weight >= 0.0f && weight <= 1.0f && lookWeights.GetAt(index) != weight) {
        lookWeights.GetAt(index) = weight;
        changed = true;
    }
    if (exclusive) {
        for (uint32_t other = 0; other < lookWeights.GetCount(); ++other) {
            if (other != index && lookWeights.GetAt(other) != 0.0f) {
                lookWeights.GetAt(other) = 0.0f;
                changed = true;
            }
        }
    }
    if (changed) {
        InvalidateRect(RectD{0, 0, rect.width, rect.height}, !layout || layout->clipToParent);
    }
    return S_OK;
}

ORVRESULT LControl::SetText(const WideString& newText)
{
    return ChangeText(newText, true) ? S_OK : 1;
}

bool LControl::ChangeText(const WideString& newText, bool relayout)
{
    // A window's root control also retitles its window; that waits for the root window.
    if (text == newText) {
        return false;
    }
    text = newText;
    for (uint32_t index = looks.GetCount(); index-- > 0;) {
        if (const RCPtr<LLook>& look = looks.GetData()[index]) {
            look->SetText(text);
        }
    }
    if (relayout && layout) {
        // Only a text that sets a minimum size can move the control.
        const bool xFromText = !layout->xMinSize.toControl && layout->textOverflowXType != 0;
        const bool yFromText = !layout->yMinSize.toControl && layout->textOverflowYType != 0;
        if (xFromText || yFromText) {
            UpdateLayout();
        }
    }
    InvalidateRect(RectD{0, 0, rect.width, rect.height}, !layout || layout->clipToParent);
    return true;
}

ORVRESULT LControl::SetFont(const WideString& fontName, float size, int32_t style,
                            bool sizeIsRelative)
{
    ConstRCPtr<LFont> base;
    if (fontInheritsFromParent && parent) {
        base = parent->GetFont();
    }
    if (!base) {
        base = ApplicationDefaultFont();
    }
    if (!base) {
        return E_FAIL;
    }
    const bool nameInherited = fontName.IsEmpty();
    const bool sizeInherited = !(size > 0.0f) || sizeIsRelative;
    const bool styleInherited = style == -1;
    const float factor = (sizeIsRelative && size > 0.0f) ? size : 1.0f;

    const WideString& resultName = nameInherited ? base->GetName() : fontName;
    const float resultSize =
        BoundedFontSize(sizeInherited ? base->GetSize() * factor : size, base->GetSize());
    const int32_t resultStyle = styleInherited ? base->GetStyle() : style;

    ConstRCPtr<LFont> resolved;
    if (resultName == base->GetName() && resultSize == base->GetSize() &&
        resultStyle == base->GetStyle()) {
        resolved = base;
    } else {
        resolved = ::Orv::GetFont(resultName, resultSize, resultStyle);
    }
    if (!resolved) {
        return E_FAIL;
    }
    const ORVRESULT applied = ApplyFont(resolved);
    if (applied >= 0) {
        fontNameInherited = nameInherited;
        fontSizeInherited = sizeInherited;
        fontStyleInherited = styleInherited;
        fontSizeIsRelative = sizeIsRelative;
        relativeSizeFactor = (sizeIsRelative && size > 0.0f) ? BoundedFontSize(size, 1.0f) : 1.0f;
    }
    return applied;
}

ORVRESULT LControl::ApplyFont(const ConstRCPtr<LFont>& newFont)
{
    if (!newFont) {
        return E_INVALIDARG;
    }
    for (uint32_t index = looks.GetCount(); index-- > 0;) {
        if (const RCPtr<LLook>& look = looks.GetData()[index]) {
            look->SetFont(newFont);
        }
    }
    if (font && *font == *newFont) {
        return 1;
    }
    font = newFont;
    fontNameInherited = false;
    fontSizeInherited = false;
    fontStyleInherited = false;
    OnFontChanged();
    for (uint32_t index = 0; index < children.GetCount(); ++index) {
        children.GetAt(index, ChildControlList::kInsertionOrder)->RefreshInheritedFont();
    }
    // A text that sets a minimum size measures differently now.
    UpdateLayout();
    InvalidateRect(RectD{0, 0, rect.width, rect.height}, !layout || layout->clipToParent);
    return S_OK;
}

ORVRESULT LControl::RefreshInheritedFont()
{
    if (!fontInheritsFromParent ||
        !(fontNameInherited || fontSizeInherited || fontStyleInherited) || !font) {
        return S_OK;
    }
    const bool relative = fontSizeInherited && fontSizeIsRelative;
    const WideString fontName = fontNameInherited ? WideString() : font->GetName();
    const float size =
        fontSizeInherited ? (fontSizeIsRelative ? relativeSizeFactor : 0.0f) : font->GetSize();
    const int32_t style = fontStyleInherited ? -1 : font->GetStyle();
    SetFont(fontName, size, style, relative);
    return S_OK;
}

void LControl::OnFontChanged() {}

}  // namespace Orv
