// Conversion of one exchange reply into the FIX message that goes to the client: the
// length check against the reply table, the creation of the family's message, the
// family's fields, and the header field that tells the client on which exchange stream
// the reply was made. The send thread calls it under the application's lock; it reads
// only its arguments and never keeps the record.
#include "gateway/fix_network_handle/fix_reply_conversion.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>

#include "common/ea_status.h"
#include "common/ea_time.h"
#include "fix42/ExecutionReport.h"
#include "fix42/News.h"
#include "fix42/OrderCancelReject.h"
#include "gateway/fix_network_handle/fix_dialect.h"
#include "gateway/fix_network_handle/fix_news_replies.h"
#include "gateway/fix_network_handle/fix_nw_info_class.h"
#include "gateway/fix_network_handle/fix_position_replies.h"
#include "gateway/fix_network_handle/fix_request_records.h"
#include "gateway/fix_network_handle/fix_single_order_replies.h"
#include "gateway/fix_network_handle/fix_spread_replies.h"
#include "gateway/fix_network_handle/fix_trade_replies.h"
#include "gateway/runtime/logger.h"
#include "gateway/runtime/message.h"
#include "gateway/runtime/wire.h"

namespace
{
enum : uint16_t
{
    ORDER_RECORD_LENGTH = 240,
    SPREAD_RECORD_LENGTH = 404,
    TRADE_RECORD_LENGTH = 209,
    POSITION_RECORD_LENGTH = 162,
    GIVE_UP_RECORD_LENGTH = 121,
    CONTROL_MESSAGE_LENGTH = 289,
    BROADCAST_LENGTH = 319,
};

// 2001 and 2041 reach the gateway as order replies but have no FIX form; they are kept
// in the table so that a well-formed one is dropped as such, not as an unknown reply.
const fix_reply_kind FIX_REPLY_KINDS[] = {
    {2001, ORDER_RECORD_LENGTH, FIX_REPLY_NO_FAMILY},
    {2012, ORDER_RECORD_LENGTH, FIX_REPLY_ORDER_REPORT},
    {2041, ORDER_RECORD_LENGTH, FIX_REPLY_NO_FAMILY},
    {2042, ORDER_RECORD_LENGTH, FIX_REPLY_ORDER_CANCEL_REJECT},
    {2072, ORDER_RECORD_LENGTH, FIX_REPLY_ORDER_CANCEL_REJECT},
    {2073, ORDER_RECORD_LENGTH, FIX_REPLY_ORDER_REPORT},
    {2074, ORDER_RECORD_LENGTH, FIX_REPLY_ORDER_REPORT},
    {2075, ORDER_RECORD_LENGTH, FIX_REPLY_ORDER_REPORT},
    {2124, SPREAD_RECORD_LENGTH, FIX_REPLY_SPREAD_REPORT},
    {2125, SPREAD_RECORD_LENGTH, FIX_REPLY_SPREAD_REPORT},
    {2126, SPREAD_RECORD_LENGTH, FIX_REPLY_SPREAD_REPORT},
    {2127, SPREAD_RECORD_LENGTH, FIX_REPLY_SPREAD_CANCEL_REJECT},
    {2130, SPREAD_RECORD_LENGTH, FIX_REPLY_SPREAD_REPORT},
    {2131, SPREAD_RECORD_LENGTH, FIX_REPLY_SPREAD_REPORT},
    {2132, SPREAD_RECORD_LENGTH, FIX_REPLY_SPREAD_REPORT},
    {2133, SPREAD_RECORD_LENGTH, FIX_REPLY_SPREAD_CANCEL_REJECT},
    {2136, SPREAD_RECORD_LENGTH, FIX_REPLY_SPREAD_REPORT},
    {2154, SPREAD_RECORD_LENGTH, FIX_REPLY_SPREAD_REPORT},
    {2155, SPREAD_RECORD_LENGTH, FIX_REPLY_SPREAD_REPORT},
    {2156, SPREAD_RECORD_LENGTH, FIX_REPLY_SPREAD_REPORT},
    {2170, ORDER_RECORD_LENGTH, FIX_REPLY_ORDER_REPORT},
    {2212, TRADE_RECORD_LENGTH, FIX_REPLY_TRADE_REPORT},
    {2222, TRADE_RECORD_LENGTH, FIX_REPLY_TRADE_REPORT},
    {2231, ORDER_RECORD_LENGTH, FIX_REPLY_ORDER_REPORT},
    {4000, POSITION_RECORD_LENGTH, FIX_REPLY_POSITION_REPORT},
    {4002, POSITION_RECORD_LENGTH, FIX_REPLY_POSITION_REPORT},
    {4005, POSITION_RECORD_LENGTH, FIX_REPLY_POSITION_REPORT},
    {4007, POSITION_RECORD_LENGTH, FIX_REPLY_POSITION_REPORT},
    {4008, POSITION_RECORD_LENGTH, FIX_REPLY_POSITION_REPORT},
    {4010, POSITION_RECORD_LENGTH, FIX_REPLY_POSITION_REPORT},
    {4506, GIVE_UP_RECORD_LENGTH, FIX_REPLY_GIVE_UP_REPORT},
    {4507, GIVE_UP_RECORD_LENGTH, FIX_REPLY_GIVE_UP_REPORT},
    {5295, CONTROL_MESSAGE_LENGTH, FIX_REPLY_NEWS},
    {6501, BROADCAST_LENGTH, FIX_REPLY_NEWS},
    {6511, BROADCAST_LENGTH, FIX_REPLY_NEWS},
    {6521, BROADCAST_LENGTH, FIX_REPLY_NEWS},
    {6531, BROADCAST_LENGTH, FIX_REPLY_NEWS},
    {6571, BROADCAST_LENGTH, FIX_REPLY_NEWS},
    {9002, ORDER_RECORD_LENGTH, FIX_REPLY_ORDER_REPORT},
    {9004, SPREAD_RECORD_LENGTH, FIX_REPLY_SPREAD_REPORT},
};

// FIX writes years with four digits.
bool fixReplyUnixToUtc(int64_t unixSeconds, FIX::UtcTimeStamp *out)
{
    const time_t t = static_cast<time_t>(unixSeconds);
    struct tm broken;
    if (ea_gmtime(&t, &broken) == nullptr)
        return false;
    const int64_t year = static_cast<int64_t>(broken.tm_year) + 1900;
    if (year < 1 || year > 9999)
        return false;
    *out = FIX::UtcTimeStamp(broken.tm_hour, broken.tm_min, broken.tm_sec, 0, broken.tm_mday,
                             broken.tm_mon + 1, static_cast<int>(year));
    return true;
}

// What a family is given besides the message it fills.
struct fix_reply_input
{
    const message *msg;
    int16_t transcode;
    int16_t errorCode;
    logger_object *logger;
};

// A family: how its message is made, what is logged when it cannot be, and how it is
// filled (0, or 203 when the family discards the reply after logging why).
struct fix_reply_family_ops
{
    fix_reply_family family;
    FIX::Message *(*create)();
    const char *createFailed;
    int32_t (*fill)(FIX::Message &out, const fix_reply_input &in);
};

template <class M> FIX::Message *fixReplyNew()
{
    return new (std::nothrow) M();
}

const fix_reply_family_ops FIX_REPLY_FAMILIES[] = {
    {FIX_REPLY_ORDER_REPORT, fixReplyNew<FIX42::ExecutionReport>,
     "Failed to create object of ExecutionReport()",
     [](FIX::Message &out, const fix_reply_input &in)
     {
         fixSingleOrderFillExecutionReport(out, in.msg->data, in.transcode, in.errorCode);
         return static_cast<int32_t>(EA_SUCCESS);
     }},
    {FIX_REPLY_ORDER_CANCEL_REJECT, fixReplyNew<FIX42::OrderCancelReject>,
     "Failed to create object of OrderCancelReject()",
     [](FIX::Message &out, const fix_reply_input &in)
     {
         fixSingleOrderFillCancelReject(out, in.msg->data, in.transcode, in.errorCode);
         return static_cast<int32_t>(EA_SUCCESS);
     }},
    {FIX_REPLY_SPREAD_REPORT, fixReplyNew<FIX42::ExecutionReport>, "new failed for ExecutionReport",
     [](FIX::Message &out, const fix_reply_input &in)
     {
         fixSpreadFillExecutionReport(out, in.msg->data, in.transcode, in.errorCode);
         return static_cast<int32_t>(EA_SUCCESS);
     }},
    {FIX_REPLY_SPREAD_CANCEL_REJECT, fixReplyNew<FIX42::OrderCancelReject>,
     "new failed for OrderCancelReject",
     [](FIX::Message &out, const fix_reply_input &in)
     {
         fixSpreadFillCancelReject(out, in.msg->data, in.transcode, in.errorCode);
         return static_cast<int32_t>(EA_SUCCESS);
     }},
    {FIX_REPLY_TRADE_REPORT, fixReplyNew<FIX42::ExecutionReport>,
     "Failed to create object of ExecutionReport()",
     [](FIX::Message &out, const fix_reply_input &in)
     { return fixTradeFillExecutionReport(out, in.msg, in.transcode, in.logger); }},
    {FIX_REPLY_POSITION_REPORT, fixReplyNew<FIX42::PositionMaintenanceReport>,
     "new failed for PositionMaintenanceReport",
     [](FIX::Message &out, const fix_reply_input &in)
     {
         fixPositionFillReport(out, in.msg->data, in.transcode, in.errorCode);
         return static_cast<int32_t>(EA_SUCCESS);
     }},
    {FIX_REPLY_GIVE_UP_REPORT, fixReplyNew<FIX42::GiveUpReport>, "Failed to create object of GiveUpReport()",
     [](FIX::Message &out, const fix_reply_input &in)
     {
         fixGiveUpFillReport(out, in.msg->data);
         return static_cast<int32_t>(EA_SUCCESS);
     }},
    {FIX_REPLY_NEWS, fixReplyNew<FIX42::News>, "Failed to create object of News()",
     [](FIX::Message &out, const fix_reply_input &in)
     {
         fixNewsFill(out, in.msg->data, in.transcode);
         return static_cast<int32_t>(EA_SUCCESS);
     }},
};

const fix_reply_family_ops *fixReplyFamily(fix_reply_family family)
{
    for (const fix_reply_family_ops &ops : FIX_REPLY_FAMILIES)
        if (ops.family == family)
            return &ops;
    return nullptr;
}

// Creates and fills the family's message; the stream header field comes last.
int32_t fixReplyBuild(const fix_reply_family_ops &ops, const fix_reply_input &in, FIX::Message **out)
{
    std::unique_ptr<FIX::Message> built(ops.create());
    if (!built)
    {
        EA_LOG(in.logger, EA_LEVEL_SYSTEM_ERROR, "%s", ops.createFailed);
        return EA_ERROR;
    }
    try
    {
        const int32_t status = ops.fill(*built, in);
        if (status != EA_SUCCESS)
            return status;
        fixReplySetLocationId(*built, in.msg->data);
    }
    catch (FixReplyOutOfMemory &e)
    {
        EA_LOG(in.logger, EA_LEVEL_SYSTEM_ERROR, "%s", e.text);
        return EA_ERROR;
    }
    catch (std::bad_alloc &)
    {
        EA_LOG(in.logger, EA_LEVEL_SYSTEM_ERROR, "%s", ops.createFailed);
        return EA_ERROR;
    }
    catch (FIX::Exception &e)
    {
        EA_LOG(in.logger, EA_LEVEL_BUSINESS_ERROR, "Found Exception :%s", e.what());
        return EA_VALID;
    }
    *out = built.release();
    return EA_SUCCESS;
}
} // namespace

