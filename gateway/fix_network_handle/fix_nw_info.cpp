// Set-up and tear-down of the FIX application and the plain entry points the gateway's
// modules call. The constructor builds everything in a fixed order into owning members,
// so a failed start leaves no engine object behind.
#include "gateway/fix_network_handle/fix_nw_info.h"

#include <cstring>
#include <new>
#include <string>

#include "DataDictionary.h"
#include "FileLog.h"
#include "SessionSettings.h"
#include "Values.h"
#include "common/config_file.h"
#include "gateway/fix_network_handle/fix_dialect.h"
#include "gateway/fix_network_handle/fix_nw_info_class.h"
#include "gateway/runtime/ea_sync_info.h"
#include "gateway/runtime/log_write_events.h"
#include "gateway/runtime/logger.h"
#include "gateway/runtime/message.h"
#include "gateway/runtime/queue.h"
#include "gateway/runtime/shared_queue.h"
#include "platform/core/pf_log_file.h"
#include "platform/core/pf_self.h"

int32_t fixNwInfoLoggerObjectReinitializeHook(void *fixLoggerObjectPointer, void *gatewayLogger)
{
    return fixNwInfoLoggerObjectReinitialize(static_cast<fixLoggerObject *>(fixLoggerObjectPointer),
                                             static_cast<logger_object *>(gatewayLogger));
}

// A settings file that names no data dictionary gets the dialect's acceptor dictionary
// from beside the gateway's executable, where it is installed with it (the build puts a
// copy beside the built gateway), so that an installed gateway reads nothing of the build
// tree. Without one the engine would neither start a validating session nor parse the
// dialect's repeating groups.
static void fixNwInfoDefaultDictionary(FIX::SessionSettings *settings)
{
    if (settings->get().has(FIX::DATA_DICTIONARY))
        return;
    std::string path;
    if (!pf_self_beside(FIX42::ACCEPTOR_DICTIONARY_FILE, &path))
        path = FIX42::ACCEPTOR_DICTIONARY_FILE;
    // Read once before anything of the engine is built: a missing or broken file fails the
    // start with the engine's own error naming the path, whereas an acceptor whose
    // constructor fails on it leaves its global log behind.
    FIX::DataDictionary readable(path);
    FIX::Dictionary defaults = settings->get();
    defaults.setString(FIX::DATA_DICTIONARY, path);
    settings->set(defaults);
}

// A settings file that names no session still gives the acceptor one session, which no
// client can take (its SenderCompID has TraderID 0), so that the listener runs and
// onCreate can report the missing definitions. Settings the file leaves out are
// chosen so that this session alone is valid.
static void fixNwInfoAddDummySession(FIX::SessionSettings *settings)
{
    if (!settings->getSessions().empty())
        return;
    const FIX::Dictionary &defaults = settings->get();
    FIX::Dictionary dummy;
    if (!defaults.has(FIX::CONNECTION_TYPE))
        dummy.setString(FIX::CONNECTION_TYPE, "acceptor");
    // Equal start and end times: a session that never closes.
    if (!defaults.has(FIX::START_TIME))
        dummy.setString(FIX::START_TIME, "00:00:00");
    if (!defaults.has(FIX::END_TIME))
        dummy.setString(FIX::END_TIME, "00:00:00");
    settings->set(FIX::SessionID(FIX::BeginString_FIX42, FIX_DUMMY_SENDER_COMP_ID, FIX_DUMMY_SENDER_COMP_ID),
                  dummy);
}

// The engine's file logs tell of failing writes as the gateway's own loggers do: by a
// console event on the queue that `consoleQueue` is.
static void fixNwInfoLogWriteAlarm(void *consoleQueue, const std::string &, bool failing,
                                   unsigned long long value)
{
    log_write_event_raise(static_cast<shared_queue *>(consoleQueue), failing, value);
}

// The engine's file logs make a missing folder by the system's one rule for log files.
static bool fixNwInfoMakeLogFolder(const char *fileName)
{
    return pf_log_folder_make_for(fileName, nullptr, 0);
}

// MAX_CLIENT_PENDING_MESG_COUNT, read as the workstation server reads it: missing or
// below 1, the default.
static size_t fixPendingLimit(const char *configFile)
{
    int32_t limit = 0;
    if (config_file_read_int(configFile, "MAX_CLIENT_PENDING_MESG_COUNT", &limit) != EA_SUCCESS || limit < 1)
        return FIX_DEFAULT_PENDING_LIMIT;
    return static_cast<size_t>(limit);
}

// FIX_LOGGING: file logs unless the key holds something other than "Y".
static bool fixFileLogsWanted(const char *configFile)
{
    char value[260] = {0};
    if (config_file_read_string(configFile, "FIX_LOGGING", value, sizeof(value)) != EA_SUCCESS)
        return true;
    return strcmp(value, "Y") == 0;
}

void FixQueueFree::operator()(queue *q) const
{
    ea_destroy_message_queue(q);
}

void FixLockFree::operator()(ea_sync_info *lock) const
{
    ea_sync_info_destroy(lock);
}

