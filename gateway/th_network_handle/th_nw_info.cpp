// The host network layer: the links to the trading host, their network handles and
// connections, the round-robin receive pass, the one wait on sockets and input queues,
// and the pull, heart-beat, back-pressure and connection-loss notices. Each link's
// framing and batching is th_nw_handle's. What it writes about a link's attempts to
// connect goes through the link's fold of failed connects.
#include "gateway/th_network_handle/th_nw_info.h"

#include <cstdarg>
#include <cstdio>
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
#include "gateway/runtime/wire.h"
#include "gateway/shared/user_link_info.h"

enum
{
    TH_NW_SOCKET_LIBRARY_VERSION_TEXT_SIZE = 256,
};

static int16_t th_nw_info_rate_limit(const th_nw_info *links, uint16_t link_index)
{
    return static_cast<int16_t>(ea_flag_get(&links->box_rate_control_count[link_index]));
}

// `capital` picks the spelling of the found line: the heart-beat key's says "Parameter".
static bool th_nw_info_read_key(const char *config_file, const char *key, bool capital, int32_t *value,
                                logger_object *logger)
{
    if (config_file_read_int(config_file, key, value) != EA_SUCCESS)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "[%s] Parameter not found in config file [%s]", key,
               config_file);
        return false;
    }
    if (capital)
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "[%s] Parameter found in config file [%s]", key, config_file);
    else
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "[%s] parameter found in config file [%s]", key, config_file);
    return true;
}

static void th_nw_info_read_config(th_nw_info *links, const char *config_file, logger_object *logger)
{
    int32_t value = 0;
    links->heart_beat_interval = TH_NW_INFO_DEFAULT_HEART_BEAT_MS;
    if (th_nw_info_read_key(config_file, "HEART_BEAT_TIME_INTERVAL", true, &value, logger))
    {
        // The interval is kept whole; a value of 0 or below means the default.
        if (value <= 0)
        {
            EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "Heart Beat Interval is [%d] so taking default value [%d]",
                   value, TH_NW_INFO_DEFAULT_HEART_BEAT_MS);
        }
        else
        {
            links->heart_beat_interval = static_cast<uint32_t>(value);
        }
    }

    links->upper_threshold = 1;
    if (th_nw_info_read_key(config_file, "TRIMMED_MESG_UPPER_THRESHOLD", false, &value, logger))
    {
        if (value < 1)
        {
            EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR,
                   "TRIMMED_MESG_UPPER_THRESHOLD is [%d] so taking default value[%d]", value, 1);
        }
        else
        {
            links->upper_threshold = static_cast<uint32_t>(value);
        }
    }

    links->lower_threshold = 0;
    if (th_nw_info_read_key(config_file, "TRIMMED_MESG_LOWER_THRESHOLD", false, &value, logger))
    {
        if (value < 0)
        {
            EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR,
                   "TRIMMED_MESG_LOWER_THRESHOLD is [%d] so taking default value[%d]", value, 0);
        }
        else
        {
            links->lower_threshold = static_cast<uint32_t>(value);
        }
    }

    if (links->lower_threshold >= links->upper_threshold)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR,
               "%s is not greater than %s in config file [%s]. Config file values will be ignored",
               "TRIMMED_MESG_UPPER_THRESHOLD", "TRIMMED_MESG_LOWER_THRESHOLD", config_file);
        links->upper_threshold = 1;
        links->lower_threshold = 0;
    }
}

th_nw_info *th_nw_info_create(const char *config_file, uint16_t number_of_links,
                              ea_flag *box_rate_control_count, user_link_info *link_table,
                              ea_flag *allow_invitations_flag, logger_object *logger)
{
    th_nw_info *links = static_cast<th_nw_info *>(calloc(1, sizeof(th_nw_info)));
    if (links == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "calloc failed for creating th_nw_info object");
        return nullptr;
    }
    links->last_serviced_link = TH_NW_INFO_NO_LINK_SERVICED;
    links->next_handle = 1;
    links->wrap_flag = 0;
    links->nclients = number_of_links;
    links->box_rate_control_count = box_rate_control_count;
    links->link_table = link_table;
    links->allow_invitations_flag = allow_invitations_flag;

    links->th_nw_handle_list = th_nw_handle_create(number_of_links, logger);
    if (links->th_nw_handle_list == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "th_nw_handle_create failed");
        free(links);
        return nullptr;
    }
    links->connect_attempts =
        static_cast<th_nw_connect_attempts *>(calloc(number_of_links, sizeof(th_nw_connect_attempts)));
    if (number_of_links > 0 && links->connect_attempts == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "calloc failed for the links' connection attempts");
        th_nw_info_destroy(links);
        return nullptr;
    }
    links->socket_event = ea_sync_info_create(EA_SYNC_NETWORK_EVENT, 0);
    links->always_set_event = ea_sync_info_create(EA_SYNC_NETWORK_EVENT, 0);
    if (links->socket_event == nullptr || links->always_set_event == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "ea_sync_info_create failed");
        th_nw_info_destroy(links);
        return nullptr;
    }
    if (ea_sync_info_set_network_event(links->always_set_event) != EA_SUCCESS)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "ea_sync_info_set_network_event failed");
        th_nw_info_destroy(links);
        return nullptr;
    }
    char text[TH_NW_SOCKET_LIBRARY_VERSION_TEXT_SIZE] = "";
    uint32_t text_length = sizeof text;
    if (ea_socket_init(text, &text_length) != EA_SUCCESS)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "%s", text);
        th_nw_info_destroy(links);
        return nullptr;
    }
    links->socket_library_started = true;
    th_nw_info_read_config(links, config_file, logger);
    return links;
}

