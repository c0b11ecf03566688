// logsweep: the stamps it hands the script, and the real program in its own folder with its
// own registry file, run against a stand-in script that records its arguments and against
// the project's logs.bat.
#include "tools/logsweep/logsweep.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <regex>

#include "support/test_support.h"
#include "support/tool_process.h"

using qel_test::temp_dir;
using qel_test::tool_options;
using qel_test::tool_result;

namespace
{

struct stamp_case
{
    int year, month, day, hour, minute, second;
    const char *date, *script_date, *time, *archive;
};

TEST(LogsweepStamps, DateTimeAndArchiveNameFromTheLocalTime)
{
    const stamp_case cases[] = {
        {2009, 11, 10, 0, 0, 7, "20091110", "11/10/2009", "7", "QEL_ANALYSIS_20091110_7.tgz"},
        {2009, 11, 10, 9, 30, 5, "20091110", "11/10/2009", "93005", "QEL_ANALYSIS_20091110_93005.tgz"},
        {2010, 1, 2, 23, 59, 59, "20100102", "1/2/2010", "235959", "QEL_ANALYSIS_20100102_235959.tgz"},
        {2024, 12, 31, 0, 1, 0, "20241231", "12/31/2024", "100", "QEL_ANALYSIS_20241231_100.tgz"},
    };
    for (const stamp_case &c : cases)
    {
        struct tm local = {};
        local.tm_year = c.year - 1900;
        local.tm_mon = c.month - 1;
        local.tm_mday = c.day;
        local.tm_hour = c.hour;
        local.tm_min = c.minute;
        local.tm_sec = c.second;
        logsweep_stamps stamps = logsweep_make_stamps(local);
        EXPECT_EQ(stamps.date, c.date);
        EXPECT_EQ(stamps.script_date, c.script_date);
        EXPECT_EQ(stamps.time, c.time);
        EXPECT_EQ(stamps.archive, c.archive);
        EXPECT_EQ(logsweep_script_command(stamps, "/opt/qel ip"),
                  (std::vector<std::string>{"/bin/sh", "./logs.bat", c.date, c.script_date, c.archive,
                                            "/opt/qel ip"}));
    }
}

// Records its arguments one a line in brackets, prints a line, exits with $STUB_EXIT.
const char k_stub_script[] = "printf '%s\\n' \"$#\" > args.txt\n"
                             "for a in \"$@\"; do printf '[%s]\\n' \"$a\" >> args.txt; done\n"
                             "echo 'script output'\n"
                             "exit ${STUB_EXIT:-0}\n";

struct logsweep_env
{
    temp_dir dir;
    tool_options options;

    logsweep_env()
    {
        mkdir(dir.file("work").c_str(), 0700);
        mkdir(dir.file("inst").c_str(), 0700);
        set_path(dir.file("inst"));
        dir.write("work/logs.bat", k_stub_script);
        options.folder = dir.file("work");
        options.env["QEL_REGISTRY_FILE"] = dir.file("registry");
    }

    void set_path(const std::string &path) const
    {
        std::string quoted;
        for (char c : path)
            quoted += (c == '"' || c == '\\') ? std::string("\\") + c : std::string(1, c);
        dir.write("registry", "[SOFTWARE\\QEL_IP]\n\"PATH\"=\"" + quoted + "\"\n");
    }

    void use_project_script() const { dir.write("work/logs.bat", qel_test::read_file(LOGS_BAT_SCRIPT)); }

    tool_result run(std::vector<std::string> args = {}) const
    {
        args.insert(args.begin(), LOGSWEEP_BINARY);
        return qel_test::run_tool(args, options);
    }

    std::string archive() const
    {
        for (const std::string &name : dir.list("work"))
        {
            if (name.compare(0, 13, "QEL_ANALYSIS_") == 0)
                return dir.file("work/" + name);
        }
        return "";
    }

