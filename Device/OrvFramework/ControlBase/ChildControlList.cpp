// The child list of a control: who holds whom, and the tab and paint orders sorted on demand.

#include "ControlBase/Control.h"
#include "ControlBase/LayoutDescriptor.h"
#include "ObjectBase/Exception.h"
#include "Utilities/Storage/ArrayUtils.h"

namespace Orv {

namespace {

bool ClipsToParent(const LControl& control)
{
    const RCPtr<LLayoutDescriptor>& layout = control.GetLayout();
    return !layout || layout->clipToParent;
}

int32_t TabStopOf(const LControl& control)
{
    const RCPtr<LLayoutDescriptor>& layout = control.GetLayout();
    return layout ? layout->tabStop : 0;
}

int32_t DockedAxesOf(const LControl& control)
{
    const RCPtr<LLayoutDescriptor>& layout = control.GetLayout();
    return layout ? int32_t{layout->xIsDocked} + int32_t{layout->yIsDocked} : 0;
}

int32_t ZOrderOf(const LControl& control)
{
    const RCPtr<LLayoutDescriptor>& layout = control.GetLayout();
    return layout ? layout->zOrder : 0;
}

// The index-range and order faults of the two GetAt forms, each with the line the messages have
// always named.
[[noreturn]] void ThrowGetAtFault(const char* prettyFunction, int line)
{
    ThrowException(ExceptionKind::RuntimeError, {},
                   ThrowSite{prettyFunction, "ControlBase\\Control", line});
}

}  // namespace

LControl::ChildControlList::ChildControlList(LControl* owner) : owner(owner) {}

LControl::ChildControlList::~ChildControlList()
{
    Clear();
}

ORVRESULT LControl::ChildControlList::Add(const RCPtr<LControl>& child)
{
    return Add(child.Get());
}

ORVRESULT LControl::ChildControlList::Add(LControl* child)
{
    if (child == nullptr) {
        return E_INVALIDARG;
    }
    const RCPtr<LControl>* items = children.GetData();
    for (uint32_t index = children.GetCount(); index-- > 0;) {
        if (items[index]->GetName() == child->GetName()) {
            return E_FAIL;
        }
    }
    // The entry first: it is the one step that can fail (memory), and nothing else has changed
    // then.
    children.AddItem(RCPtr<LControl>(child));
    // Overlay controls below this one are counted all the way up, so that drawing and hit
    // testing skip subtrees without any.
    owner->AddNonClippingDescendants(child->nonClippingDescendants +
                                     (ClipsToParent(*child) ? 0 : 1));
    child->parent = RCPtr<LControl>(owner);
    owner->AddBackReference();
    ++changeCount;
    return S_OK;
}

int32_t LControl::ChildControlList::Remove(const RCPtr<LControl>& child)
{
    if (!child) {
        return -1;
    }
    const RCPtr<LControl>* items = children.GetData();
    for (uint32_t index = children.GetCount(); index-- > 0;) {
        if (items[index].Get() != child.Get()) {
            continue;
        }
        owner->AddNonClippingDescendants(
            -(child->nonClippingDescendants + (ClipsToParent(*child) ? 0 : 1)));
        owner->RemoveBackReference();
        child->parent = nullptr;
        RCPtr<LControl> removed;
        children.RemoveItem(index, removed);
        ++changeCount;
        return static_cast<int32_t>(index);
    }
    return -1;
}

void LControl::ChildControlList::Clear()
{
    while (children.GetCount() > 0) {
        // Held here: removing the last reference inside Remove would free the child while its
        // list entry is still being read.
        const RCPtr<LControl> child = children.GetData()[children.GetCount() - 1];
        Remove(child);
    }
}

void LControl::ChildControlList::SortIfChanged() const
{
    if (sortedAtChange == changeCount) {
        return;
    }
    const RCPtr<LControl>* const first = children.GetData();
    const IArray<RCPtr<LControl>>& source = children;
    // Ties keep insertion order: the elements' own positions break them.
    ArrayUtils::SortIndecies(tabOrder, source, 0, children.GetCount(),
                             [first](const RCPtr<LControl>& a, const RCPtr<LControl>& b) {
                                 const int32_t ta = TabStopOf(*a);
                                 const int32_t tb = TabStopOf(*b);
                                 return ta != tb ? ta < tb : &a - first < &b - first;
                             });
    ArrayUtils::SortIndecies(paintOrder, source, 0, children.GetCount(),
                             [first](const RCPtr<LControl>& a, const RCPtr<LControl>& b) {
                                 const bool ca = ClipsToParent(*a);
                                 const bool cb = ClipsToParent(*b);
                                 if (ca != cb) {
                                     return ca;
                                 }
                                 const int32_t da = DockedAxesOf(*a);
                                 const int32_t db = DockedAxesOf(*b);
                                 if (da != db) {
                                     return da < db;
                                 }
                                 const int32_t za = ZOrderOf(*a);
                                 const int32_t zb = ZOrderOf(*b);
                                 if (za != zb) {
                                     return za < zb;
                                 }
                                 return &a - first < &b - first;
                             });
    sortedAtChange = changeCount;
}

const Array<uint32_t>* LControl::ChildControlList::OrderIndices(int32_t order) const
{
    switch (order) {
        case kPaintOrder:
            SortIfChanged();
            return &paintOrder;
        case kTabOrder:
            SortIfChanged();
            return &tabOrder;
        default:
            return nullptr;
    }
}

const RCPtr<LControl>& LControl::ChildControlList::GetAt(uint32_t index, int32_t order)
{
    if (index >= children.GetCount()) {
        ThrowGetAtFault(__PRETTY_FUNCTION__, 3327);
    }
    if (order == kInsertionOrder) {
        return children.GetData()[index];
    }
    const Array<uint32_t>* indices = OrderIndices(order);
    if (indices == nullptr) {
        ThrowGetAtFault(__PRETTY_FUNCTION__, 3347);
    }
    return children.GetData()[indices->GetAt(index)];
}

const RCPtr<LControl>& LControl::ChildControlList::GetAt(uint32_t index, int32_t order) const
{
    if (index >= children.GetCount()) {
        ThrowGetAtFault(__PRETTY_FUNCTION__, 3355);
    }
    if (order == kInsertionOrder) {
        return children.GetData()[index];
    }
    const Array<uint32_t>* indices = OrderIndices(order);
    if (indices == nullptr) {
        ThrowGetAtFault(__PRETTY_FUNCTION__, 3375);
    }
    return children.GetData()[indices->GetAt(index)];
}

}  // namespace Orv
