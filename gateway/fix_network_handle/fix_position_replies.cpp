// Exercise-request replies to FIX. PosMaintAction says which request the exchange answers
// (1 new, 2 replacement, 3 cancellation), PosMaintStatus whether it accepted it (0) or
// refused it (2, with the error code as Text); PosMaintRptID is the exchange's number of
// the request, which a replacement or cancellation names again as PosMaintRptRefID.
#include "gateway/fix_network_handle/fix_position_replies.h"

#include <string>

#include "FixFields.h"
#include "gateway/fix_network_handle/fix_reply_conversion.h"
#include "gateway/fix_network_handle/fix_single_order_replies.h"
#include "gateway/runtime/wire.h"

namespace
{
// PosMaintAction, and whether the transcode is the exchange's refusal.
struct position_event
{
    int16_t transcode;
    int action;
    bool refused;
};

const position_event POSITION_EVENTS[] = {
    {4000, 1, false}, {4002, 1, true}, {4005, 2, false}, {4007, 2, true}, {4008, 3, false}, {4010, 3, true},
};
} // namespace

void fixPositionFillReport(FIX::Message &report, const uint8_t *record, int16_t transcode, int16_t errorCode)
{
    const position_event *event = nullptr;
    for (const position_event &e : POSITION_EVENTS)
        if (e.transcode == transcode)
            event = &e;
    if (event == nullptr)
        throw FIX::Exception("No position event for transcode", fixReplyDecimal(transcode));

    report.setField(FIX::PosMaintAction(event->action));
    fixReplySetText(report, FIX::FIELD::PosReqID,
                    fixReplyText(record, POSITION_REPLY_REQUEST_ID, POSITION_REPLY_REQUEST_ID_SIZE));
    // 0 is "do not exercise"; a refusal also reports 2 as such.
    const int16_t transactionType = get_i16_be(record, POSITION_REPLY_TRANSACTION_TYPE);
    if (transactionType == 1)
        report.setField(FIX::PosTransType(1));
    else if (transactionType == 0 || (event->refused && transactionType == 2))
        report.setField(FIX::PosTransType(2));
    report.setField(
        FIX::PosMaintRptID(fixReplyOrderIdText(fixReplyOrderNumber(record, POSITION_REPLY_REQUEST_NUMBER))));
    if (errorCode != 0)
    {
        report.setField(FIX::PosMaintStatus(2));
        report.setField(FIX::Text(fixReplyDecimal(errorCode)));
    }
    else
        report.setField(FIX::PosMaintStatus(0));

    fixReplySetText(report, FIX::FIELD::Symbol,
                    fixReplyText(record, POSITION_REPLY_SYMBOL, ORDER_REPLY_SYMBOL_SIZE));
    const std::string token = fixReplyDecimal(get_u32_be(record, POSITION_REPLY_TOKEN));
    report.setField(FIX::SecurityID(token));
    const std::string kind = fixReplyText(record, POSITION_REPLY_INSTRUMENT_KIND, ORDER_REPLY_KIND_SIZE);
    fixReplySetText(report, FIX::FIELD::SecurityType, kind);
    if (kind == "OPT")
        fixReplySetOptionFields(report, FIX_OPTION_TAGS, record[POSITION_REPLY_OPTION_TYPE],
                                record[POSITION_REPLY_EXERCISE_STYLE],
                                get_i32_be(record, POSITION_REPLY_STRIKE_PRICE));
    fixReplySetProduct(report, FIX::FIELD::Product,
                       fixReplyText(record, POSITION_REPLY_UNDERLYING_KIND, ORDER_REPLY_KIND_SIZE));
    fixReplySetMaturity(report, get_u32_be(record, POSITION_REPLY_EXPIRY));
    fixReplySetText(report, FIX::FIELD::Account,
                    fixReplyText(record, POSITION_REPLY_ACCOUNT, ORDER_REPLY_ACCOUNT_SIZE));
    fixReplySetExchangeSeconds(report, FIX::FIELD::TransactTime,
                               get_u32_be(record, POSITION_REPLY_REQUEST_TIME));
    report.setField(FIX::Shares(static_cast<double>(get_u32_be(record, POSITION_REPLY_QUANTITY))));
    const int16_t proClient = get_i16_be(record, POSITION_REPLY_PRO_CLIENT);
    if (proClient == 1)
        report.setField(FIX::CustomerOrFirm(0));
    else if (proClient == 2)
        report.setField(FIX::CustomerOrFirm(1));
    fixReplySetText(report, FIX::FIELD::ClearingAccount,
                    fixReplyText(record, POSITION_REPLY_CLEARING_ACCOUNT, ORDER_REPLY_CLEARING_ACCOUNT_SIZE));
    report.setField(FIX::SecurityID(token));
}
