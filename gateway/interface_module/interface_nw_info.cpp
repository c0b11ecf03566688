// A console listener: admission (one console at a time), network handles, the read set
// and round-robin reading, sending to one console or all, the send time-out for a console
// that stops reading, and the drop at once of a console that reset or closed its end.
//
// The read set is a network event that the clients' sockets are associated with; waiting
// on it stands for the select over the set, and each client whose socket recorded a read
// or close event is marked ready until it has been read. Admission needs no wait: the
// listening socket is non-blocking and an accept that would block means nobody is there.
#include "gateway/interface_module/interface_nw_info.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "common/ea_time.h"
#include "gateway/interface_module/interface_nw_handle.h"
#include "gateway/runtime/ea_socket.h"
#include "gateway/runtime/ea_sync_info.h"
#include "gateway/runtime/logger.h"
#include "gateway/runtime/message.h"
#include "gateway/runtime/queue.h"
#include "gateway/shared/log_hold.h"

namespace
{
const char k_loopback[] = "127.0.0.1";

// An accepted socket waiting to be added, with what is held about it.
struct interface_waiting
{
    int32_t socket;
    log_hold_entry *held;
};

// A console that was never added: its socket closes and what was held about it ends.
void drop_waiting(interface_waiting *waiting)
{
    ea_closesocket(waiting->socket);
    log_hold_ended(waiting->held, 0);
    free(waiting);
}

// Takes the entry's socket out of the read set and closes it.
void close_client_socket(interface_nw_info *listener, interface_nw_handle *entry)
{
    if (entry->socket == EA_INVALID_SOCKET)
        return;
    if (ea_sync_info_network_event_select(listener->read_event, entry->socket, 0) == 0 &&
        listener->read_set_count > 0)
        listener->read_set_count--;
    ea_closesocket(entry->socket);
    entry->socket = EA_INVALID_SOCKET;
    entry->ready = 0;
}

void drain_queue(queue *q)
{
    while (queue_get_count(q) > 0)
        message_destroy(static_cast<message *>(queue_remove_head(q)));
}

// The consoles in use whose peers have not ended their connections.
uint32_t clients_staying(interface_nw_info *listener)
{
    uint32_t staying = 0;
    for (uint32_t i = 0; i < listener->nclients; ++i)
    {
        const int32_t socket = listener->client_list[i].socket;
        if (socket != EA_INVALID_SOCKET && ea_socket_peer_ended(socket) == 0)
            ++staying;
    }
    return staying;
}

// Keeps the entries in use ascending by network handle (a new handle after a wrap-around
// can be lower than the others).
void sort_clients(interface_nw_info *listener)
{
    interface_nw_handle *list = listener->client_list;
    for (uint32_t i = 1; i < listener->nclients; ++i)
    {
        for (uint32_t j = i; j > 0 && list[j - 1].network_handle > list[j].network_handle; --j)
        {
            interface_nw_handle moved = list[j];
            list[j] = list[j - 1];
            list[j - 1] = moved;
        }
    }
}

// Sends to one console. A console that reset or closed its connection is dropped at once
// (its entry is deleted, so the later entries move down by one): everything sent to it
// afterwards would only fail again.
ea_status send_to_entry(interface_nw_info *listener, interface_nw_handle *entry, int32_t mode,
                        message *record, logger_object *logger)
{
    uint32_t before = entry->pending_count;
    uint32_t after = before;
    ea_status status = interface_nw_handle_send(entry, mode, record, &after, logger);
    listener->total_pending = listener->total_pending - before + after;
    if (status != INTERFACE_CONNECTION_RESET)
        return status;
    EA_LOG_HELD(entry->held, logger, EA_LEVEL_BUSINESS_ERROR,
                "Disconnecting the client with nw handle [%d] as it has reset or closed the connection",
                entry->network_handle);
    close_client_socket(listener, entry);
    if (interface_nw_info_del_client(listener, static_cast<int32_t>(entry - listener->client_list), logger) !=
        EA_SUCCESS)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "interface_nw_info_del_client failed");
        return EA_ERROR;
    }
    return INTERFACE_CONNECTION_RESET;
}
} // namespace

