// The request processing thread and its per-link packers. A pull on an empty packer arms
// the link's flag, so the next data record leaves at once in a packet of its own; a pull
// on a non-empty packer sends what it holds; a full packet leaves without waiting.
#include "gateway/business_processing_layer/request_data_proc_info_container.h"

#include <cstdlib>

#include "gateway/business_processing_layer/data_proc_info.h"
#include "gateway/business_processing_layer/vrx_record.h"
#include "gateway/runtime/logger.h"
#include "gateway/runtime/message.h"
#include "gateway/runtime/queue.h"
#include "gateway/runtime/shared_queue.h"
#include "gateway/runtime/wire.h"
#include "gateway/shared/worker_loop.h"

request_data_proc_info_container *request_data_proc_info_container_create(uint16_t number_of_links,
                                                                          ea_flag *box_rate_control_count,
                                                                          logger_object *logger)
{
    request_data_proc_info_container *container =
        static_cast<request_data_proc_info_container *>(calloc(1, sizeof(request_data_proc_info_container)));
    if (container == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "Malloc failed for request data proc info container");
        return nullptr;
    }
    container->number_of_links = number_of_links;
    container->box_rate_control_count = box_rate_control_count;
    container->packers = static_cast<data_proc_info **>(calloc(number_of_links, sizeof(data_proc_info *)));
    if (container->packers == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "calloc failed for request data proc info");
        request_data_proc_info_container_destroy(container);
        return nullptr;
    }
    for (uint16_t link = 0; link < number_of_links; ++link)
    {
        container->packers[link] = data_proc_info_create(REQUEST_PACKER_CAPACITY, logger);
        if (container->packers[link] == nullptr)
        {
            EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "data_proc_info_create() failed");
            request_data_proc_info_container_destroy(container);
            return nullptr;
        }
    }
    container->pull_notification_flags = static_cast<uint32_t *>(calloc(number_of_links, sizeof(uint32_t)));
    if (container->pull_notification_flags == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "malloc failed for pull notification flag array.");
        request_data_proc_info_container_destroy(container);
        return nullptr;
    }
    return container;
}

void request_data_proc_info_container_destroy(request_data_proc_info_container *container)
{
    if (container == nullptr)
        return;
    if (container->packers != nullptr)
    {
        for (uint16_t link = 0; link < container->number_of_links; ++link)
        {
            if (container->packers[link] != nullptr)
                data_proc_info_destroy(container->packers[link]);
        }
    }
    free(container->packers);
    free(container->pull_notification_flags);
    free(container);
}

static ea_status request_forward(message *msg, queue *output, logger_object *logger)
{
    if (queue_append(output, msg) != EA_SUCCESS)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "queue_append() failed.");
        message_destroy(msg);
        return EA_ERROR;
    }
    return EA_SUCCESS;
}

// Closes the link's packet and forwards it when there is one.
static ea_status request_forward_packet(request_data_proc_info_container *container, uint16_t link,
                                        queue *output, logger_object *logger)
{
    message *packet = data_proc_info_get_packet(container->packers[link], &container->packet_counter, logger);
    if (packet == nullptr)
        return EA_SUCCESS;
    packet->link_index = link;
    if (request_forward(packet, output, logger) != EA_SUCCESS)
        return EA_ERROR;
    EA_LOG(logger, EA_LEVEL_ACTIVITY,
           "Forwarded packed message to TH Session Module for link index [%u] Sequence Number [%lu]", link,
           static_cast<unsigned long>(packet->sequence_number));
    return EA_SUCCESS;
}

ea_status request_data_proc_info_container_process_notifications(request_data_proc_info_container *container,
                                                                 queue *input, queue *output,
                                                                 logger_object *logger)
{
    while (message *msg = static_cast<message *>(queue_remove_head(input)))
    {
        uint16_t link = msg->link_index;
        if (link >= container->number_of_links)
        {
            EA_LOG(logger, EA_LEVEL_BUSINESS_ERROR,
                   "Received a notification with invalid link index [%u]. Hence discarding.", link);
            message_destroy(msg);
            continue;
        }
        if (msg->tag != PULL_NOTIFICATION)
        {
            message_destroy(msg);
            continue;
        }
        EA_LOG(logger, EA_LEVEL_ACTIVITY, "Received PULL_NOTIFICATION for link index [%u]", link);
        message_destroy(msg);
        message *packet =
            data_proc_info_get_packet(container->packers[link], &container->packet_counter, logger);
        if (packet == nullptr)
        {
            container->pull_notification_flags[link] = 1;
            EA_LOG(logger, EA_LEVEL_DEBUG, "Data Proc Info object for link index [%u] is empty.", link);
            continue;
        }
        packet->link_index = link;
        if (request_forward(packet, output, logger) != EA_SUCCESS)
            return EA_ERROR;
        EA_LOG(logger, EA_LEVEL_ACTIVITY,
               "Packed message forwarded to TH Session Module for link index [%u]. Sequence Number [%lu]",
               link, static_cast<unsigned long>(packet->sequence_number));
    }
    return EA_SUCCESS;
}

