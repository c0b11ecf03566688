// The FIX session table ("fix_client_list"): one slot per FIX client that is logged on or
// logging on, with its exchange identity, its FIX network handle, its logon progress, its
// flow-control count and the records it holds while its exchange logon is under way. A
// slot's index plus the table's index base is the client index that every record of that
// client carries, so FIX clients are numbered after the workstation clients. The table
// has no lock of its own: every caller holds the FIX application's lock.
#pragma once

#include <cstdint>

#include "SessionID.h"
#include "gateway/runtime/ea_flag.h"

struct logger_object;
struct message;

enum : int16_t
{
    SESSION_ID_KEY = 3,
    TWS_NW_HANDLE_KEY = 4,
};

// Slot states, in the order a logon moves through them.
enum : uint16_t
{
    FIX_SLOT_SYSTEM_INFO_AWAITED = 0, // logon answered; the client must send 35=g
    FIX_SLOT_JOURNAL_DOWNLOAD = 1,    // journal download requests sent
    FIX_SLOT_READY = 2,               // trading requests admitted
    FIX_SLOT_LOGON_IN_PROGRESS = 3,   // initial state
};

enum : uint32_t
{
    FIX_NO_LINK_INDEX = 65535,
    FIX_MEMBER_ID_LENGTH = 5,
};

struct FixSessionSlot
{
    FIX::SessionID *session_id; // owned heap copy
    uint32_t link_index;        // FIX_NO_LINK_INDEX until the exchange assigns one
    int32_t fix_nw_handle;      // -1 marks a free slot
    uint32_t user_id;
    uint16_t branch_id;
    char member_id[FIX_MEMBER_ID_LENGTH]; // not terminated
    uint16_t market_status;
    uint32_t message_count; // admitted since the last allowance
    int64_t requested_journal_time;
    int64_t journal_floor_time;
    uint16_t state;
    uint32_t heart_beat_interval;
    int16_t pending;              // 1 while the sign-on waits for the box's admission
    message *user_logon_msg;      // stored sign-on request, owned
    uint16_t reason_code;         // console reason when the session ends
    int32_t reason_value;         // that event's extra info, -1 for none
    uint16_t discard;             // 1 once the session is being taken down
    message *user_logon_resp_msg; // stored sign-on response, owned
    uint32_t stream_count;        // journal streams still to finish
};

// A table of `count` slots at their initial values, or null.
FixSessionSlot *fix_session_info_create(uint16_t count);
// Frees every slot's SessionID copy and stored records, then the table.
void fix_session_info_destroy(FixSessionSlot *table, uint16_t count);

class FixSessionInfoContainer
{
  public:
    // Throws LogException "Calloc() failed for creating valid client list" or
    // "fix_session_info_create() failed".
    FixSessionInfoContainer(uint16_t flowControlCount, uint16_t maxSessions, ea_flag *allowInvitations,
                            ea_flag *recoveryQueueOverflow, ea_flag *holdWord, ea_flag *sessionRecovery,
                            ea_flag *userLogoffInProgress, logger_object *logger);
    ~FixSessionInfoContainer();
    FixSessionInfoContainer(const FixSessionInfoContainer &) = delete;
    FixSessionInfoContainer &operator=(const FixSessionInfoContainer &) = delete;

    // 0 and the slot index, or -1 (not found, or an invalid key).
    int32_t fixSessionInfoContainerGetIndex(int16_t keyType, const FIX::SessionID *sessionId,
                                            int32_t nwHandle, uint16_t *slotIndex, logger_object *logger);
    // Takes the lowest free slot for `sessionId` (owned by the slot from here on success
    // only): 0, or 203 when the table is full or no handle can be given.
    int32_t fixSessionInfoContainerAddSession(FIX::SessionID *sessionId, int32_t *nwHandle,
                                              uint16_t *slotIndex, logger_object *logger);
    int32_t fixSessionInfoContainerGetNewHandle(int32_t *nwHandle, logger_object *logger);
    int32_t fixSessionInfoContainerCleanupSession(uint16_t slotIndex, logger_object *logger);
    // Next request sequence number into the record, then the binary request log.
    void fixSessionInfoContainerStampMessage(logger_object *logger, message *msg, uint16_t kind, int file,
                                             uint32_t tick, uint32_t value32, uint16_t value16);

    FixSessionSlot *slots;
    FixSessionSlot **valid_client_list; // slots in use, packed, in logon order
    uint16_t valid_client_count;
    uint32_t message_sequence;
    uint32_t flow_control_count;
    uint16_t allowance_exhausted;
    uint16_t max_sessions;
    int32_t next_nw_handle;
    uint32_t wrapped;
    uint32_t index_base;
    ea_flag *recovery_queue_overflow; // per link
    ea_flag *allow_invitations;       // per link
    ea_flag *session_recovery;        // per link
    ea_flag *hold_word;
    ea_flag *user_logoff_in_progress; // per client index
    uint32_t last_send_tick;

  private:
    bool handleInUse(int32_t nwHandle) const;
};
