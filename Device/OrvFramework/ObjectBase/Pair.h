#pragma once
// LPair<A, B>: two values in one counted box (hashed-container entries, a parameter descriptor
// with its value).

#include <utility>

#include "ObjectBase/RefCountedObject.h"

namespace Orv {

template <class A, class B>
class LPair : public virtual LRefCountedObject
{
public:
    LPair() = default;
    LPair(A firstValue, B secondValue)
        : first(std::move(firstValue)), second(std::move(secondValue))
    {
    }

    A first{};
    B second{};
};

}  // namespace Orv
