// Spread-order replies to FIX. A multi-leg order is reported as one ExecutionReport whose
// body speaks for the whole order (Symbol "XXXXXXXXXX", Side 'L', no quantities) and whose
// NoLegs entries carry each leg: the first from the record's single-order part, the
// others from their leg entries. Tag 6008 names the family: 1 two-leg spread, 2 two-leg
// order, 3 three-leg order. A two-leg spread has one price, the spread's, reported on its
// first leg.
//
// The spread's price is signed: a request may give a negative LegPrice, and the exchange
// echoes it as written.
#include "gateway/fix_network_handle/fix_spread_replies.h"

#include <memory>
#include <new>
#include <string>

#include "FixFields.h"
#include "gateway/fix_network_handle/fix_dialect.h"
#include "gateway/fix_network_handle/fix_reply_conversion.h"
#include "gateway/fix_network_handle/fix_request_records.h"
#include "gateway/fix_network_handle/fix_single_order_replies.h"
#include "gateway/runtime/wire.h"

namespace
{
enum spread_family
{
    TWO_LEG_SPREAD = 1,
    TWO_LEG_ORDER = 2,
    THREE_LEG_ORDER = 3,
};

enum time_source
{
    ORDER_TIME,  // the order time at 160
    HEADER_TIME, // the reply's own time stamp at header offset 4
};

struct spread_event
{
    int16_t transcode;
    spread_family family;
    const char *execIdKind;
    char execType;
    char ordStatus;
    bool restated; // ExecType and reason follow the record's restatement code
    time_source time;
    fix_text_rule text;
};

const spread_event SPREAD_EVENTS[] = {
    {2124, TWO_LEG_SPREAD, "OE", '0', '0', false, ORDER_TIME, FIX_TEXT_ERROR_ABOVE_ZERO},
    {2125, TWO_LEG_ORDER, "OE", '0', '0', false, ORDER_TIME, FIX_TEXT_ERROR_ABOVE_ZERO},
    {2126, THREE_LEG_ORDER, "OE", '0', '0', false, ORDER_TIME, FIX_TEXT_ERROR_ABOVE_ZERO},
    {2130, TWO_LEG_SPREAD, "OC", '4', '4', true, ORDER_TIME, FIX_TEXT_NEVER},
    {2131, TWO_LEG_ORDER, "OC", '4', '4', false, ORDER_TIME, FIX_TEXT_NEVER},
    {2132, THREE_LEG_ORDER, "OC", '4', '4', false, ORDER_TIME, FIX_TEXT_NEVER},
    {2136, TWO_LEG_SPREAD, "OM", '5', '5', true, ORDER_TIME, FIX_TEXT_NEVER},
    {2154, TWO_LEG_SPREAD, "OR", '8', '3', false, HEADER_TIME, FIX_TEXT_ALWAYS},
    {2155, TWO_LEG_ORDER, "OR", '8', '3', false, HEADER_TIME, FIX_TEXT_ALWAYS},
    {2156, THREE_LEG_ORDER, "OR", '8', '3', false, HEADER_TIME, FIX_TEXT_ALWAYS},
    {9004, TWO_LEG_SPREAD, "OX", 'C', '3', false, ORDER_TIME, FIX_TEXT_ERROR_ABOVE_ZERO},
};

const spread_event *findSpreadEvent(int16_t transcode)
{
    for (const spread_event &event : SPREAD_EVENTS)
        if (event.transcode == transcode)
            return &event;
    return nullptr;
}

// Where one leg's fields stand in the record.
struct leg_source
{
    uint32_t token;
    uint32_t instrumentKind;
    uint32_t underlyingKind;
    uint32_t symbol;
    uint32_t expiry;
    uint32_t strike;
    uint32_t optionType;
    uint32_t exerciseStyle;
    uint32_t side;
    uint32_t remaining;
    uint32_t filled;
    uint32_t price;
};

const leg_source FIRST_LEG_SOURCE = {
    ORDER_REPLY_TOKEN,  ORDER_REPLY_INSTRUMENT_KIND,  ORDER_REPLY_UNDERLYING_KIND, ORDER_REPLY_SYMBOL,
    ORDER_REPLY_EXPIRY, ORDER_REPLY_STRIKE_PRICE,     ORDER_REPLY_OPTION_TYPE,     ORDER_REPLY_EXERCISE_STYLE,
    ORDER_REPLY_SIDE,   ORDER_REPLY_REMAINING_VOLUME, ORDER_REPLY_FILLED_VOLUME,   ORDER_REPLY_PRICE};

leg_source entrySource(uint32_t entry)
{
    return leg_source{entry + SPREAD_LEG_TOKEN,
                      entry + SPREAD_LEG_INSTRUMENT_KIND,
                      entry + SPREAD_LEG_UNDERLYING_KIND,
                      entry + SPREAD_LEG_SYMBOL,
                      entry + SPREAD_LEG_EXPIRY,
                      entry + SPREAD_LEG_STRIKE_PRICE,
                      entry + SPREAD_LEG_OPTION_TYPE,
                      entry + SPREAD_LEG_EXERCISE_STYLE,
                      entry + SPREAD_LEG_SIDE,
                      entry + SPREAD_LEG_REMAINING_VOLUME,
                      entry + SPREAD_LEG_FILLED_VOLUME,
                      entry + SPREAD_LEG_PRICE};
}

// One NoLegs entry. `price` is the leg's LegPrice in hundredths as the family reports it.
void addLeg(FIX::Message &report, const uint8_t *record, const leg_source &s, spread_family family,
            int32_t price)
{
    std::unique_ptr<FIX42::ExecutionReportNoLegs> leg(new (std::nothrow) FIX42::ExecutionReportNoLegs());
    if (!leg)
        throw FixReplyOutOfMemory{"new failed for NoLegs"};
    fixReplySetText(*leg, FIX::FIELD::LegSymbol, fixReplyText(record, s.symbol, ORDER_REPLY_SYMBOL_SIZE));
    char yearMonth[16] = {0};
    char day[8] = {0};
    exchange_time_to_ymd_strings(static_cast<int64_t>(get_u32_be(record, s.expiry)), yearMonth, day);
    leg->setField(FIX::LegMaturityDate(std::string(yearMonth) + day));
    const std::string kind = fixReplyText(record, s.instrumentKind, ORDER_REPLY_KIND_SIZE);
    fixReplySetText(*leg, FIX::FIELD::LegSecurityType, kind);
    if (kind == "OPT")
    {
        // An order of options legs is opened: said once, in the body.
        if (family != TWO_LEG_SPREAD)
            report.setField(FIX::OpenClose('O'));
        fixReplySetOptionFields(*leg, FIX_LEG_OPTION_TAGS, record[s.optionType], record[s.exerciseStyle],
                                get_i32_be(record, s.strike));
    }
    fixReplySetProduct(*leg, FIX::FIELD::LegProduct,
                       fixReplyText(record, s.underlyingKind, ORDER_REPLY_KIND_SIZE));
    fixReplySetSide(*leg, FIX::FIELD::LegSide, get_i16_be(record, s.side));
    leg->setField(FIX::LegPrice(price / 100.0));
    // Summed at 64 bits: two 32-bit volumes never wrap.
    const uint32_t remaining = get_u32_be(record, s.remaining);
    const uint32_t filled = get_u32_be(record, s.filled);
    leg->setField(FIX::LegOrderQty(static_cast<double>(static_cast<uint64_t>(remaining) + filled)));
    leg->setField(FIX42::LegLeavesQty(static_cast<double>(remaining)));
    leg->setField(FIX42::LegCumQty(static_cast<double>(filled)));
    leg->setField(FIX::LegSecurityID(fixReplyDecimal(get_u32_be(record, s.token))));
    report.addGroup(*leg);
}
} // namespace

