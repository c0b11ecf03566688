// The console's configuration-file readers and writer: the readers' results on odd
// lines, the writer's rewrite table, whole long lines, kept permissions, a folder where
// no temporary file can be made, and the gateway's own reader on what the writer wrote.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "common/config_file.h"
#include "console/kova_config_file.h"
#include "support/test_support.h"

namespace
{
const std::string k_sample = "BOX_ID=101\n"
                             "BOX_ID_X=7\n"
                             "A=B=C\n"
                             "EMPTY=\n"
                             "NAMEONLY\n"
                             " SPACED = 5\n"
                             "=NONAME\n"
                             "INT_NEG=-42\n"
                             "INT_JUNK=12abc\n"
                             "INT_NONE=abc\n"
                             "DOUBLE==3\n"
                             "WIN=5\r\n"
                             "LAST=9";

struct int_case
{
    const char *name;
    uint32_t result;
    int32_t value;
};

struct string_case
{
    const char *name;
    uint32_t result;
    const char *value;
};

// The writer's tables as the dialogs fill them: fixed 40-byte slots.
struct table
{
    std::vector<std::array<char, KOVA_PARAM_SLOT_SIZE>> names, values;

    table(std::initializer_list<std::pair<const char *, const char *>> entries)
    {
        for (const auto &e : entries)
        {
            std::array<char, KOVA_PARAM_SLOT_SIZE> name = {}, value = {};
            strncpy(name.data(), e.first, KOVA_PARAM_SLOT_SIZE - 1);
            strncpy(value.data(), e.second, KOVA_PARAM_SLOT_SIZE - 1);
            names.push_back(name);
            values.push_back(value);
        }
    }

    uint32_t apply(const std::string &path, char *message) const
    {
        using slot = const char[KOVA_PARAM_SLOT_SIZE];
        return ReplaceParameterValues(path.c_str(), reinterpret_cast<slot *>(names.data()),
                                      reinterpret_cast<slot *>(values.data()),
                                      static_cast<int32_t>(names.size()), message);
    }
};
} // namespace

TEST(ConsoleConfigReaders, IntegerReaderTakesBlankSeparatedWords)
{
    qel_test::temp_dir dir;
    dir.write("qel_ip.cfg", k_sample);
    const int_case cases[] = {
        {"BOX_ID", 0, 101},
        {"BOX_ID_X", 0, 7},
        {"A", 0, 0},
        {"EMPTY", KOVA_PARAM_NOT_FOUND, -5},
        {"NAMEONLY", KOVA_PARAM_NOT_FOUND, -5},
        {"SPACED", KOVA_PARAM_NOT_FOUND, -5},
        {"NONAME", KOVA_PARAM_NOT_FOUND, -5},
        {"INT_NEG", 0, -42},
        {"INT_JUNK", 0, 12},
        {"INT_NONE", 0, 0},
        {"DOUBLE", KOVA_PARAM_NOT_FOUND, -5},
        {"WIN", 0, 5},
        {"LAST", 0, 9},
        {"MISSING", KOVA_PARAM_NOT_FOUND, -5},
        {"box_id", KOVA_PARAM_NOT_FOUND, -5},
    };
    for (const int_case &c : cases)
    {
        int32_t value = -5;
        EXPECT_EQ(GetIntParameterValue(dir.file("qel_ip.cfg").c_str(), c.name, &value), c.result) << c.name;
        EXPECT_EQ(value, c.value) << c.name;
    }
    int32_t value = -5;
    EXPECT_EQ(GetIntParameterValue(dir.file("absent.cfg").c_str(), "BOX_ID", &value), 300u);
}

