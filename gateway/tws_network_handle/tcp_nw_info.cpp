// The workstation server: listener, admission, the connection table with its in-use list,
// network handles, the reading cycle, flow control by invitations and the driving of every
// connection's send side. One wait covers the listener, all connection sockets (one shared
// event) and the input queue; a reading cycle takes at most one frame per connection per
// pass and resumes at the next connection, so a fast workstation cannot starve the others.
//
// Connections that have not signed on (the host has not accepted a sign-on on them) hold a
// slot only while they use it (no sign-on within 30 s, a frame never finished: the slot is
// given back); who gets a place when the table is full and when a first frame goes on is
// the admission policy's to say (tcp_nw_admission.h), this file acts on it with the
// sockets; what the thread writes about such connections is held until they sign on
// (log_hold.h), and their console events are folded per reason code and user.
#include "gateway/tws_network_handle/tcp_nw_info.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "common/config_file.h"
#include "common/ea_time.h"
#include "gateway/business_processing_layer/vrx_record.h"
#include "gateway/message_validators/vrx_network_header.h"
#include "gateway/runtime/ea_socket.h"
#include "gateway/runtime/ea_sync_info.h"
#include "gateway/runtime/logger.h"
#include "gateway/runtime/message.h"
#include "gateway/runtime/queue.h"
#include "gateway/runtime/shared_queue.h"
#include "gateway/runtime/wire.h"
#include "gateway/shared/config_value.h"

static tcp_nw_pending *tcp_nw_info_pending_at(const tcp_nw_info *server, uint32_t position)
{
    return static_cast<tcp_nw_pending *>(queue_peek(server->pending_sockets, position));
}

// Closes a socket that never got a slot and gives its place back; what was held about it
// ends with the reason.
static void tcp_nw_info_drop_socket(tcp_nw_info *server, tcp_nw_pending *pending, uint16_t reason_code)
{
    ea_closesocket(pending->socket);
    log_hold_ended(pending->held, reason_code);
    pending->held = nullptr;
    if (pending->place != TCP_NW_INFO_NO_PLACE)
        tcp_nw_admission_ended(server->admission, pending->place, pending->serial, ea_get_tick_count());
}

static void tcp_nw_info_drop_pending(tcp_nw_info *server, tcp_nw_pending *pending, uint16_t reason_code)
{
    tcp_nw_info_drop_socket(server, pending, reason_code);
    free(pending);
}

static uint16_t tcp_nw_info_pending_socket_count(const tcp_nw_info *server)
{
    return static_cast<uint16_t>(queue_get_count(server->pending_sockets));
}

// False when a key holds a value that cannot be used (start-up then fails).
static bool tcp_nw_info_read_config(tcp_nw_info *server, const char *config_file, logger_object *logger)
{
    if (config_file_read_string(config_file, "MACHINE_LAN_IP", server->listen_address,
                                sizeof(server->listen_address)) != EA_SUCCESS)
    {
        EA_LOG(logger, EA_LEVEL_EVENT, "[%s] Parameter not found in config file [%s]", "MACHINE_LAN_IP",
               config_file);
        strcpy(server->listen_address, "127.0.0.1");
    }
    else
    {
        EA_LOG(logger, EA_LEVEL_EVENT, "[%s] Parameter found in config file [%s]", "MACHINE_LAN_IP",
               config_file);
    }

    if (!tcp_nw_info_read_port(config_file, &server->port, logger))
        return false;

    int32_t count = 0;
    if (config_file_read_int(config_file, "FLOW_CONTROL_COUNT", &count) != EA_SUCCESS || count < 1)
        count = 1;
    server->invitation_count = count;

    int32_t limit = 0;
    if (config_file_read_int(config_file, "MAX_CLIENT_PENDING_MESG_COUNT", &limit) != EA_SUCCESS || limit < 1)
        limit = TCP_NW_INFO_DEFAULT_PENDING_LIMIT;
    else
        EA_LOG(logger, EA_LEVEL_EVENT, "[%s] Parameter found in config file [%s]",
               "MAX_CLIENT_PENDING_MESG_COUNT", config_file);
    server->pending_limit = limit;
    return true;
}

bool tcp_nw_info_read_port(const char *config_file, uint16_t *port_out, logger_object *logger)
{
    int32_t port = 0;
    bool found = config_file_read_int(config_file, "PORT_NUMBER", &port) == EA_SUCCESS;
    if (found && port > 65535)
    {
        // Kept in 16 bits, such a value would silently name another port.
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR,
               "[%s] value [%d] in config file [%s] is not a valid port number", "PORT_NUMBER", port,
               config_file);
        return false;
    }
    if (!found || port < 1025)
    {
        EA_LOG(logger, EA_LEVEL_EVENT,
               "Valid [%s] Parameter not found in config file [%s]. Using [%u] as default", "PORT_NUMBER",
               config_file, static_cast<unsigned>(TCP_NW_INFO_DEFAULT_PORT));
        port = TCP_NW_INFO_DEFAULT_PORT;
    }
    else
    {
        EA_LOG(logger, EA_LEVEL_EVENT, "[%s] Parameter found in config file [%s]", "PORT_NUMBER",
               config_file);
    }
    *port_out = static_cast<uint16_t>(port);
    return true;
}

tcp_nw_info *tcp_nw_info_create(const char *config_file, uint16_t max_clients,
                                ea_flag *allow_invitations_flag, ea_flag *recovery_queue_overflow,
                                ea_flag *abnormal_state_flag, ea_flag *user_logoff_in_progress,
                                ea_flag *session_recovery_flag, logger_object *logger)
{
    tcp_nw_info *server = static_cast<tcp_nw_info *>(calloc(1, sizeof(tcp_nw_info)));
    if (server == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "calloc failed");
        return nullptr;
    }
    server->listen_sockfd = EA_INVALID_SOCKET;
    server->resume_position = TCP_NW_INFO_NO_RESUME;
    server->next_handle = 1;
    server->max_clients = max_clients;
    server->allow_invitations_flag = allow_invitations_flag;
    server->recovery_queue_overflow = recovery_queue_overflow;
    server->abnormal_state_flag = abnormal_state_flag;
    server->user_logoff_in_progress = user_logoff_in_progress;
    server->session_recovery_flag = session_recovery_flag;
    if (!tcp_nw_info_read_config(server, config_file, logger))
    {
        tcp_nw_info_destroy(server);
        return nullptr;
    }

    server->pending_sockets = queue_create();
    if (server->pending_sockets == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "queue_create failed");
        tcp_nw_info_destroy(server);
        return nullptr;
    }
    server->tcp_nw_handle_list = tcp_nw_handle_create(max_clients, logger);
    if (server->tcp_nw_handle_list == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "tcp_nw_handle_create failed");
        tcp_nw_info_destroy(server);
        return nullptr;
    }
    server->book = connection_book_create(max_clients);
    server->held_lines = server->book != nullptr ? log_hold_create(max_clients, server->book) : nullptr;
    if (server->held_lines == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "Calloc failed for the connection book");
        tcp_nw_info_destroy(server);
        return nullptr;
    }
    for (uint16_t i = 0; i < max_clients; ++i)
        server->tcp_nw_handle_list[i].held_lines = server->held_lines;
    server->valid_client_list =
        static_cast<tcp_nw_handle **>(calloc(max_clients == 0 ? 1 : max_clients, sizeof(tcp_nw_handle *)));
    if (server->valid_client_list == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "Calloc failed for valid client list");
        tcp_nw_info_destroy(server);
        return nullptr;
    }
    server->admission = tcp_nw_admission_create(max_clients);
    server->event_folds = tcp_nw_event_folds_create(
        static_cast<uint32_t>(max_clients) * TCP_NW_EVENT_FOLDS_PER_PLACE + TCP_NW_EVENT_FOLDS_SPARE);
    if (server->admission == nullptr || server->event_folds == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "Calloc failed for the admission of connections");
        tcp_nw_info_destroy(server);
        return nullptr;
    }
    server->listener_event = ea_sync_info_create(EA_SYNC_NETWORK_EVENT, 0);
    server->client_event = ea_sync_info_create(EA_SYNC_NETWORK_EVENT, 0);
    server->continue_event = ea_sync_info_create(EA_SYNC_NETWORK_EVENT, 0);
    server->quiet_event = ea_sync_info_create(EA_SYNC_NETWORK_EVENT, 0);
    if (server->listener_event == nullptr || server->client_event == nullptr ||
        server->continue_event == nullptr || server->quiet_event == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "ea_sync_info_create failed");
        tcp_nw_info_destroy(server);
        return nullptr;
    }
    if (ea_sync_info_set_network_event(server->continue_event) != EA_SUCCESS)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "ea_sync_info_set_network_event failed");
        tcp_nw_info_destroy(server);
        return nullptr;
    }
    if (tcp_nw_info_start(server, logger) != EA_SUCCESS)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "tcp_nw_info_start returned EA_ERROR");
        tcp_nw_info_destroy(server);
        return nullptr;
    }
    return server;
}

