// One input of the workstation-frame fuzzer: bytes as a trader workstation's TCP stream,
// framed by the workstation connection (length field, frame limits), each frame checked by
// the workstation receive validator (length, digest, VRX length) and each frame that
// passes by the user session's network check (handle, sequence number). The first byte
// holds options, the rest is the stream: bit 0 writes each frame's true digest before the
// check, bit 1 numbers the frames 1, 2, 3... as a well-behaved workstation does, so that
// inputs reach the code behind both tests.
//
// What must hold whatever the bytes: the stream ends in a lost connection within a
// bounded number of calls; every frame is as long as its length field says; a frame that
// passes lost exactly its 22-byte header, carries its header's sequence number and
// matches its VRX length; a frame that fails carries one of the three reasons; and with
// the frames numbered in order, the network check never reports a sequence error.
#pragma once

#include <cstdint>
#include <cstring>

#include "fuzz/fuzz_stream.h"
#include "gateway/library/md5.h"
#include "gateway/library/message.h"
#include "gateway/library/wire.h"
#include "gateway/message_validators/tws_validators.h"
#include "gateway/session_layer/user_session/user_session_info.h"
#include "gateway/tws_network_handle/tcp_nw_handle.h"

namespace workstation_frame_fuzz
{
// The checks of one frame; null when it is sound. The caller frees the frame.
inline const char *check_frame(message *frame, bool fix_digest, bool number_frames, uint32_t *passed,
                               user_session_info *session)
{
    const uint16_t length = frame->data_length;
    if (length < TCP_NW_HANDLE_MIN_FRAME || length > TCP_NW_HANDLE_MAX_FRAME ||
        get_u16_be(frame->data, 0) != length)
        return "a frame's length differs from its length field or is out of bounds";
    if (length >= TWS_NETWORK_HEADER_SIZE)
    {
        if (number_frames)
            put_u32_be(frame->data, TWS_HEADER_SEQUENCE_OFFSET, *passed + 1);
        if (fix_digest)
            md5_checksum(frame->data + TWS_NETWORK_HEADER_SIZE, length - TWS_NETWORK_HEADER_SIZE,
                         frame->data + TWS_HEADER_DIGEST_OFFSET, MD5_MODE_COMPUTE);
    }
    const uint32_t header_sequence =
        length >= TWS_NETWORK_HEADER_SIZE ? get_u32_be(frame->data, TWS_HEADER_SEQUENCE_OFFSET) : 0;
    if (!tws_receive_check_frame(frame, nullptr))
        return "the workstation receive validator could not strip a header";
    if (frame->tag == CLIENT_VALIDATION_FAILURE)
    {
        switch (frame->reason_code)
        {
        case TWS_REASON_SHORT_FRAME:
        case TWS_REASON_CHECKSUM:
            return frame->data_length == length ? nullptr : "a failed frame was changed";
        case TWS_REASON_VRX_LENGTH:
            return frame->data_length + TWS_NETWORK_HEADER_SIZE == length
                       ? nullptr
                       : "a frame refused for its VRX length lost other than its header";
        default:
            return "a failed frame carries an unknown reason";
        }
    }
    if (frame->tag != NORMAL_MESSAGE || frame->data_length + TWS_NETWORK_HEADER_SIZE != length)
        return "a passed frame lost other than its header";
    if (frame->data_length < TWS_VRX_HEADER_SIZE ||
        get_u16_be(frame->data, TWS_VRX_LENGTH_OFFSET) != frame->data_length)
        return "a passed frame does not match its VRX length";
    if (frame->workstation_sequence_number != header_sequence)
        return "a passed frame carries another sequence number than its header";
    ++*passed;
    int32_t verdict = user_session_info_req_network_validate(session, 0, frame, nullptr);
    if (verdict != 0 && verdict != EA_DO_NOT_FORWARD && verdict != USER_SESSION_SEQUENCE_ERROR)
        return "the network check gave an unknown verdict";
    if (number_frames && verdict != 0)
        return "frames numbered in order were refused";
    return nullptr;
}

inline const char *one(const uint8_t *data, size_t size)
{
    if (size == 0)
        return nullptr;
    const bool fix_digest = (data[0] & 1) != 0;
    const bool number_frames = (data[0] & 2) != 0;
    fuzz_stream stream;
    if (!stream.open(data + 1, size - 1))
        return "no socket pair";
    tcp_nw_handle *slot = tcp_nw_handle_create(1, nullptr);
    if (slot == nullptr)
        return "no connection slot";
    slot->client_sockfd = stream.reader();
    slot->network_handle = 7;
    slot->link_index = 0;
    user_session_info session;
    user_session_info_reset(&session);

    const char *failure = nullptr;
    uint32_t received = 0;
    uint32_t passed = 0;
    for (int calls = 0; failure == nullptr; ++calls)
    {
        if (calls == FUZZ_STREAM_MAX_CALLS)
        {
            failure = "the workstation connection's framing stopped making progress";
            break;
        }
        message *frame = nullptr;
        uint16_t reason = 0;
        ea_status status = tcp_nw_handle_recv(slot, &frame, &received, &reason, nullptr);
        if (status == TCP_NW_HANDLE_CONNECTION_LOST)
        {
            if (reason != TWS_REASON_CONNECTION_LOST && reason != TWS_REASON_INVALID_LENGTH)
                failure = "a lost connection carries an unknown reason";
            break;
        }
        if (status == EA_VALID)
            continue;
        if (status != EA_SUCCESS || frame == nullptr)
        {
            failure = "the workstation connection's receive failed";
            break;
        }
        failure = check_frame(frame, fix_digest, number_frames, &passed, &session);
        message_destroy(frame);
    }
    slot->client_sockfd = -1; // the stream closes it
    tcp_nw_handle_destroy(slot, 1, nullptr);
    return failure;
}
} // namespace workstation_frame_fuzz
