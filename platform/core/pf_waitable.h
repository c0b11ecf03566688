// The common part of every object a thread can wait on (semaphore, mutex, network event,
// thread). Each one is backed by an eventfd, so that a wait on up to 64 objects that has
// to sleep is one poll() over their descriptors.
//
// A hand-over between two busy threads must not cost a system call on each side, so the
// descriptor is written only for a waiter that sleeps: a waiter about to poll() registers
// as a sleeper under the object's lock (lowering the descriptor) and re-checks the object,
// and a raise under the same lock writes the descriptor only while someone is registered.
// Every raise also counts up `raises`, which a waiter that spins before sleeping watches
// without the lock.
//
// A waiter whose objects own no descriptors (the queues' semaphores of the worker threads)
// need not poll: it parks on a POSIX semaphore of its own, registered with each object
// instead of counting as a sleeper, and a raise posts it. A hand-over then costs the
// waker's post and the waiter's sleep (a futex call each), where the eventfd cost a write,
// a poll() and the read that lowers it again.
//
// The wake itself (write or post) waits until the raising thread has released the object's
// lock and left the critical section it raised in (a producer raises inside its queue's
// section): a woken thread would otherwise run straight into a lock its waker still holds,
// and both would pay a futex call. The held-back wakes also go out before the thread blocks
// on a section and before it waits, so that nothing it may wait for waits on them.
//
// So a kind of object plugs in by keeping its state under `lock`, answering ready/take, and
// calling pf_waitable_raise whenever it may have become ready; a kind whose readiness comes
// from the kernel (a socket, a process or timer descriptor) hands its descriptors to the
// wait through collect/deliver instead.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

struct pf_waitable;
struct pf_parker;

enum
{
    PF_PARKED_MAX = 4, // parked waiters an object keeps; more sleep on its eventfd
};

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
    // the eventfd, and hand over what poll() reported for one of them. A waiter that
    // spins polls these descriptors now and then without sleeping, and looks at its
    // objects again whenever one reports; deliver raises the object when what it was told
    // makes it ready (a kind that asks its descriptor in ready, a timer or a process,
    // need not).
    void (*collect)(pf_waitable *w, std::vector<pf_wait_extra> *out);
    void (*deliver)(const pf_wait_extra *extra, short revents);
};

struct pf_waitable
{
    const pf_waitable_ops *ops;
    std::mutex lock;
    int fd;                           // eventfd; -1 when creation failed
    bool fd_signalled;                // the eventfd holds a count (under lock)
    std::atomic<uint32_t> sleepers;   // waiters registered to sleep (raised under lock)
    std::atomic<uint32_t> raises;     // counts every raise; read without the lock
    pf_parker *parked[PF_PARKED_MAX]; // waiters parked on it (under lock)
    uint32_t parked_count;
};

// false when no eventfd could be made (last error set).
bool pf_waitable_init(pf_waitable *w, const pf_waitable_ops *ops);
void pf_waitable_destroy(pf_waitable *w);
// Under the object's lock: the object may have become ready. Counts the raise, marks the
// descriptor up (once, while it is down) only when a waiter sleeps on it, and marks each
// parked waiter woken; the writes and posts are held back until the lock is released
// (pf_waitable_raise_scope).
void pf_waitable_raise(pf_waitable *w);
// Under the object's lock: lowers the descriptor (one read, only when it is up). A write
// still on its way leaves it marked up, so the sleeper's poll() sees it land.
void pf_waitable_lower(pf_waitable *w);

// The calling thread's parker. Arm it, park it on each object (under the object's lock;
// false when the object has no room left), sleep, and unpark it from each.
pf_parker *pf_parker_self();
void pf_parker_arm(pf_parker *p);
bool pf_waitable_park(pf_waitable *w, pf_parker *p);
void pf_waitable_unpark(pf_waitable *w, pf_parker *p);
// Sleeps until a raise of an object it is parked on, or until the deadline (ns on
// CLOCK_MONOTONIC, none when infinite); true when woken by a raise.
bool pf_parker_sleep(pf_parker *p, bool infinite, int64_t deadline_ns);

// Makes the wakes this thread has held back outside any critical section.
// pf_waitable_wake_all makes every one whatever the thread holds.
void pf_waitable_wake_held();
void pf_waitable_wake_all();
// Told by the critical sections: taken, left, or about to block on one.
void pf_waitable_section_entered();
void pf_waitable_section_left();

// Declared before the lock guard of a raise, so that it ends after the lock is released.
class pf_waitable_raise_scope
{
  public:
    pf_waitable_raise_scope() = default;
    ~pf_waitable_raise_scope() { pf_waitable_wake_held(); }
    pf_waitable_raise_scope(const pf_waitable_raise_scope &) = delete;
    pf_waitable_raise_scope &operator=(const pf_waitable_raise_scope &) = delete;
};
