// Threads over pthreads. The end of a thread raises the eventfd of its waitable, so that
// main can wait for any or all of its workers in one poll().
//
// Linux has no way to stop another thread, so suspension is a signal handshake: the
// suspender bumps the count, sends PF_SIGNAL_SUSPEND and waits for the target to
// acknowledge from inside its handler; the handler then sleeps in sigsuspend(), which
// only the resume signal can interrupt, until the count is back at 0. The target thus
// stops only at a point where it can take a signal, as it would on Windows
// at an instruction boundary.
#include "platform/core/pf_thread.h"

#include <pthread.h>
#include <semaphore.h>
#include <signal.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <mutex>
#include <new>

#include "platform/core/pf_error.h"
#include "platform/core/pf_waitable.h"

struct pf_thread
{
    pf_waitable w;
    pthread_t handle;
    pf_thread_routine routine;
    void *argument;
    std::atomic<uint32_t> id{0};
    std::atomic<int> references{2}; // the creator's handle and the running thread
    std::atomic<bool> ended{false}; // written under w.lock
    uint32_t exit_code = 0;         // under w.lock
    sem_t started;

    std::mutex suspend_lock; // serialises suspenders and resumers
    int32_t suspend_count = 0;
    std::atomic<bool> suspended{false};
    std::atomic<uint64_t> request_sequence{0};
    std::atomic<uint64_t> acknowledged_sequence{0};
    sem_t acknowledged;
};

namespace
{
const int32_t k_maximum_suspend_count = 127;

thread_local pf_thread *t_self = nullptr;
thread_local uint32_t t_id = 0;

int suspend_signal()
{
    return SIGRTMIN + 1;
}

int resume_signal()
{
    return SIGRTMIN + 2;
}

bool thread_ready(const pf_waitable *w, uint32_t)
{
    return reinterpret_cast<const pf_thread *>(w)->ended.load(std::memory_order_acquire);
}

void thread_take(pf_waitable *, uint32_t) {}

const pf_waitable_ops k_thread_ops = {thread_ready, thread_take, nullptr, nullptr};

void release_reference(pf_thread *thread)
{
    if (thread->references.fetch_sub(1, std::memory_order_acq_rel) == 1)
    {
        sem_destroy(&thread->started);
        sem_destroy(&thread->acknowledged);
        pf_waitable_destroy(&thread->w);
        delete thread;
    }
}

// Sleeps until resumed; called with both signals blocked (from the handler, or by a
// thread that suspends itself).
void sleep_while_suspended(pf_thread *thread)
{
    sigset_t wait_mask;
    pthread_sigmask(SIG_BLOCK, nullptr, &wait_mask);
    sigdelset(&wait_mask, resume_signal());
    while (thread->suspended.load(std::memory_order_acquire))
    {
        thread->acknowledged_sequence.store(thread->request_sequence.load(std::memory_order_acquire),
                                            std::memory_order_release);
        sem_post(&thread->acknowledged);
        sigsuspend(&wait_mask);
    }
}

void on_suspend_signal(int)
{
    int saved_errno = errno;
    if (t_self != nullptr)
    {
        sleep_while_suspended(t_self);
    }
    errno = saved_errno;
}

void on_resume_signal(int) {}

void install_signal_handlers()
{
    static std::once_flag once;
    std::call_once(once,
                   []
                   {
                       struct sigaction action = {};
                       sigemptyset(&action.sa_mask);
                       sigaddset(&action.sa_mask, suspend_signal());
                       sigaddset(&action.sa_mask, resume_signal());
                       action.sa_flags = SA_RESTART;
                       action.sa_handler = on_suspend_signal;
                       sigaction(suspend_signal(), &action, nullptr);
                       action.sa_handler = on_resume_signal;
                       sigaction(resume_signal(), &action, nullptr);
                   });
}

void *trampoline(void *argument)
{
    pf_thread *thread = static_cast<pf_thread *>(argument);
    t_self = thread;
    thread->id.store(pf_thread_current_id(), std::memory_order_release);
    sem_post(&thread->started);
    uint32_t code = thread->routine(thread->argument);
    // From here on the thread cannot be suspended: it must not stop while it holds the
    // lock that its suspender looks at.
    sigset_t both;
    sigemptyset(&both);
    sigaddset(&both, suspend_signal());
    sigaddset(&both, resume_signal());
    pthread_sigmask(SIG_BLOCK, &both, nullptr);
    {
        std::lock_guard<std::mutex> guard(thread->w.lock);
        thread->exit_code = code;
        thread->ended.store(true, std::memory_order_release);
        pf_waitable_raise(&thread->w);
    }
    t_self = nullptr;
    release_reference(thread);
    return nullptr;
}

const char *create_error_text(int error)
{
    switch (error)
    {
    case EAGAIN:
        return "Resource temporarily unavailable";
    case EINVAL:
        return "Invalid argument";
    case EPERM:
        return "Operation not permitted";
    case ENOMEM:
        return "Not enough space";
    default:
        return "Unknown error";
    }
}

bool has_ended(pf_thread *thread)
{
    return thread->ended.load(std::memory_order_acquire);
}
} // namespace

