// Conversion of one exchange reply into the FIX message that goes to the client: the
// length check against the reply table, the creation of the family's message, the
// family's fields, and the two header fields that tell the client when and on which
// exchange stream the reply was made. The send thread calls it under the application's
// lock; it reads only its arguments and never keeps the record.
//
// Families whose converters are not in the gateway yet are still recognised, checked
// and dropped with a log line that says they were not converted, so that no reply a FIX
// client should get is ever taken for an unknown one.
#include "gateway/fix_network_handle/fix_reply_conversion.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>

#include "fix42/ExecutionReport.h"
#include "fix42/OrderCancelReject.h"
#include "gateway/fix_network_handle/fix_nw_info_class.h"
#include "gateway/fix_network_handle/fix_request_records.h"
#include "gateway/fix_network_handle/fix_single_order_replies.h"
#include "gateway/library/ea_status.h"
#include "gateway/library/ea_time.h"
#include "gateway/library/logger.h"
#include "gateway/library/message.h"
#include "gateway/library/wire.h"

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

int32_t fixReplyBuildSingleOrder(const message *msg, const fix_reply_kind *kind, int16_t errorCode,
                                 FIX::Message **out, logger_object *logger)
{
    const bool report = kind->family == FIX_REPLY_ORDER_REPORT;
    FIX::Message *built = nullptr;
    try
    {
        if (report)
            built = new (std::nothrow) FIX42::ExecutionReport();
        else
            built = new (std::nothrow) FIX42::OrderCancelReject();
    }
    catch (std::bad_alloc &)
    {
        built = nullptr;
    }
    if (built == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR,
               report ? "Failed to create object of ExecutionReport()"
                      : "Failed to create object of OrderCancelReject()");
        return EA_ERROR;
    }
    try
    {
        if (report)
            fixSingleOrderFillExecutionReport(*built, msg->data, kind->transcode, errorCode);
        else
            fixSingleOrderFillCancelReject(*built, msg->data, kind->transcode, errorCode);
        fixReplySetLocationId(*built, msg->data);
    }
    catch (FIX::Exception &e)
    {
        EA_LOG(logger, EA_LEVEL_BUSINESS_ERROR, "Found Exception :%s", e.what());
        delete built;
        return EA_VALID;
    }
    catch (std::bad_alloc &)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR,
               report ? "Failed to create object of ExecutionReport()"
                      : "Failed to create object of OrderCancelReject()");
        delete built;
        return EA_ERROR;
    }
    *out = built;
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
    switch (kind->family)
    {
    case FIX_REPLY_ORDER_REPORT:
    case FIX_REPLY_ORDER_CANCEL_REJECT:
        return fixReplyBuildSingleOrder(msg, kind, errorCode, out, logger);
    case FIX_REPLY_SPREAD_REPORT:
    case FIX_REPLY_SPREAD_CANCEL_REJECT:
    case FIX_REPLY_TRADE_REPORT:
    case FIX_REPLY_POSITION_REPORT:
    case FIX_REPLY_GIVE_UP_REPORT:
    case FIX_REPLY_NEWS:
        EA_LOG(
            logger, EA_LEVEL_BUSINESS_ERROR,
            "Discarding the Message with transcode [%d] and error code[%d] for nw_handle[%d] and tws_index[%u]: not converted, the gateway has no FIX conversion for this reply yet",
            transcode, errorCode, handle, twsIndex);
        return EA_VALID;
    case FIX_REPLY_NO_FAMILY:
        break;
    }
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
