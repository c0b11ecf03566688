// One host link's connection record: receive framing, the pending queue, and batched,
// rate-limited writes. A read takes what has arrived and keeps a partial frame for the
// next call; a write that would block keeps the rest of the batch for the next call.
// The records of a batch are counted, logged and freed only once all its bytes are out.
#include "gateway/th_network_handle/th_nw_handle.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/ea_time.h"
#include "gateway/message_validators/vrx_network_header.h"
#include "gateway/runtime/ea_socket.h"
#include "gateway/runtime/logger.h"
#include "gateway/runtime/message.h"
#include "gateway/runtime/queue.h"
#include "gateway/runtime/wire.h"

uint32_t th_nw_handle_current_second(logger_object *logger)
{
    if (logger == nullptr)
        return ea_get_tick_count() / 1000;
    return static_cast<uint32_t>(logger_object_get_current_time(logger));
}

static void th_nw_handle_clear(th_nw_handle *link)
{
    queue *pending_queue = link->pending_queue;
    memset(link, 0, sizeof *link);
    link->pending_queue = pending_queue;
    link->network_handle = -1;
    link->connection_sockfd = EA_INVALID_SOCKET;
    link->state = TH_LINK_NOT_CONNECTED;
}

th_nw_handle *th_nw_handle_create(uint16_t number_of_links, logger_object *logger)
{
    th_nw_handle *list =
        static_cast<th_nw_handle *>(calloc(number_of_links == 0 ? 1 : number_of_links, sizeof(th_nw_handle)));
    if (list == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "calloc failed");
        EA_LOG(logger, EA_LEVEL_DEBUG, "th_nw_handle_list array creation %s", "failed");
        return nullptr;
    }
    for (uint16_t i = 0; i < number_of_links; ++i)
    {
        list[i].pending_queue = queue_create();
        if (list[i].pending_queue == nullptr)
        {
            EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "queue_create failed");
            for (uint16_t j = 0; j < i; ++j)
                queue_destroy(list[j].pending_queue);
            free(list);
            EA_LOG(logger, EA_LEVEL_DEBUG, "th_nw_handle_list array creation %s", "failed");
            return nullptr;
        }
        th_nw_handle_clear(&list[i]);
        list[i].rate_second = th_nw_handle_current_second(logger);
    }
    EA_LOG(logger, EA_LEVEL_DEBUG, "th_nw_handle_list array creation %s", "successful");
    return list;
}

void th_nw_handle_destroy(th_nw_handle *list, uint16_t number_of_links)
{
    if (list == nullptr)
        return;
    for (uint16_t i = 0; i < number_of_links; ++i)
    {
        th_nw_handle *link = &list[i];
        ea_destroy_message_queue(link->pending_queue);
        link->pending_queue = nullptr;
        if (link->connection_sockfd != EA_INVALID_SOCKET)
            ea_closesocket(link->connection_sockfd);
        for (uint16_t count = 0; count < link->batch_count; ++count)
        {
            EA_FREE_CHECKED(link->last_sent_message[count], message_destroy,
                            "th_nw_handle_object->last_sent_message[mesg_count]");
        }
    }
    free(list);
}

// The line of a record a reset discards, or its count in `left_out`.
static void th_nw_handle_discarded(const th_nw_handle *link, const message *msg, logger_object *logger,
                                   uint32_t *left_out)
{
    if (left_out != nullptr)
        ++*left_out;
    else
        EA_LOG(logger, EA_LEVEL_EVENT, "Discarding message with th nw handle [%d], sequence number [%lu]",
               link->network_handle, static_cast<unsigned long>(msg->sequence_number));
}

void th_nw_handle_reset(th_nw_handle *link, logger_object *logger, uint32_t *left_out)
{
    for (uint16_t count = 0; count < link->batch_count; ++count)
    {
        message *msg = link->last_sent_message[count];
        if (msg != nullptr)
            th_nw_handle_discarded(link, msg, logger, left_out);
        EA_FREE_CHECKED(link->last_sent_message[count], message_destroy,
                        "th_nw_handle->last_sent_message[count]");
    }
    while (message *msg = static_cast<message *>(queue_remove_head(link->pending_queue)))
    {
        th_nw_handle_discarded(link, msg, logger, left_out);
        message_destroy(msg);
    }
    th_nw_handle_clear(link);
}

