// The FIX client's multi-leg orders: a SpreadMultiLegSingle becomes a two-leg spread
// (2100), a two-leg order (2102) or a three-leg order (2104); a SpreadCancelReplaceRequest
// modifies (2118) or cancels (2106) a two-leg spread. Fields are read and checked in a
// fixed order, the legs one after the other, so a request with several faults is always
// refused for the first of them. A spread's price travels in its own field: the first
// leg's LegPrice moves there and the leg keeps 0.
//
// Multi-leg orders other than the spread are immediate-or-cancel: a two- or three-leg
// order without TimeInForce 3 is refused.
#include "gateway/fix_network_handle/fix_spread_requests.h"

#include <cstring>

#include "gateway/fix_network_handle/fix_field_checks.h"
#include "gateway/fix_network_handle/fix_nw_info_class.h"
#include "gateway/fix_network_handle/fix_order_requests.h"
#include "gateway/fix_network_handle/fix_request_records.h"
#include "gateway/fix_network_handle/fix_request_road.h"
#include "gateway/runtime/logger.h"
#include "gateway/runtime/wire.h"

using namespace vrx_spread_layout;

namespace vrx_spread_layout
{
const leg_layout FIRST_LEG = {54, 58, 64, 74, 78, 82, 84, 86, 118, 128, 132, 136, 140, 164, 201, 218, 219};
const leg_layout LEG_ENTRY = {0, 4, 10, 20, 24, 28, 30, 32, 40, 50, 54, 58, 62, 74, 76, 77, 78};
} // namespace vrx_spread_layout

