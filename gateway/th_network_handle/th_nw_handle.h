// th_nw_handle: the gateway's end of one TCP connection to the trading host. It frames
// the bytes that arrive on a non-blocking socket, keeps the frames that wait to leave,
// and writes them in batches of up to 10 frames and 2047 bytes under the link's
// per-second weight limit. Only the host network thread touches it; nothing is locked.
#pragma once

#include <cstdint>

#include "common/ea_status.h"

struct logger_object;
struct message;
struct queue;

enum
{
    TH_NW_HANDLE_BUFFER_SIZE = 2048,
    TH_NW_HANDLE_MAX_BATCH_FRAMES = 10,
    TH_NW_HANDLE_MAX_BATCH_BYTES = 2047,
};

// Operations of th_nw_handle_send.
enum : int32_t
{
    TH_NW_HANDLE_QUEUE = 41,
    TH_NW_HANDLE_SEND_PENDING = 51,
};

// Status: the connection is lost or a frame is invalid (a reason code is given).
enum : int32_t
{
    TH_NW_CONNECTION_LOST = 3,
};

// Reason codes of HOST_CONNECTION_LOST.
enum : uint16_t
{
    TH_REASON_INVALID_FRAME_LENGTH = 12004,
    TH_REASON_CONNECTION_CLOSED = 12008,
    TH_REASON_CONNECT_FAILED = 12009,
};

// Link states.
enum : int16_t
{
    TH_LINK_NOT_CONNECTED = -1,
    TH_LINK_CONNECTING = 0,
    TH_LINK_CONNECTED = 1,
};

struct th_nw_handle
{
    int32_t network_handle;    // -1 when there is no connection
    int32_t connection_sockfd; // -1 when there is none
    uint16_t frame_length;     // 0 while the 2-byte length field is incomplete
    uint8_t receive_buffer[TH_NW_HANDLE_BUFFER_SIZE];
    uint16_t receive_position; // offset of the next received byte
    uint16_t bytes_to_read;    // of the current piece
    uint16_t batch_length;
    uint8_t send_buffer[TH_NW_HANDLE_BUFFER_SIZE];
    uint16_t send_position; // offset of the next byte to write
    uint16_t bytes_left;    // of the batch in flight; 0 = none
    uint32_t pending_count; // queued records + records in the batch
    uint32_t frames_received;
    queue *pending_queue;
    message *last_sent_message[TH_NW_HANDLE_MAX_BATCH_FRAMES];
    uint16_t batch_count;
    uint32_t batch_tick;
    uint32_t rate_second;    // the second whose weight is counted
    uint32_t last_send_tick; // 0 = nothing written on this connection yet
    int16_t state;
    int16_t pull_flag;
    int16_t heart_beat_flag;
    // Weights of the records written in the rate second. Wider than the 16-bit limit it
    // is compared with, so that a large limit plus one batch cannot wrap it.
    int32_t weight_sent;
};

th_nw_handle *th_nw_handle_create(uint16_t number_of_links, logger_object *logger);
void th_nw_handle_destroy(th_nw_handle *list, uint16_t number_of_links);

// Operation 41 queues `msg` (203, or 10000); 51 sends what is pending (0 all that could
// be sent is written, 203 not connected yet or would block, 3 a send failed, 10000).
ea_status th_nw_handle_send(th_nw_handle *link, int32_t operation, message *msg, uint32_t *pending_count,
                            int16_t rate_limit, logger_object *logger);

// 0 a whole frame is in *msg_out; 203 nothing complete yet; 3 the connection is lost or
// the frame is invalid (*reason_code set); 10000 no record could be created.
ea_status th_nw_handle_recv(th_nw_handle *link, message **msg_out, uint32_t *receive_counter,
                            uint16_t link_index, uint16_t *reason_code, logger_object *logger);

// Frees the batch and the queued records of a link (each logged, or with `left_out` only
// counted there) and clears the link for a new connection. The socket is closed by the
// caller first.
void th_nw_handle_reset(th_nw_handle *link, logger_object *logger, uint32_t *left_out = nullptr);

// The second that the rate count runs on: the logger's clock, or the tick count's
// seconds when there is no logger.
uint32_t th_nw_handle_current_second(logger_object *logger);
