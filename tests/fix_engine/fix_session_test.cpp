// The engine's session with the gateway's changes: a Logon goes out only when marked with
// header tag 99999 = "VALID_LOGON" (and loses the mark), and the send with a network handle
// refuses a handle that is no longer the session's. A session here talks to a recording
// transport; the end-to-end cases run a real initiator of the same engine on loopback.
#include <gtest/gtest.h>

#include <cerrno>
#include <memory>

#include "FileLog.h"
#include "FileStore.h"
#include "SessionFactory.h"
#include "SessionState.h"
#include "SocketAcceptor.h"
#include "SocketInitiator.h"
#include "fix_engine/fix_engine_test_support.h"
#include "support/full_disk.h"

namespace
{

const FIX::SessionID kGatewaySide("FIX.4.2", "GATEWAY", "CLIENT");
const FIX::SessionID kUnknown("FIX.4.2", "GATEWAY", "NOBODY");

std::string settingsText(const std::string &folder, const std::string &extra)
{
    return "[DEFAULT]\n"
           "ConnectionType=acceptor\n"
           "StartTime=00:00:00\n"
           "EndTime=00:00:00\n"
           "UseDataDictionary=N\n"
           "FileStorePath=" +
           folder + "/store\nFileLogPath=" + folder + "/log\n" + extra +
           "[SESSION]\n"
           "BeginString=FIX.4.2\n"
           "SenderCompID=GATEWAY\n"
           "TargetCompID=CLIENT\n";
}

FIX::Message logon(int32_t heartBtInt = 30)
{
    FIX::Message message;
    message.getHeader().setField(FIX::MsgType(FIX::MsgType_Logon));
    message.setField(FIX::EncryptMethod(0));
    message.setField(FIX::HeartBtInt(heartBtInt));
    return message;
}

FIX::Message ofType(const char *type)
{
    FIX::Message message;
    message.getHeader().setField(FIX::MsgType(type));
    if (std::string(type) == FIX::MsgType_News)
        message.setField(FIX::Headline("market closed"));
    return message;
}

// A session of the gateway's side, with a file store and a file log, talking to a
// recording transport.
class SessionFixture : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        m_settings = fix_test::settingsFrom(settingsText(m_folder.path(), ""));
        m_storeFactory.reset(new FIX::FileStoreFactory(m_settings));
        m_logFactory.reset(new FIX::FileLogFactory(m_settings));
        m_factory.reset(new FIX::SessionFactory(m_application, *m_storeFactory, m_logFactory.get()));
        m_session = m_factory->create(kGatewaySide, m_settings.get(kGatewaySide));
        m_session->setResponder(&m_responder);
        FIX::SessionState *state = dynamic_cast<FIX::SessionState *>(m_session->getLog());
        m_fileLog = state->log();
        m_store = state->store();
    }
    void TearDown() override { m_factory->destroy(m_session); }

    // The client's Logon, as the engine receives it from the wire.
    void receiveClientLogon(int32_t seqNum = 1)
    {
        FIX::Message message = logon();
        FIX::Header &header = message.getHeader();
        header.setField(FIX::BeginString("FIX.4.2"));
        header.setField(FIX::SenderCompID("CLIENT"));
        header.setField(FIX::TargetCompID("GATEWAY"));
        header.setField(FIX::MsgSeqNum(seqNum));
        header.setField(FIX::SendingTime(FIX::UtcTimeStamp()));
        m_session->next(message.toString(), FIX::UtcTimeStamp());
    }

    std::vector<std::string> stored()
    {
        std::vector<std::string> messages;
        m_store->get(1, 100, messages);
        for (std::string &text : messages)
            text = fix_test::readable(text);
        return messages;
    }
    std::vector<std::string> messagesLog() { return fix_test::readLines(*m_fileLog->getMessagesFileName()); }
    std::vector<std::string> eventLog() { return fix_test::readLines(*m_fileLog->getEventFileName()); }

    fix_test::TempFolder m_folder;
    FIX::SessionSettings m_settings;
    fix_test::GatewayLikeApplication m_application;
    std::unique_ptr<FIX::FileStoreFactory> m_storeFactory;
    std::unique_ptr<FIX::FileLogFactory> m_logFactory;
    std::unique_ptr<FIX::SessionFactory> m_factory;
    fix_test::RecordingResponder m_responder;
    FIX::Session *m_session = nullptr;
    FIX::Log *m_fileLog = nullptr;
    FIX::MessageStore *m_store = nullptr;
};