namespace
{
namespace order = vrx_order_layout;

const uint32_t LEG_START[] = {0, SECOND_LEG, THIRD_LEG};

// What a leg needs besides its FIX entry.
struct LegFill
{
    uint8_t *destination; // the record for the first leg, the leg's entry for the others
    uint16_t legNumber;   // 1 to 3
    const char *expiryOffset;
    bool replace;    // a leg of U2
    char cancelFlag; // U2: 'Y' when the spread is cancelled
};

const leg_layout &layoutOf(uint16_t legNumber)
{
    return legNumber == 1 ? FIRST_LEG : LEG_ENTRY;
}

void readLegInstrument(const FIX::Group &leg, const LegFill &f)
{
    const leg_layout &l = layoutOf(f.legNumber);
    FIX::LegProduct product;
    leg.getField(product);
    const char *productText = fixProductText(product.getValue());
    if (productText == nullptr)
        throw LogException("LegProduct is Invalid");

    FIX::LegSecurityType securityType;
    leg.getField(securityType);
    const std::string &type = securityType.getValue();
    if (type == "FUT")
    {
        fixPutText(f.destination, l.instrumentName, "FUT", 3);
        fixPutText(f.destination, l.instrumentName + 3, productText, 3);
        fixPutText(f.destination, l.optionType, "XX", 2);
        return;
    }
    if (type != "OPT")
        throw LogException(f.legNumber == 1 ? "SecurityType is Invalid" : "LegSecurityType is Invalid");
    fixPutText(f.destination, l.instrumentName, "OPT", 3);
    fixPutText(f.destination, l.instrumentName + 3, productText, 3);

    FIX::LegStrikePrice strike;
    leg.getField(strike);
    fixValidateLess(strike.getValue() * 100.0, FIX_REQUEST_LIMIT, FIX::FIELD::LegStrikePrice);
    put_i32_be(f.destination, l.strike, fixHundredths(strike.getValue(), FIX::FIELD::LegStrikePrice));

    FIX42::LegPutOrCall putOrCall;
    leg.getField(putOrCall);
    if (putOrCall.getValue() == 0)
        f.destination[l.optionType] = 'P';
    else if (putOrCall.getValue() == 1)
        f.destination[l.optionType] = 'C';
    else
        throw LogException("PutOrCall is Invalid");

    FIX::LegOptAttribute attribute;
    leg.getField(attribute);
    if (attribute.getValue() == 'L')
        f.destination[l.optionType + 1] = 'A';
    else if (attribute.getValue() == 'S')
        f.destination[l.optionType + 1] = 'E';
    else
        throw LogException("LegOptAttribute is Invalid");
}

// U1: LegOrderQty into the remaining volume and the volume.
void readLegQuantity(const FIX::Group &leg, const LegFill &f)
{
    const leg_layout &l = layoutOf(f.legNumber);
    FIX::LegOrderQty quantity;
    leg.getField(quantity);
    fixValidateRange(quantity.getValue(), 0, 999999999, FIX::FIELD::LegOrderQty);
    const int32_t volume = fixTruncateToInt32(quantity.getValue(), FIX::FIELD::LegOrderQty);
    put_i32_be(f.destination, l.remaining, volume);
    put_i32_be(f.destination, l.volume, volume);
}

// U2: LegCumQty into the filled volume; unless the spread is cancelled, what remains of
// LegOrderQty into the remaining volume and the volume.
void readLegReplaceQuantity(const FIX::Group &leg, const LegFill &f)
{
    const leg_layout &l = layoutOf(f.legNumber);
    FIX42::LegCumQty cumQty;
    leg.getField(cumQty);
    fixValidateLess(cumQty.getValue(), 999999999, FIX42::TAG::LegCumQty);
    put_i32_be(f.destination, l.filled, fixTruncateToInt32(cumQty.getValue(), FIX42::TAG::LegCumQty));
    if (f.cancelFlag == 'Y')
        return;
    FIX::LegOrderQty quantity;
    leg.getField(quantity);
    fixValidateRange(quantity.getValue(), 0, 999999999, FIX::FIELD::LegOrderQty);
    if (quantity.getValue() <= cumQty.getValue())
        throw LogException("LegOrderQty lesser than LegCumQty");
    const int32_t remaining =
        fixTruncateToInt32(quantity.getValue() - cumQty.getValue(), FIX::FIELD::LegOrderQty);
    put_i32_be(f.destination, l.remaining, remaining);
    put_i32_be(f.destination, l.volume, remaining);
}

// One leg from its group entry, in the order the fields are checked.
void fillLeg(const FIX::Group &leg, const LegFill &f)
{
    const leg_layout &l = layoutOf(f.legNumber);
    if (f.legNumber > 1)
        fixPutBlanks(f.destination, l.symbol, order::SYMBOL_SIZE);
    FIX::LegSymbol symbol;
    leg.getField(symbol);
    fix_copy_string_field(symbol, reinterpret_cast<char *>(f.destination + l.symbol), order::SYMBOL_SIZE,
                          FIX::FIELD::LegSymbol);
    if (f.legNumber == 1)
        memcpy(f.destination + order::HEADER_CHARS, f.destination + l.symbol, 2);

    FIX::LegSecurityID securityId;
    leg.getField(securityId);
    put_i32_be(f.destination, l.token,
               fixIdentifierAbove(securityId.getValue(), 0, FIX::FIELD::LegSecurityID));

    readLegInstrument(leg, f);

    FIX::StringField maturity(FIX::FIELD::LegMaturityDate);
    leg.getField(maturity);
    char date[9] = {0};
    fix_copy_string_field_exact(maturity, date, 8, FIX::FIELD::LegMaturityDate);
    put_u32_be(f.destination, l.expiry,
               static_cast<uint32_t>(exchange_date_from_ymd(nullptr, date, nullptr, f.expiryOffset)));
    put_i16_be(f.destination, l.zero, 0);

    FIX::LegSide side;
    leg.getField(side);
    if (side.getValue() == '1')
        put_i16_be(f.destination, l.side, 1);
    else if (side.getValue() == '2')
        put_i16_be(f.destination, l.side, 2);
    else
        throw LogException("LegSide is Invalid");

    if (f.replace)
        readLegReplaceQuantity(leg, f);
    else
        readLegQuantity(leg, f);

    FIX::LegPrice price;
    leg.getField(price);
    fixValidateLess(price.getValue() * 100.0, FIX_REQUEST_LIMIT, FIX::FIELD::LegPrice);
    put_i32_be(f.destination, l.price, fixHundredths(price.getValue(), FIX::FIELD::LegPrice));

    f.destination[l.openClose] = 'O';
    f.destination[l.constantU] = 'U';
}

// The record of either request, as far as it does not depend on the legs.
struct SpreadBuild
{
    const FIX::Message *request;
    uint8_t *record;
    const FixSessionSlot *slot;
};

void writeConstants(const SpreadBuild &b, char modificationMarker)
{
    uint8_t *r = b.record;
    set_tws_message_header(r, b.slot->user_id, 0, RECORD_LENGTH, nullptr);
    r[order::MARKER] = ' ';
    r[order::MODIFICATION_MARKER] = static_cast<uint8_t>(modificationMarker);
    fixPutBlanks(r, order::BLANK_50, 4);
    fixPutBlanks(r, BLANK_91, 3);
    fixPutBlanks(r, order::BLANK_177, 24);
    fixPutBlanks(r, order::ACCOUNT, order::ACCOUNT_SIZE);
    fixPutBlanks(r, order::SETTLOR, order::SETTLOR_SIZE);
    put_i16_be(r, order::BOOK_TYPE, 1);
    put_i16_be(r, order::CONSTANT_216, 10);
    put_i16_be(r, order::BRANCH_ID, static_cast<int16_t>(b.slot->branch_id));
    put_u32_be(r, order::TRADER_ID, b.slot->user_id);
    fixPutText(r, order::BROKER_ID, b.slot->member_id, order::BROKER_ID_SIZE);
}

// CustomerOrFirm with the account and settlor it calls for, ComplianceID, ClOrdID,
// ExecInst and OrdType: the fields both requests read in this order.
void readOrderTerms(const SpreadBuild &b)
{
    FIX::CustomerOrFirm customerOrFirm;
    b.request->getField(customerOrFirm);
    if (customerOrFirm.getValue() == 0)
    {
        put_i16_be(b.record, order::PRO_CLIENT, 1);
        FIX::Account account;
        b.request->getField(account);
        fix_copy_string_field(account, reinterpret_cast<char *>(b.record + order::ACCOUNT),
                              order::ACCOUNT_SIZE, FIX::FIELD::Account);
        FIX::ClearingAccount clearing;
        b.request->getField(clearing);
        fix_copy_string_field(clearing, reinterpret_cast<char *>(b.record + order::SETTLOR),
                              order::SETTLOR_SIZE, FIX::FIELD::ClearingAccount);
    }
    else if (customerOrFirm.getValue() == 1)
        put_i16_be(b.record, order::PRO_CLIENT, 2);
    else
        throw LogException("CustomerOrFirm is Invalid");

    fixPutNumberAsDouble(b.record, order::COMPLIANCE_NUMBER,
                         fixStringOf(*b.request, FIX::FIELD::ComplianceID));
    FIX::ClOrdID clOrdId;
    b.request->getField(clOrdId);
    put_u32_le(
        b.record, order::CLIENT_ORDER_NUMBER,
        static_cast<uint32_t>(fixIdentifierBelow(clOrdId.getValue(), 2000000001, FIX::FIELD::ClOrdID)));

    if (b.request->isSetField(FIX::FIELD::ExecInst))
    {
        // Only the first character counts: "GX" is all-or-none too.
        if (fixStringOf(*b.request, FIX::FIELD::ExecInst)[0] != 'G')
            throw LogException("ExecInst is Invalid");
        b.record[FIRST_LEG.flags] |= FLAG_ALL_OR_NONE;
        put_i16_be(b.record, order::BOOK_TYPE, 2);
    }
    if (b.request->isSetField(FIX::FIELD::OrdType))
    {
        FIX::OrdType ordType;
        b.request->getField(ordType);
        if (ordType.getValue() != '2')
            throw LogException("OrdType is Invalid");
    }
}

// Day flags on the given legs, and immediate-or-cancel on the first two for TimeInForce 3.
void readTimeInForce(const SpreadBuild &b, uint16_t dayLegs)
{
    for (uint16_t leg = 0; leg < dayLegs; ++leg)
        b.record[LEG_START[leg] + layoutOf(static_cast<uint16_t>(leg + 1)).flags] |= FLAG_DAY;
    if (!b.request->isSetField(FIX::FIELD::TimeInForce))
        return;
    FIX::TimeInForce timeInForce;
    b.request->getField(timeInForce);
    if (timeInForce.getValue() == '3')
    {
        b.record[FIRST_LEG.flags] |= FLAG_IMMEDIATE_OR_CANCEL;
        b.record[SECOND_LEG + LEG_ENTRY.flags] |= FLAG_IMMEDIATE_OR_CANCEL;
        return;
    }
    if (timeInForce.getValue() != '0')
        throw LogException("TimeInForce is Invalid");
}

// NoLegs within [low, high].
void readLegCount(const SpreadBuild &b, int low, int high)
{
    FIX::NoLegs count;
    b.request->getField(count);
    if (count.getValue() < low || count.getValue() > high)
        throw LogException("Nolegs is Invalid");
}

// Empty legs until the legs are read: no token, no strike, blank symbols and fillers.
void writeLegDefaults(const SpreadBuild &b)
{
    uint8_t *r = b.record;
    fixPutBlanks(r, FIRST_LEG.blank, 5);
    r[FIRST_LEG.lastBlank] = ' ';
    for (uint32_t entry : {SECOND_LEG, THIRD_LEG})
    {
        fixPutBlanks(r, entry + LEG_ENTRY.blank, 5);
        r[entry + LEG_ENTRY.lastBlank] = ' ';
        put_i32_be(r, entry + LEG_ENTRY.token, -1);
        put_i32_be(r, entry + LEG_ENTRY.strike, -1);
    }
    put_i32_be(r, FIRST_LEG.token, -1);
    put_i32_be(r, FIRST_LEG.strike, -1);
    fixPutBlanks(r, FIRST_LEG.symbol, order::SYMBOL_SIZE);
    fixPutBlanks(r, order::HEADER_CHARS, 2);
}

// The first leg's price becomes the spread's price.
void moveSpreadPrice(uint8_t *record)
{
    put_i32_be(record, SPREAD_PRICE, get_i32_be(record, FIRST_LEG.price));
    put_i32_be(record, FIRST_LEG.price, 0);
}

bool immediateOrCancel(const uint8_t *record, uint32_t flagsOffset)
{
    return (record[flagsOffset] & FLAG_IMMEDIATE_OR_CANCEL) != 0;
}
} // namespace

