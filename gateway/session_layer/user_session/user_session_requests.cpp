// Records from the users' side (workstation receive validator, FIX front end): the state
// check of each request against its slot, logon admission, the refusal of what a user
// may not send, the confirmation of a disconnection that frees a slot, the box logoff
// flush relay and journal downloads.
#include <cstring>

#include "common/ea_time.h"
#include "gateway/business_processing_layer/vrx_record.h"
#include "gateway/runtime/ea_sync_info.h"
#include "gateway/runtime/logger.h"
#include "gateway/runtime/message.h"
#include "gateway/runtime/queue.h"
#include "gateway/runtime/wire.h"
#include "gateway/session_layer/user_session/user_request_filter.h"
#include "gateway/session_layer/user_session/user_session_info_container.h"
#include "gateway/session_layer/user_session/user_session_internal.h"
#include "gateway/session_layer/user_session/user_signon_response.h"
#include "gateway/shared/user_link_info.h"

namespace
{

struct request_outputs
{
    queue *to_request_processing;
    queue *to_user_side;
    queue *to_fix_send;
    queue *to_console;
};

const char *user_session_status_text(int16_t status)
{
    if (status == logon_status::LOGGED_ON)
        return "LOGGED_ON";
    if (status == logon_status::LOGON_IN_PROGRESS)
        return "LOGON_IN_PROGRESS";
    return "LOGOFF_IN_PROGRESS";
}

ea_status start_logoff(user_session_info_container *container, message *msg, uint16_t reason_code,
                       const request_outputs &out, logger_object *logger)
{
    msg->reason_code = reason_code;
    if (user_session_info_container_initiate_user_logoff(container, msg, out.to_request_processing,
                                                         out.to_user_side, logger) != EA_SUCCESS)
    {
        EA_LOG(logger, EA_LEVEL_CONTINUATION, "user_session_info_container_initiate_user_logoff failed");
        return EA_ERROR;
    }
    return EA_SUCCESS;
}

ea_status send_signon_response(const message *request, int16_t error_code, const request_outputs &out,
                               logger_object *logger)
{
    message *response = user_signon_response_create(request, error_code, logger);
    if (response == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_CONTINUATION, "user_signon_response_create failed");
        return EA_ERROR;
    }
    return user_session_append(out.to_user_side, response, logger);
}

// Admission of the slot's connection's user over link L.
ea_status admit_user(user_session_info_container *container, message *msg, uint16_t link_index,
                     const request_outputs &out, logger_object *logger)
{
    uint16_t slot = msg->workstation_index;
    user_session_info *info = &container->user_session_info_list[slot];
    log_hold_entry *held = user_session_held(container, msg);
    container->valid_user_session_info_list[container->active_user_count] = info;
    info->user_id = static_cast<int32_t>(msg->user_id);
    info->user_type = static_cast<int16_t>(msg->user_type);
    info->link_index = link_index;
    info->logon_status = logon_status::LOGON_IN_PROGRESS;
    info->request_sent_timer = 0;
    info->immediate_status_query = 0;
    info->status_query = 0;
    info->status_query_count = 0;
    info->login_count = -1;
    info->validation_failure_flag = EA_FORWARD_MESSAGE;
    container->active_user_count++;
    container->connected_users_count[link_index]++;
    user_session_set_logoff_flag(container, slot, 0);
    msg->link_index = link_index;
    EA_LOG_HELD(
        held, logger, EA_LEVEL_EVENT,
        "Added new user [%ld]of user type[%d] having Tws Nw handle [%d] with tws index [%u] and link index [%u], sequence number [%lu]",
        static_cast<long>(info->user_id), info->user_type, msg->workstation_network_handle,
        static_cast<unsigned>(slot), static_cast<unsigned>(link_index),
        static_cast<unsigned long>(msg->sequence_number));

    message *update = message_create(0, UPDATE_LINK_INDEX);
    if (update == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "message_create failed");
        message_destroy(msg);
        return EA_ERROR;
    }
    update->link_index = link_index;
    update->workstation_network_handle = msg->workstation_network_handle;
    update->workstation_index = slot;
    update->user_type = msg->user_type;
    update->user_id = msg->user_id;
    if (user_session_append(out.to_user_side, update, logger) != EA_SUCCESS)
    {
        message_destroy(msg);
        return EA_ERROR;
    }
    EA_LOG_HELD(
        held, logger, EA_LEVEL_EVENT,
        "Sent UPDATE_LINK_INDEX notification having user id [%ld] for user type[%d], tws nw handle [%d],tws index [%u] and link index [%u]",
        static_cast<long>(info->user_id), info->user_type, msg->workstation_network_handle,
        static_cast<unsigned>(slot), static_cast<unsigned>(link_index));
    long user_id = info->user_id;
    int user_type = info->user_type;
    unsigned long sequence = msg->sequence_number;
    if (user_session_append(out.to_request_processing, msg, logger) != EA_SUCCESS)
        return EA_ERROR;
    // The host's answer is awaited as the answer to a sign-off is: without one in time the
    // supervision asks the host for the user's status (process_users).
    uint32_t now = ea_get_tick_count();
    info->request_sent_timer = now != 0 ? now : 1;
    EA_LOG_HELD(
        held, logger, EA_LEVEL_EVENT,
        "Sent Login message to Processing Layer for userid [%ld] of user type [%d], sequence number [%lu]",
        user_id, user_type, sequence);
    return EA_SUCCESS;
}

