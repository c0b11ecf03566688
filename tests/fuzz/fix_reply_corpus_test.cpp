// Replays every input the fix-reply fuzzer kept (replies from the exchange host into FIX messages for a
// client): each must meet what fuzz/fix_reply_fuzz_entry.h says must hold, in every build.
#include <gtest/gtest.h>

#include "fuzz/fix_reply_fuzz_entry.h"
#include "support/test_support.h"

TEST(FixReplyCorpus, EveryKeptInputHolds)
{
    std::vector<qel_test::corpus_input> inputs = qel_test::corpus_inputs("fix_reply");
    for (const qel_test::corpus_input &input : inputs)
    {
        testing::internal::CaptureStderr();
        const char *failure = fix_reply_fuzz::one(input.bytes.data(), input.bytes.size());
        testing::internal::GetCapturedStderr();
        EXPECT_EQ(failure, nullptr) << input.name << ": " << (failure != nullptr ? failure : "");
    }
    EXPECT_GE(inputs.size(), 10u);
}
