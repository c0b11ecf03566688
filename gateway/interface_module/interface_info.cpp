// The console interface's configuration: the day's event log file and the two ports.
#include "gateway/interface_module/interface_info.h"

#include <cstdlib>

#include "gateway/library/config_file.h"
#include "gateway/library/logger.h"
#include "gateway/qel_main/worker_thread_args.h"

interface_info *interface_info_create(const char *config_file, user_session_info_container *user_sessions,
                                      box_comm_info_container *box_container, user_link_info *link_table,
                                      logger_object *logger)
{
    interface_info *info = static_cast<interface_info *>(calloc(1, sizeof(interface_info)));
    if (info == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "calloc failed for interface_info object");
        return nullptr;
    }
    if (config_file_read_string(config_file, "KOVA_EVENT_LOG_FILE", info->event_log_file,
                                sizeof(info->event_log_file)) != EA_SUCCESS)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "[%s] parameter not found in config file [%s]",
               "KOVA_EVENT_LOG_FILE", config_file);
        free(info);
        return nullptr;
    }
    info->user_sessions = user_sessions;
    info->box_container = box_container;
    info->link_table = link_table;
    return info;
}

void interface_info_destroy(interface_info *info)
{
    free(info);
}

interface_nw_info *interface_nw_info_create(uint32_t client_limit, uint16_t port, logger_object *logger)
{
    interface_nw_info *listener = static_cast<interface_nw_info *>(calloc(1, sizeof(interface_nw_info)));
    if (listener == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "calloc failed for interface_nw_info object");
        return nullptr;
    }
    listener->client_limit = client_limit;
    listener->port = port;
    listener->send_timeout = INTERFACE_SEND_TIMEOUT_SECONDS;
    return listener;
}

void interface_nw_info_destroy(interface_nw_info *listener)
{
    free(listener);
}

uint32_t interface_thread(void *argument)
{
    return worker_thread_placeholder_run(static_cast<worker_thread_args *>(argument));
}
