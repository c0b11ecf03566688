// libFuzzer target: bytes from a trader workstation through the connection's framing, the
// workstation receive validator and the user session layer. Run with -close_fd_mask=2.
#include "fuzz/workstation_frame_fuzz_entry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    workstation_frame_fuzz_one(data, size);
    return 0;
}