struct LogonMarkCase
{
    const char *name;
    bool inHeader;
    bool inBody;
    const char *value;
    bool transmitted;
};

class LogonMark : public SessionFixture, public ::testing::WithParamInterface<LogonMarkCase>
{
};

TEST_P(LogonMark, OnlyTheExactHeaderMarkLetsALogonOut)
{
    const LogonMarkCase &c = GetParam();
    FIX::Message message = logon();
    if (c.inHeader)
        message.getHeader().setField(99999, c.value);
    if (c.inBody)
        message.setField(99999, c.value);
    std::vector<std::string> eventsBefore = eventLog();

    bool sent = FIX::Session::sendToTarget(message, kGatewaySide, -1);

    EXPECT_EQ(c.transmitted, sent);
    if (!c.transmitted)
    {
        // Held back without a trace: nothing sent, stored, counted or logged.
        EXPECT_TRUE(m_responder.sent().empty());
        EXPECT_EQ(1, m_session->getExpectedSenderNum());
        EXPECT_TRUE(stored().empty());
        EXPECT_TRUE(messagesLog().empty());
        EXPECT_EQ(eventsBefore, eventLog());
        return;
    }
    ASSERT_EQ(1u, m_responder.sent().size());
    const std::string wire = m_responder.sent()[0];
    EXPECT_NE(std::string::npos, wire.find("|35=A|"));
    EXPECT_NE(std::string::npos, wire.find("|34=1|"));
    // Only the header's mark is taken out; a body field of the same number stays.
    EXPECT_EQ(c.inBody, wire.find("99999=") != std::string::npos);
    EXPECT_EQ(2, m_session->getExpectedSenderNum());
    ASSERT_EQ(1u, stored().size());
    EXPECT_EQ(wire, stored()[0]);
    EXPECT_EQ(1u, messagesLog().size());
    EXPECT_FALSE(message.getHeader().isSetField(99999));
}

INSTANTIATE_TEST_SUITE_P(Values, LogonMark,
                         ::testing::Values(LogonMarkCase{"NoMark", false, false, "", false},
                                           LogonMarkCase{"LowerCase", true, false, "valid_logon", false},
                                           LogonMarkCase{"TrailingBlank", true, false, "VALID_LOGON ", false},
                                           LogonMarkCase{"LeadingBlank", true, false, " VALID_LOGON", false},
                                           LogonMarkCase{"Empty", true, false, "", false},
                                           LogonMarkCase{"OtherText", true, false, "VALID", false},
                                           LogonMarkCase{"BodyOnly", false, true, "VALID_LOGON", false},
                                           LogonMarkCase{"Header", true, false, "VALID_LOGON", true},
                                           LogonMarkCase{"HeaderAndBody", true, true, "VALID_LOGON", true}),
                         [](const ::testing::TestParamInfo<LogonMarkCase> &info)
                         { return std::string(info.param.name); });

TEST_F(SessionFixture, ClientLogonAnswerIsHeldUntilTheMarkedLogonGoesOutWithTheSameNumber)
{
    receiveClientLogon();

    EXPECT_EQ(1, m_application.m_admitted.load());
    EXPECT_TRUE(m_session->isLoggedOn());
    EXPECT_EQ(1, m_application.m_logons.load());
    EXPECT_TRUE(m_responder.sent().empty());
    EXPECT_EQ(1, m_session->getExpectedSenderNum());
    EXPECT_TRUE(stored().empty());
    ASSERT_EQ(1u, messagesLog().size()); // the client's Logon only

    FIX::Message answer = logon();
    answer.getHeader().setField(99999, "VALID_LOGON");
    EXPECT_TRUE(FIX::Session::sendToTarget(answer, kGatewaySide, m_session->m_nwHandle));

    ASSERT_EQ(1u, m_responder.sent().size());
    EXPECT_NE(std::string::npos, m_responder.sent()[0].find("|35=A|34=1|"));
    EXPECT_EQ(2, m_session->getExpectedSenderNum());
    EXPECT_EQ(2u, messagesLog().size());
}

