// One input of the host-frame fuzzer: bytes as the exchange host's TCP stream, framed by
// the host link (length field, frame limits) and each frame checked by the host receive
// validator (length, digest, blank frames). The first byte holds options, the rest is the
// stream: with bit 0 set, the entry writes each frame's true digest before the check, so
// that inputs reach the code behind a digest that matches.
//
// What must hold whatever the bytes: the stream ends in a lost connection (its end or an
// invalid length) within a bounded number of calls, every frame is as long as its length
// field says and within the limits, and the validator either passes a record stripped of
// exactly the 22-byte header with the frame's sequence numbers, turns it into a
// HOST_VALIDATION_FAILURE with one of its two reasons, or drops a blank frame.
#pragma once

#include <cstdint>
#include <cstring>

#include "fuzz/fuzz_stream.h"
#include "gateway/library/md5.h"
#include "gateway/library/message.h"
#include "gateway/library/queue.h"
#include "gateway/library/shared_queue.h"
#include "gateway/library/wire.h"
#include "gateway/message_validators/th_validators.h"
#include "gateway/message_validators/vrx_network_header.h"
#include "gateway/th_network_handle/th_nw_handle.h"

namespace host_frame_fuzz
{
// The validator's verdict on one frame; null when it is sound.
inline const char *check_verdict(shared_queue *passed, shared_queue *notified, uint16_t frame_length,
                                 uint16_t network_sequence, uint16_t last_sequence)
{
    queue *out = queue_create();
    shared_queue_get_elements_no_wait(passed, out);
    shared_queue_get_elements_no_wait(notified, out);
    const char *failure = nullptr;
    uint32_t count = queue_get_count(out);
    message *record = static_cast<message *>(queue_remove_head(out));
    if (count > 1)
        failure = "one frame gave more than one record";
    else if (record == nullptr)
        ; // a blank frame, dropped
    else if (record->tag == HOST_VALIDATION_FAILURE)
    {
        if (record->reason_code != TH_REASON_FRAME_TOO_SHORT &&
            record->reason_code != TH_REASON_DIGEST_MISMATCH)
            failure = "a failed frame carries an unknown reason";
        else if (record->data_length != frame_length)
            failure = "a failed frame was changed";
    }
    else if (record->tag != NORMAL_MESSAGE || record->data_length + VRX_NETWORK_HEADER_SIZE != frame_length)
        failure = "a passed frame lost other than its header";
    else if (record->network_sequence_number != network_sequence ||
             record->last_sequence_number != last_sequence)
        failure = "a passed frame carries other sequence numbers than its header";
    if (record != nullptr)
        message_destroy(record);
    ea_destroy_message_queue(out);
    return failure;
}

inline const char *one(const uint8_t *data, size_t size)
{
    if (size == 0)
        return nullptr;
    const bool fix_digest = (data[0] & 1) != 0;
    fuzz_stream stream;
    if (!stream.open(data + 1, size - 1))
        return "no socket pair";
    static shared_queue *passed = shared_queue_create(SHARED_QUEUE_SEMAPHORE);
    static shared_queue *notified = shared_queue_create(SHARED_QUEUE_SEMAPHORE);
    th_nw_handle *link = th_nw_handle_create(1, nullptr);
    if (passed == nullptr || notified == nullptr || link == nullptr)
        return "no link or queues";
    link->connection_sockfd = stream.reader();
    link->network_handle = 3;
    link->state = TH_LINK_CONNECTED;

    const char *failure = nullptr;
    uint32_t received = 0;
    int calls = 0;
    for (; failure == nullptr; ++calls)
    {
        if (calls == FUZZ_STREAM_MAX_CALLS)
        {
            failure = "the host link's framing stopped making progress";
            break;
        }
        message *frame = nullptr;
        uint16_t reason = 0;
        ea_status status = th_nw_handle_recv(link, &frame, &received, 0, &reason, nullptr);
        if (status == TH_NW_CONNECTION_LOST)
        {
            if (reason != TH_REASON_CONNECTION_CLOSED && reason != TH_REASON_INVALID_FRAME_LENGTH)
                failure = "a lost connection carries an unknown reason";
            break;
        }
        if (status == EA_VALID)
            continue;
        if (status != EA_SUCCESS || frame == nullptr)
        {
            failure = "the host link's receive failed";
            break;
        }
        const uint16_t length = frame->data_length;
        if (length < VRX_NH_MIN_FRAME_LENGTH || length > VRX_NH_MAX_FRAME_LENGTH ||
            get_u16_be(frame->data, VRX_NH_LENGTH) != length)
        {
            message_destroy(frame);
            failure = "a frame's length differs from its length field or is out of bounds";
            break;
        }
        if (fix_digest && length >= VRX_NETWORK_HEADER_SIZE)
            md5_checksum(frame->data + VRX_NETWORK_HEADER_SIZE, length - VRX_NETWORK_HEADER_SIZE,
                         frame->data + VRX_NH_DIGEST, MD5_MODE_COMPUTE);
        const uint16_t network_sequence =
            length >= VRX_NETWORK_HEADER_SIZE ? get_u16_be(frame->data, VRX_NH_NETWORK_SEQUENCE) : 0;
        const uint16_t last_sequence =
            length >= VRX_NETWORK_HEADER_SIZE ? get_u16_be(frame->data, VRX_NH_LAST_SEQUENCE) : 0;
        if (th_receive_validator_process(frame, passed, notified, nullptr) != EA_SUCCESS)
            failure = "the host receive validator failed on a frame";
        else
            failure = check_verdict(passed, notified, length, network_sequence, last_sequence);
    }
    link->connection_sockfd = -1; // the stream closes it
    th_nw_handle_destroy(link, 1);
    return failure;
}
} // namespace host_frame_fuzz
