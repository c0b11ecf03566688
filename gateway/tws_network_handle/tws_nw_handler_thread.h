// The workstation network thread's argument record. main fills it from ea_global; the
// thread is the only one that touches the workstation server tcp_nw_info.
#pragma once

#include <cstdint>

#include "gateway/runtime/ea_flag.h"

struct logger_object;
struct shared_queue;
struct tcp_nw_info;

enum
{
    TWS_NW_HANDLER_INPUT_QUEUES = 1,
};

struct tws_nw_handler_thread_args
{
    tcp_nw_info *server;
    shared_queue *input_queues[TWS_NW_HANDLER_INPUT_QUEUES]; // shared queue 3 (network event)
    shared_queue *data_out;                                  // shared queue 0
    shared_queue *notifications_out;                         // shared queue 14
    shared_queue *console_out;                               // shared queue 19
    uint32_t wait_time_ms;
    uint32_t receive_batch_limit;
    uint16_t number_of_links;
    ea_flag *shutdown_flag;
    ea_flag *day_flag;
    logger_object *logger;
};

uint32_t tws_nw_handler_thread(void *argument);