TEST_F(SessionFixture, MarkOnOtherTypesIsNeitherCheckedNorRemoved)
{
    receiveClientLogon();
    const char *types[] = {FIX::MsgType_Heartbeat, FIX::MsgType_News};
    for (const char *type : types)
    {
        SCOPED_TRACE(type);
        size_t before = m_responder.sent().size();
        FIX::Message message = ofType(type);
        message.getHeader().setField(99999, "anything");
        EXPECT_TRUE(FIX::Session::sendToTarget(message, kGatewaySide));
        ASSERT_EQ(before + 1, m_responder.sent().size());
        EXPECT_NE(std::string::npos, m_responder.sent().back().find("|99999=anything|"));
    }
    EXPECT_EQ(3, m_session->getExpectedSenderNum());
}

TEST_F(SessionFixture, HandleCheckRefusesAStaleOrForeignHandle)
{
    receiveClientLogon();
    const int32_t admitted = m_session->m_nwHandle;
    ASSERT_EQ(6, admitted);

    struct
    {
        int32_t sessionHandle;
        int32_t callerHandle;
        bool refused;
    } cases[] = {
        {-1, 5, true},                 // before admission or after logout
        {-1, -1, false},               // -1 has no special meaning in the comparison
        {6, 6, false},   {7, 6, true}, // re-admitted under a new handle
        {7, 7, false},
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(::testing::Message() << c.sessionHandle << " vs " << c.callerHandle);
        m_session->m_nwHandle = c.sessionHandle;
        const int before = m_session->getExpectedSenderNum();
        const size_t sentBefore = m_responder.sent().size();
        FIX::Message message = ofType(FIX::MsgType_News);
        if (c.refused)
        {
            EXPECT_THROW(FIX::Session::sendToTarget(message, kGatewaySide, c.callerHandle),
                         FIX::NwHandleMismatch);
            EXPECT_EQ(before, m_session->getExpectedSenderNum());
            EXPECT_EQ(sentBefore, m_responder.sent().size());
        }
        else
        {
            EXPECT_TRUE(FIX::Session::sendToTarget(message, kGatewaySide, c.callerHandle));
            EXPECT_EQ(before + 1, m_session->getExpectedSenderNum());
        }
        // The header's session fields are filled either way.
        EXPECT_EQ("CLIENT", message.getHeader().getField(FIX::FIELD::TargetCompID));
    }

    // The engine's own two-argument form sends whatever the handle holds.
    m_session->m_nwHandle = 42;
    FIX::Message message = ofType(FIX::MsgType_News);
    EXPECT_TRUE(FIX::Session::sendToTarget(message, kGatewaySide));
}

TEST_F(SessionFixture, ExceptionsCarryTheirTextsAndBases)
{
    FIX::Message message = ofType(FIX::MsgType_News);
    for (int32_t handle : {-1, 5})
    {
        try
        {
            FIX::Session::sendToTarget(message, kUnknown, handle);
            ADD_FAILURE() << "no exception";
        }
        catch (const FIX::SessionNotFound &e)
        {
            EXPECT_STREQ("Session Not Found", e.what());
        }
    }
    try
    {
        FIX::Session::sendToTarget(message, kGatewaySide, 5);
        ADD_FAILURE() << "no exception";
    }
    catch (const FIX::Exception &e)
    {
        EXPECT_NE(nullptr, dynamic_cast<const FIX::NwHandleMismatch *>(&e));
        EXPECT_STREQ("NW Handle Mismatch", e.what());
        EXPECT_EQ("NW Handle Mismatch", e.type);
        EXPECT_EQ("", e.detail);
    }
    EXPECT_THROW(FIX::Session::sendToTarget(message, kGatewaySide, 5), std::logic_error);
}

TEST_F(SessionFixture, LogonAnswerForAClosedConnectionLeavesStoreAndNumbersAlone)
{
    receiveClientLogon();
    const int32_t handle = m_session->m_nwHandle;
    m_session->disconnect();
    EXPECT_EQ(1, m_application.m_logouts.load());
    EXPECT_EQ(-1, m_session->m_nwHandle.load());

    FIX::Message answer = logon();
    answer.getHeader().setField(99999, "VALID_LOGON");
    EXPECT_THROW(FIX::Session::sendToTarget(answer, kGatewaySide, handle), FIX::NwHandleMismatch);
    EXPECT_EQ(1, m_session->getExpectedSenderNum());
    EXPECT_TRUE(stored().empty());
}

