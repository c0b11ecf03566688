// interface_nw_handle: one connected console of a console listener. It assembles the
// console's length-framed packets (16-bit length first, in the little-endian order
// of the system's Windows design) from non-blocking reads, and sends queued records without ever
// blocking: the packet in flight sits in a send buffer, later ones wait in a queue.
#pragma once

#include <cstdint>

#include "common/ea_status.h"

struct log_hold_entry;
struct logger_object;
struct message;
struct queue;

enum
{
    INTERFACE_NW_BUFFER_SIZE = 2048,
    INTERFACE_RECV_MIN_LENGTH = 3,
    INTERFACE_RECV_MAX_LENGTH = 2047,
    INTERFACE_SEND_MIN_LENGTH = 2,
    INTERFACE_SEND_MAX_LENGTH = 2048,
    INTERFACE_CONNECTION_FAILED = 3, // result of recv and send: the connection is gone
    INTERFACE_CONNECTION_RESET = 4,  // result of send: the console reset or closed the connection
    // Records queued for one console at most: past it the oldest queued one is dropped, and
    // once the queue is down to half of it the console is told how many went.
    INTERFACE_OUTGOING_LIMIT = 4096,
};

// Modes of interface_nw_handle_send.
enum
{
    INTERFACE_SEND_NEW_PACKET = 0,
    INTERFACE_SEND_FLUSH = 1,
};

struct interface_nw_handle
{
    int32_t network_handle; // -1 when the entry is free
    int32_t socket;         // -1 when none
    uint16_t ready;         // in the working copy of the read set: to be read

    uint16_t expected_length; // 0 until both length bytes have arrived
    uint16_t recv_position;
    uint16_t recv_missing;
    uint8_t recv_buffer[INTERFACE_NW_BUFFER_SIZE];

    uint16_t send_length;
    uint16_t send_position;
    uint16_t send_remaining;
    uint32_t send_start; // tick at which the packet in the send buffer was loaded; 0 when none
    uint8_t send_buffer[INTERFACE_NW_BUFFER_SIZE];

    uint32_t pending_count; // queued records, plus one for a packet part-sent
    uint32_t received_count;
    queue *outgoing;
    uint32_t dropped;        // records dropped from the queue since the console was last told
    uint16_t dropped_box_id; // box id of the last console event dropped
    // What is written about a console that has not yet sent a packet nor stayed a second,
    // held until it does (log_hold.h); null once written.
    log_hold_entry *held;
    uint32_t admitted_tick;
};

// `count` cleared entries, each with its own outgoing queue; null on failure.
interface_nw_handle *interface_nw_handle_create(uint32_t count, logger_object *logger);
// Clears the entry's state and sets handle and socket to -1; keeps its (empty) queue.
void interface_nw_handle_clear(interface_nw_handle *entry);
// 0 and a complete packet in *out (tag KOVA_MESSAGE, sequence number from the listener's
// counter, the entry's handle); 203 when no whole packet is there yet;
// INTERFACE_CONNECTION_FAILED; EA_ERROR when no record can be made.
ea_status interface_nw_handle_recv(interface_nw_handle *entry, message **out, uint32_t *receive_counter,
                                   logger_object *logger);
// Queues `record` (INTERFACE_SEND_NEW_PACKET) or only continues (INTERFACE_SEND_FLUSH), and
// sends what the socket takes. A queue at INTERFACE_OUTGOING_LIMIT loses its oldest record;
// the drops are counted in one console event queued when the queue has drained to half (a
// lost notice's count passes to the next). 0 when nothing is
// left, 203 when something is, INTERFACE_CONNECTION_RESET when the console reset or closed the connection,
// INTERFACE_CONNECTION_FAILED after any other send error, EA_ERROR when a record cannot be
// queued.
// *pending_out is the entry's pending count afterwards.
ea_status interface_nw_handle_send(interface_nw_handle *entry, int32_t mode, message *record,
                                   uint32_t *pending_out, logger_object *logger);
// Frees every queued record, the queues and the entries.
void interface_nw_handle_destroy(interface_nw_handle *entries, uint32_t count);
