// The position-maintenance family of the reply conversion: the exchange's replies to an
// exercise request (4000, 4005, 4008 accepted; 4002, 4007, 4010 refused), on the 162-byte
// position record, become the dialect's PositionMaintenanceReport (U5). The frame
// (fix_reply_conversion) has checked the length and created the message.
// Includes the engine's headers: C++14 only.
#pragma once

#include <cstdint>

#include "Message.h"

// The position record (offsets from the start of the record, header included).
enum : uint32_t
{
    POSITION_REPLY_TOKEN = 42,             // u32
    POSITION_REPLY_INSTRUMENT_KIND = 46,   // char[3]
    POSITION_REPLY_UNDERLYING_KIND = 49,   // char[3]
    POSITION_REPLY_SYMBOL = 52,            // char[10]
    POSITION_REPLY_EXPIRY = 62,            // u32 exchange seconds
    POSITION_REPLY_STRIKE_PRICE = 66,      // i32 hundredths
    POSITION_REPLY_OPTION_TYPE = 70,       // char
    POSITION_REPLY_EXERCISE_STYLE = 71,    // char
    POSITION_REPLY_REQUEST_NUMBER = 76,    // 8-byte double
    POSITION_REPLY_ACCOUNT = 86,           // char[10]
    POSITION_REPLY_QUANTITY = 96,          // u32
    POSITION_REPLY_PRO_CLIENT = 100,       // i16 1 client, 2 firm
    POSITION_REPLY_TRANSACTION_TYPE = 102, // i16
    POSITION_REPLY_REQUEST_TIME = 104,     // u32 exchange seconds
    POSITION_REPLY_REQUEST_ID = 119,       // char[30]
    POSITION_REPLY_CLEARING_ACCOUNT = 149, // char[12]

    POSITION_REPLY_REQUEST_ID_SIZE = 30,
};

// PositionMaintenanceReport of the 4000-series replies. Throws the engine's exceptions.
void fixPositionFillReport(FIX::Message &report, const uint8_t *record, int16_t transcode, int16_t errorCode);
