// The per-thread logger: file names, levels and keys, the text line, the binary record
// layout, the "current" to "repository" renames (another live logger's files left alone),
// the files' modes, a spell of failing writes, and the tick-derived clock under a
// concurrent change of day.
#include "gateway/runtime/logger.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "gateway/runtime/message.h"
#include "platform/core/pf_tick.h"
#include "support/full_disk.h"
#include "support/held_tick.h"
#include "support/hex.h"

namespace
{
using qel_test::from_hex;

namespace fs = std::filesystem;

std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

std::vector<std::string> split(const std::string &text, char separator)
{
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, separator))
        parts.push_back(part);
    return parts;
}

std::string stamp_of(int64_t day)
{
    time_t when = static_cast<time_t>(day);
    struct tm broken;
    localtime_r(&when, &broken);
    char text[32];
    strftime(text, sizeof text, "%Y%m%d.%H%M%S", &broken);
    return text;
}

struct container_deleter
{
    void operator()(logger_object_container *container) const { logger_object_container_destroy(container); }
};
using container_ptr = std::unique_ptr<logger_object_container, container_deleter>;

struct message_deleter
{
    void operator()(message *msg) const { message_destroy(msg); }
};
using message_ptr = std::unique_ptr<message, message_deleter>;

class Logger : public ::testing::Test
{
  protected:
    qel_test::held_tick held;
    void SetUp() override
    {
        setenv("TZ", "Asia/Kolkata", 1);
        tzset();
        char pattern[] = "/tmp/qel_logger_test_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder_ = pattern;
        // Pattern characters in the folder name must not stop the "current" search.
        logs_ = folder_ + "/logs[1]";
        fs::create_directory(logs_);
        config_ = folder_ + "/qel.cfg";
    }
    void TearDown() override { fs::remove_all(folder_); }

    container_ptr create(const std::string &keys, std::vector<const char *> names = {"main"})
    {
        std::ofstream out(config_, std::ios::trunc);
        out << "LOG_FILE_PATH=" << logs_ << "\n" << keys;
        out.close();
        return container_ptr(logger_object_container_create(config_.c_str(), names.data(),
                                                            static_cast<uint32_t>(names.size())));
    }

