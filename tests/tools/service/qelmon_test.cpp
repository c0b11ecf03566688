// qelmon as a real program over a test registry and service folder: its command line,
// each action and its failures, and RUN supervising real gateways (qel_ip under market
// names): restart after the console's restart request (never backed off), held processes
// released by control 130, a missing executable beside a running gateway, adoption, the
// stop in order (also on a hang-up), and the registry's refusals.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "platform/admin/pf_process.h"
#include "platform/admin/pf_service.h"
#include "platform/core/pf_socket.h"
#include "sim/console/console_client.h"
#include "support/gateway_config.h"
#include "support/installation.h"
#include "support/test_support.h"

using qel_test::child_process;
using qel_test::count_of;
using qel_test::gateway_config;
using qel_test::process_result;
using qel_test::temp_dir;

namespace
{
const int k_failure = 1000 & 0xFF; // qelmon's 1000 as a parent sees it

bool contains(const std::string &text, const std::string &part)
{
    return text.find(part) != std::string::npos;
}

// A market folder: the gateway under its market name, its configuration and logs.
struct market
{
    temp_dir dir;
    gateway_config config;
    std::string binary;

    explicit market(const std::string &name)
    {
        config.write(dir);
        binary = dir.file(name);
        std::string error;
        EXPECT_TRUE(qel_test::install_gateway(QEL_IP_BINARY, dir.path(), name, &error)) << error;
    }
    uint16_t interactive_port() const
    {
        return static_cast<uint16_t>(std::stoi(config.values.at("INTERFACE_INTERACTIVE_PORT_NUMBER")));
    }
};

// qelmon's folder: registry, service folder, configuration and log folder.
struct qelmon_fixture
{
    temp_dir dir;
    std::string config = dir.file("qelmon.cfg");

    qelmon_fixture()
    {
        mkdir(dir.file("service").c_str(), 0700);
        mkdir(dir.file("logs").c_str(), 0700);
        dir.write("qelmon.cfg", "LOG_FILE_PATH=" + dir.file("logs") + "\nSYSTEM_LOGGING_LEVEL=DEBUG\n");
        setenv("QEL_REGISTRY_FILE", dir.file("registry").c_str(), 1);
        setenv("QEL_SERVICE_DIR", dir.file("service").c_str(), 1);
        setenv("QEL_SYSTEMD", "no", 1);
        registry("");
    }
    ~qelmon_fixture()
    {
        unsetenv("QEL_REGISTRY_FILE");
        unsetenv("QEL_SERVICE_DIR");
    }
    // The registry: SOFTWARE\QEL_IP with SERVICESTATUS 0, COMMON, and the given sections.
    void registry(const std::string &sections, const std::string &status = "dword:00000000") const
    {
        dir.write("registry", "[SOFTWARE\\QEL_IP]\n\"SERVICESTATUS\"=" + status +
                                  "\n[SOFTWARE\\QEL_IP\\COMMON]\n" + sections);
    }
    static std::string process(const std::string &key, const std::string &path, const std::string &argument)
    {
        return "[SOFTWARE\\QEL_IP\\" + key + "]\n\"path\"=\"" + path + "\"\n\"argument\"=\"" + argument +
               "\"\n";
    }
    process_result run(std::vector<std::string> args, int timeout_ms = 20000) const
    {
        args.insert(args.begin(), QELMON_BINARY);
        return qel_test::run_process(args, dir.path(), timeout_ms);
    }
    process_result action(const std::string &name) const
    {
        return run({"-w", dir.path(), "-c", config, "-a", name}, 40000);
    }
    std::string log() const
    {
        std::string text;
        for (const std::string &name : dir.list("logs"))
            text += dir.read("logs/" + name);
        return text;
    }
    std::string default_log() const { return dir.read("qel_monitoring_service_text_log_default.txt"); }
    bool log_has(const std::string &part, size_t times = 1) const { return count_of(log(), part) >= times; }
    std::unique_ptr<child_process> start_run() const
    {
        return std::make_unique<child_process>(
            std::vector<std::string>{QELMON_BINARY, "-w", dir.path(), "-c", config, "-a", "RUN"}, dir.path());
    }
    uint32_t state() const
    {
        pf_service_query_result result;
        return pf_service_query("QEL_IP", &result) == 0 ? result.status.current_state : 0;
    }
};

// The functions of the log's lines ("level|text|function|file|line|time") whose text begins
// with `text_start`, in the order written.
std::vector<std::string> functions_of(const std::string &log, const std::string &text_start)
{
    std::vector<std::string> functions;
    size_t start = 0;
    while (start < log.size())
    {
        size_t end = log.find('\n', start);
        if (end == std::string::npos)
            end = log.size();
        const std::string line = log.substr(start, end - start);
        start = end + 1;
        const size_t text = line.find('|');
        const size_t function = text == std::string::npos ? text : line.find('|', text + 1);
        const size_t file = function == std::string::npos ? function : line.find('|', function + 1);
        if (file != std::string::npos && line.compare(text + 1, text_start.size(), text_start) == 0)
            functions.push_back(line.substr(function + 1, file - function - 1));
    }
    return functions;
}

// Each text begins at least one line, and every such line was written under `function`.
void expect_lines_under(const std::string &log, const std::vector<std::string> &texts,
                        const std::string &function)
{
    for (const std::string &text : texts)
    {
        const std::vector<std::string> functions = functions_of(log, text);
        EXPECT_FALSE(functions.empty()) << "no line begins with: " << text;
        EXPECT_EQ(functions, std::vector<std::string>(functions.size(), function)) << text;
    }
}

// The process id of the program at path, 0 when none runs.
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

bool gateway_listening(const market &m)
{
    sim_console::console_client client;
    return client.connect(m.interactive_port());
}

// The gateway takes its stop request in order only once every thread runs: its main log
// says so (a gateway that listens may not have got so far).
bool gateway_ready(const market &m, size_t starts = 1)
{
    size_t seen = 0;
    for (const std::string &name : m.dir.list("logs"))
    {
        if (name.rfind("main_text.", 0) == 0)
            seen += count_of(m.dir.read("logs/" + name), "[fix_network_handler_send_thread] thread created");
    }
    return seen >= starts && gateway_listening(m);
}
} // namespace

