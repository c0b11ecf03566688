// The host's box records, as the host session thread forwards them (shared queue 9): the
// dispatch by transcode and the sign-on and sign-off responses. The box parameters and
// rate updates are in box_comm_rate_control.cpp, the relogon response in
// box_comm_recovery.cpp. A record that fails a check is logged and freed and changes nothing.
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

ea_status box_comm_process_sign_on_response(box_comm_info_container *container, message *msg,
                                            queue *to_th_session, queue *to_interface, logger_object *logger)
{
    uint16_t link = msg->link_index;
    box_comm_info *info = &container->box_comm_info_array[link];
    if (info->box_status.load() != LOGON_IN_PROGRESS)
    {
        EA_LOG(
            logger, EA_LEVEL_BUSINESS_ERROR,
            "Got Box_Sign_On_Response in status [%d], over link [%u]sequence number [%lu]. So discarding the message.",
            info->box_status.load(), link, box_comm_seq(msg));
        message_destroy(msg);
        return EA_SUCCESS;
    }
    if (msg->host_network_handle != info->host_nw_handle.load())
    {
        EA_LOG(
            logger, EA_LEVEL_BUSINESS_ERROR,
            "Th_nw_handle for link [%u] in module [%d] and in Box sign on response message [%d] do not match, sequence number [%lu]. So discarding the message.",
            link, info->host_nw_handle.load(), msg->host_network_handle, box_comm_seq(msg));
        message_destroy(msg);
        return EA_SUCCESS;
    }
    uint16_t box_id = static_cast<uint16_t>(box_comm_record_field(msg, BOX_RECORD_BOX_ID, 0));
    if (box_id != container->box_id)
    {
        EA_LOG(
            logger, EA_LEVEL_BUSINESS_ERROR,
            "Box_id mismatch for link [%u] in Box Module [%d] and Box sign on response message [%d], sequence number[%lu]. So discarding message.",
            link, container->box_id, box_id, box_comm_seq(msg));
        message_destroy(msg);
        return EA_SUCCESS;
    }
    int32_t error_code = box_comm_record_field(msg, BOX_SIGN_ON_RESPONSE_ERROR_CODE, 0);
    if (error_code == 0)
    {
        EA_LOG(
            logger, EA_LEVEL_EVENT,
            "Received a Successful Box_Sign_On_Response from host over link [%u]. Host network handle [%d]",
            link, msg->host_network_handle);
        info->next_expected_transcode = TRANSCODE_BOX_PARAMETERS_OUT;
        EA_LOG(logger, EA_LEVEL_EVENT,
               "The next expected transcode is [%d] from host over link [%u]. Host network handle [%d]",
               TRANSCODE_BOX_PARAMETERS_OUT, link, msg->host_network_handle);
        bool enabled = msg->data[BOX_SIGN_ON_RESPONSE_RECOVERY_FLAG] == 'E';
        ea_flag_set(&info->session_recovery_enabled, enabled ? 1 : 0);
        EA_LOG(
            logger, EA_LEVEL_EVENT,
            "Session Recovery is %s for this session. Set session recovery enabled flag for link index [%u] to %s.",
            enabled ? "enabled" : "disabled", link, enabled ? "TRUE" : "FALSE");
        // request_sent_timer keeps running: it now times the arrival of the box parameters.
        return box_comm_reuse_as_console_event(msg, link, REASON_BOX_PARAMETERS_AWAITED, to_interface,
                                               logger);
    }
    info->request_sent_timer = 0;
    EA_LOG(logger, EA_LEVEL_EVENT, "Box request_sent timer reset for link [%u].", link);
    EA_LOG(logger, EA_LEVEL_EVENT,
           "Received an Unsuccessful Box_Sign_On_Response from host over link [%u]. error code [%d]", link,
           error_code);
    info->host_error_code = error_code;
    int32_t handle = msg->host_network_handle;
    message_destroy(msg);
    if (box_comm_info_container_logoff_box(container, link, handle, REASON_BOX_SIGN_ON_REFUSED, to_th_session,
                                           logger) != EA_SUCCESS)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "box_comm_info_container_logoff_box failed");
        return EA_ERROR;
    }
    return EA_SUCCESS;
}

