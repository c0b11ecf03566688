// One unpacking of arbitrary bytes taken as a packet from the exchange host. The fuzzer
// and the corpus replay in the test run both call this, so every input the fuzzer saved
// is checked again by every build. Whatever the bytes, unpacking must end with 0 or a
// logged drop (12), and every record it delivers must be a whole message record.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "gateway/business_processing_layer/data_proc_info.h"
#include "gateway/runtime/message.h"
#include "gateway/runtime/queue.h"

inline ea_status unpack_fuzz_one(const uint8_t *data, size_t size)
{
    if (size > MESSAGE_CAPACITY)
        size = MESSAGE_CAPACITY;
    data_proc_info *packer = data_proc_info_create(PACKER_CAPACITY, nullptr);
    message *packet = message_create(static_cast<uint32_t>(size), NORMAL_MESSAGE);
    queue *output = queue_create();
    if (packer == nullptr || packet == nullptr || output == nullptr)
        abort();
    if (size > 0)
        memcpy(packet->data, data, size);
    packet->sequence_number = 1;

    uint32_t counter = 0;
    ea_status result = data_proc_info_unpack(packer, packet, output, &counter, nullptr);
    if (result != EA_SUCCESS && result != DATA_PROC_DROPPED)
        abort();
    if (queue_get_count(output) != counter)
        abort();

    uint32_t position = 0;
    while (void *element = queue_remove_head(output))
    {
        message *record = static_cast<message *>(element);
        position++;
        if (record->data_length == 0 ||
            record->data + record->data_length > record->buffer_base + record->capacity ||
            record->routing_area_a[1] != position || record->sequence_number != position)
            abort();
        message_destroy(record);
    }
    queue_destroy(output);
    message_destroy(packet);
    data_proc_info_destroy(packer);
    return result;
}
