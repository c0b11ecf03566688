// A relay between the gateway and the simulated exchange host that a test cuts and
// restores as a host outage. Cut, it closes every relayed connection on both sides and
// refuses new ones: nothing listens on its port, which it keeps reserved meanwhile, so
// the gateway's connects are refused as by a host that is down. Restored, it listens on
// the same port again and relays. It can also play a host that accepts each connection
// and closes it at once. It notes when it accepted each connection, so that a test can
// count the gateway's connects per second.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "support/test_support.h"

namespace qel_test
{

enum class proxy_mode
{
    relay,         // connections are relayed to the host
    refuse,        // nothing listens: connects are refused
    close_at_once, // each connection is accepted and closed at once
};

class host_link_proxy
{
  public:
    typedef std::chrono::steady_clock::time_point time_point;

    // Relays to 127.0.0.1:host_port once started.
    explicit host_link_proxy(uint16_t host_port);
    ~host_link_proxy();
    host_link_proxy(const host_link_proxy &) = delete;
    host_link_proxy &operator=(const host_link_proxy &) = delete;

    // Listens on 127.0.0.1 on a port of its own; false when that failed.
    bool start();
    uint16_t port() const { return m_port.number(); }

    // Each returns once the proxy behaves as asked: a cut has closed every relayed
    // connection and refuses, a restore listens again. False when the proxy cannot listen.
    bool set_mode(proxy_mode mode);
    bool cut() { return set_mode(proxy_mode::refuse); }
    bool restore() { return set_mode(proxy_mode::relay); }

    // When each connection was accepted, in order (those closed at once included).
    std::vector<time_point> accepted() const;
    size_t accepted_count() const;
    bool wait_for_accepted(size_t count, int timeout_ms) const;
    // Connections relayed now.
    size_t open_relays() const;

  private:
    struct relay;
    void service();
    bool apply(proxy_mode mode);
    bool listen_again();
    void close_listener();
    void accept_all();
    void close_relays();
    // Moves what one side sent to the other; false when the pair is finished.
    bool pump(int from, int to);

    reserved_port m_port;
    uint16_t m_host_port;
    int m_listener = -1;
    int m_wake[2] = {-1, -1};
    std::thread m_thread;
    std::vector<std::unique_ptr<relay>> m_relays; // the service thread's own

    mutable std::mutex m_lock;
    mutable std::condition_variable m_changed;
    proxy_mode m_mode = proxy_mode::relay;    // under m_lock: what is asked
    proxy_mode m_applied = proxy_mode::relay; // under m_lock: what the service thread did
    bool m_apply_failed = false;              // under m_lock
    uint64_t m_requests = 0;                  // under m_lock: set_mode calls so far
    uint64_t m_served = 0;                    // under m_lock: of them, carried out
    bool m_stop = false;                      // under m_lock
    std::vector<time_point> m_accepted;       // under m_lock
    size_t m_open_relays = 0;                 // under m_lock
};

} // namespace qel_test
