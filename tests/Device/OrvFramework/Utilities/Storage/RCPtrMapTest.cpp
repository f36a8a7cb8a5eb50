// Maps from an object's identity to a counted pointer.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "ObjectBase/RCPtr.h"
#include "Utilities/Storage/RCPtrMap.h"

namespace {

struct Counter
{
    int live = 0;
};

class LFont : public virtual Orv::LRefCountedObject
{
public:
    explicit LFont(Counter& counter) : counter(counter) { ++counter.live; }
    ~LFont() override { --counter.live; }
    Counter& counter;
};

class LFontFileInfo : public virtual Orv::LRefCountedObject
{
public:
    explicit LFontFileInfo(int id) : id(id) {}
    int id;
};

using FontMap = Orv::RCPtrMap<LFont, LFontFileInfo, 8>;

Orv::RCPtr<LFontFileInfo> Info(int id)
{
    return Orv::RCPtr<LFontFileInfo>(new LFontFileInfo(id));
}

TEST(RCPtrMap, FindsByIdentityAndReplacesAnExistingKey)
{
    Counter fonts;
    const Orv::RCPtr<LFont> arial(new LFont(fonts));
    const Orv::RCPtr<LFont> alsoArial(new LFont(fonts));  // equal in every field, another object
    FontMap map;

    EXPECT_TRUE(map.Set(arial.Get(), Info(1)));
    EXPECT_EQ(map.Find(arial.Get())->id, 1);
    EXPECT_TRUE(map.Find(alsoArial.Get()).IsNull()) << "another object is another key";

    const Orv::RCPtr<LFontFileInfo> second = Info(2);
    map.Set(arial.Get(), second);
    EXPECT_EQ(map.GetCount(), 1u);
    EXPECT_EQ(map.Find(arial.Get()).Get(), second.Get());
    EXPECT_FALSE(map.Set(nullptr, second));
    EXPECT_TRUE(map.Find(nullptr).IsNull());
}

TEST(RCPtrMap, ManyKeysInFewBucketsStayApart)
{
    Counter fonts;
    std::vector<Orv::RCPtr<LFont>> keys;
    FontMap map;
    for (int i = 0; i < 600; ++i) {  // more keys than buckets
        keys.emplace_back(new LFont(fonts));
        map.Set(keys.back().Get(), Info(i));
    }
    EXPECT_EQ(map.GetCount(), 600u);
    for (int i = 0; i < 600; ++i) {
        ASSERT_EQ(map.Find(keys[i].Get())->id, i);
    }
    EXPECT_TRUE(map.Remove(keys[7].Get()));
    EXPECT_FALSE(map.Remove(keys[7].Get()));
    EXPECT_TRUE(map.Find(keys[7].Get()).IsNull());
    EXPECT_EQ(map.Find(keys[8].Get())->id, 8);
    EXPECT_EQ(map.GetCount(), 599u);
}

TEST(RCPtrMap, AKeyLivesAsLongAsItsEntrySoItsAddressIsNotReused)
{
    Counter fonts;
    FontMap map;
    const Orv::RCPtr<LFontFileInfo> info = Info(3);
    {
        const Orv::RCPtr<LFont> font(new LFont(fonts));
        map.Set(font.Get(), info);
    }
    EXPECT_EQ(fonts.live, 1) << "the map keeps its key";
    EXPECT_EQ(info->GetRefCount(), 2);

    map.RemoveAll();
    EXPECT_EQ(fonts.live, 0) << "clearing lets the key go";
    EXPECT_EQ(info->GetRefCount(), 1);
    EXPECT_EQ(map.GetCount(), 0u);
}

}  // namespace
