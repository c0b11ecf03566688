// One user slot: its free values and the per-connection network check of a request
// (handle ownership, discard flag, workstation sequence numbers).
#include "gateway/session_layer/user_session/user_session_info.h"

#include <cstdlib>

#include "gateway/runtime/logger.h"
#include "gateway/runtime/message.h"
#include "gateway/shared/log_hold.h"

void user_session_info_reset(user_session_info *info)
{
    info->recv_sequence_no = 0;
    info->validation_failure_flag = EA_FORWARD_MESSAGE;
    info->user_id = 0;
    info->user_type = USER_TYPE_WORKSTATION;
    info->logon_status = logon_status::NO_USER;
    info->tws_nw_handle = USER_SESSION_FREE_HANDLE;
    info->request_sent_timer = 0;
    info->immediate_status_query = 0;
    info->status_query = 0;
    info->status_query_count = 0;
    info->link_index = USER_SESSION_NO_LINK;
    user_session_set_logoff_reason(info, 0);
    info->logoff_error_code = 0;
    info->login_count = -1;
}

int32_t user_session_info_req_network_validate(user_session_info *info, uint16_t tws_index, message *msg,
                                               logger_object *logger, log_hold_entry *held)
{
    if (info->tws_nw_handle != USER_SESSION_FREE_HANDLE &&
        info->tws_nw_handle != msg->workstation_network_handle)
    {
        EA_LOG_HELD(
            held, logger, EA_LEVEL_BUSINESS_ERROR,
            "The tws_nw_handle [%d] in message and tws_nw_handle [%d] is user session info are different for tws index [%u]",
            msg->workstation_network_handle, info->tws_nw_handle, static_cast<unsigned>(tws_index));
        return EA_DO_NOT_FORWARD;
    }
    if (info->tws_nw_handle == USER_SESSION_FREE_HANDLE)
    {
        EA_LOG_HELD(held, logger, EA_LEVEL_EVENT,
                    "TWS Network Handle [%d] not found hence adding the same at tws index [%u].",
                    msg->workstation_network_handle, static_cast<unsigned>(tws_index));
        info->tws_nw_handle = msg->workstation_network_handle;
        info->peer_address = msg->peer_address;
        info->user_id = 0;
        info->recv_sequence_no = 0;
        info->validation_failure_flag = EA_FORWARD_MESSAGE;
        if (msg->user_type == USER_TYPE_FIX)
        {
            info->user_type = USER_TYPE_FIX;
            return 0;
        }
    }
    if (info->validation_failure_flag == EA_DO_NOT_FORWARD)
    {
        EA_LOG_HELD(
            held, logger, EA_LEVEL_BUSINESS_ERROR,
            "Discard flag is set for tws index [%u] as validation failed for tws nw handle [%d]. Hence discarding message. sequence number[%lu]",
            static_cast<unsigned>(tws_index), msg->workstation_network_handle,
            static_cast<unsigned long>(msg->sequence_number));
        return EA_DO_NOT_FORWARD;
    }
    if (msg->user_type == USER_TYPE_FIX || info->user_type == USER_TYPE_FIX)
        return 0;

    // Counted in unsigned arithmetic: past 2147483647 the next expected number is 1.
    uint32_t next = static_cast<uint32_t>(info->recv_sequence_no) + 1u;
    if (next > 0x7FFFFFFFu)
    {
        next = 1;
        EA_LOG_HELD(held, logger, EA_LEVEL_EVENT,
                    "Wraparound happened for recv_sequence_no for tws nw handle [%d] having tws index [%u]",
                    msg->workstation_network_handle, static_cast<unsigned>(tws_index));
    }
    info->recv_sequence_no = static_cast<int32_t>(next);
    if (next == msg->workstation_sequence_number)
        return 0;
    EA_LOG_HELD(
        held, logger, EA_LEVEL_BUSINESS_ERROR,
        "Sequence Error for nw_handle [%d] having tws_index[%u]. Received sequence number [%d] is different than expected [%d], sequence number [%lu]",
        msg->workstation_network_handle, static_cast<unsigned>(tws_index),
        static_cast<int32_t>(msg->workstation_sequence_number), info->recv_sequence_no,
        static_cast<unsigned long>(msg->sequence_number));
    info->validation_failure_flag = EA_DO_NOT_FORWARD;
    return USER_SESSION_SEQUENCE_ERROR;
}

void user_session_info_list_destroy(user_session_info *list)
{
    free(list);
}