pf_thread *pf_thread_create(pf_thread_routine routine, void *argument, const char **error_text)
{
    install_signal_handlers();
    pf_thread *thread = new (std::nothrow) pf_thread;
    if (thread == nullptr)
    {
        *error_text = create_error_text(ENOMEM);
        pf_set_last_error(PF_ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    thread->routine = routine;
    thread->argument = argument;
    sem_init(&thread->started, 0, 0);
    sem_init(&thread->acknowledged, 0, 0);
    if (!pf_waitable_init(&thread->w, &k_thread_ops))
    {
        *error_text = create_error_text(EAGAIN);
        thread->references.store(1);
        release_reference(thread);
        return nullptr;
    }
    int rc = pthread_create(&thread->handle, nullptr, trampoline, thread);
    if (rc != 0)
    {
        *error_text = create_error_text(rc);
        pf_set_last_error(PF_ERROR_NOT_ENOUGH_MEMORY);
        thread->references.store(1);
        release_reference(thread);
        return nullptr;
    }
    // The id is known only inside the new thread; creators log it at once.
    while (sem_wait(&thread->started) != 0 && errno == EINTR)
    {
    }
    return thread;
}

void pf_thread_close(pf_thread *thread)
{
    if (thread == nullptr)
    {
        return;
    }
    if (has_ended(thread))
    {
        pthread_join(thread->handle, nullptr);
    }
    else
    {
        pthread_detach(thread->handle);
    }
    release_reference(thread);
}

pf_waitable *pf_thread_waitable(pf_thread *thread)
{
    return &thread->w;
}

uint32_t pf_thread_id(const pf_thread *thread)
{
    return thread->id.load(std::memory_order_acquire);
}

bool pf_thread_exit_code(pf_thread *thread, uint32_t *exit_code)
{
    std::lock_guard<std::mutex> guard(thread->w.lock);
    if (!thread->ended.load(std::memory_order_relaxed))
    {
        return false;
    }
    *exit_code = thread->exit_code;
    return true;
}

int32_t pf_thread_suspend(pf_thread *thread)
{
    install_signal_handlers();
    std::unique_lock<std::mutex> guard(thread->suspend_lock);
    if (has_ended(thread))
    {
        pf_set_last_error(PF_ERROR_ACCESS_DENIED);
        return -1;
    }
    if (thread->suspend_count >= k_maximum_suspend_count)
    {
        pf_set_last_error(PF_ERROR_SIGNAL_REFUSED);
        return -1;
    }
    int32_t previous = thread->suspend_count++;
    if (previous > 0)
    {
        return previous;
    }
    uint64_t sequence = thread->request_sequence.fetch_add(1, std::memory_order_acq_rel) + 1;
    thread->suspended.store(true, std::memory_order_release);
    if (thread == t_self)
    {
        guard.unlock();
        sigset_t both, saved;
        sigemptyset(&both);
        sigaddset(&both, suspend_signal());
        sigaddset(&both, resume_signal());
        pthread_sigmask(SIG_BLOCK, &both, &saved);
        sleep_while_suspended(thread);
        pthread_sigmask(SIG_SETMASK, &saved, nullptr);
        return previous;
    }
    if (pthread_kill(thread->handle, suspend_signal()) != 0)
    {
        thread->suspended.store(false, std::memory_order_release);
        thread->suspend_count = 0;
        pf_set_last_error(PF_ERROR_ACCESS_DENIED);
        return -1;
    }
    // Stale posts from earlier handshakes only cost a turn of this loop.
    while (thread->acknowledged_sequence.load(std::memory_order_acquire) < sequence)
    {
        if (has_ended(thread))
        {
            thread->suspended.store(false, std::memory_order_release);
            thread->suspend_count = 0;
            pf_set_last_error(PF_ERROR_ACCESS_DENIED);
            return -1;
        }
        timespec until;
        clock_gettime(CLOCK_REALTIME, &until);
        until.tv_nsec += 10000000;
        if (until.tv_nsec >= 1000000000)
        {
            until.tv_sec += 1;
            until.tv_nsec -= 1000000000;
        }
        sem_timedwait(&thread->acknowledged, &until);
    }
    return previous;
}

int32_t pf_thread_resume(pf_thread *thread)
{
    std::lock_guard<std::mutex> guard(thread->suspend_lock);
    int32_t previous = thread->suspend_count;
    if (previous == 0)
    {
        return 0;
    }
    thread->suspend_count = previous - 1;
    if (previous == 1)
    {
        thread->suspended.store(false, std::memory_order_release);
        if (!has_ended(thread))
        {
            pthread_kill(thread->handle, resume_signal());
        }
    }
    return previous;
}

uint32_t pf_thread_current_id()
{
    if (t_id == 0)
    {
        // A forked child's one thread must not keep its parent thread's cached id.
        static std::once_flag once;
        std::call_once(once, [] { pthread_atfork(nullptr, nullptr, [] { t_id = 0; }); });
        t_id = static_cast<uint32_t>(syscall(SYS_gettid));
    }
    return t_id;
}
