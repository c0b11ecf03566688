// The flood of connections that never sign on counts as taken only what the listener's
// system took, so that the attack suites can hold a gateway to an exact account: a plain
// listener with a short queue that accepts slowly, as a busy gateway does, and what it
// accepted beside what the flood says.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <iostream>
#include <thread>

#include "platform/core/pf_error.h"
#include "platform/core/pf_socket.h"
#include "sim/hostile/hostile_peers.h"

namespace
{
const uint32_t k_loopback = 0x0100007Fu; // 127.0.0.1 in network order

// A listener on a port of the system's choice that accepts on a thread of its own, at most
// one connection per `pause_ms`, and closes each at once, as a gateway refusing them.
class slow_listener
{
  public:
    slow_listener(int backlog, uint32_t pause_ms) : m_pause_ms(pause_ms)
    {
        m_socket = pf_socket_create(2, 1, 6);
        if (m_socket < 0 || pf_socket_bind(m_socket, k_loopback, 0) != 0 ||
            pf_socket_listen(m_socket, backlog) != 0 || pf_socket_set_nonblocking(m_socket, true) != 0)
            return;
        m_port = pf_socket_local_port(m_socket);
        m_thread = std::thread([this] { run(); });
    }

    ~slow_listener()
    {
        stop();
        if (m_socket >= 0)
            pf_socket_close(m_socket);
    }

    uint16_t port() const { return m_port; }

    // Accepts what the queue still holds, then stops; the number accepted in all.
    uint32_t stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        while (accept_one())
        {
        }
        return m_accepted;
    }

  private:
    bool accept_one()
    {
        const int accepted = pf_socket_accept(m_socket, nullptr, nullptr);
        if (accepted < 0)
            return false;
        pf_socket_close(accepted);
        ++m_accepted;
        return true;
    }

    void run()
    {
        while (!m_stop)
        {
            accept_one();
            std::this_thread::sleep_for(std::chrono::milliseconds(m_pause_ms));
        }
    }

    int m_socket = -1;
    uint16_t m_port = 0;
    uint32_t m_pause_ms;
    std::atomic<bool> m_stop{false};
    uint32_t m_accepted = 0; // the accepting thread's, then stop()'s
    std::thread m_thread;
};

struct flood_outcome
{
    uint32_t connections;
    uint32_t taken;
    uint32_t accepted;
};

flood_outcome flood_slow_listener(qel_sim::unsigned_connection_attack attack, uint32_t threads,
                                  uint32_t seconds)
{
    slow_listener listener(1, 2);
    qel_sim::unsigned_connection_flood flood;
    flood.start(listener.port(), attack, threads);
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    flood.stop();
    const flood_outcome outcome{flood.connections(), flood.taken(), listener.stop()};
    std::cout << outcome.connections << " connections, " << outcome.taken << " taken, " << outcome.accepted
              << " accepted\n";
    return outcome;
}
} // namespace

// Connections that close at once overflow the listener's queue: some connect at the flood's
// side with the handshake's last ACK dropped, and the listener never gets them in time.
TEST(UnsignedConnectionFlood, CountsAsTakenOnlyConnectionsTheListenerGot)
{
    const flood_outcome outcome =
        flood_slow_listener(qel_sim::unsigned_connection_attack::close_at_once, 64, 2);
    EXPECT_GT(outcome.taken, 0u);
    EXPECT_LE(outcome.taken, outcome.connections);
    EXPECT_LE(outcome.taken, outcome.accepted);
}

// A listener that closes every connection before any invitation: each one it closed was taken.
TEST(UnsignedConnectionFlood, ConnectionsClosedByTheListenerWereTaken)
{
    const flood_outcome outcome =
        flood_slow_listener(qel_sim::unsigned_connection_attack::close_after_invitation, 2, 1);
    EXPECT_GT(outcome.taken, 0u);
    EXPECT_EQ(outcome.taken, outcome.connections) << "two connections at a time never fill the queue";
    EXPECT_LE(outcome.taken, outcome.accepted);
}
