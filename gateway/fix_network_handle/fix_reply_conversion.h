// The frame of the conversion of exchange replies into FIX messages: the table of reply
// transcodes with the exact record length each must have and the family that converts
// it, the dispatch, the two header fields every converted message carries, and the
// pieces the families share (the exchange-to-FIX time conversions, the order number and
// the identifiers rendered from it, fixed-width text fields, expiry dates).
//
// Exchange time counts from 1980-01-01 00:00 at UTC+05:30; the conversions here use that
// fixed offset and give the same FIX times whatever the host's time zone.
// Includes the engine's headers: C++14 only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "FieldMap.h"
#include "FieldTypes.h"
#include "Message.h"

struct logger_object;
struct message;

// Who converts a reply transcode.
enum fix_reply_family
{
    FIX_REPLY_NO_FAMILY,            // known reply, no FIX form: dropped
    FIX_REPLY_ORDER_REPORT,         // single order -> ExecutionReport
    FIX_REPLY_ORDER_CANCEL_REJECT,  // single order -> OrderCancelReject
    FIX_REPLY_SPREAD_REPORT,        // spread order -> ExecutionReport with legs
    FIX_REPLY_SPREAD_CANCEL_REJECT, // spread order -> OrderCancelReject
    FIX_REPLY_TRADE_REPORT,         // trade -> ExecutionReport
    FIX_REPLY_POSITION_REPORT,      // position maintenance -> U5
    FIX_REPLY_GIVE_UP_REPORT,       // give-up -> U3
    FIX_REPLY_NEWS,                 // control message and broadcasts -> News
};

struct fix_reply_kind
{
    int16_t transcode;
    uint16_t length; // the whole record, header included; must match exactly
    fix_reply_family family;
};

// Offsets of the VRX header fields the conversion reads.
enum : uint32_t
{
    FIX_REPLY_HEADER_TIME_SECONDS = 4,   // u32 exchange seconds
    FIX_REPLY_HEADER_TRANSCODE = 10,     // i16
    FIX_REPLY_HEADER_ERROR_CODE = 12,    // i16
    FIX_REPLY_HEADER_TIME_STAMP = 22,    // 8 bytes, 1/65536 s
    FIX_REPLY_HEADER_STREAM_NUMBER = 37, // u8
};

// Order-terms flag bits of the order, spread and trade records.
enum : uint8_t
{
    FIX_TERMS_IOC = 0x02,
    FIX_TERMS_GTC = 0x04,
    FIX_TERMS_DAY = 0x08,
    FIX_TERMS_STOP = 0x20,
    FIX_TERMS_MARKET = 0x40,
    FIX_TERMS_AT_OPENING = 0x80,
};

// The table entry of a transcode, or null for a transcode no FIX client is sent.
const fix_reply_kind *fixReplyFindKind(int16_t transcode);
// The whole table (for the tests and for anyone listing what reaches FIX clients).
const fix_reply_kind *fixReplyKinds(size_t *count);

// The conversion behind FixNwInfoClass::fixNwInfoGetFixMessage: 0 with a new message in
// *out (the caller owns it), 203 when the record is discarded (logged; *out null), 10000
// when a message object cannot be created (logged; *out null). The record is not touched.
int32_t fixReplyGetFixMessage(const message *msg, int16_t transcode, int16_t errorCode, FIX::Message **out,
                              logger_object *logger);

// Time conversion A: the 8-byte big-endian count of 1/65536 s since the exchange epoch,
// whole seconds only. False (and *out untouched) when the instant has no FIX form.
bool fixReplyExchangeStampToUtc(const uint8_t *stamp, FIX::UtcTimeStamp *out);
// Time conversion B: exchange seconds.
bool fixReplyExchangeSecondsToUtc(uint32_t exchangeSeconds, FIX::UtcTimeStamp *out);
// Sets a UTCTimestamp field of conversion B; left out when the instant has no FIX form.
void fixReplySetExchangeSeconds(FIX::FieldMap &map, int tag, uint32_t exchangeSeconds);

// The 8-byte IEEE double stored big-endian at the offset.
double fixReplyOrderNumber(const uint8_t *record, uint32_t offset);
// OrderID (and PosMaintRptID): the first 16 significant digits, no sign, point or
// exponent, padded with zeros on the right.
std::string fixReplyOrderIdText(double orderNumber);
// ExecID of an order event: transcode, the two-letter kind, the order number as a
// 16-wide integer, the client order number as 10 digits.
std::string fixReplyOrderExecId(int16_t transcode, const char *kind, double orderNumber,
                                int32_t clientOrderNumber);
// A fixed-width character field up to its width or its first zero byte; blanks are kept.
std::string fixReplyText(const uint8_t *record, uint32_t offset, uint32_t width);
// A signed decimal.
std::string fixReplyDecimal(int64_t value);
// MaturityMonthYear (200) and MaturityDay (205) of an expiry in exchange seconds.
void fixReplySetMaturity(FIX::FieldMap &map, uint32_t expirySeconds);

// Pieces the families share. A text field is left out when empty: an empty FIX field
// would make the client's engine refuse the whole message.
void fixReplySetText(FIX::FieldMap &map, int tag, const std::string &text);
// OrdType (40) from the order-terms flags: stop-loss with market '3', stop-loss '4',
// market '1', otherwise '2'.
char fixReplyOrdType(uint8_t terms);
// TimeInForce (59): the first of good-till-cancelled '1', day '0', at-the-opening '2',
// immediate-or-cancel '3' that is set; '\0' when none is.
char fixReplyTimeInForce(uint8_t terms);
// The restatement code of a changed order ('B', 'C' or 'M'): ExecType 'D' and the
// ExecRestatementReason (52, 50, 51). False for any other code.
bool fixReplyRestatement(uint8_t code, char *execType, int *reason);
// Product (or LegProduct) 5 for "STK" and 7 for "IDX"; left out otherwise.
void fixReplySetProduct(FIX::FieldMap &map, int tag, const std::string &underlying);
// Side (or LegSide) '1' for 1 and '2' for 2; left out otherwise.
void fixReplySetSide(FIX::FieldMap &map, int tag, int16_t side);
// The option fields of an "OPT" instrument: put or call 1 for 'C', 0 for 'P', exercise
// style 'L' for 'A', 'S' for 'E' (each left out for another byte), the strike / 100.
struct fix_option_tags
{
    int putOrCall;
    int optAttribute;
    int strikePrice;
};
extern const fix_option_tags FIX_OPTION_TAGS;
extern const fix_option_tags FIX_LEG_OPTION_TAGS;
void fixReplySetOptionFields(FIX::FieldMap &map, const fix_option_tags &tags, uint8_t optionType,
                             uint8_t exerciseStyle, int32_t strike);

// When a report carries the error code as its Text (58).
enum fix_text_rule
{
    FIX_TEXT_NEVER,
    FIX_TEXT_ERROR_ABOVE_ZERO,
    FIX_TEXT_ALWAYS,
};
void fixReplySetErrorText(FIX::FieldMap &map, fix_text_rule rule, int16_t errorCode);

// Thrown by a family when a part of its message cannot be allocated: the frame logs the
// text at level 0 and the gateway stops.
struct FixReplyOutOfMemory
{
    const char *text;
};

// Header fields: OnBehalfOfSendingTime (370) from the exchange time stamp, and
// OnBehalfOfLocationID (144) from the stream number.
void fixReplySetSendingTime(FIX::Message &fixMessage, const uint8_t *record);
void fixReplySetLocationId(FIX::Message &fixMessage, const uint8_t *record);
