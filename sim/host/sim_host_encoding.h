// The simulated host's own encoding of the records it exchanges with the gateway: the box
// records (sign-on, parameters, relogon, sign-off, rate update, heart beat, acknowledgement),
// user records in the exchange's header order (sign-on, system information, sign-off, user
// status), and the short order records (entry, change, order reply, trade). Offsets are
// this file's own, written from the exchange's record formats; nothing here uses the gateway's
// converters, so a disagreement between the two shows up in a test.
//
// Offsets in this file count from the record's first byte (its transcode), not from the
// packet count in front of it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/host/sim_host_records.h"

namespace qel_sim
{

enum : uint16_t
{
    TC_SYSTEM_INFORMATION_IN = 1600,
    TC_SYSTEM_INFORMATION_OUT = 1601,
    TC_JOURNAL_REQUEST = 7000,
    TC_JOURNAL_HEADER = 7011,
    TC_JOURNAL_DATA = 7021,
    TC_JOURNAL_TRAILER = 7031,
    TC_ORDER_MODIFY_REFUSED = 2042,
    TC_ORDER_CANCEL_REFUSED = 2072,
    TC_ORDER_ENTERED = 2073,
    TC_ORDER_MODIFIED = 2074,
    TC_ORDER_CANCELLED = 2075,
    TC_ORDER_ERROR = 2231,
    TC_TRADE = 2222,
    TC_SIGN_ON_REQUEST = 2300,
    TC_SIGN_ON_RESPONSE = 2301,
    TC_SIGN_OFF_REQUEST = 2320,
    TC_SIGN_OFF_RESPONSE = 2321,
    TC_ORDER_ENTRY_SHORT = 20000,
    TC_ORDER_MODIFY_SHORT = 20040,
    TC_ORDER_CHANGE_SHORT = 20060,
    TC_ORDER_CANCEL_SHORT = 20070,
    TC_TRADE_SHORT = 20222,
    TC_BOX_SIGN_ON = 23000,
    TC_BOX_SIGN_ON_RESPONSE = 23001,
    TC_USER_STATUS_QUERY = 23002,
    TC_USER_STATUS_REPLY = 23003,
    TC_RATE_HEART_BEAT = 23004,
    TC_HOST_HEART_BEAT = 23006,
    TC_BOX_PARAMETERS = 23007,
    TC_BOX_RELOGON = 23502,
    TC_BOX_RELOGON_RESPONSE = 23503,
    TC_RATE_UPDATE = 23504,
    TC_GATEWAY_HEART_BEAT = 23506,
    TC_BOX_SIGN_OFF = 20322,
    TC_ACKNOWLEDGEMENT = 25003,
};

enum : uint32_t
{
    SHORT_ENTRY_SIZE = 110,
    SHORT_CHANGE_SIZE = 138,
    SHORT_REPLY_SIZE = 156,
    SHORT_TRADE_SIZE = 153,
    HOST_BOX_RECORD_SIZE = 38, // the host's box answers: the header-sized records below
    EXCHANGE_HEADER_SIZE = 40,
    SIGN_ON_RESPONSE_SIZE = 214,
    SYSTEM_INFORMATION_OUT_SIZE = 48,
    JOURNAL_REQUEST_SIZE = 48,
    FULL_ORDER_REPLY_SIZE = 240,
};

void set_text(bytes &out, size_t offset, size_t width, const std::string &text, uint8_t fill = ' ');
std::string get_text(const bytes &in, size_t offset, size_t width);

// What the gateway sends to sign its box on (23000) or on again (23502).
struct box_request
{
    uint16_t transcode = 0;
    uint16_t box_id = 0;
    std::string broker_id; // the five characters as sent
    uint8_t after_broker = 0;
    uint32_t version = 0;
    // relogon only
    std::string address;
    uint16_t least_sent = 0;    // the oldest record the gateway still holds for the host
    uint16_t last_received = 0; // the last host sequence number the gateway took
};
bool decode_box_request(const bytes &record, box_request *out);

// The host's box records, each to travel alone in a packet of one.
bytes encode_box_sign_on_response(uint16_t box_id, uint16_t error, bool recovery_enabled);
bytes encode_box_parameters(int16_t base_rate, int16_t max_users, uint16_t box_id);
bytes encode_box_relogon_response(uint16_t box_id, uint16_t error, uint16_t next_expected);
bytes encode_box_sign_off(uint16_t box_id, uint16_t error);
bytes encode_rate_update(int16_t percent);
bytes encode_host_heart_beat();
bytes encode_acknowledgement(uint16_t last_received);

// A record with the 40-byte exchange-order header.
struct exchange_header
{
    uint16_t transcode = 0;
    uint32_t second_field = 0;
    uint8_t two_chars[2] = {' ', ' '};
    uint32_t user_id = 0;
    uint16_t error = 0;
    uint16_t length = 0;
};
bool decode_exchange_header(const bytes &record, exchange_header *out);
bytes encode_exchange_record(const exchange_header &header, uint16_t length);

bytes encode_user_sign_on_response(uint32_t user_id, uint16_t error, const std::string &reason);
bytes encode_system_information_out(uint32_t user_id, uint16_t error, int32_t login_count, uint8_t streams,
                                    uint16_t market_status = 1);
bytes encode_user_sign_off_response(uint32_t user_id, uint16_t error);
// Echoes the query's time stamp; `active` false answers 'I' (not signed on here).
bytes encode_user_status_reply(const bytes &query, bool active);

// One order as the host keeps it, from the fields of the short entry and change records.
struct sim_order
{
    uint32_t user_id = 0;
    uint8_t restatement = ' ';
    uint32_t token = 0;
    std::string kinds;  // instrument and underlying kind, 6 characters
    std::string symbol; // 10
    uint32_t expiry = 0;
    int32_t strike = 0;
    std::string option; // call/put and exercise style, 2
    double order_number = 0;
    std::string account; // 10
    int16_t book_type = 0;
    int16_t side = 0;
    uint32_t disclosed = 0;
    uint32_t remaining = 0;
    uint32_t volume = 0;
    uint32_t filled = 0;
    int32_t price = 0;
    uint32_t trigger = 0;
    uint32_t order_time = 0;
    uint8_t terms[2] = {0, 0};
    bytes extra_166; // 2 bytes
    bytes extra_168; // 4
    bytes extra_172; // 5
    uint8_t extra_201 = ' ';
    std::string clearing; // 12
    int16_t client_or_firm = 0;
    uint8_t extra_218 = ' ';
    bytes client_order; // 4 bytes, kept as they came
    bytes extra_224;    // 4
    bytes extra_228;    // 4
};

bool decode_short_entry(const bytes &record, sim_order *out);
bool decode_short_change(const bytes &record, sim_order *out);
// An order reply (transcode 18000 above the full one, e.g. 20073), 156 bytes.
bytes encode_short_reply(uint16_t short_transcode, const sim_order &order, uint16_t error, uint32_t stamp);
// A trade, 153 bytes.
struct sim_fill
{
    uint32_t fill_number = 0;
    uint32_t quantity = 0;
    int32_t price = 0;
};
bytes encode_short_trade(const sim_order &order, const sim_fill &fill, const std::string &broker,
                         uint32_t stamp);

// The full order reply (240 bytes, the header in the gateway's internal order) of a short
// one, field by field; the journal carries the user's orders in this form.
bytes expand_short_reply(const bytes &short_reply);

// A journal download request (7000, 48 bytes, exchange order): the stream it asks for and
// where to start, in exchange seconds x 65536.
struct journal_request
{
    uint32_t user_id = 0;
    uint8_t stream_chars[2] = {0, 0}; // the stream number in decimal digits, as sent
    int stream = 0;                   // 0 when the digits do not read as 1 to 99
    int64_t start_time = 0;
};
bool decode_journal_request(const bytes &record, journal_request *out);
// A journal header (7011), data record (7021, the inner record behind the header) or
// trailer (7031) for one stream: the login count in the first time field, the stream
// number in the last byte of the third.
bytes encode_journal_record(uint16_t transcode, const journal_request &request, uint16_t error,
                            int32_t login_count, uint32_t stamp, const bytes &inner = bytes());

double get_double(const uint8_t *p); // big-endian IEEE double
void set_double(bytes &out, size_t offset, double value);

// A reply packet whose entries are plain or LZO1Z-compressed (a negative lead with the
// compressed length, then the compressed bytes).
bytes host_encode_packet_entries(const std::vector<bytes> &records, const std::vector<bool> &compress);
// Compressed bytes of one record; empty when the library fails.
bytes host_lzo1z_compress(const bytes &record);

} // namespace qel_sim
