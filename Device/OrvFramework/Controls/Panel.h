#pragma once
// LPanel: the grouping container. A scroll view that keeps keyboard navigation inside itself:
// Tab moves among its own focusable children and leaves the panel only when the search would
// wrap round; keys nothing in the panel handles climb to the parent panel and finally to the
// global hot keys; and the panel hears the keys its siblings get, so that its local hot keys work
// while a sibling has the focus. A panel without parent (a root control) hears no sibling keys.
// UI thread only.

#include "Controls/ScrollView.h"

namespace Orv {

class LPanel : public LScrollView
{
public:
    LPanel(const RCPtr<LControl>& parent, const WideString& name);
    ~LPanel() override;

    RCPtr<LControl> FindNextFocusable(const RCPtr<LControl>& from, bool backwards) override;
    void RouteUnhandledKey(const RCPtr<LKeyParam>& key) override;
    void MoveFocus(const RCPtr<LKeyParam>& key) override;
    // 0, the scroll view's failure, or E_FAIL when the panel cannot hear its siblings' keys.
    ORVRESULT Initialize() override;

    int OnNotification(const RCPtr<LNotificationDistributor>& sender,
                       const RCPtr<LNotification>& notification) override;
    ORVRESULT Unregister(const RCPtr<LNotificationDistributor>& source,
                         const char16_t* idText) override;

private:
    int OnPanelSiblingKey(const RCPtr<LNotificationDistributor>& sender,
                          const RCPtr<LNotification>& notification);
    void OfferToApplicationHotKeys(const RCPtr<LKeyParam>& key);

    RCPtr<LNotificationHandler<LPanel>> panelHandler;
};

}  // namespace Orv
