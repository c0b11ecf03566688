// FixNwInfoClass: the gateway's FIX application, where the engine's acceptor thread and the
// gateway's modules meet. It owns the engine's settings, store and log factories and the
// socket acceptor, the FIX session table, and the lock that serialises the acceptor
// thread (callbacks and message handlers) against the FIX send thread (the entry points
// of fix_nw_info.h). Includes the engine's headers: C++14 only.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Application.h"
#include "FileLog.h"
#include "FileStore.h"
#include "SessionSettings.h"
#include "SocketAcceptor.h"
#include "fix42/BusinessMessageReject.h"
#include "fix42/Logon.h"
#include "fix42/Logout.h"
#include "fix42/Reject.h"
#include "fix42/TradingSessionStatus.h"
#include "fix42/TradingSessionStatusRequest.h"
#include "gateway/fix_network_handle/fix_dialect_cracker.h"
#include "gateway/fix_network_handle/fix_request_road.h"
#include "gateway/fix_network_handle/fix_session_info_container.h"
#include "gateway/fix_network_handle/fix_utility.h"
#include "gateway/runtime/ea_flag.h"
#include "gateway/runtime/ea_sync_info.h"

struct FixLogonFields;
struct logger_object;
struct message;
struct queue;
struct shared_queue;

enum : uint16_t
{
    FIX_NO_SESSION_INDEX = 65535,
    FIX_CONTRACT_EXPIRY_OFFSET_SIZE = 260,
    // Operations of the client-control entry points.
    FIX_OPERATION_NAMED_CLIENT = 0,
    FIX_OPERATION_PENDING_CLIENTS = 5,
    FIX_OPERATION_CONNECTION_ACCEPT = 26,
};

// A reply handler's result that asks for the FIX message it built to be sent; apart from
// the gateway's status codes 0, 203 and 10000.
enum : int32_t
{
    FIX_REPLY_TO_SEND = 1,
};

// Console reason codes the FIX side raises.
enum : uint16_t
{
    FIX_REASON_DUPLICATE_LOGOFF_PENDING = 11000,
    FIX_REASON_CLIENT_LOGOUT = 11007,
    FIX_REASON_SESSION_ENDED = 11009,
    // The console's text for it speaks of responses pending in the gateway past the
    // threshold, which is what a FIX client that takes nothing of its output causes.
    FIX_REASON_OUTPUT_HELD = 11012,
    FIX_REASON_TABLE_FULL = 11013,
    FIX_REASON_BOX_REJECTED = 11016,
    // The box has as many users signed on as the exchange lets it (its box parameters),
    // workstation and FIX users together.
    FIX_REASON_LINK_USER_LIMIT = 11022,
    FIX_REASON_INVALID_LOGON_FIELD = 11026,
};

// Bounds of what waits unsent for one FIX client. MAX_CLIENT_PENDING_MESG_COUNT bounds
// the messages as it bounds a workstation's, with the same default; a client whose
// connection has taken none of them for a heartbeat interval (the dialect's 30 s) cannot
// have read the heartbeat it was owed. Its input is not read meanwhile, so the engine's
// own check (nothing received for 2.4 intervals) would end it only later, and as if it had
// gone silent.
enum : int32_t
{
    FIX_DEFAULT_PENDING_LIMIT = 50000,
    FIX_HELD_OUTPUT_SECONDS = 30,
};
// How the engine's reason begins when a client is ended for taking nothing for those seconds
// (the other bound's begins "More than").
constexpr char FIX_HELD_OUTPUT_TIME_REASON[] = "Nothing sent taken by the peer for ";

// The dialect's tags that this part of the front end reads or writes.
enum : int
{
    FIX_TAG_LAST_HOST_MESSAGE_TIME = 6001,
    FIX_TAG_SIGN_ON_STATUS = 6002,
    FIX_TAG_SIGN_ON_NAME = 6003,
    FIX_TAG_SIGN_ON_USER_NAME = 6004,
    FIX_TAG_SIGN_ON_USER_CLASS = 6005,
    FIX_TAG_SIGN_ON_SECOND_STATUS = 6006,
    FIX_TAG_STREAM_COUNT = 6014,
    FIX_TAG_NO_ON_BEHALF_OF_LOCATION_ID = 6015,
    FIX_TAG_VALID_LOGON = 99999,
};

