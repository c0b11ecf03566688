// What a half-closed connection says of the peer's side: its FIN is acknowledged once the
// peer's system holds the connection (accepted or still in the listen queue) and stays so
// after the peer closes too; a connection that ends without it, or none at all, failed.
// A waiting accept that a signal interrupts goes on waiting.
#include <gtest/gtest.h>

#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdint>
#include <fstream>
#include <string>
#include <thread>

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

std::atomic<int> g_signals{0};

void count_signal(int)
{
    ++g_signals;
}

// The state letter of a thread of this process (R running, S sleeping in a call, ...).
char thread_state(long tid)
{
    std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
    std::string line;
    std::getline(stat, line);
    const size_t name_end = line.rfind(')');
    return name_end == std::string::npos || name_end + 2 >= line.size() ? '?' : line[name_end + 2];
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

// The kernel ends a waiting accept with EINTR when a signal arrives whose handler does not
// ask for restarts; the accept goes on waiting, and its caller sees only its connection.
TEST(PfSocketAccept, ASignalDuringTheWaitDoesNotEndIt)
{
    struct sigaction counting = {};
    counting.sa_handler = count_signal;
    sigemptyset(&counting.sa_mask);
    struct sigaction before = {};
    ASSERT_EQ(sigaction(SIGUSR1, &counting, &before), 0);
    const int listener = pf_socket_create(2, 1, 6);
    ASSERT_GE(listener, 0);
    ASSERT_EQ(pf_socket_bind(listener, k_loopback, 0), 0);
    ASSERT_EQ(pf_socket_listen(listener, 5), 0);

    std::atomic<long> waiter_tid{0};
    std::atomic<int> accepted{-2};
    std::atomic<int> error{0};
    std::thread waiter(
        [&]
        {
            waiter_tid = syscall(SYS_gettid);
            accepted = pf_socket_accept(listener, nullptr, nullptr);
            error = pf_get_last_error();
        });
    // Signalled once it sleeps in the accept, then given its connection whatever happened.
    const bool sleeping =
        qel_test::wait_until([&] { return waiter_tid != 0 && thread_state(waiter_tid) == 'S'; }, 5000);
    const int signals = g_signals;
    bool signalled = false;
    if (sleeping)
    {
        pthread_kill(waiter.native_handle(), SIGUSR1);
        signalled = qel_test::wait_until([&] { return g_signals > signals; }, 5000);
    }
    const int client = pf_socket_create(2, 1, 6);
    EXPECT_EQ(pf_socket_connect(client, k_loopback, pf_socket_local_port(listener)), 0);
    waiter.join();
    EXPECT_TRUE(sleeping);
    EXPECT_TRUE(signalled);
    EXPECT_GE(accepted.load(), 0) << "the accept ended with error " << error.load();
    if (accepted >= 0)
        pf_socket_close(accepted);
    pf_socket_close(client);
    pf_socket_close(listener);
    sigaction(SIGUSR1, &before, nullptr);
}
