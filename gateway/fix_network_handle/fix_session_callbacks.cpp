// The engine's callbacks into the FIX application and the client's Logon: which FIX
// clients become exchange users. A Logon is checked, the SenderCompID gives the exchange
// identity, a slot of the session table is taken with the sign-on request kept in it, and
// the box communication thread is asked to admit the connection. The engine holds its own
// Logon answer; the client gets the gateway's once the exchange has accepted the user.
// fromApp admits each application message only in the slot's right state.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "FieldConvertors.h"
#include "Session.h"
#include "gateway/fix_network_handle/fix_field_checks.h"
#include "gateway/fix_network_handle/fix_nw_info_class.h"
#include "gateway/fix_network_handle/fix_request_records.h"
#include "gateway/runtime/ea_sync_info.h"
#include "gateway/runtime/log_write_events.h"
#include "gateway/runtime/logger.h"
#include "gateway/runtime/message.h"
#include "gateway/runtime/shared_queue.h"
#include "platform/core/pf_log_file.h"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated"

namespace
{
enum
{
    FIX_LOGON_HEART_BEAT = 30,
    FIX_PASSWORD_SIZE = 8,
    FIX_TAG_PASSWORD = 554,
    FIX_TAG_NEW_PASSWORD = 925,
};
} // namespace

void FixNwInfoClass::onCreate(const FIX::SessionID &sessionId)
{
    try
    {
        if (sessionId.getSenderCompID().getString() == FIX_DUMMY_SENDER_COMP_ID)
        {
            EA_LOG(m_logger, EA_LEVEL_EVENT,
                   "No FIX session defined in the config file. Hence created the dummy session [%s]",
                   FIX_DUMMY_SENDER_COMP_ID.c_str());
            return;
        }
        FIX::Session *session = FIX::Session::lookupSession(sessionId);
        if (session == nullptr)
        {
            EA_LOG(m_logger, EA_LEVEL_SYSTEM_ERROR, "lookupSession returns NULL for session id[%s]",
                   sessionId.toString().c_str());
            return;
        }
        session->m_nwHandle = -1;
        if (m_fixLoggerObject->count >= m_maxSessions)
        {
            EA_LOG(
                m_logger, EA_LEVEL_BUSINESS_ERROR,
                "Surely config files changed manually as the Maximum session creation limit  [%d] has reached. Hence newsession id is [%s] not added into logger object",
                m_maxSessions, sessionId.toString().c_str());
            return;
        }
        FIX::SessionID *copy = nullptr;
        const int32_t status = fixNwInfoGetCopyOfSessionId(&sessionId, &copy, m_logger);
        if (status == EA_SUCCESS)
        {
            m_fixLoggerObject->session_id_array[m_fixLoggerObject->count++] = copy;
            EA_LOG(m_logger, EA_LEVEL_EVENT, "Session created for session id [%s]",
                   sessionId.toString().c_str());
        }
        else if (status == EA_ERROR)
        {
            EA_LOG(m_logger, EA_LEVEL_CONTINUATION, "fixNwInfoGetCopyOfSessionId failed");
            setShutdown();
        }
    }
    catch (FIX::Exception &e)
    {
        EA_LOG(m_logger, EA_LEVEL_SYSTEM_ERROR, "Found Exception [%s] for session id[%s]", e.what(),
               sessionId.toString().c_str());
    }
}

void FixNwInfoClass::onLogon(const FIX::SessionID &) {}

// Nothing is added: a Logon the engine builds itself stays unmarked, so it is held.
void FixNwInfoClass::toAdmin(FIX::Message &, const FIX::SessionID &) {}

void FixNwInfoClass::toApp(FIX::Message &, const FIX::SessionID &) throw(FIX::DoNotSend) {}