// The connection's first admitted record must be its sign-on request (2300).
ea_status process_signon(user_session_info_container *container, message *msg, const request_outputs &out,
                         logger_object *logger)
{
    log_hold_entry *held = user_session_held(container, msg);
    // A sign-on too short to hold its user id is refused as an invalid user id, without
    // reading past the record.
    int32_t user_id = 0;
    if (msg->data_length >= SIGNON_REQUEST_USER_ID + 4)
    {
        memcpy(msg->data + VRX_INTERNAL_USER_ID, msg->data + SIGNON_REQUEST_USER_ID, 4);
        user_id = get_i32_be(msg->data, SIGNON_REQUEST_USER_ID);
    }
    else
    {
        EA_LOG_HELD(held, logger, EA_LEVEL_BUSINESS_ERROR,
                    "Sign-on request of length [%u] holds no user id, tws nw handle [%d] tws index [%u]",
                    static_cast<unsigned>(msg->data_length), msg->workstation_network_handle,
                    static_cast<unsigned>(msg->workstation_index));
    }
    msg->user_id = static_cast<uint32_t>(user_id);
    uint16_t slot = msg->workstation_index;
    unsigned long sequence = msg->sequence_number;

    if (user_id < 1)
    {
        EA_LOG_HELD(
            held, logger, EA_LEVEL_BUSINESS_ERROR,
            "Invalid userid [%ld] having message type[%d] having Tws Nw handle [%d] tws index [%u], sequence number [%lu]",
            static_cast<long>(user_id), msg->user_type, msg->workstation_network_handle,
            static_cast<unsigned>(slot), sequence);
        if (send_signon_response(msg, VRX_ERROR_NO_SUCH_DEALER, out, logger) != EA_SUCCESS)
        {
            message_destroy(msg);
            return EA_ERROR;
        }
        EA_LOG_HELD(
            held, logger, EA_LEVEL_EVENT,
            "Sent user sigon response for userid [%ld] of message type[%d], Tws Nw handle [%d] and tws index [%u] with error code [%d]",
            static_cast<long>(user_id), msg->user_type, msg->workstation_network_handle,
            static_cast<unsigned>(slot), VRX_ERROR_NO_SUCH_DEALER);
        return start_logoff(container, msg, REASON_INVALID_USER_ID, out, logger);
    }

    uint16_t existing = 0;
    if (user_session_info_container_get_index(container, user_id, USERID_KEY, &existing, logger) ==
        EA_SUCCESS)
    {
        const user_session_info *other = &container->user_session_info_list[existing];
        EA_LOG_HELD(
            held, logger, EA_LEVEL_BUSINESS_ERROR,
            "Duplicate connection for userid [%ld] having message type [%d], from Tws Nw handle [%d] having tws index [%u], sequence number [%lu]. User status is [%s] and existing Tws Nw handle is [%d]",
            static_cast<long>(user_id), msg->user_type, msg->workstation_network_handle,
            static_cast<unsigned>(slot), sequence, user_session_status_text(other->logon_status),
            other->tws_nw_handle);
        if (send_signon_response(msg, VRX_ERROR_ALREADY_SIGNED_ON, out, logger) != EA_SUCCESS)
        {
            message_destroy(msg);
            return EA_ERROR;
        }
        EA_LOG_HELD(
            held, logger, EA_LEVEL_EVENT,
            "Sent user signon response for userid [%ld] of message type [%d], Tws Nw handle [%d] having tws index [%u] with error code [%d]",
            static_cast<long>(user_id), msg->user_type, msg->workstation_network_handle,
            static_cast<unsigned>(slot), VRX_ERROR_ALREADY_SIGNED_ON);
        return start_logoff(container, msg, REASON_USER_ALREADY_LOGGED_ON, out, logger);
    }

    user_link_mapping_entry links = {};
    if (container->link_table == nullptr ||
        user_link_info_get_user_links(container->link_table, static_cast<uint32_t>(user_id), &links,
                                      logger) != EA_SUCCESS)
    {
        EA_LOG_HELD(
            held, logger, EA_LEVEL_BUSINESS_ERROR,
            "Initiating USER LOGOFF for user type[%d]as Userid [%ld] with Tws Nw handle [%d] is not found in the user_link_mapping table. sequence number [%lu]",
            msg->user_type, static_cast<long>(user_id), msg->workstation_network_handle, sequence);
        return start_logoff(container, msg, REASON_USER_NOT_MAPPED, out, logger);
    }

    uint16_t pending = REASON_ALL_LINKS_DOWN;
    const uint16_t candidates[2] = {links.link_index, links.second_word};
    for (uint16_t link : candidates)
    {
        if (link == USER_SESSION_NO_LINK)
            continue;
        // A mapping naming a link the gateway does not run counts as a link that is down.
        if (!user_session_link_known(container, link))
        {
            EA_LOG_HELD(held, logger, EA_LEVEL_BUSINESS_ERROR,
                        "Link index [%u] of user [%ld] is not a configured link", static_cast<unsigned>(link),
                        static_cast<long>(user_id));
            continue;
        }
        if (user_session_link_logon_complete(container, link) == 1)
        {
            if (user_session_link_rate_control(container, link) < 1)
            {
                pending = REASON_RATE_CONTROL_ZERO;
                continue;
            }
            if (static_cast<int32_t>(container->connected_users_count[link]) <
                    user_session_link_max_users(container, link) &&
                container->active_user_count < container->user_slot_count)
                return admit_user(container, msg, link, out, logger);
            pending = REASON_LINK_USER_LIMIT;
            continue;
        }
        uint32_t began = user_session_link_inactivity_timer(container, link);
        if (ea_get_tick_difference(ea_get_tick_count(), began) < USER_SESSION_LINK_LOGON_GRACE_MS)
        {
            EA_LOG_HELD(
                held, logger, EA_LEVEL_BUSINESS_ERROR,
                "Initiating USER LOGOFF for Userid [%ld] of message type [%d] with Tws Nw handle [%d] tws index [%u] reason code [%d] sequence number [%lu]",
                static_cast<long>(user_id), msg->user_type, msg->workstation_network_handle,
                static_cast<unsigned>(slot), REASON_LINK_LOGON_IN_PROGRESS, sequence);
            return start_logoff(container, msg, REASON_LINK_LOGON_IN_PROGRESS, out, logger);
        }
    }
    if (pending == REASON_RATE_CONTROL_ZERO &&
        send_signon_response(msg, VRX_ERROR_TRY_AGAIN, out, logger) != EA_SUCCESS)
    {
        message_destroy(msg);
        return EA_ERROR;
    }
    EA_LOG_HELD(
        held, logger, EA_LEVEL_BUSINESS_ERROR,
        "Initiating USER LOGOFF for Userid [%ld] having user type [%d] with Tws Nw handle [%d] tws index [%u] reason code [%d] sequence number [%lu]",
        static_cast<long>(user_id), msg->user_type, msg->workstation_network_handle,
        static_cast<unsigned>(slot), pending, sequence);
    return start_logoff(container, msg, pending, out, logger);
}

