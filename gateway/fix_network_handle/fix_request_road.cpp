// The road of a FIX request to the user session thread, and the field helpers the request
// handlers share. The record belongs to the road until the queue takes it: every refusal
// frees it here, so a handler never holds a record of its own.
#include "gateway/fix_network_handle/fix_request_road.h"

#include <cstdlib>
#include <cstring>

#include "fix42/BusinessMessageReject.h"
#include "gateway/fix_network_handle/fix_field_checks.h"
#include "gateway/fix_network_handle/fix_nw_info_class.h"
#include "gateway/fix_network_handle/fix_request_records.h"
#include "gateway/runtime/logger.h"
#include "gateway/runtime/message.h"
#include "gateway/runtime/shared_queue.h"
#include "gateway/runtime/wire.h"

const double FIX_REQUEST_LIMIT = 999999999.0;

namespace
{
enum : uint32_t
{
    RECORD_TRANSCODE = 10,
};
} // namespace

bool fixRequestBuild(const FixRequestRoad &road, const FIX::SessionID &sessionId, message *record,
                     const FixRecordBuilder &builder, int *rejectReason, std::string *rejectText)
{
    *rejectReason = -1;
    try
    {
        memset(record->data, 0, record->data_length);
        return builder(record->data, road.container->slots[road.slotIndex]) == EA_SUCCESS;
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

FixRequestOutcome fixRequestSend(const FixRequestRoad &road, uint32_t length, const char *creationFailed,
                                 const FIX::Message &request, const FIX::SessionID &sessionId,
                                 const FixRecordBuilder &builder, int32_t *sentHandle)
{
    FIX::MsgType msgType;
    FIX::MsgSeqNum msgSeqNum;
    request.getHeader().getFieldIfSet(msgType);
    request.getHeader().getFieldIfSet(msgSeqNum);
    message *order_message = message_create(length, NORMAL_MESSAGE);
    if (order_message == nullptr)
    {
        EA_LOG(road.logger, EA_LEVEL_SYSTEM_ERROR, "%s", creationFailed);
        return FIX_REQUEST_FATAL;
    }
    const FixSessionSlot *slot = &road.container->slots[road.slotIndex];
    order_message->user_type = 1;
    order_message->workstation_index = static_cast<uint16_t>(road.slotIndex + road.container->index_base);
    order_message->link_index = static_cast<uint16_t>(slot->link_index);
    order_message->workstation_network_handle = slot->fix_nw_handle;
    order_message->user_id = slot->user_id;

    int reason = -1;
    std::string text;
    if (!fixRequestBuild(road, sessionId, order_message, builder, &reason, &text))
    {
        EA_FREE_CHECKED(order_message, message_destroy, "order_message");
        if (reason >= 0)
            road.app->fixNwInfoSendBusinessReject(sessionId, msgType, msgSeqNum, FIX::Text(text),
                                                  FIX::BusinessRejectReason(reason));
        return FIX_REQUEST_REFUSED;
    }
    order_message->transcode = get_i16_be(order_message->data, RECORD_TRANSCODE);
    road.container->fixSessionInfoContainerStampMessage(road.logger, order_message, EA_BINARY_KIND_FIX,
                                                        EA_REQUEST_LOG, 0, 0, 0);
    const int32_t handle = order_message->workstation_network_handle;
    if (shared_queue_insert_single_element(road.requestQueue, order_message) != EA_SUCCESS)
    {
        EA_LOG(road.logger, EA_LEVEL_SYSTEM_ERROR, "shared_queue_insert_single_element failed");
        EA_FREE_CHECKED(order_message, message_destroy, "order_message");
        return FIX_REQUEST_FATAL;
    }
    *sentHandle = handle;
    return FIX_REQUEST_SENT;
}

void FixNwInfoClass::fixNwInfoTakeRequest(const FixRequestTexts &texts, const FIX::Message &request,
                                          const FIX::SessionID &sessionId, uint32_t length,
                                          const FixRecordBuilder &builder)
{
    if (texts.testsShutdown && shuttingDown())
        return;
// Each format is one of the handlers' literals, whose arguments this function gives.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    if (m_currentSessionIndex >= m_sessionContainer->max_sessions)
    {
        logger_object_log_message(
            logger_object_set_context(m_logger, EA_LEVEL_EVENT, "onMessage", texts.file, texts.line),
            texts.noSession, sessionId.toString().c_str());
        fixNwInfoLogoutTheUser(sessionId, FIX::Text("Session Not Found"));
        return;
    }
    int32_t handle = -1;
    switch (fixRequestSend(fixNwInfoRequestRoad(), length, texts.creationFailed, request, sessionId, builder,
                           &handle))
    {
    case FIX_REQUEST_SENT:
        logger_object_log_message(
            logger_object_set_context(m_logger, EA_LEVEL_ACTIVITY, "onMessage", texts.file, texts.line),
            texts.sent, static_cast<int>(m_currentSessionIndex), handle);
        break;
    case FIX_REQUEST_FATAL:
        setShutdown();
        break;
    case FIX_REQUEST_REFUSED:
        break;
    }
#pragma GCC diagnostic pop
}

void fixPutText(uint8_t *record, uint32_t offset, const char *text, size_t length)
{
    memcpy(record + offset, text, length);
}

void fixPutBlanks(uint8_t *record, uint32_t offset, size_t length)
{
    memset(record + offset, ' ', length);
}

void fixPutDoubleBe(uint8_t *record, uint32_t offset, double value)
{
    uint64_t bits = 0;
    memcpy(&bits, &value, sizeof(bits));
    put_u64_be(record, offset, bits);
}

int32_t fixTruncateToInt32(double value, int tag)
{
    if (!(value > -2147483649.0 && value < 2147483648.0))
        throw fixInvalidValueException(tag);
    return static_cast<int32_t>(value);
}

int32_t fixHundredths(double value, int tag)
{
    int64_t converted = 0;
    fixNwInfoConvertDoubleToLong(value, &converted, 2, 100, tag);
    return fixNarrowToInt32(converted, tag);
}

std::string fixStringOf(const FIX::FieldMap &map, int tag)
{
    FIX::StringField field(tag);
    map.getField(field);
    return field.getValue();
}

const char *fixProductText(int product)
{
    if (product == 5)
        return "STK";
    if (product == 7)
        return "IDX";
    return nullptr;
}

int32_t fixIdentifierAbove(const std::string &text, int64_t low, int tag)
{
    const int64_t number = fixTextToInt64(text.c_str());
    fixValidateGreater(number, low, tag);
    return fixNarrowToInt32(number, tag);
}

int32_t fixIdentifierBelow(const std::string &text, int64_t bound, int tag)
{
    const int64_t number = fixTextToInt64(text.c_str());
    fixValidateLess(number, bound, tag);
    return fixNarrowToInt32(number, tag);
}

void fixPutNumberAsDouble(uint8_t *record, uint32_t offset, const std::string &text)
{
    fixPutDoubleBe(record, offset, atof(text.c_str()));
}

uint32_t fixExchangeSecondsOfText(const std::string &text)
{
    // Unsigned arithmetic: a text that does not parse stores -315513000 as the exchange does.
    return fix_time_to_unix(text.c_str()) - EXCHANGE_EPOCH_UNIX_SECONDS;
}
