#pragma once
// Payload classes of high-rate notifications (mouse moves, wheel steps, value changes, menu
// activations) take their memory from one pool per class instead of the heap:
//
//     class LValueParam : public LRefCountedObject, public PooledPayload<LValueParam, 4> { ... };
//
// `new LValueParam(...)` asks the class's pool for sizeof(LValueParam) bytes (a constructor that
// throws gives them back), and the deleting destructor destroys the object, releasing what it
// holds, before it hands the storage back to the pool. A class derived from a payload class has
// another size and so is served by the heap, through the same pool.
//
// Each pool works under its own critical section, so a payload may be made or dropped on any
// thread. Each lives in a function-local static, built on first use, so that it outlives every
// payload made before main; pools end with the process. The framework's globals build the pools
// of the framework's payload classes before main, in a fixed order (System/PayloadPools.h).

#include <cstddef>
#include <cstdint>

#include "Utilities/Storage/ReuseAllocator.h"

namespace Orv {

template <class T, uint32_t N>
ReuseAllocator<T, N>& PayloadPool()
{
    static ReuseAllocator<T, N> pool(true);
    return pool;
}

template <class T, uint32_t N>
class PooledPayload
{
public:
    static void* operator new(std::size_t size) { return PayloadPool<T, N>().Allocate(size); }
    static void operator delete(void* pointer) { PayloadPool<T, N>().Free(pointer); }
    // The class's pool, built on first use.
    static ReuseAllocator<T, N>& Pool() { return PayloadPool<T, N>(); }

protected:
    PooledPayload() = default;
    ~PooledPayload() = default;
};

}  // namespace Orv
