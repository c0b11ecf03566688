// The wait on up to 64 objects in three steps. First the objects are checked and taken
// under their own locks in index order (the sockets of network events polled before,
// without sleeping). Then, when this thread has had traffic lately (pf_spin.h), it spins
// for a bounded time, watching the objects' raise counts without their locks and polling
// the sockets now and then. Last it registers as a sleeper on each object under its lock,
// which makes the next raise write the object's eventfd, re-checks, and sleeps in one
// poll() over the eventfds and sockets. A lost race simply waits again with the time that
// remains on CLOCK_MONOTONIC.
#include "platform/core/pf_wait.h"

#include <poll.h>
#include <sched.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <vector>

#include "platform/core/pf_error.h"
#include "platform/core/pf_spin.h"
#include "platform/core/pf_stage_times.h"
#include "platform/core/pf_thread.h"
#include "platform/core/pf_waitable.h"

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

// Wait any: takes the lowest ready object.
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
        all_ready = all_ready && !not_ready[i];
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
// the sockets reported to their objects. false when poll() fails. *reported tells whether
// any of the objects' own descriptors (socket, timer, process) reported something.
bool poll_and_deliver(pf_waitable *const *objects, uint32_t n, const bool *included, bool extras_only,
                      int timeout, bool *reported = nullptr)
{
    if (reported != nullptr)
    {
        *reported = false;
    }
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
                if (reported != nullptr)
                {
                    *reported = true;
                }
            }
        }
    }
    return true;
}

// The raise count of each watched object, taken before the objects are checked so that
// a raise after the check shows as a change.
void snapshot(pf_waitable *const *objects, uint32_t n, const bool *watch, uint32_t *seen)
{
    for (uint32_t i = 0; i < n; ++i)
    {
        if (watch[i])
        {
            seen[i] = objects[i]->raises.load(std::memory_order_acquire);
        }
    }
}

bool raised_since(pf_waitable *const *objects, uint32_t n, const bool *watch, const uint32_t *seen)
{
    for (uint32_t i = 0; i < n; ++i)
    {
        if (watch[i] && objects[i]->raises.load(std::memory_order_acquire) != seen[i])
        {
            return true;
        }
    }
    return false;
}

enum spin_end
{
    SPIN_RAISED,
    SPIN_OVER,
    SPIN_PREEMPTED,
};

// Spins until a watched object is raised or until end_ns. Sockets are polled every
// k_socket_poll_ns without sleeping, and the processor is offered to other threads every
// k_yield_ns; a spinner that finds it was off the processor stops (pf_spin.h).
spin_end spin(pf_waitable *const *objects, uint32_t n, const bool *watch, const uint32_t *seen,
              bool has_extras, int64_t end_ns)
{
    const int64_t k_socket_poll_ns = 5000;
    const int64_t k_yield_ns = 20000;
    int64_t now = monotonic_ns();
    int64_t next_socket_poll = now + k_socket_poll_ns;
    int64_t next_yield = now + k_yield_ns;
    for (;;)
    {
        for (int k = 0; k < 32; ++k)
        {
            if (raised_since(objects, n, watch, seen))
            {
                return SPIN_RAISED;
            }
            pf_spin_pause();
        }
        int64_t before = now;
        now = monotonic_ns();
        if (now - before > PF_SPIN_PREEMPTED_NS)
        {
            pf_spin_note_preempted(now);
            return SPIN_PREEMPTED;
        }
        if (now >= end_ns)
        {
            return SPIN_OVER;
        }
        if (has_extras && now >= next_socket_poll)
        {
            // A descriptor that reports something may have made its object ready without a
            // raise (a timer or a process is asked its state, not told it): look again.
            bool reported = false;
            if (!poll_and_deliver(objects, n, watch, true, 0, &reported) || reported)
            {
                return SPIN_RAISED;
            }
            next_socket_poll = monotonic_ns() + k_socket_poll_ns;
        }
        else if (now >= next_yield)
        {
            sched_yield();
            next_yield = now + k_yield_ns;
        }
    }
}

