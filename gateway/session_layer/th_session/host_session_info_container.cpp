// The host session layer's container as the rest of the gateway sees it at start-up.
#include "gateway/session_layer/th_session/host_session_info_container.h"

#include <cstdlib>

#include "gateway/library/config_file.h"
#include "gateway/library/logger.h"
#include "gateway/qel_main/worker_thread_args.h"

host_session_info_container *
host_session_info_container_create(const char *config_file, uint16_t number_of_links,
                                   box_comm_info_container *box_records, ea_flag *recovery_queue_overflow,
                                   ea_flag *base_rate_control, ea_flag *session_recovery_flag,
                                   logger_object *logger)
{
    host_session_info_container *container =
        static_cast<host_session_info_container *>(calloc(1, sizeof(host_session_info_container)));
    if (container == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "Malloc failed for host session info container.");
        return nullptr;
    }
    container->box_records = box_records;
    container->number_of_links = number_of_links;
    container->recovery_queue_overflow = recovery_queue_overflow;
    container->base_rate_control = base_rate_control;
    container->session_recovery_flag = session_recovery_flag;

    int32_t timeout = 0;
    if (config_file_read_int(config_file, "HOST_RESPONSE_TIMEOUT", &timeout) == EA_SUCCESS)
        EA_LOG(logger, EA_LEVEL_EVENT, "[%s] parameter found in config file [%s]", "HOST_RESPONSE_TIMEOUT",
               config_file);
    else
        timeout = HOST_SESSION_DEFAULT_RESPONSE_TIMEOUT_MS;
    container->host_response_timeout = timeout < 0 ? HOST_SESSION_DEFAULT_RESPONSE_TIMEOUT_MS : timeout;
    return container;
}

void host_session_info_container_destroy(host_session_info_container *container)
{
    free(container);
}

uint32_t th_session_module_thread(void *argument)
{
    return worker_thread_placeholder_run(static_cast<worker_thread_args *>(argument));
}
