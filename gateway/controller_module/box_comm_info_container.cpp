// The box communication controller's container: creation, the per-link box record, the
// three status changes (logon, box logoff, logoff during logon), the notifications of
// shared queue 14 and the per-pass timers. The host's box records are handled in
// box_comm_host_records.cpp and box_comm_rate_control.cpp, session recovery in
// box_comm_recovery.cpp, client admission in box_comm_admission.cpp.
#include "gateway/controller_module/box_comm_info_container.h"

#include <new>

#include "common/config_file.h"
#include "common/ea_time.h"
#include "gateway/business_processing_layer/vrx_record.h"
#include "gateway/controller_module/box_comm_internal.h"
#include "gateway/controller_module/box_comm_records.h"
#include "gateway/runtime/logger.h"
#include "gateway/runtime/message.h"
#include "gateway/runtime/queue.h"
#include "gateway/shared/config_value.h"
#include "gateway/shared/qel_version.h"
#include "gateway/shared/user_link_info.h"

const char *box_comm_tag_name(uint16_t tag)
{
    switch (tag)
    {
    case RECVD_BOX_LOGOFF_FLUSH:
        return "RECVD_BOX_LOGOFF_FLUSH";
    case INCOMING_CLIENT_CONNECTION:
        return "INCOMING_CLIENT_CONNECTION";
    case BOX_LOGON_REQUEST:
        return "BOX_LOGON_REQUEST";
    case HOST_CONNECTION_INITIATED:
        return "HOST_CONNECTION_INITIATED";
    case HOST_CONNECTION_LOST:
        return "HOST_CONNECTION_LOST";
    case HOST_VALIDATION_FAILURE:
        return "HOST_VALIDATION_FAILURE";
    case HOST_CONNECTION_FAILED:
        return "HOST_CONNECTION_FAILED";
    case RECVD_SESSION_RECOVERY_FLUSH:
        return "RECVD_SESSION_RECOVERY_FLUSH";
    case HOST_SESSION_TIMED_OUT:
        return "HOST_SESSION_TIMED_OUT";
    case BOX_RELOGON_REQUEST:
        return "BOX_RELOGON_REQUEST";
    case HOST_HEART_BEAT_TIMED_OUT:
        return "HOST_HEART_BEAT_TIMED_OUT";
    default:
        return "UNKNOWN";
    }
}

ea_status box_comm_append(queue *output, message *msg, const char *failure_text, logger_object *logger)
{
    if (queue_append(output, msg) != EA_SUCCESS)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "%s", failure_text);
        message_destroy(msg);
        return EA_ERROR;
    }
    return EA_SUCCESS;
}

ea_status box_comm_send_console_event(uint16_t link_index, uint16_t reason_code, int32_t event_value,
                                      queue *to_interface, logger_object *logger)
{
    message *event = message_create(0, KOVA_MESSAGE);
    if (event == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "message creation failed.");
        return EA_ERROR;
    }
    event->link_index = link_index;
    event->user_id = static_cast<uint32_t>(-1);
    event->reason_code = reason_code;
    event->event_value = event_value;
    if (box_comm_append(to_interface, event, "queue append failed.", logger) != EA_SUCCESS)
        return EA_ERROR;
    EA_LOG(logger, EA_LEVEL_EVENT,
           "Sent a KOVA_MESSAGE to Interface Thread for link [%u] and reason code [%d]", link_index,
           reason_code);
    return EA_SUCCESS;
}

ea_status box_comm_reuse_as_console_event(message *msg, uint16_t link_index, uint16_t reason_code,
                                          queue *to_interface, logger_object *logger)
{
    msg->tag = KOVA_MESSAGE;
    msg->link_index = link_index;
    msg->user_id = static_cast<uint32_t>(-1);
    msg->reason_code = reason_code;
    msg->event_value = -1;
    msg->data_length = 0; // a console event carries its facts in the header only
    if (box_comm_append(to_interface, msg, "Error while inserting message in queue.", logger) != EA_SUCCESS)
        return EA_ERROR;
    EA_LOG(logger, EA_LEVEL_EVENT,
           "Sent a KOVA_MESSAGE to Interface Thread for link [%u] and reason code [%d]", link_index,
           reason_code);
    return EA_SUCCESS;
}

