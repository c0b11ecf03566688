// The configuration file rewrite: which lines change, which survive byte for byte, and
// that a rewrite which cannot finish leaves the file as it was.
#include "tools/parmset/write_config_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/permissions.h"
#include "support/test_support.h"
#include "tools/parmset/parmset_status.h"

using qel_test::temp_dir;

namespace
{

const std::string k_long_value(600, 'x');

struct rewrite_case
{
    const char *what;
    std::string before;
    std::vector<parameter_request> requests;
    std::string after;
    int result;
};

void PrintTo(const rewrite_case &c, std::ostream *out)
{
    *out << c.what;
}

class ConfigureParam : public testing::TestWithParam<rewrite_case>
{
};

TEST_P(ConfigureParam, RewritesOnlyTheRequestedLines)
{
    const rewrite_case &c = GetParam();
    temp_dir dir;
    dir.write("qel_ip.cfg", c.before);
    std::string message;
    EXPECT_EQ(configure_param(dir.file("qel_ip.cfg"), c.requests, &message, nullptr), c.result) << message;
    EXPECT_EQ(dir.read("qel_ip.cfg"), c.after);
    EXPECT_EQ(dir.list(), std::vector<std::string>{"qel_ip.cfg"}) << "no temporary file is left";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ConfigureParam,
    testing::Values(rewrite_case{"every line of a repeated name, and a missing name appended",
                                 "A=0\nB=0\nX=9\nB=0\n",
                                 {{"A", "1"}, {"B", "2"}, {"C", "3"}},
                                 "A=1\nB=2\nX=9\nB=2\nC=3\n",
                                 PARMSET_LINE_APPENDED},
                    rewrite_case{"deleting a missing name adds the last newline only",
                                 "A=1\nB=2",
                                 {{"Z", ""}},
                                 "A=1\nB=2\n",
                                 PARMSET_UNCHANGED},
                    rewrite_case{"deleting removes every line of the name",
                                 "A=1\nB=2\nA=3\n",
                                 {{"A", ""}},
                                 "B=2\n",
                                 PARMSET_LINE_DELETED},
                    rewrite_case{"CRLF lines keep their ends, the rewritten one too",
                                 "A=1\r\nB=2\r\n",
                                 {{"A", "5"}},
                                 "A=5\r\nB=2\r\n",
                                 PARMSET_LINE_WRITTEN},
                    rewrite_case{"a 600-character line is copied whole",
                                 "LONG=" + k_long_value + "\nA=1\n",
                                 {{"A", "2"}},
                                 "LONG=" + k_long_value + "\nA=2\n",
                                 PARMSET_LINE_WRITTEN},
                    rewrite_case{"a 600-character value is written whole",
                                 "A=1\n",
                                 {{"A", k_long_value}},
                                 "A=" + k_long_value + "\n",
                                 PARMSET_LINE_WRITTEN},
                    rewrite_case{"a name asked twice takes its later value",
                                 "A=0\n",
                                 {{"A", "1"}, {"A", "2"}},
                                 "A=2\n",
                                 PARMSET_LINE_WRITTEN},
                    rewrite_case{"a name asked twice is appended once",
                                 "",
                                 {{"A", "1"}, {"A", "2"}},
                                 "A=2\n",
                                 PARMSET_LINE_APPENDED},
                    rewrite_case{"names match whole, not by prefix",
                                 "AB=1\nA=2\nA B=3\n",
                                 {{"A", "3"}},
                                 "AB=1\nA=3\nA B=3\n",
                                 PARMSET_LINE_WRITTEN},
                    rewrite_case{"a line without \"=\" is named by its whole text",
                                 "FLAG\r\nA=1\n",
                                 {{"FLAG", ""}},
                                 "A=1\n",
                                 PARMSET_LINE_DELETED},
                    rewrite_case{"comments, blank lines and NUL bytes are copied",
                                 std::string("# c=1\n\nX=\0y\nA=1\n", 16),
                                 {{"A", "2"}},
                                 std::string("# c=1\n\nX=\0y\nA=2\n", 16),
                                 PARMSET_LINE_WRITTEN}),
    [](const testing::TestParamInfo<rewrite_case> &info) { return "Case" + std::to_string(info.index); });

TEST(RemoveDuplicateParams, DeletesEveryLineOfTheNameAndCountsThem)
{
    temp_dir dir;
    dir.write("qel_ip.cfg", "B=1\r\nA=2\nB=3");
    std::string message;
    uint32_t count = 0;
    ASSERT_EQ(get_duplicate_count_of_param(dir.file("qel_ip.cfg"), "B", &count, &message, nullptr), 0);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(remove_duplicate_params(dir.file("qel_ip.cfg"), "B", &message, nullptr), 2);
    EXPECT_EQ(dir.read("qel_ip.cfg"), "A=2\n");
    EXPECT_EQ(get_duplicate_count_of_param(dir.file("missing.cfg"), "B", &count, &message, nullptr),
              PARMSET_OPEN_FAILED);
    EXPECT_EQ(message, "Couldn't open file [" + dir.file("missing.cfg") + "] in read mode.");
}

struct read_case
{
    std::string content;
    const char *name;
    int result;
    std::string value;
};

TEST(ReadConfigParam, ReadsTheValueAsTheGatewayDelimitsIt)
{
    const read_case cases[] = {
        {"A=1\n", "A", PARMSET_SUCCESS, "1"},
        {"A=1\r\n", "A", PARMSET_SUCCESS, "1"},
        {"A=x=y\n", "A", PARMSET_SUCCESS, "x"},
        {"A==1\n", "A", PARMSET_SUCCESS, "1"},
        {"A=1\nA=2\n", "A", PARMSET_SUCCESS, "1"},
        {"A=two words\n", "A", PARMSET_SUCCESS, "two words"},
        {"L=" + k_long_value + "\n", "L", PARMSET_SUCCESS, k_long_value},
        {"L=" + std::string(1023, 'v') + "\n", "L", PARMSET_SUCCESS, std::string(1023, 'v')},
        {"L=" + std::string(1024, 'v') + "\n", "L", PARMSET_VALUE_TOO_LONG, ""},
        {"A\n", "A", PARMSET_NAME_WITHOUT_VALUE, ""},
        {"A=\r\n", "A", PARMSET_NAME_WITHOUT_VALUE, ""},
        {"AB=1\n", "A", PARMSET_NAME_NOT_FOUND, ""},
        {"", "A", PARMSET_NAME_NOT_FOUND, ""},
    };
    for (const read_case &c : cases)
    {
        temp_dir dir;
        dir.write("qel_ip.cfg", c.content);
        std::string value, message;
        EXPECT_EQ(read_config_param(dir.file("qel_ip.cfg"), c.name, &value, &message), c.result) << c.content;
        EXPECT_EQ(value, c.value) << c.content;
    }
    temp_dir dir;
    std::string value, message;
    EXPECT_EQ(read_config_param(dir.file("missing.cfg"), "A", &value, &message), PARMSET_OPEN_FAILED);
    EXPECT_EQ(read_config_param(dir.path(), "A", &value, &message), PARMSET_OPEN_FAILED) << "a folder";
}

TEST(ConfigFileRewrite, KeepsTheModeAndALinkToTheFile)
{
    temp_dir dir;
    mkdir(dir.file("real").c_str(), 0700);
    dir.write("real/qel_ip.cfg", "A=1\n");
    chmod(dir.file("real/qel_ip.cfg").c_str(), 0640);
    ASSERT_EQ(symlink("real/qel_ip.cfg", dir.file("link.cfg").c_str()), 0);
    std::string message;
    ASSERT_EQ(configure_param(dir.file("link.cfg"), {{"A", "2"}}, &message, nullptr), PARMSET_LINE_WRITTEN);
    struct stat info;
    ASSERT_EQ(lstat(dir.file("link.cfg").c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode)) << "the link stays a link";
    ASSERT_EQ(stat(dir.file("real/qel_ip.cfg").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(dir.read("real/qel_ip.cfg"), "A=2\n");
    EXPECT_EQ(dir.list("real"), std::vector<std::string>{"qel_ip.cfg"});
}

TEST(ConfigFileRewrite, AFolderThatRefusesTheTemporaryFileLeavesTheFileAsItWas)
{
    temp_dir dir;
    qel_test::permissions_bind as_a_user;
    ASSERT_TRUE(as_a_user.held());
    mkdir(dir.file("locked").c_str(), 0700);
    const std::string as_it_was = "A=1\r\nLONG=" + k_long_value + "\nB=2";
    dir.write("locked/qel_ip.cfg", as_it_was);
    chmod(dir.file("locked").c_str(), 0500);
    std::string message;
    EXPECT_EQ(configure_param(dir.file("locked/qel_ip.cfg"), {{"A", "9"}}, &message, nullptr),
              PARMSET_REWRITE_FAILED);
    EXPECT_NE(message.find("Couldn't open temporary file"), std::string::npos) << message;
    chmod(dir.file("locked").c_str(), 0700);
    EXPECT_EQ(dir.read("locked/qel_ip.cfg"), as_it_was);
    EXPECT_EQ(dir.list("locked"), std::vector<std::string>{"qel_ip.cfg"});
}

} // namespace
