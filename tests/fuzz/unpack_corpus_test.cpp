// Replays every input the unpacking fuzzer kept: each must unpack to 0 or a logged drop,
// delivering only whole records (the checks live in the shared fuzz entry).
#include <gtest/gtest.h>

#include "fuzz/unpack_fuzz_entry.h"
#include "support/test_support.h"

TEST(UnpackCorpus, EveryKeptInputUnpacksOrIsDropped)
{
    std::vector<qel_test::corpus_input> inputs = qel_test::corpus_inputs("unpack");
    for (const qel_test::corpus_input &input : inputs)
    {
        testing::internal::CaptureStderr();
        ea_status result = unpack_fuzz_one(input.bytes.data(), input.bytes.size());
        testing::internal::GetCapturedStderr();
        EXPECT_TRUE(result == EA_SUCCESS || result == DATA_PROC_DROPPED) << input.name << " gave " << result;
    }
    EXPECT_GE(inputs.size(), 10u);
}
