#include "ControlBase/RectRegion.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>
#include <vector>

#include "ObjectBase/Exception.h"

namespace Orv {
namespace {

constexpr double kLongMaxAsDouble = 2147483647.0;

bool Overlaps(int32_t a0, int32_t a1, int32_t b0, int32_t b1)
{
    return a0 < b0 ? b0 < a1 : a0 < b1;
}

bool Overlaps(const RectNode& n, int32_t left, int32_t top, int32_t right, int32_t bottom)
{
    return Overlaps(n.left, n.right, left, right) && Overlaps(n.top, n.bottom, top, bottom);
}

int32_t Saturate(int64_t value)
{
    return static_cast<int32_t>(std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

// (int)(v + 0.5), truncating toward zero, limited to 32 bits. v is not NaN.
int32_t TruncateHalfUp(double value)
{
    const double shifted = std::trunc(value + 0.5);
    if (shifted <= -2147483648.0) {
        return std::numeric_limits<int32_t>::min();
    }
    if (shifted >= kLongMaxAsDouble) {
        return std::numeric_limits<int32_t>::max();
    }
    return static_cast<int32_t>(shifted);
}

}  // namespace

RectRegion::RectRegion(const RectRegion& other) : pool(other.pool)
{
    Append(other);
}

RectRegion& RectRegion::operator=(const RectRegion& other)
{
    if (this != &other) {
        RectRegion copy(other);
        *this = std::move(copy);
    }
    return *this;
}

RectRegion::RectRegion(RectRegion&& other) noexcept
    : first(std::exchange(other.first, nullptr)), pool(other.pool)
{
}

RectRegion& RectRegion::operator=(RectRegion&& other) noexcept
{
    if (this != &other) {
        Clear();
        pool = other.pool;
        first = std::exchange(other.first, nullptr);
    }
    return *this;
}

RectNode* RectRegion::NewNode(int32_t left, int32_t top, int32_t right, int32_t bottom)
{
    RectNode* node = pool->Allocate();
    if (node == nullptr) {
        ThrowBadAlloc();
    }
    *node = RectNode{left, top, right, bottom, nullptr};
    return node;
}

void RectRegion::PushFront(RectNode* node)
{
    node->next = first;
    first = node;
}

void RectRegion::AddRect(int32_t left, int32_t top, int32_t right, int32_t bottom)
{
    if (left >= right || top >= bottom) {
        return;
    }
    // Taken before the area is cleared, so a refusal leaves the region as it was.
    RectNode* node = NewNode(left, top, right, bottom);
    try {
        SubtractRect(left, top, right, bottom);
    } catch (...) {
        pool->Free(node);
        throw;
    }
    PushFront(node);
}

void RectRegion::AddRectRounded(const RectT<double>& rect)
{
    if (std::isnan(rect.x) || std::isnan(rect.y) || std::isnan(rect.width) ||
        std::isnan(rect.height)) {
        return;
    }
    const int32_t left = TruncateHalfUp(rect.x);
    const int32_t top = TruncateHalfUp(rect.y);
    const int32_t right = Saturate(int64_t{left} + TruncateHalfUp(rect.width));
    const int32_t bottom = Saturate(int64_t{top} + TruncateHalfUp(rect.height));
    AddRect(left, top, right, bottom);
}

void RectRegion::Clear()
{
    RectNode* node = std::exchange(first, nullptr);
    while (node != nullptr) {
        RectNode* next = node->next;
        pool->Free(node);
        node = next;
    }
}

void RectRegion::Append(const RectRegion& other)
{
    for (const RectNode* node = other.first; node != nullptr; node = node->next) {
        PushFront(NewNode(node->left, node->top, node->right, node->bottom));
    }
}

void RectRegion::SubtractRect(int32_t left, int32_t top, int32_t right, int32_t bottom,
                              RectRegion* removed)
{
    if (removed != nullptr && removed->pool != pool) {
        ORV_THROW_DETAIL(InvalidArgument, "regions of different node pools");
    }
    RectNode** link = &first;
    while (*link != nullptr) {
        RectNode* node = *link;
        if (!Overlaps(*node, left, top, right, bottom)) {
            link = &node->next;
            continue;
        }
        // The pieces outside the rectangle go to the front, where this walk does not reach them
        // again. All four are taken before the node changes, so a refusal changes nothing.
        RectNode* pieces[4] = {};
        int pieceCount = 0;
        try {
            const int32_t midTop = std::max(node->top, top);
            const int32_t midBottom = std::min(node->bottom, bottom);
            if (node->top < top) {
                pieces[pieceCount++] = NewNode(node->left, node->top, node->right, top);
            }
            if (bottom < node->bottom) {
                pieces[pieceCount++] = NewNode(node->left, bottom, node->right, node->bottom);
            }
            if (node->left < left) {
                pieces[pieceCount++] = NewNode(node->left, midTop, left, midBottom);
            }
            if (right < node->right) {
                pieces[pieceCount++] = NewNode(right, midTop, node->right, midBottom);
            }
        } catch (...) {
            for (int i = 0; i < pieceCount; ++i) {
                pool->Free(pieces[i]);
            }
            throw;
        }
        node->left = std::max(node->left, left);
        node->top = std::max(node->top, top);
        node->right = std::min(node->right, right);
        node->bottom = std::min(node->bottom, bottom);
        // Unlinked; when it was first, the successor is first now and the pieces go in front of
        // it, so the walk continues from the link of the first piece pushed.
        *link = node->next;
        for (int i = 0; i < pieceCount; ++i) {
            PushFront(pieces[i]);
            if (link == &first) {
                link = &pieces[i]->next;
            }
        }
        if (removed != nullptr) {
            removed->PushFront(node);
        } else {
            pool->Free(node);
        }
    }
}

void RectRegion::SubtractRegion(const RectRegion& other, RectRegion* removed)
{
    if (&other == this) {
        // Subtracting a region from itself would walk the list it is changing.
        const RectRegion copy(other);
        SubtractRegion(copy, removed);
        return;
    }
    for (const RectNode* node = other.first; node != nullptr; node = node->next) {
        SubtractRect(node->left, node->top, node->right, node->bottom, removed);
    }
}

void RectRegion::Intersect(const RectRegion& other)
{
    if (&other == this) {
        return;
    }
    RectRegion pieces(*pool);
    SubtractRegion(other, &pieces);
    *this = std::move(pieces);
}

bool RectRegion::GetBounds(int32_t& left, int32_t& top, int32_t& right, int32_t& bottom) const
{
    if (first == nullptr) {
        left = top = right = bottom = 0;
        return false;
    }
    left = first->left;
    top = first->top;
    right = first->right;
    bottom = first->bottom;
    for (const RectNode* node = first->next; node != nullptr; node = node->next) {
        left = std::min(left, node->left);
        top = std::min(top, node->top);
        right = std::max(right, node->right);
        bottom = std::max(bottom, node->bottom);
    }
    return true;
}

int32_t RectRegion::GetCount() const
{
    int32_t count = 0;
    for (const RectNode* node = first; node != nullptr; node = node->next) {
        ++count;
    }
    return count;
}

void RectRegion::Offset(int32_t dx, int32_t dy)
{
    if (dx == 0 && dy == 0) {
        return;
    }
    for (RectNode* node = first; node != nullptr; node = node->next) {
        node->left = Saturate(int64_t{node->left} + dx);
        node->right = Saturate(int64_t{node->right} + dx);
        node->top = Saturate(int64_t{node->top} + dy);
        node->bottom = Saturate(int64_t{node->bottom} + dy);
    }
}

bool RectRegion::IntersectsRect(int32_t left, int32_t top, int32_t right, int32_t bottom) const
{
    for (const RectNode* node = first; node != nullptr; node = node->next) {
        if (Overlaps(*node, left, top, right, bottom)) {
            return true;
        }
    }
    return false;
}

bool RectRegion::IntersectsArea(const RectT<double>& rect, const PointT<double>& offset) const
{
    double x0 = rect.x + offset.x;
    double y0 = rect.y + offset.y;
    double x1 = x0 + rect.width;
    double y1 = y0 + rect.height;
    x0 = std::max(x0, 0.0);
    y0 = std::max(y0, 0.0);
    x1 = std::min(x1, kLongMaxAsDouble);
    y1 = std::min(y1, kLongMaxAsDouble);
    // Written so that a NaN anywhere answers false.
    if (!(x1 - x0 > kAreaEpsilon<double>) || !(y1 - y0 > kAreaEpsilon<double>)) {
        return false;
    }
    return IntersectsRect(RoundToLong(x0), RoundToLong(y0), RoundToLong(x1), RoundToLong(y1));
}

void RectRegion::Enumerate(IArray<RectT<LongCoord>>& out) const
{
    out.RemoveAll();
    for (const RectNode* node = first; node != nullptr; node = node->next) {
        out.AddItem({node->left, node->top, node->right - node->left, node->bottom - node->top});
    }
}

void RectRegion::Normalize()
{
    if (first == nullptr || first->next == nullptr) {
        return;
    }
    struct Span
    {
        int32_t left;
        int32_t right;
    };
    struct Box
    {
        int32_t left;
        int32_t top;
        int32_t right;
        int32_t bottom;
    };
    std::vector<Box> boxes;
    std::vector<int32_t> edges;
    for (const RectNode* node = first; node != nullptr; node = node->next) {
        boxes.push_back({node->left, node->top, node->right, node->bottom});
        edges.push_back(node->top);
        edges.push_back(node->bottom);
    }
    std::sort(edges.begin(), edges.end());
    edges.erase(std::unique(edges.begin(), edges.end()), edges.end());

    // Cut into bands between consecutive edges; within a band, join spans that touch or overlap;
    // a span equal to one that ended where this band starts extends it downwards.
    std::vector<Box> result;
    std::vector<size_t> previousBand;  // indices into result of the band just above
    for (size_t e = 0; e + 1 < edges.size(); ++e) {
        const int32_t bandTop = edges[e];
        const int32_t bandBottom = edges[e + 1];
        std::vector<Span> spans;
        for (const Box& box : boxes) {
            if (box.top <= bandTop && bandBottom <= box.bottom) {
                spans.push_back({box.left, box.right});
            }
        }
        std::sort(spans.begin(), spans.end(),
                  [](const Span& a, const Span& b) { return a.left < b.left; });
        std::vector<Span> joined;
        for (const Span& span : spans) {
            if (!joined.empty() && span.left <= joined.back().right) {
                joined.back().right = std::max(joined.back().right, span.right);
            } else {
                joined.push_back(span);
            }
        }
        std::vector<size_t> band;
        for (const Span& span : joined) {
            size_t target = result.size();
            for (size_t index : previousBand) {
                const Box& above = result[index];
                if (above.bottom == bandTop && above.left == span.left &&
                    above.right == span.right) {
                    target = index;
                    break;
                }
            }
            if (target == result.size()) {
                result.push_back({span.left, bandTop, span.right, bandBottom});
            } else {
                result[target].bottom = bandBottom;
            }
            band.push_back(target);
        }
        previousBand = std::move(band);
    }
    std::stable_sort(result.begin(), result.end(), [](const Box& a, const Box& b) {
        return a.top != b.top ? a.top < b.top : a.left < b.left;
    });

    // Every node is taken before the old ones go, so a refusal keeps the old list.
    RectRegion rebuilt(*pool);
    for (auto it = result.rbegin(); it != result.rend(); ++it) {
        rebuilt.PushFront(rebuilt.NewNode(it->left, it->top, it->right, it->bottom));
    }
    *this = std::move(rebuilt);
}

}  // namespace Orv
