// Process handles over pidfds. The pidfd is watched beside the waitable's eventfd: it
// turns readable when the process ends and stays so, which is the process handle's
// "signalled for good" of the Windows design. A child is reaped through its pidfd when
// its end is asked for, so that its exit status is read once and no zombie stays.
#include "platform/admin/pf_process_handle.h"

#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <new>

#include "platform/core/pf_error.h"
#include "platform/core/pf_waitable.h"

#ifndef P_PIDFD
#define P_PIDFD 3
#endif

struct pf_process_handle
{
    pf_waitable w;
    int pidfd;
    uint32_t pid;
    bool child;
    bool reaped;
    pf_process_end end;
    int code;
};

namespace
{
bool process_ready(const pf_waitable *w, uint32_t)
{
    const pf_process_handle *p = reinterpret_cast<const pf_process_handle *>(w);
    if (p->reaped)
        return true;
    pollfd fds = {p->pidfd, POLLIN, 0};
    return poll(&fds, 1, 0) == 1 && (fds.revents & (POLLIN | POLLHUP)) != 0;
}

void process_take(pf_waitable *, uint32_t)
{
    // A process handle stays signalled.
}

void process_collect(pf_waitable *w, std::vector<pf_wait_extra> *out)
{
    out->push_back(pf_wait_extra{reinterpret_cast<pf_process_handle *>(w)->pidfd, POLLIN, w, nullptr, 0});
}

void process_deliver(const pf_wait_extra *, short) {}

const pf_waitable_ops k_process_ops = {process_ready, process_take, process_collect, process_deliver};

int pidfd_open_call(uint32_t pid)
{
    return static_cast<int>(syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0));
}

pf_process_handle *wrap(uint32_t pid, int pidfd, bool child, int *error)
{
    pf_process_handle *process = new (std::nothrow) pf_process_handle;
    if (process == nullptr)
    {
        close(pidfd);
        *error = ENOMEM;
        return nullptr;
    }
    process->pidfd = pidfd;
    process->pid = pid;
    process->child = child;
    process->reaped = false;
    process->end = PF_PROCESS_RUNNING;
    process->code = 0;
    if (!pf_waitable_init(&process->w, &k_process_ops))
    {
        close(pidfd);
        delete process;
        *error = EMFILE;
        return nullptr;
    }
    return process;
}

// Reads a child's end (once) without blocking.
void reap(pf_process_handle *p, bool block)
{
    if (p->reaped || !p->child)
        return;
    siginfo_t info = {};
    if (waitid(static_cast<idtype_t>(P_PIDFD), static_cast<id_t>(p->pidfd), &info,
               WEXITED | (block ? 0 : WNOHANG)) != 0 ||
        info.si_pid == 0)
        return;
    p->reaped = true;
    if (info.si_code == CLD_EXITED)
    {
        p->end = PF_PROCESS_EXITED;
        p->code = info.si_status & 0xFF;
    }
    else
    {
        p->end = PF_PROCESS_SIGNALED;
        p->code = info.si_status;
    }
}
} // namespace

pf_process_handle *pf_process_handle_create(const char *path, const std::vector<std::string> &argv,
                                            const pf_spawn_options &options, int *error)
{
    pid_t pid = 0;
    *error = pf_spawn(path, argv, options, &pid);
    if (*error != 0)
        return nullptr;
    int pidfd = pidfd_open_call(static_cast<uint32_t>(pid));
    if (pidfd < 0)
    {
        // Without a pidfd it cannot be watched: do not leave it running unseen.
        *error = errno;
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        return nullptr;
    }
    return wrap(static_cast<uint32_t>(pid), pidfd, true, error);
}

pf_process_handle *pf_process_handle_open(uint32_t pid, int *error)
{
    int pidfd = pidfd_open_call(pid);
    if (pidfd < 0)
    {
        *error = errno;
        return nullptr;
    }
    // A process adopted by a restarted supervisor may still be its child (same parent).
    siginfo_t info = {};
    bool child = waitid(static_cast<idtype_t>(P_PIDFD), static_cast<id_t>(pidfd), &info,
                        WEXITED | WNOHANG | WNOWAIT) == 0;
    return wrap(pid, pidfd, child, error);
}

void pf_process_handle_close(pf_process_handle *process)
{
    if (process == nullptr)
        return;
    if (process->child && process_ready(&process->w, 0))
        reap(process, true);
    pf_waitable_destroy(&process->w);
    close(process->pidfd);
    delete process;
}

pf_waitable *pf_process_handle_waitable(pf_process_handle *process)
{
    return &process->w;
}

uint32_t pf_process_handle_pid(const pf_process_handle *process)
{
    return process->pid;
}

pf_process_end pf_process_handle_end(pf_process_handle *process, int *code)
{
    std::lock_guard<std::mutex> guard(process->w.lock);
    if (!process_ready(&process->w, 0))
        return PF_PROCESS_RUNNING;
    if (!process->child)
        return PF_PROCESS_UNKNOWN;
    reap(process, true);
    if (code != nullptr)
        *code = process->code;
    return process->reaped ? process->end : PF_PROCESS_UNKNOWN;
}

bool pf_process_handle_signal(pf_process_handle *process, int signal_number)
{
    if (process->reaped)
        return false;
    return syscall(SYS_pidfd_send_signal, process->pidfd, signal_number, nullptr, 0) == 0;
}