FixNwInfoClass::FixNwInfoClass(const FixNwInfoArgs &args)
    : m_currentSessionIndex(FIX_NO_SESSION_INDEX), m_requestQueue(args.requestQueue),
      m_notificationQueue(args.notificationQueue), m_consoleQueue(args.consoleQueue),
      m_shutdownFlag(args.shutdownFlag), m_logger(args.logger), m_loggerSlot(args.logger),
      m_fixLoggerObjectSlot(nullptr), m_fileLogs(true), m_acceptorStarted(false), m_deferDepth(0),
      m_maxSessions(args.maxTwsClients)
{
    memset(m_contractExpiryOffset, 0, sizeof(m_contractExpiryOffset));

    m_fixLoggerObject.reset(new (std::nothrow) fixLoggerObject());
    if (m_fixLoggerObject == nullptr)
        throw LogException("fixLoggerObject() failed.");
    m_fixLoggerObjectSlot = m_fixLoggerObject.get();
    m_localQueue.reset(queue_create());
    if (m_localQueue == nullptr)
        throw LogException("queue_create() failed.");
    jd_output_request_queue.reset(queue_create());
    if (jd_output_request_queue == nullptr)
        throw LogException("queue_create() failed for jd_output_request_queue.");
    try
    {
        // Its own LogException goes up as it is.
        m_sessionContainer.reset(new FixSessionInfoContainer(
            args.flowControlCount, args.maxTwsClients, args.allowInvitations, args.recoveryQueueOverflow,
            args.holdWord, args.sessionRecovery, args.userLogoffInProgress, m_logger));
    }
    catch (std::bad_alloc &)
    {
        throw LogException("fix_session_info_create() failed");
    }
    m_lock.reset(ea_sync_info_create(EA_SYNC_CRITICAL_SECTION, 0));
    if (m_lock == nullptr)
        throw LogException("ea_sync_info_create fail");
    // A blank value reads as an empty one: the orders would carry midnight as the expiry's
    // time of day, so it is refused like a missing one.
    if (config_file_read_string(args.configFile, "CONTRACT_EXPIRY_OFFSET", m_contractExpiryOffset,
                                sizeof(m_contractExpiryOffset)) != EA_SUCCESS ||
        m_contractExpiryOffset[0] == '\0')
    {
        EA_LOG(m_logger, EA_LEVEL_SYSTEM_ERROR, "[%s] Parameter not found in config file [%s]",
               "CONTRACT_EXPIRY_OFFSET", args.configFile);
        throw LogException("contract expiry offset parameter could not be read");
    }
    m_fileLogs = fixFileLogsWanted(args.configFile);
    const size_t pendingLimit = fixPendingLimit(args.configFile);
    m_fixLoggerObject->session_id_array =
        new (std::nothrow) FIX::SessionID *[m_maxSessions == 0 ? 1 : m_maxSessions];
    if (m_fixLoggerObject->session_id_array == nullptr)
        throw LogException("session_id_array fail");
    for (uint16_t i = 0; i < m_maxSessions; ++i)
        m_fixLoggerObject->session_id_array[i] = nullptr;

    try
    {
        m_settings.reset(new FIX::SessionSettings(args.fixFilePath));
        fixNwInfoDefaultDictionary(m_settings.get());
        fixNwInfoAddDummySession(m_settings.get());
        m_storeFactory.reset(new FIX::FileStoreFactory(*m_settings));
        m_logFactory.reset(new FIX::FileLogFactory(*m_settings));
        FIX::FileLog::setWriteAlarm(fixNwInfoLogWriteAlarm, m_consoleQueue);
        // The engine's lines about its logs go to standard error as the gateway's own do,
        // kept while the disk that holds standard error is full.
        FIX::FileLog::setSay(pf_log_say);
        // A missing folder is made as the gateway's own logs make it, and said once.
        FIX::FileLog::setMakeFolder(fixNwInfoMakeLogFolder);
        // onCreate runs inside this constructor, on this thread, for every session.
        if (m_fileLogs)
            m_acceptor.reset(new FIX::SocketAcceptor(*this, *m_storeFactory, *m_settings, *m_logFactory));
        else
            m_acceptor.reset(new FIX::SocketAcceptor(*this, *m_storeFactory, *m_settings));
        m_acceptor->m_pFixLoggerObject = &m_fixLoggerObjectSlot;
        m_acceptor->m_pGatewayLogger = &m_loggerSlot;
        m_acceptor->m_pLogReinitFlag = args.dayFlag;
        m_acceptor->m_pShutdownFlag = m_shutdownFlag;
        m_acceptor->setLogReinitialize(fixNwInfoLoggerObjectReinitializeHook, fixNwInfoLogReinitialize);
        m_acceptor->setOutputLimits(pendingLimit, FIX_HELD_OUTPUT_SECONDS);
        m_acceptor->start();
        m_acceptorStarted = true;
    }
    catch (FIX::Exception &e)
    {
        FIX::FileLog::setWriteAlarm(nullptr, nullptr);
        throw LogException(e.what());
    }
    catch (std::bad_alloc &)
    {
        FIX::FileLog::setWriteAlarm(nullptr, nullptr);
        throw LogException("fixNwInfoClass: out of memory");
    }
}

