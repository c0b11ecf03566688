// Network events over the common waitable. The event's own readiness is "set by a call,
// or some associated socket has an unread record"; while a thread waits, the sockets of
// every awaited event are polled with the bits that are still enabled, and what poll()
// reports is turned into recorded network events here (deliver).
//
// The per-socket state lives in a table indexed by descriptor. One process-wide lock
// guards the associations and the records; the enabling bits are atomic so that a
// receive or a send re-enables its event without taking it.
//
// The network threads re-associate a socket around every receive, so an association must
// not ask the kernel what it already knows. A socket the socket layer made (created or
// accepted) is remembered from then on: every change of its state (listen, connect, the
// outcome of a connect, a close or reset seen by poll, its blocking mode, its close) passes
// through here, and its entry is replaced when its number comes back. Only a descriptor
// made elsewhere is asked whether it is a socket, whether it listens and whether it has a
// peer, each time.
//
// The entry also keeps the socket's identity (device and inode of its open file). A socket
// closed with a plain close() instead of the socket layer's leaves its entry behind, and a
// socket made elsewhere may get its number; an association checks the identity (one
// fstat; a re-arm on the event it is associated with is checked in debug builds only) and, when the
// descriptor is not the socket remembered, drops the entry and asks the kernel, instead of
// taking the new socket for a listener or leaving it blocking.
#include "platform/core/pf_net_event.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <mutex>
#include <new>
#include <vector>

#include "platform/core/pf_error.h"
#include "platform/core/pf_waitable.h"

namespace
{
enum socket_state : uint8_t
{
    STATE_IDLE,       // neither connected nor connecting nor listening: not polled
    STATE_CONNECTING, // a non-blocking connect is under way
    STATE_CONNECTED,
    STATE_LISTENING,
    STATE_DEAD, // closed by the peer or failed: nothing more to report
};

// The open file behind a descriptor, which a number that comes back does not share.
struct socket_identity
{
    dev_t dev;
    ino_t ino;
};

struct net_socket
{
    int fd;
    uint64_t serial;
    socket_state state;
    bool known;               // made by the socket layer: its state is remembered, not asked
    socket_identity identity; // of the socket made, when known
    bool nonblocking;         // known to be non-blocking
    bool listener;            // known to listen (it stays a listener when poll finds it failed)
    pf_net_event *event;      // null when not associated
    int32_t mask;
    std::atomic<int32_t> enabled; // events that may be reported now
    int32_t recorded;
    int32_t errors[PF_FD_MAX_EVENTS];
};
} // namespace

struct pf_net_event
{
    pf_waitable w;
    bool set_by_call = false;                 // under w.lock
    std::atomic<int32_t> sockets_recorded{0}; // associated sockets with an unread record
    std::vector<net_socket *> sockets;        // under g_net_lock
};

