// Replays every input the fix-order fuzzer kept (FIX text from a client into the order-request conversion):
// each must meet what fuzz/fix_order_fuzz_entry.h says must hold, in every build.
#include <gtest/gtest.h>

#include "fuzz/fix_order_fuzz_entry.h"
#include "support/test_support.h"

TEST(FixOrderCorpus, EveryKeptInputHolds)
{
    std::vector<qel_test::corpus_input> inputs = qel_test::corpus_inputs("fix_order");
    for (const qel_test::corpus_input &input : inputs)
    {
        testing::internal::CaptureStderr();
        const char *failure = fix_order_fuzz::one(input.bytes.data(), input.bytes.size());
        testing::internal::GetCapturedStderr();
        EXPECT_EQ(failure, nullptr) << input.name << ": " << (failure != nullptr ? failure : "");
    }
    EXPECT_GE(inputs.size(), 10u);
}