TEST(QelmonCommandLine, UsageVersionAndRefusedOptions)
{
    qelmon_fixture f;
    process_result none = f.run({});
    EXPECT_EQ(none.exit_code, k_failure);
    EXPECT_TRUE(contains(none.output, "Usage: ")) << none.output;
    process_result help = f.run({"--help"});
    EXPECT_EQ(help.exit_code, 0);
    EXPECT_TRUE(contains(help.output, "-a : action [START\\STOP\\DELETE\\CREATE]"));
    process_result version = f.run({"-v"});
    EXPECT_EQ(version.exit_code, 0);
    EXPECT_TRUE(contains(version.output, "QEL Monitoring Service Version 3.0 RC6\n")) << version.output;
    for (std::vector<std::string> args : {std::vector<std::string>{"-x"}, {"-a"}, {"-a", "RUN", "extra"}})
    {
        process_result refused = f.run(args);
        EXPECT_EQ(refused.exit_code, k_failure);
        EXPECT_EQ(refused.output, "Invalid options.\n");
    }
    for (const std::string &name : f.dir.list())
        EXPECT_FALSE(contains(name, "default")) << "nothing half-started: " << name;
}

TEST(QelmonCommandLine, BadActionOrConfigurationFailsWithAReasonOnTheTerminal)
{
    qelmon_fixture f;
    struct
    {
        std::vector<std::string> args;
        const char *reason;
        const char *line; // as logged, under main's name
    } cases[] = {
        {{"-w", f.dir.path(), "-c", f.config, "-a", "REBOOT"},
         "Invalid action [REBOOT] specified.",
         "|Invalid action [REBOOT] specified.|"},
        {{"-w", f.dir.path(), "-c", f.config, "-a", "run"},
         "Invalid action [run] specified.",
         "|Invalid action [run] specified.|"},
        {{"-w", f.dir.path(), "-a", "RUN"},
         "no configuration file given (-c)",
         "|Configuration file [] cannot be read.|"},
        {{"-w", f.dir.path(), "-c", f.dir.file("absent.cfg"), "-a", "RUN"},
         "the configuration file cannot be read",
         "cannot be read.|"},
    };
    for (const auto &c : cases)
    {
        process_result result = f.run(c.args);
        EXPECT_EQ(result.exit_code, k_failure) << c.reason;
        EXPECT_TRUE(contains(result.output, std::string("failed: ") + c.reason)) << result.output;
        EXPECT_TRUE(contains(result.output, "qel_monitoring_service_text_log_default.txt")) << result.output;
        const std::string logged = f.log() + f.default_log();
        EXPECT_TRUE(contains(logged, std::string(c.line) + "main|qelmon.cpp|")) << logged;
    }
    f.dir.write("nolog.cfg", "SYSTEM_LOGGING_LEVEL=DEBUG\n");
    process_result no_folder = f.run({"-w", f.dir.path(), "-c", f.dir.file("nolog.cfg"), "-a", "RUN"});
    EXPECT_EQ(no_folder.exit_code, k_failure);
    EXPECT_TRUE(contains(f.default_log(), "Parameter LOG_FILE_PATH_PARAM not found in config file."));
    EXPECT_EQ(f.state(), 0u) << "no entry was made";
}

