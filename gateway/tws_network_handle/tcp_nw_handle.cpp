// One trader-workstation connection: receive framing and send batching. Frames are a
// 16-bit big-endian total length followed by the rest; the receive side reads the two
// length bytes first and then exactly the rest, so it never takes bytes of the next frame.
// The send side keeps the records of a batch until the socket has accepted all of it.
#include "gateway/tws_network_handle/tcp_nw_handle.h"

#include <cstdlib>
#include <cstring>

#include "common/ea_time.h"
#include "gateway/runtime/ea_socket.h"
#include "gateway/runtime/logger.h"
#include "gateway/runtime/message.h"
#include "gateway/runtime/queue.h"
#include "gateway/runtime/wire.h"
#include "gateway/shared/log_hold.h"

log_hold_entry *tcp_nw_handle_held(const tcp_nw_handle *slot)
{
    if (slot->signed_on != 0 || slot->held_lines == nullptr || slot->network_handle == TCP_NW_HANDLE_FREE)
        return nullptr;
    return log_hold_of_slot(slot->held_lines, slot->index, slot->network_handle, slot->peer_address);
}

// A binary log record about the connection, held like its lines until it signs on.
static void tcp_nw_handle_binary_log(const tcp_nw_handle *slot, message *msg, int file, uint32_t tick,
                                     uint32_t value32, uint16_t value16, logger_object *logger)
{
    if (logger == nullptr || logger->binary_logging != 1)
        return;
    log_hold_binary(tcp_nw_handle_held(slot), logger, msg, EA_BINARY_KIND_WORKSTATION, file, tick, value32,
                    value16);
}

void tcp_nw_handle_reset(tcp_nw_handle *slot)
{
    queue *kept = slot->send_queue;
    log_hold *hold = slot->held_lines;
    uint16_t index = slot->index;
    memset(slot, 0, sizeof(*slot));
    slot->send_queue = kept;
    slot->held_lines = hold;
    slot->index = index;
    slot->network_handle = TCP_NW_HANDLE_FREE;
    slot->client_sockfd = EA_INVALID_SOCKET;
    slot->link_index = TCP_NW_HANDLE_NO_LINK;
    slot->receive_position = slot->receive_buffer;
    slot->send_position = slot->send_buffer;
}

tcp_nw_handle *tcp_nw_handle_create(uint16_t count, logger_object *logger)
{
    tcp_nw_handle *list = static_cast<tcp_nw_handle *>(calloc(count == 0 ? 1 : count, sizeof(tcp_nw_handle)));
    if (list == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "calloc failed");
        EA_LOG(logger, EA_LEVEL_DEBUG, "tcp_nw_handle_list array creation %s", "failed");
        return nullptr;
    }
    for (uint16_t i = 0; i < count; ++i)
    {
        list[i].index = i;
        tcp_nw_handle_reset(&list[i]);
        list[i].send_queue = queue_create();
        if (list[i].send_queue == nullptr)
        {
            EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "queue_create failed");
            for (uint16_t j = 0; j < i; ++j)
                queue_destroy(list[j].send_queue);
            free(list);
            EA_LOG(logger, EA_LEVEL_DEBUG, "tcp_nw_handle_list array creation %s", "failed");
            return nullptr;
        }
    }
    EA_LOG(logger, EA_LEVEL_DEBUG, "tcp_nw_handle_list array creation %s", "successful");
    return list;
}

void tcp_nw_handle_destroy(tcp_nw_handle *list, uint16_t count, logger_object *)
{
    if (list == nullptr)
        return;
    for (uint16_t i = 0; i < count; ++i)
    {
        tcp_nw_handle *slot = &list[i];
        if (slot->send_queue != nullptr)
            ea_destroy_message_queue(slot->send_queue);
        if (slot->client_sockfd != EA_INVALID_SOCKET)
            ea_closesocket(slot->client_sockfd);
        for (message *&held : slot->last_sent_message)
        {
            if (held != nullptr)
                message_destroy(held);
            held = nullptr;
        }
        if (slot->parked != nullptr)
            message_destroy(slot->parked);
        slot->parked = nullptr;
    }
    free(list);
}

