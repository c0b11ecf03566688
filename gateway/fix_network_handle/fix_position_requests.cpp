// The FIX client's exercise requests: a PositionMaintenanceRequest becomes the exchange's
// position record, a new request (4000), its replacement (4005) or its cancellation
// (4008) by PosMaintAction. A replacement or cancellation names the exchange's number of
// the earlier request (PosMaintRptRefID) and its time (ExchangeTime). The client's own
// PosReqID travels as its text; its number is only checked.
#include "gateway/fix_network_handle/fix_position_requests.h"

#include <cstring>

#include "gateway/fix_network_handle/fix_field_checks.h"
#include "gateway/fix_network_handle/fix_nw_info_class.h"
#include "gateway/fix_network_handle/fix_request_records.h"
#include "gateway/fix_network_handle/fix_request_road.h"
#include "gateway/runtime/logger.h"
#include "gateway/runtime/wire.h"

using namespace vrx_position_layout;

namespace
{
struct PositionBuild
{
    const FIX::Message *request;
    uint8_t *record;
    const FixSessionSlot *slot;
    const char *expiryOffset;
};

// SecurityID, Symbol and the exchange identity of the user.
void readIdentity(const PositionBuild &b)
{
    uint8_t *r = b.record;
    set_tws_message_header(r, 0, 0, RECORD_LENGTH, nullptr);
    fixPutBlanks(r, REQUEST_ID, REQUEST_ID_SIZE);
    fixPutBlanks(r, ACCOUNT, ACCOUNT_SIZE);
    fixPutBlanks(r, SETTLOR, SETTLOR_SIZE);

    FIX::SecurityID securityId;
    b.request->getField(securityId);
    put_i32_be(r, TOKEN, fixIdentifierAbove(securityId.getValue(), 0, FIX::FIELD::SecurityID));

    fixPutBlanks(r, SYMBOL, SYMBOL_SIZE);
    fixPutBlanks(r, HEADER_CHARS, 2);
    FIX::Symbol symbol;
    b.request->getField(symbol);
    fix_copy_string_field(symbol, reinterpret_cast<char *>(r + SYMBOL), SYMBOL_SIZE, FIX::FIELD::Symbol);
    memcpy(r + HEADER_CHARS, r + SYMBOL, 2);

    put_u32_be(r, USER_ID, b.slot->user_id);
    put_i16_be(r, BRANCH_ID, static_cast<int16_t>(b.slot->branch_id));
    put_u32_be(r, TRADER_ID, b.slot->user_id);
    fixPutText(r, BROKER_ID, b.slot->member_id, BROKER_ID_SIZE);
}

// Product, SecurityType, the option fields and the expiry date. A future keeps strike 0.
void readInstrument(const PositionBuild &b)
{
    uint8_t *r = b.record;
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
        fixPutText(r, INSTRUMENT_NAME, "FUT", 3);
        fixPutText(r, INSTRUMENT_NAME + 3, productText, 3);
        fixPutText(r, OPTION_TYPE, "XX", 2);
    }
    else if (type == "OPT")
    {
        fixPutText(r, INSTRUMENT_NAME, "OPT", 3);
        fixPutText(r, INSTRUMENT_NAME + 3, productText, 3);
        FIX::StrikePrice strike;
        b.request->getField(strike);
        fixValidateLess(strike.getValue() * 100.0, FIX_REQUEST_LIMIT, FIX::FIELD::StrikePrice);
        put_i32_be(r, STRIKE_PRICE, fixHundredths(strike.getValue(), FIX::FIELD::StrikePrice));
        FIX::PutOrCall putOrCall;
        b.request->getField(putOrCall);
        if (putOrCall.getValue() == 0)
            r[OPTION_TYPE] = 'P';
        else if (putOrCall.getValue() == 1)
            r[OPTION_TYPE] = 'C';
        else
            throw LogException("PutOrCall is Invalid");
        FIX::OptAttribute attribute;
        b.request->getField(attribute);
        if (attribute.getValue() == 'L')
            r[OPTION_TYPE + 1] = 'A';
        else if (attribute.getValue() == 'S')
            r[OPTION_TYPE + 1] = 'E';
        else
            throw LogException("OptAttribute is Invalid");
    }
    else
        throw LogException("SecurityType is Invalid");

