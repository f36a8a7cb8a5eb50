#pragma once
// The context of the Direct3D 9 placeholder: the base context and nothing more; it can draw
// nothing, so its largest viewport is 0 x 0.

#include "Renderer/RenderContextInfo.h"

namespace Orv {

class LD3D9RenderContextInfo : public LRenderContextInfo
{
public:
    using LRenderContextInfo::LRenderContextInfo;
    std::pair<int32_t, int32_t> GetMaxViewportSize() const override { return {0, 0}; }
};

}  // namespace Orv