static ea_status tcp_nw_info_start_failed(tcp_nw_info *server, const char *what, logger_object *logger)
{
    int32_t error = ea_socket_last_error();
    EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "Error in %s: [%d] - [%s]", what, error,
           ea_socket_error_text(error));
    if (server->listen_sockfd != EA_INVALID_SOCKET)
        ea_closesocket(server->listen_sockfd);
    server->listen_sockfd = EA_INVALID_SOCKET;
    return EA_ERROR;
}

ea_status tcp_nw_info_start(tcp_nw_info *server, logger_object *logger)
{
    char text[512];
    uint32_t length = sizeof(text);
    if (ea_socket_init(text, &length) != EA_SUCCESS)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "%s", text);
        return EA_ERROR;
    }
    server->socket_library_started = 1;
    if (ea_inet_addr(server->listen_address) == 0xFFFFFFFFu)
    {
        int32_t error = ea_socket_last_error();
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "Error in ea_inet_addr due to invalid IP Address: [%d] - [%s]",
               error, ea_socket_error_text(error));
        strcpy(server->listen_address, "127.0.0.1");
    }
    server->listen_sockfd = ea_socket(EA_AF_INET, EA_SOCK_STREAM, EA_IPPROTO_TCP);
    if (server->listen_sockfd == EA_INVALID_SOCKET)
        return tcp_nw_info_start_failed(server, "ea_socket", logger);
    // A gateway restarted by its supervisor must bind again while the connections of the
    // previous run still sit in TIME_WAIT.
    if (ea_setsockopt(server->listen_sockfd, EA_SOCKOPT_REUSEADDR) != 0 ||
        ea_setsockopt(server->listen_sockfd, EA_SOCKOPT_NONBLOCKING) != 0)
        return tcp_nw_info_start_failed(server, "ea_setsockopt", logger);
    if (ea_bind(server->listen_sockfd, server->listen_address, server->port) != 0)
        return tcp_nw_info_start_failed(server, "ea_bind", logger);
    // Past a full queue the kernel drops a connection without a word while its workstation
    // takes it as made and waits for an invitation that never comes: a crowd connecting at
    // once (a start of day) needs room for the whole table.
    const int32_t backlog = server->max_clients > static_cast<int32_t>(TCP_NW_INFO_LISTEN_BACKLOG)
                                ? server->max_clients
                                : static_cast<int32_t>(TCP_NW_INFO_LISTEN_BACKLOG);
    if (ea_listen(server->listen_sockfd, backlog) != 0)
        return tcp_nw_info_start_failed(server, "ea_listen", logger);
    if (ea_sync_info_network_event_select(server->listener_event, server->listen_sockfd, EA_FD_ACCEPT) != 0)
        return tcp_nw_info_start_failed(server, "ea_sync_info_network_event_select", logger);
    return EA_SUCCESS;
}

void tcp_nw_info_destroy(tcp_nw_info *server)
{
    if (server == nullptr)
        return;
    if (server->listen_sockfd != EA_INVALID_SOCKET)
        ea_closesocket(server->listen_sockfd);
    tcp_nw_handle_destroy(server->tcp_nw_handle_list, server->max_clients, nullptr);
    free(server->valid_client_list);
    if (server->pending_sockets != nullptr)
    {
        while (queue_get_count(server->pending_sockets) > 0)
        {
            tcp_nw_pending *pending =
                static_cast<tcp_nw_pending *>(queue_remove_head(server->pending_sockets));
            ea_closesocket(pending->socket);
            log_hold_discard(pending->held);
            free(pending);
        }
        queue_destroy(server->pending_sockets);
    }
    for (uint16_t i = 0; i < server->waiting_count; ++i)
    {
        ea_closesocket(server->waiting[i].socket);
        log_hold_discard(server->waiting[i].held);
    }
    tcp_nw_admission_destroy(server->admission);
    tcp_nw_event_folds_destroy(server->event_folds);
    log_hold_destroy(server->held_lines);
    connection_book_destroy(server->book);
    if (server->client_invitation_message != nullptr)
        message_destroy(server->client_invitation_message);
    if (server->listener_event != nullptr)
        ea_sync_info_destroy(server->listener_event);
    if (server->client_event != nullptr)
        ea_sync_info_destroy(server->client_event);
    if (server->continue_event != nullptr)
        ea_sync_info_destroy(server->continue_event);
    if (server->quiet_event != nullptr)
        ea_sync_info_destroy(server->quiet_event);
    if (server->socket_library_started != 0 && ea_socket_cleanup() != EA_SUCCESS)
    {
        int32_t error = ea_socket_last_error();
        EA_LOG(nullptr, EA_LEVEL_SYSTEM_ERROR, "Error in ea_socket_cleanup: [%d] - [%s]\n", error,
               ea_socket_error_text(error));
    }
    free(server);
}

ea_status tcp_nw_info_get_elements(tcp_nw_info *server, uint32_t receive_batch_limit, shared_queue **inputs,
                                   uint32_t input_count, uint32_t wait_time_ms, queue *data_queue,
                                   queue *disconnect_queue, uint16_t *pending_sockets, uint32_t *refused,
                                   queue **locals, logger_object *logger)
{
    enum
    {
        LISTENER_ENTRY = 0,
        CLIENT_ENTRY = 1,
        FIRST_QUEUE_ENTRY = 2,
    };
    uint32_t count = FIRST_QUEUE_ENTRY + input_count;
    if (count > EA_MAX_WAIT_OBJECTS)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR,
               "Number of events [%d] are greater than MAXIMUM WAIT OBJECTS : [%d]", static_cast<int>(count),
               static_cast<int>(EA_MAX_WAIT_OBJECTS));
        return EA_ERROR;
    }
    ea_sync_info *entries[EA_MAX_WAIT_OBJECTS];
    // While as many newcomers wait for a place as may, later ones wait in the listen queue.
    entries[LISTENER_ENTRY] =
        server->waiting_count < TCP_NW_INFO_WAITING_NEWCOMERS ? server->listener_event : server->quiet_event;
    bool cycle_unfinished = server->resume_position != TCP_NW_INFO_NO_RESUME &&
                            static_cast<int32_t>(server->resume_position) < server->in_use_count - 1;
    entries[CLIENT_ENTRY] = cycle_unfinished ? server->continue_event : server->client_event;
    for (uint32_t i = 0; i < input_count; ++i)
        entries[FIRST_QUEUE_ENTRY + i] = shared_queue_get_sync_info(inputs[i]);

    bool done = false;
    uint32_t first = 0;
    uint32_t timeout = wait_time_ms;
    while (first < count)
    {
        int32_t index = -1;
        ea_status status = ea_sync_info_wait_for_multiple_netwrok_event_objects(
            entries + first, count - first, false, timeout, &index);
        if (status == EA_WAIT_TIME_OUT)
            break;
        if (status != EA_SUCCESS || index < 0)
        {
            EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR,
                   "ea_sync_info_wait_for_multiple_netwrok_event_objects failed");
            return EA_ERROR;
        }
        uint32_t entry = first + static_cast<uint32_t>(index);
        if (entry == LISTENER_ENTRY)
        {
            ea_status accepted = tcp_nw_info_get_client(server, pending_sockets, logger);
            if (accepted == EA_ERROR)
            {
                EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "tcp_nw_info_get_client failed");
                return EA_ERROR;
            }
            if (accepted == TCP_NW_INFO_REFUSED)
                *refused += 1;
        }
        else if (entry == CLIENT_ENTRY)
        {
            if (entries[CLIENT_ENTRY] == server->client_event &&
                ea_sync_info_reset_network_event(server->client_event) != EA_SUCCESS)
            {
                EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "ea_sync_info_reset_network_event failed.");
                return EA_ERROR;
            }
            if (tcp_nw_info_recv_mesg(server, data_queue, receive_batch_limit, disconnect_queue, logger) ==
                EA_ERROR)
            {
                EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "tcp_nw_info_recv_mesg failed");
                return EA_ERROR;
            }
        }
        else
        {
            uint32_t q = entry - FIRST_QUEUE_ENTRY;
            if (shared_queue_get_elements_no_wait(inputs[q], locals[q]) != EA_SUCCESS)
            {
                EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "shared_queue_get_elements_no_wait failed");
                return EA_ERROR;
            }
        }
        done = true;
        first = entry + 1;
        timeout = 0;
    }
    return done ? EA_SUCCESS : EA_NO_DATA;
}

