// Rate control imposed by the trading host: the box parameters (base rate, users per box)
// that complete a logon or update a logged-on box, the host's rate percentage, and the
// rate-control heart beat that tells the host the box still waits while its rate is 0.
// The per-link count that the host network layer enforces is base x percent / 100.
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

static ea_status box_comm_parameters_at_logon(box_comm_info_container *container, message *msg, int32_t base,
                                              int32_t users, queue *to_interface, logger_object *logger)
{
    uint16_t link = msg->link_index;
    box_comm_info *info = &container->box_comm_info_array[link];
    if (base <= 0 || users <= 0 || users > container->max_clients)
    {
        EA_LOG(
            logger, EA_LEVEL_BUSINESS_ERROR,
            "Validation failed for BOX_PARAMETERS_OUT message with values, Base rate [%d], max users per box [%d],over link [%u], with max clients set to [%d]. Hence discarding the message. Sequence number [%lu].",
            base, users, link, container->max_clients, box_comm_seq(msg));
        message_destroy(msg);
        return EA_SUCCESS;
    }
    ea_flag_set(container->base_rate_control, static_cast<uint16_t>(base));
    EA_LOG(logger, EA_LEVEL_EVENT, "Set the Base rate control to [%d], for link [%u]", base, link);
    int32_t count = box_comm_set_rate_count(container, link, base, info->rate_control_per);
    EA_LOG(logger, EA_LEVEL_EVENT,
           "Set box rate control count for link [%u] to [%d] which is [%d]%% of base rate control count [%d]",
           link, count, info->rate_control_per, base);
    info->max_users_per_box.store(users);
    EA_LOG(logger, EA_LEVEL_EVENT, "Set the max users per BOX to [%d], over link [%u]", users, link);
    if (box_comm_reuse_as_console_event(msg, link, REASON_BOX_PARAMETERS_APPLIED, to_interface, logger) !=
        EA_SUCCESS)
        return EA_ERROR;
    if (box_comm_info_container_logon_box(container, link, to_interface, logger) != EA_SUCCESS)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "box_comm_info_container_logon_box failed");
        return EA_ERROR;
    }
    return EA_SUCCESS;
}

static ea_status box_comm_parameters_when_logged_on(box_comm_info_container *container, message *msg,
                                                    int32_t base, int32_t users, queue *to_interface,
                                                    logger_object *logger)
{
    uint16_t link = msg->link_index;
    box_comm_info *info = &container->box_comm_info_array[link];
    bool taken = false;
    if (base > 0)
    {
        ea_flag_set(container->base_rate_control, static_cast<uint16_t>(base));
        EA_LOG(logger, EA_LEVEL_EVENT, "Set the Base rate control to [%d], for link [%u],", base, link);
        int32_t count = box_comm_set_rate_count(container, link, base, info->rate_control_per);
        EA_LOG(
            logger, EA_LEVEL_EVENT,
            "Set box rate control count for link [%u] to [%d] which is [%d]%% of base rate control count [%d]",
            link, count, info->rate_control_per, base);
        taken = true;
    }
    else
        EA_LOG(
            logger, EA_LEVEL_BUSINESS_ERROR,
            "Got Invalid Base rate control value [%d] in the BOX_PARAMETERS_OUT message, over link [%u] with base rate [%d], Hence discarding the new value",
            base, link, box_comm_get_base_rate(container));

    int32_t current = info->max_users_per_box.load();
    if (users > 0 && users <= container->max_clients && users >= current)
    {
        info->max_users_per_box.store(users);
        EA_LOG(logger, EA_LEVEL_EVENT, "Set the max users per BOX to [%d], over link [%u]", users, link);
        taken = true;
    }
    else
        EA_LOG(
            logger, EA_LEVEL_BUSINESS_ERROR,
            "Got Invalid max users per box value [%d] in the BOX_PARAMETERS_OUT message, over link [%u] with max users limit [%d], Hence discarding the new value",
            users, link, current);
    return box_comm_reuse_as_console_event(
        msg, link, taken ? REASON_BOX_PARAMETERS_APPLIED : REASON_BOX_PARAMETERS_FAILED, to_interface,
        logger);
}