void FixNwInfoClass::fromAdmin(const FIX::Message &message, const FIX::SessionID &sessionId) throw(
    FIX::FieldNotFound, FIX::IncorrectDataFormat, FIX::IncorrectTagValue, FIX::RejectLogon)
{
    if (shuttingDown())
        return;
    std::vector<FixDeferredSend> sends;
    {
        ea_sync_guard lock(m_lock.get());
        ++m_deferDepth;
        try
        {
            crack(message, sessionId);
        }
        catch (FIX::Exception &e)
        {
            EA_LOG(m_logger, EA_LEVEL_BUSINESS_ERROR,
                   "Found exception for session [%s], exception message [%s]", sessionId.toString().c_str(),
                   e.what());
        }
        if (--m_deferDepth == 0)
            sends.swap(m_deferred);
    }
    fixNwInfoFlushDeferredSends(sends);
}

// The admission test's answer for one application message: cracked, or refused with the
// reject that says why.
void FixNwInfoClass::fixNwInfoGate(int32_t status, const FIX::Message &message,
                                   const FIX::SessionID &sessionId)
{
    FIX::MsgType msgType;
    FIX::MsgSeqNum msgSeqNum;
    message.getHeader().getField(msgType);
    message.getHeader().getField(msgSeqNum);
    const std::string id = sessionId.toString();
    switch (status)
    {
    case EA_SUCCESS:
        crack(message, sessionId);
        break;
    case EA_DISCARD:
        EA_LOG(
            m_logger, EA_LEVEL_ACTIVITY,
            "fixNwInfoProcessSession return EA_DISCARD for Session id [%s] in fix_client_list.Hence discarding the message of type[%s] ",
            id.c_str(), msgType.getValue().c_str());
        fixNwInfoSendBusinessReject(sessionId, msgType, msgSeqNum,
                                    FIX::Text("System is not ready to accept requests."),
                                    FIX::BusinessRejectReason(4));
        break;
    case EA_NOT_FOUND:
        EA_LOG(m_logger, EA_LEVEL_EVENT,
               " Session id [%s] not found in fix client list.Hence discarding the message of type [%s]",
               id.c_str(), msgType.getValue().c_str());
        fixNwInfoSendBusinessReject(sessionId, msgType, msgSeqNum, FIX::Text("Session Not Found"),
                                    FIX::BusinessRejectReason(0));
        break;
    case -4:
        EA_LOG(
            m_logger, EA_LEVEL_EVENT,
            "Journal Download in progress for Session id [%s] in fix client list.Hence discarding the message of type[%s] ",
            id.c_str(), msgType.getValue().c_str());
        fixNwInfoSendBusinessReject(sessionId, msgType, msgSeqNum, FIX::Text("Journal Download In Progress"),
                                    FIX::BusinessRejectReason(0));
        break;
    case -6:
        EA_LOG(
            m_logger, EA_LEVEL_EVENT,
            "user logon is in progress for Session id [%s] in fix client list.Hence discarding the message of type[%s] ",
            id.c_str(), msgType.getValue().c_str());
        fixNwInfoSendBusinessReject(sessionId, msgType, msgSeqNum, FIX::Text("User Logon is in Progress"),
                                    FIX::BusinessRejectReason(0));
        break;
    case -5:
        if (msgType.getValue() == FIX::MsgType_TradingSessionStatusRequest)
        {
            crack(message, sessionId);
            break;
        }
        EA_LOG(
            m_logger, EA_LEVEL_EVENT,
            "Expecting System Information In message for Session id [%s]Hence discarding the message of type[%s] ",
            id.c_str(), msgType.getValue().c_str());
        fixNwInfoSendBusinessReject(sessionId, msgType, msgSeqNum,
                                    FIX::Text("Message type Invalid, Expecting System Information In(35=g)"),
                                    FIX::BusinessRejectReason(0));
        break;
    default:
        EA_LOG(
            m_logger, EA_LEVEL_EVENT,
            "Unknown return status[%d] by fixNwInfoProcessSession() Hence discarding the message of type[%s] ",
            status, msgType.getValue().c_str());
        break;
    }
}

