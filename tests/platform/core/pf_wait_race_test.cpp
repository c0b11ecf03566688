// Threads racing through the waits for hundreds of thousands of hand-overs, with paces
// that change all the time so that every wait ends every way there is: ready at once,
// caught while spinning, woken from sleep, timed out. Several waiters share objects (so one
// registers to sleep while another sleeps, and one lowers a descriptor that another
// sleeps on), a wait-all collects objects raised by different threads, and a mutex is
// handed between owners. What may not happen is a lost wake-up: a wait that times out
// although what it waits for was there during the whole wait. Each test states how it
// knows that from counters the threads keep. No speed is asserted.
#include "platform/core/pf_wait.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "platform/core/pf_mutex.h"
#include "platform/core/pf_semaphore.h"
#include "platform/core/pf_waitable.h"
#include "support/race_pace.h"
#include "support/sanitizer_build.h"

namespace
{
const uint32_t k_scale = qel_test::k_under_sanitizer ? 10 : 1;

// Each thread's pace: mostly back to back, now and then a short busy pause, a yield, or a
// sleep long enough for a waiter to stop spinning and sleep.
const qel_test::race_pace_mix k_pace = {880, 960, 998, 60, 700};

struct semaphore_set
{
    std::vector<pf_semaphore *> items;
    std::vector<pf_waitable *> waitables;
    explicit semaphore_set(size_t n)
    {
        for (size_t i = 0; i < n; ++i)
        {
            items.push_back(pf_semaphore_create(0, 1 << 30));
            waitables.push_back(pf_semaphore_waitable(items.back()));
        }
    }
    ~semaphore_set()
    {
        for (pf_semaphore *s : items)
            pf_semaphore_destroy(s);
    }
    // A look that takes nothing but its answer: whether any count is left.
    bool any_left()
    {
        for (pf_waitable *w : waitables)
            if (pf_wait_for_single(w, 0) == PF_WAIT_OBJECT_0)
                return true;
        return false;
    }
};

int64_t now_ns()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// A wait that lasts its whole time-out of a second although what it waited for had been
// there since its first half slept through a wake-up: a working wait takes it within a
// scheduler's latency, and a thread starved of the processor for half a second (the
// machine is shared) is not mistaken for one.
const int64_t k_long_wait_ns = 1000000000;
const int64_t k_there_since_ns = 500000000;

bool slept_through(int64_t began_ns, int64_t ended_ns, int64_t there_at_ns)
{
    return ended_ns - began_ns >= k_long_wait_ns && there_at_ns != 0 &&
           there_at_ns < began_ns + k_there_since_ns;
}

// A releaser keeps only a few counts ahead of the takers, so that the waiters keep
// running dry and have to spin or sleep; now and then it waits until they have taken
// everything, so that a release missed by every waiter stays missed until a time-out.
void hold_back(const std::atomic<uint64_t> &released, const std::atomic<uint64_t> &taken, uint64_t ahead)
{
    while (released.load() > taken.load() + ahead)
        std::this_thread::yield();
}

struct competing_case
{
    const char *name;
    uint32_t waiters;
    uint32_t releasers;
    uint32_t semaphores;
    uint32_t releases; // in all
    uint32_t timeout_ms;
};

void PrintTo(const competing_case &c, std::ostream *os)
{
    *os << c.name;
}

class PfWaitCompetingWaiters : public ::testing::TestWithParam<competing_case>
{
};
} // namespace

