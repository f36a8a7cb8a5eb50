#include "Utilities/Graphics/Font.h"

#include "Renderer/MeasurementRendererSource.h"
#include "Utilities/Storage/WideChar.h"

namespace Orv {
namespace {

int32_t lastUniqueId = 0;

bool SameName(const WideString& a, const WideString& b)
{
    return a.GetText() == b.GetText() || _wcsicmp(a.GetText(), b.GetText()) == 0;
}

}  // namespace

LFont::LFont(const WideString& name, float size, int32_t style)
    : name(name), size(size), style(style), uniqueId(++lastUniqueId)
{
}

bool LFont::operator==(const LFont& other) const
{
    return (name.GetText() == other.name.GetText() || name.Equals(other.name)) &&
           size == other.size && style == other.style;
}

void LFont::Measure() const
{
    if (lineHeight >= 0) {
        return;
    }
    const RCPtr<LMeasurementRenderer> renderer = GetMeasurementRenderer();
    if (renderer) {
        renderer->GetFontMetrics(ConstRCPtr<LFont>(this), lineHeight, ascent, descent);
    }
}

int32_t LFont::GetLineHeight() const
{
    Measure();
    return lineHeight;
}

int32_t LFont::GetAscent() const
{
    Measure();
    return ascent;
}

int32_t LFont::GetDescent() const
{
    Measure();
    return descent;
}

LFont::~LFont() = default;

ORVRESULT LFont::DropBackReferences()
{
    const int32_t index = FindFont(name, size, style);
    if (index < 0) {
        return E_FAIL;
    }
    GetFontRegistry().RemoveItems(static_cast<uint32_t>(index), 1);
    return S_OK;
}

FontRegistry& GetFontRegistry()
{
    static FontRegistry registry;
    return registry;
}

int32_t FindFont(const WideString& name, float size, int32_t style)
{
    const FontRegistry& registry = GetFontRegistry();
    const RCPtr<LFont>* fonts = registry.GetData();
    for (uint32_t i = registry.GetCount(); i-- > 0;) {
        const LFont& font = *fonts[i];
        if (SameName(font.GetName(), name) && font.GetSize() == size && font.GetStyle() == style) {
            return static_cast<int32_t>(i);
        }
    }
    return -1;
}

ConstRCPtr<LFont> GetFont(const WideString& name, float size, int32_t style)
{
    const int32_t index = FindFont(name, size, style);
    if (index >= 0) {
        return GetFontRegistry().GetData()[index];
    }
    RCPtr<LFont> font(new LFont(name, size, style));
    GetFontRegistry().AddItem(font);
    return font;
}

}  // namespace Orv