TEST(QelmonCommandLine, LoggerReadsItsKeysAsWholeLinesAndLogsWholeSeconds)
{
    qelmon_fixture f;
    // A folder named by a line longer than a 511-character read: found whole.
    std::string deep = f.dir.file("logs");
    for (char part : {'a', 'b', 'c'})
    {
        deep += "/" + std::string(200, part);
        ASSERT_EQ(mkdir(deep.c_str(), 0700), 0);
    }
    f.dir.write("deep.cfg", "LOG_FILE_PATH=" + deep + "\nSYSTEM_LOGGING_LEVEL=DEBUG\n");
    EXPECT_EQ(f.run({"-w", f.dir.path(), "-c", f.dir.file("deep.cfg"), "-a", "STOP"}).exit_code, k_failure);
    std::vector<std::string> names = f.dir.list(deep.substr(f.dir.path().size() + 1));
    ASSERT_EQ(names.size(), 1u) << f.default_log();
    std::string deep_log = qel_test::read_file(deep + "/" + names[0]);
    EXPECT_TRUE(contains(deep_log, "Error Code [1060]: The specified service does not exist.")) << deep_log;

    // A value of 1024 characters does not fit the folder's buffer: missing.
    f.dir.write("long.cfg", "LOG_FILE_PATH=" + f.dir.file("logs") + "/" +
                                std::string(1023 - f.dir.file("logs").size(), 'p') + "\n");
    process_result refused = f.run({"-w", f.dir.path(), "-c", f.dir.file("long.cfg"), "-a", "REBOOT"});
    EXPECT_EQ(refused.exit_code, k_failure);
    EXPECT_TRUE(contains(refused.output, "failed: Creation of logger object container failed."))
        << refused.output;
    std::string fallback = f.default_log();
    EXPECT_TRUE(contains(fallback, "Parameter LOG_FILE_PATH_PARAM not found in config file.")) << fallback;
    // The NULL logger's lines end in whole seconds, as the logger's own do.
    const std::regex whole_seconds(
        "System Error\\|[^|]*\\|[^|]*\\|[^|]*\\|\\d+\\|[A-Z][a-z]{2} [A-Z][a-z]{2} "
        "\\d{2} \\d{4} \\d{2}:\\d{2}:\\d{2}");
    size_t lines = 0;
    for (size_t at = 0; at < fallback.size(); ++lines)
    {
        size_t end = fallback.find('\n', at);
        ASSERT_NE(end, std::string::npos) << fallback;
        std::string line = fallback.substr(at, end - at);
        EXPECT_TRUE(std::regex_match(line, whole_seconds)) << line;
        at = end + 1;
    }
    EXPECT_GE(lines, 2u) << fallback;
}

