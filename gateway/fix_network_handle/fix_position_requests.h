// Position maintenance of FIX clients: a PositionMaintenanceRequest (35=U4) asks to
// exercise an option position or not (new request 4000), or replaces (4005) or cancels
// (4008) such a request; it becomes the exchange's 162-byte position record.
//
// Integers are big-endian; the request number is an IEEE double stored big-endian;
// character fields carry no terminator. Includes the engine's headers: C++14 only.
#pragma once

#include <cstdint>

namespace vrx_position_layout
{
enum : uint32_t
{
    RECORD_LENGTH = 162,

    USER_ID = 0,
    HEADER_CHARS = 8,
    TRANSCODE = 10,
    LENGTH = 38,
    TOKEN = 42,
    INSTRUMENT_NAME = 46, // 6 characters
    SYMBOL = 52,          // 10
    EXPIRY_DATE = 62,
    STRIKE_PRICE = 66,
    OPTION_TYPE = 70, // 2 characters
    ZERO_72 = 72,
    CONSTANT_74 = 74,
    REQUEST_NUMBER = 76, // 8-byte double
    CONSTANT_84 = 84,
    ACCOUNT = 86, // 10 characters
    QUANTITY = 96,
    PRO_CLIENT = 100,
    TRANSACTION_TYPE = 102,
    REQUEST_TIME = 104,
    BRANCH_ID = 108,
    TRADER_ID = 110,
    BROKER_ID = 114,  // 5 characters
    REQUEST_ID = 119, // 30 characters
    SETTLOR = 149,    // 12 characters

    SYMBOL_SIZE = 10,
    ACCOUNT_SIZE = 10,
    BROKER_ID_SIZE = 5,
    REQUEST_ID_SIZE = 30,
    SETTLOR_SIZE = 12,
};

enum : uint16_t
{
    TRANSCODE_NEW_REQUEST = 4000,
    TRANSCODE_REPLACE_REQUEST = 4005,
    TRANSCODE_CANCEL_REQUEST = 4008,
};
} // namespace vrx_position_layout
