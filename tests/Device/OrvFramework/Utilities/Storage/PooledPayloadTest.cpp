// Payload classes that take their memory from their class's pool.
#include "Utilities/Storage/PooledPayload.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "ObjectBase/RCPtr.h"
#include "ObjectBase/RefCountedObject.h"

namespace {

using Orv::LRefCountedObject;
using Orv::RCPtr;

// Stands for a value payload: it holds a counted reference, as a menu item or a value does.
class LTestParam : public virtual LRefCountedObject, public Orv::PooledPayload<LTestParam, 4>
{
public:
    explicit LTestParam(RCPtr<LRefCountedObject> held, bool fail = false) : held(std::move(held))
    {
        if (fail) {
            throw std::runtime_error("refused");
        }
    }

    RCPtr<LRefCountedObject> held;
};

// Another size than its base: served by the heap through the base's pool.
class LLargerTestParam : public LTestParam
{
public:
    using LTestParam::LTestParam;
    char extra[64] = {};
};

Orv::ReuseAllocator<LTestParam, 4>& Pool()
{
    return Orv::PayloadPool<LTestParam, 4>();
}

TEST(PooledPayload, ARecycledPayloadReusesItsBlockAndReleasesWhatItHeld)
{
    const RCPtr<LRefCountedObject> held(new LRefCountedObject());
    const void* first = nullptr;
    {
        const RCPtr<LTestParam> param(new LTestParam(held));
        first = param.Get();
        EXPECT_EQ(held->GetRefCount(), 2);
        EXPECT_GE(Pool().GetBlockCount(), 1u);
    }
    EXPECT_EQ(held->GetRefCount(), 1) << "the payload's references go with it";
    EXPECT_GE(Pool().GetFreeCount(), 1u);
    const uint32_t blocks = Pool().GetBlockCount();
    const RCPtr<LTestParam> again(new LTestParam(held));
    EXPECT_EQ(static_cast<const void*>(again.Get()), first) << "last in, first out";
    EXPECT_EQ(Pool().GetBlockCount(), blocks);
}

TEST(PooledPayload, AConstructorThatThrowsGivesItsBlockBack)
{
    {
        const RCPtr<LTestParam> warm(new LTestParam(nullptr));
    }
    const uint32_t blocks = Pool().GetBlockCount();
    const uint32_t freeBlocks = Pool().GetFreeCount();
    EXPECT_THROW(new LTestParam(nullptr, true), std::runtime_error);
    EXPECT_EQ(Pool().GetBlockCount(), blocks);
    EXPECT_EQ(Pool().GetFreeCount(), freeBlocks);
}

TEST(PooledPayload, ADerivedClassOfAnotherSizeComesFromTheHeap)
{
    const uint32_t blocks = Pool().GetBlockCount();
    const uint32_t freeBlocks = Pool().GetFreeCount();
    {
        const RCPtr<LTestParam> larger(new LLargerTestParam(nullptr));
        EXPECT_EQ(Pool().GetFreeCount(), freeBlocks) << "the pool is not touched";
    }
    // Under AddressSanitizer a heap block handed to the pool, or a leak, fails here.
    EXPECT_EQ(Pool().GetBlockCount(), blocks);
    EXPECT_EQ(Pool().GetFreeCount(), freeBlocks);
}

}  // namespace
