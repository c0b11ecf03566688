// Helpers shared by the files of the user session container: the slot range check, the
// box record values the layer reads without a lock, and the building and queueing of the
// small records it sends. Not part of the module's interface.
#pragma once

#include <cstdint>

#include "gateway/runtime/message.h"
#include "gateway/session_layer/user_session/user_session_info_container.h"

struct queue;

// A record of user type 1 must name a FIX slot, any other a workstation slot, and carry
// a handle other than -1.
bool user_session_slot_in_range(const user_session_info_container *container, const message *msg);

// The box logon state of a link; a link index beyond the configured links is never
// logged on and has no users allowed.
bool user_session_link_known(const user_session_info_container *container, uint16_t link_index);
uint16_t user_session_link_logon_complete(const user_session_info_container *container, uint16_t link_index);
uint32_t user_session_link_inactivity_timer(const user_session_info_container *container,
                                            uint16_t link_index);
int32_t user_session_link_max_users(const user_session_info_container *container, uint16_t link_index);
int16_t user_session_link_rate_control(const user_session_info_container *container, uint16_t link_index);

void user_session_set_logoff_flag(user_session_info_container *container, uint16_t slot, uint16_t value);
// The slot's logoff is under way: no request of the connection is forwarded any more.
void user_session_mark_logoff(user_session_info_container *container, uint16_t slot);

// A record without data for the user of a slot (USER_LOGOFF_FLUSH, KOVA_MESSAGE).
message *user_session_control_record(const user_session_info_container *container, uint16_t slot,
                                     uint16_t tag, uint16_t reason_code);

// Appends the record or, on failure, logs "queue_append failed" and frees it.
ea_status user_session_append(queue *q, message *msg, logger_object *logger);

// Reads the VRX transcode and error code of a record at least one header long.
int16_t user_session_transcode(const message *msg);
int16_t user_session_error_code(const message *msg);