// Closes a connection that has not signed on so that a newcomer gets its place, which the
// admission policy has given the newcomer already. Only the console hears of it, counted in
// slots_given as one that did not sign on in time.
static void tcp_nw_info_give_place(tcp_nw_info *server, uint16_t place, uint32_t serial,
                                   logger_object *logger)
{
    tcp_nw_handle *slot = &server->tcp_nw_handle_list[place];
    if (slot->network_handle == TCP_NW_HANDLE_FREE || slot->serial != serial)
        return;
    log_hold_entry *held = tcp_nw_handle_held(slot);
    EA_LOG_HELD(
        held, logger, EA_LEVEL_EVENT,
        "Giving the slot of tws nw handle [%d] at tws index [%u] to a new connection, as it has not signed on",
        slot->network_handle, slot->index);
    log_hold_set_reason(held, TWS_REASON_SIGN_ON_TIMEOUT);
    tcp_nw_info_del_client(server, slot->index, logger);
    server->slots_given++;
}

// Puts a socket in its place to wait for the box's verdict; the first of a round asks box
// communication for one (box_notice_due).
static ea_status tcp_nw_info_queue_for_verdict(tcp_nw_info *server, const tcp_nw_pending &newcomer,
                                               logger_object *logger)
{
    tcp_nw_pending *pending = static_cast<tcp_nw_pending *>(malloc(sizeof(tcp_nw_pending)));
    if (pending == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "calloc failed");
        tcp_nw_pending dropped = newcomer;
        tcp_nw_info_drop_socket(server, &dropped, TWS_REASON_MAX_CONNECTIONS);
        return EA_ERROR;
    }
    *pending = newcomer;
    const bool first = queue_get_count(server->pending_sockets) == 0;
    if (queue_append(server->pending_sockets, pending) != EA_SUCCESS)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "queue_append failed");
        tcp_nw_info_drop_pending(server, pending, TWS_REASON_MAX_CONNECTIONS);
        return EA_ERROR;
    }
    if (first)
        server->box_notice_due = 1;
    return EA_SUCCESS;
}

// What the admission policy says of a newcomer, carried out: it waits for the box's verdict in
// a place (a free one, or one given up for it) and 0 is returned; it waits for a place to
// come free (EA_VALID: the caller keeps it waiting); or it is refused and closed (10).
static ea_status tcp_nw_info_seat(tcp_nw_info *server, tcp_nw_pending *newcomer, logger_object *logger)
{
    const uint32_t now = ea_get_tick_count();
    const tcp_nw_arrival arrival =
        tcp_nw_admission_arrive(server->admission, newcomer->address, newcomer->accepted_tick, now);
    switch (arrival.verdict)
    {
    case TCP_NW_ARRIVAL_TAKE:
        tcp_nw_info_give_place(server, arrival.place, arrival.victim_serial, logger);
        [[fallthrough]];
    case TCP_NW_ARRIVAL_PLACE:
        newcomer->place = arrival.place;
        newcomer->serial = arrival.serial;
        return tcp_nw_info_queue_for_verdict(server, *newcomer, logger);
    case TCP_NW_ARRIVAL_WAIT:
        return EA_VALID;
    case TCP_NW_ARRIVAL_REFUSE:
        break;
    }
    EA_LOG_HELD(newcomer->held, logger, EA_LEVEL_EVENT,
                "Rejected connection from socket [%d] as max connections [%d] was exceeded", newcomer->socket,
                server->max_clients);
    tcp_nw_info_drop_socket(server, newcomer, TWS_REASON_MAX_CONNECTIONS);
    return TCP_NW_INFO_REFUSED;
}

// The newcomers waiting for a place, oldest first, asked again: each one seated or refused
// leaves the line. The number refused; EA_ERROR in *status when a queue failed.
static uint32_t tcp_nw_info_seat_waiting(tcp_nw_info *server, ea_status *status, logger_object *logger)
{
    uint32_t refused = 0;
    uint16_t kept = 0;
    *status = EA_SUCCESS;
    for (uint16_t i = 0; i < server->waiting_count; ++i)
    {
        tcp_nw_pending newcomer = server->waiting[i];
        const ea_status seated =
            *status == EA_SUCCESS ? tcp_nw_info_seat(server, &newcomer, logger) : EA_VALID;
        if (seated == EA_VALID)
            server->waiting[kept++] = newcomer;
        else if (seated == TCP_NW_INFO_REFUSED)
            refused++;
        else if (seated == EA_ERROR)
            *status = EA_ERROR;
    }
    server->waiting_count = kept;
    return refused;
}

ea_status tcp_nw_info_get_client(tcp_nw_info *server, uint16_t *pending_sockets, logger_object *logger)
{
    if (ea_sync_info_reset_network_event(server->listener_event) != EA_SUCCESS)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "ea_sync_info_reset_network_event failed");
        return EA_ERROR;
    }
    // The event stays signalled while the listener's recorded accept is unread; reading
    // it here keeps a served accept from waking every later wait.
    ea_network_events events;
    memset(&events, 0, sizeof(events));
    ea_enum_network_events(server->listen_sockfd, &events);
    char peer[TCP_NW_INFO_ADDRESS_SIZE] = "";
    uint16_t peer_port = 0;
    int32_t socket = ea_accept(server->listen_sockfd, peer, sizeof(peer), &peer_port);
    if (socket == EA_INVALID_SOCKET)
    {
        int32_t error = ea_socket_last_error();
        if (error == EA_WSAEWOULDBLOCK)
        {
            EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "ea_accept() would have blocked");
            *pending_sockets = tcp_nw_info_pending_socket_count(server);
            return EA_VALID;
        }
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "Error in ea_accept: [%d] - [%s]", error,
               ea_socket_error_text(error));
        return EA_ERROR;
    }
    tcp_nw_pending newcomer = {};
    newcomer.socket = socket;
    newcomer.address = ea_inet_addr(peer);
    newcomer.accepted_tick = ea_get_tick_count();
    newcomer.place = TCP_NW_INFO_NO_PLACE;
    newcomer.held = log_hold_entry_create(server->held_lines, newcomer.address);
    EA_LOG_HELD(newcomer.held, logger, EA_LEVEL_EVENT, "Incoming client connection from socket [%d], IP [%s]",
                socket, peer);
    ea_status seated = tcp_nw_info_seat(server, &newcomer, logger);
    if (seated == EA_VALID)
    {
        // Room is kept for it: the listener is not served while the line is full.
        server->waiting[server->waiting_count++] = newcomer;
        seated = EA_SUCCESS;
    }
    *pending_sockets = tcp_nw_info_pending_socket_count(server);
    return seated;
}

static const char *tcp_nw_info_send_result_name(ea_status status)
{
    return status == EA_NOT_FOUND ? "Ea_Not_Found" : "Ea_Error";
}

static ea_status tcp_nw_info_add_connection(tcp_nw_info *server, tcp_nw_pending *pending,
                                            int32_t *network_handle, uint16_t *workstation_index,
                                            logger_object *logger);

