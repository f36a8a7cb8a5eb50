#pragma once
// A font as the framework names it: face name, size and style bits (1 bold, 2 italic,
// 4 underline, 8 strikeout). Fonts are values shared by reference and made only through GetFont,
// which keeps one process-wide registry: equal requests get the same object, so renderers can
// key per-font caches on the unique id. The line metrics are measured once, on first request,
// through the measurement renderer (GetMeasurementRenderer).
//
// The registry holds its fonts until the process ends. UI thread only: the registry and the id
// counter have no lock.

#include <cstdint>

#include "ObjectBase/OrvResult.h"
#include "ObjectBase/RCPtr.h"
#include "ObjectBase/RefCountedObject.h"
#include "Utilities/Storage/RCPtrArray.h"
#include "Utilities/Storage/StringT.h"

namespace Orv {

class LFont : public virtual LRefCountedObject
{
public:
    const WideString& GetName() const { return name; }
    float GetSize() const { return size; }
    int32_t GetStyle() const { return style; }
    int32_t GetUniqueID() const { return uniqueId; }
    static int32_t GetUniqueID(const ConstRCPtr<LFont>& font) { return font->uniqueId; }

    // Measured through the measurement renderer on first request; a renderer that reports a
    // negative line height is asked again next time.
    int32_t GetLineHeight() const;
    int32_t GetAscent() const;  // negative: the distance above the baseline
    int32_t GetDescent() const;

    // Same name (same buffer, or equal case-sensitively), the same size exactly and the same
    // style; metrics and id are not compared.
    bool operator==(const LFont& other) const;
    bool operator!=(const LFont& other) const { return !(*this == other); }

    // Removes this font's entry from the registry; E_FAIL when it has none.
    ORVRESULT DropBackReferences() override;
    ~LFont() override;

private:
    friend ConstRCPtr<LFont> GetFont(const WideString& name, float size, int32_t style);
    LFont(const WideString& name, float size, int32_t style);
    void Measure() const;

    WideString name;
    float size;
    int32_t style;
    // Filled on first request; mutable because measuring does not change what the font is.
    mutable int32_t lineHeight = -1;
    mutable int32_t ascent = 0;
    mutable int32_t descent = 0;
    int32_t uniqueId;
};

using FontRegistry = RCPtrArray<LFont>;

// The process-wide registry, created on first use.
FontRegistry& GetFontRegistry();
// The registered font that matches (name without regard to case), else a new one, registered.
ConstRCPtr<LFont> GetFont(const WideString& name, float size, int32_t style);
// The index of the last registered font that matches, -1 when none does.
int32_t FindFont(const WideString& name, float size, int32_t style);

}  // namespace Orv
