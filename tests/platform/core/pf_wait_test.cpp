// Semaphores, mutexes and the wait on up to 64 of them: lowest ready index, wait all,
// time-outs, refusals, and no wake-up lost between several producers and one consumer.
#include "platform/core/pf_wait.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/core/pf_error.h"
#include "platform/core/pf_mutex.h"
#include "platform/core/pf_semaphore.h"
#include "platform/core/pf_waitable.h"

namespace
{
struct semaphores
{
    std::vector<pf_semaphore *> items;
    std::vector<pf_waitable *> waitables;
    semaphores(size_t n, int32_t maximum)
    {
        for (size_t i = 0; i < n; ++i)
        {
            items.push_back(pf_semaphore_create(0, maximum));
            waitables.push_back(pf_semaphore_waitable(items.back()));
        }
    }
    ~semaphores()
    {
        for (pf_semaphore *s : items)
        {
            pf_semaphore_destroy(s);
        }
    }
};
} // namespace

TEST(PfSemaphore, ReleasePastMaximumFailsWithTooManyPostsAndKeepsCount)
{
    pf_semaphore *s = pf_semaphore_create(0, 2);
    ASSERT_NE(s, nullptr);
    int32_t previous = -1;
    EXPECT_TRUE(pf_semaphore_release(s, 2, &previous));
    EXPECT_EQ(previous, 0);
    EXPECT_FALSE(pf_semaphore_release(s, 1, nullptr));
    EXPECT_EQ(pf_get_last_error(), PF_ERROR_TOO_MANY_POSTS);
    EXPECT_FALSE(pf_semaphore_release(s, 0, nullptr));
    EXPECT_EQ(pf_get_last_error(), PF_ERROR_INVALID_PARAMETER);
    pf_waitable *w = pf_semaphore_waitable(s);
    EXPECT_EQ(pf_wait_for_single(w, 0), PF_WAIT_OBJECT_0);
    EXPECT_EQ(pf_wait_for_single(w, 0), PF_WAIT_OBJECT_0);
    EXPECT_EQ(pf_wait_for_single(w, 0), PF_WAIT_TIMEOUT);
    pf_semaphore_destroy(s);
}

TEST(PfSemaphore, CreationRefusesBadCounts)
{
    EXPECT_EQ(pf_semaphore_create(0, 0), nullptr);
    EXPECT_EQ(pf_semaphore_create(2, 1), nullptr);
    EXPECT_EQ(pf_semaphore_create(-1, 1), nullptr);
    pf_semaphore *s = pf_semaphore_create(1, 1);
    EXPECT_EQ(pf_wait_for_single(pf_semaphore_waitable(s), 0), PF_WAIT_OBJECT_0);
    pf_semaphore_destroy(s);
}

TEST(PfWait, AnyReportsLowestReadyIndexAmong64)
{
    semaphores set(64, 1);
    ASSERT_TRUE(pf_semaphore_release(set.items[63], 1, nullptr));
    ASSERT_TRUE(pf_semaphore_release(set.items[40], 1, nullptr));
    ASSERT_TRUE(pf_semaphore_release(set.items[17], 1, nullptr));
    EXPECT_EQ(pf_wait_for_multiple(set.waitables.data(), 64, false, 0), PF_WAIT_OBJECT_0 + 17);
    EXPECT_EQ(pf_wait_for_multiple(set.waitables.data(), 64, false, 0), PF_WAIT_OBJECT_0 + 40);
    EXPECT_EQ(pf_wait_for_multiple(set.waitables.data(), 64, false, 0), PF_WAIT_OBJECT_0 + 63);
    EXPECT_EQ(pf_wait_for_multiple(set.waitables.data(), 64, false, 10), PF_WAIT_TIMEOUT);
}

TEST(PfWait, RefusesBadListsWithoutWaiting)
{
    semaphores set(65, 1);
    // An infinite time-out: a wait here would hang the test.
    EXPECT_EQ(pf_wait_for_multiple(set.waitables.data(), 65, false, PF_INFINITE), PF_WAIT_FAILED);
    EXPECT_EQ(pf_get_last_error(), PF_ERROR_INVALID_PARAMETER);
    EXPECT_EQ(pf_wait_for_multiple(set.waitables.data(), 0, false, PF_INFINITE), PF_WAIT_FAILED);
    pf_waitable *twice[2] = {set.waitables[0], set.waitables[0]};
    EXPECT_EQ(pf_wait_for_multiple(twice, 2, true, PF_INFINITE), PF_WAIT_FAILED);
    pf_waitable *with_null[2] = {set.waitables[0], nullptr};
    EXPECT_EQ(pf_wait_for_multiple(with_null, 2, false, PF_INFINITE), PF_WAIT_FAILED);
}

