// The workstation server: listener, admission, the connection table with its in-use list,
// network handles, the reading cycle, flow control by invitations and the driving of every
// connection's send side. One wait covers the listener, all connection sockets (one shared
// event) and the input queue; a reading cycle takes at most one frame per connection per
// pass and resumes at the next connection, so a fast workstation cannot starve the others.
//
// Connections that have not signed on (the host has not accepted a sign-on on them) follow
// one rule: they hold a slot only while they use it (no sign-on within 30 s, a frame never
// finished: the slot is given back), a full table is contested by peer address (a newcomer
// takes the slot of an unprotected one from an address that holds more of them), one
// address has a few sign-ons under way at a time, what the thread writes about them is held
// until they sign on (log_hold.h), and their console events are folded per reason code
// and user.
#include "gateway/tws_network_handle/tcp_nw_info.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "common/config_file.h"
#include "common/ea_time.h"
#include "gateway/runtime/ea_socket.h"
#include "gateway/runtime/ea_sync_info.h"
#include "gateway/runtime/logger.h"
#include "gateway/runtime/message.h"
#include "gateway/runtime/queue.h"
#include "gateway/runtime/shared_queue.h"
#include "gateway/shared/config_value.h"

static tcp_nw_pending *tcp_nw_info_pending_at(const tcp_nw_info *server, uint32_t position)
{
    return static_cast<tcp_nw_pending *>(queue_peek(server->pending_sockets, position));
}

// Closes a socket that never got a slot; what was held about it ends with the reason.
static void tcp_nw_info_drop_pending(tcp_nw_pending *pending, uint16_t reason_code)
{
    ea_closesocket(pending->socket);
    log_hold_ended(pending->held, reason_code);
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
    server->addresses = static_cast<uint32_t *>(calloc(max_clients == 0 ? 1 : max_clients, sizeof(uint32_t)));
    if (server->valid_client_list == nullptr || server->addresses == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "Calloc failed for valid client list");
        tcp_nw_info_destroy(server);
        return nullptr;
    }
    server->listener_event = ea_sync_info_create(EA_SYNC_NETWORK_EVENT, 0);
    server->client_event = ea_sync_info_create(EA_SYNC_NETWORK_EVENT, 0);
    server->continue_event = ea_sync_info_create(EA_SYNC_NETWORK_EVENT, 0);
    if (server->listener_event == nullptr || server->client_event == nullptr ||
        server->continue_event == nullptr)
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
    free(server->addresses);
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
    entries[LISTENER_ENTRY] = server->listener_event;
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

// The mark of an address, made when `make` and there is none (taking the place of one with
// nothing left to remember, else of the one remembered longest); null when there is none.
static tcp_nw_address_mark *tcp_nw_info_mark_of(tcp_nw_info *server, uint32_t address, bool make)
{
    tcp_nw_address_mark *unused = nullptr;
    tcp_nw_address_mark *oldest = nullptr;
    for (tcp_nw_address_mark &mark : server->marks)
    {
        if (mark.used != 0 && mark.address == address)
            return &mark;
        if (mark.used == 0 && unused == nullptr)
            unused = &mark;
        if (mark.used != 0 &&
            (oldest == nullptr || static_cast<int32_t>(mark.budget_tick - oldest->budget_tick) < 0))
            oldest = &mark;
    }
    if (!make)
        return nullptr;
    tcp_nw_address_mark *mark = unused != nullptr ? unused : oldest;
    *mark = tcp_nw_address_mark{address, TCP_NW_INFO_FAILED_SIGN_ON_BUDGET * 1000, ea_get_tick_count(), 0, 1};
    return mark;
}

// The address's budget of failed sign-ons as it stands now, in thousandths.
static int32_t tcp_nw_info_budget_now(tcp_nw_address_mark *mark)
{
    const uint32_t now = ea_get_tick_count();
    const int64_t refilled = static_cast<int64_t>(mark->budget) +
                             static_cast<int64_t>(ea_get_tick_difference(now, mark->budget_tick)) *
                                 TCP_NW_INFO_FAILED_SIGN_ONS_PER_SECOND;
    mark->budget = static_cast<int32_t>(refilled < TCP_NW_INFO_FAILED_SIGN_ON_BUDGET * 1000
                                            ? refilled
                                            : TCP_NW_INFO_FAILED_SIGN_ON_BUDGET * 1000);
    mark->budget_tick = now;
    return mark->budget;
}

