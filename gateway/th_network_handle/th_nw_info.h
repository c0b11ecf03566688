// th_nw_info: the gateway's links to the exchange's trading host. This build carries the
// links' configuration only; the host network thread waits on its queues and discards.
#pragma once

#include <cstdint>

#include "gateway/library/ea_flag.h"
#include "gateway/library/ea_status.h"

struct logger_object;
struct user_link_info;

enum
{
    TH_NW_INFO_DEFAULT_HEART_BEAT_MS = 30000,
};

struct th_nw_info
{
    uint16_t number_of_links;
    uint32_t heart_beat_interval;
    uint32_t upper_threshold;
    uint32_t lower_threshold;
    ea_flag *box_rate_control_count;
    user_link_info *link_table;
    ea_flag *allow_invitations_flag;
};

th_nw_info *th_nw_info_create(const char *config_file, uint16_t number_of_links,
                              ea_flag *box_rate_control_count, user_link_info *link_table,
                              ea_flag *allow_invitations_flag, logger_object *logger);
void th_nw_info_destroy(th_nw_info *links);

uint32_t th_nw_handler_thread(void *argument);
