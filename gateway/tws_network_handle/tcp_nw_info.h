// tcp_nw_info: the gateway's TCP server for trader workstations. It listens on one
// address, holds accepted sockets until the box communication module says whether new
// connections are admitted, gives each admitted connection a slot (its workstation index)
// and a network handle, reads frames from the connections in turn, queues outgoing
// records on the connection a record names, and invites each workstation to send its next
// FLOW_CONTROL_COUNT frames only while the host link serving it can take the traffic.
// The workstation network thread is the only thread that touches it.
#pragma once

#include <cstdint>

#include "common/ea_status.h"
#include "gateway/runtime/ea_flag.h"
#include "gateway/shared/connection_book.h"
#include "gateway/shared/log_fold.h"
#include "gateway/shared/log_hold.h"
#include "gateway/tws_network_handle/tcp_nw_admission.h"
#include "gateway/tws_network_handle/tcp_nw_handle.h"

struct ea_sync_info;
struct logger_object;
struct message;
struct queue;
struct shared_queue;

enum
{
    TCP_NW_INFO_ADDRESS_SIZE = 16,
    TCP_NW_INFO_DEFAULT_PORT = 9602,
    TCP_NW_INFO_DEFAULT_PENDING_LIMIT = 50000,
    TCP_NW_INFO_LISTEN_BACKLOG = 5,
    TCP_NW_INFO_NO_RESUME = 0xFFFF,
    // A connection holds a slot only while it uses it: it signs on within this time of its
    // admission (time its first frame waits in the gateway not counted), and no part of a
    // frame waits longer for the rest.
    TCP_NW_INFO_SIGN_ON_TIMEOUT_MS = 30000,
    TCP_NW_INFO_PARTIAL_FRAME_TIMEOUT_MS = 30000,
    TCP_NW_INFO_IDLE_CHECK_INTERVAL_MS = 1000,
    // Newcomers that wait for a place to come free (tcp_nw_admission.h) at once; while they
    // are as many, the listener is not served and later ones wait in its queue, in order.
    TCP_NW_INFO_WAITING_NEWCOMERS = 4,
};

// A socket accepted and waiting: for a place (place TCP_NW_INFO_NO_PLACE) or, in its place,
// for box communication's verdict.
struct tcp_nw_pending
{
    int32_t socket;
    uint32_t address;
    uint32_t accepted_tick;
    uint16_t place;
    uint32_t serial;      // its serial in the admission policy
    log_hold_entry *held; // what is written about it until it signs on
};

enum : uint16_t
{
    TCP_NW_INFO_NO_PLACE = 0xFFFF,
};

// Operations of tcp_nw_info_process_incoming_clients.
enum : int32_t
{
    TCP_NW_INFO_ADMIT = 26,
    TCP_NW_INFO_REFUSE = 27,
};

// Results of tcp_nw_info_get_client besides 0, 203 and 10000.
enum
{
    TCP_NW_INFO_REFUSED = 10,
};

struct tcp_nw_info
{
    char listen_address[TCP_NW_INFO_ADDRESS_SIZE];
    uint16_t port;
    int32_t listen_sockfd;
    uint16_t socket_library_started;
    ea_sync_info *listener_event;
    ea_sync_info *client_event;   // shared by every connection socket
    ea_sync_info *continue_event; // always set; stands in for client_event mid-cycle
    queue *pending_sockets;       // tcp_nw_pending records: accepted, waiting for the box's verdict
    tcp_nw_handle *tcp_nw_handle_list;
    tcp_nw_handle **valid_client_list; // slots in use, in order of admission
    uint16_t in_use_count;
    uint16_t max_clients;
    int32_t next_handle;
    int32_t wrap_around;
    int32_t total_pending;
    int32_t pending_limit;
    uint16_t resume_position;
    int32_t invitation_count;
    uint32_t receive_sequence;
    message *client_invitation_message;
    ea_flag *recovery_queue_overflow; // per link
    ea_flag *allow_invitations_flag;  // per link
    ea_flag *session_recovery_flag;   // per link
    ea_flag *user_logoff_in_progress; // per user slot
    ea_flag *abnormal_state_flag;
    uint16_t invitations_due;
    uint32_t last_idle_check;   // tick of the last look for connections that hold a slot idle
    uint32_t slots_given;       // connections closed to give their slot to a new one, not yet reported
    uint32_t lost_at_admission; // sockets the peer reset before their admission, not yet reported
    // Who may have a place, and which first frames go on (tcp_nw_admission.h); the newcomers
    // waiting for a place, oldest first; an event never set, waited on instead of the listener
    // while as many newcomers wait as may.
    tcp_nw_admission *admission;
    tcp_nw_pending waiting[TCP_NW_INFO_WAITING_NEWCOMERS];
    uint16_t waiting_count;
    ea_sync_info *quiet_event;
    uint16_t box_notice_due; // a socket came to an empty queue of those waiting for a verdict
    // Which connection holds each slot and which signed on (shared with the threads that
    // hold their lines), and this thread's own hold of what it writes about connections.
    connection_book *book;
    log_hold *held_lines;
    // Lines about admission rounds, which serve every socket waiting at once; the lines
    // saying why first frames wait, one fold for each reason.
    log_fold admission_lines;
    log_fold hold_lines[TCP_NW_HOLD_KINDS];
    // Console events about connections that have not signed on, folded per reason and user.
    tcp_nw_event_folds *event_folds;
};

tcp_nw_info *tcp_nw_info_create(const char *config_file, uint16_t max_clients,
                                ea_flag *allow_invitations_flag, ea_flag *recovery_queue_overflow,
                                ea_flag *abnormal_state_flag, ea_flag *user_logoff_in_progress,
                                ea_flag *session_recovery_flag, logger_object *logger);
