#pragma once
// The base of nearly every framework object: a heap object that counts its own references and is
// destroyed by the Release that takes the count to zero. Create with `new`, hand straight to an
// RCPtr, never delete directly.
//
// Back references: structures an object is registered with (distributors, queues) hold counted
// references back to it and record them in backReferenceCount. When a Release finds that only
// back references would remain, the object is first asked to DropBackReferences, so registrations
// never keep an otherwise unreachable object alive. An object with back references is released on
// one thread at a time (the thread that owns its registrations).
//
// Framework classes derive from LRefCountedObject virtually, so an object that combines several
// counted bases has exactly one counter.

#include <atomic>
#include <cstdint>

#include "ObjectBase/OrvResult.h"
#include "ObjectBase/Stringable.h"

namespace Orv {

template <class T>
class RCPtr;

class IUndoable : public IStringable
{
public:
    virtual void Undo() = 0;

protected:
    ~IUndoable() = default;
};

class LRefCountedObject : public IUndoable
{
public:
    LRefCountedObject() = default;
    virtual ~LRefCountedObject();

    // The run-time type name, "class Orv::LRefCountedObject".
    StringT<char16_t, char> ToString() const override;

    // Throws: no class of the framework can undo.
    void Undo() override;

    // Counting is part of holding, so a read-only holder may count: the counters are mutable.
    virtual int32_t AddRef() const;
    virtual int32_t Release() const;

    // Drops the registrations that hold back references (overrides), then answers S_OK when this
    // object is held by nothing but the one reference being released.
    virtual ORVRESULT DropBackReferences();

    // A new, independent (and shareable) copy. The default throws: only classes whose holders
    // copy on write override it.
    virtual RCPtr<LRefCountedObject> CreateCopy() const;

    // While unshareable, every new holder takes a private copy. Refused (throws) while shared.
    void SetUnshareable(bool unshareable);
    bool IsShareable() const { return shareable; }

    int32_t GetRefCount() const { return refCount.load(std::memory_order_acquire); }
    int32_t GetBackReferenceCount() const
    {
        return backReferenceCount.load(std::memory_order_acquire);
    }

    // For the structures that hold back references: they count each reference they take as a back
    // reference here, and uncount it before they give it up.
    void AddBackReference() const { backReferenceCount.fetch_add(1, std::memory_order_acq_rel); }
    void RemoveBackReference() const { backReferenceCount.fetch_sub(1, std::memory_order_acq_rel); }

protected:
    // A copy is a new object: counters and the sharing flag are never copied.
    LRefCountedObject(const LRefCountedObject&) : LRefCountedObject() {}
    LRefCountedObject& operator=(const LRefCountedObject&) { return *this; }

private:
    mutable std::atomic<int32_t> refCount{0};
    mutable std::atomic<int32_t> backReferenceCount{0};
    mutable std::atomic<int32_t> releaseGuard{0};
    bool shareable = true;
};

}  // namespace Orv
