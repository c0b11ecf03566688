// A connection the peer closes or resets while the reader moves its socket between event
// masks (as the gateway's workstation reader does around every receive) is still reported:
// the data that came before the close can be read, and the close itself arrives.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>

#include "platform/core/pf_error.h"
#include "platform/core/pf_net_event.h"
#include "platform/core/pf_socket.h"
#include "platform/core/pf_wait.h"
#include "platform/core/pf_waitable.h"
#include "support/test_support.h"

namespace
{
const uint32_t k_loopback = htonl(INADDR_LOOPBACK);

struct leaving_case
{
    const char *name;
    bool reset;                 // the peer resets instead of closing gracefully
    bool reselect_after_record; // the close was recorded before the reader changed its mask
};

class peer_leaves : public ::testing::TestWithParam<leaving_case>
{
  protected:
    pf_net_event *event = pf_net_event_create();
    int listener = -1, client = -1, server = -1;

    void SetUp() override
    {
        qel_test::reserved_port reservation;
        uint16_t port = reservation.number();
        listener = pf_socket_create(AF_INET, SOCK_STREAM, 0);
        ASSERT_EQ(pf_socket_bind(listener, k_loopback, port), 0);
        ASSERT_EQ(pf_socket_listen(listener, 5), 0);
        client = pf_socket_create(AF_INET, SOCK_STREAM, 0);
        ASSERT_EQ(pf_socket_connect(client, k_loopback, port), 0);
        server = pf_socket_accept(listener, nullptr, nullptr);
        ASSERT_GE(server, 0);
        ASSERT_EQ(pf_net_event_select(server, event, PF_FD_READ | PF_FD_CLOSE), 0);
    }

    void TearDown() override
    {
        for (int fd : {listener, client, server})
            if (fd >= 0)
                pf_socket_close(fd);
        pf_net_event_destroy(event);
    }

    int32_t next_events(uint32_t timeout_ms)
    {
        int32_t events = 0;
        int32_t errors[PF_FD_MAX_EVENTS] = {};
        if (pf_wait_for_single(pf_net_event_waitable(event), timeout_ms) == PF_WAIT_OBJECT_0)
        {
            EXPECT_EQ(pf_net_event_enum(server, &events, errors), 0);
        }
        return events;
    }
};

TEST_P(peer_leaves, TheCloseIsReportedAfterTheMaskChanges)
{
    const leaving_case &c = GetParam();
    const char half_frame[11] = "0123456789";
    ASSERT_EQ(pf_socket_send(client, half_frame, 10), 10);
    if (c.reset)
    {
        linger abort_on_close = {1, 0};
        ASSERT_EQ(setsockopt(client, SOL_SOCKET, SO_LINGER, &abort_on_close, sizeof abort_on_close), 0);
    }
    pf_socket_close(client);
    client = -1;
    if (c.reselect_after_record)
    {
        ASSERT_EQ(pf_wait_for_single(pf_net_event_waitable(event), 5000), PF_WAIT_OBJECT_0);
    }
    else if (c.reset)
    {
        ASSERT_TRUE(qel_test::wait_until(
            [&]
            {
                sockaddr_storage peer;
                socklen_t size = sizeof peer;
                return getpeername(server, reinterpret_cast<sockaddr *>(&peer), &size) != 0;
            },
            5000));
    }

    // The reader's receive cycle: only the close while it reads, then both again.
    ASSERT_EQ(pf_net_event_select(server, event, PF_FD_CLOSE), 0);
    ASSERT_EQ(pf_net_event_select(server, event, PF_FD_READ | PF_FD_CLOSE), 0);

    bool closed = false;
    int received = 0;
    for (int round = 0; round < 8 && !closed; ++round)
    {
        int32_t events = next_events(5000);
        ASSERT_NE(events, 0) << "the peer's leaving was never reported";
        if ((events & PF_FD_READ) != 0)
        {
            char buffer[64];
            int n = pf_socket_recv(server, buffer, sizeof buffer);
            if (n > 0)
                received += n;
            else
                closed = true; // end of stream or the reset, found by the read
        }
        if ((events & PF_FD_CLOSE) != 0)
            closed = true;
    }
    EXPECT_TRUE(closed);
    if (!c.reset)
    {
        EXPECT_EQ(received, 10) << "data before a graceful close is read in full";
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, peer_leaves,
                         ::testing::Values(leaving_case{"reset_then_mask_change", true, false},
                                           leaving_case{"reset_recorded_then_mask_change", true, true},
                                           leaving_case{"close_then_mask_change", false, false},
                                           leaving_case{"close_recorded_then_mask_change", false, true}),
                         [](const ::testing::TestParamInfo<leaving_case> &info) { return info.param.name; });
} // namespace
