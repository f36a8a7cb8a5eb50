#pragma once
// Two values side by side. Pair<A, B> is a plain value (an array of them copies field by field:
// a string table's (ID, text) entries). LPair<A, B, ToStringFn> is two values in one counted box
// (a parameter descriptor with its value); its ToString gives what ToStringFn makes of the first
// value; without a ToStringFn it is the run-time type name, as for every counted object.

#include <utility>

#include "ObjectBase/RefCountedObject.h"
#include "Utilities/Storage/StringT.h"

namespace Orv {

template <class A, class B>
struct Pair
{
    A first{};
    B second{};

    bool operator==(const Pair& other) const
    {
        return first == other.first && second == other.second;
    }
};

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
