#pragma once
// The one 2-D drawing interface of the panel. A renderer draws into render contexts; it keeps a
// stack of the contexts being drawn (RenderStart pushes, RenderFinish pops) and every operation
// goes to the top one. Inside it, the operations work on the context's current RenderState and
// its saved states: each PushClip saves the state and changes it, PopClip restores the last one,
// and CAutoClip pairs them on the caller's stack.
//
// Coordinates are local: window pixel = local + the current state's offset. The order of the
// virtual operations is part of the interface (back ends override by slot): do not reorder.
//
// The state operations (PushClip, PopClip) change stencil, clip and origin only through
// SetStencil, SetClipRect and Translate, so a back end that overrides those sees every change.
// Without a current context the base operations do nothing.
//
// UI thread only.

#include <cstdint>
#include <vector>

#include <windows.h>

#include "ObjectBase/OrvResult.h"
#include "ObjectBase/RCPtr.h"
#include "ObjectBase/RefCountedObject.h"
#include "Renderer/RenderContextInfo.h"
#include "Renderer/RenderState.h"
#include "Utilities/Graphics/Color.h"
#include "Utilities/Graphics/ColorRectList.h"
#include "Utilities/Graphics/FontBitmapDeclarations.h"
#include "Utilities/Graphics/Geometry.h"
#include "Utilities/Graphics/Polyline.h"
#include "Utilities/Storage/StringT.h"

namespace Orv {

// Which back end LRenderer::Create builds.
using RendererType = int32_t;
inline constexpr RendererType kRendererOpenGL = 0;
inline constexpr RendererType kRendererGdiPlus = 1;  // the default
inline constexpr RendererType kRendererDirect3D9 = 2;

// What text layout and fonts need to measure text without drawing.
class LMeasurementRenderer : public virtual LRefCountedObject
{
public:
    // Slot 0. The font's line height, ascent and descent in pixels.
    virtual ORVRESULT GetFontMetrics(const ConstRCPtr<LFont>& font, int& lineHeight, int& ascent,
                                     int& descent) = 0;
    // Slot 1. The bounding box of the text drawn with the font.
    virtual RectT<float> MeasureText(const WideString& text, const ConstRCPtr<LFont>& font) = 0;
};

class LRenderer : public LMeasurementRenderer
{
public:
    // The back end of the type: 0 OpenGL, 1 GDI+, 2 Direct3D 9 (draws nothing). Throws a domain
    // error for other codes, a runtime error for a back end this build does not have.
    static RCPtr<LRenderer> Create(RendererType type, const RectT<LongCoord>& clientRect,
                                   HWND window);

    ~LRenderer() override;

    // Slot 2.
    virtual RendererType GetRendererType() = 0;
    // Slot 3. Creates the back end's context for a window's client rectangle.
    virtual ORVRESULT InitRenderContextInfo(const RectT<LongCoord>& clientRect, HWND window,
                                            int present, RCPtr<LRenderContextInfo>& context) = 0;
    // Slot 4.
    virtual ORVRESULT SetViewport(const RectT<LongCoord>& viewport);
    // Slot 5. Replaces the current state's stencil (nothing when it is the same object).
    virtual ORVRESULT SetStencil(const ConstRCPtr<LStencil>& stencil);
    // Slot 6. Throws for a null context and for one already on the stack.
    virtual ORVRESULT RenderStart(const RCPtr<LRenderContextInfo>& context);
    // Slot 7. Throws unless the context is the top of the stack (which then stays unchanged).
    virtual ORVRESULT RenderFinish(const RCPtr<LRenderContextInfo>& context);

