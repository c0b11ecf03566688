// The host session layer's per-link sessions: outbound sequencing and the recovery queue,
// inbound sequence checks and acknowledgements, the sorting of the host's single-record
// packets, the box logoff and session recovery flushes, the response timer, the overflow
// flags and heart beats. The thread that drives it is th_session_module.cpp.
#include "gateway/session_layer/th_session/host_session_info_container.h"

#include <new>

#include "common/config_file.h"
#include "common/ea_time.h"
#include "gateway/business_processing_layer/vrx_record.h"
#include "gateway/controller_module/box_comm_info_container.h"
#include "gateway/controller_module/box_comm_records.h"
#include "gateway/runtime/logger.h"
#include "gateway/runtime/message.h"
#include "gateway/runtime/queue.h"
#include "gateway/runtime/wire.h"

static int32_t host_session_current_handle(const host_session_info_container *container, uint16_t link)
{
    return container->box_records->box_comm_info_array[link].host_nw_handle.load();
}

static bool host_session_recovery_enabled(const host_session_info_container *container, uint16_t link)
{
    return ea_flag_get(&container->box_records->box_comm_info_array[link].session_recovery_enabled) == 1;
}

static unsigned long host_session_seq(const message *msg)
{
    return static_cast<unsigned long>(msg->sequence_number);
}

static void host_session_info_init(host_session_info *info)
{
    info->least_send_seq_no = 0;
    info->last_send_seq_no = 0;
    info->send_sequence_no = 1;
    info->recv_sequence_no = 1;
    info->last_recv_seq_no = 0;
    info->send_sequence_wrap_around_flag = 0;
    info->discard_flag = 0;
    info->validation_failure_flag = EA_FORWARD_MESSAGE;
    info->validation_failure_nw_handle = -1;
    info->unacknowledged_weight = 0;
    info->relogon_status_flag = 0;
    info->unacknowledged_message_count = 0;
}

host_session_info_container *
host_session_info_container_create(const char *config_file, uint16_t number_of_links,
                                   box_comm_info_container *box_records, ea_flag *recovery_queue_overflow,
                                   ea_flag *base_rate_control, ea_flag *session_recovery_flag,
                                   logger_object *logger)
{
    host_session_info_container *container = new (std::nothrow) host_session_info_container();
    if (container == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "Malloc failed for host session info container.");
        return nullptr;
    }
    container->box_records = box_records;
    container->number_of_links = number_of_links;
    container->recovery_queue_overflow = recovery_queue_overflow;
    container->base_rate_control = base_rate_control;
    container->session_recovery_flag = session_recovery_flag;
    container->recovery_queue_limit = static_cast<int16_t>(ea_flag_get(base_rate_control));
    container->recovery_queue_low_mark = static_cast<int32_t>(container->recovery_queue_limit * 0.5);

    int32_t timeout = 0;
    if (config_file_read_int(config_file, "HOST_RESPONSE_TIMEOUT", &timeout) == EA_SUCCESS)
        EA_LOG(logger, EA_LEVEL_EVENT, "[%s] parameter found in config file [%s]", "HOST_RESPONSE_TIMEOUT",
               config_file);
    else
        timeout = HOST_SESSION_DEFAULT_RESPONSE_TIMEOUT_MS;
    container->host_response_timeout = timeout < 0 ? HOST_SESSION_DEFAULT_RESPONSE_TIMEOUT_MS : timeout;

    container->host_session_info_array =
        new (std::nothrow) host_session_info[number_of_links == 0 ? 1 : number_of_links]();
    if (container->host_session_info_array == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "Malloc failed for host session info array.");
        delete container;
        return nullptr;
    }
    for (uint32_t link = 0; link < number_of_links; ++link)
    {
        host_session_info *info = &container->host_session_info_array[link];
        host_session_info_init(info);
        if ((info->recovery_queue = queue_create()) == nullptr)
        {
            EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "queue creation failed for host session info array.");
            host_session_info_container_destroy(container);
            return nullptr;
        }
    }
    return container;
}

void host_session_info_container_destroy(host_session_info_container *container)
{
    if (container == nullptr)
        return;
    if (container->host_session_info_array != nullptr)
    {
        for (uint32_t link = 0; link < container->number_of_links; ++link)
        {
            if (container->host_session_info_array[link].recovery_queue != nullptr)
                ea_destroy_message_queue(container->host_session_info_array[link].recovery_queue);
        }
        delete[] container->host_session_info_array;
    }
    delete container;
}

