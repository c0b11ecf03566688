// Cost of the gateway's signalling path: a semaphore release and the wait that takes it,
// in one thread and between two threads, and a release to a semaphore already signalled
// (the shared queue's common case under load). Between two threads the hand-over is also
// timed one round trip at a time (percentiles of half a round trip), beside the same
// ping-pong through a mutex and condition variable, measured in the same run: a thread
// that sleeps in the kernel for each hand-over, as the waits did before they spun.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "bench/bench_report.h"

#include "platform/core/pf_semaphore.h"
#include "platform/core/pf_wait.h"
#include "platform/core/pf_waitable.h"

static void BM_ReleaseThenWaitSameThread(benchmark::State &state)
{
    pf_semaphore *s = pf_semaphore_create(0, 1);
    pf_waitable *w = pf_semaphore_waitable(s);
    for (auto _ : state)
    {
        pf_semaphore_release(s, 1, nullptr);
        benchmark::DoNotOptimize(pf_wait_for_single(w, 0));
    }
    pf_semaphore_destroy(s);
}
BENCHMARK(BM_ReleaseThenWaitSameThread);

static void BM_ReleaseWhenAlreadySignalled(benchmark::State &state)
{
    pf_semaphore *s = pf_semaphore_create(1, 1);
    for (auto _ : state)
    {
        benchmark::DoNotOptimize(pf_semaphore_release(s, 1, nullptr));
    }
    pf_semaphore_destroy(s);
}
BENCHMARK(BM_ReleaseWhenAlreadySignalled);

static void BM_WaitAnyOf23WithLastReady(benchmark::State &state)
{
    pf_semaphore *items[23];
    pf_waitable *waitables[23];
    for (int i = 0; i < 23; ++i)
    {
        items[i] = pf_semaphore_create(0, 1);
        waitables[i] = pf_semaphore_waitable(items[i]);
    }
    for (auto _ : state)
    {
        pf_semaphore_release(items[22], 1, nullptr);
        benchmark::DoNotOptimize(pf_wait_for_multiple(waitables, 23, false, 0));
    }
    for (pf_semaphore *s : items)
    {
        pf_semaphore_destroy(s);
    }
}
BENCHMARK(BM_WaitAnyOf23WithLastReady);

static void BM_PingPongBetweenThreads(benchmark::State &state)
{
    pf_semaphore *ping = pf_semaphore_create(0, 1);
    pf_semaphore *pong = pf_semaphore_create(0, 1);
    std::atomic<bool> stop{false};
    std::thread partner(
        [&]
        {
            while (pf_wait_for_single(pf_semaphore_waitable(ping), PF_INFINITE) == PF_WAIT_OBJECT_0 &&
                   !stop.load())
            {
                pf_semaphore_release(pong, 1, nullptr);
            }
        });
    for (auto _ : state)
    {
        pf_semaphore_release(ping, 1, nullptr);
        pf_wait_for_single(pf_semaphore_waitable(pong), PF_INFINITE);
    }
    stop = true;
    pf_semaphore_release(ping, 1, nullptr);
    partner.join();
    pf_semaphore_destroy(ping);
    pf_semaphore_destroy(pong);
}
BENCHMARK(BM_PingPongBetweenThreads)->UseRealTime();

namespace
{
int64_t now_ns()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void report_percentiles(benchmark::State &state, std::vector<double> &us)
{
    std::sort(us.begin(), us.end());
    state.counters["p50_us"] = bench_percentile(us, 0.50);
    state.counters["p90_us"] = bench_percentile(us, 0.90);
    state.counters["p99_us"] = bench_percentile(us, 0.99);
    state.counters["p99.9_us"] = bench_percentile(us, 0.999);
}

const uint32_t k_rounds = 100000;
} // namespace

static void BM_PingPongPercentiles(benchmark::State &state)
{
    for (auto _ : state)
    {
        pf_semaphore *ping = pf_semaphore_create(0, 1);
        pf_semaphore *pong = pf_semaphore_create(0, 1);
        std::atomic<bool> stop{false};
        std::thread partner(
            [&]
            {
                while (!stop.load())
                {
                    if (pf_wait_for_single(pf_semaphore_waitable(ping), 10) == PF_WAIT_OBJECT_0)
                        pf_semaphore_release(pong, 1, nullptr);
                }
            });
        std::vector<double> us;
        us.reserve(k_rounds);
        for (uint32_t i = 0; i < k_rounds; ++i)
        {
            int64_t start = now_ns();
            pf_semaphore_release(ping, 1, nullptr);
            pf_wait_for_single(pf_semaphore_waitable(pong), PF_INFINITE);
            us.push_back(static_cast<double>(now_ns() - start) / 2000.0);
        }
        stop = true;
        partner.join();
        pf_semaphore_destroy(ping);
        pf_semaphore_destroy(pong);
        report_percentiles(state, us);
    }
}
BENCHMARK(BM_PingPongPercentiles)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

static void BM_PingPongConditionVariableBaseline(benchmark::State &state)
{
    struct flag
    {
        std::mutex lock;
        std::condition_variable changed;
        bool set = false;
        void raise()
        {
            {
                std::lock_guard<std::mutex> guard(lock);
                set = true;
            }
            changed.notify_one();
        }
        bool take()
        {
            std::unique_lock<std::mutex> guard(lock);
            bool was = changed.wait_for(guard, std::chrono::milliseconds(10), [this] { return set; });
            set = false;
            return was;
        }
    };
    for (auto _ : state)
    {
        flag ping, pong;
        std::atomic<bool> stop{false};
        std::thread partner(
            [&]
            {
                while (!stop.load())
                {
                    if (ping.take())
                        pong.raise();
                }
            });
        std::vector<double> us;
        us.reserve(k_rounds);
        for (uint32_t i = 0; i < k_rounds; ++i)
        {
            int64_t start = now_ns();
            ping.raise();
            while (!pong.take())
            {
            }
            us.push_back(static_cast<double>(now_ns() - start) / 2000.0);
        }
        stop = true;
        partner.join();
        report_percentiles(state, us);
    }
}
BENCHMARK(BM_PingPongConditionVariableBaseline)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
