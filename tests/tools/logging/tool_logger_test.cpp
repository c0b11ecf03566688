// The tools' logging library: levels from the configuration, the text line and its
// continuation, file names and the roll to "repository" names, the day change, binary
// headers byte for byte, the length limit, a write cut short, and a spell of failing
// writes said on standard error and in the log.
#include "tools/logging/tool_logger.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "platform/core/pf_tick.h"
#include "support/full_disk.h"
#include "support/held_tick.h"
#include "support/hex.h"
#include "support/test_support.h"

using namespace qel_tools;
using qel_test::stderr_capture;
using qel_test::temp_dir;

namespace
{
struct log_fixture
{
    qel_test::held_tick held;
    temp_dir dir;
    std::string config;
    logger_object_container *container = nullptr;

    explicit log_fixture(const std::string &keys = "")
    {
        mkdir(dir.file("logs").c_str(), 0700);
        dir.write("tool.cfg", "LOG_FILE_PATH=" + dir.file("logs") + "\n" + keys);
        config = dir.file("tool.cfg");
    }
    ~log_fixture() { logger_object_container_destroy(container); }
    logger_object *create(std::vector<const char *> names = {"main"},
                          const logging_variant *variant = &k_tools_logging)
    {
        container = logger_object_container_create_variant(config.c_str(), names.data(),
                                                           static_cast<uint32_t>(names.size()), variant);
        return container != nullptr ? container->loggers[0] : nullptr;
    }
    std::vector<std::string> logs() const { return dir.list("logs"); }
    std::string text_of(const logger_object *logger, const char *kind = "text", const char *ext = "txt") const
    {
        time_t stamp = static_cast<time_t>(logger->time_stamp);
        struct tm local;
        localtime_r(&stamp, &local);
        char text[32];
        strftime(text, sizeof text, "%Y%m%d.%H%M%S", &local);
        return std::string("logs/") + logger->name + "_" + kind + "." + text + ".current." + ext;
    }
    std::vector<std::string> lines(const logger_object *logger) const
    {
        std::vector<std::string> out;
        std::string text = dir.read(text_of(logger));
        for (size_t at = 0; at < text.size();)
        {
            size_t end = text.find('\n', at);
            out.push_back(text.substr(at, end - at));
            at = end + 1;
        }
        return out;
    }
};

std::string hex(const std::string &bytes)
{
    return qel_test::to_hex(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
}
} // namespace

TEST(ToolLogger, LevelComesFromTheNameKeyThenTheSystemKey)
{
    struct
    {
        const char *keys;
        int16_t level;
    } cases[] = {
        {"", LOG_LEVEL_SYSTEM_ERROR},
        {"SYSTEM_LOGGING_LEVEL=EVENT\n", LOG_LEVEL_EVENT},
        {"SYSTEM_LOGGING_LEVEL=event\n", LOG_LEVEL_SYSTEM_ERROR},
        {"SYSTEM_LOGGING_LEVEL=BUSINESS_ERROR\nMAIN_LOGGING_LEVEL=DEBUG\n", LOG_LEVEL_DEBUG},
        {"MAIN_LOGGING_LEVEL=ACTIVITY\n", LOG_LEVEL_ACTIVITY},
        {"MAIN_LOGGING_LEVEL=NONSENSE\nSYSTEM_LOGGING_LEVEL=DEBUG\n", LOG_LEVEL_SYSTEM_ERROR},
        {"LOGGING_LEVEL=4\n", LOG_LEVEL_SYSTEM_ERROR}, // the integer key is the service's alone
        // A blank after "=" leaves no value: the next key decides.
        {"MAIN_LOGGING_LEVEL= DEBUG\nSYSTEM_LOGGING_LEVEL=ACTIVITY\n", LOG_LEVEL_ACTIVITY},
        {"SYSTEM_LOGGING_LEVEL=\tEVENT\nMAIN_LOGGING_LEVEL=\n", LOG_LEVEL_SYSTEM_ERROR},
    };
    for (const auto &c : cases)
    {
        log_fixture f(c.keys);
        logger_object *logger = f.create();
        ASSERT_NE(logger, nullptr) << c.keys;
        EXPECT_EQ(logger->level, c.level) << c.keys;
        EXPECT_EQ(logger->last_level, -1);
        EXPECT_TRUE(f.logs().empty()) << "files open only on first use";
    }
}

TEST(ToolLogger, TextLinesAreFilteredContinuedAndCleaned)
{
    log_fixture f("MAIN_LOGGING_LEVEL=EVENT\n");
    logger_object *logger = f.create();
    ASSERT_NE(logger, nullptr);
    logging_info_log(logger, "nothing to continue", LOG_LEVEL_CONTINUATION, "f", "src/a.cpp", 1);
    logging_info_log(logger, "first | with\nbreak", LOG_LEVEL_EVENT, "qel_stats_main",
                     "tools/statistics/qelstat.cpp", 42);
    logging_info_log(logger, "detail", LOG_LEVEL_CONTINUATION, "qel_stats_main", "qelstat.cpp", 43);
    logging_info_log(logger, "hidden debug", LOG_LEVEL_DEBUG, "f", "a.cpp", 2);
    logging_info_log(logger, "hidden continuation", LOG_LEVEL_CONTINUATION, "f", "a.cpp", 3);
    logging_info_log(logger, "business", LOG_LEVEL_BUSINESS_ERROR, "g", "C:\\src\\b.cpp", 4);
    logging_info_log(logger, "out of range", 6, "g", "b.cpp", 5);
    QEL_TOOL_LOG(logger, LOG_LEVEL_SYSTEM_ERROR, "formatted [%d]", 7);

    std::vector<std::string> lines = f.lines(logger);
    ASSERT_EQ(lines.size(), 4u);
    const std::string time = R"(\|[A-Z][a-z]{2} [A-Z][a-z]{2} \d{2} \d{4} \d{2}:\d{2}:\d{2}:\d{3}$)";
    EXPECT_TRUE(std::regex_search(
        lines[0], std::regex("^Event\\|first , with,break\\|qel_stats_main\\|qelstat.cpp\\|42" + time)))
        << lines[0];
    EXPECT_TRUE(
        std::regex_search(lines[1], std::regex("^     \\|detail\\|qel_stats_main\\|qelstat.cpp\\|43" + time)))
        << lines[1];
    EXPECT_TRUE(std::regex_search(lines[2], std::regex("^Business Error\\|business\\|g\\|b.cpp\\|4" + time)))
        << lines[2];
    EXPECT_TRUE(std::regex_search(
        lines[3], std::regex("^System Error\\|formatted \\[7\\]\\|TestBody\\|tool_logger_test.cpp\\|")))
        << lines[3];
}

TEST(ToolLogger, NullLoggerWritesSystemErrorLinesToStandardError)
{
    stderr_capture capture;
    logging_info_log(nullptr, "no logger", LOG_LEVEL_DEBUG, "f", "x/y.cpp", 9);
    EXPECT_TRUE(std::regex_search(capture.text(), std::regex("^System Error\\|no logger\\|f\\|y.cpp\\|9\\|")))
        << capture.text();
}

TEST(ToolLogger, FilesRollToRepositoryNamesWithoutReplacingAny)
{
    log_fixture f;
    // What a crashed run left: its current files, one of them already under a repository name.
    f.dir.write("logs/main_text.20120216.114431.current.txt", "old text\n");
    f.dir.write("logs/main_text.20120216.114431.repository.txt", "older\n");
    f.dir.write("logs/main_binary.20120216.114431.current.dat", "bin");
    f.dir.write("logs/main_binary.20120216.114431.repository.dat", "b0");
    f.dir.write("logs/main2_text.20120216.114431.current.txt", "another logger's\n");
    f.dir.write("logs/mainframe.current.txt", "not a log of ours\n");
    logger_object *logger = f.create();
    ASSERT_NE(logger, nullptr);
    EXPECT_EQ(f.logs(), (std::vector<std::string>{
                            "main2_text.20120216.114431.current.txt",
                            "main_binary.20120216.114431.repository.2.dat",
                            "main_binary.20120216.114431.repository.dat",
                            "main_text.20120216.114431.repository.1.txt",
                            "main_text.20120216.114431.repository.txt",
                            "mainframe.current.txt",
                        }));
    EXPECT_EQ(f.dir.read("logs/main_text.20120216.114431.repository.1.txt"), "old text\n");
    EXPECT_EQ(f.dir.read("logs/main_text.20120216.114431.repository.txt"), "older\n");

    logging_info_log(logger, "now", LOG_LEVEL_SYSTEM_ERROR, "f", "a.cpp", 1);
    std::string current = f.text_of(logger);
    EXPECT_EQ(f.lines(logger).size(), 1u);
    logger_object_container_destroy(f.container);
    f.container = nullptr;
    std::string repository = current;
    repository.replace(repository.find(".current."), 9, ".repository.");
    EXPECT_NE(f.dir.read(repository).find("|now|"), std::string::npos);
}

TEST(ToolLogger, RollEndsAtAFileItCannotMove)
{
    log_fixture f;
    // Six current files whose repository names would be too long for the file system: the
    // roll gives up at the first instead of finding it again for ever.
    std::string name(200, 'n');
    for (int i = 0; i < 6; ++i)
        f.dir.write("logs/" + name + "_text.2012021" + std::to_string(i) + ".114431.current." +
                        std::string(24, 'x'),
                    "");
    logger_object_container *container = nullptr;
    std::vector<const char *> names = {name.c_str()};
    container = logger_object_container_create(f.config.c_str(), names.data(), 1);
    ASSERT_NE(container, nullptr);
    EXPECT_EQ(logger_object_roll_files(container->loggers[0]), -1);
    logger_object_container_destroy(container);
}

TEST(ToolLogger, RollLeavesTheFilesOfALiveLoggerAlone)
{
    log_fixture f;
    // Five loggers of the name main live (the running service), each writing its own
    // stamp's file; a crashed run left two more files, sorted after them.
    const char *names[] = {"main"};
    std::vector<logger_object_container *> live;
    std::vector<std::string> held;
    for (int i = 0; i < 5; ++i)
    {
        live.push_back(logger_object_container_create(f.config.c_str(), names, 1));
        ASSERT_NE(live.back(), nullptr);
        logger_object *logger = live.back()->loggers[0];
        logger->time_stamp = 1329392671 + i; // 2012-02-16, some seconds apart
        logging_info_log(logger, "first", LOG_LEVEL_SYSTEM_ERROR, "f", "a.cpp", 1);
        held.push_back(f.text_of(logger));
    }
    f.dir.write("logs/main_text.20990101.000000.current.txt", "crashed\n");
    f.dir.write("logs/main_text.20990101.000001.current.txt", "crashed too\n");

    // Another process's logger of the same name (a qelmon command) comes and goes.
    logger_object *other = f.create();
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(logger_object_roll_files(other), 0);
    logger_object_container_destroy(f.container);
    f.container = nullptr;

    for (size_t i = 0; i < live.size(); ++i)
    {
        logging_info_log(live[i]->loggers[0], "second", LOG_LEVEL_SYSTEM_ERROR, "f", "a.cpp", 2);
        std::string text = f.dir.read(held[i]);
        EXPECT_NE(text.find("|first|"), std::string::npos) << held[i];
        EXPECT_NE(text.find("|second|"), std::string::npos) << held[i] << " kept its name and grew";
    }
    EXPECT_EQ(f.dir.read("logs/main_text.20990101.000000.repository.txt"), "crashed\n");
    EXPECT_EQ(f.dir.read("logs/main_text.20990101.000001.repository.txt"), "crashed too\n");

    // Once its logger ends, a file rolls as before.
    for (logger_object_container *container : live)
        logger_object_container_destroy(container);
    for (const std::string &name : f.logs())
        EXPECT_EQ(name.find(".current."), std::string::npos) << name;
}

TEST(ToolLogger, DayChangeClosesRollsAndReopensUnderTheNewStamp)
{
    log_fixture f;
    logger_object *logger = f.create();
    ASSERT_NE(logger, nullptr);
    logging_info_log(logger, "day one", LOG_LEVEL_SYSTEM_ERROR, "f", "a.cpp", 1);
    std::string first = f.text_of(logger);
    logger_object_container_update_time(f.container);
    f.container->info->time_stamp += 86400; // as if a day had passed
    EXPECT_EQ(logger_object_reopen(logger), 0);
    EXPECT_EQ(logger->time_stamp, f.container->info->time_stamp);
    logging_info_log(logger, "day two", LOG_LEVEL_SYSTEM_ERROR, "f", "a.cpp", 2);
    std::string second = f.text_of(logger);
    EXPECT_NE(first, second);
    std::vector<std::string> logs = f.logs();
    ASSERT_EQ(logs.size(), 2u);
    EXPECT_NE(logs[0].find(".repository.txt"), std::string::npos);
    EXPECT_EQ("logs/" + logs[1], second);
    EXPECT_EQ(f.lines(logger).size(), 1u);
}

TEST(ToolLogger, BinaryHeadersByteForByte)
{
    log_fixture f;
    logger_object *logger = f.create();
    ASSERT_NE(logger, nullptr);
    const char name[21] = "abcdefghijklmnopqrst";
    time_t before = time(nullptr);
    ASSERT_EQ(logger_object_binary_log(logger, "ABC", 3, -2, name, LOG_FILE_INCOMING_BINARY, 3), 0);
    ASSERT_EQ(logger_object_binary_log(logger, nullptr, 0, 7, nullptr, LOG_FILE_INCOMING_BINARY, 0x0102), 0);
    time_t after = time(nullptr);
    std::string bytes = f.dir.read(f.text_of(logger, "incoming_binary", "dat"));
    ASSERT_EQ(bytes.size(), 105u + 102u);
    // Total 105, code 3, two zero bytes, value -2, the name buffer, zeros to 50, the time,
    // zeros to 102, the data.
    std::string expected = "6900"
                           "0300"
                           "0000"
                           "feffffff" +
                           hex("abcdefghijklmnopqrst") + std::string(40, '0');
    EXPECT_EQ(hex(bytes.substr(0, 50)), expected);
    uint32_t stamp = static_cast<uint8_t>(bytes[50]) | static_cast<uint8_t>(bytes[51]) << 8 |
                     static_cast<uint8_t>(bytes[52]) << 16 |
                     static_cast<uint32_t>(static_cast<uint8_t>(bytes[53])) << 24;
    EXPECT_GE(stamp, static_cast<uint32_t>(before));
    EXPECT_LE(stamp, static_cast<uint32_t>(after));
    EXPECT_EQ(hex(bytes.substr(54, 48)), std::string(96, '0'));
    EXPECT_EQ(bytes.substr(102, 3), "ABC");
    EXPECT_EQ(hex(bytes.substr(105, 10)), "6600"
                                          "0201"
                                          "0000"
                                          "07000000");
    EXPECT_EQ(hex(bytes.substr(115, 20)), std::string(40, '0'));
    // Kind 0 is the text file and no binary kind.
    EXPECT_EQ(logger_object_binary_log(logger, "x", 1, 0, nullptr, LOG_FILE_TEXT, 0), -1);
}

TEST(ToolLogger, RecordsOverTheSixteenBitTotalAreRefused)
{
    log_fixture f;
    logger_object *logger = f.create();
    ASSERT_NE(logger, nullptr);
    std::string data(65535 - 102 + 1, 'd');
    EXPECT_EQ(logger_object_binary_log(logger, data.data(), static_cast<uint32_t>(data.size()), 0, nullptr,
                                       LOG_FILE_BINARY, 1),
              -1);
    EXPECT_NE(f.dir.read(f.text_of(logger)).find("Binary record of [65434] data bytes refused"),
              std::string::npos);
    ASSERT_EQ(logger_object_binary_log(logger, data.data(), static_cast<uint32_t>(data.size() - 1), 0,
                                       nullptr, LOG_FILE_BINARY, 1),
              0);
    std::string bytes = f.dir.read(f.text_of(logger, "binary", "dat"));
    ASSERT_EQ(bytes.size(), 65535u);
    EXPECT_EQ(hex(bytes.substr(0, 2)), "ffff");
}

TEST(ToolLogger, WriteCutShortLeavesNoPartialRecord)
{
    log_fixture f;
    logger_object *logger = f.create();
    ASSERT_NE(logger, nullptr);
    std::string path = f.text_of(logger, "binary", "dat");
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0)
    {
        // The file may not grow past 900 bytes: the fifth record of 200 would be cut.
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit = {900, 900};
        setrlimit(RLIMIT_FSIZE, &limit);
        std::string data(98, 'd');
        int results = 0;
        for (int i = 0; i < 6; ++i)
            results =
                results * 2 +
                (logger_object_binary_log(logger, data.data(), 98, i, nullptr, LOG_FILE_BINARY, 1) == 0 ? 1
                                                                                                        : 0);
        _exit(results);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0b111100);
    EXPECT_EQ(f.dir.read(path).size(), 800u);
}