TEST(ConsoleConfigReaders, StringReaderTakesTheRestOfTheLine)
{
    qel_test::temp_dir dir;
    dir.write("qel_ip.cfg", k_sample);
    const string_case cases[] = {
        {"BOX_ID", 0, "101"},
        {"A", 0, "B=C"},
        {"EMPTY", KOVA_PARAM_NOT_FOUND, "untouched"},
        {"NAMEONLY", KOVA_PARAM_NOT_FOUND, "untouched"},
        {" SPACED ", 0, " 5"},
        {"SPACED", KOVA_PARAM_NOT_FOUND, "untouched"},
        {"DOUBLE", 0, "=3"},
        {"WIN", 0, "5"},
        {"LAST", 0, "9"},
        {"MISSING", KOVA_PARAM_NOT_FOUND, "untouched"},
    };
    for (const string_case &c : cases)
    {
        char buffer[64] = "untouched";
        EXPECT_EQ(GetStringParameterValue(dir.file("qel_ip.cfg").c_str(), c.name, buffer, sizeof buffer),
                  c.result)
            << c.name;
        EXPECT_STREQ(buffer, c.value) << c.name;
    }
    // A value as long as the buffer less one fits; one more does not, and the buffer stays.
    char buffer[4] = "xyz";
    EXPECT_EQ(GetStringParameterValue(dir.file("qel_ip.cfg").c_str(), "BOX_ID", buffer, 4), 0u);
    EXPECT_STREQ(buffer, "101");
    char small[3] = "xy";
    EXPECT_EQ(GetStringParameterValue(dir.file("qel_ip.cfg").c_str(), "BOX_ID", small, 3),
              KOVA_PARAM_NOT_FOUND);
    EXPECT_STREQ(small, "xy");
    EXPECT_EQ(GetStringParameterValue(dir.file("absent.cfg").c_str(), "BOX_ID", small, 3), 300u);
}

TEST(ConsoleConfigReaders, LongLinesAreReadInPiecesAndNulBytesEndAText)
{
    qel_test::temp_dir dir;
    std::string long_line = "LONG=" + std::string(506, 'a') + "HIDDEN=1\n";
    std::string nul_line = std::string("NU\0L=1\n", 7);
    dir.write("qel_ip.cfg", long_line + nul_line + "AFTER=2\n");
    std::string path = dir.file("qel_ip.cfg");
    char buffer[1024] = "";
    ASSERT_EQ(GetStringParameterValue(path.c_str(), "LONG", buffer, sizeof buffer), 0u);
    EXPECT_EQ(std::string(buffer), std::string(506, 'a')) << "the first 511 characters are a line";
    ASSERT_EQ(GetStringParameterValue(path.c_str(), "HIDDEN", buffer, sizeof buffer), 0u);
    EXPECT_STREQ(buffer, "1") << "the rest of the line is a line of its own";
    ASSERT_EQ(GetStringParameterValue(path.c_str(), "AFTER", buffer, sizeof buffer), 0u);
    EXPECT_STREQ(buffer, "2");
    int32_t value = 0;
    EXPECT_EQ(GetIntParameterValue(path.c_str(), "AFTER", &value), 0u);
    EXPECT_EQ(value, 2);
    EXPECT_EQ(GetStringParameterValue(path.c_str(), "NU", buffer, sizeof buffer), KOVA_PARAM_NOT_FOUND);
}

