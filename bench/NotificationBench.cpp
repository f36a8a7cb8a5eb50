// Notification traffic against the physical limit of the same work.
//
// Post and drain: one producer thread posts to a center while this thread drains it, against a
// mutex-guarded deque of pointers handed between the same two threads.
// Send: one notification sent through a distributor to 1, 10 and 100 clients, against calling
// the same number of receivers through their virtual function.
#include <benchmark/benchmark.h>

#include <atomic>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "Notification/NotificationCenterManager.h"
#include "Notification/NotificationIdTexts.h"

namespace {

using Orv::RCPtr;

constexpr int kBacklog = 200;  // about one ring's worth, as an idle-time drain sees it

class LCountingClient : public Orv::LNotificationClient
{
public:
    int OnNotification(const RCPtr<Orv::LNotificationDistributor>&,
                       const RCPtr<Orv::LNotification>&) override
    {
        benchmark::DoNotOptimize(++count);
        return 0;
    }
    int64_t count = 0;
};

void PostAndDrain(benchmark::State& state)
{
    Orv::EnableNotificationPooling(true);
    const auto center = Orv::CreateNotificationCenter(Orv::WideString(u"bench"));
    const RCPtr<LCountingClient> client(new LCountingClient());
    client->Register(center, Orv::NID_PARAM_MODULE_STATE_CHANGE);
    std::atomic<bool> stop{false};
    std::thread producer([&] {
        while (!stop.load(std::memory_order_relaxed)) {
            if (center->GetQueuedCount() >= kBacklog) {
                std::this_thread::yield();
                continue;
            }
            center->PostNotification(Orv::CreateNotification(Orv::NID_PARAM_MODULE_STATE_CHANGE));
        }
    });
    for (auto _ : state) {
        // An idle pass when there is something to drain, as the application's idle handling.
        if (center->GetQueuedCount() == 0) {
            std::this_thread::yield();
            continue;
        }
        center->ProcessQueue(false);
    }
    stop.store(true);
    producer.join();
    state.SetItemsProcessed(client->count);
    client->UnregisterAll();
    center->Detach();
    Orv::EnableNotificationPooling(false);
}
BENCHMARK(PostAndDrain)->UseRealTime();

void MutexDequeHandover(benchmark::State& state)
{
    std::mutex lock;
    std::deque<void*> queue;
    int64_t received = 0;
    std::atomic<bool> stop{false};
    std::thread producer([&] {
        int token = 0;
        while (!stop.load(std::memory_order_relaxed)) {
            std::unique_lock<std::mutex> guard(lock);
            if (queue.size() >= kBacklog) {
                guard.unlock();
                std::this_thread::yield();
                continue;
            }
            queue.push_back(&token);
        }
    });
    for (auto _ : state) {
        std::deque<void*> batch;
        {
            const std::lock_guard<std::mutex> guard(lock);
            batch.swap(queue);
        }
        if (batch.empty()) {
            std::this_thread::yield();
            continue;
        }
        for (void* item : batch) {
            benchmark::DoNotOptimize(item);
            ++received;
        }
    }
    stop.store(true);
    producer.join();
    state.SetItemsProcessed(received);
}
BENCHMARK(MutexDequeHandover)->UseRealTime();

void SendToClients(benchmark::State& state)
{
    const RCPtr<Orv::LNotificationDistributor> distributor(new Orv::LNotificationDistributor());
    std::vector<RCPtr<LCountingClient>> clients;
    for (int64_t i = 0; i < state.range(0); ++i) {
        clients.emplace_back(new LCountingClient());
        clients.back()->Register(distributor, Orv::NID_VALUE_CHANGE);
    }
    const auto notification = Orv::CreateNotification(Orv::NID_VALUE_CHANGE);
    for (auto _ : state) {
        distributor->SendNotification(notification);
    }
    for (const auto& client : clients) {
        client->UnregisterAll();
    }
}
BENCHMARK(SendToClients)->Arg(1)->Arg(10)->Arg(100);

struct Receiver
{
    virtual ~Receiver() = default;
    virtual int Receive(const void* item) = 0;
};

struct CountingReceiver : Receiver
{
    int Receive(const void* item) override
    {
        benchmark::DoNotOptimize(item);
        benchmark::DoNotOptimize(++count);
        return 0;
    }
    int64_t count = 0;
};

void VirtualCallsToReceivers(benchmark::State& state)
{
    std::vector<std::unique_ptr<Receiver>> receivers;
    for (int64_t i = 0; i < state.range(0); ++i) {
        receivers.push_back(std::make_unique<CountingReceiver>());
    }
    int item = 0;
    for (auto _ : state) {
        for (auto it = receivers.rbegin(); it != receivers.rend(); ++it) {
            (*it)->Receive(&item);
        }
    }
}
BENCHMARK(VirtualCallsToReceivers)->Arg(1)->Arg(10)->Arg(100);

}  // namespace

BENCHMARK_MAIN();
