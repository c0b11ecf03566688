// The shared queue: the one way records pass from one thread to another. Producers move
// records in under the queue's critical section and signal once per call; the one
// consumer sleeps on the signal and takes every record in one move. Type 0 signals
// through a semaphore of maximum count 1 (it says "something arrived", it does not
// count), type 1 through a network event that a network thread waits on together with
// its sockets. Failures return EA_ERROR without logging; callers log with their own text.
#include "gateway/runtime/shared_queue.h"

#include <new>

#include "common/ea_time.h"
#include "gateway/runtime/ea_sync_info.h"
#include "gateway/runtime/queue.h"
#include "gateway/runtime/shared_queue_stages.h"
#include "platform/core/pf_error.h"

namespace
{
ea_status shared_queue_signal(shared_queue *sq)
{
    if (sq->type == SHARED_QUEUE_NETWORK_EVENT)
        return ea_sync_info_set_network_event(sq->sync);
    // The last error is cleared first so that a refusal without a semaphore is never
    // mistaken for an older "too many posts".
    pf_set_last_error(PF_ERROR_SUCCESS);
    if (ea_sync_info_release_semaphore(sq->sync, 1) == EA_SUCCESS)
        return EA_SUCCESS;
    // At its maximum of 1 the semaphore is already signalled: the consumer's next wake
    // takes this record as well.
    if (sq->sync->semaphore != nullptr && pf_get_last_error() == PF_ERROR_TOO_MANY_POSTS)
        return EA_SUCCESS;
    return EA_ERROR;
}

// Stamps the time of the oldest entry when this insert filled an empty queue.
void shared_queue_stamp_if_first(shared_queue *sq, bool was_empty)
{
    if (was_empty && queue_get_count(sq->elements) > 0)
        sq->time_of_oldest_entry.store(ea_get_tick_count(), std::memory_order_relaxed);
}

ea_status shared_queue_move_all(shared_queue *sq, queue *local)
{
    if (ea_sync_info_enter_critical_section(sq->sync) != EA_SUCCESS)
        return EA_ERROR;
    uint32_t oldest = sq->time_of_oldest_entry.exchange(0, std::memory_order_relaxed);
    ea_status result = EA_SUCCESS;
    uint32_t moved = 0;
    while (queue_get_count(sq->elements) > 0)
    {
        void *element = queue_remove_head(sq->elements);
        if (queue_append(local, element) != EA_SUCCESS)
        {
            // Room was just freed at the head, so the element goes back without growth;
            // what stays behind keeps its age for the state controller.
            queue_prepend(sq->elements, element);
            sq->time_of_oldest_entry.store(oldest, std::memory_order_relaxed);
            result = EA_ERROR;
            break;
        }
        moved++;
    }
    shared_queue_stages_drained(sq, moved);
    // After a failed move the event stays set for the records left behind.
    if (result == EA_SUCCESS && sq->type == SHARED_QUEUE_NETWORK_EVENT &&
        ea_sync_info_reset_network_event(sq->sync) != EA_SUCCESS)
        result = EA_ERROR;
    if (ea_sync_info_leave_critical_section(sq->sync) != EA_SUCCESS)
        return EA_ERROR;
    return result;
}
} // namespace

shared_queue *shared_queue_create(uint32_t type)
{
    uint32_t flags;
    int32_t maximum_count;
    if (type == SHARED_QUEUE_SEMAPHORE)
    {
        flags = EA_SYNC_SEMAPHORE | EA_SYNC_CRITICAL_SECTION;
        maximum_count = 1;
    }
    else if (type == SHARED_QUEUE_NETWORK_EVENT)
    {
        flags = EA_SYNC_CRITICAL_SECTION | EA_SYNC_NETWORK_EVENT;
        maximum_count = 0;
    }
    else
    {
        return nullptr;
    }

    shared_queue *sq = new (std::nothrow) shared_queue;
    if (sq == nullptr)
        return nullptr;
    sq->time_of_oldest_entry.store(0, std::memory_order_relaxed);
    sq->type = type;
    sq->sync = ea_sync_info_create(flags, maximum_count);
    sq->elements = queue_create();
    if (sq->sync == nullptr || sq->elements == nullptr)
    {
        shared_queue_destroy(sq);
        return nullptr;
    }
    shared_queue_stages_created(sq);
    return sq;
}

ea_status shared_queue_insert_single_element(shared_queue *sq, void *element)
{
    if (element == nullptr)
        return EA_SUCCESS;
    if (ea_sync_info_enter_critical_section(sq->sync) != EA_SUCCESS)
        return EA_ERROR;
    bool was_empty = queue_get_count(sq->elements) == 0;
    if (queue_append(sq->elements, element) != EA_SUCCESS)
    {
        ea_sync_info_leave_critical_section(sq->sync);
        return EA_ERROR;
    }
    shared_queue_stages_inserted(sq, 1);
    shared_queue_stamp_if_first(sq, was_empty);
    if (shared_queue_signal(sq) != EA_SUCCESS)
    {
        // The element is still the caller's: it is at the tail, since we hold the lock.
        queue_remove_tail(sq->elements);
        shared_queue_stages_taken_back(sq, 1);
        if (was_empty)
            sq->time_of_oldest_entry.store(0, std::memory_order_relaxed);
        ea_sync_info_leave_critical_section(sq->sync);
        return EA_ERROR;
    }
    if (ea_sync_info_leave_critical_section(sq->sync) != EA_SUCCESS)
        return EA_ERROR;
    return EA_SUCCESS;
}

