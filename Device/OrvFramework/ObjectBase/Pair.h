#pragma once
// Two values side by side. Pair<A, B> is a plain value (an array of them copies field by field:
// a string table's (ID, text) entries). LPair<A, B, ToStringFn> is two values in one counted box
// (a parameter descriptor with its value); its ToString gives what ToStringFn makes of the first
// value; without a ToStringFn it is the run-time type name, as for every counted object.

#include <type_traits>
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

template <class A, class B, StringT<char16_t, char> (*ToStringFn)(const A&) = nullptr>
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
        // Told apart by template identity: gcc does not take the address of a function of
        // another translation unit as a constant in a comparison.
        using Given = std::integral_constant<decltype(ToStringFn), ToStringFn>;
        using None = std::integral_constant<decltype(ToStringFn), nullptr>;
        if constexpr (std::is_same_v<Given, None>) {
            return LRefCountedObject::ToString();
        } else {
            return ToStringFn(first);
        }
    }

    A first{};
    B second{};
};

}  // namespace Orv
