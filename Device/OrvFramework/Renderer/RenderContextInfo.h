#pragma once
// What a renderer draws into: one per window (or per kept off-screen picture). The base carries
// the window, the viewport, the dirty region of the paint in progress and the drawing state with
// its saved states; each back end derives its own context.
//
// The context holds a device context of its window from construction to destruction and gives it
// back then.

#include <cstdint>
#include <deque>
#include <utility>

#include <windows.h>

#include "ControlBase/RectRegion.h"
#include "ObjectBase/RefCountedObject.h"
#include "Renderer/RenderState.h"
#include "Utilities/Graphics/Geometry.h"

namespace Orv {

class LRenderContextInfo : public LRefCountedObject
{
public:
    // present: 0 for a window's context; non-zero for a picture kept for later copying, which is
    // never presented to the window.
    LRenderContextInfo(const RectT<LongCoord>& rect, HWND window, int present);
    ~LRenderContextInfo() override;

    // The largest width and height the back end can draw.
    virtual std::pair<int32_t, int32_t> GetMaxViewportSize() const = 0;

    HWND GetWindow() const { return window; }
    int GetPresentFlag() const { return presentFlag; }
    HDC GetDeviceContext() const { return deviceContext; }

    RectRegion& GetDirtyRegion() { return dirtyRegion; }
    const RectRegion& GetDirtyRegion() const { return dirtyRegion; }

    const RectT<LongCoord>& GetViewport() const { return viewport; }
    void SetViewport(const RectT<LongCoord>& rect) { viewport = rect; }

    RenderState& GetCurrentState() { return currentState; }
    const RenderState& GetCurrentState() const { return currentState; }
    std::deque<RenderState>& GetSavedStates() { return savedStates; }
    const std::deque<RenderState>& GetSavedStates() const { return savedStates; }

private:
    HWND window;
    int presentFlag;
    RectRegion dirtyRegion;
    RectT<LongCoord> viewport;
    RenderState currentState;
    std::deque<RenderState> savedStates;  // a stack: pushed and popped at the back
    HDC deviceContext = nullptr;
};

}  // namespace Orv
