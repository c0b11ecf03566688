// The engine's HTTP status page is read-only: the session list and a session's page are
// shown, and every link that would reset, refresh, enable or disable the sessions, or
// change a session's settings or sequence numbers, is refused with 403 and changes
// nothing. Its own executable: the engine's HTTP server is shared by the process.
#include <gtest/gtest.h>

#include <string>

#include "fix_engine/fix_acceptor_test_support.h"

namespace
{

using fix_test::acceptorSettings;
using fix_test::RunningAcceptor;

// The status line of the answer to a GET of `path`.
std::string statusOf(uint16_t port, const std::string &path)
{
    int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
    if (connect(s, reinterpret_cast<sockaddr *>(&address), sizeof(address)) != 0)
    {
        ::close(s);
        return "no connection";
    }
    const std::string request = "GET " + path + " HTTP/1.0\r\n\r\n";
    ::send(s, request.data(), request.size(), MSG_NOSIGNAL);
    std::string answer;
    char buffer[4096];
    ssize_t n = 0;
    while ((n = ::recv(s, buffer, sizeof buffer, 0)) > 0)
        answer.append(buffer, static_cast<size_t>(n));
    ::close(s);
    return answer.substr(0, answer.find("\r\n"));
}

struct PageCase
{
    const char *path;
    const char *status;
};

const std::string kSession = "?BeginString=FIX.4.2&SenderCompID=GATEWAY&TargetCompID=CLIENT";

TEST(HttpStatusPage, ShowsTheSessionsAndRefusesEveryChange)
{
    fix_test::TempFolder folder;
    qel_test::reserved_port fixPortReservation; // held until the server binds it
    const uint16_t fixPort = fixPortReservation.number();
    qel_test::reserved_port httpPortReservation; // held until the server binds it
    const uint16_t httpPort = httpPortReservation.number();
    RunningAcceptor running(
        acceptorSettings(folder.path(), fixPort, "HttpAcceptPort=" + std::to_string(httpPort) + "\n"));
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

} // namespace
