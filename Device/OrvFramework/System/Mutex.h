#pragma once
// Orv::Mutex guards shared framework state; it is re-entrant for the thread that holds it (the
// queues take it again inside their own operations), which leaves it as often as it entered.
// Orv::ScopedLock holds one for a scope and lets it go however the scope is left. Header-only, so
// that the containers below this folder can take a lock without depending on the rest of the
// threading layer. Which mutex guards what is written where each one is declared.

#include <mutex>

namespace Orv {

class Mutex
{
public:
    Mutex() = default;
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;
    virtual ~Mutex() = default;

    void Enter() { section.lock(); }
    void Leave() { section.unlock(); }
    bool TryEnter() { return section.try_lock(); }

private:
    std::recursive_mutex section;
};

// A null mutex is no lock at all: containers built without one run unguarded.
class ScopedLock
{
public:
    explicit ScopedLock(Mutex* mutex) : mutex(mutex)
    {
        if (mutex != nullptr) {
            mutex->Enter();
        }
    }
    explicit ScopedLock(Mutex& mutex) : ScopedLock(&mutex) {}
    ScopedLock(const ScopedLock&) = delete;
    ScopedLock& operator=(const ScopedLock&) = delete;
    ~ScopedLock()
    {
        if (mutex != nullptr) {
            mutex->Leave();
        }
    }

private:
    Mutex* mutex;
};

}  // namespace Orv
