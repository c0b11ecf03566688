// The console logger: the day's file by name and stamps, reuse the same day, the sweep
// of old current files (leaving those a live program holds, replacing none), the
// roll-over at a change of date (on a moved clock), the line format with detail
// indentation, and many threads writing whole lines.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <cstdlib>
#include <ctime>
#include <regex>
#include <sstream>
#include <thread>
#include <unistd.h>

#include "console/kova_logger.h"
#include "platform/core/pf_file.h"
#include "platform/core/pf_log_file.h"
#include "support/test_support.h"

namespace
{
std::atomic<int64_t> g_seconds{0};
std::atomic<uint16_t> g_milliseconds{0};

void test_clock(int64_t *seconds, uint16_t *milliseconds)
{
    *seconds = g_seconds.load();
    *milliseconds = g_milliseconds.load();
}

// Local (Asia/Kolkata) time to seconds since 1970.
int64_t local_time(int year, int month, int day, int hour, int minute, int second)
{
    struct tm t = {};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_isdst = -1;
    return static_cast<int64_t>(mktime(&t));
}

std::vector<std::string> lines_of(const std::string &text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

struct logger_fixture : ::testing::Test
{
    qel_test::temp_dir dir;
    std::string logs;

    void SetUp() override
    {
        setenv("TZ", "Asia/Kolkata", 1);
        tzset();
        logs = dir.file("logs");
        ASSERT_EQ(system(("mkdir -p '" + logs + "'").c_str()), 0);
        dir.write("registry", "[SOFTWARE\\QEL_IP]\n\"KOVA_LOG_FILES_PATH\"=\"" + logs + "\"\n");
        setenv("QEL_REGISTRY_FILE", dir.file("registry").c_str(), 1);
        CLogger::SetClockForTests(test_clock);
        set_clock(local_time(2012, 3, 20, 9, 15, 2), 7);
    }

    void TearDown() override
    {
        CLogger::SetClockForTests(nullptr);
        unsetenv("QEL_REGISTRY_FILE");
    }

    void set_clock(int64_t seconds, uint16_t milliseconds = 0)
    {
        g_seconds = seconds;
        g_milliseconds = milliseconds;
    }

    std::vector<std::string> files() const { return dir.list("logs"); }
    std::string read(const std::string &name) const { return dir.read("logs/" + name); }
};
} // namespace

TEST_F(logger_fixture, FirstStartOfTheDayCreatesTheDaysFileAndTheSameDayAppendsToIt)
{
    {
        const mode_t old_mask = umask(0);
        CLogger logger;
        umask(old_mask);
        EXPECT_STREQ(logger.Folder(), logs.c_str());
    }
    ASSERT_EQ(files(), std::vector<std::string>{"kova.20120320.091502.current.txt"});
    EXPECT_EQ(read("kova.20120320.091502.current.txt"), "\nLogger object initialized.\n");
    struct stat status;
    ASSERT_EQ(stat((logs + "/kova.20120320.091502.current.txt").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u) << "its owner's alone, whatever the umask";

    set_clock(local_time(2012, 3, 20, 17, 40, 0));
    {
        CLogger logger;
        logger.LogEvent("again", "CTest::Again", "kova_logger_test.cpp", 1);
    }
    ASSERT_EQ(files(), std::vector<std::string>{"kova.20120320.091502.current.txt"});
    std::string text = read("kova.20120320.091502.current.txt");
    EXPECT_EQ(text.find("\nLogger object initialized.\n\nLogger object initialized.\nEVENT|again|"), 0u);
}

TEST_F(logger_fixture, AStartOnANewDaySweepsEveryOtherCurrentFile)
{
    dir.write("logs/kova.20120319.080000.current.txt", "yesterday\n");
    dir.write("logs/qelmon.20120318.235959.current.txt", "another program's\n");
    dir.write("logs/kova.20120320.070000.current.txt", "earlier today\n");
    dir.write("logs/odd.current.txt", "only two parts before current\n");
    dir.write("logs/kova.20120317.101010.repository.txt", "finished long ago\n");
    {
        CLogger logger;
    }
    EXPECT_EQ(files(), (std::vector<std::string>{
                           "kova.20120317.101010.repository.txt", "kova.20120319.080000.repository.txt",
                           "kova.20120320.070000.current.txt", "odd.current.txt.repository.txt",
                           "qelmon.20120318.235959.repository.txt"}));
    EXPECT_EQ(read("kova.20120319.080000.repository.txt"), "yesterday\n");
    EXPECT_EQ(read("kova.20120320.070000.current.txt"), "earlier today\n\nLogger object initialized.\n")
        << "today's file is kept and appended to";
}

TEST_F(logger_fixture, TheSweepLeavesAFileALiveProgramHoldsAndReplacesNoRepositoryFile)
{
    // A gateway logging into the console's folder has its file open.
    dir.write("logs/main_text.20120320.080000.current.txt", "the gateway's first line\n");
    int gateway = pf_log_file_open((logs + "/main_text.20120320.080000.current.txt").c_str(), PF_LOG_APPEND);
    ASSERT_GE(gateway, 0);
    dir.write("logs/kova.20120319.080000.current.txt", "yesterday\n");
    dir.write("logs/kova.20120319.080000.repository.txt", "an earlier console's\n");
    {
        CLogger logger;
    }
    const std::string line = "the gateway's second line\n";
    ASSERT_TRUE(pf_log_file_append(gateway, line.data(), line.size()));
    pf_file_close(gateway);
    EXPECT_EQ(files(), (std::vector<std::string>{
                           "kova.20120319.080000.repository.1.txt", "kova.20120319.080000.repository.txt",
                           "kova.20120320.091502.current.txt", "main_text.20120320.080000.current.txt"}));
    EXPECT_EQ(read("kova.20120319.080000.repository.txt"), "an earlier console's\n");
    EXPECT_EQ(read("kova.20120319.080000.repository.1.txt"), "yesterday\n");
    EXPECT_EQ(read("main_text.20120320.080000.current.txt"), "the gateway's first line\n" + line);
}

TEST_F(logger_fixture, LinesCarryLevelMessageSourceFunctionLineAndTime)
{
    CLogger logger;
    set_clock(local_time(2012, 3, 20, 9, 5, 3), 45);
    logger.LogDetail("before any level line", "CTest::Detail", "/src/console/KOVAHelper.cpp", 10);
    logger.LogEvent("connected", "CKOVAHelper::OnSocketMessage", "/src/console/KOVAHelper.cpp", 11);
    logger.LogDetail("detail of the event", "CTest::Detail", "KOVAHelper", 12);
    logger.LogActivity("a|b", "CTest::Activity", "Tcp", 13);
    logger.LogDetail("d", "F", "S", 14);
    logger.LogBusinessError("e", "F", "S", 15);
    logger.LogDetail("d", "F", "S", 16);
    logger.LogSystemError("e", "F", "S", 17);
    logger.LogDetail("d", "F", "S", 18);
    const std::string time = "Tuesday, March 20, 2012, 9:5:3.45";
    std::vector<std::string> expected = {
        "",
        "Logger object initialized.",
        "|before any level line|KOVAHelper.cpp|CTest::Detail|10|" + time,
        "EVENT|connected|KOVAHelper.cpp|CKOVAHelper::OnSocketMessage|11|" + time,
        "     |detail of the event|KOVAHelper|CTest::Detail|12|" + time,
        "ACTIVITY|a|b|Tcp|CTest::Activity|13|" + time,
        "        |d|S|F|14|" + time,
        "BUSINESS_ERROR|e|S|F|15|" + time,
        "              |d|S|F|16|" + time,
        "SYSTEM_ERROR|e|S|F|17|" + time,
        "            |d|S|F|18|" + time,
    };
    EXPECT_EQ(lines_of(read("kova.20120320.091502.current.txt")), expected);
}

TEST_F(logger_fixture, TheDaysFileRollsOverWhenTheDateChanges)
{
    CLogger logger;
    logger.LogEvent("first day", "F", "S", 1);
    set_clock(local_time(2012, 3, 20, 23, 59, 59));
    logger.RollOverIfNewDay();
    EXPECT_EQ(files(), std::vector<std::string>{"kova.20120320.091502.current.txt"}) << "same day: nothing";

    set_clock(local_time(2012, 3, 21, 0, 0, 4));
    logger.RollOverIfNewDay();
    EXPECT_EQ(files(), std::vector<std::string>{"kova.20120320.091502.repository.txt"});
    set_clock(local_time(2012, 3, 21, 6, 30, 0));
    logger.LogEvent("second day", "F", "S", 2);
    EXPECT_EQ(files(), (std::vector<std::string>{"kova.20120320.091502.repository.txt",
                                                 "kova.20120321.000004.current.txt"}))
        << "named at the roll-over, not at the first line after it";
    EXPECT_NE(read("kova.20120320.091502.repository.txt").find("EVENT|first day|"), std::string::npos);
    EXPECT_EQ(read("kova.20120321.000004.current.txt").find("EVENT|second day|"), 0u);
}

TEST_F(logger_fixture, WithoutTheRegistryValueTheFilesGoToTheCurrentFolder)
{
    dir.write("registry", "[SOFTWARE\\QEL_IP]\n\"SERVICESTATUS\"=dword:00000000\n");
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(logs.c_str()), 0);
    {
        CLogger logger;
        EXPECT_STREQ(logger.Folder(), ".");
        logger.LogActivity("here", "F", "S", 1);
    }
    EXPECT_EQ(chdir(cwd), 0);
    EXPECT_EQ(files(), std::vector<std::string>{"kova.20120320.091502.current.txt"});
}

TEST_F(logger_fixture, AFolderThatCannotBeWrittenLosesTheLinesQuietly)
{
    dir.write("registry",
              "[SOFTWARE\\QEL_IP]\n\"KOVA_LOG_FILES_PATH\"=\"" + dir.file("missing/folder") + "\"\n");
    CLogger logger;
    logger.LogSystemError("nowhere to go", "F", "S", 1);
    logger.RollOverIfNewDay();
    EXPECT_STREQ(logger.Folder(), dir.file("missing/folder").c_str());
    EXPECT_TRUE(files().empty());
}

TEST_F(logger_fixture, ThreeThreadsWritingTenThousandLinesEachNeverInterleave)
{
    CLogger::SetClockForTests(nullptr);
    std::string path;
    {
        CLogger logger;
        path = logger.CurrentFilePath();
        std::vector<std::thread> writers;
        for (int t = 0; t < 3; ++t)
        {
            writers.emplace_back(
                [&logger, t]
                {
                    char message[64];
                    for (int n = 0; n < 10000; ++n)
                    {
                        snprintf(message, sizeof message, "writer %d line %d", t, n);
                        if (n % 2 == 0)
                            logger.LogEvent(message, "CTest::Writer", "kova_logger_test.cpp", t);
                        else
                            logger.LogDetail(message, "CTest::Writer", "kova_logger_test.cpp", t);
                    }
                });
        }
        for (std::thread &w : writers)
            w.join();
    }
    std::vector<std::string> lines = lines_of(qel_test::read_file(path));
    ASSERT_EQ(lines.size(), 2u + 30000u);
    const std::regex line_format(
        "(EVENT|     )\\|writer ([0-2]) line ([0-9]+)\\|kova_logger_test\\.cpp\\|CTest::Writer\\|([0-2])\\|"
        "[A-Za-z]+day, [A-Za-z]+ [0-9]+, [0-9]{4}, [0-9]+:[0-9]+:[0-9]+\\.[0-9]+");
    int next[3] = {0, 0, 0};
    for (size_t i = 2; i < lines.size(); ++i)
    {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(lines[i], match, line_format)) << lines[i];
        int writer = std::stoi(match[2]);
        EXPECT_EQ(std::stoi(match[4]), writer);
        EXPECT_EQ(std::stoi(match[3]), next[writer]++) << "each writer's lines in its order";
    }
    EXPECT_EQ(next[0] + next[1] + next[2], 30000);
}