// The acceptor stops while everything it calls into still stands; the members then free
// themselves.
FixNwInfoClass::~FixNwInfoClass()
{
    fixNwInfoStopAcceptor();
}

// Stopped on request, or its thread ended by itself (its listener broke): either way no
// FIX client can reach the gateway any more.
int32_t FixNwInfoClass::fixNwInfoPollAcceptor()
{
    return m_acceptor == nullptr || m_acceptor->isStopped() || m_acceptor->hasThreadEnded() ? EA_ERROR
                                                                                            : EA_SUCCESS;
}

void FixNwInfoClass::fixNwInfoStopAcceptor()
{
    if (m_acceptor != nullptr && m_acceptorStarted)
        m_acceptor->stop(true);
    // Nothing of the engine writes a log any more; the console queue may go.
    FIX::FileLog::setWriteAlarm(nullptr, nullptr);
}

uint16_t FixNwInfoClass::fixNwInfoValidClientCount()
{
    ea_sync_guard lock(m_lock.get());
    return m_sessionContainer->valid_client_count;
}

FixSessionSlot FixNwInfoClass::fixNwInfoSlotSnapshot(uint16_t slotIndex)
{
    ea_sync_guard lock(m_lock.get());
    return m_sessionContainer->slots[slotIndex];
}

FixRequestRoad FixNwInfoClass::fixNwInfoRequestRoad()
{
    return FixRequestRoad{this,     m_sessionContainer.get(), m_currentSessionIndex, m_requestQueue,
                          m_logger, m_contractExpiryOffset};
}

bool FixNwInfoClass::shuttingDown() const
{
    return ea_flag_get(m_shutdownFlag) == 1;
}

void FixNwInfoClass::setShutdown()
{
    ea_flag_set(m_shutdownFlag, 1);
}

FixNwInfoClass *fix_nw_info_create(uint16_t flow_control_count, const char *fix_file_path,
                                   const char *config_file, shared_queue *to_user_session,
                                   shared_queue *to_box_comm, shared_queue *to_interface,
                                   uint16_t max_tws_clients, ea_flag *shutdown_flag,
                                   ea_flag *allow_invitations_flag, ea_flag *recovery_queue_overflow,
                                   ea_flag *abnormal_state_flag, ea_flag *session_recovery_flag,
                                   ea_flag *user_logoff_in_progress, ea_flag *day_flag, logger_object *logger)
{
    const FixNwInfoArgs args = {flow_control_count,
                                fix_file_path,
                                config_file,
                                to_user_session,
                                to_box_comm,
                                to_interface,
                                max_tws_clients,
                                shutdown_flag,
                                allow_invitations_flag,
                                recovery_queue_overflow,
                                abnormal_state_flag,
                                session_recovery_flag,
                                user_logoff_in_progress,
                                day_flag,
                                logger};
    try
    {
        return new FixNwInfoClass(args);
    }
    catch (LogException &e)
    {
        logger_object_log_message(logger_object_set_context(logger, EA_LEVEL_SYSTEM_ERROR,
                                                            "fix_nw_info_create", __FILE__, __LINE__),
                                  "%s", e.what());
    }
    catch (std::bad_alloc &)
    {
    }
    return nullptr;
}

ea_status fix_nw_info_poll_acceptor(FixNwInfoClass *application)
{
    return application == nullptr ? EA_SUCCESS : application->fixNwInfoPollAcceptor();
}

void fix_nw_info_stop(FixNwInfoClass *application)
{
    if (application != nullptr)
        application->fixNwInfoStopAcceptor();
}

void fix_nw_info_destroy(FixNwInfoClass *application)
{
    delete application;
}

ea_status fix_nw_info_send_mesg(FixNwInfoClass *application, message *msg, logger_object *logger)
{
    return application->fixNwInfoSendMesg(msg, logger);
}

ea_status fix_nw_info_disconnect_client(FixNwInfoClass *application, message *msg, uint16_t operation,
                                        logger_object *logger)
{
    return application->fixNwInfoDisconnectClient(msg, operation, logger);
}

ea_status fix_nw_info_process_incoming_clients(FixNwInfoClass *application, uint16_t operation,
                                               logger_object *logger)
{
    return application->fixNwInfoProcessIncomingClients(operation, logger);
}

ea_status fix_nw_info_update_link_index(FixNwInfoClass *application, message *msg, uint16_t number_of_links,
                                        logger_object *logger)
{
    return application->fixNwInfoUpdateLinkIndex(msg, number_of_links, logger);
}

ea_status fix_nw_info_process_boxlogoff_flush(FixNwInfoClass *application, message *msg,
                                              logger_object *logger)
{
    return application->fixNwInfoProcessBoxLogoffFlush(msg, logger);
}