// A full disk under the store (a file size cap at the body's end): an administrative message
// goes out with its number, unstored; an application message goes neither out nor into the
// numbers, the application hears which file failed and why, and a Logout that says why
// follows with the next number. Every later application message is refused alike, even
// once the disk has room, until the session is disconnected; then it trades as before.
TEST_F(SessionFixture, AMessageTheStoreCannotTakeIsNeitherSentNorNumberedAndEndsTheSession)
{
    receiveClientLogon();
    FIX::Message answer = logon();
    answer.getHeader().setField(99999, "VALID_LOGON");
    ASSERT_TRUE(FIX::Session::sendToTarget(answer, kGatewaySide, m_session->m_nwHandle));
    std::unique_ptr<std::vector<std::string *>> names(m_store->getFileNames());
    const std::string body = *(*names)[0];
    struct stat status;
    ASSERT_EQ(0, stat(body.c_str(), &status));
    auto wire = [&](size_t from)
    {
        std::vector<std::string> sent = m_responder.sent();
        return std::vector<std::string>(sent.begin() + static_cast<long>(std::min(from, sent.size())),
                                        sent.end());
    };

    qel_test::stderr_capture quiet; // the session's logs fail beside the store
    qel_test::file_size_cap cap(static_cast<rlim_t>(status.st_size));
    FIX::Message heartbeat = ofType(FIX::MsgType_Heartbeat);
    EXPECT_TRUE(FIX::Session::sendToTarget(heartbeat, kGatewaySide));
    ASSERT_EQ(1u, wire(1).size());
    EXPECT_NE(std::string::npos, wire(1)[0].find("|35=0|34=2|"));
    EXPECT_EQ(1u, stored().size()) << "sent unstored";

    for (int i = 0; i < 3; ++i)
    {
        SCOPED_TRACE(i);
        if (i == 2)
            cap.lift();
        FIX::Message news = ofType(FIX::MsgType_News);
        EXPECT_FALSE(FIX::Session::sendToTarget(news, kGatewaySide, m_session->m_nwHandle));
    }
    const std::vector<std::string> after = wire(2);
    ASSERT_EQ(1u, after.size()) << "one Logout, no News";
    EXPECT_NE(std::string::npos, after[0].find("|35=5|34=3|")) << after[0];
    EXPECT_NE(std::string::npos,
              after[0].find("|58=Messages cannot be stored (File too large): a message was not sent and the "
                            "session ends|"))
        << after[0];
    EXPECT_EQ(4, m_session->getExpectedSenderNum());
    EXPECT_EQ(std::vector<std::string>{body + " " + std::to_string(EFBIG)}, m_application.notStored());
    EXPECT_EQ(1u, stored().size());

    m_session->disconnect();
    m_session->setResponder(&m_responder); // the client connects again
    receiveClientLogon(2);
    answer.getHeader().setField(99999, "VALID_LOGON");
    ASSERT_TRUE(FIX::Session::sendToTarget(answer, kGatewaySide, m_session->m_nwHandle));
    FIX::Message news = ofType(FIX::MsgType_News);
    EXPECT_TRUE(FIX::Session::sendToTarget(news, kGatewaySide, m_session->m_nwHandle));
    EXPECT_NE(std::string::npos, m_responder.sent().back().find("|35=B|34=5|"));
    EXPECT_EQ(3u, stored().size()) << "the Logon answer and the News";
    EXPECT_EQ(1u, m_application.notStored().size());
}

// A session whose store cannot be made (a new session's files on a disk that takes
// nothing) is made all the same, on a store in memory, and the application hears which
// file failed and why. Each Logon is answered with a Logout that says why and the
// connection ends; the application sees neither the Logon nor a logout. Once the disk has
// room the next Logon makes the store, and the session logs on and stores as any other.
class SessionWithoutStore : public SessionFixture
{
  protected:
    void SetUp() override
    {
        m_full.reset(new qel_test::file_size_cap(0));
        SessionFixture::SetUp();
    }
    qel_test::stderr_capture m_quiet; // the session's logs fail beside the store
    std::unique_ptr<qel_test::file_size_cap> m_full;
};