// A request the user may not send: logged, raised to the console with the transcode as
// the event's value, answered where the workstation protocol has an answer (a second
// sign-on gets the already-signed-on response), and freed. The user's session goes on.
ea_status refuse_user_request(user_session_info_container *container, message *msg, int16_t transcode,
                              user_request_verdict verdict, const request_outputs &out, logger_object *logger)
{
    uint16_t slot = msg->workstation_index;
    const user_session_info *info = &container->user_session_info_list[slot];
    log_hold_entry *held = user_session_held(container, msg);
    EA_LOG_HELD(
        held, logger, EA_LEVEL_BUSINESS_ERROR,
        "Refused the message with transcode [%d] from user [%ld] having user type [%d], tws nw handle [%d], tws index [%u]: %s. Sequence number [%lu]",
        transcode, static_cast<long>(info->user_id), info->user_type, msg->workstation_network_handle,
        static_cast<unsigned>(slot),
        verdict == USER_REQUEST_SECOND_SIGN_ON ? "the user is already signed on"
                                               : "the transcode belongs to the host link",
        static_cast<unsigned long>(msg->sequence_number));
    if (verdict == USER_REQUEST_SECOND_SIGN_ON && info->user_type == USER_TYPE_WORKSTATION &&
        send_signon_response(msg, VRX_ERROR_ALREADY_SIGNED_ON, out, logger) != EA_SUCCESS)
    {
        message_destroy(msg);
        return EA_ERROR;
    }
    message *event = user_session_control_record(container, slot, KOVA_MESSAGE, REASON_REQUEST_REFUSED);
    message_destroy(msg);
    if (event == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "message_create failed");
        return EA_ERROR;
    }
    event->event_value = transcode;
    return user_session_append(out.to_console, event, logger);
}

