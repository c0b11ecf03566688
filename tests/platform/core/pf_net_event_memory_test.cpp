// What the network events remember of a socket the socket layer made, instead of asking the
// kernel at every association: a descriptor number that comes back starts afresh, a connect
// that completes turns the socket into a connection, its blocking mode follows the socket
// layer's calls, a connection reset while its reader re-arms it is still reported, and a
// socket closed behind the socket layer's back leaves nothing to the socket made elsewhere
// that takes its number.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

#include "platform/core/pf_error.h"
#include "platform/core/pf_net_event.h"
#include "platform/core/pf_socket.h"
#include "platform/core/pf_wait.h"
#include "platform/core/pf_waitable.h"
#include "support/test_support.h"

namespace
{
const uint32_t k_loopback = htonl(INADDR_LOOPBACK);

struct record
{
    int32_t events = 0;
    int32_t errors[PF_FD_MAX_EVENTS] = {};
};

bool is_nonblocking(int fd)
{
    int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && (flags & O_NONBLOCK) != 0;
}

class remembered : public ::testing::Test
{
  protected:
    pf_net_event *event = pf_net_event_create();
    int listener = -1;
    uint16_t port = 0;
    std::vector<int> sockets;

    void SetUp() override
    {
        listener = make(pf_socket_create(AF_INET, SOCK_STREAM, 0));
        ASSERT_EQ(pf_socket_bind(listener, k_loopback, 0), 0);
        ASSERT_EQ(pf_socket_listen(listener, 16), 0);
        port = pf_socket_local_port(listener);
        ASSERT_NE(port, 0);
    }

    void TearDown() override
    {
        for (int fd : sockets)
            pf_socket_close(fd);
        pf_net_event_destroy(event);
    }

    // Closed at the end of the test.
    int make(int fd)
    {
        if (fd >= 0)
            sockets.push_back(fd);
        return fd;
    }

    void close_now(int fd)
    {
        pf_socket_close(fd);
        for (int &kept : sockets)
            if (kept == fd)
                kept = -1;
    }

    // A new socket with the given number, created by the socket layer; -1 if the number
    // did not come back within a few sockets (the others stay open until the end).
    int socket_numbered(int number)
    {
        for (int i = 0; i < 64; ++i)
        {
            int fd = make(pf_socket_create(AF_INET, SOCK_STREAM, 0));
            if (fd == number || fd < 0)
                return fd;
        }
        return -1;
    }

    // A blocking connect to the listener and its accepted other end.
    void connected_pair(int client, int *server)
    {
        ASSERT_EQ(pf_socket_connect(client, k_loopback, port), 0);
        *server = make(pf_socket_accept(listener, nullptr, nullptr));
        ASSERT_GE(*server, 0);
    }

    record next(int fd, uint32_t timeout_ms) { return next_on(event, fd, timeout_ms); }

    record next_on(pf_net_event *on, int fd, uint32_t timeout_ms)
    {
        record r;
        if (pf_wait_for_single(pf_net_event_waitable(on), timeout_ms) == PF_WAIT_OBJECT_0)
        {
            EXPECT_EQ(pf_net_event_enum(fd, &r.events, r.errors), 0);
        }
        return r;
    }
};
} // namespace

TEST_F(remembered, ListenersNumberReusedByAConnectionReportsItsData)
{
    int old_listener = make(pf_socket_create(AF_INET, SOCK_STREAM, 0));
    ASSERT_EQ(pf_socket_bind(old_listener, k_loopback, 0), 0);
    ASSERT_EQ(pf_socket_listen(old_listener, 4), 0);
    ASSERT_EQ(pf_net_event_select(old_listener, event, PF_FD_ACCEPT), 0);
    close_now(old_listener);

    int client = socket_numbered(old_listener);
    ASSERT_EQ(client, old_listener);
    int server = -1;
    connected_pair(client, &server);
    ASSERT_EQ(pf_net_event_select(client, event, PF_FD_READ | PF_FD_CLOSE), 0);
    ASSERT_EQ(pf_socket_send(server, "hi", 2), 2);
    EXPECT_EQ(next(client, 5000).events, PF_FD_READ);
}

TEST_F(remembered, ConnectionsNumberReusedByAListenerReportsItsAccept)
{
    int client = make(pf_socket_create(AF_INET, SOCK_STREAM, 0));
    int server = -1;
    connected_pair(client, &server);
    ASSERT_EQ(pf_net_event_select(client, event, PF_FD_READ | PF_FD_CLOSE), 0);
    close_now(client);

    int reused = socket_numbered(client);
    ASSERT_EQ(reused, client);
    ASSERT_EQ(pf_socket_bind(reused, k_loopback, 0), 0);
    ASSERT_EQ(pf_socket_listen(reused, 4), 0);
    ASSERT_EQ(pf_net_event_select(reused, event, PF_FD_ACCEPT), 0);
    int caller = make(pf_socket_create(AF_INET, SOCK_STREAM, 0));
    ASSERT_EQ(pf_socket_connect(caller, k_loopback, pf_socket_local_port(reused)), 0);
    EXPECT_EQ(next(reused, 5000).events, PF_FD_ACCEPT);
}