void unregister_sleeper(pf_waitable *const *objects, uint32_t n, const bool *watch)
{
    for (uint32_t i = 0; i < n; ++i)
    {
        if (watch[i])
        {
            objects[i]->sleepers.fetch_sub(1, std::memory_order_relaxed);
        }
    }
}

// Registers the caller as a sleeper on each watched object and lowers its descriptor,
// each under the object's lock; from then on a raise wakes the poll(). false, with
// nothing registered, when an object turns out to be ready after all.
bool register_sleeper(pf_waitable *const *objects, uint32_t n, const bool *watch, uint32_t self)
{
    for (uint32_t i = 0; i < n; ++i)
    {
        if (!watch[i])
        {
            continue;
        }
        pf_waitable *w = objects[i];
        std::lock_guard<std::mutex> guard(w->lock);
        if (w->ops->ready(w, self))
        {
            unregister_sleeper(objects, i, watch);
            return false;
        }
        pf_waitable_lower(w);
        w->sleepers.fetch_add(1, std::memory_order_relaxed);
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
    int64_t start_ns = monotonic_ns();
    int64_t deadline_ns = infinite ? 0 : start_ns + static_cast<int64_t>(timeout_ms) * 1000000;
    bool all[PF_MAXIMUM_WAIT_OBJECTS];
    std::fill(all, all + n, true);
    bool not_ready[PF_MAXIMUM_WAIT_OBJECTS];
    uint32_t seen[PF_MAXIMUM_WAIT_OBJECTS];
    // A wait without a time-out is a look, not a wait: it neither spins nor teaches the
    // spin policy.
    bool may_spin = timeout_ms != 0;
    if (may_spin)
    {
        pf_stage_wait_begin(start_ns);
    }
    pf_stage_wait_end_kind how = PF_STAGE_READY_AT_ONCE;
    int64_t spun_ns = 0;
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
        fresh = false;
        const bool *watch = all;
        if (may_spin)
        {
            snapshot(objects, n, all, seen);
        }
        bool taken = false;
        uint32_t result = PF_WAIT_OBJECT_0;
        if (!wait_all)
        {
            int32_t index = check_any(objects, n, self);
            taken = index >= 0;
            result = PF_WAIT_OBJECT_0 + static_cast<uint32_t>(index);
        }
        else
        {
            taken = check_all(objects, n, lock_order, self, not_ready);
            watch = not_ready;
        }
        if (taken || expired)
        {
            if (timeout_ms != 0)
            {
                int64_t now = monotonic_ns();
                if (taken)
                {
                    pf_spin_note_ready(now - start_ns);
                }
                else
                {
                    pf_spin_note_timeout();
                    how = PF_STAGE_TIMED_OUT;
                }
                pf_stage_wait_end(now, how, now - start_ns, spun_ns);
            }
            return taken ? result : PF_WAIT_TIMEOUT;
        }
        if (may_spin)
        {
            // One spin per wait: a wait that slept and lost a race sleeps again.
            may_spin = false;
            int64_t spin_start = monotonic_ns();
            int64_t budget = pf_spin_budget_ns(spin_start);
            if (budget > 0)
            {
                int64_t end_ns = spin_start + budget;
                if (!infinite && deadline_ns < end_ns)
                {
                    end_ns = deadline_ns;
                }
                bool caught = spin(objects, n, watch, seen, has_extras, end_ns) == SPIN_RAISED;
                spun_ns = monotonic_ns() - spin_start;
                if (caught)
                {
                    how = PF_STAGE_CAUGHT_SPINNING;
                    continue;
                }
            }
        }
        if (!register_sleeper(objects, n, watch, self))
        {
            continue;
        }
        int ms = remaining_ms(infinite, deadline_ns);
        bool polled = poll_and_deliver(objects, n, watch, false, ms);
        unregister_sleeper(objects, n, watch);
        if (!polled)
        {
            return PF_WAIT_FAILED;
        }
        how = PF_STAGE_AFTER_SLEEP;
        fresh = true;
        expired = ms == 0;
    }
}

uint32_t pf_wait_for_single(pf_waitable *object, uint32_t timeout_ms)
{
    return pf_wait_for_multiple(&object, 1, false, timeout_ms);
}
