// A logged-on peer that does not take what the acceptor sends it: while its output waits,
// its connection is not read, so its requests wait in the kernel and make no more answers
// wait in the process; once it reads again, everything flows. Past the application's
// bounds (messages unsent, seconds without a byte taken) the session is disconnected, with
// a line in its log and the application told why first, while a peer that reads slowly but
// steadily is served to the end. A session logged out because its store is full is not
// read either, and ends at its logout time-out. A held connection that the peer resets
// ends at once.
// Both ends cap their socket buffers, so that "the connection is full" is a known amount
// whatever the machine's TCP settings allow.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "fix_engine/fix_acceptor_test_support.h"
#include "support/full_disk.h"

namespace
{

using fix_test::acceptorSettings;
using fix_test::clientMessage;

const std::string kSoh(1, '\x01');
const int kBufferBytes = 4096;
// Both ends of every connection of the acceptor hold little. With windows this small,
// small segments held back until the last is acknowledged, against acknowledgements
// delayed for the next segment, can slow a connection to a few dozen messages a second:
// neither end holds segments back.
const std::string kSmallBuffers =
    "SocketSendBufferSize=4096\nSocketReceiveBufferSize=4096\nSocketNodelay=Y\n";

// The acceptor's application: it answers its peers' Logons, and every application message
// with `answers` BusinessMessageRejects of `textBytes` characters of Text each, as the
// gateway answers a request its flow control refuses.
class AnsweringApplication : public FIX::Application
{
  public:
    AnsweringApplication(int answers, size_t textBytes) : m_answers(answers), m_text(textBytes, 'x') {}

    void onCreate(const FIX::SessionID &) override {}
    void onLogon(const FIX::SessionID &) override {}
    void onLogout(const FIX::SessionID &) override { m_logouts++; }
    void toAdmin(FIX::Message &message, const FIX::SessionID &) override
    {
        if (message.getHeader().getField(FIX::FIELD::MsgType) == FIX::MsgType_Logon)
            message.getHeader().setField(99999, "VALID_LOGON");
    }
    void toApp(FIX::Message &, const FIX::SessionID &) noexcept override {}
    void fromAdmin(const FIX::Message &, const FIX::SessionID &) noexcept override {}
    void fromApp(const FIX::Message &, const FIX::SessionID &id) noexcept override
    {
        m_received++;
        for (int i = 0; i < m_answers; ++i)
        {
            FIX::Message answer;
            answer.getHeader().setField(FIX::FIELD::MsgType, FIX::MsgType_BusinessMessageReject);
            answer.setField(FIX::FIELD::RefMsgType, "D");
            answer.setField(FIX::FIELD::BusinessRejectReason, "4");
            answer.setField(FIX::FIELD::Text, m_text);
            FIX::Session::sendToTarget(answer, id);
        }
    }
    void onOutputHeld(const FIX::SessionID &id, const std::string &reason) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_held.push_back(id.getTargetCompID().getString() + ": " + reason);
    }

    std::vector<std::string> held()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_held;
    }
    std::atomic<int> m_received{0};
    std::atomic<int> m_logouts{0};

  private:
    int m_answers;
    std::string m_text;
    std::mutex m_mutex;
    std::vector<std::string> m_held;
};

// The acceptor with the application, bounds set before it starts.
struct Acceptor : fix_test::RunningAcceptorOf<AnsweringApplication>
{
    Acceptor(const std::string &settingsText, int answers, size_t textBytes, size_t unsentLimit,
             int heldTimeout)
        : RunningAcceptorOf(settingsText, false, answers, textBytes)
    {
        acceptor->setOutputLimits(unsentLimit, heldTimeout);
        start();
    }
};

