// Replays every input the workstation-frame fuzzer kept (bytes from a workstation, framed, checked by the
// workstation receive validator and by the user session's sequence check): each must meet what
// fuzz/workstation_frame_fuzz_entry.h says must hold, in every build.
#include <gtest/gtest.h>

#include "fuzz/workstation_frame_fuzz_entry.h"
#include "support/test_support.h"

TEST(WorkstationFrameCorpus, EveryKeptInputHolds)
{
    std::vector<qel_test::corpus_input> inputs = qel_test::corpus_inputs("workstation_frame");
    for (const qel_test::corpus_input &input : inputs)
    {
        testing::internal::CaptureStderr();
        const char *failure = workstation_frame_fuzz::one(input.bytes.data(), input.bytes.size());
        testing::internal::GetCapturedStderr();
        EXPECT_EQ(failure, nullptr) << input.name << ": " << (failure != nullptr ? failure : "");
    }
    EXPECT_GE(inputs.size(), 10u);
}
