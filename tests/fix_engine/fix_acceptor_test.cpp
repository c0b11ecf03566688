// The listening side with the gateway's changes: the FIX and HTTP listeners bind to the
// DEFAULT NicIpAddress (every interface without it), an invalid address fails the start
// with an error that names it, and the acceptor's thread rolls the logs through the
// gateway's hooks when the day flag is raised, unless the gateway is shutting down. Only
// loopback addresses are used.
#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <vector>

#include "fix_engine/fix_acceptor_test_support.h"

namespace
{

using fix_test::acceptorSettings;
using fix_test::RunningAcceptor;

TEST(BindAddress, SessionSectionAddressIsNotRead)
{
    fix_test::TempFolder folder;
    qel_test::reserved_port fixReservation;
    const uint16_t fixPort = fixReservation.number();
    RunningAcceptor running(acceptorSettings(folder.path(), fixPort, "", "NicIpAddress=127.0.0.2\n"));
    EXPECT_TRUE(fix_test::canConnect("127.0.0.1", fixPort));
}

TEST(BindAddress, InvalidAddressFailsTheStart)
{
    const char *addresses[] = {"not.an.address", "256.1.1.1", "127.0.0", "127.0.0.1.1"};
    for (const char *address : addresses)
    {
        SCOPED_TRACE(address);
        fix_test::TempFolder folder;
        qel_test::reserved_port fixReservation;
        const uint16_t fixPort = fixReservation.number();
        RunningAcceptor running(
            acceptorSettings(folder.path(), fixPort, std::string("NicIpAddress=") + address + "\n"), false);
        try
        {
            // An error left over from an earlier call is not what the start reports.
            errno = EEXIST;
            running.start();
            ADD_FAILURE() << "started";
        }
        catch (const FIX::RuntimeError &e)
        {
            EXPECT_EQ("Unable to create, bind, or listen to port " + std::to_string(fixPort) +
                          " (Socket Error: Invalid argument: NicIpAddress=" + address + ")",
                      e.detail);
        }
        EXPECT_FALSE(fix_test::canConnect("127.0.0.1", fixPort));

        errno = EEXIST;
        EXPECT_EQ(-1, FIX::socket_createAcceptor(0, true, address));
        EXPECT_EQ(EINVAL, errno);
    }
}

// The gateway's side of the roll, as plain functions behind the hooks.
std::atomic<int> g_loggerRolls{0};
std::atomic<int> g_logRolls{0};
std::atomic<int32_t> g_loggerResult{0};
std::atomic<void *> g_seenFixLoggerObject{nullptr};
std::atomic<void *> g_seenGatewayLogger{nullptr};
std::atomic<FIX::Log *> g_seenLog{nullptr};

int32_t loggerObjectReinitialize(void *fixLoggerObject, void *gatewayLogger)
{
    g_seenFixLoggerObject = fixLoggerObject;
    g_seenGatewayLogger = gatewayLogger;
    g_loggerRolls++;
    return g_loggerResult;
}

// Renames a log's files to today's date when their date is older, as the gateway does.
void logReinitialize(FIX::Log *log)
{
    g_seenLog = log;
    g_logRolls++;
    if (log == nullptr || log->getMutex() == nullptr)
        return;
    FIX::Locker lock(*log->getMutex());
    const std::string today = fix_test::localDate(::time(nullptr));
    std::ofstream *streams[] = {log->getMessagesStream(), log->getEventStream()};
    std::string *names[] = {log->getMessagesFileName(), log->getEventFileName()};
    for (int i = 0; i < 2; i++)
    {
        const std::string::size_type dot = names[i]->rfind('.');
        if (dot < 8 || strcasecmp(today.c_str(), names[i]->substr(dot - 8, 8).c_str()) <= 0)
            continue;
        *names[i] = names[i]->substr(0, dot - 8) + today + names[i]->substr(dot);
        streams[i]->close();
        streams[i]->open(names[i]->c_str(), std::ios::out | std::ios::trunc);
    }
}

// What the gateway lends the acceptor: its two flags and its two slots.
struct GatewaySide
{
    int gatewayLogger = 0;
    int fixLoggerObject = 0;
    void *gatewayLoggerSlot = &gatewayLogger;
    void *fixLoggerObjectSlot = &fixLoggerObject;
    std::atomic<uint16_t> dayFlag{0};
    std::atomic<uint16_t> shutdownFlag{0};
};

class LogRollHooks : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        g_loggerRolls = 0;
        g_logRolls = 0;
        g_loggerResult = 0;
        g_seenLog = nullptr;
    }

    // An acceptor wired as the gateway wires it, before start.
    std::unique_ptr<RunningAcceptor> wired(fix_test::TempFolder &folder, GatewaySide &side,
                                           const std::string &target = "CLIENT")
    {
        m_ports.emplace_back(new qel_test::reserved_port());
        std::unique_ptr<RunningAcceptor> running(new RunningAcceptor(
            acceptorSettings(folder.path(), m_ports.back()->number(), "", "", target), false));
        FIX::SocketAcceptor &acceptor = *running->acceptor;
        EXPECT_EQ(nullptr, acceptor.m_pGatewayLogger);
        EXPECT_EQ(nullptr, acceptor.m_pLogReinitFlag);
        EXPECT_EQ(nullptr, acceptor.m_pShutdownFlag);
        EXPECT_EQ(nullptr, acceptor.m_pFixLoggerObject);
        acceptor.m_pGatewayLogger = &side.gatewayLoggerSlot;
        acceptor.m_pLogReinitFlag = &side.dayFlag;
        acceptor.m_pShutdownFlag = &side.shutdownFlag;
        acceptor.m_pFixLoggerObject = &side.fixLoggerObjectSlot;
        acceptor.setLogReinitialize(&loggerObjectReinitialize, &logReinitialize);
        return running;
    }

    std::vector<std::unique_ptr<qel_test::reserved_port>> m_ports; // outlive the acceptors
    GatewaySide m_side;
    std::atomic<uint16_t> &m_dayFlag = m_side.dayFlag;
    std::atomic<uint16_t> &m_shutdownFlag = m_side.shutdownFlag;
};

