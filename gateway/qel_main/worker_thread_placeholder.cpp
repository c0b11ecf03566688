// The routine of a worker thread whose module has not been built yet. It keeps the
// gateway's worker pattern (local queues first; shutdown flag and day flag polled about
// every 10 ms; any failure of its own sets the shutdown flag and returns EA_ERROR), so
// that the process starts, runs and stops in order with every thread present.
#include "gateway/qel_main/worker_thread_args.h"

#include "gateway/library/ea_sync_info.h"
#include "gateway/library/logger.h"
#include "gateway/library/message.h"
#include "gateway/library/queue.h"
#include "gateway/library/shared_queue.h"

static uint32_t worker_fail(worker_thread_args *args, queue **locals, uint32_t n, const char *text)
{
    EA_LOG(args->logger, EA_LEVEL_SYSTEM_ERROR, "%s", text);
    ea_destroy_message_queue_array(locals, n);
    ea_flag_set(args->shutdown_flag, 1);
    return EA_ERROR;
}

// Takes what is waiting on the thread's inputs. Queues signalled by a network event are
// waited on together through their events; the others through their semaphores.
static ea_status worker_take_inputs(worker_thread_args *args, queue **locals)
{
    if (args->input_count == 0)
        return ea_usleep(args->wait_time_ms * 1000);
    if (shared_queue_get_type(args->inputs[0]) == SHARED_QUEUE_SEMAPHORE)
        return shared_queue_get_elements_from_multiple_queues(args->inputs, args->input_count, locals,
                                                              args->wait_time_ms);

    ea_sync_info *events[WORKER_MAX_QUEUES];
    for (uint32_t i = 0; i < args->input_count; ++i)
        events[i] = shared_queue_get_sync_info(args->inputs[i]);
    int32_t index = -1;
    ea_status status = ea_sync_info_wait_for_multiple_netwrok_event_objects(events, args->input_count, false,
                                                                            args->wait_time_ms, &index);
    if (status == EA_WAIT_TIME_OUT)
        return EA_NO_DATA;
    if (status != EA_SUCCESS)
        return EA_ERROR;
    for (uint32_t i = 0; i < args->input_count; ++i)
    {
        if (shared_queue_get_elements_no_wait(args->inputs[i], locals[i]) != EA_SUCCESS)
            return EA_ERROR;
    }
    return EA_SUCCESS;
}

uint32_t worker_thread_placeholder_run(worker_thread_args *args)
{
    queue *locals[WORKER_MAX_QUEUES] = {};
    for (uint32_t i = 0; i < args->input_count; ++i)
    {
        locals[i] = queue_create();
        if (locals[i] == nullptr)
            return worker_fail(args, locals, args->input_count, "queue_create failed");
    }

    for (;;)
    {
        if (ea_flag_get(args->shutdown_flag) != 0)
        {
            ea_destroy_message_queue_array(locals, args->input_count);
            return EA_SHUTDOWN;
        }
        if (ea_flag_get(args->day_flag) != 0)
        {
            logger_object_reopen(args->logger);
            ea_flag_set(args->day_flag, 0);
        }
        ea_status status = worker_take_inputs(args, locals);
        if (status == EA_ERROR)
            return worker_fail(args, locals, args->input_count, "Waiting on the input queues failed");
        for (uint32_t i = 0; i < args->input_count; ++i)
        {
            while (message *msg = static_cast<message *>(queue_remove_head(locals[i])))
            {
                EA_LOG(args->logger, EA_LEVEL_DEBUG, "Discarding message with tag [%u]: module not active",
                       msg->tag);
                message_destroy(msg);
            }
        }
    }
}