    // Slots 8 to 20: drawing, supplied by every back end.
    virtual void DrawText(const WideString& text, const ConstRCPtr<LFont>& font,
                          const PointT<LongCoord>& origin, const ColorT& color) = 0;
    virtual void DrawRect(const RectT<LongCoord>& rect, const ColorT& color, float lineWidth) = 0;
    virtual void FillRect(const RectT<LongCoord>& rect, const ColorT& color, bool blend) = 0;
    virtual void FillAndDrawRect(const RectT<LongCoord>& rect, const ColorT& fillColor,
                                 const ColorT& lineColor, float lineWidth) = 0;
    virtual void DrawColorRectList(ColorRectListT<float>& list, const PointT<double>& offset,
                                   bool keepCached) = 0;
    virtual void DrawLine(const PointT<float>& from, const PointT<float>& to, const ColorT& color,
                          float lineWidth) = 0;
    virtual void DrawLineSegments(PolylineT<float>& line, const ColorT& color,
                                  const PointT<float>& offset, const PointT<float>& scale,
                                  bool keepCached) = 0;
    virtual void DrawPolyline(PolylineT<float>& line, const ColorT& color,
                              const PointT<float>& offset, const PointT<float>& scale,
                              bool keepCached) = 0;
    virtual void DrawPolygon(PolylineT<float>& line, const ColorT& color,
                             const PointT<float>& offset, const PointT<float>& scale,
                             bool keepCached) = 0;
    virtual void FillPolygon(PolylineT<float>& line, const ColorT& color,
                             const PointT<float>& offset, const PointT<float>& scale,
                             bool keepCached) = 0;
    virtual void DrawBitmap(const ConstRCPtr<LBitmap>& bitmap, const RectT<LongCoord>& destination,
                            ResizeType resize) = 0;
    virtual ORVRESULT DrawContextRect(const RCPtr<LRenderContextInfo>& source,
                                      const PointT<LongCoord>& destination,
                                      const RectT<LongCoord>& sourceRect) = 0;
    virtual ORVRESULT DrawContext(const RCPtr<LRenderContextInfo>& source,
                                  const PointT<LongCoord>& destination) = 0;

    // Slot 21. Saves the state and moves the origin by the shift rounded to whole pixels; the
    // clip stays where it was on the surface. Nothing at all when no state has been saved yet.
    // A shift to no place (NaN, endless, past 2^52) saves, leaves the origin and clips to
    // nothing.
    virtual void PushClip(const PointT<double>& originShift);
    // Slot 22. Saves the state, clips to the clip rectangle (relative: also to the frame and the
    // current clip) snapped to whole pixels, and moves the origin to the frame's corner (taken in
    // window pixels unless relative). Rectangles that do not meet, or a frame at no place (NaN,
    // endless, past 2^52), give an empty clip and leave the origin. A stencil pushed while one is
    // active becomes a fresh one of its size.
    virtual void PushClip(const RectT<double>& frame, const RectT<double>& clip,
                          const ConstRCPtr<LStencil>& stencil, bool relative);
    // Slot 23. Saves the state.
    virtual void PushClip();
    // Slot 24. Restores the last saved state; nothing when none is saved.
    virtual void PopClip();
    // Slot 25.
    virtual void SetClipRect(const RectT<double>& clip);
    // Slot 26.
    virtual void Translate(const PointT<double>& delta);

    // The context being drawn (the top of the stack), or null.
    LRenderContextInfo* GetCurrentContext() const;
    // Its current state, or null without a context. Callers read the offset and scale the alpha
    // through it.
    RenderState* GetCurrentState() const;
    size_t GetContextDepth() const { return contextStack.size(); }

private:
    void SaveState();

    std::vector<RCPtr<LRenderContextInfo>> contextStack;  // bottom to top
};

// The argument record of CAutoClip. flavor: 0 save only, 1 clip, 2 shift the origin.
struct PushClipParams
{
    static PushClipParams Clip(const RectT<double>& frame, const RectT<double>& clip,
                               const ConstRCPtr<LStencil>& stencil)
    {
        return PushClipParams{1, frame, clip, stencil, true, {0.0, 0.0}};
    }

    int flavor = 0;
    RectT<double> frame{};
    RectT<double> clip{};
    ConstRCPtr<LStencil> stencil;
    bool relative = false;
    PointT<double> originShift{};
};

// Pushes a state on construction and pops it on destruction, however the scope is left.
class CAutoClip
{
public:
    // Throws for an unknown flavour.
    CAutoClip(const RCPtr<LRenderer>& renderer, const PushClipParams& params);
    // PushClip of frame and clip, relative.
    CAutoClip(const RCPtr<LRenderer>& renderer, const RectT<double>& frame,
              const RectT<double>& clip, const ConstRCPtr<LStencil>& stencil);
    // Save only.
    explicit CAutoClip(const RCPtr<LRenderer>& renderer);
    ~CAutoClip();
    CAutoClip(const CAutoClip&) = delete;
    CAutoClip& operator=(const CAutoClip&) = delete;

private:
    RCPtr<LRenderer> renderer;
};

}  // namespace Orv
