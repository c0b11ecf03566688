// libFuzzer target: see fix_stream_fuzz_entry.h for what an input is and what must hold.
#include <cstdio>
#include <cstdlib>

#include "fuzz/fix_stream_fuzz_entry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (const char *failure = fix_stream_fuzz::one(data, size))
    {
        fprintf(stdout, "fix_stream: %s\n", failure);
        abort();
    }
    return 0;
}
