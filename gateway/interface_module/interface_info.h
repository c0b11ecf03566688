// interface_info and interface_nw_info: the console interface module and its two
// loopback listeners. This build carries their configuration only; the interface thread
// waits on its queue and discards.
#pragma once

#include <cstdint>

#include "gateway/library/ea_status.h"

struct logger_object;
struct user_session_info_container;
struct box_comm_info_container;
struct user_link_info;

enum
{
    INTERFACE_EVENT_LOG_FILE_SIZE = 260,
    INTERFACE_SEND_TIMEOUT_SECONDS = 100,
};

struct interface_info
{
    char event_log_file[INTERFACE_EVENT_LOG_FILE_SIZE];
    user_session_info_container *user_sessions;
    box_comm_info_container *box_container;
    user_link_info *link_table;
};

struct interface_nw_info
{
    uint32_t client_limit;
    uint16_t port;
    uint32_t send_timeout;
};

interface_info *interface_info_create(const char *config_file, user_session_info_container *user_sessions,
                                      box_comm_info_container *box_container, user_link_info *link_table,
                                      logger_object *logger);
void interface_info_destroy(interface_info *info);

interface_nw_info *interface_nw_info_create(uint32_t client_limit, uint16_t port, logger_object *logger);
void interface_nw_info_destroy(interface_nw_info *listener);

uint32_t interface_thread(void *argument);
