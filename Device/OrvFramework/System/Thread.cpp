#include "System/Thread.h"

#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <iterator>
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
    pid_t tid = 0;           // the system's id of the thread, once it runs; guarded by lock
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
        record->tid = static_cast<pid_t>(syscall(SYS_gettid));
        record->changed.notify_all();
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

// The platform's priority levels and the nice value each one maps to, relative to the process's
// own. Linux lets a thread lower its scheduling weight freely; raising it again (a smaller nice
// value) needs privilege, and the system's refusal is reported as a failed SetPriority.
struct PriorityLevel
{
    int priority;  // the platform's value
    int niceStep;  // added to the process's nice value
};
constexpr PriorityLevel kPriorityLevels[] = {
    {-15, 19},  // idle
    {-2, 10},   // lowest
    {-1, 5},    // below normal
    {0, 0},     // normal
    {1, -5},    // above normal
    {2, -10},   // highest
    {15, -20},  // time-critical
};

int ProcessNice()
{
    static const int nice = [] {
        errno = 0;
        const int value = getpriority(PRIO_PROCESS, static_cast<id_t>(getpid()));
        return errno == 0 ? value : 0;
    }();
    return nice;
}

int ClampNice(int nice)
{
    return nice < -20 ? -20 : (nice > 19 ? 19 : nice);
}

const PriorityLevel* FindLevel(int priority)
{
    for (const PriorityLevel& level : kPriorityLevels) {
        if (level.priority == priority) {
            return &level;
        }
    }
    return nullptr;
}

// The level whose nice value lies nearest to the thread's.
int LevelOfNice(int nice)
{
    const PriorityLevel* best = &kPriorityLevels[0];
    for (const PriorityLevel& level : kPriorityLevels) {
        if (std::abs(ClampNice(ProcessNice() + level.niceStep) - nice) <
            std::abs(ClampNice(ProcessNice() + best->niceStep) - nice)) {
            best = &level;
        }
    }
    return best->priority;
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
    const PriorityLevel* level = FindLevel(priority);
    if (!impl || level == nullptr) {
        return false;
    }
    // Under the lock the thread cannot end, so its id cannot pass to another thread meanwhile.
    std::unique_lock<std::mutex> guard(impl->lock);
    impl->changed.wait(guard, [this] { return impl->tid != 0 || impl->finished; });
    if (impl->finished) {
        return false;
    }
    if (setpriority(PRIO_PROCESS, static_cast<id_t>(impl->tid),
                    ClampNice(ProcessNice() + level->niceStep)) != 0) {
        return false;
    }
    impl->priority.store(priority);
    return true;
}

int Thread::GetPriority() const
{
    if (!impl) {
        return 0;
    }
    const std::lock_guard<std::mutex> guard(impl->lock);
    if (impl->tid != 0 && !impl->finished) {
        errno = 0;
        const int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(impl->tid));
        if (errno == 0) {
            return LevelOfNice(nice);
        }
    }
    return impl->priority.load();
}

bool Thread::SetPriorityBoost(bool enable)
{
    // Linux schedules without a boost: turning it off is what the thread has already, turning it
    // on cannot be done.
    if (!impl || enable) {
        return false;
    }
    impl->priorityBoost.store(false);
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
