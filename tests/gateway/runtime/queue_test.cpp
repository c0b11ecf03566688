// The local queue keeps its order through wrap-around, growth, prepends and removals
// from both ends, and frees message records when asked to.
#include "gateway/runtime/queue.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>

#include "gateway/runtime/message.h"

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
} // namespace

TEST(Queue, CreateIsEmpty)
{
    queue_ptr q(queue_create());
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(queue_get_count(q.get()), 0u);
    EXPECT_EQ(q->head, -1);
    EXPECT_EQ(q->tail, -1);
    EXPECT_EQ(q->capacity, 10000u);
    EXPECT_EQ(q->growth_factor, 1.0f);
    EXPECT_EQ(queue_remove_head(q.get()), nullptr);
    EXPECT_EQ(queue_remove_tail(q.get()), nullptr);
    EXPECT_EQ(queue_peek(q.get(), 0), nullptr);
}

// The 10001st append grows the ring to 20000 slots. "removed" elements are taken from
// the head first so that the full ring is wrapped (head > tail) when it grows.
TEST(Queue, GrowthAtTheLimitKeepsOrder)
{
    struct growth_case
    {
        uint32_t removed;
        int32_t head_after_growth;
    };
    const growth_case cases[] = {
        {0, 0},
        {3000, 20000 - (10000 - 3000)},
        {9999, 20000 - 1},
    };
    for (const growth_case &c : cases)
    {
        SCOPED_TRACE(c.removed);
        queue_ptr q(queue_create());
        uintptr_t next = 1, first = 1;
        // One more than is removed, so that the ring never empties and keeps its head.
        for (uint32_t i = 0; i <= c.removed; i++)
            ASSERT_EQ(queue_append(q.get(), element(next++)), EA_SUCCESS);
        for (uint32_t i = 0; i < c.removed; i++)
            ASSERT_EQ(value_of(queue_remove_head(q.get())), first++);
        while (queue_get_count(q.get()) < 10000)
            ASSERT_EQ(queue_append(q.get(), element(next++)), EA_SUCCESS);
        ASSERT_EQ(q->capacity, 10000u);
        if (c.removed > 0)
        {
            ASSERT_GT(q->head, q->tail);
        }

        ASSERT_EQ(queue_append(q.get(), element(next++)), EA_SUCCESS);
        EXPECT_EQ(q->capacity, 20000u);
        EXPECT_EQ(q->head, c.head_after_growth);
        ASSERT_EQ(queue_get_count(q.get()), 10001u);
        for (uint32_t i = 0; i < 10001; i++)
            ASSERT_EQ(value_of(queue_peek(q.get(), i)), first + i) << i;

        // The grown ring goes on working as a ring.
        for (uint32_t i = 0; i < 15000; i++)
            ASSERT_EQ(queue_append(q.get(), element(next++)), EA_SUCCESS);
        for (uintptr_t v = first; v < next; v++)
            ASSERT_EQ(value_of(queue_remove_head(q.get())), v);
        EXPECT_EQ(queue_get_count(q.get()), 0u);
    }
}

TEST(Queue, PrependGrowsAndKeepsOrder)
{
    queue_ptr q(queue_create());
    for (uintptr_t v = 10001; v >= 1; v--)
        ASSERT_EQ(queue_prepend(q.get(), element(v)), EA_SUCCESS);
    EXPECT_EQ(q->capacity, 20000u);
    for (uintptr_t v = 1; v <= 10001; v++)
        ASSERT_EQ(value_of(queue_remove_head(q.get())), v);
}

TEST(Queue, GrowthRefusedQueueUnchanged)
{
    // A ring that cannot grow (factor 0) refuses the element and stays as it was.
    queue_ptr q(queue_create());
    q->growth_factor = 0.0f;
    for (uintptr_t v = 1; v <= 10000; v++)
        ASSERT_EQ(queue_append(q.get(), element(v)), EA_SUCCESS);
    EXPECT_EQ(queue_append(q.get(), element(99999)), EA_ERROR);
    EXPECT_EQ(queue_prepend(q.get(), element(99999)), EA_ERROR);
    EXPECT_EQ(q->capacity, 10000u);
    EXPECT_EQ(queue_get_count(q.get()), 10000u);
    EXPECT_EQ(value_of(queue_peek(q.get(), 0)), 1u);
    EXPECT_EQ(value_of(queue_peek(q.get(), 9999)), 10000u);
}