TEST_F(remembered, ReusedNumberIsMadeNonBlockingAgain)
{
    int first = make(pf_socket_create(AF_INET, SOCK_STREAM, 0));
    ASSERT_EQ(pf_net_event_select(first, event, PF_FD_READ), 0);
    ASSERT_TRUE(is_nonblocking(first));
    close_now(first);

    int second = socket_numbered(first);
    ASSERT_EQ(second, first);
    EXPECT_FALSE(is_nonblocking(second));
    ASSERT_EQ(pf_net_event_select(second, event, PF_FD_READ), 0);
    EXPECT_TRUE(is_nonblocking(second));
}

TEST_F(remembered, SocketMadeBlockingAfterAnAssociationIsMadeNonBlockingByTheNext)
{
    int client = make(pf_socket_create(AF_INET, SOCK_STREAM, 0));
    ASSERT_EQ(pf_net_event_select(client, event, PF_FD_READ), 0);
    ASSERT_EQ(pf_socket_set_nonblocking(client, false), 0);
    ASSERT_EQ(pf_net_event_select(client, event, PF_FD_READ | PF_FD_CLOSE), 0);
    EXPECT_TRUE(is_nonblocking(client));
}

TEST_F(remembered, NumberReusedByADescriptorMadeElsewhereIsAskedWhatItIs)
{
    int client = make(pf_socket_create(AF_INET, SOCK_STREAM, 0));
    ASSERT_EQ(pf_net_event_select(client, event, PF_FD_READ), 0);
    close_now(client);
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    int reused = ends[0] == client ? ends[0] : ends[1] == client ? ends[1] : -1;
    if (reused >= 0)
    {
        EXPECT_EQ(pf_net_event_select(reused, event, PF_FD_READ), -1);
        EXPECT_EQ(pf_get_last_error(), PF_WSAENOTSOCK);
    }
    close(ends[0]);
    close(ends[1]);
    if (reused < 0)
        GTEST_SKIP() << "the pipe did not take the socket's number";
}

// A socket made with socket() itself, not through the socket layer, that takes the number
// of a socket closed with a plain close(); -1 if the number did not come back within a few
// sockets (the others stay open until the end).
class closed_behind_its_back : public remembered
{
  protected:
    std::vector<int> raw;

    void TearDown() override
    {
        for (int fd : raw)
            close(fd);
        remembered::TearDown();
    }

    int raw_socket_numbered(int number)
    {
        for (int i = 0; i < 64; ++i)
        {
            int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            if (fd < 0)
                return -1;
            raw.push_back(fd);
            if (fd == number)
                return fd;
        }
        return -1;
    }

    void close_plainly(int fd)
    {
        close(fd);
        for (int &kept : sockets)
            if (kept == fd)
                kept = -1;
    }
};

TEST_F(closed_behind_its_back, ListenersNumberTakenByAConnectionMadeElsewhereReportsItsData)
{
    int old_listener = make(pf_socket_create(AF_INET, SOCK_STREAM, 0));
    ASSERT_EQ(pf_socket_bind(old_listener, k_loopback, 0), 0);
    ASSERT_EQ(pf_socket_listen(old_listener, 4), 0);
    ASSERT_EQ(pf_net_event_select(old_listener, event, PF_FD_ACCEPT), 0);
    close_plainly(old_listener);

    int client = raw_socket_numbered(old_listener);
    ASSERT_EQ(client, old_listener);
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = k_loopback;
    to.sin_port = htons(port);
    ASSERT_EQ(connect(client, reinterpret_cast<sockaddr *>(&to), sizeof to), 0);
    int server = make(pf_socket_accept(listener, nullptr, nullptr));
    ASSERT_GE(server, 0);
    // The socket made elsewhere comes with its own event, as a new connection does.
    pf_net_event *own = pf_net_event_create();
    ASSERT_NE(own, nullptr);
    ASSERT_EQ(pf_net_event_select(client, own, PF_FD_READ | PF_FD_CLOSE), 0);
    ASSERT_EQ(pf_socket_send(server, "hi", 2), 2);
    EXPECT_EQ(next_on(own, client, 5000).events, PF_FD_READ);
    EXPECT_EQ(pf_net_event_select(client, own, 0), 0);
    pf_net_event_destroy(own);
}