void fixSpreadFillExecutionReport(FIX::Message &report, const uint8_t *record, int16_t transcode,
                                  int16_t errorCode)
{
    const spread_event *event = findSpreadEvent(transcode);
    if (event == nullptr)
        throw FIX::Exception("No spread event for transcode", fixReplyDecimal(transcode));
    const double orderNumber = fixReplyOrderNumber(record, ORDER_REPLY_ORDER_NUMBER);
    const int32_t clientOrder = get_i32_le(record, ORDER_REPLY_CLIENT_ORDER);

    report.setField(FIX::OrderID(fixReplyOrderIdText(orderNumber)));
    report.setField(FIX::ClOrdID(fixReplyDecimal(clientOrder)));
    report.setField(FIX::ExecTransType('0'));
    report.setField(FIX::ExecID(fixReplyOrderExecId(transcode, event->execIdKind, orderNumber, clientOrder)));
    report.setField(FIX::OrdStatus(event->ordStatus));
    char execType = event->execType;
    int reason = 0;
    if (event->restated)
        fixReplyRestatement(record[ORDER_REPLY_RESTATEMENT_CODE], &execType, &reason);
    report.setField(FIX::ExecType(execType));
    if (reason != 0)
        report.setField(FIX::ExecRestatementReason(reason));
    fixReplySetExchangeSeconds(report, FIX::FIELD::TransactTime,
                               event->time == HEADER_TIME ? get_u32_be(record, FIX_REPLY_HEADER_TIME_SECONDS)
                                                          : get_u32_be(record, ORDER_REPLY_ORDER_TIME));
    fixReplySetErrorText(report, event->text, errorCode);

    report.setField(FIX::IDSource("8"));
    if (event->family == TWO_LEG_SPREAD)
        report.setField(FIX::OpenClose('O'));
    fixReplySetText(report, FIX::FIELD::Account,
                    fixReplyText(record, ORDER_REPLY_ACCOUNT, ORDER_REPLY_ACCOUNT_SIZE));
    report.setField(FIX::Symbol("XXXXXXXXXX"));
    report.setField(FIX::Side('L'));
    report.setField(FIX::LeavesQty(0.0));
    report.setField(FIX::CumQty(0.0));
    report.setField(FIX::AvgPx(0.0));
    const uint8_t terms = record[ORDER_REPLY_TERMS];
    report.setField(FIX::OrdType(fixReplyOrdType(terms)));
    const char tif = fixReplyTimeInForce(terms);
    if (tif != '\0')
        report.setField(FIX::TimeInForce(tif));
    fixReplySetSendingTime(report, record);
    report.setField(FIX::MaxFloor(static_cast<double>(get_u32_be(record, ORDER_REPLY_DISCLOSED_VOLUME))));
    fixReplySetText(report, FIX::FIELD::ClearingAccount,
                    fixReplyText(record, ORDER_REPLY_CLEARING_ACCOUNT, ORDER_REPLY_CLEARING_ACCOUNT_SIZE));
    const int16_t proClient = get_i16_be(record, ORDER_REPLY_PRO_CLIENT);
    if (proClient == 1)
        report.setField(FIX::CustomerOrFirm(0));
    else if (proClient == 2)
        report.setField(FIX::CustomerOrFirm(1));
    report.setField(FIX42::MultilegOrdType(event->family));

    if (event->family == TWO_LEG_SPREAD)
    {
        addLeg(report, record, FIRST_LEG_SOURCE, event->family, get_i32_be(record, SPREAD_REPLY_PRICE));
        addLeg(report, record, entrySource(SPREAD_REPLY_SECOND_LEG), event->family, 0);
        return;
    }
    addLeg(report, record, FIRST_LEG_SOURCE, event->family, get_i32_be(record, ORDER_REPLY_PRICE));
    const leg_source second = entrySource(SPREAD_REPLY_SECOND_LEG);
    addLeg(report, record, second, event->family, get_i32_be(record, second.price));
    if (event->family == THREE_LEG_ORDER)
    {
        const leg_source third = entrySource(SPREAD_REPLY_THIRD_LEG);
        addLeg(report, record, third, event->family, get_i32_be(record, third.price));
    }
}

void fixSpreadFillCancelReject(FIX::Message &reject, const uint8_t *record, int16_t transcode,
                               int16_t errorCode)
{
    const double orderNumber = fixReplyOrderNumber(record, ORDER_REPLY_ORDER_NUMBER);
    reject.setField(FIX::OrderID(fixReplyOrderIdText(orderNumber)));
    reject.setField(FIX::ClOrdID(fixReplyDecimal(get_i32_le(record, ORDER_REPLY_CLIENT_ORDER))));
    reject.setField(FIX::OrigClOrdID("0"));
    reject.setField(FIX::OrdStatus('U'));
    fixReplySetText(reject, FIX::FIELD::Account,
                    fixReplyText(record, ORDER_REPLY_ACCOUNT, ORDER_REPLY_ACCOUNT_SIZE));
    fixReplySetExchangeSeconds(reject, FIX::FIELD::TransactTime,
                               get_u32_be(record, FIX_REPLY_HEADER_TIME_SECONDS));
    reject.setField(FIX::CxlRejResponseTo(transcode == 2127 ? '1' : '2'));
    reject.setField(FIX::Text(fixReplyDecimal(errorCode)));
    reject.setField(FIX42::MultilegOrdType(TWO_LEG_SPREAD));
}