const fix_reply_kind *fixReplyKinds(size_t *count)
{
    *count = sizeof(FIX_REPLY_KINDS) / sizeof(FIX_REPLY_KINDS[0]);
    return FIX_REPLY_KINDS;
}

const fix_reply_kind *fixReplyFindKind(int16_t transcode)
{
    for (const fix_reply_kind &kind : FIX_REPLY_KINDS)
        if (kind.transcode == transcode)
            return &kind;
    return nullptr;
}

bool fixReplyExchangeStampToUtc(const uint8_t *stamp, FIX::UtcTimeStamp *out)
{
    // Signed division truncates toward zero: the fraction of a second is dropped.
    const int64_t seconds = static_cast<int64_t>(get_u64_be(stamp, 0)) / 65536;
    return fixReplyUnixToUtc(seconds + EXCHANGE_EPOCH_UNIX_SECONDS, out);
}

bool fixReplyExchangeSecondsToUtc(uint32_t exchangeSeconds, FIX::UtcTimeStamp *out)
{
    return fixReplyUnixToUtc(static_cast<int64_t>(exchangeSeconds) + EXCHANGE_EPOCH_UNIX_SECONDS, out);
}

void fixReplySetExchangeSeconds(FIX::FieldMap &map, int tag, uint32_t exchangeSeconds)
{
    FIX::UtcTimeStamp time(0, 0, 0, 1, 1, 1970);
    if (fixReplyExchangeSecondsToUtc(exchangeSeconds, &time))
        map.setField(FIX::UtcTimeStampField(tag, time, 0));
}