void th_nw_info_destroy(th_nw_info *links)
{
    if (links == nullptr)
        return;
    th_nw_handle_destroy(links->th_nw_handle_list, links->nclients);
    if (links->connect_attempts != nullptr)
    {
        for (uint16_t i = 0; i < links->nclients; ++i)
        {
            if (links->connect_attempts[i].held_order != nullptr)
                message_destroy(links->connect_attempts[i].held_order);
        }
        free(links->connect_attempts);
    }
    if (links->socket_event != nullptr)
        ea_sync_info_destroy(links->socket_event);
    if (links->always_set_event != nullptr)
        ea_sync_info_destroy(links->always_set_event);
    if (links->socket_library_started && ea_socket_cleanup() != EA_SUCCESS)
    {
        int32_t error = ea_socket_last_error();
        EA_LOG(nullptr, EA_LEVEL_SYSTEM_ERROR, "Error in ea_socket_cleanup: [%d] - [%s]\n", error,
               ea_socket_error_text(error));
    }
    free(links);
}

ea_status th_nw_info_get_new_handle(th_nw_info *links, int32_t *handle_out, logger_object *logger)
{
    int32_t candidate = links->next_handle;
    int wraps = 0;
    if (candidate < 1)
    {
        candidate = 1;
        links->wrap_flag = 1;
        EA_LOG(logger, EA_LEVEL_DEBUG, "Wrap_around occurred");
    }
    if (links->wrap_flag != 0)
    {
        for (;;)
        {
            bool in_use = false;
            for (uint16_t i = 0; i < links->nclients && !in_use; ++i)
                in_use = links->th_nw_handle_list[i].network_handle == candidate;
            if (!in_use)
                break;
            if (candidate == INT32_MAX)
            {
                if (++wraps > 1)
                {
                    EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "Can not generate new network handle.");
                    return EA_ERROR;
                }
                candidate = 1;
                EA_LOG(logger, EA_LEVEL_DEBUG, "Wrap_around occurred twice");
                continue;
            }
            ++candidate;
        }
    }
    *handle_out = candidate;
    // The counter wraps to a value below 1, which the next call notices.
    links->next_handle = candidate == INT32_MAX ? INT32_MIN : candidate + 1;
    return EA_SUCCESS;
}

// Every end of a connection passes the reset of its link; one that was established counts
// for the spacing of the link's box logons.
static void th_nw_info_note_end(th_nw_info *links, uint16_t link_index, logger_object *logger)
{
    th_nw_backoff *backoff = &links->connect_attempts[link_index].backoff;
    const uint32_t in_a_row = backoff->ended_at_once;
    uint32_t uptime = 0;
    if (!th_nw_backoff_ended(backoff, ea_get_tick_count(), &uptime))
        return;
    if (backoff->ended_at_once != 0)
        TH_NW_LOG_LINK(
            links, link_index, logger, EA_LEVEL_EVENT,
            "Host connection of link index [%u] ended [%u] ms after it was established, [%u] such ends in a row",
            link_index, uptime, backoff->ended_at_once);
    else if (in_a_row != 0)
        TH_NW_LOG_LINK(
            links, link_index, logger, EA_LEVEL_EVENT,
            "Host connection back-off reset for link index [%u]: the last connection stayed up [%u] ms",
            link_index, uptime);
}

// The link's connection is established: its life is timed from now.
static void th_nw_info_note_established(th_nw_info *links, uint16_t link_index)
{
    th_nw_backoff_established(&links->connect_attempts[link_index].backoff, ea_get_tick_count());
}

// A connect of the link failed without the connection being established: the next logon
// waits a while (th_nw_backoff.h).
static void th_nw_info_note_refused(th_nw_info *links, uint16_t link_index)
{
    th_nw_backoff_refused(&links->connect_attempts[link_index].backoff, ea_get_tick_count());
}

th_nw_attempt_lines th_nw_info_link_line(th_nw_info *links, uint16_t link_index, const logger_object *logger,
                                         int16_t level)
{
    if (!log_fold_level_on(logger, level) || link_index >= links->nclients ||
        links->connect_attempts == nullptr)
        return TH_NW_ATTEMPT_WRITTEN;
    const th_nw_connect_attempts *attempts = &links->connect_attempts[link_index];
    const bool can_hold =
        logger != nullptr && attempts->held_length + 2 + EA_LOG_LINE_SIZE <= sizeof attempts->held_lines;
    return th_nw_connect_fold_line(&links->connect_attempts[link_index].fold, can_hold);
}