void FixNwInfoClass::fromApp(const FIX::Message &message, const FIX::SessionID &sessionId) throw(
    FIX::FieldNotFound, FIX::IncorrectDataFormat, FIX::IncorrectTagValue, FIX::UnsupportedMessageType)
{
    if (shuttingDown())
        return;
    std::vector<FixDeferredSend> sends;
    bool unsupported = false;
    {
        ea_sync_guard lock(m_lock.get());
        ++m_deferDepth;
        try
        {
            m_currentSessionIndex = FIX_NO_SESSION_INDEX;
            // A message without its MsgType or MsgSeqNum is not admitted at all.
            message.getHeader().getField(FIX::FIELD::MsgType);
            message.getHeader().getField(FIX::FIELD::MsgSeqNum);
            uint16_t index = FIX_NO_SESSION_INDEX;
            const int32_t status = fixNwInfoProcessSession(sessionId, &index, m_logger);
            if (status == EA_SUCCESS || status == -5)
                m_currentSessionIndex = index;
            fixNwInfoGate(status, message, sessionId);
        }
        catch (FIX::UnsupportedMessageType &)
        {
            // Left to the engine, which answers the client with its own rejection.
            unsupported = true;
        }
        catch (FIX::Exception &e)
        {
            EA_LOG(m_logger, EA_LEVEL_BUSINESS_ERROR,
                   "Found exception for session [%s], exception message [%s]", sessionId.toString().c_str(),
                   e.what());
        }
        m_currentSessionIndex = FIX_NO_SESSION_INDEX;
        if (--m_deferDepth == 0)
            sends.swap(m_deferred);
    }
    fixNwInfoFlushDeferredSends(sends);
    if (unsupported)
        throw FIX::UnsupportedMessageType();
}

void FixNwInfoClass::fixNwInfoSendConsoleEvent(uint16_t reasonCode)
{
    message *event = message_create(0, KOVA_MESSAGE);
    if (event == nullptr)
    {
        EA_LOG(m_logger, EA_LEVEL_SYSTEM_ERROR, "Message creation failed.");
        setShutdown();
        return;
    }
    event->reason_code = reasonCode;
    EA_LOG(m_logger, EA_LEVEL_EVENT, "Sent KOVA_MESSAGE to Interface Thread with reason code [%d].",
           reasonCode);
    if (shared_queue_insert_single_element(m_consoleQueue, event) != EA_SUCCESS)
    {
        EA_LOG(m_logger, EA_LEVEL_SYSTEM_ERROR, "insertion to shared queue failed.");
        message_destroy(event);
        setShutdown();
    }
}

void FixNwInfoClass::onMessage(const FIX42::Logon &logon, const FIX::SessionID &sessionId)
{
    fixNwInfoLogonHandler(logon, sessionId);
}

// What a client's Logon gives the gateway, read and checked in this order.
struct FixLogonFields
{
    int32_t traderId;
    int16_t branchId;
    char memberId[FIX_MEMBER_ID_LENGTH];
    int heartBeat;
    int32_t frontEndVersion;
    char password[FIX_PASSWORD_SIZE];
    char newPassword[FIX_PASSWORD_SIZE];
};

