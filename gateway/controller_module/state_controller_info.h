// state_controller_info: the gateway's queue watchdog. Every 10 ms it looks at the time
// of the oldest entry of each shared queue; when one has waited longer than the threshold
// (base rate control x 100 ms) the gateway is in the abnormal state, which is flagged in
// ea_global and reported to the console (13001); the return to normal is reported (13002).
#pragma once

#include <cstdint>

#include "common/ea_status.h"
#include "gateway/runtime/ea_flag.h"

struct logger_object;
struct queue;
struct shared_queue;

enum
{
    STATE_CONTROLLER_QUEUE_COUNT = 23,
    STATE_CONTROLLER_TIMEOUT_FACTOR = 100,
    REASON_ABNORMAL_STATE = 13001,
    REASON_NORMAL_STATE = 13002,
};

struct state_controller_info
{
    ea_flag *state_flag;
    shared_queue **shared_queues;
    uint32_t threshold;
    ea_flag *base_value;
};

struct state_controller_thread_args
{
    state_controller_info *controller;
    shared_queue *to_interface;
    uint32_t wait_time_ms;
    ea_flag *shutdown_flag;
    ea_flag *day_flag;
    logger_object *logger;
};

state_controller_info *state_controller_info_create(ea_flag *state_flag, ea_flag *base_value,
                                                    shared_queue **shared_queues, logger_object *logger);
ea_status state_controller_info_monitor_squeue(state_controller_info *controller, queue *local,
                                               logger_object *logger);
void state_controller_info_destroy(state_controller_info *controller);

uint32_t state_controller_thread(void *argument);
