// The simulated console's connection: a non-blocking socket of the platform layer, read
// and written in short polls against a steady-clock deadline.
#include "sim/console/console_client.h"

#include <chrono>
#include <thread>

#include "platform/core/pf_error.h"
#include "platform/core/pf_socket.h"

namespace sim_console
{
namespace
{
using clock_type = std::chrono::steady_clock;

clock_type::time_point deadline_after(int timeout_ms)
{
    return clock_type::now() + std::chrono::milliseconds(timeout_ms);
}

void pause()
{
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// The console protocol's length field, in the gateway machine's little-endian order.
uint16_t length_field(const std::vector<uint8_t> &bytes)
{
    return static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
}
} // namespace

console_client::~console_client()
{
    close();
}

bool console_client::connect(uint16_t port)
{
    close();
    pf_ignore_sigpipe();
    int fd = pf_socket_create(2, 1, 6);
    if (fd < 0)
        return false;
    if (pf_socket_connect(fd, pf_inet_addr("127.0.0.1"), port) != 0 ||
        pf_socket_set_nonblocking(fd, true) != 0)
    {
        pf_socket_close(fd);
        return false;
    }
    m_socket = fd;
    m_pending.clear();
    return true;
}

void console_client::close()
{
    if (m_socket >= 0)
        pf_socket_close(m_socket);
    m_socket = -1;
    m_pending.clear();
}

void console_client::reset()
{
    if (m_socket >= 0)
        pf_socket_close_reset(m_socket);
    m_socket = -1;
    m_pending.clear();
}

bool console_client::send_bytes(const std::vector<uint8_t> &bytes, int timeout_ms)
{
    auto deadline = deadline_after(timeout_ms);
    size_t sent = 0;
    while (m_socket >= 0 && sent < bytes.size())
    {
        int n = pf_socket_send(m_socket, bytes.data() + sent, static_cast<int32_t>(bytes.size() - sent));
        if (n > 0)
        {
            sent += static_cast<size_t>(n);
            continue;
        }
        uint32_t error = pf_get_last_error();
        if (n < 0 && error != PF_WSAEWOULDBLOCK && error != PF_WSAEINTR)
            return false;
        if (clock_type::now() >= deadline)
            return false;
        pause();
    }
    return m_socket >= 0;
}

bool console_client::send_split(const std::vector<uint8_t> &bytes, size_t piece, int pause_ms)
{
    for (size_t offset = 0; offset < bytes.size(); offset += piece)
    {
        size_t end = offset + piece < bytes.size() ? offset + piece : bytes.size();
        if (!send_bytes(std::vector<uint8_t>(bytes.begin() + static_cast<long>(offset),
                                             bytes.begin() + static_cast<long>(end))))
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(pause_ms));
    }
    return true;
}

bool console_client::send_request(uint16_t transcode, uint16_t length)
{
    return send_bytes(build_request(transcode, length));
}

receive_result console_client::receive(packet *out, int timeout_ms)
{
    auto deadline = deadline_after(timeout_ms);
    for (;;)
    {
        if (m_pending.size() >= 2)
        {
            uint16_t length = length_field(m_pending);
            // A gateway packet is never shorter than its length field; a frame that says so
            // cannot be delimited, and the stream is given up.
            if (length < 2)
            {
                close();
                return receive_result::closed;
            }
            if (m_pending.size() >= length)
            {
                out->bytes.assign(m_pending.begin(), m_pending.begin() + length);
                m_pending.erase(m_pending.begin(), m_pending.begin() + length);
                return receive_result::packet;
            }
        }
        if (m_socket < 0)
            return receive_result::closed;
        uint8_t buffer[4096];
        int n = pf_socket_recv(m_socket, buffer, sizeof buffer);
        if (n > 0)
        {
            m_pending.insert(m_pending.end(), buffer, buffer + n);
            continue;
        }
        if (n == 0)
        {
            close();
            return receive_result::closed;
        }
        uint32_t error = pf_get_last_error();
        if (error != PF_WSAEWOULDBLOCK && error != PF_WSAEINTR)
        {
            close();
            return receive_result::closed;
        }
        if (clock_type::now() >= deadline)
            return receive_result::timed_out;
        pause();
    }
}

std::vector<packet> console_client::receive_many(size_t count, int timeout_ms)
{
    auto deadline = deadline_after(timeout_ms);
    std::vector<packet> packets;
    while (packets.size() < count)
    {
        int left = static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock_type::now()).count());
        packet p;
        if (receive(&p, left > 0 ? left : 0) != receive_result::packet)
            break;
        packets.push_back(std::move(p));
    }
    return packets;
}

bool console_client::wait_closed(int timeout_ms)
{
    auto deadline = deadline_after(timeout_ms);
    while (m_socket >= 0)
    {
        uint8_t buffer[65536];
        int n = pf_socket_recv(m_socket, buffer, sizeof buffer);
        if (n > 0)
            continue;
        uint32_t error = pf_get_last_error();
        if (n == 0 || (error != PF_WSAEWOULDBLOCK && error != PF_WSAEINTR))
        {
            close();
            return true;
        }
        if (clock_type::now() >= deadline)
            return false;
        pause();
    }
    return true;
}

bool console_client::stays_silent(int timeout_ms)
{
    packet p;
    return receive(&p, timeout_ms) == receive_result::timed_out;
}

} // namespace sim_console
