// The argument record that main fills for a worker thread: the shared queues it consumes
// and produces, its module object, its wait time, the shutdown flag, its own day flag and
// its logger. The record belongs to main and is freed after the thread has ended.
#pragma once

#include <cstdint>

#include "gateway/library/ea_flag.h"
#include "gateway/library/ea_status.h"

struct logger_object;
struct shared_queue;

enum
{
    WORKER_MAX_QUEUES = 8,
    WORKER_WAIT_TIME_MS = 10,
};

struct worker_thread_args
{
    shared_queue *inputs[WORKER_MAX_QUEUES]; // in the thread's wait order
    uint32_t input_count;
    shared_queue *outputs[WORKER_MAX_QUEUES];
    uint32_t output_count;
    void *module; // the thread's module object, or null
    uint32_t wait_time_ms;
    ea_flag *shutdown_flag;
    ea_flag *day_flag;
    logger_object *logger;
};

// Routine of a worker whose module is not in this build yet: it waits on its input
// queues, frees what arrives, reopens its logs on its day flag, and returns
// EA_SHUTDOWN once the shutdown flag is set.
uint32_t worker_thread_placeholder_run(worker_thread_args *args);