TEST(PfWait, AllTakesNothingUntilEveryObjectIsReady)
{
    semaphores set(3, 1);
    ASSERT_TRUE(pf_semaphore_release(set.items[0], 1, nullptr));
    ASSERT_TRUE(pf_semaphore_release(set.items[2], 1, nullptr));
    EXPECT_EQ(pf_wait_for_multiple(set.waitables.data(), 3, true, 20), PF_WAIT_TIMEOUT);
    // Nothing was consumed by the failed wait-all.
    EXPECT_FALSE(pf_semaphore_release(set.items[0], 1, nullptr));
    EXPECT_FALSE(pf_semaphore_release(set.items[2], 1, nullptr));

    std::thread late([&] { pf_semaphore_release(set.items[1], 1, nullptr); });
    EXPECT_EQ(pf_wait_for_multiple(set.waitables.data(), 3, true, PF_INFINITE), PF_WAIT_OBJECT_0);
    late.join();
    EXPECT_EQ(pf_wait_for_multiple(set.waitables.data(), 3, false, 0), PF_WAIT_TIMEOUT);
}

TEST(PfWait, SleepingWaiterWakesOnRelease)
{
    semaphores set(10, 1);
    std::atomic<uint32_t> result{0};
    std::thread waiter([&] { result = pf_wait_for_multiple(set.waitables.data(), 10, false, PF_INFINITE); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(pf_semaphore_release(set.items[5], 1, nullptr));
    waiter.join();
    EXPECT_EQ(result.load(), PF_WAIT_OBJECT_0 + 5);
}

// The shared queue's pattern: many producers signal a semaphore of maximum 1 (a refusal
// with 298 means "already signalled"); the one consumer must see every item.
TEST(PfWait, NoWakeUpLostBetweenProducersAndOneConsumer)
{
    const int producers = 4;
    const int per_producer = 5000;
    semaphores set(3, 1);
    std::atomic<int> produced[3] = {};
    std::vector<std::thread> threads;
    for (int p = 0; p < producers; ++p)
    {
        threads.emplace_back(
            [&, p]
            {
                for (int i = 0; i < per_producer; ++i)
                {
                    int q = (p + i) % 3;
                    produced[q].fetch_add(1);
                    if (!pf_semaphore_release(set.items[q], 1, nullptr))
                    {
                        ASSERT_EQ(pf_get_last_error(), PF_ERROR_TOO_MANY_POSTS);
                    }
                }
            });
    }
    int consumed[3] = {};
    int total = 0;
    while (total < producers * per_producer)
    {
        uint32_t r = pf_wait_for_multiple(set.waitables.data(), 3, false, PF_INFINITE);
        ASSERT_LT(r, 3u);
        int now = produced[r].load();
        total += now - consumed[r];
        consumed[r] = now;
    }
    for (std::thread &t : threads)
    {
        t.join();
    }
    EXPECT_EQ(total, producers * per_producer);
}

TEST(PfMutex, RecursiveForOwnerRefusedToOthers)
{
    pf_mutex *m = pf_mutex_create(false);
    pf_waitable *w = pf_mutex_waitable(m);
    EXPECT_FALSE(pf_mutex_release(m));
    EXPECT_EQ(pf_get_last_error(), PF_ERROR_NOT_OWNER);
    ASSERT_EQ(pf_wait_for_single(w, 0), PF_WAIT_OBJECT_0);
    ASSERT_EQ(pf_wait_for_single(w, 0), PF_WAIT_OBJECT_0);
    std::thread other(
        [&]
        {
            EXPECT_EQ(pf_wait_for_single(w, 20), PF_WAIT_TIMEOUT);
            EXPECT_FALSE(pf_mutex_release(m));
            EXPECT_EQ(pf_get_last_error(), PF_ERROR_NOT_OWNER);
        });
    other.join();
    EXPECT_TRUE(pf_mutex_release(m));
    std::thread still_held([&] { EXPECT_EQ(pf_wait_for_single(w, 0), PF_WAIT_TIMEOUT); });
    still_held.join();
    std::thread taker(
        [&]
        {
            EXPECT_EQ(pf_wait_for_single(w, PF_INFINITE), PF_WAIT_OBJECT_0);
            EXPECT_TRUE(pf_mutex_release(m));
        });
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(pf_mutex_release(m));
    taker.join();
    pf_mutex_destroy(m);
}
