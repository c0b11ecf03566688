// message: the one record that moves between the gateway's threads. A fixed routing
// header and one 2048-byte buffer; stages trim or prepend bytes by moving the data
// pointer, never by copying. Created by its producer, moved by pointer through the shared
// queues, freed by its last consumer.
#pragma once

#include <cstdint>

enum
{
    MESSAGE_CAPACITY = 2048,
    MESSAGE_ROUTING_WORDS = 5,
};

enum message_tag : uint16_t
{
    NORMAL_MESSAGE = 0,
    INITIATE_BOX_LOGOFF_FLUSH = 1,
    USER_LOGOFF_FLUSH = 2,
    BOX_LOGOFF_FLUSH = 3,
    RECVD_BOX_LOGOFF_FLUSH = 4,
    INCOMING_CLIENT_CONNECTION = 5,
    CONNECTION_ACCEPT = 6,
    NEW_CONNECTION_REJECT = 7,
    DROP_CLIENT = 8,
    CLIENT_DISCONNECTED = 9,
    CLIENT_VALIDATION_FAILURE = 10,
    BOX_LOGON_REQUEST = 11,
    HOST_CONNECTION_INITIATED = 12,
    HOST_CONNECTION_LOST = 13,
    HOST_VALIDATION_FAILURE = 14,
    HOST_CONNECTION_FAILED = 15,
    DROP_HOST_CONNECTION = 16,
    PULL_NOTIFICATION = 17,
    CLIENT_INVITATION_MESSAGE = 18,
    INITIATE_SESSION_RECOVERY_FLUSH = 19,
    INITIATE_SESSION_RECOVERED_FLUSH = 20,
    SESSION_RECOVERY_FLUSH = 21,
    SESSION_RECOVERED_FLUSH = 22,
    RECVD_SESSION_RECOVERY_FLUSH = 23,
    HOST_SESSION_TIMED_OUT = 24,
    HEART_BEAT_MESSAGE = 25,
    GENERATE_HEART_BEAT_MESSAGE = 26,
    DROP_HOST_SESSION = 27,
    BOX_RELOGON_REQUEST = 28,
    UPDATE_LINK_INDEX = 29,
    KOVA_MESSAGE = 30,
    INCOMING_KOVA_CONNECTION = 31,
    SECONDARY_JOURNAL_DOWNLOAD_REQUEST = 32,
    HOST_HEART_BEAT_TIMED_OUT = 33,
};

// Bits of message::flags.
enum : uint16_t
{
    MESSAGE_FLAG_RESENT = 0x0001,           // sent again after a session recovery
    MESSAGE_FLAG_NOT_SYNCHRONISED = 0x0002, // set by the binary logger
};

struct message
{
    uint16_t tag;
    uint16_t user_type;
    uint16_t network_sequence_number;
    uint16_t last_sequence_number;
    uint32_t response_timer_start;
    uint16_t workstation_index;
    uint16_t link_index;
    int32_t workstation_network_handle;
    int32_t host_network_handle;
    uint32_t workstation_sequence_number;
    uint32_t sequence_number;
    uint32_t routing_area_a[MESSAGE_ROUTING_WORDS];
    uint32_t routing_area_b[MESSAGE_ROUTING_WORDS];
    uint32_t stamp_tick;
    int64_t high_resolution_stamp;
    uint16_t flags;
    uint32_t stamp_value;
    uint32_t user_id;
    int16_t transcode;
    int16_t packing_weight;
    int32_t login_count;
    uint16_t reason_code;
    int32_t event_value;
    // The workstation's IPv4 address (as ea_inet_addr gives it) on the records of a
    // workstation connection, stamped by the network thread; 0 when unknown.
    uint32_t peer_address;
    uint8_t *buffer_base;
    uint16_t capacity;
    uint8_t *data;
    uint16_t data_length;
    uint8_t buffer[MESSAGE_CAPACITY];
};

message *message_create(uint32_t length, uint16_t tag);
message *message_copy(const message *msg);
message *message_ltrim(message *msg, uint32_t n);
message *message_rtrim(message *msg, uint32_t n);
message *message_use_head_room(message *msg, uint32_t n);
message *message_extend(message *msg, uint32_t n);
message *message_lalloc(message *msg, uint32_t n);
message *message_shift_into_head_room(message *msg, uint32_t n);
void message_destroy(message *msg);

inline uint32_t message_head_room(const message *msg)
{
    return static_cast<uint32_t>(msg->data - msg->buffer_base);
}
