// Replays every input the console request fuzzer kept: bytes from a console on either
// port through the console connection's framing and the console interface (the checks
// live in the shared entry).
#include <gtest/gtest.h>

#include "fuzz/console_request_fuzz_entry.h"
#include "fuzz/fuzz_corpus.h"

TEST(ConsoleRequestCorpus, EveryKeptStreamIsAnsweredRefusedOrEndsInRestart)
{
    testing::internal::CaptureStderr();
    size_t replayed =
        fuzz_corpus_replay(std::string(QEL_TEST_DATA_DIR) + "/console_request_corpus",
                           [](const uint8_t *data, size_t size) { console_request_fuzz_one(data, size); });
    testing::internal::GetCapturedStderr();
    EXPECT_GE(replayed, 10u);
}
