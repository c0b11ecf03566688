// The user session container: its slots and the active list of admitted users, the
// lookups, the start of a user's logoff, the reset of a slot and the sign-off request.
// The request and reply handlers live in user_session_requests.cpp and
// user_session_responses.cpp.
#include "gateway/session_layer/user_session/user_session_info_container.h"

#include <cstdlib>
#include <cstring>

#include "common/ea_time.h"
#include "gateway/business_processing_layer/vrx_record.h"
#include "gateway/controller_module/box_comm_info_container.h"
#include "gateway/runtime/ea_sync_info.h"
#include "gateway/runtime/logger.h"
#include "gateway/runtime/message.h"
#include "gateway/runtime/queue.h"
#include "gateway/runtime/wire.h"
#include "gateway/session_layer/user_session/user_session_internal.h"
#include "gateway/shared/connection_book.h"

bool user_session_slot_in_range(const user_session_info_container *container, const message *msg)
{
    if (msg->workstation_network_handle == USER_SESSION_FREE_HANDLE)
        return false;
    if (msg->user_type == USER_TYPE_FIX)
        return msg->workstation_index >= container->max_clients &&
               msg->workstation_index < container->user_slot_count;
    return msg->workstation_index < container->max_clients;
}

bool user_session_link_known(const user_session_info_container *container, uint16_t link_index)
{
    const box_comm_info_container *box = container->box_container;
    return link_index < container->number_of_links && box != nullptr && box->box_comm_info_array != nullptr &&
           link_index < box->number_of_links;
}

uint16_t user_session_link_logon_complete(const user_session_info_container *container, uint16_t link_index)
{
    if (!user_session_link_known(container, link_index))
        return 0;
    return ea_flag_get(&container->box_container->box_comm_info_array[link_index].logon_complete);
}

uint32_t user_session_link_inactivity_timer(const user_session_info_container *container, uint16_t link_index)
{
    if (!user_session_link_known(container, link_index))
        return 0;
    return container->box_container->box_comm_info_array[link_index].link_inactivity_timer.load(
        std::memory_order_acquire);
}

int32_t user_session_link_max_users(const user_session_info_container *container, uint16_t link_index)
{
    if (!user_session_link_known(container, link_index))
        return 0;
    return container->box_container->box_comm_info_array[link_index].max_users_per_box.load(
        std::memory_order_acquire);
}

int16_t user_session_link_rate_control(const user_session_info_container *container, uint16_t link_index)
{
    if (container->box_rate_control_count == nullptr || link_index >= container->number_of_links)
        return 0;
    return static_cast<int16_t>(ea_flag_get(&container->box_rate_control_count[link_index]));
}

void user_session_set_logoff_flag(user_session_info_container *container, uint16_t slot, uint16_t value)
{
    if (container->user_logoff_in_progress != nullptr)
        ea_flag_set(&container->user_logoff_in_progress[slot], value);
}

message *user_session_control_record(const user_session_info_container *container, uint16_t slot,
                                     uint16_t tag, uint16_t reason_code)
{
    message *msg = message_create(0, tag);
    if (msg == nullptr)
        return nullptr;
    const user_session_info *info = &container->user_session_info_list[slot];
    msg->workstation_network_handle = info->tws_nw_handle;
    msg->workstation_index = slot;
    msg->user_type = static_cast<uint16_t>(info->user_type);
    msg->user_id = static_cast<uint32_t>(info->user_id);
    msg->link_index = info->link_index;
    msg->reason_code = reason_code;
    return msg;
}

ea_status user_session_append(queue *q, message *msg, logger_object *logger)
{
    if (queue_append(q, msg) == EA_SUCCESS)
        return EA_SUCCESS;
    EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "queue_append failed");
    message_destroy(msg);
    return EA_ERROR;
}

int16_t user_session_transcode(const message *msg)
{
    return get_i16_be(msg->data, VRX_INTERNAL_TRANSCODE);
}

int16_t user_session_error_code(const message *msg)
{
    return get_i16_be(msg->data, VRX_INTERNAL_ERROR_CODE);
}