namespace
{
// Throws FIX::FieldNotFound or LogException with the text the client is logged out with.
void fixReadLogonFields(const FIX42::Logon &logon, FixLogonFields *f, logger_object *logger)
{
    FIX::SenderCompID senderCompId;
    logon.getHeader().getField(senderCompId);
    f->traderId = -1;
    f->branchId = -1;
    memset(f->memberId, ' ', sizeof(f->memberId));
    fixTokenizeSenderCompId(senderCompId.getValue(), &f->traderId, f->memberId, &f->branchId);

    FIX::HeartBtInt heartBtInt;
    logon.get(heartBtInt);
    fixValidateEqual(static_cast<int>(heartBtInt.getValue()), static_cast<int>(FIX_LOGON_HEART_BEAT),
                     FIX::FIELD::HeartBtInt);
    f->heartBeat = heartBtInt.getValue();
    if (logon.isSetField(FIX::FIELD::ResetSeqNumFlag))
    {
        FIX::ResetSeqNumFlag reset;
        logon.get(reset);
        if (!reset.getValue())
            throw LogException("ResetSeqNumFlag is Invalid");
    }
    FIX::EncryptMethod encryptMethod;
    logon.get(encryptMethod);
    fixValidateEqual(static_cast<int>(encryptMethod.getValue()), 0, FIX::FIELD::EncryptMethod);
    FIX::RawDataLength rawDataLength;
    logon.get(rawDataLength);
    fixValidateRange(static_cast<int>(rawDataLength.getValue()), 4, 8, FIX::FIELD::RawDataLength);
    FIX::RawData rawData;
    logon.get(rawData);
    try
    {
        f->frontEndVersion = FIX::IntConvertor::convert(rawData.getValue());
    }
    catch (FIX::FieldConvertError &e)
    {
        EA_LOG(logger, EA_LEVEL_EVENT, "FIX::IntConvertor throw exception[%s]", e.what());
        throw LogException("Front End Version is Invalid");
    }
    memset(f->password, ' ', sizeof(f->password));
    fix_copy_string_field(FIX::StringField(FIX_TAG_PASSWORD, logon.getField(FIX_TAG_PASSWORD)), f->password,
                          sizeof(f->password), FIX_TAG_PASSWORD);
    memset(f->newPassword, ' ', sizeof(f->newPassword));
    if (logon.isSetField(FIX_TAG_NEW_PASSWORD))
        fix_copy_string_field(FIX::StringField(FIX_TAG_NEW_PASSWORD, logon.getField(FIX_TAG_NEW_PASSWORD)),
                              f->newPassword, sizeof(f->newPassword), FIX_TAG_NEW_PASSWORD);
}
} // namespace

// A Logon for a session that already has a slot: a duplicate, or one whose previous
// session is still being taken down. False when the session has no slot.
bool FixNwInfoClass::fixNwInfoRefuseKnownSession(const FIX42::Logon &logon, const FIX::SessionID &sessionId)
{
    FixSessionInfoContainer *c = m_sessionContainer.get();
    uint16_t existing = 0;
    if (c->fixSessionInfoContainerGetIndex(SESSION_ID_KEY, &sessionId, 0, &existing, m_logger) != EA_SUCCESS)
        return false;
    FixSessionSlot *slot = &c->slots[existing];
    if (slot->discard == 1)
    {
        EA_LOG(m_logger, EA_LEVEL_EVENT,
               "Rejected new connection for session id [%s] as logoff of previous session is in progress",
               sessionId.toString().c_str());
        fixNwInfoLogoutTheUser(sessionId, FIX::Text("Duplicate Session"));
        fixNwInfoSendConsoleEvent(FIX_REASON_DUPLICATE_LOGOFF_PENDING);
        return true;
    }
    FIX::MsgSeqNum msgSeqNum;
    FIX::MsgType msgType;
    logon.getHeader().getField(msgSeqNum);
    logon.getHeader().getField(msgType);
    EA_LOG(
        m_logger, EA_LEVEL_BUSINESS_ERROR,
        "Received Duplicate logon requet for session index [%u], nw handle [%d] hence not processing the request",
        static_cast<unsigned>(existing), slot->fix_nw_handle);
    fixNwInfoSendAdminReject(sessionId, msgType, msgSeqNum, FIX::Text("This is duplicate login message."));
    return true;
}

// The table has no free slot: the client is logged out. False when it has one.
bool FixNwInfoClass::fixNwInfoRefuseFullTable(const FIX::SessionID &sessionId)
{
    FixSessionInfoContainer *c = m_sessionContainer.get();
    if (c->valid_client_count < c->max_sessions)
        return false;
    EA_LOG(m_logger, EA_LEVEL_EVENT,
           "Rejected connection from session id [%s] as max connections [%d] was exceeded",
           sessionId.toString().c_str(), c->max_sessions);
    fixNwInfoLogoutTheUser(sessionId, FIX::Text("Max Number of connection exceeds"));
    fixNwInfoSendConsoleEvent(FIX_REASON_TABLE_FULL);
    return true;
}