    std::vector<std::string> files() const
    {
        std::vector<std::string> names;
        for (const auto &entry : fs::directory_iterator(logs_))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    void touch(const std::string &name, const std::string &content) const
    {
        std::ofstream(logs_ + "/" + name) << content;
    }

    std::string path(const std::string &name) const { return logs_ + "/" + name; }

    std::string folder_;
    std::string logs_;
    std::string config_;
};

TEST_F(Logger, FilesAreNamedByFolderLoggerKindStampAndCurrent)
{
    container_ptr container = create("");
    ASSERT_NE(container, nullptr);
    logger_object *logger = container->loggers[0];
    const std::string stamp = stamp_of(container->info->day.load());

    EA_LOG(logger, EA_LEVEL_EVENT, "started");
    message_ptr msg(message_create(4, NORMAL_MESSAGE));
    logger_object_binary_log(logger, msg.get(), EA_BINARY_KIND_HOST, EA_REQUEST_LOG, 0, 0, 0);
    logger_object_binary_log(logger, msg.get(), EA_BINARY_KIND_HOST, EA_RESPONSE_LOG, 0, 0, 0);

    const std::vector<std::string> expected = {"main_request." + stamp + ".current.dat",
                                               "main_response." + stamp + ".current.dat",
                                               "main_text." + stamp + ".current.txt"};
    EXPECT_EQ(files(), expected);
    EXPECT_TRUE(std::regex_match(expected[2], std::regex(R"(main_text\.\d{8}\.\d{6}\.current\.txt)")));
    EXPECT_EQ(fs::status(path(expected[2])).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(Logger, CreationFailsWithoutLogFolderOrWithAnOverlongName)
{
    std::ofstream(config_) << "SYSTEM_LOGGING_LEVEL=DEBUG\n";
    const char *names[] = {"main"};
    testing::internal::CaptureStderr();
    EXPECT_EQ(logger_object_container_create(config_.c_str(), names, 1), nullptr);
    EXPECT_NE(testing::internal::GetCapturedStderr().find(
                  "Parameter LOG_FILE_PATH_PARAM not found in config file."),
              std::string::npos);

    const std::string overlong(EA_LOGGER_NAME_SIZE, 'n');
    testing::internal::CaptureStderr();
    EXPECT_EQ(create("", {"main", overlong.c_str()}), nullptr);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("Creation of a logger_object failed"),
              std::string::npos);
}

struct level_case
{
    const char *keys;
    const char *name;
    int16_t level;
};

TEST_F(Logger, LevelComesFromThreadKeyThenSystemKeyThenEvent)
{
    const level_case cases[] = {
        {"", "main", EA_LEVEL_EVENT},
        {"MAIN_LOGGING_LEVEL=DEBUG\n", "main", EA_LEVEL_DEBUG},
        {"SYSTEM_LOGGING_LEVEL=ACTIVITY\n", "main", EA_LEVEL_ACTIVITY},
        {"MAIN_LOGGING_LEVEL=BUSINESS_ERROR\nSYSTEM_LOGGING_LEVEL=DEBUG\n", "main", EA_LEVEL_BUSINESS_ERROR},
        {"MAIN_LOGGING_LEVEL=debug\n", "main", EA_LEVEL_SYSTEM_ERROR},
        {"MAIN_LOGGING_LEVEL=Business Error\n", "main", EA_LEVEL_SYSTEM_ERROR},
        {"OTHER_LOGGING_LEVEL=DEBUG\n", "main", EA_LEVEL_EVENT},
        {"TWS_NETWORK_HANDLER_THREAD_LOGGING_LEVEL=ACTIVITY\r\n", "tws_network_handler_thread",
         EA_LEVEL_ACTIVITY},
    };
    for (const level_case &c : cases)
    {
        SCOPED_TRACE(c.keys);
        container_ptr container = create(c.keys, {c.name});
        ASSERT_NE(container, nullptr);
        EXPECT_EQ(container->loggers[0]->level, c.level);
    }
}

struct binary_case
{
    const char *keys;
    uint16_t enabled;
};

TEST_F(Logger, BinaryLoggingComesFromThreadKeyThenSystemKeyThenOn)
{
    const binary_case cases[] = {
        {"", 1},
        {"MAIN_BINARY_LOGGING_ENABLED=FALSE\n", 0},
        {"MAIN_BINARY_LOGGING_ENABLED=true\n", 0},
        {"SYSTEM_BINARY_LOGGING_ENABLED=FALSE\n", 0},
        {"SYSTEM_BINARY_LOGGING_ENABLED=FALSE\nMAIN_BINARY_LOGGING_ENABLED=TRUE\n", 1},
        {"SYSTEM_BINARY_LOGGING_ENABLED=TRUE\r\n", 1},
    };
    for (const binary_case &c : cases)
    {
        SCOPED_TRACE(c.keys);
        container_ptr container = create(c.keys);
        ASSERT_NE(container, nullptr);
        EXPECT_EQ(container->loggers[0]->binary_logging, c.enabled);
    }

    container_ptr off = create("MAIN_BINARY_LOGGING_ENABLED=FALSE\n");
    message_ptr msg(message_create(4, NORMAL_MESSAGE));
    logger_object_binary_log(off->loggers[0], msg.get(), EA_BINARY_KIND_HOST, EA_REQUEST_LOG, 0, 0, 0);
    EXPECT_TRUE(files().empty());
}

TEST_F(Logger, LineHasEightColumnsAndCommasForBarsAndNewlines)
{
    container_ptr container = create("");
    logger_object *logger = container->loggers[0];
    const uint32_t line = __LINE__ + 1;
    EA_LOG(logger, EA_LEVEL_EVENT, "box %d|logged on\n", 7);
    const std::string stamp = stamp_of(container->info->day.load());
    const std::string text = read_file(path("main_text." + stamp + ".current.txt"));

    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\n');
    const std::vector<std::string> columns = split(text.substr(0, text.size() - 1), '|');
    ASSERT_EQ(columns.size(), 8u);
    EXPECT_EQ(columns[0], "Event");
    EXPECT_EQ(columns[1], "box 7,logged on,");
    EXPECT_EQ(columns[2], "TestBody");
    EXPECT_EQ(columns[3], "logger_test.cpp");
    EXPECT_EQ(columns[4], std::to_string(line));
    if (container->info->high_resolution == 0)
        EXPECT_EQ(columns[7], "0.000");
    else
        EXPECT_TRUE(std::regex_match(columns[7], std::regex(R"(\d+\.\d{3})"))) << columns[7];

    // Both clocks show exchange time (+05:30): the wall clock as local time under
    // Asia/Kolkata, the tick-derived clock as universal time of start seconds + 19800.
    const std::regex time_format(R"((\w{3} \w{3} \d{2} \d{4} \d{2}:\d{2}:\d{2}):(\d{3}))");
    std::smatch wall, tick;
    ASSERT_TRUE(std::regex_match(columns[5], wall, time_format)) << columns[5];
    ASSERT_TRUE(std::regex_match(columns[6], tick, time_format)) << columns[6];
    struct tm wall_tm = {}, tick_tm = {};
    strptime(wall[1].str().c_str(), "%a %b %d %Y %H:%M:%S", &wall_tm);
    strptime(tick[1].str().c_str(), "%a %b %d %Y %H:%M:%S", &tick_tm);
    EXPECT_LE(std::abs(difftime(timegm(&wall_tm), timegm(&tick_tm))), 2.0);
}

TEST_F(Logger, LevelsDropLinesAboveTheConfiguredLevel)
{
    container_ptr container = create("SYSTEM_LOGGING_LEVEL=ACTIVITY\n");
    logger_object *logger = container->loggers[0];
    EA_LOG(logger, EA_LEVEL_DEBUG, "debug line");
    EXPECT_TRUE(files().empty());
    EA_LOG(logger, EA_LEVEL_ACTIVITY, "activity line");
    EA_LOG(logger, EA_LEVEL_DEBUG, "debug line");
    EA_LOG(logger, 9, "no such level");
    EA_LOG(logger, -1, "no such level");
    const std::string text = read_file(path(files().at(0)));
    EXPECT_EQ(text.find("debug line"), std::string::npos);
    EXPECT_EQ(text.find("no such level"), std::string::npos);
    EXPECT_EQ(text.rfind("Activity|activity line|", 0), 0u);
}

TEST_F(Logger, ContinuationTakesThePreviousLevelWithBlankColumn)
{
    container_ptr container = create("MAIN_LOGGING_LEVEL=EVENT\n");
    logger_object *logger = container->loggers[0];
    EA_LOG(logger, EA_LEVEL_CONTINUATION, "nothing before me");
    EXPECT_TRUE(files().empty());

    EA_LOG(logger, EA_LEVEL_BUSINESS_ERROR, "record dropped");
    EA_LOG(logger, EA_LEVEL_CONTINUATION, "queue refused it");
    EA_LOG(logger, EA_LEVEL_DEBUG, "dropped at this level");
    EA_LOG(logger, EA_LEVEL_CONTINUATION, "dropped with it");
    const std::vector<std::string> lines = split(read_file(path(files().at(0))), '\n');
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].rfind("Business Error|record dropped|", 0), 0u);
    EXPECT_EQ(lines[1].rfind(std::string(14, ' ') + "|queue refused it|", 0), 0u);
}