TEST(ToolLogger, FailingWritesAreSaidOnceAsTheyBeginAndOnceAsTheyEndWithTheLinesLost)
{
    log_fixture f;
    logger_object *logger = f.create();
    ASSERT_NE(logger, nullptr);
    logging_info_log(logger, "before", LOG_LEVEL_SYSTEM_ERROR, "f", "a.cpp", 1);
    std::string path = f.text_of(logger);
    std::string binary = f.text_of(logger, "binary", "dat");
    ASSERT_EQ(logger_object_binary_log(logger, "rec", 3, 0, nullptr, LOG_FILE_BINARY, 1), 0);
    stderr_capture capture;
    {
        qel_test::file_size_cap full(0); // the log folder is full
        for (int i = 0; i < 3; ++i)
            logging_info_log(logger, "lost", LOG_LEVEL_SYSTEM_ERROR, "f", "a.cpp", 2);
        EXPECT_EQ(logger_object_binary_log(logger, "rec", 3, 0, nullptr, LOG_FILE_BINARY, 1), -1);
        EXPECT_EQ(logger_object_binary_log(logger, "rec", 3, 0, nullptr, LOG_FILE_BINARY, 1), -1);
    }
    pf_tick_advance(PF_LOG_SPELL_QUIET_MS); // the folder has had room for a while
    logging_info_log(logger, "after", LOG_LEVEL_SYSTEM_ERROR, "f", "a.cpp", 3);
    ASSERT_EQ(logger_object_binary_log(logger, "rec", 3, 0, nullptr, LOG_FILE_BINARY, 1), 0);

    std::string said = capture.text();
    std::string text_file = f.dir.file(path);
    std::string binary_file = f.dir.file(binary);
    EXPECT_EQ(qel_test::count_of(said, "Log writes to [" + text_file +
                                           "] are failing ([File too large]): lines "
                                           "are lost until they succeed again\n"),
              1u)
        << said;
    EXPECT_EQ(
        qel_test::count_of(said, "Log writes to [" + text_file + "] succeed again: [3] lines were lost\n"),
        1u)
        << said;
    EXPECT_EQ(qel_test::count_of(said, "Log writes to [" + binary_file + "] are failing"), 1u) << said;
    EXPECT_EQ(
        qel_test::count_of(said, "Log writes to [" + binary_file + "] succeed again: [2] lines were lost"),
        1u)
        << said;
    EXPECT_EQ(qel_test::count_of(said, "Log writes to"), 4u) << said;

    std::vector<std::string> lines = f.lines(logger);
    ASSERT_EQ(lines.size(), 4u) << f.dir.read(path);
    EXPECT_NE(lines[0].find("|before|"), std::string::npos);
    EXPECT_NE(lines[1].find("|after|"), std::string::npos);
    EXPECT_TRUE(std::regex_search(lines[2], std::regex("^System Error\\|Log writes to \\[" + text_file +
                                                       "\\] succeed again: \\[3\\] lines were lost\\|")))
        << lines[2];
    EXPECT_NE(lines[3].find("Log writes to [" + binary_file + "] succeed again: [2] lines were lost|"),
              std::string::npos)
        << lines[3];
    EXPECT_EQ(f.dir.read(binary).size(), 2u * (102 + 3)) << "whole records only";
}

