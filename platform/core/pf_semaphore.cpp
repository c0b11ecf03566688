// Semaphore over the common waitable: the count lives under the object's lock and the
// eventfd is raised only when the count leaves 0, so a release to a semaphore that is
// already signalled costs no system call.
#include "platform/core/pf_semaphore.h"

#include <new>

#include "platform/core/pf_error.h"
#include "platform/core/pf_waitable.h"

struct pf_semaphore
{
    pf_waitable w;
    int32_t count;
    int32_t maximum;
};

namespace
{
bool semaphore_ready(const pf_waitable *w, uint32_t)
{
    return reinterpret_cast<const pf_semaphore *>(w)->count > 0;
}

void semaphore_take(pf_waitable *w, uint32_t)
{
    reinterpret_cast<pf_semaphore *>(w)->count -= 1;
}

const pf_waitable_ops k_semaphore_ops = {semaphore_ready, semaphore_take, nullptr, nullptr};
} // namespace

pf_semaphore *pf_semaphore_create(int32_t initial_count, int32_t maximum_count)
{
    if (maximum_count <= 0 || initial_count < 0 || initial_count > maximum_count)
    {
        pf_set_last_error(PF_ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    pf_semaphore *semaphore = new (std::nothrow) pf_semaphore;
    if (semaphore == nullptr)
    {
        pf_set_last_error(PF_ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (!pf_waitable_init(&semaphore->w, &k_semaphore_ops))
    {
        delete semaphore;
        return nullptr;
    }
    semaphore->count = initial_count;
    semaphore->maximum = maximum_count;
    if (initial_count > 0)
    {
        pf_waitable_raise_scope raising;
        std::lock_guard<std::mutex> guard(semaphore->w.lock);
        pf_waitable_raise(&semaphore->w);
    }
    return semaphore;
}

void pf_semaphore_destroy(pf_semaphore *semaphore)
{
    if (semaphore != nullptr)
    {
        pf_waitable_destroy(&semaphore->w);
        delete semaphore;
    }
}

bool pf_semaphore_release(pf_semaphore *semaphore, int32_t count, int32_t *previous_out)
{
    if (count <= 0)
    {
        pf_set_last_error(PF_ERROR_INVALID_PARAMETER);
        return false;
    }
    pf_waitable_raise_scope raising;
    std::lock_guard<std::mutex> guard(semaphore->w.lock);
    if (count > semaphore->maximum - semaphore->count)
    {
        pf_set_last_error(PF_ERROR_TOO_MANY_POSTS);
        return false;
    }
    if (previous_out != nullptr)
    {
        *previous_out = semaphore->count;
    }
    semaphore->count += count;
    pf_waitable_raise(&semaphore->w);
    return true;
}

pf_waitable *pf_semaphore_waitable(pf_semaphore *semaphore)
{
    return &semaphore->w;
}