void box_comm_set_box_status(box_comm_info *info, uint16_t link_index, box_status status,
                             logger_object *logger)
{
    static const char *const names[] = {"LOGGED_OFF", "LOGOFF_IN_PROGRESS", "LOGGED_ON", "LOGON_IN_PROGRESS"};
    info->box_status.store(status, std::memory_order_release);
    EA_LOG(logger, EA_LEVEL_EVENT, "Box Status set to %s for link [%u]", names[status], link_index);
}

int32_t box_comm_set_rate_count(box_comm_info_container *container, uint16_t link_index, int32_t base,
                                int32_t percent)
{
    int32_t count = base * percent / 100;
    if (count > INT16_MAX)
        count = INT16_MAX;
    if (count < 0)
        count = 0;
    box_comm_set_rate_count_raw(container, link_index, count);
    return count;
}

void box_comm_set_rate_count_raw(box_comm_info_container *container, uint16_t link_index, int32_t count)
{
    ea_flag_set(&container->box_rate_control_count[link_index], static_cast<uint16_t>(count));
}

int32_t box_comm_get_rate_count(const box_comm_info_container *container, uint16_t link_index)
{
    return static_cast<int16_t>(ea_flag_get(&container->box_rate_control_count[link_index]));
}

int32_t box_comm_get_base_rate(const box_comm_info_container *container)
{
    return static_cast<int16_t>(ea_flag_get(container->base_rate_control));
}

static void box_comm_info_init(box_comm_info *info, uint16_t link_valid)
{
    info->link_valid = link_valid;
    ea_flag_set(&info->logon_complete, 0);
    info->box_status.store(LOGGED_OFF);
    info->session_status = INACTIVE;
    info->host_nw_handle.store(-1);
    info->request_sent_timer = 0;
    info->relogon_timer = 0;
    info->session_recovery_start = 0;
    info->link_inactivity_timer.store(0);
    info->logoff_reason = 0;
    info->host_error_code = 0;
    ea_flag_set(&info->session_recovery_enabled, 0);
    info->box_rate_control_timer = 0;
    info->rate_control_per = BOX_FULL_RATE_PERCENT;
    info->next_expected_transcode = -1;
    info->first_box_relogon_attempt_flag = 0;
    info->max_users_per_box.store(0);
}

box_comm_info_container *box_comm_info_container_create(const char *config_file, uint16_t number_of_links,
                                                        ea_flag *box_rate_control_count,
                                                        user_link_info *link_table,
                                                        ea_flag *base_rate_control, uint16_t max_clients,
                                                        logger_object *logger)
{
    char broker_id[BOX_BROKER_ID_SIZE] = {};
    if (config_file_read_string(config_file, "BROKER_ID", broker_id, sizeof(broker_id)) != EA_SUCCESS)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "[%s] Parameter not found in config file [%s]", "BROKER_ID",
               config_file);
        return nullptr;
    }
    int32_t box_id = 0;
    // A box id that does not fit the 16-bit field would sign on as another box.
    if (config_file_read_int(config_file, "BOX_ID", &box_id) != EA_SUCCESS || box_id < 1 ||
        !config_value_fits_u16(box_id))
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "Valid [%s] Parameter not found in config file [%s]", "BOX_ID",
               config_file);
        return nullptr;
    }
    int32_t interval = BOX_DEFAULT_RATE_CONTROL_HEART_BEAT_MS;
    if (config_file_read_int(config_file, "RATE_CONTROL_HEART_BEAT_TIME_INTERVAL", &interval) == EA_SUCCESS)
    {
        EA_LOG(logger, EA_LEVEL_EVENT, "Valid [%s] Parameter found in config file [%s]",
               "RATE_CONTROL_HEART_BEAT_TIME_INTERVAL", config_file);
        if (interval < 1)
        {
            EA_LOG(logger, EA_LEVEL_EVENT, "Value of parameter [%s] is [%d]. Hence taking default value.",
                   "RATE_CONTROL_HEART_BEAT_TIME_INTERVAL", interval);
            interval = BOX_DEFAULT_RATE_CONTROL_HEART_BEAT_MS;
        }
    }
    else
        interval = BOX_DEFAULT_RATE_CONTROL_HEART_BEAT_MS;

    box_comm_info_container *container = new (std::nothrow) box_comm_info_container();
    if (container == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "Memory allocation failed for box_comm_info_container object");
        return nullptr;
    }
    container->box_id = static_cast<uint16_t>(box_id);
    for (int i = 0; i < BOX_BROKER_ID_SIZE; ++i)
        container->broker_id[i] = broker_id[i];
    container->version_number = QEL_VERSION_NUMBER;
    container->base_rate_control = base_rate_control;
    container->box_rate_control_count = box_rate_control_count;
    container->number_of_links = number_of_links;
    container->box_request_timeout = BOX_REQUEST_TIMEOUT_MS;
    container->link_table = link_table;
    container->rate_control_heart_beat_time_interval = interval;
    container->max_clients = max_clients;
    container->box_comm_info_array =
        new (std::nothrow) box_comm_info[number_of_links == 0 ? 1 : number_of_links]();
    if (container->box_comm_info_array == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "Memory allocation failed for box_comm_info_array");
        delete container;
        return nullptr;
    }
    for (uint16_t link = 0; link < number_of_links; ++link)
    {
        box_comm_info_init(&container->box_comm_info_array[link],
                           user_link_info_is_link_valid(link_table, link) == EA_SUCCESS ? 1 : 0);
        box_comm_set_rate_count_raw(container, link, 0);
    }
    return container;
}

