// The trimmed record families and the dispatcher that selects them. Operation 2 starts
// from a trimmed record of spaces and operation 3 from a full record of zeros; the
// family's mapping rows (trimmed_record_tables.h) are copied, then its fixed values are
// written.
#include "gateway/business_processing_layer/trimmed_record.h"

#include <cstring>

#include "gateway/business_processing_layer/trimmed_record_tables.h"
#include "gateway/business_processing_layer/vrx_record.h"
#include "gateway/runtime/wire.h"

namespace
{
enum class record_family
{
    order_entry,
    order_change,
    order_reply,
    trade_record,
    short_header,
    generic,
};

constexpr uint8_t TRIMMED_FILL = 0x20;

bool book_type_is_trimmed(const uint8_t *full, const uint8_t *trimmed, uint32_t trimmed_offset)
{
    return (full != nullptr && get_u16_be(full, ORDER_FULL_BOOK_TYPE) == ORDER_BOOK_TYPE_TRIMMED) ||
           (trimmed != nullptr && get_u16_be(trimmed, trimmed_offset) == ORDER_BOOK_TYPE_TRIMMED);
}

record_family select_family(int16_t transcode, const uint8_t *full, const uint8_t *trimmed)
{
    switch (transcode)
    {
    case 20001:
    case 20012:
    case 20041:
    case 20042:
    case 20072:
    case 20073:
    case 20074:
    case 20075:
    case 20231:
        return record_family::order_reply;
    case TRANSCODE_TRIMMED_TRADE_RECORD:
        return record_family::trade_record;
    case TRANSCODE_SHORT_HEADER_RECORD:
        return record_family::short_header;
    case TRANSCODE_ORDER_ENTRY:
    case TRANSCODE_TRIMMED_ORDER_ENTRY:
        return book_type_is_trimmed(full, trimmed, ORDER_ENTRY_TRIMMED_BOOK_TYPE) ? record_family::order_entry
                                                                                  : record_family::generic;
    case 2040:
    case 2060:
    case 2070:
    case 20040:
    case 20060:
    case 20070:
        return book_type_is_trimmed(full, trimmed, ORDER_CHANGE_TRIMMED_BOOK_TYPE)
                   ? record_family::order_change
                   : record_family::generic;
    default:
        return record_family::generic;
    }
}

template <size_t N>
void rows_to_trimmed(const trimmed_field_row (&rows)[N], const uint8_t *full, uint8_t *trimmed)
{
    for (const trimmed_field_row &row : rows)
        memcpy(trimmed + row.trimmed, full + row.full, row.width);
}

template <size_t N>
void rows_to_full(const trimmed_field_row (&rows)[N], const uint8_t *trimmed, uint8_t *full)
{
    for (const trimmed_field_row &row : rows)
        memcpy(full + row.full, trimmed + row.trimmed, row.width);
}

void write_full_header(uint8_t *full, int16_t transcode, uint16_t length)
{
    put_i16_be(full, VRX_INTERNAL_TRANSCODE, transcode);
    put_u16_be(full, VRX_INTERNAL_LENGTH, length);
}

// The fixed tail bytes that a full order record rebuilt from the host always carries.
void write_order_fixed_bytes(uint8_t *full)
{
    full[ORDER_FULL_FIXED_216] = 0x0A;
    full[ORDER_FULL_FIXED_217] = 0x00;
    full[ORDER_FULL_FIXED_219] = 'P';
}

int16_t untrimmed_transcode(int16_t trimmed_transcode)
{
    return trimmed_transcode > TRANSCODE_TRIMMED_OFFSET
               ? static_cast<int16_t>(trimmed_transcode - TRANSCODE_TRIMMED_OFFSET)
               : trimmed_transcode;
}

void order_entry_to_trimmed(const uint8_t *full, uint8_t *trimmed)
{
    memset(trimmed, TRIMMED_FILL, ORDER_ENTRY_TRIMMED_SIZE);
    put_i16_be(trimmed, 0, TRANSCODE_TRIMMED_ORDER_ENTRY);
    rows_to_trimmed(ORDER_ENTRY_ROWS, full, trimmed);
}

void order_entry_to_full(const uint8_t *trimmed, uint8_t *full)
{
    memset(full, 0, ORDER_FULL_SIZE);
    rows_to_full(ORDER_ENTRY_ROWS, trimmed, full);
    write_full_header(full, TRANSCODE_ORDER_ENTRY, ORDER_FULL_SIZE);
}

void order_change_to_trimmed(const uint8_t *full, uint8_t *trimmed)
{
    int16_t transcode = get_i16_be(full, VRX_INTERNAL_TRANSCODE);
    // A record that already carries the trimmed value keeps it instead of wrapping past 32767.
    if (transcode < TRANSCODE_TRIMMED_OFFSET)
        transcode = static_cast<int16_t>(transcode + TRANSCODE_TRIMMED_OFFSET);
    memset(trimmed, TRIMMED_FILL, ORDER_CHANGE_TRIMMED_SIZE);
    put_i16_be(trimmed, 0, transcode);
    rows_to_trimmed(ORDER_CHANGE_ROWS, full, trimmed);
}

void order_change_to_full(const uint8_t *trimmed, uint8_t *full)
{
    memset(full, 0, ORDER_FULL_SIZE);
    rows_to_full(ORDER_CHANGE_ROWS, trimmed, full);
    write_full_header(full, untrimmed_transcode(get_i16_be(trimmed, 0)), ORDER_FULL_SIZE);
    memcpy(full + VRX_INTERNAL_CHARS, trimmed + ORDER_CHANGE_TRIMMED_CHARS, 2);
    write_order_fixed_bytes(full);
}

void order_reply_to_full(const uint8_t *trimmed, uint8_t *full)
{
    memset(full, 0, ORDER_FULL_SIZE);
    rows_to_full(ORDER_REPLY_ROWS, trimmed, full);
    write_full_header(full, untrimmed_transcode(get_i16_be(trimmed, 0)), ORDER_FULL_SIZE);
    full[ORDER_FULL_BYTE_37] = static_cast<uint8_t>(trimmed[ORDER_REPLY_TRIMMED_DIGIT] - '0');
    memcpy(full + VRX_INTERNAL_CHARS, trimmed + ORDER_REPLY_TRIMMED_CHARS, 2);
    write_order_fixed_bytes(full);
}

void trade_record_to_trimmed(const uint8_t *full, uint8_t *trimmed)
{
    memset(trimmed, TRIMMED_FILL, TRADE_RECORD_TRIMMED_SIZE);
    put_i16_be(trimmed, 0, TRANSCODE_TRIMMED_TRADE_RECORD);
    for (const trimmed_trade_row &row : TRADE_RECORD_ROWS)
        memcpy(trimmed + row.trimmed, full + row.full, row.width);
}

void trade_record_to_full(const uint8_t *trimmed, uint8_t *full)
{
    memset(full, 0, TRADE_RECORD_FULL_SIZE);
    for (const trimmed_trade_row &row : TRADE_RECORD_ROWS)
    {
        memcpy(full + row.full, trimmed + row.trimmed, row.width);
        if (row.full_copy != 0)
            memcpy(full + row.full_copy, trimmed + row.trimmed, row.width);
    }
    write_full_header(full, TRANSCODE_TRADE_RECORD, TRADE_RECORD_FULL_SIZE);
    put_i16_be(full, VRX_INTERNAL_ERROR_CODE, 0);
    memcpy(full + VRX_INTERNAL_CHARS, trimmed + TRADE_RECORD_TRIMMED_CHARS, 2);
}

// Length field of a generic or 7777 record, from the trimmed record when given, else the
// full one; both orders keep it at the same offset. 0 when neither is given.
uint32_t length_field(const uint8_t *full, const uint8_t *trimmed, uint32_t offset)
{
    if (trimmed != nullptr)
        return get_u16_be(trimmed, offset);
    if (full != nullptr)
        return get_u16_be(full, offset);
    return 0;
}

ea_status process_fixed(record_family family, uint8_t *full, uint8_t *trimmed, uint32_t operation,
                        int32_t *result)
{
    uint32_t full_size = family == record_family::trade_record ? TRADE_RECORD_FULL_SIZE : ORDER_FULL_SIZE;
    uint32_t trimmed_size = family == record_family::order_entry    ? ORDER_ENTRY_TRIMMED_SIZE
                            : family == record_family::order_change ? ORDER_CHANGE_TRIMMED_SIZE
                            : family == record_family::order_reply  ? ORDER_REPLY_TRIMMED_SIZE
                                                                    : TRADE_RECORD_TRIMMED_SIZE;
    bool order = family == record_family::order_entry || family == record_family::order_change;
    switch (operation)
    {
    case DATA_PROC_TRIMMED_SIZE:
        *result = static_cast<int32_t>(trimmed_size);
        return EA_SUCCESS;
    case DATA_PROC_FULL_SIZE:
        *result = static_cast<int32_t>(full_size);
        return EA_SUCCESS;
    case DATA_PROC_USER_ID:
        if (trimmed == nullptr)
            return EA_ERROR;
        *result = get_i32_be(trimmed, order ? ORDER_TRIMMED_USER_ID : REPLY_TRIMMED_USER_ID);
        return EA_SUCCESS;
    case DATA_PROC_FULL_TO_TRIMMED:
        if (family == record_family::order_entry)
            order_entry_to_trimmed(full, trimmed);
        else if (family == record_family::order_change)
            order_change_to_trimmed(full, trimmed);
        else if (family == record_family::trade_record)
            trade_record_to_trimmed(full, trimmed);
        else
            return EA_ERROR; // replies only ever come from the host
        return EA_SUCCESS;
    case DATA_PROC_TRIMMED_TO_FULL:
        if (family == record_family::order_entry)
            order_entry_to_full(trimmed, full);
        else if (family == record_family::order_change)
            order_change_to_full(trimmed, full);
        else if (family == record_family::order_reply)
            order_reply_to_full(trimmed, full);
        else
            trade_record_to_full(trimmed, full);
        return EA_SUCCESS;
    default:
        return EA_ERROR;
    }
}

// Generic and 7777 records: sized by their own length field.
ea_status process_sized(record_family family, uint8_t *full, uint8_t *trimmed, uint32_t operation,
                        int32_t *result)
{
    bool short_header = family == record_family::short_header;
    uint32_t length_offset = short_header ? VRX_SHORT_INTERNAL_LENGTH : VRX_INTERNAL_LENGTH;
    uint32_t header_size = short_header ? VRX_SHORT_HEADER_SIZE : VRX_HEADER_SIZE;
    switch (operation)
    {
    case DATA_PROC_TRIMMED_SIZE:
    case DATA_PROC_FULL_SIZE:
    {
        // A length shorter than its own header is no record; treating it as one would copy
        // a negative body.
        uint32_t length = length_field(full, trimmed, length_offset);
        if (length < header_size)
            return EA_ERROR;
        *result = static_cast<int32_t>(length);
        return EA_SUCCESS;
    }
    case DATA_PROC_USER_ID:
        if (trimmed != nullptr)
            *result = get_i32_be(trimmed, VRX_EXCHANGE_USER_ID);
        else if (full != nullptr)
            *result = get_i32_be(full, VRX_INTERNAL_USER_ID);
        else
            return EA_ERROR;
        return EA_SUCCESS;
    case DATA_PROC_FULL_TO_TRIMMED:
        if (get_u16_be(full, length_offset) < header_size)
            return EA_ERROR;
        if (short_header)
            vrx_record_short_internal_to_exchange(full, trimmed);
        else
            vrx_record_internal_to_exchange(full, trimmed);
        return EA_SUCCESS;
    case DATA_PROC_TRIMMED_TO_FULL:
        if (get_u16_be(trimmed, length_offset) < header_size)
            return EA_ERROR;
        if (short_header)
            vrx_record_short_exchange_to_internal(trimmed, full);
        else
            vrx_record_exchange_to_internal(trimmed, full);
        return EA_SUCCESS;
    default:
        return EA_ERROR;
    }
}
} // namespace

