// The host network thread: the one thread that owns the host network layer. It waits on
// the link sockets and its two input queues together, reads frames, queues outgoing
// frames on their links, carries out the connect, drop and flush orders, and moves what
// the layer produces to the other threads' queues.
#pragma once

#include <cstdint>

#include "gateway/runtime/ea_flag.h"

struct logger_object;
struct shared_queue;
struct th_nw_info;

struct th_nw_handler_thread_args
{
    th_nw_info *th_nw_info_p;
    shared_queue *box_comm_queue;          // 16 in: flush initiations
    shared_queue *send_validator_queue;    // 11 in: frames and control orders
    shared_queue *receive_validator_queue; // 12 out: frames read, flushes
    shared_queue *notification_queue;      // 14 out: to box communication
    shared_queue *heart_beat_queue;        // 18 out: to the host session thread
    shared_queue *pull_queue;              // 17 out: to the request processing thread
    shared_queue *interface_queue;         // 19 out: console events
    uint32_t wait_time_ms;
    uint32_t frame_limit; // frames per receive pass
    ea_flag *shutdown_flag;
    ea_flag *day_flag;
    logger_object *logger;
};

uint32_t th_nw_handler_thread(void *argument);
