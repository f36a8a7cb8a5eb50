// The factory apart from the renderer base, so that the base does not link every back end.

#include <string>

#include "ObjectBase/Exception.h"
#include "Renderer/D3D9Renderer.h"
#include "Renderer/Gdi/GDIRenderer.h"
#include "Renderer/Renderer.h"

// The factory's failures name the renderer's file, where callers look for Create.
#define ORV_THROW_FROM_CREATE(kind, detail)       \
    ThrowException(ExceptionKind::kind, (detail), \
                   ThrowSite{__PRETTY_FUNCTION__, "Renderer\\Renderer", __LINE__})

namespace Orv {

RCPtr<LRenderer> LRenderer::Create(RendererType type, const RectT<LongCoord>&, HWND)
{
    switch (type) {
        case kRendererOpenGL:
            ORV_THROW_FROM_CREATE(RuntimeError, "OpenGL renderer (type 0) not built");
        case kRendererGdiPlus:
            return RCPtr<LRenderer>(new LGDIRenderer());
        case kRendererDirect3D9:
            return RCPtr<LRenderer>(new LD3D9Renderer());
        default:
            ORV_THROW_FROM_CREATE(DomainError, std::string_view{});
    }
}

}  // namespace Orv
