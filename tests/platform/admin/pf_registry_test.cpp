// The file-backed registry: reading values and keys as the console and the service do,
// enumeration order, changes that keep the operator's comments, malformed files left
// untouched, and two processes changing the file at once.
#include "platform/admin/pf_registry.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "support/permissions.h"
#include "support/test_support.h"

using qel_test::temp_dir;

namespace
{
// Points this process's registry at a file of the test's folder.
struct registry_fixture
{
    temp_dir dir;
    std::string file = dir.file("registry");

    registry_fixture() { setenv("QEL_REGISTRY_FILE", file.c_str(), 1); }
    ~registry_fixture() { unsetenv("QEL_REGISTRY_FILE"); }
    void write(const std::string &content) const { dir.write("registry", content); }
    std::string read() const { return dir.read("registry"); }
};

// An open key that closes itself.
struct key_holder
{
    pf_reg_key *key = nullptr;
    ~key_holder() { pf_reg_close_key(key); }
};

const char sample[] = "; installation of the test\n"
                      "[SOFTWARE\\QEL_IP]\n"
                      "\"SERVICESTATUS\"=dword:00000000\n"
                      "\"PATH\"=\"/opt/qel ip\"\n"
                      "\n"
                      "[SOFTWARE\\QEL_IP\\2]\n"
                      "# the TX market\n"
                      "\"path\"=\"/opt/qel_ip/bin/qel_ip_tx\"\n"
                      "\"argument\"=\"-c \\\"/opt/a b.cfg\\\" -x \\\\n\"\n"
                      "  \"INTERFACE_THREAD_INTERACTIVE_PORT\" = DWORD:2606  \r\n"
                      "[SOFTWARE\\QEL_IP\\COMMON\\1]\n"
                      "\"CURRENT_FILES_PATH\"=\"\"\n";
} // namespace

TEST(Registry, ReadsStringsAndNumbersWithNamesIgnoringCase)
{
    registry_fixture f;
    f.write(sample);
    key_holder market;
    ASSERT_EQ(pf_reg_open_key(nullptr, "software\\qel_ip\\2", &market.key), 0u);

    char text[64];
    EXPECT_EQ(pf_reg_query_string(market.key, "PATH", text, sizeof text), 0u);
    EXPECT_STREQ(text, "/opt/qel_ip/bin/qel_ip_tx");
    EXPECT_EQ(pf_reg_query_string(market.key, "Argument", text, sizeof text), 0u);
    EXPECT_STREQ(text, "-c \"/opt/a b.cfg\" -x \\n");
    uint32_t port = 0;
    EXPECT_EQ(pf_reg_query_dword(market.key, "interface_thread_interactive_port", &port), 0u);
    EXPECT_EQ(port, 0x2606u);

    // Wrong type, missing value, small buffer.
    EXPECT_EQ(pf_reg_query_dword(market.key, "path", &port), 1630u);
    EXPECT_EQ(pf_reg_query_string(market.key, "INTERFACE_THREAD_INTERACTIVE_PORT", text, sizeof text), 1630u);
    EXPECT_EQ(pf_reg_query_string(market.key, "VERSION", text, sizeof text), 2u);
    EXPECT_EQ(pf_reg_query_string(market.key, "path", text, 25), 234u);
    EXPECT_STREQ(text, "");
    EXPECT_EQ(pf_reg_query_string(market.key, "path", text, 26), 0u);

    // The Windows-shaped query: sizes count the string's zero, a dword is four bytes.
    uint32_t type = 0, size = 0;
    EXPECT_EQ(pf_reg_query_value(market.key, "path", &type, nullptr, &size), 0u);
    EXPECT_EQ(type, PF_REG_SZ);
    EXPECT_EQ(size, 26u);
    uint8_t bytes[4] = {};
    size = 3;
    EXPECT_EQ(pf_reg_query_value(market.key, "INTERFACE_THREAD_INTERACTIVE_PORT", &type, bytes, &size), 234u);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(pf_reg_query_value(market.key, "INTERFACE_THREAD_INTERACTIVE_PORT", &type, bytes, &size), 0u);
    EXPECT_EQ(type, PF_REG_DWORD);
    EXPECT_EQ(bytes[0], 0x06);
    EXPECT_EQ(bytes[1], 0x26);

    key_holder common;
    ASSERT_EQ(pf_reg_open_key(nullptr, "SOFTWARE\\QEL_IP\\COMMON\\1", &common.key), 0u);
    EXPECT_EQ(pf_reg_query_string(common.key, "CURRENT_FILES_PATH", text, sizeof text), 0u);
    EXPECT_STREQ(text, "");
}

