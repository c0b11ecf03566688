// The host's side of a user's life: replies from response processing routed back to the
// connection the user is admitted on (completing logons and logoffs on the way), the
// box logoff of a link spread to its users, and the supervision of users in logoff, and
// of sign-ons the host does not answer, with the user status query.
#include <cstring>

#include "common/ea_time.h"
#include "gateway/business_processing_layer/vrx_record.h"
#include "gateway/controller_module/box_comm_info_container.h"
#include "gateway/runtime/ea_sync_info.h"
#include "gateway/runtime/logger.h"
#include "gateway/runtime/message.h"
#include "gateway/runtime/queue.h"
#include "gateway/runtime/wire.h"
#include "gateway/session_layer/user_session/user_session_info_container.h"
#include "gateway/session_layer/user_session/user_session_internal.h"

namespace
{

struct response_outputs
{
    queue *to_request_processing;
    queue **to_user_side; // indexed by user type
    queue *to_console;
};

queue *user_side_queue(const response_outputs &out, int16_t user_type)
{
    return out.to_user_side[user_type == USER_TYPE_FIX ? 1 : 0];
}

bool login_count_matches(const user_session_info *info, const message *msg)
{
    return msg->login_count == -1 || msg->login_count == info->login_count;
}

ea_status send_console_event(user_session_info_container *container, uint16_t slot, uint16_t reason_code,
                             const response_outputs &out, logger_object *logger)
{
    message *event = user_session_control_record(container, slot, KOVA_MESSAGE, reason_code);
    if (event == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "message_create failed");
        return EA_ERROR;
    }
    return user_session_append(out.to_console, event, logger);
}

// A status query is outstanding for the user: only its reply counts.
ea_status process_status_query_reply(user_session_info_container *container, uint16_t slot, message *msg,
                                     int16_t transcode, const response_outputs &out, logger_object *logger)
{
    user_session_info *info = &container->user_session_info_list[slot];
    log_hold_entry *held = user_session_held_slot(container, slot);
    long user_id = info->user_id;
    int user_type = info->user_type;
    unsigned long sequence = msg->sequence_number;
    if (transcode != TRANSCODE_USER_STATUS_RESPONSE)
    {
        EA_LOG_HELD(
            held, logger, EA_LEVEL_BUSINESS_ERROR,
            "Recieved message with transcode [%d] for user [%ld] having user type[%d] which is not a user query response. So discarding it. sequence number [%lu].",
            transcode, user_id, user_type, sequence);
        message_destroy(msg);
        return EA_SUCCESS;
    }
    uint32_t stamp = get_u32_be(msg->data, USER_STATUS_QUERY_TIME_STAMP);
    if (stamp != info->request_sent_timer)
    {
        EA_LOG_HELD(
            held, logger, EA_LEVEL_BUSINESS_ERROR,
            "Recieved a stale user query response with timestamp [%ld] for user [%ld] of user type[%d]. So discarding it. sequence number [%lu].",
            static_cast<long>(stamp), user_id, user_type, sequence);
        message_destroy(msg);
        return EA_SUCCESS;
    }
    info->status_query = 0;
    info->request_sent_timer = 0;
    info->immediate_status_query = 0;
    EA_LOG_HELD(held, logger, EA_LEVEL_EVENT,
                "status_query flag of user [%ld]having user type [%d] is  reset", user_id, user_type);

    if (msg->data[USER_STATUS_QUERY_STATE] == 'I')
    {
        uint16_t reason = info->logoff_reason_code != 0 ? info->logoff_reason_code
                                                        : static_cast<uint16_t>(REASON_HOST_LOGGED_USER_OFF);
        msg->tag = USER_LOGOFF_FLUSH;
        msg->reason_code = reason;
        if (reason == REASON_HOST_REFUSED_LOGON)
            msg->event_value = static_cast<int32_t>(info->logoff_error_code);
        else if (info->logoff_reason_code != 0)
            msg->event_value = info->logoff_event_value;
        if (user_session_append(user_side_queue(out, info->user_type), msg, logger) != EA_SUCCESS)
            return EA_ERROR;
        EA_LOG_HELD(
            held, logger, EA_LEVEL_EVENT,
            "User [%ld]of user type[%d] is logged off at host. So sent USER_LOGOFF_FLUSH message with nw handle [%d] and tws index [%u] with reason code [%d]",
            user_id, user_type, info->tws_nw_handle, static_cast<unsigned>(slot), reason);
        return EA_SUCCESS;
    }
    message_destroy(msg);
    message *logoff = user_session_info_container_create_user_logoff_message(container, slot, logger);
    if (logoff == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_CONTINUATION, "create_user_logoff_message failed");
        return EA_ERROR;
    }
    if (user_session_append(out.to_request_processing, logoff, logger) != EA_SUCCESS)
        return EA_ERROR;
    EA_LOG_HELD(held, logger, EA_LEVEL_EVENT,
                "User [%ld] of type[%d], is not logged off at host. So sent User Logoff Request to host.",
                user_id, user_type);
    info->request_sent_timer = ea_get_tick_count();
    return EA_SUCCESS;
}

