#pragma once
// Identity of a drawable value object for the renderers' caches. An address is not an identity: a
// new polyline can be built where a freed one lived, and its cached path would be replayed. Every
// object takes a number of its own from one process-wide counter that never repeats (64 bits do
// not wrap in the life of a program), and copies take a new one.

#include <cstdint>

namespace Orv {

using GraphicsHandle = uint64_t;

// A number not handed out before; never 0, so 0 can mean "no object". Thread-safe.
GraphicsHandle NewGraphicsHandle();

}  // namespace Orv