// A peer on a plain socket with small buffers, reading only when told.
class Peer
{
  public:
    Peer(uint16_t port, const std::string &sender)
    {
        m_socket = ::socket(AF_INET, SOCK_STREAM, 0);
        qel_test::cap_receive_buffer(m_socket, kBufferBytes);
        qel_test::cap_send_buffer(m_socket, kBufferBytes);
        const int on = 1;
        setsockopt(m_socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
        m_connected = ::connect(m_socket, reinterpret_cast<sockaddr *>(&address), sizeof(address)) == 0;
        fcntl(m_socket, F_SETFL, fcntl(m_socket, F_GETFL) | O_NONBLOCK);
        m_sender = sender;
    }
    ~Peer() { ::close(m_socket); }

    // The next message from this peer, under its own SenderCompID.
    std::string message(const std::string &type, const std::string &body)
    {
        return clientMessage(type, m_sequence++, body, m_sender);
    }

    // Sends what it can of `bytes` without waiting: the bytes taken, or -1 once the
    // connection has ended.
    ssize_t offer(const std::string &bytes)
    {
        const ssize_t n = ::send(m_socket, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n >= 0)
            return n;
        return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
    }
    bool sendAll(const std::string &bytes, int timeoutMs = 5000)
    {
        size_t done = 0;
        return fix_test::waitUntil(
                   [&]
                   {
                       const ssize_t n = offer(bytes.substr(done));
                       if (n > 0)
                           done += static_cast<size_t>(n);
                       return done == bytes.size() || n < 0;
                   },
                   timeoutMs) &&
               done == bytes.size();
    }
    // Reads what has arrived, at most `bytes`; false once the connection has ended.
    bool take(size_t bytes = 65536)
    {
        std::string buffer(bytes, '\0');
        const ssize_t n = ::recv(m_socket, &buffer[0], buffer.size(), 0);
        if (n > 0)
            m_received.append(buffer, 0, static_cast<size_t>(n));
        return n > 0 || (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK));
    }
    size_t count(const std::string &type) const
    {
        return qel_test::count_of(m_received, kSoh + "35=" + type + kSoh);
    }
    // Logs on and waits for the acceptor's Logon.
    bool logOn()
    {
        return m_connected && sendAll(message("A", "98=0" + kSoh + "108=30" + kSoh + "141=Y" + kSoh)) &&
               fix_test::waitUntil([&] { return take() && count("A") == 1; });
    }
    // Resets the connection instead of closing it.
    void reset()
    {
        linger hard = {1, 0};
        setsockopt(m_socket, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        ::close(m_socket);
        m_socket = ::socket(AF_INET, SOCK_STREAM, 0);
    }

  private:
    int m_socket = -1;
    bool m_connected = false;
    int m_sequence = 1;
    std::string m_sender;
    std::string m_received;
};

std::string order(Peer &peer, int id)
{
    return peer.message("D", "11=" + std::to_string(id) + kSoh);
}

std::string sessionEvents(const fix_test::TempFolder &folder, const std::string &target)
{
    return fix_test::readFile(folder.file("log/FIX.4.2-GATEWAY-" + target + ".event." +
                                          fix_test::localDate(time(nullptr)) + ".log"));
}

TEST(HeldOutput, APeerThatReadsNothingIsNotReadUntilItTakesItsOutput)
{
    fix_test::TempFolder folder;
    qel_test::reserved_port portReservation; // held until the server binds it
    const uint16_t port = portReservation.number();
    // No bounds: only the pause is at work.
    Acceptor running(acceptorSettings(folder.path(), port, kSmallBuffers), 1, 100, 0, 0);
    Peer peer(port, "CLIENT");
    ASSERT_TRUE(peer.logOn());

    // Orders as fast as the connection takes them, nothing read: the acceptor reads them
    // only until its answers fill the connection, the rest waits in the kernel.
    const int kOrders = 3000;
    int id = 0;
    std::string pending;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (id < kOrders && std::chrono::steady_clock::now() < until)
    {
        if (pending.empty())
            pending = order(peer, ++id);
        const ssize_t n = peer.offer(pending);
        ASSERT_GE(n, 0) << "the connection ended";
        pending.erase(0, static_cast<size_t>(n));
        if (n == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_LT(id, kOrders) << "every order went through, though no answer was read";
    // The buffers of the connection hold a few kB: the orders the acceptor read are a few
    // hundred at most.
    EXPECT_LT(running.application.m_received.load(), 1000);
    EXPECT_EQ(0, running.application.m_logouts.load());

    // It reads again: the rest flows, every order is answered, the session stays.
    const bool done = fix_test::waitUntil(
        [&]
        {
            if (!peer.take())
                return true;
            while (pending.size() < static_cast<size_t>(kBufferBytes) && id < kOrders)
                pending += order(peer, ++id);
            const ssize_t n = peer.offer(pending);
            if (n > 0)
                pending.erase(0, static_cast<size_t>(n));
            return n < 0 || (pending.empty() && peer.count("j") == static_cast<size_t>(kOrders));
        },
        60000);
    EXPECT_TRUE(done);
    EXPECT_EQ(static_cast<size_t>(kOrders), peer.count("j"));
    EXPECT_EQ(kOrders, running.application.m_received.load());
    EXPECT_EQ(0, running.application.m_logouts.load());
    EXPECT_TRUE(running.application.held().empty());
}

TEST(HeldOutput, PastTheUnsentBoundTheSessionIsDisconnected)
{
    fix_test::TempFolder folder;
    qel_test::reserved_port portReservation; // held until the server binds it
    const uint16_t port = portReservation.number();
    // One order makes 200 answers of half a kB: far more than the connection holds.
    Acceptor running(acceptorSettings(folder.path(), port, kSmallBuffers), 200, 500, 50, 0);
    Peer peer(port, "CLIENT");
    ASSERT_TRUE(peer.logOn());
    ASSERT_TRUE(peer.sendAll(order(peer, 1)));

    EXPECT_TRUE(fix_test::waitUntil([&] { return running.application.m_logouts.load() == 1; }, 10000));
    ASSERT_EQ(1u, running.application.held().size());
    EXPECT_EQ("CLIENT: More than 50 messages unsent to the peer", running.application.held()[0]);
    EXPECT_NE(
        std::string::npos,
        sessionEvents(folder, "CLIENT").find(" : More than 50 messages unsent to the peer, disconnecting\n"))
        << sessionEvents(folder, "CLIENT");
    // The connection is gone: what the peer still finds ends with the close.
    EXPECT_TRUE(fix_test::waitUntil([&] { return !peer.take(); }, 10000));
    EXPECT_LT(peer.count("j"), 200u);
}

// Two peers take 200 answers of half a kB each: one reads nothing, the other a kB every 50
// ms, so that its answers take seconds longer than the time limit; only the first is
// disconnected.
TEST(HeldOutput, APeerThatTakesNothingForTheHeldTimeIsDisconnectedAndASlowReaderIsServed)
{
    fix_test::TempFolder folder;
    qel_test::reserved_port portReservation; // held until the server binds it
    const uint16_t port = portReservation.number();
    const int kHeldSeconds = 2;
    Acceptor running(
        acceptorSettings(folder.path(), port, kSmallBuffers,
                         "[SESSION]\nBeginString=FIX.4.2\nSenderCompID=GATEWAY\nTargetCompID=SLOW\n"),
        200, 500, 0, kHeldSeconds);
    Peer deaf(port, "CLIENT");
    Peer slow(port, "SLOW");
    ASSERT_TRUE(deaf.logOn());
    ASSERT_TRUE(slow.logOn());
    ASSERT_TRUE(deaf.sendAll(order(deaf, 1)));
    ASSERT_TRUE(slow.sendAll(order(slow, 1)));
    const auto began = std::chrono::steady_clock::now();
    bool slowOpen = true;
    const bool slowDone = fix_test::waitUntil(
        [&]
        {
            slowOpen = slow.take(1024);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            return !slowOpen || slow.count("j") == 200;
        },
        60000);
    EXPECT_TRUE(slowDone && slowOpen) << slow.count("j") << " answers";
    EXPECT_GT(std::chrono::steady_clock::now() - began, std::chrono::seconds(kHeldSeconds));

    EXPECT_TRUE(fix_test::waitUntil([&] { return running.application.m_logouts.load() == 1; }, 10000));
    const std::vector<std::string> held = running.application.held();
    ASSERT_EQ(1u, held.size());
    EXPECT_EQ(0u, held[0].find("CLIENT: Nothing sent taken by the peer for 2 seconds, ")) << held[0];
    EXPECT_NE(std::string::npos,
              sessionEvents(folder, "CLIENT").find(" : Nothing sent taken by the peer for 2 seconds, "))
        << sessionEvents(folder, "CLIENT");
    EXPECT_EQ(std::string::npos, sessionEvents(folder, "SLOW").find("disconnecting"))
        << sessionEvents(folder, "SLOW");
}

// The store's disk fills under a peer that sends orders and reads nothing: the first
// answer the store cannot take logs the session out, and from then on the connection is
// not read, so the acceptor takes no more of its orders, however fast they come, and the
// session ends when its Logout times out (two seconds, the engine's default). The peer
// finds the Logout that says why before the close.
TEST(HeldOutput, ASessionLoggedOutForAMessageNotStoredIsNotReadAndEndsAtItsLogoutTimeOut)
{
    qel_test::stderr_capture quiet; // the session's logs fail beside the store, till they close
    fix_test::TempFolder folder;
    qel_test::reserved_port portReservation; // held until the server binds it
    const uint16_t port = portReservation.number();
    Acceptor running(acceptorSettings(folder.path(), port, kSmallBuffers), 1, 100, 0, 0);
    Peer peer(port, "CLIENT");
    ASSERT_TRUE(peer.logOn());
    struct stat body;
    ASSERT_EQ(0, stat(folder.file("store/FIX.4.2-GATEWAY-CLIENT.body").c_str(), &body));

    qel_test::file_size_cap full(static_cast<rlim_t>(body.st_size));
    int id = 0;
    std::string pending;
    bool ended = false;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (!ended && std::chrono::steady_clock::now() < until)
    {
        if (pending.empty())
            pending = order(peer, ++id);
        const ssize_t n = peer.offer(pending);
        ended = n < 0;
        if (n > 0)
            pending.erase(0, static_cast<size_t>(n));
        if (n == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(ended) << "still open after " << id << " orders";
    // What the connection's buffers held when the Logout went out, and no more.
    EXPECT_LT(running.application.m_received.load(), 200);
    EXPECT_TRUE(fix_test::waitUntil([&] { return running.application.m_logouts.load() == 1; }, 10000));
    full.lift();
    while (peer.take())
    {
    }
    EXPECT_EQ(1u, peer.count("5"));
    EXPECT_EQ(0u, peer.count("j"));
}

// A peer that resets its connection while the acceptor is not reading it: the session ends
// at once, not at a time limit.
TEST(HeldOutput, AHeldConnectionThatThePeerResetsEnds)
{
    fix_test::TempFolder folder;
    qel_test::reserved_port portReservation; // held until the server binds it
    const uint16_t port = portReservation.number();
    Acceptor running(acceptorSettings(folder.path(), port, kSmallBuffers), 200, 500, 0, 0);
    Peer peer(port, "CLIENT");
    ASSERT_TRUE(peer.logOn());
    // Its answers fill the connection; the next order finds the connection not read.
    ASSERT_TRUE(peer.sendAll(order(peer, 1)));
    ASSERT_TRUE(fix_test::waitUntil([&] { return running.application.m_received.load() == 1; }));
    ASSERT_TRUE(peer.sendAll(order(peer, 2)));
    peer.reset();
    EXPECT_TRUE(fix_test::waitUntil([&] { return running.application.m_logouts.load() == 1; }, 10000));
    EXPECT_EQ(1, running.application.m_received.load());
}

} // namespace
