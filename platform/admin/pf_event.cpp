// The auto-reset event over the common waitable: a wait that finds it set takes it.
#include "platform/admin/pf_event.h"

#include <new>

#include "platform/core/pf_error.h"
#include "platform/core/pf_waitable.h"

struct pf_event
{
    pf_waitable w;
    bool set; // under w.lock
};

namespace
{
bool event_ready(const pf_waitable *w, uint32_t)
{
    return reinterpret_cast<const pf_event *>(w)->set;
}

void event_take(pf_waitable *w, uint32_t)
{
    reinterpret_cast<pf_event *>(w)->set = false;
}

const pf_waitable_ops k_event_ops = {event_ready, event_take, nullptr, nullptr};
} // namespace

pf_event *pf_event_create()
{
    pf_event *event = new (std::nothrow) pf_event;
    if (event == nullptr)
    {
        pf_set_last_error(PF_ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    event->set = false;
    if (!pf_waitable_init(&event->w, &k_event_ops))
    {
        delete event;
        return nullptr;
    }
    return event;
}

void pf_event_destroy(pf_event *event)
{
    if (event != nullptr)
    {
        pf_waitable_destroy(&event->w);
        delete event;
    }
}

void pf_event_set(pf_event *event)
{
    pf_waitable_raise_scope raising;
    std::lock_guard<std::mutex> guard(event->w.lock);
    event->set = true;
    pf_waitable_raise(&event->w);
}

void pf_event_reset(pf_event *event)
{
    std::lock_guard<std::mutex> guard(event->w.lock);
    event->set = false;
    pf_waitable_lower(&event->w);
}

pf_waitable *pf_event_waitable(pf_event *event)
{
    return &event->w;
}
