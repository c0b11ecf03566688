// The VRX record: the 40-byte header that heads every business record, in the internal
// order (workstation link, FIX side, inside the gateway) and in the exchange order (host
// link), the transcodes the gateway's own code builds or tests, and the two transcode
// rules of the host link. Every multi-byte field is big-endian in both orders.
#pragma once

#include <cstdint>

enum : uint32_t
{
    VRX_HEADER_SIZE = 40,
    VRX_SHORT_HEADER_SIZE = 16, // the header of transcode 7777

    // Internal order.
    VRX_INTERNAL_USER_ID = 0,
    VRX_INTERNAL_FIELD_2 = 4,
    VRX_INTERNAL_CHARS = 8,
    VRX_INTERNAL_TRANSCODE = 10,
    VRX_INTERNAL_ERROR_CODE = 12,
    VRX_INTERNAL_TIME_1 = 14,
    VRX_INTERNAL_TIME_2 = 22,
    VRX_INTERNAL_TIME_3 = 30,
    VRX_INTERNAL_LENGTH = 38,

    // Exchange order.
    VRX_EXCHANGE_TRANSCODE = 0,
    VRX_EXCHANGE_FIELD_2 = 2,
    VRX_EXCHANGE_CHARS = 6,
    VRX_EXCHANGE_USER_ID = 8,
    VRX_EXCHANGE_ERROR_CODE = 12,
    VRX_EXCHANGE_TIMES = 14,
    VRX_EXCHANGE_LENGTH = 38,

    // The 16-byte header of 7777: the length takes the error code's place in both orders.
    VRX_SHORT_INTERNAL_TRANSCODE = 10,
    VRX_SHORT_INTERNAL_LENGTH = 12,
    VRX_SHORT_EXCHANGE_USER_ID = 8,
    VRX_SHORT_EXCHANGE_LENGTH = 12,

    // The login count: low half of the 8-byte time field 1, read as a signed word.
    VRX_LOGIN_COUNT_OFFSET = 18,
};

enum : int16_t
{
    TRANSCODE_SYSTEM_INFORMATION_IN = 1600,
    TRANSCODE_SYSTEM_INFORMATION_OUT = 1601,
    TRANSCODE_ORDER_ENTRY = 2000,
    TRANSCODE_ORDER_MODIFICATION = 2040,
    TRANSCODE_ORDER_CHANGE_2060 = 2060,
    TRANSCODE_ORDER_CANCELLATION = 2070,
    TRANSCODE_WEIGHTED_2090 = 2090,
    TRANSCODE_WEIGHTED_2092 = 2092,
    TRANSCODE_TRADE_RECORD = 2222,
    TRANSCODE_SIGN_ON_REQUEST = 2300,
    TRANSCODE_SIGN_ON_RESPONSE = 2301,
    TRANSCODE_SIGN_OFF_REQUEST = 2320,
    TRANSCODE_SIGN_OFF_RESPONSE = 2321,
    TRANSCODE_JOURNAL_DOWNLOAD_REQUEST = 7000,
    TRANSCODE_JOURNAL_DOWNLOAD_REPLY = 7003,
    TRANSCODE_JOURNAL_RECORD_7011 = 7011,
    TRANSCODE_JOURNAL_RECORD_7021 = 7021,
    TRANSCODE_JOURNAL_RECORD_7031 = 7031,
    TRANSCODE_SHORT_HEADER_RECORD = 7777,
    TRANSCODE_CLIENT_INVITATION = 15000,

    TRANSCODE_TRIMMED_OFFSET = 18000,
    TRANSCODE_TRIMMED_ORDER_ENTRY = 20000,
    TRANSCODE_TRIMMED_TRADE_RECORD = 20222,

    TRANSCODE_BOX_SIGN_ON_REQUEST = 23000,
    TRANSCODE_BOX_SIGN_ON_RESPONSE = 23001,
    TRANSCODE_USER_STATUS_QUERY = 23002,
    TRANSCODE_USER_STATUS_RESPONSE = 23003,
    TRANSCODE_RATE_CONTROL_HEART_BEAT = 23004,
    TRANSCODE_HOST_HEART_BEAT = 23006,
    TRANSCODE_BOX_PARAMETERS_OUT = 23007,
    TRANSCODE_BOX_RELOGON_REQUEST = 23502,
    TRANSCODE_BOX_RELOGON_RESPONSE = 23503,
    TRANSCODE_RATE_CONTROL_UPDATE = 23504,
    TRANSCODE_GATEWAY_HEART_BEAT = 23506,
    TRANSCODE_BOX_SIGN_OFF_RESPONSE = 20322,
    TRANSCODE_HOST_ACKNOWLEDGEMENT = 25003,
};

// Error codes the gateway writes into the header's error code field.
enum : int16_t
{
    VRX_ERROR_ALREADY_SIGNED_ON = 16004,
    VRX_ERROR_NO_SUCH_DEALER = 16042,
    VRX_ERROR_TRY_AGAIN = 16123,
};

// Generic converters: header reordered, body of length - 40 bytes copied unchanged. The
// length comes from the source record; a length below 40 copies the header alone.
void vrx_record_internal_to_exchange(const uint8_t *internal, uint8_t *exchange);
void vrx_record_exchange_to_internal(const uint8_t *exchange, uint8_t *internal);

// 7777 converters: the whole record (length from its length field, at least the 16-byte
// header) is copied, then the header is rewritten in the other order.
void vrx_record_short_internal_to_exchange(const uint8_t *internal, uint8_t *exchange);
void vrx_record_short_exchange_to_internal(const uint8_t *exchange, uint8_t *internal);

// Transcode given to a received entry: t - 18000 when 18000 < t < 23000, else t.
int16_t vrx_record_map_received_transcode(int16_t transcode);

// Login count of a reply (1601, 7011, 7021, 7031; the record at least 22 bytes long);
// -1 for every other transcode.
int32_t vrx_record_login_count(int16_t transcode, const uint8_t *record);
