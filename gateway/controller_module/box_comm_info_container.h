// box_comm_info_container: the box communication controller, which signs the gateway's
// box on to the trading host. This build carries the box's identity and rate-control
// configuration; the box communication thread waits on its queues and discards.
#pragma once

#include <cstdint>

#include "gateway/library/ea_flag.h"
#include "gateway/library/ea_status.h"

struct logger_object;
struct user_link_info;

enum
{
    BOX_BROKER_ID_SIZE = 6,
    BOX_REQUEST_TIMEOUT_MS = 10000,
    BOX_DEFAULT_RATE_CONTROL_HEART_BEAT_MS = 30000,
};

struct box_comm_info_container
{
    uint16_t box_id; // first field: read by the user session and interface modules
    char broker_id[BOX_BROKER_ID_SIZE];
    uint16_t number_of_links;
    uint16_t max_clients;
    uint32_t box_request_timeout;
    int32_t rate_control_heart_beat_time_interval;
    ea_flag *box_rate_control_count;
    ea_flag *base_rate_control;
    user_link_info *link_table;
};

box_comm_info_container *box_comm_info_container_create(const char *config_file, uint16_t number_of_links,
                                                        ea_flag *box_rate_control_count,
                                                        user_link_info *link_table,
                                                        ea_flag *base_rate_control, uint16_t max_clients,
                                                        logger_object *logger);
void box_comm_info_container_destroy(box_comm_info_container *container);

uint32_t box_comm_thread(void *argument);
