// Single-order requests of FIX clients: NewOrderSingle (35=D), OrderCancelRequest (35=F)
// and OrderCancelReplaceRequest (35=G). The handlers (members of FixNwInfoClass, run on
// the engine's acceptor thread under the application's lock) check the FIX fields, build
// the exchange's 240-byte order record and put it on the queue to the user session
// thread; a request that fails a check is answered with a BusinessMessageReject and
// never reaches the exchange.
//
// The record is the exchange's full order record in the gateway's internal header order.
// Integers are big-endian except the client order number, which the exchange keeps in
// the machine's own order (least significant byte first); character fields carry no
// terminator. Includes the engine's headers: C++14 only.
#pragma once

#include <cstdint>
#include <string>

#include "Message.h"

class FixSessionInfoContainer;
struct logger_object;
struct message;

namespace vrx_order_layout
{
enum : uint32_t
{
    RECORD_LENGTH = 240,

    USER_ID = 0,
    HEADER_CHARS = 8,
    TRANSCODE = 10,
    ERROR_CODE = 12,
    LENGTH = 38,
    MARKER = 40,
    MODIFICATION_MARKER = 46,
    BLANK_50 = 50, // 4 blanks
    TOKEN = 54,
    INSTRUMENT_NAME = 58,
    SYMBOL = 64,
    EXPIRY_DATE = 74,
    STRIKE_PRICE = 78,
    OPTION_TYPE = 82,
    BLANK_86 = 86, // 5 blanks
    BLANK_94 = 94,
    ORDER_NUMBER = 98,
    ACCOUNT = 106,
    BOOK_TYPE = 116,
    SIDE = 118,
    DISCLOSED_VOLUME = 120,
    DISCLOSED_VOLUME_REMAINING = 124,
    VOLUME = 128,
    REMAINING_VOLUME = 132,
    FILLED_VOLUME = 136,
    PRICE = 140,
    TRIGGER_PRICE = 144,
    MODIFICATION_TIME = 160,
    ORDER_FLAGS = 164, // two bytes
    BRANCH_ID = 166,
    TRADER_ID = 168,
    BROKER_ID = 172,
    BLANK_177 = 177, // 24 blanks
    OPEN_CLOSE = 201,
    SETTLOR = 202,
    PRO_CLIENT = 214,
    CONSTANT_216 = 216,
    CONSTANT_218 = 218,
    CONSTANT_219 = 219,
    CLIENT_ORDER_NUMBER = 220, // least significant byte first
    COMPLIANCE_NUMBER = 224,

    INSTRUMENT_NAME_SIZE = 6,
    SYMBOL_SIZE = 10,
    ACCOUNT_SIZE = 10,
    BROKER_ID_SIZE = 5,
    SETTLOR_SIZE = 12,
};

// Bits of the first order-flags byte (offset 164) and of the second (165).
enum : uint8_t
{
    FLAG_STOP = 0x20,
    FLAG_DAY = 0x08,
    FLAG_IMMEDIATE_OR_CANCEL = 0x02,
    FLAG_MODIFIED = 0x10, // second byte
};

enum : uint16_t
{
    TRANSCODE_NEW_ORDER = 2000,
    TRANSCODE_MODIFY_ORDER = 2040,
    TRANSCODE_CANCEL_ORDER = 2070,
};
} // namespace vrx_order_layout

enum FixOrderRequestKind
{
    FIX_ORDER_REQUEST_NEW,
    FIX_ORDER_REQUEST_CANCEL,
    FIX_ORDER_REQUEST_MODIFY,
};

// What a handler makes of one request from the client in the container's slot, without
// the session and the queue around it: true with the order record in orderMessage (of
// RECORD_LENGTH bytes), or false with the reject's reason (5 a missing field, 0 a failed
// check, -1 the client is told nothing) and its text.
bool fixOrderRequestBuild(FixOrderRequestKind kind, FixSessionInfoContainer *container, uint16_t slotIndex,
                          const char *expiryOffset, const FIX::Message &request, message *orderMessage,
                          int *rejectReason, std::string *rejectText, logger_object *logger);