ea_status data_proc_info_process(data_proc_info *, int16_t transcode, uint8_t *full, uint8_t *trimmed,
                                 uint32_t operation, int32_t *result)
{
    if (operation > DATA_PROC_USER_ID)
        return EA_ERROR;
    if ((operation == DATA_PROC_TRIMMED_SIZE || operation == DATA_PROC_FULL_SIZE ||
         operation == DATA_PROC_USER_ID) &&
        result == nullptr)
        return EA_ERROR;
    if ((operation == DATA_PROC_FULL_TO_TRIMMED || operation == DATA_PROC_TRIMMED_TO_FULL) &&
        (full == nullptr || trimmed == nullptr))
        return EA_ERROR;

    record_family family = select_family(transcode, full, trimmed);
    if (family == record_family::short_header || family == record_family::generic)
        return process_sized(family, full, trimmed, operation, result);
    return process_fixed(family, full, trimmed, operation, result);
}

uint32_t data_proc_info_sizing_bytes(int16_t transcode, bool trimmed_record)
{
    switch (transcode)
    {
    case TRANSCODE_ORDER_ENTRY:
    case TRANSCODE_TRIMMED_ORDER_ENTRY:
        return trimmed_record ? ORDER_ENTRY_TRIMMED_BOOK_TYPE + 2 : ORDER_FULL_BOOK_TYPE + 2;
    case 2040:
    case 2060:
    case 2070:
    case 20040:
    case 20060:
    case 20070:
        return trimmed_record ? ORDER_CHANGE_TRIMMED_BOOK_TYPE + 2 : ORDER_FULL_BOOK_TYPE + 2;
    case TRANSCODE_SHORT_HEADER_RECORD:
        return VRX_SHORT_INTERNAL_LENGTH + 2;
    default:
        // The fixed-size families need only their transcode; VRX_HEADER_SIZE covers both
        // that and the generic length field.
        return select_family(transcode, nullptr, nullptr) == record_family::generic
                   ? uint32_t{VRX_HEADER_SIZE}
                   : 2u;
    }
}
