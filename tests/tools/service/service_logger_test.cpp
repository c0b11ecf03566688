// The service's logging variant and readers: the integer level fallback, a line without
// milliseconds, the 32-byte binary header, the readers' status codes and the error texts.
#include "tools/service/service_logger.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "support/test_support.h"

using namespace qel_service;
using qel_test::temp_dir;

namespace
{
struct service_log_fixture
{
    temp_dir dir;
    std::string config = dir.file("qelmon.cfg");
    logger_object_container *container = nullptr;
    explicit service_log_fixture(const std::string &keys)
    {
        mkdir(dir.file("logs").c_str(), 0700);
        dir.write("qelmon.cfg", "LOG_FILE_PATH=" + dir.file("logs") + "\n" + keys);
        const char *names[] = {"qel_monitoring_thread"};
        container = logger_object_container_create(config.c_str(), names, 1);
    }
    ~service_log_fixture() { logger_object_container_destroy(container); }
    std::string only_file(const std::string &prefix) const
    {
        for (const std::string &name : dir.list("logs"))
        {
            if (name.rfind(prefix, 0) == 0)
                return dir.read("logs/" + name);
        }
        return "";
    }
};
} // namespace

TEST(ServiceLogger, IntegerLoggingLevelDecidesWhenNoLevelKeyDoes)
{
    struct
    {
        std::string keys;
        int16_t level;
    } cases[] = {
        {"LOGGING_LEVEL=3\n", qel_tools::LOG_LEVEL_EVENT},
        {"LOGGING_LEVEL=5\n", qel_tools::LOG_LEVEL_DEBUG},
        {"LOGGING_LEVEL=9\n", qel_tools::LOG_LEVEL_DEBUG},
        {"LOGGING_LEVEL=0\n", qel_tools::LOG_LEVEL_SYSTEM_ERROR},
        {"SYSTEM_LOGGING_LEVEL=ACTIVITY\nLOGGING_LEVEL=1\n", qel_tools::LOG_LEVEL_ACTIVITY},
        {"QEL_MONITORING_THREAD_LOGGING_LEVEL=SYSTEM_ERROR\nLOGGING_LEVEL=4\n",
         qel_tools::LOG_LEVEL_ACTIVITY},
        {"", qel_tools::LOG_LEVEL_SYSTEM_ERROR},
        // A key that only a 511-character read would see at the start of a line.
        {"X=" + std::string(509, 'x') + "SYSTEM_LOGGING_LEVEL=DEBUG\n", qel_tools::LOG_LEVEL_SYSTEM_ERROR},
    };
    for (const auto &c : cases)
    {
        service_log_fixture f(c.keys);
        ASSERT_NE(f.container, nullptr) << c.keys;
        EXPECT_EQ(f.container->loggers[0]->level, c.level) << c.keys;
    }
}

TEST(ServiceLogger, LinesHaveWholeSecondsAndRecordsA32ByteHeader)
{
    service_log_fixture f("LOGGING_LEVEL=5\n");
    ASSERT_NE(f.container, nullptr);
    logger_object *logger = f.container->loggers[0];
    qel_service::logging_info_log(logger, "Service status set to SERVICE_RUNNING.",
                                  qel_tools::LOG_LEVEL_EVENT, "qel_service_monitor",
                                  "tools/service/qel_service_monitor.cpp", 7);
    std::string text = f.only_file("qel_monitoring_thread_text.");
    EXPECT_TRUE(std::regex_match(
        text, std::regex("Event\\|Service status set to SERVICE_RUNNING\\.\\|qel_service_monitor\\|"
                         "qel_service_monitor\\.cpp\\|7\\|[A-Z][a-z]{2} [A-Z][a-z]{2} \\d{2} "
                         "\\d{4} \\d{2}:\\d{2}:\\d{2}\n")))
        << text;

    const char name[21] = "ZORAX_NAME_BUFFER_20";
    ASSERT_EQ(
        logger_object_binary_log(logger, "0123456789", 10, 0x01020304, name, qel_tools::LOG_FILE_BINARY, 9),
        0);
    std::string bytes = f.only_file("qel_monitoring_thread_binary.");
    ASSERT_EQ(bytes.size(), 42u);
    const unsigned char expected_start[] = {42, 0, 9, 0};
    EXPECT_EQ(bytes.substr(0, 4), std::string(reinterpret_cast<const char *>(expected_start), 4));
    const unsigned char value[] = {4, 3, 2, 1};
    EXPECT_EQ(bytes.substr(8, 4), std::string(reinterpret_cast<const char *>(value), 4));
    EXPECT_EQ(bytes.substr(12, 20), "ZORAX_NAME_BUFFER_20");
    EXPECT_EQ(bytes.substr(32), "0123456789");
    std::string big(65535 - 32 + 1, 'b');
    EXPECT_EQ(logger_object_binary_log(logger, big.data(), static_cast<uint32_t>(big.size()), 0, nullptr,
                                       qel_tools::LOG_FILE_BINARY, 9),
              -1);
}

TEST(ServiceLogger, ReadersAnswerWithTheServicesCodes)
{
    temp_dir dir;
    dir.write("c.cfg", "PORT=42\nLOG_FILE_PATH=" + std::string(1024, 'p') +
                           "\nNAME=value with blank\nFOLDER= /var/log/qel\nEMPTY=\n");
    std::string file = dir.file("c.cfg");
    int32_t number = 0;
    EXPECT_EQ(config_file_read_int(file.c_str(), "PORT", &number), QEL_SUCCESS);
    EXPECT_EQ(number, 42);
    EXPECT_EQ(config_file_read_int(file.c_str(), "MISSING", &number), QEL_NOT_FOUND);
    EXPECT_EQ(config_file_read_int(dir.file("absent").c_str(), "PORT", &number), QEL_FAILURE);
    char buffer[1024];
    EXPECT_EQ(config_file_read_string(file.c_str(), "LOG_FILE_PATH", buffer, sizeof buffer), QEL_NOT_FOUND)
        << "a value of 1024 characters does not fit";
    EXPECT_EQ(config_file_read_string(file.c_str(), "NAME", buffer, sizeof buffer), QEL_SUCCESS);
    EXPECT_STREQ(buffer, "value");
    EXPECT_EQ(config_file_read_string(file.c_str(), "FOLDER", buffer, sizeof buffer), QEL_NOT_FOUND)
        << "a blank after \"=\" leaves no value";
    EXPECT_EQ(config_file_read_string(file.c_str(), "EMPTY", buffer, sizeof buffer), QEL_NOT_FOUND);
    EXPECT_STREQ(buffer, "value") << "untouched";
    EXPECT_EQ(config_file_read_string(dir.file("absent").c_str(), "NAME", buffer, sizeof buffer),
              QEL_FAILURE);
    EXPECT_EQ(redirect_output(dir.file("out.txt").c_str(), 4), QEL_FAILURE);
    EXPECT_EQ(redirect_output(dir.file("no/such/folder.txt").c_str(), REDIRECT_STDOUT), QEL_FAILURE);
}

TEST(ServiceLogger, ErrorTextsOfTheServiceTableElseTheRuntimes)
{
    char text[512];
    EXPECT_STREQ(qel_service_get_error_text(1062, text, sizeof text),
                 "Error Code [1062]: The service has not been started");
    EXPECT_STREQ(qel_service_get_error_text(1053, text, sizeof text),
                 "Error Code [1053]: The service did not respond to the start request in a timely fashion");
    EXPECT_STREQ(qel_service_get_error_text(36, text, sizeof text), "Error Code [36]: File name too long");
}