namespace
{
std::mutex g_net_lock;
uint64_t g_next_serial = 1; // under g_net_lock

// Descriptor table: 1024 chunks of 4096 entries, allocated on first use.
const int k_chunk_bits = 12;
const int k_chunk_size = 1 << k_chunk_bits;
const int k_chunk_count = 1024;
std::atomic<std::atomic<net_socket *> *> g_chunks[k_chunk_count];

std::atomic<net_socket *> *slot_for(int fd, bool create)
{
    if (fd < 0 || fd >= k_chunk_size * k_chunk_count)
    {
        return nullptr;
    }
    std::atomic<std::atomic<net_socket *> *> &chunk_slot = g_chunks[fd >> k_chunk_bits];
    std::atomic<net_socket *> *chunk = chunk_slot.load(std::memory_order_acquire);
    if (chunk == nullptr && create)
    {
        // Creation happens under g_net_lock, so there is no race between two creators.
        chunk = new (std::nothrow) std::atomic<net_socket *>[k_chunk_size];
        if (chunk == nullptr)
        {
            return nullptr;
        }
        for (int i = 0; i < k_chunk_size; ++i)
        {
            chunk[i].store(nullptr, std::memory_order_relaxed);
        }
        chunk_slot.store(chunk, std::memory_order_release);
    }
    return chunk == nullptr ? nullptr : &chunk[fd & (k_chunk_size - 1)];
}

net_socket *lookup(int fd)
{
    std::atomic<net_socket *> *slot = slot_for(fd, false);
    return slot == nullptr ? nullptr : slot->load(std::memory_order_acquire);
}

// Under g_net_lock: an entry not yet known to the socket layer.
net_socket *new_entry(int fd)
{
    net_socket *s = new (std::nothrow) net_socket;
    if (s == nullptr)
    {
        return nullptr;
    }
    s->fd = fd;
    s->serial = g_next_serial++;
    s->state = STATE_IDLE;
    s->known = false;
    s->identity = socket_identity{};
    s->nonblocking = false;
    s->listener = false;
    s->event = nullptr;
    s->mask = 0;
    s->enabled.store(0, std::memory_order_relaxed);
    s->recorded = 0;
    std::fill(s->errors, s->errors + PF_FD_MAX_EVENTS, 0);
    return s;
}

// Under g_net_lock.
net_socket *lookup_or_create(int fd)
{
    std::atomic<net_socket *> *slot = slot_for(fd, true);
    if (slot == nullptr)
    {
        return nullptr;
    }
    net_socket *s = slot->load(std::memory_order_relaxed);
    if (s == nullptr)
    {
        s = new_entry(fd);
        if (s != nullptr)
        {
            slot->store(s, std::memory_order_release);
        }
    }
    return s;
}

void raise_event(pf_net_event *event)
{
    std::lock_guard<std::mutex> guard(event->w.lock);
    pf_waitable_raise(&event->w);
}

// Under g_net_lock.
void detach(net_socket *s)
{
    pf_net_event *event = s->event;
    if (event == nullptr)
    {
        return;
    }
    if (s->recorded != 0)
    {
        event->sockets_recorded.fetch_sub(1, std::memory_order_relaxed);
    }
    s->recorded = 0;
    std::fill(s->errors, s->errors + PF_FD_MAX_EVENTS, 0);
    event->sockets.erase(std::find(event->sockets.begin(), event->sockets.end(), s));
    s->event = nullptr;
    s->mask = 0;
    s->enabled.store(0, std::memory_order_relaxed);
}

// Under g_net_lock.
void attach(net_socket *s, pf_net_event *event, int32_t mask)
{
    s->event = event;
    s->mask = mask;
    s->enabled.store(mask, std::memory_order_relaxed);
    event->sockets.push_back(s);
}

bool identify(int fd, socket_identity *identity)
{
    struct stat st;
    if (fstat(fd, &st) != 0)
    {
        return false;
    }
    identity->dev = st.st_dev;
    identity->ino = st.st_ino;
    return true;
}

bool same_socket(const socket_identity &a, const socket_identity &b)
{
    return a.dev == b.dev && a.ino == b.ino;
}

// Under g_net_lock: whether an association must first make sure that the descriptor is still
// the socket remembered. A reader that re-arms a socket on the event it is associated with
// (the network threads narrow it to FD_CLOSE around each receive and widen it again) keeps
// the socket it had, so outside debug builds only an association with another event is
// checked and the receive path makes no system call for it; debug builds (the sanitizer
// runs) check every one.
bool needs_identity_check(const net_socket *s, const pf_net_event *event)
{
#ifdef NDEBUG
    return s->event != event;
#else
    (void)s;
    (void)event;
    return true;
#endif
}

// Under g_net_lock: the number's entry, if any, is gone.
void forget(int fd)
{
    std::atomic<net_socket *> *slot = slot_for(fd, false);
    net_socket *s = slot == nullptr ? nullptr : slot->load(std::memory_order_relaxed);
    if (s != nullptr)
    {
        detach(s);
        slot->store(nullptr, std::memory_order_release);
        delete s;
    }
}

// Under g_net_lock: forgets whatever the number meant before and starts a fresh entry for
// a socket the socket layer has just made, remembered when its identity is known (null
// identity: asked like a socket made elsewhere). Null when there is no memory for it.
net_socket *replace_entry(int fd, bool nonblocking, const socket_identity *identity)
{
    std::atomic<net_socket *> *slot = slot_for(fd, true);
    if (slot == nullptr)
    {
        return nullptr;
    }
    forget(fd);
    net_socket *s = new_entry(fd);
    if (s != nullptr)
    {
        s->known = identity != nullptr;
        if (identity != nullptr)
        {
            s->identity = *identity;
        }
        s->nonblocking = nonblocking;
        slot->store(s, std::memory_order_release);
    }
    return s;
}

// Under g_net_lock. Returns true when the socket's record went from empty to not empty.
bool record(net_socket *s, int32_t event_bit, int bit_index, int32_t error)
{
    if ((s->mask & event_bit) == 0)
    {
        return false;
    }
    bool was_empty = s->recorded == 0;
    s->recorded |= event_bit;
    s->errors[bit_index] = error;
    s->enabled.fetch_and(~event_bit, std::memory_order_relaxed);
    return was_empty;
}

int32_t pending_socket_error(int fd)
{
    int error = 0;
    socklen_t size = sizeof error;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error == 0)
    {
        return 0;
    }
    return static_cast<int32_t>(pf_wsa_error_from_errno(error));
}

