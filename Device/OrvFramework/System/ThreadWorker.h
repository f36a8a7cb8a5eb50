#pragma once
// One unit of work that a thread driver runs on its thread. The parameters are the ones handed to
// the driver; the result is the worker's own (the drivers ignore it).

#include "ObjectBase/RCPtr.h"

namespace Orv {

class LThreadWorker : public virtual LRefCountedObject
{
public:
    virtual int Run(RCPtr<LRefCountedObject>& parameters) = 0;
};

}  // namespace Orv
