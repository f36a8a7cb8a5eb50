#pragma once
// The framework's one lock type. Re-entrant: the thread that holds a mutex may enter it again and
// leaves it as often as it entered (the queues take it again inside their own operations). Which
// mutex guards what is written where each one is declared. Header-only, so that the containers
// can take a lock without depending on the rest of the threading layer.

#include <mutex>

namespace Orv {

class Mutex
{
public:
    Mutex() = default;
    virtual ~Mutex() = default;

    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    void Enter() { section.lock(); }
    void Leave() { section.unlock(); }
    bool TryEnter() { return section.try_lock(); }

private:
    std::recursive_mutex section;
};

// Holds a mutex for the rest of the scope, also when an exception leaves it. A null mutex is no
// lock at all: containers built without one run unguarded.
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
    ~ScopedLock()
    {
        if (mutex != nullptr) {
            mutex->Leave();
        }
    }

    ScopedLock(const ScopedLock&) = delete;
    ScopedLock& operator=(const ScopedLock&) = delete;

private:
    Mutex* mutex;
};

}  // namespace Orv
