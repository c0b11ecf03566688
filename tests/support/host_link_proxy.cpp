// The relay of host_link_proxy.h over POSIX sockets, on one service thread that polls the
// listener, every relayed pair and a pipe that wakes it for a change of mode. Writes are
// blocking: the gateway and the simulated host both read at once, and the records of a
// host link are small.
#include "support/host_link_proxy.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qel_test
{

struct host_link_proxy::relay
{
    int gateway_side = -1;
    int host_side = -1;
    ~relay()
    {
        close(gateway_side);
        close(host_side);
    }
};

namespace
{
sockaddr_in loopback(uint16_t port)
{
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

void no_delay(int fd)
{
    int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

bool send_all(int fd, const char *data, size_t length)
{
    while (length > 0)
    {
        ssize_t n = send(fd, data, length, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}
} // namespace

host_link_proxy::host_link_proxy(uint16_t host_port) : m_host_port(host_port) {}

host_link_proxy::~host_link_proxy()
{
    if (m_thread.joinable())
    {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_stop = true;
        }
        char byte = 0;
        if (write(m_wake[1], &byte, 1) < 0)
        {
            // The pipe is never full here: one byte a request, drained on every pass.
        }
        m_thread.join();
    }
    close_relays();
    close_listener();
    for (int fd : m_wake)
        if (fd >= 0)
            close(fd);
}

bool host_link_proxy::start()
{
    if (pipe2(m_wake, O_CLOEXEC | O_NONBLOCK) != 0 || !listen_again())
        return false;
    m_thread = std::thread([this] { service(); });
    return true;
}

// The reservation keeps the port from every other bind while nothing listens on it; the
// listener shares it through address reuse, as every server of the tests does.
bool host_link_proxy::listen_again()
{
    if (m_listener >= 0)
        return true;
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    int on = 1;
    sockaddr_in address = loopback(m_port.number());
    if (fd < 0 || setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 || listen(fd, 64) != 0)
    {
        if (fd >= 0)
            close(fd);
        return false;
    }
    m_listener = fd;
    return true;
}

void host_link_proxy::close_listener()
{
    if (m_listener >= 0)
        close(m_listener);
    m_listener = -1;
}

void host_link_proxy::close_relays()
{
    m_relays.clear();
    std::lock_guard<std::mutex> guard(m_lock);
    m_open_relays = 0;
}

bool host_link_proxy::apply(proxy_mode mode)
{
    if (mode == proxy_mode::refuse)
    {
        close_listener();
        close_relays();
        return true;
    }
    if (mode == proxy_mode::close_at_once)
        close_relays();
    return listen_again();
}

bool host_link_proxy::set_mode(proxy_mode mode)
{
    std::unique_lock<std::mutex> guard(m_lock);
    m_mode = mode;
    const uint64_t request = ++m_requests;
    char byte = 0;
    if (write(m_wake[1], &byte, 1) < 0)
    {
        // A full pipe has a wake-up waiting already.
    }
    m_changed.wait(guard, [&] { return m_served >= request || m_stop; });
    return m_applied == mode && !m_apply_failed;
}

void host_link_proxy::accept_all()
{
    for (;;)
    {
        int client = accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            return;
        proxy_mode mode;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_accepted.push_back(std::chrono::steady_clock::now());
            mode = m_applied;
        }
        m_changed.notify_all();
        if (mode != proxy_mode::relay)
        {
            close(client);
            continue;
        }
        std::unique_ptr<relay> pair(new relay);
        pair->gateway_side = client;
        pair->host_side = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in host = loopback(m_host_port);
        if (pair->host_side < 0 ||
            connect(pair->host_side, reinterpret_cast<sockaddr *>(&host), sizeof host) != 0)
            continue; // the host is not there: the gateway's connection closes with the pair
        no_delay(pair->gateway_side);
        no_delay(pair->host_side);
        m_relays.push_back(std::move(pair));
        std::lock_guard<std::mutex> guard(m_lock);
        m_open_relays = m_relays.size();
    }
}

bool host_link_proxy::pump(int from, int to)
{
    char buffer[16384];
    ssize_t n = recv(from, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n < 0)
        return errno == EAGAIN || errno == EINTR;
    return n > 0 && send_all(to, buffer, static_cast<size_t>(n));
}

void host_link_proxy::service()
{
    for (;;)
    {
        {
            std::unique_lock<std::mutex> guard(m_lock);
            if (m_stop)
                break;
            if (m_served < m_requests)
            {
                const proxy_mode mode = m_mode;
                const uint64_t requests = m_requests;
                guard.unlock();
                const bool done = apply(mode);
                guard.lock();
                m_applied = mode;
                m_apply_failed = !done;
                m_served = requests;
                m_changed.notify_all();
                continue;
            }
        }
        std::vector<pollfd> watched;
        watched.push_back({m_wake[0], POLLIN, 0});
        if (m_listener >= 0)
            watched.push_back({m_listener, POLLIN, 0});
        const size_t first_relay = watched.size();
        for (const std::unique_ptr<relay> &pair : m_relays)
        {
            watched.push_back({pair->gateway_side, POLLIN, 0});
            watched.push_back({pair->host_side, POLLIN, 0});
        }
        if (poll(watched.data(), watched.size(), 100) <= 0)
            continue;
        if (watched[0].revents != 0)
        {
            char drained[64];
            while (read(m_wake[0], drained, sizeof drained) > 0)
            {
            }
        }
        std::vector<std::unique_ptr<relay>> kept;
        for (size_t i = 0; i < m_relays.size(); ++i)
        {
            const short to_host = watched[first_relay + 2 * i].revents;
            const short to_gateway = watched[first_relay + 2 * i + 1].revents;
            relay &pair = *m_relays[i];
            bool alive = (to_host == 0 || pump(pair.gateway_side, pair.host_side)) &&
                         (to_gateway == 0 || pump(pair.host_side, pair.gateway_side));
            if (alive)
                kept.push_back(std::move(m_relays[i]));
        }
        m_relays.swap(kept);
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_open_relays = m_relays.size();
        }
        if (m_listener >= 0 && watched[1].revents != 0)
            accept_all();
    }
}

std::vector<host_link_proxy::time_point> host_link_proxy::accepted() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_accepted;
}

size_t host_link_proxy::accepted_count() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_accepted.size();
}

bool host_link_proxy::wait_for_accepted(size_t count, int timeout_ms) const
{
    std::unique_lock<std::mutex> guard(m_lock);
    return m_changed.wait_for(guard, std::chrono::milliseconds(timeout_ms),
                              [&] { return m_accepted.size() >= count; });
}

size_t host_link_proxy::open_relays() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_open_relays;
}

} // namespace qel_test