// One receive into the frame being assembled. 0 with *received > 0, 203 when the socket
// has nothing now, 3 with the reason when the connection is gone.
static ea_status tcp_nw_handle_read_piece(tcp_nw_handle *slot, uint16_t wanted, int32_t *received,
                                          uint16_t *reason_code, logger_object *logger)
{
    int32_t n = ea_recv(slot->client_sockfd, slot->receive_position, wanted);
    if (n < 0)
    {
        int32_t error = ea_socket_last_error();
        if (error == EA_WSAEWOULDBLOCK || error == EA_WSAEINTR)
        {
            EA_LOG_HELD(tcp_nw_handle_held(slot), logger, EA_LEVEL_DEBUG,
                        "ea_recv would have blocked or was interrupted: [%d] - [%s] for handle [%d]", error,
                        ea_socket_error_text(error), slot->network_handle);
            return EA_VALID;
        }
        EA_LOG_HELD(tcp_nw_handle_held(slot), logger, EA_LEVEL_EVENT,
                    "Error in ea_recv: [%d] - [%s] for handle [%d]", error, ea_socket_error_text(error),
                    slot->network_handle);
        *reason_code = TWS_REASON_CONNECTION_LOST;
        return TCP_NW_HANDLE_CONNECTION_LOST;
    }
    if (n == 0)
    {
        EA_LOG_HELD(tcp_nw_handle_held(slot), logger, EA_LEVEL_EVENT,
                    "ea_recv failed due to connection reset by client for handle [%d]", slot->network_handle);
        *reason_code = TWS_REASON_CONNECTION_LOST;
        return TCP_NW_HANDLE_CONNECTION_LOST;
    }
    if (slot->receive_position == slot->receive_buffer)
        slot->frame_start_tick = ea_get_tick_count();
    slot->receive_position += n;
    if (slot->header_tick == 0 && slot->receive_position - slot->receive_buffer >= TCP_NW_HANDLE_HEADER_SIZE)
        slot->header_tick = ea_get_tick_count();
    *received = n;
    return EA_SUCCESS;
}

ea_status tcp_nw_handle_recv(tcp_nw_handle *slot, message **out, uint32_t *receive_sequence,
                             uint16_t *reason_code, logger_object *logger)
{
    *out = nullptr;
    if (slot->client_sockfd == EA_INVALID_SOCKET)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "client_sockfd is already Invalid_Socket for handle [%d]",
               slot->network_handle);
        return EA_VALID;
    }

    int32_t received = 0;
    if (slot->frame_length == 0)
    {
        uint16_t have = static_cast<uint16_t>(slot->receive_position - slot->receive_buffer);
        slot->bytes_to_read = static_cast<uint16_t>(TCP_NW_HANDLE_LENGTH_FIELD_SIZE - have);
        ea_status status =
            tcp_nw_handle_read_piece(slot, slot->bytes_to_read, &received, reason_code, logger);
        if (status != EA_SUCCESS)
            return status;
        if (received < slot->bytes_to_read)
        {
            EA_LOG_HELD(tcp_nw_handle_held(slot), logger, EA_LEVEL_DEBUG, "Length field not read yet");
            return EA_VALID;
        }
        uint16_t length = get_u16_be(slot->receive_buffer, 0);
        if (length < TCP_NW_HANDLE_MIN_FRAME || length > TCP_NW_HANDLE_MAX_FRAME)
        {
            EA_LOG_HELD(tcp_nw_handle_held(slot), logger, EA_LEVEL_EVENT,
                        "Invalid message length received [%d] from Socket [%d], handle [%d]", length,
                        slot->client_sockfd, slot->network_handle);
            *reason_code = TWS_REASON_INVALID_LENGTH;
            return TCP_NW_HANDLE_CONNECTION_LOST;
        }
        slot->frame_length = length;
        slot->bytes_to_read = static_cast<uint16_t>(length - TCP_NW_HANDLE_LENGTH_FIELD_SIZE);
    }

    ea_status status = tcp_nw_handle_read_piece(slot, slot->bytes_to_read, &received, reason_code, logger);
    if (status != EA_SUCCESS)
        return status;
    slot->bytes_to_read = static_cast<uint16_t>(slot->bytes_to_read - received);
    if (slot->bytes_to_read != 0)
        return EA_VALID;

    message *msg = message_create(slot->frame_length, NORMAL_MESSAGE);
    if (msg == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "message creation failed.");
        return EA_ERROR;
    }
    memcpy(msg->data, slot->receive_buffer, slot->frame_length);
    *receive_sequence += 1;
    msg->sequence_number = *receive_sequence;
    msg->workstation_network_handle = slot->network_handle;
    tcp_nw_handle_binary_log(slot, msg, EA_REQUEST_LOG, 0, 1, 0, logger);

    memset(slot->receive_buffer, 0, slot->frame_length);
    slot->receive_position = slot->receive_buffer;
    slot->bytes_to_read = 0;
    slot->frame_length = 0;
    slot->frame_start_tick = 0;
    slot->header_tick = 0;
    slot->received_count += 1;
    *out = msg;
    return EA_SUCCESS;
}