TEST_F(Logger, LineCutAtTheLimitStillEndsWithNewline)
{
    container_ptr container = create("");
    logger_object *logger = container->loggers[0];
    const std::string long_text(3000, 'x');
    EA_LOG(logger, EA_LEVEL_EVENT, "%s", long_text.c_str());
    EA_LOG(logger, EA_LEVEL_EVENT, "next");
    const std::string text = read_file(path(files().at(0)));
    const size_t first_end = text.find('\n');
    EXPECT_EQ(first_end, static_cast<size_t>(EA_LOG_LINE_SIZE - 2));
    EXPECT_EQ(text.compare(first_end + 1, 11, "Event|next|"), 0);
}

TEST_F(Logger, CreationRenamesEarlierRunsCurrentFiles)
{
    touch("main_text.20250101.090000.current.txt", "old text");
    touch("main_text.20250101.090000.repository.txt", "taken");
    touch("main_text.20250101.090000.repository.1.txt", "taken too");
    touch("main_request.20250101.090000.current.dat", "old request");
    touch("main_extra_text.20250101.090000.current.txt", "another logger's file");
    container_ptr container = create("");
    ASSERT_NE(container, nullptr);

    const std::vector<std::string> expected = {
        "main_extra_text.20250101.090000.current.txt", "main_request.20250101.090000.repository.dat",
        "main_text.20250101.090000.repository.1.txt",  "main_text.20250101.090000.repository.2.txt",
        "main_text.20250101.090000.repository.txt",
    };
    EXPECT_EQ(files(), expected);
    EXPECT_EQ(read_file(path("main_text.20250101.090000.repository.2.txt")), "old text");
    EXPECT_EQ(read_file(path("main_request.20250101.090000.repository.dat")), "old request");
}

TEST_F(Logger, ReopenAndDestroyRenameToRepository)
{
    container_ptr container = create("");
    logger_object *logger = container->loggers[0];
    const std::string stamp = stamp_of(container->info->day.load());
    EA_LOG(logger, EA_LEVEL_EVENT, "first file");
    logger_object_reopen(logger);
    EXPECT_EQ(files(), std::vector<std::string>{"main_text." + stamp + ".repository.txt"});

    EA_LOG(logger, EA_LEVEL_EVENT, "second file");
    container.reset();
    const std::vector<std::string> expected = {"main_text." + stamp + ".repository.1.txt",
                                               "main_text." + stamp + ".repository.txt"};
    ASSERT_EQ(files(), expected);
    EXPECT_NE(read_file(path(expected[0])).find("second file"), std::string::npos);
    EXPECT_NE(read_file(path(expected[1])).find("first file"), std::string::npos);
}

TEST_F(Logger, AnotherLiveLoggerOfTheSameNameKeepsItsFilesWhereTheyAre)
{
    // The gateway and qelstat both log as main in one folder: each one's start, day change
    // and end leaves the other's open files under their "current" names.
    container_ptr first = create("");
    ASSERT_NE(first, nullptr);
    first->info->day.store(first->info->day.load() - 3600);
    first->loggers[0]->day = first->info->day.load();
    logger_object *logger = first->loggers[0];
    EA_LOG(logger, EA_LEVEL_EVENT, "first line");
    message_ptr msg(message_create(4, NORMAL_MESSAGE));
    logger_object_binary_log(logger, msg.get(), EA_BINARY_KIND_HOST, EA_REQUEST_LOG, 0, 0, 0);
    const std::string stamp = stamp_of(logger->day);
    const std::string text = path("main_text." + stamp + ".current.txt");
    const std::string request = path("main_request." + stamp + ".current.dat");
    const auto inode_of = [](const std::string &file)
    {
        struct stat info;
        return stat(file.c_str(), &info) == 0 ? info.st_ino : 0;
    };
    const ino_t text_inode = inode_of(text);
    ASSERT_NE(text_inode, 0u);

    container_ptr second = create("");
    ASSERT_NE(second, nullptr);
    EA_LOG(second->loggers[0], EA_LEVEL_EVENT, "the other program");
    logger_object_reopen(second->loggers[0]);
    second.reset();
    EA_LOG(logger, EA_LEVEL_EVENT, "second line");
    logger_object_binary_log(logger, msg.get(), EA_BINARY_KIND_HOST, EA_REQUEST_LOG, 0, 0, 0);
    EXPECT_EQ(inode_of(text), text_inode);
    const std::string content = read_file(text);
    EXPECT_NE(content.find("|first line|"), std::string::npos);
    EXPECT_NE(content.find("|second line|"), std::string::npos);
    EXPECT_EQ(read_file(request).size(), 16u + 2 * 106u);
    EXPECT_EQ(content.find("the other program"), std::string::npos);
}

