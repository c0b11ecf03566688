// What the FIX application does to whole sessions: the box's answer to waiting clients,
// user logoff flushes and drops, link index updates, the box logoff relay, the admission
// test with its message allowance, and the senders of rejects and logouts.
//
// Every Logout to a client leaves after the lock is released; a slot is cleaned up
// afterwards only while it still holds the handle it had, because the acceptor thread may
// have freed and reused it in between.
#include <cstring>

#include "Session.h"
#include "gateway/fix_network_handle/fix_nw_info_class.h"
#include "gateway/runtime/ea_sync_info.h"
#include "gateway/runtime/logger.h"
#include "gateway/runtime/message.h"
#include "gateway/runtime/queue.h"
#include "gateway/runtime/shared_queue.h"

namespace
{
uint16_t fixFlagAt(const ea_flag *array, uint32_t index, uint16_t absent)
{
    return array == nullptr ? absent : ea_flag_get(&array[index]);
}
} // namespace

int32_t FixNwInfoClass::fixNwInfoProcessIncomingClients(uint16_t operation, logger_object *logger)
{
    if (operation != FIX_OPERATION_CONNECTION_ACCEPT)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "Invalid operation [%d] specified", operation);
        return EA_VALID;
    }
    ea_sync_guard lock(m_lock.get());
    FixSessionInfoContainer *c = m_sessionContainer.get();
    for (uint16_t i = 0; i < c->valid_client_count; ++i)
    {
        FixSessionSlot *slot = c->valid_client_list[i];
        if (slot == nullptr || slot->pending != 1)
            continue;
        if (slot->user_logon_msg != nullptr)
        {
            // The record stays in the slot (freed at clean-up) when it cannot be queued.
            if (queue_append(m_localQueue.get(), slot->user_logon_msg) != EA_SUCCESS)
            {
                EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "queue append failed.");
                return EA_ERROR;
            }
            slot->user_logon_msg = nullptr;
        }
        EA_LOG(logger, EA_LEVEL_EVENT,
               "Sent user signon request for userid [%ld] , Nw handle [%d] and tws index [%u]",
               static_cast<long>(slot->user_id), slot->fix_nw_handle, static_cast<unsigned>(slot - c->slots));
        slot->pending = 0;
    }
    lock.leave();
    if (queue_get_count(m_localQueue.get()) > 0 &&
        shared_queue_insert(m_requestQueue, m_localQueue.get()) != EA_SUCCESS)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "shared_queue_insert failed");
        return EA_ERROR;
    }
    return EA_SUCCESS;
}

// One pending client of a refused admission: logged out outside the lock, then its slot
// cleaned up when it still holds the same connection.
int32_t FixNwInfoClass::fixNwInfoDisconnectPendingClient(uint16_t slotIndex, logger_object *logger)
{
    FixSessionInfoContainer *c = m_sessionContainer.get();
    ea_sync_guard lock(m_lock.get());
    FixSessionSlot *slot = &c->slots[slotIndex];
    if (slot->pending != 1 || slot->fix_nw_handle == -1)
        return EA_SUCCESS;
    const int32_t handle = slot->fix_nw_handle;
    FIX::SessionID *copy = nullptr;
    if (slot->session_id != nullptr &&
        fixNwInfoGetCopyOfSessionId(slot->session_id, &copy, logger) == EA_ERROR)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "fixNwInfoGetCopyOfSessionId failed");
        return EA_ERROR;
    }
    lock.leave();
    if (copy != nullptr)
    {
        try
        {
            FIX42::Logout logout;
            FIX::Session::sendToTarget(logout, *copy, handle);
        }
        catch (FIX::Exception &e)
        {
            EA_LOG(logger, EA_LEVEL_EVENT,
                   "Send to Target failed for session[%s] index [%u]fix nw handle [%d], reason [%s]",
                   copy->toString().c_str(), static_cast<unsigned>(slotIndex), handle, e.what());
        }
        delete copy;
    }
    lock.enter();
    if (slot->fix_nw_handle == handle)
        c->fixSessionInfoContainerCleanupSession(slotIndex, logger);
    return EA_SUCCESS;
}

int32_t FixNwInfoClass::fixNwInfoDisconnectPendingClients(logger_object *logger)
{
    for (uint16_t i = 0; i < m_sessionContainer->max_sessions; ++i)
        if (fixNwInfoDisconnectPendingClient(i, logger) == EA_ERROR)
            return EA_ERROR;
    EA_LOG(logger, EA_LEVEL_EVENT, "All new fix clients disconnected");
    return EA_SUCCESS;
}