interface_nw_info *interface_nw_info_create(uint32_t client_limit, uint16_t port, logger_object *logger)
{
    interface_nw_info *listener = static_cast<interface_nw_info *>(calloc(1, sizeof(interface_nw_info)));
    if (listener == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "calloc failed");
        return nullptr;
    }
    strncpy(listener->bind_address, k_loopback, sizeof(listener->bind_address) - 1);
    listener->port = port;
    listener->listen_socket = EA_INVALID_SOCKET;
    listener->client_limit = client_limit;
    listener->next_handle = 1;
    listener->round_robin = -1;
    listener->send_timeout = INTERFACE_SEND_TIMEOUT_SECONDS;
    listener->last_added_handle = -1;
    listener->held_lines = log_hold_create(0, nullptr, LOG_HOLD_CONSOLES);
    listener->waiting_sockets = queue_create();
    if (listener->waiting_sockets == nullptr || listener->held_lines == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "queue_create failed");
        if (listener->waiting_sockets != nullptr)
            queue_destroy(listener->waiting_sockets);
        log_hold_destroy(listener->held_lines);
        free(listener);
        return nullptr;
    }
    listener->read_event = ea_sync_info_create(EA_SYNC_NETWORK_EVENT, 0);
    if (listener->read_event == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "ea_sync_info_create failed");
        queue_destroy(listener->waiting_sockets);
        log_hold_destroy(listener->held_lines);
        free(listener);
        return nullptr;
    }
    listener->client_list = interface_nw_handle_create(client_limit, logger);
    if (listener->client_list == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "interface_nw_handle_create failed");
        ea_sync_info_destroy(listener->read_event);
        queue_destroy(listener->waiting_sockets);
        log_hold_destroy(listener->held_lines);
        free(listener);
        return nullptr;
    }
    if (interface_nw_info_start(listener, logger) != EA_SUCCESS)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "interface_nw_info_start returned EA_ERROR");
        interface_nw_handle_destroy(listener->client_list, client_limit);
        ea_sync_info_destroy(listener->read_event);
        queue_destroy(listener->waiting_sockets);
        log_hold_destroy(listener->held_lines);
        free(listener);
        return nullptr;
    }
    return listener;
}

ea_status interface_nw_info_start(interface_nw_info *listener, logger_object *logger)
{
    char text[512];
    uint32_t length = sizeof(text);
    if (ea_socket_init(text, &length) != EA_SUCCESS)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "%s", text);
        return EA_ERROR;
    }
    int32_t sock = ea_socket(EA_AF_INET, EA_SOCK_STREAM, EA_IPPROTO_TCP);
    if (sock < 0)
    {
        int32_t error = ea_socket_last_error();
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "Error in ea_socket: [%d] - [%s]", error,
               ea_socket_error_text(error));
        ea_socket_cleanup();
        return EA_ERROR;
    }
    const char *failed = nullptr;
    if (ea_setsockopt(sock, EA_SOCKOPT_NONBLOCKING) != 0)
        failed = "ea_setsockopt";
    else if (ea_bind(sock, listener->bind_address, listener->port) != 0)
        failed = "ea_bind";
    else if (ea_listen(sock, INTERFACE_LISTEN_BACKLOG) != 0)
        failed = "ea_listen";
    if (failed != nullptr)
    {
        int32_t error = ea_socket_last_error();
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "Error in %s: [%d] - [%s]", failed, error,
               ea_socket_error_text(error));
        ea_closesocket(sock);
        ea_socket_cleanup();
        return EA_ERROR;
    }
    listener->listen_socket = sock;
    EA_LOG(logger, EA_LEVEL_EVENT, "Listening on [%s] port [%u]", listener->bind_address,
           static_cast<unsigned>(listener->port));
    return EA_SUCCESS;
}

