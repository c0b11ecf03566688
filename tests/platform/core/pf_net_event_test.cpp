// Network events on loopback sockets: each event is reported once and comes back only
// after the call that re-enables it, as the gateway's network threads expect.
#include "platform/core/pf_net_event.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "platform/core/pf_error.h"
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

// Waits on one event and reads the socket's record; {0} when nothing came in time.
record wait_and_enum(pf_net_event *event, int fd, uint32_t timeout_ms)
{
    record r;
    if (pf_wait_for_single(pf_net_event_waitable(event), timeout_ms) == PF_WAIT_OBJECT_0)
    {
        EXPECT_EQ(pf_net_event_enum(fd, &r.events, r.errors), 0);
    }
    return r;
}

// A listener on a reserved port and a connected pair, each socket with its own event.
struct connection : ::testing::Test
{
    pf_net_event *listen_event = pf_net_event_create();
    pf_net_event *client_event = pf_net_event_create();
    pf_net_event *server_event = pf_net_event_create();
    int listener = -1;
    int client = -1;
    int server = -1;
    qel_test::reserved_port reservation; // also keeps the port unused once the listener is closed
    uint16_t port = reservation.number();

    void SetUp() override
    {
        listener = pf_socket_create(AF_INET, SOCK_STREAM, 0);
        ASSERT_EQ(pf_socket_bind(listener, k_loopback, port), 0);
        ASSERT_EQ(pf_socket_listen(listener, 5), 0);
        ASSERT_EQ(pf_net_event_select(listener, listen_event, PF_FD_ACCEPT), 0);
    }

    void connect_pair()
    {
        client = pf_socket_create(AF_INET, SOCK_STREAM, 0);
        ASSERT_EQ(
            pf_net_event_select(client, client_event, PF_FD_CONNECT | PF_FD_READ | PF_FD_WRITE | PF_FD_CLOSE),
            0);
        ASSERT_EQ(pf_socket_connect(client, k_loopback, port), -1);
        ASSERT_EQ(pf_get_last_error(), PF_WSAEWOULDBLOCK);
        record accepted = wait_and_enum(listen_event, listener, 5000);
        ASSERT_EQ(accepted.events, PF_FD_ACCEPT);
        server = pf_socket_accept(listener, nullptr, nullptr);
        ASSERT_GE(server, 0);
        ASSERT_EQ(pf_net_event_select(server, server_event, PF_FD_READ | PF_FD_WRITE | PF_FD_CLOSE), 0);
        record connected = wait_and_enum(client_event, client, 5000);
        ASSERT_EQ(connected.events, PF_FD_CONNECT | PF_FD_WRITE);
        ASSERT_EQ(connected.errors[PF_FD_CONNECT_BIT], 0);
        ASSERT_EQ(wait_and_enum(server_event, server, 5000).events, PF_FD_WRITE);
    }

    void TearDown() override
    {
        for (int fd : {client, server, listener})
        {
            if (fd >= 0)
            {
                pf_socket_close(fd);
            }
        }
        pf_net_event_destroy(listen_event);
        pf_net_event_destroy(client_event);
        pf_net_event_destroy(server_event);
    }
};
} // namespace

using PfNetEvent = connection;

TEST_F(PfNetEvent, AcceptIsReportedOnceUntilAccepted)
{
    int first = pf_socket_create(AF_INET, SOCK_STREAM, 0);
    int second = pf_socket_create(AF_INET, SOCK_STREAM, 0);
    pf_socket_set_nonblocking(first, true);
    pf_socket_set_nonblocking(second, true);
    pf_socket_connect(first, k_loopback, port);
    pf_socket_connect(second, k_loopback, port);
    EXPECT_EQ(wait_and_enum(listen_event, listener, 5000).events, PF_FD_ACCEPT);
    // Two are waiting, but nothing more is reported before an accept.
    EXPECT_EQ(wait_and_enum(listen_event, listener, 20).events, 0);
    int accepted = pf_socket_accept(listener, nullptr, nullptr);
    ASSERT_GE(accepted, 0);
    EXPECT_EQ(wait_and_enum(listen_event, listener, 5000).events, PF_FD_ACCEPT);
    for (int fd : {first, second, accepted})
    {
        pf_socket_close(fd);
    }
}

