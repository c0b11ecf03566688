// parmset's log: the line layout, the day's file shared by the day's runs, and a roll that
// touches parmset's own earlier files only, leaves one a live run holds and never
// replaces a repository file.
#include "tools/parmset/parmset_logger.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>

#include "platform/core/pf_file.h"
#include "platform/core/pf_log_file.h"
#include "support/test_support.h"

using qel_test::temp_dir;

namespace
{

// 00:00:07 on Tuesday 10 November 2009, local time.
time_t november_tenth()
{
    setenv("TZ", "Asia/Kolkata", 1);
    tzset();
    struct tm local = {};
    local.tm_year = 109;
    local.tm_mon = 10;
    local.tm_mday = 10;
    local.tm_sec = 7;
    local.tm_isdst = -1;
    return mktime(&local);
}

std::vector<std::string> lines_of(const std::string &text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

TEST(ParmsetLogger, TimeTextHasNamesAndNoPadding)
{
    struct tm local = {};
    local.tm_year = 109;
    local.tm_mon = 10;
    local.tm_mday = 10;
    local.tm_wday = 2;
    local.tm_sec = 7;
    EXPECT_EQ(parmset_log_time_text(local, 5), "Tuesday, November 10, 2009, 0:0:7.5");
    local.tm_mon = 0;
    local.tm_mday = 3;
    local.tm_wday = 0;
    local.tm_hour = 23;
    local.tm_min = 59;
    EXPECT_EQ(parmset_log_time_text(local, 999), "Sunday, January 3, 2009, 23:59:7.999");
}

TEST(ParmsetLogger, LinesCarryLevelMessageSourceFunctionAndLine)
{
    temp_dir dir;
    std::string error;
    parmset_logger *logger = parmset_logger_create(dir.path(), november_tenth(), &error);
    ASSERT_NE(logger, nullptr) << error;
    EXPECT_EQ(dir.list(), std::vector<std::string>{}) << "the file is made at the first line";
    parmset_logger_log(logger, PARMSET_ERROR, "main", "/src/tools/parmset/parmset.cpp", 42, "Value %d", 7);
    parmset_logger_log(logger, PARMSET_CONTINUATION, "main", "parmset.cpp", 43, "name [A\nB=1]");
    parmset_logger_log(logger, PARMSET_ACTIVITY, "configure_param", "write_config_file.cpp", 9, "done");
    parmset_logger_destroy(logger);

    ASSERT_EQ(dir.list(), std::vector<std::string>{"parmset.20091110.000007.current.txt"});
    std::vector<std::string> lines = lines_of(dir.read("parmset.20091110.000007.current.txt"));
    ASSERT_EQ(lines.size(), 3u) << "a line break in a message does not make a line";
    EXPECT_EQ(lines[0].substr(0, lines[0].rfind('|')), "ERROR|Value 7|parmset.cpp|main()|42");
    EXPECT_EQ(lines[1].substr(0, lines[1].rfind('|')), "     |name [A B=1]|parmset.cpp|main()|43");
    EXPECT_EQ(lines[2].substr(0, lines[2].rfind('|')),
              "ACTIVITY|done|write_config_file.cpp|configure_param()|9");
}

TEST(ParmsetLogger, RollRenamesOnlyParmsetsEarlierCurrentFiles)
{
    temp_dir dir;
    const std::vector<std::string> others = {
        "kova.20091109.120000.current.txt", "qelstat.20091109.current.txt", "100.current.txt",
        "parmset.extra.20091109.1.current.txt", "parmset.20091109.current.txt"};
    for (const std::string &name : others)
        dir.write(name, "other\n");
    dir.write("parmset.20091109.235959.current.txt", "yesterday\n");
    dir.write("parmset.20091110.000001.current.txt", "today\n");
    dir.write("parmset.20091110.000005.current.txt", "today too\n");

    std::string error;
    parmset_logger *logger = parmset_logger_create(dir.path(), november_tenth(), &error);
    ASSERT_NE(logger, nullptr) << error;
    parmset_logger_log(logger, PARMSET_EVENT, "main", "parmset.cpp", 1, "appended");
    parmset_logger_destroy(logger);

    std::vector<std::string> expected = others;
    expected.push_back("parmset.20091109.235959.repository.txt");
    expected.push_back("parmset.20091110.000001.current.txt");
    expected.push_back("parmset.20091110.000005.repository.txt");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(dir.list(), expected);
    for (const std::string &name : others)
        EXPECT_EQ(dir.read(name), "other\n") << name;
    EXPECT_EQ(dir.read("parmset.20091109.235959.repository.txt"), "yesterday\n");
    std::vector<std::string> lines = lines_of(dir.read("parmset.20091110.000001.current.txt"));
    ASSERT_EQ(lines.size(), 2u) << "the day's file is appended to";
    EXPECT_EQ(lines[0], "today");
    EXPECT_EQ(lines[1].substr(0, 15), "EVENT|appended|");
}

TEST(ParmsetLogger, RollLeavesAFileALiveRunHoldsAndReplacesNoRepositoryFile)
{
    temp_dir dir;
    // A run that began before midnight still writes yesterday's file.
    dir.write("parmset.20091109.235959.current.txt", "a run of yesterday\n");
    int live = pf_log_file_open(dir.file("parmset.20091109.235959.current.txt").c_str(), PF_LOG_APPEND);
    ASSERT_GE(live, 0);
    dir.write("parmset.20091108.120000.current.txt", "crashed run\n");
    dir.write("parmset.20091108.120000.repository.txt", "kept\n");

    std::string error;
    parmset_logger *logger = parmset_logger_create(dir.path(), november_tenth(), &error);
    ASSERT_NE(logger, nullptr) << error;
    parmset_logger_log(logger, PARMSET_EVENT, "main", "parmset.cpp", 1, "today");
    parmset_logger_destroy(logger);
    const std::string line = "still yesterday's run\n";
    ASSERT_TRUE(pf_log_file_append(live, line.data(), line.size()));
    pf_file_close(live);

    EXPECT_EQ(dir.list(), (std::vector<std::string>{"parmset.20091108.120000.repository.1.txt",
                                                    "parmset.20091108.120000.repository.txt",
                                                    "parmset.20091109.235959.current.txt",
                                                    "parmset.20091110.000007.current.txt"}));
    EXPECT_EQ(dir.read("parmset.20091108.120000.repository.txt"), "kept\n");
    EXPECT_EQ(dir.read("parmset.20091108.120000.repository.1.txt"), "crashed run\n");
    EXPECT_EQ(dir.read("parmset.20091109.235959.current.txt"), "a run of yesterday\nstill yesterday's run\n");
}

TEST(ParmsetLogger, FolderMustBeAWritableFolder)
{
    temp_dir dir;
    dir.write("file", "");
    std::string error;
    EXPECT_EQ(parmset_logger_create(dir.file("missing"), november_tenth(), &error), nullptr);
    EXPECT_NE(error.find("missing"), std::string::npos) << error;
    EXPECT_EQ(parmset_logger_create(dir.file("file"), november_tenth(), &error), nullptr);
    EXPECT_NE(error.find("not a folder"), std::string::npos) << error;
}

TEST(ParmsetLogger, FolderComesFromTheRegistryElseTheCurrentFolder)
{
    temp_dir dir;
    setenv("QEL_REGISTRY_FILE", dir.file("registry").c_str(), 1);
    EXPECT_EQ(parmset_log_folder(), ".") << "no registry file";
    dir.write("registry", "[SOFTWARE\\QEL_IP]\n\"PATH\"=\"/opt\"\n");
    EXPECT_EQ(parmset_log_folder(), ".") << "no value";
    dir.write("registry", "[SOFTWARE\\QEL_IP]\n\"PARMSET_LOG_FILES_PATH\"=\"/var/log/qel ip\"\n");
    EXPECT_EQ(parmset_log_folder(), "/var/log/qel ip");
    dir.write("registry", "[SOFTWARE\\QEL_IP]\n\"PARMSET_LOG_FILES_PATH\"=\"\"\n");
    EXPECT_EQ(parmset_log_folder(), ".") << "an empty value";
    dir.write("registry", "not a registry\n");
    EXPECT_EQ(parmset_log_folder(), ".") << "a malformed registry";
    unsetenv("QEL_REGISTRY_FILE");
}

} // namespace
