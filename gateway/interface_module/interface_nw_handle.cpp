// One console connection: packet assembly on the receive side and the non-blocking send
// buffer with its queue on the send side. Only the interface thread calls these.
#include "gateway/interface_module/interface_nw_handle.h"

#include <cstdlib>
#include <cstring>

#include "common/ea_time.h"
#include "gateway/interface_module/kova_console_packet.h"
#include "gateway/runtime/ea_socket.h"
#include "gateway/runtime/logger.h"
#include "gateway/runtime/message.h"
#include "gateway/runtime/queue.h"
#include "gateway/runtime/wire.h"
#include "gateway/shared/log_hold.h"

namespace
{
// Reads into the receive buffer what is still missing of the length field or the packet.
// 0 when all of it arrived, 203 when not (yet), INTERFACE_CONNECTION_FAILED.
ea_status read_missing(interface_nw_handle *entry, logger_object *logger)
{
    int32_t received = ea_recv(entry->socket, entry->recv_buffer + entry->recv_position, entry->recv_missing);
    if (received < 0)
    {
        int32_t error = ea_socket_last_error();
        if (error == EA_WSAEWOULDBLOCK || error == EA_WSAEINTR)
        {
            EA_LOG_HELD(entry->held, logger, EA_LEVEL_DEBUG,
                        "ea_recv would have blocked or was interrupted: [%d] - [%s] for handle [%d]", error,
                        ea_socket_error_text(error), entry->network_handle);
            return EA_VALID;
        }
        EA_LOG_HELD(entry->held, logger, EA_LEVEL_BUSINESS_ERROR,
                    "Error in ea_recv: [%d] - [%s] for handle [%d]", error, ea_socket_error_text(error),
                    entry->network_handle);
        return INTERFACE_CONNECTION_FAILED;
    }
    if (received == 0)
    {
        EA_LOG_HELD(entry->held, logger, EA_LEVEL_EVENT,
                    "ea_recv failed due to connection reset by client for handle [%d]",
                    entry->network_handle);
        return INTERFACE_CONNECTION_FAILED;
    }
    entry->recv_position = static_cast<uint16_t>(entry->recv_position + received);
    entry->recv_missing = static_cast<uint16_t>(entry->recv_missing - received);
    return entry->recv_missing == 0 ? EA_SUCCESS : EA_VALID;
}

void reset_receive(interface_nw_handle *entry)
{
    entry->expected_length = 0;
    entry->recv_position = 0;
    entry->recv_missing = 2;
}

uint32_t count_pending(const interface_nw_handle *entry)
{
    return queue_get_count(entry->outgoing) + (entry->send_remaining > 0 ? 1u : 0u);
}

void load_send_buffer(interface_nw_handle *entry, message *record)
{
    memcpy(entry->send_buffer, record->data, record->data_length);
    entry->send_length = record->data_length;
    entry->send_position = 0;
    entry->send_remaining = record->data_length;
    entry->send_start = ea_get_tick_count();
    message_destroy(record);
}

bool valid_send_length(uint32_t length)
{
    return length >= INTERFACE_SEND_MIN_LENGTH && length <= INTERFACE_SEND_MAX_LENGTH;
}

// A send error that says the console is gone: nothing sent later can reach it.
bool peer_has_gone(int32_t error)
{
    return error == EA_WSAECONNRESET || error == EA_WSAECONNABORTED || error == EA_WSAENOTCONN ||
           error == EA_WSAESHUTDOWN || error == EA_WSAENETRESET;
}

bool is_console_event(const message *record)
{
    return record->data_length >= KOVA_LOG_MESSAGE_LENGTH &&
           get_u16_le(record->data, KOVA_OFFSET_TRANSCODE) == KOVA_LOG_MESSAGE;
}

bool is_drop_notice(const message *record)
{
    return is_console_event(record) &&
           get_u16_le(record->data, KOVA_LOG_OFFSET_REASON_CODE) == KOVA_REASON_EVENTS_DROPPED;
}

// Makes room for one more record in a full queue by dropping the oldest queued one (the
// packet in the send buffer is already on its way and stays). A notice of dropped events
// that is itself dropped hands its count on to the next notice, so that the console still
// hears of every event it missed.
void drop_oldest(interface_nw_handle *entry, logger_object *logger)
{
    message *oldest = static_cast<message *>(queue_remove_head(entry->outgoing));
    if (oldest == nullptr)
        return;
    const uint32_t before = entry->dropped;
    if (is_drop_notice(oldest))
    {
        entry->dropped += get_u32_le(oldest->data, KOVA_LOG_OFFSET_EXTRA_INFO);
        if (before == 0)
            entry->dropped_box_id = get_u16_le(oldest->data, KOVA_LOG_OFFSET_BOX_ID);
    }
    else
    {
        if (is_console_event(oldest))
            entry->dropped_box_id = get_u16_le(oldest->data, KOVA_LOG_OFFSET_BOX_ID);
        entry->dropped++;
    }
    message_destroy(oldest);
    if (before == 0)
        EA_LOG_HELD(entry->held, logger, EA_LEVEL_BUSINESS_ERROR,
                    "Dropping the oldest messages queued for handle [%d] as [%u] messages are waiting",
                    entry->network_handle, static_cast<unsigned>(INTERFACE_OUTGOING_LIMIT));
}

// Once a console that lost records has taken half of its queue, one console event tells it
// how many: reason KOVA_REASON_EVENTS_DROPPED, the count as its extra info.
ea_status queue_drop_notice(interface_nw_handle *entry, logger_object *logger)
{
    if (entry->dropped == 0 || queue_get_count(entry->outgoing) > INTERFACE_OUTGOING_LIMIT / 2)
        return EA_SUCCESS;
    message *notice = message_create(KOVA_LOG_MESSAGE_LENGTH, KOVA_MESSAGE);
    if (notice == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "message creation failed.");
        return EA_ERROR;
    }
    int64_t seconds = 0;
    uint16_t milliseconds = 0;
    ea_ftime(&seconds, &milliseconds);
    memset(notice->data, 0, KOVA_LOG_MESSAGE_LENGTH);
    put_u16_le(notice->data, KOVA_OFFSET_LENGTH, KOVA_LOG_MESSAGE_LENGTH);
    put_u16_le(notice->data, KOVA_OFFSET_TRANSCODE, KOVA_LOG_MESSAGE);
    put_u32_le(notice->data, KOVA_OFFSET_TIME, static_cast<uint32_t>(seconds));
    put_u16_le(notice->data, KOVA_LOG_OFFSET_BOX_ID, entry->dropped_box_id);
    put_u16_le(notice->data, KOVA_LOG_OFFSET_REASON_CODE, KOVA_REASON_EVENTS_DROPPED);
    put_u32_le(notice->data, KOVA_LOG_OFFSET_EXTRA_INFO, entry->dropped);
    notice->workstation_network_handle = entry->network_handle;
    if (queue_append(entry->outgoing, notice) != EA_SUCCESS)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "queue append failed");
        message_destroy(notice);
        return EA_ERROR;
    }
    EA_LOG_HELD(entry->held, logger, EA_LEVEL_EVENT,
                "Queued the notice of [%u] dropped messages for handle [%d]",
                static_cast<unsigned>(entry->dropped), entry->network_handle);
    entry->dropped = 0;
    return EA_SUCCESS;
}