ea_status process_sign_off_response(user_session_info_container *container, uint16_t slot, message *msg,
                                    const response_outputs &out, logger_object *logger)
{
    user_session_info *info = &container->user_session_info_list[slot];
    log_hold_entry *held = user_session_held_slot(container, slot);
    int16_t error_code = user_session_error_code(msg);
    msg->tag = USER_LOGOFF_FLUSH;
    if (info->logoff_reason_code != 0)
    {
        msg->reason_code = info->logoff_reason_code;
        msg->event_value = info->logoff_event_value;
    }
    else
    {
        msg->reason_code = REASON_HOST_LOGGED_USER_OFF;
        msg->event_value = error_code;
    }
    uint16_t reason = msg->reason_code;
    if (user_session_append(user_side_queue(out, info->user_type), msg, logger) != EA_SUCCESS)
        return EA_ERROR;
    EA_LOG_HELD(
        held, logger, EA_LEVEL_EVENT,
        "Received Logoff Response with error code [%d] for user [%ld] of type [%d], having link index [%u]. So sent USER_LOGOFF_FLUSH message with tws nw handle [%d], tws index [%u] and reason code [%d]",
        error_code, static_cast<long>(info->user_id), info->user_type,
        static_cast<unsigned>(info->link_index), info->tws_nw_handle, static_cast<unsigned>(slot), reason);
    info->logon_status = logon_status::LOGOFF_IN_PROGRESS;
    user_session_set_logoff_flag(container, slot, 1);
    EA_LOG_HELD(held, logger, EA_LEVEL_EVENT,
                "Status of user [%ld] having user type [%d] set to LOGOFF_IN_PROGRESS",
                static_cast<long>(info->user_id), info->user_type);
    return EA_SUCCESS;
}