TEST_F(LogRollHooks, DayFlagRollsTheGatewayLoggersThenTheAcceptorsLog)
{
    fix_test::TempFolder folder;
    std::unique_ptr<RunningAcceptor> running = wired(folder, m_side);
    FIX::Log *global = running->acceptor->getLog();
    ASSERT_NE(nullptr, global->getMessagesFileName());
    EXPECT_NE(std::string::npos, global->getMessagesFileName()->find("/GLOBAL.messages."));

    // Yesterday's files, as the acceptor would hold them the morning after.
    const std::string today = *global->getMessagesFileName();
    {
        FIX::Locker lock(*global->getMutex());
        std::string *name = global->getMessagesFileName();
        const std::string::size_type dot = name->rfind('.');
        *name = name->substr(0, dot - 8) + "20000101" + name->substr(dot);
        global->getMessagesStream()->close();
        global->getMessagesStream()->open(name->c_str(), std::ios::out | std::ios::app);
    }
    running->start();

    m_dayFlag = 1;
    ASSERT_TRUE(fix_test::waitUntil([&] { return m_dayFlag.load() == 0; }));
    EXPECT_EQ(1, g_loggerRolls.load());
    EXPECT_EQ(1, g_logRolls.load());
    EXPECT_EQ(&m_side.fixLoggerObject, g_seenFixLoggerObject.load());
    EXPECT_EQ(&m_side.gatewayLogger, g_seenGatewayLogger.load());
    EXPECT_EQ(global, g_seenLog.load());
    EXPECT_EQ(0, m_shutdownFlag.load());
    EXPECT_EQ(today, *global->getMessagesFileName());
    global->onIncoming("written after the roll");
    EXPECT_EQ(1u, fix_test::readLines(today).size());
}

TEST_F(LogRollHooks, FailedRollStopsTheGateway)
{
    fix_test::TempFolder folder;
    std::unique_ptr<RunningAcceptor> running = wired(folder, m_side);
    running->start();
    g_loggerResult = 10000;

    m_dayFlag = 1;

    ASSERT_TRUE(fix_test::waitUntil([&] { return m_dayFlag.load() == 0; }));
    EXPECT_EQ(1, m_shutdownFlag.load());
    EXPECT_EQ(1, g_loggerRolls.load());
    EXPECT_EQ(0, g_logRolls.load());
}

TEST_F(LogRollHooks, NoRollWhileShuttingDownOrWithoutTheGatewaysObjects)
{
    fix_test::TempFolder folder;
    std::unique_ptr<RunningAcceptor> stopping = wired(folder, m_side);
    GatewaySide withoutObjects;
    withoutObjects.fixLoggerObjectSlot = nullptr;
    fix_test::TempFolder otherFolder;
    std::unique_ptr<RunningAcceptor> empty = wired(otherFolder, withoutObjects, "OTHER");
    m_shutdownFlag = 1;
    m_dayFlag = 1;
    withoutObjects.dayFlag = 1;
    stopping->start();
    empty->start();

    // Each acceptor's socket wait ends at least once a second; give them a few turns.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_EQ(1, m_dayFlag.load());
    EXPECT_EQ(1, withoutObjects.dayFlag.load());
    EXPECT_EQ(0, g_loggerRolls.load());

    // The flag stayed raised: once the shutdown is withdrawn, the roll happens.
    m_shutdownFlag = 0;
    ASSERT_TRUE(fix_test::waitUntil([&] { return m_dayFlag.load() == 0; }));
    EXPECT_EQ(1, g_loggerRolls.load());
    EXPECT_EQ(1, withoutObjects.dayFlag.load());
}

TEST_F(LogRollHooks, UnwiredAcceptorRunsAsTheEngines)
{
    fix_test::TempFolder folder;
    qel_test::reserved_port reservation;
    const uint16_t port = reservation.number();
    RunningAcceptor running(acceptorSettings(folder.path(), port, ""));
    EXPECT_TRUE(fix_test::canConnect("127.0.0.1", port));
    EXPECT_EQ(0, g_loggerRolls.load());
}

} // namespace