short poll_events_for(const net_socket *s)
{
    int32_t on = s->enabled.load(std::memory_order_relaxed) & s->mask;
    short events = 0;
    switch (s->state)
    {
    case STATE_CONNECTING:
        // Whatever the mask, the outcome of the connect decides what can follow.
        events = s->mask != 0 ? POLLOUT : 0;
        break;
    case STATE_LISTENING:
        if ((on & PF_FD_ACCEPT) != 0)
        {
            events = POLLIN;
        }
        break;
    case STATE_CONNECTED:
        if ((on & PF_FD_READ) != 0)
        {
            // With the peer's shutdown asked as well, readable without it means data.
            events |= POLLIN | POLLRDHUP;
        }
        if ((on & PF_FD_OOB) != 0)
        {
            events |= POLLPRI;
        }
        if ((on & PF_FD_WRITE) != 0)
        {
            events |= POLLOUT;
        }
        // Without FD_READ in the mask nobody reads, so the close is seen as the peer's
        // shutdown; with it, the close is found by the read that finds no data.
        if ((on & PF_FD_CLOSE) != 0 && (s->mask & PF_FD_READ) == 0)
        {
            events |= POLLRDHUP;
        }
        break;
    default:
        break;
    }
    return events;
}

// Under g_net_lock: the socket has a pending close, reset or data. Returns whether the
// record went from empty to not empty.
bool deliver_connected(net_socket *s, short revents)
{
    bool first = false;
    int32_t on = s->enabled.load(std::memory_order_relaxed) & s->mask;
    bool hangup = (revents & (POLLHUP | POLLERR)) != 0;
    if ((revents & POLLIN) != 0 && (revents & POLLRDHUP) == 0 && !hangup && (on & PF_FD_READ) != 0)
    {
        // Data, and the peer has not left: no need to look at it first.
        first |= record(s, PF_FD_READ, PF_FD_READ_BIT, 0);
    }
    else if ((revents & (POLLIN | POLLRDHUP)) != 0 || hangup)
    {
        char byte;
        ssize_t n = recv(s->fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
        int error = errno;
        if (n > 0 && (on & PF_FD_READ) != 0)
        {
            first |= record(s, PF_FD_READ, PF_FD_READ_BIT, 0);
        }
        else if (n > 0 && !hangup && (revents & POLLRDHUP) == 0)
        {
            // Data while reading is not enabled: nothing to report yet.
        }
        else if (n < 0 && (error == EAGAIN || error == EINTR) && !hangup)
        {
            // Another reader took the data first.
        }
        else
        {
            int32_t code = 0;
            if (n < 0 && error != EAGAIN && error != EINTR)
            {
                code = static_cast<int32_t>(pf_wsa_error_from_errno(error));
            }
            else if (hangup)
            {
                code = pending_socket_error(s->fd);
            }
            first |= record(s, PF_FD_CLOSE, PF_FD_CLOSE_BIT, code);
            s->state = STATE_DEAD;
            return first;
        }
    }
    if ((revents & POLLPRI) != 0 && (on & PF_FD_OOB) != 0)
    {
        first |= record(s, PF_FD_OOB, PF_FD_OOB_BIT, 0);
    }
    if ((revents & POLLOUT) != 0 && (on & PF_FD_WRITE) != 0)
    {
        first |= record(s, PF_FD_WRITE, PF_FD_WRITE_BIT, 0);
    }
    return first;
}

// Under g_net_lock.
bool deliver_to_socket(net_socket *s, short revents)
{
    bool first = false;
    switch (s->state)
    {
    case STATE_CONNECTING:
        if ((revents & (POLLOUT | POLLERR | POLLHUP)) != 0)
        {
            int32_t error = pending_socket_error(s->fd);
            if (error == 0 && (revents & (POLLERR | POLLHUP)) != 0 && (revents & POLLOUT) == 0)
            {
                error = PF_WSAECONNREFUSED;
            }
            first |= record(s, PF_FD_CONNECT, PF_FD_CONNECT_BIT, error);
            s->enabled.fetch_and(~PF_FD_CONNECT, std::memory_order_relaxed);
            if (error == 0)
            {
                s->state = STATE_CONNECTED;
                if ((s->enabled.load(std::memory_order_relaxed) & PF_FD_WRITE) != 0)
                {
                    first |= record(s, PF_FD_WRITE, PF_FD_WRITE_BIT, 0);
                }
            }
            else
            {
                s->state = STATE_DEAD;
            }
        }
        break;
    case STATE_LISTENING:
        if ((revents & POLLIN) != 0)
        {
            first |= record(s, PF_FD_ACCEPT, PF_FD_ACCEPT_BIT, 0);
        }
        else if ((revents & (POLLERR | POLLHUP | POLLNVAL)) != 0)
        {
            s->state = STATE_DEAD;
        }
        break;
    case STATE_CONNECTED:
        first = deliver_connected(s, revents);
        break;
    default:
        break;
    }
    if ((revents & POLLNVAL) != 0)
    {
        s->state = STATE_DEAD;
    }
    return first;
}

bool event_ready(const pf_waitable *w, uint32_t)
{
    const pf_net_event *event = reinterpret_cast<const pf_net_event *>(w);
    return event->set_by_call || event->sockets_recorded.load(std::memory_order_relaxed) > 0;
}

void event_take(pf_waitable *, uint32_t) {}

void event_collect(pf_waitable *w, std::vector<pf_wait_extra> *out)
{
    pf_net_event *event = reinterpret_cast<pf_net_event *>(w);
    std::lock_guard<std::mutex> guard(g_net_lock);
    for (net_socket *s : event->sockets)
    {
        short events = poll_events_for(s);
        if (events != 0)
        {
            out->push_back(pf_wait_extra{s->fd, events, w, s, s->serial});
        }
    }
}

void event_deliver(const pf_wait_extra *extra, short revents)
{
    pf_net_event *event = reinterpret_cast<pf_net_event *>(extra->owner);
    bool raise = false;
    pf_waitable_raise_scope raising;
    {
        std::lock_guard<std::mutex> guard(g_net_lock);
        // The socket may have been closed or moved to another event since the poll set
        // was built; its record must then not be touched.
        net_socket *s = lookup(extra->fd);
        if (s == nullptr || s != extra->item || s->serial != extra->serial || s->event != event)
        {
            return;
        }
        if (deliver_to_socket(s, revents))
        {
            event->sockets_recorded.fetch_add(1, std::memory_order_relaxed);
            raise = true;
        }
        if (raise)
        {
            raise_event(event);
        }
    }
}

const pf_waitable_ops k_event_ops = {event_ready, event_take, event_collect, event_deliver};

bool is_listening(int fd)
{
    int on = 0;
    socklen_t size = sizeof on;
    return getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &on, &size) == 0 && on != 0;
}