// SYSTEM_INFORMATION_OUT or a sign-on response: passed to the user in every state; while
// the logon is in progress it completes or fails the logon.
ea_status process_logon_reply(user_session_info_container *container, uint16_t slot, message *msg,
                              int16_t transcode, const response_outputs &out, logger_object *logger)
{
    user_session_info *info = &container->user_session_info_list[slot];
    log_hold_entry *held = user_session_held_slot(container, slot);
    int16_t error_code = user_session_error_code(msg);
    int32_t login_count = msg->login_count;
    EA_LOG_HELD(
        held, logger, EA_LEVEL_EVENT,
        "Received message with transcode [%d] with error code [%d] for user [%ld] having user type [%d]link index [%u] and tws_nw_handle[%d], tws index [%u]",
        transcode, error_code, static_cast<long>(info->user_id), info->user_type,
        static_cast<unsigned>(info->link_index), info->tws_nw_handle, static_cast<unsigned>(slot));
    if (user_session_append(user_side_queue(out, info->user_type), msg, logger) != EA_SUCCESS)
        return EA_ERROR;
    if (info->logon_status != logon_status::LOGON_IN_PROGRESS)
        return EA_SUCCESS;
    if (error_code == 0)
    {
        // The host accepted the user: the sign-on is answered, the connection counts as
        // signed on from here, and what was held about it is written.
        info->request_sent_timer = 0;
        user_session_signed_on(container, slot);
        held = nullptr;
        if (transcode != TRANSCODE_SYSTEM_INFORMATION_OUT)
            return EA_SUCCESS;
        info->logon_status = logon_status::LOGGED_ON;
        info->login_count = login_count;
        EA_LOG_HELD(
            held, logger, EA_LEVEL_EVENT,
            "Status of user [%ld] having user type[%d]set to LOGGED_ON for link index [%u]. Login Count [%d]",
            static_cast<long>(info->user_id), info->user_type, static_cast<unsigned>(info->link_index),
            info->login_count);
        if (send_console_event(container, slot, REASON_USER_LOGGED_ON, out, logger) != EA_SUCCESS)
            return EA_ERROR;
        EA_LOG_HELD(held, logger, EA_LEVEL_EVENT,
                    "Sent KOVA_MESSAGE to Interface Thread for user id [%ld] and reason code [%d]",
                    static_cast<long>(info->user_id), REASON_USER_LOGGED_ON);
        return EA_SUCCESS;
    }
    info->logon_status = logon_status::LOGOFF_IN_PROGRESS;
    user_session_set_logoff_flag(container, slot, 1);
    info->validation_failure_flag = EA_DO_NOT_FORWARD;
    info->status_query = 1;
    info->immediate_status_query = 1;
    user_session_set_logoff_reason(info, REASON_HOST_REFUSED_LOGON);
    info->logoff_error_code = static_cast<uint32_t>(static_cast<int32_t>(error_code));
    log_hold_set_reason(held, REASON_HOST_REFUSED_LOGON);
    EA_LOG_HELD(
        held, logger, EA_LEVEL_EVENT,
        "Received unsuccessful response with transcode [%d] error code [%d]. Status of the user [%ld] having user type[%d] is set to LOGOFF_IN_PROGRESS. Also set the request sent timer",
        transcode, error_code, static_cast<long>(info->user_id), info->user_type);
    return EA_SUCCESS;
}

ea_status process_journal_reply(user_session_info_container *container, uint16_t slot, message *msg,
                                int16_t transcode, const response_outputs &out, logger_object *logger)
{
    const user_session_info *info = &container->user_session_info_list[slot];
    long user_id = info->user_id;
    unsigned long sequence = msg->sequence_number;
    EA_LOG(
        logger, EA_LEVEL_EVENT,
        "Received a SECONDARY_JOURNAL_DOWNLOAD message form Processing Layer for USER [%ld] having tws_nw_handle[%d] tws index [%u] over link index [%u] sequence number[%lu] from TH SESSION Module",
        user_id, info->tws_nw_handle, static_cast<unsigned>(slot), static_cast<unsigned>(info->link_index),
        sequence);
    if (info->logon_status != logon_status::LOGGED_ON)
    {
        EA_LOG(
            logger, EA_LEVEL_BUSINESS_ERROR,
            "Discarded message with transcode [%d] Sequence number [%lu]. as user [%ld] status is not LOGGED_ON having tws index [%u]",
            transcode, sequence, user_id, static_cast<unsigned>(slot));
        message_destroy(msg);
        return EA_SUCCESS;
    }
    if (!login_count_matches(info, msg))
    {
        EA_LOG(
            logger, EA_LEVEL_BUSINESS_ERROR,
            "Discarded message with transcode [%d] as login count[%ld] in the message does not match with login count [%ld] in user session info .Sequence number [%lu].",
            transcode, static_cast<long>(msg->login_count), static_cast<long>(info->login_count), sequence);
        message_destroy(msg);
        return EA_SUCCESS;
    }
    msg->tag = SECONDARY_JOURNAL_DOWNLOAD_REQUEST;
    if (user_session_append(user_side_queue(out, info->user_type), msg, logger) != EA_SUCCESS)
        return EA_ERROR;
    EA_LOG(
        logger, EA_LEVEL_EVENT,
        "Sending SECONDARY_JOURNAL_DOWNLOAD message to Validation Layer for USER [%ld] having tws_nw_handle[%d] and tws index [%u] over link index [%u] sequence number[%lu]",
        user_id, info->tws_nw_handle, static_cast<unsigned>(slot), static_cast<unsigned>(info->link_index),
        sequence);
    return EA_SUCCESS;
}

