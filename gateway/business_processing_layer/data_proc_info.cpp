// The packer and unpacker of host-link packets. A packet is built in place in one
// preallocated message record; closing it hands that record over and starts the next,
// so each outbound record is copied once, by its converter. Inbound, every entry is
// checked against the packet's bounds before any of its fields is read, and a bad entry
// drops the rest of the packet with a log line; entries already unpacked go on.
#include "gateway/business_processing_layer/data_proc_info.h"

#include <lzo/lzo1z.h>

#include <cstdlib>
#include <cstring>
#include <new>

#include "gateway/business_processing_layer/vrx_record.h"
#include "gateway/runtime/logger.h"
#include "gateway/runtime/message.h"
#include "gateway/runtime/queue.h"
#include "gateway/runtime/wire.h"

namespace
{
constexpr uint8_t PACKET_FILL = 0x20;

// A packet must still take the network header in front, and message_lalloc keeps one
// byte of the record's buffer spare.
constexpr uint32_t PACKET_MAX_LENGTH = MESSAGE_CAPACITY - PACKET_NETWORK_HEADER_SIZE - 1;

message *new_packed_message(uint32_t capacity)
{
    message *packet = message_create(capacity, NORMAL_MESSAGE);
    if (packet != nullptr)
        memset(packet->data, PACKET_FILL, capacity);
    return packet;
}

unsigned long sequence_of(const message *msg)
{
    return static_cast<unsigned long>(msg->sequence_number);
}

// What packing needs of a record before converting it: its transcode and its sizes.
struct pack_sizes
{
    int16_t transcode;
    int32_t full_size;
    int32_t trimmed_size;
};

// Reads the header and sizes of a record to be packed; false (logged) when the record
// cannot be packed. Every failure here is the record's, never the packer's.
bool read_pack_sizes(message *msg, bool single, pack_sizes *sizes, logger_object *logger)
{
    if (msg->data_length < VRX_INTERNAL_TRANSCODE + 2)
    {
        EA_LOG(
            logger, EA_LEVEL_BUSINESS_ERROR,
            "The size of the message buffer [%d] is too small to hold the header of the message to be packed. Sequence Number [%lu]",
            msg->data_length, sequence_of(msg));
        return false;
    }
    sizes->transcode = get_i16_be(msg->data, VRX_INTERNAL_TRANSCODE);
    if (msg->data_length < data_proc_info_sizing_bytes(sizes->transcode, false))
    {
        EA_LOG(
            logger, EA_LEVEL_BUSINESS_ERROR,
            "The size of the message buffer [%d] is too small to hold the header of the message to be packed. Transcode [%d] Sequence Number [%lu]",
            msg->data_length, sizes->transcode, sequence_of(msg));
        return false;
    }

    if (data_proc_info_process(nullptr, sizes->transcode, msg->data, nullptr, DATA_PROC_FULL_SIZE,
                               &sizes->full_size) != EA_SUCCESS)
    {
        EA_LOG(logger, EA_LEVEL_BUSINESS_ERROR,
               "The transcode [%d] can't be processed. Sequence Number [%lu]", sizes->transcode,
               sequence_of(msg));
        return false;
    }
    if (sizes->full_size < 1)
    {
        if (single)
            EA_LOG(logger, EA_LEVEL_BUSINESS_ERROR,
                   "Invalid length in the message length field [%ld]. Transcode [%d] Sequence Number [%lu]",
                   static_cast<long>(sizes->full_size), sizes->transcode, sequence_of(msg));
        else
            EA_LOG(
                logger, EA_LEVEL_BUSINESS_ERROR,
                "Invalid length in the length field of the message to be packed[%ld]. Transcode [%d] Sequence Number [%lu]",
                static_cast<long>(sizes->full_size), sizes->transcode, sequence_of(msg));
        return false;
    }
    if (msg->data_length < sizes->full_size)
    {
        if (single)
            EA_LOG(
                logger, EA_LEVEL_BUSINESS_ERROR,
                "The size of the message buffer [%d] is less than the length in the length field of the message to be packed [%ld]. Transcode [%d] Sequence Number [%lu]",
                msg->data_length, static_cast<long>(sizes->full_size), sizes->transcode, sequence_of(msg));
        else
            EA_LOG(
                logger, EA_LEVEL_BUSINESS_ERROR,
                "The size of the message buffer [%d] is less than the length present in the length field of the message to be packed[%ld]. Transcode [%d] Sequence Number [%lu]",
                msg->data_length, static_cast<long>(sizes->full_size), sizes->transcode, sequence_of(msg));
        return false;
    }

    // A workstation can send a transcode that has no outbound form (an order reply); that
    // drops its record, it does not stop the gateway.
    if (data_proc_info_process(nullptr, sizes->transcode, msg->data, nullptr, DATA_PROC_TRIMMED_SIZE,
                               &sizes->trimmed_size) != EA_SUCCESS)
    {
        EA_LOG(logger, EA_LEVEL_BUSINESS_ERROR,
               "The transcode [%d] can't be processed. Sequence Number [%lu]", sizes->transcode,
               sequence_of(msg));
        return false;
    }
    if (sizes->trimmed_size < 1)
    {
        if (single)
            EA_LOG(logger, EA_LEVEL_BUSINESS_ERROR,
                   "Invalid length in the message length field [%ld]. Transcode [%d] Sequence Number [%lu]",
                   static_cast<long>(sizes->trimmed_size), sizes->transcode, sequence_of(msg));
        else
            EA_LOG(
                logger, EA_LEVEL_BUSINESS_ERROR,
                "Invalid length in the length field of the message to be packed [%ld]. Transcode [%d] Sequence Number [%lu]",
                static_cast<long>(sizes->trimmed_size), sizes->transcode, sequence_of(msg));
        return false;
    }
    return true;
}

// Converts the record into the packet at offset; on failure the bytes go back to spaces.
bool convert_into_packet(message *msg, const pack_sizes &sizes, uint8_t *entry, logger_object *logger)
{
    if (data_proc_info_process(nullptr, sizes.transcode, msg->data, entry, DATA_PROC_FULL_TO_TRIMMED,
                               nullptr) == EA_SUCCESS)
        return true;
    memset(entry, PACKET_FILL, static_cast<size_t>(sizes.trimmed_size));
    EA_LOG(logger, EA_LEVEL_BUSINESS_ERROR, "Couldn't process transcode [%d]. Sequence Number [%lu]",
           sizes.transcode, sequence_of(msg));
    return false;
}

void log_packed(message *msg, const pack_sizes &sizes, uint8_t *entry, logger_object *logger)
{
    int32_t user_id = 0;
    data_proc_info_process(nullptr, sizes.transcode, nullptr, entry, DATA_PROC_USER_ID, &user_id);
    EA_LOG(logger, EA_LEVEL_ACTIVITY,
           "The message with transcode [%d] and user id [%ld] is packed successfully. sequence number [%lu].",
           sizes.transcode, static_cast<long>(user_id), sequence_of(msg));
}

int16_t single_message_weight(const message *msg, const pack_sizes &sizes)
{
    if (sizes.transcode != TRANSCODE_WEIGHTED_2090 && sizes.transcode != TRANSCODE_WEIGHTED_2092)
        return 1;
    if (sizes.full_size < static_cast<int32_t>(PACKET_WEIGHT_OFFSET + 2))
        return 1;
    int32_t weight = 2 * get_i16_be(msg->data, PACKET_WEIGHT_OFFSET);
    if (weight < 1)
        weight = 1;
    if (weight > static_cast<int32_t>(PACKET_MAX_WEIGHT))
        weight = PACKET_MAX_WEIGHT;
    return static_cast<int16_t>(weight);
}

void log_not_enough_bytes(logger_object *logger, uint32_t position, uint32_t needed, uint32_t length,
                          int32_t n, const message *packet)
{
    EA_LOG(
        logger, EA_LEVEL_BUSINESS_ERROR,
        "After unpacking [%d] bytes of packed message, additional [%d] bytes are required for unpacking next message. The packed message buffer size is [%d]. So can not unpack message [%d] onwards. Sequence Number [%lu]",
        static_cast<int>(position), static_cast<int>(needed), static_cast<int>(length), n,
        sequence_of(packet));
}

void log_record_not_inside(logger_object *logger, uint32_t position, int32_t needed, int16_t transcode,
                           uint32_t length, int32_t n, const message *packet)
{
    EA_LOG(
        logger, EA_LEVEL_BUSINESS_ERROR,
        "After unpacking [%d] bytes of packed message, additional [%ld] bytes are required for unpacking next message with transcode [%d]. The packed message buffer size is [%d]. So can not unpack message [%d] onwards. Sequence Number [%lu]",
        static_cast<int>(position), static_cast<long>(needed), transcode, static_cast<int>(length), n,
        sequence_of(packet));
}

void log_unknown_transcode(logger_object *logger, int16_t transcode, int32_t n, const message *packet)
{
    EA_LOG(logger, EA_LEVEL_BUSINESS_ERROR,
           "Unknown transcode [%d]. So can not unpack message [%d] onwards. Sequence Number [%lu]", transcode,
           n, sequence_of(packet));
}

// Where one entry's trimmed record stands once it has been found whole.
struct unpacked_entry
{
    uint8_t *record;
    int16_t transcode;
};

// Locates entry n at *position, decompressing it into buffer when it is compressed, and
// advances *position past it. False (logged) when the entry is not whole and sound.
bool locate_entry(message *packet, uint32_t *position, int32_t n, uint8_t *buffer, unpacked_entry *entry,
                  logger_object *logger)
{
    uint32_t length = packet->data_length;
    uint8_t *data = packet->data;
    if (*position + 2 > length)
    {
        log_not_enough_bytes(logger, *position, 2, length, n, packet);
        return false;
    }
    int32_t lead = get_i16_be(data, *position);
    int32_t size = 0;

    if (lead < 0)
    {
        uint32_t compressed = static_cast<uint32_t>(-lead);
        if (*position + 2 + compressed > length)
        {
            log_not_enough_bytes(logger, *position, 2 + compressed, length, n, packet);
            return false;
        }
        memset(buffer, 0, PACKET_DECOMPRESS_BUFFER_SIZE);
        lzo_uint decompressed = PACKET_DECOMPRESS_BUFFER_SIZE;
        if (lzo1z_decompress_safe(data + *position + 2, compressed, buffer, &decompressed, nullptr) !=
            LZO_E_OK)
        {
            EA_LOG(
                logger, EA_LEVEL_BUSINESS_ERROR,
                "Decompression of the message failed. So can not unpack message [%d] onwards. Sequence Number [%lu]",
                n, sequence_of(packet));
            return false;
        }
        entry->record = buffer;
        entry->transcode = get_i16_be(buffer, 0);
        if (data_proc_info_process(nullptr, entry->transcode, nullptr, buffer, DATA_PROC_TRIMMED_SIZE,
                                   &size) != EA_SUCCESS)
        {
            log_unknown_transcode(logger, entry->transcode, n, packet);
            return false;
        }
        if (size < 1)
        {
            EA_LOG(
                logger, EA_LEVEL_BUSINESS_ERROR,
                "Invalid length [%ld] of the decompressed message. Transcode [%d]. So can not unpack message [%d] onwards. Sequence Number [%lu]",
                static_cast<long>(size), entry->transcode, n, sequence_of(packet));
            return false;
        }
        if (decompressed < static_cast<lzo_uint>(size))
        {
            EA_LOG(
                logger, EA_LEVEL_BUSINESS_ERROR,
                "The size of the decompressed buffer [%d] is less than size required to unpack the decompressed message [%ld] . Transcode [%d]. So can not unpack message [%d] onwards. Sequence Number [%lu]",
                static_cast<int>(decompressed), static_cast<long>(size), entry->transcode, n,
                sequence_of(packet));
            return false;
        }
        // A compressed entry holds exactly one record; surplus bytes mean the entry is not
        // what its sender meant.
        if (decompressed > static_cast<lzo_uint>(size))
        {
            EA_LOG(
                logger, EA_LEVEL_BUSINESS_ERROR,
                "The size of the decompressed buffer [%d] is more than size required to unpack the decompressed message [%ld] . Transcode [%d]. So can not unpack message [%d] onwards. Sequence Number [%lu]",
                static_cast<int>(decompressed), static_cast<long>(size), entry->transcode, n,
                sequence_of(packet));
            return false;
        }
        *position += 2 + compressed;
        return true;
    }

    entry->record = data + *position;
    entry->transcode = static_cast<int16_t>(lead);
    // The size comes from fields inside the record, so those must lie inside the packet
    // before they are read.
    uint32_t sizing = data_proc_info_sizing_bytes(entry->transcode, true);
    if (*position + sizing > length)
    {
        log_record_not_inside(logger, *position, static_cast<int32_t>(sizing), entry->transcode, length, n,
                              packet);
        return false;
    }
    if (data_proc_info_process(nullptr, entry->transcode, nullptr, entry->record, DATA_PROC_TRIMMED_SIZE,
                               &size) != EA_SUCCESS)
    {
        log_unknown_transcode(logger, entry->transcode, n, packet);
        return false;
    }
    if (size < 1)
    {
        EA_LOG(
            logger, EA_LEVEL_BUSINESS_ERROR,
            "Invalid length [%ld] of the message to be unpacked. Transcode [%d]. So can not unpack message [%d] onwards. Sequence Number [%lu]",
            static_cast<long>(size), entry->transcode, n, sequence_of(packet));
        return false;
    }
    if (*position + static_cast<uint32_t>(size) > length)
    {
        log_record_not_inside(logger, *position, size, entry->transcode, length, n, packet);
        return false;
    }
    *position += static_cast<uint32_t>(size);
    return true;
}
} // namespace

