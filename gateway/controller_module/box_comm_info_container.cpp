// The box's identity (BROKER_ID, BOX_ID) and the rate-control heart-beat interval, read
// and checked at creation as the full controller reads them.
#include "gateway/controller_module/box_comm_info_container.h"

#include <cstdlib>

#include "gateway/library/config_file.h"
#include "gateway/library/logger.h"
#include "gateway/qel_main/config_value.h"
#include "gateway/qel_main/worker_thread_args.h"

box_comm_info_container *box_comm_info_container_create(const char *config_file, uint16_t number_of_links,
                                                        ea_flag *box_rate_control_count,
                                                        user_link_info *link_table,
                                                        ea_flag *base_rate_control, uint16_t max_clients,
                                                        logger_object *logger)
{
    box_comm_info_container *container =
        static_cast<box_comm_info_container *>(calloc(1, sizeof(box_comm_info_container)));
    if (container == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "calloc failed for box_comm_info_container object");
        return nullptr;
    }
    container->number_of_links = number_of_links;
    container->max_clients = max_clients;
    container->box_rate_control_count = box_rate_control_count;
    container->base_rate_control = base_rate_control;
    container->link_table = link_table;
    container->box_request_timeout = BOX_REQUEST_TIMEOUT_MS;

    if (config_file_read_string(config_file, "BROKER_ID", container->broker_id,
                                sizeof(container->broker_id)) != EA_SUCCESS)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "[%s] Parameter not found in config file [%s]", "BROKER_ID",
               config_file);
        free(container);
        return nullptr;
    }
    int32_t box_id = 0;
    if (config_file_read_int(config_file, "BOX_ID", &box_id) != EA_SUCCESS || box_id < 1 ||
        !config_value_fits_u16(box_id))
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "Valid [%s] Parameter not found in config file [%s]", "BOX_ID",
               config_file);
        free(container);
        return nullptr;
    }
    container->box_id = static_cast<uint16_t>(box_id);

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
    container->rate_control_heart_beat_time_interval = interval;
    return container;
}

void box_comm_info_container_destroy(box_comm_info_container *container)
{
    free(container);
}

uint32_t box_comm_thread(void *argument)
{
    return worker_thread_placeholder_run(static_cast<worker_thread_args *>(argument));
}
