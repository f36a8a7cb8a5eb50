#include "Renderer/MeasurementRendererSource.h"

#include <utility>

#include "Renderer/Gdi/GDIMeasurementRenderer.h"

namespace Orv {
namespace {

MeasurementRendererProvider& Provider()
{
    static MeasurementRendererProvider provider;
    return provider;
}

}  // namespace

RCPtr<LMeasurementRenderer> GetMeasurementRenderer()
{
    if (Provider()) {
        if (RCPtr<LMeasurementRenderer> renderer = Provider()()) {
            return renderer;
        }
    }
    static const RCPtr<LMeasurementRenderer> offScreen(new LGDIMeasurementRenderer());
    return offScreen;
}

void SetMeasurementRendererProvider(MeasurementRendererProvider provider)
{
    Provider() = std::move(provider);
}

}  // namespace Orv
