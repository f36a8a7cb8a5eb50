#include "System/Thread.h"

#include <pthread.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>

namespace Orv {

namespace Detail {

// Shared by the wrapper and the thread itself, so either may be gone first.
struct ThreadRecord
{
    std::mutex lock;
    std::condition_variable changed;
    bool resumed = false;    // guarded by lock
    bool abandoned = false;  // the wrapper went before Resume; guarded by lock
    bool finished = false;   // guarded by lock
    std::atomic<int> priority{0};
    std::atomic<bool> priorityBoost{true};
    uint32_t id = 0;
    std::thread thread;
};

}  // namespace Detail

namespace {

constexpr int kWaitForever = -1;
std::atomic<int> failingCreations{0};
std::atomic<uint32_t> lastThreadId{0};

// Callers blocked in Wait, by the id of the thread they wait for; read by tests only.
std::mutex waitersLock;
std::map<uint32_t, int> waitersById;

class CountedWaiter
{
public:
    explicit CountedWaiter(uint32_t id) : id(id)
    {
        const std::lock_guard<std::mutex> guard(waitersLock);
        ++waitersById[id];
    }
    ~CountedWaiter()
    {
        const std::lock_guard<std::mutex> guard(waitersLock);
        if (--waitersById[id] == 0) {
            waitersById.erase(id);
        }
    }
    CountedWaiter(const CountedWaiter&) = delete;
    CountedWaiter& operator=(const CountedWaiter&) = delete;

private:
    uint32_t id;
};

bool CreationRefused()
{
    int pending = failingCreations.load();
    while (pending > 0) {
        if (failingCreations.compare_exchange_weak(pending, pending - 1)) {
            return true;
        }
    }
    return false;
}

void RunThread(const std::shared_ptr<Detail::ThreadRecord>& record, ThreadProcedure procedure,
               void* argument)
{
    {
        std::unique_lock<std::mutex> guard(record->lock);
        record->changed.wait(guard, [&] { return record->resumed || record->abandoned; });
        if (!record->resumed) {
            record->finished = true;
            return;
        }
    }
    procedure(argument);
    {
        const std::lock_guard<std::mutex> guard(record->lock);
        record->finished = true;
    }
    record->changed.notify_all();
}

}  // namespace

namespace Testing {
void FailNextThreadCreations(int count)
{
    failingCreations.store(count);
}

int WaitersFor(uint32_t threadId)
{
    const std::lock_guard<std::mutex> guard(waitersLock);
    const auto found = waitersById.find(threadId);
    return found != waitersById.end() ? found->second : 0;
}
}  // namespace Testing

Thread::Thread(ThreadProcedure procedure, void* argument)
{
    if (procedure == nullptr || CreationRefused()) {
        return;
    }
    auto record = std::make_shared<Detail::ThreadRecord>();
    record->id = lastThreadId.fetch_add(1) + 1;
    try {
        record->thread = std::thread(RunThread, record, procedure, argument);
    } catch (const std::system_error&) {
        return;
    }
    impl = std::move(record);
}

Thread::~Thread()
{
    if (!impl) {
        return;
    }
    bool finished = false;
    {
        const std::lock_guard<std::mutex> guard(impl->lock);
        if (!impl->resumed) {
            impl->abandoned = true;
        }
        finished = impl->finished || impl->abandoned;
    }
    impl->changed.notify_all();
    if (finished && !IsCurrent()) {
        // Ended or about to end without running anything more: collect it now.
        impl->thread.join();
    } else {
        impl->thread.detach();
    }
}

int Thread::Resume()
{
    if (!impl) {
        return -1;
    }
    {
        const std::lock_guard<std::mutex> guard(impl->lock);
        if (impl->resumed) {
            return 0;
        }
        impl->resumed = true;
    }
    impl->changed.notify_all();
    return 1;
}

bool Thread::IsFinished() const
{
    if (!impl) {
        return false;
    }
    const std::lock_guard<std::mutex> guard(impl->lock);
    return impl->finished;
}

bool Thread::Wait(int milliseconds)
{
    if (!impl) {
        return false;
    }
    const CountedWaiter waiter(impl->id);
    std::unique_lock<std::mutex> guard(impl->lock);
    const auto isFinished = [this] { return impl->finished; };
    if (milliseconds < 0) {
        impl->changed.wait(guard, isFinished);
        return true;
    }
    return impl->changed.wait_for(guard, std::chrono::milliseconds(milliseconds), isFinished);
}

void Thread::Join()
{
    if (!IsCurrent()) {
        Wait(kWaitForever);
    }
}

bool Thread::SetPriority(int priority)
{
    if (!impl) {
        return false;
    }
    impl->priority.store(priority);
    return true;
}

int Thread::GetPriority() const
{
    return impl ? impl->priority.load() : 0;
}

bool Thread::SetPriorityBoost(bool enable)
{
    if (!impl) {
        return false;
    }
    impl->priorityBoost.store(enable);
    return true;
}

bool Thread::IsPriorityBoostEnabled() const
{
    return impl && impl->priorityBoost.load();
}

bool Thread::SetName(const StringT<char16_t, char>& name)
{
    if (!impl) {
        return false;
    }
    // The system keeps 15 bytes; a character that would be cut is left out whole.
    const StringT<char, char16_t> utf8 = name.ToNarrow();
    const char* text = utf8.GetText();
    const size_t length = std::strlen(text);
    size_t cut = length < 15 ? length : 15;
    while (cut > 0 && cut < length && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) {
        --cut;
    }
    char shortName[16] = {};
    std::memcpy(shortName, text, cut);
    return pthread_setname_np(impl->thread.native_handle(), shortName) == 0;
}

uint32_t Thread::GetId() const
{
    return impl ? impl->id : 0;
}

bool Thread::IsCurrent() const
{
    return impl && impl->thread.get_id() == std::this_thread::get_id();
}

}  // namespace Orv
