// Single-order replies to FIX. Every reply that echoes the order record becomes an
// ExecutionReport whose ExecType, OrdStatus and ExecID kind say which event it reports,
// except the refusals of a modification (2042) or a cancellation (2072), which become an
// OrderCancelReject. The identifiers come from the exchange's 8-byte order number and
// the client order number that the FIX side stored in the order when it was sent.
//
// A value outside the mapped ones (a side of 3, an option type of 'X', no time-in-force
// bit) leaves its field out; the report is still sent. So does an empty text field: an
// empty FIX field would make the client's engine refuse the whole report.
#include "gateway/fix_network_handle/fix_single_order_replies.h"

#include <cmath>
#include <string>

#include "FixFields.h"
#include "gateway/fix_network_handle/fix_reply_conversion.h"
#include "gateway/runtime/wire.h"

namespace
{
struct order_event
{
    int16_t transcode;
    const char *execIdKind;
    char execType;
    char ordStatus;
    int restatementReason; // 0: not set
    bool restated;         // ExecType and reason follow the record's restatement code
    fix_text_rule text;
};

const order_event ORDER_EVENTS[] = {
    {2012, "OP", 'D', '0', 3, false, FIX_TEXT_NEVER},
    {2073, "OE", '0', '0', 0, false, FIX_TEXT_ERROR_ABOVE_ZERO},
    {2074, "OM", '5', '5', 0, true, FIX_TEXT_ERROR_ABOVE_ZERO},
    {2075, "OC", '4', '4', 0, true, FIX_TEXT_ERROR_ABOVE_ZERO},
    {2170, "OF", '7', '7', 0, false, FIX_TEXT_NEVER},
    {2231, "OR", '8', '3', 0, false, FIX_TEXT_ALWAYS},
    {9002, "OX", 'C', '3', 0, false, FIX_TEXT_NEVER},
};

const order_event *findOrderEvent(int16_t transcode)
{
    for (const order_event &event : ORDER_EVENTS)
        if (event.transcode == transcode)
            return &event;
    return nullptr;
}

int32_t clientOrderNumber(const uint8_t *record)
{
    return get_i32_le(record, ORDER_REPLY_CLIENT_ORDER);
}
} // namespace