TEST_F(Logger, BinaryLogsAreTheOwnersAloneWhateverTheUmask)
{
    const mode_t old_mask = umask(022);
    container_ptr container = create("");
    logger_object *logger = container->loggers[0];
    message_ptr msg(message_create(4, NORMAL_MESSAGE));
    logger_object_binary_log(logger, msg.get(), EA_BINARY_KIND_WORKSTATION, EA_REQUEST_LOG, 0, 0, 0);
    logger_object_binary_log(logger, msg.get(), EA_BINARY_KIND_WORKSTATION, EA_RESPONSE_LOG, 0, 0, 0);
    EA_LOG(logger, EA_LEVEL_EVENT, "text");
    umask(old_mask);
    const std::vector<std::string> names = files();
    ASSERT_EQ(names.size(), 3u);
    for (const std::string &name : names)
    {
        EXPECT_EQ(fs::status(path(name)).permissions() & fs::perms::all,
                  fs::perms::owner_read | fs::perms::owner_write)
            << name;
    }
}

struct notice_record
{
    bool failing;
    uint64_t value;
    bool operator==(const notice_record &other) const
    {
        return failing == other.failing && value == other.value;
    }
};

void record_notice(void *context, bool failing, uint64_t value)
{
    static_cast<std::vector<notice_record> *>(context)->push_back({failing, value});
}

// A log folder missing at the start (or after the day's roll closed every file) is made by
// the first file that opens, and said once; a file that cannot be opened at all (its folder
// cannot be made) is a write that fails: its spell is said once and counts every line and
// record it could not take, the text log's lines going to standard error meanwhile.
TEST_F(Logger, NullLoggerAndUnopenableFileWriteToStandardError)
{
    testing::internal::CaptureStderr();
    EA_LOG(nullptr, EA_LEVEL_EVENT, "no logger %d", 5);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "no logger 5\n");

    fs::remove_all(logs_);
    container_ptr container = create("");
    logger_object *logger = container->loggers[0];
    std::vector<notice_record> told;
    const logging_write_notice notice = {record_notice, &told};
    logger_object_container_set_write_notice(container.get(), &notice);
    message_ptr msg(message_create(40, NORMAL_MESSAGE));
    const std::string stamp = stamp_of(container->info->day.load());
    const std::string text = path("main_text." + stamp + ".current.txt");
    const std::string response = path("main_response." + stamp + ".current.dat");
    const std::string made =
        "Log folder [" + logs_ + "] was missing (never made, or removed by a clean-up): made it to write [";
    qel_test::stderr_capture capture;
    logger_object_binary_log(logger, msg.get(), EA_BINARY_KIND_HOST, EA_RESPONSE_LOG, 0, 0, 0);
    EA_LOG(logger, EA_LEVEL_EVENT, "first");
    EXPECT_EQ(capture.text(), made + response + "]\n") << "said once, by the file that made it";
    EXPECT_EQ((fs::status(logs_).permissions() & fs::perms::all), fs::perms::owner_all);
    std::vector<std::string> lines = split(read_file(text), '\n');
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].find("System Error|" + made + response + "]|"), 0u) << lines[0];
    EXPECT_EQ(lines[1].find("Event|first|"), 0u) << lines[1];
    EXPECT_EQ(read_file(response).size(), 16u + 142u);
    EXPECT_TRUE(told.empty());

    // The day's roll closes the files; a clean-up then leaves a file where the folder was.
    logger_object_reopen(logger);
    fs::remove_all(logs_);
    std::ofstream(logs_) << "not a folder";
    for (int i = 0; i < 2; ++i)
        EA_LOG(logger, EA_LEVEL_EVENT, "to standard error %d", i);
    for (int i = 0; i < 3; ++i)
        logger_object_binary_log(logger, msg.get(), EA_BINARY_KIND_HOST, EA_RESPONSE_LOG, 0, 0, 0);
    EXPECT_EQ(told, (std::vector<notice_record>{{true, ENOTDIR}, {true, ENOTDIR}}));
    std::string said = capture.text();
    EXPECT_EQ(qel_test::count_of(said, "Log writes to [" + text +
                                           "] are failing ([Not a directory]): lines are lost until they "
                                           "succeed again\n"),
              1u)
        << said;
    EXPECT_EQ(qel_test::count_of(said, "Log writes to [" + response + "] are failing ([Not a directory])"),
              1u)
        << said;
    EXPECT_EQ(qel_test::count_of(said, "Event|to standard error "), 2u) << said;

    // The folder can be made again.
    fs::remove(logs_);
    pf_tick_advance(PF_LOG_SPELL_QUIET_MS);
    EA_LOG(logger, EA_LEVEL_EVENT, "back");
    logger_object_binary_log(logger, msg.get(), EA_BINARY_KIND_HOST, EA_RESPONSE_LOG, 0, 0, 0);
    EXPECT_EQ(told, (std::vector<notice_record>{{true, ENOTDIR}, {true, ENOTDIR}, {false, 2}, {false, 3}}));
    said = capture.text();
    EXPECT_EQ(qel_test::count_of(said, made + text + "]\n"), 1u) << said;
    EXPECT_EQ(qel_test::count_of(said, "Log writes to [" + text + "] succeed again: [2] lines were lost\n"),
              1u)
        << said;
    EXPECT_EQ(
        qel_test::count_of(said, "Log writes to [" + response + "] succeed again: [3] lines were lost\n"), 1u)
        << said;
    EXPECT_EQ(qel_test::count_of(said, "Log "), 6u) << said;
    EXPECT_EQ(read_file(response).size(), 16u + 142u) << "a new file, with its header";
    logger_object_container_set_write_notice(container.get(), nullptr);
}

