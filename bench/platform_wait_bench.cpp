// Cost of the gateway's signalling path: a semaphore release and the wait that takes it,
// in one thread and between two threads, and a release to a semaphore already signalled
// (the shared queue's common case under load).
#include <benchmark/benchmark.h>

#include <atomic>
#include <thread>

#include "platform/pf_semaphore.h"
#include "platform/pf_wait.h"
#include "platform/pf_waitable.h"

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

BENCHMARK_MAIN();