// A user logoff flush or drop whose connection the slot no longer holds: only logged.
void FixNwInfoClass::fixNwInfoLogStaleClientRecord(const message *msg, uint16_t slotIndex,
                                                   logger_object *logger)
{
    const int32_t handle = m_sessionContainer->slots[slotIndex].fix_nw_handle;
    if (msg->tag == USER_LOGOFF_FLUSH)
        EA_LOG(
            logger, EA_LEVEL_BUSINESS_ERROR,
            "Sending USER_LOGOFF_FLUSH message as the tws nw handle [%d] in message for tws index [%u] does not match with tws nw handle [%d] in the client list.",
            msg->workstation_network_handle, static_cast<unsigned>(slotIndex), handle);
    else
        EA_LOG(
            logger, EA_LEVEL_BUSINESS_ERROR,
            "Discarding DROP CLIENT message as the tws nw handle [%d] in message for tws index [%u] does not match with tws nw handle [%d] in the client list.",
            msg->workstation_network_handle, static_cast<unsigned>(slotIndex), handle);
}

// The Logout of a client that the gateway ends; sent outside the lock.
// The Text of the Logout that ends a client's session for a reason of the user session
// layer, where the client could not tell the reason otherwise; null for none.
static const char *fixClientLogoutText(uint16_t reasonCode)
{
    if (reasonCode == FIX_REASON_LINK_USER_LIMIT)
        return "Sign-on refused (11022): the box has as many users signed on as the exchange lets it, workstation and FIX users together";
    return nullptr;
}

void FixNwInfoClass::fixNwInfoSendClientLogout(const FIX::SessionID &copy, int32_t handle, uint16_t slotIndex,
                                               uint16_t reasonCode, logger_object *logger)
{
    try
    {
        FIX42::Logout logout;
        const char *text = fixClientLogoutText(reasonCode);
        if (text != nullptr)
            logout.set(FIX::Text(text));
        FIX::Session::sendToTarget(logout, copy, handle);
    }
    catch (FIX::SessionNotFound &e)
    {
        EA_LOG(
            logger, EA_LEVEL_EVENT,
            "Exception in SendtoTarget for sending logout request for session[%s] index [%u] fix nw handle [%d]reason [%s]",
            copy.toString().c_str(), static_cast<unsigned>(slotIndex), handle, e.what());
    }
    catch (FIX::Exception &e)
    {
        EA_LOG(logger, EA_LEVEL_EVENT,
               "Send to Target failed for session [%s] index [%u]fix nw handle [%d], reason [%s]",
               copy.toString().c_str(), static_cast<unsigned>(slotIndex), handle, e.what());
    }
}

// The client the record names is logged out (unless its session is already being taken
// down) and its slot cleaned up. Called and returns with the lock held.
int32_t FixNwInfoClass::fixNwInfoEndClientSession(ea_sync_guard &lock, const message *msg, uint16_t slotIndex,
                                                  logger_object *logger)
{
    FixSessionInfoContainer *c = m_sessionContainer.get();
    FixSessionSlot *slot = &c->slots[slotIndex];
    const int32_t handle = slot->fix_nw_handle;
    FIX::SessionID *copy = nullptr;
    if (slot->session_id != nullptr &&
        fixNwInfoGetCopyOfSessionId(slot->session_id, &copy, logger) == EA_ERROR)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "fixNwInfoGetCopyOfSessionId failed");
        return EA_ERROR;
    }
    const bool discarding = slot->discard == 1;
    lock.leave();
    if (copy != nullptr && !discarding)
        fixNwInfoSendClientLogout(*copy, handle, slotIndex, msg->reason_code, logger);
    delete copy;
    lock.enter();
    if (slot->fix_nw_handle == handle)
        c->fixSessionInfoContainerCleanupSession(slotIndex, logger);
    if (msg->tag == USER_LOGOFF_FLUSH)
        EA_LOG(logger, EA_LEVEL_EVENT,
               "Sending USER_LOGOFF_FLUSH message for tws nw handle [%d] tws index [%u]", handle,
               static_cast<unsigned>(slotIndex));
    else
        EA_LOG(logger, EA_LEVEL_EVENT,
               "Discarding DROP CLIENT message after cleanup for tws nw handle [%d] tws index [%u]", handle,
               static_cast<unsigned>(slotIndex));
    return EA_SUCCESS;
}

