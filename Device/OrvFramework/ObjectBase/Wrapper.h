#pragma once
// LWrapper<T, Base>: a counted copy of a value object, such as a parameter-value list handed from
// the client library's thread to the device-communication thread.

#include <type_traits>
#include <utility>

#include "ObjectBase/RefCountedObject.h"

namespace Orv {

template <class T, class Base = LRefCountedObject>
class LWrapper : public T, public virtual Base
{
    static_assert(std::is_base_of_v<LRefCountedObject, Base>,
                  "LWrapper's Base is LRefCountedObject or a class derived from it");

public:
    explicit LWrapper(const T& value) : T(value) {}
    explicit LWrapper(T&& value) : T(std::move(value)) {}

    T& GetValue() { return *this; }
    const T& GetValue() const { return *this; }
};

}  // namespace Orv
