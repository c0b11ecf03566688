// The FIX session table: slots, the packed list of slots in use, network handles.
#include "gateway/fix_network_handle/fix_session_info_container.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "Session.h"
#include "gateway/fix_network_handle/fix_utility.h"
#include "gateway/runtime/logger.h"
#include "gateway/runtime/message.h"

static void fixSlotInitialise(FixSessionSlot *slot)
{
    slot->session_id = nullptr;
    slot->link_index = FIX_NO_LINK_INDEX;
    slot->fix_nw_handle = -1;
    slot->user_id = 0;
    slot->branch_id = 65535;
    memset(slot->member_id, ' ', sizeof(slot->member_id));
    slot->market_status = 65535;
    slot->message_count = 0;
    slot->requested_journal_time = 0;
    slot->journal_floor_time = 0;
    slot->state = FIX_SLOT_LOGON_IN_PROGRESS;
    slot->heart_beat_interval = 0;
    slot->pending = 0;
    slot->user_logon_msg = nullptr;
    slot->reason_code = 0;
    slot->reason_value = -1;
    slot->discard = 0;
    slot->user_logon_resp_msg = nullptr;
    slot->stream_count = 0;
}

FixSessionSlot *fix_session_info_create(uint16_t count)
{
    FixSessionSlot *table = new (std::nothrow) FixSessionSlot[count == 0 ? 1 : count];
    if (table == nullptr)
        return nullptr;
    for (uint16_t i = 0; i < count; ++i)
        fixSlotInitialise(&table[i]);
    return table;
}

void fix_session_info_destroy(FixSessionSlot *table, uint16_t count)
{
    if (table == nullptr)
        return;
    for (uint16_t i = 0; i < count; ++i)
    {
        delete table[i].session_id;
        table[i].session_id = nullptr;
        // An empty slot holds no records: only a held one is freed.
        if (table[i].user_logon_msg != nullptr)
            EA_FREE_CHECKED(table[i].user_logon_msg, message_destroy,
                            "fix_session_info_list[counter].user_logon_msg");
        if (table[i].user_logon_resp_msg != nullptr)
            EA_FREE_CHECKED(table[i].user_logon_resp_msg, message_destroy,
                            "fix_session_info_list[counter].user_logon_resp_msg");
    }
    delete[] table;
}

FixSessionInfoContainer::FixSessionInfoContainer(uint16_t flowControlCount, uint16_t maxSessions,
                                                 ea_flag *allowInvitations, ea_flag *recoveryQueueOverflow,
                                                 ea_flag *holdWord, ea_flag *sessionRecovery,
                                                 ea_flag *userLogoffInProgress, logger_object *)
    : slots(nullptr), valid_client_list(nullptr), valid_client_count(0), message_sequence(0),
      flow_control_count(flowControlCount), allowance_exhausted(0), max_sessions(maxSessions),
      next_nw_handle(1), wrapped(0), index_base(maxSessions), recovery_queue_overflow(recoveryQueueOverflow),
      allow_invitations(allowInvitations), session_recovery(sessionRecovery), hold_word(holdWord),
      user_logoff_in_progress(userLogoffInProgress), last_send_tick(0)
{
    valid_client_list =
        static_cast<FixSessionSlot **>(calloc(maxSessions == 0 ? 1 : maxSessions, sizeof(FixSessionSlot *)));
    if (valid_client_list == nullptr)
        throw LogException("Calloc() failed for creating valid client list");
    slots = fix_session_info_create(maxSessions);
    if (slots == nullptr)
    {
        free(valid_client_list);
        valid_client_list = nullptr;
        throw LogException("fix_session_info_create() failed");
    }
}

FixSessionInfoContainer::~FixSessionInfoContainer()
{
    fix_session_info_destroy(slots, max_sessions);
    free(valid_client_list);
}

int32_t FixSessionInfoContainer::fixSessionInfoContainerGetIndex(int16_t keyType,
                                                                 const FIX::SessionID *sessionId,
                                                                 int32_t nwHandle, uint16_t *slotIndex,
                                                                 logger_object *logger)
{
    switch (keyType)
    {
    case SESSION_ID_KEY:
        if (sessionId == nullptr)
            return EA_NOT_FOUND;
        for (uint16_t i = 0; i < valid_client_count; ++i)
        {
            FixSessionSlot *slot = valid_client_list[i];
            if (slot != nullptr && slot->session_id != nullptr && *slot->session_id == *sessionId)
            {
                *slotIndex = static_cast<uint16_t>(slot - slots);
                return EA_SUCCESS;
            }
        }
        return EA_NOT_FOUND;
    case TWS_NW_HANDLE_KEY:
        if (nwHandle == -1)
        {
            EA_LOG(logger, EA_LEVEL_BUSINESS_ERROR, "Invalid key [%ld] for TWS_NW_HANDLE_KEY. Surely a Bug",
                   static_cast<long>(nwHandle));
            return EA_NOT_FOUND;
        }
        for (uint16_t i = 0; i < valid_client_count; ++i)
        {
            FixSessionSlot *slot = valid_client_list[i];
            if (slot != nullptr && slot->fix_nw_handle == nwHandle)
            {
                *slotIndex = static_cast<uint16_t>(slot - slots);
                return EA_SUCCESS;
            }
        }
        return EA_NOT_FOUND;
    default:
        EA_LOG(logger, EA_LEVEL_BUSINESS_ERROR, "Invalid keytype [%d]. Surely a Bug", keyType);
        return EA_NOT_FOUND;
    }
}

