// queue: one thread's growable ring of record pointers, without a lock.
#pragma once

#include <cstdint>

#include "common/ea_status.h"

enum
{
    QUEUE_INITIAL_CAPACITY = 10000,
};

struct queue
{
    uint32_t count;
    int32_t head; // slot of the first element; -1 when empty
    int32_t tail; // slot of the last element; -1 when empty
    void **slots;
    uint32_t capacity;
    float growth_factor;
};

queue *queue_create();
ea_status queue_append(queue *q, void *element);
ea_status queue_prepend(queue *q, void *element);
void *queue_remove_head(queue *q);
void *queue_remove_tail(queue *q);
void *queue_peek(const queue *q, uint32_t i);
uint32_t queue_get_count(const queue *q);
void queue_destroy(queue *q);

// Frees every element as a message, then the queue.
void ea_destroy_message_queue(queue *q);
void ea_destroy_message_queue_array(queue **array, uint32_t n);
