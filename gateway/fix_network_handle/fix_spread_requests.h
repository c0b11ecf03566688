// Multi-leg requests of FIX clients: SpreadMultiLegSingle (35=U1, a two-leg spread, a
// two-leg order or a three-leg order) and SpreadCancelReplaceRequest (35=U2, modification
// or cancellation of a two-leg spread) become the exchange's 404-byte spread order record.
//
// The record's first 240 bytes are the single-order record of fix_order_requests.h and
// describe the first leg; the spread price follows, then one 80-byte entry each for the
// second and third legs. Integers are big-endian except the client order number; character
// fields carry no terminator. Includes the engine's headers: C++14 only.
#pragma once

#include <cstdint>

namespace vrx_spread_layout
{
enum : uint32_t
{
    RECORD_LENGTH = 404,

    BLANK_91 = 91, // 3 blanks
    SPREAD_PRICE = 240,
    SECOND_LEG = 244,
    THIRD_LEG = 324,
    LEG_ENTRY_SIZE = 80,
};

// Where a leg's fields stand: the first leg in the record, the others in their entries.
struct leg_layout
{
    uint32_t token;
    uint32_t instrumentName; // 6 characters
    uint32_t symbol;         // 10 characters
    uint32_t expiry;
    uint32_t strike;
    uint32_t optionType; // 2 characters
    uint32_t zero;       // i16
    uint32_t blank;      // 5 blanks
    uint32_t side;
    uint32_t volume;
    uint32_t remaining;
    uint32_t filled;
    uint32_t price;
    uint32_t flags; // two bytes
    uint32_t openClose;
    uint32_t constantU;
    uint32_t lastBlank;
};

extern const leg_layout FIRST_LEG;
extern const leg_layout LEG_ENTRY;

// Bits of a leg's first order-flags byte, and of its second.
enum : uint8_t
{
    FLAG_ALL_OR_NONE = 0x01,
    FLAG_IMMEDIATE_OR_CANCEL = 0x02,
    FLAG_DAY = 0x08,
    FLAG_MODIFIED = 0x10, // second byte
};

enum : uint16_t
{
    TRANSCODE_TWO_LEG_SPREAD = 2100,
    TRANSCODE_TWO_LEG_ORDER = 2102,
    TRANSCODE_THREE_LEG_ORDER = 2104,
    TRANSCODE_CANCEL_SPREAD = 2106,
    TRANSCODE_MODIFY_SPREAD = 2118,
};

// Results of the leg functions besides 0.
enum : int32_t
{
    LEG_NUMBER_INVALID = 203,
};
} // namespace vrx_spread_layout
