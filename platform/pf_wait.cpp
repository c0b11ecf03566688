// One poll() over the eventfds of the awaited objects (and the sockets of network
// events). poll() only says that something may be ready: the objects are then checked
// and taken under their own locks in index order, and a lost race simply waits again
// with the time that remains on CLOCK_MONOTONIC.
#include "platform/pf_wait.h"

#include <poll.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <vector>

#include "platform/pf_error.h"
#include "platform/pf_thread.h"
#include "platform/pf_waitable.h"

namespace
{
struct wait_scratch
{
    std::vector<pollfd> fds;
    std::vector<pf_wait_extra> extras;
};

thread_local wait_scratch t_scratch;

int64_t monotonic_ns()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// Milliseconds left before the deadline, rounded up so that a wait never ends early.
int remaining_ms(bool infinite, int64_t deadline_ns)
{
    if (infinite)
    {
        return -1;
    }
    int64_t left = deadline_ns - monotonic_ns();
    if (left <= 0)
    {
        return 0;
    }
    int64_t ms = (left + 999999) / 1000000;
    return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

// Wait any: takes the lowest ready object; lowers the descriptor of each one that is not.
int32_t check_any(pf_waitable *const *objects, uint32_t n, uint32_t self)
{
    for (uint32_t i = 0; i < n; ++i)
    {
        pf_waitable *w = objects[i];
        std::lock_guard<std::mutex> guard(w->lock);
        if (w->ops->ready(w, self))
        {
            w->ops->take(w, self);
            return static_cast<int32_t>(i);
        }
        pf_waitable_lower(w);
    }
    return -1;
}

// Wait all: locks every object (in address order, so that two such waits cannot
// deadlock), and takes them all only when all are ready. Marks the ones that are not.
bool check_all(pf_waitable *const *objects, uint32_t n, const uint32_t *lock_order, uint32_t self,
               bool *not_ready)
{
    for (uint32_t k = 0; k < n; ++k)
    {
        objects[lock_order[k]]->lock.lock();
    }
    bool all_ready = true;
    for (uint32_t i = 0; i < n; ++i)
    {
        not_ready[i] = !objects[i]->ops->ready(objects[i], self);
        if (not_ready[i])
        {
            all_ready = false;
            pf_waitable_lower(objects[i]);
        }
    }
    if (all_ready)
    {
        for (uint32_t i = 0; i < n; ++i)
        {
            objects[i]->ops->take(objects[i], self);
        }
    }
    for (uint32_t k = n; k-- > 0;)
    {
        objects[lock_order[k]]->lock.unlock();
    }
    return all_ready;
}

// Polls the descriptors of the included objects (or only their sockets) and hands what
// the sockets reported to their objects. false when poll() fails.
bool poll_and_deliver(pf_waitable *const *objects, uint32_t n, const bool *included, bool extras_only,
                      int timeout)
{
    wait_scratch &s = t_scratch;
    s.fds.clear();
    s.extras.clear();
    for (uint32_t i = 0; i < n; ++i)
    {
        if (!included[i])
        {
            continue;
        }
        if (!extras_only)
        {
            s.fds.push_back(pollfd{objects[i]->fd, POLLIN, 0});
        }
        if (objects[i]->ops->collect != nullptr)
        {
            objects[i]->ops->collect(objects[i], &s.extras);
        }
    }
    size_t base = s.fds.size();
    if (extras_only && s.extras.empty())
    {
        return true;
    }
    for (const pf_wait_extra &extra : s.extras)
    {
        s.fds.push_back(pollfd{extra.fd, extra.events, 0});
    }
    int rc = poll(s.fds.data(), s.fds.size(), timeout);
    if (rc < 0)
    {
        if (errno == EINTR)
        {
            return true;
        }
        pf_set_last_error(PF_ERROR_INVALID_HANDLE);
        return false;
    }
    if (rc > 0)
    {
        for (size_t k = 0; k < s.extras.size(); ++k)
        {
            short revents = s.fds[base + k].revents;
            if (revents != 0)
            {
                s.extras[k].owner->ops->deliver(&s.extras[k], revents);
            }
        }
    }
    return true;
}
} // namespace

uint32_t pf_wait_for_multiple(pf_waitable *const *objects, uint32_t n, bool wait_all, uint32_t timeout_ms)
{
    if (objects == nullptr || n == 0 || n > PF_MAXIMUM_WAIT_OBJECTS)
    {
        pf_set_last_error(PF_ERROR_INVALID_PARAMETER);
        return PF_WAIT_FAILED;
    }
    bool has_extras = false;
    uint32_t lock_order[PF_MAXIMUM_WAIT_OBJECTS];
    for (uint32_t i = 0; i < n; ++i)
    {
        if (objects[i] == nullptr || objects[i]->fd < 0)
        {
            pf_set_last_error(PF_ERROR_INVALID_HANDLE);
            return PF_WAIT_FAILED;
        }
        has_extras = has_extras || objects[i]->ops->collect != nullptr;
        lock_order[i] = i;
    }
    if (wait_all)
    {
        std::sort(lock_order, lock_order + n,
                  [objects](uint32_t a, uint32_t b) { return objects[a] < objects[b]; });
        for (uint32_t k = 1; k < n; ++k)
        {
            if (objects[lock_order[k]] == objects[lock_order[k - 1]])
            {
                pf_set_last_error(PF_ERROR_INVALID_PARAMETER);
                return PF_WAIT_FAILED;
            }
        }
    }

    uint32_t self = pf_thread_current_id();
    bool infinite = timeout_ms == PF_INFINITE;
    int64_t deadline_ns = infinite ? 0 : monotonic_ns() + static_cast<int64_t>(timeout_ms) * 1000000;
    bool all[PF_MAXIMUM_WAIT_OBJECTS];
    std::fill(all, all + n, true);
    bool not_ready[PF_MAXIMUM_WAIT_OBJECTS];
    bool fresh = false;
    bool expired = false;
    for (;;)
    {
        // Sockets report only when polled: look at them before deciding, so that a ready
        // object at a lower index is not hidden by one found ready first.
        if (has_extras && !fresh && !poll_and_deliver(objects, n, all, true, 0))
        {
            return PF_WAIT_FAILED;
        }
        const bool *watch = all;
        if (!wait_all)
        {
            int32_t index = check_any(objects, n, self);
            if (index >= 0)
            {
                return PF_WAIT_OBJECT_0 + static_cast<uint32_t>(index);
            }
        }
        else
        {
            if (check_all(objects, n, lock_order, self, not_ready))
            {
                return PF_WAIT_OBJECT_0;
            }
            watch = not_ready;
        }
        if (expired)
        {
            return PF_WAIT_TIMEOUT;
        }
        int ms = remaining_ms(infinite, deadline_ns);
        if (!poll_and_deliver(objects, n, watch, false, ms))
        {
            return PF_WAIT_FAILED;
        }
        fresh = true;
        expired = ms == 0;
    }
}

uint32_t pf_wait_for_single(pf_waitable *object, uint32_t timeout_ms)
{
    return pf_wait_for_multiple(&object, 1, false, timeout_ms);
}
