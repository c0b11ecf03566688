// Shared queues hand records between threads without losing or reordering any, signal
// their one consumer once per call, drain every ready queue of a multiple wait in one
// call, keep the age of their oldest entry, and give a failed insert back to its caller.
#include "gateway/runtime/shared_queue.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include "gateway/runtime/ea_sync_info.h"
#include "gateway/runtime/queue.h"

namespace
{
void *element(uintptr_t value)
{
    return reinterpret_cast<void *>(value);
}

uintptr_t value_of(void *p)
{
    return reinterpret_cast<uintptr_t>(p);
}

struct queue_deleter
{
    void operator()(queue *q) const { queue_destroy(q); }
};
using queue_ptr = std::unique_ptr<queue, queue_deleter>;

struct shared_queue_deleter
{
    void operator()(shared_queue *sq) const { shared_queue_destroy(sq); }
};
using shared_queue_ptr = std::unique_ptr<shared_queue, shared_queue_deleter>;

std::vector<uintptr_t> contents(const queue *q)
{
    std::vector<uintptr_t> values;
    for (uint32_t i = 0; i < queue_get_count(q); i++)
        values.push_back(value_of(queue_peek(q, i)));
    return values;
}

void append_all(queue *q, std::initializer_list<uintptr_t> values)
{
    for (uintptr_t v : values)
        ASSERT_EQ(queue_append(q, element(v)), EA_SUCCESS);
}

// A type 0 queue whose sync object has a lock but no semaphore: every signal fails.
shared_queue *create_queue_that_cannot_signal()
{
    shared_queue *sq = new shared_queue;
    sq->sync = ea_sync_info_create(EA_SYNC_CRITICAL_SECTION, 0);
    sq->time_of_oldest_entry.store(0);
    sq->elements = queue_create();
    sq->type = SHARED_QUEUE_SEMAPHORE;
    return sq;
}

void pause_a_few_ticks()
{
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

// Tells apart "network event set" from "not set" without consuming anything.
bool network_event_is_set(shared_queue *sq)
{
    ea_sync_info *objects[1] = {shared_queue_get_sync_info(sq)};
    int32_t index = -1;
    return ea_sync_info_wait_for_multiple_netwrok_event_objects(objects, 1, false, 0, &index) == EA_SUCCESS;
}
} // namespace

TEST(SharedQueue, CreateByType)
{
    shared_queue_ptr semaphore_queue(shared_queue_create(SHARED_QUEUE_SEMAPHORE));
    ASSERT_NE(semaphore_queue, nullptr);
    EXPECT_EQ(shared_queue_get_type(semaphore_queue.get()), 0u);
    EXPECT_NE(shared_queue_get_sync_info(semaphore_queue.get())->semaphore, nullptr);
    EXPECT_NE(shared_queue_get_sync_info(semaphore_queue.get())->critical_section, nullptr);
    EXPECT_EQ(shared_queue_get_time(semaphore_queue.get()), 0u);
    EXPECT_EQ(shared_queue_is_empty(semaphore_queue.get()), 0u);

    shared_queue_ptr event_queue(shared_queue_create(SHARED_QUEUE_NETWORK_EVENT));
    ASSERT_NE(event_queue, nullptr);
    EXPECT_EQ(shared_queue_get_type(event_queue.get()), 1u);
    EXPECT_NE(shared_queue_get_sync_info(event_queue.get())->network_event, nullptr);
    EXPECT_EQ(shared_queue_get_sync_info(event_queue.get())->semaphore, nullptr);

    EXPECT_EQ(shared_queue_create(2), nullptr);
}

TEST(SharedQueue, NothingToInsertDoesNotSignal)
{
    shared_queue_ptr sq(shared_queue_create(SHARED_QUEUE_SEMAPHORE));
    queue_ptr local(queue_create());
    EXPECT_EQ(shared_queue_insert_single_element(sq.get(), nullptr), EA_SUCCESS);
    EXPECT_EQ(shared_queue_insert(sq.get(), local.get()), EA_SUCCESS);
    EXPECT_EQ(shared_queue_is_empty(sq.get()), 0u);
    EXPECT_EQ(shared_queue_get_time(sq.get()), 0u);
    EXPECT_EQ(shared_queue_get_elements_from_single_queue(sq.get(), local.get(), 0), EA_NO_DATA);
}

TEST(SharedQueue, TwoInsertsBeforeTheWaitGiveOneWakeThatTakesBoth)
{
    shared_queue_ptr sq(shared_queue_create(SHARED_QUEUE_SEMAPHORE));
    queue_ptr local(queue_create());
    ASSERT_EQ(shared_queue_insert_single_element(sq.get(), element(1)), EA_SUCCESS);
    append_all(local.get(), {2, 3});
    ASSERT_EQ(shared_queue_insert(sq.get(), local.get()), EA_SUCCESS);
    EXPECT_EQ(queue_get_count(local.get()), 0u);
    EXPECT_EQ(shared_queue_is_empty(sq.get()), 3u);

    ASSERT_EQ(shared_queue_get_elements_from_single_queue(sq.get(), local.get(), 1000), EA_SUCCESS);
    EXPECT_EQ(contents(local.get()), (std::vector<uintptr_t>{1, 2, 3}));
    EXPECT_EQ(shared_queue_is_empty(sq.get()), 0u);
    // The semaphore stopped at 1: there is no second wake.
    EXPECT_EQ(shared_queue_get_elements_from_single_queue(sq.get(), local.get(), 0), EA_NO_DATA);
}

TEST(SharedQueue, TimeOfOldestEntry)
{
    shared_queue_ptr sq(shared_queue_create(SHARED_QUEUE_SEMAPHORE));
    queue_ptr local(queue_create());

    ASSERT_EQ(shared_queue_insert_single_element(sq.get(), element(1)), EA_SUCCESS);
    uint32_t first = shared_queue_get_time(sq.get());
    EXPECT_NE(first, 0u);
    pause_a_few_ticks();
    ASSERT_EQ(shared_queue_insert_single_element(sq.get(), element(2)), EA_SUCCESS);
    append_all(local.get(), {3});
    ASSERT_EQ(shared_queue_insert(sq.get(), local.get()), EA_SUCCESS);
    EXPECT_EQ(shared_queue_get_time(sq.get()), first);

    ASSERT_EQ(shared_queue_get_elements_no_wait(sq.get(), local.get()), EA_SUCCESS);
    EXPECT_EQ(shared_queue_get_time(sq.get()), 0u);
    EXPECT_EQ(queue_get_count(local.get()), 3u);

    // A batch into the drained queue stamps it again.
    pause_a_few_ticks();
    ASSERT_EQ(shared_queue_insert(sq.get(), local.get()), EA_SUCCESS);
    EXPECT_NE(shared_queue_get_time(sq.get()), 0u);
    ASSERT_EQ(shared_queue_get_elements_from_single_queue(sq.get(), local.get(), 1000), EA_SUCCESS);
    EXPECT_EQ(shared_queue_get_time(sq.get()), 0u);
}

TEST(SharedQueue, NetworkEventSetByInsertResetByDrain)
{
    shared_queue_ptr sq(shared_queue_create(SHARED_QUEUE_NETWORK_EVENT));
    queue_ptr local(queue_create());
    EXPECT_FALSE(network_event_is_set(sq.get()));

    ASSERT_EQ(shared_queue_insert_single_element(sq.get(), element(1)), EA_SUCCESS);
    EXPECT_TRUE(network_event_is_set(sq.get()));
    ASSERT_EQ(shared_queue_get_elements_no_wait(sq.get(), local.get()), EA_SUCCESS);
    EXPECT_FALSE(network_event_is_set(sq.get()));

    queue_ptr batch(queue_create());
    append_all(batch.get(), {2, 3});
    ASSERT_EQ(shared_queue_insert(sq.get(), batch.get()), EA_SUCCESS);
    EXPECT_TRUE(network_event_is_set(sq.get()));
    ASSERT_EQ(shared_queue_get_elements_no_wait(sq.get(), local.get()), EA_SUCCESS);
    EXPECT_FALSE(network_event_is_set(sq.get()));
    EXPECT_EQ(contents(local.get()), (std::vector<uintptr_t>{1, 2, 3}));

    // A network-event queue has no semaphore to wait on.
    EXPECT_EQ(shared_queue_get_elements_from_single_queue(sq.get(), local.get(), 0), EA_ERROR);
}

TEST(SharedQueue, FailedSignalGivesBackOnlyThisCallsRecords)
{
    struct signal_case
    {
        const char *name;
        std::vector<uintptr_t> already_queued; // by other producers, before this call
        std::vector<uintptr_t> batch;          // empty: a single insert of 7
    };
    const signal_case cases[] = {
        {"batch behind other producers", {100, 101}, {7, 8, 9}},
        {"batch into an empty queue", {}, {7, 8, 9}},
        {"single behind other producers", {100, 101}, {}},
        {"single into an empty queue", {}, {}},
    };
    for (const signal_case &c : cases)
    {
        SCOPED_TRACE(c.name);
        shared_queue_ptr sq(create_queue_that_cannot_signal());
        ASSERT_NE(sq->sync, nullptr);
        for (uintptr_t v : c.already_queued)
            ASSERT_EQ(queue_append(sq->elements, element(v)), EA_SUCCESS);
        uint32_t stamp = c.already_queued.empty() ? 0u : 12345u;
        sq->time_of_oldest_entry.store(stamp);

        queue_ptr local(queue_create());
        if (c.batch.empty())
        {
            EXPECT_EQ(shared_queue_insert_single_element(sq.get(), element(7)), EA_ERROR);
        }
        else
        {
            for (uintptr_t v : c.batch)
                ASSERT_EQ(queue_append(local.get(), element(v)), EA_SUCCESS);
            EXPECT_EQ(shared_queue_insert(sq.get(), local.get()), EA_ERROR);
        }
        EXPECT_EQ(contents(local.get()), c.batch);
        EXPECT_EQ(contents(sq->elements), c.already_queued);
        EXPECT_EQ(shared_queue_get_time(sq.get()), stamp);
        // The lock was left on the failure path.
        EXPECT_EQ(sq->sync->lock_count, 0u);
    }
}

TEST(SharedQueue, MultipleWaitOnMoreThan64QueuesFailsAtOnce)
{
    std::vector<shared_queue_ptr> owned;
    std::vector<shared_queue *> queues;
    std::vector<queue_ptr> owned_locals;
    std::vector<queue *> locals;
    for (int i = 0; i < 65; i++)
    {
        owned.emplace_back(shared_queue_create(SHARED_QUEUE_SEMAPHORE));
        queues.push_back(owned.back().get());
        owned_locals.emplace_back(queue_create());
        locals.push_back(owned_locals.back().get());
    }
    ASSERT_EQ(shared_queue_insert_single_element(queues[0], element(1)), EA_SUCCESS);
    EXPECT_EQ(shared_queue_get_elements_from_multiple_queues(queues.data(), 65, locals.data(), 60000),
              EA_ERROR);
    EXPECT_EQ(queue_get_count(locals[0]), 0u);
    EXPECT_EQ(shared_queue_is_empty(queues[0]), 1u);

    // 64 is allowed.
    EXPECT_EQ(shared_queue_get_elements_from_multiple_queues(queues.data(), 64, locals.data(), 0),
              EA_SUCCESS);
    EXPECT_EQ(contents(locals[0]), (std::vector<uintptr_t>{1}));
}

TEST(SharedQueue, MultipleWaitDrainsEveryReadyQueueIntoItsOwnLocalQueue)
{
    const uint32_t n = 7;
    std::vector<shared_queue_ptr> owned;
    shared_queue *queues[n];
    std::vector<queue_ptr> owned_locals;
    queue *locals[n];
    for (uint32_t i = 0; i < n; i++)
    {
        owned.emplace_back(shared_queue_create(SHARED_QUEUE_SEMAPHORE));
        queues[i] = owned.back().get();
        owned_locals.emplace_back(queue_create());
        locals[i] = owned_locals.back().get();
    }
    ASSERT_EQ(shared_queue_insert_single_element(queues[5], element(50)), EA_SUCCESS);
    ASSERT_EQ(shared_queue_insert_single_element(queues[2], element(20)), EA_SUCCESS);
    ASSERT_EQ(shared_queue_insert_single_element(queues[5], element(51)), EA_SUCCESS);

    EXPECT_EQ(shared_queue_get_elements_from_multiple_queues(queues, n, locals, 1000), EA_SUCCESS);
    for (uint32_t i = 0; i < n; i++)
    {
        SCOPED_TRACE(i);
        if (i == 2)
            EXPECT_EQ(contents(locals[i]), (std::vector<uintptr_t>{20}));
        else if (i == 5)
            EXPECT_EQ(contents(locals[i]), (std::vector<uintptr_t>{50, 51}));
        else
            EXPECT_EQ(queue_get_count(locals[i]), 0u);
        EXPECT_EQ(shared_queue_is_empty(queues[i]), 0u);
    }
    EXPECT_EQ(shared_queue_get_elements_from_multiple_queues(queues, n, locals, 0), EA_NO_DATA);

    // A network-event queue cannot take part in the wait.
    shared_queue_ptr event_queue(shared_queue_create(SHARED_QUEUE_NETWORK_EVENT));
    queues[3] = event_queue.get();
    EXPECT_EQ(shared_queue_get_elements_from_multiple_queues(queues, n, locals, 0), EA_ERROR);
}

// Eight producers mix singles and batches of different sizes into one queue; the one
// consumer sees every record exactly once and each producer's records in order.
TEST(SharedQueue, ManyProducersLoseNothingAndKeepEachProducersOrder)
{
    const uint32_t producers = 8;
    const uint32_t per_producer = 20000;
    shared_queue_ptr sq(shared_queue_create(SHARED_QUEUE_SEMAPHORE));
    auto encode = [](uint32_t p, uint32_t seq) { return static_cast<uintptr_t>(p) * per_producer + seq + 1; };

    std::vector<std::thread> threads;
    for (uint32_t p = 0; p < producers; p++)
    {
        threads.emplace_back(
            [&sq, &encode, p]()
            {
                queue_ptr local(queue_create());
                uint32_t seq = 0;
                uint32_t round = 0;
                while (seq < per_producer)
                {
                    uint32_t batch = (round++ + p) % 5; // 0: a single insert
                    if (batch == 0)
                    {
                        uintptr_t v = encode(p, seq++);
                        ASSERT_EQ(shared_queue_insert_single_element(sq.get(), element(v)), EA_SUCCESS);
                        continue;
                    }
                    for (uint32_t i = 0; i < batch && seq < per_producer; i++)
                        ASSERT_EQ(queue_append(local.get(), element(encode(p, seq++))), EA_SUCCESS);
                    ASSERT_EQ(shared_queue_insert(sq.get(), local.get()), EA_SUCCESS);
                    ASSERT_EQ(queue_get_count(local.get()), 0u);
                }
            });
    }

    queue_ptr received(queue_create());
    std::vector<uint32_t> next(producers, 0);
    uint64_t total = 0;
    uint32_t empty_waits = 0;
    while (total < static_cast<uint64_t>(producers) * per_producer && empty_waits < 100)
    {
        ea_status result = shared_queue_get_elements_from_single_queue(sq.get(), received.get(), 100);
        ASSERT_NE(result, EA_ERROR);
        empty_waits = result == EA_NO_DATA ? empty_waits + 1 : 0;
        while (queue_get_count(received.get()) > 0)
        {
            uintptr_t v = value_of(queue_remove_head(received.get())) - 1;
            uint32_t p = static_cast<uint32_t>(v / per_producer);
            uint32_t seq = static_cast<uint32_t>(v % per_producer);
            ASSERT_LT(p, producers);
            ASSERT_EQ(seq, next[p]) << "producer " << p;
            next[p]++;
            total++;
        }
    }
    for (std::thread &t : threads)
        t.join();
    EXPECT_EQ(total, static_cast<uint64_t>(producers) * per_producer);
    EXPECT_EQ(shared_queue_is_empty(sq.get()), 0u);
}

// A consumer asleep in a multiple wait wakes for the first insert into any of its queues.
TEST(SharedQueue, MultipleWaitWakesForAnotherThreadsInsert)
{
    shared_queue_ptr a(shared_queue_create(SHARED_QUEUE_SEMAPHORE));
    shared_queue_ptr b(shared_queue_create(SHARED_QUEUE_SEMAPHORE));
    queue_ptr local_a(queue_create());
    queue_ptr local_b(queue_create());
    shared_queue *queues[2] = {a.get(), b.get()};
    queue *locals[2] = {local_a.get(), local_b.get()};

    std::thread producer(
        [&b]()
        {
            for (uintptr_t v = 1; v <= 1000; v++)
                ASSERT_EQ(shared_queue_insert_single_element(b.get(), element(v)), EA_SUCCESS);
        });
    uint32_t waits = 0;
    while (queue_get_count(local_b.get()) < 1000 && waits++ < 2000)
        ASSERT_NE(shared_queue_get_elements_from_multiple_queues(queues, 2, locals, 1000), EA_ERROR);
    producer.join();
    EXPECT_EQ(queue_get_count(local_a.get()), 0u);
    ASSERT_EQ(queue_get_count(local_b.get()), 1000u);
    for (uint32_t i = 0; i < 1000; i++)
        ASSERT_EQ(value_of(queue_peek(local_b.get(), i)), i + 1u);
}