static ea_status host_session_append(queue *output, message *msg, const char *failure_text,
                                     logger_object *logger)
{
    if (queue_append(output, msg) != EA_SUCCESS)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "%s", failure_text);
        message_destroy(msg);
        return EA_ERROR;
    }
    return EA_SUCCESS;
}

ea_status host_session_info_container_req_validate(host_session_info_container *container, message *msg,
                                                   logger_object *logger)
{
    uint16_t link = msg->link_index;
    host_session_info *info = &container->host_session_info_array[link];
    msg->network_sequence_number = static_cast<uint16_t>(info->send_sequence_no);
    EA_LOG(
        logger, EA_LEVEL_ACTIVITY,
        "Session sequence number [%d] applied sucessfully to the message, link index [%u], host nw handle [%d], sequence number [%lu]",
        info->send_sequence_no, link, msg->host_network_handle, host_session_seq(msg));
    info->last_send_seq_no = info->send_sequence_no;

    if (host_session_recovery_enabled(container, link))
    {
        msg->response_timer_start = ea_get_tick_count();
        EA_LOG(logger, EA_LEVEL_ACTIVITY,
               "TH response timer started for message, session sequence number [%d], link index [%u]",
               info->send_sequence_no, link);
        msg->last_sequence_number = static_cast<uint16_t>(info->last_recv_seq_no);
        message *copy = message_copy(msg);
        if (copy == nullptr)
        {
            EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "message copy failed");
            return EA_ERROR;
        }
        copy->tag = NORMAL_MESSAGE;
        if (host_session_append(info->recovery_queue, copy, "queue append failed.", logger) != EA_SUCCESS)
            return EA_ERROR;
        info->unacknowledged_weight += static_cast<uint32_t>(msg->packing_weight);
        if (queue_get_count(info->recovery_queue) == 1)
            info->least_send_seq_no = info->send_sequence_no;
    }

    if (++info->send_sequence_no > HOST_SESSION_SEQUENCE_LIMIT)
    {
        info->send_sequence_no = 1;
        info->send_sequence_wrap_around_flag = 1;
        EA_LOG(logger, EA_LEVEL_EVENT, "ALERT: send_sequence_no wraparound for link index [%u]", link);
    }
    return EA_SUCCESS;
}

// Step shared by data from request processing and box records from box communication.
static ea_status host_session_send_sequenced(host_session_info_container *container, message *msg,
                                             queue *to_send_validator, logger_object *logger)
{
    uint16_t link = msg->link_index;
    host_session_info *info = &container->host_session_info_array[link];
    int32_t handle = host_session_current_handle(container, link);
    if (info->discard_flag == 1)
    {
        EA_LOG(
            logger, EA_LEVEL_BUSINESS_ERROR,
            "Message discarded for link index [%u], host nw handle [%d], as discard flag is set. Sequence Number [%lu].",
            link, handle, host_session_seq(msg));
        message_destroy(msg);
        return EA_SUCCESS;
    }
    msg->host_network_handle = handle;
    if (host_session_info_container_req_validate(container, msg, logger) != EA_SUCCESS)
    {
        message_destroy(msg);
        return EA_ERROR;
    }
    if (info->relogon_status_flag == 0)
    {
        if (host_session_append(to_send_validator, msg, "queue append failed.", logger) != EA_SUCCESS)
            return EA_ERROR;
        EA_LOG(logger, EA_LEVEL_ACTIVITY, "Message forwarded for link index [%u],host nw handle [%d].", link,
               handle);
        return EA_SUCCESS;
    }
    EA_LOG(
        logger, EA_LEVEL_EVENT,
        " Message not forwaded to TH send validator for link index [%u], host nw handle [%d], Session recovery is in progress",
        link, handle);
    message_destroy(msg); // its copy waits in the recovery queue
    return EA_SUCCESS;
}

static void host_session_set_link_flag(ea_flag *flags, uint16_t link, uint16_t value)
{
    if (flags != nullptr)
        ea_flag_set(&flags[link], value);
}

