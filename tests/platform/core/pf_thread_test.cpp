// Threads: exit values, waiting for their end, closing a running thread, and the
// signal-based suspension.
#include "platform/core/pf_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/core/pf_error.h"
#include "platform/core/pf_wait.h"
#include "platform/core/pf_waitable.h"
#include "support/test_support.h"

namespace
{
struct gate
{
    std::atomic<bool> open{false};
    std::atomic<uint32_t> seen_id{0};
    std::atomic<bool> returning{false};
    uint32_t code = 0;
};

uint32_t wait_for_gate(void *argument)
{
    gate *g = static_cast<gate *>(argument);
    g->seen_id = pf_thread_current_id();
    while (!g->open.load())
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    g->returning = true;
    return g->code;
}

struct counter
{
    std::atomic<bool> stop{false};
    std::atomic<uint64_t> count{0};
};

uint32_t count_until_stopped(void *argument)
{
    counter *c = static_cast<counter *>(argument);
    while (!c->stop.load())
    {
        c->count.fetch_add(1);
        std::this_thread::yield();
    }
    return 0;
}

pf_thread *start(pf_thread_routine routine, void *argument)
{
    const char *error = nullptr;
    pf_thread *t = pf_thread_create(routine, argument, &error);
    EXPECT_NE(t, nullptr) << error;
    return t;
}
} // namespace

TEST(PfThread, ExitValueAndIdAfterTheEnd)
{
    gate g;
    g.code = 0xFFFFFFF0u;
    pf_thread *t = start(wait_for_gate, &g);
    ASSERT_TRUE(qel_test::wait_until([&] { return g.seen_id.load() != 0; }, 5000));
    EXPECT_EQ(pf_thread_id(t), g.seen_id.load());
    EXPECT_NE(pf_thread_id(t), pf_thread_current_id());
    uint32_t code = 0;
    EXPECT_FALSE(pf_thread_exit_code(t, &code));
    EXPECT_EQ(pf_wait_for_single(pf_thread_waitable(t), 10), PF_WAIT_TIMEOUT);
    g.open = true;
    EXPECT_EQ(pf_wait_for_single(pf_thread_waitable(t), PF_INFINITE), PF_WAIT_OBJECT_0);
    // An ended thread stays ready.
    EXPECT_EQ(pf_wait_for_single(pf_thread_waitable(t), 0), PF_WAIT_OBJECT_0);
    ASSERT_TRUE(pf_thread_exit_code(t, &code));
    EXPECT_EQ(code, 0xFFFFFFF0u);
    pf_thread_close(t);
}

TEST(PfThread, ClosingARunningThreadLetsItFinish)
{
    // The gate outlives the test: the thread may still read it after the test ends.
    static gate g;
    pf_thread *t = start(wait_for_gate, &g);
    ASSERT_TRUE(qel_test::wait_until([&] { return g.seen_id.load() != 0; }, 5000));
    // The kernel's entry of the thread, there for as long as the thread runs.
    const std::string task = "/proc/self/task/" + std::to_string(g.seen_id.load());
    ASSERT_TRUE(std::filesystem::exists(task));
    pf_thread_close(t);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(std::filesystem::exists(task)) << "closing the handle must not end the thread";
    EXPECT_FALSE(g.returning.load());
    g.open = true;
    EXPECT_TRUE(qel_test::wait_until([&] { return g.returning.load(); }, 5000))
        << "the routine runs to its end";
    EXPECT_TRUE(qel_test::wait_until([&] { return !std::filesystem::exists(task); }, 5000))
        << "and the thread ends";
}

TEST(PfThread, SuspendStopsTheThreadUntilTheLastResume)
{
    counter c;
    pf_thread *t = start(count_until_stopped, &c);
    ASSERT_TRUE(qel_test::wait_until([&] { return c.count.load() > 0; }, 5000));
    EXPECT_EQ(pf_thread_suspend(t), 0);
    EXPECT_EQ(pf_thread_suspend(t), 1);
    uint64_t frozen = c.count.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(c.count.load(), frozen);
    EXPECT_EQ(pf_thread_resume(t), 2);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(c.count.load(), frozen);
    EXPECT_EQ(pf_thread_resume(t), 1);
    EXPECT_TRUE(qel_test::wait_until([&] { return c.count.load() > frozen; }, 5000));
    EXPECT_EQ(pf_thread_resume(t), 0);
    c.stop = true;
    EXPECT_EQ(pf_wait_for_single(pf_thread_waitable(t), PF_INFINITE), PF_WAIT_OBJECT_0);
    EXPECT_EQ(pf_thread_suspend(t), -1);
    EXPECT_EQ(pf_get_last_error(), PF_ERROR_ACCESS_DENIED);
    pf_thread_close(t);
}

TEST(PfThread, WaitAnyReportsTheThreadThatEnded)
{
    gate gates[3];
    pf_thread *threads[3];
    pf_waitable *waitables[3];
    for (int i = 0; i < 3; ++i)
    {
        threads[i] = start(wait_for_gate, &gates[i]);
        waitables[i] = pf_thread_waitable(threads[i]);
    }
    gates[2].open = true;
    EXPECT_EQ(pf_wait_for_multiple(waitables, 3, false, PF_INFINITE), PF_WAIT_OBJECT_0 + 2);
    EXPECT_EQ(pf_wait_for_multiple(waitables, 3, true, 10), PF_WAIT_TIMEOUT);
    gates[0].open = true;
    gates[1].open = true;
    EXPECT_EQ(pf_wait_for_multiple(waitables, 3, true, PF_INFINITE), PF_WAIT_OBJECT_0);
    for (pf_thread *t : threads)
    {
        pf_thread_close(t);
    }
}