data_proc_info *data_proc_info_create(uint32_t capacity, logger_object *logger)
{
    if (lzo_init() != LZO_E_OK)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "lzo_init failed.");
        return nullptr;
    }
    data_proc_info *packer = new (std::nothrow) data_proc_info();
    if (packer == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "malloc failed for data proc info.");
        return nullptr;
    }
    packer->used_length = PACKET_COUNT_SIZE;
    packer->message_count = 0;
    packer->capacity = capacity;
    packer->packed_message = capacity >= PACKET_COUNT_SIZE ? new_packed_message(capacity) : nullptr;
    if (packer->packed_message == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "malloc failed for packed message.");
        delete packer;
        return nullptr;
    }
    return packer;
}

ea_status data_proc_info_pack(data_proc_info *packer, message *msg, int32_t limit, logger_object *logger)
{
    if (packer == nullptr || packer->packed_message == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "The internal packed message is not initialized.");
        return EA_ERROR;
    }
    if (packer->message_count >= static_cast<int16_t>(PACKET_MAX_ENTRIES) ||
        (limit >= 1 && packer->message_count >= limit))
    {
        EA_LOG(logger, EA_LEVEL_DEBUG, "The internal buffer is full");
        return DATA_PROC_PACKET_FULL;
    }

    pack_sizes sizes;
    if (!read_pack_sizes(msg, false, &sizes, logger))
        return DATA_PROC_DROPPED;
    // Returning "full" for a record that no packet can hold would have the caller close
    // packets for it for ever.
    if (static_cast<uint32_t>(sizes.trimmed_size) > packer->capacity - PACKET_COUNT_SIZE)
    {
        EA_LOG(
            logger, EA_LEVEL_BUSINESS_ERROR,
            "The trimmed length [%ld] of the message is more than a packet can hold [%d]. Transcode [%d] Sequence Number [%lu]",
            static_cast<long>(sizes.trimmed_size), static_cast<int>(packer->capacity - PACKET_COUNT_SIZE),
            sizes.transcode, sequence_of(msg));
        return DATA_PROC_DROPPED;
    }
    if (static_cast<int32_t>(packer->capacity) - packer->used_length < sizes.trimmed_size)
    {
        EA_LOG(logger, EA_LEVEL_DEBUG, "The internal buffer is full");
        return DATA_PROC_PACKET_FULL;
    }

    message *packet = packer->packed_message;
    uint8_t *entry = packet->data + packer->used_length;
    if (!convert_into_packet(msg, sizes, entry, logger))
        return DATA_PROC_DROPPED;
    packet->routing_area_a[packer->message_count] = msg->sequence_number;
    packet->routing_area_b[packer->message_count] = msg->user_type;
    packer->used_length += sizes.trimmed_size;
    packer->message_count++;
    log_packed(msg, sizes, entry, logger);
    return EA_SUCCESS;
}

