// The box communication thread: the only thread that touches the box communication
// controller. It waits on the host's box records (shared queue 9) and the notifications
// (shared queue 14), hands them to the controller, runs the controller's timers on every
// pass (at least every 10 ms, traffic or not), and moves what the controller produced to
// the host session, host network, workstation, FIX and console queues.
#include "gateway/controller_module/box_comm_info_container.h"
#include "gateway/runtime/logger.h"
#include "gateway/runtime/queue.h"
#include "gateway/runtime/shared_queue.h"
#include "gateway/shared/worker_loop.h"

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

namespace
{
struct box_comm_steps : worker_steps
{
    box_comm_thread_args *args;
    box_comm_info_container *container;
    logger_object *logger;
    queue *locals[LOCAL_QUEUE_COUNT] = {};
    shared_queue *inputs[2];
    const box_comm_move after_host_records[3];
    const box_comm_move after_notifications[5];
    const box_comm_move after_pass[4];

    explicit box_comm_steps(box_comm_thread_args *a)
        : args(a), container(a->container), logger(a->logger), inputs{a->from_th_session, a->notifications},
          after_host_records{{LOCAL_TO_TH_NETWORK, a->to_th_network},
                             {LOCAL_TO_TH_SESSION, a->to_th_session},
                             {LOCAL_TO_INTERFACE, a->to_interface}},
          after_notifications{{LOCAL_TO_TH_SESSION, a->to_th_session},
                              {LOCAL_TO_TH_NETWORK, a->to_th_network},
                              {LOCAL_TO_TWS, a->to_tws_send_validator},
                              {LOCAL_TO_FIX, a->to_fix_send},
                              {LOCAL_TO_INTERFACE, a->to_interface}},
          after_pass{{LOCAL_TO_TH_NETWORK, a->to_th_network},
                     {LOCAL_TO_TWS, a->to_tws_send_validator},
                     {LOCAL_TO_FIX, a->to_fix_send},
                     {LOCAL_TO_TH_SESSION, a->to_th_session}}
    {
    }

    ea_status wait()
    {
        const ea_status status =
            shared_queue_get_elements_from_multiple_queues(inputs, 2, locals, args->wait_time_ms);
        if (status == EA_ERROR)
            return worker_step_failed(routine, logger,
                                      "shared_queue_get_elements_from_multiple_queues returned EA_ERROR");
        return status == EA_NO_DATA ? EA_NO_DATA : EA_SUCCESS;
    }

    // Notifications go first: a host connection's HOST_CONNECTION_INITIATED and the host's
    // first answer over it can arrive in the same pass, and the answer is only recognised
    // once the connection's handle is known.
    ea_status process()
    {
        if (queue_get_count(locals[LOCAL_NOTIFICATIONS]) != 0)
        {
            if (box_comm_info_container_process_notifications(
                    container, locals[LOCAL_NOTIFICATIONS], locals[LOCAL_TO_TH_SESSION],
                    locals[LOCAL_TO_TH_NETWORK], locals[LOCAL_TO_TWS], locals[LOCAL_TO_FIX],
                    locals[LOCAL_TO_INTERFACE], logger) != EA_SUCCESS)
                return worker_step_failed(routine, logger, "process_notifications returned EA_ERROR");
            if (box_comm_thread_move(locals, after_notifications) != EA_SUCCESS)
                return worker_step_failed(routine, logger, "shared_queue_insert failed");
        }
        if (queue_get_count(locals[LOCAL_FROM_TH_SESSION]) != 0)
        {
            if (box_comm_info_container_process_th_session_messages(
                    container, locals[LOCAL_FROM_TH_SESSION], locals[LOCAL_TO_TH_NETWORK],
                    locals[LOCAL_TO_TH_SESSION], locals[LOCAL_TO_INTERFACE], logger) != EA_SUCCESS)
                return worker_step_failed(routine, logger, "process_th_session_messages returned EA_ERROR");
            if (box_comm_thread_move(locals, after_host_records) != EA_SUCCESS)
                return worker_step_failed(routine, logger, "shared_queue_insert failed");
        }
        return EA_SUCCESS;
    }

    // The controller's timers run on every pass, traffic or not, and so does the count of
    // admission lines left out.
    ea_status each_pass()
    {
        log_fold_report_admissions(&container->tws_admission_lines, routine, logger, false);
        if (box_comm_info_container_process_box(container, locals[LOCAL_TO_TH_NETWORK], locals[LOCAL_TO_TWS],
                                                locals[LOCAL_TO_FIX], locals[LOCAL_TO_TH_SESSION],
                                                logger) != EA_SUCCESS)
            return worker_step_failed(routine, logger, "process_box returned EA_ERROR");
        if (box_comm_thread_move(locals, after_pass) != EA_SUCCESS)
            return worker_step_failed(routine, logger, "shared_queue_insert failed");
        return EA_SUCCESS;
    }

    void at_stop() { log_fold_report_admissions(&container->tws_admission_lines, routine, logger, true); }
};
} // namespace

uint32_t box_comm_thread(void *argument)
{
    return worker_thread_main_checked<box_comm_steps, box_comm_thread_args>(argument, __func__,
                                                                            "creation of local queue failed");
}
