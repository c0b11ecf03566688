// The user session thread: waits on the workstation request, FIX request and reply
// queues, runs the handler of each input that received records, supervises users after
// every wait, and moves each handler's output into the shared queues in one batch, the
// host-bound records first.
#include "gateway/session_layer/user_session/user_session_thread.h"

#include "common/logger.h"
#include "common/queue.h"
#include "common/shared_queue.h"
#include "gateway/session_layer/user_session/user_session_info_container.h"

namespace
{

enum
{
    INPUT_WORKSTATION = 0,
    INPUT_FIX = 1,
    INPUT_REPLIES = 2,
    INPUT_COUNT = 3,
    OUTPUT_WORKSTATION = 0, // shared queue 2; also user type 0
    OUTPUT_FIX = 1,         // shared queue 21; also user type 1
    OUTPUT_REQUEST_PROCESSING = 2,
    OUTPUT_CONSOLE = 3,
    OUTPUT_COUNT = 4,
};

struct thread_queues
{
    queue *inputs[INPUT_COUNT];
    queue *outputs[OUTPUT_COUNT];
};

void free_queues(thread_queues *q)
{
    ea_destroy_message_queue_array(q->inputs, INPUT_COUNT);
    ea_destroy_message_queue_array(q->outputs, OUTPUT_COUNT);
}

uint32_t fail(user_session_thread_args *args, thread_queues *q)
{
    free_queues(q);
    ea_flag_set(args->shutdown_flag, 1);
    return EA_ERROR;
}

// Moves the outputs in the given order; false when a shared queue refuses them.
bool move_outputs(user_session_thread_args *args, thread_queues *q)
{
    shared_queue *targets[OUTPUT_COUNT] = {args->tws_send_queue, args->fix_send_queue,
                                           args->request_processing_queue, args->console_queue};
    const int order[OUTPUT_COUNT] = {OUTPUT_REQUEST_PROCESSING, OUTPUT_WORKSTATION, OUTPUT_FIX,
                                     OUTPUT_CONSOLE};
    for (int i = 0; i < OUTPUT_COUNT; i++)
    {
        if (shared_queue_insert(targets[order[i]], q->outputs[order[i]]) != EA_SUCCESS)
        {
            EA_LOG(args->logger, EA_LEVEL_SYSTEM_ERROR, "shared_queue_insert failed");
            return false;
        }
    }
    return true;
}

} // namespace

uint32_t user_session_thread(void *argument)
{
    user_session_thread_args *args = static_cast<user_session_thread_args *>(argument);
    if (args == nullptr)
    {
        EA_LOG(nullptr, EA_LEVEL_SYSTEM_ERROR, "Thread arguments not available");
        return EA_ERROR;
    }
    thread_queues q = {};
    for (queue *&local : q.inputs)
        local = queue_create();
    for (queue *&local : q.outputs)
        local = queue_create();
    for (queue *local : q.inputs)
        if (local == nullptr)
            goto creation_failed;
    for (queue *local : q.outputs)
        if (local == nullptr)
            goto creation_failed;

    {
        user_session_info_container *container = args->container;
        logger_object *logger = args->logger;
        shared_queue *waited[INPUT_COUNT] = {args->tws_request_queue, args->fix_request_queue,
                                             args->response_queue};
        queue *user_side[2] = {q.outputs[OUTPUT_WORKSTATION], q.outputs[OUTPUT_FIX]};
        for (;;)
        {
            if (ea_flag_get(args->shutdown_flag) != 0)
            {
                free_queues(&q);
                return EA_SHUTDOWN;
            }
            if (ea_flag_get(args->day_flag) != 0)
            {
                logger_object_reopen(logger);
                ea_flag_set(args->day_flag, 0);
            }
            ea_status waited_status = shared_queue_get_elements_from_multiple_queues(
                waited, INPUT_COUNT, q.inputs, args->wait_time_ms);
            if (waited_status == EA_ERROR)
            {
                EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR,
                       "shared_queue_get_elements_from_multiple_queues returned EA_ERROR");
                return fail(args, &q);
            }
            if (waited_status != EA_NO_DATA)
            {
                for (int input = INPUT_WORKSTATION; input <= INPUT_FIX; input++)
                {
                    if (queue_get_count(q.inputs[input]) == 0)
                        continue;
                    if (user_session_info_container_process_input_request_messages(
                            container, q.inputs[input], q.outputs[OUTPUT_REQUEST_PROCESSING],
                            q.outputs[input], q.outputs[OUTPUT_FIX], q.outputs[OUTPUT_CONSOLE],
                            logger) != EA_SUCCESS)
                    {
                        EA_LOG(
                            logger, EA_LEVEL_CONTINUATION,
                            "user_session_info_container_process_input_request_messages returned EA_ERROR");
                        return fail(args, &q);
                    }
                    if (!move_outputs(args, &q))
                        return fail(args, &q);
                }
                if (queue_get_count(q.inputs[INPUT_REPLIES]) != 0)
                {
                    if (user_session_info_container_process_input_response_messages(
                            container, q.inputs[INPUT_REPLIES], q.outputs[OUTPUT_REQUEST_PROCESSING],
                            user_side, q.outputs[OUTPUT_CONSOLE], logger) != EA_SUCCESS)
                    {
                        EA_LOG(
                            logger, EA_LEVEL_CONTINUATION,
                            "user_session_info_container_process_input_response_messages returned EA_ERROR");
                        return fail(args, &q);
                    }
                    if (!move_outputs(args, &q))
                        return fail(args, &q);
                }
            }
            if (user_session_info_container_process_users(container, q.outputs[OUTPUT_REQUEST_PROCESSING],
                                                          user_side, q.outputs[OUTPUT_CONSOLE],
                                                          logger) != EA_SUCCESS)
            {
                EA_LOG(logger, EA_LEVEL_CONTINUATION, "process_users returned EA_ERROR");
                return fail(args, &q);
            }
            if (!move_outputs(args, &q))
                return fail(args, &q);
        }
    }

creation_failed:
    EA_LOG(args->logger, EA_LEVEL_SYSTEM_ERROR, "creation of local queue failed");
    return fail(args, &q);
}