// The box communication thread is told of the new client; a failure stops the gateway.
void FixNwInfoClass::fixNwInfoNotifyBoxOfClient(const FIX::SessionID &sessionId)
{
    message *notification = message_create(0, INCOMING_CLIENT_CONNECTION);
    if (notification == nullptr)
    {
        EA_LOG(m_logger, EA_LEVEL_SYSTEM_ERROR, "message_create failed");
        setShutdown();
        return;
    }
    notification->user_type = 1;
    if (shared_queue_insert_single_element(m_notificationQueue, notification) != EA_SUCCESS)
    {
        EA_LOG(m_logger, EA_LEVEL_SYSTEM_ERROR, "shared_queue_insert_single_element failed");
        message_destroy(notification);
        setShutdown();
        return;
    }
    EA_LOG(m_logger, EA_LEVEL_EVENT,
           "Sent INCOMING_CLIENT_CONNECTIONnotification to Box Communication Module for session id [%s].",
           sessionId.toString().c_str());
}

// A slot for the checked Logon, holding its sign-on request until the box admits the
// client. Throws LogException when the SessionID cannot be copied.
void FixNwInfoClass::fixNwInfoTakeSlot(const FIX::SessionID &sessionId, const FixLogonFields &f)
{
    FixSessionInfoContainer *c = m_sessionContainer.get();
    FIX::SessionID *copied = nullptr;
    const int32_t status = fixNwInfoGetCopyOfSessionId(&sessionId, &copied, m_logger);
    std::unique_ptr<FIX::SessionID> copy(copied);
    if (status != EA_SUCCESS)
    {
        EA_LOG(m_logger, EA_LEVEL_CONTINUATION, "fixNwInfoGetCopyOfSessionId failed");
        if (status == EA_ERROR)
        {
            setShutdown();
            return;
        }
        throw LogException("Session Id is Invalid");
    }
    message *signOn =
        create_user_signon_request(static_cast<uint32_t>(f.traderId), f.password, f.newPassword, f.memberId,
                                   static_cast<uint32_t>(f.frontEndVersion), m_logger);
    if (signOn == nullptr)
    {
        EA_LOG(m_logger, EA_LEVEL_SYSTEM_ERROR, "create_user_signon_request failed");
        setShutdown();
        return;
    }
    int32_t handle = -1;
    uint16_t slotIndex = 0;
    if (c->fixSessionInfoContainerAddSession(copy.get(), &handle, &slotIndex, m_logger) != EA_SUCCESS)
    {
        fixNwInfoLogoutTheUser(sessionId, FIX::Text("Max Number of connection exceeds"));
        EA_LOG(m_logger, EA_LEVEL_EVENT,
               "Rejected connection from session id [%s] as max connections [%d] was exceeded",
               sessionId.toString().c_str(), c->max_sessions);
        message_destroy(signOn);
        return;
    }
    copy.release(); // the slot owns it now
    signOn->workstation_index = static_cast<uint16_t>(slotIndex + c->index_base);
    signOn->workstation_network_handle = handle;
    signOn->user_type = 1;
    FixSessionSlot *slot = &c->slots[slotIndex];
    slot->user_logon_msg = signOn;
    slot->fix_nw_handle = handle;
    slot->pending = 1;
    slot->user_id = static_cast<uint32_t>(f.traderId);
    slot->discard = 0;
    slot->branch_id = static_cast<uint16_t>(f.branchId);
    memcpy(slot->member_id, f.memberId, sizeof(slot->member_id));
    slot->state = FIX_SLOT_LOGON_IN_PROGRESS;
    slot->heart_beat_interval = static_cast<uint32_t>(f.heartBeat);
    fixNwInfoNotifyBoxOfClient(sessionId);
}

