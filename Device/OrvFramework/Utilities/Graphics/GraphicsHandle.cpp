#include "Utilities/Graphics/GraphicsHandle.h"

#include <atomic>

namespace Orv {

GraphicsHandle NewGraphicsHandle()
{
    static std::atomic<GraphicsHandle> lastHandle{0};
    return lastHandle.fetch_add(1, std::memory_order_relaxed) + 1;
}

}  // namespace Orv