void box_comm_info_container_destroy(box_comm_info_container *container)
{
    if (container == nullptr)
        return;
    delete[] container->box_comm_info_array;
    delete container;
}

uint16_t box_comm_info_container_is_valid_link(box_comm_info_container *container, uint16_t link_index,
                                               logger_object *logger)
{
    uint16_t valid =
        link_index < container->number_of_links && container->box_comm_info_array[link_index].link_valid == 1;
    EA_LOG(logger, EA_LEVEL_DEBUG, "Link [%u] %s valid. ", link_index, valid ? "is" : "is not");
    return valid;
}

ea_status box_comm_info_container_logon_box(box_comm_info_container *container, uint16_t link_index,
                                            queue *to_interface, logger_object *logger)
{
    box_comm_info *info = &container->box_comm_info_array[link_index];
    box_comm_set_box_status(info, link_index, LOGGED_ON, logger);
    info->session_status = ESTABLISHED;
    info->logoff_reason = 0;
    info->link_inactivity_timer.store(0);
    EA_LOG(logger, EA_LEVEL_EVENT, "Reset link inactivity timer for link [%u]", link_index);
    info->request_sent_timer = 0;
    EA_LOG(logger, EA_LEVEL_EVENT, "Box request_sent timer reset for link [%u].", link_index);
    ea_flag_set(&info->logon_complete, 1);
    info->next_expected_transcode = -1;
    return box_comm_send_console_event(link_index, REASON_BOX_LOGGED_ON, -1, to_interface, logger);
}

ea_status box_comm_info_container_initiate_box_logoff(box_comm_info_container *container, uint16_t link_index,
                                                      uint16_t reason_code, queue *to_th_network,
                                                      logger_object *logger)
{
    box_comm_info *info = &container->box_comm_info_array[link_index];
    ea_flag_set(&info->logon_complete, 0);
    box_comm_set_box_status(info, link_index, LOGOFF_IN_PROGRESS, logger);
    info->logoff_reason = static_cast<int16_t>(reason_code);
    box_comm_set_rate_count_raw(container, link_index, 0);

    message *flush = message_create(0, INITIATE_BOX_LOGOFF_FLUSH);
    if (flush == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "message_create failed");
        return EA_ERROR;
    }
    flush->link_index = link_index;
    flush->host_network_handle = info->host_nw_handle.load();
    flush->reason_code = reason_code;
    if (box_comm_append(to_th_network, flush, "queue_append failed", logger) != EA_SUCCESS)
        return EA_ERROR;
    EA_LOG(
        logger, EA_LEVEL_EVENT,
        "Sent INITIATE_BOX_LOGOFF_FLUSH message to TH Network Handler for link [%u] host network handle [%d] Reason Code [%d]",
        link_index, info->host_nw_handle.load(), reason_code);
    return EA_SUCCESS;
}

