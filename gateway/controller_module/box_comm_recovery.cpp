// Session recovery. When the connection of a logged-on box breaks while its session is
// established, the link's pipeline is flushed first (cleanup); once the flush is back the
// controller, if the host allowed it at sign-on, logs the box on again over a new
// connection (relogon) and resumes the session where the host left it; otherwise, or when
// no relogon succeeds within the 20-second window, it logs the box off.
#include "common/ea_time.h"
#include "gateway/business_processing_layer/vrx_record.h"
#include "gateway/controller_module/box_comm_info_container.h"
#include "gateway/controller_module/box_comm_internal.h"
#include "gateway/controller_module/box_comm_records.h"
#include "gateway/runtime/logger.h"
#include "gateway/runtime/message.h"
#include "gateway/runtime/queue.h"

static unsigned long box_comm_seq(const message *msg)
{
    return static_cast<unsigned long>(msg->sequence_number);
}

ea_status box_comm_info_container_initiate_box_relogon_attempt(box_comm_info_container *container,
                                                               uint16_t link_index, queue *to_th_network,
                                                               queue *to_th_session, uint16_t drop_flag,
                                                               logger_object *logger)
{
    box_comm_info *info = &container->box_comm_info_array[link_index];
    info->request_sent_timer = 0;
    uint32_t now = ea_get_tick_count();
    uint32_t elapsed = ea_get_tick_difference(now, info->session_recovery_start);
    bool enabled = ea_flag_get(&info->session_recovery_enabled) == 1;
    if (elapsed < BOX_SESSION_RECOVERY_WINDOW_MS && enabled)
    {
        if (drop_flag == 1)
        {
            message *drop = message_create(0, DROP_HOST_CONNECTION);
            if (drop == nullptr)
            {
                EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "message_create failed");
                return EA_ERROR;
            }
            drop->link_index = link_index;
            drop->host_network_handle = info->host_nw_handle.load();
            if (box_comm_append(to_th_session, drop, "queue_append failed", logger) != EA_SUCCESS)
                return EA_ERROR;
            EA_LOG(
                logger, EA_LEVEL_EVENT,
                "Sent DROP_HOST_CONNECTION notification for link [%u] host network handle [%d] to TH Session Module",
                link_index, info->host_nw_handle.load());
        }
        EA_LOG(logger, EA_LEVEL_EVENT, "Session recovery for link [%u] running for [%u] seconds", link_index,
               elapsed / 1000);
        info->host_nw_handle.store(-1);
        info->relogon_timer = now;
        return EA_SUCCESS;
    }
    info->session_recovery_start = 0;
    if (!enabled)
        EA_LOG(logger, EA_LEVEL_EVENT, "Recovery for this session is disabled. Initiating box logoff");
    else
        EA_LOG(logger, EA_LEVEL_EVENT,
               "Session for link [%u] could not be recovered within [%d] seconds. Initiating box logoff",
               link_index, BOX_SESSION_RECOVERY_WINDOW_MS / 1000);
    if (box_comm_info_container_initiate_box_logoff(container, link_index,
                                                    static_cast<uint16_t>(info->logoff_reason), to_th_network,
                                                    logger) != EA_SUCCESS)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "box_comm_info_container_initiate_box_logoff failed.");
        return EA_ERROR;
    }
    return EA_SUCCESS;
}

ea_status box_comm_recovery_connection_failure(box_comm_info_container *container, message *msg,
                                               queue *to_th_network, queue *to_th_session,
                                               logger_object *logger)
{
    EA_LOG(logger, EA_LEVEL_EVENT, "Session status is RECOVERY_IN_PROGRESS for link [%u]", msg->link_index);
    // A sequence failure leaves the connection open; the others have closed it already.
    uint16_t drop = msg->tag == HOST_VALIDATION_FAILURE ? 1 : 0;
    return box_comm_info_container_initiate_box_relogon_attempt(container, msg->link_index, to_th_network,
                                                                to_th_session, drop, logger);
}

