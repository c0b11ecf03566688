// The gateway's worker threads: their names (which are also their loggers' names), their
// routines and the argument records main fills for them from the global context.
#pragma once

#include <cstdint>

#include "gateway/runtime/ea_thread.h"

struct ea_global;
struct logger_object_container;

enum
{
    QEL_WORKER_THREAD_COUNT = 14,
    QEL_LOGGER_COUNT = 16,
    QEL_FIX_LOGGER_INDEX = 14,
    QEL_MAIN_LOGGER_INDEX = 15,
};

// Logger names in index order; index = logger = day flag of the thread.
extern const char *const qel_logger_names[QEL_LOGGER_COUNT];

struct qel_thread_table
{
    ea_thread_routine routines[QEL_WORKER_THREAD_COUNT];
    void *args[QEL_WORKER_THREAD_COUNT];
    ea_thread *threads[QEL_WORKER_THREAD_COUNT];
};

// Fills the argument records in index order. On a failed allocation logs the routine's
// "<name>_args:malloc fail." and returns EA_ERROR; the records made so far stay in the
// table for qel_threads_free_args.
ea_status qel_threads_create_args(qel_thread_table *table, ea_global *global,
                                  logger_object_container *loggers, logger_object *main_logger);
void qel_threads_free_args(qel_thread_table *table);