double fixReplyOrderNumber(const uint8_t *record, uint32_t offset)
{
    const uint64_t bits = get_u64_be(record, offset);
    double value;
    memcpy(&value, &bits, sizeof(value));
    return value;
}

std::string fixReplyOrderIdText(double orderNumber)
{
    // A number that is not finite has no digits; the identifier is then all zeros.
    if (!std::isfinite(orderNumber))
        return std::string(16, '0');
    char scientific[64];
    snprintf(scientific, sizeof(scientific), "%.15e", std::fabs(orderNumber));
    std::string digits;
    for (const char *p = scientific; *p != '\0' && *p != 'e' && digits.size() < 16; ++p)
        if (*p >= '0' && *p <= '9')
            digits += *p;
    digits.resize(16, '0');
    return digits;
}

std::string fixReplyOrderExecId(int16_t transcode, const char *kind, double orderNumber,
                                int32_t clientOrderNumber)
{
    // A double prints up to 309 integer digits; the buffer holds the widest.
    char text[400];
    snprintf(text, sizeof(text), "%.4d%s%016.0f%.10d", static_cast<int>(transcode), kind, orderNumber,
             static_cast<int>(clientOrderNumber));
    return text;
}

std::string fixReplyText(const uint8_t *record, uint32_t offset, uint32_t width)
{
    std::string text;
    for (uint32_t i = 0; i < width; ++i)
    {
        const char c = static_cast<char>(record[offset + i]);
        // SOH would end the FIX field on the wire and corrupt the message: it ends the text too.
        if (c == '\0' || c == '\x01')
            break;
        text += c;
    }
    return text;
}