ea_status interface_nw_info_get_client(interface_nw_info *listener, uint32_t *waiting_count, uint32_t wait_ms,
                                       logger_object *logger)
{
    (void)wait_ms; // the listening socket is non-blocking: the accept itself is the check
    char peer_ip[INTERFACE_BIND_ADDRESS_SIZE] = "";
    uint16_t peer_port = 0;
    int32_t sock = ea_accept(listener->listen_socket, peer_ip, sizeof(peer_ip), &peer_port);
    if (sock < 0)
    {
        int32_t error = ea_socket_last_error();
        *waiting_count = queue_get_count(listener->waiting_sockets);
        if (error == EA_WSAEWOULDBLOCK)
            return EA_VALID;
        // A console that went away before it was taken is no failure of the listener.
        if (error == EA_WSAECONNABORTED || error == EA_WSAECONNRESET)
        {
            EA_LOG(logger, EA_LEVEL_BUSINESS_ERROR, "Error in ea_accept: [%d] - [%s]", error,
                   ea_socket_error_text(error));
            return EA_VALID;
        }
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "Error in ea_accept: [%d] - [%s]", error,
               ea_socket_error_text(error));
        return EA_ERROR;
    }
    interface_waiting *entry = static_cast<interface_waiting *>(calloc(1, sizeof(interface_waiting)));
    if (entry == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "calloc failed");
        ea_closesocket(sock);
        return EA_ERROR;
    }
    entry->socket = sock;
    entry->held = log_hold_entry_create(listener->held_lines, ea_inet_addr(peer_ip));
    EA_LOG_HELD(entry->held, logger, EA_LEVEL_EVENT, "Incoming client connection from socket [%d], IP [%s]",
                sock, peer_ip);
    uint32_t waiting = queue_get_count(listener->waiting_sockets);
    bool has_place = listener->nclients + waiting < listener->client_limit;
    if (!has_place && clients_staying(listener) + waiting < listener->client_limit)
    {
        // A console in use has closed its end, and what it sent before is still to be read:
        // its place is this one's once it is read to its end and let go.
        EA_LOG_HELD(entry->held, logger, EA_LEVEL_EVENT,
                    "Connection from socket [%d] waits for the place of a console that closed its connection",
                    sock);
        has_place = true;
    }
    if (has_place)
    {
        if (queue_append(listener->waiting_sockets, entry) != EA_SUCCESS)
        {
            EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "queue_append failed");
            drop_waiting(entry);
            return EA_ERROR;
        }
        *waiting_count = waiting + 1;
        return EA_SUCCESS;
    }
    EA_LOG_HELD(entry->held, logger, EA_LEVEL_BUSINESS_ERROR,
                "Rejected connection from socket [%d] as max connections [%d] was exceeded", sock,
                static_cast<int>(listener->client_limit));
    drop_waiting(entry);
    *waiting_count = waiting;
    return EA_VALID;
}

static ea_status add_console(interface_nw_info *listener, interface_waiting *waiting, int32_t *handle_out,
                             logger_object *logger);

ea_status interface_nw_info_process_incoming_clients(interface_nw_info *listener, uint32_t add,
                                                     const message *version_check, logger_object *logger)
{
    if (add == 0)
        return EA_SUCCESS;
    bool added = false;
    while (queue_get_count(listener->waiting_sockets) > 0)
    {
        // A console that waits for the place of one that closed is added once that one is gone.
        if (listener->nclients >= listener->client_limit)
            return added ? EA_SUCCESS : EA_VALID;
        interface_waiting *waiting =
            static_cast<interface_waiting *>(queue_remove_head(listener->waiting_sockets));
        int32_t handle = -1;
        ea_status status = add_console(listener, waiting, &handle, logger);
        free(waiting);
        if (status != EA_SUCCESS)
            return status;
        message *copy = message_copy(version_check);
        if (copy == nullptr)
        {
            EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "message copy failed");
            return EA_ERROR;
        }
        copy->workstation_network_handle = handle;
        if (interface_nw_info_send_mesg(listener, copy, logger) == EA_ERROR)
        {
            EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "interface_nw_info_send_mesg failed");
            return EA_ERROR;
        }
        added = true;
    }
    EA_LOG(logger, EA_LEVEL_ACTIVITY, "All new client sockets added");
    return EA_SUCCESS;
}

