// What a half-closed connection says of the peer's side: its FIN is acknowledged once the
// peer's system holds the connection (accepted or still in the listen queue) and stays so
// after the peer closes too; a connection that ends without it, or none at all, failed.
#include <gtest/gtest.h>

#include <cstdint>

#include "platform/core/pf_error.h"
#include "platform/core/pf_socket.h"
#include "support/test_support_wait.h"

namespace
{
const uint32_t k_loopback = 0x0100007Fu; // 127.0.0.1 in network order

struct loopback_pair
{
    int listener = -1;
    int client = -1;
    uint16_t port = 0;

    loopback_pair()
    {
        listener = pf_socket_create(2, 1, 6);
        if (listener < 0 || pf_socket_bind(listener, k_loopback, 0) != 0 ||
            pf_socket_listen(listener, 5) != 0)
            return;
        port = pf_socket_local_port(listener);
        client = pf_socket_create(2, 1, 6);
        if (client >= 0 && (pf_socket_connect(client, k_loopback, port) != 0 ||
                            pf_socket_set_nonblocking(client, true) != 0))
        {
            pf_socket_close(client);
            client = -1;
        }
    }

    ~loopback_pair()
    {
        if (client >= 0)
            pf_socket_close(client);
        if (listener >= 0)
            pf_socket_close(listener);
    }

    int accept() const { return pf_socket_accept(listener, nullptr, nullptr); }
};

bool fin_state_becomes(int fd, pf_fin_state state)
{
    return qel_test::wait_until([&] { return pf_socket_fin_state(fd) == state; }, 5000);
}

// Reads until the peer's close (0) or reset (the error) arrives.
bool peer_ended(int fd, bool reset)
{
    return qel_test::wait_until(
        [&]
        {
            char byte = 0;
            const int n = pf_socket_recv(fd, &byte, 1);
            return reset ? n < 0 && pf_get_last_error() == PF_WSAECONNRESET : n == 0;
        },
        5000);
}
} // namespace

TEST(PfSocketFinState, AcknowledgedOnceThePeersSystemHoldsTheConnectionAndAfterItsClose)
{
    loopback_pair pair;
    ASSERT_GE(pair.client, 0);
    EXPECT_EQ(pf_socket_fin_state(pair.client), PF_FIN_UNACKNOWLEDGED) << "no FIN sent yet";
    ASSERT_EQ(pf_socket_shutdown_send(pair.client), 0);
    // Still in the listen queue: the peer's program has not accepted it, its system holds it.
    EXPECT_TRUE(fin_state_becomes(pair.client, PF_FIN_ACKNOWLEDGED));

    const int accepted = pair.accept();
    ASSERT_GE(accepted, 0);
    pf_socket_close(accepted);
    EXPECT_TRUE(peer_ended(pair.client, false));
    EXPECT_EQ(pf_socket_fin_state(pair.client), PF_FIN_ACKNOWLEDGED) << "both sides closed";
}

TEST(PfSocketFinState, FailedWhenTheConnectionEndsWithoutItOrThereIsNone)
{
    {
        loopback_pair pair;
        ASSERT_GE(pair.client, 0);
        const int accepted = pair.accept();
        ASSERT_GE(accepted, 0);
        pf_socket_close_reset(accepted);
        EXPECT_TRUE(fin_state_becomes(pair.client, PF_FIN_FAILED)) << "reset before this side's FIN";
        EXPECT_TRUE(peer_ended(pair.client, true)) << "takes the reset's error";
        EXPECT_EQ(pf_socket_fin_state(pair.client), PF_FIN_FAILED) << "the reset outlives its error";
    }
    {
        loopback_pair pair;
        ASSERT_GE(pair.client, 0);
        ASSERT_EQ(pf_socket_shutdown_send(pair.client), 0);
        const int accepted = pair.accept();
        ASSERT_GE(accepted, 0);
        ASSERT_TRUE(fin_state_becomes(pair.client, PF_FIN_ACKNOWLEDGED));
        pf_socket_close_reset(accepted);
        EXPECT_TRUE(peer_ended(pair.client, true));
        EXPECT_EQ(pf_socket_fin_state(pair.client), PF_FIN_ACKNOWLEDGED) << "held until its reset";
    }
    const int unconnected = pf_socket_create(2, 1, 6);
    ASSERT_GE(unconnected, 0);
    EXPECT_EQ(pf_socket_fin_state(unconnected), PF_FIN_FAILED);
    pf_socket_close(unconnected);
}
