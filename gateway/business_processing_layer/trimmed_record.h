// The trimmed record converters: order records travel to and from the host in a form
// shorter than the 240-byte full record; every other record travels with its header
// merely reordered. One dispatcher, data_proc_info_process, chooses the family by
// transcode (and, for orders, by book type) and runs one of five operations over two
// caller-owned buffers. The converters never allocate and never log.
#pragma once

#include <cstdint>

#include "common/ea_status.h"

struct data_proc_info;

// Operation codes of data_proc_info_process.
enum : uint32_t
{
    DATA_PROC_TRIMMED_SIZE = 0,
    DATA_PROC_FULL_SIZE = 1,
    DATA_PROC_FULL_TO_TRIMMED = 2,
    DATA_PROC_TRIMMED_TO_FULL = 3,
    DATA_PROC_USER_ID = 4,
};

// Runs one operation for the family of the transcode (internal when packing, trimmed
// when unpacking). full or trimmed may be null where the operation does not need it.
// Operations 0, 1 and 4 store the size or user id in result. EA_ERROR for an unknown
// operation, operation 2 on an order reply, a size or user id asked with neither record
// given, or a generic or 7777 record whose length field is shorter than its header.
// The packer argument is not used.
ea_status data_proc_info_process(data_proc_info *packer, int16_t transcode, uint8_t *full, uint8_t *trimmed,
                                 uint32_t operation, int32_t *result);

// Leading bytes of a record of this transcode that operations 0 and 1 read to choose the
// family and the size: a caller holding fewer bytes must not ask.
uint32_t data_proc_info_sizing_bytes(int16_t transcode, bool trimmed_record);
