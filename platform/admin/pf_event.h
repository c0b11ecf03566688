// An auto-reset event: set by one thread, it releases exactly one wait and is then unset
// again. The service's start event, which the control handler sets and the supervising
// thread waits for among its processes.
#pragma once

struct pf_event;
struct pf_waitable;

// Unset at creation. Null with the last error set when it cannot be made.
pf_event *pf_event_create();
void pf_event_destroy(pf_event *event);
void pf_event_set(pf_event *event);
void pf_event_reset(pf_event *event);
pf_waitable *pf_event_waitable(pf_event *event);