static void host_session_reset(host_session_info_container *container, uint16_t link, int32_t handle,
                               bool log_each_record, logger_object *logger)
{
    host_session_info *info = &container->host_session_info_array[link];
    info->discard_flag = 0;
    EA_LOG(logger, EA_LEVEL_EVENT, "Discard flag reset for link index [%u], host nw handle [%d]", link,
           handle);
    while (message *old = static_cast<message *>(queue_remove_head(info->recovery_queue)))
    {
        if (log_each_record)
            EA_LOG(logger, EA_LEVEL_EVENT,
                   "Discarding message with sequence number [%lu] from recovery queue for link index [%u].",
                   host_session_seq(old), link);
        message_destroy(old);
    }
    info->unacknowledged_weight = 0;
    info->unacknowledged_message_count = 0;
    host_session_set_link_flag(container->recovery_queue_overflow, link, 0);
    EA_LOG(logger, EA_LEVEL_EVENT,
           "Recovery queue overflow flag reset for link index [%u], host nw handle [%d]", link, handle);
    host_session_set_link_flag(container->session_recovery_flag, link, 0);
    info->validation_failure_flag = EA_FORWARD_MESSAGE;
    info->validation_failure_nw_handle = -1;
    EA_LOG(logger, EA_LEVEL_EVENT,
           "validation fail flag set to EA_FORWARD_MESSAGE for link index [%u], host nw handle [%d].", link,
           handle);
    info->relogon_status_flag = 0;
    EA_LOG(logger, EA_LEVEL_EVENT,
           "relogon status flag set to FALSE for link index [%u], host nw handle [%d].", link, handle);
    info->send_sequence_wrap_around_flag = 0;
    EA_LOG(logger, EA_LEVEL_EVENT,
           "sequence wrap around set to FALSE for link index [%u], host nw handle [%d].", link, handle);
    info->recv_sequence_no = 1;
    info->send_sequence_no = 1;
    info->last_recv_seq_no = 0;
    info->least_send_seq_no = 0;
    info->last_send_seq_no = 0;
}

static bool host_session_link_ok(const host_session_info_container *container, message *msg,
                                 logger_object *logger)
{
    if (msg->link_index < container->number_of_links)
        return true;
    EA_LOG(logger, EA_LEVEL_BUSINESS_ERROR, "The link index [%u] exceeds number of elements in array.",
           msg->link_index);
    message_destroy(msg);
    return false;
}

static ea_status host_session_invalid_tag(message *msg, logger_object *logger)
{
    EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR,
           "Received message with invalid message tag [%d]. This message tag was not expected here.",
           msg->tag);
    message_destroy(msg);
    return EA_ERROR;
}

ea_status host_session_info_container_process_request_messages(host_session_info_container *container,
                                                               queue *to_send_validator, queue *input,
                                                               logger_object *logger)
{
    while (message *msg = static_cast<message *>(queue_remove_head(input)))
    {
        if (!host_session_link_ok(container, msg, logger))
            continue;
        uint16_t link = msg->link_index;
        int32_t handle = host_session_current_handle(container, link);
        if (msg->tag == NORMAL_MESSAGE)
        {
            EA_LOG(logger, EA_LEVEL_ACTIVITY,
                   "Received NORMAL_MESSAGE from link index [%u], host nw handle [%d]", link, handle);
            if (host_session_send_sequenced(container, msg, to_send_validator, logger) != EA_SUCCESS)
                return EA_ERROR;
        }
        else if (msg->tag == BOX_LOGOFF_FLUSH)
        {
            EA_LOG(
                logger, EA_LEVEL_EVENT,
                "Received BOX_LOGOFF_FLUSH message for link index [%u],  host nw handle [%d] from Request Data Processing Module.",
                link, handle);
            host_session_reset(container, link, handle, true, logger);
            if (host_session_append(to_send_validator, msg, "queue append failed.", logger) != EA_SUCCESS)
                return EA_ERROR;
            EA_LOG(
                logger, EA_LEVEL_EVENT,
                "The BOX_LOGOFF_FLUSH message forwarded to TH send validator for link index [%u], host nw handle [%d]",
                link, handle);
        }
        else
            return host_session_invalid_tag(msg, logger);
    }
    return EA_SUCCESS;
}

