// Argument records and record formats of the workstation-side validators: the receive
// validator checks and strips the 22-byte network header of every workstation frame, the
// send validator puts it on every record for a workstation and builds the invitation
// frame that answers each CONNECTION_ACCEPT of box communication.
#pragma once

#include <cstdint>

#include "gateway/runtime/ea_flag.h"

struct connection_book;
struct log_hold_entry;
struct logger_object;
struct message;
struct shared_queue;

enum
{
    TWS_NETWORK_HEADER_SIZE = 22,
    TWS_HEADER_LENGTH_OFFSET = 0,
    TWS_HEADER_SEQUENCE_OFFSET = 2,
    TWS_HEADER_DIGEST_OFFSET = 6,
    TWS_VRX_HEADER_SIZE = 40,
    TWS_MIN_FRAME = TWS_NETWORK_HEADER_SIZE + TWS_VRX_HEADER_SIZE,
    TWS_VRX_LENGTH_OFFSET = 38,

    // The client invitation record (internal header order), 42 bytes.
    TWS_INVITATION_SIZE = 42,
    TWS_INVITATION_USER_ID_OFFSET = 0,
    TWS_INVITATION_TRANSCODE_OFFSET = 10,
    TWS_INVITATION_ERROR_CODE_OFFSET = 12,
    TWS_INVITATION_LENGTH_OFFSET = 38,
    TWS_INVITATION_COUNT_OFFSET = 40,
    TWS_INVITATION_TRANSCODE = 15000,
};

// Reason codes of a CLIENT_VALIDATION_FAILURE record.
enum : uint16_t
{
    TWS_REASON_CHECKSUM = 11014,
    TWS_REASON_SHORT_FRAME = 11024,
    TWS_REASON_VRX_LENGTH = 11025,
};

struct tws_receive_validate_thread_args
{
    uint32_t wait_time_ms;
    ea_flag *shutdown_flag;
    shared_queue *from_network;    // shared queue 0
    shared_queue *to_user_session; // shared queue 1
    ea_flag *day_flag;
    logger_object *logger;
    // The workstation connections' verdicts, for holding what is written about those that
    // have not signed on (none: everything is written at once); one slot per workstation.
    const connection_book *book;
    uint16_t slot_count;
};

struct tws_send_validate_thread_args
{
    uint32_t wait_time_ms;
    uint16_t invitation_count; // FLOW_CONTROL_COUNT
    ea_flag *shutdown_flag;
    shared_queue *from_user_session; // shared queue 2
    shared_queue *from_box_comm;     // shared queue 15
    shared_queue *to_network;        // shared queue 3
    ea_flag *day_flag;
    logger_object *logger;
    const connection_book *book; // as the receive validator's
    uint16_t slot_count;
};

// Checks one frame from a workstation: length, digest and VRX length. A frame that passes
// loses its network header and keeps its sequence number in the record; one that fails
// becomes a CLIENT_VALIDATION_FAILURE with its reason code. The record is passed on
// whatever the verdict; false only when the header cannot be stripped. The lines about it
// are held in `held` until its connection signs on (none: written at once) and are logged
// under the name of the thread routine that checks the frame, `routine`.
bool tws_receive_check_frame(message *msg, const char *routine, logger_object *logger,
                             log_hold_entry *held = nullptr);