// After a user logoff flush or a drop: the flush goes on to the user session thread, the
// drop is freed. `result` is what the caller returns when nothing fails here.
int32_t FixNwInfoClass::fixNwInfoForwardLogoffFlush(message *msg, int32_t result, logger_object *logger)
{
    if (msg->tag != USER_LOGOFF_FLUSH)
    {
        message_destroy(msg);
        return result;
    }
    msg->user_type = 1;
    if (shared_queue_insert_single_element(m_requestQueue, msg) != EA_SUCCESS)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "shared_queue_insert_single_element failed");
        message_destroy(msg);
        return EA_ERROR;
    }
    return result;
}

int32_t FixNwInfoClass::fixNwInfoDisconnectNamedClient(message *msg, logger_object *logger)
{
    FixSessionInfoContainer *c = m_sessionContainer.get();
    ea_sync_guard lock(m_lock.get());
    const int32_t slotIndex =
        static_cast<int32_t>(msg->workstation_index) - static_cast<int32_t>(c->index_base);
    if (slotIndex < 0 || slotIndex >= c->max_sessions)
    {
        EA_LOG(
            logger, EA_LEVEL_EVENT,
            "Discarding message having message tag[%d] as invalid fix session index [%u]. because Maximum fix session index is [%u].",
            msg->tag, static_cast<unsigned>(slotIndex), static_cast<unsigned>(c->max_sessions));
        message_destroy(msg);
        return EA_VALID;
    }
    const uint16_t index = static_cast<uint16_t>(slotIndex);
    const int32_t handle = c->slots[index].fix_nw_handle;
    int32_t result = EA_SUCCESS;
    if (handle == -1 || handle != msg->workstation_network_handle)
    {
        fixNwInfoLogStaleClientRecord(msg, index, logger);
        result = EA_VALID;
    }
    else if (fixNwInfoEndClientSession(lock, msg, index, logger) == EA_ERROR)
    {
        message_destroy(msg);
        return EA_ERROR;
    }
    lock.leave();
    return fixNwInfoForwardLogoffFlush(msg, result, logger);
}

int32_t FixNwInfoClass::fixNwInfoDisconnectClient(message *msg, uint16_t operation, logger_object *logger)
{
    if (operation != FIX_OPERATION_PENDING_CLIENTS)
        return fixNwInfoDisconnectNamedClient(msg, logger);
    if (msg != nullptr)
        message_destroy(msg);
    return fixNwInfoDisconnectPendingClients(logger);
}

int32_t FixNwInfoClass::fixNwInfoUpdateLinkIndex(message *msg, uint16_t numberOfLinks, logger_object *logger)
{
    FixSessionInfoContainer *c = m_sessionContainer.get();
    int32_t result = EA_SUCCESS;
    ea_sync_guard lock(m_lock.get());
    const int32_t slotIndex =
        static_cast<int32_t>(msg->workstation_index) - static_cast<int32_t>(c->index_base);
    if (msg->link_index >= numberOfLinks)
    {
        EA_LOG(
            logger, EA_LEVEL_CONTINUATION,
            "Received invalid link index [%u] fix nw handle[%d] in the message. Hence not updating link index.",
            static_cast<unsigned>(msg->link_index), msg->workstation_network_handle);
        result = EA_NOT_FOUND;
    }
    else if (slotIndex < 0 || slotIndex >= c->max_sessions)
    {
        EA_LOG(
            logger, EA_LEVEL_EVENT,
            "Discarding message having invalid fix session index [%u]. Because Maximum fix session index is [%u]. ",
            static_cast<unsigned>(slotIndex), static_cast<unsigned>(c->max_sessions));
        result = EA_VALID;
    }
    else if (msg->workstation_network_handle == -1 ||
             msg->workstation_network_handle != c->slots[slotIndex].fix_nw_handle)
    {
        EA_LOG(
            logger, EA_LEVEL_BUSINESS_ERROR,
            "Discarding message as the fix nw handle [%d] in message for fix index [%u] does not match with fix nw handle [%d] in the client list. ",
            msg->workstation_network_handle, static_cast<unsigned>(slotIndex),
            c->slots[slotIndex].fix_nw_handle);
        result = EA_VALID;
    }
    else
    {
        c->slots[slotIndex].link_index = msg->link_index;
        EA_LOG(logger, EA_LEVEL_CONTINUATION, "Link index [%u] added for fix network handle [%d]",
               static_cast<unsigned>(msg->link_index), msg->workstation_network_handle);
    }
    lock.leave();
    message_destroy(msg);
    return result;
}