TEST_F(SessionWithoutStore, ItsLogonsAreRefusedSayingWhyUntilTheStoreCanBeMade)
{
    const std::string heard =
        m_folder.path() + "/store/FIX.4.2-GATEWAY-CLIENT.session " + std::to_string(EFBIG);
    EXPECT_EQ(std::vector<std::string>{heard}, m_application.storesNotMade());
    EXPECT_EQ(nullptr, m_store->getFileNames()) << "a store in memory";

    for (size_t attempt = 1; attempt <= 2; ++attempt)
    {
        SCOPED_TRACE(attempt);
        m_responder.m_disconnected = false;
        m_session->setResponder(&m_responder);
        receiveClientLogon(static_cast<int32_t>(attempt));
        EXPECT_TRUE(m_responder.m_disconnected);
        const std::vector<std::string> sent = m_responder.sent();
        ASSERT_EQ(attempt, sent.size()) << "a Logout, nothing else";
        EXPECT_NE(std::string::npos, sent.back().find("|35=5|")) << sent.back();
        EXPECT_NE(std::string::npos, sent.back().find("|58=Messages cannot be stored (File too large): the "
                                                      "session's store cannot be made, so it cannot log on|"))
            << sent.back();
        EXPECT_EQ(0, m_application.m_admitted.load());
        EXPECT_EQ(0, m_application.m_logouts.load());
        EXPECT_EQ(std::vector<std::string>(attempt + 1, heard), m_application.storesNotMade());
    }

    m_full->lift();
    m_session->setResponder(&m_responder);
    receiveClientLogon(1);
    EXPECT_EQ(1, m_application.m_admitted.load()) << "the Logon reached the application";
    FIX::Message answer = logon();
    answer.getHeader().setField(99999, "VALID_LOGON");
    ASSERT_TRUE(FIX::Session::sendToTarget(answer, kGatewaySide, m_session->m_nwHandle));
    EXPECT_NE(std::string::npos, m_responder.sent().back().find("|35=A|34=1|")) << m_responder.sent().back();
    m_store = dynamic_cast<FIX::SessionState *>(m_session->getLog())->store();
    std::unique_ptr<std::vector<std::string *>> names(m_store->getFileNames());
    ASSERT_NE(nullptr, names) << "the file store";
    for (const std::string *name : *names)
        EXPECT_TRUE(fix_test::fileExists(*name)) << *name;
    EXPECT_EQ(1u, stored().size()) << "the Logon answer";
    EXPECT_EQ(3u, m_application.storesNotMade().size());
}

// The same engine as client and as gateway, on loopback.
class LoopbackSession : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        m_acceptorSettings = fix_test::settingsFrom(
            settingsText(m_folder.path(), "SocketAcceptPort=" + std::to_string(m_port) + "\n"));
        m_acceptorStores.reset(new FIX::FileStoreFactory(m_acceptorSettings));
        m_acceptorLogs.reset(new FIX::FileLogFactory(m_acceptorSettings));
        m_acceptor.reset(
            new FIX::SocketAcceptor(m_gateway, *m_acceptorStores, m_acceptorSettings, *m_acceptorLogs));
        m_acceptor->start();
    }
    void TearDown() override
    {
        stopClient();
        m_acceptor->stop(true);
        if (HasFailure())
            std::cerr << fix_test::readFile(
                *dynamic_cast<FIX::SessionState *>(gatewaySession()->getLog())->log()->getEventFileName());
    }

    void startClient()
    {
        m_clientSettings = fix_test::settingsFrom("[DEFAULT]\n"
                                                  "ConnectionType=initiator\n"
                                                  "SocketConnectHost=127.0.0.1\n"
                                                  "SocketConnectPort=" +
                                                  std::to_string(m_port) +
                                                  "\n"
                                                  "StartTime=00:00:00\nEndTime=00:00:00\n"
                                                  "HeartBtInt=30\nReconnectInterval=1\nResetOnLogon=Y\n"
                                                  "UseDataDictionary=N\n"
                                                  "[SESSION]\nBeginString=FIX.4.2\n"
                                                  "SenderCompID=CLIENT\nTargetCompID=GATEWAY\n");
        m_client.reset(new fix_test::ClientApplication);
        m_initiator.reset(new FIX::SocketInitiator(*m_client, m_clientStores, m_clientSettings));
        m_initiator->start();
    }
    void stopClient()
    {
        if (m_initiator)
            m_initiator->stop(true);
        m_initiator.reset();
    }
    FIX::Session *gatewaySession() { return FIX::Session::lookupSession(kGatewaySide); }
    bool admittedAndHeld(int admissions)
    {
        return fix_test::waitUntil([&] { return m_gateway.m_logons.load() == admissions; });
    }
    void sendMarkedLogon(int32_t handle)
    {
        FIX::Message answer = logon();
        answer.getHeader().setField(99999, "VALID_LOGON");
        FIX::Session::sendToTarget(answer, kGatewaySide, handle);
    }

    fix_test::TempFolder m_folder;
    qel_test::reserved_port m_reservation;
    uint16_t m_port = m_reservation.number();
    fix_test::GatewayLikeApplication m_gateway;
    FIX::SessionSettings m_acceptorSettings;
    std::unique_ptr<FIX::FileStoreFactory> m_acceptorStores;
    std::unique_ptr<FIX::FileLogFactory> m_acceptorLogs;
    std::unique_ptr<FIX::SocketAcceptor> m_acceptor;
    FIX::SessionSettings m_clientSettings;
    FIX::MemoryStoreFactory m_clientStores;
    std::unique_ptr<fix_test::ClientApplication> m_client;
    std::unique_ptr<FIX::SocketInitiator> m_initiator;
};

