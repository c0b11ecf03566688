// The local queue: a ring of element pointers owned by one thread, so it takes no lock.
// It starts at 10000 slots and grows by its factor whenever an append or prepend finds
// it full; growth keeps the order of a wrapped ring by moving the part from the head to
// the end of the larger array.
#include "gateway/runtime/queue.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "gateway/runtime/message.h"

namespace
{
// Growth refuses rings of this many slots or more.
constexpr double QUEUE_MAX_CAPACITY = 0x3FFFFFFF;

ea_status queue_grow_if_full(queue *q)
{
    if (q->count < q->capacity)
        return EA_SUCCESS;

    double wanted = static_cast<double>(q->capacity) * (1.0 + static_cast<double>(q->growth_factor));
    // A factor that does not enlarge the ring would leave no room for the new element.
    if (!(wanted < QUEUE_MAX_CAPACITY) || wanted < static_cast<double>(q->capacity) + 1.0)
        return EA_ERROR;
    uint32_t old_capacity = q->capacity;
    uint32_t new_capacity = static_cast<uint32_t>(wanted);

    void **slots =
        static_cast<void **>(realloc(q->slots, static_cast<size_t>(new_capacity) * sizeof(void *)));
    if (slots == nullptr)
        return EA_ERROR;
    q->slots = slots;
    q->capacity = new_capacity;

    if (q->head > q->tail)
    {
        size_t upper = static_cast<size_t>(old_capacity) - static_cast<size_t>(q->head);
        size_t new_head = static_cast<size_t>(new_capacity) - upper;
        memmove(q->slots + new_head, q->slots + q->head, upper * sizeof(void *));
        q->head = static_cast<int32_t>(new_head);
    }
    return EA_SUCCESS;
}

uint32_t queue_slot(const queue *q, uint32_t i)
{
    return static_cast<uint32_t>((static_cast<uint64_t>(q->head) + i) % q->capacity);
}

void queue_mark_empty(queue *q)
{
    q->head = -1;
    q->tail = -1;
}
} // namespace

queue *queue_create()
{
    queue *q = static_cast<queue *>(malloc(sizeof(queue)));
    if (q == nullptr)
        return nullptr;
    q->slots = static_cast<void **>(malloc(static_cast<size_t>(QUEUE_INITIAL_CAPACITY) * sizeof(void *)));
    if (q->slots == nullptr)
    {
        free(q);
        return nullptr;
    }
    q->count = 0;
    queue_mark_empty(q);
    q->capacity = QUEUE_INITIAL_CAPACITY;
    q->growth_factor = 1.0f;
    return q;
}

ea_status queue_append(queue *q, void *element)
{
    if (queue_grow_if_full(q) != EA_SUCCESS)
        return EA_ERROR;
    if (q->count == 0)
    {
        q->head = 0;
        q->tail = 0;
    }
    else
    {
        q->tail = static_cast<int32_t>((static_cast<uint32_t>(q->tail) + 1) % q->capacity);
    }
    q->slots[q->tail] = element;
    q->count++;
    return EA_SUCCESS;
}

ea_status queue_prepend(queue *q, void *element)
{
    if (queue_grow_if_full(q) != EA_SUCCESS)
        return EA_ERROR;
    if (q->count == 0)
    {
        q->head = 0;
        q->tail = 0;
    }
    else
    {
        q->head = q->head == 0 ? static_cast<int32_t>(q->capacity - 1) : q->head - 1;
    }
    q->slots[q->head] = element;
    q->count++;
    return EA_SUCCESS;
}

void *queue_remove_head(queue *q)
{
    if (q->count == 0)
        return nullptr;
    void *element = q->slots[q->head];
    q->head = static_cast<int32_t>((static_cast<uint32_t>(q->head) + 1) % q->capacity);
    if (--q->count == 0)
        queue_mark_empty(q);
    return element;
}

void *queue_remove_tail(queue *q)
{
    if (q->count == 0)
        return nullptr;
    void *element = q->slots[q->tail];
    q->tail = q->tail == 0 ? static_cast<int32_t>(q->capacity - 1) : q->tail - 1;
    if (--q->count == 0)
        queue_mark_empty(q);
    return element;
}

void *queue_peek(const queue *q, uint32_t i)
{
    if (i >= q->count)
        return nullptr;
    return q->slots[queue_slot(q, i)];
}

uint32_t queue_get_count(const queue *q)
{
    return q->count;
}

void queue_destroy(queue *q)
{
    if (q == nullptr)
        return;
    free(q->slots);
    free(q);
}

void ea_destroy_message_queue(queue *q)
{
    if (q == nullptr)
        return;
    while (q->count > 0)
        message_destroy(static_cast<message *>(queue_remove_head(q)));
    queue_destroy(q);
}

void ea_destroy_message_queue_array(queue **array, uint32_t n)
{
    if (array == nullptr)
        return;
    for (uint32_t i = 0; i < n; i++)
    {
        if (array[i] != nullptr)
            ea_destroy_message_queue(array[i]);
        array[i] = nullptr;
    }
}
