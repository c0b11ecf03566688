// The scripted console port: a non-blocking listener and connection polled by one
// thread every millisecond; writes are blocking-free loops with a deadline.
#include "sim/console/console_port_peer.h"

#include <chrono>

#include "platform/core/pf_error.h"
#include "platform/core/pf_socket.h"

namespace sim_console
{
namespace
{
using clock_type = std::chrono::steady_clock;

void pause_ms(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

bool write_all(int fd, const uint8_t *bytes, size_t size)
{
    auto deadline = clock_type::now() + std::chrono::seconds(5);
    size_t sent = 0;
    while (sent < size)
    {
        int n = pf_socket_send(fd, bytes + sent, static_cast<int32_t>(size - sent));
        if (n > 0)
        {
            sent += static_cast<size_t>(n);
            continue;
        }
        uint32_t error = pf_get_last_error();
        if ((error != PF_WSAEWOULDBLOCK && error != PF_WSAEINTR) || clock_type::now() >= deadline)
            return false;
        pause_ms(1);
    }
    return true;
}
} // namespace

console_port_peer::~console_port_peer()
{
    stop();
}

bool console_port_peer::start()
{
    int fd = pf_socket_create(2, 1, 6);
    if (fd < 0)
        return false;
    if (pf_socket_bind(fd, pf_inet_addr("127.0.0.1"), 0) != 0 || pf_socket_listen(fd, 8) != 0 ||
        pf_socket_set_nonblocking(fd, true) != 0)
    {
        pf_socket_close(fd);
        return false;
    }
    m_port = pf_socket_local_port(fd);
    m_listener = fd;
    m_stop = false;
    m_thread = std::thread([this] { run(); });
    return m_port != 0;
}

void console_port_peer::stop()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    std::lock_guard<std::mutex> guard(m_mutex);
    if (m_connection >= 0)
        pf_socket_close(m_connection);
    m_connection = -1;
    if (m_listener >= 0)
        pf_socket_close(m_listener);
    m_listener = -1;
}

void console_port_peer::run()
{
    while (!m_stop)
    {
        {
            std::lock_guard<std::mutex> guard(m_mutex);
            if (m_connection < 0 || m_peer_closed)
            {
                int accepted = pf_socket_accept(m_listener, nullptr, nullptr);
                if (accepted >= 0)
                {
                    if (m_connection >= 0)
                        pf_socket_close(m_connection);
                    pf_socket_set_nonblocking(accepted, true);
                    m_connection = accepted;
                    m_peer_closed = false;
                    ++m_connections;
                }
            }
            if (m_connection >= 0 && !m_peer_closed)
            {
                uint8_t buffer[4096];
                int n;
                while ((n = pf_socket_recv(m_connection, buffer, sizeof buffer)) > 0)
                    m_received.insert(m_received.end(), buffer, buffer + n);
                if (n == 0 ||
                    (n < 0 && pf_get_last_error() != PF_WSAEWOULDBLOCK && pf_get_last_error() != PF_WSAEINTR))
                    m_peer_closed = true;
            }
        }
        pause_ms(1);
    }
}

bool console_port_peer::wait_connected(int timeout_ms, int count)
{
    auto deadline = clock_type::now() + std::chrono::milliseconds(timeout_ms);
    while (m_connections.load() < count)
    {
        if (clock_type::now() >= deadline)
            return false;
        pause_ms(1);
    }
    return true;
}

bool console_port_peer::send(const std::vector<uint8_t> &bytes)
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_connection >= 0 && write_all(m_connection, bytes.data(), bytes.size());
}

bool console_port_peer::send_split(const std::vector<uint8_t> &bytes, const std::vector<size_t> &cuts,
                                   int pause)
{
    size_t from = 0;
    std::vector<size_t> ends(cuts);
    ends.push_back(bytes.size());
    for (size_t end : ends)
    {
        if (end <= from || end > bytes.size())
            continue;
        {
            std::lock_guard<std::mutex> guard(m_mutex);
            if (m_connection < 0 || !write_all(m_connection, bytes.data() + from, end - from))
                return false;
        }
        from = end;
        if (from < bytes.size())
            pause_ms(pause);
    }
    return true;
}

bool console_port_peer::send_joined(const std::vector<std::vector<uint8_t>> &frames)
{
    std::vector<uint8_t> joined;
    for (const std::vector<uint8_t> &frame : frames)
        joined.insert(joined.end(), frame.begin(), frame.end());
    return send(joined);
}

void console_port_peer::close_connection()
{
    std::lock_guard<std::mutex> guard(m_mutex);
    if (m_connection >= 0)
        pf_socket_close(m_connection);
    m_connection = -1;
}

void console_port_peer::reset_connection()
{
    std::lock_guard<std::mutex> guard(m_mutex);
    if (m_connection >= 0)
        pf_socket_close_reset(m_connection);
    m_connection = -1;
}

bool console_port_peer::wait_peer_closed(int timeout_ms)
{
    auto deadline = clock_type::now() + std::chrono::milliseconds(timeout_ms);
    while (!m_peer_closed.load())
    {
        if (clock_type::now() >= deadline)
            return false;
        pause_ms(1);
    }
    return true;
}

std::vector<uint8_t> console_port_peer::received() const
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_received;
}

std::vector<packet> console_port_peer::received_packets() const
{
    std::vector<uint8_t> bytes = received();
    std::vector<packet> packets;
    size_t at = 0;
    while (at + 2 <= bytes.size())
    {
        size_t length = static_cast<size_t>(bytes[at] | (bytes[at + 1] << 8));
        if (length < 2 || at + length > bytes.size())
            break;
        packets.push_back(packet{std::vector<uint8_t>(bytes.begin() + static_cast<long>(at),
                                                      bytes.begin() + static_cast<long>(at + length))});
        at += length;
    }
    return packets;
}

bool console_port_peer::wait_received(size_t bytes, int timeout_ms) const
{
    auto deadline = clock_type::now() + std::chrono::milliseconds(timeout_ms);
    while (received().size() < bytes)
    {
        if (clock_type::now() >= deadline)
            return false;
        pause_ms(1);
    }
    return true;
}

} // namespace sim_console