int32_t FixNwInfoClass::fixNwInfoProcessBoxLogoffFlush(message *msg, logger_object *logger)
{
    msg->user_type = 1;
    if (shared_queue_insert_single_element(m_requestQueue, msg) != EA_SUCCESS)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "shared_queue_insert_single_element failed");
        message_destroy(msg);
        return EA_ERROR;
    }
    return EA_SUCCESS;
}

void FixNwInfoClass::fixNwInfoRefreshFlowControl()
{
    FixSessionInfoContainer *c = m_sessionContainer.get();
    if (c->allowance_exhausted != 1)
        return;
    for (uint16_t i = 0; i < c->valid_client_count; ++i)
    {
        FixSessionSlot *slot = c->valid_client_list[i];
        if (slot == nullptr || slot->link_index == FIX_NO_LINK_INDEX)
            continue;
        const uint32_t link = slot->link_index;
        const uint32_t clientIndex = static_cast<uint32_t>(slot - c->slots) + c->index_base;
        if (fixFlagAt(c->allow_invitations, link, 1) == 1 &&
            fixFlagAt(c->recovery_queue_overflow, link, 0) == 0 &&
            fixFlagAt(c->session_recovery, link, 0) == 0 &&
            (c->hold_word == nullptr || ea_flag_get(c->hold_word) == 0) &&
            fixFlagAt(c->user_logoff_in_progress, clientIndex, 0) == 0 &&
            slot->message_count >= c->flow_control_count)
            slot->message_count = 0;
    }
    c->allowance_exhausted = 0;
}

int32_t FixNwInfoClass::fixNwInfoProcessSession(const FIX::SessionID &sessionId, uint16_t *slotIndex,
                                                logger_object *logger)
{
    FixSessionInfoContainer *c = m_sessionContainer.get();
    fixNwInfoRefreshFlowControl();
    uint16_t index = 0;
    if (c->fixSessionInfoContainerGetIndex(SESSION_ID_KEY, &sessionId, 0, &index, logger) != EA_SUCCESS)
        return EA_NOT_FOUND;
    *slotIndex = index;
    FixSessionSlot *slot = &c->slots[index];
    if (slot->pending == 1 || slot->discard == 1)
    {
        EA_LOG(logger, EA_LEVEL_EVENT,
               "Discarding request messages as the pending status is[%d]and discard status is [%d]",
               slot->pending, slot->discard);
        return EA_DISCARD;
    }
    if (slot->message_count >= c->flow_control_count)
    {
        c->allowance_exhausted = 1;
        return EA_DISCARD;
    }
    switch (slot->state)
    {
    case FIX_SLOT_SYSTEM_INFO_AWAITED:
        return -5;
    case FIX_SLOT_JOURNAL_DOWNLOAD:
        return -4;
    case FIX_SLOT_LOGON_IN_PROGRESS:
        return -6;
    default:
        break;
    }
    if (++slot->message_count >= c->flow_control_count)
        c->allowance_exhausted = 1;
    return EA_SUCCESS;
}

int32_t FixNwInfoClass::fixNwInfoSendBusinessReject(const FIX::SessionID &sessionId,
                                                    const FIX::MsgType &msgType,
                                                    const FIX::MsgSeqNum &msgSeqNum, const FIX::Text &text,
                                                    const FIX::BusinessRejectReason &reason)
{
    FIX42::BusinessMessageReject *reject = new FIX42::BusinessMessageReject();
    reject->set(FIX::RefMsgType(msgType.getValue()));
    reject->set(reason);
    reject->set(text);
    reject->set(FIX::RefSeqNum(msgSeqNum.getValue()));
    fixNwInfoQueueSend(FixDeferredSend::BUSINESS_REJECT, reject, sessionId, -1, std::string());
    return 1;
}

int32_t FixNwInfoClass::fixNwInfoSendAdminReject(const FIX::SessionID &sessionId, const FIX::MsgType &msgType,
                                                 const FIX::MsgSeqNum &msgSeqNum, const FIX::Text &text)
{
    FIX42::Reject *reject = new FIX42::Reject();
    reject->set(text);
    reject->set(FIX::RefSeqNum(msgSeqNum.getValue()));
    reject->setField(FIX::RefMsgType(msgType.getValue()));
    fixNwInfoQueueSend(FixDeferredSend::ADMIN_REJECT, reject, sessionId, -1, std::string());
    return 1;
}