// A request of a connection whose user has been admitted.
ea_status process_user_request(user_session_info_container *container, message *msg,
                               const request_outputs &out, logger_object *logger)
{
    uint16_t slot = msg->workstation_index;
    user_session_info *info = &container->user_session_info_list[slot];
    log_hold_entry *held = user_session_held(container, msg);
    unsigned long sequence = msg->sequence_number;
    long user_id = info->user_id;
    int user_type = info->user_type;

    // Every request of a connection travels under the user admitted on it.
    put_u32_be(msg->data, VRX_INTERNAL_USER_ID, static_cast<uint32_t>(info->user_id));
    msg->user_id = static_cast<uint32_t>(info->user_id);
    int16_t transcode = user_session_transcode(msg);
    user_request_verdict verdict = user_request_filter_check(transcode);
    if (verdict != USER_REQUEST_ALLOWED)
        return refuse_user_request(container, msg, transcode, verdict, out, logger);

    if (user_session_link_logon_complete(container, info->link_index) != 1)
    {
        EA_LOG_HELD(
            held, logger, EA_LEVEL_BUSINESS_ERROR,
            "For user [%ld] having user type[%d] the link active flag for the link index [%u] is FALSE. So discarding message sequence number [%lu]",
            user_id, user_type, static_cast<unsigned>(info->link_index), sequence);
        message_destroy(msg);
        return EA_SUCCESS;
    }
    if (info->status_query == 1)
    {
        EA_LOG_HELD(
            held, logger, EA_LEVEL_BUSINESS_ERROR,
            "Status query sent for user [%ld] of user type[%d]. So discarding message, sequence number [%lu]",
            user_id, user_type, sequence);
        message_destroy(msg);
        return EA_SUCCESS;
    }
    msg->link_index = info->link_index;
    switch (info->logon_status)
    {
    case logon_status::LOGOFF_IN_PROGRESS:
        EA_LOG_HELD(
            held, logger, EA_LEVEL_BUSINESS_ERROR,
            "Status of user [%ld] having user type [%d] is LOGOFF_IN_PROGRESS. So discarding message, sequence number [%lu]",
            user_id, user_type, sequence);
        message_destroy(msg);
        return EA_SUCCESS;
    case logon_status::LOGGED_ON:
        if (transcode == TRANSCODE_SIGN_OFF_REQUEST)
        {
            info->logon_status = logon_status::LOGOFF_IN_PROGRESS;
            user_session_set_logoff_flag(container, slot, 1);
            info->validation_failure_flag = EA_DO_NOT_FORWARD;
            user_session_set_logoff_reason(info, REASON_USER_LOGOFF);
            info->request_sent_timer = ea_get_tick_count();
            EA_LOG_HELD(
                held, logger, EA_LEVEL_EVENT,
                "Received Log off Message from user for user type [%d]. Status of user [%ld] set to LOGOFF_IN_PROGRESS. Also started the request sent timer. sequence number [%lu]",
                user_type, user_id, sequence);
        }
        return user_session_append(out.to_request_processing, msg, logger);
    case logon_status::LOGON_IN_PROGRESS:
        if (transcode == TRANSCODE_SYSTEM_INFORMATION_IN)
        {
            EA_LOG_HELD(held, logger, EA_LEVEL_EVENT,
                        "Received SYSTEM_INFORMATION_IN from user [%ld] having user type[%d]", user_id,
                        user_type);
            // Time field 3 tells the host which front end asks: 1.0 FIX, 0.0 workstation.
            double marker = info->user_type == USER_TYPE_FIX ? 1.0 : 0.0;
            uint64_t bits = 0;
            memcpy(&bits, &marker, sizeof(bits));
            put_u64_be(msg->data, VRX_INTERNAL_TIME_3, bits);
            if (user_session_append(out.to_request_processing, msg, logger) != EA_SUCCESS)
                return EA_ERROR;
            EA_LOG_HELD(held, logger, EA_LEVEL_EVENT,
                        "Sent SYSTEM_INFORMATION_IN for user [%ld] having user type[%d]", user_id, user_type);
            return EA_SUCCESS;
        }
        if (transcode == TRANSCODE_SIGN_OFF_REQUEST)
        {
            EA_LOG_HELD(held, logger, EA_LEVEL_EVENT,
                        "Received LOGOFF_TRANSCODE from user [%ld] having user type[%d]", user_id, user_type);
            info->logon_status = logon_status::LOGOFF_IN_PROGRESS;
            user_session_set_logoff_flag(container, slot, 1);
            info->validation_failure_flag = EA_DO_NOT_FORWARD;
            user_session_set_logoff_reason(info, REASON_USER_LOGOFF);
            info->status_query = 1;
            info->immediate_status_query = 1;
            EA_LOG_HELD(
                held, logger, EA_LEVEL_EVENT,
                "Status of user [%ld] of user type[%d] set to LOGOFF_IN_PROGRESS.Also set the request sent timer. sequence number [%lu]",
                user_id, user_type, sequence);
            message_destroy(msg);
            return EA_SUCCESS;
        }
        EA_LOG_HELD(
            held, logger, EA_LEVEL_BUSINESS_ERROR,
            "Discarding the message with transcode [%d] for user [%ld] having user type[%d], as this transcode is not allowed inlogon process. sequence number [%lu]",
            transcode, user_id, user_type, sequence);
        message_destroy(msg);
        return EA_SUCCESS;
    default:
        EA_LOG_HELD(
            held, logger, EA_LEVEL_BUSINESS_ERROR,
            "Status of user [%ld] having user type[%d] is Invalid [%d]. Surely a bug, sequence number [%lu]",
            user_id, user_type, info->logon_status, sequence);
        message_destroy(msg);
        return EA_SUCCESS;
    }
}