ea_status box_comm_recovery_flush_returned(box_comm_info_container *container, message *msg,
                                           queue *to_th_network, queue *to_th_session, queue *to_interface,
                                           logger_object *logger)
{
    uint16_t link = msg->link_index;
    box_comm_info *info = &container->box_comm_info_array[link];
    EA_LOG(logger, EA_LEVEL_EVENT,
           "Received a RECVD_SESSION_RECOVERY_FLUSH notification for link [%u] host network handle [%d].",
           link, msg->host_network_handle);
    message_destroy(msg);
    if (info->box_status.load() != LOGGED_ON)
    {
        EA_LOG(logger, EA_LEVEL_BUSINESS_ERROR,
               "Box status for link index [%u] is not LOGGED_ON. So discarding notification.", link);
        return EA_SUCCESS;
    }
    info->session_status = RECOVERY_IN_PROGRESS;
    info->session_recovery_start = ea_get_tick_count();
    if (ea_flag_get(&info->session_recovery_enabled) == 1)
    {
        if (box_comm_send_console_event(link, REASON_SYSTEM_NOT_READY, -1, to_interface, logger) !=
            EA_SUCCESS)
            return EA_ERROR;
        EA_LOG(logger, EA_LEVEL_EVENT,
               "Sent KOVA_MESSAGE to Interface Thread  for link [%u] reason code [%d]", link,
               REASON_SYSTEM_NOT_READY);
    }
    info->first_box_relogon_attempt_flag = 1;
    EA_LOG(logger, EA_LEVEL_EVENT, "first_box_relogon_attempt_flag set to TRUE for link [%u]", link);
    return box_comm_info_container_initiate_box_relogon_attempt(container, link, to_th_network, to_th_session,
                                                                0, logger);
}

ea_status box_comm_recovery_relogon_timer(box_comm_info_container *container, uint16_t link_index,
                                          uint32_t now, queue *to_th_session, logger_object *logger)
{
    box_comm_info *info = &container->box_comm_info_array[link_index];
    if (info->relogon_timer == 0)
        return EA_SUCCESS;
    bool first = info->first_box_relogon_attempt_flag == 1;
    if (!first && ea_get_tick_difference(now, info->relogon_timer) <= BOX_RELOGON_SPACING_MS)
        return EA_SUCCESS;
    if (first)
        EA_LOG(logger, EA_LEVEL_EVENT, "Sending first BOX_RELOGON_REQUEST for link [%u]", link_index);
    message *request = box_comm_info_container_create_box_relogon_message(container, link_index, logger);
    if (request == nullptr)
        return EA_ERROR;
    if (box_comm_append(to_th_session, request, "queue_append failed", logger) != EA_SUCCESS)
        return EA_ERROR;
    EA_LOG(logger, EA_LEVEL_EVENT, "Sent BOX_RELOGON_REQUEST for link [%u] to TH Session Module.",
           link_index);
    if (first)
    {
        info->first_box_relogon_attempt_flag = 0;
        EA_LOG(logger, EA_LEVEL_EVENT, "first_box_relogon_attempt_flag set to FALSE for link index [%u]",
               link_index);
    }
    info->relogon_timer = 0;
    return EA_SUCCESS;
}