ea_status process_reply(user_session_info_container *container, message *msg, const response_outputs &out,
                        logger_object *logger)
{
    EA_LOG(logger, EA_LEVEL_ACTIVITY, "Received NORMAL_MESSAGE message from Processing Layer.");
    unsigned long sequence = msg->sequence_number;
    // Every rule below reads the VRX header; a reply without one cannot be routed safely.
    if (msg->data_length < VRX_HEADER_SIZE)
    {
        EA_LOG(
            logger, EA_LEVEL_BUSINESS_ERROR,
            "Discarding reply of length [%u] shorter than the record header for user [%ld], sequence number [%lu]",
            static_cast<unsigned>(msg->data_length), static_cast<long>(static_cast<int32_t>(msg->user_id)),
            sequence);
        message_destroy(msg);
        return EA_SUCCESS;
    }
    uint16_t slot = 0;
    // user_session_info_container_get_index logs the invalid key 0 itself.
    if (user_session_info_container_get_index(container, static_cast<int32_t>(msg->user_id), USERID_KEY,
                                              &slot, logger) != EA_SUCCESS)
    {
        EA_LOG(logger, EA_LEVEL_BUSINESS_ERROR,
               "User [%ld] not found. So discarding message, sequence number [%lu]",
               static_cast<long>(static_cast<int32_t>(msg->user_id)), sequence);
        message_destroy(msg);
        return EA_SUCCESS;
    }
    user_session_info *info = &container->user_session_info_list[slot];
    msg->workstation_network_handle = info->tws_nw_handle;
    msg->user_type = static_cast<uint16_t>(info->user_type);
    msg->workstation_index = slot;
    int16_t transcode = user_session_transcode(msg);
    long user_id = info->user_id;
    int user_type = info->user_type;

    if (info->status_query == 1)
        return process_status_query_reply(container, slot, msg, transcode, out, logger);

    switch (transcode)
    {
    case TRANSCODE_SIGN_OFF_RESPONSE:
        return process_sign_off_response(container, slot, msg, out, logger);
    case TRANSCODE_SYSTEM_INFORMATION_OUT:
    case TRANSCODE_SIGN_ON_RESPONSE:
        return process_logon_reply(container, slot, msg, transcode, out, logger);
    case TRANSCODE_JOURNAL_DOWNLOAD_REPLY:
        return process_journal_reply(container, slot, msg, transcode, out, logger);
    case TRANSCODE_USER_STATUS_RESPONSE:
        EA_LOG(
            logger, EA_LEVEL_BUSINESS_ERROR,
            "Discarding Unneeded user_query_response for user [%ld] having user type [%d] and tws nw handle [%d], tws index [%u] sequence number [%lu]",
            user_id, user_type, info->tws_nw_handle, static_cast<unsigned>(slot), sequence);
        message_destroy(msg);
        return EA_SUCCESS;
    default:
        break;
    }
    if (info->logon_status != logon_status::LOGGED_ON)
    {
        EA_LOG(
            logger, EA_LEVEL_BUSINESS_ERROR,
            "Discarded message with transcode [%d] Sequence number [%lu] as the user [%ld] of type[%d] status is not LOGGED_ON",
            transcode, sequence, user_id, user_type);
        message_destroy(msg);
        return EA_SUCCESS;
    }
    if (!login_count_matches(info, msg))
    {
        EA_LOG(
            logger, EA_LEVEL_BUSINESS_ERROR,
            "Discarded message with transcode [%d] as login count in the message [%ld] does not match with login count in user session info [%ld]. Sequence number [%lu] for user [%ld] having user type[%d].",
            transcode, static_cast<long>(msg->login_count), static_cast<long>(info->login_count), sequence,
            user_id, user_type);
        message_destroy(msg);
        return EA_SUCCESS;
    }
    return user_session_append(user_side_queue(out, info->user_type), msg, logger);
}

