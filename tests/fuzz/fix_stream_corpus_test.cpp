// Replays every input the fix-stream fuzzer kept (bytes from a FIX client, cut into
// messages by the engine and read as a session reads them): each must meet what
// fuzz/fix_stream_fuzz_entry.h says must hold, in every build.
#include <gtest/gtest.h>

#include "fuzz/fix_stream_fuzz_entry.h"
#include "support/test_support.h"

TEST(FixStreamCorpus, EveryKeptInputHolds)
{
    std::vector<qel_test::corpus_input> inputs = qel_test::corpus_inputs("fix_stream");
    for (const qel_test::corpus_input &input : inputs)
    {
        testing::internal::CaptureStderr();
        const char *failure = fix_stream_fuzz::one(input.bytes.data(), input.bytes.size());
        testing::internal::GetCapturedStderr();
        EXPECT_EQ(failure, nullptr) << input.name << ": " << (failure != nullptr ? failure : "");
    }
    EXPECT_GE(inputs.size(), 10u);
}