ea_status host_session_info_container_process_box_messages(host_session_info_container *container,
                                                           queue *to_send_validator, queue *input,
                                                           logger_object *logger)
{
    while (message *msg = static_cast<message *>(queue_remove_head(input)))
    {
        if (!host_session_link_ok(container, msg, logger))
            continue;
        uint16_t link = msg->link_index;
        host_session_info *info = &container->host_session_info_array[link];
        int32_t handle = host_session_current_handle(container, link);
        switch (msg->tag)
        {
        case NORMAL_MESSAGE:
            EA_LOG(logger, EA_LEVEL_ACTIVITY,
                   "Received NORMAL_MESSAGE message for link index [%u], host nw handle [%d].", link, handle);
            if (host_session_send_sequenced(container, msg, to_send_validator, logger) != EA_SUCCESS)
                return EA_ERROR;
            continue;
        case BOX_LOGON_REQUEST:
            EA_LOG(logger, EA_LEVEL_EVENT, "Received %s message for link index [%u], host nw handle [%d].",
                   "BOX_LOGON_REQUEST", link, msg->host_network_handle);
            if (host_session_info_container_req_validate(container, msg, logger) != EA_SUCCESS)
            {
                message_destroy(msg);
                return EA_ERROR;
            }
            EA_LOG(logger, EA_LEVEL_EVENT,
                   "Forwarded %s to th send validator for link index [%u], host nw handle [%d]",
                   "BOX_LOGON_REQUEST", link, msg->host_network_handle);
            break;
        case BOX_RELOGON_REQUEST:
        {
            EA_LOG(logger, EA_LEVEL_EVENT, "Received %s message for link index [%u], host nw handle [%d].",
                   "BOX_RELOGON_REQUEST", link, msg->host_network_handle);
            if (msg->data_length < BOX_RELOGON_REQUEST_SIZE)
            {
                EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "BOX_RELOGON_REQUEST of [%d] bytes is too short",
                       msg->data_length);
                message_destroy(msg);
                return EA_ERROR;
            }
            msg->network_sequence_number = 0;
            // The oldest unacknowledged number, or, with nothing unacknowledged, the next one
            // to be sent: the host resumes the gateway's stream from there.
            int16_t least =
                queue_get_count(info->recovery_queue) != 0 ? info->least_send_seq_no : info->send_sequence_no;
            put_i16_be(msg->data, BOX_RELOGON_LAST_RECV_SEQ_NO, info->last_recv_seq_no);
            put_i16_be(msg->data, BOX_RELOGON_LEAST_SEND_SEQ_NO, least);
            EA_LOG(
                logger, EA_LEVEL_EVENT,
                "Sending BOX_RELOGON_REQUEST with host last received sequence number[%d] least_send_seq_no[%d], link index[%u] ",
                info->last_recv_seq_no, least, link);
            break;
        }
        case DROP_HOST_CONNECTION:
            EA_LOG(
                logger, EA_LEVEL_EVENT,
                "Forwarded DROP_HOST_CONNECTION message to th send validator for link index [%u], host nw handle [%d]",
                link, msg->host_network_handle);
            break;
        case DROP_HOST_SESSION:
            host_session_reset(container, link, msg->host_network_handle, false, logger);
            EA_LOG(logger, EA_LEVEL_EVENT,
                   "Forwarded the message to TH send validator for link index [%u], host nw handle[%d]", link,
                   msg->host_network_handle);
            break;
        default:
            return host_session_invalid_tag(msg, logger);
        }
        if (host_session_append(to_send_validator, msg, "queue append failed.", logger) != EA_SUCCESS)
            return EA_ERROR;
    }
    return EA_SUCCESS;
}

ea_status host_session_info_container_cleanup_recovery_queue(host_session_info_container *container,
                                                             const message *msg, logger_object *logger)
{
    uint16_t link = msg->link_index;
    host_session_info *info = &container->host_session_info_array[link];
    int32_t acknowledged = msg->last_sequence_number;
    int32_t last = info->last_send_seq_no;
    int32_t least = info->least_send_seq_no;
    int32_t deleted = 0;

    // Numbers run from 1: a last-received number of 0 acknowledges nothing, also across a wrap.
    if (acknowledged != 0)
    {
        if (info->send_sequence_wrap_around_flag == 1)
        {
            if (least > last && acknowledged <= last)
            {
                EA_LOG(logger, EA_LEVEL_EVENT,
                       "Adding [%d] wrap around offset to the received sequnece no. [%d] by host",
                       HOST_SESSION_SEQUENCE_LIMIT, acknowledged);
                acknowledged += HOST_SESSION_SEQUENCE_LIMIT;
                last += HOST_SESSION_SEQUENCE_LIMIT;
            }
            else
                last = HOST_SESSION_SEQUENCE_LIMIT;
        }
        if (least <= acknowledged && acknowledged <= last)
        {
            while (message *oldest = static_cast<message *>(queue_peek(info->recovery_queue, 0)))
            {
                int32_t number = oldest->network_sequence_number;
                if (number > acknowledged)
                {
                    info->least_send_seq_no = static_cast<int16_t>(number);
                    break;
                }
                if (info->send_sequence_wrap_around_flag == 1 && number == HOST_SESSION_SEQUENCE_LIMIT)
                {
                    acknowledged -= HOST_SESSION_SEQUENCE_LIMIT;
                    info->send_sequence_wrap_around_flag = 0;
                    EA_LOG(
                        logger, EA_LEVEL_EVENT,
                        "send sequence wrap around flag set to FALSE for link index [%u], recovery message sequence no. [%d], last received sequence no. by host [%d]",
                        link, number, acknowledged);
                }
                queue_remove_head(info->recovery_queue);
                EA_LOG(
                    logger, EA_LEVEL_ACTIVITY,
                    "Message with session sequence number [%d] deleted from the recovery for link index [%u]. Sequence number [%lu]",
                    number, link, host_session_seq(oldest));
                info->unacknowledged_weight -= static_cast<uint32_t>(oldest->packing_weight);
                if (container->session_recovery_flag != nullptr &&
                    ea_flag_get(&container->session_recovery_flag[link]) == 1 &&
                    info->unacknowledged_message_count != 0)
                    --info->unacknowledged_message_count;
                message_destroy(oldest);
                ++deleted;
            }
            EA_LOG(
                logger, EA_LEVEL_ACTIVITY,
                "Recovery queue cleanup completed for link index [%u],host nw handle [%d], [%d] messages deleted",
                link, msg->host_network_handle, deleted);
        }
    }
    if (queue_get_count(info->recovery_queue) == 0)
    {
        info->least_send_seq_no = info->send_sequence_no;
        info->unacknowledged_weight = 0;
        EA_LOG(logger, EA_LEVEL_ACTIVITY,
               "Message recovery queue empty for link index [%u], host nw handle [%d]", link,
               msg->host_network_handle);
    }
    return EA_SUCCESS;
}