message *data_proc_info_get_packet(data_proc_info *packer, uint32_t *packet_counter, logger_object *logger)
{
    if (packer == nullptr || packer->packed_message == nullptr ||
        packer->used_length == static_cast<int32_t>(PACKET_COUNT_SIZE))
    {
        EA_LOG(logger, EA_LEVEL_DEBUG, "The internal buffer is empty.");
        return nullptr;
    }

    message *packet = packer->packed_message;
    packer->packed_message = new_packed_message(packer->capacity);
    if (packer->packed_message == nullptr)
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "malloc failed for packed message.");

    put_i16_be(packet->data, 0, packer->message_count);
    packet->packing_weight = packer->message_count;
    packet->sequence_number = ++*packet_counter;
    packet->data_length = static_cast<uint16_t>(packer->used_length);

    packer->used_length = PACKET_COUNT_SIZE;
    packer->message_count = 0;
    EA_LOG(logger, EA_LEVEL_DEBUG, "The data proc info was reinitialized successfully.");
    return packet;
}

ea_status data_proc_info_pack_single_message(data_proc_info *, message *msg, message **packet,
                                             uint32_t *packet_counter, logger_object *logger)
{
    *packet = nullptr;
    pack_sizes sizes;
    if (!read_pack_sizes(msg, true, &sizes, logger))
        return DATA_PROC_DROPPED;
    uint32_t packet_length = static_cast<uint32_t>(sizes.trimmed_size) + PACKET_COUNT_SIZE;
    if (packet_length > PACKET_MAX_LENGTH)
    {
        EA_LOG(
            logger, EA_LEVEL_BUSINESS_ERROR,
            "The packet of [%d] bytes for the message is more than a message can carry with its network header [%d]. Transcode [%d] Sequence Number [%lu]",
            static_cast<int>(packet_length), static_cast<int>(PACKET_MAX_LENGTH), sizes.transcode,
            sequence_of(msg));
        return DATA_PROC_DROPPED;
    }

    message *single = message_create(packet_length, NORMAL_MESSAGE);
    if (single == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "message creation failed.");
        return EA_ERROR;
    }
    memset(single->data, PACKET_FILL, packet_length);
    put_i16_be(single->data, 0, 1);
    single->packing_weight = single_message_weight(msg, sizes);
    uint8_t *entry = single->data + PACKET_COUNT_SIZE;
    if (!convert_into_packet(msg, sizes, entry, logger))
    {
        EA_FREE_CHECKED(single, message_destroy, "single");
        return DATA_PROC_DROPPED;
    }
    single->sequence_number = ++*packet_counter;
    single->routing_area_a[0] = msg->sequence_number;
    single->routing_area_b[0] = msg->user_type;
    log_packed(msg, sizes, entry, logger);
    *packet = single;
    return EA_SUCCESS;
}

