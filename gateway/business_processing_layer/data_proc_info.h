// data_proc_info: the packer. Outbound, it packs up to four trimmed records into one
// packet (a 16-bit count and the entries back to back) or builds a packet of one large
// record; inbound, it splits a packet from the host into one message record per entry,
// decompressing LZO1Z entries and converting each trimmed record back to its full form.
// One packer per host link on the request side, one in all on the response side.
#pragma once

#include <cstdint>

#include "common/ea_status.h"
#include "gateway/business_processing_layer/trimmed_record.h"

struct message;
struct queue;
struct logger_object;

enum : uint32_t
{
    PACKET_COUNT_SIZE = 2,
    PACKET_MAX_ENTRIES = 4,
    PACKER_CAPACITY = 278,                 // the count and 276 bytes of entries
    PACKET_SINGLE_MESSAGE_THRESHOLD = 277, // trimmed sizes from here on travel alone
    PACKET_NETWORK_HEADER_SIZE = 22,       // prepended by the host send validator
    PACKET_DECOMPRESS_BUFFER_SIZE = 2048,
    PACKET_WEIGHT_OFFSET = 108, // 16-bit weight base of 2090 and 2092
    PACKET_MAX_WEIGHT = 82,
};

// Results of packing besides 0 and EA_ERROR.
enum : int32_t
{
    DATA_PROC_PACKET_FULL = 10,
    DATA_PROC_DROPPED = 12,
};

struct data_proc_info
{
    int32_t used_length;     // bytes in use including the count; 2 when empty
    int16_t message_count;   // entries packed so far
    message *packed_message; // the packet under construction, filled with spaces
    uint32_t capacity;       // size of every packet this packer starts
};

data_proc_info *data_proc_info_create(uint32_t capacity, logger_object *logger);

// 0 packed; 10 packet full, nothing changed; 12 the record cannot be packed (the caller
// drops it); EA_ERROR the packer has no packet (memory failed earlier).
ea_status data_proc_info_pack(data_proc_info *packer, message *msg, int32_t limit, logger_object *logger);

// Closes the packet and hands it over, or null when nothing is packed.
message *data_proc_info_get_packet(data_proc_info *packer, uint32_t *packet_counter, logger_object *logger);

// A packet of one entry for a record whose trimmed size is too large to share a packet.
// 0 with *packet set; 12 the record cannot be packed; EA_ERROR memory failure.
ea_status data_proc_info_pack_single_message(data_proc_info *packer, message *msg, message **packet,
                                             uint32_t *packet_counter, logger_object *logger);

// Appends one message record per entry of the packet to output. 12 for a bad packet
// (entries before the bad one stay queued); EA_ERROR memory or queue failure.
ea_status data_proc_info_unpack(data_proc_info *packer, message *packet, queue *output,
                                uint32_t *message_counter, logger_object *logger);

void data_proc_info_destroy(data_proc_info *packer);
