// Mutex over the common waitable: ready when free or already held by the caller; the
// eventfd is raised when the last release frees it.
#include "platform/core/pf_mutex.h"

#include <new>

#include "platform/core/pf_error.h"
#include "platform/core/pf_thread.h"
#include "platform/core/pf_waitable.h"

struct pf_mutex
{
    pf_waitable w;
    uint32_t owner; // 0 when free
    uint32_t depth;
};

namespace
{
bool mutex_ready(const pf_waitable *w, uint32_t self)
{
    const pf_mutex *mutex = reinterpret_cast<const pf_mutex *>(w);
    return mutex->depth == 0 || mutex->owner == self;
}

void mutex_take(pf_waitable *w, uint32_t self)
{
    pf_mutex *mutex = reinterpret_cast<pf_mutex *>(w);
    mutex->owner = self;
    mutex->depth += 1;
}

const pf_waitable_ops k_mutex_ops = {mutex_ready, mutex_take, nullptr, nullptr};
} // namespace

pf_mutex *pf_mutex_create(bool initially_owned)
{
    pf_mutex *mutex = new (std::nothrow) pf_mutex;
    if (mutex == nullptr)
    {
        pf_set_last_error(PF_ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (!pf_waitable_init(&mutex->w, &k_mutex_ops))
    {
        delete mutex;
        return nullptr;
    }
    pf_waitable_raise_scope raising;
    std::lock_guard<std::mutex> guard(mutex->w.lock);
    mutex->owner = initially_owned ? pf_thread_current_id() : 0;
    mutex->depth = initially_owned ? 1 : 0;
    if (!initially_owned)
    {
        pf_waitable_raise(&mutex->w);
    }
    return mutex;
}

void pf_mutex_destroy(pf_mutex *mutex)
{
    if (mutex != nullptr)
    {
        pf_waitable_destroy(&mutex->w);
        delete mutex;
    }
}

bool pf_mutex_release(pf_mutex *mutex)
{
    pf_waitable_raise_scope raising;
    std::lock_guard<std::mutex> guard(mutex->w.lock);
    if (mutex->depth == 0 || mutex->owner != pf_thread_current_id())
    {
        pf_set_last_error(PF_ERROR_NOT_OWNER);
        return false;
    }
    if (--mutex->depth == 0)
    {
        mutex->owner = 0;
        pf_waitable_raise(&mutex->w);
    }
    return true;
}

pf_waitable *pf_mutex_waitable(pf_mutex *mutex)
{
    return &mutex->w;
}