// Result of one receive call: the bytes read, or a status for the caller.
static ea_status th_nw_handle_recv_piece(th_nw_handle *link, uint16_t wanted, uint16_t *got,
                                         uint16_t *reason_code, logger_object *logger)
{
    int32_t n = ea_recv(link->connection_sockfd, link->receive_buffer + link->receive_position, wanted);
    if (n > 0)
    {
        *got = static_cast<uint16_t>(n);
        link->receive_position = static_cast<uint16_t>(link->receive_position + n);
        return EA_SUCCESS;
    }
    if (n == 0)
    {
        EA_LOG(logger, EA_LEVEL_EVENT,
               "ea_recv failed due to connection reset by Trading Host for handle [%d]",
               link->network_handle);
        *reason_code = TH_REASON_CONNECTION_CLOSED;
        return TH_NW_CONNECTION_LOST;
    }
    int32_t error = ea_socket_last_error();
    if (error == EA_WSAEWOULDBLOCK || error == EA_WSAEINTR)
    {
        EA_LOG(logger, EA_LEVEL_DEBUG,
               "ea_recv would have blocked or was interrupted: [%d] - [%s] for handle [%d]", error,
               ea_socket_error_text(error), link->network_handle);
        return EA_VALID;
    }
    EA_LOG(logger, EA_LEVEL_EVENT, "Error in ea_recv: [%d] - [%s] for handle [%d]", error,
           ea_socket_error_text(error), link->network_handle);
    *reason_code = TH_REASON_CONNECTION_CLOSED;
    return TH_NW_CONNECTION_LOST;
}

ea_status th_nw_handle_recv(th_nw_handle *link, message **msg_out, uint32_t *receive_counter,
                            uint16_t link_index, uint16_t *reason_code, logger_object *logger)
{
    (void)link_index;
    *msg_out = nullptr;
    if (link->connection_sockfd == EA_INVALID_SOCKET)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "connection_sockfd is already Invalid_Socket for handle [%d]",
               link->network_handle);
        return EA_VALID;
    }
    uint16_t got = 0;
    if (link->frame_length == 0)
    {
        ea_status status = th_nw_handle_recv_piece(link, static_cast<uint16_t>(2 - link->receive_position),
                                                   &got, reason_code, logger);
        if (status != EA_SUCCESS)
            return status;
        if (link->receive_position < 2)
        {
            EA_LOG(logger, EA_LEVEL_DEBUG, "Length field not read yet");
            return EA_VALID;
        }
        uint16_t frame_length = get_u16_be(link->receive_buffer, VRX_NH_LENGTH);
        if (frame_length < VRX_NH_MIN_FRAME_LENGTH || frame_length > VRX_NH_MAX_FRAME_LENGTH)
        {
            EA_LOG(logger, EA_LEVEL_EVENT,
                   "Invalid message length received [%d] from Socket [%d], handle [%d]", frame_length,
                   link->connection_sockfd, link->network_handle);
            *reason_code = TH_REASON_INVALID_FRAME_LENGTH;
            return TH_NW_CONNECTION_LOST;
        }
        link->frame_length = frame_length;
        link->bytes_to_read = static_cast<uint16_t>(frame_length - 2);
    }

    ea_status status = th_nw_handle_recv_piece(link, link->bytes_to_read, &got, reason_code, logger);
    if (status != EA_SUCCESS)
        return status;
    link->bytes_to_read = static_cast<uint16_t>(link->bytes_to_read - got);
    if (link->bytes_to_read > 0)
        return EA_VALID;

    message *msg = message_create(link->frame_length, NORMAL_MESSAGE);
    if (msg == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "message creation failed.");
        return EA_ERROR;
    }
    memcpy(msg->data, link->receive_buffer, link->frame_length);
    *receive_counter += 1;
    msg->sequence_number = *receive_counter;
    msg->host_network_handle = link->network_handle;
    logger_object_binary_log(logger, msg, EA_BINARY_KIND_HOST, EA_RESPONSE_LOG, 0, 1, 0);
    memset(link->receive_buffer, 0, link->frame_length);
    link->receive_position = 0;
    link->bytes_to_read = 0;
    link->frame_length = 0;
    link->frames_received += 1;
    *msg_out = msg;
    return EA_SUCCESS;
}