TEST(Registry, KeysExistByTheirSectionOrOneBelow)
{
    registry_fixture f;
    f.write(sample);
    struct
    {
        const char *path;
        uint32_t expected;
    } cases[] = {
        {"SOFTWARE\\QEL_IP", 0},
        {"SOFTWARE", 0},
        {"SOFTWARE\\QEL_IP\\COMMON", 0},
        {"SOFTWARE\\QEL_IP\\3", 2},
        {"SOFTWARE\\QEL", 2},
        {"SOFTWARE\\QEL_IP\\2\\X", 2},
        {"SOFTWARE\\\\QEL_IP", 161},
        {"\\SOFTWARE", 161},
        {"SOFTWARE\\", 161},
        {"", 0},
    };
    for (const auto &c : cases)
    {
        key_holder key;
        EXPECT_EQ(pf_reg_open_key(nullptr, c.path, &key.key), c.expected) << c.path;
        EXPECT_EQ(key.key != nullptr, c.expected == 0) << c.path;
    }
    // Below an open key, and that key itself.
    key_holder root, market, self;
    ASSERT_EQ(pf_reg_open_key(nullptr, "SOFTWARE\\QEL_IP", &root.key), 0u);
    ASSERT_EQ(pf_reg_open_key(root.key, "2", &market.key), 0u);
    EXPECT_STREQ(pf_reg_key_path(market.key), "SOFTWARE\\QEL_IP\\2");
    ASSERT_EQ(pf_reg_open_key(root.key, "", &self.key), 0u);
    EXPECT_STREQ(pf_reg_key_path(self.key), "SOFTWARE\\QEL_IP");
}

TEST(Registry, MissingFileIsAnEmptyRegistryUntilAKeyIsCreated)
{
    registry_fixture f;
    key_holder key;
    EXPECT_EQ(pf_reg_open_key(nullptr, "SOFTWARE\\QEL_IP", &key.key), 2u);
    EXPECT_STREQ(pf_registry_file(), f.file.c_str());
    ASSERT_EQ(pf_reg_create_key(nullptr, "SOFTWARE\\QEL_IP", &key.key), 0u);
    EXPECT_EQ(pf_reg_set_string(key.key, "QEL_VAL", "x=1"), 0u);
    EXPECT_EQ(f.read(), "[SOFTWARE\\QEL_IP]\n\"QEL_VAL\"=\"x=1\"\n");
}