ea_status host_session_info_container_resp_validate(host_session_info_container *container, message *msg,
                                                    uint16_t *reason_code, logger_object *logger)
{
    uint16_t link = msg->link_index;
    host_session_info *info = &container->host_session_info_array[link];
    if (info->validation_failure_flag == EA_DO_NOT_FORWARD)
    {
        if (msg->host_network_handle == info->validation_failure_nw_handle)
        {
            EA_LOG(
                logger, EA_LEVEL_BUSINESS_ERROR,
                "Validation failure flag set for link index [%u],host nw handle [%d]. Hence discarding message with sequence number [%lu]",
                link, msg->host_network_handle, host_session_seq(msg));
            return EA_DO_NOT_FORWARD;
        }
        // The failure belonged to an earlier connection. Without this, a sequence failure
        // during session recovery would drop every later relogon answer, and recovery
        // could only run out of time.
        info->validation_failure_flag = EA_FORWARD_MESSAGE;
        info->validation_failure_nw_handle = -1;
        EA_LOG(
            logger, EA_LEVEL_EVENT,
            "Validation failure flag set to EA_FORWARD_MESSAGE for link index [%u]: record from new host nw handle [%d]",
            link, msg->host_network_handle);
    }
    int32_t number = msg->network_sequence_number;
    if (number == 0)
        return EA_SUCCESS;
    if (number == info->recv_sequence_no)
    {
        EA_LOG(logger, EA_LEVEL_ACTIVITY,
               "Sequence validation successful for sequence no.[%d], link index [%u], host nw handle [%d]",
               number, link, msg->host_network_handle);
        info->last_recv_seq_no = static_cast<int16_t>(number);
        if (host_session_recovery_enabled(container, link) &&
            host_session_info_container_cleanup_recovery_queue(container, msg, logger) != EA_SUCCESS)
            return EA_ERROR;
        if (++info->recv_sequence_no > HOST_SESSION_SEQUENCE_LIMIT)
        {
            info->recv_sequence_no = 1;
            EA_LOG(logger, EA_LEVEL_EVENT, "ALERT: recv_sequence_no wraparound for link index [%u]", link);
        }
        return EA_SUCCESS;
    }
    info->validation_failure_flag = EA_DO_NOT_FORWARD;
    info->validation_failure_nw_handle = msg->host_network_handle;
    EA_LOG(logger, EA_LEVEL_BUSINESS_ERROR, "Sequence verification Failed. Sequence Number [%lu]",
           host_session_seq(msg));
    EA_LOG(
        logger, EA_LEVEL_BUSINESS_ERROR,
        "Validation failure flag set to EA_DO_NOT_FORWARD for link index [%u], host nw handle [%d], received host session sequence no. [%d], expected sequence no. [%d] sequence number [%lu]",
        link, msg->host_network_handle, number, info->recv_sequence_no, host_session_seq(msg));
    *reason_code = REASON_HOST_SEQUENCE_FAILURE;
    return HOST_SESSION_SEQUENCE_FAILURE;
}

static bool host_session_is_box_transcode(int16_t transcode)
{
    switch (transcode)
    {
    case TRANSCODE_BOX_SIGN_ON_RESPONSE:
    case TRANSCODE_BOX_PARAMETERS_OUT:
    case TRANSCODE_BOX_SIGN_OFF_RESPONSE:
    case TRANSCODE_BOX_RELOGON_RESPONSE:
    case TRANSCODE_RATE_CONTROL_UPDATE:
        return true;
    default:
        return false;
    }
}

