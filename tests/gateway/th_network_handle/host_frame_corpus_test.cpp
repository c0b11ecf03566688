// Replays every input the host frame fuzzer kept: bytes from the exchange host through the
// link's framing and the host receive validator (the checks live in the shared entry).
#include <gtest/gtest.h>

#include "fuzz/fuzz_corpus.h"
#include "fuzz/host_frame_fuzz_entry.h"

TEST(HostFrameCorpus, EveryKeptStreamIsFramedAndCheckedSoundly)
{
    testing::internal::CaptureStderr();
    size_t replayed =
        fuzz_corpus_replay(std::string(QEL_TEST_DATA_DIR) + "/host_frame_corpus",
                           [](const uint8_t *data, size_t size) { host_frame_fuzz_one(data, size); });
    testing::internal::GetCapturedStderr();
    EXPECT_GE(replayed, 10u);
}
