// libFuzzer target: FIX request texts (NewOrderSingle, OrderCancelRequest,
// OrderCancelReplaceRequest) through the acceptor's validation and the order request
// checks into the exchange's order record. Run with -close_fd_mask=2.
#include "fuzz/fix_order_fuzz_entry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fix_order_fuzz_one(data, size);
    return 0;
}