// Construction arguments in the order fix_nw_info_create receives them.
struct FixNwInfoArgs
{
    uint16_t flowControlCount;
    const char *fixFilePath;
    const char *configFile;
    shared_queue *requestQueue;      // 20: to the user session thread
    shared_queue *notificationQueue; // 14: to the box communication thread
    shared_queue *consoleQueue;      // 19: to the interface thread
    uint16_t maxTwsClients;
    ea_flag *shutdownFlag;
    ea_flag *allowInvitations;
    ea_flag *recoveryQueueOverflow;
    ea_flag *holdWord;
    ea_flag *sessionRecovery;
    ea_flag *userLogoffInProgress;
    ea_flag *dayFlag; // day-change flag 14
    logger_object *logger;
};

// Deleters of the gateway's own objects that the application owns.
struct FixQueueFree
{
    void operator()(queue *q) const;
};
struct FixLockFree
{
    void operator()(ea_sync_info *lock) const;
};

// A message for a client that waits until the application's lock is released.
struct FixDeferredSend
{
    enum Kind
    {
        BUSINESS_REJECT,
        ADMIN_REJECT,
        LOGOUT,
        STATUS, // sent with the session's network handle
    };
    Kind kind;
    std::shared_ptr<FIX::Message> message;
    FIX::SessionID sessionId;
    int32_t nwHandle;
    std::string reason;
};

// The logger of the gateway thread that sends into the engine, while it lives: an engine
// callback made inside the send (a message the store could not take) logs through it, as
// the acceptor thread's callbacks log through the application's own logger.
class FixSendingLogger
{
  public:
    explicit FixSendingLogger(logger_object *logger);
    ~FixSendingLogger();
    FixSendingLogger(const FixSendingLogger &) = delete;
    FixSendingLogger &operator=(const FixSendingLogger &) = delete;
    // The sending thread's logger, or `otherwise` outside a send.
    static logger_object *current(logger_object *otherwise);

  private:
    logger_object *m_previous;
};

// The engine's Application interface declares dynamic throw() lists, which
// C++11 deprecated; the overrides must repeat them to be allowed to throw.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated"

class FixNwInfoClass : public FIX::Application, public FIX42::MessageCracker
{
  public:
    // Builds everything and starts the acceptor thread; throws LogException.
    explicit FixNwInfoClass(const FixNwInfoArgs &args);
    ~FixNwInfoClass() override;
    FixNwInfoClass(const FixNwInfoClass &) = delete;
    FixNwInfoClass &operator=(const FixNwInfoClass &) = delete;

    // Engine callbacks (acceptor thread).
    void onCreate(const FIX::SessionID &sessionId) override;
    void onLogon(const FIX::SessionID &sessionId) override;
    void onLogout(const FIX::SessionID &sessionId) override;
    void onOutputHeld(const FIX::SessionID &sessionId, const std::string &reason) override;
    void onMessageNotStored(const FIX::SessionID &sessionId, const std::string &fileName, int error) override;
    void onStoreNotMade(const FIX::SessionID &sessionId, const std::string &fileName, int error) override;
    void toAdmin(FIX::Message &message, const FIX::SessionID &sessionId) override;
    void toApp(FIX::Message &message, const FIX::SessionID &sessionId) throw(FIX::DoNotSend) override;
    void fromAdmin(const FIX::Message &message,
                   const FIX::SessionID &sessionId) throw(FIX::FieldNotFound, FIX::IncorrectDataFormat,
                                                          FIX::IncorrectTagValue, FIX::RejectLogon) override;
    void fromApp(const FIX::Message &message,
                 const FIX::SessionID &sessionId) throw(FIX::FieldNotFound, FIX::IncorrectDataFormat,
                                                        FIX::IncorrectTagValue,
                                                        FIX::UnsupportedMessageType) override;

