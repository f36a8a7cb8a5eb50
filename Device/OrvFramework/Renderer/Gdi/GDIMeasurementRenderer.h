#pragma once
// The off-screen measurement renderer: measures fonts and text exactly as the GDI+ renderer does,
// without a window. It starts GDI+ for its own lifetime (start-up is counted), so it works before
// the application has started it and after a window's renderer is gone.

#include "Renderer/Gdi/GDITextMeasurer.h"
#include "Renderer/Renderer.h"

namespace Orv {

class LGDIMeasurementRenderer : public LMeasurementRenderer
{
public:
    LGDIMeasurementRenderer();
    ~LGDIMeasurementRenderer() override;

    ORVRESULT GetFontMetrics(const ConstRCPtr<LFont>& font, int& lineHeight, int& ascent,
                             int& descent) override;
    RectT<float> MeasureText(const WideString& text, const ConstRCPtr<LFont>& font) override;

private:
    ULONG_PTR gdiplusToken = 0;
    LGDITextMeasurer* measurer = nullptr;  // made after GDI+ has started
};

// What the GDI+ back end's MeasureText gives: empty for an empty text, else x 0, y the ascent,
// the measured width and the line height, with the metrics through the renderer's slot 0.
RectT<float> MeasureGdiText(LMeasurementRenderer& renderer, const LGDITextMeasurer& measurer,
                            const WideString& text, const ConstRCPtr<LFont>& font);

}  // namespace Orv
