// Counting semaphore with a maximum count. Releasing past the maximum is refused with
// error 298 ("too many posts"), which the shared queue reads as "already signalled".
#pragma once

#include <cstdint>

struct pf_semaphore;
struct pf_waitable;

// Null when the maximum is not positive, the initial count is outside 0..maximum, or no
// eventfd can be made (last error set).
pf_semaphore *pf_semaphore_create(int32_t initial_count, int32_t maximum_count);
void pf_semaphore_destroy(pf_semaphore *semaphore);
// false with last error 298 when the count would pass the maximum (the count is then
// unchanged), 87 when count is not positive. previous_out may be null.
bool pf_semaphore_release(pf_semaphore *semaphore, int32_t count, int32_t *previous_out);
pf_waitable *pf_semaphore_waitable(pf_semaphore *semaphore);