std::string fixReplyDecimal(int64_t value)
{
    char text[32];
    snprintf(text, sizeof(text), "%lld", static_cast<long long>(value));
    return text;
}

void fixReplySetMaturity(FIX::FieldMap &map, uint32_t expirySeconds)
{
    char yearMonth[16] = {0};
    char day[8] = {0};
    exchange_time_to_ymd_strings(static_cast<int64_t>(expirySeconds), yearMonth, day);
    map.setField(FIX::MaturityMonthYear(yearMonth));
    // Two digits always, which the integer field class would not keep.
    map.setField(FIX::StringField(FIX::FIELD::MaturityDay, day));
}

void fixReplySetText(FIX::FieldMap &map, int tag, const std::string &text)
{
    if (!text.empty())
        map.setField(FIX::StringField(tag, text));
}

char fixReplyOrdType(uint8_t terms)
{
    const bool market = (terms & FIX_TERMS_MARKET) != 0;
    if ((terms & FIX_TERMS_STOP) != 0)
        return market ? '3' : '4';
    return market ? '1' : '2';
}

char fixReplyTimeInForce(uint8_t terms)
{
    if ((terms & FIX_TERMS_GTC) != 0)
        return '1';
    if ((terms & FIX_TERMS_DAY) != 0)
        return '0';
    if ((terms & FIX_TERMS_AT_OPENING) != 0)
        return '2';
    if ((terms & FIX_TERMS_IOC) != 0)
        return '3';
    return '\0';
}

bool fixReplyRestatement(uint8_t code, char *execType, int *reason)
{
    switch (code)
    {
    case 'B':
        *reason = 52;
        break;
    case 'C':
        *reason = 50;
        break;
    case 'M':
        *reason = 51;
        break;
    default:
        return false;
    }
    *execType = 'D';
    return true;
}

void fixReplySetProduct(FIX::FieldMap &map, int tag, const std::string &underlying)
{
    if (underlying == "STK")
        map.setField(FIX::IntField(tag, 5));
    else if (underlying == "IDX")
        map.setField(FIX::IntField(tag, 7));
}

void fixReplySetSide(FIX::FieldMap &map, int tag, int16_t side)
{
    if (side == 1)
        map.setField(FIX::CharField(tag, '1'));
    else if (side == 2)
        map.setField(FIX::CharField(tag, '2'));
}

