// libFuzzer target: see host_frame_fuzz_entry.h for what an input is and what must hold.
// Run with -close_fd_mask=2, since refused input logs its lines to standard error.
#include <cstdio>
#include <cstdlib>

#include "fuzz/host_frame_fuzz_entry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (const char *failure = host_frame_fuzz::one(data, size))
    {
        fprintf(stdout, "host_frame: %s\n", failure);
        abort();
    }
    return 0;
}