ea_status shared_queue_insert(shared_queue *sq, queue *local)
{
    if (queue_get_count(local) == 0)
        return EA_SUCCESS;
    if (ea_sync_info_enter_critical_section(sq->sync) != EA_SUCCESS)
        return EA_ERROR;
    bool was_empty = queue_get_count(sq->elements) == 0;
    uint32_t moved = 0;
    while (queue_get_count(local) > 0)
    {
        void *element = queue_remove_head(local);
        if (queue_append(sq->elements, element) != EA_SUCCESS)
        {
            // The records already moved stay in the shared queue.
            queue_prepend(local, element);
            shared_queue_stages_inserted(sq, moved);
            shared_queue_stamp_if_first(sq, was_empty);
            ea_sync_info_leave_critical_section(sq->sync);
            return EA_ERROR;
        }
        moved++;
    }
    shared_queue_stages_inserted(sq, moved);
    shared_queue_stamp_if_first(sq, was_empty);
    if (shared_queue_signal(sq) != EA_SUCCESS)
    {
        shared_queue_stages_taken_back(sq, moved);
        // Only this call's records go back, in their order: they are the last `moved`
        // entries, and records of other producers before them stay where they are. The
        // local queue is empty now and held them all before, so prepending cannot fail.
        for (uint32_t i = 0; i < moved; i++)
            queue_prepend(local, queue_remove_tail(sq->elements));
        if (was_empty)
            sq->time_of_oldest_entry.store(0, std::memory_order_relaxed);
        ea_sync_info_leave_critical_section(sq->sync);
        return EA_ERROR;
    }
    if (ea_sync_info_leave_critical_section(sq->sync) != EA_SUCCESS)
        return EA_ERROR;
    return EA_SUCCESS;
}

ea_status shared_queue_get_elements_from_single_queue(shared_queue *sq, queue *local, uint32_t timeout_ms)
{
    ea_status waited = ea_sync_info_wait(sq->sync, timeout_ms);
    if (waited == EA_WAIT_TIME_OUT)
        return EA_NO_DATA;
    if (waited != EA_SUCCESS)
        return EA_ERROR;
    return shared_queue_move_all(sq, local);
}

ea_status shared_queue_get_elements_no_wait(shared_queue *sq, queue *local)
{
    return shared_queue_move_all(sq, local);
}

ea_status shared_queue_get_elements_from_multiple_queues(shared_queue **queues, uint32_t n, queue **locals,
                                                         uint32_t timeout_ms)
{
    if (queues == nullptr || locals == nullptr || n == 0 || n > EA_MAX_WAIT_OBJECTS)
        return EA_ERROR;
    ea_sync_info *objects[EA_MAX_WAIT_OBJECTS];
    uint32_t kinds[EA_MAX_WAIT_OBJECTS];
    for (uint32_t i = 0; i < n; i++)
    {
        if (queues[i] == nullptr || queues[i]->type != SHARED_QUEUE_SEMAPHORE)
            return EA_ERROR;
        objects[i] = queues[i]->sync;
        kinds[i] = EA_WAIT_ON_SEMAPHORE;
    }

    // Each ready queue is drained once, in index order; only the first wait sleeps.
    ea_status result = EA_NO_DATA;
    uint32_t start = 0;
    while (start < n)
    {
        int32_t index = -1;
        ea_status waited = ea_sync_info_wait_for_multiple_objects(objects + start, kinds + start, n - start,
                                                                  false, timeout_ms, &index);
        if (waited == EA_WAIT_TIME_OUT)
            return result;
        if (waited != EA_SUCCESS || index < 0 || static_cast<uint32_t>(index) >= n - start)
            return EA_ERROR;
        uint32_t ready = start + static_cast<uint32_t>(index);
        if (shared_queue_move_all(queues[ready], locals[ready]) != EA_SUCCESS)
            return EA_ERROR;
        start = ready + 1;
        timeout_ms = 0;
        result = EA_SUCCESS;
    }
    return EA_SUCCESS;
}

uint32_t shared_queue_is_empty(shared_queue *sq)
{
    // The count is read under the lock: producers change it from other threads.
    if (ea_sync_info_enter_critical_section(sq->sync) != EA_SUCCESS)
        return queue_get_count(sq->elements);
    uint32_t count = queue_get_count(sq->elements);
    ea_sync_info_leave_critical_section(sq->sync);
    return count;
}

uint32_t shared_queue_get_time(const shared_queue *sq)
{
    return sq->time_of_oldest_entry.load(std::memory_order_relaxed);
}

ea_sync_info *shared_queue_get_sync_info(shared_queue *sq)
{
    return sq->sync;
}

uint32_t shared_queue_get_type(const shared_queue *sq)
{
    return sq->type;
}

void shared_queue_destroy(shared_queue *sq)
{
    if (sq == nullptr)
        return;
    shared_queue_stages_destroyed(sq);
    queue_destroy(sq->elements);
    if (sq->sync != nullptr)
        ea_sync_info_destroy(sq->sync);
    delete sq;
}