void tcp_nw_info_destroy(tcp_nw_info *server);
// PORT_NUMBER as the server listens on it (the default when the key is missing or below
// 1025), read and logged without binding it. False for a value past 65535.
bool tcp_nw_info_read_port(const char *config_file, uint16_t *port, logger_object *logger);

ea_status tcp_nw_info_start(tcp_nw_info *server, logger_object *logger);
ea_status tcp_nw_info_get_elements(tcp_nw_info *server, uint32_t receive_batch_limit, shared_queue **inputs,
                                   uint32_t input_count, uint32_t wait_time_ms, queue *data_queue,
                                   queue *disconnect_queue, uint16_t *pending_sockets, uint32_t *refused,
                                   queue **locals, logger_object *logger);
// A connection is admitted whenever a slot is free. When every slot is taken, the admission
// policy (tcp_nw_admission.h) says whether it takes the place of a connection that has not
// signed on (closed at once, counted in slots_given), waits for a place that may come free
// (0, with the socket among the waiting newcomers), or is refused (10).
ea_status tcp_nw_info_get_client(tcp_nw_info *server, uint16_t *pending_sockets, logger_object *logger);
ea_status tcp_nw_info_process_incoming_clients(tcp_nw_info *server, int32_t operation, message *msg,
                                               queue *notifications, logger_object *logger);
ea_status tcp_nw_info_add_new_client(tcp_nw_info *server, int32_t socket, int32_t *network_handle,
                                     uint16_t *workstation_index, logger_object *logger);
ea_status tcp_nw_info_get_new_handle(tcp_nw_info *server, int32_t *network_handle, logger_object *logger);
ea_status tcp_nw_info_recv_mesg(tcp_nw_info *server, queue *data_queue, uint32_t receive_batch_limit,
                                queue *disconnect_queue, logger_object *logger);
ea_status tcp_nw_info_get_client_status(tcp_nw_info *server, uint16_t workstation_index,
                                        logger_object *logger);
ea_status tcp_nw_info_send_mesg(tcp_nw_info *server, message *msg, queue *notifications,
                                logger_object *logger);
ea_status tcp_nw_info_send_pending(tcp_nw_info *server, queue *disconnect_queue, queue *notifications,
                                   logger_object *logger);
ea_status tcp_nw_info_send_pending_invitations(tcp_nw_info *server, queue *notifications,
                                               logger_object *logger);
ea_status tcp_nw_info_disconnect_client(tcp_nw_info *server, message *msg, logger_object *logger);
ea_status tcp_nw_info_del_client(tcp_nw_info *server, uint16_t workstation_index, logger_object *logger);
ea_status tcp_nw_info_update_index(tcp_nw_info *server, message *msg, uint16_t number_of_links,
                                   logger_object *logger);
// At most once a second: closes every connection that has not signed on (nor sent its
// sign-on on) within 30 s of its admission, the time its first frame waited in the gateway
// not counted, or has held part of a frame for 30 s, each with a CLIENT_DISCONNECTED record
// on the disconnect queue (so the user session layer and the console hear of it). 0 or 10000.
ea_status tcp_nw_info_check_idle_clients(tcp_nw_info *server, queue *disconnect_queue, logger_object *logger);

// Every pass: the connections the book says signed on (what was held about them is
// written), the first frames that may now go on (to `data_queue`), the newcomers waiting for
// a place, the held lines' verdicts and counts. 0 or 10000.
// Newcomers refused now, after waiting, are added to *refused.
ea_status tcp_nw_info_watch_connections(tcp_nw_info *server, queue *data_queue, uint32_t *refused,
                                        const char *routine, logger_object *logger);
// At the thread's stop: the sockets still waiting and every connection still held count as
// ended, and every count due is written now.
void tcp_nw_info_stop_lines(tcp_nw_info *server, const char *routine, logger_object *logger);

// The console events due for refused connections, `refused` more of them just now: the
// first after a quiet second is raised at once with its usual event (*at_once 1); the later
// ones are counted and, a second after the last event, raised as one event whose extra
// info says how many (*folded, 0 when none is due).
void tcp_nw_info_refusal_events(tcp_nw_info *server, uint32_t refused, uint32_t *at_once, uint32_t *folded);

// Writes under `routine` the count of first frames that waited in the gateway for each
// reason beyond the first of a spell, once a second (with `all`, now).
void tcp_nw_info_report_holds(tcp_nw_info *server, const char *routine, logger_object *logger, bool all);

// Console events about connections that have not signed on are folded so, one fold per
// reason code and user id (0 for a connection that named no user): true when an event of
// this pair is to be raised now, false when it is counted instead.
bool tcp_nw_info_unsigned_event(tcp_nw_info *server, uint16_t reason_code, uint32_t user_id);
// The folded events due now, at most `max`; the number filled. With `all`, every count
// still open is due (the thread's stop).
uint32_t tcp_nw_info_unsigned_events_due(tcp_nw_info *server, tcp_nw_folded_event *due, uint32_t max,
                                         bool all);

// Whether a record that the session layer sends down (DROP_CLIENT, USER_LOGOFF_FLUSH) is
// about a connection on which no user signed on (the host never accepted its sign-on), as
// the connection book says, whether the connection still holds its slot or not.
bool tcp_nw_info_is_unsigned(tcp_nw_info *server, const message *msg);

// The workstation network thread (tws_nw_handler_thread.cpp); its argument record is
// tws_nw_handler_thread_args (tws_nw_handler_thread.h).
uint32_t tws_nw_handler_thread(void *argument);
