#pragma once
// Where fonts and text layout measure: the application's measurement renderer (the renderer of
// its first root window) while it has one, and otherwise a default off-screen renderer of the
// GDI+ back end, created on first need and kept, so that text can be measured before the first
// window exists and measures there exactly as the default back end draws it.
//
// UI thread only.

#include <functional>

#include "ObjectBase/RCPtr.h"
#include "Renderer/Renderer.h"

namespace Orv {

// The renderer to measure with; never null while the GDI+ layer can start.
RCPtr<LMeasurementRenderer> GetMeasurementRenderer();

// The application's answer (null while it has no root window). Replaces any earlier one; an
// empty function removes it.
using MeasurementRendererProvider = std::function<RCPtr<LMeasurementRenderer>()>;
void SetMeasurementRendererProvider(MeasurementRendererProvider provider);

}  // namespace Orv