void th_nw_info_hold_link_line(th_nw_info *links, uint16_t link_index, logger_object *logger,
                               const char *function, const char *source_file, uint32_t source_line,
                               int16_t level, const char *format, ...)
{
    char text[EA_LOG_LINE_SIZE];
    va_list arguments;
    va_start(arguments, format);
    if (vsnprintf(text, sizeof text, format, arguments) < 0)
        text[0] = '\0';
    va_end(arguments);
    th_nw_connect_attempts *attempts = &links->connect_attempts[link_index];
    uint8_t *at = attempts->held_lines + attempts->held_length;
    logger_object_set_context(logger, level, function, source_file, source_line);
    const size_t length =
        logger_object_format_message(logger, reinterpret_cast<char *>(at + 2), EA_LOG_LINE_SIZE, "%s", text);
    put_u16_be(at, 0, static_cast<uint16_t>(length));
    attempts->held_length += static_cast<uint32_t>(2 + length);
}

// Writes the lines the link's attempt held, as they were made, and forgets them.
static void th_nw_info_write_held_lines(th_nw_connect_attempts *attempts, logger_object *logger)
{
    for (uint32_t at = 0; at + 2 <= attempts->held_length;)
    {
        const uint16_t length = get_u16_be(attempts->held_lines, at);
        logger_object_write_line(logger, reinterpret_cast<const char *>(attempts->held_lines + at + 2),
                                 length);
        at += 2u + length;
    }
    attempts->held_length = 0;
}

void th_nw_info_note_connect_failed(th_nw_info *links, uint16_t link_index)
{
    if (link_index >= links->nclients)
        return;
    th_nw_connect_fold_failed(&links->connect_attempts[link_index].fold);
    links->connect_attempts[link_index].held_length = 0; // counted now
}

static void th_nw_info_write_fold_count(uint16_t link_index, th_nw_connect_fold_count count,
                                        logger_object *logger)
{
    if (count.lines == 0)
        return;
    EA_LOG(
        logger, EA_LEVEL_EVENT,
        "Left out [%u] log lines about [%u] attempts to connect to the host over link index [%u] while its connects failed.",
        count.lines, count.attempts, link_index);
}

void th_nw_info_settle_attempt(th_nw_info *links, uint16_t link_index, logger_object *logger)
{
    if (link_index >= links->nclients)
        return;
    th_nw_connect_attempts *attempts = &links->connect_attempts[link_index];
    th_nw_info_write_fold_count(link_index, th_nw_connect_fold_settled(&attempts->fold), logger);
    th_nw_info_write_held_lines(attempts, logger);
}

void th_nw_info_begin_attempt(th_nw_info *links, uint16_t link_index, logger_object *logger)
{
    if (link_index >= links->nclients)
        return;
    th_nw_connect_attempts *attempts = &links->connect_attempts[link_index];
    // An attempt whose outcome never came (a newer order replaces it) ended otherwise.
    if (attempts->fold.current == TH_NW_ATTEMPT_HELD)
        th_nw_info_settle_attempt(links, link_index, logger);
    th_nw_info_write_fold_count(link_index, th_nw_connect_fold_attempt(&attempts->fold), logger);
}

void th_nw_info_connect_fold_lines(th_nw_info *links, bool all, logger_object *logger)
{
    for (uint16_t link_index = 0; link_index < links->nclients; ++link_index)
    {
        th_nw_connect_attempts *attempts = &links->connect_attempts[link_index];
        if (all && attempts->fold.current == TH_NW_ATTEMPT_HELD)
            th_nw_info_settle_attempt(links, link_index, logger); // the stop: nothing held is lost
        th_nw_info_write_fold_count(link_index, th_nw_connect_fold_lines_due(&attempts->fold, all), logger);
    }
}

ea_status th_nw_info_del_link(th_nw_info *links, uint16_t link_index, logger_object *logger)
{
    if (link_index >= links->nclients)
    {
        EA_LOG(logger, EA_LEVEL_EVENT, "Invalid link_index [%u]. th_nw_info->nclients is [%u]", link_index,
               links->nclients);
        return EA_VALID;
    }
    ea_flag_set(&links->allow_invitations_flag[link_index], 0);
    // The records of a quiet attempt that failed (its box logon request) are counted with its
    // lines.
    th_nw_connect_fold *fold = &links->connect_attempts[link_index].fold;
    const bool counted = fold->current == TH_NW_ATTEMPT_COUNTED && log_fold_level_on(logger, EA_LEVEL_EVENT);
    th_nw_handle_reset(&links->th_nw_handle_list[link_index], logger,
                       counted ? &fold->current_lines : nullptr);
    th_nw_info_note_end(links, link_index, logger);
    TH_NW_LOG_LINK(links, link_index, logger, EA_LEVEL_EVENT, "Link with index [%u] reset successfully.",
                   link_index);
    return EA_SUCCESS;
}