ea_status process_normal_message(user_session_info_container *container, message *msg,
                                 const request_outputs &out, logger_object *logger)
{
    log_hold_entry *held = user_session_held(container, msg);
    EA_LOG_HELD(held, logger, EA_LEVEL_ACTIVITY, "Received NORMAL_MESSAGE message from Validation Layer.");
    if (!user_session_slot_in_range(container, msg))
    {
        EA_LOG_HELD(
            held, logger, EA_LEVEL_BUSINESS_ERROR,
            "Discarding message having Invalid tws index [%u] or Invalid tws_nw_handle[%d] message type [%d].",
            static_cast<unsigned>(msg->workstation_index), msg->workstation_network_handle, msg->user_type);
        message_destroy(msg);
        return EA_SUCCESS;
    }
    uint16_t slot = msg->workstation_index;
    user_session_info *info = &container->user_session_info_list[slot];
    int32_t verdict = user_session_info_req_network_validate(info, slot, msg, logger, held);
    if (verdict == USER_SESSION_SEQUENCE_ERROR)
    {
        EA_LOG_HELD(
            held, logger, EA_LEVEL_BUSINESS_ERROR,
            "Initiating USER LOGOFF for User having user type [%d] and Tws Nw handle [%d] tws index [%u] reason code [%d] sequence number [%lu]",
            msg->user_type, msg->workstation_network_handle, static_cast<unsigned>(slot),
            REASON_SEQUENCE_ERROR, static_cast<unsigned long>(msg->sequence_number));
        return start_logoff(container, msg, REASON_SEQUENCE_ERROR, out, logger);
    }
    if (verdict != 0)
    {
        EA_LOG_HELD(
            held, logger, EA_LEVEL_BUSINESS_ERROR,
            "Discarded Message with message type [%d] tws nw handle [%d] with tws index [%u], sequence number [%lu]",
            msg->user_type, msg->workstation_network_handle, static_cast<unsigned>(slot),
            static_cast<unsigned long>(msg->sequence_number));
        message_destroy(msg);
        return EA_SUCCESS;
    }
    // A record shorter than the VRX header carries no transcode: it cannot be a sign-on,
    // and for an admitted user it is dropped.
    bool has_header = msg->data_length >= VRX_HEADER_SIZE;
    int16_t transcode = has_header ? user_session_transcode(msg) : 0;
    if (info->user_id == 0)
    {
        if (transcode != TRANSCODE_SIGN_ON_REQUEST)
        {
            EA_LOG_HELD(
                held, logger, EA_LEVEL_BUSINESS_ERROR,
                "Discarding the Non-login message having message type[%d] with transcode [%d] from NEW user having tws_nw_handle[%d] and tws index [%u] with Sequence Number [%lu]",
                msg->user_type, transcode, msg->workstation_network_handle, static_cast<unsigned>(slot),
                static_cast<unsigned long>(msg->sequence_number));
            return start_logoff(container, msg, REASON_FIRST_RECORD_NOT_SIGN_ON, out, logger);
        }
        return process_signon(container, msg, out, logger);
    }
    if (!has_header)
    {
        EA_LOG_HELD(
            held, logger, EA_LEVEL_BUSINESS_ERROR,
            "Discarding message of length [%u] shorter than the record header for user [%ld], sequence number [%lu]",
            static_cast<unsigned>(msg->data_length), static_cast<long>(info->user_id),
            static_cast<unsigned long>(msg->sequence_number));
        message_destroy(msg);
        return EA_SUCCESS;
    }
    return process_user_request(container, msg, out, logger);
}

