#include "Renderer/RenderContextInfo.h"

namespace Orv {

LRenderContextInfo::LRenderContextInfo(const RectT<LongCoord>& rect, HWND window, int present)
    : window(window), presentFlag(present), viewport(rect)
{
    if (window != nullptr) {
        deviceContext = GetDC(window);
    }
}

LRenderContextInfo::~LRenderContextInfo()
{
    savedStates.clear();
    dirtyRegion.Clear();
    if (deviceContext != nullptr) {
        ReleaseDC(window, deviceContext);
    }
}

}  // namespace Orv