TEST_F(LoopbackSession, ClientSeesOnlyTheMarkedLogonNumberedOne)
{
    startClient();
    ASSERT_TRUE(admittedAndHeld(1));
    EXPECT_EQ(0, m_client->m_logons.load());
    EXPECT_EQ(1, gatewaySession()->getExpectedSenderNum());

    sendMarkedLogon(6);

    ASSERT_TRUE(fix_test::waitUntil([&] { return m_client->m_logons.load() == 1; }));
    std::vector<std::string> received = m_client->received();
    ASSERT_EQ(1u, received.size());
    EXPECT_NE(std::string::npos, received[0].find("|35=A|34=1|"));
    EXPECT_EQ(std::string::npos, received[0].find("99999"));
    EXPECT_EQ(2, gatewaySession()->getExpectedSenderNum());
}

TEST_F(LoopbackSession, HandleFollowsAdmissionLogoutAndReadmission)
{
    startClient();
    ASSERT_TRUE(admittedAndHeld(1));
    EXPECT_EQ(6, gatewaySession()->m_nwHandle.load());
    sendMarkedLogon(6);
    ASSERT_TRUE(fix_test::waitUntil([&] { return m_client->m_logons.load() == 1; }));

    stopClient();
    ASSERT_TRUE(fix_test::waitUntil([&] { return m_gateway.m_logouts.load() == 1; }));
    EXPECT_EQ(-1, gatewaySession()->m_nwHandle.load());
    FIX::Message late = ofType(FIX::MsgType_News);
    EXPECT_THROW(FIX::Session::sendToTarget(late, kGatewaySide, 6), FIX::NwHandleMismatch);

    startClient();
    ASSERT_TRUE(admittedAndHeld(2));
    EXPECT_EQ(7, gatewaySession()->m_nwHandle.load());
    FIX::Message stale = ofType(FIX::MsgType_News);
    EXPECT_THROW(FIX::Session::sendToTarget(stale, kGatewaySide, 6), FIX::NwHandleMismatch);
    sendMarkedLogon(7);
    ASSERT_TRUE(fix_test::waitUntil([&] { return m_client->m_logons.load() == 1; }));
}

TEST_F(LoopbackSession, DisconnectWhileLogonHeldClearsTheHandle)
{
    startClient();
    ASSERT_TRUE(admittedAndHeld(1));
    EXPECT_EQ(6, gatewaySession()->m_nwHandle.load());

    stopClient();

    ASSERT_TRUE(fix_test::waitUntil([&] { return m_gateway.m_logouts.load() == 1; }));
    EXPECT_EQ(-1, gatewaySession()->m_nwHandle.load());
    EXPECT_EQ(0, m_client->m_logons.load());
}

} // namespace
