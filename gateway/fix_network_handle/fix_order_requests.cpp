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
#include "gateway/fix_network_handle/fix_request_road.h"
#include "gateway/runtime/logger.h"
#include "gateway/runtime/message.h"
#include "gateway/runtime/shared_queue.h"
#include "gateway/runtime/wire.h"

using namespace vrx_order_layout;

namespace
{
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

void writeConstants(const OrderBuild &b, uint16_t transcode, char modificationMarker)
{
    uint8_t *r = b.record;
    memset(r, 0, RECORD_LENGTH);
    set_tws_message_header(r, 0, transcode, RECORD_LENGTH, nullptr);
    r[MARKER] = ' ';
    r[MODIFICATION_MARKER] = static_cast<uint8_t>(modificationMarker);
    fixPutBlanks(r, BLANK_50, 4);
    put_i32_be(r, TOKEN, -1);
    fixPutBlanks(r, INSTRUMENT_NAME, INSTRUMENT_NAME_SIZE);
    fixPutBlanks(r, SYMBOL, SYMBOL_SIZE);
    put_i32_be(r, STRIKE_PRICE, -1);
    fixPutBlanks(r, BLANK_86, 5);
    r[BLANK_94] = ' ';
    fixPutBlanks(r, ACCOUNT, ACCOUNT_SIZE);
    fixPutBlanks(r, BLANK_177, 24);
    r[OPEN_CLOSE] = 'O';
    fixPutBlanks(r, SETTLOR, SETTLOR_SIZE);
    put_i16_be(r, CONSTANT_216, 10);
    r[CONSTANT_218] = 'U';
    r[CONSTANT_219] = 'P';
}

void readSecurityId(const OrderBuild &b)
{
    FIX::SecurityID securityId;
    b.request->getField(securityId);
    put_i32_be(b.record, TOKEN, fixIdentifierAbove(securityId.getValue(), 0, FIX::FIELD::SecurityID));
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
    fixPutText(b.record, BROKER_ID, b.slot->member_id, BROKER_ID_SIZE);
}

// Product, SecurityType and, for options, strike, put or call and exercise style.
void readInstrument(const OrderBuild &b)
{
    FIX::Product product;
    b.request->getField(product);
    const char *productText = fixProductText(product.getValue());
    if (productText == nullptr)
        throw LogException("Product is Invalid");

    FIX::SecurityType securityType;
    b.request->getField(securityType);
    const std::string &type = securityType.getValue();
    if (type == "FUT")
    {
        fixPutText(b.record, INSTRUMENT_NAME, "FUT", 3);
        fixPutText(b.record, INSTRUMENT_NAME + 3, productText, 3);
        fixPutText(b.record, OPTION_TYPE, "XX", 2);
        return;
    }
    if (type != "OPT")
        throw LogException("SecurityType is Invalid");
    fixPutText(b.record, INSTRUMENT_NAME, "OPT", 3);
    fixPutText(b.record, INSTRUMENT_NAME + 3, productText, 3);

    FIX::StrikePrice strike;
    b.request->getField(strike);
    fixValidateLess(strike.getValue() * 100.0, FIX_REQUEST_LIMIT, FIX::FIELD::StrikePrice);
    put_i32_be(b.record, STRIKE_PRICE, fixHundredths(strike.getValue(), FIX::FIELD::StrikePrice));

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
    const int32_t volume = fixTruncateToInt32(quantity.getValue(), FIX::FIELD::OrderQty);
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
    // A disclosed quantity has no sign.
    if (maxFloor.getValue() < 0.0)
        throw fixInvalidValueException(FIX::FIELD::MaxFloor);
    const int32_t disclosed = fixTruncateToInt32(maxFloor.getValue(), FIX::FIELD::MaxFloor);
    put_i32_be(b.record, DISCLOSED_VOLUME, disclosed);
    if (copyToRemaining)
        put_i32_be(b.record, DISCLOSED_VOLUME_REMAINING, disclosed);
}

void readPrice(const OrderBuild &b)
{
    FIX::Price price;
    b.request->getField(price);
    fixValidateRange(price.getValue() * 100.0, 0.0, FIX_REQUEST_LIMIT, FIX::FIELD::Price);
    put_i32_be(b.record, PRICE, fixHundredths(price.getValue(), FIX::FIELD::Price));
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
        fixValidateLess(stopPx.getValue() * 100.0, FIX_REQUEST_LIMIT, FIX::FIELD::StopPx);
        // The exchange keeps the trigger price unsigned: a negative one would come back
        // as some 42.9 million.
        if (stopPx.getValue() < 0.0)
            throw fixInvalidValueException(FIX::FIELD::StopPx);
        put_i32_be(b.record, TRIGGER_PRICE, fixHundredths(stopPx.getValue(), FIX::FIELD::StopPx));
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

void readNumberAsDouble(const OrderBuild &b, int tag, uint32_t offset)
{
    fixPutNumberAsDouble(b.record, offset, fixStringOf(*b.request, tag));
}

void readClOrdId(const OrderBuild &b)
{
    FIX::ClOrdID clOrdId;
    b.request->getField(clOrdId);
    put_u32_le(
        b.record, CLIENT_ORDER_NUMBER,
        static_cast<uint32_t>(fixIdentifierBelow(clOrdId.getValue(), 2000000001, FIX::FIELD::ClOrdID)));
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
        // A filled quantity has no sign.
        if (cumQty.getValue() < 0.0)
            throw fixInvalidValueException(FIX::FIELD::CumQty);
        put_i32_be(b.record, FILLED_VOLUME, fixTruncateToInt32(cumQty.getValue(), FIX::FIELD::CumQty));
        FIX::OrderQty quantity;
        b.request->getField(quantity);
        fixValidateRange(quantity.getValue(), 0, 999999999, FIX::FIELD::OrderQty);
        if (quantity.getValue() <= cumQty.getValue())
            throw LogException("OrderQty lesser than CumQty ");
        const int32_t remaining =
            fixTruncateToInt32(quantity.getValue() - cumQty.getValue(), FIX::FIELD::CumQty);
        put_i32_be(b.record, REMAINING_VOLUME, remaining);
        put_i32_be(b.record, VOLUME, remaining);
    }
    readOrdType(b, true);
    readTimeInForce(b);
    if (kind == ORDER_MODIFY)
    {
        put_u32_be(b.record, MODIFICATION_TIME,
                   fixExchangeSecondsOfText(fixStringOf(*b.request, FIX42::TAG::ExchangeTime)));
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

// Record building of the three requests, for the road.
FixRecordBuilder orderBuilder(const FIX::Message &request, OrderKind kind, const char *expiryOffset)
{
    return [&request, kind, expiryOffset](uint8_t *record, const FixSessionSlot &slot)
    {
        const OrderBuild build = {&request, record, &slot, expiryOffset};
        if (kind == ORDER_NEW)
            writeConstants(build, TRANSCODE_NEW_ORDER, ' ');
        else
            writeConstants(build, kind == ORDER_CANCEL ? TRANSCODE_CANCEL_ORDER : TRANSCODE_MODIFY_ORDER,
                           'T');
        if (kind == ORDER_CANCEL)
            buildCancellation(build);
        else
            buildEntryOrModification(build, kind);
        return EA_SUCCESS;
    };
}
} // namespace

bool fixOrderRequestBuild(FixOrderRequestKind kind, FixSessionInfoContainer *container, uint16_t slotIndex,
                          const char *expiryOffset, const FIX::Message &request, message *orderMessage,
                          int *rejectReason, std::string *rejectText, logger_object *logger)
{
    const FixRequestRoad road = {nullptr, container, slotIndex, nullptr, logger, expiryOffset};
    const OrderKind orderKind = kind == FIX_ORDER_REQUEST_CANCEL   ? ORDER_CANCEL
                                : kind == FIX_ORDER_REQUEST_MODIFY ? ORDER_MODIFY
                                                                   : ORDER_NEW;
    return fixRequestBuild(road, FIX::SessionID(), orderMessage,
                           orderBuilder(request, orderKind, expiryOffset), rejectReason, rejectText);
}

// Only a new order tests the shutdown flag itself; the gate in fromApp tests it for all.
void FixNwInfoClass::onMessage(const FIX42::NewOrderSingle &order, const FIX::SessionID &sessionId)
{
    const FixRequestTexts texts = {
        __FILE__,
        __LINE__,
        true,
        "Session id [%s] not found in the fix_client_list.Hence not processing the NewOrderSingle message",
        "Message creation failed",
        "Sending newSingleOrder message of session index[%d] and Fix Nw handle [%d] to User Session Module"};
    fixNwInfoTakeRequest(texts, order, sessionId, RECORD_LENGTH,
                         orderBuilder(order, ORDER_NEW, m_contractExpiryOffset));
}

void FixNwInfoClass::onMessage(const FIX42::OrderCancelRequest &cancel, const FIX::SessionID &sessionId)
{
    const FixRequestTexts texts = {
        __FILE__,
        __LINE__,
        false,
        "Session id [%s] not found in the fix_client_list.Hence not processing OrderCancelRequest.",
        "Message creation failed",
        "Sending OrderCancelRequest message of session index[%d] and Fix Nw handle [%d] to User Session Module"};
    fixNwInfoTakeRequest(texts, cancel, sessionId, RECORD_LENGTH,
                         orderBuilder(cancel, ORDER_CANCEL, m_contractExpiryOffset));
}

void FixNwInfoClass::onMessage(const FIX42::OrderCancelReplaceRequest &modify,
                               const FIX::SessionID &sessionId)
{
    const FixRequestTexts texts = {
        __FILE__,
        __LINE__,
        false,
        "Session id [%s] not found in the fix_client_list. Hence not processing OrderCancelReplaceRequest",
        "Message creation failed ",
        "Sending OrderCancelReplaceRequest message of session index[%d] and Fix Nw handle [%d] to User Session Module"};
    fixNwInfoTakeRequest(texts, modify, sessionId, RECORD_LENGTH,
                         orderBuilder(modify, ORDER_MODIFY, m_contractExpiryOffset));
}
