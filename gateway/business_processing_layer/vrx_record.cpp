// VRX header reordering between the internal and the exchange order, and the transcode
// rules of the host link. The two orders hold the same fields; each reorder is one table
// of (exchange offset, width, internal offset) rows used in both directions.
#include "gateway/business_processing_layer/vrx_record.h"

#include <cstring>

#include "gateway/runtime/wire.h"

namespace
{
struct header_row
{
    uint16_t exchange;
    uint16_t width;
    uint16_t internal;
};

constexpr header_row VRX_HEADER_ROWS[] = {
    {VRX_EXCHANGE_TRANSCODE, 2, VRX_INTERNAL_TRANSCODE},   {VRX_EXCHANGE_FIELD_2, 4, VRX_INTERNAL_FIELD_2},
    {VRX_EXCHANGE_CHARS, 2, VRX_INTERNAL_CHARS},           {VRX_EXCHANGE_USER_ID, 4, VRX_INTERNAL_USER_ID},
    {VRX_EXCHANGE_ERROR_CODE, 2, VRX_INTERNAL_ERROR_CODE}, {VRX_EXCHANGE_TIMES, 24, VRX_INTERNAL_TIME_1},
    {VRX_EXCHANGE_LENGTH, 2, VRX_INTERNAL_LENGTH},
};

constexpr header_row VRX_SHORT_HEADER_ROWS[] = {
    {0, 2, 10}, {2, 4, 4}, {6, 2, 8}, {8, 4, 0}, {12, 2, 12}, {14, 2, 14},
};

template <size_t N> void to_exchange(const header_row (&rows)[N], const uint8_t *internal, uint8_t *exchange)
{
    for (const header_row &row : rows)
        memcpy(exchange + row.exchange, internal + row.internal, row.width);
}

template <size_t N> void to_internal(const header_row (&rows)[N], const uint8_t *exchange, uint8_t *internal)
{
    for (const header_row &row : rows)
        memcpy(internal + row.internal, exchange + row.exchange, row.width);
}

uint32_t body_length(uint16_t length)
{
    return length > VRX_HEADER_SIZE ? length - VRX_HEADER_SIZE : 0;
}
} // namespace

void vrx_record_internal_to_exchange(const uint8_t *internal, uint8_t *exchange)
{
    uint16_t length = get_u16_be(internal, VRX_INTERNAL_LENGTH);
    to_exchange(VRX_HEADER_ROWS, internal, exchange);
    memcpy(exchange + VRX_HEADER_SIZE, internal + VRX_HEADER_SIZE, body_length(length));
}

void vrx_record_exchange_to_internal(const uint8_t *exchange, uint8_t *internal)
{
    uint16_t length = get_u16_be(exchange, VRX_EXCHANGE_LENGTH);
    to_internal(VRX_HEADER_ROWS, exchange, internal);
    memcpy(internal + VRX_HEADER_SIZE, exchange + VRX_HEADER_SIZE, body_length(length));
}

void vrx_record_short_internal_to_exchange(const uint8_t *internal, uint8_t *exchange)
{
    uint16_t length = get_u16_be(internal, VRX_SHORT_INTERNAL_LENGTH);
    if (length < VRX_SHORT_HEADER_SIZE)
        length = VRX_SHORT_HEADER_SIZE;
    memcpy(exchange, internal, length);
    to_exchange(VRX_SHORT_HEADER_ROWS, internal, exchange);
}

void vrx_record_short_exchange_to_internal(const uint8_t *exchange, uint8_t *internal)
{
    uint16_t length = get_u16_be(exchange, VRX_SHORT_EXCHANGE_LENGTH);
    if (length < VRX_SHORT_HEADER_SIZE)
        length = VRX_SHORT_HEADER_SIZE;
    memcpy(internal, exchange, length);
    to_internal(VRX_SHORT_HEADER_ROWS, exchange, internal);
}

int16_t vrx_record_map_received_transcode(int16_t transcode)
{
    if (transcode > TRANSCODE_TRIMMED_OFFSET && transcode < TRANSCODE_BOX_SIGN_ON_REQUEST)
        return static_cast<int16_t>(transcode - TRANSCODE_TRIMMED_OFFSET);
    return transcode;
}

int32_t vrx_record_login_count(int16_t transcode, const uint8_t *record)
{
    switch (transcode)
    {
    case TRANSCODE_SYSTEM_INFORMATION_OUT:
    case TRANSCODE_JOURNAL_RECORD_7011:
    case TRANSCODE_JOURNAL_RECORD_7021:
    case TRANSCODE_JOURNAL_RECORD_7031:
        return get_i32_be(record, VRX_LOGIN_COUNT_OFFSET);
    default:
        return -1;
    }
}
