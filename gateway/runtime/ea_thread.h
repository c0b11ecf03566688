// ea_thread: a worker thread that keeps the 32-bit value its routine returned, and that
// main can wait for alone or together with up to 63 others.
#pragma once

#include <atomic>
#include <cstdint>

#include "common/ea_status.h"

struct logger_object;
struct pf_thread;

typedef uint32_t (*ea_thread_routine)(void *argument);

struct ea_thread
{
    ea_thread_routine routine;
    void *argument;
    int32_t exit_value; // written when the routine returns
    pf_thread *handle;
    uint32_t thread_id;
    // The creator's handle and the running routine: a thread closed while it still runs
    // keeps its record until the routine has stored its exit value.
    std::atomic<int32_t> references;
};

ea_thread *ea_thread_create(ea_thread_routine routine, void *argument, logger_object *logger);
ea_status ea_thread_join(ea_thread *thread, uint32_t timeout_ms, logger_object *logger);
ea_status ea_multiple_thread_join(ea_thread **threads, uint32_t n, bool wait_all, uint32_t timeout_ms,
                                  int32_t *index_out, logger_object *logger);
ea_status ea_thread_suspend(ea_thread *thread, logger_object *logger);
ea_status ea_thread_resume(ea_thread *thread, logger_object *logger);
// Closes the handle and frees the object (the thread must have ended).
void ea_thread_close(ea_thread *thread);

// Id of the calling thread, as ea_thread records it and the critical section's owner field.
uint32_t ea_thread_current_id();
