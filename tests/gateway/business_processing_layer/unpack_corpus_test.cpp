// Replays every input the unpacking fuzzer kept: each must unpack to 0 or a logged drop,
// delivering only whole records (the checks live in the shared fuzz entry).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "fuzz/unpack_fuzz_entry.h"

TEST(UnpackCorpus, EveryKeptInputUnpacksOrIsDropped)
{
    std::filesystem::path folder = std::filesystem::path(QEL_TEST_DATA_DIR) / "unpack_corpus";
    size_t replayed = 0;
    for (const auto &file : std::filesystem::directory_iterator(folder))
    {
        if (!file.is_regular_file())
            continue;
        std::ifstream in(file.path(), std::ios::binary);
        std::vector<uint8_t> input((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        testing::internal::CaptureStderr();
        ea_status result = unpack_fuzz_one(input.data(), input.size());
        testing::internal::GetCapturedStderr();
        EXPECT_TRUE(result == EA_SUCCESS || result == DATA_PROC_DROPPED) << file.path() << " gave " << result;
        replayed++;
    }
    EXPECT_GE(replayed, 10u);
}