TEST_F(Logger, FailingWritesAreToldOnceAsTheyBeginAndOnceAsTheyEnd)
{
    container_ptr container = create("");
    logger_object *logger = container->loggers[0];
    std::vector<notice_record> told;
    const logging_write_notice notice = {record_notice, &told};
    logger_object_container_set_write_notice(container.get(), &notice);
    message_ptr msg(message_create(40, NORMAL_MESSAGE));
    EA_LOG(logger, EA_LEVEL_EVENT, "before");
    logger_object_binary_log(logger, msg.get(), EA_BINARY_KIND_HOST, EA_RESPONSE_LOG, 0, 0, 0);
    const std::string stamp = stamp_of(container->info->day.load());
    const std::string text = path("main_text." + stamp + ".current.txt");
    const std::string response = path("main_response." + stamp + ".current.dat");

    qel_test::stderr_capture capture;
    {
        qel_test::file_size_cap full(0); // the log folder is full
        for (int i = 0; i < 3; ++i)
            EA_LOG(logger, EA_LEVEL_EVENT, "lost %d", i);
        for (int i = 0; i < 2; ++i)
            logger_object_binary_log(logger, msg.get(), EA_BINARY_KIND_HOST, EA_RESPONSE_LOG, 0, 0, 0);
        // A binary log opened while the folder is full: not even its header goes in.
        logger_object_binary_log(logger, msg.get(), EA_BINARY_KIND_HOST, EA_REQUEST_LOG, 0, 0, 0);
        EXPECT_EQ(told, (std::vector<notice_record>{{true, EFBIG}, {true, EFBIG}, {true, EFBIG}}));
    }
    pf_tick_advance(PF_LOG_SPELL_QUIET_MS); // the folder has had room for a while
    EA_LOG(logger, EA_LEVEL_EVENT, "after");
    for (int i = 0; i < 5; ++i)
        EA_LOG(logger, EA_LEVEL_EVENT, "on");
    logger_object_binary_log(logger, msg.get(), EA_BINARY_KIND_HOST, EA_RESPONSE_LOG, 0, 0, 0);
    logger_object_binary_log(logger, msg.get(), EA_BINARY_KIND_HOST, EA_REQUEST_LOG, 0, 0, 0);
    EXPECT_EQ(told, (std::vector<notice_record>{
                        {true, EFBIG}, {true, EFBIG}, {true, EFBIG}, {false, 3}, {false, 2}, {false, 1}}));

    const std::string said = capture.text();
    EXPECT_EQ(
        qel_test::count_of(said, "Log writes to [" + text +
                                     "] are failing ([File too large]): lines are lost until they succeed "
                                     "again\n"),
        1u)
        << said;
    EXPECT_EQ(qel_test::count_of(said, "Log writes to [" + text + "] succeed again: [3] lines were lost\n"),
              1u)
        << said;
    EXPECT_EQ(qel_test::count_of(said, "Log writes to [" + response + "] are failing"), 1u) << said;
    EXPECT_EQ(
        qel_test::count_of(said, "Log writes to [" + response + "] succeed again: [2] lines were lost\n"), 1u)
        << said;
    EXPECT_EQ(qel_test::count_of(said, "Log writes to"), 6u) << said;

    const std::vector<std::string> lines = split(read_file(text), '\n');
    ASSERT_EQ(lines.size(), 10u);
    EXPECT_EQ(lines[0].find("Event|before|"), 0u);
    EXPECT_EQ(lines[1].find("Event|after|"), 0u);
    EXPECT_EQ(lines[2].find("System Error|Log writes to [" + text + "] succeed again: [3] lines were lost|"),
              0u)
        << lines[2];
    EXPECT_EQ(
        lines[8].find("System Error|Log writes to [" + response + "] succeed again: [2] lines were lost|"),
        0u)
        << lines[8];
    EXPECT_EQ(read_file(response).size(), 16u + 2 * 142u) << "whole records only";
    const std::string request = read_file(path("main_request." + stamp + ".current.dat"));
    ASSERT_EQ(request.size(), 16u + 142u) << "the header, then the record";
    EXPECT_EQ(static_cast<uint8_t>(request[16]) | (static_cast<uint8_t>(request[17]) << 8), 142);
    logger_object_container_set_write_notice(container.get(), nullptr);
}