TEST(Registry, SubKeysComeInNameOrderIgnoringCase)
{
    registry_fixture f;
    f.write("[SOFTWARE\\QEL_IP\\COMMON\\2]\n[SOFTWARE\\QEL_IP\\7]\n[software\\qel_ip\\common\\1]\n"
            "[SOFTWARE\\QEL_IP\\1]\n[SOFTWARE\\QEL_IP\\b]\n[SOFTWARE\\QEL_IP\\A\\deep]\n");
    key_holder key;
    ASSERT_EQ(pf_reg_open_key(nullptr, "SOFTWARE\\QEL_IP", &key.key), 0u);
    std::vector<std::string> names;
    char name[101];
    uint32_t index = 0;
    for (;; ++index)
    {
        uint32_t size = sizeof name;
        uint32_t result = pf_reg_enum_key(key.key, index, name, &size);
        if (result == 259)
            break;
        ASSERT_EQ(result, 0u);
        EXPECT_EQ(size, strlen(name));
        names.push_back(name);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"1", "7", "A", "b", "COMMON"}));

    uint32_t size = 6; // "COMMON" needs seven bytes with its zero
    EXPECT_EQ(pf_reg_enum_key(key.key, 4, name, &size), 234u);
    EXPECT_EQ(size, 6u);

    key_holder root;
    ASSERT_EQ(pf_reg_open_key(nullptr, "", &root.key), 0u);
    size = sizeof name;
    EXPECT_EQ(pf_reg_enum_key(root.key, 0, name, &size), 0u);
    EXPECT_STREQ(name, "SOFTWARE");
    size = sizeof name;
    EXPECT_EQ(pf_reg_enum_key(root.key, 1, name, &size), 259u);
}

TEST(Registry, ChangesKeepCommentsBlankLinesAndOtherValues)
{
    registry_fixture f;
    f.write(sample);
    key_holder root, market, common, fresh;
    ASSERT_EQ(pf_reg_open_key(nullptr, "SOFTWARE\\QEL_IP", &root.key), 0u);
    ASSERT_EQ(pf_reg_open_key(root.key, "2", &market.key), 0u);
    ASSERT_EQ(pf_reg_open_key(root.key, "COMMON", &common.key), 0u); // no section of its own yet

    EXPECT_EQ(pf_reg_set_dword(root.key, "servicestatus", 1), 0u); // replaces, keeps the stored name's case
    EXPECT_EQ(pf_reg_set_string(root.key, "QEL_VAL", "a\\b \"c\""), 0u);
    EXPECT_EQ(pf_reg_set_string(market.key, "INTERFACE_THREAD_INTERACTIVE_PORT", "now text"), 0u);
    EXPECT_EQ(pf_reg_delete_value(market.key, "ARGUMENT"), 0u);
    EXPECT_EQ(pf_reg_delete_value(market.key, "ARGUMENT"), 2u);
    EXPECT_EQ(pf_reg_set_dword(common.key, "X", 0xABCDEF01u), 0u);
    ASSERT_EQ(pf_reg_create_key(root.key, "5", &fresh.key), 0u);

    EXPECT_EQ(f.read(), "; installation of the test\n"
                        "[SOFTWARE\\QEL_IP]\n"
                        "\"servicestatus\"=dword:00000001\n"
                        "\"PATH\"=\"/opt/qel ip\"\n"
                        "\"QEL_VAL\"=\"a\\\\b \\\"c\\\"\"\n"
                        "\n"
                        "[SOFTWARE\\QEL_IP\\2]\n"
                        "# the TX market\n"
                        "\"path\"=\"/opt/qel_ip/bin/qel_ip_tx\"\n"
                        "\"INTERFACE_THREAD_INTERACTIVE_PORT\"=\"now text\"\n"
                        "[SOFTWARE\\QEL_IP\\COMMON\\1]\n"
                        "\"CURRENT_FILES_PATH\"=\"\"\n"
                        "\n"
                        "[SOFTWARE\\QEL_IP\\COMMON]\n"
                        "\"X\"=dword:abcdef01\n"
                        "\n"
                        "[SOFTWARE\\QEL_IP\\5]\n");

    char text[32];
    EXPECT_EQ(pf_reg_query_string(root.key, "QEL_VAL", text, sizeof text), 0u);
    EXPECT_STREQ(text, "a\\b \"c\"");
}

