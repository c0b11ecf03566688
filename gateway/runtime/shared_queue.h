// shared_queue: a local queue behind a lock, paired with the signal its one consumer
// sleeps on (a semaphore of maximum count 1, or a network event so that a network
// thread waits on its sockets and its input queue together). Producers move whole
// batches under one lock with one signal; the consumer takes everything in one move.
#pragma once

#include <atomic>
#include <cstdint>

#include "common/ea_status.h"

struct ea_sync_info;
struct queue;

enum : uint32_t
{
    SHARED_QUEUE_SEMAPHORE = 0,
    SHARED_QUEUE_NETWORK_EVENT = 1,
};

struct shared_queue
{
    ea_sync_info *sync;
    std::atomic<uint32_t> time_of_oldest_entry; // read by the state controller without the lock
    queue *elements;
    uint32_t type;
};

shared_queue *shared_queue_create(uint32_t type);
ea_status shared_queue_insert_single_element(shared_queue *sq, void *element);
ea_status shared_queue_insert(shared_queue *sq, queue *local);
ea_status shared_queue_get_elements_from_single_queue(shared_queue *sq, queue *local, uint32_t timeout_ms);
ea_status shared_queue_get_elements_no_wait(shared_queue *sq, queue *local);
ea_status shared_queue_get_elements_from_multiple_queues(shared_queue **queues, uint32_t n, queue **locals,
                                                         uint32_t timeout_ms);
uint32_t shared_queue_is_empty(shared_queue *sq);
uint32_t shared_queue_get_time(const shared_queue *sq);
ea_sync_info *shared_queue_get_sync_info(shared_queue *sq);
uint32_t shared_queue_get_type(const shared_queue *sq);
void shared_queue_destroy(shared_queue *sq);