TEST(QelmonCommandLine, ItsLogsAreItsOwnersAloneWhateverTheUmask)
{
    qelmon_fixture f;
    const mode_t old_mask = umask(0);
    f.action("STOP");
    umask(old_mask);
    const std::vector<std::string> names = f.dir.list("logs");
    ASSERT_FALSE(names.empty());
    for (const std::string &name : names)
    {
        struct stat status;
        ASSERT_EQ(stat(f.dir.file("logs/" + name).c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 0777, 0600u) << name;
    }
}

TEST(QelmonActions, CreateStartStopDeleteAndTheirFailures)
{
    qelmon_fixture f;
    EXPECT_EQ(f.action("START").exit_code, k_failure);
    EXPECT_TRUE(f.log_has("Error Code [1060]: The specified service does not exist."));
    EXPECT_EQ(f.action("STOP").exit_code, k_failure);
    EXPECT_EQ(f.action("DELETE").exit_code, k_failure);

    // CREATE with -w . stores the folder of qelmon's executable.
    process_result created = f.run({"-w", ".", "-c", f.config, "-a", "CREATE"});
    ASSERT_EQ(created.exit_code, 0) << created.output;
    std::string binary_folder = QELMON_BINARY;
    binary_folder = binary_folder.substr(0, binary_folder.rfind('/'));
    char command[2048];
    ASSERT_EQ(pf_service_read_command_line("QEL_IP", command, sizeof command), 0u);
    char real_folder[4096];
    ASSERT_NE(realpath(binary_folder.c_str(), real_folder), nullptr);
    EXPECT_TRUE(contains(command, std::string("-w \"") + real_folder + "\" -c \"")) << command;
    EXPECT_TRUE(contains(command, "\" -a \"RUN\"")) << command;
    EXPECT_TRUE(contains(f.dir.read("service/QEL_IP.service"), "\nLimitNOFILE=65536\n"))
        << "the gateways it starts need more than systemd's 1024 descriptors";
    EXPECT_EQ(f.action("CREATE").exit_code, k_failure);
    EXPECT_TRUE(f.log_has("Error Code [1073]: The specified service already exists in this database."));

    // The stored command runs in the executable's folder: make the entry name this one.
    ASSERT_EQ(f.action("DELETE").exit_code, 0);
    ASSERT_EQ(f.action("CREATE").exit_code, 0);
    EXPECT_EQ(f.state(), PF_SERVICE_STOPPED);
    ASSERT_EQ(f.action("START").exit_code, 0) << f.log();
    EXPECT_EQ(f.state(), PF_SERVICE_RUNNING);
    EXPECT_EQ(f.action("START").exit_code, k_failure);
    EXPECT_TRUE(f.log_has("Error Code [1056]: The specified service is already running."));
    EXPECT_EQ(pf_service_control("QEL_IP", 130, nullptr), 0u) << "130 with nothing held changes nothing";
    ASSERT_EQ(f.action("STOP").exit_code, 0);
    ASSERT_TRUE(qel_test::wait_until([&] { return f.state() == PF_SERVICE_STOPPED; }, 10000));
    pf_service_query_result result;
    ASSERT_EQ(pf_service_query("QEL_IP", &result), 0u);
    EXPECT_EQ(result.status.service_specific_exit_code, 0u);
    EXPECT_EQ(f.action("STOP").exit_code, k_failure);
    EXPECT_TRUE(f.log_has("Error Code [1062]: The service has not been started"));
    EXPECT_EQ(f.action("DELETE").exit_code, 0);
    EXPECT_EQ(f.action("DELETE").exit_code, k_failure);
}

TEST(QelmonActions, FailuresAndTheirErrorTextsAreLoggedUnderTheAction)
{
    qelmon_fixture f;
    EXPECT_EQ(f.action("START").exit_code, k_failure);
    EXPECT_EQ(f.action("DELETE").exit_code, k_failure);
    ASSERT_EQ(f.action("CREATE").exit_code, 0);
    EXPECT_EQ(f.action("CREATE").exit_code, k_failure);
    EXPECT_EQ(f.action("STOP").exit_code, k_failure);
    ASSERT_EQ(f.action("DELETE").exit_code, 0);
    const std::string log = f.log();
    expect_lines_under(log, {"Error while getting handle to existing service.", "Error Code [1062]"},
                       "control_qel_service");
    expect_lines_under(log, {"Error while getting handle to the service."}, "delete_qel_service_entry");
    std::vector<std::string> missing = functions_of(log, "Error Code [1060]");
    std::sort(missing.begin(), missing.end());
    EXPECT_EQ(missing, (std::vector<std::string>{"control_qel_service", "delete_qel_service_entry"}));
    expect_lines_under(log, {"Error while getting handle to created service.", "Error Code [1073]"},
                       "create_qel_service_entry");
}

TEST(QelmonActions, StopIsAnsweredWhileJunkConnectionsHoldTheControlSocket)
{
    qelmon_fixture f;
    ASSERT_EQ(f.action("CREATE").exit_code, 0);
    auto run = f.start_run();
    ASSERT_TRUE(qel_test::wait_until([&] { return f.state() == PF_SERVICE_RUNNING; }, 10000)) << f.log();
    // More connections than the socket's backlog, each silent or with half a code; they
    // stay open on this side until the stop has been answered.
    std::vector<int> junk;
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    snprintf(address.sun_path, sizeof address.sun_path, "%s", f.dir.file("service/QEL_IP.control").c_str());
    for (int i = 0; i < 24; ++i)
    {
        int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        ASSERT_GE(fd, 0);
        junk.push_back(fd);
        bool connected = connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
        if (connected && i % 2 == 1)
        {
            EXPECT_EQ(send(fd, "\x01\x00", 2, MSG_NOSIGNAL), 2);
        }
    }
    // Served one after the other, each junk connection held the stop back for seconds:
    // together longer than this run may take.
    process_result stop = f.run({"-w", f.dir.path(), "-c", f.config, "-a", "STOP"}, 15000);
    EXPECT_FALSE(stop.timed_out);
    EXPECT_EQ(stop.exit_code, 0) << stop.output << f.log();
    EXPECT_EQ(run->wait(30000).exit_code, 0);
    for (int fd : junk)
        pf_socket_close(fd);
}

TEST(QelmonActions, StartOfAServiceThatCannotRunReportsItsExitCode)
{
    qelmon_fixture f;
    ASSERT_EQ(f.action("CREATE").exit_code, 0);
    f.registry("", "dword:00000001");
    process_result start = f.action("START");
    EXPECT_EQ(start.exit_code, k_failure);
    EXPECT_TRUE(f.log_has("Service failed to start. Error Code [1000].")) << f.log();
    EXPECT_TRUE(contains(start.output, "Service failed to start. Error Code [1000].")) << start.output;
}

TEST(QelmonRun, RefusesABadRegistryBeforeStartingAnything)
{
    market tx("qel_ip_tx");
    struct
    {
        std::string registry; // empty: no file at all
        const char *line;
    } cases[] = {
        {"", "RegOpenKeyEx failed for [SOFTWARE\\QEL_IP] , return code [2] "},
        {"[SOFTWARE\\QEL_IP]\n\"SERVICESTATUS\"=dword:1\n\"path\"=oops\n", "return code [1009]"},
        {"[SOFTWARE\\QEL_IP]\n\"SERVICESTATUS\"=dword:1\n[SOFTWARE\\QEL_IP\\COMMON]\n" +
             qelmon_fixture::process("2", tx.binary, "-c qel_ip.cfg"),
         "Qel Installation is in progress, can't start service"},
        {"[SOFTWARE\\QEL_IP]\n[SOFTWARE\\QEL_IP\\COMMON]\n",
         "RegQueryValueEx failed for [SOFTWARE\\QEL_IP\\SERVICESTATUS]"},
    };
    std::string many;
    for (int i = 0; i < 64; ++i)
        many += qelmon_fixture::process("M" + std::to_string(100 + i), tx.binary, "-c qel_ip.cfg");
    for (const auto &c : cases)
    {
        qelmon_fixture f;
        ASSERT_EQ(f.action("CREATE").exit_code, 0);
        if (c.registry.empty())
            unlink(f.dir.file("registry").c_str());
        else
            f.dir.write("registry", c.registry);
        process_result run = f.action("RUN");
        EXPECT_EQ(run.exit_code, k_failure) << c.line;
        EXPECT_TRUE(f.log_has(c.line)) << f.log();
        EXPECT_TRUE(contains(run.output, "qelmon: action [RUN] failed: ")) << run.output;
        pf_service_query_result result;
        ASSERT_EQ(pf_service_query("QEL_IP", &result), 0u);
        EXPECT_EQ(result.status.current_state, PF_SERVICE_STOPPED);
        EXPECT_EQ(result.status.service_specific_exit_code, 1000u);
        EXPECT_TRUE(contains(result.note, "started by hand or by START")) << result.note;
        EXPECT_EQ(running_pid(tx.binary), 0u);
    }
    qelmon_fixture f;
    ASSERT_EQ(f.action("CREATE").exit_code, 0);
    f.registry(many);
    EXPECT_EQ(f.action("RUN").exit_code, k_failure);
    EXPECT_TRUE(f.log_has("Too many processes in the registry: at most [63] can be supervised"));
    EXPECT_EQ(running_pid(tx.binary), 0u);
    // One RUN per folder.
    process_result second;
    {
        qelmon_fixture g;
        ASSERT_EQ(g.action("CREATE").exit_code, 0);
        auto run = g.start_run();
        ASSERT_TRUE(qel_test::wait_until([&] { return g.state() == PF_SERVICE_RUNNING; }, 10000));
        second = g.action("RUN");
        EXPECT_EQ(second.exit_code, k_failure);
        EXPECT_TRUE(g.log_has("Error Code [1056]")) << g.log();
        run->signal(SIGTERM);
        EXPECT_EQ(run->wait(30000).exit_code, 0);
    }
}

TEST(QelmonRun, GatewayRestartsAfterTheConsolesRestartRequest)
{
    qelmon_fixture f;
    market tx("qel_ip_tx");
    f.registry(qelmon_fixture::process("2", tx.binary, "-c qel_ip.cfg") +
               "[SOFTWARE\\QEL_IP\\1]\n\"CONFIG_FILE_PATH\"=\"x\"\n"); // a market without path: skipped
    ASSERT_EQ(f.action("CREATE").exit_code, 0);
    auto run = f.start_run();
    ASSERT_TRUE(qel_test::wait_until([&] { return gateway_listening(tx); }, 15000)) << f.log();
    // The service says it runs once every process is started, which may be after this one listens.
    EXPECT_TRUE(qel_test::wait_until([&] { return f.state() == PF_SERVICE_RUNNING; }, 15000)) << f.state();
    uint32_t first = running_pid(tx.binary);
    ASSERT_NE(first, 0u);
    EXPECT_TRUE(f.log_has("RegQueryValueEx failed for [SOFTWARE\\QEL_IP\\1] , return code [2] "));
    // Its working folder is the market folder: the gateway's logs land there.
    EXPECT_FALSE(tx.dir.list("logs").empty());

    sim_console::console_client console;
    ASSERT_TRUE(console.connect(tx.interactive_port()));
    ASSERT_TRUE(console.send_request(sim_console::TC_RESTART));
    ASSERT_TRUE(qel_test::wait_until([&] { return f.log_has("terminated with exit code [10001]"); }, 20000))
        << f.log();
    ASSERT_TRUE(qel_test::wait_until(
        [&]
        {
            uint32_t pid = running_pid(tx.binary);
            return pid != 0 && pid != first && gateway_ready(tx, 2);
        },
        20000))
        << f.log();
    EXPECT_TRUE(f.log_has("The process [" + tx.binary + "] created successfully with process id: ["));

    // SIGTERM stops the service: the gateway stops in order (exit 0, its files rolled).
    run->signal(SIGTERM);
    process_result ended = run->wait(40000);
    EXPECT_EQ(ended.exit_code, 0);
    EXPECT_EQ(running_pid(tx.binary), 0u);
    EXPECT_TRUE(f.log_has("The process[" + tx.binary + "] terminated successfully"));
    EXPECT_TRUE(f.log_has("Exit code [0]")) << f.log();
    for (const std::string &name : tx.dir.list("logs"))
        EXPECT_FALSE(contains(name, ".current.")) << name;
    EXPECT_EQ(f.state(), PF_SERVICE_STOPPED);
}

TEST(QelmonRun, HeldProcessesWaitForControl130BesideARunningGateway)
{
    qelmon_fixture f;
    market tx("qel_ip_tx");
    market kr("qel_ip_kr");
    market hy("qel_ip_hy");
    f.registry(qelmon_fixture::process("1", kr.binary, "-x") +                     // usage error: 10005
               qelmon_fixture::process("2", tx.binary, "-c qel_ip.cfg") +          // runs
               qelmon_fixture::process("3", hy.binary, "-c \\\"no such.cfg\\\"") + // start-up failure: 10003
               qelmon_fixture::process("4", f.dir.file("qel_ip_gone"), "-c qel_ip.cfg"));
    ASSERT_EQ(f.action("CREATE").exit_code, 0);
    auto run = f.start_run();
    ASSERT_TRUE(qel_test::wait_until(
        [&] { return gateway_ready(tx) && f.log_has("Not restarting the process", 3); }, 20000))
        << f.log();
    EXPECT_TRUE(f.log_has("Process executable [" + f.dir.file("qel_ip_gone") + "] not found"));
    EXPECT_TRUE(f.log_has("terminated with exit code [10005]"));
    EXPECT_TRUE(f.log_has("terminated with exit code [10003]"));
    uint32_t gateway = running_pid(tx.binary);

    // One 130 releases every held process; they fail again and are held again.
    ASSERT_EQ(pf_service_control("QEL_IP", 130, nullptr), 0u);
    ASSERT_TRUE(qel_test::wait_until([&] { return f.log_has("Not restarting the process", 6); }, 20000))
        << f.log();
    EXPECT_TRUE(f.log_has("Start event is set. Starting all non running processes"));
    EXPECT_TRUE(f.log_has("terminated with exit code [10005]", 2));
    EXPECT_TRUE(f.log_has("terminated with exit code [10003]", 2));
    EXPECT_TRUE(f.log_has("Process executable [" + f.dir.file("qel_ip_gone") + "] not found", 2));
    EXPECT_EQ(running_pid(tx.binary), gateway) << "the running gateway was not disturbed";

    // The missing executable appears: the next 130 starts it.
    ASSERT_EQ(link(tx.binary.c_str(), f.dir.file("qel_ip_gone").c_str()), 0);
    ASSERT_EQ(pf_service_control("QEL_IP", 130, nullptr), 0u);
    ASSERT_TRUE(qel_test::wait_until(
        [&] { return f.log_has("The process [" + f.dir.file("qel_ip_gone") + "] created successfully"); },
        20000))
        << f.log();

    run->signal(SIGTERM);
    EXPECT_EQ(run->wait(40000).exit_code, 0);
    EXPECT_EQ(running_pid(tx.binary), 0u);
}

TEST(QelmonRun, SupervisionLogsUnderTheMonitoringThreadAndTheRegistryReader)
{
    qelmon_fixture f;
    f.dir.write("crash.sh", "#!/bin/sh\nexit 1\n");
    f.dir.write("held.sh", "#!/bin/sh\nexit 19\n"); // 10003, a start-up failure, as a parent sees it
    f.dir.write(
        "serve.sh",
        "#!/bin/sh\ntrap 'exit 0' TERM\ni=0\nwhile [ $i -lt 600 ]; do sleep 0.1; i=$((i + 1)); done\n");
    for (const char *script : {"crash.sh", "held.sh", "serve.sh"})
        ASSERT_EQ(chmod(f.dir.file(script).c_str(), 0755), 0);
    f.registry(qelmon_fixture::process("2", f.dir.file("crash.sh"), "") +
               qelmon_fixture::process("3", f.dir.file("held.sh"), "") +
               qelmon_fixture::process("4", f.dir.file("gone.sh"), "") +
               qelmon_fixture::process("5", f.dir.file("serve.sh"), "") +
               "[SOFTWARE\\QEL_IP\\1]\n\"CONFIG_FILE_PATH\"=\"x\"\n"); // a market without path: skipped
    ASSERT_EQ(f.action("CREATE").exit_code, 0);
    auto run = f.start_run();
    ASSERT_TRUE(qel_test::wait_until(
        [&] { return f.log_has("did not stay up for [30] s") && f.log_has("Not restarting the process", 2); },
        20000))
        << f.log();
    ASSERT_EQ(pf_service_control("QEL_IP", 130, nullptr), 0u);
    ASSERT_TRUE(qel_test::wait_until([&] { return f.log_has("Not restarting the process", 4); }, 20000))
        << f.log();
    run->signal(SIGTERM);
    EXPECT_EQ(run->wait(30000).exit_code, 0);
    const std::string log = f.log();
    expect_lines_under(log,
                       {"Registry key [SOFTWARE\\QEL_IP] read successfully",
                        "Key Service Status read successfully",
                        "RegQueryValueEx failed for [SOFTWARE\\QEL_IP\\1] , return code [2] "},
                       "qel_service_get_qel_arguments");
    expect_lines_under(
        log,
        {"Process [" + f.dir.file("crash.sh") + "], working dir [",
         "The process created successfully with process id: [",
         "The process [" + f.dir.file("crash.sh") + "] created successfully with process id: [",
         "The process [" + f.dir.file("crash.sh") + "], id [", "Waitable timer set sucessfully",
         "The process [" + f.dir.file("crash.sh") + "] did not stay up for [30] s",
         "Process executable [" + f.dir.file("gone.sh") + "] not found",
         "Error Code [2]: ", "Not restarting the process [" + f.dir.file("held.sh") + "]",
         "Set waiting_for_start_event flag to TRUE", "Set service status to SERVICE_RUNNING.",
         "Start event is set. Starting all non running processes",
         "Set waiting_for_start_event flag to FALSE"},
        "qel_service_monitor");
    expect_lines_under(log, {"The process[" + f.dir.file("serve.sh") + "] terminated successfully"},
                       "qel_service_terminate_process");
}

TEST(QelmonRun, AProgramThatEndsAtOnceIsRestartedLessAndLessOften)
{
    qelmon_fixture f;
    f.dir.write("crash.sh", "#!/bin/sh\necho started >> " + f.dir.file("starts.txt") + "\nexit 1\n");
    ASSERT_EQ(chmod(f.dir.file("crash.sh").c_str(), 0755), 0);
    f.registry(qelmon_fixture::process("5", f.dir.file("crash.sh"), ""));
    ASSERT_EQ(f.action("CREATE").exit_code, 0);
    auto starts = [&] { return count_of(f.dir.read("starts.txt"), "started"); };
    auto run = f.start_run();
    ASSERT_TRUE(qel_test::wait_until([&] { return starts() >= 1; }, 15000)) << f.log();
    // Restarts after 1 s, then 2 s, then 4 s: three starts in the next 4 s at most, where
    // a restart every second makes five.
    std::this_thread::sleep_for(std::chrono::seconds(4));
    EXPECT_LE(starts(), 3u) << f.log();
    EXPECT_TRUE(qel_test::wait_until([&] { return starts() >= 3; }, 15000)) << f.log();
    EXPECT_TRUE(f.log_has("did not stay up for [30] s: its restart waits [2000] ms")) << f.log();
    run->signal(SIGTERM);
    EXPECT_EQ(run->wait(30000).exit_code, 0);
}

TEST(QelmonRun, TheConsolesRestartRequestIsNeverBackedOff)
{
    qelmon_fixture f;
    // Ends as a gateway does after the console's restart request (10001, which a parent
    // sees as 17), 0.3 s after each start.
    f.dir.write("restart.sh",
                "#!/bin/sh\necho started >> " + f.dir.file("starts.txt") + "\nsleep 0.3\nexit 17\n");
    ASSERT_EQ(chmod(f.dir.file("restart.sh").c_str(), 0755), 0);
    f.registry(qelmon_fixture::process("5", f.dir.file("restart.sh"), ""));
    ASSERT_EQ(f.action("CREATE").exit_code, 0);
    auto starts = [&] { return count_of(f.dir.read("starts.txt"), "started"); };
    auto run = f.start_run();
    ASSERT_TRUE(qel_test::wait_until([&] { return starts() >= 1; }, 15000)) << f.log();
    // A restart every 1.3 s makes seven starts in about 8 s; backed off (1, 2, 4, 8, 16 and
    // 30 s) the seventh would come after more than 61 s.
    EXPECT_TRUE(qel_test::wait_until([&] { return starts() >= 7; }, 45000)) << f.log();
    EXPECT_TRUE(f.log_has("terminated with exit code [10001]", 6)) << f.log();
    EXPECT_FALSE(f.log_has("did not stay up")) << f.log();
    run->signal(SIGTERM);
    EXPECT_EQ(run->wait(30000).exit_code, 0);
}

TEST(QelmonRun, HangUpStopsTheServiceInOrder)
{
    qelmon_fixture f;
    // A supervised program that notes the stop request it is sent (and ends by itself
    // after a minute, should nothing stop it).
    f.dir.write("serve.sh", "#!/bin/sh\ntrap 'echo stopped >> " + f.dir.file("stops.txt") +
                                "; exit 0' TERM\necho started >> " + f.dir.file("starts.txt") +
                                "\ni=0\nwhile [ $i -lt 600 ]; do sleep 0.1; i=$((i + 1)); done\n");
    ASSERT_EQ(chmod(f.dir.file("serve.sh").c_str(), 0755), 0);
    f.registry(qelmon_fixture::process("5", f.dir.file("serve.sh"), ""));
    ASSERT_EQ(f.action("CREATE").exit_code, 0);
    auto run = f.start_run();
    ASSERT_TRUE(qel_test::wait_until(
        [&] { return f.state() == PF_SERVICE_RUNNING && contains(f.dir.read("starts.txt"), "started"); },
        15000))
        << f.log();
    // The terminal qelmon was started from hangs up.
    run->signal(SIGHUP);
    process_result ended = run->wait(30000);
    EXPECT_EQ(ended.signal, 0) << "ended by the signal itself";
    EXPECT_EQ(ended.exit_code, 0);
    EXPECT_EQ(f.state(), PF_SERVICE_STOPPED);
    EXPECT_EQ(f.dir.read("stops.txt"), "stopped\n") << "the program was stopped in order";
    EXPECT_TRUE(f.log_has("The process[" + f.dir.file("serve.sh") + "] terminated successfully")) << f.log();
    EXPECT_TRUE(f.log_has("Exit code [0]")) << f.log();
}

TEST(QelmonRun, AdoptsARunningGatewayAndRestartsItWhenItEnds)
{
    qelmon_fixture f;
    market tx("qel_ip_tx");
    child_process own({tx.binary, "-c", "qel_ip.cfg"}, tx.dir.path());
    ASSERT_TRUE(qel_test::wait_until([&] { return gateway_ready(tx); }, 15000));
    f.registry(qelmon_fixture::process("2", tx.binary, "-c qel_ip.cfg"));
    ASSERT_EQ(f.action("CREATE").exit_code, 0);
    auto run = f.start_run();
    ASSERT_TRUE(qel_test::wait_until([&] { return f.state() == PF_SERVICE_RUNNING; }, 10000)) << f.log();
    EXPECT_TRUE(f.log_has("Started monitoring the process which is running already with process id: [" +
                          std::to_string(own.pid()) + "]"))
        << f.log();
    EXPECT_EQ(running_pid(tx.binary), static_cast<uint32_t>(own.pid())) << "not started twice";

    own.signal(SIGTERM);
    EXPECT_EQ(own.wait(20000).exit_code, 0);
    ASSERT_TRUE(qel_test::wait_until(
        [&]
        {
            uint32_t pid = running_pid(tx.binary);
            return pid != 0 && pid != static_cast<uint32_t>(own.pid());
        },
        20000))
        << f.log();
    EXPECT_TRUE(f.log_has("Its exit code is unknown: it was adopted, not started here."));

    ASSERT_EQ(f.action("STOP").exit_code, 0);
    EXPECT_EQ(run->wait(40000).exit_code, 0);
    EXPECT_EQ(running_pid(tx.binary), 0u);
}