// The trimmed size of a data record, or -1 when the record is too short or malformed to
// be sized: such a record comes from a workstation and is dropped, never fatal.
static int32_t request_trimmed_size(message *msg)
{
    if (msg->data_length < VRX_INTERNAL_TRANSCODE + 2)
        return -1;
    int16_t transcode = get_i16_be(msg->data, VRX_INTERNAL_TRANSCODE);
    if (msg->data_length < data_proc_info_sizing_bytes(transcode, false))
        return -1;
    int32_t size = 0;
    if (data_proc_info_process(nullptr, transcode, msg->data, nullptr, DATA_PROC_TRIMMED_SIZE, &size) !=
        EA_SUCCESS)
        return -1;
    return size;
}

static ea_status request_process_data(request_data_proc_info_container *container, message *msg,
                                      queue *output, logger_object *logger)
{
    uint16_t link = msg->link_index;
    data_proc_info *packer = container->packers[link];
    int32_t size = request_trimmed_size(msg);
    if (size < 0)
    {
        EA_LOG(logger, EA_LEVEL_BUSINESS_ERROR,
               "data_proc_info_process() couldn't handle the message. So discarding. sequence number [%lu].",
               static_cast<unsigned long>(msg->sequence_number));
        message_destroy(msg);
        return EA_SUCCESS;
    }

    if (size >= static_cast<int32_t>(PACKET_SINGLE_MESSAGE_THRESHOLD))
    {
        if (request_forward_packet(container, link, output, logger) != EA_SUCCESS)
        {
            message_destroy(msg);
            return EA_ERROR;
        }
        message *single = nullptr;
        ea_status status =
            data_proc_info_pack_single_message(packer, msg, &single, &container->packet_counter, logger);
        unsigned long sequence = msg->sequence_number;
        message_destroy(msg);
        if (status == EA_ERROR)
        {
            EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "data_proc_info_pack_single_message() returned EA_ERROR");
            return EA_ERROR;
        }
        if (status == DATA_PROC_DROPPED)
        {
            EA_LOG(
                logger, EA_LEVEL_BUSINESS_ERROR,
                "data_proc_info_pack_single_message() couldn't handle the message. So discarding. sequence number [%lu].",
                sequence);
            return EA_SUCCESS;
        }
        single->link_index = link;
        if (request_forward(single, output, logger) != EA_SUCCESS)
            return EA_ERROR;
        EA_LOG(logger, EA_LEVEL_ACTIVITY,
               "Forwarded packed message to TH Session Module for link index [%u].Sequence Number [%lu]",
               link, static_cast<unsigned long>(single->sequence_number));
        return EA_SUCCESS;
    }

    int32_t limit = ea_flag_get(&container->box_rate_control_count[link]);
    ea_status status = data_proc_info_pack(packer, msg, limit, logger);
    if (status == EA_ERROR)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "data_proc_info_pack() failed.");
        message_destroy(msg);
        return EA_ERROR;
    }
    if (status == DATA_PROC_DROPPED)
    {
        EA_LOG(logger, EA_LEVEL_BUSINESS_ERROR,
               "data_proc_info_pack() couldn't handle the message. So discarding. Sequence Number [%lu]",
               static_cast<unsigned long>(msg->sequence_number));
        message_destroy(msg);
        return EA_SUCCESS;
    }
    if (status == EA_SUCCESS && container->pull_notification_flags[link] == 0)
    {
        message_destroy(msg);
        return EA_SUCCESS;
    }

    bool pulled = container->pull_notification_flags[link] == 1;
    if (request_forward_packet(container, link, output, logger) != EA_SUCCESS)
    {
        message_destroy(msg);
        return EA_ERROR;
    }
    if (pulled && status == EA_SUCCESS)
    {
        container->pull_notification_flags[link] = 0;
        message_destroy(msg);
        return EA_SUCCESS;
    }
    // The packet was full: the record goes into the fresh one.
    status = data_proc_info_pack(packer, msg, limit, logger);
    if (status == EA_ERROR)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "data_proc_info_pack function failed.");
        message_destroy(msg);
        return EA_ERROR;
    }
    if (status == DATA_PROC_DROPPED)
        EA_LOG(logger, EA_LEVEL_BUSINESS_ERROR,
               "data_proc_info_pack couldn't process the message.So discarding it. Sequence Number[%lu]",
               static_cast<unsigned long>(msg->sequence_number));
    message_destroy(msg);
    return EA_SUCCESS;
}

