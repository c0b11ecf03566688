// The FIX front end's entry points as the rest of the gateway calls them. This header
// includes nothing of the FIX engine, so C++17 modules can call it; the application
// class behind it is compiled with the engine's headers.
#pragma once

#include <cstdint>

#include "gateway/library/ea_flag.h"
#include "gateway/library/ea_status.h"

struct logger_object;
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
// Stops the acceptor; the object stays until fix_nw_info_destroy.
void fix_nw_info_stop(FixNwInfoClass *application);
void fix_nw_info_destroy(FixNwInfoClass *application);

uint32_t fix_nw_handler_send_thread(void *argument);
