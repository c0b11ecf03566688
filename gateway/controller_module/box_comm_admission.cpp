// Admission of new client connections. The workstation server or the FIX side reports a
// new connection and waits; the first one also starts the box logon of every logged-off
// link. The answer (CONNECTION_ACCEPT or NEW_CONNECTION_REJECT) names no connection: it is
// for every waiting connection of that side, and while a logon is under way it is held
// until every valid link has finished logging on or off.
#include "common/ea_time.h"
#include "gateway/controller_module/box_comm_info_container.h"
#include "gateway/controller_module/box_comm_internal.h"
#include "gateway/controller_module/box_comm_records.h"
#include "gateway/runtime/logger.h"
#include "gateway/runtime/message.h"
#include "gateway/runtime/queue.h"
#include "gateway/shared/log_fold.h"

static ea_status box_comm_start_logon(box_comm_info_container *container, uint16_t link, queue *to_th_session,
                                      logger_object *logger)
{
    box_comm_info *info = &container->box_comm_info_array[link];
    box_comm_set_rate_count_raw(container, link, box_comm_get_base_rate(container));
    message *request = box_comm_info_container_create_box_logon_message(container, link, logger);
    if (request == nullptr)
        return EA_ERROR;
    if (box_comm_append(to_th_session, request, "queue_append failed", logger) != EA_SUCCESS)
        return EA_ERROR;
    EA_LOG(logger, EA_LEVEL_EVENT, "Sent a BOX_LOGON_REQUEST Message to TH Session Module over link [%u]",
           link);
    box_comm_set_box_status(info, link, LOGON_IN_PROGRESS, logger);
    if (info->link_inactivity_timer.load() == 0)
    {
        info->link_inactivity_timer.store(ea_get_tick_count());
        EA_LOG(logger, EA_LEVEL_EVENT, "Set link_inactivity_timer for link [%u]", link);
    }
    return EA_SUCCESS;
}

ea_status box_comm_admission_incoming_client(box_comm_info_container *container, message *msg,
                                             queue *to_th_session, queue *to_tws_send_validator,
                                             queue *to_fix_send, logger_object *logger)
{
    if (msg->user_type == 1)
    {
        EA_LOG(logger, EA_LEVEL_EVENT,
               "Received INCOMING_CLIENT_CONNECTION Notification from FIX Nw Handler Send Thread");
        container->incoming_fix_client_response_pending = 1;
    }
    else
    {
        EA_LOG_FOLDED(&container->tws_admission_lines, logger, EA_LEVEL_EVENT,
                      "Received INCOMING_CLIENT_CONNECTION Notification from TWS Nw Handler");
        container->incoming_tws_client_response_pending = 1;
    }
    log_fold *fold = msg->user_type == 1 ? nullptr : &container->tws_admission_lines;
    if (container->incoming_client_response_pending == 1)
    {
        EA_LOG_FOLDED(fold, logger, EA_LEVEL_EVENT,
                      "Response to INCOMING_CLIENT_CONNECTION is pending. So discarding the notification.");
        message_destroy(msg);
        return EA_SUCCESS;
    }

    bool answer_now = false;
    for (uint16_t link = 0; link < container->number_of_links; ++link)
    {
        box_comm_info *info = &container->box_comm_info_array[link];
        if (info->link_valid != 1)
            continue;
        if (info->box_status.load() == LOGGED_OFF)
        {
            if (box_comm_start_logon(container, link, to_th_session, logger) != EA_SUCCESS)
            {
                message_destroy(msg);
                return EA_ERROR;
            }
        }
        else
            answer_now = true;
    }
    if (!answer_now)
    {
        container->incoming_client_response_pending = 1;
        message_destroy(msg);
        return EA_SUCCESS;
    }

    msg->tag = CONNECTION_ACCEPT;
    if (container->incoming_fix_client_response_pending == 1)
    {
        if (box_comm_append(to_fix_send, msg, "queue_append failed", logger) != EA_SUCCESS)
            return EA_ERROR;
        EA_LOG(logger, EA_LEVEL_EVENT, "Sent CONNECTION_ACCEPT notification to FIX nw handler");
        container->incoming_fix_client_response_pending = 0;
    }
    else
    {
        if (box_comm_append(to_tws_send_validator, msg, "queue_append failed", logger) != EA_SUCCESS)
            return EA_ERROR;
        EA_LOG_FOLDED(fold, logger, EA_LEVEL_EVENT,
                      "Sent CONNECTION_ACCEPT notification to TWS Session Validator");
        container->incoming_tws_client_response_pending = 0;
    }
    return EA_SUCCESS;
}

static ea_status box_comm_send_answer(uint16_t tag, queue *output, logger_object *logger)
{
    message *answer = message_create(0, tag);
    if (answer == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "message_create failed");
        return EA_ERROR;
    }
    return box_comm_append(output, answer, "queue_append failed", logger);
}

ea_status box_comm_admission_held_answer(box_comm_info_container *container, queue *to_tws_send_validator,
                                         queue *to_fix_send, logger_object *logger)
{
    if (container->incoming_client_response_pending != 1)
        return EA_SUCCESS;
    bool some_logged_on = false;
    for (uint16_t link = 0; link < container->number_of_links; ++link)
    {
        box_comm_info *info = &container->box_comm_info_array[link];
        if (info->link_valid != 1)
            continue;
        int16_t status = info->box_status.load();
        if (status == LOGON_IN_PROGRESS || status == LOGOFF_IN_PROGRESS)
            return EA_SUCCESS;
        if (status == LOGGED_ON)
            some_logged_on = true;
    }
    EA_LOG(logger, EA_LEVEL_EVENT, "Box Logon activity completed on all links");
    EA_LOG(logger, EA_LEVEL_EVENT, "Box logon activity is completed successfully over %s links",
           some_logged_on ? "at least one of the" : "none of the");
    uint16_t tag = some_logged_on ? CONNECTION_ACCEPT : NEW_CONNECTION_REJECT;
    const char *name = some_logged_on ? "CONNECTION_ACCEPT" : "NEW_CONNECTION_REJECT";
    if (container->incoming_tws_client_response_pending == 1)
    {
        if (box_comm_send_answer(tag, to_tws_send_validator, logger) != EA_SUCCESS)
            return EA_ERROR;
        EA_LOG(logger, EA_LEVEL_EVENT, "Sent %s notification to TWS Session Module", name);
        container->incoming_tws_client_response_pending = 0;
        EA_LOG(logger, EA_LEVEL_EVENT, "Set incoming_tws_client_response_pending flag to FALSE.");
    }
    if (container->incoming_fix_client_response_pending == 1)
    {
        if (box_comm_send_answer(tag, to_fix_send, logger) != EA_SUCCESS)
            return EA_ERROR;
        EA_LOG(logger, EA_LEVEL_EVENT, "Sent %s notification to FIX nw handler send Module", name);
        container->incoming_fix_client_response_pending = 0;
        EA_LOG(logger, EA_LEVEL_EVENT, "Set incoming_fix_client_response_pending flag to FALSE.");
    }
    container->incoming_client_response_pending = 0;
    EA_LOG(logger, EA_LEVEL_EVENT, "Set incoming_client_response_pending flag to FALSE.");
    return EA_SUCCESS;
}