ea_status data_proc_info_unpack(data_proc_info *, message *packet, queue *output, uint32_t *message_counter,
                                logger_object *logger)
{
    if (packet == nullptr || output == nullptr || message_counter == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "Invalid arguments to data_proc_info_unpack.");
        return EA_ERROR;
    }
    uint32_t length = packet->data_length;
    if (length < PACKET_COUNT_SIZE)
    {
        EA_LOG(
            logger, EA_LEVEL_BUSINESS_ERROR,
            "The size of the packed message buffer [%d] is less than required [%d]. So can not unpack any message. Sequence Number [%lu]",
            static_cast<int>(length), static_cast<int>(PACKET_COUNT_SIZE), sequence_of(packet));
        return DATA_PROC_DROPPED;
    }
    int16_t count = get_i16_be(packet->data, 0);
    if (count < 0)
    {
        EA_LOG(
            logger, EA_LEVEL_BUSINESS_ERROR,
            "The first two bytes of the message contains [%d] which is not a positive number. Sequence Number[%lu]",
            count, sequence_of(packet));
        return DATA_PROC_DROPPED;
    }

    // The read position is kept here rather than in the packer, so that unpacking never
    // disturbs a packet under construction.
    uint32_t position = PACKET_COUNT_SIZE;
    uint8_t buffer[PACKET_DECOMPRESS_BUFFER_SIZE];
    for (int32_t n = 1; n <= count; n++)
    {
        unpacked_entry entry;
        if (!locate_entry(packet, &position, n, buffer, &entry, logger))
            return DATA_PROC_DROPPED;

        int32_t user_id = 0;
        int32_t full_size = 0;
        if (data_proc_info_process(nullptr, entry.transcode, nullptr, entry.record, DATA_PROC_USER_ID,
                                   &user_id) != EA_SUCCESS ||
            data_proc_info_process(nullptr, entry.transcode, nullptr, entry.record, DATA_PROC_FULL_SIZE,
                                   &full_size) != EA_SUCCESS)
        {
            log_unknown_transcode(logger, entry.transcode, n, packet);
            return DATA_PROC_DROPPED;
        }
        if (full_size < 1 || full_size > static_cast<int32_t>(MESSAGE_CAPACITY))
        {
            EA_LOG(
                logger, EA_LEVEL_BUSINESS_ERROR,
                "Invalid length [%ld] of the message after unpacking. Transcode [%d]. So can not unpack message [%d] onwards. Sequence Number [%lu]",
                static_cast<long>(full_size), entry.transcode, n, sequence_of(packet));
            return DATA_PROC_DROPPED;
        }
        int16_t internal_transcode = vrx_record_map_received_transcode(entry.transcode);

        message *msg = message_create(static_cast<uint32_t>(full_size), NORMAL_MESSAGE);
        if (msg == nullptr)
        {
            EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "Creation of original message failed.");
            return EA_ERROR;
        }
        msg->transcode = internal_transcode;
        msg->user_id = static_cast<uint32_t>(user_id);
        msg->login_count = vrx_record_login_count(internal_transcode, entry.record);
        msg->sequence_number = ++*message_counter;
        msg->routing_area_a[0] = packet->sequence_number;
        msg->routing_area_a[1] = static_cast<uint32_t>(n);
        msg->routing_area_a[2] = static_cast<uint32_t>(count);
        if (data_proc_info_process(nullptr, entry.transcode, msg->data, entry.record,
                                   DATA_PROC_TRIMMED_TO_FULL, nullptr) != EA_SUCCESS)
        {
            log_unknown_transcode(logger, entry.transcode, n, packet);
            EA_FREE_CHECKED(msg, message_destroy, "msg");
            return DATA_PROC_DROPPED;
        }
        if (queue_append(output, msg) != EA_SUCCESS)
        {
            EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "append failed for output queue.");
            EA_FREE_CHECKED(msg, message_destroy, "msg");
            return EA_ERROR;
        }
        EA_LOG(
            logger, EA_LEVEL_ACTIVITY,
            "The message [%d] with transcode [%d] and user id [%ld] unpacked successfully. Sequence Number [%lu]",
            n, entry.transcode, static_cast<long>(user_id), sequence_of(msg));
    }
    return EA_SUCCESS;
}

void data_proc_info_destroy(data_proc_info *packer)
{
    if (packer == nullptr)
        return;
    if (packer->packed_message != nullptr)
        message_destroy(packer->packed_message);
    delete packer;
}