    // Message handlers of the FIX 4.2 cracker (acceptor thread, under the lock).
    void onMessage(const FIX42::Logon &logon, const FIX::SessionID &sessionId) override;
    void onMessage(const FIX42::Logout &logout, const FIX::SessionID &sessionId) override;
    void onMessage(const FIX42::TradingSessionStatusRequest &request,
                   const FIX::SessionID &sessionId) override;
    // Single-order requests (fix_order_requests.cpp).
    void onMessage(const FIX42::NewOrderSingle &order, const FIX::SessionID &sessionId) override;
    void onMessage(const FIX42::OrderCancelRequest &cancel, const FIX::SessionID &sessionId) override;
    void onMessage(const FIX42::OrderCancelReplaceRequest &modify, const FIX::SessionID &sessionId) override;
    // Multi-leg requests (fix_spread_requests.cpp) and position maintenance
    // (fix_position_requests.cpp).
    void onMessage(const FIX42::SpreadMultiLegSingle &spread, const FIX::SessionID &sessionId) override;
    void onMessage(const FIX42::SpreadCancelReplaceRequest &replace,
                   const FIX::SessionID &sessionId) override;
    void onMessage(const FIX42::PositionMaintenanceRequest &request,
                   const FIX::SessionID &sessionId) override;

    // One leg of a multi-leg request into the record (leg 1) or its leg entry (legs 2 and
    // 3): 0, or 203 for a leg number outside 1 to 3. Field failures are thrown.
    int32_t fixNwInfoGetSpreadMultiLegInfo(const FIX42::SpreadMultiLegSingle &spread, uint8_t *destination,
                                           uint16_t legNumber);
    int32_t fixNwInfoGetSpreadCancelReplaceLegInfo(const FIX42::SpreadCancelReplaceRequest &replace,
                                                   uint8_t *destination, uint16_t legNumber, char cancelFlag);

    // Entry points of the FIX send thread; each consumes the record it is given.
    int32_t fixNwInfoSendMesg(message *msg, logger_object *logger);
    int32_t fixNwInfoProcessIncomingClients(uint16_t operation, logger_object *logger);
    int32_t fixNwInfoDisconnectClient(message *msg, uint16_t operation, logger_object *logger);
    int32_t fixNwInfoUpdateLinkIndex(message *msg, uint16_t numberOfLinks, logger_object *logger);
    int32_t fixNwInfoProcessBoxLogoffFlush(message *msg, logger_object *logger);
    int32_t fixNwInfoPollAcceptor();
    void fixNwInfoStopAcceptor();

    // Admission test of the fromApp gate: 0, -1, -4, -5, -6 or -300.
    int32_t fixNwInfoProcessSession(const FIX::SessionID &sessionId, uint16_t *slotIndex,
                                    logger_object *logger);
    void fixNwInfoRefreshFlowControl();

    // Senders of rejects and logouts (stock send, no handle check); never throw.
    int32_t fixNwInfoSendBusinessReject(const FIX::SessionID &sessionId, const FIX::MsgType &msgType,
                                        const FIX::MsgSeqNum &msgSeqNum, const FIX::Text &text,
                                        const FIX::BusinessRejectReason &reason);
    int32_t fixNwInfoSendAdminReject(const FIX::SessionID &sessionId, const FIX::MsgType &msgType,
                                     const FIX::MsgSeqNum &msgSeqNum, const FIX::Text &text);
    int32_t fixNwInfoLogoutTheUser(const FIX::SessionID &sessionId, const FIX::Text &text);

    // Converts one exchange reply into a new FIX message (null with 0 when there is none
    // to send); 0, 203 or 10000.
    int32_t fixNwInfoGetFixMessage(message *msg, int16_t transcode, int16_t errorCode,
                                   FIX::Message **fixMessage, logger_object *logger);

    // Copies taken under the lock, for tests and supervision.
    uint16_t fixNwInfoValidClientCount();
    FixSessionSlot fixNwInfoSlotSnapshot(uint16_t slotIndex);

    // Read by tests and by the reply conversion.
    FixSessionInfoContainer *sessionContainer() { return m_sessionContainer.get(); }
    const char *contractExpiryOffset() const { return m_contractExpiryOffset; }
    bool fileLogsEnabled() const { return m_logFactory != nullptr && m_fileLogs; }
    fixLoggerObject *loggerObject() { return m_fixLoggerObject.get(); }

