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

void pf_waitable_destroy(pf_waitable *w)
{
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
        uint64_t one = 1;
        // An eventfd write of 1 cannot block or overflow here: the count is 0 or 1.
        ssize_t written = write(w->fd, &one, sizeof one);
        (void)written;
        w->fd_signalled = true;
    }
}

void pf_waitable_lower(pf_waitable *w)
{
    if (w->fd_signalled)
    {
        uint64_t value = 0;
        ssize_t got = read(w->fd, &value, sizeof value);
        (void)got;
        w->fd_signalled = false;
    }
}