bool is_connected(int fd)
{
    sockaddr_storage peer;
    socklen_t size = sizeof peer;
    return getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &size) == 0;
}

bool is_socket(int fd)
{
    int type = 0;
    socklen_t size = sizeof type;
    return getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &size) == 0;
}

bool make_nonblocking(int fd)
{
    int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0)
    {
        pf_set_last_error(pf_wsa_error_from_errno(errno));
        return false;
    }
    return true;
}

// A descriptor the socket layer did not make is asked what it is on every association.
// false with the last error set.
bool ask_kernel(int fd, bool nonblocking, bool *listening, bool *connected)
{
    if (!is_socket(fd))
    {
        pf_set_last_error(PF_WSAENOTSOCK);
        return false;
    }
    if (nonblocking && !make_nonblocking(fd))
    {
        return false;
    }
    *listening = is_listening(fd);
    *connected = !*listening && is_connected(fd);
    return true;
}

// Under g_net_lock: the state an association starts from. A connect under way keeps its
// outcome to report. A connection the peer has reset has no peer name any more, and a close
// already recorded is cleared by the association; either way the close must still be
// reported, so a socket that was a connection stays one until it is closed here.
socket_state state_on_select(const net_socket *s, bool listening, bool connected)
{
    if (listening)
    {
        return STATE_LISTENING;
    }
    if (s->state == STATE_CONNECTING)
    {
        return STATE_CONNECTING;
    }
    bool was_connection = s->state == STATE_CONNECTED || s->state == STATE_DEAD;
    return connected || was_connection ? STATE_CONNECTED : STATE_IDLE;
}
} // namespace