// Adds a waiting console; what was held about it moves to its entry, or ends with it when it
// cannot be added.
static ea_status add_console(interface_nw_info *listener, interface_waiting *waiting, int32_t *handle_out,
                             logger_object *logger)
{
    const int32_t socket = waiting->socket;
    log_hold_entry *held = waiting->held;
    *handle_out = -1;
    const int32_t options[] = {EA_SOCKOPT_NONBLOCKING, EA_SOCKOPT_TCP_NODELAY, EA_SOCKOPT_KEEPALIVE};
    for (int32_t option : options)
    {
        if (ea_setsockopt(socket, option) != 0)
        {
            int32_t error = ea_socket_last_error();
            EA_LOG_HELD(held, logger, EA_LEVEL_BUSINESS_ERROR, "Error in ea_setsockopt: [%d] - [%s]", error,
                        ea_socket_error_text(error));
            ea_closesocket(socket);
            log_hold_ended(held, 0);
            return EA_VALID;
        }
    }
    if (listener->nclients >= listener->client_limit)
    {
        EA_LOG_HELD(held, logger, EA_LEVEL_BUSINESS_ERROR,
                    "Rejected connection from socket [%d] as max connections [%d] was exceeded", socket,
                    static_cast<int>(listener->client_limit));
        ea_closesocket(socket);
        log_hold_ended(held, 0);
        return EA_VALID;
    }
    interface_nw_handle *entry = &listener->client_list[listener->nclients];
    interface_nw_handle_clear(entry);
    entry->socket = socket;
    if (listener->read_set_count < INTERFACE_READ_SET_SIZE)
    {
        if (ea_sync_info_network_event_select(listener->read_event, socket, EA_FD_READ | EA_FD_CLOSE) != 0)
        {
            int32_t error = ea_socket_last_error();
            EA_LOG_HELD(held, logger, EA_LEVEL_BUSINESS_ERROR,
                        "Error in ea_sync_info_network_event_select: [%d] - [%s]", error,
                        ea_socket_error_text(error));
            ea_closesocket(socket);
            interface_nw_handle_clear(entry);
            log_hold_ended(held, 0);
            return EA_VALID;
        }
        listener->read_set_count++;
    }
    int32_t handle = -1;
    if (interface_nw_info_get_new_handle(listener, &handle, logger) != EA_SUCCESS)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "interface_nw_info_get_new_handle failed");
        close_client_socket(listener, entry);
        interface_nw_handle_clear(entry);
        log_hold_ended(held, 0);
        return EA_VALID;
    }
    entry->network_handle = handle;
    entry->held = held;
    entry->admitted_tick = ea_get_tick_count();
    listener->last_added_handle = handle;
    EA_LOG_HELD(held, logger, EA_LEVEL_EVENT, "Added new network handle [%d] for socket [%d].", handle,
                socket);
    listener->nclients++;
    sort_clients(listener);
    *handle_out = handle;
    return EA_SUCCESS;
}

ea_status interface_nw_info_add_new_client(interface_nw_info *listener, int32_t socket, int32_t *handle_out,
                                           logger_object *logger)
{
    interface_waiting waiting = {socket, nullptr};
    return add_console(listener, &waiting, handle_out, logger);
}

