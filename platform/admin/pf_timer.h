// A waitable timer over timerfd: set to fire once after a relative time, it releases one
// wait and is then unset again (auto-reset). The supervisor's restart delay of a process.
#pragma once

#include <cstdint>

struct pf_timer;
struct pf_waitable;

// Unset at creation; null with the last error set.
pf_timer *pf_timer_create();
void pf_timer_destroy(pf_timer *timer);
// Fires once, due_ms from now (a timer set again starts over). false with the last error.
bool pf_timer_set(pf_timer *timer, uint32_t due_ms);
void pf_timer_cancel(pf_timer *timer);
pf_waitable *pf_timer_waitable(pf_timer *timer);