ea_status process_user_logoff_flush(user_session_info_container *container, message *msg,
                                    logger_object *logger)
{
    log_hold_entry *held = user_session_held(container, msg);
    if (!user_session_slot_in_range(container, msg))
    {
        EA_LOG_HELD(
            held, logger, EA_LEVEL_BUSINESS_ERROR,
            "Discarding USER_LOGOFF_FLUSH message having invalid tws index [%u] for tws_nw_handle[%d] having message type[%d]",
            static_cast<unsigned>(msg->workstation_index), msg->workstation_network_handle, msg->user_type);
        message_destroy(msg);
        return EA_SUCCESS;
    }
    uint16_t slot = msg->workstation_index;
    user_session_info *info = &container->user_session_info_list[slot];
    EA_LOG_HELD(
        held, logger, EA_LEVEL_EVENT,
        "Received a USER_LOGOFF_FLUSH message for user [%ld] having user type[%d] with tws nw handle [%d] with tws index [%u] from Validation Layer",
        static_cast<long>(static_cast<int32_t>(msg->user_id)), msg->user_type,
        msg->workstation_network_handle, static_cast<unsigned>(slot));
    if (msg->workstation_network_handle == info->tws_nw_handle &&
        info->logon_status == logon_status::LOGOFF_IN_PROGRESS)
    {
        long user_id = info->user_id;
        int user_type = info->user_type;
        int32_t handle = info->tws_nw_handle;
        unsigned link_index = info->link_index;
        user_session_info_container_delete_user(container, slot);
        EA_LOG_HELD(
            held, logger, EA_LEVEL_EVENT,
            "The user [%ld] having user type [%d] and tws_nw_handle[%d], tws index [%u] and link index [%u] is deleted from QEL and status_query flag is reset",
            user_id, user_type, handle, static_cast<unsigned>(slot), link_index);
    }
    message_destroy(msg);
    return EA_SUCCESS;
}