ea_status interface_nw_info_get_new_handle(interface_nw_info *listener, int32_t *handle_out,
                                           logger_object *logger)
{
    int32_t candidate = listener->next_handle;
    if (candidate <= 0)
    {
        candidate = 1;
        listener->wrapped = 1;
        EA_LOG(logger, EA_LEVEL_EVENT, "Wrap_around occurred");
    }
    if (listener->wrapped)
    {
        for (int searches = 0;; ++searches)
        {
            if (searches == 2)
            {
                EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "Search Count exceeded 2. No nw_handle available");
                return EA_ERROR;
            }
            bool matched = false;
            bool wrapped_again = false;
            for (uint32_t i = 0; i < listener->nclients; ++i)
            {
                int32_t used = listener->client_list[i].network_handle;
                if (used == candidate)
                {
                    matched = true;
                    if (candidate == INT32_MAX)
                    {
                        candidate = 1;
                        wrapped_again = true;
                        EA_LOG(logger, EA_LEVEL_EVENT, "Wrap_around occurred twice");
                        break;
                    }
                    candidate++;
                }
                else if (matched)
                {
                    break;
                }
            }
            if (!wrapped_again)
                break;
        }
    }
    *handle_out = candidate;
    // The next handle after INT32_MAX is 0, which the next call turns into a wrap-around.
    listener->next_handle = candidate == INT32_MAX ? 0 : candidate + 1;
    return EA_SUCCESS;
}

ea_status interface_nw_info_get_interface_nw_handle_index(interface_nw_info *listener, int32_t network_handle,
                                                          int32_t *index_out, logger_object *logger)
{
    int32_t low = 0;
    int32_t high = static_cast<int32_t>(listener->nclients) - 1;
    while (low <= high)
    {
        int32_t middle = low + (high - low) / 2;
        int32_t handle = listener->client_list[middle].network_handle;
        if (handle == network_handle)
        {
            *index_out = middle;
            return EA_SUCCESS;
        }
        if (handle < network_handle)
            low = middle + 1;
        else
            high = middle - 1;
    }
    EA_LOG(logger, EA_LEVEL_BUSINESS_ERROR, "tws_nw_handle [%d] not found in interface_nw_info->client_list",
           network_handle);
    *index_out = -1;
    return EA_NOT_FOUND;
}

int32_t interface_nw_info_isclient_ready(interface_nw_info *listener, int32_t index, logger_object *logger)
{
    interface_nw_handle *entry = &listener->client_list[index];
    if (entry->socket == EA_INVALID_SOCKET)
    {
        EA_LOG(logger, EA_LEVEL_ACTIVITY, "Existing socket is INVALID");
        return 0;
    }
    return entry->ready ? 1 : 0;
}

ea_status interface_nw_info_init_recv_list(interface_nw_info *listener, uint32_t wait_ms,
                                           uint32_t *ready_count, logger_object *logger)
{
    *ready_count = 0;
    for (uint32_t i = 0; i < listener->nclients; ++i)
        listener->client_list[i].ready = 0;
    if (listener->read_set_count == 0)
    {
        ea_usleep(wait_ms * 1000);
        return EA_SUCCESS;
    }
    int32_t index = -1;
    ea_status status = ea_sync_info_wait_for_multiple_netwrok_event_objects(&listener->read_event, 1, false,
                                                                            wait_ms, &index);
    if (status == EA_WAIT_TIME_OUT)
        return EA_SUCCESS;
    if (status != EA_SUCCESS)
    {
        int32_t error = ea_socket_last_error();
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "Error in ea_select: [%d] - [%s]", error,
               ea_socket_error_text(error));
        return EA_ERROR;
    }
    for (uint32_t i = 0; i < listener->nclients; ++i)
    {
        interface_nw_handle *entry = &listener->client_list[i];
        if (entry->socket == EA_INVALID_SOCKET)
            continue;
        ea_network_events events = {};
        // Reading the record also clears it, so that the event does not stay signalled. A
        // socket whose record cannot be read is tried anyway: the read tells what is wrong.
        if (ea_enum_network_events(entry->socket, &events) != 0 ||
            (events.network_events & (EA_FD_READ | EA_FD_CLOSE)) != 0)
        {
            entry->ready = 1;
            (*ready_count)++;
        }
    }
    return EA_SUCCESS;
}