TEST_F(PfNetEvent, ReadIsReportedAgainOnlyAfterAReceive)
{
    connect_pair();
    ASSERT_EQ(pf_socket_send(server, "abcdef", 6), 6);
    record r = wait_and_enum(client_event, client, 5000);
    EXPECT_EQ(r.events, PF_FD_READ);
    EXPECT_EQ(wait_and_enum(client_event, client, 20).events, 0);
    char buffer[4];
    ASSERT_EQ(pf_socket_recv(client, buffer, 4), 4);
    // Two bytes are left: the receive re-enabled FD_READ.
    EXPECT_EQ(wait_and_enum(client_event, client, 5000).events, PF_FD_READ);
    ASSERT_EQ(pf_socket_recv(client, buffer, 4), 2);
    EXPECT_EQ(pf_socket_recv(client, buffer, 4), -1);
    EXPECT_EQ(pf_get_last_error(), PF_WSAEWOULDBLOCK);
    EXPECT_EQ(wait_and_enum(client_event, client, 20).events, 0);
}

TEST_F(PfNetEvent, WriteIsReportedAfterASendWouldBlock)
{
    connect_pair();
    // Nothing while the socket stays writable.
    EXPECT_EQ(wait_and_enum(client_event, client, 20).events, 0);
    std::vector<char> block(65536, 'x');
    int sent;
    do
    {
        sent = pf_socket_send(client, block.data(), static_cast<int32_t>(block.size()));
    } while (sent > 0);
    ASSERT_EQ(pf_get_last_error(), PF_WSAEWOULDBLOCK);
    EXPECT_EQ(wait_and_enum(client_event, client, 20).events, 0);
    // Drain the server side until the client can write again.
    record r;
    for (int turn = 0; turn < 10000 && (r.events & PF_FD_WRITE) == 0; ++turn)
    {
        while (pf_socket_recv(server, block.data(), static_cast<int32_t>(block.size())) > 0)
        {
        }
        r = wait_and_enum(client_event, client, 10);
    }
    EXPECT_EQ(r.events, PF_FD_WRITE);
}

TEST_F(PfNetEvent, PeerCloseIsReportedAfterTheData)
{
    connect_pair();
    ASSERT_EQ(pf_socket_send(server, "xy", 2), 2);
    ASSERT_EQ(pf_socket_close(server), 0);
    server = -1;
    EXPECT_EQ(wait_and_enum(client_event, client, 5000).events, PF_FD_READ);
    char buffer[8];
    ASSERT_EQ(pf_socket_recv(client, buffer, 8), 2);
    record r = wait_and_enum(client_event, client, 5000);
    EXPECT_EQ(r.events, PF_FD_CLOSE);
    EXPECT_EQ(r.errors[PF_FD_CLOSE_BIT], 0);
    // Once only.
    EXPECT_EQ(wait_and_enum(client_event, client, 20).events, 0);
}

TEST_F(PfNetEvent, ResetIsReportedAsCloseWithConnReset)
{
    connect_pair();
    linger abort_on_close = {1, 0};
    ASSERT_EQ(setsockopt(server, SOL_SOCKET, SO_LINGER, &abort_on_close, sizeof abort_on_close), 0);
    pf_socket_close(server);
    server = -1;
    record r = wait_and_enum(client_event, client, 5000);
    EXPECT_EQ(r.events, PF_FD_CLOSE);
    EXPECT_EQ(r.errors[PF_FD_CLOSE_BIT], static_cast<int32_t>(PF_WSAECONNRESET));
}