TEST_F(Logger, ASpellIsToldOnceSomeoneListensAndSaysItsLinesWhenItsFileCloses)
{
    container_ptr container = create("");
    logger_object *logger = container->loggers[0];
    std::vector<notice_record> told;
    const logging_write_notice notice = {record_notice, &told};
    message_ptr msg(message_create(40, NORMAL_MESSAGE));
    EA_LOG(logger, EA_LEVEL_EVENT, "before");
    for (int i = 0; i < 10; ++i)
        logger_object_binary_log(logger, msg.get(), EA_BINARY_KIND_HOST, EA_RESPONSE_LOG, 0, 0, 0);
    const std::string stamp = stamp_of(container->info->day.load());
    const std::string response = path("main_response." + stamp + ".current.dat");
    const std::string response_kept = path("main_response." + stamp + ".repository.dat");
    const std::string text_kept = path("main_text." + stamp + ".repository.txt");
    const uintmax_t response_size = fs::file_size(response);

    qel_test::stderr_capture capture;
    {
        // Room for a few lines of text, none for another record; the first failure comes
        // before the console link (the start-up lines).
        qel_test::file_size_cap full(response_size + 100);
        logger_object_binary_log(logger, msg.get(), EA_BINARY_KIND_HOST, EA_RESPONSE_LOG, 0, 0, 0);
        EXPECT_TRUE(told.empty());
        logger_object_container_set_write_notice(container.get(), &notice);
        EA_LOG(logger, EA_LEVEL_EVENT, "the link is there");
        EXPECT_TRUE(told.empty()) << "told at the next write to the file whose spell it is";
        logger_object_binary_log(logger, msg.get(), EA_BINARY_KIND_HOST, EA_RESPONSE_LOG, 0, 0, 0);
        EXPECT_EQ(told, (std::vector<notice_record>{{true, EFBIG}}));
        logger_object_binary_log(logger, msg.get(), EA_BINARY_KIND_HOST, EA_RESPONSE_LOG, 0, 0, 0);
        EXPECT_EQ(told.size(), 1u) << "once per spell";
        // The gateway stops while its folder is still full.
        logger_object_container_set_write_notice(container.get(), nullptr);
        container.reset();
    }
    const std::string said = capture.text();
    EXPECT_EQ(qel_test::count_of(said, "Log writes to [" + response +
                                           "] were still failing when it was closed: [3] lines were lost\n"),
              1u)
        << said;
    EXPECT_EQ(qel_test::count_of(said, "Log writes to"), 2u) << said;
    EXPECT_EQ(fs::file_size(response_kept), response_size) << "whole records only";
    const std::vector<std::string> lines = split(read_file(text_kept), '\n');
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1].find("Event|the link is there|"), 0u);
    EXPECT_EQ(lines[2].find("System Error|Log writes to [" + response +
                            "] were still failing when it was closed: [3] lines were lost|"),
              0u)
        << lines[2];
}

TEST_F(Logger, AFileFoundWithoutItsNameIsSaidOnceAndWrittenUnderItsNameAgain)
{
    container_ptr container = create("");
    logger_object *logger = container->loggers[0];
    std::vector<notice_record> told;
    const logging_write_notice notice = {record_notice, &told};
    logger_object_container_set_write_notice(container.get(), &notice);
    message_ptr msg(message_create(40, NORMAL_MESSAGE));
    EA_LOG(logger, EA_LEVEL_EVENT, "first");
    logger_object_binary_log(logger, msg.get(), EA_BINARY_KIND_HOST, EA_RESPONSE_LOG, 0, 0, 0);
    const std::string stamp = stamp_of(container->info->day.load());
    const std::string text = path("main_text." + stamp + ".current.txt");
    const std::string response = path("main_response." + stamp + ".current.dat");

    // An operator's clean-up removes the folder; the next lines go with it.
    fs::remove_all(logs_);
    EA_LOG(logger, EA_LEVEL_EVENT, "into the removed file");
    qel_test::stderr_capture capture;
    pf_tick_advance(PF_LOG_NAME_CHECK_MS);
    EA_LOG(logger, EA_LEVEL_EVENT, "after");
    logger_object_binary_log(logger, msg.get(), EA_BINARY_KIND_HOST, EA_RESPONSE_LOG, 0, 0, 0);
    pf_tick_advance(PF_LOG_NAME_CHECK_MS);
    EA_LOG(logger, EA_LEVEL_EVENT, "and on");
    logger_object_binary_log(logger, msg.get(), EA_BINARY_KIND_HOST, EA_RESPONSE_LOG, 0, 0, 0);
    EXPECT_EQ(told, (std::vector<notice_record>{{true, ENOENT}, {false, 2}, {true, ENOENT}, {false, 1}}));

    const std::string said = capture.text();
    EXPECT_EQ(qel_test::count_of(said, "no longer stood under its name"), 2u) << said;
    EXPECT_EQ(
        qel_test::count_of(said, "Log file [" + text +
                                     "] no longer stood under its name (removed or moved by another "
                                     "program): the [2] lines written since it was last seen there went "
                                     "with it; written under its name again\n"),
        1u)
        << said;
    EXPECT_EQ((fs::status(logs_).permissions() & fs::perms::all), fs::perms::owner_all)
        << "the folder is made again for its owner";
    EXPECT_EQ(qel_test::count_of(said, "Log folder [" + logs_ + "] was missing"), 1u) << said;
    const std::vector<std::string> lines = split(read_file(text), '\n');
    ASSERT_EQ(lines.size(), 5u) << read_file(text);
    EXPECT_EQ(lines[0].find("System Error|Log folder [" + logs_ +
                            "] was missing (never made, or removed by a clean-up): made it to write [" +
                            text + "]|"),
              0u)
        << lines[0];
    EXPECT_EQ(lines[1].find("System Error|Log file [" + text + "] no longer stood under its name"), 0u);
    EXPECT_EQ(lines[2].find("Event|after|"), 0u);
    // The binary log looks at once, for the text log found its file without its name.
    EXPECT_EQ(lines[3].find("System Error|Log file [" + response +
                            "] no longer stood under its name (removed or moved by another program): the [1] "
                            "lines written since it was last seen there went with it; written under its name "
                            "again|"),
              0u)
        << lines[3];
    EXPECT_EQ(lines[4].find("Event|and on|"), 0u);
    EXPECT_EQ(read_file(response).size(), 16u + 2 * 142u) << "a new file starts with its header";

    // Removed again just before the gateway stops: said as the files close.
    fs::remove_all(logs_);
    logger_object_container_set_write_notice(container.get(), nullptr);
    container.reset();
    EXPECT_EQ(qel_test::count_of(capture.text(), "went with it\n"), 2u) << capture.text();
}

