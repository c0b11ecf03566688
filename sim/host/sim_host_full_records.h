// The simulated host's own encoding of the records that travel whole, with the 40-byte
// exchange-order header (transcode first): the 404-byte spread order record, the 162-byte
// position record, the 209-byte trade record of the trade reply, the 121-byte give-up
// record and the broadcasts (319 bytes; 289 for a message from control). Offsets are this
// file's own, written from the exchange's record formats, and count from the record's first byte;
// behind the header the layouts are the same in both header orders.
#pragma once

#include <cstdint>
#include <string>

#include "sim/host/sim_host_encoding.h"

namespace qel_sim
{

enum : uint16_t
{
    TC_TWO_LEG_SPREAD = 2100,
    TC_TWO_LEG_ORDER = 2102,
    TC_THREE_LEG_ORDER = 2104,
    TC_SPREAD_CANCEL = 2106,
    TC_SPREAD_MODIFY = 2118,
    TC_SPREAD_CONFIRMED = 2124, // 2125, 2126 for the two- and three-leg orders
    TC_SPREAD_CANCEL_REFUSED = 2127,
    TC_SPREAD_CANCELLED = 2130, // 2131, 2132: the rest of an immediate-or-cancel order
    TC_SPREAD_MODIFY_REFUSED = 2133,
    TC_SPREAD_MODIFIED = 2136,
    TC_SPREAD_REFUSED = 2154, // 2155, 2156
    TC_SPREAD_CANCELLED_BY_EXCHANGE = 9004,
    TC_TRADE_REPLY = 2212,
    TC_POSITION_NEW = 4000,
    TC_POSITION_NEW_REFUSED = 4002,
    TC_POSITION_REPLACE = 4005,
    TC_POSITION_REPLACE_REFUSED = 4007,
    TC_POSITION_CANCEL = 4008,
    TC_POSITION_CANCEL_REFUSED = 4010,
    TC_GIVE_UP = 4506,
    TC_GIVE_UP_OTHER = 4507,
    TC_CONTROL_MESSAGE = 5295,
    TC_GENERAL_BROADCAST = 6501,
    TC_MARKET_OPEN = 6511,
    TC_MARKET_CLOSED = 6521,
    TC_PREOPEN_BEGINS = 6531,
    TC_PREOPEN_ENDS = 6571,
};

enum : uint32_t
{
    SPREAD_RECORD_SIZE = 404,
    POSITION_RECORD_SIZE = 162,
    TRADE_RECORD_SIZE = 209,
    GIVE_UP_RECORD_SIZE = 121,
    BROADCAST_SIZE = 319,
    CONTROL_MESSAGE_SIZE = 289,

    // Spread order record.
    SPREAD_ORDER_NUMBER = 98,
    SPREAD_ORDER_TIME = 160,
    SPREAD_RESTATEMENT = 46,
    SPREAD_STREAM = 37,
    SPREAD_PRICE = 240,
    SPREAD_SECOND_LEG = 244,
    SPREAD_THIRD_LEG = 324,
    SPREAD_FIRST_TOKEN = 54,
    SPREAD_FIRST_SIDE = 118,
    SPREAD_FIRST_VOLUME = 128, // then the remaining and filled volumes
    SPREAD_LEG_TOKEN = 0,      // within a leg entry
    SPREAD_LEG_SIDE = 40,
    SPREAD_LEG_VOLUME = 50,

    // Position record.
    POSITION_INSTRUMENT = 46,
    POSITION_REQUEST_NUMBER = 76,
    POSITION_QUANTITY = 96,
    POSITION_TRANSACTION_TYPE = 102,
    POSITION_REQUEST_TIME = 104,
};

// A record with the exchange-order header of `expected_size` bytes whose length field
// says so; false for anything else.
bool decode_full_record(const bytes &record, uint32_t expected_size, exchange_header *out);
// The exchange's echo of a whole record: the same bytes with another transcode, error
// code and reply time, on stream 1.
bytes full_reply(const bytes &record, uint16_t transcode, uint16_t error, uint32_t stamp);
// The record with its 40-byte header in the gateway's internal order (user id first), as
// a journal data record carries it.
bytes internal_order(const bytes &record);

// The tokens of the legs a spread record names (two or three).
std::vector<uint32_t> spread_tokens(const bytes &record, int legs);

// The trade reply 2212 on an order of the book, and a give-up of one of its fills.
bytes encode_trade_reply(const sim_order &order, const std::string &broker, uint32_t stamp);
bytes encode_give_up(uint16_t transcode, const sim_order &order, uint32_t trade_number, uint32_t quantity,
                     int32_t price, char open_close, char status, uint32_t stamp);

// A broadcast (6501 to 6571) or a message from control (5295) for one user. The prefix
// (three characters) is the record's own; the market-state announcements carry none.
bytes encode_broadcast(uint16_t transcode, uint32_t user_id, const std::string &prefix,
                       const std::string &text, uint32_t stamp);

} // namespace qel_sim