ea_status interface_nw_info_recv_mesg(interface_nw_info *listener, queue *input, uint32_t most_packets,
                                      uint32_t wait_ms, logger_object *logger)
{
    uint32_t queued = 0;
    bool selected = false;
    int32_t i = listener->round_robin + 1;
    for (;;)
    {
        if (i >= static_cast<int32_t>(listener->nclients))
        {
            listener->round_robin = static_cast<int32_t>(listener->nclients) - 1;
            if (selected)
                return queued > 0 ? EA_SUCCESS : EA_VALID;
            uint32_t ready = 0;
            if (interface_nw_info_init_recv_list(listener, wait_ms, &ready, logger) != EA_SUCCESS)
            {
                EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "interface_nw_info_init_recv_list failed");
                return EA_ERROR;
            }
            selected = true;
            if (ready == 0)
                return queued > 0 ? EA_SUCCESS : EA_VALID;
            i = 0;
            continue;
        }
        if (!interface_nw_info_isclient_ready(listener, i, logger))
        {
            ++i;
            continue;
        }
        interface_nw_handle *entry = &listener->client_list[i];
        message *record = nullptr;
        ea_status status = interface_nw_handle_recv(entry, &record, &listener->receive_counter, logger);
        if (status == EA_SUCCESS)
        {
            entry->ready = 0;
            // A console that speaks is one: what was held about it is written.
            log_hold_signed_on(entry->held);
            entry->held = nullptr;
            if (queue_append(input, record) != EA_SUCCESS)
            {
                EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "queue_append failed");
                message_destroy(record);
                return EA_ERROR;
            }
            if (++queued >= most_packets)
            {
                listener->round_robin = i;
                return EA_SUCCESS;
            }
            ++i;
        }
        else if (status == INTERFACE_CONNECTION_FAILED)
        {
            close_client_socket(listener, entry);
            if (interface_nw_info_del_client(listener, i, logger) != EA_SUCCESS)
            {
                EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "interface_nw_info_del_client failed");
                return EA_ERROR;
            }
            // The later entries moved down: the same index is looked at again.
        }
        else if (status == EA_VALID)
        {
            entry->ready = 0;
            ++i;
        }
        else
        {
            EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "interface_nw_handle_recv failed");
            return EA_ERROR;
        }
    }
}

ea_status interface_nw_info_send_mesg(interface_nw_info *listener, message *record, logger_object *logger)
{
    if (record->workstation_network_handle == INTERFACE_ALL_CLIENTS)
    {
        uint32_t i = 0;
        while (i < listener->nclients)
        {
            interface_nw_handle *entry = &listener->client_list[i];
            message *copy = message_copy(record);
            if (copy == nullptr)
            {
                EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "message copy failed.");
                message_destroy(record);
                return EA_ERROR;
            }
            copy->workstation_network_handle = entry->network_handle;
            int32_t handle = entry->network_handle;
            ea_status status = send_to_entry(listener, entry, INTERFACE_SEND_NEW_PACKET, copy, logger);
            if (status == EA_ERROR)
            {
                EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR,
                       "interface_nw_handle_send failed for handle [%d], sequence number [%lu]", handle,
                       static_cast<unsigned long>(record->sequence_number));
                message_destroy(record);
                return EA_ERROR;
            }
            if (status != INTERFACE_CONNECTION_RESET)
                ++i; // a dropped console's place is taken by the next one
        }
        message_destroy(record);
        return EA_SUCCESS;
    }
    int32_t index = -1;
    if (interface_nw_info_get_interface_nw_handle_index(listener, record->workstation_network_handle, &index,
                                                        logger) != EA_SUCCESS)
    {
        EA_LOG(logger, EA_LEVEL_BUSINESS_ERROR, "tws_nw_handle [%d] not found, sequence number [%lu]",
               record->workstation_network_handle, static_cast<unsigned long>(record->sequence_number));
        message_destroy(record);
        return EA_NOT_FOUND;
    }
    interface_nw_handle *entry = &listener->client_list[index];
    int32_t handle = entry->network_handle;
    unsigned long sequence = record->sequence_number;
    ea_status status = send_to_entry(listener, entry, INTERFACE_SEND_NEW_PACKET, record, logger);
    if (status == EA_ERROR)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR,
               "interface_nw_handle_send failed for handle [%d] sequence number [%lu]", handle, sequence);
        return EA_ERROR;
    }
    return status == INTERFACE_CONNECTION_FAILED || status == INTERFACE_CONNECTION_RESET ? EA_VALID : status;
}