  private:
    FixRequestRoad fixNwInfoRequestRoad();
    // The request handlers' common course (fix_request_road.cpp): the shutdown test where
    // the handler has one, the session check that logs the client out, the road to the
    // queue and the outcome's log line or the gateway's stop.
    void fixNwInfoTakeRequest(const FixRequestTexts &texts, const FIX::Message &request,
                              const FIX::SessionID &sessionId, uint32_t length,
                              const FixRecordBuilder &builder);
    int32_t fixNwInfoBuildSpread(const FIX42::SpreadMultiLegSingle &spread, uint8_t *record,
                                 const FixSessionSlot &slot);
    int32_t fixNwInfoBuildSpreadReplace(const FIX42::SpreadCancelReplaceRequest &replace, uint8_t *record,
                                        const FixSessionSlot &slot);
    // Logon admission (fix_session_callbacks.cpp), on the acceptor thread under the lock.
    void fixNwInfoLogonHandler(const FIX42::Logon &logon, const FIX::SessionID &sessionId);
    bool fixNwInfoRefuseKnownSession(const FIX42::Logon &logon, const FIX::SessionID &sessionId);
    bool fixNwInfoRefuseFullTable(const FIX::SessionID &sessionId);
    void fixNwInfoTakeSlot(const FIX::SessionID &sessionId, const FixLogonFields &fields);
    void fixNwInfoNotifyBoxOfClient(const FIX::SessionID &sessionId);
    void fixNwInfoGate(int32_t status, const FIX::Message &message, const FIX::SessionID &sessionId);
    void fixNwInfoEndPendingSession(ea_sync_guard &lock, uint16_t index, const FIX::SessionID &sessionId);
    void fixNwInfoEndLiveSession(ea_sync_guard &lock, uint16_t index, const FIX::SessionID &sessionId);
    void fixNwInfoSendConsoleEvent(uint16_t reasonCode);
    void fixNwInfoRaiseStoreFailing(uint32_t userId, int error, logger_object *logger);
    void fixNwInfoQueueSend(FixDeferredSend::Kind kind, FIX::Message *message,
                            const FIX::SessionID &sessionId, int32_t nwHandle, const std::string &reason);
    void fixNwInfoFlushDeferredSends(std::vector<FixDeferredSend> &sends);
    void fixNwInfoSendNow(FixDeferredSend &send);
    bool shuttingDown() const;
    void setShutdown();
    // Journal download (fix_journal_download.cpp), on the acceptor thread under the lock.
    void fixNwInfoEmptyJournalQueue();
    void fixNwInfoStartJournalDownload(const FIX42::TradingSessionStatusRequest &request,
                                       const FIX::SessionID &sessionId, uint16_t slotIndex);
    void fixNwInfoReadStreamTime(const FIX42::TradingSessionStatusRequest &request, uint32_t stream,
                                 FixSessionSlot *slot);
    bool fixNwInfoQueueJournalRequest(uint16_t slotIndex, uint32_t stream);
    bool fixNwInfoSendJournalRequests(uint16_t slotIndex);
    FIX::Message *fixNwInfoBuildLogonResponse(const FixSessionSlot *slot);
    FIX::Message *fixNwInfoBuildTradingSessionStatus(const FixSessionSlot *slot, uint32_t journalValue);

