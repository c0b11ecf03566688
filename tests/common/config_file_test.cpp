// The configuration reader: how a "name=value" file is matched and what each reader
// returns for the shapes of lines that operators and the console actually write.
#include "common/config_file.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

namespace
{

class ConfigFile : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/qel_config_test_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder_ = pattern;
        path_ = folder_ + "/qel.cfg";
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }

    const char *write(const std::string &content)
    {
        std::ofstream out(path_, std::ios::binary | std::ios::trunc);
        out << content;
        return path_.c_str();
    }

    std::string folder_;
    std::string path_;
};

struct int_case
{
    const char *content;
    const char *key;
    ea_status status;
    int32_t value;
};

TEST_F(ConfigFile, IntegerReaderMatchesWordsSplitAtEquals)
{
    const int_case cases[] = {
        {"NUMBER_OF_LINKS=2\n", "NUMBER_OF_LINKS", EA_SUCCESS, 2},
        {"NUMBER_OF_LINKS = 2\n", "NUMBER_OF_LINKS", EA_NOT_FOUND, 0},
        {"NUMBER_OF_LINKS=2\r\nMAX_TWS_CLIENTS=7\r\n", "MAX_TWS_CLIENTS", EA_SUCCESS, 7},
        {"PORT_NUMBER=\nPORT_NUMBER=9000\n", "PORT_NUMBER", EA_NOT_FOUND, 0},
        {"FIX_LOGGING=1\n", "FIX_LOGGIN", EA_NOT_FOUND, 0},
        {"number_of_links=2\n", "NUMBER_OF_LINKS", EA_NOT_FOUND, 0},
        {"#NUMBER_OF_LINKS=5\nNUMBER_OF_LINKS=3\n", "NUMBER_OF_LINKS", EA_SUCCESS, 3},
        {"A=1 B=-42abc C=3\n", "B", EA_SUCCESS, -42},
        {"B=abc\n", "B", EA_SUCCESS, 0},
        {"B=5=6\n", "B", EA_SUCCESS, 5},
        {"B==7\n", "B", EA_SUCCESS, 7},
        {"===\nB=8\n", "B", EA_SUCCESS, 8},
        {"B=99999999999\n", "B", EA_SUCCESS, INT32_MAX},
        {"\tB=4\t\n", "B", EA_SUCCESS, 4},
        {"HOST_PORT_NUMBER= 9000\n", "HOST_PORT_NUMBER", EA_NOT_FOUND, 0},
    };
    for (const int_case &c : cases)
    {
        SCOPED_TRACE(c.content);
        int32_t value = -12345;
        EXPECT_EQ(config_file_read_int(write(c.content), c.key, &value), c.status);
        EXPECT_EQ(value, c.status == EA_SUCCESS ? c.value : -12345);
    }
}

struct string_case
{
    const char *content;
    const char *key;
    size_t size;
    ea_status status;
    const char *value;
};

TEST_F(ConfigFile, StringReaderMatchesLinesAndCutsValues)
{
    const std::string long_line = std::string(511, 'x') + "HOST=10.0.0.1\n";
    const string_case cases[] = {
        {"LOG_FILE_PATH=/var/log/qel old folder\n", "LOG_FILE_PATH", 64, EA_SUCCESS, "/var/log/qel"},
        {"LOG_FILE_PATH=/var/log/qel\tx\n", "LOG_FILE_PATH", 64, EA_SUCCESS, "/var/log/qel"},
        {"BOX_ID=abcd\r\nBROKER_ID=B1\r\n", "BOX_ID", 64, EA_SUCCESS, "abcd"},
        {"BROKER_ID=B1\r\n", "BROKER_ID", 64, EA_SUCCESS, "B1"},
        {"BOX_ID=abcd\n", "BOX_ID", 5, EA_SUCCESS, "abcd"},
        {"BOX_ID=abcd\n", "BOX_ID", 4, EA_NOT_FOUND, nullptr},
        {"BOX_ID=abcd\r\n", "BOX_ID", 5, EA_SUCCESS, "abcd"},
        {"BOX_ID=\nBOX_ID=abcd\n", "BOX_ID", 64, EA_NOT_FOUND, nullptr},
        {"BOX_ID\nBOX_ID=abcd\n", "BOX_ID", 64, EA_NOT_FOUND, nullptr},
        {"FIX_LOGGING=DEBUG\n", "FIX_LOGGIN", 64, EA_NOT_FOUND, nullptr},
        {"BOX_ID =abcd\n", "BOX_ID", 64, EA_NOT_FOUND, nullptr},
        {"KEY=a=b\n", "KEY", 64, EA_SUCCESS, "a"},
        {"=KEY=v\n", "KEY", 64, EA_SUCCESS, "v"},
        {"\n=\nKEY=v\n", "KEY", 64, EA_SUCCESS, "v"},
        {"OTHER=1\nKEY=last", "KEY", 64, EA_SUCCESS, "last"},
        {long_line.c_str(), "HOST", 64, EA_SUCCESS, "10.0.0.1"},
        // A blank or tab right after "=" leaves nothing once the value is cut: no value.
        {"LOG_FILE_PATH= /var/log/qel\n", "LOG_FILE_PATH", 64, EA_NOT_FOUND, nullptr},
        {"MAIN_LOGGING_LEVEL=\tDEBUG\r\n", "MAIN_LOGGING_LEVEL", 64, EA_NOT_FOUND, nullptr},
        {"OFFLINE_FILES_PATH= \nOFFLINE_FILES_PATH=/data\n", "OFFLINE_FILES_PATH", 64, EA_NOT_FOUND, nullptr},
        {"BOX_ID= \r\n", "BOX_ID", 64, EA_NOT_FOUND, nullptr},
    };
    for (const string_case &c : cases)
    {
        SCOPED_TRACE(c.content);
        char buffer[64];
        strcpy(buffer, "unchanged");
        EXPECT_EQ(config_file_read_string(write(c.content), c.key, buffer, c.size), c.status);
        EXPECT_STREQ(buffer, c.status == EA_SUCCESS ? c.value : "unchanged");
    }
}

