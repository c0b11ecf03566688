// th_nw_info: the host network layer, one per process. It holds one th_nw_handle per
// host link, connects a link from its local address to the trading host, runs the
// round-robin receive pass, waits on the sockets and the host network thread's input
// queues together, and gives the pull, heart-beat and connection-loss notices. It also
// writes the per-link invitation flags (back-pressure towards the workstations), notes
// when each link's connections are established, end or fail to connect, for the spacing
// of its box logons (th_nw_backoff.h), and writes what it says about a link's attempts to
// connect through the link's fold of failed connects (th_nw_connect_fold.h). All of it
// runs in the host network thread; nothing here is locked.
#pragma once

#include <cstdint>

#include "common/ea_status.h"
#include "gateway/runtime/ea_flag.h"
#include "gateway/runtime/logger.h"
#include "gateway/th_network_handle/th_nw_backoff.h"
#include "gateway/th_network_handle/th_nw_connect_fold.h"
#include "gateway/th_network_handle/th_nw_handle.h"

struct ea_sync_info;
struct logger_object;
struct message;
struct queue;
struct shared_queue;
struct user_link_info;

enum
{
    TH_NW_INFO_DEFAULT_HEART_BEAT_MS = 30000,
    TH_NW_INFO_NO_LINK_SERVICED = 0xFFFF,
    // Room for the lines of a quiet attempt until its outcome: a story of at most eight lines
    // before it (the order, a hold, the bind and the connect, their answers) fits whole.
    TH_NW_INFO_HELD_LINES_BYTES = 8 * (EA_LOG_LINE_SIZE + 2),
};

// Statuses of th_nw_info_get_connection_status besides 0 and 203.
enum : int32_t
{
    TH_NW_CONNECT_COMPLETED = 500,
    TH_NW_CONNECT_FAILED = 501,
};

// A link's connection attempts: their spacing, a box logon request held until the
// spacing allows it, the fold of what failed connects write and raise, and the lines of a
// quiet attempt held until its outcome (each a u16 length, then the line as made).
struct th_nw_connect_attempts
{
    th_nw_backoff backoff;
    message *held_order; // null when none is held
    th_nw_connect_fold fold;
    uint8_t held_lines[TH_NW_INFO_HELD_LINES_BYTES];
    uint32_t held_length;
};

struct th_nw_info
{
    ea_flag *box_rate_control_count; // per link: weight per second; written by box communication
    ea_flag *allow_invitations_flag; // per link: written here, read by the workstation server
    th_nw_handle *th_nw_handle_list;
    ea_sync_info *socket_event;     // every link's socket is selected on it
    ea_sync_info *always_set_event; // set once, never reset
    uint16_t nclients;
    int32_t next_handle;
    int32_t wrap_flag;
    uint16_t last_serviced_link;
    uint32_t receive_counter;
    uint32_t heart_beat_interval; // ms
    uint32_t upper_threshold;
    uint32_t lower_threshold;
    user_link_info *link_table;
    bool socket_library_started;
    th_nw_connect_attempts *connect_attempts; // one per link
};

th_nw_info *th_nw_info_create(const char *config_file, uint16_t number_of_links,
                              ea_flag *box_rate_control_count, user_link_info *link_table,
                              ea_flag *allow_invitations_flag, logger_object *logger);
void th_nw_info_destroy(th_nw_info *links);

ea_status th_nw_info_connect(th_nw_info *links, uint16_t link_index, int32_t *network_handle_out,
                             logger_object *logger);
// Sets up the socket that connect stored in the link record: non-blocking, no send
// coalescing, a new network handle. 0, or 203 with the socket closed.
ea_status th_nw_info_add_new_connection(th_nw_info *links, uint16_t link_index, logger_object *logger);
ea_status th_nw_info_get_new_handle(th_nw_info *links, int32_t *handle_out, logger_object *logger);
ea_status th_nw_info_send_mesg(th_nw_info *links, message *msg, logger_object *logger);
ea_status th_nw_info_send_pending(th_nw_info *links, queue *notifications, logger_object *logger);
ea_status th_nw_info_get_connection_status(th_nw_info *links, uint16_t link_index, logger_object *logger);
ea_status th_nw_info_recv_mesg(th_nw_info *links, queue *data_queue, uint32_t frame_limit,
                               queue *notifications, logger_object *logger);
ea_status th_nw_info_get_elements(th_nw_info *links, uint32_t frame_limit, shared_queue **shared_queues,
                                  uint32_t shared_queue_count, uint32_t timeout_ms, queue *data_queue,
                                  queue *notifications, queue **local_queues, logger_object *logger);
ea_status th_nw_info_disconnect_link(th_nw_info *links, uint16_t link_index, logger_object *logger);
ea_status th_nw_info_del_link(th_nw_info *links, uint16_t link_index, logger_object *logger);
ea_status th_nw_info_check_queue_thresholds(th_nw_info *links, logger_object *logger);
ea_status th_nw_info_process_links(th_nw_info *links, queue *out, logger_object *logger);

// The way of a line of this level about the link's attempts to connect: written now, held
// (th_nw_info_hold_link_line) or counted by the link's fold.
th_nw_attempt_lines th_nw_info_link_line(th_nw_info *links, uint16_t link_index, const logger_object *logger,
                                         int16_t level);
void th_nw_info_hold_link_line(th_nw_info *links, uint16_t link_index, logger_object *logger,
                               const char *function, const char *source_file, uint32_t source_line,
                               int16_t level, const char *format, ...) __attribute__((format(printf, 8, 9)));
// A box logon or relogon order begins an attempt to connect the link: the one before it is
// over (one whose lines were held is settled), and a count its fold owes is said.
void th_nw_info_begin_attempt(th_nw_info *links, uint16_t link_index, logger_object *logger);
// A connect of the link failed, reported with 12009: its fold notes it and counts the
// lines the attempt held (the spacing of the link's logons noted it as it failed).
void th_nw_info_note_connect_failed(th_nw_info *links, uint16_t link_index);
// The link's attempt ended in anything but a failed connect: what its fold left out is said
// now, then the lines the attempt held, and what follows is written.
void th_nw_info_settle_attempt(th_nw_info *links, uint16_t link_index, logger_object *logger);
// Writes, for every link, the count of lines its fold left out that is due (with `all`,
// every count, and the lines still held). Every pass of the host network thread, before
// its records.
void th_nw_info_connect_fold_lines(th_nw_info *links, bool all, logger_object *logger);

// EA_LOG about a link's attempt to connect, through the link's fold.
#define TH_NW_LOG_LINK(links, link_index, logger, level, ...)                                                \
    TH_NW_LOG_LINK_IN(__func__, links, link_index, logger, level, __VA_ARGS__)
// The same under the name of the function whose line it is (EA_LOG_IN).
#define TH_NW_LOG_LINK_IN(function, links, link_index, logger, level, ...)                                   \
    do                                                                                                       \
    {                                                                                                        \
        const th_nw_attempt_lines way_of_line =                                                              \
            th_nw_info_link_line((links), (link_index), (logger), (level));                                  \
        if (way_of_line == TH_NW_ATTEMPT_WRITTEN)                                                            \
            EA_LOG_IN(function, logger, level, __VA_ARGS__);                                                 \
        else if (way_of_line == TH_NW_ATTEMPT_HELD)                                                          \
            th_nw_info_hold_link_line((links), (link_index), (logger), function, __FILE__, __LINE__,         \
                                      (level), __VA_ARGS__);                                                 \
    } while (0)

// The host network thread (th_nw_handler_thread.cpp).
#include "gateway/th_network_handle/th_nw_handler_thread.h"