    // Reply routing (fix_reply_routing.cpp). Each handler of a transcode is called with the
    // lock held; it ends the reply itself (releasing the lock, with 0, 203 or 10000) or
    // hands back a FIX message to send with FIX_REPLY_TO_SEND, the lock still held.
    typedef int32_t (FixNwInfoClass::*FixReplyHandler)(ea_sync_guard &lock, message *msg, uint16_t slotIndex,
                                                       FIX::Message **out, logger_object *logger);
    FixReplyHandler fixNwInfoReplyHandler(int16_t transcode);
    bool fixNwInfoReplySlot(const message *msg, uint16_t *slotIndex, logger_object *logger);
    int32_t fixNwInfoOnSignOnResponse(ea_sync_guard &lock, message *msg, uint16_t slotIndex,
                                      FIX::Message **out, logger_object *logger);
    int32_t fixNwInfoOnSystemInformation(ea_sync_guard &lock, message *msg, uint16_t slotIndex,
                                         FIX::Message **out, logger_object *logger);
    int32_t fixNwInfoOnJournalHeader(ea_sync_guard &lock, message *msg, uint16_t slotIndex,
                                     FIX::Message **out, logger_object *logger);
    int32_t fixNwInfoOnJournalData(ea_sync_guard &lock, message *msg, uint16_t slotIndex, FIX::Message **out,
                                   logger_object *logger);
    int32_t fixNwInfoOnJournalTrailer(ea_sync_guard &lock, message *msg, uint16_t slotIndex,
                                      FIX::Message **out, logger_object *logger);
    int32_t fixNwInfoOnSecondaryJournal(ea_sync_guard &lock, message *msg, uint16_t slotIndex,
                                        FIX::Message **out, logger_object *logger);
    int32_t fixNwInfoOnReply(ea_sync_guard &lock, message *msg, uint16_t slotIndex, FIX::Message **out,
                             logger_object *logger);
    int32_t fixNwInfoHandleSignOnResponse(ea_sync_guard &lock, message *msg, uint16_t slotIndex,
                                          logger_object *logger);
    int32_t fixNwInfoLogOnly(ea_sync_guard &lock, message *msg, logger_object *logger);
    int32_t fixNwInfoConversionEnded(ea_sync_guard &lock, message *msg, FIX::Message *fixMessage,
                                     int32_t status);
    // Client control (fix_client_control.cpp).
    int32_t fixNwInfoDisconnectPendingClients(logger_object *logger);
    int32_t fixNwInfoDisconnectPendingClient(uint16_t slotIndex, logger_object *logger);
    int32_t fixNwInfoDisconnectNamedClient(message *msg, logger_object *logger);
    void fixNwInfoLogStaleClientRecord(const message *msg, uint16_t slotIndex, logger_object *logger);
    void fixNwInfoSendClientLogout(const FIX::SessionID &copy, int32_t handle, uint16_t slotIndex,
                                   uint16_t reasonCode, logger_object *logger);
    int32_t fixNwInfoEndClientSession(ea_sync_guard &lock, const message *msg, uint16_t slotIndex,
                                      logger_object *logger);
    int32_t fixNwInfoForwardLogoffFlush(message *msg, int32_t result, logger_object *logger);
    int32_t fixNwInfoSendToClient(ea_sync_guard &lock, message *msg, FIX::Message *fixMessage,
                                  uint16_t slotIndex, logger_object *logger);
    void fixNwInfoLogUndelivered(const message *msg, const FIX::Message &fixMessage,
                                 const FIX::SessionID &sessionId, int32_t handle, logger_object *logger);
    void fixNwInfoLogUndeliveredAfterEnd(const message *msg, logger_object *logger);

  public:
    uint16_t m_currentSessionIndex;

  private:
    shared_queue *m_requestQueue;
    shared_queue *m_notificationQueue;
    shared_queue *m_consoleQueue;
    ea_flag *m_shutdownFlag;
    logger_object *m_logger;     // "fix_network_handler_recv_thread"
    void *m_loggerSlot;          // the acceptor reads this slot through its hook
    void *m_fixLoggerObjectSlot; // the acceptor reads this slot through its hook
    char m_contractExpiryOffset[FIX_CONTRACT_EXPIRY_OFFSET_SIZE];
    bool m_fileLogs;
    bool m_acceptorStarted;                  // a failed start must not be stopped (the engine's HTTP count)
    int m_deferDepth;                        // > 0 inside fromApp and fromAdmin
    std::vector<FixDeferredSend> m_deferred; // acceptor thread only
    uint16_t m_maxSessions;
    // The store failure last said of each session whose store could not be made.
    std::map<std::string, std::string> m_storesNotMade;

    // What the application makes, in the order the constructor makes it: a constructor
    // that fails part-way frees what it has made, and the destructor frees everything,
    // in the reverse order, the acceptor (which calls into all of it) first.
    std::unique_ptr<fixLoggerObject> m_fixLoggerObject;
    std::unique_ptr<queue, FixQueueFree> m_localQueue;
    std::unique_ptr<queue, FixQueueFree> jd_output_request_queue;
    std::unique_ptr<FixSessionInfoContainer> m_sessionContainer;
    std::unique_ptr<ea_sync_info, FixLockFree> m_lock;
    std::unique_ptr<FIX::SessionSettings> m_settings;
    std::unique_ptr<FIX::FileStoreFactory> m_storeFactory;
    std::unique_ptr<FIX::FileLogFactory> m_logFactory;
    std::unique_ptr<FIX::SocketAcceptor> m_acceptor;
};

#pragma GCC diagnostic pop

// The acceptor's log-roll hook in the form the engine calls it.
int32_t fixNwInfoLoggerObjectReinitializeHook(void *fixLoggerObjectPointer, void *gatewayLogger);