static int32_t tcp_nw_handle_pending(const tcp_nw_handle *slot)
{
    return static_cast<int32_t>(queue_get_count(slot->send_queue)) + (slot->bytes_left != 0 ? 1 : 0);
}

// Writes the connection's next send sequence number into bytes 2 to 5 of a frame, as far
// as the frame reaches (a frame shorter than 6 bytes carries only part of it).
static void tcp_nw_handle_put_sequence(uint8_t *frame, uint16_t length, int32_t sequence)
{
    uint8_t bytes[4];
    put_i32_be(bytes, 0, sequence);
    for (uint16_t i = 0; i < 4 && TCP_NW_HANDLE_SEQUENCE_OFFSET + i < length; ++i)
        frame[TCP_NW_HANDLE_SEQUENCE_OFFSET + i] = bytes[i];
}

// Packs records from the head of the send queue into a new batch. 0 or 10000.
static ea_status tcp_nw_handle_pack(tcp_nw_handle *slot, queue *notifications, logger_object *logger)
{
    slot->batch_length = 0;
    memset(slot->send_buffer, 0, sizeof(slot->send_buffer));
    slot->send_position = slot->send_buffer;
    while (slot->batch_record_count < TCP_NW_HANDLE_BATCH_RECORDS)
    {
        message *msg = static_cast<message *>(queue_remove_head(slot->send_queue));
        if (msg == nullptr)
            break;
        if (msg->tag == SECONDARY_JOURNAL_DOWNLOAD_REQUEST)
        {
            EA_LOG(
                logger, EA_LEVEL_EVENT,
                "Received a SECONDARY_JOURNAL_DOWNLOAD message for USER [%ld] for tws_nw_handle[%d], tws index[%u] over link index [%u] sequence number[%lu] with reason from TH SESSION Module",
                static_cast<long>(msg->user_id), msg->workstation_network_handle, msg->workstation_index,
                msg->link_index, static_cast<unsigned long>(msg->sequence_number));
            if (notifications == nullptr || queue_append(notifications, msg) != EA_SUCCESS)
            {
                EA_LOG(
                    logger, EA_LEVEL_SYSTEM_ERROR,
                    "Append failed for handle [%d], SECONDARY_JOURNAL_DOWNLOAD_REQUESTsequence number [%lu]",
                    slot->network_handle, static_cast<unsigned long>(msg->sequence_number));
                message_destroy(msg);
                return EA_ERROR;
            }
            EA_LOG(
                logger, EA_LEVEL_EVENT,
                "Sending SECONDARY_JOURNAL_DOWNLOAD message to tws_session_module for USER [%ld] having tws_nw_handle[%d], tws index[%u] over link index [%u] sequence number[%lu] with reason from TH SESSION Module",
                static_cast<long>(msg->user_id), msg->workstation_network_handle, msg->workstation_index,
                msg->link_index, static_cast<unsigned long>(msg->sequence_number));
            continue;
        }
        // A record longer than a batch can hold would otherwise wait at the head of the
        // queue for ever and hold back everything queued behind it.
        if (msg->data_length < TCP_NW_HANDLE_LENGTH_FIELD_SIZE || msg->data_length > TCP_NW_HANDLE_MAX_FRAME)
        {
            EA_LOG(logger, EA_LEVEL_BUSINESS_ERROR,
                   "Invalid message length [%d] for handle [%d]  and tws index [%u].So discarding message",
                   msg->data_length, slot->network_handle, msg->workstation_index);
            message_destroy(msg);
            continue;
        }
        if (slot->batch_length + msg->data_length >= TCP_NW_HANDLE_BUFFER_SIZE)
        {
            if (queue_prepend(slot->send_queue, msg) != EA_SUCCESS)
            {
                EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR,
                       "Queue prepend failed for handle [%d] and link index [%u], sequence number [%lu]",
                       slot->network_handle, slot->link_index,
                       static_cast<unsigned long>(msg->sequence_number));
                message_destroy(msg);
                return EA_ERROR;
            }
            break;
        }
        int32_t next = static_cast<int32_t>(static_cast<uint32_t>(slot->send_sequence_no) + 1u);
        if (next < 0)
        {
            next = 1;
            EA_LOG(logger, EA_LEVEL_EVENT, "ALERT: send_sequence_no wraparound for client nw_handle [%d]",
                   slot->network_handle);
        }
        slot->send_sequence_no = next;
        tcp_nw_handle_put_sequence(msg->data, msg->data_length, next);
        slot->last_sent_message[slot->batch_record_count++] = msg;
        memcpy(slot->send_buffer + slot->batch_length, msg->data, msg->data_length);
        slot->batch_length = static_cast<uint16_t>(slot->batch_length + msg->data_length);
    }
    if (slot->batch_length != 0)
    {
        slot->bytes_left = slot->batch_length;
        slot->batch_tick = ea_get_tick_count();
    }
    return EA_SUCCESS;
}

