// The wait on up to 64 objects in three steps. First the objects are checked and taken
// under their own locks in index order. Sockets (and other descriptors an object owns)
// report only when polled, so a socket-owning object below the first ready one is polled
// first, without sleeping, as it may be the lowest ready object after all; when nothing is
// ready the look costs no system call, as the next steps watch the sockets anyway. Then,
// when this thread has had traffic lately (pf_spin.h), it spins for a bounded time,
// watching the objects' raise counts without their locks and polling the sockets now and
// then. Last it sleeps, registered with each object under its lock after a last check
// there: on objects that own no descriptors it parks on its own semaphore, which the next
// raise posts; otherwise the next raise writes the object's eventfd and it sleeps in one
// poll() over the eventfds and sockets. A lost race simply waits again with the time that
// remains on CLOCK_MONOTONIC. A wait without a time-out is a look: it polls only the
// sockets.
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

// Wait any: the index of the lowest ready object, which is taken when `take` says so.
int32_t check_any(pf_waitable *const *objects, uint32_t n, uint32_t self, bool take)
{
    for (uint32_t i = 0; i < n; ++i)
    {
        pf_waitable *w = objects[i];
        std::lock_guard<std::mutex> guard(w->lock);
        if (w->ops->ready(w, self))
        {
            if (take)
            {
                w->ops->take(w, self);
            }
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

// Polls the descriptors of the included objects (or only their sockets) without handing
// over what they reported: poll()'s result, 0 when interrupted or when there was nothing to
// poll, -1 on failure (last error set).
int poll_descriptors(pf_waitable *const *objects, uint32_t n, const bool *included, bool extras_only,
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
    if (extras_only && s.extras.empty())
    {
        return 0;
    }
    for (const pf_wait_extra &extra : s.extras)
    {
        s.fds.push_back(pollfd{extra.fd, extra.events, 0});
    }
    int rc = poll(s.fds.data(), s.fds.size(), timeout);
    if (rc < 0 && errno != EINTR)
    {
        pf_set_last_error(PF_ERROR_INVALID_HANDLE);
        return -1;
    }
    return rc < 0 ? 0 : rc;
}

// Hands what the last poll reported for the sockets to their objects; whether any did.
bool deliver_reported()
{
    wait_scratch &s = t_scratch;
    size_t base = s.fds.size() - s.extras.size();
    bool reported = false;
    for (size_t k = 0; k < s.extras.size(); ++k)
    {
        short revents = s.fds[base + k].revents;
        if (revents != 0)
        {
            s.extras[k].owner->ops->deliver(&s.extras[k], revents);
            reported = true;
        }
    }
    return reported;
}

// Polls and hands over. false when poll() fails. *reported tells whether any of the
// objects' own descriptors (socket, timer, process) reported something.
bool poll_and_deliver(pf_waitable *const *objects, uint32_t n, const bool *included, bool extras_only,
                      int timeout, bool *reported = nullptr)
{
    int rc = poll_descriptors(objects, n, included, extras_only, timeout);
    bool delivered = rc > 0 && deliver_reported();
    if (reported != nullptr)
    {
        *reported = delivered;
    }
    return rc >= 0;
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

// One call's arguments and what its steps share.
struct wait_call
{
    pf_waitable *const *objects;
    uint32_t n;
    bool wait_all;
    uint32_t timeout_ms;
    uint32_t self;
    bool infinite;
    int64_t start_ns;
    int64_t deadline_ns;
    uint32_t first_extras; // the lowest index of an object with descriptors of its own; n: none
    uint32_t lock_order[PF_MAXIMUM_WAIT_OBJECTS];
    bool all[PF_MAXIMUM_WAIT_OBJECTS];
    bool not_ready[PF_MAXIMUM_WAIT_OBJECTS];
    uint32_t seen[PF_MAXIMUM_WAIT_OBJECTS];
    const bool *watch; // what the spin and the sleep watch: all, or (wait all) the not ready
    bool may_spin;
    int64_t spun_ns;
    pf_stage_wait_end_kind how;
};

// Refuses no objects, more than 64, a null one or one without its eventfd, and (wait all)
// the same object twice. Fills the lock order and where the sockets begin.
bool wait_call_valid(wait_call *call)
{
    if (call->objects == nullptr || call->n == 0 || call->n > PF_MAXIMUM_WAIT_OBJECTS)
    {
        pf_set_last_error(PF_ERROR_INVALID_PARAMETER);
        return false;
    }
    call->first_extras = call->n;
    for (uint32_t i = 0; i < call->n; ++i)
    {
        pf_waitable *w = call->objects[i];
        if (w == nullptr || w->fd < 0)
        {
            pf_set_last_error(PF_ERROR_INVALID_HANDLE);
            return false;
        }
        if (w->ops->collect != nullptr && call->first_extras == call->n)
        {
            call->first_extras = i;
        }
        call->lock_order[i] = i;
    }
    if (!call->wait_all)
    {
        return true;
    }
    pf_waitable *const *objects = call->objects;
    std::sort(call->lock_order, call->lock_order + call->n,
              [objects](uint32_t a, uint32_t b) { return objects[a] < objects[b]; });
    for (uint32_t k = 1; k < call->n; ++k)
    {
        if (objects[call->lock_order[k]] == objects[call->lock_order[k - 1]])
        {
            pf_set_last_error(PF_ERROR_INVALID_PARAMETER);
            return false;
        }
    }
    return true;
}

bool owns_sockets(const wait_call *call)
{
    return call->first_extras < call->n;
}

enum check_result
{
    CHECK_TAKEN,
    CHECK_NOTHING,
    CHECK_FAILED,
};

// Looks at the objects and takes what is ready; `fresh`: the sockets were just polled.
check_result check_objects(wait_call *call, bool fresh, uint32_t *result)
{
    pf_waitable *const *objects = call->objects;
    call->watch = call->all;
    if (call->may_spin)
    {
        snapshot(objects, call->n, call->all, call->seen);
    }
    if (call->wait_all)
    {
        if (owns_sockets(call) && !fresh && !poll_and_deliver(objects, call->n, call->all, true, 0))
        {
            return CHECK_FAILED;
        }
        call->watch = call->not_ready;
        *result = PF_WAIT_OBJECT_0;
        return check_all(objects, call->n, call->lock_order, call->self, call->not_ready) ? CHECK_TAKEN
                                                                                          : CHECK_NOTHING;
    }
    if (owns_sockets(call) && !fresh)
    {
        int32_t ready = check_any(objects, call->n, call->self, false);
        uint32_t below = ready < 0 ? 0 : static_cast<uint32_t>(ready);
        if (below > call->first_extras && !poll_and_deliver(objects, below, call->all, true, 0))
        {
            return CHECK_FAILED;
        }
    }
    int32_t index = check_any(objects, call->n, call->self, true);
    *result = PF_WAIT_OBJECT_0 + static_cast<uint32_t>(index);
    return index >= 0 ? CHECK_TAKEN : CHECK_NOTHING;
}

// A wait without a time-out that found nothing ready: the sockets, which report only when
// polled, are polled once and the objects looked at again.
check_result check_after_socket_poll(wait_call *call, uint32_t *result)
{
    if (!owns_sockets(call))
    {
        return CHECK_NOTHING;
    }
    if (!poll_and_deliver(call->objects, call->n, call->watch, true, 0))
    {
        return CHECK_FAILED;
    }
    return check_objects(call, true, result);
}

// Spins once per wait, when the spin policy allows; true when a raise was caught.
bool spin_phase(wait_call *call)
{
    call->may_spin = false;
    int64_t spin_start = monotonic_ns();
    int64_t budget = pf_spin_budget_ns(spin_start);
    if (budget <= 0)
    {
        return false;
    }
    int64_t end_ns = spin_start + budget;
    if (!call->infinite && call->deadline_ns < end_ns)
    {
        end_ns = call->deadline_ns;
    }
    bool caught =
        spin(call->objects, call->n, call->watch, call->seen, owns_sockets(call), end_ns) == SPIN_RAISED;
    call->spun_ns = monotonic_ns() - spin_start;
    if (caught)
    {
        call->how = PF_STAGE_CAUGHT_SPINNING;
    }
    return caught;
}

enum sleep_result
{
    SLEEP_WOKEN,   // something reported or was raised, or poll()'s time ran out: look again
    SLEEP_EXPIRED, // the time is up: one last look
    SLEEP_RECHECK, // an object turned ready while registering
    SLEEP_FAILED,
};

enum park_result
{
    PARKED,
    PARK_FOUND_READY,
    PARK_NO_ROOM,
};

void unpark_all(wait_call *call, pf_parker *p, uint32_t up_to)
{
    for (uint32_t i = 0; i < up_to; ++i)
    {
        if (call->watch[i])
        {
            pf_waitable *w = call->objects[i];
            std::lock_guard<std::mutex> guard(w->lock);
            pf_waitable_unpark(w, p);
        }
    }
}

// Parks the thread on each watched object under its lock, re-checking it there; nothing
// stays parked unless every object took it.
park_result park_all(wait_call *call, pf_parker *p)
{
    pf_parker_arm(p);
    for (uint32_t i = 0; i < call->n; ++i)
    {
        if (!call->watch[i])
        {
            continue;
        }
        pf_waitable *w = call->objects[i];
        park_result refused = PARKED;
        {
            std::lock_guard<std::mutex> guard(w->lock);
            if (w->ops->ready(w, call->self))
            {
                refused = PARK_FOUND_READY;
            }
            else if (!pf_waitable_park(w, p))
            {
                refused = PARK_NO_ROOM;
            }
        }
        if (refused != PARKED)
        {
            unpark_all(call, p, i);
            return refused;
        }
    }
    return PARKED;
}

// Registers as a sleeper and sleeps: parked when no object owns descriptors, otherwise in
// one poll() over the eventfds and the sockets.
sleep_result sleep_phase(wait_call *call)
{
    pf_parker *p = owns_sockets(call) ? nullptr : pf_parker_self();
    park_result parked = p == nullptr ? PARK_NO_ROOM : park_all(call, p);
    if (parked == PARK_FOUND_READY)
    {
        return SLEEP_RECHECK;
    }
    if (parked == PARKED)
    {
        bool time_left = call->infinite || remaining_ms(false, call->deadline_ns) > 0;
        bool woken = time_left && pf_parker_sleep(p, call->infinite, call->deadline_ns);
        unpark_all(call, p, call->n);
        call->how = PF_STAGE_AFTER_SLEEP;
        return woken ? SLEEP_WOKEN : SLEEP_EXPIRED;
    }
    if (!register_sleeper(call->objects, call->n, call->watch, call->self))
    {
        return SLEEP_RECHECK;
    }
    int ms = remaining_ms(call->infinite, call->deadline_ns);
    int polled = poll_descriptors(call->objects, call->n, call->watch, false, ms);
    // Awake again before the sockets' news is handed over: a raise it makes then need not
    // write an eventfd for this thread.
    unregister_sleeper(call->objects, call->n, call->watch);
    if (polled < 0)
    {
        return SLEEP_FAILED;
    }
    if (polled > 0)
    {
        deliver_reported();
    }
    call->how = PF_STAGE_AFTER_SLEEP;
    return ms == 0 ? SLEEP_EXPIRED : SLEEP_WOKEN;
}

// Teaches the spin policy and the stage times how the wait ended.
uint32_t finish(wait_call *call, bool taken, uint32_t result)
{
    if (call->timeout_ms != 0)
    {
        int64_t now = monotonic_ns();
        if (taken)
        {
            pf_spin_note_ready(now - call->start_ns);
        }
        else
        {
            pf_spin_note_timeout();
            call->how = PF_STAGE_TIMED_OUT;
        }
        pf_stage_wait_end(now, call->how, now - call->start_ns, call->spun_ns);
    }
    return taken ? result : PF_WAIT_TIMEOUT;
}
} // namespace

uint32_t pf_wait_for_multiple(pf_waitable *const *objects, uint32_t n, bool wait_all, uint32_t timeout_ms)
{
    // Wakes this thread still holds back go out before it may sleep.
    pf_waitable_wake_all();
    wait_call call;
    call.objects = objects;
    call.n = n;
    call.wait_all = wait_all;
    call.timeout_ms = timeout_ms;
    if (!wait_call_valid(&call))
    {
        return PF_WAIT_FAILED;
    }
    call.self = pf_thread_current_id();
    call.infinite = timeout_ms == PF_INFINITE;
    call.start_ns = monotonic_ns();
    call.deadline_ns = call.infinite ? 0 : call.start_ns + static_cast<int64_t>(timeout_ms) * 1000000;
    std::fill(call.all, call.all + n, true);
    // A wait without a time-out is a look, not a wait: it neither spins nor teaches the
    // spin policy.
    call.may_spin = timeout_ms != 0;
    call.spun_ns = 0;
    call.how = PF_STAGE_READY_AT_ONCE;
    if (call.may_spin)
    {
        pf_stage_wait_begin(call.start_ns);
    }
    bool fresh = false;
    bool expired = timeout_ms == 0;
    for (;;)
    {
        uint32_t result = PF_WAIT_FAILED;
        check_result checked = check_objects(&call, fresh, &result);
        if (checked == CHECK_NOTHING && expired && !fresh)
        {
            checked = check_after_socket_poll(&call, &result);
        }
        if (checked == CHECK_FAILED)
        {
            return PF_WAIT_FAILED;
        }
        if (checked == CHECK_TAKEN || expired)
        {
            return finish(&call, checked == CHECK_TAKEN, result);
        }
        fresh = false;
        if (call.may_spin && spin_phase(&call))
        {
            continue;
        }
        sleep_result slept = sleep_phase(&call);
        if (slept == SLEEP_FAILED)
        {
            return PF_WAIT_FAILED;
        }
        fresh = slept != SLEEP_RECHECK;
        expired = slept == SLEEP_EXPIRED;
    }
}

uint32_t pf_wait_for_single(pf_waitable *object, uint32_t timeout_ms)
{
    return pf_wait_for_multiple(&object, 1, false, timeout_ms);
}
