// One connection's worth of bytes from the exchange host, framed by the host link's
// network handle and checked by the host receive validator. The fuzzer and the corpus
// replay in the test run both call this. Whatever the bytes: every frame delivered is
// exactly the next length-framed piece of the stream, the stream ends only by the
// peer's close or by an invalid length, and each frame comes out of the validator as a
// record without its header (sequence numbers taken), a HOST_VALIDATION_FAILURE with the
// right reason, or, all blanks, nothing.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/md5.h"
#include "fuzz/fuzz_stream.h"
#include "gateway/message_validators/th_validators.h"
#include "gateway/message_validators/vrx_network_header.h"
#include "gateway/runtime/message.h"
#include "gateway/runtime/queue.h"
#include "gateway/runtime/shared_queue.h"
#include "gateway/runtime/wire.h"
#include "gateway/th_network_handle/th_nw_handle.h"

// What the validator must make of one whole frame.
inline void host_frame_fuzz_check_validator(const uint8_t *frame, uint16_t length, message *msg,
                                            shared_queue *output, shared_queue *notifications)
{
    if (th_receive_validator_process(msg, output, notifications, "th_receive_validator_thread", nullptr) !=
        EA_SUCCESS)
        abort();
    queue *passed = queue_create();
    queue *failed = queue_create();
    if (shared_queue_get_elements_no_wait(output, passed) == EA_ERROR ||
        shared_queue_get_elements_no_wait(notifications, failed) == EA_ERROR)
        abort();
    bool blank = true;
    for (uint16_t i = 0; i < length; ++i)
        blank = blank && frame[i] == ' ';
    uint8_t digest[MD5_DIGEST_SIZE];
    bool signed_right = false;
    if (length >= VRX_NETWORK_HEADER_SIZE)
    {
        md5_checksum(frame + VRX_NETWORK_HEADER_SIZE, length - VRX_NETWORK_HEADER_SIZE, digest,
                     MD5_MODE_COMPUTE);
        signed_right = memcmp(digest, frame + VRX_NH_DIGEST, MD5_DIGEST_SIZE) == 0;
    }
    if (length < VRX_NETWORK_HEADER_SIZE || (!signed_right && !blank))
    {
        message *notice = static_cast<message *>(queue_remove_head(failed));
        uint16_t reason =
            length < VRX_NETWORK_HEADER_SIZE ? TH_REASON_FRAME_TOO_SHORT : TH_REASON_DIGEST_MISMATCH;
        if (notice == nullptr || notice->tag != HOST_VALIDATION_FAILURE || notice->reason_code != reason)
            abort();
        message_destroy(notice);
    }
    else if (signed_right)
    {
        message *record = static_cast<message *>(queue_remove_head(passed));
        if (record == nullptr || record->tag != NORMAL_MESSAGE ||
            record->data_length != length - VRX_NETWORK_HEADER_SIZE ||
            memcmp(record->data, frame + VRX_NETWORK_HEADER_SIZE, record->data_length) != 0 ||
            record->network_sequence_number != get_u16_be(frame, VRX_NH_NETWORK_SEQUENCE) ||
            record->last_sequence_number != get_u16_be(frame, VRX_NH_LAST_SEQUENCE))
            abort();
        message_destroy(record);
    }
    if (queue_get_count(passed) != 0 || queue_get_count(failed) != 0)
        abort();
    queue_destroy(passed);
    queue_destroy(failed);
}

inline void host_frame_fuzz_one(const uint8_t *data, size_t size)
{
    std::vector<uint8_t> stream;
    uint8_t control = fuzz_split(data, size, &stream);
    if (control & FUZZ_SIGN_FRAMES)
        fuzz_sign_frames(stream, false);

    th_nw_handle *link = th_nw_handle_create(1, nullptr);
    shared_queue *output = shared_queue_create(SHARED_QUEUE_SEMAPHORE);
    shared_queue *notifications = shared_queue_create(SHARED_QUEUE_SEMAPHORE);
    if (link == nullptr || output == nullptr || notifications == nullptr)
        abort();
    fuzz_stream pair;
    link->connection_sockfd = pair.reader;
    link->network_handle = 1;
    link->state = TH_LINK_CONNECTED;
    pair.reader = -1;

    size_t next_frame = 0; // where the next frame starts in the stream
    uint32_t counter = 0;
    bool lost = false;
    fuzz_feed(pair, stream, control,
              [&]()
              {
                  for (;;)
                  {
                      message *msg = nullptr;
                      uint16_t reason = 0;
                      ea_status status = th_nw_handle_recv(link, &msg, &counter, 0, &reason, nullptr);
                      if (status == EA_VALID)
                          return true;
                      if (status == TH_NW_CONNECTION_LOST)
                      {
                          // Lost at a bad length field, or at the end of the stream.
                          bool bad_length = false;
                          if (next_frame + 2 <= stream.size())
                          {
                              size_t length = fuzz_frame_length(stream, next_frame, false);
                              bad_length =
                                  length < VRX_NH_MIN_FRAME_LENGTH || length > VRX_NH_MAX_FRAME_LENGTH;
                          }
                          if (bad_length ? reason != TH_REASON_INVALID_FRAME_LENGTH
                                         : reason != TH_REASON_CONNECTION_CLOSED || pair.writer >= 0)
                              abort();
                          lost = true;
                          return false;
                      }
                      if (status != EA_SUCCESS || msg == nullptr)
                          abort();
                      uint16_t length = msg->data_length;
                      if (next_frame + length > stream.size() || length < VRX_NH_MIN_FRAME_LENGTH ||
                          fuzz_frame_length(stream, next_frame, false) != length ||
                          memcmp(msg->data, stream.data() + next_frame, length) != 0 ||
                          msg->sequence_number != counter)
                          abort();
                      host_frame_fuzz_check_validator(stream.data() + next_frame, length, msg, output,
                                                      notifications);
                      next_frame += length;
                  }
              });
    if (!lost)
        abort();
    th_nw_handle_destroy(link, 1);
    shared_queue_destroy(output);
    shared_queue_destroy(notifications);
}