ea_status box_comm_info_container_logoff_box(box_comm_info_container *container, uint16_t link_index,
                                             int32_t host_nw_handle, uint16_t reason_code,
                                             queue *to_th_session, logger_object *logger)
{
    box_comm_info *info = &container->box_comm_info_array[link_index];
    message *drop = message_create(0, DROP_HOST_SESSION);
    if (drop == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "message_create failed");
        return EA_ERROR;
    }
    drop->link_index = link_index;
    drop->host_network_handle = host_nw_handle;
    drop->reason_code = reason_code;
    if (reason_code == REASON_BOX_SIGN_ON_REFUSED)
        drop->event_value = info->host_error_code;
    if (box_comm_append(to_th_session, drop, "queue_append failed", logger) != EA_SUCCESS)
        return EA_ERROR;
    EA_LOG(
        logger, EA_LEVEL_EVENT,
        "Sent a DROP_HOST_SESSION notification to TH Session Module for link [%u] host network handle [%d].",
        link_index, host_nw_handle);

    box_comm_set_box_status(info, link_index, LOGGED_OFF, logger);
    info->host_nw_handle.store(-1);
    info->logoff_reason = static_cast<int16_t>(reason_code);
    ea_flag_set(&info->session_recovery_enabled, 0);
    info->rate_control_per = BOX_FULL_RATE_PERCENT;
    return EA_SUCCESS;
}

static ea_status box_comm_logoff_during_logon(box_comm_info_container *container, uint16_t link_index,
                                              int32_t host_nw_handle, uint16_t reason_code,
                                              queue *to_th_session, logger_object *logger)
{
    if (box_comm_info_container_logoff_box(container, link_index, host_nw_handle, reason_code, to_th_session,
                                           logger) != EA_SUCCESS)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "box_comm_info_container_logoff_box failed");
        return EA_ERROR;
    }
    return EA_SUCCESS;
}

static void box_comm_process_box_logoff_flush(box_comm_info_container *container, const message *msg,
                                              logger_object *logger)
{
    uint16_t link = msg->link_index;
    box_comm_info *info = &container->box_comm_info_array[link];
    EA_LOG(logger, EA_LEVEL_EVENT,
           "Received a RECVD_BOX_LOGOFF_FLUSH notification for link [%u] host network handle [%d]", link,
           msg->host_network_handle);
    box_comm_set_box_status(info, link, LOGGED_OFF, logger);
    info->host_nw_handle.store(-1);
    info->session_status = INACTIVE;
    ea_flag_set(&info->session_recovery_enabled, 0);
    EA_LOG(logger, EA_LEVEL_EVENT, "Set session_recovery_enabled flag to FALSE for link [%u]", link);
    info->rate_control_per = BOX_FULL_RATE_PERCENT;
    EA_LOG(logger, EA_LEVEL_EVENT, "Reset rate_control_per value to [%d] for link [%u]",
           BOX_FULL_RATE_PERCENT, link);
}

static void box_comm_process_connection_initiated(box_comm_info_container *container, const message *msg,
                                                  logger_object *logger)
{
    box_comm_info *info = &container->box_comm_info_array[msg->link_index];
    EA_LOG(
        logger, EA_LEVEL_EVENT,
        "Received a HOST_CONNECTION_INITIATED notification from TH Nw Handler for link [%u] host network handle [%d]",
        msg->link_index, msg->host_network_handle);
    info->host_nw_handle.store(msg->host_network_handle);
    info->request_sent_timer = ea_get_tick_count();
    EA_LOG(logger, EA_LEVEL_EVENT, "Updated the host network handle to [%d]. Request Sent Timer is set",
           msg->host_network_handle);
}