static void th_nw_info_close_and_reset(th_nw_info *links, uint16_t link_index, logger_object *logger)
{
    th_nw_handle *link = &links->th_nw_handle_list[link_index];
    if (link->connection_sockfd != EA_INVALID_SOCKET)
    {
        ea_closesocket(link->connection_sockfd);
        link->connection_sockfd = EA_INVALID_SOCKET;
    }
    if (th_nw_info_del_link(links, link_index, logger) != EA_SUCCESS)
        EA_LOG(logger, EA_LEVEL_EVENT, "Invalid Link Index [%u]", link_index);
}

ea_status th_nw_info_disconnect_link(th_nw_info *links, uint16_t link_index, logger_object *logger)
{
    if (link_index >= links->nclients)
    {
        EA_LOG(logger, EA_LEVEL_EVENT, "Invalid Link Index [%u]", link_index);
        return EA_SUCCESS;
    }
    // A connection taken down before its connect's outcome: the attempt ended otherwise.
    if (links->connect_attempts[link_index].fold.current == TH_NW_ATTEMPT_HELD)
        th_nw_info_settle_attempt(links, link_index, logger);
    th_nw_handle *link = &links->th_nw_handle_list[link_index];
    if (link->connection_sockfd == EA_INVALID_SOCKET)
    {
        TH_NW_LOG_LINK(links, link_index, logger, EA_LEVEL_EVENT, "Connection not present on link index [%u]",
                       link_index);
    }
    else
    {
        ea_closesocket(link->connection_sockfd);
        link->connection_sockfd = EA_INVALID_SOCKET;
        TH_NW_LOG_LINK(links, link_index, logger, EA_LEVEL_EVENT,
                       "Connection of link index [%u] and network handle [%d] disconnected", link_index,
                       link->network_handle);
    }
    if (th_nw_info_del_link(links, link_index, logger) != EA_SUCCESS)
        EA_LOG(logger, EA_LEVEL_EVENT, "Invalid Link Index [%u]", link_index);
    return EA_SUCCESS;
}

ea_status th_nw_info_add_new_connection(th_nw_info *links, uint16_t link_index, logger_object *logger)
{
    th_nw_handle *link = &links->th_nw_handle_list[link_index];
    if (ea_setsockopt(link->connection_sockfd, EA_SOCKOPT_NONBLOCKING) != 0 ||
        ea_setsockopt(link->connection_sockfd, EA_SOCKOPT_TCP_NODELAY) != 0)
    {
        int32_t error = ea_socket_last_error();
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "Error in ea_setsockopt: [%d] - [%s] for link index [%u]",
               error, ea_socket_error_text(error), link_index);
        ea_closesocket(link->connection_sockfd);
        link->connection_sockfd = EA_INVALID_SOCKET;
        return EA_VALID;
    }
    int32_t handle = -1;
    if (th_nw_info_get_new_handle(links, &handle, logger) != EA_SUCCESS)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "th_nw_info_get_new_handle failed");
        ea_closesocket(link->connection_sockfd);
        link->connection_sockfd = EA_INVALID_SOCKET;
        return EA_VALID;
    }
    link->network_handle = handle;
    TH_NW_LOG_LINK(links, link_index, logger, EA_LEVEL_EVENT,
                   "Added new network handle [%d] for socket [%d].", handle, link->connection_sockfd);
    link->receive_position = 0;
    link->send_position = 0;
    return EA_SUCCESS;
}

// Every failure of a connect after the socket was set up ends here.
static ea_status th_nw_info_connect_failed(th_nw_info *links, uint16_t link_index,
                                           int32_t *network_handle_out, logger_object *logger)
{
    *network_handle_out = -1;
    links->th_nw_handle_list[link_index].state = TH_LINK_NOT_CONNECTED;
    th_nw_info_close_and_reset(links, link_index, logger);
    th_nw_info_note_refused(links, link_index);
    return TH_NW_CONNECT_FAILED;
}

static bool th_nw_info_select(th_nw_info *links, th_nw_handle *link, int32_t mask, uint16_t link_index,
                              logger_object *logger)
{
    if (ea_sync_info_network_event_select(links->socket_event, link->connection_sockfd, mask) == 0)
        return true;
    int32_t error = ea_socket_last_error();
    TH_NW_LOG_LINK(links, link_index, logger, EA_LEVEL_EVENT,
                   "Error in ea_sync_info_network_event_select: [%d] - [%s] for link index [%u]", error,
                   ea_socket_error_text(error), link_index);
    return false;
}

// The link's connection is established (what its attempt's fold left out was said before
// the line that says so).
static void th_nw_info_connected(th_nw_info *links, th_nw_handle *link, uint16_t link_index)
{
    link->state = TH_LINK_CONNECTED;
    th_nw_info_note_established(links, link_index);
}

// A connect order that could not be carried out: its status, the failure noted for the
// spacing of the link's logons.
static ea_status th_nw_info_not_connected(th_nw_info *links, uint16_t link_index, ea_status status)
{
    if (link_index < links->nclients)
        th_nw_info_note_refused(links, link_index);
    return status;
}