user_session_info_container *
user_session_info_container_create(uint16_t max_clients, user_link_info *link_table,
                                   box_comm_info_container *box_container, ea_flag *box_rate_control_count,
                                   ea_flag *user_logoff_in_progress, uint16_t number_of_links,
                                   logger_object *logger)
{
    user_session_info_container *container =
        static_cast<user_session_info_container *>(calloc(1, sizeof(user_session_info_container)));
    if (container == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "user_session_info_container object creation failed");
        return nullptr;
    }
    container->user_logoff_in_progress = user_logoff_in_progress;
    container->max_clients = max_clients;
    container->user_slot_count = static_cast<uint16_t>(2u * max_clients);
    container->request_sent_timeout = USER_SESSION_REQUEST_SENT_TIMEOUT_MS;
    container->box_container = box_container;
    container->link_table = link_table;
    container->box_rate_control_count = box_rate_control_count;
    container->number_of_links = number_of_links;

    container->connected_users_count =
        static_cast<uint16_t *>(calloc(number_of_links == 0 ? 1 : number_of_links, sizeof(uint16_t)));
    if (container->connected_users_count == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR,
               "user_session_info_container->connected_users_count creation failed");
        user_session_info_container_destroy(container);
        return nullptr;
    }
    uint32_t slots = container->user_slot_count == 0 ? 1 : container->user_slot_count;
    container->valid_user_session_info_list =
        static_cast<user_session_info **>(calloc(slots, sizeof(user_session_info *)));
    if (container->valid_user_session_info_list == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR,
               "user_session_info_container->valid_user_session_info_list creation failed");
        user_session_info_container_destroy(container);
        return nullptr;
    }
    container->user_session_info_list =
        static_cast<user_session_info *>(calloc(slots, sizeof(user_session_info)));
    if (container->user_session_info_list == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR,
               "user_session_info_container->user_session_info_listcreation failed");
        user_session_info_container_destroy(container);
        return nullptr;
    }
    for (uint32_t i = 0; i < slots; i++)
        user_session_info_reset(&container->user_session_info_list[i]);
    container->lock = ea_sync_info_create(EA_SYNC_CRITICAL_SECTION, 0);
    if (container->lock == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "ea_sync_info_create failed");
        user_session_info_container_destroy(container);
        return nullptr;
    }
    container->active_user_count = 0;
    return container;
}

void user_session_info_container_destroy(user_session_info_container *container)
{
    if (container == nullptr)
        return;
    if (container->lock != nullptr)
        ea_sync_info_destroy(container->lock);
    free(container->user_session_info_list);
    free(container->valid_user_session_info_list);
    free(container->connected_users_count);
    log_hold_destroy(container->held_lines);
    free(container);
}

bool user_session_info_container_set_connection_book(user_session_info_container *container,
                                                     connection_book *book)
{
    log_hold_destroy(container->held_lines);
    container->book = book;
    container->held_lines = book != nullptr ? log_hold_create(container->max_clients, book) : nullptr;
    return book == nullptr || container->held_lines != nullptr;
}

ea_status user_session_info_container_get_index(user_session_info_container *container, int32_t key,
                                                int16_t key_type, uint16_t *slot, logger_object *logger)
{
    if (key_type == USERID_KEY && key == 0)
    {
        EA_LOG(logger, EA_LEVEL_BUSINESS_ERROR, "Invalid key [%ld] for USERID_KEY", static_cast<long>(key));
        return EA_NOT_FOUND;
    }
    if (key_type == TWS_NW_HANDLE_KEY && key == -1)
    {
        EA_LOG(logger, EA_LEVEL_BUSINESS_ERROR, "Invalid key [%ld] for TWS_NW_HANDLE_KEY. Surely a Bug",
               static_cast<long>(key));
        return EA_NOT_FOUND;
    }
    if (key_type != USERID_KEY && key_type != TWS_NW_HANDLE_KEY)
    {
        EA_LOG(logger, EA_LEVEL_BUSINESS_ERROR, "Invalid keytype [%d]. Surely a Bug", key_type);
        return EA_NOT_FOUND;
    }
    for (int32_t i = 0; i < container->active_user_count; i++)
    {
        const user_session_info *info = container->valid_user_session_info_list[i];
        if (info == nullptr)
            continue;
        int32_t value = key_type == USERID_KEY ? info->user_id : info->tws_nw_handle;
        if (value == key)
        {
            *slot = static_cast<uint16_t>(info - container->user_session_info_list);
            return EA_SUCCESS;
        }
    }
    return EA_NOT_FOUND;
}

user_session_info *
user_session_info_container_get_user_session_info_array(user_session_info_container *container,
                                                        uint32_t *count)
{
    uint32_t slots = container->user_slot_count;
    user_session_info *copy =
        static_cast<user_session_info *>(calloc(slots == 0 ? 1 : slots, sizeof(user_session_info)));
    if (copy == nullptr)
        return nullptr;
    ea_sync_info_enter_critical_section(container->lock);
    memcpy(copy, container->user_session_info_list, slots * sizeof(user_session_info));
    ea_sync_info_leave_critical_section(container->lock);
    *count = slots;
    return copy;
}