// A connection from the address that sent a frame ended without signing on.
static void tcp_nw_info_spend_budget(tcp_nw_info *server, uint32_t address)
{
    tcp_nw_address_mark *mark = tcp_nw_info_mark_of(server, address, true);
    mark->budget = tcp_nw_info_budget_now(mark) - 1000;
}

// Whether the address lost a slot to a newcomer within the take-back pause.
static bool tcp_nw_info_lost_lately(tcp_nw_info *server, uint32_t address)
{
    const tcp_nw_address_mark *mark = tcp_nw_info_mark_of(server, address, false);
    return mark != nullptr && mark->lost_tick != 0 &&
           ea_get_tick_difference(ea_get_tick_count(), mark->lost_tick) < TCP_NW_INFO_TAKE_BACK_PAUSE_MS;
}

static void tcp_nw_info_note_loss(tcp_nw_info *server, uint32_t address)
{
    tcp_nw_address_mark *mark = tcp_nw_info_mark_of(server, address, true);
    mark->lost_tick = ea_get_tick_count() | 1u; // never 0, which means never
}

// The peer addresses of every connection not signed on, in the table and waiting for the
// box's verdict, sorted into server->addresses, so that each count is a lookup: a full table
// of a thousand is counted in a few thousand steps. The end of the sorted addresses.
static const uint32_t *tcp_nw_info_sort_unsigned(tcp_nw_info *server)
{
    uint32_t *end = server->addresses;
    for (uint16_t position = 0; position < server->in_use_count; ++position)
    {
        const tcp_nw_handle *slot = server->valid_client_list[position];
        if (slot->signed_on == 0)
            *end++ = slot->peer_address;
    }
    uint32_t pending = queue_get_count(server->pending_sockets);
    for (uint32_t i = 0; i < pending && end < server->addresses + server->max_clients; ++i)
        *end++ = tcp_nw_info_pending_at(server, i)->address;
    std::sort(server->addresses, end);
    return end;
}

static uint32_t tcp_nw_info_count_of(const uint32_t *begin, const uint32_t *end, uint32_t address)
{
    auto range = std::equal_range(begin, end, address);
    return static_cast<uint32_t>(range.second - range.first);
}

// Whether a connection may give its slot to a new one: it has not signed on, nothing of it
// has gone to the session layer (which would have to let go of it first), its first 500 ms
// are over, and it is not within 5 s of a frame's network header. A byte or two of a frame
// protect nothing.
static bool tcp_nw_info_may_give_slot(const tcp_nw_handle *slot, uint32_t now)
{
    if (slot->signed_on != 0 || slot->delivered != 0 || slot->client_sockfd == EA_INVALID_SOCKET)
        return false;
    if (ea_get_tick_difference(now, slot->admitted_tick) < TCP_NW_INFO_SLOT_GRACE_MS)
        return false;
    return slot->header_tick == 0 ||
           ea_get_tick_difference(now, slot->header_tick) >= TCP_NW_INFO_FRAME_PROTECTION_MS;
}

// What a new connection from `address` may take when every slot is taken: the oldest
// connection that may give its slot, of an address that holds more connections not signed
// on than `address` does (at least two more when `address` lost a slot lately); else the
// oldest socket waiting for the box's verdict of such an address (its position in
// *pending_position). Null when there is none.
static tcp_nw_handle *tcp_nw_info_place_to_take(tcp_nw_info *server, uint32_t address,
                                                int32_t *pending_position)
{
    const uint32_t *end = tcp_nw_info_sort_unsigned(server);
    const uint32_t own = tcp_nw_info_count_of(server->addresses, end, address) +
                         (tcp_nw_info_lost_lately(server, address) ? 1 : 0);
    const uint32_t now = ea_get_tick_count();
    *pending_position = -1;
    for (uint16_t position = 0; position < server->in_use_count; ++position)
    {
        tcp_nw_handle *slot = server->valid_client_list[position];
        if (tcp_nw_info_may_give_slot(slot, now) &&
            tcp_nw_info_count_of(server->addresses, end, slot->peer_address) > own)
            return slot;
    }
    uint32_t pending = queue_get_count(server->pending_sockets);
    for (uint32_t i = 0; i < pending; ++i)
    {
        if (tcp_nw_info_count_of(server->addresses, end, tcp_nw_info_pending_at(server, i)->address) > own)
        {
            *pending_position = static_cast<int32_t>(i);
            break;
        }
    }
    return nullptr;
}

