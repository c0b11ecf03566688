// The response processing thread. A bad packet loses only its own entries from the bad
// one on; the thread goes on with the next packet.
#include "gateway/business_processing_layer/response_data_proc_info_container.h"

#include <cstdlib>

#include "gateway/business_processing_layer/data_proc_info.h"
#include "gateway/runtime/logger.h"
#include "gateway/runtime/message.h"
#include "gateway/runtime/queue.h"
#include "gateway/runtime/shared_queue.h"
#include "gateway/shared/worker_loop.h"

response_data_proc_info_container *response_data_proc_info_container_create(logger_object *logger)
{
    response_data_proc_info_container *container = static_cast<response_data_proc_info_container *>(
        calloc(1, sizeof(response_data_proc_info_container)));
    if (container == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "Malloc failed for response data proc info container.");
        return nullptr;
    }
    container->packer = data_proc_info_create(RESPONSE_PACKER_CAPACITY, logger);
    if (container->packer == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "data_proc_info_create() failed.");
        free(container);
        return nullptr;
    }
    return container;
}

void response_data_proc_info_container_destroy(response_data_proc_info_container *container)
{
    if (container == nullptr)
        return;
    data_proc_info_destroy(container->packer);
    free(container);
}

ea_status response_data_proc_info_container_process_messages(response_data_proc_info_container *container,
                                                             queue *input, queue *output,
                                                             logger_object *logger)
{
    while (message *msg = static_cast<message *>(queue_remove_head(input)))
    {
        if (msg->tag != NORMAL_MESSAGE)
        {
            if (queue_append(output, msg) != EA_SUCCESS)
            {
                EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "queue_append() failed.");
                message_destroy(msg);
                return EA_ERROR;
            }
            EA_LOG(logger, EA_LEVEL_EVENT, "Forwarded Box related message to User Session Module.");
            continue;
        }
        ea_status status =
            data_proc_info_unpack(container->packer, msg, output, &container->message_counter, logger);
        message_destroy(msg);
        if (status == EA_ERROR)
        {
            EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "data_proc_info_unpack() failed.");
            return EA_ERROR;
        }
        if (status == DATA_PROC_DROPPED)
            EA_LOG(logger, EA_LEVEL_BUSINESS_ERROR, "data_proc_info_unpack() couldn't unpack the message.");
        else
            EA_LOG(logger, EA_LEVEL_ACTIVITY, "Unpacked messages forwarded to User Session Module.");
    }
    return EA_SUCCESS;
}

namespace
{
struct response_steps : worker_steps
{
    response_data_processing_thread_args *args;
    queue *locals[2] = {}; // input, output

    explicit response_steps(response_data_processing_thread_args *thread_args) : args(thread_args) {}

    ea_status wait()
    {
        const ea_status status = shared_queue_get_elements_from_single_queue(args->from_host_session,
                                                                             locals[0], args->wait_time_ms);
        if (status == EA_NO_DATA || status == EA_SUCCESS)
            return status;
        return worker_step_failed(routine, args->logger, "retreival from shared queue failed.");
    }

    ea_status process()
    {
        if (response_data_proc_info_container_process_messages(args->container, locals[0], locals[1],
                                                               args->logger) != EA_SUCCESS)
            return worker_step_failed(
                routine, args->logger,
                "response_data_proc_info_container_process_messages returned EA_ERROR.");
        if (shared_queue_insert(args->to_user_session, locals[1]) != EA_SUCCESS)
            return worker_step_failed(routine, args->logger, "shared queue insert failed.");
        return EA_SUCCESS;
    }
};
} // namespace

uint32_t response_data_processing_thread(void *argument)
{
    response_data_processing_thread_args *args =
        static_cast<response_data_processing_thread_args *>(argument);
    return worker_thread_main<response_steps>(args, __func__, "malloc failed for input local queue.");
}