// Sends the buffer and then the queued records until the socket would block.
ea_status send_loop(interface_nw_handle *entry, logger_object *logger)
{
    if (entry->socket == EA_INVALID_SOCKET)
    {
        EA_LOG_HELD(entry->held, logger, EA_LEVEL_BUSINESS_ERROR,
                    "client_sockfd is already Invalid_Socket for handle [%d]", entry->network_handle);
        return EA_VALID;
    }
    for (;;)
    {
        if (entry->send_remaining == 0)
        {
            message *next = static_cast<message *>(queue_remove_head(entry->outgoing));
            if (next == nullptr)
                return EA_SUCCESS;
            if (!valid_send_length(next->data_length))
            {
                EA_LOG_HELD(entry->held, logger, EA_LEVEL_BUSINESS_ERROR,
                            "Invalid message length [%d] for handle [%d]. So discarding message",
                            next->data_length, entry->network_handle);
                message_destroy(next);
                return EA_VALID;
            }
            load_send_buffer(entry, next);
        }
        int32_t sent =
            ea_send(entry->socket, entry->send_buffer + entry->send_position, entry->send_remaining);
        if (sent < 0)
        {
            int32_t error = ea_socket_last_error();
            if (error == EA_WSAEINTR)
                continue;
            if (error == EA_WSAEWOULDBLOCK)
            {
                EA_LOG_HELD(entry->held, logger, EA_LEVEL_DEBUG,
                            "ea_send() would have blocked for handle [%d]", entry->network_handle);
                return EA_VALID;
            }
            // The rest of the packet stays where it is: starting it again from its first byte
            // would put a second copy of the bytes already taken on the stream.
            EA_LOG_HELD(entry->held, logger, EA_LEVEL_BUSINESS_ERROR,
                        "Error in ea_send: [%d] - [%s] for handle [%d]", error, ea_socket_error_text(error),
                        entry->network_handle);
            return peer_has_gone(error) ? INTERFACE_CONNECTION_RESET : INTERFACE_CONNECTION_FAILED;
        }
        entry->send_position = static_cast<uint16_t>(entry->send_position + sent);
        entry->send_remaining = static_cast<uint16_t>(entry->send_remaining - sent);
        if (entry->send_remaining == 0)
        {
            entry->send_start = 0;
            entry->send_length = 0;
            entry->send_position = 0;
        }
    }
}
} // namespace

