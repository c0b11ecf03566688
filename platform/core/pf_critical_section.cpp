// Critical section: a plain mutex with the recursion done here, so that the owner can be
// asked without taking the lock. Only the owner writes its own id and the depth; another
// thread reading the owner sees either 0 or an id that is not its own.
#include "platform/core/pf_critical_section.h"

#include <atomic>
#include <mutex>
#include <new>

#include "platform/core/pf_error.h"
#include "platform/core/pf_thread.h"
#include "platform/core/pf_waitable.h"

struct pf_critical_section
{
    std::mutex lock;
    std::atomic<uint32_t> owner{0};
    uint32_t depth = 0;
};

pf_critical_section *pf_critical_section_create()
{
    pf_critical_section *section = new (std::nothrow) pf_critical_section;
    if (section == nullptr)
    {
        pf_set_last_error(PF_ERROR_NOT_ENOUGH_MEMORY);
    }
    return section;
}

void pf_critical_section_destroy(pf_critical_section *section)
{
    delete section;
}

void pf_critical_section_enter(pf_critical_section *section)
{
    uint32_t self = pf_thread_current_id();
    if (section->owner.load(std::memory_order_relaxed) == self)
    {
        ++section->depth;
        return;
    }
    if (!section->lock.try_lock())
    {
        // Wakes held back for a section this thread holds must not wait for a thread that
        // may need them to leave the one it is about to wait for.
        pf_waitable_wake_all();
        section->lock.lock();
    }
    pf_waitable_section_entered();
    section->owner.store(self, std::memory_order_relaxed);
    section->depth = 1;
}

bool pf_critical_section_try_enter(pf_critical_section *section)
{
    uint32_t self = pf_thread_current_id();
    if (section->owner.load(std::memory_order_relaxed) == self)
    {
        ++section->depth;
        return true;
    }
    if (!section->lock.try_lock())
    {
        return false;
    }
    pf_waitable_section_entered();
    section->owner.store(self, std::memory_order_relaxed);
    section->depth = 1;
    return true;
}

bool pf_critical_section_leave(pf_critical_section *section)
{
    if (!pf_critical_section_is_owned(section))
    {
        pf_set_last_error(PF_ERROR_NOT_OWNER);
        return false;
    }
    if (--section->depth == 0)
    {
        section->owner.store(0, std::memory_order_relaxed);
        section->lock.unlock();
        pf_waitable_section_left();
    }
    return true;
}

bool pf_critical_section_is_owned(const pf_critical_section *section)
{
    return section->owner.load(std::memory_order_relaxed) == pf_thread_current_id();
}