ea_status process_box_logoff_flush(message *msg, const request_outputs &out, logger_object *logger)
{
    if (msg->user_type == USER_TYPE_WORKSTATION)
    {
        EA_LOG(
            logger, EA_LEVEL_EVENT,
            "Received a BOX_LOGOFF_FLUSH message of message type [%d] for link index [%u] from Validation Layer",
            msg->user_type, static_cast<unsigned>(msg->link_index));
        msg->user_type = USER_TYPE_FIX;
        unsigned link_index = msg->link_index;
        if (user_session_append(out.to_fix_send, msg, logger) != EA_SUCCESS)
            return EA_ERROR;
        EA_LOG(
            logger, EA_LEVEL_EVENT,
            "Forwarded BOX_LOGOFF_FLUSH message with message type[%d] and link index [%u] to fix send thread",
            USER_TYPE_FIX, link_index);
        return EA_SUCCESS;
    }
    EA_LOG(
        logger, EA_LEVEL_EVENT,
        "Received a BOX_LOGOFF_FLUSH message of message type [%d] for link index [%u] from fix send thread",
        msg->user_type, static_cast<unsigned>(msg->link_index));
    return user_session_append(out.to_request_processing, msg, logger);
}

ea_status process_journal_request(user_session_info_container *container, message *msg,
                                  const request_outputs &out, logger_object *logger)
{
    unsigned long sequence = msg->sequence_number;
    EA_LOG(
        logger, EA_LEVEL_EVENT,
        "Received a SECONDARY_JOURNAL_DOWNLOAD message from Validation Layer for USER [%ld] of type [%d] having tws_nw_handle[%d] with tws index [%u] for link index [%u] sequence number[%lu]",
        static_cast<long>(static_cast<int32_t>(msg->user_id)), msg->user_type,
        msg->workstation_network_handle, static_cast<unsigned>(msg->workstation_index),
        static_cast<unsigned>(msg->link_index), sequence);
    if (!user_session_slot_in_range(container, msg))
    {
        EA_LOG(
            logger, EA_LEVEL_BUSINESS_ERROR,
            "Discarding SECONDARY_JOURNAL_DOWNLOAD_REQUEST message having invalid tws index [%u] for tws_nw_handle[%d] having message type[%d]",
            static_cast<unsigned>(msg->workstation_index), msg->workstation_network_handle, msg->user_type);
        message_destroy(msg);
        return EA_SUCCESS;
    }
    const user_session_info *info = &container->user_session_info_list[msg->workstation_index];
    long user_id = info->user_id;
    // A free slot has no link: its "link" is never logged on.
    if (user_session_link_logon_complete(container, info->link_index) != 1)
    {
        EA_LOG(
            logger, EA_LEVEL_BUSINESS_ERROR,
            "For user [%ld] the link active flag for the link index [%u] is FALSE. So discarding message, sequence number [%lu]",
            user_id, static_cast<unsigned>(info->link_index), sequence);
        message_destroy(msg);
        return EA_SUCCESS;
    }
    if (info->status_query == 1)
    {
        EA_LOG(logger, EA_LEVEL_BUSINESS_ERROR,
               "Status query sent for user [%ld]. So discarding message, sequence number [%lu]", user_id,
               sequence);
        message_destroy(msg);
        return EA_SUCCESS;
    }
    if (info->logon_status == logon_status::LOGGED_ON)
    {
        msg->tag = NORMAL_MESSAGE;
        int32_t handle = msg->workstation_network_handle;
        unsigned link_index = msg->link_index;
        if (user_session_append(out.to_request_processing, msg, logger) != EA_SUCCESS)
            return EA_ERROR;
        EA_LOG(
            logger, EA_LEVEL_EVENT,
            "Sending SECONDARY_JOURNAL_DOWNLOAD message to Processing Layer for USER [%ld] with tws_nw_handle[%d] for link index [%u] sequence number[%lu]",
            user_id, handle, link_index, sequence);
        return EA_SUCCESS;
    }
    EA_LOG(
        logger, EA_LEVEL_BUSINESS_ERROR,
        "Discarding the SECONDARY_JOURNAL_DOWNLOAD_REQUEST as user [%ld] is not LOGGED_ON having the tws_nw_handle[%d] and tws index [%u] for link index [%u] sequence number[%lu]",
        user_id, msg->workstation_network_handle, static_cast<unsigned>(msg->workstation_index),
        static_cast<unsigned>(msg->link_index), sequence);
    message_destroy(msg);
    return EA_SUCCESS;
}