ea_status tcp_nw_info_process_incoming_clients(tcp_nw_info *server, int32_t operation, message *msg,
                                               queue *notifications, logger_object *logger)
{
    if (operation == TCP_NW_INFO_REFUSE)
    {
        while (queue_get_count(server->pending_sockets) > 0)
            tcp_nw_info_drop_pending(
                server, static_cast<tcp_nw_pending *>(queue_remove_head(server->pending_sockets)),
                TWS_REASON_CONNECTIONS_REJECTED);
        EA_LOG_FOLDED(&server->admission_lines, logger, EA_LEVEL_EVENT, "All new client sockets closed");
        message_destroy(msg);
        return EA_SUCCESS;
    }
    if (operation != TCP_NW_INFO_ADMIT)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "Invalid operation [%d] specified", operation);
        message_destroy(msg);
        return EA_ERROR;
    }
    if (server->client_invitation_message == nullptr)
    {
        server->client_invitation_message = message_copy(msg);
        if (server->client_invitation_message == nullptr)
        {
            EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "message_copy failed");
            message_destroy(msg);
            return EA_ERROR;
        }
    }
    server->client_invitation_message->tag = CLIENT_INVITATION_MESSAGE;

    while (queue_get_count(server->pending_sockets) > 0)
    {
        tcp_nw_pending *pending = static_cast<tcp_nw_pending *>(queue_remove_head(server->pending_sockets));
        int32_t handle = TCP_NW_HANDLE_FREE;
        uint16_t index = 0;
        ea_status added = tcp_nw_info_add_connection(server, pending, &handle, &index, logger);
        if (added == EA_ERROR)
        {
            EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "tcp_nw_info_add_new_client failed");
            tcp_nw_info_drop_pending(server, pending, TWS_REASON_CONNECTION_LOST);
            message_destroy(msg);
            return EA_ERROR;
        }
        if (added != EA_SUCCESS)
        {
            // The socket was closed instead (the peer reset it meanwhile): it is a lost
            // connection like any other, and the console hears of it.
            tcp_nw_info_drop_pending(server, pending, TWS_REASON_CONNECTION_LOST);
            server->lost_at_admission++;
            continue;
        }
        free(pending);
        msg->workstation_network_handle = handle;
        msg->workstation_index = index;
        message *invitation = message_copy(msg);
        if (invitation == nullptr)
        {
            EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "Message allocation failed.");
            message_destroy(msg);
            return EA_ERROR;
        }
        ea_status sent = tcp_nw_info_send_mesg(server, invitation, notifications, logger);
        if (sent != EA_SUCCESS && sent != EA_VALID)
        {
            EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "tcp_nw_info_send_mesg returned %s for Invitation Message",
                   tcp_nw_info_send_result_name(sent));
            message_destroy(msg);
            return EA_ERROR;
        }
    }
    EA_LOG_FOLDED(&server->admission_lines, logger, EA_LEVEL_EVENT, "All new client sockets added");
    message_destroy(msg);
    return EA_SUCCESS;
}

// Gives a waiting socket its slot and handle; what was held about it moves to the slot.
// 203 when it cannot be given them: the caller closes the socket and frees its place.
static ea_status tcp_nw_info_add_connection(tcp_nw_info *server, tcp_nw_pending *pending,
                                            int32_t *network_handle, uint16_t *workstation_index,
                                            logger_object *logger)
{
    const int32_t socket = pending->socket;
    static const int32_t options[] = {EA_SOCKOPT_NONBLOCKING, EA_SOCKOPT_TCP_NODELAY, EA_SOCKOPT_KEEPALIVE};
    for (int32_t option : options)
    {
        if (ea_setsockopt(socket, option) != 0)
        {
            int32_t error = ea_socket_last_error();
            EA_LOG_HELD(pending->held, logger, EA_LEVEL_SYSTEM_ERROR, "Error in ea_setsockopt: [%d] - [%s]",
                        error, ea_socket_error_text(error));
            return EA_VALID;
        }
    }
    if (ea_sync_info_network_event_select(server->client_event, socket, EA_FD_READ | EA_FD_CLOSE) != 0)
    {
        int32_t error = ea_socket_last_error();
        EA_LOG_HELD(pending->held, logger, EA_LEVEL_SYSTEM_ERROR,
                    "Error in ea_sync_info_network_event_select: [%d] - [%s]", error,
                    ea_socket_error_text(error));
        return EA_VALID;
    }
    // The slot is the place the connection was given when it was accepted: the lowest free
    // one then.
    tcp_nw_handle *slot =
        pending->place < server->max_clients ? &server->tcp_nw_handle_list[pending->place] : nullptr;
    if (slot == nullptr || slot->network_handle != TCP_NW_HANDLE_FREE ||
        server->in_use_count >= server->max_clients)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "No free slot remaining for new client.");
        return EA_VALID;
    }
    int32_t handle = TCP_NW_HANDLE_FREE;
    if (tcp_nw_info_get_new_handle(server, &handle, logger) != EA_SUCCESS)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "tcp_nw_info_get_new_handle failed");
        return EA_VALID;
    }
    // The whole slot is cleared, so the connection counts as bound to link 0 until
    // UPDATE_LINK_INDEX names its link.
    tcp_nw_handle_reset(slot);
    slot->client_sockfd = socket;
    slot->network_handle = handle;
    slot->link_index = 0;
    slot->serial = pending->serial;
    slot->peer_address = pending->address;
    tcp_nw_admission_admitted(server->admission, pending->place, pending->serial, ea_get_tick_count());
    // The socket and the place are the slot's now.
    pending->socket = EA_INVALID_SOCKET;
    pending->place = TCP_NW_INFO_NO_PLACE;
    connection_book_opened(server->book, slot->index, handle);
    log_hold_attach(pending->held, slot->index, handle);
    pending->held = nullptr;
    EA_LOG_HELD(tcp_nw_handle_held(slot), logger, EA_LEVEL_EVENT,
                "Added new network handle [%d] for socket [%d] at tws index [%u].", handle, socket,
                slot->index);
    server->valid_client_list[server->in_use_count++] = slot;
    *network_handle = handle;
    *workstation_index = slot->index;
    return EA_SUCCESS;
}

ea_status tcp_nw_info_add_new_client(tcp_nw_info *server, int32_t socket, int32_t *network_handle,
                                     uint16_t *workstation_index, logger_object *logger)
{
    const uint32_t now = ea_get_tick_count();
    tcp_nw_pending pending = {socket, 0, now, TCP_NW_INFO_NO_PLACE, 0, nullptr};
    const tcp_nw_arrival arrival = tcp_nw_admission_arrive(server->admission, 0, now, now);
    if (arrival.verdict == TCP_NW_ARRIVAL_TAKE)
        tcp_nw_info_give_place(server, arrival.place, arrival.victim_serial, logger);
    if (arrival.verdict == TCP_NW_ARRIVAL_PLACE || arrival.verdict == TCP_NW_ARRIVAL_TAKE)
    {
        pending.place = arrival.place;
        pending.serial = arrival.serial;
    }
    const ea_status added =
        tcp_nw_info_add_connection(server, &pending, network_handle, workstation_index, logger);
    if (added != EA_SUCCESS)
        tcp_nw_info_drop_socket(server, &pending, 0);
    return added;
}

static bool tcp_nw_info_handle_in_use(const tcp_nw_info *server, int32_t handle)
{
    for (uint16_t i = 0; i < server->in_use_count; ++i)
    {
        if (server->valid_client_list[i]->network_handle == handle)
            return true;
    }
    return false;
}

ea_status tcp_nw_info_get_new_handle(tcp_nw_info *server, int32_t *network_handle, logger_object *logger)
{
    int32_t h = server->next_handle;
    if (h < 1)
    {
        h = 1;
        server->wrap_around = 1;
        EA_LOG(logger, EA_LEVEL_DEBUG, "Wrap_around occurred");
    }
    int wraps = 0;
    while (server->wrap_around != 0 && tcp_nw_info_handle_in_use(server, h))
    {
        if (h == INT32_MAX)
        {
            if (wraps++ != 0)
            {
                EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "Can not generate new network handle.");
                return EA_ERROR;
            }
            h = 1;
            EA_LOG(logger, EA_LEVEL_DEBUG, "Wrap_around occurred twice");
        }
        else
        {
            ++h;
        }
    }
    *network_handle = h;
    // Past the largest value the counter turns negative, which the next call takes as the wrap.
    server->next_handle = static_cast<int32_t>(static_cast<uint32_t>(h) + 1u);
    return EA_SUCCESS;
}

