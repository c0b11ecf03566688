// The engine's HTTP status page is read-only: the session list and a session's page are
// shown, and every link that would reset, refresh, enable or disable the sessions, or
// change a session's settings or sequence numbers, is refused with 403 and changes
// nothing. Every request gets exactly one answer, and the connection ends with it; a
// request that has not come whole within its time is answered 408. Connections are served
// side by side: silent or slow ones keep no other caller waiting, and past the bound of
// connections served at once the address that holds the most loses its oldest. Its own
// executable: the engine's HTTP server is shared by the process.
#include <gtest/gtest.h>

#include <sys/time.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "HttpServer.h"
#include "fix_engine/fix_acceptor_test_support.h"

namespace
{

using fix_test::acceptorSettings;
using fix_test::RunningAcceptor;

// Everything the page sends for one request, read until it closes the connection.
struct Answer
{
    std::string text;
    bool closed = false; // the connection ended (not a guard time-out or a reset)
};

Answer answerTo(uint16_t port, const std::string &request)
{
    Answer answer;
    int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
    if (connect(s, reinterpret_cast<sockaddr *>(&address), sizeof(address)) != 0)
    {
        ::close(s);
        answer.text = "no connection";
        return answer;
    }
    // Only a guard against a page that never closes: far longer than any answer takes.
    timeval guard = {30, 0};
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &guard, sizeof guard);
    ::send(s, request.data(), request.size(), MSG_NOSIGNAL);
    char buffer[4096];
    ssize_t n = 0;
    while ((n = ::recv(s, buffer, sizeof buffer, 0)) > 0)
        answer.text.append(buffer, static_cast<size_t>(n));
    answer.closed = n == 0;
    ::close(s);
    return answer;
}

size_t statusLines(const std::string &text)
{
    size_t count = 0;
    for (size_t at = text.find("HTTP/1."); at != std::string::npos; at = text.find("HTTP/1.", at + 1))
        ++count;
    return count;
}

// Reads what is left until the connection ends (or the guard runs out).
Answer readToEnd(int s)
{
    Answer answer;
    timeval guard = {30, 0};
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &guard, sizeof guard);
    char buffer[4096];
    ssize_t n = 0;
    while ((n = ::recv(s, buffer, sizeof buffer, 0)) > 0)
        answer.text.append(buffer, static_cast<size_t>(n));
    answer.closed = n == 0;
    return answer;
}

// The status line of the answer to a GET of `path`, when the page gave exactly one answer
// and then closed the connection; otherwise a text that says what came instead.
std::string statusOf(uint16_t port, const std::string &path)
{
    const Answer answer = answerTo(port, "GET " + path + " HTTP/1.0\r\n\r\n");
    const std::string status = answer.text.substr(0, answer.text.find("\r\n"));
    if (!answer.closed)
        return "connection not closed after: " + status;
    if (statusLines(answer.text) != 1)
        return std::to_string(statusLines(answer.text)) + " answers: " + answer.text;
    return status;
}

struct PageCase
{
    const char *path;
    const char *status;
};

// An acceptor with its status page, on ports held until the server binds them.
struct StatusPage
{
    fix_test::TempFolder folder;
    qel_test::reserved_port fixPort;
    qel_test::reserved_port httpPort;
    RunningAcceptor running{acceptorSettings(folder.path(), fixPort.number(),
                                             "HttpAcceptPort=" + std::to_string(httpPort.number()) + "\n")};
};

const std::string kSession = "?BeginString=FIX.4.2&SenderCompID=GATEWAY&TargetCompID=CLIENT";

