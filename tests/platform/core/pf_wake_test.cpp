// Wakes of sleeping waiters. A release made inside a critical section wakes its waiter once
// the section is left, and before the releasing thread blocks on another section: a waiter
// that holds that other section while it waits must not sleep through the wake until its
// time-out. Every waiter of one object is woken, also beyond those it can keep parked. (A
// wait that times out still takes a count that is there by then, so what tells a missed
// wake is that the wait lasted its whole time-out.)
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "platform/core/pf_critical_section.h"
#include "platform/core/pf_semaphore.h"
#include "platform/core/pf_wait.h"
#include "platform/core/pf_waitable.h"
#include "support/test_support.h"

namespace
{
// A woken waiter ends within a scheduler's latency; one that missed its wake ends at its
// time-out, twice the bound it is held to (a machine busy for seconds is not mistaken for it).
const uint32_t k_waiter_timeout_ms = 10000;
const uint32_t k_woken_within_ms = 5000;

// A wait on the semaphore that tells whether it was woken before its time-out.
struct timed_wait
{
    std::atomic<uint32_t> result{PF_WAIT_FAILED};
    std::atomic<bool> ended{false};
    std::atomic<bool> woken{false};

    void run(pf_semaphore *semaphore)
    {
        auto start = std::chrono::steady_clock::now();
        result = pf_wait_for_single(pf_semaphore_waitable(semaphore), k_waiter_timeout_ms);
        woken = std::chrono::steady_clock::now() - start < std::chrono::milliseconds(k_woken_within_ms);
        ended = true;
    }
};

struct wake : ::testing::Test
{
    pf_semaphore *semaphore = pf_semaphore_create(0, 1);
    pf_critical_section *outer = pf_critical_section_create();
    pf_critical_section *inner = pf_critical_section_create();
    pf_critical_section *waiters_section = pf_critical_section_create();

    void TearDown() override
    {
        pf_semaphore_destroy(semaphore);
        pf_critical_section_destroy(outer);
        pf_critical_section_destroy(inner);
        pf_critical_section_destroy(waiters_section);
    }

    // A waiter that is asleep: a new thread has had no traffic, so it does not spin.
    static void let_it_fall_asleep() { std::this_thread::sleep_for(std::chrono::milliseconds(50)); }
};
} // namespace

TEST_F(wake, ArrivesWhenTheSectionOfTheReleaseIsLeft)
{
    timed_wait wait;
    std::thread waiter([&] { wait.run(semaphore); });
    let_it_fall_asleep();
    // Released inside two sections: the inner one's leave sends the wake, the outer one
    // is still held while the waiter takes the count.
    pf_critical_section_enter(outer);
    pf_critical_section_enter(inner);
    EXPECT_TRUE(pf_semaphore_release(semaphore, 1, nullptr));
    pf_critical_section_leave(inner);
    bool ended_inside = qel_test::wait_until([&] { return wait.ended.load(); }, k_woken_within_ms);
    pf_critical_section_leave(outer);
    waiter.join();
    EXPECT_TRUE(ended_inside) << "the wake waited for the outer section";
    EXPECT_EQ(wait.result.load(), PF_WAIT_OBJECT_0);
}

TEST_F(wake, GoesOutBeforeTheReleaserBlocksOnTheWaitersSection)
{
    std::atomic<bool> holding{false};
    timed_wait wait;
    std::thread waiter(
        [&]
        {
            pf_critical_section_enter(waiters_section);
            holding = true;
            wait.run(semaphore);
            pf_critical_section_leave(waiters_section);
        });
    EXPECT_TRUE(qel_test::wait_until([&] { return holding.load(); }, 5000));
    let_it_fall_asleep();
    pf_critical_section_enter(outer);
    EXPECT_TRUE(pf_semaphore_release(semaphore, 1, nullptr));
    // Blocks until the waiter has its count and leaves.
    pf_critical_section_enter(waiters_section);
    pf_critical_section_leave(waiters_section);
    pf_critical_section_leave(outer);
    waiter.join();
    EXPECT_TRUE(wait.woken.load()) << "the waiter slept until its time-out";
    EXPECT_EQ(wait.result.load(), PF_WAIT_OBJECT_0);
}

TEST_F(wake, ReachesEveryWaiterOfOneSemaphoreMoreThanItKeepsParked)
{
    const int waiters = PF_PARKED_MAX + 3;
    pf_semaphore *many = pf_semaphore_create(0, waiters);
    std::vector<std::unique_ptr<timed_wait>> waits;
    std::vector<std::thread> threads;
    for (int i = 0; i < waiters; ++i)
    {
        waits.emplace_back(new timed_wait);
        timed_wait *w = waits.back().get();
        threads.emplace_back([w, many] { w->run(many); });
    }
    let_it_fall_asleep();
    EXPECT_TRUE(pf_semaphore_release(many, waiters, nullptr));
    for (std::thread &t : threads)
        t.join();
    for (int i = 0; i < waiters; ++i)
    {
        EXPECT_TRUE(waits[i]->woken.load()) << "waiter " << i << " slept until its time-out";
        EXPECT_EQ(waits[i]->result.load(), PF_WAIT_OBJECT_0);
    }
    pf_semaphore_destroy(many);
}
