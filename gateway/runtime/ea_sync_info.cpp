// ea_sync_info: the gateway's synchronisation object, over the platform's semaphore,
// critical section, mutex and network event, with the gateway's status codes.
#include "gateway/runtime/ea_sync_info.h"

#include <new>

#include "gateway/runtime/ea_socket.h"
#include "platform/core/pf_critical_section.h"
#include "platform/core/pf_error.h"
#include "platform/core/pf_mutex.h"
#include "platform/core/pf_net_event.h"
#include "platform/core/pf_semaphore.h"
#include "platform/core/pf_thread.h"
#include "platform/core/pf_wait.h"
#include "platform/core/pf_waitable.h"

namespace
{
ea_status wait_result(uint32_t result)
{
    if (result == PF_WAIT_OBJECT_0)
    {
        return EA_SUCCESS;
    }
    if (result == PF_WAIT_TIMEOUT)
    {
        return EA_WAIT_TIME_OUT;
    }
    return EA_ERROR;
}

// Maps a multiple wait's platform result to a status and an index (-1 for wait-all).
ea_status multiple_wait_result(uint32_t result, uint32_t n, bool wait_all, int32_t *index_out)
{
    *index_out = -1;
    if (result == PF_WAIT_TIMEOUT)
    {
        return EA_WAIT_TIME_OUT;
    }
    if (result >= PF_WAIT_OBJECT_0 && result < PF_WAIT_OBJECT_0 + n)
    {
        if (!wait_all)
        {
            *index_out = static_cast<int32_t>(result - PF_WAIT_OBJECT_0);
        }
        return EA_SUCCESS;
    }
    return EA_ERROR;
}
} // namespace

ea_sync_info *ea_sync_info_create(uint32_t flags, int32_t maximum_count)
{
    ea_sync_info *sync = new (std::nothrow) ea_sync_info{};
    if (sync == nullptr)
    {
        return nullptr;
    }
    bool ok = true;
    if ((flags & EA_SYNC_SEMAPHORE) != 0)
    {
        sync->semaphore = pf_semaphore_create(0, maximum_count);
        ok = sync->semaphore != nullptr;
    }
    if (ok && (flags & EA_SYNC_CRITICAL_SECTION) != 0)
    {
        sync->critical_section = pf_critical_section_create();
        ok = sync->critical_section != nullptr;
    }
    if (ok && (flags & EA_SYNC_MUTEX) != 0)
    {
        sync->mutex = pf_mutex_create(false);
        ok = sync->mutex != nullptr;
    }
    if (ok && (flags & EA_SYNC_NETWORK_EVENT) != 0)
    {
        char text[256];
        uint32_t length = sizeof text;
        ok = ea_socket_init(text, &length) == EA_SUCCESS;
        if (ok)
        {
            sync->network_event = pf_net_event_create();
            ok = sync->network_event != nullptr;
        }
    }
    if (!ok)
    {
        ea_sync_info_destroy(sync);
        return nullptr;
    }
    return sync;
}

void ea_sync_info_destroy(ea_sync_info *sync)
{
    if (sync == nullptr)
    {
        return;
    }
    if (sync->critical_section != nullptr)
    {
        pf_critical_section_destroy(sync->critical_section);
    }
    if (sync->semaphore != nullptr)
    {
        pf_semaphore_destroy(sync->semaphore);
    }
    if (sync->mutex != nullptr)
    {
        pf_mutex_destroy(sync->mutex);
    }
    if (sync->network_event != nullptr)
    {
        pf_net_event_destroy(sync->network_event);
    }
    delete sync;
}

uint32_t ea_sync_info_last_error()
{
    return pf_get_last_error();
}

ea_status ea_sync_info_wait(ea_sync_info *sync, uint32_t timeout_ms)
{
    if (sync == nullptr || sync->semaphore == nullptr)
    {
        return EA_ERROR;
    }
    return wait_result(pf_wait_for_single(pf_semaphore_waitable(sync->semaphore), timeout_ms));
}

ea_status ea_sync_info_release_semaphore(ea_sync_info *sync, int32_t count)
{
    if (sync == nullptr || sync->semaphore == nullptr)
    {
        return EA_ERROR;
    }
    return pf_semaphore_release(sync->semaphore, count, nullptr) ? EA_SUCCESS : EA_ERROR;
}

ea_status ea_sync_info_wait_mutex(ea_sync_info *sync, uint32_t timeout_ms)
{
    if (sync == nullptr || sync->mutex == nullptr)
    {
        return EA_ERROR;
    }
    return wait_result(pf_wait_for_single(pf_mutex_waitable(sync->mutex), timeout_ms));
}

