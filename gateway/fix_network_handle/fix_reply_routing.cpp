// One exchange reply for a FIX client, as the FIX send thread hands it over: checked to
// belong to the client's current session, then either a step of the session's exchange
// logon (sign-on response, system information reply, journal header, data and trailer),
// a secondary journal download record going back to the user session thread, or any other
// reply converted into a FIX message and sent with the session's network handle.
//
// The method owns the record on every path. It never holds the lock across the engine's
// send or a queue insert: the SessionID and handle are copied under the lock, and the
// engine's handle check catches a session replaced in between.
#include <cstdio>
#include <cstring>
#include <memory>

#include "Session.h"
#include "common/ea_time.h"
#include "gateway/fix_network_handle/fix_nw_info_class.h"
#include "gateway/fix_network_handle/fix_reply_conversion.h"
#include "gateway/fix_network_handle/fix_request_records.h"
#include "gateway/runtime/ea_sync_info.h"
#include "gateway/runtime/logger.h"
#include "gateway/runtime/message.h"
#include "gateway/runtime/shared_queue.h"
#include "gateway/runtime/wire.h"
#include "platform/core/pf_log_file.h"

namespace
{
enum : uint32_t
{
    VRX_HEADER_LENGTH = 40,
    VRX_OFFSET_CHARS = 8,
    VRX_OFFSET_TRANSCODE = 10,
    VRX_OFFSET_ERROR_CODE = 12,

    SIGN_ON_RESPONSE_LONG = 214,
    SIGN_ON_RESPONSE_SHORT = 182,
    SIGN_ON_RESPONSE_PASSWORD = 44,
    SIGN_ON_RESPONSE_NEW_PASSWORD = 52,
    SIGN_ON_RESPONSE_USER_NAME = 60, // 26 characters, tag 6004
    SIGN_ON_RESPONSE_JOURNAL_FLOOR = 160,
    SIGN_ON_RESPONSE_STATUS = 182,        // tag 6002
    SIGN_ON_RESPONSE_USER_CLASS = 186,    // i16, tag 6005
    SIGN_ON_RESPONSE_SECOND_STATUS = 188, // tag 6006
    SIGN_ON_RESPONSE_NAME = 189,          // 25 characters, tag 6003

    SYSTEM_INFO_STREAM_COUNT = 8,
    SYSTEM_INFO_MARKET_STATUS = 40,
    SYSTEM_INFO_MINIMUM_LENGTH = 42,
};

enum : int16_t
{
    TRANSCODE_SIGN_ON_RESPONSE_FIX = 2301,
    TRANSCODE_SYSTEM_INFO_OUT_FIX = 1601,
    TRANSCODE_JOURNAL_HEADER = 7011,
    TRANSCODE_JOURNAL_DATA = 7021,
    TRANSCODE_JOURNAL_TRAILER = 7031,
    TRANSCODE_SECONDARY_JOURNAL = 7003,
};

// A C string of at most `size` characters from a fixed-width field.
std::string fixRecordText(const uint8_t *record, uint32_t offset, uint32_t size)
{
    char text[64] = {0};
    memcpy(text, record + offset, size);
    return text;
}

FIX::Message *fixNwInfoNewLogout(const std::string &text)
{
    FIX42::Logout *logout = new FIX42::Logout();
    logout->set(FIX::Text(text));
    return logout;
}

std::string fixDecimal(long value)
{
    char text[32];
    snprintf(text, sizeof(text), "%ld", value);
    return text;
}
} // namespace