ea_status th_nw_info_connect(th_nw_info *links, uint16_t link_index, int32_t *network_handle_out,
                             logger_object *logger)
{
    *network_handle_out = -1;
    link_info_record info;
    if (link_index >= links->nclients || links->link_table == nullptr ||
        user_link_info_get_link_info(links->link_table, link_index, &info) != EA_SUCCESS)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR,
               "user_link_info_get_link_info returns EA_NOT_FOUND for link index [%u]", link_index);
        return th_nw_info_not_connected(links, link_index, TH_NW_CONNECT_FAILED);
    }
    if (ea_inet_addr(info.host_machine_ip) == 0xFFFFFFFFu)
    {
        int32_t error = ea_socket_last_error();
        TH_NW_LOG_LINK(
            links, link_index, logger, EA_LEVEL_EVENT,
            "Error in ea_inet_addr due to invalid destination IP Address [%s]: [%d] - [%s] for link index [%u]",
            info.host_machine_ip, error, ea_socket_error_text(error), link_index);
        return th_nw_info_not_connected(links, link_index, TH_NW_CONNECT_FAILED);
    }
    if (ea_inet_addr(info.machine_wan_ip) == 0xFFFFFFFFu)
    {
        int32_t error = ea_socket_last_error();
        TH_NW_LOG_LINK(
            links, link_index, logger, EA_LEVEL_EVENT,
            "Error in ea_inet_addr due to invalid source IP Address [%s]: [%d] - [%s] for link index [%u]",
            info.machine_wan_ip, error, ea_socket_error_text(error), link_index);
        return th_nw_info_not_connected(links, link_index, TH_NW_CONNECT_FAILED);
    }

    int32_t sock = ea_socket(EA_AF_INET, EA_SOCK_STREAM, EA_IPPROTO_TCP);
    if (sock < 0)
    {
        int32_t error = ea_socket_last_error();
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "Error in ea_socket: [%d] - [%s] for link index [%u]", error,
               ea_socket_error_text(error), link_index);
        return EA_ERROR;
    }
    th_nw_handle *link = &links->th_nw_handle_list[link_index];
    link->connection_sockfd = sock;
    ea_status status = th_nw_info_add_new_connection(links, link_index, logger);
    if (status != EA_SUCCESS)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "th_nw_info_add_new_client failed");
        return th_nw_info_not_connected(links, link_index, status);
    }

    if (ea_bind(sock, info.machine_wan_ip, 0) != 0)
    {
        int32_t error = ea_socket_last_error();
        TH_NW_LOG_LINK(links, link_index, logger, EA_LEVEL_EVENT,
                       "Error while binding to Source IP Address [%s]: [%d] - [%s] for link index [%u]",
                       info.machine_wan_ip, error, ea_socket_error_text(error), link_index);
        return th_nw_info_connect_failed(links, link_index, network_handle_out, logger);
    }
    TH_NW_LOG_LINK(links, link_index, logger, EA_LEVEL_EVENT,
                   "Bind operation to source IP address [%s] successful", info.machine_wan_ip);

    TH_NW_LOG_LINK(links, link_index, logger, EA_LEVEL_EVENT,
                   "Connecting to IP address [%s] and port number [%d] over link [%u]", info.host_machine_ip,
                   info.host_port_number, link_index);
    int32_t result;
    int32_t error = 0;
    do
    {
        result = ea_connect(sock, info.host_machine_ip, info.host_port_number);
        error = result == 0 ? 0 : ea_socket_last_error();
    } while (result != 0 && error == EA_WSAEINTR);

    if (result == 0)
    {
        th_nw_info_settle_attempt(links, link_index, logger);
        EA_LOG(logger, EA_LEVEL_EVENT, "Connection successful for link index [%u] having nw handle [%d]",
               link_index, link->network_handle);
        if (!th_nw_info_select(links, link, EA_FD_READ | EA_FD_CLOSE, link_index, logger))
            return th_nw_info_connect_failed(links, link_index, network_handle_out, logger);
        th_nw_info_connected(links, link, link_index);
        *network_handle_out = link->network_handle;
        return EA_SUCCESS;
    }
    if (error == EA_WSAEWOULDBLOCK)
    {
        if (!th_nw_info_select(links, link, EA_FD_CONNECT, link_index, logger))
            return th_nw_info_connect_failed(links, link_index, network_handle_out, logger);
        link->state = TH_LINK_CONNECTING;
        *network_handle_out = link->network_handle;
        return EA_SUCCESS;
    }
    TH_NW_LOG_LINK(links, link_index, logger, EA_LEVEL_EVENT,
                   "Error in ea_connect: [%d] - [%s] for link index [%u]", error, ea_socket_error_text(error),
                   link_index);
    return th_nw_info_connect_failed(links, link_index, network_handle_out, logger);
}

