// The FIX client's single orders: NewOrderSingle, OrderCancelRequest and
// OrderCancelReplaceRequest become the exchange's order record (entry 2000, cancellation
// 2070, modification 2040) on the queue to the user session thread, from where they take
// the workstation's road to the exchange. The fields are read and checked in a fixed
// order, so that a request with several faults is always refused for the first of them.
// A missing field, a value or length check and an invalid code each end in a
// BusinessMessageReject; the record is freed and nothing reaches the exchange.
#include "gateway/fix_network_handle/fix_order_requests.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "gateway/fix_network_handle/fix_field_checks.h"
#include "gateway/fix_network_handle/fix_nw_info_class.h"
#include "gateway/fix_network_handle/fix_request_records.h"
#include "gateway/library/logger.h"
#include "gateway/library/message.h"
#include "gateway/library/shared_queue.h"
#include "gateway/library/wire.h"

using namespace vrx_order_layout;

namespace
{
enum : int
{
    TAG_EXCHANGE_TIME = 6000,
};

// Upper bound (exclusive) of quantities and of prices in hundredths.
const double FIX_ORDER_LIMIT = 999999999.0;

enum OrderKind
{
    ORDER_NEW,
    ORDER_CANCEL,
    ORDER_MODIFY,
};

// The record a handler builds, with the slot it is built for.
struct OrderBuild
{
    const FIX::Message *request;
    uint8_t *record;
    const FixSessionSlot *slot;
    const char *expiryOffset;
};

void putText(uint8_t *record, uint32_t offset, const char *text, size_t length)
{
    memcpy(record + offset, text, length);
}

void putBlanks(uint8_t *record, uint32_t offset, size_t length)
{
    memset(record + offset, ' ', length);
}

// An IEEE double stored big-endian, whatever the host's order.
void putDoubleBe(uint8_t *record, uint32_t offset, double value)
{
    uint64_t bits = 0;
    memcpy(&bits, &value, sizeof(bits));
    put_u64_be(record, offset, bits);
}

// A quantity truncated to the exchange's 32-bit field. The range checks leave the lower
// end open, so a value below the field's range is refused here rather than converted
// with undefined behaviour.
int32_t truncateToInt32(double value, int tag)
{
    if (!(value > -2147483649.0 && value < 2147483648.0))
        throw fixInvalidValueException(tag);
    return static_cast<int32_t>(value);
}

// A quantity has no sign: a negative one is refused with the field's reject.
void refuseNegative(double value, int tag)
{
    if (!(value >= 0.0))
        throw fixInvalidValueException(tag);
}

// A price in hundredths through its decimal text (12.345 gives 1234).
int32_t hundredths(double value, int tag)
{
    int64_t converted = 0;
    fixNwInfoConvertDoubleToLong(value, &converted, 2, 100, tag);
    return fixNarrowToInt32(converted, tag);
}

std::string stringOf(const FIX::Message &request, int tag)
{
    FIX::StringField field(tag);
    request.getField(field);
    return field.getValue();
}

void writeConstants(const OrderBuild &b, uint16_t transcode, char modificationMarker)
{
    uint8_t *r = b.record;
    memset(r, 0, RECORD_LENGTH);
    set_tws_message_header(r, 0, transcode, RECORD_LENGTH, nullptr);
    r[MARKER] = ' ';
    r[MODIFICATION_MARKER] = static_cast<uint8_t>(modificationMarker);
    putBlanks(r, BLANK_50, 4);
    put_i32_be(r, TOKEN, -1);
    putBlanks(r, INSTRUMENT_NAME, INSTRUMENT_NAME_SIZE);
    putBlanks(r, SYMBOL, SYMBOL_SIZE);
    put_i32_be(r, STRIKE_PRICE, -1);
    putBlanks(r, BLANK_86, 5);
    r[BLANK_94] = ' ';
    putBlanks(r, ACCOUNT, ACCOUNT_SIZE);
    putBlanks(r, BLANK_177, 24);
    r[OPEN_CLOSE] = 'O';
    putBlanks(r, SETTLOR, SETTLOR_SIZE);
    put_i16_be(r, CONSTANT_216, 10);
    r[CONSTANT_218] = 'U';
    r[CONSTANT_219] = 'P';
}

void readSecurityId(const OrderBuild &b)
{
    FIX::SecurityID securityId;
    b.request->getField(securityId);
    const int64_t token = fixTextToInt64(securityId.getValue().c_str());
    fixValidateGreater(token, int64_t{0}, FIX::FIELD::SecurityID);
    put_i32_be(b.record, TOKEN, fixNarrowToInt32(token, FIX::FIELD::SecurityID));
}

void readHandlInst(const OrderBuild &b)
{
    FIX::HandlInst handlInst;
    b.request->getField(handlInst);
    if (handlInst.getValue() != '1')
        throw LogException("HandInst is Invalid");
}

void readSymbol(const OrderBuild &b)
{
    FIX::Symbol symbol;
    b.request->getField(symbol);
    fix_copy_string_field(symbol, reinterpret_cast<char *>(b.record + SYMBOL), SYMBOL_SIZE,
                          FIX::FIELD::Symbol);
    memcpy(b.record + HEADER_CHARS, b.record + SYMBOL, 2);
}

void writeSlotFields(const OrderBuild &b)
{
    put_u32_be(b.record, USER_ID, b.slot->user_id);
    put_u16_be(b.record, BRANCH_ID, b.slot->branch_id);
    put_u32_be(b.record, TRADER_ID, b.slot->user_id);
    putText(b.record, BROKER_ID, b.slot->member_id, BROKER_ID_SIZE);
}

// Product, SecurityType and, for options, strike, put or call and exercise style.
void readInstrument(const OrderBuild &b)
{
    FIX::Product product;
    b.request->getField(product);
    const char *productText = nullptr;
    if (product.getValue() == 5)
        productText = "STK";
    else if (product.getValue() == 7)
        productText = "IDX";
    else
        throw LogException("Product is Invalid");

    FIX::SecurityType securityType;
    b.request->getField(securityType);
    const std::string &type = securityType.getValue();
    if (type == "FUT")
    {
        putText(b.record, INSTRUMENT_NAME, "FUT", 3);
        putText(b.record, INSTRUMENT_NAME + 3, productText, 3);
        putText(b.record, OPTION_TYPE, "XX", 2);
        return;
    }
    if (type != "OPT")
        throw LogException("SecurityType is Invalid");
    putText(b.record, INSTRUMENT_NAME, "OPT", 3);
    putText(b.record, INSTRUMENT_NAME + 3, productText, 3);

    FIX::StrikePrice strike;
    b.request->getField(strike);
    fixValidateLess(strike.getValue() * 100.0, FIX_ORDER_LIMIT, FIX::FIELD::StrikePrice);
    put_i32_be(b.record, STRIKE_PRICE, hundredths(strike.getValue(), FIX::FIELD::StrikePrice));

    FIX::PutOrCall putOrCall;
    b.request->getField(putOrCall);
    if (putOrCall.getValue() == 0)
        b.record[OPTION_TYPE] = 'P';
    else if (putOrCall.getValue() == 1)
        b.record[OPTION_TYPE] = 'C';
    else
        throw LogException("PutOrCall is Invalid");

    FIX::OptAttribute attribute;
    b.request->getField(attribute);
    if (attribute.getValue() == 'L')
        b.record[OPTION_TYPE + 1] = 'A';
    else if (attribute.getValue() == 'S')
        b.record[OPTION_TYPE + 1] = 'E';
    else
        throw LogException("OptAttribute is Invalid");
}

// MaturityMonthYear (YYYYMM) and MaturityDay (DD) at the configured time of day.
void readMaturity(const OrderBuild &b)
{
    char date[9] = {0};
    FIX::StringField monthYear(FIX::FIELD::MaturityMonthYear);
    b.request->getField(monthYear);
    fix_copy_string_field_exact(monthYear, date, 6, FIX::FIELD::MaturityMonthYear);
    FIX::StringField day(FIX::FIELD::MaturityDay);
    b.request->getField(day);
    fix_copy_string_field_exact(day, date + 6, 2, FIX::FIELD::MaturityDay);
    const int32_t expiry = exchange_date_from_ymd(nullptr, date, nullptr, b.expiryOffset);
    put_u32_be(b.record, EXPIRY_DATE, static_cast<uint32_t>(expiry));
}

void readAccount(const OrderBuild &b)
{
    FIX::Account account;
    b.request->getField(account);
    fix_copy_string_field(account, reinterpret_cast<char *>(b.record + ACCOUNT), ACCOUNT_SIZE,
                          FIX::FIELD::Account);
}

// A firm order keeps account and settlor blank; a customer order must name both.
void readCustomerOrFirm(const OrderBuild &b)
{
    FIX::CustomerOrFirm customerOrFirm;
    b.request->getField(customerOrFirm);
    if (customerOrFirm.getValue() == 1)
    {
        put_i16_be(b.record, PRO_CLIENT, 2);
        return;
    }
    if (customerOrFirm.getValue() != 0)
        throw LogException("CustomerOrFirm is Invalid");
    put_i16_be(b.record, PRO_CLIENT, 1);
    readAccount(b);
    FIX::ClearingAccount clearingAccount;
    b.request->getField(clearingAccount);
    fix_copy_string_field(clearingAccount, reinterpret_cast<char *>(b.record + SETTLOR), SETTLOR_SIZE,
                          FIX::FIELD::ClearingAccount);
}

void readSide(const OrderBuild &b)
{
    FIX::Side side;
    b.request->getField(side);
    if (side.getValue() == '1')
        put_i16_be(b.record, SIDE, 1);
    else if (side.getValue() == '2')
        put_i16_be(b.record, SIDE, 2);
    else
        throw LogException("Side is Invalid");
}

// OrderQty checked and truncated into the remaining volume, copied into the volume.
void readOrderQty(const OrderBuild &b)
{
    FIX::OrderQty quantity;
    b.request->getField(quantity);
    fixValidateRange(quantity.getValue(), 0, 999999999, FIX::FIELD::OrderQty);
    const int32_t volume = truncateToInt32(quantity.getValue(), FIX::FIELD::OrderQty);
    put_i32_be(b.record, REMAINING_VOLUME, volume);
    put_i32_be(b.record, VOLUME, volume);
}

void readMaxFloor(const OrderBuild &b, bool copyToRemaining)
{
    if (!b.request->isSetField(FIX::FIELD::MaxFloor))
        return;
    FIX::MaxFloor maxFloor;
    b.request->getField(maxFloor);
    fixValidateLess(maxFloor.getValue(), 999999999, FIX::FIELD::MaxFloor);
    refuseNegative(maxFloor.getValue(), FIX::FIELD::MaxFloor);
    const int32_t disclosed = truncateToInt32(maxFloor.getValue(), FIX::FIELD::MaxFloor);
    put_i32_be(b.record, DISCLOSED_VOLUME, disclosed);
    if (copyToRemaining)
        put_i32_be(b.record, DISCLOSED_VOLUME_REMAINING, disclosed);
}

void readPrice(const OrderBuild &b)
{
    FIX::Price price;
    b.request->getField(price);
    fixValidateRange(price.getValue() * 100.0, 0.0, FIX_ORDER_LIMIT, FIX::FIELD::Price);
    put_i32_be(b.record, PRICE, hundredths(price.getValue(), FIX::FIELD::Price));
}

// OrdType decides the book type and the stop flag; with readPrices (entry and
// modification) it also reads the trigger price and the limit price it calls for.
void readOrdType(const OrderBuild &b, bool readPrices)
{
    FIX::OrdType ordType;
    b.request->getField(ordType);
    const char type = ordType.getValue();
    if (type < '1' || type > '4')
        throw LogException("OrdType is Invalid");
    const bool stop = type == '3' || type == '4';
    put_i16_be(b.record, BOOK_TYPE, stop ? 3 : 1);
    if (stop)
        b.record[ORDER_FLAGS] |= FLAG_STOP;
    if (!readPrices)
        return;
    if (stop)
    {
        FIX::StopPx stopPx;
        b.request->getField(stopPx);
        fixValidateLess(stopPx.getValue() * 100.0, FIX_ORDER_LIMIT, FIX::FIELD::StopPx);
        put_i32_be(b.record, TRIGGER_PRICE, hundredths(stopPx.getValue(), FIX::FIELD::StopPx));
    }
    if (type == '2' || type == '4')
        readPrice(b);
}

void readTimeInForce(const OrderBuild &b)
{
    b.record[ORDER_FLAGS] |= FLAG_DAY;
    if (!b.request->isSetField(FIX::FIELD::TimeInForce))
        return;
    FIX::TimeInForce timeInForce;
    b.request->getField(timeInForce);
    if (timeInForce.getValue() == '3')
    {
        b.record[ORDER_FLAGS] =
            static_cast<uint8_t>((b.record[ORDER_FLAGS] | FLAG_IMMEDIATE_OR_CANCEL) & ~FLAG_DAY);
        return;
    }
    if (timeInForce.getValue() != '0')
        throw LogException("Unsupported value for TimeInForce ");
}

// The number read as atof reads it, stored as a big-endian double.
void readNumberAsDouble(const OrderBuild &b, int tag, uint32_t offset)
{
    putDoubleBe(b.record, offset, atof(stringOf(*b.request, tag).c_str()));
}

void readClOrdId(const OrderBuild &b)
{
    FIX::ClOrdID clOrdId;
    b.request->getField(clOrdId);
    const int64_t number = fixTextToInt64(clOrdId.getValue().c_str());
    fixValidateLess(number, int64_t{2000000001}, FIX::FIELD::ClOrdID);
    put_u32_le(b.record, CLIENT_ORDER_NUMBER,
               static_cast<uint32_t>(fixNarrowToInt32(number, FIX::FIELD::ClOrdID)));
}

// The fields of a new order and of a modification, in the order they are checked.
void buildEntryOrModification(const OrderBuild &b, OrderKind kind)
{
    readSecurityId(b);
    if (kind == ORDER_NEW)
        readHandlInst(b);
    readSymbol(b);
    writeSlotFields(b);
    readInstrument(b);
    readMaturity(b);
    readCustomerOrFirm(b);
    readSide(b);
    if (kind == ORDER_NEW)
    {
        readMaxFloor(b, true);
        readOrderQty(b);
    }
    else
    {
        readMaxFloor(b, false);
        FIX::CumQty cumQty;
        b.request->getField(cumQty);
        fixValidateLess(cumQty.getValue(), 999999999, FIX::FIELD::CumQty);
        refuseNegative(cumQty.getValue(), FIX::FIELD::CumQty);
        put_i32_be(b.record, FILLED_VOLUME, truncateToInt32(cumQty.getValue(), FIX::FIELD::CumQty));
        FIX::OrderQty quantity;
        b.request->getField(quantity);
        fixValidateRange(quantity.getValue(), 0, 999999999, FIX::FIELD::OrderQty);
        if (quantity.getValue() <= cumQty.getValue())
            throw LogException("OrderQty lesser than CumQty ");
        const int32_t remaining =
            truncateToInt32(quantity.getValue() - cumQty.getValue(), FIX::FIELD::CumQty);
        put_i32_be(b.record, REMAINING_VOLUME, remaining);
        put_i32_be(b.record, VOLUME, remaining);
    }
    readOrdType(b, true);
    readTimeInForce(b);
    if (kind == ORDER_MODIFY)
    {
        const std::string exchangeTime = stringOf(*b.request, TAG_EXCHANGE_TIME);
        const uint32_t unixSeconds = fix_time_to_unix(exchangeTime.c_str());
        put_u32_be(b.record, MODIFICATION_TIME, unixSeconds - EXCHANGE_EPOCH_UNIX_SECONDS);
        b.record[ORDER_FLAGS + 1] |= FLAG_MODIFIED;
        readNumberAsDouble(b, FIX::FIELD::OrderID, ORDER_NUMBER);
    }
    readNumberAsDouble(b, FIX::FIELD::ComplianceID, COMPLIANCE_NUMBER);
    readClOrdId(b);
}

void buildCancellation(const OrderBuild &b)
{
    readSecurityId(b);
    readSymbol(b);
    writeSlotFields(b);
    readInstrument(b);
    readMaturity(b);
    if (b.request->isSetField(FIX::FIELD::Account))
        readAccount(b);
    readSide(b);
    if (b.request->isSetField(FIX::FIELD::OrderQty))
        readOrderQty(b);
    readOrdType(b, false);
    readNumberAsDouble(b, FIX::FIELD::OrderID, ORDER_NUMBER);
    if (b.request->isSetField(FIX::FIELD::ComplianceID))
        readNumberAsDouble(b, FIX::FIELD::ComplianceID, COMPLIANCE_NUMBER);
    readClOrdId(b);
}

// What differs between the three requests in their log lines and records.
struct OrderTexts
{
    uint16_t transcode;
    char modificationMarker;
    const char *notFoundTail; // after "Session id [%s] not found in the fix_client_list."
    const char *creationFailed;
    const char *name; // in "Sending %s message of session index..."
};

const OrderTexts NEW_ORDER_TEXTS = {TRANSCODE_NEW_ORDER, ' ',
                                    "Hence not processing the NewOrderSingle message",
                                    "Message creation failed", "newSingleOrder"};
const OrderTexts CANCEL_TEXTS = {TRANSCODE_CANCEL_ORDER, 'T', "Hence not processing OrderCancelRequest.",
                                 "Message creation failed", "OrderCancelRequest"};
const OrderTexts MODIFY_TEXTS = {TRANSCODE_MODIFY_ORDER, 'T',
                                 " Hence not processing OrderCancelReplaceRequest",
                                 "Message creation failed ", "OrderCancelReplaceRequest"};

// The parts of the application that one request needs; the handlers fill it.
struct OrderRoad
{
    FixSessionInfoContainer *container;
    uint16_t slotIndex; // FIX_NO_SESSION_INDEX when the gate found no slot
    shared_queue *requestQueue;
    logger_object *logger;
    const char *expiryOffset;
};

// Builds the record of one request into order_message. False with the reject's reason
// (5 for a missing field, 0 for a failed check) and text, or with reason -1 when the
// client is told nothing.
bool fixOrderBuild(const OrderRoad &road, OrderKind kind, const OrderTexts &texts,
                   const FIX::Message &request, const FIX::SessionID &sessionId, message *order_message,
                   int *rejectReason, std::string *rejectText)
{
    const FixSessionSlot *slot = &road.container->slots[road.slotIndex];
    order_message->user_type = 1;
    order_message->workstation_index = static_cast<uint16_t>(road.slotIndex + road.container->index_base);
    order_message->link_index = static_cast<uint16_t>(slot->link_index);
    order_message->workstation_network_handle = slot->fix_nw_handle;
    order_message->transcode = static_cast<int16_t>(texts.transcode);
    order_message->user_id = slot->user_id;

    const OrderBuild build = {&request, order_message->data, slot, road.expiryOffset};
    *rejectReason = -1;
    try
    {
        writeConstants(build, texts.transcode, texts.modificationMarker);
        if (kind == ORDER_CANCEL)
            buildCancellation(build);
        else
            buildEntryOrModification(build, kind);
        return true;
    }
    catch (FIX::FieldNotFound &e)
    {
        *rejectReason = 5;
        *rejectText = fixFieldNotFoundText(e);
    }
    catch (LogException &e)
    {
        *rejectReason = 0;
        *rejectText = e.what();
    }
    catch (std::exception &e)
    {
        // A value that does not convert to its type: logged, and the client hears nothing.
        EA_LOG(road.logger, EA_LEVEL_BUSINESS_ERROR,
               "Found exception for session [%s], exception message [%s]", sessionId.toString().c_str(),
               e.what());
    }
    return false;
}

// One request from the gate to the user session thread's queue. True when the gateway
// must stop (no record could be made, or the queue refused it).
bool fixOrderHandle(FixNwInfoClass &app, const OrderRoad &road, OrderKind kind, const OrderTexts &texts,
                    const FIX::Message &request, const FIX::SessionID &sessionId)
{
    FIX::MsgType msgType;
    FIX::MsgSeqNum msgSeqNum;
    request.getHeader().getFieldIfSet(msgType);
    request.getHeader().getFieldIfSet(msgSeqNum);
    if (road.slotIndex >= road.container->max_sessions)
    {
        EA_LOG(road.logger, EA_LEVEL_EVENT, "Session id [%s] not found in the fix_client_list.%s",
               sessionId.toString().c_str(), texts.notFoundTail);
        app.fixNwInfoLogoutTheUser(sessionId, FIX::Text("Session Not Found"));
        return false;
    }
    message *order_message = message_create(RECORD_LENGTH, NORMAL_MESSAGE);
    if (order_message == nullptr)
    {
        EA_LOG(road.logger, EA_LEVEL_SYSTEM_ERROR, "%s", texts.creationFailed);
        return true;
    }
    int reason = -1;
    std::string text;
    if (!fixOrderBuild(road, kind, texts, request, sessionId, order_message, &reason, &text))
    {
        EA_FREE_CHECKED(order_message, message_destroy, "order_message");
        if (reason >= 0)
            app.fixNwInfoSendBusinessReject(sessionId, msgType, msgSeqNum, FIX::Text(text),
                                            FIX::BusinessRejectReason(reason));
        return false;
    }
    road.container->fixSessionInfoContainerStampMessage(road.logger, order_message, EA_BINARY_KIND_FIX,
                                                        EA_REQUEST_LOG, 0, 0, 0);
    const int32_t handle = order_message->workstation_network_handle;
    if (shared_queue_insert_single_element(road.requestQueue, order_message) != EA_SUCCESS)
    {
        EA_LOG(road.logger, EA_LEVEL_SYSTEM_ERROR, "shared_queue_insert_single_element failed");
        EA_FREE_CHECKED(order_message, message_destroy, "order_message");
        return true;
    }
    EA_LOG(road.logger, EA_LEVEL_ACTIVITY,
           "Sending %s message of session index[%d] and Fix Nw handle [%d] to User Session Module",
           texts.name, static_cast<int>(road.slotIndex), handle);
    return false;
}
} // namespace

