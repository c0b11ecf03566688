// The box communication thread: the only thread that touches the box communication
// controller. It waits on the host's box records (shared queue 9) and the notifications
// (shared queue 14), hands them to the controller, runs the controller's timers on every
// pass (at least every 10 ms, traffic or not), and moves what the controller produced to
// the host session, host network, workstation, FIX and console queues.
#include "gateway/controller_module/box_comm_info_container.h"
#include "common/logger.h"
#include "common/queue.h"
#include "common/shared_queue.h"

namespace
{
enum
{
    LOCAL_FROM_TH_SESSION = 0,
    LOCAL_NOTIFICATIONS = 1,
    LOCAL_TO_TH_SESSION = 2,
    LOCAL_TO_TH_NETWORK = 3,
    LOCAL_TO_TWS = 4,
    LOCAL_TO_INTERFACE = 5,
    LOCAL_TO_FIX = 6,
    LOCAL_QUEUE_COUNT = 7,
};

struct box_comm_move
{
    int local;
    shared_queue *target;
};
} // namespace

static uint32_t box_comm_thread_fail(box_comm_thread_args *args, queue **locals, const char *text)
{
    EA_LOG(args->logger, EA_LEVEL_SYSTEM_ERROR, "%s", text);
    ea_destroy_message_queue_array(locals, LOCAL_QUEUE_COUNT);
    ea_flag_set(args->shutdown_flag, 1);
    return EA_ERROR;
}

// Moves the given local queues, in order, to their shared queues.
template <size_t N> static ea_status box_comm_thread_move(queue **locals, const box_comm_move (&moves)[N])
{
    for (const box_comm_move &move : moves)
    {
        if (queue_get_count(locals[move.local]) != 0 &&
            shared_queue_insert(move.target, locals[move.local]) != EA_SUCCESS)
            return EA_ERROR;
    }
    return EA_SUCCESS;
}

uint32_t box_comm_thread(void *argument)
{
    box_comm_thread_args *args = static_cast<box_comm_thread_args *>(argument);
    if (args == nullptr)
    {
        EA_LOG(nullptr, EA_LEVEL_SYSTEM_ERROR, "Thread arguments not available");
        return EA_ERROR;
    }
    queue *locals[LOCAL_QUEUE_COUNT] = {};
    for (queue *&local : locals)
    {
        if ((local = queue_create()) == nullptr)
            return box_comm_thread_fail(args, locals, "creation of local queue failed");
    }
    shared_queue *inputs[2] = {args->from_th_session, args->notifications};
    const box_comm_move after_host_records[] = {{LOCAL_TO_TH_NETWORK, args->to_th_network},
                                                {LOCAL_TO_TH_SESSION, args->to_th_session},
                                                {LOCAL_TO_INTERFACE, args->to_interface}};
    const box_comm_move after_notifications[] = {{LOCAL_TO_TH_SESSION, args->to_th_session},
                                                 {LOCAL_TO_TH_NETWORK, args->to_th_network},
                                                 {LOCAL_TO_TWS, args->to_tws_send_validator},
                                                 {LOCAL_TO_FIX, args->to_fix_send},
                                                 {LOCAL_TO_INTERFACE, args->to_interface}};
    const box_comm_move after_pass[] = {{LOCAL_TO_TH_NETWORK, args->to_th_network},
                                        {LOCAL_TO_TWS, args->to_tws_send_validator},
                                        {LOCAL_TO_FIX, args->to_fix_send},
                                        {LOCAL_TO_TH_SESSION, args->to_th_session}};
    box_comm_info_container *container = args->container;
    logger_object *logger = args->logger;

    for (;;)
    {
        if (ea_flag_get(args->shutdown_flag) != 0)
        {
            ea_destroy_message_queue_array(locals, LOCAL_QUEUE_COUNT);
            return EA_SHUTDOWN;
        }
        if (ea_flag_get(args->day_flag) != 0)
        {
            logger_object_reopen(logger);
            ea_flag_set(args->day_flag, 0);
        }
        ea_status status =
            shared_queue_get_elements_from_multiple_queues(inputs, 2, locals, args->wait_time_ms);
        if (status == EA_ERROR)
            return box_comm_thread_fail(args, locals,
                                        "shared_queue_get_elements_from_multiple_queues returned EA_ERROR");
        if (status != EA_NO_DATA)
        {
            // Notifications go first: a host connection's HOST_CONNECTION_INITIATED and the
            // host's first answer over it can arrive in the same pass, and the answer is only
            // recognised once the connection's handle is known.
            if (queue_get_count(locals[LOCAL_NOTIFICATIONS]) != 0)
            {
                if (box_comm_info_container_process_notifications(
                        container, locals[LOCAL_NOTIFICATIONS], locals[LOCAL_TO_TH_SESSION],
                        locals[LOCAL_TO_TH_NETWORK], locals[LOCAL_TO_TWS], locals[LOCAL_TO_FIX],
                        locals[LOCAL_TO_INTERFACE], logger) != EA_SUCCESS)
                    return box_comm_thread_fail(args, locals, "process_notifications returned EA_ERROR");
                if (box_comm_thread_move(locals, after_notifications) != EA_SUCCESS)
                    return box_comm_thread_fail(args, locals, "shared_queue_insert failed");
            }
            if (queue_get_count(locals[LOCAL_FROM_TH_SESSION]) != 0)
            {
                if (box_comm_info_container_process_th_session_messages(
                        container, locals[LOCAL_FROM_TH_SESSION], locals[LOCAL_TO_TH_NETWORK],
                        locals[LOCAL_TO_TH_SESSION], locals[LOCAL_TO_INTERFACE], logger) != EA_SUCCESS)
                    return box_comm_thread_fail(args, locals,
                                                "process_th_session_messages returned EA_ERROR");
                if (box_comm_thread_move(locals, after_host_records) != EA_SUCCESS)
                    return box_comm_thread_fail(args, locals, "shared_queue_insert failed");
            }
        }
        if (box_comm_info_container_process_box(container, locals[LOCAL_TO_TH_NETWORK], locals[LOCAL_TO_TWS],
                                                locals[LOCAL_TO_FIX], locals[LOCAL_TO_TH_SESSION],
                                                logger) != EA_SUCCESS)
            return box_comm_thread_fail(args, locals, "process_box returned EA_ERROR");
        if (box_comm_thread_move(locals, after_pass) != EA_SUCCESS)
            return box_comm_thread_fail(args, locals, "shared_queue_insert failed");
    }
}