struct find_case
{
    config_syntax syntax;
    const char *key;
    ea_status status;
    const char *value;
};

// The gateway's split, the console's integer split and its whole-rest string split
// over the same lines.
TEST_F(ConfigFile, EachSyntaxSplitsTheSameLinesItsOwnWay)
{
    const char *path = write("==LEAD=1\nKEY==2=x\nREST=a b=c\n");
    const config_syntax gateway_words = {true, CONFIG_SPLIT_EQUALS_RUNS};
    const config_syntax gateway_lines = {false, CONFIG_SPLIT_EQUALS_RUNS};
    const config_syntax console_words = {true, CONFIG_SPLIT_FIRST_EQUALS};
    const config_syntax console_lines = {false, CONFIG_SPLIT_WHOLE_REST};
    const find_case cases[] = {
        {gateway_words, "LEAD", EA_SUCCESS, "1"},       {gateway_words, "KEY", EA_SUCCESS, "2"},
        {gateway_words, "REST", EA_SUCCESS, "a"},       {gateway_lines, "KEY", EA_SUCCESS, "2"},
        {gateway_lines, "REST", EA_SUCCESS, "a b"},     {console_words, "LEAD", EA_NOT_FOUND, nullptr},
        {console_words, "KEY", EA_NOT_FOUND, nullptr},  {console_words, "REST", EA_SUCCESS, "a"},
        {console_lines, "LEAD", EA_NOT_FOUND, nullptr}, {console_lines, "KEY", EA_SUCCESS, "=2=x"},
        {console_lines, "REST", EA_SUCCESS, "a b=c"},
    };
    for (const find_case &c : cases)
    {
        SCOPED_TRACE(std::string(c.key) + (c.syntax.words ? " in words" : " in lines") + ", rule " +
                     std::to_string(c.syntax.split));
        char value[CONFIG_PIECE_SIZE] = "unchanged";
        EXPECT_EQ(config_file_find(path, c.key, &c.syntax, value), c.status);
        EXPECT_STREQ(value, c.status == EA_SUCCESS ? c.value : "unchanged");
    }
}

TEST(ConfigLeadingNumber, ReadsAsTheCLibraryAndStaysInside32Bits)
{
    const struct
    {
        const char *text;
        int32_t value;
    } cases[] = {
        {"42", 42},
        {"  -7x", -7},
        {"+5", 5},
        {"abc", 0},
        {"", 0},
        {"\t12", 12},
        {"1 2", 1},
        {"007", 7},
        {"2147483647", INT32_MAX},
        {"99999999999", INT32_MAX},
        {"-2147483648", INT32_MIN},
        {"-99999999999", INT32_MIN},
    };
    for (const auto &c : cases)
        EXPECT_EQ(config_leading_number(c.text), c.value) << c.text;
}

TEST_F(ConfigFile, MissingFileIsAnErrorForBothReaders)
{
    const std::string missing = folder_ + "/absent.cfg";
    int32_t value = 0;
    char buffer[16];
    EXPECT_EQ(config_file_read_int(missing.c_str(), "NUMBER_OF_LINKS", &value), EA_ERROR);
    EXPECT_EQ(config_file_read_string(missing.c_str(), "LOG_FILE_PATH", buffer, sizeof buffer), EA_ERROR);
}

} // namespace
