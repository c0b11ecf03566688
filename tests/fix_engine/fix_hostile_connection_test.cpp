// What connections can do to the acceptor before they have logged on: a message whose
// BodyLength or whose unfinished bytes pass the largest message size is refused and its
// connection dropped with an event in the log; a connection that feeds its first message
// slowly holds no thread: other sessions log on meanwhile, and it is dropped once its
// logon time-out is over, as are connections that send nothing or half a message and then
// nothing; past 128 connections without a Logon the oldest of the address that holds the
// most are dropped, so a flood of silent connects from one address does not push out a
// client from another whose Logon comes late; the acceptor's lines about a connection are
// held until it logs on (then written) or ends without a Logon (then folded by address and
// way of ending), a few a second however fast they come, with every one written or
// counted, while every line of a client that logs on is written and a quiet second ends a
// fold; and a connection whose descriptor number is past what a select set holds is served
// like any other.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "Parser.h"
#include "SocketInitiator.h"
#include "fix_engine/fix_acceptor_test_support.h"
#include "sim/hostile/hostile_peers.h"
#include "support/fix_event_log.h"

namespace
{

using fix_test::acceptorSettings;
using fix_test::clientLogon;
using fix_test::RunningAcceptor;

const std::string kSoh(1, '\x01');

// A message of the given body, framed as the parser frames it (the CheckSum's value is not
// checked by the parser).
std::string framed(const std::string &body)
{
    return "8=FIX.4.2" + kSoh + "9=" + std::to_string(body.size()) + kSoh + body + "10=000" + kSoh;
}

// A body of exactly `size` bytes.
std::string bodyOf(size_t size)
{
    std::string body = "35=0" + kSoh + "58=";
    body += std::string(size - body.size() - 1, 'x') + kSoh;
    return body;
}

// Bytes of the header in front of a body of this size: "8=FIX.4.2|9=<size>|".
size_t headerOf(size_t size)
{
    return std::string("8=FIX.4.2" + kSoh + "9=" + std::to_string(size) + kSoh).size();
}

struct ParseCase
{
    const char *name;
    std::string bytes;
    bool tooLarge; // the bytes are refused with MessageTooLarge
    bool whole;    // otherwise: a whole message is read
};

TEST(MessageSize, TheParserReadsMessagesUpToTheLimitAndRefusesLargerOnes)
{
    const size_t limit = FIX::Parser::MAX_MESSAGE_SIZE;
    const size_t largestBody = limit - headerOf(limit - 20);
    const ParseCase cases[] = {
        {"ordinary message", framed(bodyOf(40)), false, true},
        {"body reaching the limit", framed(bodyOf(largestBody)), false, true},
        {"body one byte past the limit", framed(bodyOf(largestBody + 1)), true, false},
        {"huge BodyLength, nothing behind it", "8=FIX.4.2" + kSoh + "9=99999999" + kSoh + "35=A" + kSoh, true,
         false},
        {"unfinished message within the limit",
         "8=FIX.4.2" + kSoh + "9=50" + kSoh + std::string(limit / 2, 'x'), false, false},
        {"small BodyLength, no CheckSum, filler past the limit",
         "8=FIX.4.2" + kSoh + "9=5" + kSoh + std::string(limit + 10, 'x'), true, false},
        {"no BodyLength within the limit", "8=FIX.4.2" + kSoh + std::string(limit + 10, 'x'), true, false},
        {"no BeginString within the limit", std::string(limit + 10, 'x'), true, false},
    };
    for (const ParseCase &c : cases)
    {
        SCOPED_TRACE(c.name);
        FIX::Parser parser;
        std::string message;
        bool whole = false;
        bool tooLarge = false;
        // Fed in pieces, as the socket hands them over.
        for (size_t at = 0; at < c.bytes.size() && !whole && !tooLarge; at += 4096)
        {
            parser.addToStream(c.bytes.substr(at, 4096));
            try
            {
                whole = parser.readFixMessage(message);
            }
            catch (FIX::MessageTooLarge &)
            {
                tooLarge = true;
            }
        }
        EXPECT_EQ(c.tooLarge, tooLarge);
        EXPECT_EQ(c.whole, whole);
        if (whole)
        {
            EXPECT_EQ(c.bytes, message);
        }
        // After a refusal nothing is kept: the next message is read as it comes.
        if (tooLarge)
        {
            parser.addToStream(framed(bodyOf(40)));
            EXPECT_TRUE(parser.readFixMessage(message));
            EXPECT_EQ(framed(bodyOf(40)), message);
        }
    }
}

bool sendAll(int s, const std::string &bytes)
{
    size_t done = 0;
    while (done < bytes.size())
    {
        ssize_t n = ::send(s, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

std::string globalEvents(const fix_test::TempFolder &folder)
{
    return fix_test::readFile(folder.file("log/GLOBAL.event." + fix_test::localDate(time(nullptr)) + ".log"));
}

// Lines about connections without a Logon that only came and went, written or counted.
unsigned long long linesWithoutLogon(const fix_test::TempFolder &folder)
{
    return qel_test::fix_log_lines_without_logon(globalEvents(folder));
}

// The same engine as a client that logs on to the acceptor's session "CLIENT".
struct Client
{
    explicit Client(uint16_t port)
        : settings(fix_test::settingsFrom("[DEFAULT]\nConnectionType=initiator\nSocketConnectHost=127.0.0.1\n"
                                          "SocketConnectPort=" +
                                          std::to_string(port) +
                                          "\nStartTime=00:00:00\nEndTime=00:00:00\nHeartBtInt=30\n"
                                          "ReconnectInterval=1\nResetOnLogon=Y\nUseDataDictionary=N\n"
                                          "[SESSION]\nBeginString=FIX.4.2\nSenderCompID=CLIENT\n"
                                          "TargetCompID=GATEWAY\n")),
          initiator(application, stores, settings)
    {
        initiator.start();
    }
    ~Client() { initiator.stop(true); }

    fix_test::ClientApplication application;
    FIX::SessionSettings settings;
    FIX::MemoryStoreFactory stores;
    FIX::SocketInitiator initiator;
};

TEST(HostileConnection, AnOversizedFirstMessageDropsItsConnectionAndOthersAreServed)
{
    fix_test::TempFolder folder;
    qel_test::reserved_port portReservation; // held until the server binds it
    const uint16_t port = portReservation.number();
    RunningAcceptor running(acceptorSettings(folder.path(), port, ""));
    int attacker = fix_test::connectTo(port);
    ASSERT_GE(attacker, 0);
    ASSERT_TRUE(sendAll(attacker, "8=FIX.4.2" + kSoh + "9=99999999" + kSoh + "35=A" + kSoh));
    // Filler until the acceptor has closed the connection; far less than the BodyLength.
    const std::string filler(65536, 'x');
    size_t sent = 0;
    while (sent < (64u << 20) && sendAll(attacker, filler))
        sent += filler.size();
    EXPECT_LT(sent, 64u << 20) << "the connection was never dropped";
    ::close(attacker);
    EXPECT_TRUE(fix_test::waitUntil(
        [&]
        {
            return globalEvents(folder).find("passes the largest message size, "
                                             "connection dropped") != std::string::npos;
        }))
        << globalEvents(folder);

    Client client(port);
    EXPECT_TRUE(fix_test::waitUntil([&] { return running.application.m_admitted.load() == 1; }));
}

TEST(HostileConnection, AFirstMessageFedSlowlyHoldsNoThreadAndRunsOutOfTime)
{
    fix_test::TempFolder folder;
    qel_test::reserved_port portReservation; // held until the server binds it
    const uint16_t port = portReservation.number();
    RunningAcceptor running(acceptorSettings(folder.path(), port, ""));
    int attacker = fix_test::connectTo(port);
    ASSERT_GE(attacker, 0);
    std::atomic<bool> dropped{false};
    std::atomic<bool> stop{false};
    const auto started = std::chrono::steady_clock::now();
    std::thread drip(
        [&]
        {
            if (!sendAll(attacker, "8=FIX.4.2" + kSoh + "9=1000" + kSoh))
                return;
            // One byte every 200 ms, well inside the second the engine waited for each piece.
            while (!stop && !dropped)
            {
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
                dropped = !sendAll(attacker, "x");
            }
        });

    {
        Client client(port);
        EXPECT_TRUE(fix_test::waitUntil([&] { return running.application.m_admitted.load() == 1; }, 3000))
            << "a logon waited behind the slow connection";
    }
    EXPECT_TRUE(fix_test::waitUntil([&] { return dropped.load(); },
                                    (FIX::SocketAcceptor::DEFAULT_LOGON_TIMEOUT + 3) * 1000));
    const auto lasted = std::chrono::steady_clock::now() - started;
    EXPECT_GE(lasted, std::chrono::seconds(FIX::SocketAcceptor::DEFAULT_LOGON_TIMEOUT - 1));
    stop = true;
    drip.join();
    ::close(attacker);
    EXPECT_NE(std::string::npos,
              globalEvents(folder).find("No Logon from 127.0.0.1 within 10 seconds, connection dropped"));
}

// True when the peer has closed the connection; false while it stays open with nothing
// to read. Waits for neither.
bool closedByPeer(int s)
{
    char byte = 0;
    const ssize_t n = ::recv(s, &byte, 1, MSG_DONTWAIT);
    return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
}

TEST(HostileConnection, SilentAndHalfMessageConnectionsAreDroppedAfterTheLogonTimeOut)
{
    fix_test::TempFolder folder;
    qel_test::reserved_port portReservation; // held until the server binds it
    const uint16_t port = portReservation.number();
    RunningAcceptor running(acceptorSettings(folder.path(), port, "LogonTimeout=2\n"));
    const size_t kEach = 20;
    std::vector<int> idle;
    for (size_t i = 0; i < 2 * kEach; ++i)
    {
        int s = fix_test::connectTo(port);
        ASSERT_GE(s, 0);
        idle.push_back(s);
    }
    // Half the connections send the start of a Logon and then nothing.
    for (size_t i = kEach; i < idle.size(); ++i)
        ASSERT_TRUE(sendAll(idle[i], "8=FIX.4.2" + kSoh + "9=70" + kSoh + "35=A" + kSoh + "49=CLI"));

    Client client(port);
    ASSERT_TRUE(fix_test::waitUntil([&] { return running.application.m_admitted.load() == 1; }));

    // Each connection's acceptance and its drop are written or, as they come together,
    // counted; so is the client's acceptance.
    EXPECT_TRUE(fix_test::waitUntil([&] { return linesWithoutLogon(folder) == 2 * idle.size() + 1; }, 15000))
        << globalEvents(folder);
    for (size_t i = 0; i < idle.size(); ++i)
    {
        EXPECT_TRUE(fix_test::waitUntil([&] { return closedByPeer(idle[i]); }, 2000)) << "connection " << i;
        ::close(idle[i]);
    }
    // The session that logged on is not touched by the time-out.
    EXPECT_EQ(0, running.application.m_logouts.load());
    EXPECT_EQ(1, running.application.m_admitted.load());
}

TEST(HostileConnection, PastTheBoundTheOldestConnectionsWithoutALogonAreDropped)
{
    fix_test::TempFolder folder;
    qel_test::reserved_port portReservation; // held until the server binds it
    const uint16_t port = portReservation.number();
    // A long time-out: only the bound drops connections here.
    RunningAcceptor running(acceptorSettings(folder.path(), port, "LogonTimeout=120\n"));
    const size_t bound = FIX::SocketAcceptor::MAX_CONNECTIONS_WITHOUT_LOGON;
    const size_t kExtra = 30;
    std::vector<int> idle;
    for (size_t i = 0; i < bound + kExtra; ++i)
    {
        int s = fix_test::connectTo(port);
        ASSERT_GE(s, 0);
        idle.push_back(s);
    }
    // The acceptance and the drop of each connection dropped are written or counted; the
    // lines of the connections still waiting are held.
    EXPECT_TRUE(fix_test::waitUntil([&] { return linesWithoutLogon(folder) == 2 * kExtra; }))
        << globalEvents(folder);
    // The first to come are the ones dropped; the newest stay.
    for (size_t i = 0; i < kExtra; ++i)
        EXPECT_TRUE(fix_test::waitUntil([&] { return closedByPeer(idle[i]); }, 2000)) << "connection " << i;
    for (size_t i = kExtra; i < idle.size(); ++i)
        EXPECT_FALSE(closedByPeer(idle[i])) << "connection " << i;

    // A client that logs on at once is served while the bound is full.
    Client client(port);
    EXPECT_TRUE(fix_test::waitUntil([&] { return running.application.m_admitted.load() == 1; }));
    // As the others close, their acceptance is written or counted too; so is the client's,
    // whose connection pushed out one more of the oldest.
    for (int s : idle)
        ::close(s);
    EXPECT_TRUE(fix_test::waitUntil([&] { return linesWithoutLogon(folder) == idle.size() + kExtra + 2; }))
        << globalEvents(folder);
}

// Descriptors 1,024 and above, where a select set ends: the acceptor's listener, its
// files and every connection get such numbers here. The client logs on and nothing is
// written past a set (the address sanitizer's build would stop at it).
TEST(HostileConnection, ConnectionsPastTheSelectSetLimitAreServed)
{
    rlimit limit = {};
    ASSERT_EQ(0, getrlimit(RLIMIT_NOFILE, &limit));
    const rlim_t wanted = 2048;
    if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < wanted)
        GTEST_SKIP() << "the hard limit of descriptors is " << limit.rlim_max;
    const rlimit before = limit;
    limit.rlim_cur = wanted;
    ASSERT_EQ(0, setrlimit(RLIMIT_NOFILE, &limit));

    // Every number below 1,030 is taken, so whatever opens next gets a higher one.
    std::vector<int> fillers;
    for (;;)
    {
        int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        fillers.push_back(fd);
        if (fd >= 1030)
            break;
    }
    {
        fix_test::TempFolder folder;
        qel_test::reserved_port portReservation; // held until the server binds it
        const uint16_t port = portReservation.number();
        RunningAcceptor running(acceptorSettings(folder.path(), port, ""));
        Client client(port);
        EXPECT_TRUE(fix_test::waitUntil([&] { return running.application.m_admitted.load() == 1; }));
    }
    for (int fd : fillers)
        ::close(fd);
    setrlimit(RLIMIT_NOFILE, &before);
}

// Silent connections held open from one address, numbered in the order they came.
struct Crowd
{
    Crowd(const char *from, uint16_t port, size_t count) : address(from)
    {
        for (size_t i = 0; i < count; ++i)
            add(port);
    }
    ~Crowd()
    {
        for (int s : sockets)
            ::close(s);
    }
    void add(uint16_t port)
    {
        const int s = fix_test::connectFrom(address.c_str(), port);
        EXPECT_GE(s, 0) << address << " connection " << sockets.size();
        sockets.push_back(s);
    }
    std::string droppedLine() const
    {
        return "More than 128 connections without a Logon, the oldest from " + address + " dropped";
    }

    std::string address;
    std::vector<int> sockets;
};

TEST(HostileConnection, PastTheBoundTheAddressThatHoldsTheMostLosesItsOldest)
{
    const size_t bound = FIX::SocketAcceptor::MAX_CONNECTIONS_WITHOUT_LOGON;
    {
        fix_test::TempFolder folder;
        qel_test::reserved_port portReservation; // held until the server binds it
        const uint16_t port = portReservation.number();
        // A long time-out: only the bound drops connections here.
        RunningAcceptor running(acceptorSettings(folder.path(), port, "LogonTimeout=120\n"));
        Crowd flood("127.0.0.1", port, bound);
        // A client from another address has connected and not yet sent its Logon while
        // the flood goes on, well past the bound.
        Crowd client("127.0.0.2", port, 1);
        const size_t kMore = 2 * bound;
        for (size_t i = 0; i < kMore; ++i)
            flood.add(port);

        // Every connection past the bound cost the flood its own oldest: the acceptance and
        // the drop of each are written or counted, and no line names the client.
        EXPECT_TRUE(fix_test::waitUntil([&] { return linesWithoutLogon(folder) == 2 * (kMore + 1); }, 15000))
            << globalEvents(folder);
        EXPECT_EQ(0u, qel_test::count_of(globalEvents(folder), client.droppedLine()));
        for (size_t i = 0; i <= kMore; ++i)
            EXPECT_TRUE(fix_test::waitUntil([&] { return closedByPeer(flood.sockets[i]); }, 2000))
                << "connection " << i;
        for (size_t i = kMore + 1; i < flood.sockets.size(); ++i)
            EXPECT_FALSE(closedByPeer(flood.sockets[i])) << "connection " << i;
        ASSERT_FALSE(closedByPeer(client.sockets[0]));

        // Its Logon, however late, is served.
        ASSERT_TRUE(sendAll(client.sockets[0], clientLogon()));
        EXPECT_TRUE(fix_test::waitUntil([&] { return running.application.m_admitted.load() == 1; }));
    }
    {
        // Two addresses that hold as many: the one whose oldest came first loses it.
        fix_test::TempFolder folder;
        qel_test::reserved_port portReservation;
        const uint16_t port = portReservation.number();
        RunningAcceptor running(acceptorSettings(folder.path(), port, "LogonTimeout=120\n"));
        Crowd first("127.0.0.3", port, bound / 2);
        Crowd second("127.0.0.4", port, bound / 2);
        Crowd third("127.0.0.5", port, 0);
        third.add(port); // the first holds as many as the second and came first
        EXPECT_TRUE(fix_test::waitUntil([&] { return closedByPeer(first.sockets[0]); }));
        third.add(port); // now the second holds the most
        EXPECT_TRUE(fix_test::waitUntil([&] { return closedByPeer(second.sockets[0]); }));
        third.add(port); // as many again: the first's oldest came first
        EXPECT_TRUE(fix_test::waitUntil([&] { return closedByPeer(first.sockets[1]); }));

        // Each drop is written at once, naming its address: the first of their spells.
        EXPECT_TRUE(fix_test::waitUntil(
            [&]
            {
                const std::string events = globalEvents(folder);
                return qel_test::count_of(events, first.droppedLine()) == 2 &&
                       qel_test::count_of(events, second.droppedLine()) == 1;
            }))
            << globalEvents(folder);
        EXPECT_EQ(0u, qel_test::count_of(globalEvents(folder), third.droppedLine())) << globalEvents(folder);
        for (size_t i = 2; i < first.sockets.size(); ++i)
            EXPECT_FALSE(closedByPeer(first.sockets[i])) << "first, connection " << i;
        for (size_t i = 1; i < second.sockets.size(); ++i)
            EXPECT_FALSE(closedByPeer(second.sockets[i])) << "second, connection " << i;
        for (size_t i = 0; i < third.sockets.size(); ++i)
            EXPECT_FALSE(closedByPeer(third.sockets[i])) << "third, connection " << i;
    }
}

// A client that sends its Logon 100 ms after connecting, as one across a WAN or behind a
// proxy, logs on every time while several threads connect silently from another address,
// thousands of times a second.
TEST(HostileConnection, ALateLogonIsServedBesideASilentConnectFloodFromAnotherAddress)
{
    fix_test::TempFolder folder;
    qel_test::reserved_port portReservation; // held until the server binds it
    const uint16_t port = portReservation.number();
    RunningAcceptor running(acceptorSettings(folder.path(), port, ""));
    // Four threads, as fast as the acceptor takes their connections in.
    qel_sim::silent_connect_flood flood;
    const auto floodBegan = std::chrono::steady_clock::now();
    flood.start("127.0.0.1", port, 4, 0);
    // The flood is under way before the first try.
    ASSERT_TRUE(fix_test::waitUntil([&] { return flood.connects() >= 1000; }, 15000));

    const int kTries = 10;
    int admitted = 0;
    for (int i = 1; i <= kTries; ++i)
    {
        const int s = fix_test::connectFrom("127.0.0.2", port);
        ASSERT_GE(s, 0) << "try " << i;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const bool sent = sendAll(s, clientLogon());
        const bool in =
            sent &&
            fix_test::waitUntil(
                [&] { return running.application.m_admitted.load() == admitted + 1 || closedByPeer(s); },
                10000) &&
            running.application.m_admitted.load() == admitted + 1;
        ::close(s);
        if (in)
        {
            ++admitted;
            // The session is free again once the engine has seen the connection go.
            EXPECT_TRUE(
                fix_test::waitUntil([&] { return running.application.m_logouts.load() == admitted; }, 10000));
        }
    }
    flood.stop();
    EXPECT_EQ(kTries, admitted) << "late Logons served beside " << flood.connects() << " silent connects";
    const long long floodMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - floodBegan)
            .count();
    std::printf("late Logons served: %d of %d, beside %llu silent connects in %lld ms\n", admitted, kTries,
                static_cast<unsigned long long>(flood.connects()), floodMs);
}

// Four threads connect silently as fast as the acceptor takes them in: the first lines of
// the spell are written, then one line a second counts those left out, and every
// connection's acceptance is written or counted.
TEST(HostileConnection, AFloodOfConnectionsWithoutALogonWritesAFewLinesASecond)
{
    fix_test::TempFolder folder;
    qel_test::reserved_port portReservation; // held until the server binds it
    const uint16_t port = portReservation.number();
    RunningAcceptor running(acceptorSettings(folder.path(), port, ""));
    qel_sim::silent_connect_flood flood;
    const auto began = std::chrono::steady_clock::now();
    flood.start("127.0.0.1", port, 4, 0);
    ASSERT_TRUE(fix_test::waitUntil([&] { return flood.connects() >= 5000; }, 30000));
    flood.stop();
    // The last count goes out a second after the one before it.
    EXPECT_TRUE(fix_test::waitUntil([&] { return linesWithoutLogon(folder) >= flood.connects(); }, 10000))
        << linesWithoutLogon(folder) << " lines for " << flood.connects() << " connections";
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();

    // A spell writes its first lines (the last of them may end a connection's story past the
    // allowance) and then a count a second; a spell begins only after a quiet second, so
    // however the acceptor's thread was scheduled there is at most one a second for each
    // way the flood's connections end (dropped past the bound, closed by the flood, or,
    // seldom, late).
    const size_t kWays = 3;
    const std::string events = globalEvents(folder);
    const size_t perSecond = FIX::SocketAcceptor::LINES_WITHOUT_LOGON_AT_ONCE + 2;
    const size_t written = qel_test::count_of(events, "\n");
    EXPECT_LE(written, static_cast<size_t>(kWays * perSecond * (seconds + 1))) << events;
    EXPECT_LE(qel_test::fix_log_count_lines(events), static_cast<size_t>(kWays * (seconds + 1))) << events;
    EXPECT_GT(qel_test::fix_log_lines_left_out(events), 0u) << events;
    std::printf("%llu silent connects in %.1f s: %zu lines, %zu bytes in the event log\n",
                static_cast<unsigned long long>(flood.connects()), seconds, written, events.size());
}

// A burst of connections from one address that close without a Logon, with a client
// logging on from another beside them: the burst's lines are folded, every line of the
// client is written, its acceptance among them; a quiet second after the burst's last count
// the next such connection is logged at once.
TEST(HostileConnection, TheLinesOfAClientThatLogsOnAreWrittenAndAQuietSecondEndsTheFold)
{
    fix_test::TempFolder folder;
    qel_test::reserved_port portReservation; // held until the server binds it
    const uint16_t port = portReservation.number();
    RunningAcceptor running(acceptorSettings(folder.path(), port, ""));
    const size_t kBurst = 100;
    {
        Crowd burst("127.0.0.3", port, kBurst);
        Client client(port);
        ASSERT_TRUE(fix_test::waitUntil([&] { return running.application.m_admitted.load() == 1; }));
        const std::string sessionLog =
            folder.file("log/FIX.4.2-GATEWAY-CLIENT.event." + fix_test::localDate(time(nullptr)) + ".log");
        EXPECT_TRUE(fix_test::waitUntil(
            [&]
            {
                const std::string session = fix_test::readFile(sessionLog);
                return session.find(" : Received logon request\n") != std::string::npos &&
                       session.find(" : Responding to logon request\n") != std::string::npos;
            }))
            << fix_test::readFile(sessionLog);
    }
    // The burst's acceptances, the first written and the rest counted, and the client's,
    // written.
    ASSERT_TRUE(fix_test::waitUntil([&] { return linesWithoutLogon(folder) == kBurst + 1; }))
        << globalEvents(folder);
    std::string events = globalEvents(folder);
    EXPECT_EQ(1u, qel_test::count_of(events, " : Accepted connection from 127.0.0.1 on port ")) << events;
    const size_t written = qel_test::count_of(events, " : Accepted connection from 127.0.0.3 on port ");
    EXPECT_LE(written, static_cast<size_t>(FIX::SocketAcceptor::LINES_WITHOUT_LOGON_AT_ONCE)) << events;
    EXPECT_EQ(kBurst, written + qel_test::fix_log_lines_left_out(events, "127.0.0.3")) << events;

    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    {
        Crowd late("127.0.0.3", port, 1);
    }
    EXPECT_TRUE(fix_test::waitUntil(
        [&]
        {
            return qel_test::count_of(globalEvents(folder),
                                      " : Accepted connection from 127.0.0.3 on port ") == written + 1;
        }))
        << globalEvents(folder);
}

// Connections whose first message belongs to no session of the acceptor, one after another:
// the lines that say so and the messages themselves are folded too.
TEST(HostileConnection, FirstMessagesOfNoSessionAreFolded)
{
    fix_test::TempFolder folder;
    qel_test::reserved_port portReservation; // held until the server binds it
    const uint16_t port = portReservation.number();
    RunningAcceptor running(acceptorSettings(folder.path(), port, ""));
    const auto began = std::chrono::steady_clock::now();
    const std::string logon =
        framed("35=A" + kSoh + "34=1" + kSoh + "49=NOBODY" + kSoh + "56=GATEWAY" + kSoh + "98=0" + kSoh);
    const size_t kTries = 60;
    for (size_t i = 0; i < kTries; ++i)
    {
        const int s = fix_test::connectTo(port);
        ASSERT_GE(s, 0) << "try " << i;
        ASSERT_TRUE(sendAll(s, logon));
        EXPECT_TRUE(fix_test::waitUntil([&] { return closedByPeer(s); })) << "try " << i;
        ::close(s);
    }
    const std::string messagesFile =
        folder.file("log/GLOBAL.messages." + fix_test::localDate(time(nullptr)) + ".log");
    // Each connection's acceptance, the line about its message and the message: written or
    // counted.
    auto accounted = [&]
    {
        const std::string events = globalEvents(folder);
        return qel_test::count_of(events, " : Accepted connection from ") +
               qel_test::count_of(events, " : Session not found for incoming message: ") +
               qel_test::count_of(fix_test::readFile(messagesFile), "\n") +
               qel_test::fix_log_lines_left_out(events);
    };
    EXPECT_TRUE(fix_test::waitUntil([&] { return accounted() == 3 * kTries; })) << globalEvents(folder);
    EXPECT_GT(qel_test::fix_log_lines_left_out(globalEvents(folder)), 0u) << globalEvents(folder);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    const size_t perSecond = FIX::SocketAcceptor::LINES_WITHOUT_LOGON_AT_ONCE + 1;
    EXPECT_LE(qel_test::count_of(globalEvents(folder), "\n") +
                  qel_test::count_of(fix_test::readFile(messagesFile), "\n"),
              static_cast<size_t>(perSecond * (seconds + 1)))
        << globalEvents(folder);
}

} // namespace