void FixNwInfoClass::fixNwInfoLogonHandler(const FIX42::Logon &logon, const FIX::SessionID &sessionId)
{
    try
    {
        if (fixNwInfoRefuseKnownSession(logon, sessionId) || fixNwInfoRefuseFullTable(sessionId))
            return;
        FixLogonFields fields;
        fixReadLogonFields(logon, &fields, m_logger);
        fixNwInfoTakeSlot(sessionId, fields);
    }
    catch (FIX::FieldNotFound &e)
    {
        fixNwInfoLogoutTheUser(sessionId, FIX::Text(fixFieldNotFoundText(e)));
        fixNwInfoSendConsoleEvent(FIX_REASON_INVALID_LOGON_FIELD);
    }
    catch (LogException &e)
    {
        fixNwInfoLogoutTheUser(sessionId, FIX::Text(e.what()));
        fixNwInfoSendConsoleEvent(FIX_REASON_INVALID_LOGON_FIELD);
    }
    catch (FIX::Exception &e)
    {
        EA_LOG(m_logger, EA_LEVEL_BUSINESS_ERROR, "Found exception for session [%s], exception message [%s]",
               sessionId.toString().c_str(), e.what());
    }
}

// A session that ends before the box admitted it: only the console hears of it.
void FixNwInfoClass::fixNwInfoEndPendingSession(ea_sync_guard &lock, uint16_t index,
                                                const FIX::SessionID &sessionId)
{
    FixSessionInfoContainer *c = m_sessionContainer.get();
    FixSessionSlot *slot = &c->slots[index];
    FIX::Session *session = FIX::Session::lookupSession(sessionId);
    if (session != nullptr)
        session->m_nwHandle = -1;
    else
        EA_LOG(m_logger, EA_LEVEL_SYSTEM_ERROR, "lookupSession() : Session id[%s] Not Found",
               sessionId.toString().c_str());
    message *event = message_create(0, KOVA_MESSAGE);
    if (event == nullptr)
    {
        EA_LOG(m_logger, EA_LEVEL_SYSTEM_ERROR, "Message creation failed.");
        c->fixSessionInfoContainerCleanupSession(index, m_logger);
        lock.leave();
        setShutdown();
        return;
    }
    event->reason_code = FIX_REASON_SESSION_ENDED;
    event->user_id = slot->user_id;
    EA_LOG(m_logger, EA_LEVEL_EVENT,
           "Sent KOVA_MESSAGE for user id [%ld] to Interface Thread with reasoncode [%d].",
           static_cast<long>(static_cast<int32_t>(slot->user_id)), FIX_REASON_SESSION_ENDED);
    c->fixSessionInfoContainerCleanupSession(index, m_logger);
    lock.leave();
    if (shared_queue_insert_single_element(m_consoleQueue, event) != EA_SUCCESS)
    {
        EA_LOG(m_logger, EA_LEVEL_SYSTEM_ERROR, "insertion to shared queue failed.");
        message_destroy(event);
        setShutdown();
    }
}

// A session of a user signed on at the exchange: the user session thread logs it off.
void FixNwInfoClass::fixNwInfoEndLiveSession(ea_sync_guard &lock, uint16_t index,
                                             const FIX::SessionID &sessionId)
{
    FixSessionInfoContainer *c = m_sessionContainer.get();
    FixSessionSlot *slot = &c->slots[index];
    message *notification = message_create(0, CLIENT_DISCONNECTED);
    if (notification == nullptr)
    {
        EA_LOG(m_logger, EA_LEVEL_SYSTEM_ERROR, "Message creation failed.");
        lock.leave();
        setShutdown();
        return;
    }
    notification->user_type = 1;
    notification->workstation_network_handle = slot->fix_nw_handle;
    slot->discard = 1;
    FIX::Session *session = FIX::Session::lookupSession(sessionId);
    if (session != nullptr)
        session->m_nwHandle = -1;
    else
        EA_LOG(m_logger, EA_LEVEL_SYSTEM_ERROR, "lookupSession() : Session id [%s] Not Found",
               sessionId.toString().c_str());
    notification->reason_code =
        slot->reason_code != 0 ? slot->reason_code : static_cast<uint16_t>(FIX_REASON_SESSION_ENDED);
    notification->event_value = slot->reason_code != 0 ? slot->reason_value : -1;
    notification->user_id = slot->user_id;
    notification->workstation_index = static_cast<uint16_t>(index + c->index_base);
    notification->link_index = static_cast<uint16_t>(slot->link_index);
    lock.leave();
    EA_LOG(
        m_logger, EA_LEVEL_EVENT,
        "Sent CLIENT_DISCONNECTED notification for fix nw handle [%d] and fix session index [%u].reason code [%d]",
        notification->workstation_network_handle, static_cast<unsigned>(notification->workstation_index),
        notification->reason_code);
    if (shared_queue_insert_single_element(m_requestQueue, notification) != EA_SUCCESS)
    {
        EA_LOG(m_logger, EA_LEVEL_SYSTEM_ERROR, "shared_queue_insert_single_element() failed");
        message_destroy(notification);
        setShutdown();
    }
}