ea_status process_box_logoff(user_session_info_container *container, message *msg,
                             const response_outputs &out, logger_object *logger)
{
    uint16_t link_index = msg->link_index;
    EA_LOG(logger, EA_LEVEL_EVENT,
           "Received a BOX_LOGOFF_FLUSH for link index [%u] with reason code [%d] from Processing Layer",
           static_cast<unsigned>(link_index), msg->reason_code);
    for (int32_t i = 0; i < container->active_user_count; i++)
    {
        user_session_info *info = container->valid_user_session_info_list[i];
        if (info == nullptr || info->link_index != link_index)
            continue;
        uint16_t slot = static_cast<uint16_t>(info - container->user_session_info_list);
        info->logon_status = logon_status::LOGOFF_IN_PROGRESS;
        info->status_query = 0;
        info->request_sent_timer = 0;
        info->immediate_status_query = 0;
        EA_LOG(logger, EA_LEVEL_EVENT, "status_query flag of user [%ld] having user type[%d] is reset",
               static_cast<long>(info->user_id), info->user_type);
        user_session_set_logoff_flag(container, slot, 1);
        info->validation_failure_flag = EA_DO_NOT_FORWARD;
        user_session_set_logoff_reason(info, REASON_BOX_LOGGED_OFF);
        message *flush =
            user_session_control_record(container, slot, USER_LOGOFF_FLUSH, REASON_BOX_LOGGED_OFF);
        if (flush == nullptr)
        {
            EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "Error while creating message.");
            message_destroy(msg);
            return EA_ERROR;
        }
        if (queue_append(user_side_queue(out, info->user_type), flush) != EA_SUCCESS)
        {
            EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "Error while appending message to the queue");
            message_destroy(flush);
            message_destroy(msg);
            return EA_ERROR;
        }
        EA_LOG(
            logger, EA_LEVEL_EVENT,
            "Sent USER_LOGOFF_FLUSH message for user [%ld] of user type[%d]with tws nw handle [%d], tws index [%u] and reason code [%d]",
            static_cast<long>(info->user_id), info->user_type, info->tws_nw_handle,
            static_cast<unsigned>(slot), REASON_BOX_LOGGED_OFF);
    }
    msg->user_type = USER_TYPE_WORKSTATION;
    int reason = msg->reason_code;
    if (user_session_append(out.to_user_side[USER_TYPE_WORKSTATION], msg, logger) != EA_SUCCESS)
        return EA_ERROR;
    EA_LOG(logger, EA_LEVEL_EVENT,
           "Sent BOX_LOGOFF_FLUSH for link index [%u] with reason code [%d] to Tws NW HANDLE Module",
           static_cast<unsigned>(link_index), reason);
    return EA_SUCCESS;
}

// The host has not answered a user's sign-on in time: the answer may be lost, or the user
// signed on at the host without the gateway hearing of it. The logon becomes a logoff that
// starts with a status query, as when the user leaves during the logon: a user the host
// says is not signed on is let go, one it says is signed on is signed off, and a host that
// does not answer the query either is given up with 11023. The close says the sign-on
// failed, with no error code of the host.
void give_up_sign_on(user_session_info_container *container, uint16_t slot, log_hold_entry *held,
                     logger_object *logger)
{
    user_session_info *info = &container->user_session_info_list[slot];
    user_session_mark_logoff(container, slot);
    info->logoff_reason_code = REASON_HOST_REFUSED_LOGON;
    info->logoff_error_code = USER_SESSION_NO_HOST_ERROR;
    info->status_query = 1;
    info->immediate_status_query = 1;
    log_hold_set_reason(held, REASON_HOST_REFUSED_LOGON);
    EA_LOG_HELD(
        held, logger, EA_LEVEL_EVENT,
        "No answer from the host to the sign-on of user [%ld] having user type [%d] within [%u] ms. Status of the user set to LOGOFF_IN_PROGRESS; querying the user status.",
        static_cast<long>(info->user_id), info->user_type,
        static_cast<unsigned>(container->request_sent_timeout));
}

