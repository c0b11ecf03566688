// String-keyed hash table: bucket counts, sorted chains, replace and delete, the hash of
// a key, the error printer and ownership of values.
#include "gateway/runtime/hash_table.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

namespace
{
class HashTableTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        unsetenv("VPERROR_PRINT");
        vperror_reset_for_tests();
    }
    void TearDown() override
    {
        hashDestroy(table);
        unsetenv("VPERROR_PRINT");
        vperror_reset_for_tests();
    }
    std::string chain(int bucket) const
    {
        std::string keys;
        for (const hash_item *item = table->buckets[bucket]; item != nullptr; item = item->next)
        {
            keys += item->key;
            keys += ' ';
        }
        return keys;
    }
    int bucket_of(const char *key) const
    {
        for (int bucket = 0; bucket < table->number_of_buckets; ++bucket)
        {
            for (const hash_item *item = table->buckets[bucket]; item != nullptr; item = item->next)
            {
                if (std::strcmp(item->key, key) == 0)
                {
                    return bucket;
                }
            }
        }
        return -1;
    }
    std::string print_to_string(int (*print)(FILE *, HashTable))
    {
        char *text = nullptr;
        size_t size = 0;
        FILE *stream = open_memstream(&text, &size);
        EXPECT_EQ(print(stream, table), 0);
        std::fclose(stream);
        std::string result(text, size);
        std::free(text);
        return result;
    }
    HashTable table = nullptr;
};

TEST_F(HashTableTest, CreateRoundsUpToAnOddPrime)
{
    const struct
    {
        int requested;
        int buckets;
    } cases[] = {{10, 11}, {0, 1}, {8, 11}, {1, 1}, {2, 3}, {3, 3}, {4, 5}, {24, 29}, {1000, 1009}, {-7, 1}};
    for (const auto &c : cases)
    {
        HashTable created = nullptr;
        ASSERT_EQ(hashCreate(c.requested, 0, &created), 0) << c.requested;
        EXPECT_EQ(created->number_of_buckets, c.buckets) << c.requested;
        EXPECT_EQ(created->own_values, 0);
        for (int i = 0; i < created->number_of_buckets; ++i)
        {
            EXPECT_EQ(created->buckets[i], nullptr);
        }
        hashDestroy(created);
    }
}

TEST_F(HashTableTest, ChainIsSortedByKey)
{
    ASSERT_EQ(hashCreate(1, 0, &table), 0);
    int values[3];
    EXPECT_EQ(hashAdd(table, "b", &values[0]), 0);
    EXPECT_EQ(hashAdd(table, "a", &values[1]), 0);
    EXPECT_EQ(hashAdd(table, "c", &values[2]), 0);
    EXPECT_EQ(chain(0), "a b c ");
    EXPECT_EQ(table->non_empty_buckets, 1);
    EXPECT_EQ(table->longest_chain, 3);
}

TEST_F(HashTableTest, AddingAnExistingKeyReplacesItsValue)
{
    ASSERT_EQ(hashCreate(1, 0, &table), 0);
    int first = 1;
    int second = 2;
    EXPECT_EQ(hashAdd(table, "user", &first), 0);
    EXPECT_EQ(hashAdd(table, "user", &second), 0);
    EXPECT_EQ(chain(0), "user ");
    void *found = nullptr;
    EXPECT_EQ(hashSearch(table, "user", &found), -1);
    EXPECT_EQ(found, &second);
}

TEST_F(HashTableTest, SearchAndDelete)
{
    ASSERT_EQ(hashCreate(10, 0, &table), 0);
    int value = 7;
    ASSERT_EQ(hashAdd(table, "10001", &value), 0);

    void *found = &value;
    EXPECT_EQ(hashSearch(table, "10002", &found), 0);
    EXPECT_EQ(found, nullptr);
    EXPECT_EQ(hashSearch(table, "10001", &found), -1);
    EXPECT_EQ(found, &value);

    EXPECT_EQ(hashDelete(table, "10002"), -2);
    EXPECT_EQ(hashDelete(table, "10001"), 0);
    EXPECT_EQ(hashSearch(table, "10001", &found), 0);
    EXPECT_EQ(hashDelete(table, "10001"), -2);
}

