// Replays every input the FIX reply fuzzer kept: exchange reply records into the FIX
// messages a client receives (the checks live in the shared entry).
#include <gtest/gtest.h>

#include "fuzz/fix_reply_fuzz_entry.h"
#include "fuzz/fuzz_corpus.h"

TEST(FixReplyCorpus, EveryKeptReplyIsDroppedOrBecomesAMessageTheClientAccepts)
{
    testing::internal::CaptureStderr();
    size_t replayed =
        fuzz_corpus_replay(std::string(QEL_TEST_DATA_DIR) + "/fix_reply_corpus",
                           [](const uint8_t *data, size_t size) { fix_reply_fuzz_one(data, size); });
    testing::internal::GetCapturedStderr();
    EXPECT_GE(replayed, 10u);
}
