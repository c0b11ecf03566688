// Trades and give-ups to FIX. A trade confirmation (2222) reports one fill: its ExecID is
// made of the fill number and the side, so each fill is told apart; the order is filled
// ('2') when nothing remains and partially filled ('1') otherwise. The trade reply 2212
// reports a trade event on the order as a whole (ExecType 'T'). A give-up reply reports
// the clearing member's answer to a trade given up (GiveUpStatus 1 accepted, 2 refused).
//
// A confirmation for a side other than buy or sell has no ExecID, which the client's
// engine would refuse together with the whole report: it is dropped here with a log line
// naming the fill, so the operator sees it. A give-up's OpenClose is passed on as the
// exchange wrote it only when it is a printable character; a zero or a SOH byte would
// break the message on the wire.
#include "gateway/fix_network_handle/fix_trade_replies.h"

#include <cctype>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>

#include "FixFields.h"
#include "common/ea_status.h"
#include "gateway/fix_network_handle/fix_dialect.h"
#include "gateway/fix_network_handle/fix_reply_conversion.h"
#include "gateway/fix_network_handle/fix_single_order_replies.h"
#include "gateway/runtime/logger.h"
#include "gateway/runtime/message.h"
#include "gateway/runtime/wire.h"

namespace
{
enum : int16_t
{
    TRANSCODE_TRADE_EVENT = 2212,
    TRANSCODE_TRADE_CONFIRMATION = 2222,
};

// "%0.4dTB%0.16ld%0.10d" of the exchange's trade record format, with the fill number read as the
// unsigned 32-bit number it is.
std::string tradeExecId(int16_t transcode, int16_t side, uint32_t fillNumber)
{
    char text[64];
    snprintf(text, sizeof(text), "%.4d%s%.16" PRIu32 "%.10d", static_cast<int>(transcode),
             side == 1 ? "TB" : "TS", fillNumber, 0);
    return text;
}

// The instrument, the order's terms and the volumes both trade replies carry.
void setOrderFields(FIX::Message &report, const uint8_t *record, bool confirmation)
{
    fixReplySetText(report, FIX::FIELD::Account,
                    fixReplyText(record, TRADE_REPLY_ACCOUNT, ORDER_REPLY_ACCOUNT_SIZE));
    fixReplySetText(report, FIX::FIELD::Symbol,
                    fixReplyText(record, TRADE_REPLY_SYMBOL, ORDER_REPLY_SYMBOL_SIZE));
    const std::string kind = fixReplyText(record, TRADE_REPLY_INSTRUMENT_KIND, ORDER_REPLY_KIND_SIZE);
    fixReplySetText(report, FIX::FIELD::SecurityType, kind);
    if (kind == "OPT")
        fixReplySetOptionFields(report, FIX_OPTION_TAGS, record[TRADE_REPLY_OPTION_TYPE],
                                record[TRADE_REPLY_EXERCISE_STYLE],
                                get_i32_be(record, TRADE_REPLY_STRIKE_PRICE));
    fixReplySetProduct(report, FIX::FIELD::Product,
                       fixReplyText(record, TRADE_REPLY_UNDERLYING_KIND, ORDER_REPLY_KIND_SIZE));
    fixReplySetMaturity(report, get_u32_be(record, TRADE_REPLY_EXPIRY));
    fixReplySetSide(report, FIX::FIELD::Side, get_i16_be(record, TRADE_REPLY_SIDE));

    const uint32_t remaining = get_u32_be(record, TRADE_REPLY_REMAINING_VOLUME);
    const uint32_t filled = get_u32_be(record, TRADE_REPLY_FILLED_VOLUME);
    if (confirmation)
        report.setField(FIX::OrderQty(static_cast<double>(static_cast<uint64_t>(remaining) + filled)));
    report.setField(FIX::CumQty(static_cast<double>(filled)));

    const uint8_t terms = record[TRADE_REPLY_TERMS];
    report.setField(
        FIX::OrdType(confirmation ? fixReplyOrdType(terms) : ((terms & FIX_TERMS_MARKET) != 0 ? '1' : '2')));
    if (confirmation)
        report.setField(FIX::Price(get_i32_be(record, TRADE_REPLY_PRICE) / 100.0));
    report.setField(FIX::AvgPx(0.0));
    const char tif = fixReplyTimeInForce(terms);
    if (tif != '\0')
        report.setField(FIX::TimeInForce(tif));
    if (confirmation)
    {
        report.setField(FIX::LastShares(static_cast<double>(get_u32_be(record, TRADE_REPLY_FILL_QUANTITY))));
        report.setField(FIX::LastPx(get_i32_be(record, TRADE_REPLY_FILL_PRICE) / 100.0));
    }
    report.setField(FIX::LeavesQty(static_cast<double>(remaining)));

    fixReplySetSendingTime(report, record);
    fixReplySetExchangeSeconds(report, FIX::FIELD::TransactTime,
                               get_u32_be(record, FIX_REPLY_HEADER_TIME_SECONDS));
    report.setField(FIX::HandlInst('1'));
    report.setField(FIX::MaxFloor(static_cast<double>(get_u32_be(record, TRADE_REPLY_DISCLOSED_VOLUME))));
    // The member's own account: the broker code is the account's first five characters.
    const bool firm =
        memcmp(record + TRADE_REPLY_BROKER, record + TRADE_REPLY_ACCOUNT, TRADE_REPLY_BROKER_SIZE) == 0;
    report.setField(FIX::CustomerOrFirm(firm ? 1 : 0));
    report.setField(FIX::SecurityID(fixReplyDecimal(get_u32_be(record, TRADE_REPLY_TOKEN))));
}
} // namespace

