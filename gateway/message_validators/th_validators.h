// The host-side validators: the send validator puts the network header on every frame
// that the host session layer sends towards the trading host; the receive validator
// checks the length and digest of every frame read from the host, copies its sequence
// numbers into the record and strips the header. Control orders ride through both in
// order with the frames.
#pragma once

#include <cstdint>

#include "common/ea_status.h"
#include "gateway/runtime/ea_flag.h"

struct logger_object;
struct message;
struct shared_queue;

// Reason codes of a HOST_VALIDATION_FAILURE notification.
enum : uint16_t
{
    TH_REASON_FRAME_TOO_SHORT = 12013,
    TH_REASON_DIGEST_MISMATCH = 12006,
};

// Thread 7: queue 8 in, queue 11 out.
struct th_send_validator_thread_args
{
    shared_queue *input_queue;  // host session to host send validator
    shared_queue *output_queue; // host send validator to host network thread
    uint32_t wait_time_ms;
    ea_flag *shutdown_flag;
    ea_flag *day_flag;
    logger_object *logger;
};

// Thread 8: queue 12 in, queue 13 out, notifications on queue 14.
struct th_receive_validator_thread_args
{
    shared_queue *input_queue;        // host network thread to host receive validator
    shared_queue *output_queue;       // host receive validator to host session
    shared_queue *notification_queue; // to box communication
    uint32_t wait_time_ms;
    ea_flag *shutdown_flag;
    ea_flag *day_flag;
    logger_object *logger;
};

// Puts the header in front of the record's data: length, the record's two sequence
// numbers and the digest of the data. Null when the record has no room for it.
message *th_network_header_apply(message *msg);

// Checks a frame read from the host. 0 when it passed (sequence numbers copied into the
// record, header stripped); otherwise the reason code, and the record is untouched.
// EA_DISCARD for a frame of blanks only.
int32_t th_network_header_check(message *msg);

// One record through each validator, as the threads do it: the record is passed on,
// turned into a notification, or freed. 0, or EA_ERROR after which the thread fails. The
// lines are logged under the name of the thread routine, `routine`.
ea_status th_send_validator_process(message *msg, shared_queue *output_queue, const char *routine,
                                    logger_object *logger);
ea_status th_receive_validator_process(message *msg, shared_queue *output_queue,
                                       shared_queue *notification_queue, const char *routine,
                                       logger_object *logger);