static void th_nw_handle_set_pending(th_nw_handle *link, uint32_t *pending_count)
{
    link->pending_count = queue_get_count(link->pending_queue) + link->batch_count;
    if (pending_count != nullptr)
        *pending_count = link->pending_count;
}

static ea_status th_nw_handle_put_back(th_nw_handle *link, message *msg, logger_object *logger)
{
    if (queue_prepend(link->pending_queue, msg) == EA_SUCCESS)
        return EA_SUCCESS;
    EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR,
           "Queue prepend failed for handle [%d] and link index [%u], sequence number [%lu]",
           link->network_handle, msg->link_index, static_cast<unsigned long>(msg->sequence_number));
    EA_FREE_CHECKED(msg, message_destroy, "temp_sent_mesg");
    return EA_ERROR;
}

// Moves records from the pending queue into the send buffer (step 2 of sending).
static ea_status th_nw_handle_form_batch(th_nw_handle *link, int16_t rate_limit, logger_object *logger)
{
    link->batch_length = 0;
    memset(link->send_buffer, 0, sizeof link->send_buffer);
    link->send_position = 0;
    int32_t running_weight = link->weight_sent;
    while (link->batch_count < TH_NW_HANDLE_MAX_BATCH_FRAMES)
    {
        uint32_t now = th_nw_handle_current_second(logger);
        // A clock that was re-based backwards starts a new second too, so that a link is
        // never held back until the old second comes round again.
        if (now != link->rate_second)
        {
            link->rate_second = now;
            link->weight_sent = 0;
            running_weight = 0;
        }
        message *msg = static_cast<message *>(queue_remove_head(link->pending_queue));
        if (msg == nullptr)
            break;
        // A frame longer than 2047 bytes could never fit a batch and would block the
        // link for good; it is discarded like one that is too short.
        if (msg->data_length < 2 || msg->data_length > TH_NW_HANDLE_MAX_BATCH_BYTES)
        {
            EA_LOG(logger, EA_LEVEL_EVENT,
                   "Invalid message length [%d] for handle [%d] and link index [%u]. So discarding message",
                   msg->data_length, link->network_handle, msg->link_index);
            EA_FREE_CHECKED(msg, message_destroy, "message_ptr");
            continue;
        }
        running_weight += msg->packing_weight;
        if (link->weight_sent != 0 && running_weight > rate_limit && msg->tag != HEART_BEAT_MESSAGE)
            return th_nw_handle_put_back(link, msg, logger);
        if (link->batch_length + msg->data_length >= TH_NW_HANDLE_BUFFER_SIZE)
            return th_nw_handle_put_back(link, msg, logger);
        link->last_sent_message[link->batch_count++] = msg;
        memcpy(link->send_buffer + link->batch_length, msg->data, msg->data_length);
        link->batch_length = static_cast<uint16_t>(link->batch_length + msg->data_length);
    }
    return EA_SUCCESS;
}

// The batch is out: count its weights, log and free its records.
static void th_nw_handle_batch_written(th_nw_handle *link, logger_object *logger)
{
    uint32_t now = ea_get_tick_count();
    for (uint16_t count = 0; count < link->batch_count; ++count)
    {
        message *msg = link->last_sent_message[count];
        link->weight_sent += msg->packing_weight;
        link->last_send_tick = now;
        if (msg->tag == HEART_BEAT_MESSAGE)
            link->heart_beat_flag = 0;
        logger_object_binary_log(logger, msg, EA_BINARY_KIND_HOST, EA_REQUEST_LOG, link->batch_tick,
                                 msg->stamp_value, link->batch_count);
        EA_FREE_CHECKED(link->last_sent_message[count], message_destroy,
                        "th_nw_handle->last_sent_message[count]");
    }
    link->batch_count = 0;
}

