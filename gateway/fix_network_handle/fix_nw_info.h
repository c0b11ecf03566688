// The FIX front end's entry points as the rest of the gateway calls them, and the FIX send
// thread's argument record. This header includes nothing of the FIX engine, so C++17
// modules can call it; the application class behind it (fix_nw_info_class.h) is compiled
// as C++14 with the engine's headers.
//
// Ownership: every entry point that takes a message record consumes it on every path
// (forwards it, keeps it, or frees it); the caller never touches it afterwards.
#pragma once

#include <cstdint>

#include "common/ea_status.h"
#include "gateway/runtime/ea_flag.h"

struct logger_object;
struct message;
struct shared_queue;
class FixNwInfoClass;

FixNwInfoClass *fix_nw_info_create(uint16_t flow_control_count, const char *fix_file_path,
                                   const char *config_file, shared_queue *to_user_session,
                                   shared_queue *to_box_comm, shared_queue *to_interface,
                                   uint16_t max_tws_clients, ea_flag *shutdown_flag,
                                   ea_flag *allow_invitations_flag, ea_flag *recovery_queue_overflow,
                                   ea_flag *abnormal_state_flag, ea_flag *session_recovery_flag,
                                   ea_flag *user_logoff_in_progress, ea_flag *day_flag,
                                   logger_object *logger);
// EA_ERROR once the engine's acceptor has stopped, else 0.
ea_status fix_nw_info_poll_acceptor(FixNwInfoClass *application);
// Stops the acceptor thread (nothing of the engine calls into the gateway afterwards);
// the object stays until fix_nw_info_destroy.
void fix_nw_info_stop(FixNwInfoClass *application);
void fix_nw_info_destroy(FixNwInfoClass *application);

// Entry points of the FIX send thread.
ea_status fix_nw_info_send_mesg(FixNwInfoClass *application, message *msg, logger_object *logger);
ea_status fix_nw_info_disconnect_client(FixNwInfoClass *application, message *msg, uint16_t operation,
                                        logger_object *logger);
ea_status fix_nw_info_process_incoming_clients(FixNwInfoClass *application, uint16_t operation,
                                               logger_object *logger);
ea_status fix_nw_info_update_link_index(FixNwInfoClass *application, message *msg, uint16_t number_of_links,
                                        logger_object *logger);
ea_status fix_nw_info_process_boxlogoff_flush(FixNwInfoClass *application, message *msg,
                                              logger_object *logger);

enum : uint16_t
{
    FIX_NW_OPERATION_NAMED_CLIENT = 0,
    FIX_NW_OPERATION_PENDING_CLIENTS = 5,
    FIX_NW_OPERATION_CONNECTION_ACCEPT = 26,
    FIX_NW_REASON_BOX_REJECTED = 11016,
};

struct fix_nw_handler_send_thread_args
{
    shared_queue *from_user_session; // 21
    shared_queue *to_box_comm;       // 14 (not used by the thread)
    shared_queue *to_interface;      // 19
    shared_queue *from_box_comm;     // 22
    uint32_t wait_time_ms;
    ea_flag *day_flag; // day flag 13
    FixNwInfoClass *fix_nw_info;
    uint16_t number_of_links;
    ea_flag *shutdown_flag;
    logger_object *logger;
};

// Thread 13: carries replies and control records to the FIX clients. 204 after the
// shutdown flag, 10000 after a failure of its own (having set the shutdown flag).
uint32_t fix_nw_handler_send_thread(void *argument);
