// Socket helpers: start-up texts, option codes, the network-event record, and one
// conversation over loopback through the wrappers the network layers use.
#include "gateway/runtime/ea_socket.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "gateway/runtime/ea_sync_info.h"
#include "platform/core/pf_socket.h"
#include "support/test_support.h"

namespace
{
int option(int fd, int level, int name)
{
    int value = -1;
    socklen_t size = sizeof value;
    getsockopt(fd, level, name, &value, &size);
    return value;
}

bool nonblocking(int fd)
{
    return (fcntl(fd, F_GETFL) & O_NONBLOCK) != 0;
}

// Waits on the object's network event and reads the socket's record.
ea_network_events next_events(ea_sync_info *sync, int32_t fd, uint32_t timeout_ms)
{
    ea_network_events events = {};
    int32_t index = -1;
    if (ea_sync_info_wait_for_multiple_netwrok_event_objects(&sync, 1, false, timeout_ms, &index) ==
        EA_SUCCESS)
    {
        EXPECT_EQ(ea_enum_network_events(fd, &events), 0);
    }
    return events;
}
} // namespace

TEST(EaSocket, InitSucceedsWithVersion2AndReportsFailuresByText)
{
    char text[128] = "untouched";
    uint32_t length = sizeof text;
    EXPECT_EQ(ea_socket_init(text, &length), EA_SUCCESS);
    EXPECT_STREQ(text, "untouched");

    struct
    {
        int32_t error;
        uint16_t version;
        const char *text;
    } cases[] = {
        {0, 0x0101, "ea_socket_init failed: Winsock 2.0 not available"},
        {10014, 0x0002, "ea_socket_init failed: WSAEFAULT - Linux BSD sockets"},
        {10036, 0x0002, "ea_socket_init failed: WSAEINPROGRESS - Linux BSD sockets"},
        {10067, 0x0002, "ea_socket_init failed: WSAEPROCLIM - Linux BSD sockets"},
        {10091, 0x0002, "ea_socket_init failed: WSASYSNOTREADY - Linux BSD sockets"},
        {10092, 0x0002, "ea_socket_init failed: WSAVERNOTSUPPORTED - Linux BSD sockets"},
        {10050, 0x0002, "ea_socket_init failed: Linux BSD sockets"},
    };
    for (const auto &c : cases)
    {
        pf_socket_set_startup_result(c.error, c.version);
        length = sizeof text;
        EXPECT_EQ(ea_socket_init(text, &length), EA_ERROR);
        EXPECT_STREQ(text, c.text);
        EXPECT_EQ(length, strlen(c.text));
    }
    // A short buffer gets the text cut to its length - 1; the length out is the whole text's.
    char small[8];
    length = sizeof small;
    EXPECT_EQ(ea_socket_init(small, &length), EA_ERROR);
    EXPECT_STREQ(small, "ea_sock");
    EXPECT_EQ(length, strlen(cases[6].text));
    // A network event cannot be made while the library does not start.
    EXPECT_EQ(ea_sync_info_create(EA_SYNC_NETWORK_EVENT, 0), nullptr);
    pf_socket_set_startup_result(0, 0x0002);
    EXPECT_EQ(ea_socket_cleanup(), EA_SUCCESS);
}

TEST(EaSocket, OptionCodes)
{
    int fd = ea_socket(EA_AF_INET, EA_SOCK_STREAM, EA_IPPROTO_TCP);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(ea_setsockopt(fd, 15), 0);
    EXPECT_FALSE(nonblocking(fd));
    EXPECT_EQ(option(fd, IPPROTO_TCP, TCP_NODELAY), 0);
    EXPECT_EQ(ea_setsockopt(fd, EA_SOCKOPT_TCP_NODELAY), 0);
    EXPECT_NE(option(fd, IPPROTO_TCP, TCP_NODELAY), 0);
    EXPECT_EQ(ea_setsockopt(fd, EA_SOCKOPT_NONBLOCKING), 0);
    EXPECT_TRUE(nonblocking(fd));
    EXPECT_EQ(ea_setsockopt(fd, EA_SOCKOPT_KEEPALIVE), 0);
    EXPECT_NE(option(fd, SOL_SOCKET, SO_KEEPALIVE), 0);
    EXPECT_EQ(ea_setsockopt(fd, EA_SOCKOPT_REUSEADDR), 0);
    EXPECT_NE(option(fd, SOL_SOCKET, SO_REUSEADDR), 0);
    EXPECT_EQ(ea_closesocket(fd), 0);
    EXPECT_EQ(ea_setsockopt(fd, EA_SOCKOPT_TCP_NODELAY), EA_NOT_FOUND);
    EXPECT_EQ(ea_socket_last_error(), 10009);
}