    std::vector<std::string> archived() const
    {
        tool_result r =
            qel_test::run_tool({"/bin/sh", "-c", "exec tar -tzf \"$0\"", archive()}, tool_options());
        std::vector<std::string> names;
        size_t start = 0;
        for (size_t end; (end = r.out.find('\n', start)) != std::string::npos; start = end + 1)
            names.push_back(r.out.substr(start, end - start));
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST(LogsweepCommand, ScriptGetsTheFourArgumentsAndItsOutputFile)
{
    logsweep_env env;
    env.dir.write("work/logsweep_output.txt", "an earlier run's output that must go\n");
    env.dir.write("work/logsweep_batch_errors.txt", "an earlier error\n");
    tool_result r = env.run();
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(env.dir.read("work/logsweep_batch_errors.txt"), "");
    EXPECT_EQ(env.dir.read("work/logsweep_output.txt"), "script output\n");

    std::smatch m;
    std::string args = env.dir.read("work/args.txt");
    ASSERT_TRUE(
        std::regex_match(args, m,
                         std::regex("4\n\\[(\\d{4})(\\d\\d)(\\d\\d)\\]\n\\[(\\d+)/(\\d+)/(\\d{4})\\]\n"
                                    "\\[QEL_ANALYSIS_(\\d{8})_(\\d{1,6})\\.tgz\\]\n\\[(.*)\\]\n")))
        << args;
    EXPECT_EQ(std::stoi(m[2]), std::stoi(m[4])) << "month";
    EXPECT_EQ(std::stoi(m[3]), std::stoi(m[5])) << "day";
    EXPECT_EQ(m[1].str(), m[6].str()) << "year";
    EXPECT_EQ(m[7].str(), m[1].str() + m[2].str() + m[3].str());
    EXPECT_EQ(m[9].str(), env.dir.file("inst"));
}

TEST(LogsweepCommand, ItsOutputAndErrorFilesAreItsOwnersAloneWhateverTheUmask)
{
    logsweep_env env;
    // A file an earlier run left readable by all is made its owner's again.
    env.dir.write("work/logsweep_output.txt", "an earlier run's output\n");
    ASSERT_EQ(chmod(env.dir.file("work/logsweep_output.txt").c_str(), 0644), 0);
    const mode_t old_mask = umask(0);
    tool_result r = env.run();
    umask(old_mask);
    EXPECT_EQ(r.status, 0) << r.err;
    for (const char *name : {"work/logsweep_output.txt", "work/logsweep_batch_errors.txt"})
    {
        struct stat info;
        ASSERT_EQ(stat(env.dir.file(name).c_str(), &info), 0) << name;
        EXPECT_EQ(info.st_mode & 0777, 0600u) << name;
    }
}

struct failure_case
{
    const char *what;
    std::string registry; // file content; "-" for no file
    std::string script;   // logs.bat content; "-" for no script
    std::string line;     // the one error line
    bool script_runs;
};

TEST(LogsweepCommand, EachFailureExitsTwoWithOneErrorLine)
{
    const std::string stub = k_stub_script;
    // Two folders deep, so that no single name is too long for the file system.
    const std::string path_259 = "/" + std::string(128, 'p') + "/" + std::string(129, 'p');
    const std::string path_260 = path_259 + "p";
    const failure_case cases[] = {
        {"no registry file", "-", stub, "Cannot Open Registry for QEL path query due to 2", false},
        {"a malformed registry (the reason follows on standard error)", "[SOFTWARE\\QEL_IP]\nPATH=/opt\n",
         stub, "Cannot Open Registry for QEL path query due to 1009", false},
        {"no PATH value", "[SOFTWARE\\QEL_IP]\n\"OTHER\"=\"/opt\"\n", stub,
         "Cannot Query Registry for QEL path due to 2", false},
        {"PATH of 260 bytes", "[SOFTWARE\\QEL_IP]\n\"PATH\"=\"" + path_260 + "\"\n", stub,
         "Cannot Query Registry for QEL path due to 234", false},
        {"PATH of 259 bytes naming nothing", "[SOFTWARE\\QEL_IP]\n\"PATH\"=\"" + path_259 + "\"\n", stub,
         "QEL path [" + path_259 + "] is not a folder due to 2", false},
        {"an empty PATH", "[SOFTWARE\\QEL_IP]\n\"PATH\"=\"\"\n", stub, "QEL path [] is not a folder due to 2",
         false},
        {"PATH names a file", "[SOFTWARE\\QEL_IP]\n\"PATH\"=\"/dev/null\"\n", stub,
         "QEL path [/dev/null] is not a folder due to 20", false},
        {"no logs.bat", "", "-", "Cannot find logs.bat in the current folder due to 2", false},
        {"the script fails", "", "exit 3\n", "System call failure due to 3", true},
        {"the script is killed", "", "kill -9 $$\n", "System call failure due to 137", true},
    };
    for (const failure_case &c : cases)
    {
        logsweep_env env;
        if (c.registry == "-")
            unlink(env.dir.file("registry").c_str());
        else if (!c.registry.empty())
            env.dir.write("registry", c.registry);
        if (c.script == "-")
            unlink(env.dir.file("work/logs.bat").c_str());
        else
            env.dir.write("work/logs.bat", c.script + (c.script_runs ? "" : "touch ran\n"));
        tool_result r = env.run();
        EXPECT_EQ(r.status, 2) << c.what;
        EXPECT_EQ(env.dir.read("work/logsweep_batch_errors.txt"), c.line + "\n") << c.what;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << c.what << ": " << r.err;
        EXPECT_EQ(r.err.compare(0, c.line.size() + 10, "logsweep: " + c.line), 0) << c.what << ": " << r.err;
        std::vector<std::string> files = env.dir.list("work");
        EXPECT_EQ(std::count(files.begin(), files.end(), "ran"), 0) << c.what << ": the script must not run";
    }
}

TEST(LogsweepCommand, ErrorFileThatCannotBeCreatedExitsTwo)
{
    logsweep_env env;
    mkdir(env.dir.file("work/logsweep_batch_errors.txt").c_str(), 0700);
    env.dir.write("work/logs.bat", "touch ran\n");
    tool_result r = env.run();
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("logsweep_batch_errors.txt"), std::string::npos) << r.err;
    EXPECT_EQ(env.dir.list("work"), (std::vector<std::string>{"logs.bat", "logsweep_batch_errors.txt"}));
}

TEST(LogsweepCommand, VersionHintAndHelp)
{
    logsweep_env env;
    for (const char *option : {"-v", "-V"})
    {
        tool_result r = env.run({option});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out.compare(0, 26, "\nVersion Number: 4.0 RC3\nC"), 0) << r.out;
        EXPECT_NE(r.out.find("Compiled on "), std::string::npos);
    }
    tool_result r = env.run({"-x"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "\nIncorrect Program Argument. Use -v for Version Number\n");
    r = env.run({"--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.compare(0, 16, "usage: logsweep "), 0) << r.out;
    std::vector<std::string> files = env.dir.list("work");
    EXPECT_EQ(std::count(files.begin(), files.end(), "args.txt"), 0) << "the script does not run";
}

TEST(LogsweepCommand, HostilePathArrivesAsOneArgumentAndRunsNothing)
{
    logsweep_env env;
    const std::string name = "q\"; touch pwned; echo \"$(touch pwned2)`touch pwned3` 'x";
    const std::string path = env.dir.file(name);
    ASSERT_EQ(mkdir(path.c_str(), 0700), 0);
    env.dir.write(name + "/gateway.current.txt", "a log line\n");
    env.set_path(path);
    tool_result r = env.run();
    EXPECT_EQ(r.status, 0) << r.err;
    std::string args = env.dir.read("work/args.txt");
    EXPECT_EQ(args.substr(args.rfind("\n[", args.size() - 2) + 1), "[" + path + "]\n");
    EXPECT_EQ(args.substr(0, 2), "4\n");

    env.use_project_script();
    r = env.run();
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(env.archived(), std::vector<std::string>{"gateway.current.txt"});
    for (const std::string &folder : {std::string(""), std::string("work"), name})
    {
        std::vector<std::string> files = env.dir.list(folder);
        for (const char *marker : {"pwned", "pwned2", "pwned3"})
            EXPECT_EQ(std::count(files.begin(), files.end(), marker), 0)
                << marker << " in [" << folder << "]";
    }
}

TEST(LogsBat, ArchivesTxtDatAndCsvFilesByRelativeName)
{
    logsweep_env env;
    env.use_project_script();
    for (const char *folder : {"inst/logs", "inst/logs/old", "inst/-dash"})
        mkdir(env.dir.file(folder).c_str(), 0700);
    for (const char *file :
         {"inst/logs/main.20091110.000007.current.txt", "inst/logs/old/fix_1.dat", "inst/stats 100.csv",
          "inst/-dash/x.txt", "inst/qel_ip.cfg", "inst/logs/core.log"})
        env.dir.write(file, std::string("content of ") + file + "\n");
    tool_result r = env.run();
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(env.dir.read("work/logsweep_batch_errors.txt"), "");
    EXPECT_EQ(env.archived(),
              (std::vector<std::string>{"-dash/x.txt", "logs/main.20091110.000007.current.txt",
                                        "logs/old/fix_1.dat", "stats 100.csv"}));
    std::string output = env.dir.read("work/logsweep_output.txt");
    EXPECT_NE(output.find("logs/old/fix_1.dat\n"), std::string::npos) << output;

    // A folder that starts with "-" is a folder, not an option.
    env.set_path("-dash");
    mkdir(env.dir.file("work/-dash").c_str(), 0700);
    env.dir.write("work/-dash/y.csv", "y\n");
    unlink(env.archive().c_str());
    r = env.run();
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(env.archived(), std::vector<std::string>{"y.csv"});
}

TEST(LogsBat, TheArchiveIsItsOwnersAloneWhateverTheUmask)
{
    // It holds the gateway's binary logs, and they hold sign-on records.
    logsweep_env env;
    env.use_project_script();
    mkdir(env.dir.file("inst/logs").c_str(), 0700);
    env.dir.write("inst/logs/tws_network_handler_thread_request.20091110.000007.current.dat",
                  "sign-on record\n");
    const mode_t old_mask = umask(022);
    tool_result r = env.run();
    umask(old_mask);
    EXPECT_EQ(r.status, 0) << r.err;
    ASSERT_NE(env.archive(), "");
    struct stat info;
    ASSERT_EQ(stat(env.archive().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    tool_result content = qel_test::run_tool(
        {"/bin/sh", "-c",
         "exec tar -xzOf \"$0\" logs/tws_network_handler_thread_request.20091110.000007.current.dat",
         env.archive()},
        tool_options());
    EXPECT_EQ(content.out, "sign-on record\n");
}

TEST(LogsBat, NothingToArchiveIsAFailure)
{
    logsweep_env env;
    env.use_project_script();
    env.dir.write("inst/qel_ip.cfg", "A=1\n");
    tool_result r = env.run();
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(env.dir.read("work/logsweep_batch_errors.txt"), "System call failure due to 1\n");
    EXPECT_NE(r.err.find("no *.txt, *.dat or *.csv file"), std::string::npos) << r.err;
    EXPECT_EQ(env.archive(), "");
}

} // namespace
