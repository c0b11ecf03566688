// Replays every input the FIX order fuzzer kept: request texts through the acceptor's
// validation and the order request checks (the checks live in the shared entry).
#include <gtest/gtest.h>

#include "fuzz/fix_order_fuzz_entry.h"
#include "fuzz/fuzz_corpus.h"

TEST(FixOrderCorpus, EveryKeptRequestIsRefusedOrBecomesASoundRecord)
{
    testing::internal::CaptureStderr();
    size_t replayed =
        fuzz_corpus_replay(std::string(QEL_TEST_DATA_DIR) + "/fix_order_corpus",
                           [](const uint8_t *data, size_t size) { fix_order_fuzz_one(data, size); });
    testing::internal::GetCapturedStderr();
    EXPECT_GE(replayed, 10u);
}
