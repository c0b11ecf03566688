// ea_global: the gateway's one global context. The flags every thread polls, the global
// configuration values, the per-link and per-slot arrays several modules share, the 23
// shared queues and one object of each module. main hands each thread pointers to the
// parts it uses; no module reaches this context through a global variable.
#pragma once

#include <cstdint>

#include "common/ea_status.h"
#include "gateway/runtime/ea_flag.h"

struct logger_object;
struct shared_queue;
struct state_controller_info;
struct user_link_info;
struct tcp_nw_info;
struct th_nw_info;
struct box_comm_info_container;
struct user_session_info_container;
struct host_session_info_container;
struct request_data_proc_info_container;
struct response_data_proc_info_container;
struct interface_info;
struct interface_nw_info;
class FixNwInfoClass;

enum
{
    EA_SHARED_QUEUE_COUNT = 23,
    EA_DAY_FLAG_COUNT = 15,
    EA_FIX_FILE_PATH_SIZE = 260,
    EA_INITIAL_BASE_RATE_CONTROL = 100,
};

// Indexes of array_of_shared_queues: producer to consumer.
enum ea_shared_queue_index
{
    SQ_TWS_NETWORK_TO_RECEIVE_VALIDATOR = 0,
    SQ_TWS_RECEIVE_VALIDATOR_TO_USER_SESSION = 1,
    SQ_USER_SESSION_TO_TWS_SEND_VALIDATOR = 2,
    SQ_TWS_SEND_VALIDATOR_TO_TWS_NETWORK = 3, // network event
    SQ_USER_SESSION_TO_REQUEST_PROCESSING = 4,
    SQ_REQUEST_PROCESSING_TO_HOST_SESSION = 5,
    SQ_HOST_SESSION_TO_RESPONSE_PROCESSING = 6,
    SQ_RESPONSE_PROCESSING_TO_USER_SESSION = 7,
    SQ_HOST_SESSION_TO_TH_SEND_VALIDATOR = 8,
    SQ_HOST_SESSION_TO_BOX_COMM = 9,
    SQ_BOX_COMM_TO_HOST_SESSION = 10,
    SQ_TH_SEND_VALIDATOR_TO_TH_NETWORK = 11, // network event
    SQ_TH_NETWORK_TO_TH_RECEIVE_VALIDATOR = 12,
    SQ_TH_RECEIVE_VALIDATOR_TO_HOST_SESSION = 13,
    SQ_NOTIFICATIONS_TO_BOX_COMM = 14,
    SQ_BOX_COMM_TO_TWS_SEND_VALIDATOR = 15,
    SQ_BOX_COMM_TO_TH_NETWORK = 16, // network event
    SQ_TH_NETWORK_TO_REQUEST_PROCESSING = 17,
    SQ_TH_NETWORK_TO_HOST_SESSION = 18,
    SQ_EVENTS_TO_INTERFACE = 19,
    SQ_FIX_TO_USER_SESSION = 20,
    SQ_USER_SESSION_TO_FIX_SEND = 21,
    SQ_BOX_COMM_TO_FIX_SEND = 22,
};

struct ea_global
{
    ea_flag shutdown_flag;
    ea_flag abnormal_state_flag;
    uint32_t receive_count;
    uint16_t max_tws_clients;
    ea_flag base_rate_control;
    ea_flag day_flags[EA_DAY_FLAG_COUNT];
    uint16_t number_of_links;
    uint16_t flow_control_count;
    char fix_file_path[EA_FIX_FILE_PATH_SIZE];
    int32_t interface_realtime_port;
    int32_t interface_interactive_port;
    ea_flag *allow_invitations_flag;  // per link
    ea_flag *user_logoff_in_progress; // per user slot (2 x MAX_TWS_CLIENTS)
    ea_flag *box_rate_control_count;  // per link
    ea_flag *recovery_queue_overflow; // per link
    ea_flag *session_recovery_flag;   // per link
    shared_queue *array_of_shared_queues[EA_SHARED_QUEUE_COUNT];
    tcp_nw_info *tcp_nw_info_p;
    th_nw_info *th_nw_info_p;
    user_session_info_container *user_session_info_container_p;
    host_session_info_container *host_session_container_p;
    box_comm_info_container *box_com_info_container_p;
    user_link_info *user_link_info_p;
    interface_info *interface_info_p;
    interface_nw_info *interface_nw_info_realtime;
    interface_nw_info *interface_nw_info_interactive;
    state_controller_info *state_controller_info_p;
    request_data_proc_info_container *request_data_proc_info_container_p;
    response_data_proc_info_container *response_data_proc_info_container_p;
    FixNwInfoClass *fix_nw_info;
};

ea_global *ea_global_create(const char *config_file, logger_object *logger, logger_object *fix_logger);
void ea_global_destroy(ea_global *global, logger_object *logger);

// Stops the FIX application (and with it the engine's acceptor thread, which writes to
// shared queues 14, 19 and 20) so that the queues can be drained and destroyed safely.
void ea_global_stop_fix(ea_global *global);