// HOST_CONNECTION_LOST, HOST_VALIDATION_FAILURE, HOST_CONNECTION_FAILED, HOST_HEART_BEAT_TIMED_OUT.
// Returns with `*consumed` set when the record was passed on (it must not be freed).
static ea_status box_comm_process_connection_failure(box_comm_info_container *container, message *msg,
                                                     queue *to_th_session, queue *to_th_network,
                                                     bool *consumed, logger_object *logger)
{
    uint16_t link = msg->link_index;
    box_comm_info *info = &container->box_comm_info_array[link];
    EA_LOG(logger, EA_LEVEL_EVENT,
           "Received a %s notification for host network handle [%d] link [%u] reason code [%d].",
           box_comm_tag_name(msg->tag), msg->host_network_handle, link, msg->reason_code);
    if (msg->tag != HOST_CONNECTION_FAILED && msg->host_network_handle != info->host_nw_handle.load())
    {
        EA_LOG(logger, EA_LEVEL_BUSINESS_ERROR,
               "th_nw_handle mismatch in Box Module [%d] and message [%d]. So disarding notification.",
               info->host_nw_handle.load(), msg->host_network_handle);
        return EA_SUCCESS;
    }
    switch (info->box_status.load())
    {
    case LOGGED_ON:
        if (info->session_status == ESTABLISHED)
        {
            EA_LOG(logger, EA_LEVEL_EVENT, "Session status is ESTABLISHED for link [%u]", link);
            info->logoff_reason = static_cast<int16_t>(msg->reason_code);
            info->session_status = CLEANUP_IN_PROGRESS;
            EA_LOG(logger, EA_LEVEL_EVENT, "Session Status set to CLEANUP_IN_PROGRESS for link [%u]", link);
            msg->tag = INITIATE_SESSION_RECOVERY_FLUSH;
            *consumed = true;
            if (box_comm_append(to_th_network, msg, "queue_append failed", logger) != EA_SUCCESS)
                return EA_ERROR;
            EA_LOG(logger, EA_LEVEL_EVENT,
                   "Sent INITIATE_SESSION_RECOVERY_FLUSH notification for link [%u] host network handle [%d]",
                   link, msg->host_network_handle);
            return EA_SUCCESS;
        }
        if (info->session_status == RECOVERY_IN_PROGRESS)
            return box_comm_recovery_connection_failure(container, msg, to_th_network, to_th_session, logger);
        EA_LOG(
            logger, EA_LEVEL_BUSINESS_ERROR,
            "Session status is either CLEANUP_IN_PROGRESS orINACTIVE for link [%u]. So discarding the notification.",
            link);
        return EA_SUCCESS;
    case LOGON_IN_PROGRESS:
        info->request_sent_timer = 0;
        EA_LOG(logger, EA_LEVEL_EVENT, "Reset request sent timer.");
        return box_comm_logoff_during_logon(container, link, msg->host_network_handle, msg->reason_code,
                                            to_th_session, logger);
    default:
        EA_LOG(
            logger, EA_LEVEL_BUSINESS_ERROR,
            "Box Status for link [%u] is either LOGOFF_IN_PROGRESS or LOGGED_OFF. So discarding notification.",
            link);
        return EA_SUCCESS;
    }
}

static ea_status box_comm_process_session_timed_out(box_comm_info_container *container, const message *msg,
                                                    queue *to_th_session, queue *to_th_network,
                                                    logger_object *logger)
{
    uint16_t link = msg->link_index;
    box_comm_info *info = &container->box_comm_info_array[link];
    EA_LOG(logger, EA_LEVEL_EVENT,
           "Received a HOST_SESSION_TIMED_OUT notification for link [%u] host network handle [%d]", link,
           msg->host_network_handle);
    switch (info->box_status.load())
    {
    case LOGGED_ON:
        if (box_comm_info_container_initiate_box_logoff(container, link, REASON_HOST_SESSION_TIMED_OUT,
                                                        to_th_network, logger) != EA_SUCCESS)
        {
            EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "box_comm_info_container_initiate_box_logoff failed");
            return EA_ERROR;
        }
        return EA_SUCCESS;
    case LOGON_IN_PROGRESS:
        return box_comm_logoff_during_logon(container, link, msg->host_network_handle,
                                            REASON_HOST_SESSION_TIMED_OUT, to_th_session, logger);
    default:
        EA_LOG(
            logger, EA_LEVEL_BUSINESS_ERROR,
            "Box status is either LOGOFF_IN_PROGRESS or LOGGED_OFF for link [%u]. Sequence number [%lu].Hence discarding the message.",
            link, static_cast<unsigned long>(msg->sequence_number));
        return EA_SUCCESS;
    }
}