int32_t FixNwInfoClass::fixNwInfoGetSpreadMultiLegInfo(const FIX42::SpreadMultiLegSingle &spread,
                                                       uint8_t *destination, uint16_t legNumber)
{
    if (legNumber < 1 || legNumber > 3)
    {
        EA_LOG(m_logger, EA_LEVEL_SYSTEM_ERROR, "Invalid value for leg_count [%d]", legNumber);
        return LEG_NUMBER_INVALID;
    }
    FIX42::SpreadMultiLegSingle::NoLegs leg;
    spread.getGroup(legNumber, leg);
    fillLeg(leg, LegFill{destination, legNumber, m_contractExpiryOffset, false, 'N'});
    return EA_SUCCESS;
}

int32_t
FixNwInfoClass::fixNwInfoGetSpreadCancelReplaceLegInfo(const FIX42::SpreadCancelReplaceRequest &replace,
                                                       uint8_t *destination, uint16_t legNumber,
                                                       char cancelFlag)
{
    if (legNumber < 1 || legNumber > 3)
    {
        EA_LOG(m_logger, EA_LEVEL_SYSTEM_ERROR, "Invalid value for leg_count [%d]", legNumber);
        return LEG_NUMBER_INVALID;
    }
    FIX42::SpreadCancelReplaceRequest::NoLegs leg;
    replace.getGroup(legNumber, leg);
    fillLeg(leg, LegFill{destination, legNumber, m_contractExpiryOffset, true, cancelFlag});
    return EA_SUCCESS;
}