FIX::Message *FixNwInfoClass::fixNwInfoBuildLogonResponse(const FixSessionSlot *slot)
{
    const message *response = slot->user_logon_resp_msg;
    const uint8_t *record = response->data;
    // A short (182-byte) response ends where the optional sign-on fields would begin.
    const bool full = response->data_length >= SIGN_ON_RESPONSE_LONG;
    FIX42::Logon *logon = new FIX42::Logon();
    logon->set(FIX::EncryptMethod(0));
    logon->set(FIX::HeartBtInt(static_cast<int>(slot->heart_beat_interval)));
    const std::string password = fixRecordText(record, SIGN_ON_RESPONSE_PASSWORD, 8);
    logon->setField(FIX::StringField(554, password.empty() ? std::string(" ") : password));
    const std::string newPassword = fixRecordText(record, SIGN_ON_RESPONSE_NEW_PASSWORD, 8);
    if (!newPassword.empty())
        logon->setField(FIX::StringField(925, newPassword));
    const std::string userName = fixRecordText(record, SIGN_ON_RESPONSE_USER_NAME, 26);
    if (!userName.empty())
        logon->setField(FIX::StringField(FIX_TAG_SIGN_ON_USER_NAME, userName));
    if (full)
    {
        const std::string name = fixRecordText(record, SIGN_ON_RESPONSE_NAME, 25);
        if (!name.empty())
            logon->setField(FIX::StringField(FIX_TAG_SIGN_ON_NAME, name));
        const char status = static_cast<char>(record[SIGN_ON_RESPONSE_STATUS]);
        if (strchr("ACDSV", status) != nullptr && status != '\0')
            logon->setField(FIX::CharField(FIX_TAG_SIGN_ON_STATUS, status));
        const char second = static_cast<char>(record[SIGN_ON_RESPONSE_SECOND_STATUS]);
        if (strchr("ADSV", second) != nullptr && second != '\0')
            logon->setField(FIX::CharField(FIX_TAG_SIGN_ON_SECOND_STATUS, second));
        const int16_t userClass = get_i16_be(record, SIGN_ON_RESPONSE_USER_CLASS);
        if (userClass >= 1 && userClass <= 3)
            logon->setField(FIX::CharField(FIX_TAG_SIGN_ON_USER_CLASS, static_cast<char>('0' + userClass)));
    }
    logon->setField(FIX::IntField(FIX_TAG_STREAM_COUNT, static_cast<int>(slot->stream_count)));
    logon->getHeader().setField(FIX::StringField(FIX_TAG_VALID_LOGON, "VALID_LOGON"));
    return logon;
}

FIX::Message *FixNwInfoClass::fixNwInfoBuildTradingSessionStatus(const FixSessionSlot *slot,
                                                                 uint32_t journalValue)
{
    int status = 0;
    switch (slot->market_status)
    {
    case 0:
        status = 4;
        break;
    case 1:
        status = 2;
        break;
    case 2:
        status = 3;
        break;
    case 3:
        status = 7;
        break;
    case 4:
        status = 8;
        break;
    default:
        status = 0;
        break;
    }
    FIX42::TradingSessionStatus *message = new FIX42::TradingSessionStatus();
    message->set(FIX::TradingSessionID(fixDecimal(static_cast<long>(journalValue))));
    message->set(FIX::TradSesStatus(status));
    return message;
}