ea_status tcp_nw_info_get_client_status(tcp_nw_info *server, uint16_t workstation_index,
                                        logger_object *logger)
{
    tcp_nw_handle *slot = &server->tcp_nw_handle_list[workstation_index];
    if (slot->client_sockfd == EA_INVALID_SOCKET)
    {
        EA_LOG(logger, EA_LEVEL_ACTIVITY, "Existing socket is INVALID");
        return EA_VALID;
    }
    ea_network_events events;
    memset(&events, 0, sizeof(events));
    if (ea_enum_network_events(slot->client_sockfd, &events) != 0)
        return EA_VALID;
    if (ea_check_network_event(&events, EA_FD_READ, nullptr) ||
        ea_check_network_event(&events, EA_FD_CLOSE, nullptr))
        return EA_SUCCESS;
    return EA_VALID;
}

// Reports the connection as gone: a CLIENT_DISCONNECTED record for the session layer, and
// the socket closed at once. The slot stays in use until the session layer deletes it.
static ea_status tcp_nw_info_raise_disconnect(tcp_nw_handle *slot, uint16_t reason_code,
                                              queue *disconnect_queue, logger_object *logger)
{
    message *notification = message_create(0, CLIENT_DISCONNECTED);
    if (notification == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "Message creation failed.");
        return EA_ERROR;
    }
    notification->workstation_network_handle = slot->network_handle;
    notification->workstation_index = slot->index;
    notification->reason_code = reason_code;
    notification->peer_address = slot->peer_address;
    log_hold_set_reason(tcp_nw_handle_held(slot), reason_code);
    if (queue_append(disconnect_queue, notification) != EA_SUCCESS)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "queue_append failed for handle [%d]", slot->network_handle);
        message_destroy(notification);
        return EA_ERROR;
    }
    if (slot->client_sockfd != EA_INVALID_SOCKET)
        ea_closesocket(slot->client_sockfd);
    slot->client_sockfd = EA_INVALID_SOCKET;
    return EA_SUCCESS;
}

static ea_status tcp_nw_info_select(tcp_nw_info *server, int32_t socket, int32_t mask, logger_object *logger)
{
    if (ea_sync_info_network_event_select(server->client_event, socket, mask) != 0)
    {
        int32_t error = ea_socket_last_error();
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "Error in ea_sync_info_network_event_select: [%d] - [%s]",
               error, ea_socket_error_text(error));
        return EA_ERROR;
    }
    return EA_SUCCESS;
}

// A lost connection: the session layer hears of it with the reason.
static ea_status tcp_nw_info_lose(tcp_nw_handle *slot, uint16_t reason, queue *disconnect_queue,
                                  logger_object *logger)
{
    if (tcp_nw_info_raise_disconnect(slot, reason, disconnect_queue, logger) != EA_SUCCESS)
        return EA_ERROR;
    EA_LOG_HELD(
        tcp_nw_handle_held(slot), logger, EA_LEVEL_EVENT,
        "Sent CLIENT_DISCONNECTED notification for tws nw handle [%d] and tws index [%u].reason code [%d]",
        slot->network_handle, slot->index, reason);
    return EA_SUCCESS;
}

// Whether the peer of a connection whose first frame waits in the gateway has left.
static bool tcp_nw_info_peer_left(const tcp_nw_handle *slot)
{
    ea_network_events events;
    memset(&events, 0, sizeof(events));
    if (slot->client_sockfd == EA_INVALID_SOCKET || ea_enum_network_events(slot->client_sockfd, &events) != 0)
        return false;
    return ea_check_network_event(&events, EA_FD_CLOSE, nullptr);
}

// The user a first frame signs on as: the user id of a sign-on request, 0 for any other
// frame or one too short to name one. The frame is whole, its network header included.
static uint32_t tcp_nw_info_sign_on_user(const message *msg)
{
    const uint32_t record = VRX_NETWORK_HEADER_SIZE;
    if (msg->data_length < record + VRX_HEADER_SIZE + 4 ||
        get_i16_be(msg->data, record + VRX_INTERNAL_TRANSCODE) != TRANSCODE_SIGN_ON_REQUEST)
        return 0;
    return get_u32_be(msg->data, record + VRX_HEADER_SIZE);
}

// Says why first frames wait: once a spell for each reason, at EVENT (the count of the
// others of the spell follows once a second, tcp_nw_info_report_holds).
static void tcp_nw_info_say_hold(tcp_nw_info *server, uint32_t peer_address, uint32_t user, tcp_nw_hold hold,
                                 logger_object *logger)
{
    if (!log_fold_level_on(logger, EA_LEVEL_EVENT) || !log_fold_admit(&server->hold_lines[hold], 1))
        return;
    char address[TCP_NW_INFO_ADDRESS_SIZE] = "";
    ea_inet_ntoa(peer_address, address, sizeof(address));
    switch (hold)
    {
    case TCP_NW_HOLD_USER_BUDGET:
        EA_LOG(
            logger, EA_LEVEL_EVENT,
            "Sign-ons of user [%u] from IP [%s] wait in the gateway, as sign-ons of the user from the address failed lately",
            user, address);
        break;
    case TCP_NW_HOLD_ADDRESS_BUDGET:
        EA_LOG(
            logger, EA_LEVEL_EVENT,
            "Sign-ons from IP [%s] wait in the gateway, as sign-ons of several users from the address failed lately",
            address);
        break;
    case TCP_NW_HOLD_UNDER_WAY:
        EA_LOG(
            logger, EA_LEVEL_EVENT,
            "Sign-ons from IP [%s] wait in the gateway, as [%u] sign-ons from the address are under way and none of its sign-ons succeeded lately",
            address, static_cast<unsigned>(TCP_NW_ADMISSION_UNDER_WAY_PER_ADDRESS));
        break;
    default:
        EA_LOG(
            logger, EA_LEVEL_EVENT,
            "Sign-ons from IP [%s] wait in the gateway, as sign-ons from addresses none of whose sign-ons succeeded lately failed too often",
            address);
        break;
    }
}

// Delivers a connection's first frame to the session layer, or keeps it in the gateway
// while the admission policy holds it back: then only the connection's close is watched,
// and what it sends next waits in the socket.
static ea_status tcp_nw_info_first_frame(tcp_nw_info *server, tcp_nw_handle *slot, message *msg,
                                         bool *delivered, logger_object *logger)
{
    *delivered = true;
    const tcp_nw_place *place = tcp_nw_admission_place(server->admission, slot->index, slot->serial);
    if (place == nullptr || place->state != TCP_NW_PLACE_ADMITTED)
        return EA_SUCCESS;
    const uint32_t user = tcp_nw_info_sign_on_user(msg);
    const tcp_nw_hold hold =
        tcp_nw_admission_first_frame(server->admission, slot->index, slot->serial, user, ea_get_tick_count());
    if (hold == TCP_NW_HOLD_NONE)
        return EA_SUCCESS;
    *delivered = false;
    slot->parked = msg;
    EA_LOG_HELD(tcp_nw_handle_held(slot), logger, EA_LEVEL_ACTIVITY,
                "The first frame of tws nw handle [%d] waits in the gateway, sequence number [%lu]",
                slot->network_handle, static_cast<unsigned long>(msg->sequence_number));
    tcp_nw_info_say_hold(server, slot->peer_address, user, hold, logger);
    return tcp_nw_info_select(server, slot->client_sockfd, EA_FD_CLOSE, logger);
}