ea_status interface_nw_info_send_pending(interface_nw_info *listener, logger_object *logger)
{
    if (listener->total_pending == 0)
        return EA_SUCCESS;
    uint32_t i = 0;
    while (i < listener->nclients)
    {
        interface_nw_handle *entry = &listener->client_list[i];
        if (entry->pending_count == 0)
        {
            ++i;
            continue;
        }
        ea_status status = send_to_entry(listener, entry, INTERFACE_SEND_FLUSH, nullptr, logger);
        if (status == EA_ERROR)
        {
            EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "interface_nw_handle_send failed");
            return EA_ERROR;
        }
        if (status == INTERFACE_CONNECTION_RESET)
            continue; // the entry is gone; the next one moved into its place
        if (entry->send_remaining > 0 && entry->send_start != 0)
        {
            uint32_t elapsed_ms = ea_get_tick_difference(ea_get_tick_count(), entry->send_start);
            if (elapsed_ms / 1000 >= listener->send_timeout)
            {
                EA_LOG(
                    logger, EA_LEVEL_BUSINESS_ERROR,
                    "Disconnecting the client with nw handle [%d] as the client has not accepted the message for [%d]seconds. Send timeout [%u]",
                    entry->network_handle, static_cast<int>(elapsed_ms / 1000), listener->send_timeout);
                if (interface_nw_info_disconnect_client(listener, entry->network_handle, logger) ==
                    EA_SUCCESS)
                    continue; // the entry is gone; the next one moved into its place
                EA_LOG(logger, EA_LEVEL_BUSINESS_ERROR, "interface_nw_info_disconnect_client failed");
            }
        }
        ++i;
    }
    if (listener->total_pending == 0)
    {
        EA_LOG(logger, EA_LEVEL_DEBUG, "All pending messages sent");
        return EA_SUCCESS;
    }
    EA_LOG(logger, EA_LEVEL_DEBUG, "Some messages still pending");
    return EA_VALID;
}

ea_status interface_nw_info_disconnect_client(interface_nw_info *listener, int32_t network_handle,
                                              logger_object *logger)
{
    int32_t index = -1;
    if (interface_nw_info_get_interface_nw_handle_index(listener, network_handle, &index, logger) !=
        EA_SUCCESS)
        return EA_NOT_FOUND;
    close_client_socket(listener, &listener->client_list[index]);
    if (interface_nw_info_del_client(listener, index, logger) != EA_SUCCESS)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "interface_nw_info_del_client failed");
        return EA_ERROR;
    }
    return EA_SUCCESS;
}