// Takes the waiting socket at `position` out of the queue, keeping the others' order.
static tcp_nw_pending *tcp_nw_info_take_pending(tcp_nw_info *server, uint32_t position)
{
    const uint32_t count = queue_get_count(server->pending_sockets);
    tcp_nw_pending *taken = nullptr;
    for (uint32_t i = 0; i < count; ++i)
    {
        void *entry = queue_remove_head(server->pending_sockets);
        if (i == position)
            taken = static_cast<tcp_nw_pending *>(entry);
        else
            queue_append(server->pending_sockets, entry); // room freed by the removal
    }
    return taken;
}

// Closes a connection that has not signed on so that a new one gets its place. Only the
// console hears of it, counted in slots_given as one that did not sign on in time. True
// when a place was freed.
static bool tcp_nw_info_give_slot(tcp_nw_info *server, uint32_t address, logger_object *logger)
{
    int32_t pending_position = -1;
    tcp_nw_handle *slot = tcp_nw_info_place_to_take(server, address, &pending_position);
    if (slot != nullptr)
    {
        log_hold_entry *held = tcp_nw_handle_held(slot);
        EA_LOG_HELD(
            held, logger, EA_LEVEL_EVENT,
            "Giving the slot of tws nw handle [%d] at tws index [%u] to a new connection, as it has not signed on",
            slot->network_handle, slot->index);
        log_hold_set_reason(held, TWS_REASON_SIGN_ON_TIMEOUT);
        tcp_nw_info_note_loss(server, slot->peer_address);
        tcp_nw_info_del_client(server, slot->index, logger);
        server->slots_given++;
        return true;
    }
    if (pending_position < 0)
        return false;
    tcp_nw_pending *pending = tcp_nw_info_take_pending(server, static_cast<uint32_t>(pending_position));
    tcp_nw_info_note_loss(server, pending->address);
    EA_LOG_HELD(pending->held, logger, EA_LEVEL_EVENT,
                "Giving the place of socket [%d] waiting for admission to a new connection", pending->socket);
    tcp_nw_info_drop_pending(pending, TWS_REASON_SIGN_ON_TIMEOUT);
    server->slots_given++;
    return true;
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
    tcp_nw_pending *pending = static_cast<tcp_nw_pending *>(calloc(1, sizeof(tcp_nw_pending)));
    if (pending == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "calloc failed");
        ea_closesocket(socket);
        return EA_ERROR;
    }
    pending->socket = socket;
    pending->address = ea_inet_addr(peer);
    pending->accepted_tick = ea_get_tick_count();
    pending->held = log_hold_entry_create(server->held_lines, pending->address);
    EA_LOG_HELD(pending->held, logger, EA_LEVEL_EVENT, "Incoming client connection from socket [%d], IP [%s]",
                socket, peer);
    if (server->in_use_count + tcp_nw_info_pending_socket_count(server) < server->max_clients ||
        tcp_nw_info_give_slot(server, pending->address, logger))
    {
        if (queue_append(server->pending_sockets, pending) != EA_SUCCESS)
        {
            EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "queue_append failed");
            tcp_nw_info_drop_pending(pending, TWS_REASON_MAX_CONNECTIONS);
            return EA_ERROR;
        }
        *pending_sockets = tcp_nw_info_pending_socket_count(server);
        return EA_SUCCESS;
    }
    EA_LOG_HELD(pending->held, logger, EA_LEVEL_EVENT,
                "Rejected connection from socket [%d] as max connections [%d] was exceeded", socket,
                server->max_clients);
    tcp_nw_info_drop_pending(pending, TWS_REASON_MAX_CONNECTIONS);
    *pending_sockets = tcp_nw_info_pending_socket_count(server);
    return TCP_NW_INFO_REFUSED;
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
                static_cast<tcp_nw_pending *>(queue_remove_head(server->pending_sockets)),
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
            log_hold_ended(pending->held, TWS_REASON_CONNECTION_LOST);
            free(pending);
            message_destroy(msg);
            return EA_ERROR;
        }
        if (added != EA_SUCCESS)
        {
            // The socket was closed instead (the peer reset it meanwhile): it is a lost
            // connection like any other, and the console hears of it.
            log_hold_ended(pending->held, TWS_REASON_CONNECTION_LOST);
            free(pending);
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

static ea_status tcp_nw_info_refuse_socket(int32_t socket)
{
    ea_closesocket(socket);
    return EA_VALID;
}

// Gives a waiting socket its slot and handle; what was held about it moves to the slot.
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
            return tcp_nw_info_refuse_socket(socket);
        }
    }
    if (ea_sync_info_network_event_select(server->client_event, socket, EA_FD_READ | EA_FD_CLOSE) != 0)
    {
        int32_t error = ea_socket_last_error();
        EA_LOG_HELD(pending->held, logger, EA_LEVEL_SYSTEM_ERROR,
                    "Error in ea_sync_info_network_event_select: [%d] - [%s]", error,
                    ea_socket_error_text(error));
        return tcp_nw_info_refuse_socket(socket);
    }
    tcp_nw_handle *slot = nullptr;
    for (uint16_t i = 0; i < server->max_clients; ++i)
    {
        if (server->tcp_nw_handle_list[i].network_handle == TCP_NW_HANDLE_FREE)
        {
            slot = &server->tcp_nw_handle_list[i];
            break;
        }
    }
    if (slot == nullptr || server->in_use_count >= server->max_clients)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "No free slot remaining for new client.");
        return tcp_nw_info_refuse_socket(socket);
    }
    int32_t handle = TCP_NW_HANDLE_FREE;
    if (tcp_nw_info_get_new_handle(server, &handle, logger) != EA_SUCCESS)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "tcp_nw_info_get_new_handle failed");
        return tcp_nw_info_refuse_socket(socket);
    }
    // The whole slot is cleared, so the connection counts as bound to link 0 until
    // UPDATE_LINK_INDEX names its link.
    tcp_nw_handle_reset(slot);
    slot->client_sockfd = socket;
    slot->network_handle = handle;
    slot->link_index = 0;
    slot->admitted_tick = ea_get_tick_count();
    slot->peer_address = pending->address;
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
    tcp_nw_pending pending = {socket, 0, ea_get_tick_count(), nullptr};
    return tcp_nw_info_add_connection(server, &pending, network_handle, workstation_index, logger);
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
    if (slot->signed_on == 0)
        notification->flags |= MESSAGE_FLAG_NO_USER;
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

