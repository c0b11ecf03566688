// Threads whose routine returns a 32-bit exit value, that can be waited on (alone or
// with up to 63 other objects) and suspended and resumed from another thread.
#pragma once

#include <cstdint>

struct pf_thread;
struct pf_waitable;

typedef uint32_t (*pf_thread_routine)(void *argument);

// Starts routine(argument) on a new thread. Null on failure, with a short text of the
// reason in *error_text (a static string).
pf_thread *pf_thread_create(pf_thread_routine routine, void *argument, const char **error_text);
// Drops the caller's handle. A thread that is still running keeps running; its record
// goes when it ends.
void pf_thread_close(pf_thread *thread);
// Ready (and staying ready) once the routine has returned.
pf_waitable *pf_thread_waitable(pf_thread *thread);
uint32_t pf_thread_id(const pf_thread *thread);
// false while the thread runs; otherwise the routine's result in *exit_code.
bool pf_thread_exit_code(pf_thread *thread, uint32_t *exit_code);

// Suspend counts as on the interface the gateway was written for: a thread runs while its
// count is 0. Both return the previous count, or -1 with the last error set (the thread
// has ended, or the count would pass 127). A thread may suspend itself; it then returns
// when another thread resumes it.
int32_t pf_thread_suspend(pf_thread *thread);
int32_t pf_thread_resume(pf_thread *thread);

// Kernel id of the calling thread (never 0).
uint32_t pf_thread_current_id();
