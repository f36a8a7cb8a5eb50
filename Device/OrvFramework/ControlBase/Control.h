#pragma once
// LControl: the base of every control. A control is a counted node of a tree under a root
// window; it is at once a notification distributor (others register with it), a notification
// client (it registers with others) and an input target.
//
// Lifetime: a control owns its children (the child list holds them counted); a child holds its
// parent counted too, and that reference is counted as a back reference of the parent, as is the
// menu updater's. So when the last ordinary holder lets a tree go, the root finds only back
// references left, drops them (DropBackReferences: registrations, updater, children) and goes,
// taking its subtree with it. A top-level control holds its root window; the window holds its
// root control.
//
// Creation from a skin (the create function of every class): constructor (parent, name),
// ApplyDescriptor, CreateChildren, Initialize, OnCreated, then the created flag. Before the flag
// is set a control handles no notification.
//
// The virtual operations keep their slot order (derived classes override by slot): do not
// reorder, insert or remove any of the 94 below. UI thread only.

#include <cstdint>

#include "ControlBase/ConditionsParam.h"
#include "ControlBase/MenuItemUpdater.h"
#include "ControlBase/RootWindow.h"
#include "ControlBase/UITarget.h"
#include "Notification/NotificationClient.h"
#include "Notification/NotificationDistributor.h"
#include "Notification/NotificationHandler.h"
#include "ObjectBase/RCPtr.h"
#include "ObjectBase/RefCountedObject.h"
#include "ObjectBase/TaggableObject.h"
#include "System/HotKeyTable.h"
#include "System/KeyCode.h"
#include "Utilities/Graphics/Color.h"
#include "Utilities/Graphics/Geometry.h"
#include "Utilities/Storage/Array.h"
#include "Utilities/Storage/RCPtrArray.h"
#include "Utilities/Storage/StringT.h"

