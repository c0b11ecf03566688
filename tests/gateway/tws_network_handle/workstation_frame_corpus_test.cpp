// Replays every input the workstation frame fuzzer kept: bytes from a trader workstation
// through the connection's framing, the receive validator and the user session layer
// (the checks live in the shared entry).
#include <gtest/gtest.h>

#include "fuzz/fuzz_corpus.h"
#include "fuzz/workstation_frame_fuzz_entry.h"

TEST(WorkstationFrameCorpus, EveryKeptStreamIsFramedCheckedAndHandledSoundly)
{
    testing::internal::CaptureStderr();
    size_t replayed =
        fuzz_corpus_replay(std::string(QEL_TEST_DATA_DIR) + "/workstation_frame_corpus",
                           [](const uint8_t *data, size_t size) { workstation_frame_fuzz_one(data, size); });
    testing::internal::GetCapturedStderr();
    EXPECT_GE(replayed, 10u);
}
