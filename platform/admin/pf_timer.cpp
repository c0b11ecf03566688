// The timer's descriptor is watched beside the waitable's eventfd (the extra-descriptor
// road of pf_waitable): the wait polls it, asks whether it expired and, when it takes the
// timer, reads the expiry count, which unsets it.
#include "platform/admin/pf_timer.h"

#include <poll.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <new>

#include "platform/core/pf_error.h"
#include "platform/core/pf_waitable.h"

struct pf_timer
{
    pf_waitable w;
    int timer_fd;
};

namespace
{
bool descriptor_readable(int fd)
{
    pollfd p = {fd, POLLIN, 0};
    return poll(&p, 1, 0) == 1 && (p.revents & POLLIN) != 0;
}

bool timer_ready(const pf_waitable *w, uint32_t)
{
    return descriptor_readable(reinterpret_cast<const pf_timer *>(w)->timer_fd);
}

void timer_take(pf_waitable *w, uint32_t)
{
    uint64_t expirations = 0;
    ssize_t got = read(reinterpret_cast<pf_timer *>(w)->timer_fd, &expirations, sizeof expirations);
    (void)got;
}

void timer_collect(pf_waitable *w, std::vector<pf_wait_extra> *out)
{
    out->push_back(pf_wait_extra{reinterpret_cast<pf_timer *>(w)->timer_fd, POLLIN, w, nullptr, 0});
}

void timer_deliver(const pf_wait_extra *, short)
{
    // Nothing to hand over: readiness is asked of the descriptor itself.
}

const pf_waitable_ops k_timer_ops = {timer_ready, timer_take, timer_collect, timer_deliver};
} // namespace

pf_timer *pf_timer_create()
{
    pf_timer *timer = new (std::nothrow) pf_timer;
    if (timer == nullptr)
    {
        pf_set_last_error(PF_ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    timer->timer_fd = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
    if (timer->timer_fd < 0)
    {
        pf_set_last_error(PF_ERROR_INVALID_HANDLE);
        delete timer;
        return nullptr;
    }
    if (!pf_waitable_init(&timer->w, &k_timer_ops))
    {
        close(timer->timer_fd);
        delete timer;
        return nullptr;
    }
    return timer;
}

void pf_timer_destroy(pf_timer *timer)
{
    if (timer != nullptr)
    {
        pf_waitable_destroy(&timer->w);
        close(timer->timer_fd);
        delete timer;
    }
}

bool pf_timer_set(pf_timer *timer, uint32_t due_ms)
{
    std::lock_guard<std::mutex> guard(timer->w.lock);
    timer_take(&timer->w, 0); // an earlier expiry not yet taken is dropped
    itimerspec due = {};
    due.it_value.tv_sec = due_ms / 1000;
    due.it_value.tv_nsec = static_cast<long>(due_ms % 1000) * 1000000L + (due_ms == 0 ? 1 : 0);
    if (timerfd_settime(timer->timer_fd, 0, &due, nullptr) != 0)
    {
        pf_set_last_error(PF_ERROR_INVALID_PARAMETER);
        return false;
    }
    return true;
}

void pf_timer_cancel(pf_timer *timer)
{
    std::lock_guard<std::mutex> guard(timer->w.lock);
    itimerspec none = {};
    timerfd_settime(timer->timer_fd, 0, &none, nullptr);
    timer_take(&timer->w, 0);
}

pf_waitable *pf_timer_waitable(pf_timer *timer)
{
    return &timer->w;
}
