// tcp_nw_handle: the gateway's end of one trader-workstation connection. One slot of the
// workstation server's table: a receive buffer that assembles one length-framed frame at a
// time from a non-blocking socket, and a send side that packs queued records back to back
// into one buffer, numbers each with the connection's send sequence number and writes the
// buffer across as many calls as the socket needs. Used by the workstation network thread
// only, so nothing here is locked.
#pragma once

#include <cstdint>

#include "common/ea_status.h"

struct log_hold;
struct log_hold_entry;
struct logger_object;
struct message;
struct queue;

enum
{
    TCP_NW_HANDLE_BUFFER_SIZE = 2048,
    TCP_NW_HANDLE_BATCH_RECORDS = 10,
    TCP_NW_HANDLE_LENGTH_FIELD_SIZE = 2,
    TCP_NW_HANDLE_MIN_FRAME = 3,
    TCP_NW_HANDLE_MAX_FRAME = 2047,    // also the most a batch holds
    TCP_NW_HANDLE_SEQUENCE_OFFSET = 2, // the 32-bit sequence number of an outgoing frame
    TCP_NW_HANDLE_FREE = -1,           // network handle of a free slot
    TCP_NW_HANDLE_NO_LINK = 0xFFFF,
    // The network header of a frame (length, sequence number, digest): once it has come, the
    // frame counts as on its way.
    TCP_NW_HANDLE_HEADER_SIZE = 22,
};

// Operations of tcp_nw_handle_send.
enum : int32_t
{
    TCP_NW_HANDLE_QUEUE_MESSAGE = 41,
    TCP_NW_HANDLE_SEND_PENDING = 51,
};

// What a connection can do wrong, as the reason codes of its CLIENT_DISCONNECTED record.
enum : uint16_t
{
    TWS_REASON_CONNECTION_LOST = 11009,
    TWS_REASON_INVITATION_EXCEEDED = 11010,
    TWS_REASON_INVALID_LENGTH = 11011,
    TWS_REASON_TOO_MANY_PENDING = 11012,
    TWS_REASON_MAX_CONNECTIONS = 11013,
    TWS_REASON_CONNECTIONS_REJECTED = 11016,
    TWS_REASON_SIGN_ON_TIMEOUT = 11027,       // no sign-on within the time allowed
    TWS_REASON_PARTIAL_FRAME_TIMEOUT = 11028, // part of a frame held beyond the time allowed
};

// tcp_nw_handle_recv: the connection is lost or its frame is invalid.
enum
{
    TCP_NW_HANDLE_CONNECTION_LOST = 3,
};

struct tcp_nw_handle
{
    int32_t network_handle;
    int32_t client_sockfd;
    uint16_t link_index;
    uint16_t frame_length; // 0 while the two length bytes are incomplete
    uint8_t receive_buffer[TCP_NW_HANDLE_BUFFER_SIZE];
    uint8_t *receive_position;
    uint16_t bytes_to_read;
    uint16_t batch_length;
    uint8_t send_buffer[TCP_NW_HANDLE_BUFFER_SIZE];
    uint8_t *send_position;
    uint16_t bytes_left; // 0: no batch in flight
    int32_t pending_count;
    int32_t received_count;
    int32_t send_sequence_no;
    queue *send_queue;
    message *last_sent_message[TCP_NW_HANDLE_BATCH_RECORDS];
    uint16_t batch_record_count;
    uint32_t batch_tick;
    uint32_t frame_start_tick; // tick of the first byte of the frame being read; 0 between frames
    uint32_t header_tick;      // tick at which that frame's network header was whole; 0 before
    // 1 once the host accepted the sign-on of the connection's user: the connection book's
    // verdict as this thread last read it, so that the lines about a signed-on connection
    // are written at once without a look at the book, and the lines held until then are
    // written when this thread first sees the verdict.
    uint16_t signed_on;
    uint32_t serial;       // the connection's serial in the admission policy (tcp_nw_admission.h)
    message *parked;       // its first frame, read and waiting in the gateway; null when none waits
    uint32_t peer_address; // the workstation's IPv4 address, as ea_inet_addr gives it
    uint16_t index;        // the slot's place in the table, its workstation index
    log_hold *held_lines;  // the server's hold of what is written about connections not signed on
};

// The entry that the lines and binary records about this connection are held in until it
// signs on; none (everything written at once) once it has.
log_hold_entry *tcp_nw_handle_held(const tcp_nw_handle *slot);

tcp_nw_handle *tcp_nw_handle_create(uint16_t count, logger_object *logger);
void tcp_nw_handle_destroy(tcp_nw_handle *list, uint16_t count, logger_object *logger);

// Empties a slot back to its never-used state; the send queue object, its place and the
// hold are kept (the queue must be empty), every other field is cleared.
void tcp_nw_handle_reset(tcp_nw_handle *slot);

// 0 with a whole frame in *out (its sequence number taken from *receive_sequence), 203
// when nothing is complete yet, 3 with *reason_code when the connection is lost or the
// frame invalid, 10000 when no record can be created.
ea_status tcp_nw_handle_recv(tcp_nw_handle *slot, message **out, uint32_t *receive_sequence,
                             uint16_t *reason_code, logger_object *logger);

// Operation 41 queues msg (an invitation at the head); operation 51 writes what is queued.
// Journal-download records met while packing go to notifications instead of the socket.
ea_status tcp_nw_handle_send(tcp_nw_handle *slot, int32_t operation, message *msg, int32_t *pending_count,
                             queue *notifications, logger_object *logger);
