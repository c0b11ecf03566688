// Replays every input the host-frame fuzzer kept (bytes from the exchange host, framed and checked by the
// host receive validator): each must meet what fuzz/host_frame_fuzz_entry.h says must hold, in every build.
#include <gtest/gtest.h>

#include "fuzz/host_frame_fuzz_entry.h"
#include "support/test_support.h"

TEST(HostFrameCorpus, EveryKeptInputHolds)
{
    std::vector<qel_test::corpus_input> inputs = qel_test::corpus_inputs("host_frame");
    for (const qel_test::corpus_input &input : inputs)
    {
        testing::internal::CaptureStderr();
        const char *failure = host_frame_fuzz::one(input.bytes.data(), input.bytes.size());
        testing::internal::GetCapturedStderr();
        EXPECT_EQ(failure, nullptr) << input.name << ": " << (failure != nullptr ? failure : "");
    }
    EXPECT_GE(inputs.size(), 10u);
}