// Whether the peer of a connection whose first frame waits unread has left.
static bool tcp_nw_info_peer_left(const tcp_nw_handle *slot)
{
    ea_network_events events;
    memset(&events, 0, sizeof(events));
    if (slot->client_sockfd == EA_INVALID_SOCKET || ea_enum_network_events(slot->client_sockfd, &events) != 0)
        return false;
    return ea_check_network_event(&events, EA_FD_CLOSE, nullptr);
}

// Sign-ons under way from an address: connections whose frames went to the session layer
// and that have neither signed on nor been lost.
static uint32_t tcp_nw_info_sign_ons_under_way(const tcp_nw_info *server, uint32_t address)
{
    uint32_t count = 0;
    for (uint16_t position = 0; position < server->in_use_count; ++position)
    {
        const tcp_nw_handle *slot = server->valid_client_list[position];
        count += slot->peer_address == address && slot->delivered != 0 && slot->signed_on == 0 &&
                         slot->client_sockfd != EA_INVALID_SOCKET
                     ? 1
                     : 0;
    }
    return count;
}

// Whether a connection from the address may start a sign-on now: the address has fewer
// sign-ons under way than it may, and budget left for one that fails.
static bool tcp_nw_info_may_start_sign_on(tcp_nw_info *server, uint32_t address)
{
    if (tcp_nw_info_sign_ons_under_way(server, address) >= TCP_NW_INFO_SIGN_ONS_PER_ADDRESS)
        return false;
    tcp_nw_address_mark *mark = tcp_nw_info_mark_of(server, address, false);
    return mark == nullptr || tcp_nw_info_budget_now(mark) >= 1000;
}

