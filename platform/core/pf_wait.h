// The wait on one object or on up to 64 at once (any or all), with a time-out in ms,
// reporting like the interface the gateway was written against: the index of the lowest
// ready object, a time-out, or a failure.
#pragma once

#include <cstdint>

struct pf_waitable;

enum : uint32_t
{
    PF_WAIT_OBJECT_0 = 0,
    PF_WAIT_ABANDONED_0 = 0x80,
    PF_WAIT_TIMEOUT = 258,
    PF_WAIT_FAILED = 0xFFFFFFFFu,
};

constexpr uint32_t PF_INFINITE = 0xFFFFFFFFu;

enum
{
    PF_MAXIMUM_WAIT_OBJECTS = 64,
};

// Wait any: PF_WAIT_OBJECT_0 + the lowest index that was ready, which is taken (a
// semaphore's count consumed, a mutex owned). Wait all: PF_WAIT_OBJECT_0 once every object
// was ready at the same moment, all taken together. PF_WAIT_TIMEOUT, or PF_WAIT_FAILED
// with the last error set: no objects, more than 64, a null one, or (wait all) the same
// object twice.
uint32_t pf_wait_for_multiple(pf_waitable *const *objects, uint32_t n, bool wait_all, uint32_t timeout_ms);
uint32_t pf_wait_for_single(pf_waitable *object, uint32_t timeout_ms);
