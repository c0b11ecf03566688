// th_nw_info: the host network layer, one per process. It holds one th_nw_handle per
// host link, connects a link from its local address to the trading host, runs the
// round-robin receive pass, waits on the sockets and the host network thread's input
// queues together, and gives the pull, heart-beat and connection-loss notices. It also
// writes the per-link invitation flags (back-pressure towards the workstations) and
// notes when each link's connections are established, end or fail to connect, for the
// spacing of its box logons (th_nw_backoff.h). All of it runs in the host network thread;
// nothing here is locked.
#pragma once

#include <cstdint>

#include "common/ea_status.h"
#include "gateway/runtime/ea_flag.h"
#include "gateway/th_network_handle/th_nw_backoff.h"
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
};

// Statuses of th_nw_info_get_connection_status besides 0 and 203.
enum : int32_t
{
    TH_NW_CONNECT_COMPLETED = 500,
    TH_NW_CONNECT_FAILED = 501,
};

// A link's connection attempts: their spacing, and a box logon request held until the
// spacing allows it.
struct th_nw_connect_attempts
{
    th_nw_backoff backoff;
    message *held_order; // null when none is held
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

// The host network thread (th_nw_handler_thread.cpp).
#include "gateway/th_network_handle/th_nw_handler_thread.h"