ea_status tcp_nw_info_recv_mesg(tcp_nw_info *server, queue *data_queue, uint32_t receive_batch_limit,
                                queue *disconnect_queue, logger_object *logger)
{
    uint16_t position = static_cast<uint16_t>(server->resume_position + 1);
    if (position >= server->in_use_count)
        position = 0;
    uint32_t frames = 0;
    for (; position < server->in_use_count; ++position)
    {
        tcp_nw_handle *slot = server->valid_client_list[position];
        uint16_t index = slot->index;
        if (slot->parked != nullptr)
        {
            // Only its close is watched while its first frame waits.
            if (tcp_nw_info_peer_left(slot) &&
                tcp_nw_info_lose(slot, TWS_REASON_CONNECTION_LOST, disconnect_queue, logger) != EA_SUCCESS)
                return EA_ERROR;
            continue;
        }
        if (tcp_nw_info_get_client_status(server, index, logger) != EA_SUCCESS)
            continue;

        int32_t socket = slot->client_sockfd;
        message *msg = nullptr;
        uint16_t reason = 0;
        if (tcp_nw_info_select(server, socket, EA_FD_CLOSE, logger) != EA_SUCCESS)
            return EA_ERROR;
        ea_status status = tcp_nw_handle_recv(slot, &msg, &server->receive_sequence, &reason, logger);
        if (tcp_nw_info_select(server, socket, EA_FD_READ | EA_FD_CLOSE, logger) != EA_SUCCESS)
        {
            if (msg != nullptr)
                message_destroy(msg);
            return EA_ERROR;
        }
        if (slot->header_tick != 0 && slot->signed_on == 0)
            tcp_nw_admission_header(server->admission, index, slot->serial, slot->header_tick);

        if (status == EA_SUCCESS)
        {
            msg->workstation_index = index;
            if (slot->received_count == server->invitation_count)
                server->invitations_due = 1;
            if (slot->received_count > server->invitation_count)
            {
                EA_LOG_HELD(
                    tcp_nw_handle_held(slot), logger, EA_LEVEL_BUSINESS_ERROR,
                    "Disconnecting client with tws nw handle [%d] and tws index [%u], as it exceeded the invitation count. So discarding sequence number [%lu]",
                    slot->network_handle, index, static_cast<unsigned long>(msg->sequence_number));
                message_destroy(msg);
                if (tcp_nw_info_raise_disconnect(slot, TWS_REASON_INVITATION_EXCEEDED, disconnect_queue,
                                                 logger) != EA_SUCCESS)
                    return EA_ERROR;
                EA_LOG_HELD(
                    tcp_nw_handle_held(slot), logger, EA_LEVEL_EVENT,
                    "Sent CLIENT_DISCONNECTED notification for tws nw handle [%d] and tws index [%u]. reason code [%d]",
                    slot->network_handle, index, TWS_REASON_INVITATION_EXCEEDED);
                continue;
            }
            msg->peer_address = slot->peer_address;
            bool delivered = true;
            if (slot->signed_on == 0 &&
                tcp_nw_info_first_frame(server, slot, msg, &delivered, logger) != EA_SUCCESS)
                return EA_ERROR;
            if (!delivered)
                continue;
            if (queue_append(data_queue, msg) != EA_SUCCESS)
            {
                EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "queue_append failed");
                message_destroy(msg);
                return EA_ERROR;
            }
            if (++frames >= receive_batch_limit)
            {
                server->resume_position = position;
                return EA_SUCCESS;
            }
        }
        else if (status == TCP_NW_HANDLE_CONNECTION_LOST)
        {
            if (tcp_nw_info_lose(slot, reason, disconnect_queue, logger) != EA_SUCCESS)
                return EA_ERROR;
        }
        else if (status == EA_ERROR)
        {
            EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "tcp_nw_handle_recv failed");
            return EA_ERROR;
        }
    }
    server->resume_position = server->in_use_count;
    return frames > 0 ? EA_SUCCESS : EA_VALID;
}

// The slot a record names, or null (logged) when the index is out of range or the handle
// is not the slot's current one.
static tcp_nw_handle *tcp_nw_info_slot_of(tcp_nw_info *server, const message *msg)
{
    if (msg->workstation_index >= server->max_clients)
        return nullptr;
    tcp_nw_handle *slot = &server->tcp_nw_handle_list[msg->workstation_index];
    if (slot->network_handle == TCP_NW_HANDLE_FREE || slot->network_handle != msg->workstation_network_handle)
        return nullptr;
    return slot;
}

ea_status tcp_nw_info_send_mesg(tcp_nw_info *server, message *msg, queue *notifications,
                                logger_object *logger)
{
    if (msg->workstation_index >= server->max_clients)
    {
        EA_LOG(
            logger, EA_LEVEL_BUSINESS_ERROR,
            "Received message with invalid tws index [%u]. Maximum tws index is [%u]. Hence discarding the message. Sequence number [%lu]",
            msg->workstation_index, server->max_clients, static_cast<unsigned long>(msg->sequence_number));
        message_destroy(msg);
        return EA_VALID;
    }
    tcp_nw_handle *slot = tcp_nw_info_slot_of(server, msg);
    if (slot == nullptr)
    {
        EA_LOG(
            logger, EA_LEVEL_BUSINESS_ERROR,
            "The tws nw handle [%d] in message for tws index [%u] does not match with tws nw handle [%d] in the client list. Discarding message. Sequence number [%lu]",
            msg->workstation_network_handle, msg->workstation_index,
            server->tcp_nw_handle_list[msg->workstation_index].network_handle,
            static_cast<unsigned long>(msg->sequence_number));
        message_destroy(msg);
        return EA_VALID;
    }
    if (msg->tag == CLIENT_INVITATION_MESSAGE)
    {
        EA_LOG_HELD(tcp_nw_handle_held(slot), logger, EA_LEVEL_ACTIVITY,
                    "Sending client invitation for handle [%d] and index [%u]", slot->network_handle,
                    msg->workstation_index);
        slot->received_count = 0;
    }
    server->total_pending -= slot->pending_count;
    ea_status status = tcp_nw_handle_send(slot, TCP_NW_HANDLE_QUEUE_MESSAGE, msg, &slot->pending_count,
                                          notifications, logger);
    server->total_pending += slot->pending_count;
    if (status == EA_ERROR)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "tcp_nw_handle_send return EA_ERROR");
        return EA_ERROR;
    }
    return EA_VALID;
}

ea_status tcp_nw_info_send_pending(tcp_nw_info *server, queue *disconnect_queue, queue *notifications,
                                   logger_object *logger)
{
    if (server->total_pending == 0)
        return EA_SUCCESS;
    for (uint16_t i = 0; i < server->in_use_count; ++i)
    {
        tcp_nw_handle *slot = server->valid_client_list[i];
        if (slot->pending_count <= 0)
            continue;
        server->total_pending -= slot->pending_count;
        ea_status status = tcp_nw_handle_send(slot, TCP_NW_HANDLE_SEND_PENDING, nullptr, &slot->pending_count,
                                              notifications, logger);
        server->total_pending += slot->pending_count;
        if (status == EA_ERROR)
        {
            EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "tcp_nw_handle_send failed");
            return EA_ERROR;
        }
        if (slot->client_sockfd != EA_INVALID_SOCKET && slot->pending_count > server->pending_limit)
        {
            uint16_t index = static_cast<uint16_t>(slot - server->tcp_nw_handle_list);
            EA_LOG(
                logger, EA_LEVEL_EVENT,
                "Disconnecting the client with nw handle [%d] and tws index [%u] as number of pending messages [%d] exceeded the threshold value [%d]",
                slot->network_handle, index, slot->pending_count, server->pending_limit);
            if (tcp_nw_info_raise_disconnect(slot, TWS_REASON_TOO_MANY_PENDING, disconnect_queue, logger) !=
                EA_SUCCESS)
                return EA_ERROR;
        }
    }
    if (server->total_pending == 0)
    {
        EA_LOG(logger, EA_LEVEL_DEBUG, "All pending messages sent");
        return EA_SUCCESS;
    }
    EA_LOG(logger, EA_LEVEL_DEBUG, "Some messages still pending");
    return EA_VALID;
}

// Whether the host link and the gateway can take more traffic from this connection now.
static bool tcp_nw_info_may_invite(const tcp_nw_info *server, const tcp_nw_handle *slot, uint16_t index)
{
    if (slot->link_index == TCP_NW_HANDLE_NO_LINK || slot->client_sockfd == EA_INVALID_SOCKET)
        return false;
    uint16_t link = slot->link_index;
    return ea_flag_get(&server->allow_invitations_flag[link]) == 1 &&
           ea_flag_get(&server->recovery_queue_overflow[link]) == 0 &&
           ea_flag_get(&server->session_recovery_flag[link]) == 0 &&
           ea_flag_get(server->abnormal_state_flag) == 0 &&
           ea_flag_get(&server->user_logoff_in_progress[index]) == 0;
}