// The same rule as the gateway's: a folder missing at the start is made by the first file
// that opens, said once; a binary log that cannot be opened (its folder cannot be made) is a
// write that fails, its spell said once with the records it lost.
TEST(ToolLogger, AMissingFolderIsMadeAndSaidOnceAndAFileThatCannotBeOpenedIsAFailingWrite)
{
    log_fixture f;
    rmdir(f.dir.file("logs").c_str());
    logger_object *logger = f.create();
    ASSERT_NE(logger, nullptr);
    const std::string folder = f.dir.file("logs");
    const std::string text_file = f.dir.file(f.text_of(logger));
    const std::string binary_file = f.dir.file(f.text_of(logger, "binary", "dat"));
    const std::string made =
        "Log folder [" + folder + "] was missing (never made, or removed by a clean-up): made it to write [";
    stderr_capture capture;
    ASSERT_EQ(logger_object_binary_log(logger, "rec", 3, 0, nullptr, LOG_FILE_BINARY, 1), 0);
    logging_info_log(logger, "first", LOG_LEVEL_SYSTEM_ERROR, "f", "a.cpp", 1);
    EXPECT_EQ(capture.text(), made + binary_file + "]\n");
    struct stat status;
    ASSERT_EQ(stat(folder.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0700u);
    std::vector<std::string> lines = f.lines(logger);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].find("System Error|" + made + binary_file + "]|"), 0u) << lines[0];
    EXPECT_NE(lines[1].find("|first|"), std::string::npos);

    // Rolled, then a file where the folder was.
    ASSERT_EQ(logger_object_reopen(logger), 0);
    std::filesystem::remove_all(folder);
    f.dir.write("logs", "not a folder");
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(logger_object_binary_log(logger, "rec", 3, 0, nullptr, LOG_FILE_BINARY, 1), -1);
    unlink(folder.c_str());
    pf_tick_advance(PF_LOG_SPELL_QUIET_MS);
    ASSERT_EQ(logger_object_binary_log(logger, "rec", 3, 0, nullptr, LOG_FILE_BINARY, 1), 0);
    const std::string said = capture.text();
    EXPECT_EQ(qel_test::count_of(said, "Log writes to [" + binary_file +
                                           "] are failing ([Not a directory]): lines are lost until they "
                                           "succeed again\n"),
              1u)
        << said;
    EXPECT_EQ(
        qel_test::count_of(said, "Log writes to [" + binary_file + "] succeed again: [3] lines were lost\n"),
        1u)
        << said;
    EXPECT_EQ(qel_test::count_of(said, made + binary_file + "]\n"), 2u) << said;
    EXPECT_EQ(f.dir.read(f.text_of(logger, "binary", "dat")).size(), 102u + 3) << "one whole record";
}