message *user_session_info_container_create_user_logoff_message(user_session_info_container *container,
                                                                uint16_t slot, logger_object *logger)
{
    message *msg = message_create(USER_LOGOFF_MESSAGE_LENGTH, NORMAL_MESSAGE);
    if (msg == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "message_create failed");
        return nullptr;
    }
    const user_session_info *info = &container->user_session_info_list[slot];
    uint8_t *data = msg->data;
    memset(data, 0, USER_LOGOFF_MESSAGE_LENGTH);
    put_u32_be(data, VRX_INTERNAL_USER_ID, static_cast<uint32_t>(info->user_id));
    data[VRX_INTERNAL_CHARS] = ' ';
    data[VRX_INTERNAL_CHARS + 1] = ' ';
    put_i16_be(data, VRX_INTERNAL_TRANSCODE, TRANSCODE_SIGN_OFF_REQUEST);
    put_u16_be(data, VRX_INTERNAL_LENGTH, static_cast<uint16_t>(USER_LOGOFF_MESSAGE_LENGTH));
    msg->user_id = static_cast<uint32_t>(info->user_id);
    msg->transcode = TRANSCODE_SIGN_OFF_REQUEST;
    msg->link_index = info->link_index;
    msg->user_type = static_cast<uint16_t>(info->user_type);
    msg->workstation_index = slot;
    msg->workstation_network_handle = info->tws_nw_handle;
    return msg;
}

void user_session_mark_logoff(user_session_info_container *container, uint16_t slot)
{
    user_session_info *info = &container->user_session_info_list[slot];
    info->logon_status = logon_status::LOGOFF_IN_PROGRESS;
    info->validation_failure_flag = EA_DO_NOT_FORWARD;
    user_session_set_logoff_flag(container, slot, 1);
}

log_hold_entry *user_session_held(user_session_info_container *container, const message *msg)
{
    if (msg->user_type != USER_TYPE_WORKSTATION)
        return nullptr;
    return log_hold_of_record(container->held_lines, msg);
}

log_hold_entry *user_session_held_slot(user_session_info_container *container, uint16_t slot)
{
    if (slot >= container->max_clients)
        return nullptr;
    const user_session_info *info = &container->user_session_info_list[slot];
    if (info->user_type != USER_TYPE_WORKSTATION || info->tws_nw_handle == USER_SESSION_FREE_HANDLE)
        return nullptr;
    return log_hold_of_slot(container->held_lines, slot, info->tws_nw_handle, info->peer_address);
}

void user_session_signed_on(user_session_info_container *container, uint16_t slot)
{
    if (slot >= container->max_clients)
        return;
    const user_session_info *info = &container->user_session_info_list[slot];
    if (info->user_type != USER_TYPE_WORKSTATION || info->tws_nw_handle == USER_SESSION_FREE_HANDLE)
        return;
    connection_book_signed_on(container->book, slot, info->tws_nw_handle);
    log_hold_of_slot(container->held_lines, slot, info->tws_nw_handle, info->peer_address);
}

