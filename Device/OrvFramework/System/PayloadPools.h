#pragma once
// PayloadPoolList<Payloads...>: pools built one after another, in the order listed. An entry is a
// class with a static Pool() that builds its pool on first use and returns it (every
// PooledPayload class has one). The framework's own list is in System/FrameworkPayloadPools.cpp.

namespace Orv {

template <class... Payloads>
struct PayloadPoolList
{
    static void Build() { (static_cast<void>(Payloads::Pool()), ...); }
};

// Builds the pools of the framework's payload classes, in their order; run by the framework's
// globals before main.
void BuildFrameworkPayloadPools();

}  // namespace Orv