ea_status interface_nw_info_del_client(interface_nw_info *listener, int32_t index, logger_object *logger)
{
    if (index < 0 || index >= static_cast<int32_t>(listener->nclients))
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "Invalid index [%d]. interface_nw_info->nclients is [%d]",
               index, static_cast<int>(listener->nclients));
        return EA_ERROR;
    }
    interface_nw_handle *list = listener->client_list;
    log_hold_ended(list[index].held, 0);
    list[index].held = nullptr;
    listener->total_pending -= list[index].pending_count;
    queue *freed = list[index].outgoing;
    drain_queue(freed);
    uint32_t last = listener->nclients - 1;
    for (uint32_t i = static_cast<uint32_t>(index); i < last; ++i)
        list[i] = list[i + 1];
    list[last].outgoing = freed;
    interface_nw_handle_clear(&list[last]);
    listener->nclients--;
    if (listener->round_robin >= index)
        listener->round_robin--;
    return EA_SUCCESS;
}

void interface_nw_info_watch_consoles(interface_nw_info *listener, const char *routine, logger_object *logger)
{
    const uint32_t now = ea_get_tick_count();
    for (uint32_t i = 0; i < listener->nclients; ++i)
    {
        interface_nw_handle *entry = &listener->client_list[i];
        if (entry->held != nullptr &&
            ea_get_tick_difference(now, entry->admitted_tick) >= INTERFACE_CONSOLE_SETTLED_MS)
        {
            log_hold_signed_on(entry->held);
            entry->held = nullptr;
        }
    }
    log_hold_pass(listener->held_lines, routine, logger);
}

bool interface_nw_info_console_of(interface_nw_info *listener, int32_t network_handle, log_hold_entry **held)
{
    *held = nullptr;
    for (uint32_t i = 0; i < listener->nclients; ++i)
    {
        if (listener->client_list[i].network_handle == network_handle)
        {
            *held = listener->client_list[i].held;
            return true;
        }
    }
    return false;
}

void interface_nw_info_stop_lines(interface_nw_info *listener, const char *routine, logger_object *logger)
{
    listener->held_lines->routine = routine;
    listener->held_lines->logger = logger;
    for (uint32_t i = 0; i < listener->nclients; ++i)
    {
        // A console connected at the stop is one that stayed.
        log_hold_signed_on(listener->client_list[i].held);
        listener->client_list[i].held = nullptr;
    }
    const uint32_t waiting = queue_get_count(listener->waiting_sockets);
    for (uint32_t i = 0; i < waiting; ++i)
    {
        interface_waiting *entry = static_cast<interface_waiting *>(queue_peek(listener->waiting_sockets, i));
        log_hold_ended(entry->held, 0);
        entry->held = nullptr;
    }
    log_hold_stop(listener->held_lines, routine, logger);
}

void interface_nw_info_destroy(interface_nw_info *listener)
{
    if (listener == nullptr)
        return;
    if (listener->listen_socket != EA_INVALID_SOCKET)
        ea_closesocket(listener->listen_socket);
    for (uint32_t i = 0; i < listener->nclients; ++i)
    {
        close_client_socket(listener, &listener->client_list[i]);
        log_hold_discard(listener->client_list[i].held);
        listener->client_list[i].held = nullptr;
    }
    while (queue_get_count(listener->waiting_sockets) > 0)
    {
        interface_waiting *waiting =
            static_cast<interface_waiting *>(queue_remove_head(listener->waiting_sockets));
        ea_closesocket(waiting->socket);
        log_hold_discard(waiting->held);
        free(waiting);
    }
    queue_destroy(listener->waiting_sockets);
    log_hold_destroy(listener->held_lines);
    interface_nw_handle_destroy(listener->client_list, listener->client_limit);
    ea_sync_info_destroy(listener->read_event);
    if (listener->listen_socket != EA_INVALID_SOCKET && ea_socket_cleanup() != EA_SUCCESS)
    {
        int32_t error = ea_socket_last_error();
        EA_LOG(nullptr, EA_LEVEL_SYSTEM_ERROR, "Error in ea_socket_cleanup: [%d] - [%s]\n", error,
               ea_socket_error_text(error));
    }
    free(listener);
}