TEST(Registry, RefusedChangesLeaveTheFileAlone)
{
    registry_fixture f;
    f.write(sample);
    key_holder root, gone;
    ASSERT_EQ(pf_reg_open_key(nullptr, "", &root.key), 0u);
    ASSERT_EQ(pf_reg_open_key(nullptr, "SOFTWARE\\QEL_IP\\2", &gone.key), 0u);
    key_holder market;
    ASSERT_EQ(pf_reg_open_key(nullptr, "SOFTWARE\\QEL_IP\\2", &market.key), 0u);
    EXPECT_EQ(pf_reg_set_string(market.key, "path", "two\nlines"), 87u);
    EXPECT_EQ(pf_reg_set_string(market.key, "", "x"), 87u);
    EXPECT_EQ(pf_reg_set_string(root.key, "AT_ROOT", "x"), 5u);
    EXPECT_EQ(f.read(), sample);

    f.write("[SOFTWARE\\QEL_IP]\n");
    EXPECT_EQ(pf_reg_set_string(gone.key, "path", "x"), 1018u);
    EXPECT_EQ(f.read(), "[SOFTWARE\\QEL_IP]\n");
}

TEST(Registry, MalformedFileIsReportedWithItsLineAndNeverRewritten)
{
    using namespace std::string_literals;
    struct
    {
        std::string content;
        const char *line;
    } cases[] = {
        {"\"PATH\"=\"x\"\n", "line 1:"},
        {"[SOFTWARE\\QEL_IP]\nPATH=x\n", "line 2:"},
        {"[SOFTWARE\\QEL_IP]\n\"PATH\"=\"unterminated\n", "line 2:"},
        {"[SOFTWARE\\QEL_IP]\n\"PATH\"=\"x\" tail\n", "line 2:"},
        {"[SOFTWARE\\QEL_IP]\n\"PATH\"=\"bad \\q escape\"\n", "line 2:"},
        {"[SOFTWARE\\QEL_IP]\n\"N\"=dword:123456789\n", "line 2:"},
        {"[SOFTWARE\\QEL_IP]\n\"N\"=dword:12G4\n", "line 2:"},
        {"[SOFTWARE\\QEL_IP]\n\"N\"=dword:\n", "line 2:"},
        {"[SOFTWARE\\QEL_IP]\n\"\"=\"x\"\n", "line 2:"},
        {"[SOFTWARE\\QEL_IP]\n\"N\" \"x\"\n", "line 2:"},
        {"[SOFTWARE\\QEL_IP\n", "line 1:"},
        {"[]\n", "line 1:"},
        {"[SOFTWARE\\\\QEL_IP]\n", "line 1:"},
        {"[SOFTWARE\\QEL_IP]\n[software\\qel_ip]\n", "line 2:"},
        {"[SOFTWARE\\QEL_IP]\n\"n\"=\"1\"\n\"N\"=\"2\"\n", "line 3:"},
        {"; fine\n[SOFTWARE\\QEL_IP]\n\"N\"=\"a\0b\"\n"s, "line 3:"},
    };
    for (const auto &c : cases)
    {
        registry_fixture f;
        const std::string &content = c.content;
        f.write(content);
        key_holder key;
        EXPECT_EQ(pf_reg_open_key(nullptr, "SOFTWARE", &key.key), 1009u) << content;
        EXPECT_NE(std::string(pf_reg_problem()).find(c.line), std::string::npos) << pf_reg_problem();
        EXPECT_NE(std::string(pf_reg_problem()).find(f.file), std::string::npos) << pf_reg_problem();
        EXPECT_EQ(pf_reg_create_key(nullptr, "SOFTWARE\\QEL_IP\\9", &key.key), 1009u) << c.line;
        EXPECT_EQ(f.read(), content) << c.line;
    }
}