// An accepted packet from the host: box records, heart beats and acknowledgements are
// recognised only in packets of one record; everything else is data.
static ea_status host_session_route_accepted(message *msg, queue *to_response_processing, queue *to_box_comm,
                                             logger_object *logger)
{
    if (msg->data_length < HOST_SESSION_MINIMUM_PACKET)
    {
        EA_LOG(
            logger, EA_LEVEL_BUSINESS_ERROR,
            "Discarding the message as the messagesize [%d] is less than expected [%d]. Sequence Number [%lu]",
            msg->data_length, HOST_SESSION_MINIMUM_PACKET, host_session_seq(msg));
        message_destroy(msg);
        return EA_SUCCESS;
    }
    if (get_u16_be(msg->data, BOX_RECORD_COUNT) == 1)
    {
        int16_t transcode = get_i16_be(msg->data, BOX_RECORD_TRANSCODE);
        if (host_session_is_box_transcode(transcode))
        {
            EA_LOG(logger, EA_LEVEL_EVENT,
                   "Received Box related message with transcode [%d] from Th receive validator", transcode);
            msg->transcode = transcode;
            if (host_session_append(to_box_comm, msg, "queue append failed.", logger) != EA_SUCCESS)
                return EA_ERROR;
            EA_LOG(logger, EA_LEVEL_EVENT, "Message forwarded to BOX communication thread.");
            return EA_SUCCESS;
        }
        if (transcode == TRANSCODE_HOST_HEART_BEAT)
        {
            EA_LOG(logger, EA_LEVEL_ACTIVITY,
                   "Received host heart beat message. Discarding the message. Sequence Number [%lu]",
                   host_session_seq(msg));
            message_destroy(msg);
            return EA_SUCCESS;
        }
        if (transcode == TRANSCODE_HOST_ACKNOWLEDGEMENT)
        {
            EA_LOG(
                logger, EA_LEVEL_ACTIVITY,
                "Received acknowledgement response with host sequence number [%d] and last received sequence number [%d] from Th receive validator. Discarding the message. Sequence Number [%lu]",
                msg->network_sequence_number, msg->last_sequence_number, host_session_seq(msg));
            message_destroy(msg);
            return EA_SUCCESS;
        }
    }
    if (host_session_append(to_response_processing, msg, "queue append failed.", logger) != EA_SUCCESS)
        return EA_ERROR;
    EA_LOG(logger, EA_LEVEL_ACTIVITY, "Message forwarded to response data processing thread.");
    return EA_SUCCESS;
}

static ea_status host_session_process_inbound(host_session_info_container *container, message *msg,
                                              queue *to_response_processing, queue *to_notifications,
                                              queue *to_box_comm, logger_object *logger)
{
    EA_LOG(logger, EA_LEVEL_ACTIVITY, "Received normal message from Validation Layer.");
    uint16_t reason = 0;
    ea_status verdict = host_session_info_container_resp_validate(container, msg, &reason, logger);
    switch (verdict)
    {
    case HOST_SESSION_SEQUENCE_FAILURE:
        msg->tag = HOST_VALIDATION_FAILURE;
        msg->reason_code = reason;
        if (host_session_append(to_notifications, msg, "queue append failed.", logger) != EA_SUCCESS)
            return EA_ERROR;
        EA_LOG(
            logger, EA_LEVEL_EVENT,
            "Sent HOST_VALIDATION_FAILURE notification to Box communication thread, for link index [%u], host_nw_handle [%d] and reason code [%d]",
            msg->link_index, msg->host_network_handle, reason);
        return EA_SUCCESS;
    case EA_DO_NOT_FORWARD:
        EA_LOG(logger, EA_LEVEL_BUSINESS_ERROR,
               "host_session_info_container_resp_validate() returned EA_DO_NOT_FORWARD");
        message_destroy(msg);
        return EA_SUCCESS;
    case EA_SUCCESS:
        return host_session_route_accepted(msg, to_response_processing, to_box_comm, logger);
    case EA_ERROR:
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "host_session_info_container_resp_validate()failed");
        message_destroy(msg);
        return EA_ERROR;
    default:
        EA_LOG(
            logger, EA_LEVEL_SYSTEM_ERROR,
            "Surely a bug. Discarding the message.host_session_info_container_resp_validate() returned invalid status [%d]",
            verdict);
        message_destroy(msg);
        return EA_SUCCESS;
    }
}