// The send of step 6: called with the lock held, returns with it released.
int32_t FixNwInfoClass::fixNwInfoSendToClient(ea_sync_guard &lock, message *msg, FIX::Message *fixMessage,
                                              uint16_t slotIndex, logger_object *logger)
{
    FixSessionInfoContainer *c = m_sessionContainer.get();
    FixSessionSlot *slot = &c->slots[slotIndex];
    std::unique_ptr<FIX::Message> owned(fixMessage);
    c->last_send_tick = ea_get_tick_count();
    const uint32_t tick = c->last_send_tick;
    FIX::SessionID *copy = nullptr;
    const int32_t copied = fixNwInfoGetCopyOfSessionId(slot->session_id, &copy, logger);
    const int32_t handle = slot->fix_nw_handle;
    lock.leave();
    if (copied == EA_ERROR)
    {
        setShutdown();
        message_destroy(msg);
        return EA_ERROR;
    }
    if (copied != EA_SUCCESS)
    {
        EA_LOG(logger, EA_LEVEL_CONTINUATION, "fixNwInfoGetCopyOfSessionId failed");
        EA_LOG(logger, EA_LEVEL_BUSINESS_ERROR, "Found exception for session [%s], exception message [%s]",
               "", "Session Id is Invalid");
        message_destroy(msg);
        return EA_VALID;
    }
    std::unique_ptr<FIX::SessionID> ownedCopy(copy);
    bool sent = false;
    try
    {
        FixSendingLogger sending(logger);
        sent = FIX::Session::sendToTarget(*owned, *copy, handle);
    }
    catch (FIX::SessionNotFound &e)
    {
        EA_LOG(logger, EA_LEVEL_EVENT, "Sendtotarget failed for session [%s], nw handle [%d] reason [%s]",
               copy->toString().c_str(), handle, e.what());
        message_destroy(msg);
        return EA_VALID;
    }
    catch (FIX::NwHandleMismatch &e)
    {
        EA_LOG(logger, EA_LEVEL_EVENT, "Sendtotarget failed for session [%s], nw handle [%d] for reason [%s]",
               copy->toString().c_str(), handle, e.what());
        message_destroy(msg);
        return EA_VALID;
    }
    catch (FIX::Exception &e)
    {
        EA_LOG(logger, EA_LEVEL_BUSINESS_ERROR, "Found exception for session [%s], exception message [%s]",
               copy->toString().c_str(), e.what());
        message_destroy(msg);
        return EA_VALID;
    }
    logger_object_binary_log(logger, msg, EA_BINARY_KIND_FIX, EA_RESPONSE_LOG, tick, 1, 0);
    if (!sent)
        fixNwInfoLogUndelivered(msg, *owned, *copy, handle, logger);
    message_destroy(msg);
    return sent ? EA_SUCCESS : EA_VALID;
}

// A reply the engine did not send (its store could not take it, or the session was no
// longer logged on): the order it answers is named, for the client never saw it. Said on
// standard error too, which keeps it while the disk is full (the log is on the same).
void FixNwInfoClass::fixNwInfoLogUndelivered(const message *msg, const FIX::Message &fixMessage,
                                             const FIX::SessionID &sessionId, int32_t handle,
                                             logger_object *logger)
{
    auto field = [&](int tag)
    { return fixMessage.isSetField(tag) ? fixMessage.getField(tag) : std::string(); };
    const std::string type = fixMessage.getHeader().isSetField(FIX::FIELD::MsgType)
                                 ? fixMessage.getHeader().getField(FIX::FIELD::MsgType)
                                 : std::string();
    char text[EA_LOG_LINE_SIZE];
    snprintf(
        text, sizeof text,
        "Reply with transcode [%d] was not delivered to session [%s] with nw handle [%d]: message type [%s] for ClOrdID [%s] order number [%s]",
        msg->transcode, sessionId.toString().c_str(), handle, type.c_str(),
        field(FIX::FIELD::ClOrdID).c_str(), field(FIX::FIELD::OrderID).c_str());
    EA_LOG(logger, EA_LEVEL_BUSINESS_ERROR, "%s", text);
    pf_log_say(text);
}

// A reply of the host that finds its session gone (ended, or another on its slot): the
// order it answers is named as when the engine could not send it, for the client never
// sees it; the journal of its next logon brings it back.
void FixNwInfoClass::fixNwInfoLogUndeliveredAfterEnd(const message *msg, logger_object *logger)
{
    const fix_reply_kind *kind = fixReplyFindKind(msg->transcode);
    if (kind == nullptr || msg->data_length != kind->length)
        return;
    FIX::Message *converted = nullptr;
    try
    {
        fixReplyGetFixMessage(msg, msg->transcode, get_i16_be(msg->data, VRX_OFFSET_ERROR_CODE), &converted,
                              logger);
    }
    catch (std::exception &)
    {
    }
    std::unique_ptr<FIX::Message> owned(converted);
    if (owned == nullptr ||
        (!owned->isSetField(FIX::FIELD::ClOrdID) && !owned->isSetField(FIX::FIELD::OrderID)))
        return;
    auto field = [&](int tag) { return owned->isSetField(tag) ? owned->getField(tag) : std::string(); };
    const std::string type = owned->getHeader().isSetField(FIX::FIELD::MsgType)
                                 ? owned->getHeader().getField(FIX::FIELD::MsgType)
                                 : std::string();
    EA_LOG(
        logger, EA_LEVEL_BUSINESS_ERROR,
        "Reply with transcode [%d] for user [%ld] was not delivered, as its session had ended: message type [%s] for ClOrdID [%s] order number [%s]",
        msg->transcode, static_cast<long>(static_cast<int32_t>(msg->user_id)), type.c_str(),
        field(FIX::FIELD::ClOrdID).c_str(), field(FIX::FIELD::OrderID).c_str());
}