ea_status th_nw_info_get_connection_status(th_nw_info *links, uint16_t link_index, logger_object *logger)
{
    th_nw_handle *link = &links->th_nw_handle_list[link_index];
    if (link->connection_sockfd == EA_INVALID_SOCKET)
    {
        EA_LOG(logger, EA_LEVEL_DEBUG, "Existing socket is INVALID");
        return EA_VALID;
    }
    ea_network_events events;
    if (ea_enum_network_events(link->connection_sockfd, &events) != 0)
        return EA_VALID;
    int32_t error = 0;
    if (ea_check_network_event(&events, EA_FD_READ, nullptr) ||
        ea_check_network_event(&events, EA_FD_CLOSE, nullptr))
        return EA_SUCCESS;
    if (!ea_check_network_event(&events, EA_FD_CONNECT, &error))
        return EA_VALID;
    if (error != 0)
    {
        // A host that accepts the connection and resets it before its completion is fetched
        // shows the reset as the connect's error: the connection was made all the same, and
        // its end counts for the spacing of the link's logons.
        if (error == EA_WSAECONNRESET)
            th_nw_info_note_established(links, link_index);
        else
            th_nw_info_note_refused(links, link_index);
        TH_NW_LOG_LINK(links, link_index, logger, EA_LEVEL_EVENT,
                       "Connection failed for nw handle [%d] having link index [%u]. Error Code [%d]",
                       link->network_handle, link_index, error);
        link->state = TH_LINK_NOT_CONNECTED;
        return TH_NW_CONNECT_FAILED;
    }
    if (!th_nw_info_select(links, link, EA_FD_READ | EA_FD_CLOSE, link_index, logger))
    {
        th_nw_info_note_refused(links, link_index);
        link->state = TH_LINK_NOT_CONNECTED;
        th_nw_info_close_and_reset(links, link_index, logger);
        return TH_NW_CONNECT_FAILED;
    }
    th_nw_info_settle_attempt(links, link_index, logger);
    EA_LOG(logger, EA_LEVEL_EVENT, "Connection successful for nw handle [%d] having link index [%u]",
           link->network_handle, link_index);
    th_nw_info_connected(links, link, link_index);
    return TH_NW_CONNECT_COMPLETED;
}

// A notice without data for another thread: pull, heart beat or connection loss.
static message *th_nw_info_notice(uint16_t tag, const th_nw_handle *link, uint16_t link_index)
{
    message *msg = message_create(0, tag);
    if (msg == nullptr)
        return nullptr;
    msg->host_network_handle = link->network_handle;
    msg->link_index = link_index;
    return msg;
}

static ea_status th_nw_info_report_loss(th_nw_info *links, uint16_t link_index, uint16_t reason_code,
                                        queue *notifications, logger_object *logger)
{
    th_nw_handle *link = &links->th_nw_handle_list[link_index];
    message *msg = th_nw_info_notice(HOST_CONNECTION_LOST, link, link_index);
    if (msg == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "Message_create failed");
        return EA_ERROR;
    }
    msg->reason_code = reason_code;
    if (queue_append(notifications, msg) != EA_SUCCESS)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "queue_append failed");
        EA_FREE_CHECKED(msg, message_destroy, "disconnected_mesg");
        return EA_ERROR;
    }
    TH_NW_LOG_LINK(
        links, link_index, logger, EA_LEVEL_EVENT,
        "Sent HOST_CONNECTION_LOST for nw handle [%d] having link index [%u] with reason code [%d].",
        link->network_handle, link_index, reason_code);
    // A failed connect is noted before the reset, whose lines are then counted with it.
    if (reason_code == TH_REASON_CONNECT_FAILED)
        th_nw_info_note_connect_failed(links, link_index);
    th_nw_info_close_and_reset(links, link_index, logger);
    return EA_SUCCESS;
}

static bool th_nw_info_select_for_read(th_nw_info *links, th_nw_handle *link, int32_t mask,
                                       logger_object *logger)
{
    if (ea_sync_info_network_event_select(links->socket_event, link->connection_sockfd, mask) == 0)
        return true;
    int32_t error = ea_socket_last_error();
    EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "Error in ea_sync_info_network_event_select: [%d] - [%s]", error,
           ea_socket_error_text(error));
    return false;
}

