// parmset as installers run it: a real process with its own registry file and folders. Each
// command line gives one RESULT line, the result's low eight bits as the exit status, one
// line on standard error for a failure, and leaves the file as it was when it fails.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <thread>

#include "support/test_support.h"
#include "support/tool_process.h"

using qel_test::temp_dir;
using qel_test::tool_options;
using qel_test::tool_result;

namespace
{

// CRLF, a 600-character line, a repeated name and a name without a value.
const std::string k_config = "A=1\r\nB=2\nLONG=" + std::string(600, 'x') + "\nB=3\nEMPTY=\n";

struct parmset_env
{
    temp_dir dir;
    tool_options options;

    parmset_env()
    {
        mkdir(dir.file("logs").c_str(), 0700);
        dir.write("registry",
                  "[SOFTWARE\\QEL_IP]\n\"PARMSET_LOG_FILES_PATH\"=\"" + dir.file("logs") + "\"\n");
        dir.write("qel_ip.cfg", k_config);
        options.folder = dir.path();
        options.env["QEL_REGISTRY_FILE"] = dir.file("registry");
    }

    tool_result run(std::vector<std::string> args) const
    {
        args.insert(args.begin(), PARMSET_BINARY);
        return qel_test::run_tool(args, options);
    }

    std::string log() const
    {
        std::string text;
        for (const std::string &name : dir.list("logs"))
            text += dir.read("logs/" + name);
        return text;
    }
};

int line_count(const std::string &text)
{
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

struct command_case
{
    std::vector<std::string> args;
    int result;
    const char *log_text; // a line the log must hold ("" for none)
};

TEST(ParmsetCommand, RefusedCommandLinesLeaveTheFileAndSayWhy)
{
    const command_case cases[] = {
        {{"-a"}, 5000, "Too few arguments"},
        {{"-a", "qel_ip.cfg", "A"}, 5000, "Too few arguments"},
        {{"-m", "qel_ip.cfg", "A", "5", "B"}, 5002, "Odd number"},
        {{"-d", "qel_ip.cfg"}, 5000, "Too few arguments"},
        {{"-r", "qel_ip.cfg"}, 5000, "Too few arguments"},
        {{"-g", "qel_ip.cfg"}, 5000, "Too few arguments"},
        {{"-a", "qel_ip.cfg", "", "5"}, 5003, "Parameter name is blank"},
        {{"-a", "qel_ip.cfg", "A", "5", "B", ""}, 5004, "Parameter value is blank"},
        {{"-a", "qel_ip.cfg", "A=B", "5"}, 5003, "holds \"=\" or a line break"},
        {{"-a", "qel_ip.cfg", "A\nHOST_PORT_NUMBER", "5"}, 5003, "holds \"=\" or a line break"},
        {{"-a", "qel_ip.cfg", "A", "5\nHOST_PORT_NUMBER=1"}, 5004, "holds a line break"},
        {{"-a", "qel_ip.cfg", "A", "5 MAX_TWS_CLIENTS=1"}, 5004, "holds a blank or a tab"},
        {{"-m", "qel_ip.cfg", "A", "5", "B", "x\tBOX_ID=2"}, 5004, "holds a blank or a tab"},
        {{"-a", "qel_ip.cfg", "A", " 5"}, 5004, "holds a blank or a tab"},
        {{"-d", "qel_ip.cfg", "A", ""}, 5003, "Parameter name is blank"},
        {{"-a", "missing.cfg", "A", "5"}, 300, "KOVA could not open QEL config file"},
        {{"-d", "logs", "A"}, 300, "Couldn't open file [logs] in read mode."},
        {{"-r", "missing.cfg", "A"}, 300, "Couldn't open file [missing.cfg] in read mode."},
        {{"-r", "qel_ip.cfg", "A"}, 7000, "occurs only once"},
        {{"-r", "qel_ip.cfg", "Z"}, -1, "not found"},
        {{"-g", "qel_ip.cfg", "Z"}, -1, "not found"},
        {{"-g", "qel_ip.cfg", "EMPTY"}, -2, "has no value"},
        {{"-g", "missing.cfg", "A"}, 300, "in read mode"},
    };
    for (const command_case &c : cases)
    {
        parmset_env env;
        tool_result r = env.run(c.args);
        std::string what = c.args[0] + (c.args.size() > 2 ? " " + c.args[2] : "");
        EXPECT_EQ(r.out, "RESULT=" + std::to_string(c.result) + "\n") << what;
        EXPECT_EQ(r.status, c.result & 0xff) << what;
        EXPECT_EQ(line_count(r.err), 1) << what << ": " << r.err;
        EXPECT_EQ(r.err.compare(0, 9, "parmset: "), 0) << r.err;
        EXPECT_EQ(env.dir.read("qel_ip.cfg"), k_config) << what;
        EXPECT_NE(env.log().find(c.log_text), std::string::npos) << what << "\n" << env.log();
        EXPECT_EQ(env.dir.list(), (std::vector<std::string>{"logs", "qel_ip.cfg", "registry"})) << what;
    }
}

TEST(ParmsetCommand, ConcurrentRunsLoseNoChange)
{
    // Two installers appending to one file at once: each run waits for the other's
    // rewrite, so every appended line survives.
    parmset_env env;
    const int runs = 60;
    int failed[2] = {0, 0};
    auto appender = [&](int who)
    {
        for (int i = 0; i < runs; ++i)
        {
            std::string name = "R" + std::to_string(who) + "_" + std::to_string(i);
            if (env.run({"-a", "qel_ip.cfg", name, std::to_string(i)}).status != 1)
                ++failed[who];
        }
    };
    std::thread first(appender, 0);
    std::thread second(appender, 1);
    first.join();
    second.join();
    EXPECT_EQ(failed[0] + failed[1], 0);
    std::string text = env.dir.read("qel_ip.cfg");
    EXPECT_EQ(text.compare(0, k_config.size(), k_config), 0) << "the lines before are kept";
    int lost = 0;
    for (int who = 0; who < 2; ++who)
    {
        for (int i = 0; i < runs; ++i)
        {
            std::string line =
                "\nR" + std::to_string(who) + "_" + std::to_string(i) + "=" + std::to_string(i) + "\n";
            lost += text.find(line) == std::string::npos ? 1 : 0;
        }
    }
    EXPECT_EQ(lost, 0);
    EXPECT_EQ(line_count(text), line_count(k_config) + 2 * runs);
    EXPECT_EQ(env.dir.list(), (std::vector<std::string>{"logs", "qel_ip.cfg", "registry"}));
}

TEST(ParmsetCommand, ChangesGiveTheirCounts)
{
    parmset_env env;
    tool_result r = env.run({"-a", "qel_ip.cfg", "A", "8", "B", "7", "NEW", "9"});
    EXPECT_EQ(r.out, "RESULT=3\n");
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.err, "");
    std::string expected = k_config;
    expected.replace(expected.find("A=1"), 3, "A=8");
    expected.replace(expected.find("B=2"), 3, "B=7");
    expected.replace(expected.find("B=3"), 3, "B=7");
    EXPECT_EQ(env.dir.read("qel_ip.cfg"), expected + "NEW=9\n")
        << "both lines of B, CRLF and the long line kept";

    r = env.run({"-d", "qel_ip.cfg", "MISSING"});
    EXPECT_EQ(r.out, "RESULT=1\n");
    EXPECT_EQ(env.dir.read("qel_ip.cfg"), expected + "NEW=9\n");

    r = env.run({"-r", "qel_ip.cfg", "B"});
    EXPECT_EQ(r.out, "RESULT=2\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(env.dir.read("qel_ip.cfg").find("B="), std::string::npos);
    EXPECT_NE(env.log().find("Removed occurrance#2 of B from config file"), std::string::npos);

    r = env.run({"-d", "qel_ip.cfg", "A", "NEW"});
    EXPECT_EQ(r.out, "RESULT=2\n");
    EXPECT_EQ(env.dir.read("qel_ip.cfg").substr(0, 5), "LONG=");
}

TEST(ParmsetCommand, OtherFirstWordsDoNothing)
{
    const std::vector<std::vector<std::string>> lines = {{},
                                                         {"-add", "qel_ip.cfg", "A", "5"},
                                                         {"-x", "qel_ip.cfg"},
                                                         {"a-", "qel_ip.cfg"},
                                                         {"-A", "qel_ip.cfg", "A", "5"}};
    for (const std::vector<std::string> &args : lines)
    {
        parmset_env env;
        tool_result r = env.run(args);
        EXPECT_EQ(r.out, "RESULT=0\n");
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(env.dir.read("qel_ip.cfg"), k_config);
        EXPECT_EQ(env.dir.list("logs"), std::vector<std::string>{}) << "nothing logged either";
    }
    parmset_env env;
    tool_result r = env.run({"--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.compare(0, 15, "usage: parmset "), 0) << r.out;
    EXPECT_EQ(r.out.find("RESULT="), r.out.find("RESULT=<n>"));
}

TEST(ParmsetCommand, RegistryValueQelValIsCopiedAndDeleted)
{
    parmset_env env;
    tool_result r = env.run({"-g", "qel_ip.cfg", "A"});
    EXPECT_EQ(r.out, "RESULT=0\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(env.dir.read("registry").find("\"QEL_VAL\"=\"1\""), std::string::npos)
        << "the CR is not copied";

    r = env.run({"-g", "qel_ip.cfg", "LONG"});
    EXPECT_EQ(r.out, "RESULT=0\n");
    EXPECT_NE(env.dir.read("registry").find("\"QEL_VAL\"=\"" + std::string(600, 'x') + "\""),
              std::string::npos);

    r = env.run({"-g", "qel_ip.cfg", "Z"});
    EXPECT_EQ(r.out, "RESULT=-1\n");
    EXPECT_EQ(env.dir.read("registry").find("QEL_VAL"), std::string::npos) << "no stale value is left";

    r = env.run({"-c"});
    EXPECT_EQ(r.out, "RESULT=2\n") << "QEL_VAL does not exist";
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(line_count(r.err), 1);

    env.dir.write("qel_ip.cfg", "V=" + std::string(1024, 'v') + "\n");
    r = env.run({"-g", "qel_ip.cfg", "V"});
    EXPECT_EQ(r.out, "RESULT=-3\n");
    EXPECT_EQ(r.status, 253);

    env.dir.write("qel_ip.cfg", "V=5\n");
    ASSERT_EQ(env.run({"-g", "qel_ip.cfg", "V"}).status, 0);
    r = env.run({"-c"});
    EXPECT_EQ(r.out, "RESULT=0\n");
    EXPECT_EQ(env.dir.read("registry").find("QEL_VAL"), std::string::npos);
}

TEST(ParmsetCommand, RegistryFailuresGiveTheRegistrysCode)
{
    parmset_env env;
    env.dir.write("registry", "[SOFTWARE\\QEL_IP]\nnot a value line\n");
    for (const std::vector<std::string> &args :
         std::vector<std::vector<std::string>>{{"-g", "qel_ip.cfg", "A"}, {"-c"}})
    {
        tool_result r = env.run(args);
        EXPECT_EQ(r.out, "RESULT=1009\n") << args[0] << ": a malformed registry is never a success";
        EXPECT_EQ(r.status, 1009 & 0xff);
        EXPECT_NE(r.err.find("line 2"), std::string::npos) << r.err;
        EXPECT_EQ(env.dir.read("registry"), "[SOFTWARE\\QEL_IP]\nnot a value line\n");
    }
    // The log falls back to the current folder when the registry cannot say.
    std::vector<std::string> listed = env.dir.list();
    EXPECT_EQ(std::count_if(listed.begin(), listed.end(),
                            [](const std::string &name) { return name.compare(0, 8, "parmset.") == 0; }),
              1);

    parmset_env fresh;
    unlink(fresh.dir.file("registry").c_str());
    tool_result r = fresh.run({"-c"});
    EXPECT_EQ(r.out, "RESULT=2\n") << "no registry file";
}

TEST(ParmsetCommand, LogRollLeavesOtherCurrentFilesAlone)
{
    parmset_env env;
    const std::vector<std::string> others = {"qelstat.20000101.000000.current.txt", "1.current.txt",
                                             "main.20000101.000000.current.txt"};
    for (const std::string &name : others)
        env.dir.write("logs/" + name, "kept\n");
    env.dir.write("logs/parmset.20000101.000000.current.txt", "old\n");
    ASSERT_EQ(env.run({"-a", "qel_ip.cfg", "A", "5"}).status, 1);
    ASSERT_EQ(env.run({"-a", "qel_ip.cfg", "A", "6"}).status, 1);

    std::vector<std::string> listed = env.dir.list("logs");
    for (const std::string &name : others)
    {
        EXPECT_NE(std::find(listed.begin(), listed.end(), name), listed.end()) << name;
        EXPECT_EQ(env.dir.read("logs/" + name), "kept\n");
    }
    EXPECT_NE(std::find(listed.begin(), listed.end(), "parmset.20000101.000000.repository.txt"),
              listed.end());
    ASSERT_EQ(listed.size(), others.size() + 2) << "both runs of today share one file";
    auto today =
        std::find_if(listed.begin(), listed.end(),
                     [](const std::string &name) {
                         return name.compare(0, 8, "parmset.") == 0 && name.find(".current.txt") != name.npos;
                     });
    ASSERT_NE(today, listed.end());
    std::string text = env.dir.read("logs/" + *today);
    EXPECT_NE(text.find("parmset started with -a"), text.rfind("parmset started with -a")) << text;
}

TEST(ParmsetCommand, MissingLogFolderGives401AndChangesNothing)
{
    parmset_env env;
    env.dir.write("registry",
                  "[SOFTWARE\\QEL_IP]\n\"PARMSET_LOG_FILES_PATH\"=\"" + env.dir.file("nowhere") + "\"\n");
    tool_result r = env.run({"-a", "qel_ip.cfg", "A", "5"});
    EXPECT_EQ(r.out, "RESULT=401\n");
    EXPECT_EQ(r.status, 401 & 0xff);
    EXPECT_NE(r.err.find("nowhere"), std::string::npos) << r.err;
    EXPECT_EQ(env.dir.read("qel_ip.cfg"), k_config);
}

TEST(ParmsetCommand, RewriteThatCannotBeWrittenLeavesTheFileAsItWas)
{
    // A file-size limit below the file's size: the copy fails part way, as on a full disk.
    parmset_env env;
    std::string big;
    for (int i = 0; i < 4000; ++i)
        big += "KEY_" + std::to_string(i) + "=value of key " + std::to_string(i) + "\n";
    env.dir.write("qel_ip.cfg", big);
    env.options.file_size_limit = 16 * 1024;
    tool_result r = env.run({"-a", "qel_ip.cfg", "KEY_1", "changed"});
    EXPECT_EQ(r.out, "RESULT=200\n");
    EXPECT_EQ(r.status, 200);
    EXPECT_NE(r.err.find("Writing the temporary file"), std::string::npos) << r.err;
    EXPECT_EQ(env.dir.read("qel_ip.cfg"), big);
    EXPECT_EQ(env.dir.list(), (std::vector<std::string>{"logs", "qel_ip.cfg", "registry"}));
    EXPECT_NE(env.log().find("Parameter(s) updation failed in QEL configuration file."), std::string::npos);
}

TEST(ParmsetCommand, FolderWithoutWriteAccessGives200AndKeepsTheFile)
{
    parmset_env env;
    mkdir(env.dir.file("locked").c_str(), 0700);
    env.dir.write("locked/qel_ip.cfg", k_config);
    chmod(env.dir.file("locked").c_str(), 0500);
    env.options.permissions_bind = true;
    tool_result r = env.run({"-a", "locked/qel_ip.cfg", "A", "5"});
    chmod(env.dir.file("locked").c_str(), 0700);
    EXPECT_EQ(r.out, "RESULT=200\n");
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(env.dir.read("locked/qel_ip.cfg"), k_config);
    EXPECT_EQ(env.dir.list("locked"), std::vector<std::string>{"qel_ip.cfg"});
}

} // namespace

TEST(ParmsetCommand, ItsLogIsItsOwnersAloneWhateverTheUmask)
{
    parmset_env env;
    const mode_t old_mask = umask(0);
    tool_result result = env.run({"-a", env.dir.file("qel_ip.cfg"), "A", "5"});
    umask(old_mask);
    EXPECT_EQ(result.status, 1) << result.err;
    const std::vector<std::string> names = env.dir.list("logs");
    ASSERT_EQ(names.size(), 1u);
    struct stat status;
    ASSERT_EQ(stat(env.dir.file("logs/" + names[0]).c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
}
