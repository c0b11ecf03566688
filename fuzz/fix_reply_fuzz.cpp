// libFuzzer target: exchange reply records into the FIX messages a client receives. Run
// with -close_fd_mask=2: every dropped record logs a line.
#include "fuzz/fix_reply_fuzz_entry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fix_reply_fuzz_one(data, size);
    return 0;
}