ea_status ea_sync_info_release_mutex(ea_sync_info *sync)
{
    if (sync == nullptr || sync->mutex == nullptr)
    {
        return EA_ERROR;
    }
    return pf_mutex_release(sync->mutex) ? EA_SUCCESS : EA_ERROR;
}

ea_status ea_sync_info_enter_critical_section(ea_sync_info *sync)
{
    if (sync == nullptr || sync->critical_section == nullptr)
    {
        return EA_ERROR;
    }
    pf_critical_section_enter(sync->critical_section);
    sync->lock_count += 1;
    sync->owner_thread_id = pf_thread_current_id();
    return EA_SUCCESS;
}

ea_status ea_sync_info_leave_critical_section(ea_sync_info *sync)
{
    if (sync == nullptr || sync->critical_section == nullptr)
    {
        return EA_ERROR;
    }
    // Asked of the section itself first: the owner and count fields belong to the
    // holder, and a thread that does not hold the lock must not read them.
    if (!pf_critical_section_is_owned(sync->critical_section) || sync->lock_count == 0 ||
        sync->owner_thread_id != pf_thread_current_id())
    {
        return EA_ERROR;
    }
    sync->lock_count -= 1;
    return pf_critical_section_leave(sync->critical_section) ? EA_SUCCESS : EA_ERROR;
}

ea_status ea_sync_info_set_network_event(ea_sync_info *sync)
{
    if (sync == nullptr || sync->network_event == nullptr)
    {
        return EA_ERROR;
    }
    return pf_net_event_set(sync->network_event) ? EA_SUCCESS : EA_ERROR;
}

ea_status ea_sync_info_reset_network_event(ea_sync_info *sync)
{
    if (sync == nullptr || sync->network_event == nullptr)
    {
        return EA_ERROR;
    }
    return pf_net_event_reset(sync->network_event) ? EA_SUCCESS : EA_ERROR;
}

int32_t ea_sync_info_network_event_select(ea_sync_info *sync, int32_t socket, int32_t event_mask)
{
    if (sync == nullptr || sync->network_event == nullptr)
    {
        return -1;
    }
    return pf_net_event_select(socket, sync->network_event, event_mask);
}

ea_status ea_sync_info_wait_for_multiple_objects(ea_sync_info **objects, const uint32_t *kinds, uint32_t n,
                                                 bool wait_all, uint32_t timeout_ms, int32_t *index_out)
{
    *index_out = -1;
    if (objects == nullptr || kinds == nullptr || n == 0 || n > EA_MAX_WAIT_OBJECTS)
    {
        return EA_ERROR;
    }
    pf_waitable *waitables[EA_MAX_WAIT_OBJECTS];
    for (uint32_t i = 0; i < n; ++i)
    {
        ea_sync_info *sync = objects[i];
        if (sync == nullptr)
        {
            return EA_ERROR;
        }
        if (kinds[i] == EA_WAIT_ON_SEMAPHORE && sync->semaphore != nullptr)
        {
            waitables[i] = pf_semaphore_waitable(sync->semaphore);
        }
        else if (kinds[i] == EA_WAIT_ON_MUTEX && sync->mutex != nullptr)
        {
            waitables[i] = pf_mutex_waitable(sync->mutex);
        }
        else
        {
            return EA_ERROR;
        }
    }
    return multiple_wait_result(pf_wait_for_multiple(waitables, n, wait_all, timeout_ms), n, wait_all,
                                index_out);
}

ea_status ea_sync_info_wait_for_multiple_netwrok_event_objects(ea_sync_info **objects, uint32_t n,
                                                               bool wait_all, uint32_t timeout_ms,
                                                               int32_t *index_out)
{
    *index_out = -1;
    if (objects == nullptr || n == 0 || n > EA_MAX_WAIT_OBJECTS)
    {
        return EA_ERROR;
    }
    pf_waitable *waitables[EA_MAX_WAIT_OBJECTS];
    for (uint32_t i = 0; i < n; ++i)
    {
        if (objects[i] == nullptr || objects[i]->network_event == nullptr)
        {
            return EA_ERROR;
        }
        waitables[i] = pf_net_event_waitable(objects[i]->network_event);
    }
    return multiple_wait_result(pf_wait_for_multiple(waitables, n, wait_all, timeout_ms), n, wait_all,
                                index_out);
}