// Whether the first frame of a connection must wait unread.
static bool tcp_nw_info_must_wait(tcp_nw_info *server, const tcp_nw_handle *slot)
{
    return slot->delivered == 0 && slot->signed_on == 0 && slot->receive_position == slot->receive_buffer &&
           !tcp_nw_info_may_start_sign_on(server, slot->peer_address);
}

// Leaves a connection's first frame in the socket, watching only for its close.
static ea_status tcp_nw_info_gate(tcp_nw_info *server, tcp_nw_handle *slot, logger_object *logger)
{
    if (tcp_nw_info_select(server, slot->client_sockfd, EA_FD_CLOSE, logger) != EA_SUCCESS)
        return EA_ERROR;
    slot->gated = 1;
    server->gated_count++;
    if (tcp_nw_info_sign_ons_under_way(server, slot->peer_address) >= TCP_NW_INFO_SIGN_ONS_PER_ADDRESS)
        EA_LOG_HELD(
            tcp_nw_handle_held(slot), logger, EA_LEVEL_ACTIVITY,
            "The first frame of tws nw handle [%d] waits, as [%u] sign-ons from its address are under way",
            slot->network_handle, static_cast<unsigned>(TCP_NW_INFO_SIGN_ONS_PER_ADDRESS));
    else
        EA_LOG_HELD(
            tcp_nw_handle_held(slot), logger, EA_LEVEL_ACTIVITY,
            "The first frame of tws nw handle [%d] waits, as its address has spent its budget of sign-ons that fail",
            slot->network_handle);
    return EA_SUCCESS;
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
        if (slot->gated != 0)
        {
            // Only its close is watched while its first frame waits.
            if (tcp_nw_info_peer_left(slot) &&
                tcp_nw_info_lose(slot, TWS_REASON_CONNECTION_LOST, disconnect_queue, logger) != EA_SUCCESS)
                return EA_ERROR;
            continue;
        }
        if (tcp_nw_info_get_client_status(server, index, logger) != EA_SUCCESS)
            continue;
        if (tcp_nw_info_must_wait(server, slot))
        {
            if (tcp_nw_info_gate(server, slot, logger) != EA_SUCCESS)
                return EA_ERROR;
            continue;
        }

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
            if (slot->signed_on == 0)
                msg->flags |= MESSAGE_FLAG_NO_USER;
            if (queue_append(data_queue, msg) != EA_SUCCESS)
            {
                EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "queue_append failed");
                message_destroy(msg);
                return EA_ERROR;
            }
            slot->delivered = 1;
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
    // A sign-on that went to the session layer and ended without the host's acceptance.
    if (slot->delivered != 0 && handle != TCP_NW_HANDLE_FREE &&
        connection_book_verdict(server->book, workstation_index, handle) != CONNECTION_SIGNED_ON)
        tcp_nw_info_spend_budget(server, slot->peer_address);
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
    if (slot->gated != 0)
        server->gated_count--;
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
    slot->bound = 1;
    EA_LOG_HELD(tcp_nw_handle_held(slot), logger, EA_LEVEL_EVENT,
                "Link index [%u] added for tws network handle [%d]", msg->link_index,
                msg->workstation_network_handle);
    return EA_SUCCESS;
}

