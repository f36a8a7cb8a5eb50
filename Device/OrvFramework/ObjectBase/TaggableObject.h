#pragma once
// LTaggableObject: carries one counted reference, its tag, released with the object. Base of
// controls, menu descriptors and the string tags of list entries.

#include "ObjectBase/RCPtr.h"

namespace Orv {

class LTaggableObject : public virtual LRefCountedObject
{
public:
    const RCPtr<LRefCountedObject>& GetTag() const { return tag; }
    void SetTag(const RCPtr<LRefCountedObject>& newTag) { tag = newTag; }

private:
    RCPtr<LRefCountedObject> tag;
};

}  // namespace Orv