ea_status box_comm_process_sign_off_response(box_comm_info_container *container, message *msg,
                                             queue *to_th_network, queue *to_th_session,
                                             logger_object *logger)
{
    uint16_t link = msg->link_index;
    box_comm_info *info = &container->box_comm_info_array[link];
    int32_t handle = msg->host_network_handle;
    unsigned long seq = box_comm_seq(msg);
    if (handle != info->host_nw_handle.load())
    {
        EA_LOG(
            logger, EA_LEVEL_BUSINESS_ERROR,
            "Th_nw_handle for link [%u] in module [%d] and in Box sign off response message [%d] do not match, sequence number[%lu]. So discarding the message.",
            link, info->host_nw_handle.load(), handle, seq);
        message_destroy(msg);
        return EA_SUCCESS;
    }
    uint16_t box_id = static_cast<uint16_t>(box_comm_record_field(msg, BOX_RECORD_BOX_ID, 0));
    if (box_id != container->box_id)
    {
        EA_LOG(
            logger, EA_LEVEL_BUSINESS_ERROR,
            "Box_id mismatch in Box Module [%d] and Box sign off response message [%d], sequence number[%lu]. So discarding message.",
            container->box_id, box_id, seq);
        message_destroy(msg);
        return EA_SUCCESS;
    }
    EA_LOG(logger, EA_LEVEL_EVENT,
           "Received successful Box Logoff Response for link [%u] Host network handle [%d]. Error code [%d]",
           link, handle, box_comm_record_field(msg, BOX_SIGN_OFF_RESPONSE_ERROR_CODE, 0));
    message_destroy(msg);
    switch (info->box_status.load())
    {
    case LOGGED_ON:
        if (box_comm_info_container_initiate_box_logoff(container, link, REASON_BOX_LOGGED_OFF_BY_HOST,
                                                        to_th_network, logger) != EA_SUCCESS)
        {
            EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "box_comm_info_container_initiate_box_logoff failed");
            return EA_ERROR;
        }
        return EA_SUCCESS;
    case LOGON_IN_PROGRESS:
        if (box_comm_info_container_logoff_box(container, link, handle, REASON_BOX_LOGGED_OFF_BY_HOST,
                                               to_th_session, logger) != EA_SUCCESS)
        {
            EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "box_comm_info_container_logoff_box failed");
            return EA_ERROR;
        }
        return EA_SUCCESS;
    default:
        EA_LOG(
            logger, EA_LEVEL_BUSINESS_ERROR,
            "Box status is either LOGOFF_IN_PROGRESS or LOGGED_OFF for link [%u]. Sequence number [%lu].Hence discarding the message.",
            link, seq);
        return EA_SUCCESS;
    }
}

// Bytes each host record must hold for the fields read from it; a shorter record is
// dropped rather than read past its end.
static uint32_t box_comm_minimum_length(int16_t transcode)
{
    switch (transcode)
    {
    case TRANSCODE_BOX_SIGN_ON_RESPONSE:
        return BOX_SIGN_ON_RESPONSE_RECOVERY_FLAG + 1;
    case TRANSCODE_BOX_PARAMETERS_OUT:
        return BOX_PARAMETERS_BOX_ID + 2;
    case TRANSCODE_BOX_RELOGON_RESPONSE:
        return BOX_RELOGON_RESPONSE_LAST_SEQ_NO + 2;
    case TRANSCODE_BOX_SIGN_OFF_RESPONSE:
        return BOX_SIGN_OFF_RESPONSE_ERROR_CODE + 2;
    case TRANSCODE_RATE_CONTROL_UPDATE:
        return RATE_CONTROL_UPDATE_PERCENT + 2;
    default:
        return 0;
    }
}

ea_status box_comm_info_container_process_th_session_messages(box_comm_info_container *container,
                                                              queue *input, queue *to_th_network,
                                                              queue *to_th_session, queue *to_interface,
                                                              logger_object *logger)
{
    while (message *msg = static_cast<message *>(queue_remove_head(input)))
    {
        if (!box_comm_info_container_is_valid_link(container, msg->link_index, logger))
        {
            EA_LOG(
                logger, EA_LEVEL_BUSINESS_ERROR,
                "Received message with invalid link index [%u]. and transcode [%d] and message tag [%d]. Sequence number [%lu]. So discarding the message.",
                msg->link_index, msg->transcode, msg->tag, box_comm_seq(msg));
            message_destroy(msg);
            continue;
        }
        uint32_t minimum = box_comm_minimum_length(msg->transcode);
        if (minimum != 0 && msg->data_length < minimum)
        {
            EA_LOG(
                logger, EA_LEVEL_BUSINESS_ERROR,
                "Box record with transcode [%d] over link [%u] is [%d] bytes long, [%d] expected. Sequence number [%lu]. So discarding the message.",
                msg->transcode, msg->link_index, msg->data_length, static_cast<int32_t>(minimum),
                box_comm_seq(msg));
            message_destroy(msg);
            continue;
        }
        ea_status status = EA_SUCCESS;
        switch (msg->transcode)
        {
        case TRANSCODE_BOX_SIGN_ON_RESPONSE:
            status = box_comm_process_sign_on_response(container, msg, to_th_session, to_interface, logger);
            break;
        case TRANSCODE_BOX_PARAMETERS_OUT:
            status = box_comm_process_box_parameters(container, msg, to_interface, logger);
            break;
        case TRANSCODE_BOX_SIGN_OFF_RESPONSE:
            status = box_comm_process_sign_off_response(container, msg, to_th_network, to_th_session, logger);
            break;
        case TRANSCODE_RATE_CONTROL_UPDATE:
            status = box_comm_process_rate_control_update(container, msg, to_interface, logger);
            break;
        case TRANSCODE_BOX_RELOGON_RESPONSE:
            status = box_comm_process_relogon_response(container, msg, to_th_network, to_th_session,
                                                       to_interface, logger);
            break;
        default:
            EA_LOG(
                logger, EA_LEVEL_BUSINESS_ERROR,
                "Invalid transcode [%d] from TH Session Module over th_nw_handle [%d] and link [%u]. Sequence number [%lu]. So discarding the message.",
                msg->transcode, msg->host_network_handle, msg->link_index, box_comm_seq(msg));
            message_destroy(msg);
            break;
        }
        if (status != EA_SUCCESS)
            return EA_ERROR;
    }
    return EA_SUCCESS;
}
