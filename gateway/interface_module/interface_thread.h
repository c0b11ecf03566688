// interface_thread: the console interface's worker (thread index 12, logger
// "interface_thread"). Each pass takes the console events of shared queue 19, admits new
// consoles on both listeners, reads at most one packet from each, answers, and sends.
#pragma once

#include <cstdint>

#include "gateway/runtime/ea_flag.h"

struct interface_info;
struct interface_nw_info;
struct logger_object;
struct shared_queue;

struct interface_thread_args
{
    interface_info *interface_info_p;
    interface_nw_info *realtime;
    interface_nw_info *interactive;
    uint32_t receive_wait_ms;    // 10
    shared_queue *notifications; // shared queue 19: console events from every module
    uint32_t queue_wait_ms;      // 10
    ea_flag *shutdown_flag;
    ea_flag *day_flag; // index 12
    logger_object *logger;
};

// Returns EA_SHUTDOWN, EA_ERROR (having set the shutdown flag) or EA_RESTART (restart
// requested from the console; the shutdown flag is set).
uint32_t interface_thread(void *argument);