TEST(Queue, GrowthToTheSlotLimitIsRefused)
{
    // 357913941 x 3 is exactly 0x3FFFFFFF slots. The ring is marked full by hand (its
    // slots are never read when growth is refused), so nothing large is allocated; the
    // byte size of such a ring is also beyond 32 bits.
    struct limit_case
    {
        uint32_t capacity;
        float factor;
    };
    const limit_case cases[] = {{357913941u, 2.0f}, {0x20000000u, 1.0f}, {0x3FFFFFFEu, 0.5f}};
    for (const limit_case &c : cases)
    {
        SCOPED_TRACE(c.capacity);
        queue_ptr q(queue_create());
        q->capacity = c.capacity;
        q->count = c.capacity;
        q->head = 0;
        q->tail = static_cast<int32_t>(c.capacity - 1);
        q->growth_factor = c.factor;
        EXPECT_EQ(queue_append(q.get(), element(1)), EA_ERROR);
        EXPECT_EQ(queue_prepend(q.get(), element(1)), EA_ERROR);
        EXPECT_EQ(q->capacity, c.capacity);
        EXPECT_EQ(q->count, c.capacity);
        EXPECT_EQ(q->head, 0);
    }
}

TEST(Queue, RemovingTheLastElementResetsTheRing)
{
    for (bool from_tail : {false, true})
    {
        SCOPED_TRACE(from_tail);
        queue_ptr q(queue_create());
        for (uintptr_t v = 1; v <= 7; v++)
            ASSERT_EQ(queue_append(q.get(), element(v)), EA_SUCCESS);
        for (uintptr_t i = 0; i < 7; i++)
            ASSERT_NE(from_tail ? queue_remove_tail(q.get()) : queue_remove_head(q.get()), nullptr);
        EXPECT_EQ(q->head, -1);
        EXPECT_EQ(q->tail, -1);
        EXPECT_EQ(queue_remove_head(q.get()), nullptr);

        ASSERT_EQ(queue_append(q.get(), element(42)), EA_SUCCESS);
        EXPECT_EQ(q->head, 0);
        EXPECT_EQ(q->tail, 0);
        EXPECT_EQ(q->slots[0], element(42));
    }
}

TEST(Queue, PeekCountsFromTheHead)
{
    queue_ptr q(queue_create());
    for (uintptr_t v = 1; v <= 3; v++)
        ASSERT_EQ(queue_append(q.get(), element(v)), EA_SUCCESS);
    ASSERT_EQ(value_of(queue_remove_head(q.get())), 1u);
    EXPECT_EQ(value_of(queue_peek(q.get(), 0)), 2u);
    EXPECT_EQ(value_of(queue_peek(q.get(), 1)), 3u);
    EXPECT_EQ(queue_peek(q.get(), 2), nullptr);
    EXPECT_EQ(queue_peek(q.get(), UINT32_MAX), nullptr);
    EXPECT_EQ(queue_get_count(q.get()), 2u);
}

TEST(Queue, PrependAndRemoveTailWrapAtSlotZero)
{
    queue_ptr q(queue_create());
    ASSERT_EQ(queue_append(q.get(), element(2)), EA_SUCCESS);
    ASSERT_EQ(queue_prepend(q.get(), element(1)), EA_SUCCESS);
    EXPECT_EQ(q->head, 9999);
    EXPECT_EQ(q->tail, 0);
    ASSERT_EQ(queue_append(q.get(), element(3)), EA_SUCCESS);
    for (uintptr_t v = 1; v <= 3; v++)
        EXPECT_EQ(value_of(queue_peek(q.get(), static_cast<uint32_t>(v - 1))), v);

    EXPECT_EQ(value_of(queue_remove_tail(q.get())), 3u);
    EXPECT_EQ(value_of(queue_remove_tail(q.get())), 2u);
    EXPECT_EQ(q->tail, 9999);
    EXPECT_EQ(value_of(queue_remove_tail(q.get())), 1u);
    EXPECT_EQ(q->head, -1);
    EXPECT_EQ(queue_remove_tail(q.get()), nullptr);
}

// Leaks here are reported by the AddressSanitizer build.
TEST(Queue, DestroyMessageQueueFreesTheRecords)
{
    queue *q = queue_create();
    for (int i = 0; i < 3; i++)
        ASSERT_EQ(queue_append(q, message_create(10, NORMAL_MESSAGE)), EA_SUCCESS);
    ea_destroy_message_queue(q);

    queue *array[3] = {queue_create(), nullptr, queue_create()};
    ASSERT_EQ(queue_append(array[0], message_create(1, KOVA_MESSAGE)), EA_SUCCESS);
    ASSERT_EQ(queue_append(array[2], message_create(2, KOVA_MESSAGE)), EA_SUCCESS);
    ea_destroy_message_queue_array(array, 3);
    for (queue *entry : array)
        EXPECT_EQ(entry, nullptr);
}
