// The host session thread: waits on the heart-beat notices of the host network thread,
// the packets of request processing, the box records of box communication and the
// host's records from the receive validator (in that order of handling), runs the host
// session layer on them, then, every pass, each link's response timer and flags.
#include "gateway/controller_module/box_comm_info_container.h"
#include "gateway/runtime/logger.h"
#include "gateway/runtime/message.h"
#include "gateway/runtime/queue.h"
#include "gateway/runtime/shared_queue.h"
#include "gateway/session_layer/th_session/host_session_info_container.h"
#include "gateway/shared/worker_loop.h"

namespace
{
enum
{
    IN_HEART_BEAT_NOTICES = 0,   // shared queue 18
    IN_REQUESTS = 1,             // shared queue 5
    IN_BOX_RECORDS = 2,          // shared queue 10
    IN_RESPONSES = 3,            // shared queue 13
    OUT_SEND_VALIDATOR = 4,      // shared queue 8
    OUT_RESPONSE_PROCESSING = 5, // shared queue 6
    OUT_BOX_COMM = 6,            // shared queue 9
    OUT_NOTIFICATIONS = 7,       // shared queue 14
    TH_SESSION_LOCAL_QUEUES = 8,
};
} // namespace

static ea_status th_session_module_move(queue *local, shared_queue *target)
{
    if (queue_get_count(local) == 0)
        return EA_SUCCESS;
    return shared_queue_insert(target, local);
}

// The heart beats the host network thread asked for. Like the other helper below, it logs
// under the name of the thread routine, `routine`.
static ea_status th_session_module_heart_beats(th_session_module_thread_args *args, queue *notices,
                                               const char *routine, const char **failure)
{
    logger_object *logger = args->logger;
    while (message *notice = static_cast<message *>(queue_remove_head(notices)))
    {
        if (notice->tag != GENERATE_HEART_BEAT_MESSAGE)
        {
            EA_LOG_IN(routine, logger, EA_LEVEL_SYSTEM_ERROR,
                      "Received invalid notification with tag [%d] for link index [%u]", notice->tag,
                      notice->link_index);
            message_destroy(notice);
            *failure = "Received invalid notification";
            return EA_ERROR;
        }
        EA_LOG_IN(
            routine, logger, EA_LEVEL_ACTIVITY,
            "Received GENERATE_HEART_BEAT_MESSAGE notification for link index [%u] and host nw handle [%d]",
            notice->link_index, notice->host_network_handle);
        message *beat =
            host_session_info_container_generate_heart_beat_message(args->container, notice, logger);
        message_destroy(notice);
        if (beat == nullptr)
        {
            *failure = "host_session_info_container_generate_heart_beat_message() ";
            return EA_ERROR;
        }
        uint16_t link = beat->link_index;
        int32_t handle = beat->host_network_handle;
        if (shared_queue_insert_single_element(args->to_th_send_validator, beat) != EA_SUCCESS)
        {
            message_destroy(beat);
            *failure = "shared queue insert failed";
            return EA_ERROR;
        }
        EA_LOG_IN(routine, logger, EA_LEVEL_ACTIVITY,
                  "Sent HEART_BEAT_MESSAGE for link index [%u] and host nw handle [%d]", link, handle);
    }
    return EA_SUCCESS;
}

static ea_status th_session_module_links(th_session_module_thread_args *args, const char *routine,
                                         const char **failure)
{
    host_session_info_container *container = args->container;
    logger_object *logger = args->logger;
    for (uint16_t link = 0; link < container->number_of_links; ++link)
    {
        uint16_t tag = 0;
        uint16_t reason = 0;
        if (host_session_info_container_process_timers(container, link, &tag, &reason, logger) ==
            HOST_SESSION_TIMER_EXPIRED)
        {
            message *notice = message_create(0, tag);
            if (notice == nullptr)
            {
                *failure = "message creation failed";
                return EA_ERROR;
            }
            notice->link_index = link;
            notice->host_network_handle =
                container->box_records->box_comm_info_array[link].host_nw_handle.load();
            notice->reason_code = reason;
            if (shared_queue_insert_single_element(args->notifications, notice) != EA_SUCCESS)
            {
                message_destroy(notice);
                *failure = "shared queue insert failed";
                return EA_ERROR;
            }
            EA_LOG_IN(routine, logger, EA_LEVEL_EVENT,
                      "Sent %s message to Box Communication Module with link index [%u]",
                      "HOST_SESSION_TIMED_OUT", link);
        }
        host_session_info_container_process_flags(container, link, logger);
    }
    return EA_SUCCESS;
}

