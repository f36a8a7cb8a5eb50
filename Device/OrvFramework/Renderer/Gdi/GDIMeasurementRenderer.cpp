#include "Renderer/Gdi/GDIMeasurementRenderer.h"

namespace Orv {

LGDIMeasurementRenderer::LGDIMeasurementRenderer()
{
    const Gdiplus::GdiplusStartupInput input;
    if (Gdiplus::GdiplusStartup(&gdiplusToken, &input, nullptr) != Gdiplus::Ok) {
        gdiplusToken = 0;
    }
    measurer = new LGDITextMeasurer();
}

LGDIMeasurementRenderer::~LGDIMeasurementRenderer()
{
    delete measurer;
    if (gdiplusToken != 0) {
        Gdiplus::GdiplusShutdown(gdiplusToken);
    }
}

ORVRESULT LGDIMeasurementRenderer::GetFontMetrics(const ConstRCPtr<LFont>& font, int& lineHeight,
                                                  int& ascent, int& descent)
{
    if (!font) {
        return E_INVALIDARG;
    }
    return GetGdiFontMetrics(*font, lineHeight, ascent, descent);
}

RectT<float> LGDIMeasurementRenderer::MeasureText(const WideString& text,
                                                  const ConstRCPtr<LFont>& font)
{
    return MeasureGdiText(*this, *measurer, text, font);
}

RectT<float> MeasureGdiText(LMeasurementRenderer& renderer, const LGDITextMeasurer& measurer,
                            const WideString& text, const ConstRCPtr<LFont>& font)
{
    if (text.IsEmpty() || !font) {
        return {0, 0, 0, 0};
    }
    int lineHeight = 0;
    int ascent = 0;
    int descent = 0;
    renderer.GetFontMetrics(font, lineHeight, ascent, descent);
    const int width = measurer.MeasureWidth(text, *font);
    return {0.0f, static_cast<float>(ascent), static_cast<float>(width),
            static_cast<float>(lineHeight)};
}

}  // namespace Orv