bool FixSessionInfoContainer::handleInUse(int32_t nwHandle) const
{
    for (uint16_t i = 0; i < max_sessions; ++i)
        if (slots[i].fix_nw_handle == nwHandle)
            return true;
    return false;
}

// The signed counter steps in unsigned arithmetic, so running past the largest value
// gives a negative number instead of undefined behaviour.
static int32_t fixNextHandle(int32_t handle)
{
    return static_cast<int32_t>(static_cast<uint32_t>(handle) + 1u);
}

int32_t FixSessionInfoContainer::fixSessionInfoContainerGetNewHandle(int32_t *nwHandle, logger_object *logger)
{
    int32_t candidate = next_nw_handle;
    if (candidate < 1)
    {
        candidate = 1;
        wrapped = 1;
        EA_LOG(logger, EA_LEVEL_DEBUG, "Wrap_around occurred for nw handle");
    }
    int restarts = 0;
    while (wrapped == 1 && handleInUse(candidate))
    {
        candidate = fixNextHandle(candidate);
        if (candidate < 1)
        {
            if (++restarts > 1)
            {
                EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "Can not generate new network handle.");
                return EA_ERROR;
            }
            EA_LOG(logger, EA_LEVEL_DEBUG, "Wrap_around occurred twice");
            candidate = 1;
        }
    }
    *nwHandle = candidate;
    next_nw_handle = fixNextHandle(candidate);
    return EA_SUCCESS;
}

int32_t FixSessionInfoContainer::fixSessionInfoContainerAddSession(FIX::SessionID *sessionId,
                                                                   int32_t *nwHandle, uint16_t *slotIndex,
                                                                   logger_object *logger)
{
    uint16_t index = 0;
    while (index < max_sessions && slots[index].fix_nw_handle != -1)
        ++index;
    if (index >= max_sessions)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "No free slot remaining for new client.");
        return EA_VALID;
    }
    int32_t handle = -1;
    if (fixSessionInfoContainerGetNewHandle(&handle, logger) != EA_SUCCESS)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "fix_session_info_container_get_new_handle failed");
        return EA_VALID;
    }
    FixSessionSlot *slot = &slots[index];
    slot->fix_nw_handle = handle;
    slot->session_id = sessionId;
    FIX::Session *session = FIX::Session::lookupSession(*sessionId);
    if (session != nullptr)
        session->m_nwHandle = handle;
    else
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "lookupSession() : Session Not Found");
    valid_client_list[valid_client_count++] = slot;
    *nwHandle = handle;
    *slotIndex = index;
    return EA_SUCCESS;
}

int32_t FixSessionInfoContainer::fixSessionInfoContainerCleanupSession(uint16_t slotIndex,
                                                                       logger_object *logger)
{
    if (slotIndex >= max_sessions)
        return EA_SUCCESS;
    FixSessionSlot *slot = &slots[slotIndex];
    if (slot->session_id != nullptr)
    {
        EA_LOG(logger, EA_LEVEL_EVENT, "Cleanup for session id [%s] tws nw handle [%d] tws index [%u]",
               slot->session_id->toString().c_str(), slot->fix_nw_handle, static_cast<unsigned>(slotIndex));
        delete slot->session_id;
        slot->session_id = nullptr;
    }
    if (slot->user_logon_msg != nullptr)
        EA_FREE_CHECKED(slot->user_logon_msg, message_destroy, "fix_session_info->user_logon_msg");
    if (slot->user_logon_resp_msg != nullptr)
        EA_FREE_CHECKED(slot->user_logon_resp_msg, message_destroy, "fix_session_info->user_logon_resp_msg");
    fixSlotInitialise(slot);

    for (uint16_t i = 0; i < valid_client_count; ++i)
    {
        if (valid_client_list[i] != slot)
            continue;
        for (uint16_t j = i; j + 1 < valid_client_count; ++j)
            valid_client_list[j] = valid_client_list[j + 1];
        --valid_client_count;
        valid_client_list[valid_client_count] = nullptr;
        break;
    }
    return EA_SUCCESS;
}

void FixSessionInfoContainer::fixSessionInfoContainerStampMessage(logger_object *logger, message *msg,
                                                                  uint16_t kind, int file, uint32_t tick,
                                                                  uint32_t value32, uint16_t value16)
{
    ++message_sequence;
    msg->sequence_number = message_sequence;
    logger_object_binary_log(logger, msg, kind, file, tick, value32, value16);
}