// The reason a connection no longer deserves its slot, or 0.
static uint16_t tcp_nw_info_idle_reason(const tcp_nw_handle *slot, uint32_t now)
{
    if (slot->signed_on == 0 && slot->bound == 0 &&
        ea_get_tick_difference(now, slot->admitted_tick) >= TCP_NW_INFO_SIGN_ON_TIMEOUT_MS)
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
        uint16_t reason = tcp_nw_info_idle_reason(slot, now);
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

ea_status tcp_nw_info_watch_connections(tcp_nw_info *server, const char *routine, logger_object *logger)
{
    for (uint16_t position = 0; position < server->in_use_count; ++position)
    {
        tcp_nw_handle *slot = server->valid_client_list[position];
        if (slot->signed_on == 0 &&
            connection_book_verdict(server->book, slot->index, slot->network_handle) == CONNECTION_SIGNED_ON)
        {
            slot->signed_on = 1;
            log_hold_of_slot(server->held_lines, slot->index, slot->network_handle, slot->peer_address);
        }
    }
    for (uint16_t position = 0; position < server->in_use_count && server->gated_count > 0; ++position)
    {
        tcp_nw_handle *slot = server->valid_client_list[position];
        if (slot->gated == 0 || slot->client_sockfd == EA_INVALID_SOCKET ||
            !tcp_nw_info_may_start_sign_on(server, slot->peer_address))
            continue;
        // Readable again: a frame already in the socket wakes the next wait.
        if (tcp_nw_info_select(server, slot->client_sockfd, EA_FD_READ | EA_FD_CLOSE, logger) != EA_SUCCESS)
            return EA_ERROR;
        slot->gated = 0;
        server->gated_count--;
    }
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
    log_hold_stop(server->held_lines, routine, logger);
}

// The fold of console events with this reason code and user id, made on first use in a free
// entry or one whose spell is over; when none is left, the events of the pair are counted
// with the connections that named no user, or else in the last entry.
static log_fold *tcp_nw_info_event_fold(tcp_nw_info *server, uint16_t reason_code, uint32_t user_id)
{
    int32_t claimable = -1;
    int32_t anonymous = -1;
    for (uint32_t i = 0; i < TCP_NW_INFO_EVENT_FOLDS; ++i)
    {
        const uint16_t reason = server->event_fold_reasons[i];
        if (reason == reason_code && server->event_fold_users[i] == user_id)
            return &server->event_folds[i];
        if (reason == reason_code && server->event_fold_users[i] == 0)
            anonymous = static_cast<int32_t>(i);
        if (claimable < 0 && (reason == 0 || server->event_folds[i].open == 0))
            claimable = static_cast<int32_t>(i);
    }
    if (claimable >= 0)
    {
        server->event_fold_reasons[claimable] = reason_code;
        server->event_fold_users[claimable] = user_id;
        server->event_folds[claimable] = log_fold{};
        return &server->event_folds[claimable];
    }
    return &server->event_folds[anonymous >= 0 ? anonymous : TCP_NW_INFO_EVENT_FOLDS - 1];
}

bool tcp_nw_info_unsigned_event(tcp_nw_info *server, uint16_t reason_code, uint32_t user_id)
{
    return log_fold_admit(tcp_nw_info_event_fold(server, reason_code, user_id), 1);
}

uint32_t tcp_nw_info_unsigned_events_due(tcp_nw_info *server, tcp_nw_info_folded_event *due, uint32_t max,
                                         bool all)
{
    uint32_t filled = 0;
    for (uint32_t i = 0; i < TCP_NW_INFO_EVENT_FOLDS && filled < max; ++i)
    {
        const uint16_t reason = server->event_fold_reasons[i];
        // Refusals have their own report (tcp_nw_info_refusal_events) until the stop.
        if (reason == 0 || (reason == TWS_REASON_MAX_CONNECTIONS && !all))
            continue;
        uint32_t count =
            all ? log_fold_due_now(&server->event_folds[i]) : log_fold_due(&server->event_folds[i]);
        if (count > 0)
            due[filled++] = tcp_nw_info_folded_event{reason, server->event_fold_users[i], count};
    }
    return filled;
}

void tcp_nw_info_refusal_events(tcp_nw_info *server, uint32_t refused, uint32_t *at_once, uint32_t *folded)
{
    log_fold *fold = tcp_nw_info_event_fold(server, TWS_REASON_MAX_CONNECTIONS, 0);
    *folded = log_fold_due(fold);
    *at_once = 0;
    for (uint32_t i = 0; i < refused; ++i)
        *at_once += log_fold_admit(fold, 1) ? 1 : 0;
}

bool tcp_nw_info_is_unsigned(tcp_nw_info *server, const message *msg)
{
    const tcp_nw_handle *slot = tcp_nw_info_slot_of(server, msg);
    if (slot == nullptr)
        return (msg->flags & MESSAGE_FLAG_NO_USER) != 0;
    return connection_book_verdict(server->book, slot->index, slot->network_handle) != CONNECTION_SIGNED_ON;
}
