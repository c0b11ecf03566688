// Producers and one consumer racing through shared queues for millions of records, with
// the producers' pace changing all the time so that the consumer's waits end every way
// there is: records already there, caught while spinning, woken from sleep, timed out.
// Nothing may be lost or reordered, and no wake-up may be lost: no wait may time out
// while a record whose insert had returned before the wait began is in its queue, and no
// wait of a second may last its whole time-out while a record waited for it whose insert
// returned before the first tenth of it was over (each producer notes when its inserts
// returned). A loaded machine may leave a producer unscheduled for longer than a time-out;
// that is no lost wake-up, and only a waiter that was woken and then left unscheduled for
// nine tenths of a second would pass for one. No speed is asserted.
#include "gateway/runtime/shared_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "gateway/runtime/ea_sync_info.h"
#include "gateway/runtime/queue.h"
#include "support/race_pace.h"
#include "support/sanitizer_build.h"

namespace
{
const uint32_t k_scale = qel_test::k_under_sanitizer ? 10 : 1;

// How the consumer waits: on one semaphore queue, on one network-event queue as the
// network threads do (the event wait, then a drain without waiting), or on several
// semaphore queues at once.
enum consumer_kind
{
    SINGLE_WAIT,
    NETWORK_EVENT_WAIT,
    MULTIPLE_WAIT,
};

struct race_case
{
    const char *name;
    consumer_kind kind;
    uint32_t queues;
    uint32_t producers; // producer p feeds queue p % queues
    uint32_t records;   // in all
    uint32_t timeout_ms;
};

void PrintTo(const race_case &c, std::ostream *os)
{
    *os << c.name;
}

// The producers' pace: mostly bursts; now and then a short busy pause, a yield, or a sleep
// long enough for the consumer to stop spinning and sleep itself.
const qel_test::race_pace_mix k_producer_pace = {900, 970, 999, 50, 500};

uintptr_t encode(uint32_t producer, uint32_t seq)
{
    return (static_cast<uintptr_t>(producer) << 32) + seq + 1;
}

class SharedQueueRace : public ::testing::TestWithParam<race_case>
{
  protected:
    void produce(uint32_t p, uint32_t count)
    {
        shared_queue *sq = m_queues[p % m_queues.size()];
        queue *local = queue_create();
        qel_test::race_pace rhythm{0x9E3779B97F4A7C15ull * (p + 1), k_producer_pace};
        uint32_t seq = 0;
        while (seq < count)
        {
            const uint32_t first = seq;
            uint32_t batch = rhythm.next() % 4; // 0: one record on its own
            if (batch == 0)
            {
                ASSERT_EQ(shared_queue_insert_single_element(sq, reinterpret_cast<void *>(encode(p, seq))),
                          EA_SUCCESS);
                ++seq;
            }
            else
            {
                for (uint32_t i = 0; i < batch && seq < count; ++i, ++seq)
                    ASSERT_EQ(queue_append(local, reinterpret_cast<void *>(encode(p, seq))), EA_SUCCESS);
                ASSERT_EQ(shared_queue_insert(sq, local), EA_SUCCESS);
            }
            m_returned[p][first] = std::chrono::steady_clock::now();
            m_published[p].store(seq, std::memory_order_release);
            rhythm.between();
        }
        queue_destroy(local);
    }

    uint64_t published() const
    {
        uint64_t total = 0;
        for (const std::atomic<uint32_t> &n : m_published)
            total += n.load(std::memory_order_acquire);
        return total;
    }

    // True when the insert of a record not yet taken (producer p's from next[p] on, a
    // whole insert's worth, as the consumer takes whole inserts) returned before `by`.
    bool waiting_since_before(const std::vector<uint32_t> &next,
                              std::chrono::steady_clock::time_point by) const
    {
        for (size_t p = 0; p < next.size(); ++p)
            if (m_published[p].load(std::memory_order_acquire) > next[p] && m_returned[p][next[p]] < by)
                return true;
        return false;
    }

    // One wait of the case's kind; the records taken are in m_locals.
    ea_status wait_once(const race_case &c)
    {
        switch (c.kind)
        {
        case SINGLE_WAIT:
            return shared_queue_get_elements_from_single_queue(m_queues[0], m_locals[0], c.timeout_ms);
        case NETWORK_EVENT_WAIT:
        {
            ea_sync_info *event = shared_queue_get_sync_info(m_queues[0]);
            int32_t index = -1;
            ea_status waited =
                ea_sync_info_wait_for_multiple_netwrok_event_objects(&event, 1, false, c.timeout_ms, &index);
            if (waited == EA_WAIT_TIME_OUT)
                return EA_NO_DATA;
            if (waited != EA_SUCCESS)
                return EA_ERROR;
            return shared_queue_get_elements_no_wait(m_queues[0], m_locals[0]);
        }
        case MULTIPLE_WAIT:
            return shared_queue_get_elements_from_multiple_queues(m_queues.data(), c.queues, m_locals.data(),
                                                                  c.timeout_ms);
        }
        return EA_ERROR;
    }

