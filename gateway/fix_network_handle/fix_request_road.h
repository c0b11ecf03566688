// What the FIX request handlers share: the road of one request from the client's message
// to a record on the queue towards the user session thread (record creation, the fields
// checked in the handler's order, the BusinessMessageReject of a failed check, the
// per-message stamp and the insert), and the field readers and writers that the single
// order, spread and position records have in common. A handler logs its own texts around
// the road, so every log line stands whole in the handler that writes it.
// Includes the engine's headers: C++14 only.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "FieldMap.h"
#include "Message.h"
#include "gateway/fix_network_handle/fix_session_info_container.h"

class FixNwInfoClass;
struct logger_object;
struct message;
struct shared_queue;

// Upper bound (exclusive) of quantities and of prices in hundredths.
extern const double FIX_REQUEST_LIMIT;

// The parts of the application that one request needs.
struct FixRequestRoad
{
    FixNwInfoClass *app;
    FixSessionInfoContainer *container;
    uint16_t slotIndex; // FIX_NO_SESSION_INDEX when the gate found no slot
    shared_queue *requestQueue;
    logger_object *logger;
    const char *expiryOffset; // CONTRACT_EXPIRY_OFFSET
};

// Fills the zeroed record for the slot; throws the engine's and the gateway's exceptions.
// A result other than 0 ends the request silently: the builder has logged why.
typedef std::function<int32_t(uint8_t *record, const FixSessionSlot &slot)> FixRecordBuilder;

enum FixRequestOutcome
{
    FIX_REQUEST_SENT,    // on the queue; *sentHandle holds the slot's network handle
    FIX_REQUEST_REFUSED, // answered (or silently dropped); the record is freed
    FIX_REQUEST_FATAL,   // no record could be made or queued: the gateway must stop
};

// Creates the record (length bytes; "creationFailed" is logged when that fails), sets its
// routing fields from the slot, runs the builder and answers a failed check with its
// BusinessMessageReject (reason 5 for a missing field, 0 for the gateway's own texts);
// then stamps and queues it. The slot must exist.
FixRequestOutcome fixRequestSend(const FixRequestRoad &road, uint32_t length, const char *creationFailed,
                                 const FIX::Message &request, const FIX::SessionID &sessionId,
                                 const FixRecordBuilder &builder, int32_t *sentHandle);

// What sets one request handler apart on the road the handlers share: whether it tests
// the shutdown flag itself, and its own texts. The texts are logged as the handler's
// (function "onMessage", the handler's file and the line of its texts), so that a line
// of the log leads to the handler that owns it.
struct FixRequestTexts
{
    const char *file;
    uint32_t line;
    bool testsShutdown;
    const char *noSession;      // format of the session id: the gate found no slot
    const char *creationFailed; // the record could not be created
    const char *sent;           // format of the slot index and the network handle
};

// The builder's part of the road alone: zeroes and builds the record. False with the
// reject's reason (5 for a missing field, 0 for a failed check) and text, or with reason
// -1 when the client is told nothing (logged).
bool fixRequestBuild(const FixRequestRoad &road, const FIX::SessionID &sessionId, message *record,
                     const FixRecordBuilder &builder, int *rejectReason, std::string *rejectText);

// Field writers.
void fixPutText(uint8_t *record, uint32_t offset, const char *text, size_t length);
void fixPutBlanks(uint8_t *record, uint32_t offset, size_t length);
// An IEEE double stored big-endian, whatever the host's order.
void fixPutDoubleBe(uint8_t *record, uint32_t offset, double value);

// A quantity truncated to the exchange's 32-bit field; one outside it is refused with the
// field's "Invalid value" instead of being converted with undefined behaviour.
int32_t fixTruncateToInt32(double value, int tag);
// A price in hundredths through its decimal text (12.345 gives 1234); refused when it
// does not fit the exchange's 32-bit field.
int32_t fixHundredths(double value, int tag);
// A field's text; FIX::FieldNotFound when it is missing.
std::string fixStringOf(const FIX::FieldMap &map, int tag);
// "STK" for 5, "IDX" for 7, null for any other product.
const char *fixProductText(int product);
// The identifier text of a field (SecurityID, ClOrdID, PosReqID, ...) read as atol reads
// it and checked at 64 bits: strictly above `low` or strictly below `bound` as asked.
int32_t fixIdentifierAbove(const std::string &text, int64_t low, int tag);
int32_t fixIdentifierBelow(const std::string &text, int64_t bound, int tag);
// A number read as atof reads it, stored as a big-endian double.
void fixPutNumberAsDouble(uint8_t *record, uint32_t offset, const std::string &text);
// A FIX UTC timestamp text as exchange seconds (Unix seconds less the exchange epoch; a
// text that does not parse counts as Unix second 0).
uint32_t fixExchangeSecondsOfText(const std::string &text);