// A reply dropped where it stands: the lock is released first.
static int32_t fixNwInfoDiscard(ea_sync_guard &lock, message *msg)
{
    lock.leave();
    message_destroy(msg);
    return EA_VALID;
}

// The record's length is not the one its transcode needs.
static int32_t fixNwInfoDiscardLength(ea_sync_guard &lock, message *msg, int expected,
                                      const FixSessionSlot *slot, logger_object *logger)
{
    EA_LOG(
        logger, EA_LEVEL_BUSINESS_ERROR,
        "Discarding message with transcode[%d] having invalid length[%d]. Actual length is [%d]for user[%ld] having fix_nw_handle[%d]",
        msg->transcode, msg->data_length, expected, static_cast<long>(static_cast<int32_t>(slot->user_id)),
        slot->fix_nw_handle);
    return fixNwInfoDiscard(lock, msg);
}

// A record kept only in the binary response log, on the tick of the last send.
int32_t FixNwInfoClass::fixNwInfoLogOnly(ea_sync_guard &lock, message *msg, logger_object *logger)
{
    m_sessionContainer->last_send_tick = ea_get_tick_count();
    const uint32_t tick = m_sessionContainer->last_send_tick;
    lock.leave();
    logger_object_binary_log(logger, msg, EA_BINARY_KIND_FIX, EA_RESPONSE_LOG, tick, 1, 0);
    message_destroy(msg);
    return EA_SUCCESS;
}

// A 2301 for the slot: kept, and the system information request goes out. Called with
// the lock held; returns with it released.
int32_t FixNwInfoClass::fixNwInfoHandleSignOnResponse(ea_sync_guard &lock, message *msg, uint16_t slotIndex,
                                                      logger_object *logger)
{
    FixSessionInfoContainer *c = m_sessionContainer.get();
    FixSessionSlot *slot = &c->slots[slotIndex];
    // A second sign-on response would replace (and leak) the first, and answer the
    // client's Logon twice: only the first one of a logon counts.
    if (slot->user_logon_resp_msg != nullptr || slot->state != FIX_SLOT_LOGON_IN_PROGRESS)
    {
        EA_LOG(logger, EA_LEVEL_BUSINESS_ERROR,
               "Discarding repeated logon response for user [%ld] having fix_nw_handle [%d] fix index [%u]",
               static_cast<long>(static_cast<int32_t>(slot->user_id)), slot->fix_nw_handle,
               static_cast<unsigned>(slotIndex));
        lock.leave();
        message_destroy(msg);
        return EA_VALID;
    }
    message *request = create_system_info_request(slot->user_id, logger);
    if (request == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "create_system_info_request return NULL");
        lock.leave();
        message_destroy(msg);
        setShutdown();
        return EA_ERROR;
    }
    slot->user_logon_resp_msg = msg;
    request->user_type = 1;
    request->workstation_index = static_cast<uint16_t>(slotIndex + c->index_base);
    request->workstation_network_handle = slot->fix_nw_handle;
    request->link_index = static_cast<uint16_t>(slot->link_index);
    const long userId = static_cast<long>(static_cast<int32_t>(slot->user_id));
    const int32_t handle = slot->fix_nw_handle;
    const unsigned linkIndex = slot->link_index;
    lock.leave();
    logger_object_binary_log(logger, request, EA_BINARY_KIND_FIX, EA_REQUEST_LOG, 0, 0, 0);
    if (shared_queue_insert_single_element(m_requestQueue, request) != EA_SUCCESS)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "shared_queue_insert_single_element failed");
        message_destroy(request);
        setShutdown();
        return EA_ERROR;
    }
    EA_LOG(
        logger, EA_LEVEL_EVENT,
        "Sending SYSTEM_INFORMATION_IN request for user[%ld] having fix index[%u]fix_nw_handle [%d] link index [%u]to User Session Module",
        userId, static_cast<unsigned>(slotIndex), handle, linkIndex);
    return EA_SUCCESS;
}