ea_status tcp_nw_info_send_pending_invitations(tcp_nw_info *server, queue *notifications,
                                               logger_object *logger)
{
    if (server->invitations_due == 0 || server->client_invitation_message == nullptr)
        return EA_SUCCESS;
    bool stayed_due = false;
    for (uint16_t i = 0; i < server->in_use_count; ++i)
    {
        tcp_nw_handle *slot = server->valid_client_list[i];
        if (slot->received_count != server->invitation_count)
            continue;
        uint16_t index = static_cast<uint16_t>(slot - server->tcp_nw_handle_list);
        if (!tcp_nw_info_may_invite(server, slot, index))
        {
            stayed_due = true;
            continue;
        }
        server->client_invitation_message->workstation_network_handle = slot->network_handle;
        server->client_invitation_message->workstation_index = index;
        message *invitation = message_copy(server->client_invitation_message);
        if (invitation == nullptr)
        {
            EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "Message copy failed.");
            return EA_ERROR;
        }
        ea_status sent = tcp_nw_info_send_mesg(server, invitation, notifications, logger);
        if (sent != EA_SUCCESS && sent != EA_VALID)
        {
            EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "tcp_nw_info_send_mesg returned %s for Invitation Message",
                   tcp_nw_info_send_result_name(sent));
            return EA_ERROR;
        }
        server->invitations_due = 0;
    }
    if (stayed_due)
        server->invitations_due = 1;
    return EA_SUCCESS;
}

// The connection a control record names by slot and handle, or null (logged) when the
// slot is out of range or holds another connection now.
static tcp_nw_handle *tcp_nw_info_addressed_slot(tcp_nw_info *server, const message *msg,
                                                 logger_object *logger)
{
    // Lines about a record that names no current connection go the way of that connection's.
    log_hold_entry *held = log_hold_of_record(server->held_lines, msg);
    if (msg->workstation_index >= server->max_clients)
    {
        EA_LOG_HELD(
            held, logger, EA_LEVEL_EVENT,
            "Received message with invalid tws index [%u]. Maximum tws index is [%u]. Hence ignoring the message.",
            msg->workstation_index, server->max_clients);
        return nullptr;
    }
    tcp_nw_handle *slot = tcp_nw_info_slot_of(server, msg);
    if (slot == nullptr)
        EA_LOG_HELD(
            held, logger, EA_LEVEL_BUSINESS_ERROR,
            "The tws nw handle [%d] in message for tws index [%u] does not match with tws nw handle [%d] in the client list. Ignoring message.",
            msg->workstation_network_handle, msg->workstation_index,
            server->tcp_nw_handle_list[msg->workstation_index].network_handle);
    return slot;
}

// One non-blocking attempt to write what is queued on a connection about to close.
// Journal-download requests met while packing have no one left to serve them.
static void tcp_nw_info_flush_before_close(tcp_nw_handle *slot, logger_object *logger)
{
    queue *notifications = queue_create();
    if (notifications == nullptr)
        return;
    int32_t pending = 0;
    tcp_nw_handle_send(slot, TCP_NW_HANDLE_SEND_PENDING, nullptr, &pending, notifications, logger);
    while (message *orphan = static_cast<message *>(queue_remove_head(notifications)))
    {
        EA_LOG(logger, EA_LEVEL_BUSINESS_ERROR,
               "Discarding message with tag [%u] of the closing connection with handle [%d]", orphan->tag,
               slot->network_handle);
        message_destroy(orphan);
    }
    queue_destroy(notifications);
}

ea_status tcp_nw_info_disconnect_client(tcp_nw_info *server, message *msg, logger_object *logger)
{
    tcp_nw_handle *slot = tcp_nw_info_addressed_slot(server, msg, logger);
    if (slot == nullptr)
        return EA_VALID;
    if (slot->client_sockfd != EA_INVALID_SOCKET)
    {
        // What the session layer queued before the logoff (a refused sign-on's response,
        // for one) leaves before the connection closes, as far as the socket takes it now.
        tcp_nw_info_flush_before_close(slot, logger);
        ea_closesocket(slot->client_sockfd);
    }
    slot->client_sockfd = EA_INVALID_SOCKET;
    if (tcp_nw_info_del_client(server, msg->workstation_index, logger) != EA_SUCCESS)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "tcp_nw_info_del_client failed");
        return EA_ERROR;
    }
    return EA_SUCCESS;
}

ea_status tcp_nw_info_del_client(tcp_nw_info *server, uint16_t workstation_index, logger_object *logger)
{
    tcp_nw_handle *slot = &server->tcp_nw_handle_list[workstation_index];
    const int32_t handle = slot->network_handle;
    log_hold_entry *held = tcp_nw_handle_held(slot);
    // The place is free again (a sign-on under way that ends so has failed).
    if (handle != TCP_NW_HANDLE_FREE)
        tcp_nw_admission_ended(server->admission, workstation_index, slot->serial, ea_get_tick_count());
    if (slot->parked != nullptr)
    {
        EA_LOG_HELD(
            held, logger, EA_LEVEL_EVENT,
            "Discarding the first frame of tws nw handle [%d], which waited in the gateway, sequence number [%lu]",
            handle, static_cast<unsigned long>(slot->parked->sequence_number));
        message_destroy(slot->parked);
        slot->parked = nullptr;
    }
    server->total_pending -= slot->pending_count;
    for (uint16_t i = 0; i < slot->batch_record_count; ++i)
    {
        message *sent = slot->last_sent_message[i];
        if (sent == nullptr)
            continue;
        EA_LOG_HELD(held, logger, EA_LEVEL_EVENT,
                    "Discarding message with th nw handle [%d], sequence number [%lu]",
                    sent->workstation_network_handle, static_cast<unsigned long>(sent->sequence_number));
        message_destroy(sent);
        slot->last_sent_message[i] = nullptr;
    }
    while (message *queued = static_cast<message *>(queue_remove_head(slot->send_queue)))
    {
        EA_LOG_HELD(held, logger, EA_LEVEL_EVENT,
                    "Discarding message with tws nw handle [%d], tws index [%u]. sequence number [%lu]",
                    queued->workstation_network_handle, queued->workstation_index,
                    static_cast<unsigned long>(queued->sequence_number));
        message_destroy(queued);
    }
    if (slot->client_sockfd != EA_INVALID_SOCKET)
        ea_closesocket(slot->client_sockfd);
    tcp_nw_handle_reset(slot);
    for (uint16_t i = 0; i < server->in_use_count; ++i)
    {
        if (server->valid_client_list[i] != slot)
            continue;
        for (uint16_t j = i; j + 1 < server->in_use_count; ++j)
            server->valid_client_list[j] = server->valid_client_list[j + 1];
        server->valid_client_list[--server->in_use_count] = nullptr;
        break;
    }
    EA_LOG_HELD(held, logger, EA_LEVEL_EVENT, "Deleted the network handle at index [%d]", workstation_index);
    // The connection has left: what was held about it goes the way of a connection that
    // ended without signing on.
    connection_book_closed(server->book, workstation_index, handle);
    log_hold_end_slot(server->held_lines, workstation_index, handle, 0);
    return EA_SUCCESS;
}

ea_status tcp_nw_info_update_index(tcp_nw_info *server, message *msg, uint16_t number_of_links,
                                   logger_object *logger)
{
    if (msg->link_index >= number_of_links)
    {
        EA_LOG(
            logger, EA_LEVEL_BUSINESS_ERROR,
            "Received invalid link index [%u] tws nw handle[%d] in the message. Hence not updating link index.",
            msg->link_index, msg->workstation_network_handle);
        return EA_NOT_FOUND;
    }
    tcp_nw_handle *slot = tcp_nw_info_addressed_slot(server, msg, logger);
    if (slot == nullptr)
        return EA_VALID;
    slot->link_index = msg->link_index;
    EA_LOG_HELD(tcp_nw_handle_held(slot), logger, EA_LEVEL_EVENT,
                "Link index [%u] added for tws network handle [%d]", msg->link_index,
                msg->workstation_network_handle);
    return EA_SUCCESS;
}

// The reason a connection no longer deserves its slot, or 0.
static uint16_t tcp_nw_info_idle_reason(const tcp_nw_info *server, const tcp_nw_handle *slot, uint32_t now)
{
    if (slot->signed_on == 0 && tcp_nw_admission_unheld_ms(server->admission, slot->index, slot->serial,
                                                           now) >= TCP_NW_INFO_SIGN_ON_TIMEOUT_MS)
        return TWS_REASON_SIGN_ON_TIMEOUT;
    if (slot->frame_start_tick != 0 &&
        ea_get_tick_difference(now, slot->frame_start_tick) >= TCP_NW_INFO_PARTIAL_FRAME_TIMEOUT_MS)
        return TWS_REASON_PARTIAL_FRAME_TIMEOUT;
    return 0;
}

