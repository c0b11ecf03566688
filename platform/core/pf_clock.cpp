// Clocks and sleep over clock_gettime and clock_nanosleep.
#include "platform/core/pf_clock.h"

#include <sched.h>
#include <time.h>

#include <cerrno>

int64_t pf_performance_counter()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

int64_t pf_performance_frequency()
{
    return 1000000000;
}

void pf_wall_clock(int64_t *seconds, uint16_t *milliseconds)
{
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    *seconds = static_cast<int64_t>(now.tv_sec);
    *milliseconds = static_cast<uint16_t>(now.tv_nsec / 1000000);
}

void pf_sleep_ms(uint32_t milliseconds)
{
    if (milliseconds == 0)
    {
        sched_yield();
        return;
    }
    timespec until;
    clock_gettime(CLOCK_MONOTONIC, &until);
    until.tv_sec += milliseconds / 1000;
    until.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000;
    if (until.tv_nsec >= 1000000000)
    {
        until.tv_sec += 1;
        until.tv_nsec -= 1000000000;
    }
    // An absolute deadline, so that a signal (a suspension) does not stretch the sleep.
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR)
    {
    }
}

uint16_t pf_processor_architecture()
{
#if defined(__x86_64__) || defined(__i386__)
    return PF_PROCESSOR_ARCHITECTURE_INTEL;
#elif defined(__aarch64__)
    return PF_PROCESSOR_ARCHITECTURE_ARM64;
#elif defined(__arm__)
    return PF_PROCESSOR_ARCHITECTURE_ARM;
#else
    return PF_PROCESSOR_ARCHITECTURE_UNKNOWN;
#endif
}
