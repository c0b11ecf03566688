// Recursive mutex that can be waited on with a time-out and together with other objects.
// Released by a thread that does not own it: refused with error 288.
#pragma once

#include <cstdint>

struct pf_mutex;
struct pf_waitable;

pf_mutex *pf_mutex_create(bool initially_owned);
void pf_mutex_destroy(pf_mutex *mutex);
bool pf_mutex_release(pf_mutex *mutex);
pf_waitable *pf_mutex_waitable(pf_mutex *mutex);
