// Holding, assignment, copy-on-share, Unshare and typed conversion of ConstRCPtr / RCPtr.
#include "ObjectBase/RCPtr.h"

#include <gtest/gtest.h>

#include <string>

#include "CountedFixtures.h"

namespace {

using Orv::ConstRCPtr;
using Orv::DynamicRCPtrCast;
using Orv::LRefCountedObject;
using Orv::RCPtr;
using OrvTest::LBadCopy;
using OrvTest::LCopyable;
using OrvTest::LiveCount;
using OrvTest::LOther;
using OrvTest::LTracked;

TEST(RCPtr, HoldingCountsOneReferencePerPointer)
{
    LiveCount counter;
    {
        RCPtr<LTracked> a(new LTracked(counter));
        EXPECT_EQ(a->GetRefCount(), 1);
        RCPtr<LTracked> b(a);
        ConstRCPtr<LTracked> c(b);
        ConstRCPtr<LRefCountedObject> d(c);
        EXPECT_EQ(a->GetRefCount(), 4);
        EXPECT_TRUE(a == d);
        RCPtr<LTracked> moved(std::move(b));
        EXPECT_TRUE(b.IsNull());
        EXPECT_EQ(a->GetRefCount(), 4);
    }
    EXPECT_EQ(counter.live, 0);
    EXPECT_EQ(counter.destroyed, 1);
}

TEST(RCPtr, AssigningTheSameObjectChangesNoCount)
{
    LiveCount counter;
    RCPtr<LTracked> a(new LTracked(counter));
    RCPtr<LTracked> b(a);
    const RCPtr<LTracked>& self = a;
    a = self;
    EXPECT_EQ(a->GetRefCount(), 2);
    a = b;
    EXPECT_EQ(a->GetRefCount(), 2);
    a.Assign(b);
    EXPECT_EQ(a->GetRefCount(), 2);
    RCPtr<LTracked> null1;
    RCPtr<LTracked> null2;
    null1 = null2;
    EXPECT_TRUE(null1.IsNull());
}

TEST(RCPtr, AssigningNullDestroysTheLastHeldObjectDuringTheAssignment)
{
    LiveCount counter;
    RCPtr<LTracked> a(new LTracked(counter));
    a = nullptr;
    EXPECT_EQ(counter.destroyed, 1);
    EXPECT_TRUE(a.IsNull());
}

// A chain node: assigning p = p->next, where next is reachable only through p's object.
class LNode : public virtual LRefCountedObject
{
public:
    explicit LNode(LiveCount& counter) : tracked(new LTracked(counter)) {}
    RCPtr<LNode> next;
    RCPtr<LTracked> tracked;
};

TEST(RCPtr, AssigningAnObjectReachableOnlyThroughTheOldOneIsSafe)
{
    LiveCount counter;
    RCPtr<LNode> head(new LNode(counter));
    head->next = RCPtr<LNode>(new LNode(counter));
    head->next->tracked->value = 42;
    head = head->next;
    EXPECT_EQ(counter.destroyed, 1);
    EXPECT_EQ(head->tracked->value, 42);
    EXPECT_EQ(head->GetRefCount(), 1);
}

TEST(RCPtr, UnshareOfNullOrOfTheOnlyHolderMakesNoCopy)
{
    LiveCount counter;
    ConstRCPtr<LCopyable> null;
    null.Unshare();
    EXPECT_TRUE(null.IsNull());

    RCPtr<LCopyable> only(new LCopyable(counter));
    const LCopyable* before = only.Get();
    only.Unshare();
    EXPECT_EQ(only.Get(), before);
    EXPECT_EQ(only->GetRefCount(), 1);
    EXPECT_EQ(counter.live, 1);
}

TEST(RCPtr, UnshareGivesAPrivateCopyAndLeavesTheOtherHolderIntact)
{
    LiveCount counter;
    RCPtr<LCopyable> first(new LCopyable(counter, 7));
    RCPtr<LCopyable> second(first);
    second.Unshare();
    EXPECT_NE(first.Get(), second.Get());
    EXPECT_EQ(first->GetRefCount(), 1);
    EXPECT_EQ(second->GetRefCount(), 1);
    second->value = 8;
    EXPECT_EQ(first->value, 7);
    EXPECT_EQ(counter.live, 2);
}

TEST(RCPtr, AnUnshareableObjectGivesEveryNewHolderItsOwnCopy)
{
    LiveCount counter;
    RCPtr<LCopyable> first(new LCopyable(counter, 1));
    first->SetUnshareable(true);

    RCPtr<LCopyable> copied(first);
    ConstRCPtr<LCopyable> constCopied(first);
    RCPtr<LCopyable> assigned;
    assigned = first;
    EXPECT_NE(copied.Get(), first.Get());
    EXPECT_NE(constCopied.Get(), first.Get());
    EXPECT_NE(assigned.Get(), first.Get());
    EXPECT_EQ(first->GetRefCount(), 1);
    EXPECT_EQ(copied->GetRefCount(), 1);
    EXPECT_TRUE(copied->IsShareable());
    EXPECT_EQ(counter.live, 4);

    // Shareable again: holders share once more.
    first->SetUnshareable(false);
    RCPtr<LCopyable> shared(first);
    EXPECT_EQ(shared.Get(), first.Get());
    EXPECT_EQ(first->GetRefCount(), 2);
}

TEST(RCPtr, UnshareOfAClassWithoutCopyKeepsTheHolderAndThrows)
{
    LiveCount counter;
    RCPtr<LTracked> first(new LTracked(counter));
    RCPtr<LTracked> second(first);
    EXPECT_THROW(second.Unshare(), std::logic_error);
    EXPECT_EQ(second.Get(), first.Get());
    EXPECT_EQ(first->GetRefCount(), 2);
}

TEST(RCPtr, SharingAnUnshareableObjectWithoutCopyThrowsAndLeaksNothing)
{
    LiveCount counter;
    RCPtr<LTracked> first(new LTracked(counter));
    first->SetUnshareable(true);
    EXPECT_THROW(RCPtr<LTracked> second(first), std::logic_error);
    EXPECT_EQ(first->GetRefCount(), 1);

    RCPtr<LTracked> other(new LTracked(counter));
    EXPECT_THROW(other = first, std::logic_error);
    // The assigned-to pointer holds the new object; the one it held before is let go.
    EXPECT_EQ(counter.live, 1);
    EXPECT_EQ(other.Get(), first.Get());
    EXPECT_EQ(first->GetRefCount(), 2);
    other = nullptr;
    first = nullptr;
    EXPECT_EQ(counter.live, 0);
}

TEST(RCPtr, UnshareWhoseCopyIsOfAnotherClassLeavesTheHolderNullAndThrows)
{
    LiveCount counter;
    RCPtr<LBadCopy> first(new LBadCopy(counter));
    RCPtr<LBadCopy> second(first);
    try {
        second.Unshare();
        ADD_FAILURE() << "no exception";
    } catch (const std::logic_error& e) {
        const std::string text = e.what();
        EXPECT_EQ(text.rfind("Logic Error : class OrvTest::LBadCopy : "
                             "Orv::ConstRCPtr<class OrvTest::LBadCopy>::Unshare : "
                             "ObjectBase\\RCPtr : Line ",
                             0),
                  0u)
            << text;
    }
    EXPECT_TRUE(second.IsNull());
    EXPECT_EQ(first->GetRefCount(), 1);
    EXPECT_EQ(counter.live, 1);
}

class LLeft : public virtual LRefCountedObject
{
};
class LRight : public virtual LRefCountedObject
{
};
class LBoth : public LLeft, public LRight
{
};

TEST(DynamicRCPtrCast, ConvertsAcrossVirtualBasesOverOneCounter)
{
    RCPtr<LBoth> both(new LBoth());
    RCPtr<LLeft> left(both);
    RCPtr<LRight> right(both);
    EXPECT_EQ(both->GetRefCount(), 3);
    EXPECT_TRUE(left == right);

    const RCPtr<LRefCountedObject> base(left);
    RCPtr<LRight> back = DynamicRCPtrCast<LRight>(base);
    EXPECT_TRUE(back == right);
    EXPECT_EQ(both->GetRefCount(), 5);

    const ConstRCPtr<LRefCountedObject> constBase(base);
    ConstRCPtr<LBoth> constBack = DynamicRCPtrCast<LBoth>(constBase);
    EXPECT_EQ(constBack.Get(), both.Get());
}

TEST(DynamicRCPtrCast, FailsToNullWithoutCountChange)
{
    RCPtr<LRefCountedObject> other(new LOther());
    RCPtr<LBoth> none = DynamicRCPtrCast<LBoth>(other);
    EXPECT_TRUE(none.IsNull());
    EXPECT_EQ(other->GetRefCount(), 1);

    RCPtr<LRefCountedObject> null;
    EXPECT_TRUE(DynamicRCPtrCast<LBoth>(null).IsNull());
}

}  // namespace