ea_status box_comm_process_box_parameters(box_comm_info_container *container, message *msg,
                                          queue *to_interface, logger_object *logger)
{
    uint16_t link = msg->link_index;
    box_comm_info *info = &container->box_comm_info_array[link];
    if (msg->host_network_handle != info->host_nw_handle.load())
    {
        EA_LOG(
            logger, EA_LEVEL_BUSINESS_ERROR,
            "Th_nw_handle for link [%u] in module [%d] and in BOX_PARAMETERS_OUT message [%d] do not match, sequence number [%lu]. So discarding the message.",
            link, info->host_nw_handle.load(), msg->host_network_handle, box_comm_seq(msg));
        message_destroy(msg);
        return EA_SUCCESS;
    }
    int16_t status = info->box_status.load();
    if (status != LOGGED_ON && status != LOGON_IN_PROGRESS)
    {
        EA_LOG(
            logger, EA_LEVEL_BUSINESS_ERROR,
            "Box Status is either LOGOFF_IN_PROGRESS or LOGGED_OFF for link [%u]. Hence discarding the BOX_PARAMETERS_OUT message. Sequence number [%lu]",
            link, box_comm_seq(msg));
        message_destroy(msg);
        return EA_SUCCESS;
    }
    if (status == LOGON_IN_PROGRESS && info->next_expected_transcode != TRANSCODE_BOX_PARAMETERS_OUT)
    {
        EA_LOG(
            logger, EA_LEVEL_BUSINESS_ERROR,
            "BOX status is LOGON_IN_PROGRES. Received [%d] transcode when the expected transcode by QEL is [%d], over link [%u] sequence number[%lu]. So discarding the message.",
            TRANSCODE_BOX_PARAMETERS_OUT, info->next_expected_transcode, link, box_comm_seq(msg));
        message_destroy(msg);
        return EA_SUCCESS;
    }
    uint16_t box_id = static_cast<uint16_t>(box_comm_record_field(msg, BOX_PARAMETERS_BOX_ID, 0));
    if (box_id != container->box_id)
    {
        EA_LOG(
            logger, EA_LEVEL_BUSINESS_ERROR,
            "Box_id mismatch in Box Module [%d] and BOX_PARAMETERS_OUT message [%d], sequence number[%lu]. So discarding message.",
            container->box_id, box_id, box_comm_seq(msg));
        message_destroy(msg);
        return EA_SUCCESS;
    }
    EA_LOG(logger, EA_LEVEL_EVENT, "Received BOX_PARAMETERS_OUT message over link [%u],", link);
    int32_t base = box_comm_record_field(msg, BOX_PARAMETERS_BASE_RATE, 0);
    int32_t users = box_comm_record_field(msg, BOX_PARAMETERS_MAX_USERS, 0);
    if (status == LOGON_IN_PROGRESS)
        return box_comm_parameters_at_logon(container, msg, base, users, to_interface, logger);
    return box_comm_parameters_when_logged_on(container, msg, base, users, to_interface, logger);
}

ea_status box_comm_process_rate_control_update(box_comm_info_container *container, message *msg,
                                               queue *to_interface, logger_object *logger)
{
    uint16_t link = msg->link_index;
    box_comm_info *info = &container->box_comm_info_array[link];
    if (msg->host_network_handle != info->host_nw_handle.load())
    {
        EA_LOG(
            logger, EA_LEVEL_BUSINESS_ERROR,
            "Th_nw_handle for link [%u] in module [%d] and in update BOX rate control message [%d] do not match, sequence number [%lu]. So discarding the message.",
            link, info->host_nw_handle.load(), msg->host_network_handle, box_comm_seq(msg));
        message_destroy(msg);
        return EA_SUCCESS;
    }
    if (info->box_status.load() != LOGGED_ON)
    {
        EA_LOG(
            logger, EA_LEVEL_BUSINESS_ERROR,
            "Got Rate Control Updation request when box status is not LOGGED_ON, over link [%u] sequence number[%lu]. So discarding the message.",
            link, box_comm_seq(msg));
        message_destroy(msg);
        return EA_SUCCESS;
    }
    int32_t percent = box_comm_record_field(msg, RATE_CONTROL_UPDATE_PERCENT, 0);
    if (percent < 0)
    {
        EA_LOG(
            logger, EA_LEVEL_BUSINESS_ERROR,
            "Got Rate Control Updation request with rate control percenetage [%d]%% over link [%u]. Hence discarding the message. Sequence number [%lu].",
            percent, link, box_comm_seq(msg));
        message_destroy(msg);
        return EA_SUCCESS;
    }
    EA_LOG(logger, EA_LEVEL_EVENT, "Received rate control updation request over link [%u].", link);
    info->rate_control_per = static_cast<int16_t>(percent);
    EA_LOG(logger, EA_LEVEL_EVENT, "Set the rate control percentage value to [%d], over link [%u].", percent,
           link);
    int32_t previous = box_comm_get_rate_count(container, link);
    box_comm_set_rate_count(container, link, box_comm_get_base_rate(container), percent);
    if (percent == 0)
    {
        info->box_rate_control_timer = ea_get_tick_count();
        EA_LOG(logger, EA_LEVEL_EVENT, "Set box rate control timer for link [%u]", link);
        return box_comm_reuse_as_console_event(msg, link, REASON_SYSTEM_NOT_READY, to_interface, logger);
    }
    info->box_rate_control_timer = 0;
    EA_LOG(logger, EA_LEVEL_EVENT, "Reset box rate control timer for link [%u]", link);
    if (previous == 0)
        return box_comm_reuse_as_console_event(msg, link, REASON_SYSTEM_READY, to_interface, logger);
    message_destroy(msg);
    return EA_SUCCESS;
}

ea_status box_comm_rate_control_heart_beat_timer(box_comm_info_container *container, uint16_t link_index,
                                                 uint32_t now, queue *to_th_session, logger_object *logger)
{
    box_comm_info *info = &container->box_comm_info_array[link_index];
    if (info->box_rate_control_timer == 0 || info->box_status.load() != LOGGED_ON ||
        info->session_status != ESTABLISHED ||
        ea_get_tick_difference(now, info->box_rate_control_timer) <=
            static_cast<uint32_t>(container->rate_control_heart_beat_time_interval))
        return EA_SUCCESS;
    message *beat = box_comm_info_container_create_rate_control_heart_beat(container, link_index, logger);
    if (beat == nullptr)
        return EA_ERROR;
    if (box_comm_append(to_th_session, beat, "queue_append failed", logger) != EA_SUCCESS)
        return EA_ERROR;
    EA_LOG(logger, EA_LEVEL_EVENT, "Sent RATE_CONTROL_HEART_BEAT for link [%u] to TH Session Module.",
           link_index);
    info->box_rate_control_timer = now;
    return EA_SUCCESS;
}
