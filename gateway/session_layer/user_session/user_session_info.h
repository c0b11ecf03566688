// user_session_info: one user slot of the user session layer. A slot belongs to one
// workstation or FIX connection from its first record until the front end confirms the
// disconnection; a user id is attached to it when the user's sign-on is admitted.
#pragma once

#include <cstdint>

#include "common/ea_status.h"

struct log_hold_entry;
struct logger_object;
struct message;

// State of the user of a slot, numbered as the box status; 0 = no user logged on. The
// values sit in their own namespace because the box status uses the same names.
namespace logon_status
{
enum : int16_t
{
    NO_USER = 0,
    LOGOFF_IN_PROGRESS = 1,
    LOGGED_ON = 2,
    LOGON_IN_PROGRESS = 3,
};
}

enum : uint16_t
{
    USER_TYPE_WORKSTATION = 0,
    USER_TYPE_FIX = 1,
    USER_SESSION_NO_LINK = 65535,
};

enum : int32_t
{
    USER_SESSION_FREE_HANDLE = -1,
    USER_SESSION_SEQUENCE_ERROR = 10, // result of the network check
};

struct user_session_info
{
    int32_t recv_sequence_no;
    int32_t validation_failure_flag; // EA_FORWARD_MESSAGE or EA_DO_NOT_FORWARD
    int32_t user_id;
    int16_t user_type;
    int16_t logon_status;
    int32_t tws_nw_handle;
    uint32_t request_sent_timer;
    uint32_t immediate_status_query;
    uint16_t status_query;
    int16_t status_query_count;
    uint16_t link_index;
    uint16_t logoff_reason_code;
    int32_t logoff_event_value; // the extra info of the logoff's console event, -1 for none
    uint32_t logoff_error_code;
    int32_t login_count;
    uint32_t peer_address; // of a workstation connection, from its records; 0 when unknown
};

// Puts a slot back to the values of a free slot.
void user_session_info_reset(user_session_info *info);

// The reason the user's logoff will be told with, and the extra info its console event
// carries (the user's logoff flush takes both).
inline void user_session_set_logoff_reason(user_session_info *info, uint16_t reason, int32_t value = -1)
{
    info->logoff_reason_code = reason;
    info->logoff_event_value = value;
}

// The network check of a request arriving in the slot: 0 (process), EA_DO_NOT_FORWARD
// (drop) or USER_SESSION_SEQUENCE_ERROR. The first record of a new handle takes the slot.
// Its lines go to `held` (none: written at once).
int32_t user_session_info_req_network_validate(user_session_info *info, uint16_t tws_index, message *msg,
                                               logger_object *logger, log_hold_entry *held = nullptr);

// Frees a copy of the slots made for the console.
void user_session_info_list_destroy(user_session_info *list);
