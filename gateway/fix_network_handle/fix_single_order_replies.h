// The single-order family of the reply conversion: the exchange's replies that echo the
// 240-byte order record (confirmations, modifications, cancellations, fills, rejections,
// and the cancel rejects of a refused modification or cancellation) become an
// ExecutionReport or an OrderCancelReject. The frame (fix_reply_conversion) has checked
// the record's length and created the message; these fill its body and the sending
// time of its header. Includes the engine's headers: C++14 only.
#pragma once

#include <cstdint>

#include "Message.h"

// The order record as the replies carry it (offsets from the start of the record, the
// 40-byte header included). Integers big-endian except the client order number, which
// the FIX side stores least significant byte first.
enum : uint32_t
{
    ORDER_REPLY_RESTATEMENT_CODE = 46,  // char
    ORDER_REPLY_TOKEN = 54,             // u32
    ORDER_REPLY_INSTRUMENT_KIND = 58,   // char[3] "FUT" / "OPT"
    ORDER_REPLY_UNDERLYING_KIND = 61,   // char[3] "STK" / "IDX"
    ORDER_REPLY_SYMBOL = 64,            // char[10]
    ORDER_REPLY_EXPIRY = 74,            // u32 exchange seconds
    ORDER_REPLY_STRIKE_PRICE = 78,      // i32 hundredths
    ORDER_REPLY_OPTION_TYPE = 82,       // char 'C' / 'P'
    ORDER_REPLY_EXERCISE_STYLE = 83,    // char 'A' / 'E'
    ORDER_REPLY_ORDER_NUMBER = 98,      // 8-byte double
    ORDER_REPLY_ACCOUNT = 106,          // char[10]
    ORDER_REPLY_SIDE = 118,             // i16 1 buy, 2 sell
    ORDER_REPLY_DISCLOSED_VOLUME = 120, // u32
    ORDER_REPLY_REMAINING_VOLUME = 128, // u32
    ORDER_REPLY_FILLED_VOLUME = 136,    // u32 filled today
    ORDER_REPLY_PRICE = 140,            // i32 hundredths
    ORDER_REPLY_TRIGGER_PRICE = 144,    // u32 hundredths
    ORDER_REPLY_ORDER_TIME = 160,       // u32 exchange seconds
    ORDER_REPLY_TERMS = 164,            // u8 flags
    ORDER_REPLY_CLEARING_ACCOUNT = 202, // char[12]
    ORDER_REPLY_PRO_CLIENT = 214,       // i16 1 client, 2 firm
    ORDER_REPLY_CLIENT_ORDER = 220,     // i32, least significant byte first

    ORDER_REPLY_SYMBOL_SIZE = 10,
    ORDER_REPLY_ACCOUNT_SIZE = 10,
    ORDER_REPLY_CLEARING_ACCOUNT_SIZE = 12,
    ORDER_REPLY_KIND_SIZE = 3,
};

// ExecutionReport of 2012, 2073, 2074, 2075, 2170, 2231 and 9002. Throws the engine's
// exceptions.
void fixSingleOrderFillExecutionReport(FIX::Message &report, const uint8_t *record, int16_t transcode,
                                       int16_t errorCode);
// OrderCancelReject of 2042 (modification refused) and 2072 (cancellation refused).
void fixSingleOrderFillCancelReject(FIX::Message &reject, const uint8_t *record, int16_t transcode,
                                    int16_t errorCode);
