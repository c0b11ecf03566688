// The acceptor's lines about a connection are held until it logs on, then written whole,
// or until it ends without a Logon, then folded with the lines of the connections from the
// same address that ended the same way. Clients that log on together, beside a flood of
// silent connects from another address, leave every line of their acceptance; a flood from
// one address neither hides a connection from another nor writes more than a few lines a
// second; connections from more addresses than the acceptor follows fold into one count;
// and when the acceptor stops, the connections still waiting end with it and every count
// not yet due is written, so that no line vanishes without its count.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "SocketInitiator.h"
#include "fix_engine/fix_acceptor_test_support.h"
#include "sim/hostile/hostile_peers.h"
#include "support/fix_event_log.h"

namespace
{

using fix_test::acceptorSettings;

std::string globalEvents(const fix_test::TempFolder &folder)
{
    return fix_test::readFile(folder.file("log/GLOBAL.event." + fix_test::localDate(time(nullptr)) + ".log"));
}

unsigned long long linesWithoutLogon(const fix_test::TempFolder &folder)
{
    return qel_test::fix_log_lines_without_logon(globalEvents(folder));
}

// Connects from `from` and closes at once, `count` times, each waited for until the
// acceptor has taken it.
void connectAndClose(const char *from, uint16_t port, size_t count)
{
    for (size_t i = 0; i < count; ++i)
    {
        const int s = fix_test::connectFrom(from, port);
        EXPECT_GE(s, 0) << from << " connection " << i;
        ::close(s);
    }
}

std::string sessionName(int i)
{
    return "C" + std::to_string(100 + i);
}

// The settings' sessions of the clients C101, C102, ...
std::string clientSessions(int count)
{
    std::string sessions;
    for (int i = 2; i <= count; ++i)
        sessions +=
            "[SESSION]\nBeginString=FIX.4.2\nSenderCompID=GATEWAY\nTargetCompID=" + sessionName(i) + "\n";
    return sessions;
}

// Clients of the same engine, one session each, that connect from 127.0.0.2 together.
struct Clients
{
    Clients(uint16_t port, int count)
    {
        std::string text = "[DEFAULT]\nConnectionType=initiator\nSocketConnectHost=127.0.0.1\n"
                           "SocketConnectSourceHost=127.0.0.2\nSocketConnectPort=" +
                           std::to_string(port) +
                           "\nStartTime=00:00:00\nEndTime=00:00:00\nHeartBtInt=30\n"
                           "ReconnectInterval=30\nResetOnLogon=Y\nUseDataDictionary=N\n";
        for (int i = 1; i <= count; ++i)
            text +=
                "[SESSION]\nBeginString=FIX.4.2\nSenderCompID=" + sessionName(i) + "\nTargetCompID=GATEWAY\n";
        settings = fix_test::settingsFrom(text);
        initiator.reset(new FIX::SocketInitiator(application, stores, settings));
        initiator->start();
    }
    ~Clients() { initiator->stop(true); }