ea_status user_session_info_container_initiate_user_logoff(user_session_info_container *container,
                                                           message *msg, queue *to_request_processing,
                                                           queue *to_user_side, logger_object *logger)
{
    log_hold_entry *held = user_session_held(container, msg);
    log_hold_set_reason(held, msg->reason_code);
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

    if (info->tws_nw_handle == USER_SESSION_FREE_HANDLE)
    {
        msg->tag = DROP_CLIENT;
        msg->user_type = static_cast<uint16_t>(info->user_type);
        user_session_set_logoff_flag(container, slot, 1);
        EA_LOG_HELD(
            held, logger, EA_LEVEL_EVENT,
            "Sending DROP_CLIENT having message type[%d], to Validation Layer as User corresponding to tws nw handle [%d] and tws index [%u] not found. ",
            msg->user_type, msg->workstation_network_handle, static_cast<unsigned>(slot));
        return user_session_append(to_user_side, msg, logger);
    }
    if (info->tws_nw_handle != msg->workstation_network_handle)
    {
        EA_LOG_HELD(
            held, logger, EA_LEVEL_BUSINESS_ERROR,
            "Discarding the message having message type [%d], as Nw handle mismatch. The tws nw handle in received message is[%d] and in user session object is[%d] for tws index [%u]",
            msg->user_type, msg->workstation_network_handle, info->tws_nw_handle,
            static_cast<unsigned>(slot));
        message_destroy(msg);
        return EA_SUCCESS;
    }
    if (info->user_id == 0)
    {
        user_session_mark_logoff(container, slot);
        msg->tag = USER_LOGOFF_FLUSH;
        EA_LOG_HELD(
            held, logger, EA_LEVEL_EVENT,
            "Sent USER_LOGOFF_FLUSH message for user type [%d]for tws index [%u] having tws nw handle [%d] to Validation Layer",
            msg->user_type, static_cast<unsigned>(slot), msg->workstation_network_handle);
        return user_session_append(to_user_side, msg, logger);
    }

    msg->user_id = static_cast<uint32_t>(info->user_id);
    switch (info->logon_status)
    {
    case logon_status::LOGOFF_IN_PROGRESS:
        message_destroy(msg);
        return EA_SUCCESS;
    case logon_status::LOGGED_ON:
    {
        user_session_mark_logoff(container, slot);
        user_session_set_logoff_reason(info, msg->reason_code, msg->event_value);
        EA_LOG_HELD(
            held, logger, EA_LEVEL_EVENT,
            "Status of user [%ld] of user type[%d] with nw handle [%d] having tws index [%u] set to LOGOFF_IN_PROGRESS. reason code [%d]",
            static_cast<long>(info->user_id), info->user_type, info->tws_nw_handle,
            static_cast<unsigned>(slot), msg->reason_code);
        message_destroy(msg);
        message *logoff = user_session_info_container_create_user_logoff_message(container, slot, logger);
        if (logoff == nullptr)
        {
            EA_LOG_HELD(held, logger, EA_LEVEL_CONTINUATION, "create_user_logoff_message failed");
            return EA_ERROR;
        }
        if (user_session_append(to_request_processing, logoff, logger) != EA_SUCCESS)
            return EA_ERROR;
        EA_LOG_HELD(held, logger, EA_LEVEL_EVENT,
                    "Sent user logoff message for user id [%ld] having user type[%d] to Processing Layer",
                    static_cast<long>(info->user_id), info->user_type);
        info->request_sent_timer = ea_get_tick_count();
        return EA_SUCCESS;
    }
    case logon_status::LOGON_IN_PROGRESS:
        user_session_set_logoff_reason(info, msg->reason_code, msg->event_value);
        user_session_mark_logoff(container, slot);
        EA_LOG_HELD(
            held, logger, EA_LEVEL_EVENT,
            "Status of user [%ld] having user type [%d], with nw handle [%d] having tws index [%u] set to LOGOFF_IN_PROGRESS. Also set the request sent timer reason code [%d]",
            static_cast<long>(info->user_id), info->user_type, info->tws_nw_handle,
            static_cast<unsigned>(slot), msg->reason_code);
        message_destroy(msg);
        info->status_query = 1;
        info->immediate_status_query = 1;
        return EA_SUCCESS;
    default:
        EA_LOG_HELD(
            held, logger, EA_LEVEL_BUSINESS_ERROR,
            "The user [%ld] of user type [%d], with tws nw handle [%d] having tws index [%u] having logon_status flag [%d] is already deleted from qel. Surely a bug",
            static_cast<long>(info->user_id), info->user_type, info->tws_nw_handle,
            static_cast<unsigned>(slot), info->logon_status);
        user_session_mark_logoff(container, slot);
        msg->tag = USER_LOGOFF_FLUSH;
        EA_LOG_HELD(
            held, logger, EA_LEVEL_EVENT,
            "Sent USER_LOGOFF_FLUSH for user id [%ld] having user type [%d] and tws nw handle [%d] having tws index [%u]",
            static_cast<long>(info->user_id), info->user_type, info->tws_nw_handle,
            static_cast<unsigned>(slot));
        return user_session_append(to_user_side, msg, logger);
    }
}

ea_status user_session_info_container_delete_user(user_session_info_container *container, uint16_t slot)
{
    user_session_info *info = &container->user_session_info_list[slot];
    uint16_t link_index = info->link_index;
    user_session_set_logoff_flag(container, slot, 0);
    user_session_info_reset(info);

    int32_t count = container->active_user_count;
    for (int32_t i = 0; i < count; i++)
    {
        if (container->valid_user_session_info_list[i] != info)
            continue;
        container->active_user_count--;
        if (link_index < container->number_of_links && container->connected_users_count[link_index] > 0)
            container->connected_users_count[link_index]--;
        memmove(&container->valid_user_session_info_list[i], &container->valid_user_session_info_list[i + 1],
                static_cast<size_t>(count - i - 1) * sizeof(user_session_info *));
        container->valid_user_session_info_list[count - 1] = nullptr;
        break;
    }
    return EA_SUCCESS;
}
