#pragma once
// Small counted classes the object-base tests share.

#include <string>
#include <vector>

#include "ObjectBase/RCPtr.h"

namespace OrvTest {

// Counts live instances so a test can see exactly when objects are destroyed.
struct LiveCount
{
    int live = 0;
    int destroyed = 0;
};

class LTracked : public virtual Orv::LRefCountedObject
{
public:
    explicit LTracked(LiveCount& counter, int value = 0) : counter(counter), value(value)
    {
        ++counter.live;
    }
    LTracked(const LTracked& other)
        : LRefCountedObject(other), counter(other.counter), value(other.value)
    {
        ++counter.live;
    }
    ~LTracked() override
    {
        --counter.live;
        ++counter.destroyed;
    }

    LiveCount& counter;
    int value;
};

// Copies itself on write, as the string buffers do.
class LCopyable : public LTracked
{
public:
    using LTracked::LTracked;
    Orv::RCPtr<Orv::LRefCountedObject> CreateCopy() const override
    {
        return Orv::RCPtr<Orv::LRefCountedObject>(new LCopyable(*this));
    }
};

// A class whose CreateCopy returns an object of another class.
class LOther : public virtual Orv::LRefCountedObject
{
};

class LBadCopy : public LTracked
{
public:
    using LTracked::LTracked;
    Orv::RCPtr<Orv::LRefCountedObject> CreateCopy() const override
    {
        return Orv::RCPtr<Orv::LRefCountedObject>(new LOther());
    }
};

}  // namespace OrvTest