static ea_status th_nw_handle_send_pending(th_nw_handle *link, uint32_t *pending_count, int16_t rate_limit,
                                           logger_object *logger)
{
    if (link->connection_sockfd == EA_INVALID_SOCKET)
    {
        EA_LOG(logger, EA_LEVEL_ACTIVITY, "connection_sockfd is already Invalid_Socket for handle [%d]",
               link->network_handle);
        th_nw_handle_set_pending(link, pending_count);
        return EA_VALID;
    }
    if (link->state == TH_LINK_CONNECTING)
    {
        EA_LOG(logger, EA_LEVEL_ACTIVITY, "Connection in progress for handle [%d]", link->network_handle);
        th_nw_handle_set_pending(link, pending_count);
        return EA_VALID;
    }
    for (;;)
    {
        if (link->bytes_left == 0)
        {
            if (th_nw_handle_form_batch(link, rate_limit, logger) != EA_SUCCESS)
                return EA_ERROR;
            if (link->batch_count == 0)
                break;
            link->bytes_left = link->batch_length;
            link->batch_tick = ea_get_tick_count();
        }
        while (link->bytes_left > 0)
        {
            int32_t n =
                ea_send(link->connection_sockfd, link->send_buffer + link->send_position, link->bytes_left);
            if (n > 0)
            {
                link->send_position = static_cast<uint16_t>(link->send_position + n);
                link->bytes_left = static_cast<uint16_t>(link->bytes_left - n);
                continue;
            }
            int32_t error = n == 0 ? EA_WSAEWOULDBLOCK : ea_socket_last_error();
            if (error == EA_WSAEINTR)
                continue;
            if (error == EA_WSAEWOULDBLOCK)
            {
                EA_LOG(logger, EA_LEVEL_DEBUG, "ea_send() would have blocked for handle [%d]",
                       link->network_handle);
                th_nw_handle_set_pending(link, pending_count);
                return EA_VALID;
            }
            link->send_position = 0;
            link->bytes_left = link->batch_length;
            th_nw_handle_set_pending(link, pending_count);
            EA_LOG(logger, EA_LEVEL_EVENT, "Error in ea_send: [%d] - [%s] for handle [%d]", error,
                   ea_socket_error_text(error), link->network_handle);
            return TH_NW_CONNECTION_LOST;
        }
        th_nw_handle_batch_written(link, logger);
        if (queue_get_count(link->pending_queue) == 0)
            break;
    }
    th_nw_handle_set_pending(link, pending_count);
    return EA_SUCCESS;
}

ea_status th_nw_handle_send(th_nw_handle *link, int32_t operation, message *msg, uint32_t *pending_count,
                            int16_t rate_limit, logger_object *logger)
{
    if (operation == TH_NW_HANDLE_QUEUE && msg != nullptr)
    {
        if (msg->tag == HEART_BEAT_MESSAGE)
        {
            if (queue_prepend(link->pending_queue, msg) != EA_SUCCESS)
            {
                EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR,
                       "Queue prepend failed for handle [%d] and link index [%u], sequence number [%lu]",
                       link->network_handle, msg->link_index,
                       static_cast<unsigned long>(msg->sequence_number));
                EA_FREE_CHECKED(msg, message_destroy, "message_ptr");
                return EA_ERROR;
            }
        }
        else if (queue_append(link->pending_queue, msg) != EA_SUCCESS)
        {
            EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR,
                   "Queue append failed for handle [%d] and link index [%u], sequence number [%lu]",
                   link->network_handle, msg->link_index, static_cast<unsigned long>(msg->sequence_number));
            EA_FREE_CHECKED(msg, message_destroy, "message_ptr");
            return EA_ERROR;
        }
        th_nw_handle_set_pending(link, pending_count);
        return EA_VALID;
    }
    if (operation == TH_NW_HANDLE_SEND_PENDING)
        return th_nw_handle_send_pending(link, pending_count, rate_limit, logger);
    EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "Control must not reach here");
    if (msg != nullptr)
        EA_FREE_CHECKED(msg, message_destroy, "message_ptr");
    return EA_ERROR;
}