TEST(ToolLogger, ContainerFailuresFreeEverythingAndSayWhy)
{
    struct
    {
        const char *config;
        std::vector<const char *> names;
        const char *message;
    } cases[] = {
        {"SYSTEM_LOGGING_LEVEL=DEBUG\n", {"main"}, "Parameter LOG_FILE_PATH_PARAM not found in config file."},
        {"LOG_FILE_PATH= /tmp\n", {"main"}, "Parameter LOG_FILE_PATH_PARAM not found in config file."},
        {nullptr, {"main", ""}, "Creation of a logger_object failed"},
        {nullptr, {"main", "a/b"}, "Creation of a logger_object failed"},
    };
    for (const auto &c : cases)
    {
        log_fixture f;
        if (c.config != nullptr)
            f.dir.write("tool.cfg", c.config);
        stderr_capture capture;
        EXPECT_EQ(f.create(c.names), nullptr);
        EXPECT_TRUE(std::regex_search(
            capture.text(), std::regex(std::string("^System Error\\|") + c.message +
                                       "\\|logger_object_container_create\\|logger_object_container\\|")))
            << capture.text();
        EXPECT_TRUE(f.logs().empty());
    }
    log_fixture missing;
    missing.config = missing.dir.file("absent.cfg");
    stderr_capture capture;
    EXPECT_EQ(missing.create(), nullptr);
}
