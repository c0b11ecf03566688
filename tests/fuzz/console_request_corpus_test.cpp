// Replays every input the console-request fuzzer kept (bytes from an operator console on either console port,
// framed and handled by the interface): each must meet what fuzz/console_request_fuzz_entry.h says must hold,
// in every build.
#include <gtest/gtest.h>

#include "fuzz/console_request_fuzz_entry.h"
#include "support/test_support.h"

TEST(ConsoleRequestCorpus, EveryKeptInputHolds)
{
    std::vector<qel_test::corpus_input> inputs = qel_test::corpus_inputs("console_request");
    for (const qel_test::corpus_input &input : inputs)
    {
        testing::internal::CaptureStderr();
        const char *failure = console_request_fuzz::one(input.bytes.data(), input.bytes.size());
        testing::internal::GetCapturedStderr();
        EXPECT_EQ(failure, nullptr) << input.name << ": " << (failure != nullptr ? failure : "");
    }
    EXPECT_GE(inputs.size(), 10u);
}