TEST_F(Logger, BinaryRecordMatchesTheLayoutByteForByte)
{
    container_ptr container = create("");
    logger_object *logger = container->loggers[0];
    message_ptr msg(message_create(40, NORMAL_MESSAGE));
    for (uint8_t i = 0; i < 40; ++i)
        msg->data[i] = i;
    msg->flags = MESSAGE_FLAG_RESENT;
    msg->sequence_number = 0x01020304;
    for (uint32_t i = 0; i < MESSAGE_ROUTING_WORDS; ++i)
    {
        msg->routing_area_a[i] = 0xA0 + i;
        msg->routing_area_b[i] = 0xB0000000 + i;
    }
    msg->workstation_index = 0x0506;
    msg->workstation_network_handle = -2;
    msg->link_index = 7;
    msg->host_network_handle = 0x0A0B0C0D;
    msg->user_type = 1;
    logger_object_binary_log(logger, msg.get(), EA_BINARY_KIND_HOST, EA_REQUEST_LOG, 0, 0xCAFEBABE, 0x1234);
    const int64_t now = logger_object_get_current_time(logger);

    const std::string stamp = stamp_of(container->info->day.load());
    const std::string file = read_file(path("main_request." + stamp + ".current.dat"));
    ASSERT_EQ(file.size(), 16u + 142u);
    const std::vector<uint8_t> bytes(file.begin(), file.end());

    // The file header is the creation's counter and frequency, zero when high-resolution
    // timing is off.
    std::vector<uint8_t> file_header(16, 0);
    const bool high_resolution = container->info->high_resolution == 1;
    for (int i = 0; high_resolution && i < 8; ++i)
    {
        file_header[i] = static_cast<uint8_t>(uint64_t(container->info->timer.counter) >> (8 * i));
        file_header[8 + i] = static_cast<uint8_t>(uint64_t(container->info->timer.frequency) >> (8 * i));
    }
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 16), file_header);

    // Bytes 50..55 hold the tick-derived time of the write and 56..63 the counter then
    // (zero when high-resolution timing is off); they are checked apart.
    const std::vector<uint8_t> expected = from_hex("8e00"     // length 142
                                                   "0300"     // kind 3
                                                   "0300"     // flags
                                                   "04030201" // sequence
                                                   "a0000000 a1000000 a2000000 a3000000 a4000000" // area A
                                                   "000000b0 010000b0 020000b0 030000b0 040000b0" // area B
                                                   "00000000 0000"                                // now
                                                   "0000000000000000"                             // counter
                                                   "00000000 0000 0000000000000000"               // no stamp
                                                   "0605 feffffff 0700 0d0c0b0a"                  // routing
                                                   "00000000 3412 0100 bebafeca"                  // caller
                                                   "00010203040506070809 0a0b0c0d0e0f1011121314"  // data
                                                   "15161718191a1b1c1d1e1f 2021222324252627");
    ASSERT_EQ(expected.size(), 142u);
    std::vector<uint8_t> record(bytes.begin() + 16, bytes.end());
    const uint32_t written =
        record[50] | (record[51] << 8) | (record[52] << 16) | (uint32_t(record[53]) << 24);
    EXPECT_LE(static_cast<int64_t>(written), now);
    EXPECT_GE(static_cast<int64_t>(written), now - 2);
    EXPECT_LT(record[54] | (record[55] << 8), 1000);
    std::fill(record.begin() + 50, record.begin() + 56, 0);
    if (high_resolution)
        std::fill(record.begin() + 56, record.begin() + 64, 0);
    EXPECT_EQ(record, expected);
    EXPECT_EQ(msg->flags, MESSAGE_FLAG_RESENT | MESSAGE_FLAG_NOT_SYNCHRONISED);
}

