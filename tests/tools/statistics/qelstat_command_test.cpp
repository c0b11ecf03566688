// qelstat as a real program: its command line and exit codes, start-up failures told on
// the terminal, a run stopped by SIGTERM or SIGHUP (plug-ins destroyed, logs rolled,
// exit 0), and qelstat started once by qelmon from the registry's COMMON\1 key, both
// writing their logs under their names again after the log folder they share is removed.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/admin/pf_process.h"
#include "platform/admin/pf_service.h"
#include "support/qel_stats_fixture.h"
#include "support/tool_process.h"

using qel_test::parameter_line;
using qel_test::stats_fixture;

namespace
{

const int k_start_up_failure = 10003 & 0xFF;
const int k_usage_error = 10005 & 0xFF;

bool contains(const std::string &text, const std::string &part)
{
    return text.find(part) != std::string::npos;
}

qel_test::tool_result qelstat(const std::vector<std::string> &arguments, const std::string &folder)
{
    std::vector<std::string> argv{QELSTAT_BINARY};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    qel_test::tool_options options;
    options.folder = folder;
    options.timeout_ms = 20000;
    return qel_test::run_tool(argv, options);
}

TEST(QelstatCommandLine, VersionHelpAndUsageErrors)
{
    qel_test::temp_dir dir;
    qel_test::tool_result r = qelstat({"-v"}, dir.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(contains(r.out, "\nQel Application Version: 3.0 RC10\nCompiled on ")) << r.out;

    r = qelstat({"--help"}, dir.path());
    EXPECT_EQ(r.status, 0);
    std::string usage =
        std::string("\nUsage: ") + QELSTAT_BINARY +
        " -v|c [config-file name]\n\nOptions:\n\tv: Displays QEL version\n\tc [config-file name]: "
        "Starts QEL with the specified config file\n";
    EXPECT_EQ(r.out, usage);

    r = qelstat({}, dir.path());
    EXPECT_EQ(r.status, k_usage_error);
    EXPECT_EQ(r.out, usage);
    r = qelstat({"-c"}, dir.path());
    EXPECT_EQ(r.status, k_usage_error);
    EXPECT_EQ(r.out, "\nArgument missing for option c\n" + usage);
    r = qelstat({"-x", "-v"}, dir.path());
    EXPECT_EQ(r.status, k_usage_error) << "only the first option counts";
    EXPECT_EQ(r.out, "\nInvalid option\n" + usage);
    EXPECT_TRUE(dir.list().empty()) << "nothing written on a usage error";
}

TEST(QelstatCommandLine, StartUpFailuresExit10003WithTheReasonOnTheTerminal)
{
    stats_fixture f("", false);
    qel_test::tool_result r = qelstat({"-c", f.dir.file("absent.cfg")}, f.dir.path());
    EXPECT_EQ(r.status, k_start_up_failure);
    EXPECT_TRUE(contains(r.err, "absent.cfg] cannot be read")) << r.err;

    // A missing key: the log says which, the terminal where to look.
    std::string text = f.dir.read("qelstat.cfg");
    size_t at = text.find("HISTORY_FILES_PATH=");
    f.dir.write("qelstat.cfg", text.substr(0, at) + text.substr(text.find('\n', at) + 1));
    r = qelstat({"-c", f.config}, f.dir.path());
    EXPECT_EQ(r.status, k_start_up_failure);
    EXPECT_TRUE(contains(r.err, "qelstat: start-up failed")) << r.err;
    EXPECT_TRUE(f.logged("System Error|Parameter HISTORY_FILES_PARAMnot found in config file|")) << f.log();
    EXPECT_TRUE(f.logged("System Error|Config parameter creation failed|"));
    EXPECT_TRUE(
        contains(f.dir.read("qel_text_log_default.txt"), "Starting QEL_STATISTICS") ||
        contains(r.out, "\nStarting QEL_STATISTICS [3.0 RC10] with config file [" + f.config + "]\n"));

    // The working folder as the current folder would lose qelstat's own output file.
    size_t current = text.find("CURRENT_FILES_PATH=");
    f.dir.write("qelstat.cfg", text.substr(0, current) + "CURRENT_FILES_PATH=.\n" +
                                   text.substr(text.find('\n', current) + 1));
    r = qelstat({"-c", f.config}, f.dir.path());
    EXPECT_EQ(r.status, k_start_up_failure);
    EXPECT_TRUE(f.logged("Current files folder [.] is the working folder")) << f.log();
    EXPECT_EQ(access(f.dir.file("qel_text_log_default.txt").c_str(), F_OK), 0) << "still there";

    // An unreadable parameter file.
    f.dir.write("qelstat.cfg", text);
    unlink(f.dir.file("online.txt").c_str());
    r = qelstat({"-c", f.config}, f.dir.path());
    EXPECT_EQ(r.status, k_start_up_failure);
    EXPECT_TRUE(f.logged("System Error|qel_stats_global object cteation failed|")) << f.log();
}

TEST(QelstatCommandLine, ABlankAfterEqualsIsAMissingKey)
{
    stats_fixture f("", false);
    std::string text = f.dir.read("qelstat.cfg");
    size_t at = text.find("OFFLINE_FILES_PATH=");
    text.insert(at + strlen("OFFLINE_FILES_PATH="), " ");
    f.dir.write("qelstat.cfg", text);
    qel_test::tool_result r = qelstat({"-c", f.config}, f.dir.path());
    EXPECT_EQ(r.status, k_start_up_failure) << "no offline folder, not the root folder";
    EXPECT_TRUE(f.logged("System Error|Parameter OFFLINE_FILES_PATH_PARAMnot found in config file|"))
        << f.log();
    EXPECT_TRUE(f.dir.list("offline").empty());
}

// Runs qelstat with two online parameters until it is sent signal_number; it stops in order.
void expect_stop_in_order_on(int signal_number)
{
    stats_fixture f("", false);
    f.dir.write("online.txt",
                parameter_line(STATS_PROBE_PLUGIN, "probe", 1, {"0", "1", "o", "2", "online"}) +
                    parameter_line("onstat.so", "memory", 1,
                                   {"Memory\\Available Bytes", "100", "Free memory", "KB", "1024"}));
    f.dir.write("current/old.txt", "stale");
    qel_test::child_process run({QELSTAT_BINARY, "-c", f.config}, f.dir.path());
    ASSERT_TRUE(qel_test::wait_until([&] { return f.dir.list("current").size() == 2; }, 10000)) << f.log();
    std::vector<std::string> current = f.dir.list("current");
    EXPECT_EQ(current[0].compare(0, 7, "memory."), 0) << "bare plug-in names come from qelstat's folder";
    EXPECT_EQ(current[1].compare(0, 6, "probe."), 0) << "the old file was removed";
    run.signal(signal_number);
    qel_test::process_result result = run.wait(10000);
    EXPECT_EQ(result.signal, 0) << "ended by the signal itself";
    EXPECT_EQ(result.exit_code, 0) << result.output;
    EXPECT_TRUE(f.logged("Stop requested: the plug-ins are released and the logs rolled")) << f.log();
    EXPECT_TRUE(f.logged("probe destroy for [probe]"));
    for (const std::string &name : f.dir.list("logs"))
        EXPECT_FALSE(contains(name, ".current.")) << name << " was rolled";
    EXPECT_TRUE(contains(f.dir.read("qel_text_log_default.txt"), "Starting QEL_STATISTICS") ||
                contains(result.output, "Starting QEL_STATISTICS"));
}

TEST(QelstatRun, StopsInOrderOnSigterm)
{
    expect_stop_in_order_on(SIGTERM);
}

// The terminal qelstat was started from hangs up.
TEST(QelstatRun, StopsInOrderOnHangUp)
{
    expect_stop_in_order_on(SIGHUP);
}

uint32_t running_pid(const std::string &path)
{
    pf_process_snapshot *snapshot = nullptr;
    if (pf_process_snapshot_create(&snapshot) != 0)
        return 0;
    const pf_process_entry *entry = pf_process_find_by_path(snapshot, path.c_str());
    uint32_t pid = entry != nullptr ? entry->pid : 0;
    pf_process_snapshot_destroy(snapshot);
    return pid;
}

// qelstat under a name of its own, with its plug-ins beside it, in the registry's COMMON\1
// key of a qelmon installed in the fixture's folder; qelmon logs into qelstat's log folder.
// With `held_market`, the registry also names a market whose gateway is missing: qelmon
// holds it, and logs again at each Start Applications (control 130).
struct qelstat_under_qelmon
{
    stats_fixture f{"", false};
    std::string folder = f.dir.file("bin");
    std::string binary = folder + "/qelstat_" + std::to_string(getpid());
    std::vector<std::string> qelmon{QELMON_BINARY, "-w", f.dir.path(), "-c", f.dir.file("qelmon.cfg"), "-a"};

    explicit qelstat_under_qelmon(const std::string &online, bool held_market = false)
    {
        mkdir(folder.c_str(), 0700);
        f.dir.write("bin/qelstat_" + std::to_string(getpid()), qel_test::read_file(QELSTAT_BINARY));
        chmod(binary.c_str(), 0755);
        f.dir.write("bin/onstat.so", qel_test::read_file(ONSTAT_PLUGIN));
        f.dir.write("online.txt", online);
        mkdir(f.dir.file("service").c_str(), 0700);
        f.dir.write("qelmon.cfg", "LOG_FILE_PATH=" + f.dir.file("logs") + "\nSYSTEM_LOGGING_LEVEL=DEBUG\n");
        f.dir.write("registry",
                    "[SOFTWARE\\QEL_IP]\n\"SERVICESTATUS\"=dword:00000000\n[SOFTWARE\\QEL_IP\\COMMON]\n"
                    "[SOFTWARE\\QEL_IP\\COMMON\\1]\n\"path\"=\"" +
                        binary + "\"\n\"argument\"=\"-c " + f.config + "\"\n\"CURRENT_FILES_PATH\"=\"" +
                        f.dir.file("current") + "\"\n" +
                        (held_market ? "[SOFTWARE\\QEL_IP\\2]\n\"path\"=\"" + f.dir.file("qel_ip_gone") +
                                           "\"\n\"argument\"=\"-c qel_ip.cfg\"\n"
                                     : ""));
        setenv("QEL_REGISTRY_FILE", f.dir.file("registry").c_str(), 1);
        setenv("QEL_SERVICE_DIR", f.dir.file("service").c_str(), 1);
        setenv("QEL_SYSTEMD", "no", 1);
    }
    ~qelstat_under_qelmon()
    {
        unsetenv("QEL_REGISTRY_FILE");
        unsetenv("QEL_SERVICE_DIR");
    }
    int action(const char *name) const
    {
        std::vector<std::string> argv = qelmon;
        argv.push_back(name);
        return qel_test::run_process(argv, f.dir.path(), 40000).exit_code;
    }
    std::unique_ptr<qel_test::child_process> run() const
    {
        std::vector<std::string> argv = qelmon;
        argv.push_back("RUN");
        return std::unique_ptr<qel_test::child_process>(new qel_test::child_process(argv, f.dir.path()));
    }
};

TEST(QelstatUnderQelmon, StartedOnceFromCommon1AndKeptRunning)
{
    qelstat_under_qelmon q(parameter_line("onstat.so", "memory", 1,
                                          {"Memory\\Available Bytes", "100", "Free memory", "KB", "1024"}));
    stats_fixture &f = q.f;
    ASSERT_EQ(q.action("CREATE"), 0);
    std::unique_ptr<qel_test::child_process> run = q.run();

    uint32_t pid = 0;
    ASSERT_TRUE(qel_test::wait_until([&] { return (pid = running_pid(q.binary)) != 0; }, 20000)) << f.log();
    ASSERT_TRUE(qel_test::wait_until([&] { return f.dir.list("current").size() == 1; }, 10000)) << f.log();
    std::string history = "history/" + f.dir.list("current")[0];
    ASSERT_TRUE(qel_test::wait_until(
        [&]
        {
            std::string text = f.dir.read(history);
            return std::count(text.begin(), text.end(), '\n') >= 3;
        },
        10000));
    EXPECT_EQ(running_pid(q.binary), pid) << "started once, still running";
    EXPECT_EQ(f.times_logged("|Process [" + q.binary + "], working dir [" + q.folder + "]"), 1u) << f.log();
    EXPECT_EQ(
        f.times_logged("The process created successfully with process id: [" + std::to_string(pid) + "]"),
        1u);
    EXPECT_EQ(access((q.folder + "/qel_text_log_default.txt").c_str(), F_OK), 0)
        << "started in its own folder";

    EXPECT_EQ(q.action("STOP"), 0);
    EXPECT_EQ(run->wait(40000).exit_code, 0);
    EXPECT_EQ(running_pid(q.binary), 0u);
}

// The "Log file [...] no longer stood under its name" lines of a program's standard error.
std::vector<std::string> name_lost_lines(const std::string &text)
{
    std::vector<std::string> lines;
    for (size_t at = text.find("Log file ["); at != std::string::npos; at = text.find("Log file [", at + 1))
        lines.push_back(text.substr(at, text.find('\n', at) - at));
    return lines;
}

// An operator's clean-up of the log folder that qelmon and the qelstat it runs share: each
// says once that its file was found without its name and writes it under its name again,
// and the one that makes the folder again says that once.
TEST(QelstatUnderQelmon, AfterTheLogFolderIsRemovedBothWriteUnderTheirNamesAgainSaidOnce)
{
    // A statistic whose plug-in is missing makes qelstat log every second.
    qelstat_under_qelmon q(parameter_line("no_such_plugin.so", "idle", 1, {"x"}), true);
    stats_fixture &f = q.f;
    ASSERT_EQ(q.action("CREATE"), 0);
    std::unique_ptr<qel_test::child_process> run = q.run();
    ASSERT_TRUE(qel_test::wait_until(
        [&] { return f.logged("Not restarting the process") && f.logged("Function address not found for"); },
        20000))
        << f.log();

    const qel_test::process_result removed =
        qel_test::run_process({"/bin/rm", "-rf", f.dir.file("logs")}, "/", 20000);
    ASSERT_EQ(removed.exit_code, 0);
    const std::string qelstat_said = q.folder + "/qel_text_log_default.txt";
    const std::string qelmon_said = f.dir.file("qel_monitoring_service_text_log_default.txt");
    ASSERT_TRUE(qel_test::wait_until(
        [&] { return !name_lost_lines(qel_test::read_file(qelstat_said)).empty(); }, 20000))
        << "qelstat, which logs every second, looks within seconds";
    // qelmon's next line comes more than five seconds after the clean-up.
    std::this_thread::sleep_for(std::chrono::milliseconds(5500));
    ASSERT_EQ(pf_service_control("QEL_IP", 130, nullptr), 0u);
    ASSERT_TRUE(qel_test::wait_until([&] { return f.logged("Start event is set"); }, 20000))
        << qel_test::read_file(qelmon_said);
    ASSERT_TRUE(
        qel_test::wait_until([&] { return f.times_logged("Function address not found for") >= 2; }, 20000));

    // Each program's file stands again under the name its line gives, with the line and what
    // followed it.
    struct stat folder_status;
    ASSERT_EQ(stat(f.dir.file("logs").c_str(), &folder_status), 0);
    EXPECT_EQ(folder_status.st_mode & 0777, 0700u);
    const std::vector<std::string> programs_said = {qelstat_said, qelmon_said};
    const std::vector<std::string> prefixes = {"/logs/main_text.", "/logs/qel_monitoring_thread_text."};
    const std::vector<std::string> later = {"Function address not found for", "Start event is set"};
    std::vector<std::string> files;
    for (size_t i = 0; i < programs_said.size(); ++i)
    {
        const std::vector<std::string> lines = name_lost_lines(qel_test::read_file(programs_said[i]));
        ASSERT_EQ(lines.size(), 1u) << programs_said[i] << ": " << qel_test::read_file(programs_said[i]);
        const std::string file = lines[0].substr(10, lines[0].find(']') - 10);
        EXPECT_NE(file.find(prefixes[i]), std::string::npos) << lines[0];
        EXPECT_NE(lines[0].find("; written under its name again"), std::string::npos) << lines[0];
        const std::string text = qel_test::read_file(file);
        const size_t at = text.find("|" + lines[0] + "|");
        EXPECT_NE(at, std::string::npos) << "the line stands in the file made again: " << text;
        EXPECT_NE(text.find(later[i], at), std::string::npos) << text;
        files.push_back(file);
    }

    EXPECT_EQ(q.action("STOP"), 0);
    EXPECT_EQ(run->wait(40000).exit_code, 0);
    for (size_t i = 0; i < programs_said.size(); ++i)
    {
        EXPECT_EQ(name_lost_lines(qel_test::read_file(programs_said[i])).size(), 1u)
            << "said once, the close included: " << qel_test::read_file(programs_said[i]);
        EXPECT_NE(access(files[i].c_str(), F_OK), 0) << files[i] << " is rolled at the end";
    }
    // The folder is made by one of the two, which says so once.
    const std::string both = qel_test::read_file(qelstat_said) + qel_test::read_file(qelmon_said);
    EXPECT_EQ(qel_test::count_of(both, "Log folder [" + f.dir.file("logs") + "] was missing"), 1u) << both;
}

} // namespace
