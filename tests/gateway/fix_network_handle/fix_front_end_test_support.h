// Helpers of the FIX front end suites: the shared queues and flags the application is
// given, records taken from and put on them, an application created from settings in a
// temporary folder, and a FIX client of the same engine that logs on with the dialect's
// Logon fields and records what it receives. The tests play the user session thread and
// the box communication thread through the queues. C++14, like the engine's headers.
#pragma once

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "FileStore.h"
#include "SocketInitiator.h"
#include "fix42/NewOrderSingle.h"
#include "fix42/TradingSessionStatusRequest.h"
#include "fix_engine/fix_engine_test_support.h"
#include "gateway/fix_network_handle/fix_nw_info.h"
#include "gateway/fix_network_handle/fix_nw_info_class.h"
#include "gateway/qel_main/ea_global.h"
#include "gateway/runtime/ea_flag.h"
#include "gateway/runtime/message.h"
#include "gateway/runtime/queue.h"
#include "gateway/runtime/shared_queue.h"
#include "gateway/runtime/wire.h"
#include "support/hex.h"

namespace fix_front_end_test
{

const char *const CLIENT_COMP_ID = "1001,MEMBR,1";
const char *const GATEWAY_COMP_ID = "QEL";

// The five shared queues of the FIX side, the shutdown and day flags and the per-link and
// per-client arrays of the global context.
struct GatewaySide
{
    GatewaySide()
    {
        for (int i : {SQ_FIX_TO_USER_SESSION, SQ_NOTIFICATIONS_TO_BOX_COMM, SQ_EVENTS_TO_INTERFACE,
                      SQ_USER_SESSION_TO_FIX_SEND, SQ_BOX_COMM_TO_FIX_SEND})
        {
            queues[i] = shared_queue_create(SHARED_QUEUE_SEMAPHORE);
            pending[i] = queue_create();
        }
        for (auto &f : allowInvitations)
            f.store(1);
    }
    ~GatewaySide()
    {
        for (int i = 0; i < EA_SHARED_QUEUE_COUNT; ++i)
        {
            if (queues[i] == nullptr)
                continue;
            shared_queue_get_elements_no_wait(queues[i], pending[i]);
            shared_queue_destroy(queues[i]);
            ea_destroy_message_queue(pending[i]);
        }
    }
    // The next record of one of the five queues within the time-out, or null. The caller
    // frees it.
    message *take(shared_queue *sq, int timeoutMs = 5000)
    {
        int i = 0;
        while (i < EA_SHARED_QUEUE_COUNT - 1 && queues[i] != sq)
            ++i;
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (queue_get_count(pending[i]) == 0 && std::chrono::steady_clock::now() < end)
            shared_queue_get_elements_from_single_queue(sq, pending[i], 10);
        return static_cast<message *>(queue_remove_head(pending[i]));
    }
    shared_queue *toUserSession() { return queues[SQ_FIX_TO_USER_SESSION]; }
    shared_queue *toBoxComm() { return queues[SQ_NOTIFICATIONS_TO_BOX_COMM]; }
    shared_queue *toInterface() { return queues[SQ_EVENTS_TO_INTERFACE]; }
    shared_queue *fromUserSession() { return queues[SQ_USER_SESSION_TO_FIX_SEND]; }
    shared_queue *fromBoxComm() { return queues[SQ_BOX_COMM_TO_FIX_SEND]; }

