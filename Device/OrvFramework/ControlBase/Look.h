#pragma once
// The run-time form of a Look definition: a client part over the control's inner area, non-client
// parts docked to its edges, an optional label laid out in a text box and drawn in the colour of a
// text-foreground part, and an optional overlay image. A look lays its parts out for the control's
// size (SetSize), draws them on request and answers which colour it shows at a point.
//
// The control owns its looks (one per look-list slot), calls SetSize whenever its size changes,
// brackets each drawing call with the renderer state, and decides which looks are drawn with which
// weights. A look holds the visual parts it uses, so they stay cached while it lives.
//
// Geometry from a skin is unbounded; every sum and every float-to-int step here saturates at the
// 32-bit limits instead of wrapping. A Look without a client part uses the whole control as its
// client rectangle and draws nothing there.
//
// UI thread only.

#include <cstdint>
#include <vector>

#include "ControlBase/LookDescriptor.h"
#include "ControlBase/RectRegion.h"
#include "ControlBase/VisualPart.h"
#include "ObjectBase/OrvResult.h"
#include "ObjectBase/RCPtr.h"
#include "ObjectBase/RefCountedObject.h"
#include "Renderer/FontText.h"
#include "Renderer/RenderState.h"
#include "Utilities/Graphics/Bitmap.h"
#include "Utilities/Graphics/Font.h"
#include "Utilities/Graphics/Geometry.h"
#include "Utilities/Storage/RCPtrArray.h"
#include "Utilities/Storage/StringT.h"

namespace Orv {

class LRenderer;

class LLook : public virtual LRefCountedObject
{
public:
    // A new look of size 0 x 0 with the definition taken (SetDescriptor); it is laid out by the
    // control's first SetSize with a non-zero size.
    static RCPtr<LLook> Create(const RCPtr<LLookDescriptor>& descriptor, bool wordWrap);
    ~LLook() override;

    // Takes the definition and lays out again at the current size. 0.
    ORVRESULT SetDescriptor(const RCPtr<LLookDescriptor>& descriptor, bool wordWrap);
    // Lays the look out for a control of this size; nothing when the size is unchanged. True.
    bool SetSize(const PointT<LongCoord>& size);

    // The drawing slots. dirty is in the renderer's window coordinates; each step runs only where
    // dirty (limited to the look's region when that is not empty) meets what it draws, clipped
    // there. Slots 0 and 1 return 0; slot 2 returns 1 when the look has no text block, else 0.
    virtual int32_t DrawNonClientParts(const RCPtr<LRenderer>& renderer, const RectRegion& dirty);
    virtual int32_t DrawClientPart(const RCPtr<LRenderer>& renderer, const RectRegion& dirty);
    virtual int32_t DrawLabelText(const RCPtr<LRenderer>& renderer, const RectRegion& dirty,
                                  const PointT<double>& textOrigin);

    // The colour shown at a point in the control's local coordinates: the first non-client part
    // that is not transparent there, else the overlay, else the client part.
    PackedColor GetColorAtPoint(const PointT<LongCoord>& point) const;

    // The label text: true when it changed, and true when the look has no text block.
    bool SetText(const WideString& text);
    // The label font: the text block's answer, true when the look has no text block.
    bool SetFont(const ConstRCPtr<LFont>& font);
    // With a bitmap: an overlay part of it over the client area (drawn instead of the client part
    // when replacesClient), false. Without: removes an overlay (false), or true when there was
    // none (nothing changed).
    bool SetOverlayBitmap(const RCPtr<LBitmap>& bitmap, int32_t resizeType, bool replacesClient);
    // Handed to the renderer with the client part and the label; always none today.
    ConstRCPtr<LStencil> GetStencil() const { return stencil; }

    const RCPtr<LLookDescriptor>& GetDescriptor() const { return descriptor; }
    // The size the look is laid out for (the control's size); 0 x 0 when new.
    PointT<LongCoord> GetSize() const { return {width, height}; }
    // The client part's rectangle in the control's local coordinates.
    const RectT<LongCoord>& GetClientRect() const { return clientRect; }
    // The non-client parts' rectangles and parts, in descriptor order (a null part for a docked
    // part without part descriptor).
    int32_t GetNonClientPartCount() const { return static_cast<int32_t>(partRects.size()); }
    const RectT<LongCoord>& GetNonClientPartRect(int32_t index) const { return partRects[index]; }
    const ConstRCPtr<LVisualPart>& GetNonClientPart(int32_t index) const { return parts[index]; }
    const ConstRCPtr<LVisualPart>& GetClientPart() const { return clientPart; }
    const ConstRCPtr<LVisualPart>& GetOverlay() const { return overlay; }
    bool GetOverlayReplacesClient() const { return overlayReplacesClient; }
    const ConstRCPtr<LVisualPart>& GetTextForegroundPart() const { return textForegroundPart; }
    // The label's text block; null when the definition has no text properties.
    const RCPtr<LFontText>& GetTextBlock() const { return textBlock; }
    // Top-left of the text box in local coordinates.
    PointT<LongCoord> GetTextPosition() const { return {textX, textY}; }

    // The look's update region in local coordinates; empty means no restriction.
    const RectRegion& GetRegion() const { return region; }
    RectRegion& GetRegion() { return region; }
    void SetRegion(const RectRegion& newRegion) { region = newRegion; }

    // Looks alive in the process, for tests: leaks show as a number.
    static int32_t GetLiveCount();

protected:
    LLook();

private:
    void LayOutClientPart();
    void LayOutNonClientPart(size_t index);
    void LayOutTextBox();
    // The rectangles to draw in (local coordinates), from dirty and the look's region.
    void CollectDrawRects(const RCPtr<LRenderer>& renderer, const RectRegion& dirty,
                          std::vector<RectT<double>>& out) const;

    RCPtr<LLookDescriptor> descriptor;
    ConstRCPtr<LVisualPart> textForegroundPart;
    int32_t width = 0;
    int32_t height = 0;
    RectT<LongCoord> clientRect{};
    std::vector<RectT<LongCoord>> partRects;
    std::vector<ConstRCPtr<LVisualPart>> parts;
    ConstRCPtr<LVisualPart> clientPart;
    ConstRCPtr<LVisualPart> overlay;
    bool overlayReplacesClient = false;
    ConstRCPtr<LStencil> stencil;
    RCPtr<LFontText> textBlock;
    int32_t textX = 0;
    int32_t textY = 0;
    RectRegion region;
};

}  // namespace Orv
