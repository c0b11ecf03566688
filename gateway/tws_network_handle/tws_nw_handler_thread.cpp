// The workstation network thread: each pass waits for network events and for records
// from the workstation send validator, forwards the frames read to the receive validator,
// tells box communication of new connections, acts on the control records coming down
// from the session layer and box communication, sends invitations and queued records, and
// raises console events. Whatever a single workstation does wrong ends only its own
// connection; a failure of the thread's own stops the gateway. What the thread writes about
// a connection that has not signed on is held until it does (log_hold.h), and the console
// events about such connections are folded per reason code and user.
#include "gateway/tws_network_handle/tws_nw_handler_thread.h"

#include "gateway/runtime/logger.h"
#include "gateway/runtime/message.h"
#include "gateway/runtime/queue.h"
#include "gateway/runtime/shared_queue.h"
#include "gateway/shared/worker_loop.h"
#include "gateway/tws_network_handle/tcp_nw_info.h"

namespace
{
enum
{
    LOCAL_INPUT = 0,
    LOCAL_DATA = 1,
    LOCAL_DISCONNECTS = 2,
    LOCAL_NOTIFICATIONS = 3,
    LOCAL_QUEUE_COUNT = 4,
};

const uint32_t k_gateway_user_id = 0xFFFFFFFFu; // user id -1: an event of the gateway itself

struct tws_nw_handler_state
{
    tws_nw_handler_thread_args *args;
    queue *locals[LOCAL_QUEUE_COUNT];
};

const char *tws_nw_handler_tag_name(uint16_t tag)
{
    switch (tag)
    {
    case USER_LOGOFF_FLUSH:
        return "USER_LOGOFF_FLUSH";
    case DROP_CLIENT:
        return "DROP_CLIENT";
    case CONNECTION_ACCEPT:
        return "CONNECTION_ACCEPT";
    case NEW_CONNECTION_REJECT:
        return "NEW_CONNECTION_REJECT";
    default:
        return "UNKNOWN";
    }
}

ea_status tws_nw_handler_insert(shared_queue *target, message *msg, const char *routine,
                                logger_object *logger)
{
    if (shared_queue_insert_single_element(target, msg) != EA_SUCCESS)
    {
        EA_LOG_IN(routine, logger, EA_LEVEL_SYSTEM_ERROR, "shared_queue_insert_single_element failed");
        return EA_ERROR;
    }
    return EA_SUCCESS;
}

// A console event with a reason code about `user_id` (-1: the gateway itself, 0: a
// connection that named no user) and, when the event counts something, that count as its
// extra info; its line goes to `held` (none: written at once).
ea_status tws_nw_handler_console_event(tws_nw_handler_thread_args *args, const char *routine,
                                       uint16_t reason_code, int32_t extra_info = -1,
                                       uint32_t user_id = k_gateway_user_id, log_hold_entry *held = nullptr)
{
    message *event = message_create(0, KOVA_MESSAGE);
    if (event == nullptr)
    {
        EA_LOG_IN(routine, args->logger, EA_LEVEL_SYSTEM_ERROR, "message_create failed");
        return EA_ERROR;
    }
    event->user_id = user_id;
    event->reason_code = reason_code;
    event->event_value = extra_info;
    if (tws_nw_handler_insert(args->console_out, event, routine, args->logger) != EA_SUCCESS)
    {
        message_destroy(event);
        return EA_ERROR;
    }
    EA_LOG_HELD_IN(routine, held, args->logger, EA_LEVEL_EVENT,
                   "Sent KOVA_MESSAGE to Interface Thread with reason code [%d].", reason_code);
    return EA_SUCCESS;
}

// USER_LOGOFF_FLUSH and DROP_CLIENT: the session layer is done with the connection. The
// console event about a connection on which no user signed on is folded with the others of
// its reason code and user.
ea_status tws_nw_handler_disconnect(tws_nw_handler_thread_args *args, message *msg, const char *routine)
{
    logger_object *logger = args->logger;
    tcp_nw_info *server = args->server;
    const bool unsigned_connection = tcp_nw_info_is_unsigned(server, msg);
    if (unsigned_connection)
        log_hold_set_reason(log_hold_of_record(server->held_lines, msg), msg->reason_code);
    EA_LOG_HELD_IN(routine, log_hold_of_record(server->held_lines, msg), logger, EA_LEVEL_EVENT,
                   "Received %s message for tws nw handle [%d] and tws index [%u] with reason code [%d].",
                   tws_nw_handler_tag_name(msg->tag), msg->workstation_network_handle, msg->workstation_index,
                   msg->reason_code);
    if (tcp_nw_info_disconnect_client(server, msg, logger) == EA_ERROR)
    {
        EA_LOG_IN(routine, logger, EA_LEVEL_SYSTEM_ERROR, "tcp_nw_info_disconnect_client failed");
        return EA_ERROR;
    }
    if (unsigned_connection && !tcp_nw_info_unsigned_event(server, msg->reason_code, msg->user_id))
        return EA_SUCCESS;
    message *event = message_copy(msg);
    if (event == nullptr)
    {
        EA_LOG_IN(routine, logger, EA_LEVEL_SYSTEM_ERROR, "creation of notification_message_ptr failed");
        return EA_ERROR;
    }
    event->tag = KOVA_MESSAGE;
    event->flags = 0;
    event->data = event->buffer_base;
    event->data_length = 0;
    if (tws_nw_handler_insert(args->console_out, event, routine, logger) != EA_SUCCESS)
    {
        message_destroy(event);
        return EA_ERROR;
    }
    EA_LOG_HELD_IN(routine, log_hold_of_record(server->held_lines, msg), logger, EA_LEVEL_EVENT,
                   "Sent KOVA_MESSAGE to Interface Thread with user id [%ld] and reason code [%d].",
                   static_cast<long>(static_cast<int32_t>(msg->user_id)), msg->reason_code);
    return EA_SUCCESS;
}

// Acts on one record from the send validator; it is consumed whatever the outcome. Like
// every helper of the thread, it logs under the name of the thread routine, `routine`.
ea_status tws_nw_handler_dispatch(tws_nw_handler_state *state, message *msg, const char *routine)
{
    tws_nw_handler_thread_args *args = state->args;
    logger_object *logger = args->logger;
    switch (msg->tag)
    {
    case NORMAL_MESSAGE:
    case SECONDARY_JOURNAL_DOWNLOAD_REQUEST:
    {
        if (msg->tag == NORMAL_MESSAGE)
            logger_object_stamp_message(logger, msg, queue_get_count(state->locals[LOCAL_INPUT]));
        int32_t handle = msg->workstation_network_handle;
        uint32_t sequence = msg->sequence_number;
        if (tcp_nw_info_send_mesg(args->server, msg, state->locals[LOCAL_NOTIFICATIONS], logger) == EA_ERROR)
        {
            EA_LOG_IN(routine, logger, EA_LEVEL_SYSTEM_ERROR,
                      "tcp_nw_info_send_mesg failed for handle [%d], sequence number [%lu]", handle,
                      static_cast<unsigned long>(sequence));
            return EA_ERROR;
        }
        return EA_SUCCESS;
    }
    case USER_LOGOFF_FLUSH:
    case DROP_CLIENT:
        if (tws_nw_handler_disconnect(args, msg, routine) != EA_SUCCESS)
        {
            message_destroy(msg);
            return EA_ERROR;
        }
        if (msg->tag == DROP_CLIENT)
        {
            message_destroy(msg);
            return EA_SUCCESS;
        }
        // The session layer takes the flush back as the confirmation that the connection is gone.
        if (tws_nw_handler_insert(args->data_out, msg, routine, logger) != EA_SUCCESS)
        {
            message_destroy(msg);
            return EA_ERROR;
        }
        return EA_SUCCESS;
    case BOX_LOGOFF_FLUSH:
        EA_LOG_IN(routine, logger, EA_LEVEL_EVENT,
                  "Received BOX_LOGOFF_FLUSH message for link index [%u]. Forwarding the same.",
                  msg->link_index);
        if (tws_nw_handler_insert(args->data_out, msg, routine, logger) != EA_SUCCESS)
        {
            message_destroy(msg);
            return EA_ERROR;
        }
        return EA_SUCCESS;
    case CONNECTION_ACCEPT:
    case NEW_CONNECTION_REJECT:
    {
        // Every answer of the box serves all the sockets waiting: its lines are folded with
        // the other admission lines.
        log_fold *fold = &args->server->admission_lines;
        EA_LOG_FOLDED_IN(routine, fold, logger, EA_LEVEL_EVENT, "Received %s message.",
                         tws_nw_handler_tag_name(msg->tag));
        int32_t operation = TCP_NW_INFO_ADMIT;
        if (msg->tag == NEW_CONNECTION_REJECT)
        {
            operation = TCP_NW_INFO_REFUSE;
            if (tcp_nw_info_unsigned_event(args->server, TWS_REASON_CONNECTIONS_REJECTED,
                                           k_gateway_user_id) &&
                tws_nw_handler_console_event(args, routine, TWS_REASON_CONNECTIONS_REJECTED, -1,
                                             k_gateway_user_id) != EA_SUCCESS)
            {
                message_destroy(msg);
                return EA_ERROR;
            }
        }
        if (tcp_nw_info_process_incoming_clients(args->server, operation, msg,
                                                 state->locals[LOCAL_NOTIFICATIONS], logger) == EA_ERROR)
        {
            EA_LOG_IN(routine, logger, EA_LEVEL_SYSTEM_ERROR, "tcp_nw_info_process_incoming_clients failed");
            return EA_ERROR;
        }
        return EA_SUCCESS;
    }
    case UPDATE_LINK_INDEX:
        EA_LOG_HELD_IN(
            routine, log_hold_of_record(args->server->held_lines, msg), logger, EA_LEVEL_EVENT,
            "Received UPDATE_LINK_INDEX notification for tws network handle [%d] and tws index [%u] with link index [%u].",
            msg->workstation_network_handle, msg->workstation_index, msg->link_index);
        tcp_nw_info_update_index(args->server, msg, args->number_of_links, logger);
        message_destroy(msg);
        return EA_SUCCESS;
    default:
        EA_LOG_IN(routine, logger, EA_LEVEL_SYSTEM_ERROR, "Invalid message tag [%d]", msg->tag);
        message_destroy(msg);
        return EA_SUCCESS;
    }
}

ea_status tws_nw_handler_move(queue *local, shared_queue *target, const char *routine, logger_object *logger)
{
    if (shared_queue_insert(target, local) != EA_SUCCESS)
    {
        EA_LOG_IN(routine, logger, EA_LEVEL_SYSTEM_ERROR, "shared_queue_insert failed");
        return EA_ERROR;
    }
    return EA_SUCCESS;
}

// Refused connections reach the console folded: the first of a spell at once, the rest
// once a second with their count as the extra info of the same event. A refused connection
// named no user (0).
ea_status tws_nw_handler_refusal_events(tws_nw_handler_thread_args *args, const char *routine,
                                        uint32_t refused)
{
    uint32_t at_once = 0;
    uint32_t folded = 0;
    tcp_nw_info_refusal_events(args->server, refused, &at_once, &folded);
    if (folded > 0)
    {
        if (tws_nw_handler_console_event(args, routine, TWS_REASON_MAX_CONNECTIONS,
                                         static_cast<int32_t>(folded), 0) != EA_SUCCESS)
            return EA_ERROR;
        EA_LOG_IN(routine, args->logger, EA_LEVEL_EVENT, "The KOVA_MESSAGE counts [%u] refused connections.",
                  folded);
    }
    if (at_once > 0)
        return tws_nw_handler_console_event(args, routine, TWS_REASON_MAX_CONNECTIONS, -1, 0);
    return EA_SUCCESS;
}

// The console events about connections that never had a slot the session layer knew:
// `count` of them ended with `reason_code`, each folded with the others of its reason.
ea_status tws_nw_handler_slotless_events(tws_nw_handler_thread_args *args, const char *routine,
                                         uint16_t reason_code, uint32_t &count)
{
    for (; count > 0; --count)
    {
        if (tcp_nw_info_unsigned_event(args->server, reason_code, 0) &&
            tws_nw_handler_console_event(args, routine, reason_code, -1, 0) != EA_SUCCESS)
            return EA_ERROR;
    }
    return EA_SUCCESS;
}

// The folded console events and the admission lines' count due now (all of them at the
// thread's stop).
ea_status tws_nw_handler_folded_reports(tws_nw_handler_thread_args *args, const char *routine, bool all)
{
    tcp_nw_info *server = args->server;
    logger_object *logger = args->logger;
    // A fold's count is taken when it is reported, so each call gives the next ones due.
    tcp_nw_folded_event due[64];
    uint32_t count = 0;
    do
    {
        count = tcp_nw_info_unsigned_events_due(server, due, sizeof due / sizeof due[0], all);
        for (uint32_t i = 0; i < count; ++i)
        {
            if (tws_nw_handler_console_event(args, routine, due[i].reason_code,
                                             static_cast<int32_t>(due[i].count),
                                             due[i].user_id) != EA_SUCCESS)
                return EA_ERROR;
            EA_LOG_IN(
                routine, logger, EA_LEVEL_EVENT,
                "The KOVA_MESSAGE counts [%u] events with reason code [%d] and user id [%ld] about connections that have not signed on.",
                due[i].count, due[i].reason_code, static_cast<long>(static_cast<int32_t>(due[i].user_id)));
        }
    } while (count == sizeof due / sizeof due[0]);
    log_fold_report_admissions(&server->admission_lines, routine, logger, all);
    tcp_nw_info_report_holds(server, routine, logger, all);
    return EA_SUCCESS;
}

// The console events and log lines about connections that have not signed on: a place given
// to a new connection is one that did not sign on in time (11027), a socket the peer reset
// before its admission a lost connection (11009); each pair of reason and user goes out
// folded.
ea_status tws_nw_handler_unsigned_reports(tws_nw_handler_thread_args *args, const char *routine)
{
    tcp_nw_info *server = args->server;
    if (tws_nw_handler_slotless_events(args, routine, TWS_REASON_SIGN_ON_TIMEOUT, server->slots_given) !=
            EA_SUCCESS ||
        tws_nw_handler_slotless_events(args, routine, TWS_REASON_CONNECTION_LOST,
                                       server->lost_at_admission) != EA_SUCCESS)
        return EA_ERROR;
    return tws_nw_handler_folded_reports(args, routine, false);
}

// Box communication hears once of the sockets that came to wait for its verdict while
// none waited: one notification covers every socket that comes before the box answers.
ea_status tws_nw_handler_notify_box(tws_nw_handler_thread_args *args, const char *routine)
{
    if (args->server->box_notice_due == 0)
        return EA_SUCCESS;
    args->server->box_notice_due = 0;
    message *notification = message_create(0, INCOMING_CLIENT_CONNECTION);
    if (notification == nullptr)
    {
        EA_LOG_IN(routine, args->logger, EA_LEVEL_SYSTEM_ERROR, "Message creation failed.");
        return EA_ERROR;
    }
    if (tws_nw_handler_insert(args->notifications_out, notification, routine, args->logger) != EA_SUCCESS)
    {
        message_destroy(notification);
        return EA_ERROR;
    }
    EA_LOG_FOLDED_IN(routine, &args->server->admission_lines, args->logger, EA_LEVEL_EVENT,
                     "Sent INCOMING_CLIENT_CONNECTION notification to Box Communication Module.");
    return EA_SUCCESS;
}

// One pass after the wait: what the wait brought in.
ea_status tws_nw_handler_after_wait(tws_nw_handler_state *state, const char *routine)
{
    tws_nw_handler_thread_args *args = state->args;
    if (tws_nw_handler_move(state->locals[LOCAL_DATA], args->data_out, routine, args->logger) != EA_SUCCESS)
        return EA_ERROR;
    while (message *msg = static_cast<message *>(queue_remove_head(state->locals[LOCAL_INPUT])))
    {
        if (tws_nw_handler_dispatch(state, msg, routine) != EA_SUCCESS)
            return EA_ERROR;
    }
    return EA_SUCCESS;
}

// The thread's steps: the wait takes in network events and the send validator's records,
// then every pass looks after idle clients, invitations, pending sends and the records
// handed back.
struct tws_nw_handler_steps : worker_steps
{
    tws_nw_handler_state state;
    uint16_t pending_sockets = 0;
    uint32_t refused = 0;
    queue *(&locals)[LOCAL_QUEUE_COUNT] = state.locals;