static ea_status box_comm_process_one_notification(box_comm_info_container *container, message *msg,
                                                   queue *to_th_session, queue *to_th_network,
                                                   queue *to_tws_send_validator, queue *to_fix_send,
                                                   queue *to_interface, logger_object *logger)
{
    if (msg->tag == INCOMING_CLIENT_CONNECTION)
        return box_comm_admission_incoming_client(container, msg, to_th_session, to_tws_send_validator,
                                                  to_fix_send, logger);

    bool known = false;
    switch (msg->tag)
    {
    case RECVD_BOX_LOGOFF_FLUSH:
    case HOST_CONNECTION_INITIATED:
    case HOST_CONNECTION_LOST:
    case HOST_VALIDATION_FAILURE:
    case HOST_CONNECTION_FAILED:
    case HOST_HEART_BEAT_TIMED_OUT:
    case RECVD_SESSION_RECOVERY_FLUSH:
    case HOST_SESSION_TIMED_OUT:
        known = true;
        break;
    default:
        break;
    }
    if (!known)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "Invalid message tag [%d] link index [%u]", msg->tag,
               msg->link_index);
        message_destroy(msg);
        return EA_ERROR;
    }
    if (!box_comm_info_container_is_valid_link(container, msg->link_index, logger))
    {
        EA_LOG(logger, EA_LEVEL_BUSINESS_ERROR,
               "Notification contains invalid link index [%u]. So discarding notification.", msg->link_index);
        message_destroy(msg);
        return EA_SUCCESS;
    }

    ea_status status = EA_SUCCESS;
    bool consumed = false;
    switch (msg->tag)
    {
    case RECVD_BOX_LOGOFF_FLUSH:
        box_comm_process_box_logoff_flush(container, msg, logger);
        break;
    case HOST_CONNECTION_INITIATED:
        box_comm_process_connection_initiated(container, msg, logger);
        break;
    case RECVD_SESSION_RECOVERY_FLUSH:
        // The recovery handler frees or keeps the record itself.
        return box_comm_recovery_flush_returned(container, msg, to_th_network, to_th_session, to_interface,
                                                logger);
    case HOST_SESSION_TIMED_OUT:
        status = box_comm_process_session_timed_out(container, msg, to_th_session, to_th_network, logger);
        break;
    default:
        status = box_comm_process_connection_failure(container, msg, to_th_session, to_th_network, &consumed,
                                                     logger);
        break;
    }
    if (!consumed)
        message_destroy(msg);
    return status;
}

ea_status box_comm_info_container_process_notifications(box_comm_info_container *container, queue *input,
                                                        queue *to_th_session, queue *to_th_network,
                                                        queue *to_tws_send_validator, queue *to_fix_send,
                                                        queue *to_interface, logger_object *logger)
{
    while (message *msg = static_cast<message *>(queue_remove_head(input)))
    {
        if (box_comm_process_one_notification(container, msg, to_th_session, to_th_network,
                                              to_tws_send_validator, to_fix_send, to_interface,
                                              logger) != EA_SUCCESS)
            return EA_ERROR;
    }
    return EA_SUCCESS;
}

static ea_status box_comm_request_sent_timer(box_comm_info_container *container, uint16_t link, uint32_t now,
                                             queue *to_th_network, queue *to_th_session,
                                             logger_object *logger)
{
    box_comm_info *info = &container->box_comm_info_array[link];
    if (info->request_sent_timer == 0 ||
        ea_get_tick_difference(now, info->request_sent_timer) <= container->box_request_timeout)
        return EA_SUCCESS;
    EA_LOG(logger, EA_LEVEL_EVENT, "Box Request sent timer timed out for link [%u]", link);
    info->request_sent_timer = 0;
    EA_LOG(logger, EA_LEVEL_EVENT, "Box request_sent timer reset");
    int16_t status = info->box_status.load();
    if (status == LOGON_IN_PROGRESS)
    {
        uint16_t reason = info->next_expected_transcode == TRANSCODE_BOX_PARAMETERS_OUT
                              ? REASON_BOX_PARAMETERS_FAILED
                              : REASON_BOX_NO_SIGN_ON_RESPONSE;
        info->logoff_reason = static_cast<int16_t>(reason);
        return box_comm_logoff_during_logon(container, link, info->host_nw_handle.load(), reason,
                                            to_th_session, logger);
    }
    if (status == LOGGED_ON && info->session_status == RECOVERY_IN_PROGRESS)
    {
        EA_LOG(logger, EA_LEVEL_EVENT,
               "Box Status is LOGGED_ON and Session Status is RECOVERY_IN_PROGRESS for link [%u]", link);
        return box_comm_info_container_initiate_box_relogon_attempt(container, link, to_th_network,
                                                                    to_th_session, 1, logger);
    }
    return EA_SUCCESS;
}

ea_status box_comm_info_container_process_box(box_comm_info_container *container, queue *to_th_network,
                                              queue *to_tws_send_validator, queue *to_fix_send,
                                              queue *to_th_session, logger_object *logger)
{
    uint32_t now = ea_get_tick_count();
    for (uint16_t link = 0; link < container->number_of_links; ++link)
    {
        if (box_comm_recovery_relogon_timer(container, link, now, to_th_session, logger) != EA_SUCCESS ||
            box_comm_request_sent_timer(container, link, now, to_th_network, to_th_session, logger) !=
                EA_SUCCESS ||
            box_comm_rate_control_heart_beat_timer(container, link, now, to_th_session, logger) != EA_SUCCESS)
            return EA_ERROR;
    }
    return box_comm_admission_held_answer(container, to_tws_send_validator, to_fix_send, logger);
}
