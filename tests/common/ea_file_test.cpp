// File search, string and byte-order helpers.
#include "common/ea_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace
{
class FindFiles : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        char templ[] = "/tmp/ea_file_test.XXXXXX";
        ASSERT_NE(mkdtemp(templ), nullptr);
        folder = templ;
        // Created out of order; the search must hand them back sorted.
        for (const char *name : {"main.current.3", "main.current.1", "main.current.2", "other.txt"})
        {
            created.push_back(folder + "/" + name);
            std::FILE *file = std::fopen(created.back().c_str(), "w");
            ASSERT_NE(file, nullptr);
            std::fclose(file);
        }
    }
    void TearDown() override
    {
        for (const std::string &path : created)
        {
            std::remove(path.c_str());
        }
        rmdir(folder.c_str());
    }
    std::string folder;
    std::vector<std::string> created;
    char names[5][EA_MAX_FILE_NAME] = {};
};

TEST_F(FindFiles, ArrayFilledGives203AndFullCount)
{
    uint32_t count = 2;
    EXPECT_EQ(ea_find_files((folder + "/main*.current.*").c_str(), names, &count), EA_VALID);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(names[0], folder + "/main.current.1");
    EXPECT_EQ(names[1], folder + "/main.current.2");
}

TEST_F(FindFiles, EndOfMatchesGivesZeroAndNumberFoundSorted)
{
    uint32_t count = 5;
    EXPECT_EQ(ea_find_files((folder + "/main*.current.*").c_str(), names, &count), EA_SUCCESS);
    ASSERT_EQ(count, 3u);
    EXPECT_EQ(names[0], folder + "/main.current.1");
    EXPECT_EQ(names[1], folder + "/main.current.2");
    EXPECT_EQ(names[2], folder + "/main.current.3");
}

TEST_F(FindFiles, ExactlyAsManyMatchesAsRoomIsNotAnEnd)
{
    uint32_t count = 3;
    EXPECT_EQ(ea_find_files((folder + "/main*").c_str(), names, &count), EA_VALID);
    EXPECT_EQ(count, 3u);
}

TEST_F(FindFiles, NoMatchGivesZeroAndNone)
{
    uint32_t count = 5;
    EXPECT_EQ(ea_find_files((folder + "/nothing*").c_str(), names, &count), EA_SUCCESS);
    EXPECT_EQ(count, 0u);
    count = 5;
    EXPECT_EQ(ea_find_files("/no/such/folder/x*", names, &count), EA_SUCCESS);
    EXPECT_EQ(count, 0u);
}

TEST(FindFilesArguments, NullPatternFails)
{
    char names[1][EA_MAX_FILE_NAME];
    uint32_t count = 1;
    EXPECT_EQ(ea_find_files(nullptr, names, &count), EA_ERROR);
    EXPECT_EQ(count, 0u);
}

TEST(Strings, StruprUpperCasesInPlace)
{
    char text[] = "qel_ip-v4.1 Abc";
    EXPECT_EQ(ea_strupr(text), text);
    EXPECT_STREQ(text, "QEL_IP-V4.1 ABC");
}

TEST(Strings, FileNameIsPartAfterLastSeparator)
{
    const struct
    {
        const char *path;
        const char *name;
    } cases[] = {
        {"/var/log/qel/main.log", "main.log"},
        {"C:\\qel\\logs\\main.log", "main.log"},
        {"logs\\a/b.txt", "b.txt"},
        {"a/b\\c.txt", "c.txt"},
        {"plain.txt", "plain.txt"},
        {"folder/", ""},
        {"", ""},
    };
    for (const auto &c : cases)
    {
        EXPECT_STREQ(ea_get_file_name(c.path), c.name) << c.path;
    }
}

TEST(ByteOrder, ReverseBytes)
{
    const struct
    {
        size_t n;
        const char *before;
        const char *after;
    } cases[] = {
        {0, "abcdefgh", "abcdefgh"}, {1, "abcdefgh", "abcdefgh"}, {2, "abcdefgh", "bacdefgh"},
        {3, "abcdefgh", "cbadefgh"}, {8, "abcdefgh", "hgfedcba"},
    };
    for (const auto &c : cases)
    {
        char buffer[9];
        std::memcpy(buffer, c.before, sizeof buffer);
        ea_reverse_bytes(buffer, c.n);
        EXPECT_STREQ(buffer, c.after) << c.n;
    }
}

TEST(ByteOrder, SwapDoubleReadsNetworkOrder)
{
    // IEEE 754 doubles written most significant byte first, as they travel.
    const struct
    {
        uint8_t wire[8];
        double value;
    } cases[] = {
        {{0x3F, 0xF0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, 1.0},
        {{0xC0, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, -2.25},
        {{0x3F, 0xB9, 0x99, 0x99, 0x99, 0x99, 0x99, 0x9A}, 0.1},
        {{0x40, 0x8F, 0x40, 0x00, 0x00, 0x00, 0x00, 0x00}, 1000.0},
    };
    for (const auto &c : cases)
    {
        uint32_t low_word;
        uint32_t high_word;
        std::memcpy(&low_word, c.wire, 4);
        std::memcpy(&high_word, c.wire + 4, 4);
        EXPECT_EQ(ea_swap_double(low_word, high_word), c.value);
    }
}
} // namespace
