// The user session layer's container as the rest of the gateway sees it at start-up.
#include "gateway/session_layer/user_session/user_session_info_container.h"

#include <cstdlib>

#include "gateway/library/logger.h"
#include "gateway/qel_main/worker_thread_args.h"

user_session_info_container *
user_session_info_container_create(uint16_t max_clients, user_link_info *link_table,
                                   box_comm_info_container *box_container, ea_flag *box_rate_control_count,
                                   ea_flag *user_logoff_in_progress, uint16_t number_of_links,
                                   logger_object *logger)
{
    user_session_info_container *container =
        static_cast<user_session_info_container *>(calloc(1, sizeof(user_session_info_container)));
    if (container == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "user_session_info_container object creation failed");
        return nullptr;
    }
    container->max_clients = max_clients;
    container->number_of_links = number_of_links;
    container->request_sent_timeout = USER_SESSION_REQUEST_SENT_TIMEOUT_MS;
    container->link_table = link_table;
    container->box_container = box_container;
    container->box_rate_control_count = box_rate_control_count;
    container->user_logoff_in_progress = user_logoff_in_progress;
    return container;
}

void user_session_info_container_destroy(user_session_info_container *container)
{
    free(container);
}

uint32_t user_session_thread(void *argument)
{
    return worker_thread_placeholder_run(static_cast<worker_thread_args *>(argument));
}
