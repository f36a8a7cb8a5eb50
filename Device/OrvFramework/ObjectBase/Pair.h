#pragma once
// LPair<A, B, ToStringFn>: two values in one counted box (hashed-container entries, a parameter
// descriptor with its value). ToString gives what ToStringFn makes of the first value; without a
// ToStringFn it is the run-time type name, as for every counted object.

#include <utility>

#include "ObjectBase/RefCountedObject.h"
#include "Utilities/Storage/StringT.h"

namespace Orv {

namespace Detail {
// Marks "no ToStringFn given"; never called, but defined because a template argument takes its
// address and some linkers want the symbol.
template <class A>
StringT<char16_t, char> NoToString(const A&)
{
    return {};
}
}  // namespace Detail

template <class A, class B,
          StringT<char16_t, char> (*ToStringFn)(const A&) = &Detail::NoToString<A>>
class LPair : public virtual LRefCountedObject
{
public:
    LPair() = default;
    LPair(A firstValue, B secondValue)
        : first(std::move(firstValue)), second(std::move(secondValue))
    {
    }

    StringT<char16_t, char> ToString() const override
    {
        if constexpr (ToStringFn == &Detail::NoToString<A>) {
            return LRefCountedObject::ToString();
        } else {
            return ToStringFn(first);
        }
    }

    A first{};
    B second{};
};

}  // namespace Orv