namespace
{
struct th_session_steps : worker_steps
{
    th_session_module_thread_args *args;
    host_session_info_container *container;
    logger_object *logger;
    queue *locals[TH_SESSION_LOCAL_QUEUES] = {};
    shared_queue *inputs[4];

    explicit th_session_steps(th_session_module_thread_args *a)
        : args(a), container(a->container),
          logger(a->logger), inputs{a->from_th_network, a->from_request_processing, a->from_box_comm,
                                    a->from_th_receive_validator}
    {
    }

    ea_status wait()
    {
        const ea_status status =
            shared_queue_get_elements_from_multiple_queues(inputs, 4, locals, args->wait_time_ms);
        if (status == EA_ERROR)
            return worker_step_failed(routine, logger,
                                      "shared queue get elements from multiple queues failed");
        return status == EA_NO_DATA ? EA_NO_DATA : EA_SUCCESS;
    }

    ea_status process()
    {
        const char *failure = nullptr;
        if (th_session_module_heart_beats(args, locals[IN_HEART_BEAT_NOTICES], routine, &failure) !=
            EA_SUCCESS)
            return worker_step_failed(routine, logger, failure);

        if (queue_get_count(locals[IN_REQUESTS]) != 0)
        {
            if (host_session_info_container_process_request_messages(
                    container, locals[OUT_SEND_VALIDATOR], locals[IN_REQUESTS], logger) != EA_SUCCESS)
                return worker_step_failed(
                    routine, logger,
                    "host_session_info_container_process_request_messages returned EA_ERROR.");
            if (th_session_module_move(locals[OUT_SEND_VALIDATOR], args->to_th_send_validator) != EA_SUCCESS)
                return worker_step_failed(routine, logger, "shared queue insert failed");
        }
        if (queue_get_count(locals[IN_BOX_RECORDS]) != 0)
        {
            if (host_session_info_container_process_box_messages(
                    container, locals[OUT_SEND_VALIDATOR], locals[IN_BOX_RECORDS], logger) != EA_SUCCESS)
                return worker_step_failed(
                    routine, logger, "host_session_info_container_process_box_messages returned EA_ERROR.");
            if (th_session_module_move(locals[OUT_SEND_VALIDATOR], args->to_th_send_validator) != EA_SUCCESS)
                return worker_step_failed(routine, logger, "shared queue insert failed");
        }
        if (queue_get_count(locals[IN_RESPONSES]) != 0)
        {
            if (host_session_info_container_process_response_messages(
                    container, locals[OUT_RESPONSE_PROCESSING], locals[OUT_NOTIFICATIONS],
                    locals[OUT_SEND_VALIDATOR], locals[IN_RESPONSES], locals[OUT_BOX_COMM],
                    logger) != EA_SUCCESS)
                return worker_step_failed(
                    routine, logger,
                    "host_session_info_container_process_response_messages returned EA_ERROR.");
            if (th_session_module_move(locals[OUT_NOTIFICATIONS], args->notifications) != EA_SUCCESS ||
                th_session_module_move(locals[OUT_BOX_COMM], args->to_box_comm) != EA_SUCCESS ||
                th_session_module_move(locals[OUT_RESPONSE_PROCESSING], args->to_response_processing) !=
                    EA_SUCCESS ||
                th_session_module_move(locals[OUT_SEND_VALIDATOR], args->to_th_send_validator) != EA_SUCCESS)
                return worker_step_failed(routine, logger, "shared queue insert failed");
        }
        return EA_SUCCESS;
    }

    // Each link's response timer and flags, on every pass.
    ea_status each_pass()
    {
        const char *failure = nullptr;
        if (th_session_module_links(args, routine, &failure) != EA_SUCCESS)
            return worker_step_failed(routine, logger, failure);
        return EA_SUCCESS;
    }
};
} // namespace

uint32_t th_session_module_thread(void *argument)
{
    return worker_thread_main_checked<th_session_steps, th_session_module_thread_args>(
        argument, __func__, "malloc failed for input local queues.");
}