// Several waiters on the same semaphores, several releasers. A waiter that times out knows
// the releases that had returned before its wait began and, after the time-out, the takes
// counted so far; every other waiter may have taken one more that it has not counted yet.
// More releases than that means a count lay in a semaphore for the whole wait. Releases
// are stamped with the time they returned: a wait of a whole second during which nobody
// took anything, while a count had been there since its first half, slept through it (a
// wait that sleeps past a missed release finds the count on its last look and returns it:
// only its length gives it away).
TEST_P(PfWaitCompetingWaiters, EveryCountIsTakenOnceAndNoneLiesThroughATimeOut)
{
    const competing_case &c = GetParam();
    semaphore_set set(c.semaphores);
    const uint64_t per_releaser = c.releases / k_scale / c.releasers;
    const uint64_t total = per_releaser * c.releasers;
    std::atomic<uint64_t> released{0}, taken{0}, timed_out{0}, lost{0}, stalled{0}, failed{0};
    std::vector<std::atomic<uint64_t>> taken_by_index(c.semaphores);
    std::vector<std::atomic<int64_t>> released_at(total); // by order of counting; 0: not yet

    std::vector<std::thread> threads;
    for (uint32_t r = 0; r < c.releasers; ++r)
    {
        threads.emplace_back(
            [&, r]
            {
                qel_test::race_pace rhythm{0x9E3779B97F4A7C15ull * (r + 1), k_pace};
                for (uint64_t i = 0; i < per_releaser; ++i)
                {
                    hold_back(released, taken, rhythm.next() % 4 == 0 ? 0 : 2 * c.waiters);
                    if (!pf_semaphore_release(set.items[rhythm.next() % c.semaphores], 1, nullptr))
                        failed.fetch_add(1);
                    int64_t at = now_ns();
                    released_at[released.fetch_add(1)].store(at);
                    rhythm.between();
                }
            });
    }
    for (uint32_t w = 0; w < c.waiters; ++w)
    {
        threads.emplace_back(
            [&]
            {
                while (taken.load() < total)
                {
                    uint64_t released_before = released.load();
                    uint64_t taken_before = taken.load();
                    int64_t began = now_ns();
                    uint32_t result =
                        pf_wait_for_multiple(set.waitables.data(), c.semaphores, false, c.timeout_ms);
                    int64_t ended = now_ns();
                    uint64_t taken_after = taken.load();
                    // Counted releases up to this one outnumber every take, counted or not.
                    uint64_t beyond_takes = taken_after + (c.waiters - 1);
                    if (taken_after == taken_before && beyond_takes < total &&
                        slept_through(began, ended, released_at[beyond_takes].load()))
                        stalled.fetch_add(1);
                    if (result < c.semaphores)
                    {
                        taken_by_index[result].fetch_add(1);
                        taken.fetch_add(1);
                        continue;
                    }
                    if (result != PF_WAIT_TIMEOUT)
                    {
                        failed.fetch_add(1);
                        return;
                    }
                    timed_out.fetch_add(1);
                    if (released_before > taken_after + (c.waiters - 1))
                        lost.fetch_add(1);
                }
            });
    }
    for (std::thread &t : threads)
        t.join();

    EXPECT_EQ(failed.load(), 0u);
    EXPECT_EQ(taken.load(), total) << "every release taken exactly once";
    EXPECT_FALSE(set.any_left());
    EXPECT_EQ(lost.load(), 0u) << "waits that timed out with a count waiting, of " << timed_out.load()
                               << " time-outs";
    EXPECT_EQ(stalled.load(), 0u) << "waits of a second that every waiter slept through a release";
    uint64_t by_index = 0;
    for (const std::atomic<uint64_t> &n : taken_by_index)
        by_index += n.load();
    EXPECT_EQ(by_index, total);
}

INSTANTIATE_TEST_SUITE_P(Waits, PfWaitCompetingWaiters,
                         ::testing::Values(competing_case{"TwoWaitersOneSemaphore", 2, 1, 1, 600000, 1000},
                                           competing_case{"FourWaitersThreeSemaphores", 4, 3, 3, 600000,
                                                          1000},
                                           competing_case{"ThreeWaitersShortTimeOuts", 3, 2, 2, 300000, 1}),
                         [](const ::testing::TestParamInfo<competing_case> &info)
                         { return std::string(info.param.name); });

