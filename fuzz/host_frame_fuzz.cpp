// libFuzzer target: bytes from the exchange host through the host link's framing and the
// host receive validator. Run with -close_fd_mask=2: every refused frame logs a line.
#include "fuzz/host_frame_fuzz_entry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    host_frame_fuzz_one(data, size);
    return 0;
}