ea_status process_one_request(user_session_info_container *container, message *msg,
                              const request_outputs &out, logger_object *logger)
{
    switch (msg->tag)
    {
    case NORMAL_MESSAGE:
        return process_normal_message(container, msg, out, logger);
    case USER_LOGOFF_FLUSH:
        return process_user_logoff_flush(container, msg, logger);
    case BOX_LOGOFF_FLUSH:
        return process_box_logoff_flush(msg, out, logger);
    case CLIENT_DISCONNECTED:
    case CLIENT_VALIDATION_FAILURE:
        EA_LOG_HELD(
            user_session_held(container, msg), logger, EA_LEVEL_EVENT,
            "Received %s message having message type[%d] for tws nw handle [%d] having tws index [%u] reason code [%d]",
            msg->tag == CLIENT_DISCONNECTED ? "CLIENT_DISCONNECTED" : "CLIENT_VALIDATION_FAILURE",
            msg->user_type, msg->workstation_network_handle, static_cast<unsigned>(msg->workstation_index),
            msg->reason_code);
        return start_logoff(container, msg, msg->reason_code, out, logger);
    case SECONDARY_JOURNAL_DOWNLOAD_REQUEST:
        return process_journal_request(container, msg, out, logger);
    default:
        EA_LOG(
            logger, EA_LEVEL_BUSINESS_ERROR,
            "Invalid message tag [%d] having message type[%d]. Discarding message with userid [%ld], tws nw handle [%d] with tws index [%u], sequence number [%lu]",
            msg->tag, msg->user_type, static_cast<long>(static_cast<int32_t>(msg->user_id)),
            msg->workstation_network_handle, static_cast<unsigned>(msg->workstation_index),
            static_cast<unsigned long>(msg->sequence_number));
        message_destroy(msg);
        return EA_SUCCESS;
    }
}

} // namespace

ea_status user_session_info_container_process_input_request_messages(user_session_info_container *container,
                                                                     queue *input,
                                                                     queue *to_request_processing,
                                                                     queue *to_user_side, queue *to_fix_send,
                                                                     queue *to_console, logger_object *logger)
{
    const request_outputs out = {to_request_processing, to_user_side, to_fix_send, to_console};
    ea_status status = EA_SUCCESS;
    ea_sync_info_enter_critical_section(container->lock);
    while (queue_get_count(input) > 0)
    {
        message *msg = static_cast<message *>(queue_remove_head(input));
        if (process_one_request(container, msg, out, logger) != EA_SUCCESS)
        {
            status = EA_ERROR;
            break;
        }
    }
    ea_sync_info_leave_critical_section(container->lock);
    return status;
}