interface_nw_handle *interface_nw_handle_create(uint32_t count, logger_object *logger)
{
    interface_nw_handle *entries =
        static_cast<interface_nw_handle *>(calloc(count, sizeof(interface_nw_handle)));
    if (entries == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "calloc failed");
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "interface_nw_handle_list array creation %s", "failed");
        return nullptr;
    }
    for (uint32_t i = 0; i < count; ++i)
    {
        entries[i].outgoing = queue_create();
        if (entries[i].outgoing == nullptr)
        {
            EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "queue_create failed");
            interface_nw_handle_destroy(entries, i);
            EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "interface_nw_handle_list array creation %s", "failed");
            return nullptr;
        }
        interface_nw_handle_clear(&entries[i]);
    }
    EA_LOG(logger, EA_LEVEL_ACTIVITY, "interface_nw_handle_list array creation %s", "successful");
    return entries;
}

void interface_nw_handle_clear(interface_nw_handle *entry)
{
    queue *outgoing = entry->outgoing;
    memset(entry, 0, sizeof(*entry));
    entry->outgoing = outgoing;
    entry->network_handle = -1;
    entry->socket = EA_INVALID_SOCKET;
    reset_receive(entry);
}

ea_status interface_nw_handle_recv(interface_nw_handle *entry, message **out, uint32_t *receive_counter,
                                   logger_object *logger)
{
    *out = nullptr;
    if (entry->socket == EA_INVALID_SOCKET)
    {
        EA_LOG_HELD(entry->held, logger, EA_LEVEL_BUSINESS_ERROR,
                    "client_sockfd is already Invalid_Socket for handle [%d]", entry->network_handle);
        return EA_VALID;
    }
    if (entry->expected_length == 0)
    {
        ea_status status = read_missing(entry, logger);
        if (status == EA_VALID && entry->recv_position == 1)
            EA_LOG_HELD(entry->held, logger, EA_LEVEL_DEBUG, "Length field not read yet");
        if (status != EA_SUCCESS)
            return status;
        entry->expected_length = get_u16_le(entry->recv_buffer, 0);
        if (entry->expected_length < INTERFACE_RECV_MIN_LENGTH ||
            entry->expected_length > INTERFACE_RECV_MAX_LENGTH)
        {
            EA_LOG_HELD(entry->held, logger, EA_LEVEL_BUSINESS_ERROR,
                        "Invalid message length received [%d] from Socket [%d], handle [%d]",
                        entry->expected_length, entry->socket, entry->network_handle);
            reset_receive(entry);
            return INTERFACE_CONNECTION_FAILED;
        }
        entry->recv_missing = static_cast<uint16_t>(entry->expected_length - 2);
    }
    ea_status status = read_missing(entry, logger);
    if (status != EA_SUCCESS)
        return status;

    message *record = message_create(entry->expected_length, KOVA_MESSAGE);
    if (record == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "message creation failed.");
        return EA_ERROR;
    }
    memcpy(record->data, entry->recv_buffer, entry->expected_length);
    *receive_counter += 1;
    record->sequence_number = *receive_counter;
    record->workstation_network_handle = entry->network_handle;
    reset_receive(entry);
    entry->received_count++;
    *out = record;
    return EA_SUCCESS;
}

ea_status interface_nw_handle_send(interface_nw_handle *entry, int32_t mode, message *record,
                                   uint32_t *pending_out, logger_object *logger)
{
    ea_status status = EA_SUCCESS;
    if (mode == INTERFACE_SEND_NEW_PACKET && record != nullptr)
    {
        if (count_pending(entry) == 0)
        {
            if (!valid_send_length(record->data_length))
            {
                EA_LOG_HELD(
                    entry->held, logger, EA_LEVEL_BUSINESS_ERROR,
                    "Invalid message length [%d] for handle [%d],sequence number [%lu]. So discarding message",
                    record->data_length, entry->network_handle,
                    static_cast<unsigned long>(record->sequence_number));
                message_destroy(record);
                *pending_out = entry->pending_count = count_pending(entry);
                return EA_VALID;
            }
            load_send_buffer(entry, record);
        }
        else
        {
            if (queue_get_count(entry->outgoing) >= INTERFACE_OUTGOING_LIMIT)
                drop_oldest(entry, logger);
            if (queue_append(entry->outgoing, record) != EA_SUCCESS)
            {
                EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR,
                       "Append/prepend failed for handle [%d], sequence number [%lu]", entry->network_handle,
                       static_cast<unsigned long>(record->sequence_number));
                message_destroy(record);
                *pending_out = entry->pending_count = count_pending(entry);
                return EA_ERROR;
            }
        }
    }
    status = send_loop(entry, logger);
    if (queue_drop_notice(entry, logger) != EA_SUCCESS)
    {
        *pending_out = entry->pending_count = count_pending(entry);
        return EA_ERROR;
    }
    // A notice queued after the socket took everything else leaves with the next flush.
    *pending_out = entry->pending_count = count_pending(entry);
    if (status == EA_SUCCESS && entry->pending_count > 0)
        status = EA_VALID;
    return status;
}

void interface_nw_handle_destroy(interface_nw_handle *entries, uint32_t count)
{
    if (entries == nullptr)
        return;
    for (uint32_t i = 0; i < count; ++i)
        ea_destroy_message_queue(entries[i].outgoing);
    free(entries);
}