// Every leg result other than 0 is logged here; the request then ends without an answer.
int32_t FixNwInfoClass::fixNwInfoBuildSpread(const FIX42::SpreadMultiLegSingle &spread, uint8_t *record,
                                             const FixSessionSlot &slot)
{
    const SpreadBuild b = {&spread, record, &slot};
    writeConstants(b, ' ');
    readOrderTerms(b);
    readTimeInForce(b, 3);
    readLegCount(b, 2, 3);
    writeLegDefaults(b);
    int32_t status = fixNwInfoGetSpreadMultiLegInfo(spread, record, 1);
    if (status != EA_SUCCESS)
    {
        EA_LOG(m_logger, EA_LEVEL_CONTINUATION, "fixNwInfoGetLegInfo failed for LEG_ONE with status[%d] ",
               status);
        return status;
    }
    status = fixNwInfoGetSpreadMultiLegInfo(spread, record + SECOND_LEG, 2);
    if (status != EA_SUCCESS)
    {
        EA_LOG(m_logger, EA_LEVEL_CONTINUATION, "fixNwInfoGetLegInfo failed for LEG_TWO with status[%d] ",
               status);
        return status;
    }
    fixPutBlanks(record, THIRD_LEG + LEG_ENTRY.symbol, order::SYMBOL_SIZE);

    FIX42::MultilegOrdType multilegOrdType;
    spread.getField(multilegOrdType);
    switch (multilegOrdType.getValue())
    {
    case 1:
        put_i16_be(record, order::TRANSCODE, TRANSCODE_TWO_LEG_SPREAD);
        moveSpreadPrice(record);
        fixValidateEqual(static_cast<int64_t>(get_i32_be(record, SECOND_LEG + LEG_ENTRY.price)), int64_t{0},
                         FIX::FIELD::LegPrice);
        return EA_SUCCESS;
    case 2:
        put_i16_be(record, order::TRANSCODE, TRANSCODE_TWO_LEG_ORDER);
        if (!immediateOrCancel(record, FIRST_LEG.flags))
            throw LogException("TimeInForce is Invalid");
        record[SECOND_LEG + LEG_ENTRY.flags] |= FLAG_IMMEDIATE_OR_CANCEL;
        return EA_SUCCESS;
    case 3:
        put_i16_be(record, order::TRANSCODE, TRANSCODE_THREE_LEG_ORDER);
        if (!immediateOrCancel(record, FIRST_LEG.flags))
            throw LogException("TimeInForce is Invalid");
        record[SECOND_LEG + LEG_ENTRY.flags] |= FLAG_IMMEDIATE_OR_CANCEL;
        record[THIRD_LEG + LEG_ENTRY.flags] |= FLAG_IMMEDIATE_OR_CANCEL;
        status = fixNwInfoGetSpreadMultiLegInfo(spread, record + THIRD_LEG, 3);
        if (status != EA_SUCCESS)
            EA_LOG(m_logger, EA_LEVEL_CONTINUATION,
                   "fixNwInfoGetLegInfo failed for LEG_THREE with status[%d] ", status);
        return status;
    default:
        throw LogException("MultilegOrdType is Invalid");
    }
}