void fixSingleOrderFillExecutionReport(FIX::Message &report, const uint8_t *record, int16_t transcode,
                                       int16_t errorCode)
{
    const order_event *event = findOrderEvent(transcode);
    if (event == nullptr)
        throw FIX::Exception("No order event for transcode", fixReplyDecimal(transcode));
    const double orderNumber = fixReplyOrderNumber(record, ORDER_REPLY_ORDER_NUMBER);
    const int32_t clientOrder = clientOrderNumber(record);

    report.setField(FIX::OrderID(fixReplyOrderIdText(orderNumber)));
    report.setField(FIX::ClOrdID(fixReplyDecimal(clientOrder)));
    report.setField(FIX::ExecID(fixReplyOrderExecId(transcode, event->execIdKind, orderNumber, clientOrder)));
    report.setField(FIX::ExecTransType('0'));

    char execType = event->execType;
    int reason = event->restatementReason;
    if (event->restated)
        fixReplyRestatement(record[ORDER_REPLY_RESTATEMENT_CODE], &execType, &reason);
    report.setField(FIX::ExecType(execType));
    report.setField(FIX::OrdStatus(event->ordStatus));
    if (reason != 0)
        report.setField(FIX::ExecRestatementReason(reason));
    report.setField(FIX::IDSource("8"));
    report.setField(FIX::OpenClose('O'));

    fixReplySetText(report, FIX::FIELD::Account,
                    fixReplyText(record, ORDER_REPLY_ACCOUNT, ORDER_REPLY_ACCOUNT_SIZE));
    fixReplySetText(report, FIX::FIELD::Symbol,
                    fixReplyText(record, ORDER_REPLY_SYMBOL, ORDER_REPLY_SYMBOL_SIZE));
    const std::string securityType = fixReplyText(record, ORDER_REPLY_INSTRUMENT_KIND, ORDER_REPLY_KIND_SIZE);
    fixReplySetText(report, FIX::FIELD::SecurityType, securityType);
    if (securityType == "OPT")
        fixReplySetOptionFields(report, FIX_OPTION_TAGS, record[ORDER_REPLY_OPTION_TYPE],
                                record[ORDER_REPLY_EXERCISE_STYLE],
                                get_i32_be(record, ORDER_REPLY_STRIKE_PRICE));
    fixReplySetProduct(report, FIX::FIELD::Product,
                       fixReplyText(record, ORDER_REPLY_UNDERLYING_KIND, ORDER_REPLY_KIND_SIZE));
    fixReplySetMaturity(report, get_u32_be(record, ORDER_REPLY_EXPIRY));

    fixReplySetSide(report, FIX::FIELD::Side, get_i16_be(record, ORDER_REPLY_SIDE));

    // Summed at 64 bits: two 32-bit volumes never wrap.
    const uint32_t remaining = get_u32_be(record, ORDER_REPLY_REMAINING_VOLUME);
    const uint32_t filled = get_u32_be(record, ORDER_REPLY_FILLED_VOLUME);
    report.setField(FIX::OrderQty(static_cast<double>(static_cast<uint64_t>(remaining) + filled)));
    report.setField(FIX::LeavesQty(static_cast<double>(remaining)));
    report.setField(FIX::CumQty(static_cast<double>(filled)));
    if (transcode == 2074 && filled > 0)
        report.setField(FIX::OrdStatus('1'));

    const uint8_t terms = record[ORDER_REPLY_TERMS];
    report.setField(FIX::OrdType(fixReplyOrdType(terms)));
    const double price = get_i32_be(record, ORDER_REPLY_PRICE) / 100.0;
    // An order-price-changed reply shows the price without its sign.
    report.setField(FIX::Price(transcode == 2012 ? std::fabs(price) : price));
    report.setField(FIX::AvgPx(0.0));
    report.setField(FIX::StopPx(get_u32_be(record, ORDER_REPLY_TRIGGER_PRICE) / 100.0));
    const char tif = fixReplyTimeInForce(terms);
    if (tif != '\0')
        report.setField(FIX::TimeInForce(tif));

    fixReplySetSendingTime(report, record);
    // A rejection carries the time of the reply, not of the order.
    fixReplySetExchangeSeconds(report, FIX::FIELD::TransactTime,
                               transcode == 2231 ? get_u32_be(record, FIX_REPLY_HEADER_TIME_SECONDS)
                                                 : get_u32_be(record, ORDER_REPLY_ORDER_TIME));
    report.setField(FIX::HandlInst('1'));
    report.setField(FIX::MaxFloor(static_cast<double>(get_u32_be(record, ORDER_REPLY_DISCLOSED_VOLUME))));
    fixReplySetText(report, FIX::FIELD::ClearingAccount,
                    fixReplyText(record, ORDER_REPLY_CLEARING_ACCOUNT, ORDER_REPLY_CLEARING_ACCOUNT_SIZE));
    const int16_t proClient = get_i16_be(record, ORDER_REPLY_PRO_CLIENT);
    if (proClient == 1)
        report.setField(FIX::CustomerOrFirm(0));
    else if (proClient == 2)
        report.setField(FIX::CustomerOrFirm(1));
    fixReplySetErrorText(report, event->text, errorCode);
    report.setField(FIX::SecurityID(fixReplyDecimal(get_u32_be(record, ORDER_REPLY_TOKEN))));
}

void fixSingleOrderFillCancelReject(FIX::Message &reject, const uint8_t *record, int16_t transcode,
                                    int16_t errorCode)
{
    const double orderNumber = fixReplyOrderNumber(record, ORDER_REPLY_ORDER_NUMBER);
    reject.setField(FIX::OrderID(fixReplyOrderIdText(orderNumber)));
    reject.setField(FIX::ClOrdID(fixReplyDecimal(clientOrderNumber(record))));
    reject.setField(FIX::OrigClOrdID("0"));
    reject.setField(FIX::OrdStatus('U'));
    fixReplySetText(reject, FIX::FIELD::Account,
                    fixReplyText(record, ORDER_REPLY_ACCOUNT, ORDER_REPLY_ACCOUNT_SIZE));
    fixReplySetSendingTime(reject, record);
    fixReplySetExchangeSeconds(reject, FIX::FIELD::TransactTime,
                               get_u32_be(record, FIX_REPLY_HEADER_TIME_SECONDS));
    reject.setField(FIX::CxlRejResponseTo(transcode == 2042 ? '2' : '1'));
    reject.setField(FIX::Text(fixReplyDecimal(errorCode)));
}
