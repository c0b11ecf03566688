// The interface thread: one pass takes the console events, admits consoles on both
// listeners (a new realtime console gets the day's events replayed), reads at most one
// packet per listener, answers, sends and flushes. It ends on the shutdown flag (204), on
// a failure of its own (EA_ERROR) or on the console's restart request (EA_RESTART).
#include "gateway/interface_module/interface_thread.h"

#include "gateway/interface_module/interface_info.h"
#include "gateway/interface_module/interface_nw_info.h"
#include "gateway/runtime/logger.h"
#include "gateway/runtime/message.h"
#include "gateway/runtime/queue.h"
#include "gateway/runtime/shared_queue.h"
#include "gateway/shared/worker_loop.h"

namespace
{
enum
{
    NOTIFICATIONS,
    REALTIME_INPUT,
    INTERACTIVE_INPUT,
    INTERACTIVE_OUTPUT,
    REALTIME_OUTPUT,
    LOCAL_QUEUE_COUNT,
};

// Step 3 and 5 of a pass: take a new console, if any, and add what waits while there is a
// place (a console may wait over several passes for the place of one that closed). Like
// send_all, it logs under the name of the thread routine, `routine`.
ea_status admit(interface_thread_args *args, interface_nw_info *listener, queue *realtime_input,
                bool realtime, const char *routine)
{
    logger_object *logger = args->logger;
    uint32_t waiting = 0;
    ea_status status = interface_nw_info_get_client(listener, &waiting, 0, logger);
    if (status != EA_SUCCESS && status != EA_VALID)
    {
        EA_LOG_IN(routine, logger, EA_LEVEL_SYSTEM_ERROR, "interface_nw_info_get_client failed");
        return EA_ERROR;
    }
    if (waiting == 0)
        return EA_SUCCESS;
    status = interface_nw_info_process_incoming_clients(
        listener, 1, args->interface_info_p->kova_version_check_message, logger);
    if (status == EA_ERROR)
    {
        EA_LOG_IN(routine, logger, EA_LEVEL_SYSTEM_ERROR,
                  "interface_nw_info_process_incoming_clients failed");
        return EA_ERROR;
    }
    if (!realtime || status != EA_SUCCESS)
        return EA_SUCCESS;
    message *incoming = message_create(0, INCOMING_KOVA_CONNECTION);
    if (incoming == nullptr)
    {
        EA_LOG_IN(routine, logger, EA_LEVEL_SYSTEM_ERROR, "Message creation failed");
        return EA_ERROR;
    }
    incoming->workstation_network_handle = listener->last_added_handle;
    if (queue_append(realtime_input, incoming) != EA_SUCCESS)
    {
        EA_LOG_IN(routine, logger, EA_LEVEL_SYSTEM_ERROR, "queue append failed");
        message_destroy(incoming);
        return EA_ERROR;
    }
    return EA_SUCCESS;
}

ea_status send_all(interface_nw_info *listener, queue *output, const char *routine, logger_object *logger)
{
    while (queue_get_count(output) > 0)
    {
        message *record = static_cast<message *>(queue_remove_head(output));
        if (interface_nw_info_send_mesg(listener, record, logger) == EA_ERROR)
        {
            EA_LOG_IN(routine, logger, EA_LEVEL_SYSTEM_ERROR, "interactive_nw_info_send_mesg failed");
            return EA_ERROR;
        }
    }
    return EA_SUCCESS;
}

struct interface_steps : worker_steps
{
    interface_thread_args *args;
    logger_object *logger;
    interface_info *info;
    queue *locals[LOCAL_QUEUE_COUNT] = {};

    explicit interface_steps(interface_thread_args *thread_args)
        : args(thread_args), logger(thread_args->logger), info(thread_args->interface_info_p)
    {
        info->realtime_listener = thread_args->realtime;
    }

    // What is held about the consoles: written once they have stayed, counted when they left.
    ea_status each_pass()
    {
        interface_nw_info_watch_consoles(args->realtime, routine, logger);
        interface_nw_info_watch_consoles(args->interactive, routine, logger);
        return EA_SUCCESS;
    }

    void at_stop()
    {
        interface_nw_info_stop_lines(args->realtime, routine, logger);
        interface_nw_info_stop_lines(args->interactive, routine, logger);
    }