int32_t FixNwInfoClass::fixNwInfoLogoutTheUser(const FIX::SessionID &sessionId, const FIX::Text &text)
{
    FIX42::Logout *logout = new FIX42::Logout();
    logout->set(text);
    fixNwInfoQueueSend(FixDeferredSend::LOGOUT, logout, sessionId, -1, text.getValue());
    return 1;
}

// Inside fromApp and fromAdmin the application's lock is held: a message for the client
// waits until the lock is released, so that this thread never holds the lock while it
// takes the engine session's own (which the engine holds when it calls onLogout).
void FixNwInfoClass::fixNwInfoQueueSend(FixDeferredSend::Kind kind, FIX::Message *message,
                                        const FIX::SessionID &sessionId, int32_t nwHandle,
                                        const std::string &reason)
{
    FixDeferredSend send = {kind, std::shared_ptr<FIX::Message>(message), sessionId, nwHandle, reason};
    if (m_deferDepth > 0)
        m_deferred.push_back(send);
    else
        fixNwInfoSendNow(send);
}

void FixNwInfoClass::fixNwInfoFlushDeferredSends(std::vector<FixDeferredSend> &sends)
{
    for (FixDeferredSend &send : sends)
        fixNwInfoSendNow(send);
    sends.clear();
}

void FixNwInfoClass::fixNwInfoSendNow(FixDeferredSend &send)
{
    const std::string id = send.sessionId.toString();
    try
    {
        if (send.kind == FixDeferredSend::STATUS)
            FIX::Session::sendToTarget(*send.message, send.sessionId, send.nwHandle);
        else
            FIX::Session::sendToTarget(*send.message, send.sessionId);
        switch (send.kind)
        {
        case FixDeferredSend::BUSINESS_REJECT:
            EA_LOG(m_logger, EA_LEVEL_ACTIVITY, "sendToTarget business reject successful for session id [%s]",
                   id.c_str());
            break;
        case FixDeferredSend::ADMIN_REJECT:
            EA_LOG(m_logger, EA_LEVEL_ACTIVITY,
                   "sendToTarget Admin reject reject successful for session id [%s]", id.c_str());
            break;
        case FixDeferredSend::LOGOUT:
            EA_LOG(m_logger, EA_LEVEL_EVENT, "Sent logout successfully for session[%s], logout reason [%s]",
                   id.c_str(), send.reason.c_str());
            break;
        case FixDeferredSend::STATUS:
            break;
        }
    }
    catch (FIX::Exception &e)
    {
        switch (send.kind)
        {
        case FixDeferredSend::BUSINESS_REJECT:
            EA_LOG(m_logger, EA_LEVEL_EVENT,
                   "Sendtotarget business reject failed for session id [%s], message [%s]", id.c_str(),
                   e.what());
            break;
        case FixDeferredSend::ADMIN_REJECT:
            EA_LOG(m_logger, EA_LEVEL_EVENT,
                   "Sendtotarget Admin reject failed for session id [%s], message [%s]", id.c_str(),
                   e.what());
            break;
        case FixDeferredSend::LOGOUT:
            EA_LOG(m_logger, EA_LEVEL_EVENT,
                   "Send logout failed for session[%s] exception message[%s]logout reason [%s]", id.c_str(),
                   e.what(), send.reason.c_str());
            break;
        case FixDeferredSend::STATUS:
            EA_LOG(m_logger, EA_LEVEL_EVENT,
                   "Sendtotarget failed for session [%s], nw handle [%d] reason [%s]", id.c_str(),
                   send.nwHandle, e.what());
            break;
        }
    }
}

// The client's Logout makes its logoff the reason the session ends, unless the session
// was already being ended for another (the client's Logout then only answers the
// gateway's).
void FixNwInfoClass::onMessage(const FIX42::Logout &, const FIX::SessionID &sessionId)
{
    uint16_t index = 0;
    if (m_sessionContainer->fixSessionInfoContainerGetIndex(SESSION_ID_KEY, &sessionId, 0, &index,
                                                            m_logger) == EA_SUCCESS &&
        m_sessionContainer->slots[index].reason_code == 0)
    {
        m_sessionContainer->slots[index].reason_code = FIX_REASON_CLIENT_LOGOUT;
        m_sessionContainer->slots[index].reason_value = -1;
    }
}
