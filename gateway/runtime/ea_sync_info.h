// ea_sync_info: one object that bundles, chosen by flags, the four synchronisation
// primitives the gateway uses: a counting semaphore, a re-entrant critical section that
// knows its owner and depth, a mutex and a network event (an event that sockets can be
// associated with, so that a network thread waits on its sockets and its input queue at once).
#pragma once

#include <cstdint>

#include "common/ea_status.h"

struct pf_semaphore;
struct pf_critical_section;
struct pf_mutex;
struct pf_net_event;

enum : uint32_t
{
    EA_SYNC_SEMAPHORE = 1,
    EA_SYNC_CRITICAL_SECTION = 2,
    EA_SYNC_MUTEX = 4,
    EA_SYNC_NETWORK_EVENT = 8,
};

// Kinds of object in ea_sync_info_wait_for_multiple_objects.
enum : uint32_t
{
    EA_WAIT_ON_SEMAPHORE = 1,
    EA_WAIT_ON_MUTEX = 4,
};

enum
{
    EA_MAX_WAIT_OBJECTS = 64,
};

// Platform error numbers that callers of this module compare with
// ea_sync_info_last_error(); they keep the Windows values the gateway was written for.
enum : uint32_t
{
    EA_SYNC_ERROR_NOT_OWNER = 288,      // release of a mutex the caller does not hold
    EA_SYNC_ERROR_TOO_MANY_POSTS = 298, // a semaphore release past its maximum count
};

// Waits forever.
constexpr uint32_t EA_INFINITE = 0xFFFFFFFFu;

struct ea_sync_info
{
    pf_semaphore *semaphore;               // flag 1: initial count 0, given maximum
    pf_critical_section *critical_section; // flag 2
    uint32_t owner_thread_id;              // thread that last entered the critical section
    uint32_t lock_count;                   // depth of entries by the owner; 0 when free
    pf_mutex *mutex;                       // flag 4, not initially owned
    pf_net_event *network_event;           // flag 8
};

ea_sync_info *ea_sync_info_create(uint32_t flags, int32_t maximum_count);
void ea_sync_info_destroy(ea_sync_info *sync);

// The platform's error number of the calling thread's last failed call (for instance 298
// after ea_sync_info_release_semaphore was refused because the semaphore was full).
uint32_t ea_sync_info_last_error();

ea_status ea_sync_info_wait(ea_sync_info *sync, uint32_t timeout_ms);
ea_status ea_sync_info_release_semaphore(ea_sync_info *sync, int32_t count);
ea_status ea_sync_info_wait_mutex(ea_sync_info *sync, uint32_t timeout_ms);
ea_status ea_sync_info_release_mutex(ea_sync_info *sync);
ea_status ea_sync_info_enter_critical_section(ea_sync_info *sync);
ea_status ea_sync_info_leave_critical_section(ea_sync_info *sync);
ea_status ea_sync_info_set_network_event(ea_sync_info *sync);
ea_status ea_sync_info_reset_network_event(ea_sync_info *sync);

// Associates the socket's network events (mask of EA_FD_* bits, ea_socket.h) with the
// object's network event; a mask of 0 removes the association. -1 when the object has no
// network event or the platform refuses, 0 otherwise.
int32_t ea_sync_info_network_event_select(ea_sync_info *sync, int32_t socket, int32_t event_mask);

// Waits for up to 64 semaphores (kind 1) or mutexes (kind 4); see the status table.
ea_status ea_sync_info_wait_for_multiple_objects(ea_sync_info **objects, const uint32_t *kinds, uint32_t n,
                                                 bool wait_all, uint32_t timeout_ms, int32_t *index_out);
// Waits for up to 64 network events (spelling kept from the gateway's own interface).
ea_status ea_sync_info_wait_for_multiple_netwrok_event_objects(ea_sync_info **objects, uint32_t n,
                                                               bool wait_all, uint32_t timeout_ms,
                                                               int32_t *index_out);

// Scoped hold of an object's critical section: entered on construction, left on
// destruction, so that no return path of a function can keep it. A function that must
// not hold it across a send or a queue insert leaves it early, and may enter it again.
class ea_sync_guard
{
  public:
    explicit ea_sync_guard(ea_sync_info *sync) : m_sync(sync), m_held(true)
    {
        ea_sync_info_enter_critical_section(m_sync);
    }
    ~ea_sync_guard() { leave(); }
    ea_sync_guard(const ea_sync_guard &) = delete;
    ea_sync_guard &operator=(const ea_sync_guard &) = delete;

    void leave()
    {
        if (m_held)
            ea_sync_info_leave_critical_section(m_sync);
        m_held = false;
    }
    void enter()
    {
        if (!m_held)
            ea_sync_info_enter_critical_section(m_sync);
        m_held = true;
    }
    bool held() const { return m_held; }

  private:
    ea_sync_info *m_sync;
    bool m_held;
};
