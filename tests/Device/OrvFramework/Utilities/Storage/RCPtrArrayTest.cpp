// Arrays of counted pointers: every element holds one reference; removal hands it over.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "Utilities/Storage/RCPtrArray.h"

namespace OrvTest {

// Records the order in which objects are destroyed.
class LButton : public virtual Orv::LRefCountedObject
{
public:
    LButton(std::vector<int>& destroyed, int id) : destroyed(destroyed), id(id) {}
    ~LButton() override { destroyed.push_back(id); }

    std::vector<int>& destroyed;
    int id;
};

}  // namespace OrvTest

namespace {

using Orv::RCPtr;
using OrvTest::LButton;

class RCPtrArrayTest : public ::testing::Test
{
protected:
    RCPtr<LButton> Make(int id) { return RCPtr<LButton>(new LButton(destroyed, id)); }

    std::vector<int> Ids(const Orv::RCPtrArray<LButton>& array)
    {
        std::vector<int> ids;
        for (uint32_t i = 0; i < array.GetCount(); ++i) {
            ids.push_back(array.GetAt(i) ? array.GetAt(i)->id : -1);
        }
        return ids;
    }

    std::vector<int> destroyed;
};

TEST_F(RCPtrArrayTest, InsertionTakesAReferenceAndRemovalHandsItOver)
{
    Orv::RCPtrArray<LButton> array;
    RCPtr<LButton> a = Make(1);
    EXPECT_EQ(array.AddItem(a), 0) << "the index it went to";
    EXPECT_EQ(array.AddItem(Make(2)), 1);
    EXPECT_EQ(a->GetRefCount(), 2);

    RCPtr<LButton> out = Make(99);
    EXPECT_EQ(array.RemoveItem(0, out), 1);
    EXPECT_EQ(destroyed, std::vector<int>{99}) << "out let go of what it held";
    EXPECT_EQ(out.Get(), a.Get());
    EXPECT_EQ(a->GetRefCount(), 2) << "the array's reference went to out";
    EXPECT_EQ(Ids(array), std::vector<int>{2});
}

TEST_F(RCPtrArrayTest, RemovingAMissingItemThrowsAndLeavesTheCount)
{
    Orv::RCPtrArray<LButton> array;
    array.AddItem(Make(1));
    RCPtr<LButton> out;
    try {
        array.RemoveItem(1, out);
        FAIL() << "no exception";
    } catch (const Orv::Exception<std::out_of_range>& error) {
        EXPECT_THAT(error.what(),
                    ::testing::MatchesRegex("Out of Range : Orv::RCPtrArray<class "
                                            "OrvTest::LButton,1,0>::RemoveItem : "
                                            "Utilities.Storage.RCPtrArray : Line [0-9]+"));
    }
    EXPECT_EQ(array.GetCount(), 1u);

    Orv::ConstRCPtrArray<LButton>& readOnly = array;
    Orv::ConstRCPtr<LButton> constOut;
    try {
        readOnly.RemoveItem(5, constOut);
        FAIL() << "no exception";
    } catch (const std::logic_error& error) {
        EXPECT_THAT(error.what(),
                    ::testing::MatchesRegex("Out of Range : Orv::ConstRCPtrArray<class "
                                            "OrvTest::LButton,1,0>::RemoveItem : "
                                            "Utilities.Storage.ConstRCPtrArray : Line [0-9]+"));
    }
    EXPECT_EQ(array.GetCount(), 1u);
}

// Both sets of overloads are reachable on the read-write array itself: a caller holding a
// ConstRCPtr gets the read-only one, a caller holding an RCPtr still gets the read-write one.
TEST_F(RCPtrArrayTest, ReadOnlyOverloadsStayCallableBesideTheReadWriteOnes)
{
    Orv::RCPtrArray<LButton> array;
    const Orv::ConstRCPtr<LButton> constItem(Make(1));
    EXPECT_EQ(array.InsertItem(0, constItem), 0);
    EXPECT_EQ(array.InsertItem(0, Make(2)), 0);
    EXPECT_EQ(Ids(array), (std::vector<int>{2, 1}));

    Orv::ConstRCPtr<LButton> constOut;
    EXPECT_EQ(array.RemoveItem(1, constOut), 1);
    EXPECT_EQ(constOut.Get(), constItem.Get());
    EXPECT_THROW(array.RemoveItem(4, constOut), std::out_of_range);

    RCPtr<LButton> out;
    try {
        array.RemoveItem(4, out);
        FAIL() << "no exception";
    } catch (const std::logic_error& error) {
        EXPECT_THAT(error.what(), ::testing::HasSubstr("Orv::RCPtrArray<"));
    }
    EXPECT_EQ(array.RemoveLastItem(constOut), 0);
    EXPECT_EQ(constOut->id, 2);
    EXPECT_EQ(array.RemoveLastItem(out), E_FAIL);
}

TEST_F(RCPtrArrayTest, ARangePastTheEndRemovesWhatExistsThenThrows)
{
    Orv::RCPtrArray<LButton> array;
    for (int id = 0; id < 5; ++id) {
        array.AddItem(Make(id));
    }
    EXPECT_THROW(array.RemoveItems(3, 5), std::out_of_range);
    EXPECT_EQ(Ids(array), (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(destroyed, (std::vector<int>{3, 4}));
}

TEST_F(RCPtrArrayTest, SetCountAddsNullsAndReleasesFirstElementFirst)
{
    Orv::RCPtrArray<LButton> array(2);
    EXPECT_EQ(Ids(array), (std::vector<int>{-1, -1}));
    array.GetAt(0) = Make(7);
    array.GetAt(1) = Make(8);
    EXPECT_EQ(array.SetCount(4), 4);
    EXPECT_EQ(Ids(array), (std::vector<int>{7, 8, -1, -1}));
    EXPECT_EQ(array.SetCount(0), 0);
    EXPECT_EQ(destroyed, (std::vector<int>{7, 8}));
}

TEST_F(RCPtrArrayTest, DestructionReleasesEveryElement)
{
    {
        Orv::RCPtrArray<LButton, 256, 256> array(3, 3);
        array.GetAt(1) = Make(1);
        array.AddItem(Make(2));
    }
    EXPECT_EQ(destroyed, (std::vector<int>{1, 2}));
}

TEST_F(RCPtrArrayTest, InsertItemsOpensNullSlotsAndSwapKeepsCounts)
{
    Orv::RCPtrArray<LButton> array;
    RCPtr<LButton> a = Make(1);
    RCPtr<LButton> b = Make(2);
    array.AddItem(a);
    array.AddItem(b);
    EXPECT_EQ(array.InsertItems(1, 2), 4);
    EXPECT_EQ(Ids(array), (std::vector<int>{1, -1, -1, 2}));
    EXPECT_EQ(array.InsertItems(5, 1), E_INVALIDARG);
    EXPECT_EQ(array.SwapItems(0, 3), S_OK);
    EXPECT_EQ(array.SwapItems(0, 4), E_INVALIDARG);
    EXPECT_EQ(Ids(array), (std::vector<int>{2, -1, -1, 1}));
    EXPECT_EQ(a->GetRefCount(), 2);
    EXPECT_EQ(b->GetRefCount(), 2);
}

TEST_F(RCPtrArrayTest, RemoveLastItemOfAnEmptyArrayFails)
{
    Orv::RCPtrArray<LButton> array;
    RCPtr<LButton> out = Make(3);
    EXPECT_EQ(array.RemoveLastItem(out), E_FAIL);
    EXPECT_EQ(out.Get(), nullptr) << "out is emptied first";
    array.AddItem(Make(4));
    EXPECT_EQ(array.RemoveLastItem(out), 0);
    ASSERT_TRUE(out);
    EXPECT_EQ(out->id, 4);
    EXPECT_EQ(out->GetRefCount(), 1);
}

TEST_F(RCPtrArrayTest, InsertingAnElementOfTheSameArrayIsSafe)
{
    Orv::RCPtrArray<LButton> array;
    array.AddItem(Make(1));
    // Growing moves the slots; the element must be held before that.
    for (int i = 0; i < 20; ++i) {
        array.InsertItem(0, array.GetAt(array.GetCount() - 1));
    }
    EXPECT_EQ(array.GetCount(), 21u);
    EXPECT_EQ(array.GetAt(0)->GetRefCount(), 21);
}

TEST_F(RCPtrArrayTest, IndexOfFindsTheFirstHolderByIdentity)
{
    Orv::LRCPtrArray<LButton>* shared = new Orv::LRCPtrArray<LButton>();
    RCPtr<Orv::LRCPtrArray<LButton>> list(shared);
    RCPtr<LButton> a = Make(1);
    RCPtr<LButton> b = Make(2);
    EXPECT_EQ(list->IndexOf(a.Get()), -1);
    list->AddItem(b);
    list->AddItem(a);
    list->AddItem(a);
    EXPECT_EQ(list->IndexOf(a.Get()), 1);
    EXPECT_EQ(list->IndexOf(b.Get()), 0);
    RCPtr<LButton> other = Make(3);
    EXPECT_EQ(list->IndexOf(other.Get()), -1);
    list = nullptr;
    EXPECT_EQ(a->GetRefCount(), 1);
}

TEST_F(RCPtrArrayTest, AppendAndAssignCountEveryReference)
{
    Orv::RCPtrArray<LButton> source;
    source.AddItem(Make(1));
    source.AddItem(Make(2));
    Orv::RCPtrArray<LButton> target;
    target.AddItem(Make(9));
    EXPECT_EQ(target.Assign(source), 2);
    EXPECT_EQ(destroyed, std::vector<int>{9});
    EXPECT_EQ(source.GetAt(0)->GetRefCount(), 2);
    EXPECT_EQ(target.Assign(target), 2) << "self-assignment keeps the elements";
    EXPECT_EQ(Ids(target), (std::vector<int>{1, 2}));
    EXPECT_TRUE(target.IsEqual(source));
    EXPECT_EQ(target.AppendItems(source), 4);
    EXPECT_EQ(source.GetAt(1)->GetRefCount(), 3);
    EXPECT_EQ(target.RemoveAll(), S_OK);
    EXPECT_EQ(source.GetAt(1)->GetRefCount(), 1);
}

}  // namespace