static ea_status tcp_nw_handle_send_pending(tcp_nw_handle *slot, int32_t *pending_count, queue *notifications,
                                            logger_object *logger)
{
    if (slot->client_sockfd == EA_INVALID_SOCKET)
    {
        EA_LOG_HELD(tcp_nw_handle_held(slot), logger, EA_LEVEL_ACTIVITY,
                    "client_sockfd is already Invalid_Socket for handle [%d]", slot->network_handle);
        *pending_count = tcp_nw_handle_pending(slot);
        return EA_VALID;
    }
    for (;;)
    {
        if (slot->bytes_left == 0)
        {
            if (tcp_nw_handle_pack(slot, notifications, logger) != EA_SUCCESS)
            {
                *pending_count = tcp_nw_handle_pending(slot);
                return EA_ERROR;
            }
            if (slot->bytes_left == 0)
                break;
        }
        while (slot->bytes_left != 0)
        {
            int32_t n = ea_send(slot->client_sockfd, slot->send_position, slot->bytes_left);
            if (n < 0)
            {
                int32_t error = ea_socket_last_error();
                if (error == EA_WSAEWOULDBLOCK)
                {
                    EA_LOG_HELD(tcp_nw_handle_held(slot), logger, EA_LEVEL_DEBUG,
                                "ea_send() would have blocked for handle [%d]", slot->network_handle);
                    *pending_count = tcp_nw_handle_pending(slot);
                    return EA_VALID;
                }
                if (error == EA_WSAEINTR)
                    continue;
                slot->send_position = slot->send_buffer;
                slot->bytes_left = slot->batch_length;
                *pending_count = tcp_nw_handle_pending(slot);
                EA_LOG_HELD(tcp_nw_handle_held(slot), logger, EA_LEVEL_EVENT,
                            "Error in ea_send: [%d] - [%s] for handle [%d]", error,
                            ea_socket_error_text(error), slot->network_handle);
                return TCP_NW_HANDLE_CONNECTION_LOST;
            }
            slot->send_position += n;
            slot->bytes_left = static_cast<uint16_t>(slot->bytes_left - n);
        }
        for (uint16_t i = 0; i < slot->batch_record_count; ++i)
        {
            message *sent = slot->last_sent_message[i];
            tcp_nw_handle_binary_log(slot, sent, EA_RESPONSE_LOG, slot->batch_tick, sent->stamp_value,
                                     slot->batch_record_count, logger);
            message_destroy(sent);
            slot->last_sent_message[i] = nullptr;
        }
        slot->batch_record_count = 0;
        if (queue_get_count(slot->send_queue) == 0)
            break;
    }
    *pending_count = tcp_nw_handle_pending(slot);
    return EA_SUCCESS;
}

ea_status tcp_nw_handle_send(tcp_nw_handle *slot, int32_t operation, message *msg, int32_t *pending_count,
                             queue *notifications, logger_object *logger)
{
    if (operation == TCP_NW_HANDLE_QUEUE_MESSAGE)
    {
        if (msg == nullptr)
        {
            EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "current_msg is NULL");
            return tcp_nw_handle_send_pending(slot, pending_count, notifications, logger);
        }
        // An invitation overtakes everything already queued for the connection.
        ea_status status = msg->tag == CLIENT_INVITATION_MESSAGE ? queue_prepend(slot->send_queue, msg)
                                                                 : queue_append(slot->send_queue, msg);
        if (status != EA_SUCCESS)
        {
            EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR,
                   "Append/prepend failed for handle [%d], sequence number [%lu]", slot->network_handle,
                   static_cast<unsigned long>(msg->sequence_number));
            message_destroy(msg);
            return EA_ERROR;
        }
        *pending_count = static_cast<int32_t>(queue_get_count(slot->send_queue)) + slot->batch_record_count;
        return EA_VALID;
    }
    if (operation == TCP_NW_HANDLE_SEND_PENDING)
        return tcp_nw_handle_send_pending(slot, pending_count, notifications, logger);
    EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "Control must not reach here");
    if (msg != nullptr)
        message_destroy(msg);
    return EA_ERROR;
}
