// The queue watchdog and its thread. It only reports: nothing is done about a stall
// beyond the flag that the workstation server and the FIX side read, and the console
// event. A queue's time of oldest entry is reset only by its consumer's drain.
#include "gateway/controller_module/state_controller_info.h"

#include <cstdlib>

#include "common/ea_time.h"
#include "gateway/runtime/logger.h"
#include "gateway/runtime/message.h"
#include "gateway/runtime/queue.h"
#include "gateway/runtime/shared_queue.h"
#include "gateway/shared/worker_loop.h"

state_controller_info *state_controller_info_create(ea_flag *state_flag, ea_flag *base_value,
                                                    shared_queue **shared_queues, logger_object *logger)
{
    state_controller_info *controller =
        static_cast<state_controller_info *>(malloc(sizeof(state_controller_info)));
    if (controller == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "malloc failed for state_controller_info.");
        return nullptr;
    }
    controller->state_flag = state_flag;
    controller->base_value = base_value;
    controller->shared_queues = shared_queues;
    controller->threshold = ea_flag_get(base_value) * STATE_CONTROLLER_TIMEOUT_FACTOR;
    return controller;
}

// The console event of a change of state; its lines are logged under the name of the
// check that calls it, `caller`.
static ea_status state_controller_info_send_event(uint16_t reason_code, queue *local, const char *caller,
                                                  logger_object *logger)
{
    message *event = message_create(0, KOVA_MESSAGE);
    if (event == nullptr)
    {
        EA_LOG_IN(caller, logger, EA_LEVEL_SYSTEM_ERROR, "Message creation failed.");
        return EA_ERROR;
    }
    event->reason_code = reason_code;
    event->user_id = static_cast<uint32_t>(-1);
    if (queue_append(local, event) != EA_SUCCESS)
    {
        EA_LOG_IN(caller, logger, EA_LEVEL_SYSTEM_ERROR, "Insertion to the queue failed.");
        message_destroy(event);
        return EA_ERROR;
    }
    EA_LOG_IN(caller, logger, EA_LEVEL_EVENT, "Sent KOVA_MESSAGE to Interface Thread with reason code [%d]",
              reason_code);
    return EA_SUCCESS;
}

ea_status state_controller_info_monitor_squeue(state_controller_info *controller, queue *local,
                                               logger_object *logger)
{
    int32_t stalled = -1;
    uint32_t stalled_time = 0;
    for (int32_t i = 0; i < STATE_CONTROLLER_QUEUE_COUNT; ++i)
    {
        uint32_t oldest = shared_queue_get_time(controller->shared_queues[i]);
        if (oldest == 0)
            continue;
        controller->threshold = ea_flag_get(controller->base_value) * STATE_CONTROLLER_TIMEOUT_FACTOR;
        if (ea_get_tick_difference(ea_get_tick_count(), oldest) > controller->threshold)
        {
            stalled = i;
            stalled_time = oldest;
            break;
        }
    }

    if (stalled >= 0 && ea_flag_get(controller->state_flag) == 0)
    {
        ea_flag_set(controller->state_flag, 1);
        EA_LOG(logger, EA_LEVEL_EVENT, "QEL application is in Abnormal State");
        EA_LOG(
            logger, EA_LEVEL_CONTINUATION,
            "Shared Queue [%d] is not functioning properly . Timestamp in the shared queue is [%d]. Threshold Timestamp Value [%d]",
            stalled, static_cast<int32_t>(stalled_time), static_cast<int32_t>(controller->threshold));
        return state_controller_info_send_event(REASON_ABNORMAL_STATE, local, __func__, logger);
    }
    if (stalled < 0 && ea_flag_get(controller->state_flag) == 1)
    {
        ea_flag_set(controller->state_flag, 0);
        EA_LOG(logger, EA_LEVEL_EVENT, "QEL application is now in Normal State");
        return state_controller_info_send_event(REASON_NORMAL_STATE, local, __func__, logger);
    }
    return EA_SUCCESS;
}

void state_controller_info_destroy(state_controller_info *controller)
{
    free(controller);
}

namespace
{
// The state controller has no input queue: its wait is a sleep, and every pass looks at
// the shared queues and sends what changed to the console.
struct state_controller_steps : worker_steps
{
    state_controller_thread_args *args;
    queue *locals[1] = {};

    explicit state_controller_steps(state_controller_thread_args *thread_args) : args(thread_args) {}

    ea_status wait()
    {
        ea_usleep(args->wait_time_ms * 1000);
        return EA_SUCCESS;
    }

    ea_status process()
    {
        if (state_controller_info_monitor_squeue(args->controller, locals[0], args->logger) != EA_SUCCESS)
        {
            EA_LOG_IN(routine, args->logger, EA_LEVEL_SYSTEM_ERROR,
                      "Could not perform shared queue monitoring");
            return EA_ERROR;
        }
        if (shared_queue_insert(args->to_interface, locals[0]) != EA_SUCCESS)
        {
            EA_LOG_IN(routine, args->logger, EA_LEVEL_SYSTEM_ERROR,
                      "Error while inserting elements to shared queue");
            return EA_ERROR;
        }
        return EA_SUCCESS;
    }
};
} // namespace

uint32_t state_controller_thread(void *argument)
{
    state_controller_thread_args *args = static_cast<state_controller_thread_args *>(argument);
    return worker_thread_main<state_controller_steps>(args, __func__,
                                                      "Error while creating the queue object");
}
