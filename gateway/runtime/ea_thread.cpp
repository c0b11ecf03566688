// ea_thread: worker threads that keep their routine's 32-bit result, joined one by one
// or up to 64 at a time, with every failure logged through the caller's logger.
#include "gateway/runtime/ea_thread.h"

#include <cstdio>
#include <new>

#include "gateway/runtime/logger.h"
#include "platform/core/pf_error.h"
#include "platform/core/pf_thread.h"
#include "platform/core/pf_wait.h"
#include "platform/core/pf_waitable.h"

namespace
{
void release_reference(ea_thread *thread)
{
    if (thread->references.fetch_sub(1, std::memory_order_acq_rel) == 1)
    {
        delete thread;
    }
}

uint32_t trampoline(void *argument)
{
    ea_thread *thread = static_cast<ea_thread *>(argument);
    uint32_t result = thread->routine(thread->argument);
    thread->exit_value = static_cast<int32_t>(result);
    release_reference(thread);
    return result;
}
} // namespace

ea_thread *ea_thread_create(ea_thread_routine routine, void *argument, logger_object *logger)
{
    ea_thread *thread = new (std::nothrow) ea_thread;
    if (thread == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "malloc failed for ea_thread object.");
        return nullptr;
    }
    thread->routine = routine;
    thread->argument = argument;
    thread->exit_value = 0;
    thread->handle = nullptr;
    thread->thread_id = 0;
    thread->references.store(2, std::memory_order_relaxed);
    const char *error_text = "";
    thread->handle = pf_thread_create(trampoline, thread, &error_text);
    if (thread->handle == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "_beginthreadex failed with error : %s", error_text);
        delete thread;
        return nullptr;
    }
    thread->thread_id = pf_thread_id(thread->handle);
    EA_LOG(logger, EA_LEVEL_EVENT, "Thread created with id : [%d]", static_cast<int>(thread->thread_id));
    return thread;
}

ea_status ea_thread_join(ea_thread *thread, uint32_t timeout_ms, logger_object *logger)
{
    pf_waitable *waitable =
        thread != nullptr && thread->handle != nullptr ? pf_thread_waitable(thread->handle) : nullptr;
    uint32_t result = pf_wait_for_single(waitable, timeout_ms);
    if (result == PF_WAIT_OBJECT_0)
    {
        return EA_SUCCESS;
    }
    if (result == PF_WAIT_TIMEOUT)
    {
        EA_LOG(logger, EA_LEVEL_EVENT, "Waiting operation on thread timed out.");
        return EA_WAIT_TIME_OUT;
    }
    if (result == PF_WAIT_ABANDONED_0)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "Waiting for thread(s) failed. Error Code [%d]",
               static_cast<int>(pf_get_last_error()));
        return EA_ERROR;
    }
    EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "Waiting for thread(s) failed with error code [%d]",
           static_cast<int>(pf_get_last_error()));
    return EA_ERROR;
}

ea_status ea_multiple_thread_join(ea_thread **threads, uint32_t n, bool wait_all, uint32_t timeout_ms,
                                  int32_t *index_out, logger_object *logger)
{
    *index_out = -1;
    if (n > PF_MAXIMUM_WAIT_OBJECTS)
    {
        return EA_ERROR;
    }
    pf_waitable *waitables[PF_MAXIMUM_WAIT_OBJECTS] = {};
    for (uint32_t i = 0; i < n; ++i)
    {
        waitables[i] = threads[i] != nullptr && threads[i]->handle != nullptr
                           ? pf_thread_waitable(threads[i]->handle)
                           : nullptr;
    }
    uint32_t result = pf_wait_for_multiple(waitables, n, wait_all, timeout_ms);
    if (result == PF_WAIT_TIMEOUT)
    {
        return EA_WAIT_TIME_OUT;
    }
    if (result < PF_WAIT_OBJECT_0 + n)
    {
        if (!wait_all)
        {
            *index_out = static_cast<int32_t>(result - PF_WAIT_OBJECT_0);
        }
        return EA_SUCCESS;
    }
    if (result >= PF_WAIT_ABANDONED_0 && result < PF_WAIT_ABANDONED_0 + n)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "Waiting on multiple threads failed.");
        return EA_ERROR;
    }
    EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "Waiting for thread(s) failed with error code [%d]",
           static_cast<int>(pf_get_last_error()));
    return EA_ERROR;
}

ea_status ea_thread_suspend(ea_thread *thread, logger_object *logger)
{
    if (thread == nullptr || thread->handle == nullptr)
    {
        pf_set_last_error(PF_ERROR_INVALID_HANDLE);
    }
    else if (pf_thread_suspend(thread->handle) >= 0)
    {
        return EA_SUCCESS;
    }
    EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "SuspendThread failed with error code : [%d]",
           static_cast<int>(pf_get_last_error()));
    return EA_ERROR;
}

ea_status ea_thread_resume(ea_thread *thread, logger_object *logger)
{
    if (thread == nullptr || thread->handle == nullptr)
    {
        pf_set_last_error(PF_ERROR_INVALID_HANDLE);
    }
    else if (pf_thread_resume(thread->handle) >= 0)
    {
        return EA_SUCCESS;
    }
    EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "ResumeThread failed with error code : [%d]",
           static_cast<int>(pf_get_last_error()));
    return EA_ERROR;
}

void ea_thread_close(ea_thread *thread)
{
    if (thread == nullptr)
    {
        fprintf(stderr, "ea_thread is already NULL. File [%s], line [%d]", __FILE__, __LINE__);
        return;
    }
    pf_thread_close(thread->handle);
    thread->handle = nullptr;
    release_reference(thread);
}

uint32_t ea_thread_current_id()
{
    return pf_thread_current_id();
}
