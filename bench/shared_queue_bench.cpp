// Shared queue costs: moving batches in and out under one lock and one signal, and the
// time a record takes from one thread's insert to another thread's wake-up (measured as
// half a round trip between two threads over two shared queues).
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdint>
#include <thread>

#include "gateway/library/queue.h"
#include "gateway/library/shared_queue.h"

namespace
{
void *element(uintptr_t value)
{
    return reinterpret_cast<void *>(value);
}

void BM_BatchInsertAndDrain(benchmark::State &state)
{
    const uint32_t batch = static_cast<uint32_t>(state.range(0));
    shared_queue *sq = shared_queue_create(SHARED_QUEUE_SEMAPHORE);
    queue *producer = queue_create();
    queue *consumer = queue_create();
    for (auto _ : state)
    {
        for (uint32_t i = 0; i < batch; i++)
            queue_append(producer, element(i + 1));
        if (shared_queue_insert(sq, producer) != EA_SUCCESS)
            state.SkipWithError("shared_queue_insert failed");
        if (shared_queue_get_elements_from_single_queue(sq, consumer, 0) != EA_SUCCESS)
            state.SkipWithError("shared_queue_get_elements_from_single_queue failed");
        while (queue_get_count(consumer) > 0)
            benchmark::DoNotOptimize(queue_remove_head(consumer));
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * batch);
    queue_destroy(consumer);
    queue_destroy(producer);
    shared_queue_destroy(sq);
}
BENCHMARK(BM_BatchInsertAndDrain)->Arg(1)->Arg(4)->Arg(64)->Arg(1024);

void BM_SingleInsertAndDrain(benchmark::State &state)
{
    shared_queue *sq = shared_queue_create(SHARED_QUEUE_SEMAPHORE);
    queue *consumer = queue_create();
    for (auto _ : state)
    {
        shared_queue_insert_single_element(sq, element(1));
        shared_queue_get_elements_no_wait(sq, consumer);
        benchmark::DoNotOptimize(queue_remove_head(consumer));
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
    queue_destroy(consumer);
    shared_queue_destroy(sq);
}
BENCHMARK(BM_SingleInsertAndDrain);

// One record goes to the echo thread on `there` and comes back on `back`; each iteration
// is two hand-overs.
void BM_HandOverLatency(benchmark::State &state)
{
    shared_queue *there = shared_queue_create(SHARED_QUEUE_SEMAPHORE);
    shared_queue *back = shared_queue_create(SHARED_QUEUE_SEMAPHORE);
    std::atomic<bool> stop{false};

    std::thread echo(
        [&]()
        {
            queue *local = queue_create();
            while (!stop.load(std::memory_order_relaxed))
            {
                if (shared_queue_get_elements_from_single_queue(there, local, 10) != EA_SUCCESS)
                    continue;
                if (queue_get_count(local) > 0)
                    shared_queue_insert(back, local);
            }
            queue_destroy(local);
        });

    queue *local = queue_create();
    for (auto _ : state)
    {
        shared_queue_insert_single_element(there, element(1));
        do
        {
            if (shared_queue_get_elements_from_single_queue(back, local, 1000) == EA_ERROR)
                state.SkipWithError("wait failed");
        } while (queue_get_count(local) == 0);
        benchmark::DoNotOptimize(queue_remove_head(local));
    }
    // Seconds per hand-over.
    state.counters["hand_over_latency"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * 2,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);

    stop.store(true);
    echo.join();
    queue_destroy(local);
    shared_queue_destroy(back);
    shared_queue_destroy(there);
}
BENCHMARK(BM_HandOverLatency)->UseRealTime();
} // namespace

BENCHMARK_MAIN();