    explicit tws_nw_handler_steps(tws_nw_handler_thread_args *thread_args) : state{thread_args, {}} {}

    ea_status wait()
    {
        tws_nw_handler_thread_args *args = state.args;
        pending_sockets = 0;
        refused = 0;
        const ea_status status = tcp_nw_info_get_elements(
            args->server, args->receive_batch_limit, args->input_queues, TWS_NW_HANDLER_INPUT_QUEUES,
            args->wait_time_ms, state.locals[LOCAL_DATA], state.locals[LOCAL_DISCONNECTS], &pending_sockets,
            &refused, &state.locals[LOCAL_INPUT], args->logger);
        if (status == EA_SUCCESS)
            return EA_SUCCESS;
        if (status == EA_NO_DATA || status == EA_VALID)
            return EA_NO_DATA;
        EA_LOG_IN(routine, args->logger, EA_LEVEL_SYSTEM_ERROR, "tcp_nw_info_get_client failed");
        return EA_ERROR;
    }

    ea_status process() { return tws_nw_handler_after_wait(&state, routine); }

    ea_status each_pass()
    {
        tws_nw_handler_thread_args *args = state.args;
        logger_object *logger = args->logger;
        // The verdicts, the first frames that may go on and the newcomers waiting for a place
        // first; then refusals and the rest are counted on every pass, so a count still goes
        // out when all is quiet.
        if (tcp_nw_info_watch_connections(args->server, state.locals[LOCAL_DATA], &refused, routine,
                                          logger) != EA_SUCCESS ||
            tws_nw_handler_notify_box(args, routine) != EA_SUCCESS ||
            tws_nw_handler_move(state.locals[LOCAL_DATA], args->data_out, routine, logger) != EA_SUCCESS ||
            tws_nw_handler_refusal_events(args, routine, refused) != EA_SUCCESS ||
            tws_nw_handler_unsigned_reports(args, routine) != EA_SUCCESS)
            return EA_ERROR;
        if (tcp_nw_info_check_idle_clients(args->server, state.locals[LOCAL_DISCONNECTS], logger) !=
            EA_SUCCESS)
        {
            EA_LOG_IN(routine, logger, EA_LEVEL_SYSTEM_ERROR, "tcp_nw_info_check_idle_clients failed");
            return EA_ERROR;
        }
        if (tcp_nw_info_send_pending_invitations(args->server, state.locals[LOCAL_NOTIFICATIONS], logger) !=
            EA_SUCCESS)
        {
            EA_LOG_IN(routine, logger, EA_LEVEL_SYSTEM_ERROR, "tcp_nw_info_send_pending_invitations failed");
            return EA_ERROR;
        }
        if (tcp_nw_info_send_pending(args->server, state.locals[LOCAL_DISCONNECTS],
                                     state.locals[LOCAL_NOTIFICATIONS], logger) == EA_ERROR)
        {
            EA_LOG_IN(routine, logger, EA_LEVEL_SYSTEM_ERROR, "tcp_nw_info_send_pending failed");
            return EA_ERROR;
        }
        // Journal-download records handed back by the send side go before the disconnects.
        if (tws_nw_handler_move(state.locals[LOCAL_NOTIFICATIONS], args->data_out, routine, logger) !=
                EA_SUCCESS ||
            tws_nw_handler_move(state.locals[LOCAL_DISCONNECTS], args->data_out, routine, logger) !=
                EA_SUCCESS)
            return EA_ERROR;
        return EA_SUCCESS;
    }

    // What is still held or counted is written before the thread ends.
    void at_stop()
    {
        tws_nw_handler_thread_args *args = state.args;
        tcp_nw_info_stop_lines(args->server, routine, args->logger);
        tws_nw_handler_folded_reports(args, routine, true);
    }
};
} // namespace

uint32_t tws_nw_handler_thread(void *argument)
{
    return worker_thread_main_checked<tws_nw_handler_steps, tws_nw_handler_thread_args>(
        argument, __func__, "local mesg queue creation failed");
}
