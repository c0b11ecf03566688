// user_session_thread: worker thread 3, the only thread that drives the user session
// container. It waits on the three queues that feed the layer (workstation requests, FIX
// requests, host replies), runs the matching handler, supervises users in logoff after
// every wait, and moves what the handlers produced into the four queues that lead away.
#pragma once

#include <cstdint>

#include "gateway/runtime/ea_flag.h"

struct logger_object;
struct shared_queue;
struct user_session_info_container;

struct user_session_thread_args
{
    user_session_info_container *container;
    shared_queue *fix_request_queue;        // 20: FIX front end to user session
    shared_queue *fix_send_queue;           // 21: user session to FIX send thread
    shared_queue *tws_request_queue;        // 1: workstation receive validator to user session
    shared_queue *response_queue;           // 7: response processing to user session
    shared_queue *tws_send_queue;           // 2: user session to workstation send validator
    shared_queue *request_processing_queue; // 4: user session to request processing
    shared_queue *console_queue;            // 19: to the interface thread
    uint32_t wait_time_ms;
    ea_flag *shutdown_flag;
    ea_flag *day_flag;
    logger_object *logger;
};

// Returns EA_SHUTDOWN after seeing the shutdown flag, EA_ERROR after a failure (having
// set the shutdown flag itself).
uint32_t user_session_thread(void *argument);