// One due user of the supervision pass.
ea_status supervise_user(user_session_info_container *container, user_session_info *info, uint32_t now,
                         const response_outputs &out, logger_object *logger)
{
    uint16_t slot = static_cast<uint16_t>(info - container->user_session_info_list);
    log_hold_entry *held = user_session_held_slot(container, slot);
    long user_id = info->user_id;
    int user_type = info->user_type;
    if (info->logon_status == logon_status::LOGON_IN_PROGRESS)
        give_up_sign_on(container, slot, held, logger);
    if (info->status_query_count < 1)
    {
        uint16_t reason = 0;
        if (info->status_query == 0)
            reason = REASON_NO_SIGN_OFF_RESPONSE;
        else if (info->immediate_status_query != 1)
            reason = REASON_STATUS_QUERY_AGAIN;
        if (reason != 0)
        {
            message *event = user_session_control_record(container, slot, KOVA_MESSAGE, reason);
            if (event == nullptr)
            {
                EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "Message creation failed.");
                return EA_ERROR;
            }
            if (queue_append(out.to_console, event) != EA_SUCCESS)
            {
                EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "Error while appending message to queue");
                message_destroy(event);
                return EA_ERROR;
            }
            EA_LOG_HELD(held, logger, EA_LEVEL_EVENT,
                        "Sent KOVA_MESSAGE to Interface Thread  for user id [%ld] reason code [%d]", user_id,
                        reason);
        }
        info->request_sent_timer = now;
        info->immediate_status_query = 0;
        info->status_query = 1;
        EA_LOG_HELD(
            held, logger, EA_LEVEL_EVENT,
            "status_query flag is set for user [%ld] having user type [%d]. Sent User Query Message to host with timestamp [%lu].",
            user_id, user_type, static_cast<unsigned long>(now));
        message *query = message_create(USER_STATUS_QUERY_LENGTH, NORMAL_MESSAGE);
        if (query == nullptr)
        {
            EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "message_create failed");
            return EA_ERROR;
        }
        uint8_t *data = query->data;
        memset(data, ' ', USER_STATUS_QUERY_LENGTH);
        put_u32_be(data, VRX_INTERNAL_USER_ID, static_cast<uint32_t>(info->user_id));
        put_u16_be(data, USER_STATUS_QUERY_BOX_ID,
                   container->box_container != nullptr ? container->box_container->box_id : 0);
        put_u32_be(data, USER_STATUS_QUERY_TIME_STAMP, now);
        put_i16_be(data, VRX_INTERNAL_TRANSCODE, TRANSCODE_USER_STATUS_QUERY);
        put_i16_be(data, VRX_INTERNAL_ERROR_CODE, 0);
        data[USER_STATUS_QUERY_STATE] = 'A';
        put_u16_be(data, VRX_INTERNAL_LENGTH, static_cast<uint16_t>(USER_STATUS_QUERY_LENGTH));
        query->user_id = static_cast<uint32_t>(info->user_id);
        query->transcode = TRANSCODE_USER_STATUS_QUERY;
        query->link_index = info->link_index;
        query->user_type = static_cast<uint16_t>(info->user_type);
        query->workstation_index = slot;
        query->workstation_network_handle = info->tws_nw_handle;
        info->status_query_count++;
        if (queue_append(out.to_request_processing, query) != EA_SUCCESS)
        {
            EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "queue_append failed");
            message_destroy(query);
            return EA_ERROR;
        }
        return EA_SUCCESS;
    }

    message *event =
        user_session_control_record(container, slot, KOVA_MESSAGE, REASON_STATUS_QUERY_TIMED_OUT);
    message *flush =
        user_session_control_record(container, slot, USER_LOGOFF_FLUSH, info->logoff_reason_code);
    if (flush != nullptr)
        flush->event_value = info->logoff_event_value;
    if (event == nullptr || flush == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "Message creation failed.");
        if (event != nullptr)
            message_destroy(event);
        if (flush != nullptr)
            message_destroy(flush);
        return EA_ERROR;
    }
    if (queue_append(out.to_console, event) != EA_SUCCESS)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "Error while appending message to queue");
        message_destroy(event);
        message_destroy(flush);
        return EA_ERROR;
    }
    EA_LOG_HELD(
        held, logger, EA_LEVEL_EVENT,
        "MAX STATUS QUERY REQUEST COUNT reached so Sending KOVA_MESSAGE to Interface Thread for user [%ld] having user type[%d] with tws nw handle [%d] and reason code [%d] to Validation Layer.",
        user_id, user_type, info->tws_nw_handle, REASON_STATUS_QUERY_TIMED_OUT);
    if (queue_append(user_side_queue(out, info->user_type), flush) != EA_SUCCESS)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "Error while appending message to queue");
        message_destroy(flush);
        return EA_ERROR;
    }
    EA_LOG_HELD(
        held, logger, EA_LEVEL_EVENT,
        "MAX STATUS QUERY REQUEST COUNT reached so Sending USER_LOGOFF_FLUSH message for user [%ld] having user type[%d] with tws nw handle [%d] and reason code [%d] to Validation Layer.",
        user_id, user_type, info->tws_nw_handle, info->logoff_reason_code);
    info->request_sent_timer = 0;
    info->immediate_status_query = 0;
    return EA_SUCCESS;
}

} // namespace

