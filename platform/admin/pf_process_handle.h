// A handle on a process that can be waited on among other objects (over a pidfd): a
// program this process started, or one it adopted because it was already running. The
// handle is ready, and stays ready, once the process has ended.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/admin/pf_spawn.h"

struct pf_process_handle;
struct pf_waitable;

// Starts a program (pf_spawn) and holds it; null with the errno of the failure in *error.
pf_process_handle *pf_process_handle_create(const char *path, const std::vector<std::string> &argv,
                                            const pf_spawn_options &options, int *error);
// Holds a running process that is not our child; null with the errno in *error (ESRCH
// when it is gone).
pf_process_handle *pf_process_handle_open(uint32_t pid, int *error);
// Closes the handle (a child that ended is reaped; one still running goes on).
void pf_process_handle_close(pf_process_handle *process);
pf_waitable *pf_process_handle_waitable(pf_process_handle *process);
uint32_t pf_process_handle_pid(const pf_process_handle *process);

enum pf_process_end
{
    PF_PROCESS_RUNNING,  // not ended yet
    PF_PROCESS_EXITED,   // *code holds its exit status (the low eight bits)
    PF_PROCESS_SIGNALED, // *code holds the signal that killed it
    PF_PROCESS_UNKNOWN,  // adopted: it ended, but how is not ours to know
};
pf_process_end pf_process_handle_end(pf_process_handle *process, int *code);
// Sends a signal (SIGTERM, SIGKILL); false when the process has gone.
bool pf_process_handle_signal(pf_process_handle *process, int signal_number);