// The slot that a reply names, when the reply still belongs to the client's session:
// the index must lie inside the table, the record hold a whole header, and the slot be
// the live session of the reply's handle. Anything else is logged and false.
bool FixNwInfoClass::fixNwInfoReplySlot(const message *msg, uint16_t *slotIndex, logger_object *logger)
{
    FixSessionInfoContainer *c = m_sessionContainer.get();
    const int32_t index = static_cast<int32_t>(msg->workstation_index) - static_cast<int32_t>(c->index_base);
    if (index < 0 || index >= c->max_sessions)
    {
        EA_LOG(
            logger, EA_LEVEL_BUSINESS_ERROR,
            "Received message with invalid tws index [%u]. Maximum tws index is [%u]. Hence discarding the message. ",
            static_cast<unsigned>(index), static_cast<unsigned>(c->max_sessions));
        return false;
    }
    const FixSessionSlot *slot = &c->slots[index];
    // Every reply is read through its VRX header: one without a whole header is dropped.
    if (msg->data_length < VRX_HEADER_LENGTH)
    {
        EA_LOG(
            logger, EA_LEVEL_BUSINESS_ERROR,
            "Discarding message with transcode[%d] having invalid length[%d]. Actual length is [%d]for user[%ld] having fix_nw_handle[%d]",
            msg->transcode, msg->data_length, static_cast<int>(VRX_HEADER_LENGTH),
            static_cast<long>(static_cast<int32_t>(slot->user_id)), slot->fix_nw_handle);
        return false;
    }
    if (slot->fix_nw_handle == -1 || msg->workstation_network_handle != slot->fix_nw_handle ||
        slot->discard == 1 || slot->pending == 1)
    {
        EA_LOG(
            logger, EA_LEVEL_BUSINESS_ERROR,
            "Discarding message having transocde [%d] as Nw Handle is mis matched OR discard/Pending status flag is set. The nw_handle[%d] index[%u] in message and  nw handle [%d] in the client list and Discard flag is[%u] Pending Status flag is[%d].",
            msg->transcode, msg->workstation_network_handle, static_cast<unsigned>(index),
            slot->fix_nw_handle, static_cast<unsigned>(slot->discard), slot->pending);
        return false;
    }
    *slotIndex = static_cast<uint16_t>(index);
    return true;
}

// 2301: kept when accepted (the system information request follows), a Logout otherwise.
int32_t FixNwInfoClass::fixNwInfoOnSignOnResponse(ea_sync_guard &lock, message *msg, uint16_t slotIndex,
                                                  FIX::Message **out, logger_object *logger)
{
    const FixSessionSlot *slot = &m_sessionContainer->slots[slotIndex];
    if (msg->data_length != SIGN_ON_RESPONSE_LONG && msg->data_length != SIGN_ON_RESPONSE_SHORT)
        return fixNwInfoDiscardLength(lock, msg, SIGN_ON_RESPONSE_LONG, slot, logger);
    const int16_t errorCode = get_i16_be(msg->data, VRX_OFFSET_ERROR_CODE);
    EA_LOG(
        logger, EA_LEVEL_EVENT,
        "Received Logon response Trascode for user [%ld] having fix_nw_handle [%d] fix index [%u] with error code[%d]",
        static_cast<long>(static_cast<int32_t>(slot->user_id)), slot->fix_nw_handle,
        static_cast<unsigned>(slotIndex), errorCode);
    if (errorCode == 0)
        return fixNwInfoHandleSignOnResponse(lock, msg, slotIndex, logger);
    *out = fixNwInfoNewLogout(fixDecimal(errorCode));
    return FIX_REPLY_TO_SEND;
}