TEST(ConsoleConfigWriter, RewritesReplacesRemovesAndAppends)
{
    struct writer_case
    {
        const char *what;
        std::string before;
        table changes;
        uint32_t result;
        std::string after;
    };
    const std::string long_line = "LONG=" + std::string(600, 'x') + "\n";
    const std::string nul_line = std::string("ODD\0=1\n", 7);
    const writer_case cases[] = {
        {"replace", "A=1\nB=2\n", {{"B", "3"}}, 9000, "A=1\nB=3\n"},
        {"remove", "A=1\nB=2\n", {{"A", ""}}, 9001, "B=2\n"},
        {"append", "A=1\nB=2\n", {{"C", "4"}}, 9002, "A=1\nB=2\nC=4\n"},
        {"empty value of an absent name", "A=1\n", {{"C", ""}}, 1, "A=1\n"},
        {"no entries", "A=1\nB", {}, 1, "A=1\nB\n"},
        {"last line without newline", "A=1\nB=2", {{"A", "5"}}, 9000, "A=5\nB=2\n"},
        {"a name twice is replaced twice", "A=1\nX=0\nA=2\n", {{"A", "7"}}, 9000, "A=7\nX=0\nA=7\n"},
        {"prefix names", "BOX_ID=1\nBOX_ID_X=2\n", {{"BOX_ID", "3"}}, 9000, "BOX_ID=3\nBOX_ID_X=2\n"},
        {"the last change decides", "A=1\nB=2\n", {{"A", ""}, {"Z", "1"}}, 9002, "B=2\nZ=1\n"},
        {"replace after append order", "A=1\n", {{"Z", "1"}, {"A", "2"}}, 9002, "A=2\nZ=1\n"},
        {"a line without = never matches", "A\nB=2\n", {{"A", "1"}}, 9002, "A\nB=2\nA=1\n"},
        {"names compare case-sensitively", "a=1\n", {{"A", "2"}}, 9002, "a=1\nA=2\n"},
        {"a 600-character line is copied whole",
         long_line + "A=1\n",
         {{"A", "2"}},
         9000,
         long_line + "A=2\n"},
        {"NUL bytes and carriage returns are copied",
         nul_line + "W=1\r\nA=1\n",
         {{"A", "2"}},
         9000,
         nul_line + "W=1\r\nA=2\n"},
        {"a value of 39 characters",
         "A=1\n",
         {{"A", "123456789012345678901234567890123456789"}},
         9000,
         "A=123456789012345678901234567890123456789\n"},
    };
    for (const writer_case &c : cases)
    {
        qel_test::temp_dir dir;
        dir.write("qel_ip.cfg", c.before);
        char message[KOVA_PARAM_MESSAGE_SIZE] = "";
        EXPECT_EQ(c.changes.apply(dir.file("qel_ip.cfg"), message), c.result) << c.what;
        EXPECT_EQ(dir.read("qel_ip.cfg"), c.after) << c.what;
        EXPECT_EQ(dir.list(), std::vector<std::string>{"qel_ip.cfg"})
            << c.what << ": no temporary file is left";
    }
}

