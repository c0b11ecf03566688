// The logs' file layer: a created file is empty and its owner's only, whole writes go on
// after partial ones and report a file that refuses more, and the pattern search finds
// exactly the matching names, escapes included.
#include "platform/core/pf_file.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#include "support/test_support.h"

TEST(PfFile, CreateGivesANewFileToItsOwnerOnlyAndEmptiesAnOldOne)
{
    qel_test::temp_dir dir;
    const std::string path = dir.file("main_text.log");
    int descriptor = pf_file_create(path.c_str());
    ASSERT_GE(descriptor, 0);
    const std::string line(70000, 'x'); // more than one pipe or page at a time
    EXPECT_TRUE(pf_file_write_all(descriptor, line.data(), line.size()));
    EXPECT_TRUE(pf_file_write_all(descriptor, "\n", 1));
    pf_file_close(descriptor);
    EXPECT_EQ(qel_test::read_file(path), line + "\n");
    struct stat status;
    ASSERT_EQ(stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);

    dir.write("main_text.log", "yesterday's lines\n");
    descriptor = pf_file_create(path.c_str());
    ASSERT_GE(descriptor, 0);
    EXPECT_TRUE(pf_file_write_all(descriptor, "today\n", 6));
    pf_file_close(descriptor);
    EXPECT_EQ(qel_test::read_file(path), "today\n");

    EXPECT_EQ(pf_file_create(dir.file("no/such/folder/x.log").c_str()), -1);
    EXPECT_EQ(errno, ENOENT);
}

TEST(PfFile, WriteAllReportsAFileThatRefusesMore)
{
    int full = open("/dev/full", O_WRONLY | O_CLOEXEC);
    ASSERT_GE(full, 0);
    EXPECT_FALSE(pf_file_write_all(full, "x", 1));
    EXPECT_EQ(errno, ENOSPC);
    pf_file_close(full);
    EXPECT_FALSE(pf_file_write_all(-1, "x", 1));
    EXPECT_TRUE(pf_file_write_all(-1, "", 0)) << "nothing to write is no failure";
}

TEST(PfFile, ExistsAndRename)
{
    qel_test::temp_dir dir;
    dir.write("a.current.log", "a");
    EXPECT_TRUE(pf_file_exists(dir.file("a.current.log").c_str()));
    EXPECT_TRUE(pf_file_exists(dir.path().c_str()));
    EXPECT_FALSE(pf_file_exists(dir.file("b.log").c_str()));
    ASSERT_EQ(pf_file_rename(dir.file("a.current.log").c_str(), dir.file("a.repository.log").c_str()), 0);
    EXPECT_FALSE(pf_file_exists(dir.file("a.current.log").c_str()));
    EXPECT_EQ(dir.read("a.repository.log"), "a");
    EXPECT_EQ(pf_file_rename(dir.file("gone").c_str(), dir.file("x").c_str()), -1);
    EXPECT_EQ(errno, ENOENT);
}

TEST(PfFile, FindGivesExactlyTheMatchingPaths)
{
    qel_test::temp_dir dir;
    for (const char *name :
         {"main_text.1.current.log", "main_text.2.current.log", "main_binary.1.current.log",
          "main[1]_text.current.log", "mainly_text.repository.log"})
        dir.write(name, "");
    struct
    {
        const char *pattern;
        std::vector<std::string> names;
    } cases[] = {
        {"main_text.*.current.*", {"main_text.1.current.log", "main_text.2.current.log"}},
        {"main*.current.*",
         {"main[1]_text.current.log", "main_binary.1.current.log", "main_text.1.current.log",
          "main_text.2.current.log"}},
        {"main\\[1\\]_*", {"main[1]_text.current.log"}},
        {"nothing*", {}},
    };
    for (const auto &c : cases)
    {
        std::vector<std::string> paths{"left over"};
        ASSERT_EQ(pf_file_find(dir.file(c.pattern).c_str(), &paths), 0) << c.pattern;
        std::sort(paths.begin(), paths.end());
        std::vector<std::string> expected;
        for (const std::string &name : c.names)
            expected.push_back(dir.file(name));
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(paths, expected) << c.pattern;
    }
    std::vector<std::string> paths;
    EXPECT_EQ(pf_file_find("/no/such/folder/x*", &paths), 0);
    EXPECT_TRUE(paths.empty());
}