bool fixOrderRequestBuild(FixOrderRequestKind kind, FixSessionInfoContainer *container, uint16_t slotIndex,
                          const char *expiryOffset, const FIX::Message &request, message *orderMessage,
                          int *rejectReason, std::string *rejectText, logger_object *logger)
{
    const OrderRoad road = {container, slotIndex, nullptr, logger, expiryOffset};
    const FIX::SessionID sessionId;
    if (kind == FIX_ORDER_REQUEST_CANCEL)
        return fixOrderBuild(road, ORDER_CANCEL, CANCEL_TEXTS, request, sessionId, orderMessage, rejectReason,
                             rejectText);
    if (kind == FIX_ORDER_REQUEST_MODIFY)
        return fixOrderBuild(road, ORDER_MODIFY, MODIFY_TEXTS, request, sessionId, orderMessage, rejectReason,
                             rejectText);
    return fixOrderBuild(road, ORDER_NEW, NEW_ORDER_TEXTS, request, sessionId, orderMessage, rejectReason,
                         rejectText);
}

// Only a new order tests the shutdown flag itself; the gate in fromApp tests it for all.
void FixNwInfoClass::onMessage(const FIX42::NewOrderSingle &order, const FIX::SessionID &sessionId)
{
    if (shuttingDown())
        return;
    const OrderRoad road = {m_sessionContainer, m_currentSessionIndex, m_requestQueue, m_logger,
                            m_contractExpiryOffset};
    if (fixOrderHandle(*this, road, ORDER_NEW, NEW_ORDER_TEXTS, order, sessionId))
        setShutdown();
}

void FixNwInfoClass::onMessage(const FIX42::OrderCancelRequest &cancel, const FIX::SessionID &sessionId)
{
    const OrderRoad road = {m_sessionContainer, m_currentSessionIndex, m_requestQueue, m_logger,
                            m_contractExpiryOffset};
    if (fixOrderHandle(*this, road, ORDER_CANCEL, CANCEL_TEXTS, cancel, sessionId))
        setShutdown();
}

void FixNwInfoClass::onMessage(const FIX42::OrderCancelReplaceRequest &modify,
                               const FIX::SessionID &sessionId)
{
    const OrderRoad road = {m_sessionContainer, m_currentSessionIndex, m_requestQueue, m_logger,
                            m_contractExpiryOffset};
    if (fixOrderHandle(*this, road, ORDER_MODIFY, MODIFY_TEXTS, modify, sessionId))
        setShutdown();
}