    char date[9] = {0};
    FIX::StringField monthYear(FIX::FIELD::MaturityMonthYear);
    b.request->getField(monthYear);
    fix_copy_string_field_exact(monthYear, date, 6, FIX::FIELD::MaturityMonthYear);
    FIX::StringField day(FIX::FIELD::MaturityDay);
    b.request->getField(day);
    fix_copy_string_field_exact(day, date + 6, 2, FIX::FIELD::MaturityDay);
    put_u32_be(r, EXPIRY_DATE,
               static_cast<uint32_t>(exchange_date_from_ymd(nullptr, date, nullptr, b.expiryOffset)));
    put_i16_be(r, ZERO_72, 0);
}

// CustomerOrFirm with its account and settlor, Shares, PosTransType and PosReqID.
void readRequestTerms(const PositionBuild &b)
{
    uint8_t *r = b.record;
    FIX::CustomerOrFirm customerOrFirm;
    b.request->getField(customerOrFirm);
    if (customerOrFirm.getValue() == 0)
    {
        put_i16_be(r, PRO_CLIENT, 1);
        FIX::Account account;
        b.request->getField(account);
        fix_copy_string_field(account, reinterpret_cast<char *>(r + ACCOUNT), ACCOUNT_SIZE,
                              FIX::FIELD::Account);
        FIX::ClearingAccount clearing;
        b.request->getField(clearing);
        fix_copy_string_field(clearing, reinterpret_cast<char *>(r + SETTLOR), SETTLOR_SIZE,
                              FIX::FIELD::ClearingAccount);
    }
    else if (customerOrFirm.getValue() == 1)
        put_i16_be(r, PRO_CLIENT, 2);
    else
        throw LogException("CustomerOrFirm is Invalid");

    FIX::Shares shares;
    b.request->getField(shares);
    fixValidateRange(shares.getValue(), 0, 999999999, FIX::FIELD::Shares);
    put_i32_be(r, QUANTITY, fixTruncateToInt32(shares.getValue(), FIX::FIELD::Shares));

    FIX::PosTransType transType;
    b.request->getField(transType);
    if (transType.getValue() == 1)
        put_i16_be(r, TRANSACTION_TYPE, 1);
    else if (transType.getValue() == 2)
        put_i16_be(r, TRANSACTION_TYPE, 0);
    else
        throw LogException("PosTransType is Invalid");

    FIX::PosReqID reqId;
    b.request->getField(reqId);
    fix_copy_string_field(reqId, reinterpret_cast<char *>(r + REQUEST_ID), REQUEST_ID_SIZE,
                          FIX::FIELD::PosReqID);
    fixIdentifierBelow(reqId.getValue(), 2000000001, FIX::FIELD::PosReqID);
    put_i16_be(r, CONSTANT_84, 1);
    put_i16_be(r, CONSTANT_74, 1);
}

// PosMaintAction; a replacement or cancellation also names the request it changes.
void readAction(const PositionBuild &b)
{
    uint8_t *r = b.record;
    FIX::PosMaintAction action;
    b.request->getField(action);
    switch (action.getValue())
    {
    case 1:
        put_i16_be(r, TRANSCODE, TRANSCODE_NEW_REQUEST);
        return;
    case 2:
        put_i16_be(r, TRANSCODE, TRANSCODE_REPLACE_REQUEST);
        break;
    case 3:
        put_i16_be(r, TRANSCODE, TRANSCODE_CANCEL_REQUEST);
        break;
    default:
        throw LogException("PosMaintAction is Invalid");
    }
    fixPutNumberAsDouble(r, REQUEST_NUMBER, fixStringOf(*b.request, FIX::FIELD::PosMaintRptRefID));
    put_u32_be(r, REQUEST_TIME, fixExchangeSecondsOfText(fixStringOf(*b.request, FIX42::TAG::ExchangeTime)));
}
} // namespace

void FixNwInfoClass::onMessage(const FIX42::PositionMaintenanceRequest &request,
                               const FIX::SessionID &sessionId)
{
    const FixRequestTexts texts = {
        __FILE__,
        __LINE__,
        true,
        "Session id [%s] not found in the fix_client_list.Hence not processing the PositionMaintenanceRequest message",
        "Message creation failed",
        "Sending PositionMaintenanceRequest message of session index[%d] and Fix Nw handle [%d] to User Session Module"};
    const char *expiryOffset = m_contractExpiryOffset;
    const FixRecordBuilder build = [&request, expiryOffset](uint8_t *record, const FixSessionSlot &slot)
    {
        const PositionBuild b = {&request, record, &slot, expiryOffset};
        readIdentity(b);
        readInstrument(b);
        readRequestTerms(b);
        readAction(b);
        return EA_SUCCESS;
    };
    fixNwInfoTakeRequest(texts, request, sessionId, RECORD_LENGTH, build);
}