pf_net_event *pf_net_event_create()
{
    pf_net_event *event = new (std::nothrow) pf_net_event;
    if (event == nullptr)
    {
        pf_set_last_error(PF_ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (!pf_waitable_init(&event->w, &k_event_ops))
    {
        delete event;
        return nullptr;
    }
    return event;
}

void pf_net_event_destroy(pf_net_event *event)
{
    if (event == nullptr)
    {
        return;
    }
    {
        std::lock_guard<std::mutex> guard(g_net_lock);
        while (!event->sockets.empty())
        {
            detach(event->sockets.back());
        }
    }
    pf_waitable_destroy(&event->w);
    delete event;
}

bool pf_net_event_set(pf_net_event *event)
{
    pf_waitable_raise_scope raising;
    std::lock_guard<std::mutex> guard(event->w.lock);
    event->set_by_call = true;
    pf_waitable_raise(&event->w);
    return true;
}

bool pf_net_event_reset(pf_net_event *event)
{
    std::lock_guard<std::mutex> guard(event->w.lock);
    event->set_by_call = false;
    return true;
}

pf_waitable *pf_net_event_waitable(pf_net_event *event)
{
    return &event->w;
}

int32_t pf_net_event_select(int fd, pf_net_event *event, int32_t mask)
{
    if (event == nullptr || (mask & ~PF_FD_ALL_EVENTS) != 0)
    {
        pf_set_last_error(PF_WSAEINVAL);
        return -1;
    }
    std::unique_lock<std::mutex> guard(g_net_lock);
    net_socket *s = lookup(fd);
    // Only an association that will be polled relies on what is remembered.
    if (s != nullptr && s->known && mask != 0 && needs_identity_check(s, event))
    {
        guard.unlock();
        socket_identity seen{};
        const bool identified = identify(fd, &seen);
        guard.lock();
        s = lookup(fd);
        if (s != nullptr && s->known && !(identified && same_socket(s->identity, seen)))
        {
            // Closed without the socket layer, and the number now belongs to another socket.
            forget(fd);
            s = nullptr;
        }
    }
    if (s != nullptr && s->known)
    {
        if (mask != 0 && !s->nonblocking)
        {
            if (!make_nonblocking(fd))
            {
                return -1;
            }
            s->nonblocking = true;
        }
        s->state = state_on_select(s, s->listener, false);
    }
    else
    {
        guard.unlock();
        bool listening = false;
        bool connected = false;
        if (!ask_kernel(fd, mask != 0, &listening, &connected))
        {
            return -1;
        }
        guard.lock();
        s = lookup_or_create(fd);
        if (s == nullptr)
        {
            pf_set_last_error(PF_WSAENOBUFS);
            return -1;
        }
        s->state = state_on_select(s, listening, connected);
    }
    detach(s);
    if (mask != 0)
    {
        attach(s, event, mask);
    }
    return 0;
}

int32_t pf_net_event_enum(int fd, int32_t *events, int32_t errors[PF_FD_MAX_EVENTS])
{
    *events = 0;
    std::fill(errors, errors + PF_FD_MAX_EVENTS, 0);
    std::lock_guard<std::mutex> guard(g_net_lock);
    net_socket *s = lookup(fd);
    if (s == nullptr)
    {
        if (!is_socket(fd))
        {
            pf_set_last_error(PF_WSAENOTSOCK);
            return -1;
        }
        return 0;
    }
    if (s->recorded != 0)
    {
        *events = s->recorded;
        std::copy(s->errors, s->errors + PF_FD_MAX_EVENTS, errors);
        s->recorded = 0;
        std::fill(s->errors, s->errors + PF_FD_MAX_EVENTS, 0);
        if (s->event != nullptr)
        {
            s->event->sockets_recorded.fetch_sub(1, std::memory_order_relaxed);
        }
    }
    return 0;
}

void pf_net_socket_on_create(int fd)
{
    // A descriptor number that comes back must not inherit the state of its last use.
    socket_identity identity{};
    const bool identified = identify(fd, &identity);
    std::lock_guard<std::mutex> guard(g_net_lock);
    replace_entry(fd, false, identified ? &identity : nullptr);
}

void pf_net_socket_on_close(int fd)
{
    std::lock_guard<std::mutex> guard(g_net_lock);
    forget(fd);
}

void pf_net_socket_on_listen(int fd)
{
    std::lock_guard<std::mutex> guard(g_net_lock);
    net_socket *s = lookup_or_create(fd);
    if (s != nullptr)
    {
        s->state = STATE_LISTENING;
        s->listener = true;
    }
}

void pf_net_socket_on_connect(int fd, bool pending)
{
    std::lock_guard<std::mutex> guard(g_net_lock);
    net_socket *s = lookup_or_create(fd);
    if (s != nullptr)
    {
        s->state = pending ? STATE_CONNECTING : STATE_CONNECTED;
    }
}

void pf_net_socket_on_accept(int listener, int accepted, bool nonblocking)
{
    socket_identity identity{};
    const bool identified = accepted >= 0 && identify(accepted, &identity);
    std::lock_guard<std::mutex> guard(g_net_lock);
    net_socket *l = lookup(listener);
    if (l == nullptr)
    {
        return;
    }
    l->enabled.fetch_or(PF_FD_ACCEPT & l->mask, std::memory_order_relaxed);
    if (accepted < 0)
    {
        return;
    }
    net_socket *s = replace_entry(accepted, nonblocking, identified ? &identity : nullptr);
    if (s == nullptr)
    {
        return;
    }
    s->state = STATE_CONNECTED;
    // An accepted socket starts with the listener's association.
    if (l->event != nullptr)
    {
        attach(s, l->event, l->mask);
    }
}

void pf_net_socket_on_blocking_mode(int fd, bool nonblocking)
{
    std::lock_guard<std::mutex> guard(g_net_lock);
    net_socket *s = lookup(fd);
    if (s != nullptr)
    {
        s->nonblocking = nonblocking;
    }
}

void pf_net_socket_on_recv(int fd)
{
    net_socket *s = lookup(fd);
    if (s != nullptr)
    {
        s->enabled.fetch_or(PF_FD_READ | PF_FD_OOB, std::memory_order_relaxed);
    }
}

void pf_net_socket_on_send_blocked(int fd)
{
    net_socket *s = lookup(fd);
    if (s != nullptr)
    {
        s->enabled.fetch_or(PF_FD_WRITE, std::memory_order_relaxed);
    }
}