ea_status tcp_nw_info_check_idle_clients(tcp_nw_info *server, queue *disconnect_queue, logger_object *logger)
{
    uint32_t now = ea_get_tick_count();
    if (server->last_idle_check != 0 &&
        ea_get_tick_difference(now, server->last_idle_check) < TCP_NW_INFO_IDLE_CHECK_INTERVAL_MS)
        return EA_SUCCESS;
    server->last_idle_check = now;
    for (uint16_t position = 0; position < server->in_use_count; ++position)
    {
        tcp_nw_handle *slot = server->valid_client_list[position];
        if (slot->client_sockfd == EA_INVALID_SOCKET)
            continue;
        uint16_t reason = tcp_nw_info_idle_reason(server, slot, now);
        if (reason == 0)
            continue;
        uint16_t index = slot->index;
        EA_LOG_HELD(
            tcp_nw_handle_held(slot), logger, EA_LEVEL_BUSINESS_ERROR,
            "Disconnecting client with tws nw handle [%d] and tws index [%u], as it %s within [%u] ms",
            slot->network_handle, index,
            reason == TWS_REASON_SIGN_ON_TIMEOUT ? "did not sign on" : "did not complete its frame",
            static_cast<unsigned>(reason == TWS_REASON_SIGN_ON_TIMEOUT
                                      ? TCP_NW_INFO_SIGN_ON_TIMEOUT_MS
                                      : TCP_NW_INFO_PARTIAL_FRAME_TIMEOUT_MS));
        if (tcp_nw_info_raise_disconnect(slot, reason, disconnect_queue, logger) != EA_SUCCESS)
            return EA_ERROR;
        EA_LOG_HELD(
            tcp_nw_handle_held(slot), logger, EA_LEVEL_EVENT,
            "Sent CLIENT_DISCONNECTED notification for tws nw handle [%d] and tws index [%u]. reason code [%d]",
            slot->network_handle, index, reason);
    }
    return EA_SUCCESS;
}

// The first frames the admission policy lets go on now, to the session layer; each
// connection's next frames are read again.
static ea_status tcp_nw_info_release_frames(tcp_nw_info *server, queue *data_queue, logger_object *logger)
{
    uint16_t places[64];
    uint16_t released = 0;
    const uint32_t now = ea_get_tick_count();
    while ((released = tcp_nw_admission_released(server->admission, now, places, 64)) > 0)
    {
        for (uint16_t i = 0; i < released; ++i)
        {
            tcp_nw_handle *slot = &server->tcp_nw_handle_list[places[i]];
            message *frame = slot->parked;
            slot->parked = nullptr;
            if (frame == nullptr || slot->client_sockfd == EA_INVALID_SOCKET)
            {
                if (frame != nullptr)
                    message_destroy(frame);
                continue;
            }
            EA_LOG_HELD(tcp_nw_handle_held(slot), logger, EA_LEVEL_ACTIVITY,
                        "The first frame of tws nw handle [%d] goes on, sequence number [%lu]",
                        slot->network_handle, static_cast<unsigned long>(frame->sequence_number));
            if (queue_append(data_queue, frame) != EA_SUCCESS)
            {
                EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "queue_append failed");
                message_destroy(frame);
                return EA_ERROR;
            }
            // Readable again: what came meanwhile wakes the next wait.
            if (tcp_nw_info_select(server, slot->client_sockfd, EA_FD_READ | EA_FD_CLOSE, logger) !=
                EA_SUCCESS)
                return EA_ERROR;
        }
        if (released < 64)
            break;
    }
    return EA_SUCCESS;
}

ea_status tcp_nw_info_watch_connections(tcp_nw_info *server, queue *data_queue, uint32_t *refused,
                                        const char *routine, logger_object *logger)
{
    const uint32_t now = ea_get_tick_count();
    for (uint16_t position = 0; position < server->in_use_count; ++position)
    {
        tcp_nw_handle *slot = server->valid_client_list[position];
        if (slot->signed_on == 0 &&
            connection_book_verdict(server->book, slot->index, slot->network_handle) == CONNECTION_SIGNED_ON)
        {
            slot->signed_on = 1;
            tcp_nw_admission_signed_on(server->admission, slot->index, slot->serial, now);
            log_hold_of_slot(server->held_lines, slot->index, slot->network_handle, slot->peer_address);
        }
    }
    if (tcp_nw_info_release_frames(server, data_queue, logger) != EA_SUCCESS)
        return EA_ERROR;
    ea_status seated = EA_SUCCESS;
    *refused += tcp_nw_info_seat_waiting(server, &seated, logger);
    if (seated != EA_SUCCESS)
        return EA_ERROR;
    log_hold_pass(server->held_lines, routine, logger);
    return EA_SUCCESS;
}

void tcp_nw_info_stop_lines(tcp_nw_info *server, const char *routine, logger_object *logger)
{
    server->held_lines->routine = routine;
    server->held_lines->logger = logger;
    const uint32_t waiting = queue_get_count(server->pending_sockets);
    for (uint32_t i = 0; i < waiting; ++i)
    {
        tcp_nw_pending *pending = tcp_nw_info_pending_at(server, i);
        log_hold_ended(pending->held, 0);
        pending->held = nullptr;
    }
    for (uint16_t i = 0; i < server->waiting_count; ++i)
    {
        log_hold_ended(server->waiting[i].held, 0);
        server->waiting[i].held = nullptr;
    }
    log_hold_stop(server->held_lines, routine, logger);
}

void tcp_nw_info_report_holds(tcp_nw_info *server, const char *routine, logger_object *logger, bool all)
{
    for (int hold = TCP_NW_HOLD_USER_BUDGET; hold < TCP_NW_HOLD_KINDS; ++hold)
    {
        log_fold *fold = &server->hold_lines[hold];
        const uint32_t more = all ? log_fold_due_now(fold) : log_fold_due(fold);
        if (more == 0)
            continue;
        if (hold == TCP_NW_HOLD_USER_BUDGET)
            EA_LOG_IN(
                routine, logger, EA_LEVEL_EVENT,
                "[%u] more first frames waited in the gateway, as sign-ons of their users from their addresses failed lately.",
                more);
        else if (hold == TCP_NW_HOLD_ADDRESS_BUDGET)
            EA_LOG_IN(
                routine, logger, EA_LEVEL_EVENT,
                "[%u] more first frames waited in the gateway, as sign-ons of several users from their addresses failed lately.",
                more);
        else if (hold == TCP_NW_HOLD_UNDER_WAY)
            EA_LOG_IN(
                routine, logger, EA_LEVEL_EVENT,
                "[%u] more first frames waited in the gateway, as their addresses had their sign-ons under way.",
                more);
        else
            EA_LOG_IN(
                routine, logger, EA_LEVEL_EVENT,
                "[%u] more first frames waited in the gateway, as sign-ons from addresses none of whose sign-ons succeeded lately failed too often.",
                more);
    }
}

bool tcp_nw_info_unsigned_event(tcp_nw_info *server, uint16_t reason_code, uint32_t user_id)
{
    return tcp_nw_event_folds_admit(server->event_folds, reason_code, user_id, ea_get_tick_count());
}

uint32_t tcp_nw_info_unsigned_events_due(tcp_nw_info *server, tcp_nw_folded_event *due, uint32_t max,
                                         bool all)
{
    // Refusals have their own report (tcp_nw_info_refusal_events) until the stop.
    return tcp_nw_event_folds_due(server->event_folds, ea_get_tick_count(), all, TWS_REASON_MAX_CONNECTIONS,
                                  due, max);
}

void tcp_nw_info_refusal_events(tcp_nw_info *server, uint32_t refused, uint32_t *at_once, uint32_t *folded)
{
    const uint32_t now = ea_get_tick_count();
    *folded = tcp_nw_event_folds_due_of(server->event_folds, TWS_REASON_MAX_CONNECTIONS, 0, now);
    *at_once = 0;
    for (uint32_t i = 0; i < refused; ++i)
        *at_once += tcp_nw_event_folds_admit(server->event_folds, TWS_REASON_MAX_CONNECTIONS, 0, now) ? 1 : 0;
}

bool tcp_nw_info_is_unsigned(tcp_nw_info *server, const message *msg)
{
    if (msg->workstation_index >= server->max_clients)
        return false;
    return connection_book_verdict(server->book, msg->workstation_index, msg->workstation_network_handle) !=
           CONNECTION_SIGNED_ON;
}