int32_t FixNwInfoClass::fixNwInfoBuildSpreadReplace(const FIX42::SpreadCancelReplaceRequest &replace,
                                                    uint8_t *record, const FixSessionSlot &slot)
{
    const SpreadBuild b = {&replace, record, &slot};
    writeConstants(b, 'T');
    fixPutNumberAsDouble(record, order::ORDER_NUMBER, fixStringOf(replace, FIX::FIELD::OrderID));
    put_i16_be(record, order::TRANSCODE, TRANSCODE_MODIFY_SPREAD);
    char cancelFlag = 'N';
    if (replace.isSetField(FIX42::TAG::CancelRemainingQty))
    {
        FIX42::CancelRemainingQty cancel;
        replace.getField(cancel);
        if (cancel.getValue() == 'Y')
        {
            put_i16_be(record, order::TRANSCODE, TRANSCODE_CANCEL_SPREAD);
            cancelFlag = 'Y';
        }
        else if (cancel.getValue() == 'N')
            record[FIRST_LEG.flags + 1] |= FLAG_MODIFIED;
        else
            throw LogException("CancelRemainingQty is Invalid");
    }
    readOrderTerms(b);
    readTimeInForce(b, 2);
    readLegCount(b, 2, 2);
    writeLegDefaults(b);
    put_i16_be(record, FIRST_LEG.zero, 0);
    int32_t status = fixNwInfoGetSpreadCancelReplaceLegInfo(replace, record, 1, cancelFlag);
    if (status != EA_SUCCESS)
    {
        EA_LOG(m_logger, EA_LEVEL_CONTINUATION, "fixNwInfoGetLegInfo failed for LEG_ONE with status[%d] ",
               status);
        return status;
    }
    fixPutBlanks(record, SECOND_LEG + LEG_ENTRY.symbol, order::SYMBOL_SIZE);
    fixPutBlanks(record, THIRD_LEG + LEG_ENTRY.symbol, order::SYMBOL_SIZE);
    status = fixNwInfoGetSpreadCancelReplaceLegInfo(replace, record + SECOND_LEG, 2, cancelFlag);
    if (status != EA_SUCCESS)
    {
        EA_LOG(m_logger, EA_LEVEL_CONTINUATION, "fixNwInfoGetLegInfo failed for LEG_TWO with status[%d] ",
               status);
        return status;
    }
    moveSpreadPrice(record);
    put_u32_be(record, order::MODIFICATION_TIME,
               fixExchangeSecondsOfText(fixStringOf(replace, FIX42::TAG::ExchangeTime)));
    return EA_SUCCESS;
}