    fix_test::ClientApplication application;
    FIX::SessionSettings settings;
    FIX::MemoryStoreFactory stores;
    std::unique_ptr<FIX::SocketInitiator> initiator;
};

TEST(LinesWithoutLogon, ClientsLoggingOnTogetherBesideAFloodLeaveEveryAcceptanceLine)
{
    const int kClients = 12;
    fix_test::TempFolder folder;
    qel_test::reserved_port portReservation; // held until the server binds it
    const uint16_t port = portReservation.number();
    // The first client's session is the one acceptorSettings names; the others follow it.
    fix_test::RunningAcceptorOf<fix_test::ClientApplication> running(
        acceptorSettings(folder.path(), port, "", clientSessions(kClients), sessionName(1)));
    qel_sim::silent_connect_flood flood;
    flood.start("127.0.0.1", port, 4, 0);
    ASSERT_TRUE(fix_test::waitUntil([&] { return flood.connects() >= 1000; }, 15000));
    {
        Clients clients(port, kClients);
        EXPECT_TRUE(
            fix_test::waitUntil([&] { return running.application.m_logons.load() == kClients; }, 15000));
    }
    flood.stop();

    // The flood's count is written a second after its spell began, and a quick run gets
    // here sooner: waited for, within a bound.
    EXPECT_TRUE(fix_test::waitUntil(
        [&] { return qel_test::fix_log_lines_left_out(globalEvents(folder), "127.0.0.1") > 0; }, 15000))
        << globalEvents(folder);
    const std::string events = globalEvents(folder);
    EXPECT_EQ(static_cast<size_t>(kClients),
              qel_test::count_of(events, " : Accepted connection from 127.0.0.2 "))
        << events;
    EXPECT_EQ(0u, qel_test::fix_log_lines_left_out(events, "127.0.0.2")) << events;
}

// A connection from another address that ends without a Logon during a flood from
// 127.0.0.1 is written, not counted with the flood's; the count lines name their address
// and how the connections ended.
TEST(LinesWithoutLogon, AFloodFromOneAddressDoesNotFoldTheLinesOfAnother)
{
    fix_test::TempFolder folder;
    qel_test::reserved_port portReservation; // held until the server binds it
    const uint16_t port = portReservation.number();
    fix_test::RunningAcceptor running(acceptorSettings(folder.path(), port, ""));
    const size_t kFlood = 100;
    connectAndClose("127.0.0.1", port, kFlood);
    connectAndClose("127.0.0.3", port, 1);
    ASSERT_TRUE(fix_test::waitUntil([&] { return linesWithoutLogon(folder) == kFlood + 1; }))
        << globalEvents(folder);
    const std::string events = globalEvents(folder);
    EXPECT_EQ(1u, qel_test::count_of(events, " : Accepted connection from 127.0.0.3 ")) << events;
    EXPECT_LE(qel_test::count_of(events, " : Accepted connection from 127.0.0.1 "),
              static_cast<size_t>(FIX::SocketAcceptor::LINES_WITHOUT_LOGON_AT_ONCE))
        << events;
    EXPECT_LE(1u, qel_test::count_of(events, " lines about connections without a Logon from 127.0.0.1 "
                                             "(closed before a Logon)\n"))
        << events;
}

// Connections from more addresses than the acceptor follows spells for: the lines of the
// addresses past them fold into one count for every other address, and the log stays short.
TEST(LinesWithoutLogon, ConnectionsFromManyAddressesFoldIntoOneCount)
{
    fix_test::TempFolder folder;
    qel_test::reserved_port portReservation; // held until the server binds it
    const uint16_t port = portReservation.number();
    fix_test::RunningAcceptor running(acceptorSettings(folder.path(), port, ""));
    const size_t kAddresses = FIX::SocketAcceptor::MAX_SPELLS_WITHOUT_LOGON + 8;
    const size_t kEach = 20;
    // Round after round, every address in turn: no spell has a quiet second.
    for (size_t round = 0; round < kEach; ++round)
        for (size_t a = 0; a < kAddresses; ++a)
            connectAndClose(("127.0.1." + std::to_string(a + 1)).c_str(), port, 1);
    ASSERT_TRUE(fix_test::waitUntil([&] { return linesWithoutLogon(folder) == kAddresses * kEach; }, 10000))
        << globalEvents(folder);
    const std::string events = globalEvents(folder);
    EXPECT_GT(qel_test::fix_log_lines_left_out(events, "other addresses"), 0u) << events;
    // Each spell writes its first lines and counts the rest.
    const size_t spells = FIX::SocketAcceptor::MAX_SPELLS_WITHOUT_LOGON + 1;
    EXPECT_LE(qel_test::count_of(events, " : Accepted connection from "),
              spells * FIX::SocketAcceptor::LINES_WITHOUT_LOGON_AT_ONCE)
        << events;
}

// Connections that close without a Logon just before the acceptor stops, more than a spell
// writes at once, and some still waiting for their Logon: once it has stopped, every one
// is written or counted, the count written at the stop though not yet due. A client that
// logs on after them all marks that the acceptor has taken them in (it takes connections
// in the order they came).
TEST(LinesWithoutLogon, AtTheStopEveryLineHeldOrLeftOutIsWrittenOrCounted)
{
    fix_test::TempFolder folder;
    qel_test::reserved_port portReservation; // held until the server binds it
    const uint16_t port = portReservation.number();
    const size_t kClosed = 30;
    const size_t kWaiting = 20;
    std::vector<int> waiting;
    std::unique_ptr<Clients> marker;
    {
        fix_test::RunningAcceptorOf<fix_test::ClientApplication> running(
            acceptorSettings(folder.path(), port, "LogonTimeout=120\n", "", sessionName(1)));
        connectAndClose("127.0.0.1", port, kClosed);
        for (size_t i = 0; i < kWaiting; ++i)
        {
            waiting.push_back(fix_test::connectFrom("127.0.0.3", port));
            ASSERT_GE(waiting.back(), 0);
        }
        marker.reset(new Clients(port, 1));
        ASSERT_TRUE(fix_test::waitUntil([&] { return running.application.m_logons.load() == 1; }, 15000));
    }
    marker.reset();
    const std::string events = globalEvents(folder);
    EXPECT_EQ(kClosed + kWaiting + 1, qel_test::fix_log_lines_without_logon(events)) << events;
    EXPECT_EQ(1u, qel_test::count_of(events, " : Accepted connection from 127.0.0.2 ")) << events;
    EXPECT_GT(qel_test::fix_log_lines_left_out(events, "127.0.0.1"), 0u) << events;
    EXPECT_EQ(1u, qel_test::count_of(events, " lines about connections without a Logon from 127.0.0.3 "
                                             "(open at the stop)\n"))
        << events;
    for (int s : waiting)
        ::close(s);
}

} // namespace
