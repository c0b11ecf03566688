// Scope guard for the FIX application's lock (a re-entrant critical section): entered on
// construction, left on destruction, and left or entered again in between where a
// method must not hold it across a send or a queue insert.
#pragma once

#include "gateway/library/ea_sync_info.h"

class FixLock
{
  public:
    explicit FixLock(ea_sync_info *lock) : m_lock(lock), m_held(true)
    {
        ea_sync_info_enter_critical_section(m_lock);
    }
    ~FixLock() { leave(); }
    FixLock(const FixLock &) = delete;
    FixLock &operator=(const FixLock &) = delete;

    void leave()
    {
        if (m_held)
            ea_sync_info_leave_critical_section(m_lock);
        m_held = false;
    }
    void enter()
    {
        if (!m_held)
            ea_sync_info_enter_critical_section(m_lock);
        m_held = true;
    }

  private:
    ea_sync_info *m_lock;
    bool m_held;
};