void FixNwInfoClass::onMessage(const FIX42::SpreadMultiLegSingle &spread, const FIX::SessionID &sessionId)
{
    const FixRequestTexts texts = {
        __FILE__,
        __LINE__,
        true,
        "Session id [%s] not found in the fix_client_list.Hence not processing the SpreadMultiLegSingle message",
        "Message creation failed",
        "Sending spreadMultiLegSingle message of session index[%d] and Fix Nw handle [%d] to User Session Module"};
    fixNwInfoTakeRequest(texts, spread, sessionId, RECORD_LENGTH,
                         [this, &spread](uint8_t *record, const FixSessionSlot &slot)
                         { return fixNwInfoBuildSpread(spread, record, slot); });
}

void FixNwInfoClass::onMessage(const FIX42::SpreadCancelReplaceRequest &replace,
                               const FIX::SessionID &sessionId)
{
    const FixRequestTexts texts = {
        __FILE__,
        __LINE__,
        true,
        "Session id [%s] not found in the fix_client_list.Hence not processing the SpreadCancelReplaceRequest message",
        "Message creation failed",
        "Sending spreadCancelReplaceRequest message of session index[%d] and Fix Nw handle [%d] to User Session Module"};
    fixNwInfoTakeRequest(texts, replace, sessionId, RECORD_LENGTH,
                         [this, &replace](uint8_t *record, const FixSessionSlot &slot)
                         { return fixNwInfoBuildSpreadReplace(replace, record, slot); });
}
