// console_port_peer: a scripted gateway console port for testing the console's side of
// the link. It listens on 127.0.0.1 (port 0: the port it got is reported), accepts the
// console's connections one after the other, records every byte the console sends, and
// sends what the test scripts: crafted frames whole, split at given offsets with pauses
// between the pieces, or several joined in one write; then an orderly close or a reset.
// A background thread accepts and reads; sends and closes run on the caller's thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "sim/console/console_protocol.h"

namespace sim_console
{

class console_port_peer
{
  public:
    console_port_peer() = default;
    ~console_port_peer();
    console_port_peer(const console_port_peer &) = delete;
    console_port_peer &operator=(const console_port_peer &) = delete;

    // Listens and starts the reader thread; false when it cannot listen.
    bool start();
    void stop();
    uint16_t port() const { return m_port; }

    // True once a console connection (the count-th since start, from 1) was accepted.
    bool wait_connected(int timeout_ms, int count = 1);
    int connections() const { return m_connections.load(); }

    // Writes to the current connection; false when there is none or it failed.
    bool send(const std::vector<uint8_t> &bytes);
    // The bytes cut at the given offsets, each piece its own write, pause_ms apart.
    bool send_split(const std::vector<uint8_t> &bytes, const std::vector<size_t> &cuts, int pause_ms);
    // Several frames in one write.
    bool send_joined(const std::vector<std::vector<uint8_t>> &frames);
    // Ends the current connection in order (the console reads 0 bytes), or with a reset.
    void close_connection();
    void reset_connection();
    // True when the console closed its end of the current connection.
    bool wait_peer_closed(int timeout_ms);

    // Everything the console sent on all connections, in order.
    std::vector<uint8_t> received() const;
    // The same cut into frames by their length fields (a frame still incomplete is left out).
    std::vector<packet> received_packets() const;
    bool wait_received(size_t bytes, int timeout_ms) const;

  private:
    void run();

    int m_listener = -1;
    uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_connections{0};
    std::atomic<bool> m_peer_closed{false};
    std::thread m_thread;
    mutable std::mutex m_mutex; // the connection's socket and the received bytes
    int m_connection = -1;
    std::vector<uint8_t> m_received;
};

} // namespace sim_console