const fix_option_tags FIX_OPTION_TAGS = {FIX::FIELD::PutOrCall, FIX::FIELD::OptAttribute,
                                         FIX::FIELD::StrikePrice};
const fix_option_tags FIX_LEG_OPTION_TAGS = {FIX42::TAG::LegPutOrCall, FIX::FIELD::LegOptAttribute,
                                             FIX::FIELD::LegStrikePrice};

void fixReplySetOptionFields(FIX::FieldMap &map, const fix_option_tags &tags, uint8_t optionType,
                             uint8_t exerciseStyle, int32_t strike)
{
    if (optionType == 'C')
        map.setField(FIX::IntField(tags.putOrCall, 1));
    else if (optionType == 'P')
        map.setField(FIX::IntField(tags.putOrCall, 0));
    if (exerciseStyle == 'A')
        map.setField(FIX::CharField(tags.optAttribute, 'L'));
    else if (exerciseStyle == 'E')
        map.setField(FIX::CharField(tags.optAttribute, 'S'));
    map.setField(FIX::DoubleField(tags.strikePrice, strike / 100.0));
}

void fixReplySetErrorText(FIX::FieldMap &map, fix_text_rule rule, int16_t errorCode)
{
    if (rule == FIX_TEXT_ALWAYS || (rule == FIX_TEXT_ERROR_ABOVE_ZERO && errorCode > 0))
        map.setField(FIX::Text(fixReplyDecimal(errorCode)));
}

void fixReplySetSendingTime(FIX::Message &fixMessage, const uint8_t *record)
{
    FIX::UtcTimeStamp time(0, 0, 0, 1, 1, 1970);
    if (fixReplyExchangeStampToUtc(record + FIX_REPLY_HEADER_TIME_STAMP, &time))
        fixMessage.getHeader().setField(FIX::OnBehalfOfSendingTime(time, 0));
}

void fixReplySetLocationId(FIX::Message &fixMessage, const uint8_t *record)
{
    const unsigned stream = record[FIX_REPLY_HEADER_STREAM_NUMBER];
    // Streams 0 to 9 are one digit; a higher number is written in decimal rather than as
    // the character after '9' (and never as a control character).
    const std::string text = stream <= 9 ? std::string(1, static_cast<char>('0' + stream))
                                         : fixReplyDecimal(static_cast<int64_t>(stream));
    fixMessage.getHeader().setField(FIX::OnBehalfOfLocationID(text));
}

int32_t fixReplyGetFixMessage(const message *msg, int16_t transcode, int16_t errorCode, FIX::Message **out,
                              logger_object *logger)
{
    *out = nullptr;
    const fix_reply_kind *kind = fixReplyFindKind(transcode);
    const unsigned twsIndex = msg->workstation_index;
    const int32_t handle = msg->workstation_network_handle;
    if (kind == nullptr)
    {
        EA_LOG(
            logger, EA_LEVEL_BUSINESS_ERROR,
            "Discarding Unknown Message from length validation case having transcode [%d] and error code[%d] for nw_handle[%d] and tws_index[%u]",
            transcode, errorCode, handle, twsIndex);
        return EA_VALID;
    }
    if (msg->data_length != kind->length)
    {
        EA_LOG(
            logger, EA_LEVEL_BUSINESS_ERROR,
            "Discarding the Message with transcode [%d] having invalid length [%d] Actual length is [%d] for nw_handle [%d] tws_index [%u]",
            transcode, static_cast<int>(msg->data_length), static_cast<int>(kind->length), handle, twsIndex);
        return EA_VALID;
    }
    const fix_reply_family_ops *ops = fixReplyFamily(kind->family);
    if (ops != nullptr)
        return fixReplyBuild(*ops, fix_reply_input{msg, transcode, errorCode, logger}, out);
    EA_LOG(
        logger, EA_LEVEL_BUSINESS_ERROR,
        "Discarding Unknown Message having transcode [%d]and error code[%d] for nw_handle[%d] and tws_index[%u]",
        transcode, errorCode, handle, twsIndex);
    return EA_VALID;
}

int32_t FixNwInfoClass::fixNwInfoGetFixMessage(message *msg, int16_t transcode, int16_t errorCode,
                                               FIX::Message **fixMessage, logger_object *logger)
{
    return fixReplyGetFixMessage(msg, transcode, errorCode, fixMessage, logger);
}