ea_status box_comm_process_relogon_response(box_comm_info_container *container, message *msg,
                                            queue *to_th_network, queue *to_th_session, queue *to_interface,
                                            logger_object *logger)
{
    uint16_t link = msg->link_index;
    box_comm_info *info = &container->box_comm_info_array[link];
    int32_t handle = msg->host_network_handle;
    if (handle != info->host_nw_handle.load())
    {
        EA_LOG(
            logger, EA_LEVEL_BUSINESS_ERROR,
            "Th_nw_handle for link [%u] in module [%d] and in Box relogon response message [%d] do not match, sequence number[%lu]. So discarding the message.",
            link, info->host_nw_handle.load(), handle, box_comm_seq(msg));
        message_destroy(msg);
        return EA_SUCCESS;
    }
    uint16_t box_id = static_cast<uint16_t>(box_comm_record_field(msg, BOX_RECORD_BOX_ID, 0));
    if (box_id != container->box_id)
    {
        EA_LOG(
            logger, EA_LEVEL_BUSINESS_ERROR,
            "Box id mismatch in Box Module [%d] and Box relogon response message [%d], sequence number[%lu]. So discarding message.",
            container->box_id, box_id, box_comm_seq(msg));
        message_destroy(msg);
        return EA_SUCCESS;
    }
    info->request_sent_timer = 0;
    EA_LOG(logger, EA_LEVEL_EVENT, "Box request_sent timer reset for link [%u].", link);
    int32_t error_code = box_comm_record_field(msg, BOX_RELOGON_RESPONSE_ERROR_CODE, 0);
    int16_t status = info->box_status.load();
    if (status == LOGGED_ON)
    {
        if (info->session_status != RECOVERY_IN_PROGRESS)
        {
            EA_LOG(
                logger, EA_LEVEL_BUSINESS_ERROR,
                "Session Status is not RECOVERY_IN_PROGRESS for link [%u]. Hence discarding the Box Relogon Response. Sequence number [%lu]",
                link, box_comm_seq(msg));
            message_destroy(msg);
            return EA_SUCCESS;
        }
        EA_LOG(logger, EA_LEVEL_EVENT,
               "Box Status is LOGGED_ON and session status is RECOVERY_IN_PROGRESS for link [%u]", link);
        if (error_code != 0)
        {
            EA_LOG(
                logger, EA_LEVEL_EVENT,
                "Received unsuccessful Box Relogon Response. Error code [%d] for link [%u] Host network handle [%d]",
                error_code, link, handle);
            message_destroy(msg);
            if (box_comm_info_container_initiate_box_logoff(container, link,
                                                            static_cast<uint16_t>(info->logoff_reason),
                                                            to_th_network, logger) != EA_SUCCESS)
            {
                EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "box_comm_info_container_initiate_box_logoff failed");
                return EA_ERROR;
            }
            return EA_SUCCESS;
        }
        int32_t host_last = box_comm_record_field(msg, BOX_RELOGON_RESPONSE_LAST_SEQ_NO, 0);
        EA_LOG(
            logger, EA_LEVEL_EVENT,
            "Received successful Box Relogon Response for link [%u] Host network handle [%d]. Last Sequence Number [%d]",
            link, handle, host_last);
        info->session_status = ESTABLISHED;
        info->logoff_reason = 0;
        EA_LOG(logger, EA_LEVEL_EVENT, "Session status set to ESTABLISHED for link [%u]", link);
        msg->tag = INITIATE_SESSION_RECOVERED_FLUSH;
        // The host names the next number it expects; the one before 1 is 32000, not 0, or the
        // records up to 32000 that the host already holds would be sent to it again.
        int32_t acknowledged = host_last == 1 ? BOX_SESSION_SEQUENCE_LIMIT : host_last - 1;
        msg->last_sequence_number = static_cast<uint16_t>(acknowledged);
        msg->data_length = 0;
        if (box_comm_append(to_th_network, msg, "queue_append failed", logger) != EA_SUCCESS)
            return EA_ERROR;
        EA_LOG(
            logger, EA_LEVEL_EVENT,
            "Sent INITIATE_SESSION_RECOVERED_FLUSH message for link index [%u] Host network handle [%d] Last recieved sequence number [%d]",
            link, handle, acknowledged);
        return box_comm_send_console_event(link, REASON_SYSTEM_READY, -1, to_interface, logger);
    }
    if (status == LOGON_IN_PROGRESS)
    {
        EA_LOG(logger, EA_LEVEL_EVENT,
               "Received Box relogin response for link [%u]. host network handle [%d]. error code [%d]", link,
               handle, error_code);
        EA_LOG(logger, EA_LEVEL_EVENT, "Box Status is LOGON_IN_PROGRESS for link [%u].", link);
        info->host_error_code = BOX_RELOGON_DURING_LOGON_ERROR;
        message_destroy(msg);
        if (box_comm_info_container_logoff_box(container, link, handle, REASON_BOX_SIGN_ON_REFUSED,
                                               to_th_session, logger) != EA_SUCCESS)
        {
            EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "box_comm_info_container_logoff_box failed");
            return EA_ERROR;
        }
        return EA_SUCCESS;
    }
    EA_LOG(
        logger, EA_LEVEL_BUSINESS_ERROR,
        "Box Status is either LOGOFF_IN_PROGRESS or LOGGED_OFF for link [%u]. Hence discarding the Box Relogon Response. Sequence number [%lu]",
        link, box_comm_seq(msg));
    message_destroy(msg);
    return EA_SUCCESS;
}
