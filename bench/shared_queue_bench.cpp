// Shared queue costs: moving batches in and out under one lock and one signal, and the
// time a record takes from one thread's insert to another thread's taking it:
//   - as half a round trip between two threads over two shared queues (mean, and the
//     percentiles of single round trips);
//   - one producer handing records one at a time to one consumer that takes them as they
//     come, at a steady pace and in bursts (percentiles of each record's time);
// beside two baselines measured in the same run: the same hand-overs through a mutex and
// a condition variable (the consumer sleeps in the kernel each time, as every hand-over
// did before the waits spun), and through one atomic word spun on (the machine's floor).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "bench/bench_report.h"
#include "gateway/runtime/queue.h"
#include "gateway/runtime/shared_queue.h"

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

typedef std::chrono::steady_clock steady;

int64_t now_ns()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(steady::now().time_since_epoch()).count();
}

void spin_for_ns(int64_t ns)
{
    int64_t until = now_ns() + ns;
    while (now_ns() < until)
    {
    }
}

// Percentiles of the samples (ns) as counters in microseconds.
void report_percentiles(benchmark::State &state, std::vector<int64_t> &samples)
{
    std::vector<double> us;
    us.reserve(samples.size());
    for (int64_t ns : samples)
        us.push_back(static_cast<double>(ns) / 1000.0);
    std::sort(us.begin(), us.end());
    state.counters["p50_us"] = bench_percentile(us, 0.50);
    state.counters["p90_us"] = bench_percentile(us, 0.90);
    state.counters["p99_us"] = bench_percentile(us, 0.99);
    state.counters["p99.9_us"] = bench_percentile(us, 0.999);
    state.counters["samples"] = static_cast<double>(us.size());
}

// The three ways of handing a record over, behind one interface: put a value (a send
// time), take every value that has come, waiting up to a millisecond.
class shared_queue_road
{
  public:
    shared_queue_road() : m_sq(shared_queue_create(SHARED_QUEUE_SEMAPHORE)), m_local(queue_create()) {}
    ~shared_queue_road()
    {
        queue_destroy(m_local);
        shared_queue_destroy(m_sq);
    }
    void put(int64_t value)
    {
        shared_queue_insert_single_element(m_sq, element(static_cast<uintptr_t>(value)));
    }
    template <typename Take> void take(Take each)
    {
        if (shared_queue_get_elements_from_single_queue(m_sq, m_local, 1) != EA_SUCCESS)
            return;
        while (queue_get_count(m_local) > 0)
            each(static_cast<int64_t>(reinterpret_cast<uintptr_t>(queue_remove_head(m_local))));
    }

  private:
    shared_queue *m_sq;
    queue *m_local;
};

class condition_variable_road
{
  public:
    void put(int64_t value)
    {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_values.push_back(value);
        }
        m_ready.notify_one();
    }
    template <typename Take> void take(Take each)
    {
        std::deque<int64_t> got;
        {
            std::unique_lock<std::mutex> guard(m_lock);
            m_ready.wait_for(guard, std::chrono::milliseconds(1), [this] { return !m_values.empty(); });
            got.swap(m_values);
        }
        for (int64_t v : got)
            each(v);
    }

  private:
    std::mutex m_lock;
    std::condition_variable m_ready;
    std::deque<int64_t> m_values;
};

// One slot, spun on by the consumer: the cost of moving a cache line between processors.
class atomic_road
{
  public:
    void put(int64_t value)
    {
        while (m_slot.load(std::memory_order_acquire) != 0)
        {
        }
        m_slot.store(value, std::memory_order_release);
    }
    template <typename Take> void take(Take each)
    {
        int64_t until = now_ns() + 1000000;
        for (;;)
        {
            int64_t v = m_slot.load(std::memory_order_acquire);
            if (v != 0)
            {
                m_slot.store(0, std::memory_order_release);
                each(v);
                return;
            }
            if (now_ns() > until)
                return;
        }
    }

  private:
    std::atomic<int64_t> m_slot{0};
};

// One producer stamps each record with its send time and hands it over, then spins
// `gap_ns` (a busy thread producing the next record) or sleeps `idle_ms` every
// `burst` records; the consumer notes how long each record took to reach it.
template <typename Road> void hand_over_stream(benchmark::State &state)
{
    const int64_t gap_ns = state.range(0);
    const uint32_t records = 200000;
    const uint32_t burst = 1000;
    for (auto _ : state)
    {
        Road road;
        std::vector<int64_t> samples;
        samples.reserve(records);
        std::atomic<bool> done{false};
        std::thread consumer(
            [&]
            {
                while (samples.size() < records && !done.load(std::memory_order_relaxed))
                    road.take([&](int64_t sent) { samples.push_back(now_ns() - sent); });
            });
        for (uint32_t i = 0; i < records; ++i)
        {
            road.put(now_ns());
            spin_for_ns(gap_ns);
            if (i % burst == burst - 1)
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        done.store(true);
        consumer.join();
        report_percentiles(state, samples);
    }
}

void BM_StreamSharedQueue(benchmark::State &state)
{
    hand_over_stream<shared_queue_road>(state);
}
void BM_StreamConditionVariable(benchmark::State &state)
{
    hand_over_stream<condition_variable_road>(state);
}
void BM_StreamAtomicSlot(benchmark::State &state)
{
    hand_over_stream<atomic_road>(state);
}
// Gaps of 2 and 20 us between records: both threads busy; the consumer keeps up.
BENCHMARK(BM_StreamSharedQueue)
    ->Arg(2000)
    ->Arg(20000)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StreamConditionVariable)
    ->Arg(2000)
    ->Arg(20000)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StreamAtomicSlot)
    ->Arg(2000)
    ->Arg(20000)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// Ping-pong: a record goes there and comes back; each round trip is timed and half of it
// counts as one hand-over.
template <typename Road> void hand_over_ping_pong(benchmark::State &state)
{
    const uint32_t rounds = 100000;
    for (auto _ : state)
    {
        Road there, back;
        std::atomic<bool> stop{false};
        std::thread echo(
            [&]
            {
                while (!stop.load(std::memory_order_relaxed))
                    there.take([&](int64_t v) { back.put(v); });
            });
        std::vector<int64_t> samples;
        samples.reserve(rounds);
        for (uint32_t i = 0; i < rounds; ++i)
        {
            int64_t sent = now_ns();
            there.put(sent);
            bool returned = false;
            while (!returned)
                back.take([&](int64_t) { returned = true; });
            samples.push_back((now_ns() - sent) / 2);
        }
        stop.store(true);
        echo.join();
        report_percentiles(state, samples);
    }
}

void BM_PingPongSharedQueue(benchmark::State &state)
{
    hand_over_ping_pong<shared_queue_road>(state);
}
void BM_PingPongConditionVariable(benchmark::State &state)
{
    hand_over_ping_pong<condition_variable_road>(state);
}
void BM_PingPongAtomicSlot(benchmark::State &state)
{
    hand_over_ping_pong<atomic_road>(state);
}
BENCHMARK(BM_PingPongSharedQueue)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PingPongConditionVariable)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PingPongAtomicSlot)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
} // namespace

BENCHMARK_MAIN();