ea_status th_nw_info_recv_mesg(th_nw_info *links, queue *data_queue, uint32_t frame_limit,
                               queue *notifications, logger_object *logger)
{
    uint32_t start = static_cast<uint32_t>(links->last_serviced_link) + 1;
    if (start >= links->nclients)
        start = 0;
    uint32_t frames = 0;
    for (uint32_t i = start; i < links->nclients; ++i)
    {
        uint16_t link_index = static_cast<uint16_t>(i);
        th_nw_handle *link = &links->th_nw_handle_list[link_index];
        ea_status status = th_nw_info_get_connection_status(links, link_index, logger);
        if (status == TH_NW_CONNECT_FAILED)
        {
            if (th_nw_info_report_loss(links, link_index, TH_REASON_CONNECT_FAILED, notifications, logger) !=
                EA_SUCCESS)
                return EA_ERROR;
            continue;
        }
        if (status != EA_SUCCESS)
            continue;

        if (!th_nw_info_select_for_read(links, link, EA_FD_CLOSE, logger))
            return EA_ERROR;
        message *msg = nullptr;
        uint16_t reason_code = 0;
        ea_status read =
            th_nw_handle_recv(link, &msg, &links->receive_counter, link_index, &reason_code, logger);
        if (read == TH_NW_CONNECTION_LOST)
        {
            if (th_nw_info_report_loss(links, link_index, reason_code, notifications, logger) != EA_SUCCESS)
                return EA_ERROR;
            continue;
        }
        if (read == EA_ERROR)
        {
            EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "th_nw_handle_recv failed");
            return EA_ERROR;
        }
        if (!th_nw_info_select_for_read(links, link, EA_FD_READ | EA_FD_CLOSE, logger))
        {
            if (msg != nullptr)
                EA_FREE_CHECKED(msg, message_destroy, "received_message");
            return EA_ERROR;
        }
        if (read != EA_SUCCESS)
            continue;
        msg->link_index = link_index;
        if (queue_append(data_queue, msg) != EA_SUCCESS)
        {
            EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "queue_append failed");
            EA_FREE_CHECKED(msg, message_destroy, "received_message");
            return EA_ERROR;
        }
        if (++frames >= frame_limit)
        {
            links->last_serviced_link = link_index;
            return EA_SUCCESS;
        }
    }
    links->last_serviced_link = links->nclients;
    return frames > 0 ? EA_SUCCESS : EA_VALID;
}

ea_status th_nw_info_get_elements(th_nw_info *links, uint32_t frame_limit, shared_queue **shared_queues,
                                  uint32_t shared_queue_count, uint32_t timeout_ms, queue *data_queue,
                                  queue *notifications, queue **local_queues, logger_object *logger)
{
    uint32_t count = shared_queue_count + 1;
    if (count > EA_MAX_WAIT_OBJECTS)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR,
               "Number of events [%d] are greater than MAXIMUM WAIT OBJECTS : [%d]",
               static_cast<int32_t>(count), static_cast<int32_t>(EA_MAX_WAIT_OBJECTS));
        return EA_ERROR;
    }
    ea_sync_info *objects[EA_MAX_WAIT_OBJECTS];
    // While the last receive pass stopped before the last link, the always-set event
    // makes the wait return at once so that reading resumes with the next link.
    bool resume = links->nclients > 0 && links->last_serviced_link < links->nclients - 1;
    objects[0] = resume ? links->always_set_event : links->socket_event;
    for (uint32_t i = 0; i < shared_queue_count; ++i)
        objects[i + 1] = shared_queue_get_sync_info(shared_queues[i]);

    int32_t found = -1;
    ea_status status =
        ea_sync_info_wait_for_multiple_netwrok_event_objects(objects, count, false, timeout_ms, &found);
    if (status == EA_WAIT_TIME_OUT)
        return EA_NO_DATA;
    if (status != EA_SUCCESS || found < 0 || static_cast<uint32_t>(found) >= count)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "ea_sync_info_wait_for_multiple_netwrok_event_objects failed");
        return EA_ERROR;
    }
    uint32_t index = static_cast<uint32_t>(found);
    for (;;)
    {
        if (index == 0)
        {
            if (!resume && ea_sync_info_reset_network_event(links->socket_event) != EA_SUCCESS)
            {
                EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "ea_sync_info_reset_network_event failed.");
                return EA_ERROR;
            }
            if (th_nw_info_recv_mesg(links, data_queue, frame_limit, notifications, logger) == EA_ERROR)
            {
                EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "th_nw_info_recv_mesg failed");
                return EA_ERROR;
            }
        }
        else if (shared_queue_get_elements_no_wait(shared_queues[index - 1], local_queues[index - 1]) !=
                 EA_SUCCESS)
        {
            EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "shared_queue_get_elements_no_wait failed");
            return EA_ERROR;
        }
        uint32_t next = index + 1;
        if (next >= count)
            break;
        status = ea_sync_info_wait_for_multiple_netwrok_event_objects(objects + next, count - next, false, 0,
                                                                      &found);
        if (status == EA_WAIT_TIME_OUT)
            break;
        if (status != EA_SUCCESS || found < 0)
        {
            EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR,
                   "ea_sync_info_wait_for_multiple_netwrok_event_objects failed");
            return EA_ERROR;
        }
        index = next + static_cast<uint32_t>(found);
    }
    return EA_SUCCESS;
}

ea_status th_nw_info_send_mesg(th_nw_info *links, message *msg, logger_object *logger)
{
    th_nw_handle *link =
        msg->link_index < links->nclients ? &links->th_nw_handle_list[msg->link_index] : nullptr;
    // A link without a connection takes nothing: a frame queued there would otherwise
    // leave ahead of the sign-on of the next connection.
    if (link == nullptr || link->network_handle == -1 || msg->host_network_handle != link->network_handle)
    {
        EA_LOG(logger, EA_LEVEL_BUSINESS_ERROR,
               "th_nw_handle [%d] not found. So discarding the message. sequence number [%lu]",
               msg->host_network_handle, static_cast<unsigned long>(msg->sequence_number));
        EA_FREE_CHECKED(msg, message_destroy, "message_ptr");
        return EA_NOT_FOUND;
    }
    link->pull_flag = 0;
    if (th_nw_handle_send(link, TH_NW_HANDLE_QUEUE, msg, &link->pending_count,
                          th_nw_info_rate_limit(links, msg->link_index), logger) == EA_ERROR)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "th_nw_handle_send failed");
        return EA_ERROR;
    }
    return EA_VALID;
}

