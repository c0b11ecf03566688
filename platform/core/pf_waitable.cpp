// eventfd bookkeeping shared by every waitable object: the descriptor is written only for
// a registered sleeper, and read back when the next sleeper registers. And the parkers:
// one per thread, taken from a pool that never shrinks, so that a post held back for a
// thread that has since ended reaches a parker that still exists (at worst it wakes its
// next owner once, for nothing).
#include "platform/core/pf_waitable.h"

#include <semaphore.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <new>

#include "platform/core/pf_error.h"

bool pf_waitable_init(pf_waitable *w, const pf_waitable_ops *ops)
{
    w->ops = ops;
    w->fd_signalled = false;
    w->sleepers.store(0, std::memory_order_relaxed);
    w->raises.store(0, std::memory_order_relaxed);
    w->parked_count = 0;
    w->fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (w->fd < 0)
    {
        pf_set_last_error(errno == ENOMEM ? PF_ERROR_NOT_ENOUGH_MEMORY : PF_ERROR_INVALID_HANDLE);
        return false;
    }
    return true;
}

// A POSIX semaphore: a post finds its sleeper with one futex wake and costs nothing when
// nobody sleeps; the flag lets one post stand for every raise until the next arming.
struct pf_parker
{
    sem_t posts;
    std::atomic<bool> woken{false}; // set by a raise; cleared when armed
    pf_parker *next_free = nullptr;
};

namespace
{
std::mutex g_parker_pool_lock;
pf_parker *g_free_parkers = nullptr; // under g_parker_pool_lock

// Hands this thread's parker back to the pool when the thread ends.
struct parker_holder
{
    pf_parker *parker = nullptr;
    ~parker_holder()
    {
        if (parker != nullptr)
        {
            std::lock_guard<std::mutex> guard(g_parker_pool_lock);
            parker->next_free = g_free_parkers;
            g_free_parkers = parker;
        }
    }
};
thread_local parker_holder t_parker;

void post(pf_parker *p)
{
    sem_post(&p->posts);
}

// Descriptors this thread marked up and parkers it marked woken, not yet written or
// notified, each with the number of critical sections it held at the raise. When the list
// is full the wake is made at once, under the lock: slower, never wrong.
struct held_wake
{
    pf_waitable *w; // null for a parker
    pf_parker *p;
    int sections;
};
const int k_held_max = 16;
thread_local held_wake t_held[k_held_max];
thread_local int t_held_count = 0;
thread_local int t_sections = 0; // critical sections this thread holds

void write_wake(pf_waitable *w)
{
    uint64_t one = 1;
    // An eventfd write of 1 cannot block or overflow here: the count is 0 or 1.
    ssize_t written = write(w->fd, &one, sizeof one);
    (void)written;
}

// Writes the wakes raised inside more than `sections` critical sections.
void wake_above(int sections)
{
    int kept = 0;
    for (int i = 0; i < t_held_count; ++i)
    {
        if (t_held[i].sections > sections)
        {
            if (t_held[i].w != nullptr)
            {
                write_wake(t_held[i].w);
            }
            else
            {
                post(t_held[i].p);
            }
        }
        else
        {
            t_held[kept++] = t_held[i];
        }
    }
    t_held_count = kept;
}
} // namespace

void pf_waitable_destroy(pf_waitable *w)
{
    for (int i = 0; i < t_held_count; ++i)
    {
        if (t_held[i].w == w)
        {
            t_held[i] = t_held[--t_held_count];
            break;
        }
    }
    if (w->fd >= 0)
    {
        close(w->fd);
        w->fd = -1;
    }
}

void pf_waitable_raise(pf_waitable *w)
{
    w->raises.fetch_add(1, std::memory_order_release);
    // A sleeper registers under the lock held here, so it is either counted now or it
    // will see the object's new state before it sleeps.
    if (!w->fd_signalled && w->sleepers.load(std::memory_order_relaxed) != 0)
    {
        w->fd_signalled = true;
        if (t_held_count < k_held_max)
        {
            t_held[t_held_count++] = held_wake{w, nullptr, t_sections};
        }
        else
        {
            write_wake(w);
        }
    }
    for (uint32_t i = 0; i < w->parked_count; ++i)
    {
        pf_parker *p = w->parked[i];
        if (p->woken.exchange(true, std::memory_order_acq_rel))
        {
            continue;
        }
        if (t_held_count < k_held_max)
        {
            t_held[t_held_count++] = held_wake{nullptr, p, t_sections};
        }
        else
        {
            post(p);
        }
    }
}

pf_parker *pf_parker_self()
{
    if (t_parker.parker == nullptr)
    {
        std::lock_guard<std::mutex> guard(g_parker_pool_lock);
        if (g_free_parkers != nullptr)
        {
            t_parker.parker = g_free_parkers;
            g_free_parkers = g_free_parkers->next_free;
        }
        else
        {
            pf_parker *p = new (std::nothrow) pf_parker;
            if (p != nullptr && sem_init(&p->posts, 0, 0) != 0)
            {
                delete p;
                p = nullptr;
            }
            t_parker.parker = p;
        }
    }
    return t_parker.parker;
}

void pf_parker_arm(pf_parker *p)
{
    // Posts left from earlier waits (one that came after its waiter had moved on) are
    // dropped, without a system call while there are none.
    while (sem_trywait(&p->posts) == 0)
    {
    }
    p->woken.store(false, std::memory_order_relaxed);
}

bool pf_waitable_park(pf_waitable *w, pf_parker *p)
{
    if (w->parked_count == PF_PARKED_MAX)
    {
        return false;
    }
    w->parked[w->parked_count++] = p;
    return true;
}

void pf_waitable_unpark(pf_waitable *w, pf_parker *p)
{
    for (uint32_t i = 0; i < w->parked_count; ++i)
    {
        if (w->parked[i] == p)
        {
            w->parked[i] = w->parked[--w->parked_count];
            return;
        }
    }
}

bool pf_parker_sleep(pf_parker *p, bool infinite, int64_t deadline_ns)
{
    timespec deadline;
    deadline.tv_sec = static_cast<time_t>(deadline_ns / 1000000000);
    deadline.tv_nsec = static_cast<long>(deadline_ns % 1000000000);
    // A post from an earlier raise may end a sleep early: the flag says whether this one
    // was woken.
    while (!p->woken.load(std::memory_order_acquire))
    {
        int rc = infinite ? sem_wait(&p->posts) : sem_clockwait(&p->posts, CLOCK_MONOTONIC, &deadline);
        if (rc != 0 && errno == ETIMEDOUT)
        {
            return p->woken.load(std::memory_order_acquire);
        }
    }
    return true;
}

void pf_waitable_lower(pf_waitable *w)
{
    if (w->fd_signalled)
    {
        uint64_t value = 0;
        // Nothing to read yet: the raiser has not written. The mark stays, and the write
        // wakes the next poll() once, harmlessly.
        if (read(w->fd, &value, sizeof value) == static_cast<ssize_t>(sizeof value))
        {
            w->fd_signalled = false;
        }
    }
}

void pf_waitable_wake_all()
{
    wake_above(-1);
}

void pf_waitable_wake_held()
{
    if (t_sections == 0 && t_held_count != 0)
    {
        wake_above(-1);
    }
}

void pf_waitable_section_entered()
{
    ++t_sections;
}

void pf_waitable_section_left()
{
    --t_sections;
    if (t_held_count != 0)
    {
        wake_above(t_sections);
    }
}
