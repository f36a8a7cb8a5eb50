// The skin descriptor records: defaults, what clones share and copy, part sizes.

#include <gtest/gtest.h>

#include "ControlBase/ControlDescriptor.h"
#include "ControlBase/DockedPart.h"
#include "ControlBase/LayoutDescriptor.h"
#include "ControlBase/LookDescriptor.h"
#include "ControlBase/SkinDescriptor.h"
#include "ControlBase/VisualPartDescriptor.h"

namespace {

using namespace Orv;

TEST(SkinDescriptors, NewLayoutIsFixedSizeAtTheClientTopLeft)
{
    RCPtr<LLayoutDescriptor> layout(new LLayoutDescriptor());
    EXPECT_TRUE(layout->clipToParent);
    EXPECT_TRUE(layout->isVisible);
    EXPECT_TRUE(layout->isEnabled);
    EXPECT_FALSE(layout->xIsDocked || layout->yIsDocked);
    EXPECT_EQ(layout->zOrder + layout->tabStop + layout->layoutOrder, 0);
    for (const LayoutPosition& position : {layout->xPosition, layout->yPosition}) {
        EXPECT_EQ(position, (LayoutPosition{0, kPositionToClient, u"", 0, 0}));
    }
    EXPECT_EQ(layout->xSize, (LayoutSize{kSizeToSelf, u"", 0, 16}));
    EXPECT_EQ(layout->ySize, (LayoutSize{kSizeToSelf, u"", 0, 40}));
    for (const LayoutLimit& limit :
         {layout->xMinSize, layout->yMinSize, layout->xMaxSize, layout->yMaxSize}) {
        EXPECT_EQ(limit, (LayoutLimit{false, u"", 0, 0}));
    }
    EXPECT_EQ(layout->textOverflowXType + layout->textOverflowYType, 0);
    EXPECT_TRUE(layout->textDecoration.IsEmpty());
}

TEST(SkinDescriptors, LayoutCloneCopiesEveryField)
{
    RCPtr<LLayoutDescriptor> layout(new LLayoutDescriptor());
    layout->clipToParent = false;
    layout->zOrder = 3;
    layout->tabStop = 4;
    layout->isVisible = false;
    layout->isEnabled = false;
    layout->xIsDocked = layout->yIsDocked = true;
    layout->xPosition = {0.5f, kPositionToNamed, u"left", 0.25f, 7};
    layout->yPosition = {1, kPositionToParent, u"top", 0.75f, -2};
    layout->xSize = {kSizeToNamed, u"width", 1, 90};
    layout->ySize = {kSizeToParent, u"height", 0.5f, 12};
    layout->xMinSize = {true, u"Children", 0.1f, 5};
    layout->yMinSize = {true, u"minY", 0.2f, 6};
    layout->xMaxSize = {true, u"maxX", 2, 500};
    layout->yMaxSize = {true, u"maxY", 3, 600};
    layout->textDecoration = u"underline";
    layout->textOverflowXType = 2;
    layout->textOverflowYType = 1;
    layout->layoutOrder = 9;

    RCPtr<LLayoutDescriptor> copy = layout->Clone();
    ASSERT_NE(copy.Get(), layout.Get());
    EXPECT_EQ(static_cast<const LayoutValues&>(*copy), static_cast<const LayoutValues&>(*layout));
    EXPECT_FALSE(static_cast<const LayoutValues&>(*copy) == LayoutValues());
    // The copy is the control's own.
    copy->isVisible = true;
    EXPECT_FALSE(layout->isVisible);
    EXPECT_EQ(copy->GetRefCount(), 1);
}

TEST(SkinDescriptors, NewSkinReportsNoFont)
{
    RCPtr<LSkinDescriptor> skin(new LSkinDescriptor(u"button"));
    EXPECT_EQ(skin->name, u"button");
    EXPECT_TRUE(skin->fontName.IsEmpty());
    EXPECT_LT(skin->fontSize, 1.0f);
    EXPECT_EQ(skin->fontStyle, -1);
    EXPECT_FALSE(skin->fontInheritsFromParent || skin->fontSizeIsRelative);
    EXPECT_FALSE(skin->lookList);
}

RCPtr<LControlDescriptor> Parent()
{
    static RCPtr<LControlDescriptor> root(
        new LControlDescriptor(u"Application", u"Quorvel", nullptr));
    return root;
}

RCPtr<LControl>& CreateNothing(RCPtr<LControl>& result, const RCPtr<LControl>&,
                               const RCPtr<LControlDescriptor>&)
{
    return result;
}

TEST(SkinDescriptors, ControlCloneSharesEverythingButItsName)
{
    RCPtr<LControlDescriptor> source(
        new LControlDescriptor(u"Framework.ListBox", u"list", Parent().Get()));
    RCPtr<LControlDescriptor> first(new LControlDescriptor(u"Framework.Label", u"a", source.Get()));
    RCPtr<LControlDescriptor> second(
        new LControlDescriptor(u"Framework.Label", u"b", source.Get()));
    EXPECT_EQ(source->AddSubControl(first), 0);
    EXPECT_EQ(source->AddSubControl(second), 1);
    EXPECT_EQ(source->SetSkin(RCPtr<LSkinDescriptor>(new LSkinDescriptor(u"listSkin"))), 0);
    EXPECT_EQ(source->SetLayout(RCPtr<LLayoutDescriptor>(new LLayoutDescriptor())), 0);
    EXPECT_EQ(source->SetCreateParams(RCPtr<LStringTable>(new LStringTable())), 0);
    source->createFunction = &CreateNothing;

    for (const char16_t* newName : {u"", u"row7"}) {
        RCPtr<LControlDescriptor> clone = source->Clone(newName);
        ASSERT_NE(clone.Get(), source.Get());
        EXPECT_EQ(clone->name,
                  WideString(newName).IsEmpty() ? WideString(u"list") : WideString(newName));
        EXPECT_EQ(clone->className, u"Framework.ListBox");
        EXPECT_EQ(clone->parent, Parent().Get());
        ASSERT_EQ(clone->subControls.GetCount(), 2u);
        EXPECT_EQ(clone->subControls.GetAt(0).Get(), first.Get());
        EXPECT_EQ(clone->subControls.GetAt(1).Get(), second.Get());
        EXPECT_EQ(clone->skin.Get(), source->skin.Get());
        EXPECT_EQ(clone->layout.Get(), source->layout.Get());
        EXPECT_EQ(clone->createParams.Get(), source->createParams.Get());
        EXPECT_EQ(clone->createFunction, &CreateNothing);
    }
    EXPECT_EQ(source->name, u"list");
}

TEST(SkinDescriptors, PartSizeIsTheImageRectangleOrTheGivenSize)
{
    RCPtr<LColorizer> fill(
        new LColorizer(u"fill", LColorizer::kSolid, ColorT(1, 0, 0, 1), ColorT(), 0, 0, 0, 0));
    RCPtr<LVisualPartDescriptor> colourOnly(new LVisualPartDescriptor(
        u"plain", ImageReference{}, LVisualPartDescriptor::kTile, fill, 30, 8, 0.5f, {}));
    EXPECT_EQ(colourOnly->width * 100 + colourOnly->height, 3008);
    EXPECT_EQ(colourOnly->colorizer.Get(), fill.Get());
    EXPECT_EQ(colourOnly->colorizerAlphaMod, 0.5f);
    EXPECT_EQ(colourOnly->resizeType, LVisualPartDescriptor::kTile);

    const ImageReference image{u"c:\\skin\\button.png", 4, 6, 21, 13};
    const ImageReference mask{u"c:\\skin\\mask.png", 1, 2, 21, 13};
    RCPtr<LVisualPartDescriptor> imagePart(new LVisualPartDescriptor(
        u"img", image, LVisualPartDescriptor::kCenter, nullptr, 30, 8, 1.0f, mask));
    EXPECT_EQ(imagePart->width * 100 + imagePart->height, 2113);
    EXPECT_EQ(imagePart->image, image);
    EXPECT_EQ(imagePart->mask, mask);
}

TEST(SkinDescriptors, LookHoldsPartsAndTextProperties)
{
    RCPtr<LVisualPartDescriptor> part(
        new LVisualPartDescriptor(u"p", ImageReference{}, 0, nullptr, 1, 1, 1.0f, {}));
    RCPtr<LLookDescriptor> look(new LLookDescriptor(u"normal"));
    EXPECT_FALSE(look->hasTextProperties);
    EXPECT_FALSE(look->clientPart);
    const DockedPlacement placement{kAllOffsetsGiven, 1, 2, 3, 4, false, 0, true, 9};
    RCPtr<LDockedPart> client(new LDockedPart(part, placement));
    EXPECT_EQ(look->SetClientPart(client), 0);
    EXPECT_EQ(look->clientPart.Get(), client.Get());
    EXPECT_EQ(client->placement, placement);

    const TextProperties text{0.1f, 2, 0.9f, -2, 0.5f, 0, 1, 1, -1, 0.5f};
    EXPECT_EQ(look->SetTextProperties(text, part), 0);
    EXPECT_TRUE(look->hasTextProperties);
    EXPECT_EQ(look->text, text);
    EXPECT_EQ(look->textForegroundPart.Get(), part.Get());
}

TEST(SkinDescriptors, LookListSlotsStartEmpty)
{
    RCPtr<LookList> looks(new LookList(4));
    looks->GetAt(0) = RCPtr<LLookDescriptor>(new LLookDescriptor(u"normal"));
    looks->GetAt(2) = RCPtr<LLookDescriptor>(new LLookDescriptor(u"pressed"));
    ASSERT_EQ(looks->GetCount(), 4u);
    EXPECT_TRUE(looks->GetAt(0) && looks->GetAt(2));
    EXPECT_FALSE(looks->GetAt(1) || looks->GetAt(3));
}

}  // namespace