ea_status th_nw_info_send_pending(th_nw_info *links, queue *notifications, logger_object *logger)
{
    for (uint16_t i = 0; i < links->nclients; ++i)
    {
        th_nw_handle *link = &links->th_nw_handle_list[i];
        if (link->network_handle == -1 || link->state != TH_LINK_CONNECTED)
            continue;
        if (link->pending_count >= 1)
        {
            if (th_nw_handle_send(link, TH_NW_HANDLE_SEND_PENDING, nullptr, &link->pending_count,
                                  th_nw_info_rate_limit(links, i), logger) == EA_ERROR)
            {
                EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "th_nw_handle_send failed");
                return EA_ERROR;
            }
            if (link->pending_count != 0)
                continue;
        }
        if (link->pull_flag == 1)
            continue;
        message *msg = th_nw_info_notice(PULL_NOTIFICATION, link, i);
        if (msg == nullptr)
        {
            EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "message_create failed");
            return EA_ERROR;
        }
        if (queue_append(notifications, msg) != EA_SUCCESS)
        {
            EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "queue_append failed");
            EA_FREE_CHECKED(msg, message_destroy, "pull_notify_mesg");
            return EA_ERROR;
        }
        link->pull_flag = 1;
        EA_LOG(logger, EA_LEVEL_ACTIVITY, "Sent PULL_NOTIFICATION for nw handle [%d] having link index [%u]",
               link->network_handle, i);
    }
    return EA_SUCCESS;
}

ea_status th_nw_info_check_queue_thresholds(th_nw_info *links, logger_object *logger)
{
    for (uint16_t i = 0; i < links->nclients; ++i)
    {
        th_nw_handle *link = &links->th_nw_handle_list[i];
        if (link->state != TH_LINK_CONNECTED)
            continue;
        ea_flag *flag = &links->allow_invitations_flag[i];
        int16_t rate_limit = th_nw_info_rate_limit(links, i);
        uint32_t waiting = queue_get_count(link->pending_queue);
        if (rate_limit < 1)
        {
            if (ea_flag_get(flag) != 0)
            {
                EA_LOG(
                    logger, EA_LEVEL_ACTIVITY,
                    "Setting allow_invitation_flag to FALSE of link index [%u] as rate control count is [%d]",
                    i, rate_limit);
                ea_flag_set(flag, 0);
            }
        }
        else if (waiting > links->lower_threshold || ea_flag_get(flag) == 1)
        {
            if (waiting >= links->upper_threshold && ea_flag_get(flag) != 0)
            {
                EA_LOG(
                    logger, EA_LEVEL_ACTIVITY,
                    "Setting allow_invitation_flag  to FALSE of link index [%u] as pending message count [%d] reached upper threshold [%d]",
                    i, static_cast<int32_t>(waiting), static_cast<int32_t>(links->upper_threshold));
                ea_flag_set(flag, 0);
            }
        }
        else
        {
            EA_LOG(
                logger, EA_LEVEL_ACTIVITY,
                "Setting allow_invitation_flag to  TRUE of link index [%u] as pending message count [%d] reduced to lower threshold [%d]",
                i, static_cast<int32_t>(waiting), static_cast<int32_t>(links->lower_threshold));
            ea_flag_set(flag, 1);
        }
    }
    return EA_SUCCESS;
}

ea_status th_nw_info_process_links(th_nw_info *links, queue *out, logger_object *logger)
{
    uint32_t now = ea_get_tick_count();
    for (uint16_t i = 0; i < links->nclients; ++i)
    {
        th_nw_handle *link = &links->th_nw_handle_list[i];
        if (link->state != TH_LINK_CONNECTED || link->last_send_tick == 0 || link->heart_beat_flag != 0)
            continue;
        if (ea_get_tick_difference(now, link->last_send_tick) <= links->heart_beat_interval)
            continue;
        message *msg = th_nw_info_notice(GENERATE_HEART_BEAT_MESSAGE, link, i);
        if (msg == nullptr)
        {
            EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "message_create failed");
            return EA_ERROR;
        }
        link->heart_beat_flag = 1;
        if (queue_append(out, msg) != EA_SUCCESS)
        {
            EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "queue_append failed");
            EA_FREE_CHECKED(msg, message_destroy, "next_message_in_queue");
            return EA_ERROR;
        }
        EA_LOG(logger, EA_LEVEL_ACTIVITY,
               "Sent GENERATE_HEART_BEAT_MESSAGE notification for nw handle [%d] having link index [%u]",
               link->network_handle, i);
    }
    return EA_SUCCESS;
}