namespace Orv {

class LBitmap;
class LColorizer;
class LControlDescriptor;
class LFont;
class LLayoutDescriptor;
class LLook;
struct AxisPositionSpec;
struct AxisSizeLimitSpec;
struct AxisSizeSpec;
class LMenuDescriptor;
class LMenuItemUpdater;
class LNotificationCenter;
class LRenderer;
class LRootWindow;
class LStringTable;
class LVisualPart;
class RectRegion;

class LControl : public virtual LRefCountedObject,
                 public virtual LNotificationClient,
                 public virtual LNotificationDistributor,
                 public virtual LTaggableObject,
                 public virtual UITarget
{
public:
    // The children of one control: insertion order, and tab and paint orders kept as index
    // arrays that are sorted again only when the change counter moved since the last sort.
    class ChildControlList
    {
    public:
        enum Order : int32_t
        {
            kInsertionOrder = 0,
            kPaintOrder = 1,
            kTabOrder = 2,
        };

        explicit ChildControlList(LControl* owner);
        virtual ~ChildControlList();
        ChildControlList(const ChildControlList&) = delete;
        ChildControlList& operator=(const ChildControlList&) = delete;

        // E_INVALIDARG for a null child; E_FAIL when a child of that name is here already;
        // otherwise the child joins the end, its parent link pointing at the owner. 0.
        ORVRESULT Add(const RCPtr<LControl>& child);
        // The same for a child that may not be counted yet (a control joining from its
        // constructor): nothing takes a reference to it unless it joins.
        ORVRESULT Add(LControl* child);
        // -1 when the child is not here, else its former index.
        int32_t Remove(const RCPtr<LControl>& child);
        // Releases every child, from the last.
        void Clear();
        // The child at that index of the order; throws for an index out of range (tested first)
        // and for an unknown order.
        const RCPtr<LControl>& GetAt(uint32_t index, int32_t order);
        const RCPtr<LControl>& GetAt(uint32_t index, int32_t order) const;
        uint32_t GetCount() const { return children.GetCount(); }
        int32_t GetChangeCount() const { return changeCount; }
        // A child's ClipToParent or TabStop changed: the orders are sorted again on next use.
        void MarkChanged() { ++changeCount; }
        // 1 when the name does not change; E_FAIL when another child bears it; E_INVALIDARG for
        // a control not in the list. Otherwise the child takes the name and the later siblings'
        // position and size references follow it. 0.
        ORVRESULT RenameChild(const RCPtr<LControl>& child, const WideString& newName);

    private:
        void SortIfChanged() const;
        // The order's index array, sorted when stale; null for an unknown order.
        const Array<uint32_t>* OrderIndices(int32_t order) const;

        RCPtrArray<LControl> children;
        mutable Array<uint32_t> tabOrder;
        mutable Array<uint32_t> paintOrder;
        int32_t changeCount = 1;
        mutable int32_t sortedAtChange = 0;
        LControl* owner;  // not counted: the owner holds the list
    };

    // Every control class has these two parameters. With a parent the control joins the end of
    // its child list (a parent that already has a child of this name leaves it without parent).
    LControl(const RCPtr<LControl>& parent, const WideString& name);
    ~LControl() override;
    LControl(const LControl&) = delete;
    LControl& operator=(const LControl&) = delete;

    // --- The virtual operations, in slot order

    /* 0 */ virtual ORVRESULT SetText(const WideString& text);
    /* 1 */ virtual double SetValue(double position);
    /* 2 */ virtual void OnValueChanged();
    /* 3 */ virtual ORVRESULT SetValueRange(double low, double high, int32_t scale);
    /* 4 */ virtual RectD CalcClientRect();
    /* 5 */ virtual void OnClientRectChanged();
    /* 6 */ virtual void OnScrollOffsetChanged(const PointD& oldOffset, const PointD& newOffset);
    /* 7 */ virtual bool OnChildRectChanged(const RCPtr<LControl>& child);
    /* 8 */ virtual void CalcNaturalSize(PointD& size);
    /* 9 */ virtual void GetMaxSize(PointD& size);
    /* 10 */ virtual bool SetClipToParent(bool clip);
    /* 11 */ virtual PointD SetScrollOffset(const PointD& offset);
    /* 12 */ virtual const RCPtr<LStringTable>& GetStringTable() const;
    /* 13 */ virtual bool SupportsEditCommands() const;
    /* 14 */ virtual RCPtr<LControl> GetEditTarget();
    /* 15 */ virtual bool CanPerformEdit(int32_t editCode);
    /* 16 */ virtual ORVRESULT PerformEdit(int32_t editCode);
    /* 17 */ virtual ORVRESULT SetDragMode(int32_t mode, uint32_t flags);
    /* 18 */ virtual ORVRESULT BeginDragGeometry();
    /* 19 */ virtual ORVRESULT RebaseDrag();
    /* 20 */ virtual ORVRESULT DragTo(const RCPtr<LPointWithModifiersParam>& point);
    /* 21 */ virtual void OnDragMoved(const RCPtr<LPointWithModifiersParam>& point);
    /* 22 */ virtual ORVRESULT EndDrag();
    /* 23 */ virtual RCPtr<LControl> FindDropTarget(const RCPtr<LControl>& dragged,
                                                    const PointD& windowPoint);
    /* 24 */ virtual bool AcceptsDrop(const RCPtr<LControl>& dragged);
    /* 25 */ virtual uint32_t GetDropAutoScrollEdges(const RCPtr<LControl>& dragged);
    /* 26 */ virtual void GetScrollRange(RectD& range, const RCPtr<LControl>& asking);
    /* 27 */ virtual void GetClientBounds(RectD& bounds);
    /* 28 */ virtual void GetDragRange(RectD& range);
    /* 29 */ virtual void OnDragEnter(const RCPtr<LControl>& dragged);
    /* 30 */ virtual void OnDragOver(const RCPtr<LControl>& dragged, const PointD& point);
    /* 31 */ virtual void OnDragLeave(const RCPtr<LControl>& dragged);
    /* 32 */ virtual ORVRESULT OnDrop(const RCPtr<LControl>& dragged);
    /* 33 */ virtual ORVRESULT SetFocus(bool first);
    /* 34 */ virtual void SetNotFocusable(bool notFocusable);
    /* 35 */ virtual bool CanTakeFocus();
    /* 36 */ virtual void OnConditionsChanged(const RCPtr<LConditionsParam>& conditions);
    /* 37 */ virtual ORVRESULT Close();
    /* 38 */ virtual ORVRESULT AttachIdleHandler();
    /* 39 */ virtual void OnWindowAvailable();
    /* 40 */ virtual bool SetVisible(bool visible);
    /* 41 */ virtual bool IsTransparentAt(int32_t x, int32_t y);
    /* 42 */ virtual uint32_t GetLookColorAt(const PointL& point, int32_t lookIndex);
    /* 43 */ virtual ORVRESULT QueryCommandState(const RCPtr<LNotificationDistributor>& sender,
                                                 const RCPtr<LRefCountedObject>& parameter,
                                                 NotificationId commandId, bool& enabled);
    /* 44 */ virtual const RCPtr<LMenuDescriptor>& GetContextMenu() const;
    /* 45 */ virtual void OnContextMenuOpening(const RCPtr<LControl>& menu);
    /* 46 */ virtual ORVRESULT SelectLook(uint32_t index);
    /* 47 */ virtual int32_t AddLook(const RCPtr<LLook>& look);
    /* 48 */ virtual int32_t ApplicationHook(RectL& proposedWindowRect);
    /* 49 */ virtual void SetEnabled(bool enabled);
    /* 50 */ virtual ORVRESULT ApplyDescriptor(const RCPtr<LControlDescriptor>& descriptor);
    /* 51 */ virtual ORVRESULT Draw(LRenderer& renderer, const RectRegion& dirty,
                                    RCPtrArray<LControl>& overlays, bool overlayPass);
    /* 52 */ virtual ORVRESULT Invalidate(const RectD& windowRect, bool clip,
                                          const RectD& clipRect);
    /* 53 */ virtual ORVRESULT InvalidateRect(const RectD& localRect, bool clip);
    /* 54 */ virtual RCPtr<LControl>& HitTest(RCPtr<LControl>& result, const PointL& point,
                                              bool inside, PointL& localPoint, int32_t& layer);
    /* 55 */ virtual void OnFontChanged();
    /* 56 */ virtual ORVRESULT RequestFocusOnClick(const RCPtr<LControl>& clicked);
    /* 57 */ virtual void OnLeftButtonDown(const RCPtr<LMouseButtonParam>& button);
    /* 58 */ virtual void OnLeftButtonUp(const RCPtr<LMouseButtonParam>& button);
    /* 59 */ virtual void OnMiddleButtonDown(const RCPtr<LMouseButtonParam>& button);
    /* 60 */ virtual void OnMiddleButtonUp(const RCPtr<LMouseButtonParam>& button);
    /* 61 */ virtual void OnRightButtonDown(const RCPtr<LMouseButtonParam>& button);
    /* 62 */ virtual void OnRightButtonUp(const RCPtr<LMouseButtonParam>& button);
    /* 63 */ virtual void OnMouseMoveHook(const RCPtr<LPointWithModifiersParam>& point);
    /* 64 */ virtual ORVRESULT OnWheel(const RCPtr<LMouseWheelParam>& wheel);
    /* 65 */ virtual ORVRESULT OnHWheel(const RCPtr<LMouseWheelParam>& wheel);
    /* 66 */ virtual ORVRESULT OnClick(const RCPtr<LMouseButtonParam>& button);
    /* 67 */ virtual ORVRESULT OnLeftClick(const RCPtr<LMouseButtonParam>& button);
    /* 68 */ virtual ORVRESULT OnMiddleClick(const RCPtr<LMouseButtonParam>& button);
    /* 69 */ virtual ORVRESULT OnRightClick(const RCPtr<LMouseButtonParam>& button);
    /* 70 */ virtual void OnLeftClickHook(const RCPtr<LMouseButtonParam>& button);
    /* 71 */ virtual void OnMiddleClickHook(const RCPtr<LMouseButtonParam>& button);
    /* 72 */ virtual void OnRightClickHook(const RCPtr<LMouseButtonParam>& button);
    /* 73 */ virtual int32_t ContainsPoint(const PointL& point);
    /* 74 */ virtual RCPtr<LControl> FindNextFocusable(const RCPtr<LControl>& from, bool backwards);
    /* 75 */ virtual ORVRESULT OnKeyHook(const RCPtr<LKeyParam>& key);
    /* 76 */ virtual ORVRESULT HandleHotKeys(const RCPtr<LKeyParam>& key);
    /* 77 */ virtual void RouteUnhandledKey(const RCPtr<LKeyParam>& key);
    /* 78 */ virtual void MoveFocus(const RCPtr<LKeyParam>& key);
    /* 79 */ virtual void FindHotKeyTarget(const RCPtr<LKeyParam>& key,
                                           const RCPtrArray<LNotificationClient>& candidates,
                                           Array<int32_t>& order);
    /* 80 */ virtual ORVRESULT RefreshInheritedFont();
    /* 81 */ virtual ORVRESULT OnParentScrolled(const PointD& oldOffset, const PointD& newOffset);
    /* 82 */ virtual ORVRESULT OnParentRectChanged(const RCPtr<LControl>& child);
    /* 83 */ virtual void OnTick();
    /* 84 */ virtual void DrawContentHook(LRenderer& renderer);
    /* 85 */ virtual void DrawOverlayHook(LRenderer& renderer);
    /* 86 */ virtual ORVRESULT CreateChildren(const RCPtr<LControlDescriptor>& descriptor);
    /* 87 */ virtual ORVRESULT Initialize();
    /* 88 */ virtual ORVRESULT ReadCreateParams();
    /* 89 */ virtual ORVRESULT AttachChild(const RCPtr<LControl>& child,
                                           const RCPtr<LControlDescriptor>& descriptor);
    /* 90 */ virtual ORVRESULT OnCreated();
    /* 91 */ virtual const WideString& GetToolTipText() const;
    /* 92 */ virtual ORVRESULT ShowToolTip(bool show);
    /* 93 */ virtual void GetVisibleClientRect(RectD& rect);

    // --- The input interface (bodies with the pointer, key and layout work)

    ORVRESULT OnMouseEnter() override;
    ORVRESULT OnMouseMove(const RCPtr<LPointWithModifiersParam>& point) override;
    ORVRESULT OnMouseDown(const RCPtr<LMouseButtonParam>& button) override;
    ORVRESULT OnMouseUp(const RCPtr<LMouseButtonParam>& button) override;
    ORVRESULT OnMouseLeave() override;
    ORVRESULT BeginCapture(int32_t button, int32_t x, int32_t y) override;
    ORVRESULT OnCaptureLost() override;
    void OnKey(const RCPtr<LKeyParam>& key) override;
    ORVRESULT OnMouseWheel(const RCPtr<LMouseWheelParam>& wheel) override;
    ORVRESULT OnMouseHWheel(const RCPtr<LMouseWheelParam>& wheel) override;
    ORVRESULT OnRelayout(const PointL& size) override;
    ORVRESULT CanReleaseFocus() override;
    ORVRESULT ReleaseFocus() override;

    // --- The notification receiver: the control's handler table, once created

    int OnNotification(const RCPtr<LNotificationDistributor>& sender,
                       const RCPtr<LNotification>& notification) override;
    ORVRESULT Unregister(const RCPtr<LNotificationDistributor>& source,
                         const char16_t* idText) override;
    // Registrations, the menu updater and the children go; then the counting rule answers.
    ORVRESULT DropBackReferences() override;

    // --- The tree

    const WideString& GetName() const { return name; }
    const RCPtr<LControl>& GetParent() const { return parent; }
    ChildControlList& GetChildren() { return children; }
    const ChildControlList& GetChildren() const { return children; }
    // The direct child of that name (exact), searched from the last; null when none.
    RCPtr<LControl> FindChild(const WideString& childName) const;
    // The child's position in the order, searched from the end; -1 when absent.
    int32_t IndexOfChild(const RCPtr<LControl>& child, int32_t order) const;
    // The top-most ancestor; this control when it has no parent.
    RCPtr<LControl> GetTopLevelControl();
    // The root window of the top-level control.
    const RCPtr<LRootWindow>& GetRootWindowRef();
    // 1 when the parent does not change; otherwise 0 (the control stays without parent when the
    // new parent refuses its name).
    ORVRESULT SetParent(const RCPtr<LControl>& newParent);
    // E_FAIL for a control with a parent; otherwise the link is kept. 0.
    ORVRESULT SetRootWindow(const RCPtr<LRootWindow>& rootWindow);

    // --- Skin

    const RCPtr<LControlDescriptor>& GetDescriptor() const { return descriptor; }
    const RCPtr<LLayoutDescriptor>& GetLayout() const { return layout; }
    // The text of that id in the control's string table; empty when the table or the id is
    // missing.
    WideString GetLocalizedString(const char16_t* id) const;
    const WideString& GetText() const { return text; }
    // True when the text changed; hands it to every look.
    bool ChangeText(const WideString& newText, bool relayout);
    // The looks in look-list order (null for an empty slot) and their blend weights.
    const RCPtrArray<LLook>& GetLooks() const { return looks; }
    const Array<float>& GetLookWeights() const { return lookWeights; }
    // E_INVALIDARG for an index without a weight. A weight outside 0..1 is ignored; exclusive:
    // every other weight becomes 0. 0.
    ORVRESULT SetLookWeight(uint32_t index, float weight, bool exclusive);
    // name empty, size <= 0 or relative, style -1: that part comes from the base font (the
    // parent's when the font inherits from the parent, else the application's). The result of
    // ApplyFont, or E_FAIL when no font results.
    ORVRESULT SetFont(const WideString& fontName, float size, int32_t style, bool sizeIsRelative);
    // E_INVALIDARG for a null font; 1 when the control's font is equal already; 0.
    ORVRESULT ApplyFont(const ConstRCPtr<LFont>& newFont);
    const ConstRCPtr<LFont>& GetFont() const { return font; }

    // --- State

    bool IsCreated() const { return created; }
    // Set by the create function once creation has completed.
    void SetCreated() { created = true; }
    double GetValuePosition() const { return valuePosition; }
    // The value a position maps to in the range (linear, or logarithmic for scale 1), and the
    // position of a value (clamped into the range; 0 for an empty range; NaN stays NaN, which
    // SetValue ignores).
    double ValueFromPosition(double position) const;
    double PositionFromValue(double value) const;
    bool IsNotFocusable() const { return notFocusable; }
    // A focus scope takes the focus whatever its ancestors allow (a pop-up over a control that
    // cannot take it).
    void SetFocusScope(bool scope) { focusScope = scope; }
    bool WantsTab() const { return wantsTab; }
    bool UsesParentToolTip() const { return useParentToolTip; }
    const RectD& GetRect() const { return rect; }
    const PointD& GetScrollOffset() const { return scrollOffset; }
    float GetOpacity() const { return opacity; }
    // Where the control's local origin lies in its root control's window coordinates.
    PointD GetPositionInRoot();
    // The control whose tool tip shows for this one: a parent's when it has no text of its own
    // and uses its parent's.
    RCPtr<LControl> GetToolTipProvider();

    // --- Layout
    // Places the control as its layout asks: the result of SetRect (0 changed, 1 unchanged), or
    // E_FAIL without a layout, for a created control without parent while it has no root
    // window, or for one without parent when the application has no root window to measure
    // against.
    ORVRESULT UpdateLayout();
    // 1 when the rectangle is exactly this one; otherwise stores it, lays out the children when
    // the size changed, then the later siblings and the parent. 0.
    ORVRESULT SetRect(const PointD& position, const PointD& size);
    // Store one axis (0 x, 1 y) of the layout, lay out, and read it back: 0 when the layout holds
    // the given values, 1 otherwise (another axis stores nothing).
    ORVRESULT SetAxisLayout(int axis, const AxisPositionSpec& position, const AxisSizeSpec& size);
    ORVRESULT SetAxisSizeLimits(int axis, const AxisSizeLimitSpec& minimum,
                                const AxisSizeLimitSpec& maximum);
    // Both axes at once, laid out once.
    ORVRESULT SetLayoutPlacement(const AxisPositionSpec& xPosition, const AxisSizeSpec& xSize,
                                 const AxisPositionSpec& yPosition, const AxisSizeSpec& ySize);
    // The bounding box of the children docked on no axis (and of those without layout), rounded
    // to integers; (0, 0, 0, 0) when no child counts.
    void ChildrenBounds(RectL& bounds) const;
    // Descendants (not this control) whose ClipToParent is false.
    int32_t GetNonClippingDescendantCount() const { return nonClippingDescendants; }
    const RCPtr<LNotificationHandler<LControl>>& GetNotificationHandler() const { return handler; }
    const RCPtr<LNotificationCenter>& GetNotificationCenter() const { return notificationCenter; }

    // --- Geometry, hit testing, kinetic motion and idle requests
    // Where the local origin lies in window coordinates.
    PointD GetWindowOrigin();
    // The local origin in the parent's local coordinates (scroll offset and client origin
    // counted); the plain position without a parent.
    PointD GetPositionInParent() const;
    // A point of the other control's local coordinates in this control's; unchanged without one.
    void ConvertPointFrom(const RCPtr<LControl>& other, PointD& point);
    // The layer the control is hit in: INT_MIN while it and every ancestor clip to their parent,
    // else the highest Z_Order among those that do not.
    int32_t GetZLayer() const;
    bool IsExcludedFromHitTest() const { return excludedFromHitTest; }
    void SetExcludedFromHitTest(bool excluded) { excludedFromHitTest = excluded; }
    // Axis 0 x, 1 y. Starts the motion or updates a running one (velocity in pixels per second,
    // the offset kept within low..high); the source is dragged along as the content moves. 0;
    // E_INVALIDARG for another axis.
    ORVRESULT StartKineticMotion(int axis, double velocity, double low, double high,
                                 const RCPtr<LControl>& source);
    // A flick: a motion without source that slows down once a second has passed since the
    // release. E_INVALIDARG for another axis.
    ORVRESULT StartFlick(int axis, double velocity, double low, double high);
    // 1 when the axis was not moving, else 0.
    ORVRESULT StopKineticMotion(int axis);
    bool IsKineticMotionActive(int axis) const;
    // Requests are counted; the control is called on every idle pass of its root window while
    // the count is above 0. 0, or the failed registration's result.
    ORVRESULT RequestIdle();
    // 0, or E_FAIL when the registration could not be removed.
    ORVRESULT ReleaseIdle();
    int32_t GetIdleRequestCount() const { return idleRequests; }
    // The condition bits as the state now stands (focus, hover, capture, buttons, enabled,
    // visible, forced hover).
    uint32_t ComputeConditions();
    // Recomputes the conditions and tells the clients what changed.
    void UpdateConditions();
    // The payload every condition notification carries: the latest change announced.
    const RCPtr<LConditionsParam>& GetConditionsParam() const { return conditions; }
    // Bit 12 of the conditions without the pointer; the conditions follow when it changed.
    void SetForcedHover(bool forced);
    bool IsForcedHover() const { return forcedHover; }
    // The cursor shown while the pointer is over the control; null for none.
    void SetCursor(HCURSOR id);
    HCURSOR GetCursor() const { return cursor; }
    // What the pointer input hands the drag engine: the press point (parent coordinates) and
    // whether a left drag is active, and the time of each move (milliseconds).
    void SetDragInput(const PointD& press, bool leftDragActive);
    void RecordMoveTime(int32_t milliseconds);
    // One drag step to a point in local coordinates, before the OnDragMoved hook (DragTo runs
    // both).
    ORVRESULT DragToPoint(const PointD& local);
    const RCPtr<LControl>& GetDropTarget() const { return dropTarget; }
    // The idle callback: the kinetic steps, the children closed later, then OnTick.
    int OnIdle(const RCPtr<LNotificationDistributor>& sender,
               const RCPtr<LNotification>& notification);

    // --- Drawing and invalidation

    // Every overlay control (ClipToParent false) of the subtree, in paint order, appended to the
    // list; with check, an invisible overlay control and its subtree are left out; with
    // includeSelf the control itself may be one. The number appended.
    int32_t CollectOverlayControls(RCPtrArray<LControl>& list, bool check, bool includeSelf);
    // Repaints the control when it is an overlay control, and every overlay descendant.
    void InvalidateOverlays();
    // The IsVisible flag set and a size above 0 on both axes; recursive: the same up the tree.
    bool IsVisible(bool recursive) const;
    // The first look whose weight is above 0, -1 when none.
    int32_t FirstVisibleLookIndex() const;
    // The look of that index; an index out of range means the current look (the first with
    // weight, else the first that exists). Null when the control has no look.
    const RCPtr<LLook>& GetLook(int32_t index) const;
    // That look's client rectangle in local coordinates; the box without looks.
    RectD GetClientRect(int32_t lookIndex) const;
    void ClearLookRegions();
    void ClearLookRegion(int32_t lookIndex);
    // E_INVALIDARG when either look is missing; else the destination's region becomes the box
    // minus the source's region and the box is repainted. 0.
    ORVRESULT SetLookRegionToComplement(int32_t destinationLook, int32_t sourceLook);

    // --- Keyboard focus
    bool HasFocus() const { return hasFocus; }
    // A descendant has the focus.
    bool ContainsFocus() const { return containsFocus; }
    // The layout's enabled flag; recursive: every ancestor's too.
    bool IsEnabled(bool recursive) const;
    // The control itself takes the focus (rather than passing it to a descendant): shown,
    // enabled up the tree, focusable, no descendant can take it, and no ancestor up to the first
    // focus scope is marked not focusable.
    bool IsFocusTarget();
    // The first (first true) or last child in tab order that takes the focus, itself or through
    // a descendant; null when none does.
    RCPtr<LControl> GetFocusableChild(bool first);

    // --- Menus from the string table, menu entries with hot keys, tool tips
    // Appends the context menus the string table's "CONTEXT_MENU" entries describe: one for the
    // "CONTEXT_MENU." entries when there are any, else one per "CONTEXT_MENU..." group in group
    // order. 0.
    ORVRESULT BuildMenuFromStrings(RCPtrArray<LMenuDescriptor>& menus);
    // Attach (bind true) or detach a menu: every leaf entry whose notification id a hot key of
    // the root window or of the application binds is passed on where that hot key sends it.
    void BindMenuHotKeys(const RCPtr<LMenuDescriptor>& menu, bool bind);
    // The current look's label needs more width than its text box; without a measured label,
    // whether the control has a name.
    bool IsTextClipped();
    // The tool tip of a control that shows its label: the label itself while it is clipped, else
    // the "TOOLTIP" text.
    const WideString& GetClippedTextToolTip() const;

    // --- Local hot keys
    KeyCode GetLocalHotKey(const char16_t* idText) const;
    bool HasLocalHotKeys(const char16_t* idText) const;
    const HotKeyTable& GetLocalHotKeys() const { return localHotKeys; }

    // The control's updater, made on first request and kept.
    RCPtr<LMenuItemUpdater> GetContextMenuUpdater();
    // E_INVALIDARG when negative; 0.
    ORVRESULT SetDragThreshold(int32_t pixels);
    int32_t GetDragThreshold() const { return dragThreshold; }

    // Opens the menu at the pointer in a pop-up made from the skin's "contextMenu" control under
    // this one, after OnContextMenuOpening; nothing without such a control. 0.
    ORVRESULT ShowContextMenu(const RCPtr<LMenuDescriptor>& menu);
    // The old menu's entries leave the hot-key bindings, the new one's join them. 0.
    ORVRESULT SetContextMenu(const RCPtr<LMenuDescriptor>& menu);
    // E_INVALIDARG when there is no look at that index; otherwise the look's update region
    // becomes a copy of this one and the control is repainted. 0.
    ORVRESULT SetLookRegion(int32_t lookIndex, const RectRegion& region);

    // The children waiting to be closed at the next idle pass.
    ORVRESULT CloseChildLater(const RCPtr<LControl>& child);
    void CloseOwnedControls();

    // An image part for a look or an overlay, sized by its bitmap; null without a bitmap.
    static ConstRCPtr<LVisualPart> CreateLookVisualPart(
        const WideString& name, const RCPtr<LBitmap>& bitmap, int32_t resizeType,
        const ConstRCPtr<LColorizer>& colorizer, float alphaModifier, const RCPtr<LBitmap>& mask);

    // Controls alive in the process, for leak checks.
    static int32_t GetLiveCount();

protected:
    // A counted hold on this control across a call that may let its last holder go; empty while
    // the constructor runs (nothing counts the control yet, and a hold would destroy it).
    RCPtr<LControl> HoldSelf();
    // Adds delta to the non-clipping count of this control and every ancestor.
    void AddNonClippingDescendants(int32_t delta);
    // Offers a key from the parent (or handed over directly) to the local hot keys: 1.
    int OnSiblingKey(const RCPtr<LNotificationDistributor>& sender,
                     const RCPtr<LNotification>& notification);
    // A menu entry bound to a hot key was chosen: the notification goes where the hot key's
    // would. 1.
    int OnMenuHotKey(const RCPtr<LNotificationDistributor>& sender,
                     const RCPtr<LNotification>& notification);

private:
    // Tests reach the state bytes through it (tests/.../ControlStateTestPeer.h).
    friend struct ControlStateTestPeer;

    // Focus moves: the parent learns that a child took the focus (whether the previous holder
    // let it go); the child on the focus path other than `except`, null when none.
    ORVRESULT ChildGotFocus(const RCPtr<LControl>& child);
    RCPtr<LControl> FocusPathChild(const LControl* except) const;
    // The focus-target rule without its "no descendant can take it" part.
    bool PassesFocusRules() const;
    // A key nobody in the tree took: the root window's hot keys, then the application's.
    void OfferToGlobalHotKeys(const RCPtr<LKeyParam>& key);
    // Tab ran out of this control's children: the parent moves on, or the root window.
    void PassTabUp(const RCPtr<LKeyParam>& key);

    // The children through look i, in their three clip groups (overlay children excepted).
    void DrawChildrenThroughLook(LRenderer& renderer, const RCPtr<LRenderer>& counted,
                                 int32_t lookIndex, const RectRegion& dirty,
                                 RCPtrArray<LControl>& overlays);
    // OnCaptureLost, when the control holds the capture (its own byte, or its window's).
    void EndOwnCapture();
    // Registers the idle callback with the root window's queue when one is reachable; a failure
    // resets the request count.
    ORVRESULT RegisterIdle();
    // Takes the subtree's idle registrations off its current window, keeping their counts.
    void DetachIdleHandlers();
    void DetachIdleHandlersFrom(const RCPtr<LNotificationDistributor>& source);
    // The rectangle a control without parent asks for against its window; E_FAIL without one.
    ORVRESULT ResolveTopLevelLayout(RectD& resolved);
    // The control under a window point (no hover change); null when none.
    RCPtr<LControl> HitTestWindow(const PointD& windowPoint);
    // The layout's absolute values at the drag start.
    void TakeDragOrigin();
    // One idle step of an active kinetic axis.
    void KineticStep(int axis);

    // Re-applying a skin: the window keeps its place and size; the control keeps its
    // visibility, enabled flag and focusability rule; old children that the new descriptor names
    // no more are closed first; the others are attached again to their new sub-descriptors.
    void KeepWindowPlacement();
    void KeepStateThroughReapplication(bool keptVisible, bool keptEnabled);
    void CloseChildrenWithoutSubControl();
    void ReattachChildren(RCPtrArray<LControl>& oldChildren);

    // Joins the end of the new parent's child list, without a counted reference to itself in
    // between, so that the constructor can use it. 0, or the list's refusal.
    ORVRESULT JoinParent(LControl* newParent);

    // What every member is before the constructor's body runs; the order of declaration is the
    // order of destruction, reversed.
    RCPtr<LNotificationHandler<LControl>> handler;
    WideString name;
    RCPtr<LControlDescriptor> descriptor;
    RCPtr<LLayoutDescriptor> layout;
    RectD rect;
    PointD scrollOffset;
    int32_t nonClippingDescendants = 0;
    RCPtr<LConditionsParam> conditions;
    bool hasFocus = false;
    bool containsFocus = false;
    bool hover = false;
    bool capture = false;
    bool leftPressed = false;
    bool middlePressed = false;
    bool rightPressed = false;
    bool leftDrag = false;
    bool middleDrag = false;
    bool rightDrag = false;
    bool forcedHover = false;
    bool excludedFromHitTest = false;
    RCPtr<LRefCountedObject> lastLeftPress;  // the payload of the last left press
    PointD pressPoint;
    PointD dragStartParentScroll;
    int32_t dragMode = 0;
    uint32_t dragFlags = 0;
    PointD dragStartSize;
    double dragOriginXPositionAbs = 0;
    double dragOriginYPositionAbs = 0;
    double dragOriginXSizeAbs = 0;
    double dragOriginYSizeAbs = 0;
    bool restoreClip = false;
    bool xWasDocked = false;
    bool yWasDocked = false;
    RCPtr<LControl> dropTarget;
    PointD dragPosition;
    int32_t dragThreshold = 1;
    bool inDragStep = false;
    int32_t moveTime = 0;
    int32_t previousMoveTime = 0;
    // Set while the move at the press point that starts a drag is delivered.
    bool movingAtPressPoint = false;
    double valuePosition = 0;
    double rangeLow = 0;
    double rangeHigh = 0;
    int32_t scale = 0;
    RCPtrArray<LLook> looks;
    Array<float> lookWeights;
    float opacity = 1.0f;
    RCPtr<LControl> parent;
    RCPtr<LRootWindow> rootWindow;
    RCPtr<LStringTable> stringTable;
    bool wantsTab = false;
    HotKeyTable localHotKeys;
    bool notFocusable = true;
    bool focusScope = false;
    bool labelFollowsScroll = false;
    bool fontInheritsFromParent = false;
    bool fontNameInherited = false;
    bool fontSizeInherited = false;
    bool fontStyleInherited = false;
    bool fontSizeIsRelative = false;
    float relativeSizeFactor = 1.0f;
    ConstRCPtr<LFont> font;
    WideString text;
    RCPtr<LMenuDescriptor> contextMenu;
    WideString toolTipText;
    bool useParentToolTip = false;
    bool created = false;
    bool layoutSuspended = false;
    int32_t idleRequests = 0;
    struct KineticAxis
    {
        bool active = false;
        double startTime = 0;  // seconds
        double velocity = 0;   // pixels per second
        double rangeLow = 0;
        double rangeHigh = 0;
        RCPtr<LControl> source;
    };
    KineticAxis kinetic[2];
    int32_t pressTime = 0;
    int32_t releaseTime = 0;
    bool flick[2] = {false, false};
    PointD smoothedVelocity;       // pixels per second
    double deceleration = 1000.0;  // pixels per second, per second
    HCURSOR cursor = nullptr;
    HCURSOR savedCursor = nullptr;
    RCPtrArray<LControl> closeList;
    RCPtr<LMenuItemUpdater> menuUpdater;
    RCPtr<LNotificationCenter> notificationCenter;
    ChildControlList children;
    bool scrollGuardX = false;
    bool scrollGuardY = false;
    bool clientRectValid = false;
    RectD clientRectCache;
};

}  // namespace Orv
