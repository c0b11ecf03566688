// host_session_info_container: the host session layer, one session per host link. This
// build carries its configuration only; the host session thread waits on its queues and
// discards.
#pragma once

#include <cstdint>

#include "gateway/library/ea_flag.h"
#include "gateway/library/ea_status.h"

struct logger_object;
struct box_comm_info_container;

enum
{
    HOST_SESSION_DEFAULT_RESPONSE_TIMEOUT_MS = 190000,
};

struct host_session_info_container
{
    box_comm_info_container *box_records;
    int32_t host_response_timeout;
    uint32_t number_of_links;
    ea_flag *recovery_queue_overflow;
    ea_flag *base_rate_control;
    ea_flag *session_recovery_flag;
};

host_session_info_container *
host_session_info_container_create(const char *config_file, uint16_t number_of_links,
                                   box_comm_info_container *box_records, ea_flag *recovery_queue_overflow,
                                   ea_flag *base_rate_control, ea_flag *session_recovery_flag,
                                   logger_object *logger);
void host_session_info_container_destroy(host_session_info_container *container);

uint32_t th_session_module_thread(void *argument);