ea_status
request_data_proc_info_container_process_request_messages(request_data_proc_info_container *container,
                                                          queue *input, queue *output, logger_object *logger)
{
    while (message *msg = static_cast<message *>(queue_remove_head(input)))
    {
        uint16_t link = msg->link_index;
        if (link >= container->number_of_links)
        {
            EA_LOG(logger, EA_LEVEL_BUSINESS_ERROR,
                   "Received a message with tag [%d] with invalid link index [%u]. Hence discarding.",
                   msg->tag, link);
            message_destroy(msg);
            continue;
        }
        if (msg->tag == NORMAL_MESSAGE)
        {
            if (request_process_data(container, msg, output, logger) != EA_SUCCESS)
                return EA_ERROR;
            continue;
        }
        if (msg->tag == BOX_LOGOFF_FLUSH)
        {
            EA_LOG(logger, EA_LEVEL_EVENT, "Received BOX_LOGOFF_FLUSH message for link index [%u].", link);
            message *packet =
                data_proc_info_get_packet(container->packers[link], &container->packet_counter, logger);
            if (packet != nullptr)
            {
                EA_LOG(logger, EA_LEVEL_BUSINESS_ERROR,
                       "Discarding message with sequence number [%lu] for link index [%u]",
                       static_cast<unsigned long>(packet->sequence_number), link);
                message_destroy(packet);
            }
            if (request_forward(msg, output, logger) != EA_SUCCESS)
                return EA_ERROR;
            EA_LOG(logger, EA_LEVEL_EVENT,
                   "The BOX_LOGOFF_FLUSH message forwarded to TH Session Module for link index [%u].", link);
            continue;
        }
        EA_LOG(logger, EA_LEVEL_ACTIVITY, "Received message with message tag [%d] for link index [%u].",
               msg->tag, link);
        if (request_forward(msg, output, logger) != EA_SUCCESS)
            return EA_ERROR;
        EA_LOG(logger, EA_LEVEL_ACTIVITY,
               "The box related message forwarded to TH Session Module for link index [%u].", link);
    }
    return EA_SUCCESS;
}

namespace
{
struct request_steps : worker_steps
{
    request_data_processing_thread_args *args;
    // locals[0] notifications (queue 17), locals[1] requests (queue 4), locals[2] output.
    queue *locals[3] = {};
    shared_queue *inputs[2];

    explicit request_steps(request_data_processing_thread_args *thread_args)
        : args(thread_args), inputs{thread_args->pull_notifications, thread_args->from_user_session}
    {
    }

    ea_status wait()
    {
        const ea_status status =
            shared_queue_get_elements_from_multiple_queues(inputs, 2, locals, args->wait_time_ms);
        if (status == EA_NO_DATA || status == EA_SUCCESS)
            return status;
        return worker_step_failed(routine, args->logger, "retreival from shared queue failed.");
    }

    // The pulls first, then the requests; the output moves on after each.
    ea_status process()
    {
        if (request_data_proc_info_container_process_notifications(args->container, locals[0], locals[2],
                                                                   args->logger) != EA_SUCCESS)
            return worker_step_failed(
                routine, args->logger,
                "request_data_proc_info_container_process_notifications returned EA_ERROR.");
        if (shared_queue_insert(args->to_host_session, locals[2]) != EA_SUCCESS)
            return worker_step_failed(routine, args->logger, "Insertion to shared queue failed.");
        if (request_data_proc_info_container_process_request_messages(args->container, locals[1], locals[2],
                                                                      args->logger) != EA_SUCCESS)
            return worker_step_failed(
                routine, args->logger,
                "request_data_proc_info_container_process_request_messages returned EA_ERROR.");
        if (shared_queue_insert(args->to_host_session, locals[2]) != EA_SUCCESS)
            return worker_step_failed(routine, args->logger, "Insertion to shared queue failed.");
        return EA_SUCCESS;
    }
};
} // namespace

uint32_t request_data_processing_thread(void *argument)
{
    request_data_processing_thread_args *args = static_cast<request_data_processing_thread_args *>(argument);
    return worker_thread_main<request_steps>(args, __func__, "malloc failed for input local queue.");
}