TEST(EaSocket, CheckNetworkEventReadsTheBitAndItsError)
{
    ea_network_events events = {};
    events.network_events = EA_FD_CONNECT | EA_FD_CLOSE | EA_FD_OOB;
    events.error_code[EA_FD_CONNECT_BIT] = EA_WSAECONNREFUSED;
    events.error_code[EA_FD_CLOSE_BIT] = EA_WSAECONNRESET;
    struct
    {
        int32_t bit;
        int32_t result;
        int32_t error;
    } cases[] = {
        {EA_FD_READ, 0, -5},
        {EA_FD_WRITE, 0, -5},
        {EA_FD_ACCEPT, 0, -5},
        {EA_FD_OOB, 1, -5},
        {EA_FD_CONNECT, 1, EA_WSAECONNREFUSED},
        {EA_FD_CLOSE, 1, EA_WSAECONNRESET},
    };
    for (const auto &c : cases)
    {
        int32_t error = -5;
        EXPECT_EQ(ea_check_network_event(&events, c.bit, &error), c.result) << c.bit;
        EXPECT_EQ(error, c.error) << c.bit;
    }
}

TEST(EaSocket, LoopbackConversationThroughTheWrappers)
{
    qel_test::reserved_port reservation;
    uint16_t port = reservation.number();
    ea_sync_info *listen_sync = ea_sync_info_create(EA_SYNC_NETWORK_EVENT, 0);
    ea_sync_info *client_sync = ea_sync_info_create(EA_SYNC_NETWORK_EVENT, 0);
    ea_sync_info *server_sync = ea_sync_info_create(EA_SYNC_NETWORK_EVENT, 0);

    int32_t listener = ea_socket(EA_AF_INET, EA_SOCK_STREAM, EA_IPPROTO_TCP);
    ASSERT_EQ(ea_bind(listener, "127.0.0.1", port), 0);
    ASSERT_EQ(ea_listen(listener, 5), 0);
    ASSERT_EQ(ea_sync_info_network_event_select(listen_sync, listener, EA_FD_ACCEPT), 0);

    int32_t client = ea_socket(EA_AF_INET, EA_SOCK_STREAM, EA_IPPROTO_TCP);
    ASSERT_EQ(ea_sync_info_network_event_select(client_sync, client,
                                                EA_FD_CONNECT | EA_FD_READ | EA_FD_WRITE | EA_FD_CLOSE),
              0);
    EXPECT_EQ(ea_connect(client, "127.0.0.1", port), EA_SOCKET_ERROR);
    EXPECT_EQ(ea_socket_last_error(), EA_WSAEWOULDBLOCK);

    EXPECT_EQ(next_events(listen_sync, listener, 5000).network_events, EA_FD_ACCEPT);
    char peer[32] = "";
    uint16_t peer_port = 0;
    int32_t server = ea_accept(listener, peer, sizeof peer, &peer_port);
    ASSERT_GE(server, 0);
    EXPECT_STREQ(peer, "127.0.0.1");
    EXPECT_NE(peer_port, 0);
    ASSERT_EQ(ea_sync_info_network_event_select(server_sync, server, EA_FD_READ | EA_FD_WRITE | EA_FD_CLOSE),
              0);

    ea_network_events events = next_events(client_sync, client, 5000);
    int32_t error = -1;
    EXPECT_EQ(ea_check_network_event(&events, EA_FD_CONNECT, &error), 1);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(ea_check_network_event(&events, EA_FD_WRITE, &error), 1);

    EXPECT_EQ(next_events(server_sync, server, 5000).network_events, EA_FD_WRITE);
    ASSERT_EQ(ea_send(client, "hello", 5), 5);
    EXPECT_EQ(next_events(server_sync, server, 5000).network_events, EA_FD_READ);
    char buffer[16] = {};
    ASSERT_EQ(ea_recv(server, buffer, sizeof buffer), 5);
    EXPECT_STREQ(buffer, "hello");

    ASSERT_EQ(ea_closesocket(client), 0);
    events = next_events(server_sync, server, 5000);
    EXPECT_EQ(ea_check_network_event(&events, EA_FD_CLOSE, &error), 1);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(ea_recv(server, buffer, sizeof buffer), 0);

    // Sending into the closed connection fails and SIGPIPE does not end the process.
    int32_t result = 0;
    for (int i = 0; i < 100 && result >= 0; ++i)
    {
        result = ea_send(server, "x", 1);
    }
    EXPECT_EQ(result, EA_SOCKET_ERROR);
    EXPECT_EQ(ea_socket_last_error(), EA_WSAECONNRESET);
    struct sigaction current = {};
    sigaction(SIGPIPE, nullptr, &current);
    EXPECT_EQ(current.sa_handler, SIG_IGN);
    EXPECT_EQ(write(server, "x", 1), -1);

    ea_closesocket(server);
    ea_closesocket(listener);
    ea_sync_info_destroy(listen_sync);
    ea_sync_info_destroy(client_sync);
    ea_sync_info_destroy(server_sync);
}

TEST(EaSocket, InetAddrAndErrorTexts)
{
    EXPECT_EQ(ea_inet_addr("127.0.0.1"), htonl(INADDR_LOOPBACK));
    EXPECT_EQ(ea_inet_addr("not an address"), 0xFFFFFFFFu);
    EXPECT_STREQ(ea_socket_error_text(EA_WSAEWOULDBLOCK), "Resource temporarily unavailable");
    EXPECT_STREQ(ea_socket_error_text(EA_WSAECONNRESET), "Connection reset by peer");
}