    // The gateway's queues by their indexes; the FIX front end's five exist, the rest are null.
    shared_queue *queues[EA_SHARED_QUEUE_COUNT] = {};
    queue *pending[EA_SHARED_QUEUE_COUNT] = {};
    ea_flag shutdown{0};
    ea_flag dayFlag14{0};
    ea_flag dayFlag13{0};
    ea_flag holdWord{0};
    ea_flag allowInvitations[4];
    ea_flag recoveryQueueOverflow[4] = {};
    ea_flag sessionRecovery[4] = {};
    ea_flag userLogoffInProgress[64] = {};
};

struct RecordDeleter
{
    void operator()(message *m) const { message_destroy(m); }
};
typedef std::unique_ptr<message, RecordDeleter> Record;

// A reply record as the user session thread hands it to the FIX send thread.
inline message *replyRecord(const std::string &hex, uint16_t clientIndex, int32_t handle)
{
    const std::vector<uint8_t> bytes = qel_test::from_hex(hex);
    message *m = message_create(static_cast<uint32_t>(bytes.size()), NORMAL_MESSAGE);
    if (!bytes.empty())
        memcpy(m->data, bytes.data(), bytes.size());
    m->user_type = 1;
    m->workstation_index = clientIndex;
    m->workstation_network_handle = handle;
    m->transcode = bytes.size() >= 12 ? get_i16_be(m->data, 10) : 0;
    return m;
}

// A reply of `length` bytes with the given header fields and zeros elsewhere.
inline message *zeroReply(uint32_t length, int16_t transcode, int16_t errorCode, uint16_t clientIndex,
                          int32_t handle)
{
    message *m = message_create(length, NORMAL_MESSAGE);
    memset(m->data, 0, length);
    put_u16_be(m->data, 10, static_cast<uint16_t>(transcode));
    put_u16_be(m->data, 12, static_cast<uint16_t>(errorCode));
    put_u16_be(m->data, 38, static_cast<uint16_t>(length));
    m->transcode = transcode;
    m->user_type = 1;
    m->workstation_index = clientIndex;
    m->workstation_network_handle = handle;
    return m;
}

inline std::string acceptorSettings(const fix_test::TempFolder &dir, uint16_t port, bool withSession,
                                    const std::vector<std::string> &targets, bool withDictionary = true)
{
    std::string text = "[DEFAULT]\nConnectionType=acceptor\nSocketAcceptPort=" + std::to_string(port) +
                       "\nNicIpAddress=127.0.0.1\nFileStorePath=" + dir.file("store") +
                       "\nFileLogPath=" + dir.file("fixlog") + "\nStartTime=00:00:00\nEndTime=00:00:00\n";
    text += withDictionary ? std::string("UseDataDictionary=Y\nDataDictionary=") + QEL_FIX_DICTIONARY_DIR +
                                 "/FIX42_qel_acceptor.xml\n"
                           : std::string("UseDataDictionary=N\n");
    for (const auto &target : targets)
        if (withSession)
            text += std::string("[SESSION]\nBeginString=FIX.4.2\nSenderCompID=") + GATEWAY_COMP_ID +
                    "\nTargetCompID=" + target + "\n";
    return text;
}

// The FIX application created through its entry point, from files in a temporary folder.
struct Application
{
    Application(GatewaySide &side, uint16_t maxClients, bool withSession = true,
                const std::string &configText = "CONTRACT_EXPIRY_OFFSET=15:30:00\n",
                const std::string &target = CLIENT_COMP_ID, const std::string &secondTarget = "",
                logger_object *logger = nullptr)
        : port(reservation.number())
    {
        std::vector<std::string> targets = {target};
        if (!secondTarget.empty())
            targets.push_back(secondTarget);
        std::ofstream(dir.file("fix_settings.cfg")) << acceptorSettings(dir, port, withSession, targets);
        std::ofstream(dir.file("qel_ip.cfg")) << configText;
        app = fix_nw_info_create(2, dir.file("fix_settings.cfg").c_str(), dir.file("qel_ip.cfg").c_str(),
                                 side.toUserSession(), side.toBoxComm(), side.toInterface(), maxClients,
                                 &side.shutdown, side.allowInvitations, side.recoveryQueueOverflow,
                                 &side.holdWord, side.sessionRecovery, side.userLogoffInProgress,
                                 &side.dayFlag14, logger);
    }
    ~Application() { fix_nw_info_destroy(app); }

