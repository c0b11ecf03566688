// A waiting thread spins only after traffic, and a spinning wait behaves as a sleeping one:
// the lowest ready index, its time-out, a socket's data. The policy is driven with given
// times; the waits are driven by a thread that has just seen traffic. No speed is asserted.
#include "platform/core/pf_spin.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "platform/core/pf_net_event.h"
#include "platform/core/pf_semaphore.h"
#include "platform/core/pf_socket.h"
#include "platform/core/pf_wait.h"
#include "platform/core/pf_waitable.h"

namespace
{
// Several waits that find their object ready at once: this thread now has traffic.
void teach_traffic()
{
    pf_semaphore *s = pf_semaphore_create(0, 1);
    for (int i = 0; i < 20; ++i)
    {
        pf_semaphore_release(s, 1, nullptr);
        ASSERT_EQ(pf_wait_for_single(pf_semaphore_waitable(s), 1000), PF_WAIT_OBJECT_0);
    }
    pf_semaphore_destroy(s);
    ASSERT_GT(pf_spin_budget_ns(0), 0);
}
} // namespace

// Each row runs on a thread of its own (the policy is per thread): what the thread saw,
// then whether its next wait would spin at the given time.
TEST(PfSpinPolicy, SpinsAfterShortWaitsOnlyAndStopsOnTimeOutOrPreemption)
{
    struct row
    {
        const char *what;
        std::vector<int64_t> waits_ns; // -1: a time-out
        bool preempted_at_zero;
        int64_t asked_at_ns;
        bool spins;
    };
    const int64_t ms = 1000000;
    const row rows[] = {
        {"a new thread has seen no traffic", {}, false, 0, false},
        {"records every microsecond", {1000, 1000, 1000, 1000, 1000, 1000}, false, 0, true},
        {"records found at once", {0, 0, 0, 0, 0, 0}, false, 0, true},
        {"records every 10 ms", {10 * ms, 10 * ms, 10 * ms, 10 * ms}, false, 0, false},
        {"a burst, then a time-out", {0, 0, 0, 0, 0, 0, -1}, false, 0, false},
        {"a time-out, then a burst", {-1, 0, 0, 0, 0, 0, 0, 0}, false, 0, true},
        {"a burst, then preempted while spinning", {0, 0, 0, 0, 0, 0}, true, 1 * ms, false},
        {"preempted long ago", {0, 0, 0, 0, 0, 0}, true, 100 * ms, true},
    };
    for (const row &r : rows)
    {
        bool spins = false;
        std::thread t(
            [&]
            {
                for (int64_t waited : r.waits_ns)
                {
                    if (waited < 0)
                        pf_spin_note_timeout();
                    else
                        pf_spin_note_ready(waited);
                }
                if (r.preempted_at_zero)
                    pf_spin_note_preempted(0);
                int64_t budget = pf_spin_budget_ns(r.asked_at_ns);
                spins = budget > 0;
                EXPECT_LE(budget, PF_SPIN_LIMIT_NS) << r.what;
            });
        t.join();
        EXPECT_EQ(spins, r.spins) << r.what;
    }
}

TEST(PfSpinningWait, TimesOutWhenNothingComes)
{
    std::thread t(
        [&]
        {
            teach_traffic();
            pf_semaphore *s = pf_semaphore_create(0, 1);
            EXPECT_EQ(pf_wait_for_single(pf_semaphore_waitable(s), 30), PF_WAIT_TIMEOUT);
            // A time-out means the traffic has stopped.
            EXPECT_EQ(pf_spin_budget_ns(0), 0);
            pf_semaphore_destroy(s);
        });
    t.join();
}

TEST(PfSpinningWait, TakesWhatIsReleasedWhileItSpinsOrSleeps)
{
    pf_semaphore *items[3] = {pf_semaphore_create(0, 1), pf_semaphore_create(0, 1),
                              pf_semaphore_create(0, 1)};
    pf_waitable *waitables[3] = {pf_semaphore_waitable(items[0]), pf_semaphore_waitable(items[1]),
                                 pf_semaphore_waitable(items[2])};
    std::atomic<int> ready_to_wait{0};
    std::vector<uint32_t> results;
    const int rounds = 2000;
    std::thread waiter(
        [&]
        {
            teach_traffic();
            for (int i = 0; i < rounds; ++i)
            {
                ready_to_wait.store(i + 1);
                results.push_back(pf_wait_for_multiple(waitables, 3, false, 5000));
            }
        });
    for (int i = 0; i < rounds; ++i)
    {
        while (ready_to_wait.load() != i + 1)
        {
        }
        // Now and then late enough for the waiter to have stopped spinning.
        if (i % 100 == 99)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        pf_semaphore_release(items[i % 3], 1, nullptr);
    }
    waiter.join();
    ASSERT_EQ(results.size(), static_cast<size_t>(rounds));
    for (int i = 0; i < rounds; ++i)
        ASSERT_EQ(results[i], PF_WAIT_OBJECT_0 + static_cast<uint32_t>(i % 3)) << "round " << i;
    for (pf_semaphore *s : items)
        pf_semaphore_destroy(s);
}

// A network event's socket is only seen when polled: a spinning waiter polls it too.
TEST(PfSpinningWait, SeesSocketDataOfANetworkEvent)
{
    const uint32_t loopback = htonl(INADDR_LOOPBACK);
    int listener = pf_socket_create(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(pf_socket_bind(listener, loopback, 0), 0);
    ASSERT_EQ(pf_socket_listen(listener, 1), 0);
    sockaddr_in bound = {};
    socklen_t length = sizeof bound;
    ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr *>(&bound), &length), 0);
    const uint16_t port = ntohs(bound.sin_port);
    int client = pf_socket_create(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(pf_socket_connect(client, loopback, port), 0);
    int server = pf_socket_accept(listener, nullptr, nullptr);
    ASSERT_GE(server, 0);
    pf_net_event *event = pf_net_event_create();
    pf_semaphore *queue_signal = pf_semaphore_create(0, 1);
    ASSERT_EQ(pf_net_event_select(server, event, PF_FD_READ | PF_FD_CLOSE), 0);
    pf_waitable *waitables[2] = {pf_semaphore_waitable(queue_signal), pf_net_event_waitable(event)};

    std::atomic<int> waiting{0};
    std::atomic<uint32_t> result{PF_WAIT_FAILED};
    std::thread waiter(
        [&]
        {
            teach_traffic();
            waiting.store(1);
            result.store(pf_wait_for_multiple(waitables, 2, false, 5000));
        });
    while (waiting.load() == 0)
    {
    }
    const char byte = 'x';
    ASSERT_EQ(pf_socket_send(client, &byte, 1), 1);
    waiter.join();
    EXPECT_EQ(result.load(), PF_WAIT_OBJECT_0 + 1);
    int32_t events = 0;
    int32_t errors[PF_FD_MAX_EVENTS] = {};
    ASSERT_EQ(pf_net_event_enum(server, &events, errors), 0);
    EXPECT_EQ(events, PF_FD_READ);

    pf_net_event_destroy(event);
    pf_semaphore_destroy(queue_signal);
    for (int fd : {client, server, listener})
        pf_socket_close(fd);
}
