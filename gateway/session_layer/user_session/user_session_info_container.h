// user_session_info_container: the user session layer. It keeps the logon state of every
// exchange user who trades through the gateway, from a trader workstation or a FIX
// session, admits logons, checks workstation sequence numbers, forwards the requests of
// users whose state allows it, routes the host's replies back to the user's connection,
// drives logoffs with the host and frees a slot once its front end confirms the
// disconnection. Only the user session thread drives it; the console copies the slots.
#pragma once

#include <cstdint>

#include "common/ea_status.h"
#include "gateway/runtime/ea_flag.h"
#include "gateway/session_layer/user_session/user_session_info.h"
#include "gateway/session_layer/user_session/user_session_thread.h"
#include "gateway/shared/log_hold.h"

struct box_comm_info_container;
struct connection_book;
struct ea_sync_info;
struct logger_object;
struct message;
struct queue;
struct user_link_info;

enum : uint32_t
{
    USER_SESSION_REQUEST_SENT_TIMEOUT_MS = 20000,
    USER_SESSION_LINK_LOGON_GRACE_MS = 10000, // a link still logging on refuses with 11017
    USER_LOGOFF_MESSAGE_LENGTH = 40,
    USER_STATUS_QUERY_LENGTH = 40,
    USER_STATUS_QUERY_BOX_ID = 4,
    USER_STATUS_QUERY_TIME_STAMP = 6,
    USER_STATUS_QUERY_STATE = 14,
    SIGNON_REQUEST_USER_ID = 40, // first four bytes of the sign-on request's body
    // logoff_error_code of a failed sign-on without an error code of the host: the close's
    // event then says none (-1).
    USER_SESSION_NO_HOST_ERROR = 0xFFFFFFFFu,
};

// Key types of user_session_info_container_get_index.
enum : int16_t
{
    USERID_KEY = 1,
    TWS_NW_HANDLE_KEY = 2,
};

// Reason codes the layer puts in records (the console's texts).
enum : uint16_t
{
    REASON_USER_ALREADY_LOGGED_ON = 11000,
    REASON_INVALID_USER_ID = 11001,
    REASON_BOX_LOGGED_OFF = 11002,
    REASON_FIRST_RECORD_NOT_SIGN_ON = 11003,
    REASON_HOST_LOGGED_USER_OFF = 11004,
    REASON_HOST_REFUSED_LOGON = 11005,
    REASON_USER_NOT_MAPPED = 11006,
    REASON_USER_LOGOFF = 11007,
    REASON_ALL_LINKS_DOWN = 11008,
    REASON_SEQUENCE_ERROR = 11015,
    REASON_LINK_LOGON_IN_PROGRESS = 11017,
    REASON_USER_LOGGED_ON = 11018,
    REASON_STATUS_QUERY_AGAIN = 11019,
    REASON_NO_SIGN_OFF_RESPONSE = 11020,
    REASON_RATE_CONTROL_ZERO = 11021,
    REASON_LINK_USER_LIMIT = 11022,
    REASON_STATUS_QUERY_TIMED_OUT = 11023,
    // Console event (not a disconnection): a signed-on user sent a record users may not
    // send; the event's value is its transcode.
    REASON_REQUEST_REFUSED = 11029,
};

struct user_session_info_container
{
    ea_flag *user_logoff_in_progress; // ea_global's, one flag per slot
    int32_t active_user_count;
    uint16_t max_clients;     // MAX_TWS_CLIENTS
    uint16_t user_slot_count; // 2 x MAX_TWS_CLIENTS
    uint32_t request_sent_timeout;
    box_comm_info_container *box_container;
    user_link_info *link_table;
    user_session_info *user_session_info_list;
    // Admitted users in order of admission. It has room for every slot, so that no
    // admission can overrun it.
    user_session_info **valid_user_session_info_list;
    ea_flag *box_rate_control_count; // ea_global's, one per link, read as signed
    uint16_t *connected_users_count; // one per link
    uint16_t number_of_links;
    // Held by the three handlers and by the console's copy, so that a copy never mixes
    // the states of a slot before and after a change.
    ea_sync_info *lock;
    // Which workstation connections signed on: the layer writes it when the host accepts a
    // sign-on. What the layer writes about a workstation connection is held until then
    // (log_hold.h), so that a flood of sign-ons that fail cannot fill the log. Used by the
    // user session thread alone; none (lines written at once) until the book is set.
    connection_book *book;
    log_hold *held_lines;
};

// Gives the layer the book of the workstation connections; false when there is no memory
// for its hold of lines.
bool user_session_info_container_set_connection_book(user_session_info_container *container,
                                                     connection_book *book);

// Where the lines about a record go: held while the workstation connection it is about has
// not signed on, none (written at once) otherwise.
log_hold_entry *user_session_held(user_session_info_container *container, const message *msg);
// The same for the connection of a slot.
log_hold_entry *user_session_held_slot(user_session_info_container *container, uint16_t slot);
// The host accepted the sign-on of the slot's workstation user: the book says so from now,
// and what was held about the connection is written.
void user_session_signed_on(user_session_info_container *container, uint16_t slot);

user_session_info_container *
user_session_info_container_create(uint16_t max_clients, user_link_info *link_table,
                                   box_comm_info_container *box_container, ea_flag *box_rate_control_count,
                                   ea_flag *user_logoff_in_progress, uint16_t number_of_links,
                                   logger_object *logger);
void user_session_info_container_destroy(user_session_info_container *container);

// 0 and the slot of the first admitted user whose user id (USERID_KEY) or handle
// (TWS_NW_HANDLE_KEY) equals the key, or EA_NOT_FOUND.
ea_status user_session_info_container_get_index(user_session_info_container *container, int32_t key,
                                                int16_t key_type, uint16_t *slot, logger_object *logger);

// A new copy of every slot for the console, freed with user_session_info_list_destroy.
user_session_info *
user_session_info_container_get_user_session_info_array(user_session_info_container *container,
                                                        uint32_t *count);

// Starts the logoff of the slot the record names; the record carries the reason code and
// is consumed. 0, or EA_ERROR when a record could not be queued.
ea_status user_session_info_container_initiate_user_logoff(user_session_info_container *container,
                                                           message *msg, queue *to_request_processing,
                                                           queue *to_user_side, logger_object *logger);

// Frees a slot once its front end has returned the slot's USER_LOGOFF_FLUSH.
ea_status user_session_info_container_delete_user(user_session_info_container *container, uint16_t slot);

// The sign-off request (2320) for the user of a slot, or null.
message *user_session_info_container_create_user_logoff_message(user_session_info_container *container,
                                                                uint16_t slot, logger_object *logger);

// Records from the users' side: the input is the local queue of shared queue 1 or 20;
// the console events of refused requests go to to_console (shared queue 19).
ea_status user_session_info_container_process_input_request_messages(
    user_session_info_container *container, queue *input, queue *to_request_processing, queue *to_user_side,
    queue *to_fix_send, queue *to_console, logger_object *logger);

// Replies from the host (shared queue 7); to_user_side is indexed by user type.
ea_status user_session_info_container_process_input_response_messages(
    user_session_info_container *container, queue *input, queue *to_request_processing,
    queue *to_user_side[2], queue *to_console, logger_object *logger);

// Supervision of users in logoff and of sign-ons the host has not answered within
// request_sent_timeout, once per pass of the user session thread.
ea_status user_session_info_container_process_users(user_session_info_container *container,
                                                    queue *to_request_processing, queue *to_user_side[2],
                                                    queue *to_console, logger_object *logger);
