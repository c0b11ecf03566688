// user_session_info_container: the user session layer, one slot per user of the gateway.
// This build carries its sizes only; the user session thread waits on its queues and
// discards.
#pragma once

#include <cstdint>

#include "gateway/library/ea_flag.h"
#include "gateway/library/ea_status.h"

struct logger_object;
struct user_link_info;
struct box_comm_info_container;

enum
{
    USER_SESSION_REQUEST_SENT_TIMEOUT_MS = 20000,
};

struct user_session_info_container
{
    uint16_t max_clients;
    uint16_t number_of_links;
    uint32_t request_sent_timeout;
    user_link_info *link_table;
    box_comm_info_container *box_container;
    ea_flag *box_rate_control_count;
    ea_flag *user_logoff_in_progress;
};

user_session_info_container *
user_session_info_container_create(uint16_t max_clients, user_link_info *link_table,
                                   box_comm_info_container *box_container, ea_flag *box_rate_control_count,
                                   ea_flag *user_logoff_in_progress, uint16_t number_of_links,
                                   logger_object *logger);
void user_session_info_container_destroy(user_session_info_container *container);

uint32_t user_session_thread(void *argument);