TEST_F(Logger, BinaryStampsBeforeTheClockStartStayInThePast)
{
    container_ptr container = create("");
    logger_object *logger = container->loggers[0];
    logger_object_container_day_change(container.get());
    message_ptr msg(message_create(1, NORMAL_MESSAGE));
    logger_object_stamp_message(logger, msg.get(), 9);
    EXPECT_EQ(msg->stamp_value, 9u);
    // A record stamped and a caller tick taken 5 s before the clock's last re-base.
    msg->stamp_tick = logging_info_read_clock(container->info).start_tick - 5000;
    logger_object_binary_log(logger, msg.get(), EA_BINARY_KIND_WORKSTATION, EA_RESPONSE_LOG, msg->stamp_tick,
                             0, 0);
    const int64_t now = logger_object_get_current_time(logger);

    const std::string stamp = stamp_of(container->info->day.load());
    const std::string file = read_file(path("main_response." + stamp + ".current.dat"));
    ASSERT_EQ(file.size(), 16u + 103u);
    const uint8_t *record = reinterpret_cast<const uint8_t *>(file.data()) + 16;
    const int64_t stamp_seconds =
        record[64] | (record[65] << 8) | (record[66] << 16) | (int64_t(record[67]) << 24);
    const int64_t caller_seconds =
        record[90] | (record[91] << 8) | (record[92] << 16) | (int64_t(record[93]) << 24);
    EXPECT_GE(stamp_seconds, now - 7);
    EXPECT_LE(stamp_seconds, now - 4);
    EXPECT_EQ(caller_seconds, stamp_seconds);
}

TEST_F(Logger, TickClockShowsExchangeTimeAndSurvivesDayChange)
{
    container_ptr container = create("");
    logger_object *logger = container->loggers[0];
    const int64_t before = static_cast<int64_t>(time(nullptr)) + 19800;
    logger_object_container_day_change(container.get());
    const int64_t now = logger_object_get_current_time(logger);
    EXPECT_GE(now, before - 1);
    EXPECT_LE(now, static_cast<int64_t>(time(nullptr)) + 19800 + 1);
    EXPECT_EQ(container->info->time_synchronised.load(), 0u);

    logger_object_container_set_start_time(container.get(), 1000000, 500);
    EXPECT_EQ(container->info->time_synchronised.load(), 1u);
    EXPECT_LE(logger_object_get_current_time(logger) - 1000000, 1);
}

// Run under ThreadSanitizer: the day change re-bases the clock while another thread
// writes lines and binary records with it.
TEST_F(Logger, ConcurrentDayChangeWhileAnotherThreadLogs)
{
    container_ptr container = create("", {"main", "th_network_handler_thread"});
    logger_object *worker_logger = container->loggers[1];
    std::atomic<bool> done{false};
    std::thread worker(
        [&]
        {
            message_ptr msg(message_create(8, NORMAL_MESSAGE));
            for (int i = 0; i < 2000; ++i)
            {
                EA_LOG(worker_logger, EA_LEVEL_EVENT, "line %d", i);
                logger_object_stamp_message(worker_logger, msg.get(), 0);
                logger_object_binary_log(worker_logger, msg.get(), EA_BINARY_KIND_HOST, EA_REQUEST_LOG, 0, 0,
                                         0);
            }
            done = true;
        });
    int changes = 0;
    while (!done || changes == 0)
    {
        logger_object_container_day_change(container.get());
        ++changes;
    }
    worker.join();

    const std::string stamp = stamp_of(worker_logger->day);
    const std::vector<std::string> lines =
        split(read_file(path("th_network_handler_thread_text." + stamp + ".current.txt")), '\n');
    ASSERT_EQ(lines.size(), 2000u);
    for (const std::string &line : lines)
        ASSERT_EQ(std::count(line.begin(), line.end(), '|'), 7) << line;
}

TEST_F(Logger, ClockSnapshotIsNeverHalfOfTwoUpdates)
{
    container_ptr container = create("");
    logger_object_container_set_start_time(container.get(), 1000000, 111);
    std::atomic<bool> done{false};
    std::thread writer(
        [&]
        {
            for (int i = 0; i < 50000; ++i)
            {
                if (i % 2 == 0)
                    logger_object_container_set_start_time(container.get(), 1000000, 111);
                else
                    logger_object_container_set_start_time(container.get(), 2000000, 222);
            }
            done = true;
        });
    int torn = 0;
    while (!done)
    {
        logging_clock clock = logging_info_read_clock(container->info);
        if (!(clock.start_seconds == 1000000 && clock.start_milliseconds == 111) &&
            !(clock.start_seconds == 2000000 && clock.start_milliseconds == 222))
            ++torn;
    }
    writer.join();
    EXPECT_EQ(torn, 0);
}

// A writer in the middle of a re-base holds the sequence odd: a reader must wait for the
// whole update rather than return the half-written fields.
TEST_F(Logger, ClockReaderWaitsOutAWriterInProgress)
{
    container_ptr container = create("");
    logging_info *info = container->info;
    logger_object_container_set_start_time(container.get(), 1000000, 111);
    const uint32_t sequence = info->clock_sequence.load();
    info->clock_sequence.store(sequence + 1);
    info->start_seconds.store(2000000);

    std::atomic<bool> returned{false};
    logging_clock seen = {};
    std::thread reader(
        [&]
        {
            seen = logging_info_read_clock(info);
            returned = true;
        });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(returned.load());
    info->start_milliseconds.store(222);
    info->clock_sequence.store(sequence + 2);
    reader.join();
    EXPECT_EQ(seen.start_seconds, 2000000);
    EXPECT_EQ(seen.start_milliseconds, 222);
}

} // namespace