TEST_F(closed_behind_its_back, NonBlockingSocketsNumberTakenBySocketMadeElsewhereIsMadeNonBlocking)
{
    int first = make(pf_socket_create(AF_INET, SOCK_STREAM, 0));
    ASSERT_EQ(pf_net_event_select(first, event, PF_FD_READ), 0);
    ASSERT_TRUE(is_nonblocking(first));
    close_plainly(first);

    int second = raw_socket_numbered(first);
    ASSERT_EQ(second, first);
    ASSERT_FALSE(is_nonblocking(second));
    // The socket made elsewhere comes with its own event, as a new connection does.
    pf_net_event *own = pf_net_event_create();
    ASSERT_NE(own, nullptr);
    EXPECT_EQ(pf_net_event_select(second, own, PF_FD_READ), 0);
    EXPECT_TRUE(is_nonblocking(second));
    EXPECT_EQ(pf_net_event_select(second, own, 0), 0);
    pf_net_event_destroy(own);
}

TEST_F(remembered, ConnectThatCompletesIsAConnectionAtTheNextAssociation)
{
    int client = make(pf_socket_create(AF_INET, SOCK_STREAM, 0));
    ASSERT_EQ(pf_net_event_select(client, event, PF_FD_CONNECT | PF_FD_READ | PF_FD_WRITE | PF_FD_CLOSE), 0);
    ASSERT_EQ(pf_socket_connect(client, k_loopback, port), -1);
    ASSERT_EQ(pf_get_last_error(), PF_WSAEWOULDBLOCK);
    // Re-armed while the connect is under way: its outcome is still reported.
    ASSERT_EQ(pf_net_event_select(client, event, PF_FD_CONNECT | PF_FD_READ | PF_FD_CLOSE), 0);
    record connected = next(client, 5000);
    ASSERT_EQ(connected.events, PF_FD_CONNECT);
    EXPECT_EQ(connected.errors[PF_FD_CONNECT_BIT], 0);
    int server = make(pf_socket_accept(listener, nullptr, nullptr));
    ASSERT_GE(server, 0);

    // The host link's reading cycle from then on.
    ASSERT_EQ(pf_net_event_select(client, event, PF_FD_CLOSE), 0);
    ASSERT_EQ(pf_net_event_select(client, event, PF_FD_READ | PF_FD_CLOSE), 0);
    ASSERT_EQ(pf_socket_send(server, "abc", 3), 3);
    EXPECT_EQ(next(client, 5000).events, PF_FD_READ);
    char buffer[8];
    EXPECT_EQ(pf_socket_recv(client, buffer, sizeof buffer), 3);
    close_now(server);
    record closed = next(client, 5000);
    EXPECT_EQ(closed.events, PF_FD_CLOSE);
    EXPECT_EQ(closed.errors[PF_FD_CLOSE_BIT], 0);
}

TEST_F(remembered, ConnectMadeBeforeAnyAssociationReportsData)
{
    int client = make(pf_socket_create(AF_INET, SOCK_STREAM, 0));
    int server = -1;
    connected_pair(client, &server);
    ASSERT_EQ(pf_net_event_select(client, event, PF_FD_READ | PF_FD_CLOSE), 0);
    ASSERT_EQ(pf_socket_send(server, "x", 1), 1);
    EXPECT_EQ(next(client, 5000).events, PF_FD_READ);
}

TEST_F(remembered, ResetBetweenTheReadersTwoAssociationsIsReported)
{
    int client = make(pf_socket_create(AF_INET, SOCK_STREAM, 0));
    int server = -1;
    connected_pair(client, &server);
    ASSERT_EQ(pf_net_event_select(server, event, PF_FD_READ | PF_FD_CLOSE), 0);
    ASSERT_EQ(pf_socket_send(client, "frame", 5), 5);
    ASSERT_EQ(next(server, 5000).events, PF_FD_READ);

    // The reader's cycle around its receive, with the peer's reset landing inside it.
    ASSERT_EQ(pf_net_event_select(server, event, PF_FD_CLOSE), 0);
    pf_socket_close_reset(client);
    for (int &kept : sockets)
        if (kept == client)
            kept = -1;
    ASSERT_TRUE(qel_test::wait_until(
        [&]
        {
            sockaddr_storage peer;
            socklen_t size = sizeof peer;
            return getpeername(server, reinterpret_cast<sockaddr *>(&peer), &size) != 0;
        },
        5000));
    char buffer[16];
    int got = pf_socket_recv(server, buffer, sizeof buffer);
    ASSERT_EQ(pf_net_event_select(server, event, PF_FD_READ | PF_FD_CLOSE), 0);

    bool reset_seen = got < 0 && pf_get_last_error() == PF_WSAECONNRESET;
    for (int round = 0; round < 4 && !reset_seen; ++round)
    {
        record r = next(server, 5000);
        ASSERT_NE(r.events, 0) << "the reset was never reported";
        if ((r.events & PF_FD_CLOSE) != 0)
        {
            EXPECT_EQ(r.errors[PF_FD_CLOSE_BIT], static_cast<int32_t>(PF_WSAECONNRESET));
            reset_seen = true;
        }
        else if ((r.events & PF_FD_READ) != 0)
        {
            int n = pf_socket_recv(server, buffer, sizeof buffer);
            reset_seen = n < 0 && pf_get_last_error() == PF_WSAECONNRESET;
        }
    }
    EXPECT_TRUE(reset_seen);
}