    // The console's event log starts a new file with the day.
    ea_status new_day()
    {
        if (interface_info_new_day(info, logger) != EA_SUCCESS)
        {
            EA_LOG_IN(routine, logger, EA_LEVEL_SYSTEM_ERROR,
                      "interface_info_create_kova_event_log_file failed");
            return EA_ERROR;
        }
        return EA_SUCCESS;
    }

    ea_status wait()
    {
        const ea_status status = shared_queue_get_elements_from_single_queue(
            args->notifications, locals[NOTIFICATIONS], args->queue_wait_ms);
        if (status != EA_SUCCESS && status != EA_NO_DATA && status != EA_WAIT_TIME_OUT)
        {
            EA_LOG_IN(routine, logger, EA_LEVEL_SYSTEM_ERROR,
                      "shared_queue_get_elements_from_single_queue failed");
            return EA_ERROR;
        }
        return EA_SUCCESS;
    }

    // Whether or not events came, both listeners are served on every pass.
    ea_status process()
    {
        if (admit(args, args->realtime, locals[REALTIME_INPUT], true, routine) != EA_SUCCESS)
            return EA_ERROR;
        // The realtime console sends nothing that the gateway answers: what it sends is still
        // read, so that a closed or misbehaving console is noticed, and freed with the
        // realtime input.
        if (interface_nw_info_recv_mesg(args->realtime, locals[REALTIME_INPUT], 1, args->receive_wait_ms,
                                        logger) == EA_ERROR)
        {
            EA_LOG_IN(routine, logger, EA_LEVEL_SYSTEM_ERROR, "tcp_nw_info_recv_mesg failed");
            return EA_ERROR;
        }

        if (admit(args, args->interactive, locals[REALTIME_INPUT], false, routine) != EA_SUCCESS)
            return EA_ERROR;
        if (interface_nw_info_recv_mesg(args->interactive, locals[INTERACTIVE_INPUT], 1,
                                        args->receive_wait_ms, logger) == EA_ERROR)
        {
            EA_LOG_IN(routine, logger, EA_LEVEL_SYSTEM_ERROR, "tcp_nw_info_recv_mesg failed");
            return EA_ERROR;
        }

        ea_status status = interface_info_process_message(
            info, locals[NOTIFICATIONS], locals[REALTIME_INPUT], locals[INTERACTIVE_INPUT],
            locals[INTERACTIVE_OUTPUT], locals[REALTIME_OUTPUT], logger);
        if (status == EA_RESTART)
        {
            EA_LOG_IN(routine, logger, EA_LEVEL_EVENT, "interface_info_process_message returned EA_RESTART");
            return EA_RESTART;
        }
        if (status != EA_SUCCESS)
        {
            EA_LOG_IN(routine, logger, EA_LEVEL_SYSTEM_ERROR, "interface_info_process_message failed");
            return EA_ERROR;
        }

        if (send_all(args->interactive, locals[INTERACTIVE_OUTPUT], routine, logger) != EA_SUCCESS ||
            send_all(args->realtime, locals[REALTIME_OUTPUT], routine, logger) != EA_SUCCESS)
            return EA_ERROR;
        if (interface_nw_info_send_pending(args->realtime, logger) == EA_ERROR ||
            interface_nw_info_send_pending(args->interactive, logger) == EA_ERROR)
        {
            EA_LOG_IN(routine, logger, EA_LEVEL_SYSTEM_ERROR, "tcp_nw_info_send_pending failed");
            return EA_ERROR;
        }
        return EA_SUCCESS;
    }
};
} // namespace

uint32_t interface_thread(void *argument)
{
    interface_thread_args *args = static_cast<interface_thread_args *>(argument);
    interface_steps steps(args);
    steps.routine = __func__;
    if (worker_queues_create(steps.locals) >= 0)
    {
        EA_LOG(args->logger, EA_LEVEL_SYSTEM_ERROR, "queue creation failed.");
        return worker_thread_end(args->shutdown_flag, steps.locals, EA_ERROR);
    }
    EA_LOG(args->logger, EA_LEVEL_EVENT, "interface_thread started");
    const ea_status result = worker_loop_run(steps, args->shutdown_flag, args->day_flag, args->logger);
    steps.at_stop();
    if (result == EA_SHUTDOWN)
        EA_LOG(args->logger, EA_LEVEL_EVENT, "interface_thread ending on the shutdown flag");
    return worker_thread_end(args->shutdown_flag, steps.locals, result);
}
