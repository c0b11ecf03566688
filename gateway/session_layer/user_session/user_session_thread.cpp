// The user session thread: waits on the workstation request, FIX request and reply
// queues, runs the handler of each input that received records, supervises users after
// every wait, and moves each handler's output into the shared queues in one batch, the
// host-bound records first.
#include "gateway/session_layer/user_session/user_session_thread.h"

#include "gateway/runtime/logger.h"
#include "gateway/runtime/queue.h"
#include "gateway/runtime/shared_queue.h"
#include "gateway/session_layer/user_session/user_session_info_container.h"
#include "gateway/shared/worker_loop.h"

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

// Moves the outputs in the given order; false when a shared queue refuses them, logged
// under the name of the thread routine, `routine`.
bool move_outputs(user_session_thread_args *args, queue **outputs, const char *routine)
{
    shared_queue *targets[OUTPUT_COUNT] = {args->tws_send_queue, args->fix_send_queue,
                                           args->request_processing_queue, args->console_queue};
    const int order[OUTPUT_COUNT] = {OUTPUT_REQUEST_PROCESSING, OUTPUT_WORKSTATION, OUTPUT_FIX,
                                     OUTPUT_CONSOLE};
    for (int i = 0; i < OUTPUT_COUNT; i++)
    {
        if (shared_queue_insert(targets[order[i]], outputs[order[i]]) != EA_SUCCESS)
        {
            EA_LOG_IN(routine, args->logger, EA_LEVEL_SYSTEM_ERROR, "shared_queue_insert failed");
            return false;
        }
    }
    return true;
}

struct user_session_steps : worker_steps
{
    user_session_thread_args *args;
    // The input queues, then the output queues.
    queue *locals[INPUT_COUNT + OUTPUT_COUNT] = {};
    queue **inputs = locals;
    queue **outputs = locals + INPUT_COUNT;
    shared_queue *waited[INPUT_COUNT];

    explicit user_session_steps(user_session_thread_args *thread_args)
        : args(thread_args), waited{thread_args->tws_request_queue, thread_args->fix_request_queue,
                                    thread_args->response_queue}
    {
    }

    ea_status wait()
    {
        const ea_status status =
            shared_queue_get_elements_from_multiple_queues(waited, INPUT_COUNT, inputs, args->wait_time_ms);
        if (status == EA_ERROR)
        {
            EA_LOG_IN(routine, args->logger, EA_LEVEL_SYSTEM_ERROR,
                      "shared_queue_get_elements_from_multiple_queues returned EA_ERROR");
            return EA_ERROR;
        }
        return status == EA_NO_DATA ? EA_NO_DATA : EA_SUCCESS;
    }

    // The request handlers for workstation then FIX records, then the reply handler; each
    // handler's output moves on before the next runs.
    ea_status process()
    {
        for (int input = INPUT_WORKSTATION; input <= INPUT_FIX; input++)
        {
            if (queue_get_count(inputs[input]) == 0)
                continue;
            if (user_session_info_container_process_input_request_messages(
                    args->container, inputs[input], outputs[OUTPUT_REQUEST_PROCESSING], outputs[input],
                    outputs[OUTPUT_FIX], outputs[OUTPUT_CONSOLE], args->logger) != EA_SUCCESS)
            {
                EA_LOG_IN(routine, args->logger, EA_LEVEL_CONTINUATION,
                          "user_session_info_container_process_input_request_messages returned EA_ERROR");
                return EA_ERROR;
            }
            if (!move_outputs(args, outputs, routine))
                return EA_ERROR;
        }
        if (queue_get_count(inputs[INPUT_REPLIES]) == 0)
            return EA_SUCCESS;
        if (user_session_info_container_process_input_response_messages(
                args->container, inputs[INPUT_REPLIES], outputs[OUTPUT_REQUEST_PROCESSING], outputs,
                outputs[OUTPUT_CONSOLE], args->logger) != EA_SUCCESS)
        {
            EA_LOG_IN(routine, args->logger, EA_LEVEL_CONTINUATION,
                      "user_session_info_container_process_input_response_messages returned EA_ERROR");
            return EA_ERROR;
        }
        return move_outputs(args, outputs, routine) ? EA_SUCCESS : EA_ERROR;
    }

    // The supervision of users runs after every wait, and so does the look at what is held
    // about connections that have not signed on.
    ea_status each_pass()
    {
        log_hold_pass(args->container->held_lines, routine, args->logger);
        if (user_session_info_container_process_users(args->container, outputs[OUTPUT_REQUEST_PROCESSING],
                                                      outputs, outputs[OUTPUT_CONSOLE],
                                                      args->logger) != EA_SUCCESS)
        {
            EA_LOG_IN(routine, args->logger, EA_LEVEL_CONTINUATION, "process_users returned EA_ERROR");
            return EA_ERROR;
        }
        return move_outputs(args, outputs, routine) ? EA_SUCCESS : EA_ERROR;
    }

    void at_stop() { log_hold_stop(args->container->held_lines, routine, args->logger); }
};

} // namespace

uint32_t user_session_thread(void *argument)
{
    return worker_thread_main_checked<user_session_steps, user_session_thread_args>(
        argument, __func__, "creation of local queue failed");
}