// 1601: the custom logon response, or a Logout with the exchange's error.
int32_t FixNwInfoClass::fixNwInfoOnSystemInformation(ea_sync_guard &lock, message *msg, uint16_t slotIndex,
                                                     FIX::Message **out, logger_object *logger)
{
    FixSessionSlot *slot = &m_sessionContainer->slots[slotIndex];
    const long userId = static_cast<long>(static_cast<int32_t>(slot->user_id));
    if (slot->user_logon_resp_msg == nullptr)
    {
        EA_LOG(
            logger, EA_LEVEL_BUSINESS_ERROR,
            "Discarding SYSTEM_INFORMATION_OUT message as user logon response message is not received for user [%ld] having fix_nw_handle [%d]",
            userId, slot->fix_nw_handle);
        return fixNwInfoDiscard(lock, msg);
    }
    const int16_t errorCode = get_i16_be(msg->data, VRX_OFFSET_ERROR_CODE);
    EA_LOG(
        logger, EA_LEVEL_EVENT,
        "Received System Information Out Trascode for user[%ld]having fix_nw_handle[%d] fix index [%u] with error code[%d]",
        userId, slot->fix_nw_handle, static_cast<unsigned>(slotIndex), errorCode);
    if (errorCode != 0)
    {
        *out = fixNwInfoNewLogout(fixDecimal(errorCode));
        return FIX_REPLY_TO_SEND;
    }
    if (msg->data_length < SYSTEM_INFO_MINIMUM_LENGTH)
        return fixNwInfoDiscardLength(lock, msg, SYSTEM_INFO_MINIMUM_LENGTH, slot, logger);
    slot->market_status = get_u16_be(msg->data, SYSTEM_INFO_MARKET_STATUS);
    slot->stream_count = msg->data[SYSTEM_INFO_STREAM_COUNT];
    EA_LOG(logger, EA_LEVEL_CONTINUATION,
           "Received the stream count [%d] for user [%ld] having fix_nw_handle [%d] fix index [%u]",
           static_cast<int>(slot->stream_count), userId, slot->fix_nw_handle,
           static_cast<unsigned>(slotIndex));
    // The floor is the 8-byte big-endian time of the stored response (inside both lengths).
    slot->journal_floor_time =
        static_cast<int64_t>(get_u64_be(slot->user_logon_resp_msg->data, SIGN_ON_RESPONSE_JOURNAL_FLOOR));
    *out = fixNwInfoBuildLogonResponse(slot);
    message_destroy(slot->user_logon_resp_msg);
    slot->user_logon_resp_msg = nullptr;
    slot->state = FIX_SLOT_SYSTEM_INFO_AWAITED;
    return FIX_REPLY_TO_SEND;
}

// 7011: kept in the binary log only.
int32_t FixNwInfoClass::fixNwInfoOnJournalHeader(ea_sync_guard &lock, message *msg, uint16_t slotIndex,
                                                 FIX::Message **, logger_object *logger)
{
    const FixSessionSlot *slot = &m_sessionContainer->slots[slotIndex];
    EA_LOG(logger, EA_LEVEL_EVENT,
           "Received Journal Header for user[%ld]having fix_nw_handle[%d] fix index [%u]",
           static_cast<long>(static_cast<int32_t>(slot->user_id)), slot->fix_nw_handle,
           static_cast<unsigned>(slotIndex));
    return fixNwInfoLogOnly(lock, msg, logger);
}