// One waiter collects a count of each of three semaphores at once, each released by a
// thread of its own: the wait sleeps on the ones not yet ready and must wake for each of
// them in turn. With one taker the count is exact: a time-out while every semaphore had a
// release the waiter had not yet taken is a lost wake-up; so is a wait that lasts its whole
// second while every semaphore had been released for it since the first half.
TEST(PfWaitRace, WaitAllCollectsObjectsRaisedByDifferentThreads)
{
    const uint32_t n = 3;
    const uint64_t rounds = 200000 / k_scale;
    semaphore_set set(n);
    std::vector<std::atomic<uint64_t>> released(n);
    std::vector<std::vector<std::atomic<int64_t>>> released_at(n);
    for (auto &stamps : released_at)
        stamps = std::vector<std::atomic<int64_t>>(rounds);
    std::atomic<uint64_t> taken{0};
    std::vector<std::thread> releasers;
    for (uint32_t i = 0; i < n; ++i)
    {
        releasers.emplace_back(
            [&, i]
            {
                qel_test::race_pace rhythm{0xD1B54A32D192ED03ull * (i + 1), k_pace};
                for (uint64_t k = 0; k < rounds; ++k)
                {
                    hold_back(released[i], taken, rhythm.next() % 4 == 0 ? 0 : 2);
                    ASSERT_TRUE(pf_semaphore_release(set.items[i], 1, nullptr));
                    released_at[i][k].store(now_ns());
                    released[i].fetch_add(1);
                    rhythm.between();
                }
            });
    }
    uint64_t timed_out = 0, lost = 0, slept = 0, failed = 0;
    for (int timeout_ms : {1000, 1})
    {
        const uint64_t until = timeout_ms == 1000 ? rounds / 2 : rounds;
        while (taken.load() < until)
        {
            uint64_t ready_before = UINT64_MAX;
            for (uint32_t i = 0; i < n; ++i)
                ready_before = std::min(ready_before, released[i].load());
            const uint64_t round = taken.load();
            int64_t began = now_ns();
            uint32_t result = pf_wait_for_multiple(set.waitables.data(), n, true, timeout_ms);
            int64_t ended = now_ns();
            int64_t all_there_at = 0;
            for (uint32_t i = 0; i < n && (i == 0 || all_there_at != 0); ++i)
            {
                int64_t at = released_at[i][round].load();
                all_there_at = at == 0 ? 0 : std::max(all_there_at, at);
            }
            if (slept_through(began, ended, all_there_at))
                ++slept;
            if (result == PF_WAIT_OBJECT_0)
            {
                taken.fetch_add(1);
                continue;
            }
            if (result != PF_WAIT_TIMEOUT)
            {
                ++failed;
                break;
            }
            ++timed_out;
            if (ready_before > taken.load())
                ++lost;
        }
    }
    for (std::thread &t : releasers)
        t.join();
    EXPECT_EQ(failed, 0u);
    EXPECT_EQ(taken.load(), rounds);
    EXPECT_FALSE(set.any_left());
    EXPECT_EQ(lost, 0u) << "waits that timed out with every semaphore released, of " << timed_out
                        << " time-outs";
    EXPECT_EQ(slept, 0u) << "waits of a second that slept through the releases they waited for";
}

// Owners hand a mutex around, each holding it for a moment. Mutual exclusion is checked
// by a flag each owner sets and clears. A wait that lasts its whole second and then takes
// the mutex, released by its last owner in the wait's first half, slept while it was free.
TEST(PfWaitRace, MutexPassesBetweenOwnersWithoutALostWakeUp)
{
    const uint32_t owners = 4;
    const uint64_t each = 100000 / k_scale;
    pf_mutex *m = pf_mutex_create(false);
    pf_waitable *w = pf_mutex_waitable(m);
    std::atomic<bool> inside{false};
    std::atomic<uint64_t> acquisitions{0}, overlapped{0}, lost{0}, failed{0};
    std::atomic<int64_t> last_release{0};
    uint64_t held_count = 0; // touched only by the owner
    std::vector<std::thread> threads;
    for (uint32_t o = 0; o < owners; ++o)
    {
        threads.emplace_back(
            [&, o]
            {
                qel_test::race_pace rhythm{0xA0761D6478BD642Full * (o + 1), k_pace};
                for (uint64_t k = 0; k < each;)
                {
                    uint64_t before = acquisitions.load();
                    uint32_t timeout_ms = k % 2 == 0 ? 1000 : 1;
                    int64_t began = now_ns();
                    uint32_t result = pf_wait_for_single(w, timeout_ms);
                    // Holding it now, this owner knows it was free since the last release.
                    if (result == PF_WAIT_OBJECT_0 && acquisitions.load() == before &&
                        slept_through(began, now_ns(), last_release.load()))
                        lost.fetch_add(1);
                    if (result == PF_WAIT_TIMEOUT)
                        continue;
                    if (result != PF_WAIT_OBJECT_0)
                    {
                        failed.fetch_add(1);
                        return;
                    }
                    if (inside.exchange(true))
                        overlapped.fetch_add(1);
                    acquisitions.fetch_add(1);
                    ++held_count;
                    if (rhythm.next() % 8 == 0)
                        std::this_thread::yield();
                    inside.store(false);
                    if (!pf_mutex_release(m))
                        failed.fetch_add(1);
                    int64_t at = now_ns();
                    int64_t latest = last_release.load();
                    while (latest < at && !last_release.compare_exchange_weak(latest, at))
                    {
                    }
                    ++k;
                    rhythm.between();
                }
            });
    }
    for (std::thread &t : threads)
        t.join();
    EXPECT_EQ(failed.load(), 0u);
    EXPECT_EQ(overlapped.load(), 0u) << "two owners at once";
    EXPECT_EQ(held_count, owners * each);
    EXPECT_EQ(lost.load(), 0u) << "waits of a second that slept while the mutex was free";
    pf_mutex_destroy(m);
}
