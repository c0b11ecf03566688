// libFuzzer target: packets from the exchange host, unpacked. Run with -close_fd_mask=2,
// since every dropped packet logs a line to standard error.
#include "fuzz/unpack_fuzz_entry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    unpack_fuzz_one(data, size);
    return 0;
}