// The engine disconnects next a client that takes nothing of what is sent to it; the
// session then ends as any other, with the reason it ends for. The console's one text for
// that reason speaks of too many responses pending; a client that took nothing for the
// heartbeat interval is told apart by the seconds as the event's extra info.
void FixNwInfoClass::onOutputHeld(const FIX::SessionID &sessionId, const std::string &reason)
{
    if (shuttingDown())
        return;
    ea_sync_guard lock(m_lock.get());
    uint16_t index = 0;
    if (m_sessionContainer->fixSessionInfoContainerGetIndex(SESSION_ID_KEY, &sessionId, 0, &index,
                                                            m_logger) != EA_SUCCESS)
        return;
    FixSessionSlot *slot = &m_sessionContainer->slots[index];
    slot->reason_code = FIX_REASON_OUTPUT_HELD;
    slot->reason_value =
        reason.compare(0, strlen(FIX_HELD_OUTPUT_TIME_REASON), FIX_HELD_OUTPUT_TIME_REASON) == 0
            ? FIX_HELD_OUTPUT_SECONDS
            : -1;
    EA_LOG(
        m_logger, EA_LEVEL_EVENT,
        "Disconnecting the client of session id [%s] with fix nw handle [%d] and fix index [%u] as its output is held: [%s]",
        sessionId.toString().c_str(), slot->fix_nw_handle,
        static_cast<unsigned>(index + m_sessionContainer->index_base), reason.c_str());
}

namespace
{
thread_local logger_object *t_sendingLogger = nullptr;
} // namespace

FixSendingLogger::FixSendingLogger(logger_object *logger) : m_previous(t_sendingLogger)
{
    t_sendingLogger = logger;
}

FixSendingLogger::~FixSendingLogger()
{
    t_sendingLogger = m_previous;
}

logger_object *FixSendingLogger::current(logger_object *otherwise)
{
    return t_sendingLogger != nullptr ? t_sendingLogger : otherwise;
}

// The engine could not store a message of the session, so neither sent nor numbered it,
// and logs the session out with a Logout that says why; the session then ends as any
// other. Said in the log of the thread that sent it, on standard error beside the
// failing logs (kept there until it can be written), and to the console as 13004 with the
// session's user and the error number.
void FixNwInfoClass::onMessageNotStored(const FIX::SessionID &sessionId, const std::string &fileName,
                                        int error)
{
    if (shuttingDown())
        return;
    logger_object *logger = FixSendingLogger::current(m_logger);
    ea_sync_guard lock(m_lock.get());
    uint16_t index = 0;
    uint32_t userId = static_cast<uint32_t>(-1);
    int32_t handle = -1;
    if (m_sessionContainer->fixSessionInfoContainerGetIndex(SESSION_ID_KEY, &sessionId, 0, &index, logger) ==
        EA_SUCCESS)
    {
        FixSessionSlot *slot = &m_sessionContainer->slots[index];
        userId = slot->user_id;
        handle = slot->fix_nw_handle;
        if (slot->reason_code == 0) // the client's Logout in answer is not its logoff
            slot->reason_code = FIX_REASON_SESSION_ENDED;
    }
    lock.leave();
    char text[EA_LOG_LINE_SIZE];
    snprintf(
        text, sizeof text,
        "FIX store writes to [%s] are failing ([%s]): session id [%s] of user [%ld] with fix nw handle [%d] is logged out, a message to it was not sent",
        fileName.c_str(), strerror(error), sessionId.toString().c_str(),
        static_cast<long>(static_cast<int32_t>(userId)), handle);
    EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "%s", text);
    pf_log_say(text);
    fixNwInfoRaiseStoreFailing(userId, error, logger);
}