TEST(HttpStatusPage, ShowsTheSessionsAndRefusesEveryChange)
{
    StatusPage page;
    const uint16_t httpPort = page.httpPort.number();
    ASSERT_TRUE(fix_test::waitUntil([&] { return fix_test::canConnect("127.0.0.1", httpPort); }));
    FIX::Session *session = FIX::Session::lookupSession(FIX::SessionID("FIX.4.2", "GATEWAY", "CLIENT"));
    ASSERT_NE(session, nullptr);
    const int nextIncoming = session->getExpectedTargetNum();
    const int nextOutgoing = session->getExpectedSenderNum();

    const std::string forbidden = "HTTP/1.1 403 Forbidden";
    const std::string ok = "HTTP/1.1 200 OK";
    const PageCase cases[] = {
        {"/", ok.c_str()},
        {"/disableSessions?confirm=1", forbidden.c_str()},
        {"/disableSessions", forbidden.c_str()},
        {"/enableSessions?confirm=1", forbidden.c_str()},
        {"/resetSessions?confirm=1", forbidden.c_str()},
        {"/refreshSessions?confirm=1", forbidden.c_str()},
    };
    for (const PageCase &c : cases)
        EXPECT_EQ(c.status, statusOf(httpPort, c.path)) << c.path;
    const PageCase sessionCases[] = {
        {"", ok.c_str()},
        {"&Enabled=0", forbidden.c_str()},
        {"&Next%20Incoming=50", forbidden.c_str()},
        {"&Next%20Outgoing=50", forbidden.c_str()},
        {"&ResetOnLogon=1", forbidden.c_str()},
        {"&PersistMessages=0", forbidden.c_str()},
    };
    for (const PageCase &c : sessionCases)
        EXPECT_EQ(c.status, statusOf(httpPort, "/session" + kSession + c.path)) << c.path;
    EXPECT_EQ(forbidden, statusOf(httpPort, "/resetSession" + kSession + "&confirm=1"));
    EXPECT_EQ(forbidden, statusOf(httpPort, "/refreshSession" + kSession + "&confirm=1"));

    EXPECT_TRUE(session->isEnabled());
    EXPECT_EQ(nextIncoming, session->getExpectedTargetNum());
    EXPECT_EQ(nextOutgoing, session->getExpectedSenderNum());
    EXPECT_FALSE(session->getResetOnLogon());
    EXPECT_TRUE(session->getPersistMessages());
}

// An answered connection ends with its answer: the page sends nothing after it (it sent
// a 408 Request Timeout two seconds later) and closes the connection at once. Bad
// requests get one 400, not one for the failed parse and one for the empty request.
TEST(HttpStatusPage, EveryRequestGetsOneAnswerAndTheConnectionEndsWithIt)
{
    StatusPage page;
    const uint16_t httpPort = page.httpPort.number();
    ASSERT_TRUE(fix_test::waitUntil([&] { return fix_test::canConnect("127.0.0.1", httpPort); }));

    struct RequestCase
    {
        const char *name;
        std::string request;
        const char *status;
    };
    const RequestCase cases[] = {
        {"session list", "GET / HTTP/1.0\r\n\r\n", "HTTP/1.1 200 OK"},
        {"session page", "GET /session" + kSession + " HTTP/1.1\r\nHost: x\r\n\r\n", "HTTP/1.1 200 OK"},
        {"unknown page", "GET /nowhere HTTP/1.0\r\n\r\n", "HTTP/1.1 404 Not Found"},
        {"refused change", "GET /resetSessions?confirm=1 HTTP/1.0\r\n\r\n", "HTTP/1.1 403 Forbidden"},
        {"no request line", "\r\n\r\n", "HTTP/1.1 400 Bad Request"},
        {"request past the parser's size", "GET /" + std::string(3000, 'a') + " HTTP/1.0\r\n\r\n",
         "HTTP/1.1 400 Bad Request"},
    };
    for (const RequestCase &c : cases)
    {
        SCOPED_TRACE(c.name);
        const Answer answer = answerTo(httpPort, c.request);
        EXPECT_TRUE(answer.closed);
        EXPECT_EQ(1u, statusLines(answer.text)) << answer.text;
        EXPECT_EQ(c.status, answer.text.substr(0, answer.text.find("\r\n")));
        EXPECT_EQ("</HTML>", answer.text.substr(answer.text.size() < 7 ? 0 : answer.text.size() - 7));
    }
}

