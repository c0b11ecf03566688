// The trade families of the reply conversion: trade confirmations (2222) and the trade
// reply 2212, both on the 209-byte trade record, become an ExecutionReport; give-up
// replies (4506, 4507, 121-byte give-up record) become the dialect's GiveUpReport (U3).
// The frame (fix_reply_conversion) has checked the length and created the message.
// Includes the engine's headers: C++14 only.
#pragma once

#include <cstdint>

#include "Message.h"

struct logger_object;
struct message;

// The trade record (offsets from the start of the record, header included).
enum : uint32_t
{
    TRADE_REPLY_ORDER_NUMBER = 40,     // 8-byte double
    TRADE_REPLY_BROKER = 48,           // char[5]
    TRADE_REPLY_ACCOUNT = 58,          // char[10]
    TRADE_REPLY_SIDE = 68,             // i16
    TRADE_REPLY_DISCLOSED_VOLUME = 74, // u32
    TRADE_REPLY_REMAINING_VOLUME = 78, // u32
    TRADE_REPLY_PRICE = 86,            // i32 hundredths
    TRADE_REPLY_TERMS = 90,            // u8 flags
    TRADE_REPLY_FILL_NUMBER = 96,      // u32
    TRADE_REPLY_FILL_QUANTITY = 100,   // u32
    TRADE_REPLY_FILL_PRICE = 104,      // i32 hundredths
    TRADE_REPLY_FILLED_VOLUME = 108,   // u32 filled today
    TRADE_REPLY_TOKEN = 132,           // u32
    TRADE_REPLY_INSTRUMENT_KIND = 136, // char[3]
    TRADE_REPLY_UNDERLYING_KIND = 139, // char[3]
    TRADE_REPLY_SYMBOL = 142,          // char[10]
    TRADE_REPLY_EXPIRY = 152,          // u32 exchange seconds
    TRADE_REPLY_STRIKE_PRICE = 156,    // i32 hundredths
    TRADE_REPLY_OPTION_TYPE = 160,     // char
    TRADE_REPLY_EXERCISE_STYLE = 161,  // char

    TRADE_REPLY_BROKER_SIZE = 5,
};

// The give-up record.
enum : uint32_t
{
    GIVE_UP_ORDER_NUMBER = 42,      // 8-byte double
    GIVE_UP_TRADE_NUMBER = 50,      // u32
    GIVE_UP_INSTRUMENT_KIND = 54,   // char[3]
    GIVE_UP_UNDERLYING_KIND = 57,   // char[3]
    GIVE_UP_SYMBOL = 60,            // char[10]
    GIVE_UP_EXPIRY = 70,            // u32 exchange seconds
    GIVE_UP_STRIKE_PRICE = 74,      // i32 hundredths
    GIVE_UP_OPTION_TYPE = 78,       // char
    GIVE_UP_EXERCISE_STYLE = 79,    // char
    GIVE_UP_FILL_QUANTITY = 82,     // u32
    GIVE_UP_FILL_PRICE = 86,        // i32 hundredths
    GIVE_UP_SIDE = 96,              // i16
    GIVE_UP_TIME = 100,             // u32 exchange seconds
    GIVE_UP_OPEN_CLOSE = 105,       // char
    GIVE_UP_COVERED = 106,          // char 'U' / 'V'
    GIVE_UP_CLEARING_ACCOUNT = 107, // char[12]
    GIVE_UP_STATUS = 119,           // char 'A' / 'R'
};

// ExecutionReport of 2212 and 2222: 0, or 203 (logged) for a trade confirmation whose
// side is neither buy nor sell, which has no ExecID. Throws the engine's exceptions.
int32_t fixTradeFillExecutionReport(FIX::Message &report, const message *msg, int16_t transcode,
                                    logger_object *logger);
// GiveUpReport of 4506 and 4507.
void fixGiveUpFillReport(FIX::Message &report, const uint8_t *record);