// 13004 with a FIX user's id: that user's store failed with the error number.
void FixNwInfoClass::fixNwInfoRaiseStoreFailing(uint32_t userId, int error, logger_object *logger)
{
    message *event = log_write_event_create(true, static_cast<uint64_t>(error));
    if (event == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "Message creation failed.");
        setShutdown();
        return;
    }
    event->user_id = userId;
    if (shared_queue_insert_single_element(m_consoleQueue, event) != EA_SUCCESS)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "insertion to shared queue failed.");
        message_destroy(event);
        setShutdown();
    }
}

// The engine could not make the session's store (its disk full as a new user's files are
// made, say): the session stands without it and the engine refuses each of its Logons with
// a Logout that says why, making the store again at the next. The other sessions, the
// workstations and the console are not held up by it. Each refusal is logged; standard
// error and the console (13004 with the user's id, from the SenderCompID, and the error
// number) hear it at the start and whenever the failure differs from the last one said.
// Acceptor thread, or main's while the acceptor is made.
void FixNwInfoClass::onStoreNotMade(const FIX::SessionID &sessionId, const std::string &fileName, int error)
{
    if (shuttingDown())
        return;
    const std::string id = sessionId.toString();
    const long userId = strtol(sessionId.getTargetCompID().getString().c_str(), nullptr, 10);
    char text[EA_LOG_LINE_SIZE];
    snprintf(
        text, sizeof text,
        "FIX store file [%s] of session id [%s] of user [%ld] cannot be made ([%s]): its Logons are refused until it can",
        fileName.c_str(), id.c_str(), userId, strerror(error));
    EA_LOG(m_logger, EA_LEVEL_SYSTEM_ERROR, "%s", text);
    const std::string said = fileName + ":" + std::to_string(error);
    std::string &last = m_storesNotMade[id];
    if (last == said)
        return;
    last = said;
    pf_log_say(text);
    fixNwInfoRaiseStoreFailing(userId > 0 ? static_cast<uint32_t>(userId) : static_cast<uint32_t>(-1), error,
                               m_logger);
}

void FixNwInfoClass::onLogout(const FIX::SessionID &sessionId)
{
    if (shuttingDown())
        return;
    ea_sync_guard lock(m_lock.get());
    const std::string id = sessionId.toString();
    uint16_t index = 0;
    if (m_sessionContainer->fixSessionInfoContainerGetIndex(SESSION_ID_KEY, &sessionId, 0, &index,
                                                            m_logger) != EA_SUCCESS)
    {
        EA_LOG(m_logger, EA_LEVEL_EVENT,
               "Session id [%s] not found in the fix_client_list, Hence not sending the notification",
               id.c_str());
        return;
    }
    EA_LOG(m_logger, EA_LEVEL_EVENT, "Received onLogout for Session id [%s],", id.c_str());
    const FixSessionSlot *slot = &m_sessionContainer->slots[index];
    if (slot->pending == 1)
        fixNwInfoEndPendingSession(lock, index, sessionId);
    else if (slot->discard == 1)
        EA_LOG(m_logger, EA_LEVEL_EVENT, "Session cleanup is in progress for Session id [%s],", id.c_str());
    else
        fixNwInfoEndLiveSession(lock, index, sessionId);
}

#pragma GCC diagnostic pop
