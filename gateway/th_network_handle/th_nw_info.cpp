// The host links' configuration: heart-beat interval and the trimmed-message thresholds.
#include "gateway/th_network_handle/th_nw_info.h"

#include <cstdlib>

#include "gateway/library/config_file.h"
#include "gateway/library/logger.h"
#include "gateway/qel_main/worker_thread_args.h"

static int32_t th_nw_info_read_key(const char *config_file, const char *key, int32_t fallback,
                                   logger_object *logger)
{
    int32_t value = 0;
    if (config_file_read_int(config_file, key, &value) != EA_SUCCESS)
        return fallback;
    EA_LOG(logger, EA_LEVEL_EVENT, "[%s] parameter found in config file [%s]", key, config_file);
    return value;
}

th_nw_info *th_nw_info_create(const char *config_file, uint16_t number_of_links,
                              ea_flag *box_rate_control_count, user_link_info *link_table,
                              ea_flag *allow_invitations_flag, logger_object *logger)
{
    th_nw_info *links = static_cast<th_nw_info *>(calloc(1, sizeof(th_nw_info)));
    if (links == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "calloc failed for th_nw_info object");
        return nullptr;
    }
    links->number_of_links = number_of_links;
    links->box_rate_control_count = box_rate_control_count;
    links->link_table = link_table;
    links->allow_invitations_flag = allow_invitations_flag;

    int32_t heart_beat = th_nw_info_read_key(config_file, "HEART_BEAT_TIME_INTERVAL",
                                             TH_NW_INFO_DEFAULT_HEART_BEAT_MS, logger);
    links->heart_beat_interval =
        static_cast<uint32_t>(heart_beat <= 0 ? int32_t{TH_NW_INFO_DEFAULT_HEART_BEAT_MS} : heart_beat);
    int32_t upper = th_nw_info_read_key(config_file, "TRIMMED_MESG_UPPER_THRESHOLD", 1, logger);
    links->upper_threshold = upper < 1 ? 1 : static_cast<uint32_t>(upper);
    int32_t lower = th_nw_info_read_key(config_file, "TRIMMED_MESG_LOWER_THRESHOLD", 0, logger);
    links->lower_threshold = lower < 0 ? 0 : static_cast<uint32_t>(lower);
    return links;
}

void th_nw_info_destroy(th_nw_info *links)
{
    free(links);
}

uint32_t th_nw_handler_thread(void *argument)
{
    return worker_thread_placeholder_run(static_cast<worker_thread_args *>(argument));
}