TEST_F(PfNetEvent, RefusedConnectIsReportedWithItsError)
{
    pf_socket_close(listener);
    listener = -1;
    client = pf_socket_create(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(
        pf_net_event_select(client, client_event, PF_FD_CONNECT | PF_FD_READ | PF_FD_WRITE | PF_FD_CLOSE), 0);
    pf_socket_connect(client, k_loopback, port);
    record r = wait_and_enum(client_event, client, 5000);
    EXPECT_EQ(r.events, PF_FD_CONNECT);
    EXPECT_EQ(r.errors[PF_FD_CONNECT_BIT], static_cast<int32_t>(PF_WSAECONNREFUSED));
    EXPECT_EQ(wait_and_enum(client_event, client, 20).events, 0);
}

TEST_F(PfNetEvent, SetByCallAndSocketEventsAreIndependent)
{
    connect_pair();
    pf_waitable *both[2] = {pf_net_event_waitable(server_event), pf_net_event_waitable(client_event)};
    ASSERT_TRUE(pf_net_event_set(client_event));
    EXPECT_EQ(pf_wait_for_multiple(both, 2, false, 0), PF_WAIT_OBJECT_0 + 1);
    // Manual reset: still set after the wait.
    EXPECT_EQ(pf_wait_for_multiple(both, 2, false, 0), PF_WAIT_OBJECT_0 + 1);
    ASSERT_EQ(pf_socket_send(client, "q", 1), 1);
    // The socket event at the lower index is found although index 1 was already set.
    EXPECT_EQ(pf_wait_for_multiple(both, 2, false, 5000), PF_WAIT_OBJECT_0);
    EXPECT_EQ(pf_wait_for_multiple(both, 2, true, 0), PF_WAIT_OBJECT_0);
    // A reset does not hide the server's unread record.
    ASSERT_TRUE(pf_net_event_reset(client_event));
    EXPECT_EQ(pf_wait_for_multiple(both, 2, false, 0), PF_WAIT_OBJECT_0);
    record r;
    ASSERT_EQ(pf_net_event_enum(server, &r.events, r.errors), 0);
    EXPECT_EQ(r.events, PF_FD_READ);
    EXPECT_EQ(pf_wait_for_multiple(both, 2, false, 10), PF_WAIT_TIMEOUT);
}

// A wait without a time-out is a look: sockets report only when polled, so the look polls
// them, also below an object that is ready without them.
TEST_F(PfNetEvent, ALookFindsDataNoWaitHasPolledYet)
{
    connect_pair();
    ASSERT_EQ(pf_socket_send(client, "q", 1), 1);
    EXPECT_EQ(wait_and_enum(server_event, server, 0).events, PF_FD_READ);
    char byte;
    ASSERT_EQ(pf_socket_recv(server, &byte, 1), 1);

    pf_waitable *both[2] = {pf_net_event_waitable(server_event), pf_net_event_waitable(client_event)};
    ASSERT_TRUE(pf_net_event_set(client_event));
    ASSERT_EQ(pf_socket_send(client, "r", 1), 1);
    EXPECT_EQ(pf_wait_for_multiple(both, 2, false, 0), PF_WAIT_OBJECT_0);
}

TEST(PfNetEventErrors, EnumAndSelectRefuseWhatIsNotASocket)
{
    record r;
    EXPECT_EQ(pf_net_event_enum(-1, &r.events, r.errors), -1);
    EXPECT_EQ(pf_get_last_error(), PF_WSAENOTSOCK);
    int pipe_ends[2];
    ASSERT_EQ(pipe(pipe_ends), 0);
    pf_net_event *event = pf_net_event_create();
    EXPECT_EQ(pf_net_event_select(pipe_ends[0], event, PF_FD_READ), -1);
    EXPECT_EQ(pf_get_last_error(), PF_WSAENOTSOCK);
    EXPECT_EQ(pf_net_event_enum(pipe_ends[0], &r.events, r.errors), -1);
    pf_net_event_destroy(event);
    close(pipe_ends[0]);
    close(pipe_ends[1]);
}

TEST(PfSocket, SendToAClosedPeerFailsWithoutKillingTheProcess)
{
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    uint16_t version = 0;
    const char *description = nullptr;
    ASSERT_EQ(pf_socket_startup(0x0002, &version, &description), 0);
    struct sigaction current = {};
    sigaction(SIGPIPE, nullptr, &current);
    EXPECT_EQ(current.sa_handler, SIG_IGN);
    close(pair[1]);
    EXPECT_EQ(pf_socket_send(pair[0], "x", 1), -1);
    EXPECT_EQ(pf_get_last_error(), PF_WSAECONNRESET);
    // A plain write raises SIGPIPE, which is ignored.
    EXPECT_EQ(write(pair[0], "x", 1), -1);
    close(pair[0]);
}

TEST(PfSocket, InetAddrAcceptsDottedAddressesOnly)
{
    EXPECT_EQ(pf_inet_addr("127.0.0.1"), htonl(0x7F000001));
    EXPECT_EQ(pf_inet_addr("10.1.2.3"), htonl(0x0A010203));
    EXPECT_EQ(pf_inet_addr("host.example"), 0xFFFFFFFFu);
    EXPECT_EQ(pf_inet_addr(nullptr), 0xFFFFFFFFu);
    char text[16];
    pf_inet_ntoa(htonl(0xC0A80001), text, sizeof text);
    EXPECT_STREQ(text, "192.168.0.1");
}

TEST(PfSocket, BindToPortZeroTellsThePortTheSystemChose)
{
    int listener = pf_socket_create(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(pf_socket_bind(listener, k_loopback, 0), 0);
    ASSERT_EQ(pf_socket_listen(listener, 1), 0);
    uint16_t port = 0;
    ASSERT_EQ(pf_socket_local_port(listener, &port), 0);
    EXPECT_NE(port, 0);
    int client = pf_socket_create(AF_INET, SOCK_STREAM, 0);
    EXPECT_EQ(pf_socket_connect(client, k_loopback, port), 0);
    pf_socket_close(client);
    pf_socket_close(listener);
    EXPECT_EQ(pf_socket_local_port(listener, &port), -1);
}