static void host_session_start_recovery(host_session_info_container *container, uint16_t link, int32_t handle,
                                        logger_object *logger)
{
    host_session_info *info = &container->host_session_info_array[link];
    host_session_set_link_flag(container->recovery_queue_overflow, link, 1);
    EA_LOG(logger, EA_LEVEL_EVENT,
           "recovery queue overflow flag set to TRUE for link index [%u],host nw handle [%d].", link, handle);
    host_session_set_link_flag(container->session_recovery_flag, link, 1);
    EA_LOG(logger, EA_LEVEL_EVENT,
           "session recovery flag set to TRUE for link index [%u],host nw handle [%d].", link, handle);
    info->validation_failure_flag = EA_FORWARD_MESSAGE;
    info->validation_failure_nw_handle = -1;
    EA_LOG(logger, EA_LEVEL_EVENT,
           "Validation failure flag set to EA_FORWARD_MESSAGE for link index [%u], host nw handle [%d].",
           link, handle);
    info->relogon_status_flag = 1;
    EA_LOG(logger, EA_LEVEL_EVENT,
           "relogon status flag set to TRUE for link index [%u], host nw handle [%d].", link, handle);
    info->unacknowledged_message_count = queue_get_count(info->recovery_queue);
    EA_LOG(logger, EA_LEVEL_EVENT,
           "unacknowledged message count set to [%ul]index [%u], host nw handle [%d].",
           info->unacknowledged_message_count, link, handle);
}

// The host took the session up again: what it has not acknowledged goes out again, in order.
static ea_status host_session_resend(host_session_info_container *container, message *flush,
                                     queue *to_send_validator, logger_object *logger)
{
    uint16_t link = flush->link_index;
    host_session_info *info = &container->host_session_info_array[link];
    EA_LOG(
        logger, EA_LEVEL_EVENT,
        "Recieved SESSION_RECOVERED_FLUSH message for link index [%u] host nw handle [%d] with host last receive sequence number [%d].",
        link, flush->host_network_handle, flush->last_sequence_number);
    info->relogon_status_flag = 0;
    if (host_session_info_container_cleanup_recovery_queue(container, flush, logger) != EA_SUCCESS)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "host_session_info_container_cleanup_recovery_queue() failed");
        message_destroy(flush);
        return EA_ERROR;
    }
    message_destroy(flush);
    int32_t handle = host_session_current_handle(container, link);
    uint32_t count = queue_get_count(info->recovery_queue);
    for (uint32_t i = 0; i < count; ++i)
    {
        message *kept = static_cast<message *>(queue_peek(info->recovery_queue, i));
        kept->host_network_handle = handle;
        kept->flags |= MESSAGE_FLAG_RESENT;
        message *copy = message_copy(kept);
        if (copy == nullptr)
        {
            EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "message copy failed");
            return EA_ERROR;
        }
        if (host_session_append(to_send_validator, copy, "queue append failed.", logger) != EA_SUCCESS)
            return EA_ERROR;
    }
    return EA_SUCCESS;
}

ea_status host_session_info_container_process_response_messages(host_session_info_container *container,
                                                                queue *to_response_processing,
                                                                queue *to_notifications,
                                                                queue *to_send_validator, queue *input,
                                                                queue *to_box_comm, logger_object *logger)
{
    while (message *msg = static_cast<message *>(queue_remove_head(input)))
    {
        if (!host_session_link_ok(container, msg, logger))
            continue;
        uint16_t link = msg->link_index;
        int32_t handle = msg->host_network_handle;
        ea_status status = EA_SUCCESS;
        switch (msg->tag)
        {
        case NORMAL_MESSAGE:
            status = host_session_process_inbound(container, msg, to_response_processing, to_notifications,
                                                  to_box_comm, logger);
            break;
        case BOX_LOGOFF_FLUSH:
            EA_LOG(
                logger, EA_LEVEL_EVENT,
                "Recieved BOX_LOGOFF_FLUSH message for link index [%u] host nw handle [%d] from TH Receive Validator.",
                link, handle);
            container->host_session_info_array[link].discard_flag = 1;
            EA_LOG(logger, EA_LEVEL_EVENT, "Discard flag set for link index [%u], host nw handle [%d]", link,
                   handle);
            status = host_session_append(to_response_processing, msg, "queue append failed.", logger);
            if (status == EA_SUCCESS)
                EA_LOG(
                    logger, EA_LEVEL_EVENT,
                    "Forwarded BOX_LOGOFF_FLUSH message for link index [%u] host nw handle [%d] to Response Data Processing Module.",
                    link, handle);
            break;
        case SESSION_RECOVERY_FLUSH:
            EA_LOG(logger, EA_LEVEL_EVENT,
                   "Recieved SESSION_RECOVERY_FLUSH message for link index [%u] host nw handle [%d].", link,
                   handle);
            host_session_start_recovery(container, link, handle, logger);
            status = host_session_append(to_send_validator, msg, "queue append failed.", logger);
            if (status == EA_SUCCESS)
                EA_LOG(
                    logger, EA_LEVEL_EVENT,
                    "Sent SESSION_RECOVERY_FLUSH message for link index [%u] host nw handle [%d] to TH Send Validator.",
                    link, handle);
            break;
        case SESSION_RECOVERED_FLUSH:
            status = host_session_resend(container, msg, to_send_validator, logger);
            break;
        default:
            EA_LOG(logger, EA_LEVEL_BUSINESS_ERROR,
                   "Invalid message tag [%d]. Discarding message with link index [%u], sequence number [%lu]",
                   msg->tag, link, host_session_seq(msg));
            message_destroy(msg);
            break;
        }
        if (status != EA_SUCCESS)
            return EA_ERROR;
    }
    return EA_SUCCESS;
}

