// The common part of every object a thread can wait on (semaphore, mutex, network event,
// thread). Each one is backed by an eventfd that is readable whenever the object may be
// ready, so that a wait on up to 64 objects is one poll() over their descriptors.
//
// The descriptor is raised when the object becomes ready and lowered lazily: only a
// waiter that finds the object not ready and is about to sleep drains it. So a release
// costs at most one eventfd write, and none while the consumer has not yet gone back to
// sleep.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

struct pf_waitable;

// A descriptor watched on an object's behalf (a socket of a network event).
struct pf_wait_extra
{
    int fd;
    short events;
    pf_waitable *owner;
    void *item;
    uint64_t serial;
};

struct pf_waitable_ops
{
    // Both called with the object's lock held; self is the calling thread's id.
    bool (*ready)(const pf_waitable *w, uint32_t self);
    void (*take)(pf_waitable *w, uint32_t self);
    // Optional, called without the object's lock: add the descriptors to watch besides
    // the eventfd, and hand over what poll() reported for one of them.
    void (*collect)(pf_waitable *w, std::vector<pf_wait_extra> *out);
    void (*deliver)(const pf_wait_extra *extra, short revents);
};

struct pf_waitable
{
    const pf_waitable_ops *ops;
    std::mutex lock;
    int fd;            // eventfd; -1 when creation failed
    bool fd_signalled; // the eventfd holds a count (under lock)
};

// false when no eventfd could be made (last error set).
bool pf_waitable_init(pf_waitable *w, const pf_waitable_ops *ops);
void pf_waitable_destroy(pf_waitable *w);
// Under the object's lock: raise the descriptor (one write, only when it is down) and
// lower it (one read, only when it is up).
void pf_waitable_raise(pf_waitable *w);
void pf_waitable_lower(pf_waitable *w);