TEST(Registry, TwoProcessesWritingAtOnceLoseNoChange)
{
    registry_fixture f;
    f.write("[SOFTWARE\\QEL_IP]\n");
    const int per_process = 40;
    pid_t children[2];
    for (int child = 0; child < 2; ++child)
    {
        children[child] = fork();
        ASSERT_GE(children[child], 0);
        if (children[child] == 0)
        {
            pf_reg_key *key = nullptr;
            int failures = pf_reg_open_key(nullptr, "SOFTWARE\\QEL_IP", &key) == 0 ? 0 : 1;
            for (int i = 0; i < per_process && failures == 0; ++i)
            {
                std::string name = "V" + std::to_string(child) + "_" + std::to_string(i);
                failures += pf_reg_set_dword(key, name.c_str(), static_cast<uint32_t>(i)) == 0 ? 0 : 1;
                pf_reg_key *sub = nullptr;
                std::string sub_name = std::to_string(child * 100 + i);
                failures += pf_reg_create_key(key, sub_name.c_str(), &sub) == 0 ? 0 : 1;
                pf_reg_close_key(sub);
            }
            pf_reg_close_key(key);
            _exit(failures == 0 ? 0 : 1);
        }
    }
    for (pid_t child : children)
    {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    key_holder key;
    ASSERT_EQ(pf_reg_open_key(nullptr, "SOFTWARE\\QEL_IP", &key.key), 0u);
    for (int child = 0; child < 2; ++child)
    {
        for (int i = 0; i < per_process; ++i)
        {
            std::string name = "V" + std::to_string(child) + "_" + std::to_string(i);
            uint32_t value = 99;
            EXPECT_EQ(pf_reg_query_dword(key.key, name.c_str(), &value), 0u) << name;
            EXPECT_EQ(value, static_cast<uint32_t>(i));
        }
    }
    uint32_t keys = 0;
    char name[32];
    for (uint32_t size = sizeof name; pf_reg_enum_key(key.key, keys, name, &size) == 0; size = sizeof name)
        ++keys;
    EXPECT_EQ(keys, 2u * per_process);
    // No temporary file is left behind.
    EXPECT_EQ(f.dir.list(), std::vector<std::string>{"registry"});
}

TEST(Registry, UnreadableFileOrFolderIsAccessDenied)
{
    registry_fixture f;
    f.write(sample);
    key_holder key;
    ASSERT_EQ(pf_reg_open_key(nullptr, "SOFTWARE\\QEL_IP", &key.key), 0u);
    qel_test::permissions_bind as_a_user;
    ASSERT_TRUE(as_a_user.held());
    chmod(f.dir.path().c_str(), 0500);
    EXPECT_EQ(pf_reg_set_dword(key.key, "SERVICESTATUS", 1), 5u);
    chmod(f.dir.path().c_str(), 0700);
    chmod(f.file.c_str(), 0);
    key_holder other;
    EXPECT_EQ(pf_reg_open_key(nullptr, "SOFTWARE\\QEL_IP", &other.key), 5u);
    chmod(f.file.c_str(), 0600);
}

TEST(Registry, ExampleRegistryFileReadsAsTheServiceAndConsoleRead)
{
    setenv("QEL_REGISTRY_FILE", QEL_TEST_DATA_DIR "/../../config/registry", 1);
    key_holder root, market, common;
    ASSERT_EQ(pf_reg_open_key(nullptr, "SOFTWARE\\QEL_IP", &root.key), 0u) << pf_reg_problem();
    uint32_t status = 1;
    EXPECT_EQ(pf_reg_query_dword(root.key, "SERVICESTATUS", &status), 0u);
    EXPECT_EQ(status, 0u);
    ASSERT_EQ(pf_reg_open_key(root.key, "2", &market.key), 0u);
    uint32_t port = 0;
    EXPECT_EQ(pf_reg_query_dword(market.key, "INTERFACE_THREAD_INTERACTIVE_PORT", &port), 0u);
    EXPECT_EQ(port, 9702u) << "the interactive port of config/qel_ip.cfg";
    ASSERT_EQ(pf_reg_open_key(root.key, "COMMON\\1", &common.key), 0u);
    unsetenv("QEL_REGISTRY_FILE");
}
