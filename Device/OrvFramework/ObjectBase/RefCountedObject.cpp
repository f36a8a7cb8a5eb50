#include "ObjectBase/RefCountedObject.h"

#include <cassert>

#include "ObjectBase/Exception.h"
#include "ObjectBase/RCPtr.h"
#include "ObjectBase/SourceName.h"
#include "Utilities/Storage/StringT.h"

namespace Orv {

LRefCountedObject::~LRefCountedObject()
{
    // Only the Release that reaches zero destroys a counted object.
    assert(refCount.load() == 0 && "reference-counted object destroyed while still held");
}

StringT<char16_t, char> LRefCountedObject::ToString() const
{
    return StringT<char16_t, char>(Detail::RuntimeTypeName(typeid(*this)).c_str());
}

void LRefCountedObject::Undo()
{
    ORV_THROW_DETAIL(LogicError, "Undo() not implemented for RefCountedObject");
}

int32_t LRefCountedObject::AddRef() const
{
    return refCount.fetch_add(1, std::memory_order_relaxed) + 1;
}

int32_t LRefCountedObject::Release() const
{
    const int32_t references = refCount.load(std::memory_order_acquire);
    const int32_t backReferences = backReferenceCount.load(std::memory_order_acquire);
    if (references == backReferences + 1 && releaseGuard.load(std::memory_order_acquire) == 0 &&
        backReferenceCount.load(std::memory_order_acquire) > 0) {
        // The nested releases of the registrations being dropped see the guard and only count
        // down; the guard is lowered even when an override throws.
        struct GuardScope
        {
            std::atomic<int32_t>& guard;
            explicit GuardScope(std::atomic<int32_t>& g) : guard(g) { guard.fetch_add(1); }
            ~GuardScope() { guard.fetch_sub(1); }
        } scope(releaseGuard);
        const_cast<LRefCountedObject*>(this)->DropBackReferences();
    }
    const int32_t left = refCount.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) {
        delete this;
    }
    return left;
}

ORVRESULT LRefCountedObject::DropBackReferences()
{
    if (backReferenceCount.load(std::memory_order_acquire) != 0) {
        return E_FAIL;
    }
    if (refCount.load(std::memory_order_acquire) != 1) {
        return E_FAIL;
    }
    return S_OK;
}

RCPtr<LRefCountedObject> LRefCountedObject::CreateCopy() const
{
    ORV_THROW_DETAIL(LogicError, "CreateCopy() not implemented for RefCountedObject");
}

void LRefCountedObject::SetUnshareable(bool unshareable)
{
    if (unshareable && refCount.load(std::memory_order_acquire) > 1) {
        ORV_THROW(RuntimeError);
    }
    shareable = !unshareable;
}

}  // namespace Orv