TEST(ConsoleConfigWriter, KeepsThePermissionBits)
{
    qel_test::temp_dir dir;
    dir.write("qel_ip.cfg", "A=1\n");
    ASSERT_EQ(chmod(dir.file("qel_ip.cfg").c_str(), 0640), 0);
    char message[KOVA_PARAM_MESSAGE_SIZE] = "";
    ASSERT_EQ(table({{"A", "2"}}).apply(dir.file("qel_ip.cfg"), message), 9000u);
    struct stat status;
    ASSERT_EQ(stat(dir.file("qel_ip.cfg").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0640u);
}

TEST(ConsoleConfigWriter, AMissingFileAnswers300WithItsMessage)
{
    qel_test::temp_dir dir;
    char message[KOVA_PARAM_MESSAGE_SIZE] = "";
    std::string path = dir.file("absent.cfg");
    EXPECT_EQ(table({{"A", "2"}}).apply(path, message), 300u);
    EXPECT_EQ(std::string(message), "Couldn't open file [" + path + "] in read mode.");
    EXPECT_TRUE(dir.list().empty());
}

// Root ignores folder permissions: the rewrite then runs in a child without them.
TEST(ConsoleConfigWriter, AReadOnlyFolderLeavesTheOldFileAndAnswers200)
{
    qel_test::temp_dir dir;
    std::string folder = dir.file("ro");
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    std::string path = folder + "/qel_ip.cfg";
    dir.write("ro/qel_ip.cfg", "A=1\nB=2\n");
    ASSERT_EQ(chmod(path.c_str(), 0644), 0);
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    ASSERT_EQ(chmod(folder.c_str(), 0555), 0);

    int pipe_fds[2];
    ASSERT_EQ(pipe(pipe_fds), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0)
    {
        close(pipe_fds[0]);
        if (getuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(2);
        char message[KOVA_PARAM_MESSAGE_SIZE] = "";
        uint32_t result = table({{"A", "5"}, {"C", "3"}}).apply(path, message);
        std::string report = std::to_string(result) + " " + message;
        ssize_t written = write(pipe_fds[1], report.data(), report.size());
        _exit(written == static_cast<ssize_t>(report.size()) ? 0 : 3);
    }
    close(pipe_fds[1]);
    std::string report;
    char buffer[2048];
    ssize_t n;
    while ((n = read(pipe_fds[0], buffer, sizeof buffer)) > 0)
        report.append(buffer, static_cast<size_t>(n));
    close(pipe_fds[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(report.find("200 Couldn't open temporary file [" + path + "."), 0u) << report;
    EXPECT_NE(report.find("] in write mode."), std::string::npos) << report;
    EXPECT_EQ(dir.read("ro/qel_ip.cfg"), "A=1\nB=2\n");
    EXPECT_EQ(dir.list("ro"), std::vector<std::string>{"qel_ip.cfg"});
    chmod(folder.c_str(), 0755);
}

TEST(ConsoleConfigWriter, TheGatewaysReaderReadsWhatTheWriterWrote)
{
    qel_test::temp_dir dir;
    dir.write("qel_ip.cfg", "NUMBER_OF_LINKS=1\nMACHINE_LAN_IP=10.0.0.1\nBOX_ID=1\nBROKER_ID=11111\n"
                            "LOG_FILE_PATH=logs\n");
    char message[KOVA_PARAM_MESSAGE_SIZE] = "";
    // The eight values the market configuration dialog writes, in its order.
    table market({{"MACHINE_LAN_IP", "192.168.10.21"},
                  {"MACHINE_WAN_IP", "172.16.4.9"},
                  {"HOST_MACHINE_IP", "10.20.30.40"},
                  {"HOST_PORT_NUMBER", "10263"},
                  {"BOX_ID", "4711"},
                  {"BROKER_ID", "ZX901"},
                  {"PRIMARY_HOST_IP", "10.20.30.40"},
                  {"CURRENT_CONFIG", "PRIMARY"}});
    ASSERT_EQ(market.apply(dir.file("qel_ip.cfg"), message), 9002u);
    std::string path = dir.file("qel_ip.cfg");
    const char *strings[][2] = {{"MACHINE_LAN_IP", "192.168.10.21"}, {"MACHINE_WAN_IP", "172.16.4.9"},
                                {"HOST_MACHINE_IP", "10.20.30.40"},  {"BROKER_ID", "ZX901"},
                                {"LOG_FILE_PATH", "logs"},           {"CURRENT_CONFIG", "PRIMARY"}};
    for (const auto &s : strings)
    {
        char gateway[64] = "", console[64] = "";
        EXPECT_EQ(config_file_read_string(path.c_str(), s[0], gateway, sizeof gateway), 0) << s[0];
        EXPECT_STREQ(gateway, s[1]);
        EXPECT_EQ(GetStringParameterValue(path.c_str(), s[0], console, sizeof console), 0u) << s[0];
        EXPECT_STREQ(console, s[1]);
    }
    const std::pair<const char *, int32_t> numbers[] = {
        {"HOST_PORT_NUMBER", 10263}, {"BOX_ID", 4711}, {"NUMBER_OF_LINKS", 1}};
    for (const auto &number : numbers)
    {
        int32_t gateway = 0, console = 0;
        EXPECT_EQ(config_file_read_int(path.c_str(), number.first, &gateway), 0) << number.first;
        EXPECT_EQ(gateway, number.second);
        EXPECT_EQ(GetIntParameterValue(path.c_str(), number.first, &console), 0u) << number.first;
        EXPECT_EQ(console, number.second);
    }
}

TEST(ConsoleConfigFiles, FileTitleIsTheBaseName)
{
    char title[16];
    EXPECT_EQ(GetFileTitleWrapper("/opt/qel/config/fix_tx.cfg", title, sizeof title), 0);
    EXPECT_STREQ(title, "fix_tx.cfg");
    EXPECT_EQ(GetFileTitleWrapper("fix_tx.cfg", title, sizeof title), 0);
    EXPECT_STREQ(title, "fix_tx.cfg");
    EXPECT_EQ(GetFileTitleWrapper("/opt/qel/config/", title, sizeof title), -1);
    EXPECT_EQ(GetFileTitleWrapper("/a/a_rather_long_name.cfg", title, sizeof title), 23) << "the size needed";
}
