// host_session_info_container: the host session layer, one session per host link. It
// numbers every sequenced record that leaves for the trading host (1 to 32000, then 1
// again), checks the number of every record that arrives, keeps each unacknowledged record
// in a recovery queue until the host's last-received number covers it, times the oldest
// one, builds heart beats, sorts the host's single-record packets into box records, heart
// beats, acknowledgements and data, and carries the box logoff and session recovery
// flushes through its per-link state. Only the host session thread touches it.
#pragma once

#include <cstdint>

#include "common/ea_status.h"
#include "gateway/runtime/ea_flag.h"

struct logger_object;
struct box_comm_info_container;
struct message;
struct queue;
struct shared_queue;

enum
{
    HOST_SESSION_DEFAULT_RESPONSE_TIMEOUT_MS = 190000,
    HOST_SESSION_SEQUENCE_LIMIT = 32000,
    HOST_SESSION_SEQUENCE_FAILURE = 10, // verdict of resp_validate
    HOST_SESSION_TIMER_EXPIRED = 500,   // verdict of process_timers
    HOST_SESSION_HEART_BEAT_SIZE = 4,
    HOST_SESSION_MINIMUM_PACKET = 4,
};

struct host_session_info
{
    int16_t least_send_seq_no;
    int16_t last_send_seq_no;
    int16_t send_sequence_no;
    int16_t recv_sequence_no;
    int16_t last_recv_seq_no;
    queue *recovery_queue;
    int16_t send_sequence_wrap_around_flag;
    uint32_t discard_flag;
    int16_t validation_failure_flag;
    // Host connection on which the sequence failure was seen: a record from a later
    // connection of the link starts a new inbound stream and is checked again.
    int32_t validation_failure_nw_handle;
    uint32_t unacknowledged_weight;
    int16_t relogon_status_flag;
    uint32_t unacknowledged_message_count;
};

struct host_session_info_container
{
    host_session_info *host_session_info_array;
    box_comm_info_container *box_records;
    int32_t recovery_queue_limit;
    int32_t recovery_queue_low_mark;
    int32_t host_response_timeout;
    uint32_t number_of_links;
    ea_flag *recovery_queue_overflow;
    ea_flag *base_rate_control;
    ea_flag *session_recovery_flag;
};

host_session_info_container *
host_session_info_container_create(const char *config_file, uint16_t number_of_links,
                                   box_comm_info_container *box_records, ea_flag *recovery_queue_overflow,
                                   ea_flag *base_rate_control, ea_flag *session_recovery_flag,
                                   logger_object *logger);
void host_session_info_container_destroy(host_session_info_container *container);

// Records from request processing (shared queue 5).
ea_status host_session_info_container_process_request_messages(host_session_info_container *container,
                                                               queue *to_send_validator, queue *input,
                                                               logger_object *logger);
// Records from box communication (shared queue 10).
ea_status host_session_info_container_process_box_messages(host_session_info_container *container,
                                                           queue *to_send_validator, queue *input,
                                                           logger_object *logger);
// Records from the host receive validator (shared queue 13).
ea_status host_session_info_container_process_response_messages(host_session_info_container *container,
                                                                queue *to_response_processing,
                                                                queue *to_notifications,
                                                                queue *to_send_validator, queue *input,
                                                                queue *to_box_comm, logger_object *logger);

ea_status host_session_info_container_req_validate(host_session_info_container *container, message *msg,
                                                   logger_object *logger);
ea_status host_session_info_container_resp_validate(host_session_info_container *container, message *msg,
                                                    uint16_t *reason_code, logger_object *logger);
ea_status host_session_info_container_cleanup_recovery_queue(host_session_info_container *container,
                                                             const message *msg, logger_object *logger);
ea_status host_session_info_container_process_timers(host_session_info_container *container,
                                                     uint16_t link_index, uint16_t *tag,
                                                     uint16_t *reason_code, logger_object *logger);
ea_status host_session_info_container_process_flags(host_session_info_container *container,
                                                    uint16_t link_index, logger_object *logger);
message *host_session_info_container_generate_heart_beat_message(host_session_info_container *container,
                                                                 const message *notification,
                                                                 logger_object *logger);

// Argument record of the host session thread, filled by main.
struct th_session_module_thread_args
{
    shared_queue *from_th_network;           // shared queue 18: heart-beat notices
    shared_queue *from_request_processing;   // shared queue 5
    shared_queue *from_box_comm;             // shared queue 10
    shared_queue *from_th_receive_validator; // shared queue 13
    shared_queue *to_th_send_validator;      // shared queue 8
    shared_queue *to_response_processing;    // shared queue 6
    shared_queue *to_box_comm;               // shared queue 9
    shared_queue *notifications;             // shared queue 14
    host_session_info_container *container;
    uint32_t wait_time_ms;
    ea_flag *shutdown_flag;
    ea_flag *day_flag;
    logger_object *logger;
};

uint32_t th_session_module_thread(void *argument);
