// The host network thread (thread 9). One pass: wait for sockets and input queues, pass
// the frames read on, carry out the records from the host send validator and from box
// communication in arrival order, then send what is pending and give the pull, heart-beat
// and invitation-flag notices. Flushes mark a point in a record stream: an initiation
// from box communication enters the inbound stream behind the frames already read, a
// flush from the host session layer comes back to box communication once every frame
// sent before it has been queued on the link. A box logon that comes too soon after
// connections the host ended at once, or after a connect that failed, waits for the link's
// back-off (th_nw_backoff.h), so that such a host, or one that is down, cannot make the
// gateway reconnect in a tight loop while clients arrive; a relogon of session recovery
// never waits here. What the thread writes about a link's attempts to connect, and the
// console events 12009 of its failed connects, go through the link's fold
// (th_nw_connect_fold.h).
#include "gateway/th_network_handle/th_nw_handler_thread.h"

#include "common/ea_time.h"
#include "gateway/runtime/logger.h"
#include "gateway/runtime/message.h"
#include "gateway/runtime/queue.h"
#include "gateway/runtime/shared_queue.h"
#include "gateway/shared/worker_loop.h"
#include "gateway/th_network_handle/th_nw_info.h"

namespace
{
enum
{
    LOCAL_FROM_SEND_VALIDATOR = 0, // queue 11
    LOCAL_FROM_BOX_COMM = 1,       // queue 16
    LOCAL_FRAMES_READ = 2,
    LOCAL_PULL_NOTICES = 3,
    LOCAL_NOTIFICATIONS = 4,
    LOCAL_HEART_BEAT_NOTICES = 5,
    LOCAL_QUEUE_COUNT = 6,
};

const char *th_nw_tag_name(uint16_t tag)
{
    switch (tag)
    {
    case BOX_LOGON_REQUEST:
        return "BOX_LOGON_REQUEST";
    case BOX_RELOGON_REQUEST:
        return "BOX_RELOGON_REQUEST";
    case BOX_LOGOFF_FLUSH:
        return "BOX_LOGOFF_FLUSH";
    case SESSION_RECOVERY_FLUSH:
        return "SESSION_RECOVERY_FLUSH";
    case RECVD_BOX_LOGOFF_FLUSH:
        return "RECVD_BOX_LOGOFF_FLUSH";
    case RECVD_SESSION_RECOVERY_FLUSH:
        return "RECVD_SESSION_RECOVERY_FLUSH";
    case DROP_HOST_CONNECTION:
        return "DROP_HOST_CONNECTION";
    case DROP_HOST_SESSION:
        return "DROP_HOST_SESSION";
    default:
        return "UNKNOWN";
    }
}

// Puts a record on a shared queue; on refusal the record is freed. Like every helper of the
// thread, it logs under the name of the thread routine, `routine`.
ea_status th_nw_put(shared_queue *sq, message *msg, const char *failure_text, logger_object *logger,
                    const char *routine)
{
    if (shared_queue_insert_single_element(sq, msg) == EA_SUCCESS)
        return EA_SUCCESS;
    EA_LOG_IN(routine, logger, EA_LEVEL_SYSTEM_ERROR, "%s", failure_text);
    EA_FREE_CHECKED(msg, message_destroy, "message");
    return EA_ERROR;
}

// A record becomes a console event: no data, no user.
void th_nw_make_console_event(message *msg)
{
    msg->tag = KOVA_MESSAGE;
    msg->user_id = 0xFFFFFFFFu;
    msg->data = msg->buffer_base;
    msg->data_length = 0;
}

// Connects the link for a box logon or relogon request and queues the request as the
// new connection's first frame.
ea_status th_nw_connect_link(th_nw_handler_thread_args *args, message *msg, const char *routine)
{
    th_nw_info *links = args->th_nw_info_p;
    logger_object *logger = args->logger;
    uint16_t link_index = msg->link_index;
    int32_t handle = -1;
    ea_status status = th_nw_info_connect(links, link_index, &handle, logger);
    if (status == EA_ERROR)
    {
        EA_LOG_IN(routine, logger, EA_LEVEL_SYSTEM_ERROR, "th_nw_info_connect() returned EA_ERROR");
        EA_FREE_CHECKED(msg, message_destroy, "message");
        return EA_ERROR;
    }
    if (status != EA_SUCCESS)
    {
        msg->tag = HOST_CONNECTION_FAILED;
        msg->reason_code = TH_REASON_CONNECT_FAILED;
        TH_NW_LOG_LINK_IN(
            routine, links, link_index, logger, EA_LEVEL_EVENT,
            "Sending HOST_CONNECTION_FAILED message to box_comm_module for nw handle [%d] having link index [%u] with reason code [%d]",
            msg->host_network_handle, link_index, msg->reason_code);
        th_nw_info_note_connect_failed(links, link_index);
        return th_nw_put(args->notification_queue, msg, "Shared queue insertion operation failed", logger,
                         routine);
    }
    msg->host_network_handle = handle;
    if (th_nw_info_send_mesg(links, msg, logger) == EA_ERROR)
    {
        EA_LOG_IN(routine, logger, EA_LEVEL_SYSTEM_ERROR, "th_nw_info_send_mesg() returned EA_ERROR");
        return EA_ERROR;
    }
    message *initiated = message_create(0, HOST_CONNECTION_INITIATED);
    if (initiated == nullptr)
    {
        EA_LOG_IN(routine, logger, EA_LEVEL_SYSTEM_ERROR, "Error while creating message.");
        return EA_ERROR;
    }
    initiated->host_network_handle = handle;
    initiated->link_index = link_index;
    TH_NW_LOG_LINK_IN(
        routine, links, link_index, logger, EA_LEVEL_EVENT,
        "Sending HOST_CONNECTION_INITIATED message to box_comm_module for nw handle [%d] having link index [%u]",
        handle, link_index);
    return th_nw_put(args->notification_queue, initiated, "Shared queue insertion operation failed", logger,
                     routine);
}

// A held connect order is overtaken by the controller's next order for the link.
void th_nw_discard_held_order(th_nw_info *links, uint16_t link_index, const char *because,
                              logger_object *logger, const char *routine)
{
    th_nw_connect_attempts *attempts = &links->connect_attempts[link_index];
    if (attempts->held_order == nullptr)
        return;
    TH_NW_LOG_LINK_IN(routine, links, link_index, logger, EA_LEVEL_EVENT,
                      "Discarding the held %s for link index [%u]: %s",
                      th_nw_tag_name(attempts->held_order->tag), link_index, because);
    EA_FREE_CHECKED(attempts->held_order, message_destroy, "held_order");
}

// A box logon or relogon request: the link's connection goes at once; the new one is made
// now, or, for a logon, held until the link's back-off allows it. A newer order takes the
// place of a held one.
ea_status th_nw_connect_order(th_nw_handler_thread_args *args, message *msg, const char *routine)
{
    th_nw_info *links = args->th_nw_info_p;
    logger_object *logger = args->logger;
    uint16_t link_index = msg->link_index;
    th_nw_connect_attempts *attempts = &links->connect_attempts[link_index];
    th_nw_info_begin_attempt(links, link_index, logger);
    TH_NW_LOG_LINK_IN(routine, links, link_index, logger, EA_LEVEL_EVENT,
                      "Received %s message for nw handle [%d] having link index [%u]",
                      th_nw_tag_name(msg->tag), msg->host_network_handle, link_index);
    if (links->th_nw_handle_list[link_index].network_handle != -1)
        th_nw_info_disconnect_link(links, link_index, logger);
    th_nw_discard_held_order(links, link_index, "a newer connect order replaces it", logger, routine);

    const uint32_t now = ea_get_tick_count();
    const uint32_t wait = msg->tag == BOX_LOGON_REQUEST ? th_nw_backoff_wait(&attempts->backoff, now) : 0;
    if (wait == 0)
        return th_nw_connect_link(args, msg, routine);
    attempts->held_order = msg;
    if (wait == th_nw_backoff_refused_wait(&attempts->backoff, now))
        TH_NW_LOG_LINK_IN(
            routine, links, link_index, logger, EA_LEVEL_EVENT,
            "Host connection attempt for link index [%u] held back [%u] ms: its last connect failed",
            link_index, wait);
    else
        TH_NW_LOG_LINK_IN(
            routine, links, link_index, logger, EA_LEVEL_EVENT,
            "Host connection attempt for link index [%u] held back [%u] ms: [%u] connections in a row ended within [%u] ms of being established",
            link_index, wait, attempts->backoff.ended_at_once, TH_NW_BACKOFF_AT_ONCE_MS);
    return EA_SUCCESS;
}

// Makes the held box logons whose wait is over.
ea_status th_nw_release_held_orders(th_nw_handler_thread_args *args, const char *routine)
{
    th_nw_info *links = args->th_nw_info_p;
    const uint32_t now = ea_get_tick_count();
    for (uint16_t link_index = 0; link_index < links->nclients; ++link_index)
    {
        th_nw_connect_attempts *attempts = &links->connect_attempts[link_index];
        if (attempts->held_order == nullptr || th_nw_backoff_wait(&attempts->backoff, now) != 0)
            continue;
        message *msg = attempts->held_order;
        attempts->held_order = nullptr;
        TH_NW_LOG_LINK_IN(routine, links, link_index, args->logger, EA_LEVEL_EVENT,
                          "Making the held %s for link index [%u]", th_nw_tag_name(msg->tag), link_index);
        if (th_nw_connect_link(args, msg, routine) != EA_SUCCESS)
            return EA_ERROR;
    }
    return EA_SUCCESS;
}

// DROP_HOST_CONNECTION and DROP_HOST_SESSION: the link's connection goes. The session's
// drop becomes a console event; one for a failed connect (12009) is the end of that connect's
// story and goes through the link's fold, one for another reason ends a quiet attempt.
ea_status th_nw_drop(th_nw_handler_thread_args *args, message *msg, const char *routine)
{
    th_nw_info *links = args->th_nw_info_p;
    logger_object *logger = args->logger;
    const uint16_t link_index = msg->link_index;
    const bool failed_connect = msg->tag == DROP_HOST_SESSION && msg->reason_code == TH_REASON_CONNECT_FAILED;
    if (msg->tag == DROP_HOST_SESSION && !failed_connect)
        th_nw_info_settle_attempt(links, link_index, logger);
    TH_NW_LOG_LINK_IN(routine, links, link_index, logger, EA_LEVEL_EVENT,
                      "Received %s message for nw handle [%d] having link index [%u]",
                      th_nw_tag_name(msg->tag), msg->host_network_handle, link_index);
    th_nw_info_disconnect_link(links, link_index, logger);
    th_nw_discard_held_order(links, link_index, "the link's connection is dropped", logger, routine);
    if (msg->tag == DROP_HOST_CONNECTION ||
        (failed_connect && !th_nw_connect_fold_event(&links->connect_attempts[link_index].fold)))
    {
        EA_FREE_CHECKED(msg, message_destroy, "message");
        return EA_SUCCESS;
    }
    th_nw_make_console_event(msg);
    TH_NW_LOG_LINK_IN(routine, links, link_index, logger, EA_LEVEL_EVENT,
                      "Sending KOVA_MESSAGE to Interface Thread having link index [%u] and reason code [%d]",
                      link_index, msg->reason_code);
    return th_nw_put(args->interface_queue, msg, "insertion to shared queue failed.", logger, routine);
}

// What the links' folds counted and that is due now (with `all`, everything: the stop): a
// line for the lines, and one console event 12009 per link that carries the count of the
// events as its extra info.
ea_status th_nw_fold_reports(th_nw_handler_thread_args *args, bool all, const char *routine)
{
    th_nw_info *links = args->th_nw_info_p;
    logger_object *logger = args->logger;
    th_nw_info_connect_fold_lines(links, all, logger);
    for (uint16_t link_index = 0; link_index < links->nclients; ++link_index)
    {
        const uint32_t count = th_nw_connect_fold_events_due(&links->connect_attempts[link_index].fold, all);
        if (count == 0)
            continue;
        message *event = message_create(0, KOVA_MESSAGE);
        if (event == nullptr)
        {
            EA_LOG_IN(routine, logger, EA_LEVEL_SYSTEM_ERROR, "message_create failed");
            return EA_ERROR;
        }
        th_nw_make_console_event(event);
        event->link_index = link_index;
        event->reason_code = TH_REASON_CONNECT_FAILED;
        event->event_value = static_cast<int32_t>(count);
        if (th_nw_put(args->interface_queue, event, "insertion to shared queue failed.", logger, routine) !=
            EA_SUCCESS)
            return EA_ERROR;
        EA_LOG_IN(routine, logger, EA_LEVEL_EVENT,
                  "The KOVA_MESSAGE counts [%u] events with reason code [%d] for link index [%u].", count,
                  TH_REASON_CONNECT_FAILED, link_index);
    }
    return EA_SUCCESS;
}

ea_status th_nw_handle_from_send_validator(th_nw_handler_thread_args *args, message *msg, uint32_t waiting,
                                           const char *routine)
{
    th_nw_info *links = args->th_nw_info_p;
    logger_object *logger = args->logger;
    if (msg->link_index >= links->nclients)
    {
        EA_LOG_IN(routine, logger, EA_LEVEL_DEBUG, "Invalid link_index [%d]. th_nw_info->nclients is [%d]",
                  msg->link_index, links->nclients);
        EA_FREE_CHECKED(msg, message_destroy, "message");
        return EA_SUCCESS;
    }
    switch (msg->tag)
    {
    case BOX_LOGON_REQUEST:
    case BOX_RELOGON_REQUEST:
        logger_object_stamp_message(logger, msg, waiting);
        return th_nw_connect_order(args, msg, routine);
    case HEART_BEAT_MESSAGE:
        EA_LOG_IN(routine, logger, EA_LEVEL_ACTIVITY,
                  "Received HEART_BEAT_MESSAGE for nw handle [%d] having link index [%u]",
                  msg->host_network_handle, msg->link_index);
        [[fallthrough]];
    case NORMAL_MESSAGE:
        logger_object_stamp_message(logger, msg, waiting);
        if (th_nw_info_send_mesg(links, msg, logger) == EA_ERROR)
        {
            EA_LOG_IN(routine, logger, EA_LEVEL_SYSTEM_ERROR, "th_nw_info_send_mesg() returned EA_ERROR");
            return EA_ERROR;
        }
        return EA_SUCCESS;
    case BOX_LOGOFF_FLUSH:
    case SESSION_RECOVERY_FLUSH:
    {
        uint16_t answer =
            msg->tag == BOX_LOGOFF_FLUSH ? RECVD_BOX_LOGOFF_FLUSH : RECVD_SESSION_RECOVERY_FLUSH;
        EA_LOG_IN(routine, logger, EA_LEVEL_EVENT,
                  "Received %s message for nw handle [%d] having link index [%u]", th_nw_tag_name(msg->tag),
                  msg->host_network_handle, msg->link_index);
        EA_LOG_IN(routine, logger, EA_LEVEL_EVENT,
                  "Sending %s message for nw handle [%d] having link index [%u]", th_nw_tag_name(answer),
                  msg->host_network_handle, msg->link_index);
        msg->tag = answer;
        return th_nw_put(args->notification_queue, msg, "Shared queue insertion operation failed", logger,
                         routine);
    }
    case DROP_HOST_CONNECTION:
    case DROP_HOST_SESSION:
        return th_nw_drop(args, msg, routine);
    default:
        EA_LOG_IN(routine, logger, EA_LEVEL_SYSTEM_ERROR,
                  "Unexpected message received. Message tag [%d]. Discarding message", msg->tag);
        EA_FREE_CHECKED(msg, message_destroy, "message");
        return EA_SUCCESS;
    }
}

ea_status th_nw_handle_from_box_comm(th_nw_handler_thread_args *args, message *msg, const char *routine)
{
    th_nw_info *links = args->th_nw_info_p;
    logger_object *logger = args->logger;
    if (msg->link_index >= links->nclients)
    {
        EA_LOG_IN(routine, logger, EA_LEVEL_DEBUG, "Invalid link_index [%d]. th_nw_info->nclients is [%d]",
                  msg->link_index, links->nclients);
        EA_FREE_CHECKED(msg, message_destroy, "message");
        return EA_SUCCESS;
    }
    switch (msg->tag)
    {
    case INITIATE_BOX_LOGOFF_FLUSH:
    {
        EA_LOG_IN(
            routine, logger, EA_LEVEL_EVENT,
            "Received INITIATE_BOX_LOGOFF_FLUSH message for nw handle [%d] having link index [%u] and reason code [%d]",
            msg->host_network_handle, msg->link_index, msg->reason_code);
        th_nw_info_disconnect_link(links, msg->link_index, logger);
        th_nw_discard_held_order(links, msg->link_index, "the box logs off", logger, routine);
        message *event = message_copy(msg);
        if (event == nullptr)
        {
            EA_LOG_IN(routine, logger, EA_LEVEL_SYSTEM_ERROR, "Message copying failed.");
            EA_FREE_CHECKED(msg, message_destroy, "message");
            return EA_ERROR;
        }
        th_nw_make_console_event(event);
        EA_LOG_IN(routine, logger, EA_LEVEL_EVENT,
                  "Sending KOVA_MESSAGE message for link index [%u] reason code [%d]", event->link_index,
                  event->reason_code);
        if (th_nw_put(args->interface_queue, event, "Shared queue insertion operation failed", logger,
                      routine) != EA_SUCCESS)
        {
            EA_FREE_CHECKED(msg, message_destroy, "message");
            return EA_ERROR;
        }
        EA_LOG_IN(
            routine, logger, EA_LEVEL_EVENT,
            "Sending BOX_LOGOFF_FLUSH message for nw handle [%d] having link index [%u] reason code [%d]",
            msg->host_network_handle, msg->link_index, msg->reason_code);
        msg->tag = BOX_LOGOFF_FLUSH;
        return th_nw_put(args->receive_validator_queue, msg, "Shared queue insertion operation failed",
                         logger, routine);
    }
    case INITIATE_SESSION_RECOVERY_FLUSH:
        EA_LOG_IN(routine, logger, EA_LEVEL_EVENT,
                  "Received INITIATE_SESSION_RECOVERY_FLUSHmessage for nw handle [%d] having link index [%u]",
                  msg->host_network_handle, msg->link_index);
        th_nw_info_disconnect_link(links, msg->link_index, logger);
        th_nw_discard_held_order(links, msg->link_index, "the session's recovery starts", logger, routine);
        EA_LOG_IN(routine, logger, EA_LEVEL_EVENT,
                  "Sending SESSION_RECOVERY_FLUSH message for nw handle [%d] having link index [%u]",
                  msg->host_network_handle, msg->link_index);
        msg->tag = SESSION_RECOVERY_FLUSH;
        return th_nw_put(args->receive_validator_queue, msg, "Shared queue insertion operation failed",
                         logger, routine);
    case INITIATE_SESSION_RECOVERED_FLUSH:
        EA_LOG_IN(
            routine, logger, EA_LEVEL_EVENT,
            "Received INITIATE_SESSION_RECOVERED_FLUSH message for nw handle [%d] having link index [%u] and host last receive sequence number [%d]",
            msg->host_network_handle, msg->link_index, msg->last_sequence_number);
        EA_LOG_IN(
            routine, logger, EA_LEVEL_EVENT,
            "Sending SESSION_RECOVERED_FLUSH message for nw handle [%d] having link index [%u] and host last receive sequence number [%d]",
            msg->host_network_handle, msg->link_index, msg->last_sequence_number);
        msg->tag = SESSION_RECOVERED_FLUSH;
        return th_nw_put(args->receive_validator_queue, msg, "Shared queue insertion operation failed",
                         logger, routine);
    default:
        EA_LOG_IN(routine, logger, EA_LEVEL_SYSTEM_ERROR,
                  "Unexpected message received. Message tag [%d]. Discarding message", msg->tag);
        EA_FREE_CHECKED(msg, message_destroy, "message");
        return EA_SUCCESS;
    }
}

// Moves every record of a local queue to a shared queue, one by one.
ea_status th_nw_move_each(queue *local, shared_queue *sq, logger_object *logger, const char *routine)
{
    while (message *msg = static_cast<message *>(queue_remove_head(local)))
    {
        if (th_nw_put(sq, msg, "Shared queue insertion operation failed", logger, routine) != EA_SUCCESS)
            return EA_ERROR;
    }
    return EA_SUCCESS;
}

ea_status th_nw_insert_all(queue *local, shared_queue *sq, const char *failure_text, logger_object *logger,
                           const char *routine)
{
    if (queue_get_count(local) == 0)
        return EA_SUCCESS;
    if (shared_queue_insert(sq, local) == EA_SUCCESS)
        return EA_SUCCESS;
    EA_LOG_IN(routine, logger, EA_LEVEL_SYSTEM_ERROR, "%s", failure_text);
    return EA_ERROR;
}

// The wait for sockets and input queues; EA_ERROR ends the thread. The loop's own lines
// are logged under the name of the thread routine, `routine`.
ea_status th_nw_wait(th_nw_handler_thread_args *args, queue **locals, const char *routine)
{
    shared_queue *inputs[2] = {args->send_validator_queue, args->box_comm_queue};
    queue *input_locals[2] = {locals[LOCAL_FROM_SEND_VALIDATOR], locals[LOCAL_FROM_BOX_COMM]};
    if (th_nw_info_get_elements(args->th_nw_info_p, args->frame_limit, inputs, 2, args->wait_time_ms,
                                locals[LOCAL_FRAMES_READ], locals[LOCAL_NOTIFICATIONS], input_locals,
                                args->logger) == EA_ERROR)
    {
        EA_LOG_IN(routine, args->logger, EA_LEVEL_SYSTEM_ERROR, "th_nw_info_get_elements returns ERROR");
        return EA_ERROR;
    }
    return EA_SUCCESS;
}

// One pass after the wait, whatever it brought; EA_ERROR ends the thread.
ea_status th_nw_pass(th_nw_handler_thread_args *args, queue **locals, const char *routine)
{
    th_nw_info *links = args->th_nw_info_p;
    logger_object *logger = args->logger;
    // Before the records, so that an attempt a second after the last failed connect finds
    // its spell over.
    if (th_nw_fold_reports(args, false, routine) != EA_SUCCESS)
        return EA_ERROR;
    if (th_nw_insert_all(locals[LOCAL_FRAMES_READ], args->receive_validator_queue,
                         "Shared queue insertion operation failed", logger, routine) != EA_SUCCESS)
        return EA_ERROR;

    queue *from_validator = locals[LOCAL_FROM_SEND_VALIDATOR];
    while (message *msg = static_cast<message *>(queue_remove_head(from_validator)))
    {
        if (th_nw_handle_from_send_validator(args, msg, queue_get_count(from_validator), routine) !=
            EA_SUCCESS)
            return EA_ERROR;
    }
    while (message *msg = static_cast<message *>(queue_remove_head(locals[LOCAL_FROM_BOX_COMM])))
    {
        if (th_nw_handle_from_box_comm(args, msg, routine) != EA_SUCCESS)
            return EA_ERROR;
    }
    if (th_nw_release_held_orders(args, routine) != EA_SUCCESS)
        return EA_ERROR;
    if (th_nw_move_each(locals[LOCAL_NOTIFICATIONS], args->notification_queue, logger, routine) != EA_SUCCESS)
        return EA_ERROR;
    if (th_nw_info_check_queue_thresholds(links, logger) != EA_SUCCESS)
    {
        EA_LOG_IN(routine, logger, EA_LEVEL_SYSTEM_ERROR, "th_nw_info_check_queue_thresholds() failed");
        return EA_ERROR;
    }
    if (th_nw_info_send_pending(links, locals[LOCAL_PULL_NOTICES], logger) != EA_SUCCESS)
    {
        EA_LOG_IN(routine, logger, EA_LEVEL_SYSTEM_ERROR, "th_nw_info_send_pending() failed");
        return EA_ERROR;
    }
    if (th_nw_insert_all(locals[LOCAL_PULL_NOTICES], args->pull_queue, "shared_queue_insert failed", logger,
                         routine) != EA_SUCCESS)
        return EA_ERROR;
    if (th_nw_info_check_queue_thresholds(links, logger) != EA_SUCCESS)
    {
        EA_LOG_IN(routine, logger, EA_LEVEL_SYSTEM_ERROR, "th_nw_info_check_queue_thresholds() failed");
        return EA_ERROR;
    }
    if (th_nw_info_process_links(links, locals[LOCAL_HEART_BEAT_NOTICES], logger) != EA_SUCCESS)
    {
        EA_LOG_IN(routine, logger, EA_LEVEL_SYSTEM_ERROR, "th_nw_info_process_links() failed");
        return EA_ERROR;
    }
    return th_nw_insert_all(locals[LOCAL_HEART_BEAT_NOTICES], args->heart_beat_queue,
                            "shared_queue_insert() failed", logger, routine);
}

struct th_nw_steps : worker_steps
{
    th_nw_handler_thread_args *args;
    queue *locals[LOCAL_QUEUE_COUNT];

    ea_status wait() { return th_nw_wait(args, locals, routine); }
    ea_status process() { return th_nw_pass(args, locals, routine); }
    // What the folds still count is said before the thread ends.
    void at_stop() { th_nw_fold_reports(args, true, routine); }
};
} // namespace

uint32_t th_nw_handler_thread(void *argument)
{
    th_nw_handler_thread_args *args = static_cast<th_nw_handler_thread_args *>(argument);
    if (args == nullptr)
    {
        EA_LOG(nullptr, EA_LEVEL_SYSTEM_ERROR, "Thread arguments not available");
        return EA_ERROR;
    }
    th_nw_steps steps{{}, args, {}};
    steps.routine = __func__;
    const int missing = worker_queues_create(steps.locals);
    if (missing >= 0)
    {
        EA_LOG(args->logger, EA_LEVEL_SYSTEM_ERROR, "Local queue creation failed for queue [%d]", missing);
        return worker_thread_end(args->shutdown_flag, steps.locals, EA_ERROR);
    }
    const ea_status result = worker_loop_run(steps, args->shutdown_flag, args->day_flag, args->logger);
    steps.at_stop();
    return worker_thread_end(args->shutdown_flag, steps.locals, result);
}
