#include "Utilities/Graphics/ColorRectList.h"
#include "Utilities/Graphics/Polyline.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>

namespace {

using Orv::ColorRectListF;
using Orv::PolylineF;

// A renderer's cache recognises an object by its handle and rebuilds when the change flag is set;
// both drawables must give a new object a handle never seen and the flag set, or a cache replays
// the entry of a freed object.
template <class Drawable>
class DrawableIdentity : public ::testing::Test
{
};
using Drawables = ::testing::Types<PolylineF, ColorRectListF>;
TYPED_TEST_SUITE(DrawableIdentity, Drawables);

TYPED_TEST(DrawableIdentity, NewObjectAtAFreedAddressHasANewHandle)
{
    std::set<Orv::GraphicsHandle> seen;
    for (int i = 0; i < 64; ++i) {
        // Same storage each round: allocators hand the freed block straight back.
        auto object = std::make_unique<TypeParam>();
        EXPECT_NE(object->GetHandle(), 0u);
        EXPECT_TRUE(seen.insert(object->GetHandle()).second) << "handle repeated in round " << i;
        EXPECT_TRUE(object->IsChanged());
        object->SetChanged(false);
    }
}

TYPED_TEST(DrawableIdentity, CopiesAreNewObjects)
{
    TypeParam original;
    original.SetChanged(false);
    const TypeParam copy(original);
    EXPECT_NE(copy.GetHandle(), original.GetHandle());
    EXPECT_TRUE(copy.IsChanged());

    TypeParam assigned;
    const Orv::GraphicsHandle before = assigned.GetHandle();
    assigned.SetChanged(false);
    assigned = original;
    EXPECT_EQ(assigned.GetHandle(), before) << "assignment changes contents, not identity";
    EXPECT_TRUE(assigned.IsChanged());
}

TEST(Polyline, ChangesSetTheFlag)
{
    PolylineF line;
    EXPECT_EQ(line.GetData(), nullptr);
    const struct
    {
        const char* name;
        void (*change)(PolylineF&);
    } changes[] = {
        {"AddPoint",
         [](PolylineF& l) {
             l.AddPoint({1.0f, 2.0f});
         }},
        {"SetAt",
         [](PolylineF& l) {
             l.SetAt(0, {3.0f, 4.0f});
         }},
        {"SetLineWidth", [](PolylineF& l) { l.SetLineWidth(2.5f); }},
        {"RemoveAll", [](PolylineF& l) { l.RemoveAll(); }},
    };
    for (const auto& c : changes) {
        line.SetChanged(false);
        c.change(line);
        EXPECT_TRUE(line.IsChanged()) << c.name;
    }
    line.AddPoint({1.0f, 2.0f});
    line.AddPoint({5.0f, 6.0f});
    EXPECT_EQ(line.GetCount(), 2u);
    EXPECT_EQ(line.GetData()[1], (Orv::PointF{5.0f, 6.0f}));
    EXPECT_EQ(line.GetLineWidth(), 2.5f);
    EXPECT_THROW(line.GetAt(2), std::out_of_range);
}

TEST(ColorRectList, ParallelArraysAndScale)
{
    ColorRectListF list;
    list.AddRect({0, 0, 1, 1}, 0xFF112233u);
    list.AddRect({2, 2, 3, 3}, 0x80FFFFFFu);
    list.SetChanged(false);
    list.SetScale(2.0f, 0.5f);
    EXPECT_TRUE(list.IsChanged());
    EXPECT_EQ(list.GetCount(), 2u);
    EXPECT_EQ(list.GetRects()[1], (Orv::RectF{2, 2, 3, 3}));
    EXPECT_EQ(list.GetColors()[1], 0x80FFFFFFu);
    EXPECT_EQ(list.GetScaleX(), 2.0f);
    EXPECT_EQ(list.GetScaleY(), 0.5f);
    list.RemoveAll();
    EXPECT_EQ(list.GetRects(), nullptr);
    EXPECT_EQ(list.GetColors(), nullptr);
}

}  // namespace
