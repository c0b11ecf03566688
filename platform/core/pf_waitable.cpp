// eventfd bookkeeping shared by every waitable object: the descriptor is written only for
// a registered sleeper, and read back when the next sleeper registers.
#include "platform/core/pf_waitable.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>

#include "platform/core/pf_error.h"

bool pf_waitable_init(pf_waitable *w, const pf_waitable_ops *ops)
{
    w->ops = ops;
    w->fd_signalled = false;
    w->sleepers.store(0, std::memory_order_relaxed);
    w->raises.store(0, std::memory_order_relaxed);
    w->fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (w->fd < 0)
    {
        pf_set_last_error(errno == ENOMEM ? PF_ERROR_NOT_ENOUGH_MEMORY : PF_ERROR_INVALID_HANDLE);
        return false;
    }
    return true;
}

namespace
{
// Descriptors this thread marked up and has not written yet, each with the number of
// critical sections it held at the raise. When the list is full the write is made at
// once, under the lock: slower, never wrong.
struct held_wake
{
    pf_waitable *w;
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
            write_wake(t_held[i].w);
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
            t_held[t_held_count++] = held_wake{w, t_sections};
        }
        else
        {
            write_wake(w);
        }
    }
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