// The result of a conversion that gave no message to send.
int32_t FixNwInfoClass::fixNwInfoConversionEnded(ea_sync_guard &lock, message *msg, FIX::Message *fixMessage,
                                                 int32_t status)
{
    lock.leave();
    delete fixMessage;
    message_destroy(msg);
    if (status == EA_ERROR)
        setShutdown();
    return status == EA_SUCCESS ? EA_VALID : status;
}

// 7021: the inner record converted and resent with PossResend.
int32_t FixNwInfoClass::fixNwInfoOnJournalData(ea_sync_guard &lock, message *msg, uint16_t slotIndex,
                                               FIX::Message **out, logger_object *logger)
{
    if (message_ltrim(msg, VRX_HEADER_LENGTH) == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "message_ltrim retrun NULL");
        fixNwInfoDiscard(lock, msg);
        setShutdown();
        return EA_ERROR;
    }
    if (msg->data_length < VRX_HEADER_LENGTH)
        return fixNwInfoDiscardLength(lock, msg, VRX_HEADER_LENGTH, &m_sessionContainer->slots[slotIndex],
                                      logger);
    const int32_t status = fixNwInfoGetFixMessage(msg, get_i16_be(msg->data, VRX_OFFSET_TRANSCODE),
                                                  get_i16_be(msg->data, VRX_OFFSET_ERROR_CODE), out, logger);
    if (status != EA_SUCCESS || *out == nullptr)
        return fixNwInfoConversionEnded(lock, msg, *out, status);
    (*out)->getHeader().setField(FIX::PossResend(true));
    return FIX_REPLY_TO_SEND;
}

// 7031: one stream finished; after the last, the TradingSessionStatus and trading.
int32_t FixNwInfoClass::fixNwInfoOnJournalTrailer(ea_sync_guard &lock, message *msg, uint16_t slotIndex,
                                                  FIX::Message **out, logger_object *logger)
{
    FixSessionSlot *slot = &m_sessionContainer->slots[slotIndex];
    const long userId = static_cast<long>(static_cast<int32_t>(slot->user_id));
    EA_LOG(
        logger, EA_LEVEL_EVENT,
        "Received Journal Trailer Transcode for stream id [%d], user [%ld] having fix_nw_handle[%d] fix index [%u]",
        static_cast<int>(slot->stream_count), userId, slot->fix_nw_handle, static_cast<unsigned>(slotIndex));
    // A trailer with no stream left to finish is not the download's: it is dropped.
    if (slot->stream_count == 0 || slot->state != FIX_SLOT_JOURNAL_DOWNLOAD)
        return fixNwInfoDiscard(lock, msg);
    if (--slot->stream_count != 0)
        return fixNwInfoLogOnly(lock, msg, logger);
    *out = fixNwInfoBuildTradingSessionStatus(slot, static_cast<uint32_t>(msg->login_count));
    EA_LOG(logger, EA_LEVEL_EVENT,
           "Received Journal Trailer Trascode for user[%ld]having fix_nw_handle[%d]fix index [%u]", userId,
           slot->fix_nw_handle, static_cast<unsigned>(slotIndex));
    slot->state = FIX_SLOT_READY;
    return FIX_REPLY_TO_SEND;
}