TEST_F(HashTableTest, KeyHashSumsBigEndianGroups)
{
    ASSERT_EQ(hashCreate(1000, 0, &table), 0);
    ASSERT_EQ(table->number_of_buckets, 1009);
    const struct
    {
        const char *key;
        int bucket;
    } cases[] = {
        {"abcd", 548},                             // 0x61626364
        {"abcde", 649},                            // 0x61626364 + 0x65
        {"ab", 714},                               // 0x6162
        {"user1", 651},                            // 0x75736572 + 0x31
        {"\xff\xff\xff\xff\xff\xff\xff\xff", 381}, // 2 x 0xffffffff wraps to 0xfffffffe
        {"A", 65},                                 // 0x41
    };
    for (const auto &c : cases)
    {
        ASSERT_EQ(hashAdd(table, c.key, nullptr), 0);
        EXPECT_EQ(bucket_of(c.key), c.bucket) << c.key;
    }
}

TEST_F(HashTableTest, ErrorsAreSilentWithoutVperrorPrint)
{
    int value = 0;
    void *found = &value;
    testing::internal::CaptureStderr();
    EXPECT_EQ(hashAdd(nullptr, "a", &value), EINVAL);
    EXPECT_EQ(hashDelete(nullptr, "a"), EINVAL);
    EXPECT_EQ(hashSearch(nullptr, "a", &found), 0);
    EXPECT_EQ(found, nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST_F(HashTableTest, VperrorPrintsWhenAsked)
{
    const struct
    {
        const char *setting;
        bool prints;
    } cases[] = {{"1", true}, {"0", false}, {"abc", false}, {"12", true}};
    for (const auto &c : cases)
    {
        setenv("VPERROR_PRINT", c.setting, 1);
        vperror_reset_for_tests();
        testing::internal::CaptureStderr();
        EXPECT_EQ(hashAdd(nullptr, "a", nullptr), EINVAL);
        const std::string printed = testing::internal::GetCapturedStderr();
        if (c.prints)
        {
            EXPECT_EQ(printed,
                      "(hashAdd) Hash table not created yet.\n" + std::string(std::strerror(EINVAL)) + "\n");
        }
        else
        {
            EXPECT_EQ(printed, "") << c.setting;
        }
    }
}

TEST_F(HashTableTest, VperrorReadsTheVariableOnceAndKeepsErrno)
{
    setenv("VPERROR_PRINT", "1", 1);
    vperror_reset_for_tests();
    testing::internal::CaptureStderr();
    errno = -5;
    vperror("(test) %d.\n", 42);
    EXPECT_EQ(errno, -5);
    errno = ENOENT;
    vperror("x ");
    EXPECT_EQ(errno, ENOENT);
    unsetenv("VPERROR_PRINT");
    vperror("still ");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "(test) 42.\ninvalid ERRNO code\nx " +
                                                          std::string(std::strerror(ENOENT)) + "\nstill " +
                                                          std::string(std::strerror(ENOENT)) + "\n");
}

TEST_F(HashTableTest, OwnValuesAreFreedOnReplaceDeleteAndDestroy)
{
    // Run under AddressSanitizer: a value not freed shows as a leak, one freed twice as an error.
    ASSERT_EQ(hashCreate(4, 0, &table), 0);
    EXPECT_EQ(hashSetOwnValues(table), 0);
    char *same = strduplicate("same");
    ASSERT_EQ(hashAdd(table, "k1", strduplicate("old")), 0);
    ASSERT_EQ(hashAdd(table, "k1", strduplicate("new")), 0);
    ASSERT_EQ(hashAdd(table, "k2", strduplicate("gone")), 0);
    ASSERT_EQ(hashDelete(table, "k2"), 0);
    ASSERT_EQ(hashAdd(table, "k3", same), 0);
    ASSERT_EQ(hashAdd(table, "k3", same), 0); // the same pointer again is kept, not freed
    void *found = nullptr;
    ASSERT_EQ(hashSearch(table, "k3", &found), -1);
    EXPECT_STREQ(static_cast<char *>(found), "same");
    ASSERT_EQ(hashSearch(table, "k1", &found), -1);
    EXPECT_STREQ(static_cast<char *>(found), "new");

    EXPECT_EQ(hashClearOwnValues(table), 0);
    char kept[] = "on the stack";
    ASSERT_EQ(hashAdd(table, "k4", kept), 0);
    ASSERT_EQ(hashDelete(table, "k4"), 0);
    EXPECT_EQ(hashSetOwnValues(table), 0);
    EXPECT_EQ(hashDestroy(table), 0);
    table = nullptr;
    EXPECT_EQ(hashDestroy(nullptr), 0);
}

TEST_F(HashTableTest, DumpAndStatistics)
{
    ASSERT_EQ(hashCreate(2, 0, &table), 0); // 3 buckets
    for (const char *key : {"a", "b", "c", "d"})
    {
        ASSERT_EQ(hashAdd(table, key, nullptr), 0);
    }
    // 'a' 97 -> 1, 'b' 98 -> 2, 'c' 99 -> 0, 'd' 100 -> 1
    EXPECT_EQ(print_to_string(hashStatistics), "There are 0 empty buckets, 3 non-empty buckets,\n"
                                               "and 2 items in the longest chain.\n\n"
                                               "Buckets of length 1: 2\n"
                                               "Buckets of length 2: 1\n"
                                               "\nMean bucket length = 1.33333\n"
                                               "\nStandard deviation = 0.57735\n");
    // After deletions the figures follow the chains, not the counters kept by hashAdd.
    ASSERT_EQ(hashDelete(table, "a"), 0);
    ASSERT_EQ(hashDelete(table, "b"), 0);
    ASSERT_EQ(hashDelete(table, "d"), 0);
    EXPECT_EQ(print_to_string(hashStatistics), "There are 2 empty buckets, 1 non-empty buckets,\n"
                                               "and 1 items in the longest chain.\n\n"
                                               "Buckets of length 1: 1\n"
                                               "\nMean bucket length = 1\n"
                                               "\nStandard deviation = 0\n");

    char *text = nullptr;
    size_t size = 0;
    FILE *stream = open_memstream(&text, &size);
    EXPECT_EQ(hashDump(stream, "Users:\n", table), 0);
    EXPECT_EQ(hashDump(stream, "", nullptr), 0);
    std::fclose(stream);
    EXPECT_EQ(std::string(text, size),
              "Users:\nBucket 0:\n    Value: (nil)    Key: \"c\"\n-- Null Hash Table --\n");
    std::free(text);

    HashTable empty = nullptr;
    std::swap(empty, table);
    EXPECT_EQ(print_to_string(hashStatistics), "-- Null Hash Table --\n");
    std::swap(empty, table);
}

TEST_F(HashTableTest, DebugTracesGoToStandardOutput)
{
    ASSERT_EQ(hashCreate(1, 1, &table), 0);
    testing::internal::CaptureStdout();
    hashDelete(table, "zz");
    hashSearch(table, "zz", nullptr);
    const std::string printed = testing::internal::GetCapturedStdout();
    char expected[256];
    std::snprintf(
        expected, sizeof expected,
        "(hashDelete) Key \"zz\" not found in table %p.\n(hashSearch) Key \"zz\" not found in table %p.\n",
        static_cast<void *>(table), static_cast<void *>(table));
    EXPECT_EQ(printed, expected);
}
} // namespace
