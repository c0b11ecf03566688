// One connection's worth of bytes from a trader workstation: framed by the workstation
// connection, checked by the workstation receive validator (length, digest, VRX length)
// and handed to the user session layer (sequence numbers, then whatever the record asks).
// The fuzzer and the corpus replay in the test run both call this. Whatever the bytes:
// every frame delivered is exactly the next length-framed piece of the stream, the
// stream ends only by the peer's close or by an invalid length, the validator passes a
// frame on or turns it into a CLIENT_VALIDATION_FAILURE, and the user session layer
// handles every record without failing.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz/fuzz_gateway.h"
#include "fuzz/fuzz_stream.h"
#include "gateway/message_validators/tws_validators.h"
#include "gateway/runtime/message.h"
#include "gateway/runtime/queue.h"
#include "gateway/runtime/wire.h"
#include "gateway/tws_network_handle/tcp_nw_handle.h"

// Sets each whole frame's VRX length (behind the network header) to what the frame holds.
inline void workstation_frame_fuzz_fix_lengths(std::vector<uint8_t> &stream)
{
    size_t at = 0;
    while (at + 2 <= stream.size())
    {
        size_t length = fuzz_frame_length(stream, at, false);
        if (length < 2 || at + length > stream.size())
            return;
        if (length >= TWS_MIN_FRAME)
            put_u16_be(stream.data() + at, TWS_NETWORK_HEADER_SIZE + TWS_VRX_LENGTH_OFFSET,
                       static_cast<uint16_t>(length - TWS_NETWORK_HEADER_SIZE));
        at += length;
    }
}

// Every record a layer put out must be whole; they are freed here.
inline void workstation_frame_fuzz_drain(queue *q)
{
    while (message *record = static_cast<message *>(queue_remove_head(q)))
    {
        if (record->data + record->data_length > record->buffer_base + record->capacity)
            abort();
        message_destroy(record);
    }
}

inline void workstation_frame_fuzz_one(const uint8_t *data, size_t size)
{
    std::vector<uint8_t> stream;
    uint8_t control = fuzz_split(data, size, &stream);
    if (control & FUZZ_FIX_LENGTHS)
        workstation_frame_fuzz_fix_lengths(stream);
    if (control & FUZZ_SIGN_FRAMES)
        fuzz_sign_frames(stream, false);

    fuzz_gateway &gateway = fuzz_gateway::instance();
    user_session_info_container *users = gateway.new_user_sessions();
    tcp_nw_handle *slot = tcp_nw_handle_create(1, nullptr);
    queue *input = queue_create();
    queue *to_request_processing = queue_create();
    queue *to_user_side = queue_create();
    queue *to_fix_send = queue_create();
    queue *to_console = queue_create();
    if (slot == nullptr || input == nullptr || to_request_processing == nullptr || to_user_side == nullptr ||
        to_fix_send == nullptr || to_console == nullptr)
        abort();
    fuzz_stream pair;
    const int32_t handle = 7;
    slot->client_sockfd = pair.reader;
    slot->network_handle = handle;
    slot->link_index = 0;
    pair.reader = -1;

    size_t next_frame = 0;
    uint32_t counter = 0;
    bool lost = false;
    auto session_layer = [&](message *record)
    {
        if (queue_append(input, record) != EA_SUCCESS ||
            user_session_info_container_process_input_request_messages(users, input, to_request_processing,
                                                                       to_user_side, to_fix_send, to_console,
                                                                       nullptr) != EA_SUCCESS)
            abort();
        workstation_frame_fuzz_drain(to_request_processing);
        workstation_frame_fuzz_drain(to_user_side);
        workstation_frame_fuzz_drain(to_fix_send);
        workstation_frame_fuzz_drain(to_console);
    };
    fuzz_feed(
        pair, stream, control,
        [&]()
        {
            for (;;)
            {
                message *msg = nullptr;
                uint16_t reason = 0;
                ea_status status = tcp_nw_handle_recv(slot, &msg, &counter, &reason, nullptr);
                if (status == EA_VALID)
                    return true;
                if (status == TCP_NW_HANDLE_CONNECTION_LOST)
                {
                    bool bad_length = false;
                    if (next_frame + 2 <= stream.size())
                    {
                        size_t length = fuzz_frame_length(stream, next_frame, false);
                        bad_length = length < TCP_NW_HANDLE_MIN_FRAME || length > TCP_NW_HANDLE_MAX_FRAME;
                    }
                    if (bad_length ? reason != TWS_REASON_INVALID_LENGTH
                                   : reason != TWS_REASON_CONNECTION_LOST || pair.writer >= 0)
                        abort();
                    lost = true;
                    return false;
                }
                if (status != EA_SUCCESS || msg == nullptr)
                    abort();
                uint16_t length = msg->data_length;
                if (next_frame + length > stream.size() ||
                    fuzz_frame_length(stream, next_frame, false) != length ||
                    memcmp(msg->data, stream.data() + next_frame, length) != 0)
                    abort();
                next_frame += length;
                msg->workstation_index = 0;
                msg->link_index = 0;
                if (!tws_receive_check_frame(msg, "tws_receive_validate_thread", nullptr))
                    abort();
                if (msg->tag == NORMAL_MESSAGE &&
                    (msg->data_length != length - TWS_NETWORK_HEADER_SIZE ||
                     msg->workstation_sequence_number != get_u32_be(stream.data() + next_frame - length, 2)))
                    abort();
                if (msg->tag != NORMAL_MESSAGE && msg->tag != CLIENT_VALIDATION_FAILURE)
                    abort();
                session_layer(msg);
            }
        });
    if (!lost)
        abort();
    // The network thread's notice of the lost connection ends the slot's user.
    message *gone = message_create(0, CLIENT_DISCONNECTED);
    if (gone == nullptr)
        abort();
    gone->workstation_index = 0;
    gone->workstation_network_handle = handle;
    gone->reason_code = TWS_REASON_CONNECTION_LOST;
    session_layer(gone);

    tcp_nw_handle_destroy(slot, 1, nullptr);
    for (queue *q : {input, to_request_processing, to_user_side, to_fix_send, to_console})
        ea_destroy_message_queue(q);
    user_session_info_container_destroy(users);
}