ea_status user_session_info_container_process_input_response_messages(
    user_session_info_container *container, queue *input, queue *to_request_processing,
    queue *to_user_side[2], queue *to_console, logger_object *logger)
{
    const response_outputs out = {to_request_processing, to_user_side, to_console};
    ea_status status = EA_SUCCESS;
    ea_sync_info_enter_critical_section(container->lock);
    while (queue_get_count(input) > 0 && status == EA_SUCCESS)
    {
        message *msg = static_cast<message *>(queue_remove_head(input));
        switch (msg->tag)
        {
        case NORMAL_MESSAGE:
            status = process_reply(container, msg, out, logger);
            break;
        case BOX_LOGOFF_FLUSH:
            status = process_box_logoff(container, msg, out, logger);
            break;
        default:
            EA_LOG(logger, EA_LEVEL_BUSINESS_ERROR,
                   "Invalid message tag [%d]. Discarding message with userid [%ld], sequence number [%lu]",
                   msg->tag, static_cast<long>(static_cast<int32_t>(msg->user_id)),
                   static_cast<unsigned long>(msg->sequence_number));
            message_destroy(msg);
            break;
        }
    }
    ea_sync_info_leave_critical_section(container->lock);
    return status;
}

ea_status user_session_info_container_process_users(user_session_info_container *container,
                                                    queue *to_request_processing, queue *to_user_side[2],
                                                    queue *to_console, logger_object *logger)
{
    const response_outputs out = {to_request_processing, to_user_side, to_console};
    ea_status status = EA_SUCCESS;
    uint32_t now = ea_get_tick_count();
    ea_sync_info_enter_critical_section(container->lock);
    for (int32_t i = 0; i < container->active_user_count && status == EA_SUCCESS; i++)
    {
        user_session_info *info = container->valid_user_session_info_list[i];
        if (info == nullptr)
            continue;
        bool timed_out =
            info->request_sent_timer != 0 &&
            ea_get_tick_difference(now, info->request_sent_timer) > container->request_sent_timeout;
        if (timed_out || info->immediate_status_query == 1)
            status = supervise_user(container, info, now, out, logger);
    }
    ea_sync_info_leave_critical_section(container->lock);
    return status;
}