// 7003: back to the user session thread.
int32_t FixNwInfoClass::fixNwInfoOnSecondaryJournal(ea_sync_guard &lock, message *msg, uint16_t slotIndex,
                                                    FIX::Message **, logger_object *logger)
{
    const FixSessionSlot *slot = &m_sessionContainer->slots[slotIndex];
    const long userId = static_cast<long>(static_cast<int32_t>(slot->user_id));
    const int32_t handle = slot->fix_nw_handle;
    const unsigned linkIndex = slot->link_index;
    lock.leave();
    const unsigned long sequence = msg->sequence_number;
    EA_LOG(
        logger, EA_LEVEL_EVENT,
        "Received a SECONDARY_JOURNAL_DOWNLOAD message for user [%ld] for tws nw handle [%d], fix session index [%u] over link index [%u], sequence number [%lu]",
        userId, handle, static_cast<unsigned>(slotIndex), linkIndex, sequence);
    msg->user_type = 1;
    EA_LOG(
        logger, EA_LEVEL_EVENT,
        "Sending the SECONDARY_JOURNAL_DOWNLOAD message to user session module for user [%ld] for tws nw handle [%d], fix session index [%u] over link index [%u], sequence number [%lu]",
        userId, handle, static_cast<unsigned>(slotIndex), linkIndex, sequence);
    if (shared_queue_insert_single_element(m_requestQueue, msg) != EA_SUCCESS)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "shared_queue_insert_single_element failed");
        message_destroy(msg);
        return EA_ERROR;
    }
    return EA_VALID;
}

// Any other reply: converted into its FIX message.
int32_t FixNwInfoClass::fixNwInfoOnReply(ea_sync_guard &lock, message *msg, uint16_t, FIX::Message **out,
                                         logger_object *logger)
{
    const int32_t status = fixNwInfoGetFixMessage(msg, msg->transcode,
                                                  get_i16_be(msg->data, VRX_OFFSET_ERROR_CODE), out, logger);
    if (status != EA_SUCCESS || *out == nullptr)
        return fixNwInfoConversionEnded(lock, msg, *out, status);
    return FIX_REPLY_TO_SEND;
}

FixNwInfoClass::FixReplyHandler FixNwInfoClass::fixNwInfoReplyHandler(int16_t transcode)
{
    switch (transcode)
    {
    case TRANSCODE_SIGN_ON_RESPONSE_FIX:
        return &FixNwInfoClass::fixNwInfoOnSignOnResponse;
    case TRANSCODE_SYSTEM_INFO_OUT_FIX:
        return &FixNwInfoClass::fixNwInfoOnSystemInformation;
    case TRANSCODE_JOURNAL_HEADER:
        return &FixNwInfoClass::fixNwInfoOnJournalHeader;
    case TRANSCODE_JOURNAL_DATA:
        return &FixNwInfoClass::fixNwInfoOnJournalData;
    case TRANSCODE_JOURNAL_TRAILER:
        return &FixNwInfoClass::fixNwInfoOnJournalTrailer;
    case TRANSCODE_SECONDARY_JOURNAL:
        return &FixNwInfoClass::fixNwInfoOnSecondaryJournal;
    default:
        return &FixNwInfoClass::fixNwInfoOnReply;
    }
}

int32_t FixNwInfoClass::fixNwInfoSendMesg(message *msg, logger_object *logger)
{
    ea_sync_guard lock(m_lock.get());
    uint16_t slotIndex = 0;
    if (!fixNwInfoReplySlot(msg, &slotIndex, logger))
    {
        fixNwInfoLogUndeliveredAfterEnd(msg, logger);
        return fixNwInfoDiscard(lock, msg);
    }
    FIX::Message *fixMessage = nullptr;
    int32_t status = EA_VALID;
    try
    {
        status = (this->*fixNwInfoReplyHandler(msg->transcode))(lock, msg, slotIndex, &fixMessage, logger);
    }
    catch (FIX::Exception &e)
    {
        const FixSessionSlot *slot = &m_sessionContainer->slots[slotIndex];
        EA_LOG(logger, EA_LEVEL_BUSINESS_ERROR, "Found exception for session [%s], exception message [%s]",
               slot->session_id != nullptr ? slot->session_id->toString().c_str() : "", e.what());
        delete fixMessage;
        return fixNwInfoDiscard(lock, msg);
    }
    catch (std::bad_alloc &)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "Failed to create object of custom_logon_response()");
        delete fixMessage;
        fixNwInfoDiscard(lock, msg);
        setShutdown();
        return EA_ERROR;
    }
    if (status != FIX_REPLY_TO_SEND)
        return status;
    return fixNwInfoSendToClient(lock, msg, fixMessage, slotIndex, logger);
}
