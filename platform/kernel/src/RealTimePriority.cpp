// Real-time scheduling for the threads that stand in for interrupts, DPCs and a streaming
// client: on Windows nothing at normal priority delays a DPC, and a busy Linux machine delays a
// normal thread by tens of milliseconds. SCHED_FIFO when the scheduler grants it (CAP_SYS_NICE,
// or within RLIMIT_RTPRIO); normal priority otherwise, with the reason kept for the host to tell.
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "DispatcherState.h"

namespace Platform::Kernel {
namespace {

// The timer thread (interrupts and DPCs) above the client, the client above the work queues.
// Well below the kernel's own threads (99), above every normal thread.
constexpr int kTimerPriority = 40;

int Offset(RealTimeRole role)
{
    switch (role) {
        case RealTimeRole::Timer:
            return 0;
        case RealTimeRole::Client:
            return 1;
        case RealTimeRole::CriticalWork:
            return 2;
        case RealTimeRole::DelayedWork:
            return 3;
    }
    return 3;
}

}  // namespace

bool RequestRealTimePriority(pthread_t thread, RealTimeRole role, std::string* why)
{
    sched_param param{};
    param.sched_priority = kTimerPriority - Offset(role);
    int error = pthread_setschedparam(thread, SCHED_FIFO, &param);
    rlimit limit{};
    if (error == EPERM && getrlimit(RLIMIT_RTPRIO, &limit) == 0 &&
        limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur >= 1 &&
        static_cast<int>(limit.rlim_cur) < param.sched_priority) {
        // Without CAP_SYS_NICE the limit is the ceiling: the order is kept as far as it allows.
        param.sched_priority = std::max(1, static_cast<int>(limit.rlim_cur) - Offset(role));
        error = pthread_setschedparam(thread, SCHED_FIFO, &param);
    }
    if (error == 0) {
        return true;
    }
    if (why != nullptr) {
        *why = error == EPERM
                   ? "no CAP_SYS_NICE and RLIMIT_RTPRIO " +
                         (getrlimit(RLIMIT_RTPRIO, &limit) == 0
                              ? (limit.rlim_cur == RLIM_INFINITY ? std::string("unlimited")
                                                                 : std::to_string(limit.rlim_cur))
                              : std::string("unknown"))
                   : std::string(std::strerror(error));
    }
    return false;
}

void ReturnToNormalPriority(pthread_t thread)
{
    sched_param param{};
    param.sched_priority = 0;
    pthread_setschedparam(thread, SCHED_OTHER, &param);
}

bool RaiseToRealTime(RealTimeRole role, std::string* why)
{
    return RequestRealTimePriority(pthread_self(), role, why);
}

void ReturnToNormalScheduling()
{
    ReturnToNormalPriority(pthread_self());
}

std::string RealTimeSchedulingRefusal()
{
    Internal::Dispatcher& d = Internal::TheDispatcher();
    std::lock_guard lock(d.mutex);
    return d.realTimeRefusal;
}

}  // namespace Platform::Kernel