int32_t fixTradeFillExecutionReport(FIX::Message &report, const message *msg, int16_t transcode,
                                    logger_object *logger)
{
    const uint8_t *record = msg->data;
    const double orderNumber = fixReplyOrderNumber(record, TRADE_REPLY_ORDER_NUMBER);
    const int16_t side = get_i16_be(record, TRADE_REPLY_SIDE);
    const uint32_t fillNumber = get_u32_be(record, TRADE_REPLY_FILL_NUMBER);
    const bool confirmation = transcode == TRANSCODE_TRADE_CONFIRMATION;
    if (confirmation && side != 1 && side != 2)
    {
        EA_LOG(logger, EA_LEVEL_BUSINESS_ERROR,
               "Discarding trade with transcode [%d] having invalid side [%d] fill number [%" PRIu32
               "] for nw_handle [%d] tws_index [%u]",
               transcode, side, fillNumber, msg->workstation_network_handle,
               static_cast<unsigned>(msg->workstation_index));
        return EA_VALID;
    }
    report.setField(FIX::OrderID(fixReplyOrderIdText(orderNumber)));
    report.setField(FIX::ExecID(confirmation ? tradeExecId(transcode, side, fillNumber)
                                             : fixReplyOrderExecId(transcode, "TG", orderNumber, 0)));
    report.setField(FIX::ExecTransType('0'));
    report.setField(FIX::IDSource("8"));
    report.setField(FIX::OpenClose('O'));
    if (confirmation)
    {
        const char status = get_u32_be(record, TRADE_REPLY_REMAINING_VOLUME) < 1 ? '2' : '1';
        report.setField(FIX::ExecType(status));
        report.setField(FIX::OrdStatus(status));
        report.setField(FIX42::TradeNumber(fixReplyDecimal(fillNumber)));
    }
    else
    {
        report.setField(FIX::ExecType('T'));
        report.setField(FIX::OrdStatus('0'));
    }
    setOrderFields(report, record, confirmation);
    return EA_SUCCESS;
}

void fixGiveUpFillReport(FIX::Message &report, const uint8_t *record)
{
    report.setField(FIX::OrderID(fixReplyOrderIdText(fixReplyOrderNumber(record, GIVE_UP_ORDER_NUMBER))));
    report.setField(FIX42::TradeNumber(fixReplyDecimal(get_u32_be(record, GIVE_UP_TRADE_NUMBER))));
    if (record[GIVE_UP_STATUS] == 'A')
        report.setField(FIX42::GiveUpStatus(1));
    else if (record[GIVE_UP_STATUS] == 'R')
        report.setField(FIX42::GiveUpStatus(2));
    fixReplySetText(report, FIX::FIELD::Symbol,
                    fixReplyText(record, GIVE_UP_SYMBOL, ORDER_REPLY_SYMBOL_SIZE));
    const std::string kind = fixReplyText(record, GIVE_UP_INSTRUMENT_KIND, ORDER_REPLY_KIND_SIZE);
    fixReplySetText(report, FIX::FIELD::SecurityType, kind);
    if (kind == "OPT")
        fixReplySetOptionFields(report, FIX_OPTION_TAGS, record[GIVE_UP_OPTION_TYPE],
                                record[GIVE_UP_EXERCISE_STYLE], get_i32_be(record, GIVE_UP_STRIKE_PRICE));
    fixReplySetProduct(report, FIX::FIELD::Product,
                       fixReplyText(record, GIVE_UP_UNDERLYING_KIND, ORDER_REPLY_KIND_SIZE));
    fixReplySetMaturity(report, get_u32_be(record, GIVE_UP_EXPIRY));
    fixReplySetSide(report, FIX::FIELD::Side, get_i16_be(record, GIVE_UP_SIDE));
    report.setField(FIX::LastPx(get_i32_be(record, GIVE_UP_FILL_PRICE) / 100.0));
    report.setField(FIX::LastShares(static_cast<double>(get_u32_be(record, GIVE_UP_FILL_QUANTITY))));
    const uint8_t openClose = record[GIVE_UP_OPEN_CLOSE];
    if (isprint(openClose))
        report.setField(FIX::OpenClose(static_cast<char>(openClose)));
    if (record[GIVE_UP_COVERED] == 'U')
        report.setField(FIX::CoveredOrUncovered(1));
    else if (record[GIVE_UP_COVERED] == 'V')
        report.setField(FIX::CoveredOrUncovered(0));
    FIX::UtcTimeStamp time(0, 0, 0, 1, 1, 1970);
    if (fixReplyExchangeSecondsToUtc(get_u32_be(record, GIVE_UP_TIME), &time))
        report.setField(FIX42::ExchangeTime(time));
    fixReplySetText(report, FIX::FIELD::ClearingAccount,
                    fixReplyText(record, GIVE_UP_CLEARING_ACCOUNT, ORDER_REPLY_CLEARING_ACCOUNT_SIZE));
}
