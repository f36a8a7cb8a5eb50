#pragma once
// Intrusive counted pointers. ConstRCPtr<T> gives read-only access, RCPtr<T> read-write access;
// a non-null pointer owns exactly one counted reference of its object.
//
// Sharing rules: a new holder of an unshareable object receives a private copy (CreateCopy) at
// once; a holder about to write to a possibly shared object calls Unshare first. Assignment takes
// the new reference before it drops the old one, so assigning an object reachable only through
// the old one is safe. A pointer variable is not synchronised: don't assign one on two threads.

#include <cstddef>
#include <type_traits>
#include <typeinfo>
#include <utility>

#include "ObjectBase/Exception.h"
#include "ObjectBase/RefCountedObject.h"

namespace Orv {

template <class T>
class ConstRCPtr;
template <class T>
class RCPtr;
template <class T, class U>
RCPtr<T> DynamicRCPtrCast(const RCPtr<U>& source);
template <class T, class U>
ConstRCPtr<T> DynamicRCPtrCast(const ConstRCPtr<U>& source);

template <class T>
class ConstRCPtr
{
public:
    using element_type = T;

    ConstRCPtr() noexcept = default;
    ConstRCPtr(std::nullptr_t) noexcept {}

    template <class U>
    requires std::is_convertible_v<const U*, const T*> ConstRCPtr(const U* object)
        : pointee(const_cast<U*>(object))
    {
        ShareOnConstruction();
    }

    ConstRCPtr(const ConstRCPtr& other) : pointee(other.pointee) { ShareOnConstruction(); }

    template <class U>
    requires std::is_convertible_v<U*, T*> ConstRCPtr(const ConstRCPtr<U>& other)
        : pointee(other.pointee)
    {
        ShareOnConstruction();
    }

    // Moving hands the reference over: no count changes, the source becomes null.
    ConstRCPtr(ConstRCPtr&& other) noexcept : pointee(std::exchange(other.pointee, nullptr)) {}

    ~ConstRCPtr()
    {
        if (pointee != nullptr) {
            Counted(pointee)->Release();
        }
    }

    ConstRCPtr& operator=(const ConstRCPtr& other)
    {
        AssignObject(other.pointee);
        return *this;
    }

    ConstRCPtr& operator=(ConstRCPtr&& other) noexcept
    {
        if (this != &other) {
            ConstRCPtr old(std::move(*this));
            pointee = std::exchange(other.pointee, nullptr);
        }
        return *this;
    }

    ConstRCPtr& operator=(std::nullptr_t)
    {
        AssignObject(nullptr);
        return *this;
    }

    // Makes this the only holder of its object, replacing a shared object by a private copy.
    void Unshare();

    const T* Get() const noexcept { return pointee; }
    const T* operator->() const noexcept { return pointee; }
    const T& operator*() const noexcept { return *pointee; }
    explicit operator bool() const noexcept { return pointee != nullptr; }
    bool IsNull() const noexcept { return pointee == nullptr; }

    // Identity of the object (its one LRefCountedObject part), whatever the pointer types.
    template <class U>
    bool operator==(const ConstRCPtr<U>& other) const noexcept
    {
        return Identity(pointee) == ConstRCPtr<U>::Identity(other.pointee);
    }
    bool operator==(std::nullptr_t) const noexcept { return pointee == nullptr; }

protected:
    static const LRefCountedObject* Counted(const T* object) { return object; }
    static const void* Identity(const T* object)
    {
        return object != nullptr ? static_cast<const void*>(Counted(object)) : nullptr;
    }

    // Starts holding `pointee`: take the reference, then a private copy if it is unshareable.
    void Share()
    {
        if (pointee == nullptr) {
            return;
        }
        Counted(pointee)->AddRef();
        if (!Counted(pointee)->IsShareable()) {
            Unshare();
        }
    }

    // A constructor that throws never runs its destructor, so the reference taken here is given
    // back before the exception leaves.
    void ShareOnConstruction()
    {
        try {
            Share();
        } catch (...) {
            if (pointee != nullptr) {
                Counted(pointee)->Release();
                pointee = nullptr;
            }
            throw;
        }
    }

    void AssignObject(T* object)
    {
        if (object == pointee) {
            return;
        }
        T* old = pointee;
        pointee = object;
        try {
            Share();
        } catch (...) {
            // This pointer still holds the new object with its reference; the old one is let go.
            if (old != nullptr) {
                Counted(old)->Release();
            }
            throw;
        }
        if (old != nullptr) {
            Counted(old)->Release();
        }
    }

    T* pointee = nullptr;

    template <class>
    friend class ConstRCPtr;
};

template <class T>
class RCPtr : public ConstRCPtr<T>
{
    using Base = ConstRCPtr<T>;

public:
    RCPtr() noexcept = default;
    RCPtr(std::nullptr_t) noexcept {}

    template <class U>
    requires std::is_convertible_v<U*, T*> RCPtr(U* object) : Base(static_cast<const T*>(object)) {}

    RCPtr(const RCPtr& other) = default;
    RCPtr(RCPtr&& other) noexcept = default;

    template <class U>
    requires std::is_convertible_v<U*, T*> RCPtr(const RCPtr<U>& other)
        : Base(static_cast<const ConstRCPtr<U>&>(other))
    {
    }

    RCPtr& operator=(const RCPtr& other) { return Assign(other); }
    RCPtr& operator=(RCPtr&& other) noexcept
    {
        Base::operator=(std::move(other));
        return *this;
    }
    RCPtr& operator=(std::nullptr_t)
    {
        Base::operator=(nullptr);
        return *this;
    }

    template <class U>
    requires std::is_convertible_v<U*, T*> RCPtr& Assign(const RCPtr<U>& other)
    {
        this->AssignObject(other.Get());
        return *this;
    }

    T* Get() const noexcept { return this->pointee; }
    T* operator->() const noexcept { return this->pointee; }
    T& operator*() const noexcept { return *this->pointee; }
};

template <class T>
void ConstRCPtr<T>::Unshare()
{
    if (pointee == nullptr || Counted(pointee)->GetRefCount() <= 1) {
        return;
    }
    RCPtr<T> copy;
    {
        const RCPtr<LRefCountedObject> untyped = Counted(pointee)->CreateCopy();
        copy = DynamicRCPtrCast<T>(untyped);
    }
    AssignObject(copy.Get());
    copy = nullptr;
    if (pointee == nullptr) {
        ORV_THROW_DETAIL(LogicError, Detail::RuntimeTypeName(typeid(T)));
    }
}

// The run-time typed conversion: null (and no count change) when the object is not a T.
template <class T, class U>
RCPtr<T> DynamicRCPtrCast(const RCPtr<U>& source)
{
    return RCPtr<T>(dynamic_cast<T*>(source.Get()));
}

template <class T, class U>
ConstRCPtr<T> DynamicRCPtrCast(const ConstRCPtr<U>& source)
{
    return ConstRCPtr<T>(dynamic_cast<const T*>(source.Get()));
}

}  // namespace Orv
