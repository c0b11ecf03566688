// libFuzzer target: bytes from a console on the interactive or realtime port, through the
// console connection's framing and the console interface. Run with -close_fd_mask=2.
#include "fuzz/console_request_fuzz_entry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    console_request_fuzz_one(data, size);
    return 0;
}