    fix_test::TempFolder dir;
    qel_test::reserved_port reservation;
    uint16_t port;
    FixNwInfoClass *app = nullptr;
};

// A client that logs on with the dialect's Logon fields (overridable per test).
class DialectClient : public fix_test::ClientApplication
{
  public:
    DialectClient()
    {
        logonFields[FIX::FIELD::RawDataLength] = "5";
        logonFields[FIX::FIELD::RawData] = "41402";
        logonFields[554] = "secret";
    }
    void toAdmin(FIX::Message &message, const FIX::SessionID &id) override
    {
        if (message.getHeader().getField(FIX::FIELD::MsgType) == FIX::MsgType_Logon)
            for (const auto &field : logonFields)
            {
                if (field.second.empty())
                    message.removeField(field.first);
                else
                    message.setField(field.first, field.second);
            }
        fix_test::ClientApplication::toAdmin(message, id);
    }
    // The first received message of the type, or an empty text.
    std::string firstOfType(const std::string &type)
    {
        for (const auto &text : received())
            if (text.find("|35=" + type + "|") != std::string::npos)
                return text;
        return std::string();
    }
    std::map<int, std::string> logonFields;
};

struct Client
{
    Client(uint16_t port, const std::string &senderCompId = CLIENT_COMP_ID, int heartBeat = 30)
    {
        const std::string text =
            "[DEFAULT]\nConnectionType=initiator\nReconnectInterval=60\nFileStorePath=" + dir.file("store") +
            "\nStartTime=00:00:00\nEndTime=00:00:00\n"
            "UseDataDictionary=N\nLogonTimeout=30\n[SESSION]\nBeginString=FIX.4.2\nSenderCompID=" +
            senderCompId + "\nTargetCompID=" + GATEWAY_COMP_ID + "\nHeartBtInt=" + std::to_string(heartBeat) +
            "\nSocketConnectHost=127.0.0.1\nSocketConnectPort=" + std::to_string(port) + "\n";
        settings.reset(new FIX::SessionSettings(fix_test::settingsFrom(text)));
        stores.reset(new FIX::FileStoreFactory(*settings));
        initiator.reset(new FIX::SocketInitiator(application, *stores, *settings));
        id = FIX::SessionID("FIX.4.2", senderCompId, GATEWAY_COMP_ID);
    }
    ~Client()
    {
        if (started)
            initiator->stop(true);
    }
    void start()
    {
        initiator->start();
        started = true;
    }
    void send(FIX::Message &message) { FIX::Session::sendToTarget(message, id); }
    bool waitFor(const std::string &type, int timeoutMs = 10000)
    {
        return fix_test::waitUntil([&] { return !application.firstOfType(type).empty(); }, timeoutMs);
    }

    fix_test::TempFolder dir;
    DialectClient application;
    std::unique_ptr<FIX::SessionSettings> settings;
    std::unique_ptr<FIX::FileStoreFactory> stores;
    std::unique_ptr<FIX::SocketInitiator> initiator;
    FIX::SessionID id;
    bool started = false;
};

// The FIX send thread run in-process on the side's queues.
struct SendThread
{
    SendThread(GatewaySide &side, FixNwInfoClass *app, logger_object *logger = nullptr)
    {
        args.from_user_session = side.fromUserSession();
        args.to_box_comm = side.toBoxComm();
        args.to_interface = side.toInterface();
        args.from_box_comm = side.fromBoxComm();
        args.wait_time_ms = 10;
        args.day_flag = &side.dayFlag13;
        args.fix_nw_info = app;
        args.number_of_links = 1;
        args.shutdown_flag = &side.shutdown;
        args.logger = logger;
        thread = std::thread([this] { result = fix_nw_handler_send_thread(&args); });
    }
    ~SendThread() { stop(); }
    uint32_t stop()
    {
        if (thread.joinable())
        {
            ea_flag_set(args.shutdown_flag, 1);
            thread.join();
        }
        return result;
    }
    fix_nw_handler_send_thread_args args = {};
    std::thread thread;
    uint32_t result = 0;
};

inline void put(shared_queue *sq, message *m)
{
    ASSERT_EQ(shared_queue_insert_single_element(sq, m), 0);
}

} // namespace fix_front_end_test
