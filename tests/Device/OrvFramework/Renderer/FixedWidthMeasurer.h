#pragma once
// A measurement renderer of the tests: every character is the same width, every font has the
// same metrics, and it counts what it is asked, so layout arithmetic can be checked by hand.
// Installed as the application's measurement renderer for the life of a MeasurerScope.

#include "Renderer/MeasurementRendererSource.h"
#include "Renderer/Renderer.h"

namespace RendererTest {

class FixedWidthMeasurer : public Orv::LMeasurementRenderer
{
public:
    float characterWidth = 10.0f;
    float boxX = 0.0f;  // the x of every measured box, to exercise the right-edge rule
    int lineHeight = 20;
    int ascent = -16;
    int descent = 4;
    int metricsCalls = 0;
    int measureCalls = 0;

    Orv::ORVRESULT GetFontMetrics(const Orv::ConstRCPtr<Orv::LFont>&, int& outLineHeight,
                                  int& outAscent, int& outDescent) override
    {
        ++metricsCalls;
        outLineHeight = lineHeight;
        outAscent = ascent;
        outDescent = descent;
        return 0;
    }
    Orv::RectT<float> MeasureText(const Orv::WideString& text,
                                  const Orv::ConstRCPtr<Orv::LFont>&) override
    {
        ++measureCalls;
        return {boxX, static_cast<float>(ascent), characterWidth * text.GetLength(),
                static_cast<float>(lineHeight)};
    }
};

class MeasurerScope
{
public:
    explicit MeasurerScope(const Orv::RCPtr<FixedWidthMeasurer>& measurer)
    {
        Orv::SetMeasurementRendererProvider(
            [measurer] { return Orv::RCPtr<Orv::LMeasurementRenderer>(measurer); });
    }
    ~MeasurerScope() { Orv::SetMeasurementRendererProvider({}); }
    MeasurerScope(const MeasurerScope&) = delete;
    MeasurerScope& operator=(const MeasurerScope&) = delete;
};

}  // namespace RendererTest
