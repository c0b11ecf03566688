// The spread family of the reply conversion: the exchange's replies that echo the 404-byte
// spread order record of a multi-leg order become an ExecutionReport with one NoLegs
// entry per leg, or an OrderCancelReject for a refused change of a spread. The frame
// (fix_reply_conversion) has checked the length and created the message.
// Includes the engine's headers: C++14 only.
#pragma once

#include <cstdint>

#include "Message.h"

// The spread order record beyond the single-order record's 240 bytes (offsets from the
// start of the record), and the fields of a leg entry (offsets within the entry).
enum : uint32_t
{
    SPREAD_REPLY_PRICE = 240, // i32 hundredths: the spread's price
    SPREAD_REPLY_SECOND_LEG = 244,
    SPREAD_REPLY_THIRD_LEG = 324,

    SPREAD_LEG_TOKEN = 0,             // u32
    SPREAD_LEG_INSTRUMENT_KIND = 4,   // char[3]
    SPREAD_LEG_UNDERLYING_KIND = 7,   // char[3]
    SPREAD_LEG_SYMBOL = 10,           // char[10]
    SPREAD_LEG_EXPIRY = 20,           // u32 exchange seconds
    SPREAD_LEG_STRIKE_PRICE = 24,     // i32 hundredths
    SPREAD_LEG_OPTION_TYPE = 28,      // char 'C' / 'P'
    SPREAD_LEG_EXERCISE_STYLE = 29,   // char 'A' / 'E'
    SPREAD_LEG_SIDE = 40,             // i16
    SPREAD_LEG_REMAINING_VOLUME = 50, // u32
    SPREAD_LEG_FILLED_VOLUME = 58,    // u32
    SPREAD_LEG_PRICE = 62,            // i32 hundredths
};

// ExecutionReport of 2124-2126, 2130-2132, 2136, 2154-2156 and 9004. Throws the engine's
// exceptions, and FixReplyOutOfMemory when the leg group cannot be made.
void fixSpreadFillExecutionReport(FIX::Message &report, const uint8_t *record, int16_t transcode,
                                  int16_t errorCode);
// OrderCancelReject of 2127 (cancellation refused) and 2133 (modification refused).
void fixSpreadFillCancelReject(FIX::Message &reject, const uint8_t *record, int16_t transcode,
                               int16_t errorCode);