    std::vector<shared_queue *> m_queues;
    std::vector<queue *> m_locals;
    std::vector<std::atomic<uint32_t>> m_published;
    // When the insert that began with each sequence number returned, per producer.
    std::vector<std::vector<std::chrono::steady_clock::time_point>> m_returned;
};

TEST_P(SharedQueueRace, NothingLostReorderedOrLeftBehindByAWaitThatTimedOut)
{
    const race_case &c = GetParam();
    const uint32_t type = c.kind == NETWORK_EVENT_WAIT ? SHARED_QUEUE_NETWORK_EVENT : SHARED_QUEUE_SEMAPHORE;
    for (uint32_t i = 0; i < c.queues; ++i)
    {
        m_queues.push_back(shared_queue_create(type));
        m_locals.push_back(queue_create());
        ASSERT_NE(m_queues.back(), nullptr);
    }
    m_published = std::vector<std::atomic<uint32_t>>(c.producers);
    const uint32_t per_producer = c.records / k_scale / c.producers;
    const uint64_t total = static_cast<uint64_t>(per_producer) * c.producers;
    m_returned.assign(c.producers, std::vector<std::chrono::steady_clock::time_point>(per_producer));

    std::vector<std::thread> producers;
    for (uint32_t p = 0; p < c.producers; ++p)
        producers.emplace_back([this, p, per_producer] { produce(p, per_producer); });

    std::vector<uint32_t> next(c.producers, 0);
    uint64_t consumed = 0, timed_out = 0, left_behind = 0, slept_through = 0;
    while (consumed < total && !HasFatalFailure())
    {
        uint64_t there_before = published();
        const auto began = std::chrono::steady_clock::now();
        const auto time_out = std::chrono::milliseconds(c.timeout_ms);
        ea_status status = wait_once(c);
        const bool lasted_its_time_out = std::chrono::steady_clock::now() - began >= time_out;
        ASSERT_NE(status, EA_ERROR);
        if (status == EA_NO_DATA)
        {
            ++timed_out;
            // Records whose insert returned before the wait began were waiting all along.
            if (there_before > consumed)
                ++left_behind;
        }
        if (c.timeout_ms >= 1000 && lasted_its_time_out && waiting_since_before(next, began + time_out / 10))
            ++slept_through;
        for (uint32_t q = 0; q < c.queues; ++q)
        {
            while (queue_get_count(m_locals[q]) > 0)
            {
                uintptr_t v = reinterpret_cast<uintptr_t>(queue_remove_head(m_locals[q])) - 1;
                uint32_t p = static_cast<uint32_t>(v >> 32);
                uint32_t seq = static_cast<uint32_t>(v);
                ASSERT_LT(p, c.producers);
                ASSERT_EQ(p % c.queues, q) << "a record reached the local queue of another queue";
                ASSERT_EQ(seq, next[p]) << "producer " << p;
                ++next[p];
                ++consumed;
            }
        }
    }
    for (std::thread &t : producers)
        t.join();
    EXPECT_EQ(consumed, total);
    EXPECT_EQ(left_behind, 0u) << "waits that timed out with a record waiting, of " << timed_out
                               << " time-outs";
    EXPECT_EQ(slept_through, 0u) << "waits that lasted their time-out after an insert early in it";
    for (uint32_t i = 0; i < c.queues; ++i)
    {
        EXPECT_EQ(shared_queue_is_empty(m_queues[i]), 0u);
        queue_destroy(m_locals[i]);
        shared_queue_destroy(m_queues[i]);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Waits, SharedQueueRace,
    ::testing::Values(race_case{"OneProducerSemaphoreQueue", SINGLE_WAIT, 1, 1, 2000000, 1000},
                      race_case{"OneProducerShortTimeOuts", SINGLE_WAIT, 1, 1, 1000000, 1},
                      race_case{"FourProducersSemaphoreQueue", SINGLE_WAIT, 1, 4, 2000000, 1000},
                      race_case{"OneProducerNetworkEventQueue", NETWORK_EVENT_WAIT, 1, 1, 2000000, 1000},
                      race_case{"ThreeProducersNetworkEventQueue", NETWORK_EVENT_WAIT, 1, 3, 1000000, 1},
                      race_case{"ThreeQueuesOneProducerEach", MULTIPLE_WAIT, 3, 3, 2000000, 1000},
                      race_case{"TwoQueuesFourProducers", MULTIPLE_WAIT, 2, 4, 1000000, 1}),
    [](const ::testing::TestParamInfo<race_case> &info) { return std::string(info.param.name); });
} // namespace
