#pragma once
// LHolder<T>: a counted box of one value, the usual parameter of notifications that carry one
// number or state. The value lives in a heap cell of its own, made with the box.
//
// A 32-bit value travels as LHolder<int32_t> (the buffer size of "NID_BUFFER_SIZE_CHANGE"), not
// LHolder<long>: long is 64 bits here, and a receiver's dynamic cast to the other type finds
// nothing.

#include <memory>
#include <utility>

#include "ObjectBase/RefCountedObject.h"

namespace Orv {

template <class T>
class LHolder : public virtual LRefCountedObject
{
public:
    // A failed allocation throws out of the constructor: no box is made without its cell.
    explicit LHolder(T value = T()) : cell(std::make_unique<T>(std::move(value))) {}

    const T& Get() const { return *cell; }
    void Set(T value) { *cell = std::move(value); }

private:
    std::unique_ptr<T> cell;
};

}  // namespace Orv
