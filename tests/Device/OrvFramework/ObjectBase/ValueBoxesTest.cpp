#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "CountedFixtures.h"
#include "ObjectBase/Holder.h"
#include "ObjectBase/Pair.h"
#include "ObjectBase/TaggableObject.h"
#include "ObjectBase/Wrapper.h"
#include "ObjectBase/WrapperStringable.h"
#include "Utilities/Storage/StringT.h"

namespace {

using Orv::RCPtr;

TEST(LHolder, HoldsAZeroInitialisedValueUntilSet)
{
    RCPtr<Orv::LHolder<int>> number(new Orv::LHolder<int>());
    EXPECT_EQ(number->Get(), 0);
    number->Set(-12);
    EXPECT_EQ(number->Get(), -12);

    RCPtr<Orv::LHolder<double>> real(new Orv::LHolder<double>(2.5));
    EXPECT_EQ(real->Get(), 2.5);
    RCPtr<Orv::LHolder<bool>> flag(new Orv::LHolder<bool>());
    EXPECT_FALSE(flag->Get());
}

struct ThrowsOnCopy
{
    ThrowsOnCopy() = default;
    ThrowsOnCopy(ThrowsOnCopy&&) { throw std::runtime_error("no cell"); }
};

TEST(LHolder, AFailureToMakeTheCellLeavesNoBoxBehind)
{
    // Under AddressSanitizer a half-built box would show as a leak.
    EXPECT_THROW(RCPtr<Orv::LHolder<ThrowsOnCopy>>(new Orv::LHolder<ThrowsOnCopy>()),
                 std::runtime_error);
}

TEST(LWrapper, IsACountedCopyOfTheValue)
{
    std::vector<int> values{1, 2, 3};
    RCPtr<Orv::LWrapper<std::vector<int>>> wrapped(new Orv::LWrapper<std::vector<int>>(values));
    values.push_back(4);
    EXPECT_EQ(wrapped->GetValue(), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(wrapped->size(), 3u);

    // Over another counted base: one counter for both.
    RCPtr<Orv::LWrapper<std::string, Orv::LTaggableObject>> tagged(
        new Orv::LWrapper<std::string, Orv::LTaggableObject>(std::string("text")));
    RCPtr<Orv::LTaggableObject> asTaggable(tagged);
    EXPECT_EQ(tagged->GetRefCount(), 2);
    EXPECT_EQ(*tagged, "text");
}

TEST(LPair, CarriesBothValues)
{
    RCPtr<Orv::LPair<int, std::string>> pair(new Orv::LPair<int, std::string>(3, "three"));
    EXPECT_EQ(pair->first, 3);
    EXPECT_EQ(pair->second, "three");
}

TEST(LTaggableObject, ReleasesItsTagWithItself)
{
    OrvTest::LiveCount counter;
    {
        RCPtr<Orv::LTaggableObject> object(new Orv::LTaggableObject());
        RCPtr<OrvTest::LTracked> tag(new OrvTest::LTracked(counter));
        object->SetTag(tag);
        EXPECT_EQ(tag->GetRefCount(), 2);
        EXPECT_TRUE(object->GetTag() == tag);
        tag = nullptr;
        EXPECT_EQ(counter.live, 1);
    }
    EXPECT_EQ(counter.live, 0);
}

Orv::WideString FirstAsText(const int& value)
{
    return Orv::WideString::Format(u"#%d", value);
}

TEST(LPair, ToStringIsWhatItsFunctionMakesOfTheFirstValue)
{
    RCPtr<Orv::LPair<int, std::string, &FirstAsText>> pair(
        new Orv::LPair<int, std::string, &FirstAsText>(7, "seven"));
    EXPECT_TRUE(pair->ToString().Equals(u"#7"));
    const RCPtr<Orv::LRefCountedObject> asBase(pair);
    EXPECT_TRUE(asBase->ToString().Equals(u"#7")) << "through the base's slot";

    RCPtr<Orv::LPair<int, int>> plain(new Orv::LPair<int, int>(1, 2));
    EXPECT_EQ(plain->ToString().Find(Orv::WideString(u"class Orv::LPair<int,int,")), 0)
        << "without a function: the type name";
}

TEST(LWrapperStringable, HoldsACopyOfTheTextAndGivesItBack)
{
    Orv::WideString text(u"status text");
    const auto wrapped = Orv::LWrapperStringable<Orv::WideString>::Create(text);
    text.Append(Orv::WideString(u" changed"));
    EXPECT_TRUE(wrapped->ToString().Equals(u"status text"));
    EXPECT_TRUE(wrapped->GetValue().Equals(u"status text"));

    const RCPtr<Orv::LTaggableObject> tag = Orv::MakeStringTag(Orv::WideString(u"entry"));
    EXPECT_TRUE(tag->ToString().Equals(u"entry"));
    EXPECT_EQ(tag->GetRefCount(), 1);
    EXPECT_TRUE(Orv::StringToString(Orv::WideString(u"x")).Equals(u"x"));
}

}  // namespace