// A client that sends its request a byte at a time, each well within the two seconds
// that the page waited for the next piece, is answered 408 once the request's time is
// over, and a client that came after it is served meanwhile (it waited for ever).
TEST(HttpStatusPage, ASlowRequestRunsOutOfTimeAndTheNextClientIsServed)
{
    StatusPage page;
    const uint16_t httpPort = page.httpPort.number();
    ASSERT_TRUE(fix_test::waitUntil([&] { return fix_test::canConnect("127.0.0.1", httpPort); }));

    // Connected first, so the page takes it first.
    const int slow = fix_test::connectTo(httpPort);
    ASSERT_GE(slow, 0);
    ASSERT_EQ(3, ::send(slow, "GET", 3, MSG_NOSIGNAL));
    std::atomic<bool> stop{false};
    std::thread drip(
        [&]
        {
            // Bounded: at most a minute of bytes, and none once an answer has come.
            for (int i = 0; i < 300 && !stop; ++i)
            {
                char peek = 0;
                if (::recv(slow, &peek, 1, MSG_PEEK | MSG_DONTWAIT) >= 0)
                    return;
                if (::send(slow, " ", 1, MSG_NOSIGNAL) != 1)
                    return;
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
            }
        });

    const std::string served = statusOf(httpPort, "/");
    stop = true;
    drip.join();
    EXPECT_EQ("HTTP/1.1 200 OK", served);

    const Answer timedOut = readToEnd(slow);
    ::close(slow);
    EXPECT_TRUE(timedOut.closed);
    EXPECT_EQ(1u, statusLines(timedOut.text)) << timedOut.text;
    EXPECT_EQ("HTTP/1.1 408 Request Timeout", timedOut.text.substr(0, timedOut.text.find("\r\n")));
}

// Twenty connections that send nothing, then an operator's request: it is answered while
// they wait for their own time to end (the page served them one after the other, two
// seconds each, and the request waited forty), and each of them then gets its 408.
TEST(HttpStatusPage, SilentConnectionsKeepNoRequestWaiting)
{
    StatusPage page;
    const uint16_t httpPort = page.httpPort.number();
    ASSERT_TRUE(fix_test::waitUntil([&] { return fix_test::canConnect("127.0.0.1", httpPort); }));
    std::vector<int> silent;
    for (int i = 0; i < 20; ++i)
    {
        silent.push_back(fix_test::connectTo(httpPort));
        ASSERT_GE(silent.back(), 0);
    }

    EXPECT_EQ("HTTP/1.1 200 OK", statusOf(httpPort, "/"));
    size_t answeredFirst = 0;
    for (int s : silent)
    {
        char peek = 0;
        const ssize_t n = ::recv(s, &peek, 1, MSG_PEEK | MSG_DONTWAIT);
        answeredFirst += n >= 0 ? 1 : 0;
    }
    EXPECT_LT(answeredFirst, silent.size() / 2);

    for (int s : silent)
    {
        const Answer timedOut = readToEnd(s);
        ::close(s);
        EXPECT_TRUE(timedOut.closed);
        EXPECT_EQ("HTTP/1.1 408 Request Timeout", timedOut.text.substr(0, timedOut.text.find("\r\n")));
    }
}

// A caller from 127.0.0.2 has connected and not yet sent its request while 127.0.0.1 opens
// connections past the bound: 127.0.0.1 loses its oldest, dropped unanswered, and the
// caller is served.
TEST(HttpStatusPage, PastTheBoundTheAddressThatHoldsTheMostLosesItsOldest)
{
    StatusPage page;
    const uint16_t httpPort = page.httpPort.number();
    ASSERT_TRUE(fix_test::waitUntil([&] { return fix_test::canConnect("127.0.0.1", httpPort); }));
    const int caller = fix_test::connectFrom("127.0.0.2", httpPort);
    ASSERT_GE(caller, 0);
    const size_t kExtra = 10;
    std::vector<int> crowd;
    for (size_t i = 0; i < FIX::HttpServer::MAX_CONNECTIONS + kExtra; ++i)
    {
        crowd.push_back(fix_test::connectTo(httpPort));
        ASSERT_GE(crowd.back(), 0);
    }
    // The crowd's first are dropped unanswered as the rest come.
    for (size_t i = 0; i <= kExtra; ++i)
    {
        const Answer dropped = readToEnd(crowd[i]);
        EXPECT_TRUE(dropped.closed) << "connection " << i;
        EXPECT_EQ("", dropped.text) << "connection " << i;
    }

    ASSERT_EQ(18, ::send(caller, "GET / HTTP/1.0\r\n\r\n", 18, MSG_NOSIGNAL));
    const Answer served = readToEnd(caller);
    EXPECT_TRUE(served.closed);
    EXPECT_EQ("HTTP/1.1 200 OK", served.text.substr(0, served.text.find("\r\n")));
    ::close(caller);
    for (int s : crowd)
        ::close(s);
}

} // namespace
