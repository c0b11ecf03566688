// box_comm_info_container: the box communication controller. It signs the gateway's box
// (BOX_ID, BROKER_ID) on to the trading host over every host link, keeps one box status
// and one host session status per link, decides between session recovery and box logoff
// when a host connection breaks, applies the host's rate control and answers new client
// connections once the box logon's outcome is known. It never touches a socket: every
// effect on a host connection is a control record for the host session or network thread.
// Only the box communication thread calls these functions; other threads read the few
// fields marked "shared" below without a lock, which is why those fields are atomics.
#pragma once

#include <atomic>
#include <cstdint>

#include "common/ea_status.h"
#include "gateway/runtime/ea_flag.h"
#include "gateway/shared/log_fold.h"

struct logger_object;
struct message;
struct queue;
struct shared_queue;
struct user_link_info;

enum
{
    BOX_BROKER_ID_SIZE = 6,
    BOX_REQUEST_TIMEOUT_MS = 10000,
    BOX_DEFAULT_RATE_CONTROL_HEART_BEAT_MS = 30000,
    BOX_SESSION_RECOVERY_WINDOW_MS = 20000,
    BOX_RELOGON_SPACING_MS = 1000,
    BOX_RELOGON_DURING_LOGON_ERROR = 15000, // event value of 12001 when a relogon answer meets a logon
    BOX_FULL_RATE_PERCENT = 100,
    BOX_SESSION_SEQUENCE_LIMIT = 32000, // session sequence numbers run 1 to 32000
};

enum box_status : int16_t
{
    LOGGED_OFF = 0,
    LOGOFF_IN_PROGRESS = 1,
    LOGGED_ON = 2,
    LOGON_IN_PROGRESS = 3,
};

enum session_status : int16_t
{
    INACTIVE = 0,
    CLEANUP_IN_PROGRESS = 1,
    RECOVERY_IN_PROGRESS = 2,
    ESTABLISHED = 3,
};

// Console reason codes raised or passed on by the controller.
enum : uint16_t
{
    REASON_BOX_SIGN_ON_REFUSED = 12001,
    REASON_BOX_LOGGED_OFF_BY_HOST = 12002,
    REASON_BOX_NO_SIGN_ON_RESPONSE = 12003,
    REASON_HOST_SESSION_TIMED_OUT = 12005,
    REASON_HOST_SEQUENCE_FAILURE = 12007,
    REASON_HOST_CONNECT_FAILED = 12009,
    REASON_BOX_LOGGED_ON = 12010,
    REASON_SYSTEM_NOT_READY = 12011,
    REASON_SYSTEM_READY = 12012,
    REASON_BOX_PARAMETERS_AWAITED = 12015,
    REASON_BOX_PARAMETERS_APPLIED = 12016,
    REASON_BOX_PARAMETERS_FAILED = 12017,
};

// One per host link. Ticks are ea_get_tick_count values; 0 marks a timer as off.
struct box_comm_info
{
    uint16_t link_valid;
    ea_flag logon_complete;          // shared: read by the user session layer
    std::atomic<int16_t> box_status; // shared: read by the console interface
    int16_t session_status;
    std::atomic<int32_t> host_nw_handle; // shared: read by the host session layer
    uint32_t request_sent_timer;
    uint32_t relogon_timer;
    uint32_t session_recovery_start;
    std::atomic<uint32_t> link_inactivity_timer; // shared: read by the user session layer
    int16_t logoff_reason;
    int32_t host_error_code;
    ea_flag session_recovery_enabled; // shared: read by the host session layer
    uint32_t box_rate_control_timer;
    int16_t rate_control_per;
    int16_t next_expected_transcode;
    uint16_t first_box_relogon_attempt_flag;
    std::atomic<int32_t> max_users_per_box; // shared: read by the user session layer
};

struct box_comm_info_container
{
    uint16_t box_id; // first field: read by the user session and interface modules
    char broker_id[BOX_BROKER_ID_SIZE];
    int32_t version_number;
    ea_flag *base_rate_control;
    ea_flag *box_rate_control_count; // one per link
    uint32_t incoming_client_response_pending;
    uint32_t incoming_fix_client_response_pending;
    uint32_t incoming_tws_client_response_pending;
    uint32_t number_of_links;
    uint32_t box_request_timeout;
    box_comm_info *box_comm_info_array;
    user_link_info *link_table;
    int32_t rate_control_heart_beat_time_interval;
    int32_t max_clients;
    // The admission of workstation connections, asked for by every connection before it
    // can sign on: its lines are folded (log_fold.h), so that a flood of connections that
    // never sign on cannot fill the log.
    log_fold tws_admission_lines;
};

box_comm_info_container *box_comm_info_container_create(const char *config_file, uint16_t number_of_links,
                                                        ea_flag *box_rate_control_count,
                                                        user_link_info *link_table,
                                                        ea_flag *base_rate_control, uint16_t max_clients,
                                                        logger_object *logger);
void box_comm_info_container_destroy(box_comm_info_container *container);

// Records from the host session thread (shared queue 9): the host's box records.
ea_status box_comm_info_container_process_th_session_messages(box_comm_info_container *container,
                                                              queue *input, queue *to_th_network,
                                                              queue *to_th_session, queue *to_interface,
                                                              logger_object *logger);
// Notifications (shared queue 14).
ea_status box_comm_info_container_process_notifications(box_comm_info_container *container, queue *input,
                                                        queue *to_th_session, queue *to_th_network,
                                                        queue *to_tws_send_validator, queue *to_fix_send,
                                                        queue *to_interface, logger_object *logger);
// Per-pass work: every link's timers, then the held connection answer.
ea_status box_comm_info_container_process_box(box_comm_info_container *container, queue *to_th_network,
                                              queue *to_tws_send_validator, queue *to_fix_send,
                                              queue *to_th_session, logger_object *logger);

uint16_t box_comm_info_container_is_valid_link(box_comm_info_container *container, uint16_t link_index,
                                               logger_object *logger);

// The three status changes shared by the handlers.
ea_status box_comm_info_container_logon_box(box_comm_info_container *container, uint16_t link_index,
                                            queue *to_interface, logger_object *logger);
ea_status box_comm_info_container_initiate_box_logoff(box_comm_info_container *container, uint16_t link_index,
                                                      uint16_t reason_code, queue *to_th_network,
                                                      logger_object *logger);
ea_status box_comm_info_container_logoff_box(box_comm_info_container *container, uint16_t link_index,
                                             int32_t host_nw_handle, uint16_t reason_code,
                                             queue *to_th_session, logger_object *logger);

// Session recovery: close the connection when asked, then schedule the next relogon, or log
// the box off when recovery is disabled or its window has passed.
ea_status box_comm_info_container_initiate_box_relogon_attempt(box_comm_info_container *container,
                                                               uint16_t link_index, queue *to_th_network,
                                                               queue *to_th_session, uint16_t drop_flag,
                                                               logger_object *logger);

// Argument record of the box communication thread, filled by main.
struct box_comm_thread_args
{
    box_comm_info_container *container;
    shared_queue *from_th_session;       // shared queue 9
    shared_queue *notifications;         // shared queue 14
    shared_queue *to_th_session;         // shared queue 10
    shared_queue *to_tws_send_validator; // shared queue 15
    shared_queue *to_fix_send;           // shared queue 22
    shared_queue *to_th_network;         // shared queue 16
    shared_queue *to_interface;          // shared queue 19
    uint32_t wait_time_ms;
    ea_flag *day_flag;
    ea_flag *shutdown_flag;
    logger_object *logger;
};

uint32_t box_comm_thread(void *argument);
