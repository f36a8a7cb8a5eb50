// Counting, release and the back-reference protocol of LRefCountedObject.
#include "ObjectBase/RefCountedObject.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "CountedFixtures.h"
#include "ObjectBase/RCPtr.h"
#include "Utilities/Storage/StringT.h"

namespace {

using Orv::LRefCountedObject;
using Orv::RCPtr;
using OrvTest::LiveCount;
using OrvTest::LTracked;

// A structure that objects register with; it holds a counted back reference per registration,
// as a notification distributor does.
class Registry
{
public:
    void Register(LRefCountedObject* object)
    {
        entries.emplace_back(object);
        object->AddBackReference();
    }
    bool Unregister(const LRefCountedObject* object)
    {
        for (auto it = entries.begin(); it != entries.end(); ++it) {
            if (it->Get() == object) {
                object->RemoveBackReference();
                entries.erase(it);  // releases the back reference
                return true;
            }
        }
        return false;
    }
    size_t Size() const { return entries.size(); }

private:
    std::vector<RCPtr<LRefCountedObject>> entries;
};

class LClient : public LTracked
{
public:
    using LTracked::LTracked;
    void RegisterAt(Registry& registry)
    {
        registry.Register(this);
        registrations.push_back(&registry);
    }
    Orv::ORVRESULT DropBackReferences() override
    {
        ++dropCalls;
        // Copy first: each Unregister releases a reference to this object.
        const std::vector<Registry*> all = registrations;
        registrations.clear();
        for (Registry* registry : all) {
            registry->Unregister(this);
        }
        return LRefCountedObject::DropBackReferences();
    }
    static int dropCalls;

private:
    std::vector<Registry*> registrations;
};
int LClient::dropCalls = 0;

TEST(RefCountedObject, NewObjectStartsUncountedAndShareable)
{
    LiveCount counter;
    auto* object = new LTracked(counter);
    EXPECT_EQ(object->GetRefCount(), 0);
    EXPECT_EQ(object->GetBackReferenceCount(), 0);
    EXPECT_TRUE(object->IsShareable());
    EXPECT_EQ(object->AddRef(), 1);
    EXPECT_EQ(object->AddRef(), 2);
    EXPECT_EQ(object->Release(), 1);
    EXPECT_EQ(counter.destroyed, 0);
    EXPECT_EQ(object->Release(), 0);
    EXPECT_EQ(counter.destroyed, 1);
}

TEST(RefCountedObject, HeldByOnePointerAndTwoRegistrationsIsDestroyedByThatPointer)
{
    LiveCount counter;
    Registry first;
    Registry second;
    LClient::dropCalls = 0;
    {
        RCPtr<LClient> holder(new LClient(counter));
        holder->RegisterAt(first);
        holder->RegisterAt(second);
        EXPECT_EQ(holder->GetRefCount(), 3);
        EXPECT_EQ(holder->GetBackReferenceCount(), 2);

        // Release as the pointer's destruction does, to see its result.
        LClient* raw = holder.Get();
        raw->AddRef();
        holder = nullptr;
        EXPECT_EQ(counter.destroyed, 0);
        EXPECT_EQ(raw->Release(), 0);
    }
    EXPECT_EQ(counter.destroyed, 1);
    EXPECT_EQ(LClient::dropCalls, 1);
    EXPECT_EQ(first.Size(), 0u);
    EXPECT_EQ(second.Size(), 0u);
}

TEST(RefCountedObject, BackReferencesStayWhileAnotherOrdinaryHolderRemains)
{
    LiveCount counter;
    Registry registry;
    LClient::dropCalls = 0;
    RCPtr<LClient> one(new LClient(counter));
    one->RegisterAt(registry);
    {
        RCPtr<LClient> two(one);
        EXPECT_EQ(one->GetRefCount(), 3);
    }
    EXPECT_EQ(LClient::dropCalls, 0);
    EXPECT_EQ(registry.Size(), 1u);
    EXPECT_EQ(one->GetRefCount(), 2);
    one = nullptr;
    EXPECT_EQ(LClient::dropCalls, 1);
    EXPECT_EQ(counter.destroyed, 1);
}

// An object that owns a worker which holds a counted pointer back to it, as the device
// communication object does with its event-gated thread: the owner counts that reference as a
// back reference, and gives the worker up when nothing else holds it.
class LOwner;
class LWorker : public virtual LRefCountedObject
{
public:
    LWorker(LOwner* owner, bool& stopped) : owner(owner), stopped(stopped) {}
    ~LWorker() override { stopped = true; }

private:
    RCPtr<LOwner> owner;
    bool& stopped;
};

class LOwner : public LTracked
{
public:
    LOwner(LiveCount& counter, bool& workerStopped)
        : LTracked(counter), workerStopped(workerStopped)
    {
    }
    void StartWorker()
    {
        worker = RCPtr<LWorker>(new LWorker(this, workerStopped));
        AddBackReference();
    }
    Orv::ORVRESULT DropBackReferences() override
    {
        if (worker) {
            EXPECT_FALSE(workerStopped);
            RCPtr<LWorker> last;
            std::swap(last, worker);
            last = nullptr;  // stops the worker, whose release of this object only counts down
            EXPECT_TRUE(workerStopped);
            RemoveBackReference();
        }
        return LRefCountedObject::DropBackReferences();
    }

private:
    RCPtr<LWorker> worker;
    bool& workerStopped;
};

TEST(RefCountedObject, OwnerHeldByItsOwnWorkerIsDestroyedWhenItsLastPointerGoes)
{
    LiveCount counter;
    bool workerStopped = false;
    RCPtr<LOwner> owner(new LOwner(counter, workerStopped));
    owner->StartWorker();
    EXPECT_EQ(owner->GetRefCount(), 2);
    EXPECT_EQ(owner->GetBackReferenceCount(), 1);

    LOwner* raw = owner.Get();
    raw->AddRef();
    owner = nullptr;
    EXPECT_EQ(raw->Release(), 0);
    EXPECT_TRUE(workerStopped);
    EXPECT_EQ(counter.destroyed, 1);
}

TEST(RefCountedObject, DefaultDropBackReferencesAnswersWhetherOnlyTheReleasedReferenceIsLeft)
{
    LiveCount counter;
    const struct
    {
        int references;
        int backReferences;
        Orv::ORVRESULT expected;
    } cases[] = {
        {1, 0, S_OK},
        {2, 0, E_FAIL},
        {2, 1, E_FAIL},
        {0, 0, E_FAIL},
    };
    for (const auto& c : cases) {
        auto* object = new LTracked(counter);
        for (int i = 0; i < c.references; ++i) {
            object->AddRef();
        }
        for (int i = 0; i < c.backReferences; ++i) {
            object->AddBackReference();
        }
        EXPECT_EQ(object->DropBackReferences(), c.expected)
            << c.references << " references, " << c.backReferences << " back";
        for (int i = 0; i < c.backReferences; ++i) {
            object->RemoveBackReference();
        }
        object->AddRef();
        for (int i = 0; i <= c.references; ++i) {
            object->Release();
        }
    }
    EXPECT_EQ(counter.live, 0);
}

TEST(RefCountedObject, SetUnshareableIsRefusedWhileShared)
{
    LiveCount counter;
    for (int references = 0; references <= 3; ++references) {
        auto* object = new LTracked(counter);
        for (int i = 0; i < references; ++i) {
            object->AddRef();
        }
        if (references <= 1) {
            EXPECT_NO_THROW(object->SetUnshareable(true)) << references;
            EXPECT_FALSE(object->IsShareable());
        } else {
            try {
                object->SetUnshareable(true);
                ADD_FAILURE() << "no exception with " << references << " references";
            } catch (const std::runtime_error& e) {
                const std::string text = e.what();
                EXPECT_EQ(text.rfind("Runtime Error : Orv::LRefCountedObject::SetUnshareable : "
                                     "ObjectBase\\RefCountedObject : Line ",
                                     0),
                          0u)
                    << text;
            }
            EXPECT_TRUE(object->IsShareable());
        }
        EXPECT_NO_THROW(object->SetUnshareable(false));
        EXPECT_TRUE(object->IsShareable());
        object->AddRef();
        for (int i = 0; i <= references; ++i) {
            object->Release();
        }
    }
    EXPECT_EQ(counter.live, 0);
}

TEST(RefCountedObject, DefaultUndoAndCreateCopyThrowLogicErrors)
{
    LiveCount counter;
    RCPtr<LTracked> object(new LTracked(counter));
    try {
        object->Undo();
        ADD_FAILURE();
    } catch (const std::logic_error& e) {
        EXPECT_EQ(std::string(e.what()).rfind("Logic Error : Undo() not implemented for "
                                              "RefCountedObject : Orv::LRefCountedObject::Undo : "
                                              "ObjectBase\\RefCountedObject : Line ",
                                              0),
                  0u)
            << e.what();
    }
    try {
        object->CreateCopy();
        ADD_FAILURE();
    } catch (const std::logic_error& e) {
        EXPECT_EQ(
            std::string(e.what()).rfind("Logic Error : CreateCopy() not implemented for "
                                        "RefCountedObject : Orv::LRefCountedObject::CreateCopy",
                                        0),
            0u)
            << e.what();
    }
}

TEST(RefCountedObject, ToStringGivesTheRunTimeTypeName)
{
    LiveCount counter;
    const RCPtr<Orv::LRefCountedObject> plain(new Orv::LRefCountedObject());
    const RCPtr<Orv::LRefCountedObject> derived(new LTracked(counter));
    EXPECT_TRUE(plain->ToString().Equals(u"class Orv::LRefCountedObject"));
    EXPECT_TRUE(derived->ToString().Equals(u"class OrvTest::LTracked"))
        << "the dynamic class, through a pointer to the base";
    const Orv::IStringable& stringable = *derived;
    EXPECT_TRUE(stringable.ToString().Equals(u"class OrvTest::LTracked"));
}

}  // namespace