ea_status host_session_info_container_process_timers(host_session_info_container *container,
                                                     uint16_t link_index, uint16_t *tag,
                                                     uint16_t *reason_code, logger_object *logger)
{
    host_session_info *info = &container->host_session_info_array[link_index];
    message *oldest = static_cast<message *>(queue_peek(info->recovery_queue, 0));
    if (oldest == nullptr || oldest->response_timer_start == 0)
        return EA_SUCCESS;
    if (ea_get_tick_difference(ea_get_tick_count(), oldest->response_timer_start) <=
        static_cast<uint32_t>(container->host_response_timeout))
        return EA_SUCCESS;
    EA_LOG(
        logger, EA_LEVEL_EVENT,
        "TH response timed out, no response received for host session sequence number [%d] from TH for link index [%u]",
        info->least_send_seq_no, link_index);
    oldest->response_timer_start = 0; // it fires once
    *tag = HOST_SESSION_TIMED_OUT;
    *reason_code = 0;
    return HOST_SESSION_TIMER_EXPIRED;
}

ea_status host_session_info_container_process_flags(host_session_info_container *container,
                                                    uint16_t link_index, logger_object *logger)
{
    if (!host_session_recovery_enabled(container, link_index))
        return EA_SUCCESS;
    host_session_info *info = &container->host_session_info_array[link_index];
    if (info->relogon_status_flag == 0 && ea_flag_get(&container->session_recovery_flag[link_index]) == 1 &&
        info->unacknowledged_message_count == 0)
    {
        ea_flag_set(&container->session_recovery_flag[link_index], 0);
        EA_LOG(logger, EA_LEVEL_EVENT, "session recovery flag set to FALSE for link index [%u]", link_index);
    }
    container->recovery_queue_limit = static_cast<int16_t>(ea_flag_get(container->base_rate_control));
    container->recovery_queue_low_mark = static_cast<int32_t>(container->recovery_queue_limit * 0.5);
    int64_t weight = info->unacknowledged_weight;
    uint16_t overflow = ea_flag_get(&container->recovery_queue_overflow[link_index]);
    if (weight >= container->recovery_queue_limit && overflow == 0)
    {
        ea_flag_set(&container->recovery_queue_overflow[link_index], 1);
        EA_LOG(logger, EA_LEVEL_EVENT, "Recovery queue overflow flag set to TRUE for link index [%u]",
               link_index);
    }
    else if (weight <= container->recovery_queue_low_mark && overflow == 1)
    {
        ea_flag_set(&container->recovery_queue_overflow[link_index], 0);
        EA_LOG(logger, EA_LEVEL_EVENT, "recovery queue overflow flag set to FALSE for link index [%u]",
               link_index);
    }
    return EA_SUCCESS;
}

message *host_session_info_container_generate_heart_beat_message(host_session_info_container *,
                                                                 const message *notification,
                                                                 logger_object *logger)
{
    message *beat = message_create(HOST_SESSION_HEART_BEAT_SIZE, HEART_BEAT_MESSAGE);
    if (beat == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "message creation failed");
        return nullptr;
    }
    beat->link_index = notification->link_index;
    beat->host_network_handle = notification->host_network_handle;
    put_u16_be(beat->data, BOX_RECORD_COUNT, 1);
    put_i16_be(beat->data, BOX_RECORD_TRANSCODE, TRANSCODE_GATEWAY_HEART_BEAT);
    beat->network_sequence_number = 0;
    beat->last_sequence_number = 0;
    beat->packing_weight = 1;
    return beat;
}
