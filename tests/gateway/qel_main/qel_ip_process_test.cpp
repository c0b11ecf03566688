// qel_ip as its supervisor sees it: the command line, the exit code of every start-up
// path, and a full start that stops in order with every log file closed and renamed.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "support/gateway_config.h"
#include "support/test_support.h"

using qel_test::gateway_config;
using qel_test::process_result;
using qel_test::temp_dir;

namespace
{
process_result run_gateway(const temp_dir &dir, std::vector<std::string> args)
{
    args.insert(args.begin(), QEL_IP_BINARY);
    return qel_test::run_process(args, dir.path(), 20000);
}

bool contains(const std::string &text, const std::string &part)
{
    return text.find(part) != std::string::npos;
}

bool any_log_has(const temp_dir &dir, const std::string &prefix, const std::string &text)
{
    for (const std::string &name : dir.list("logs"))
    {
        if (name.rfind(prefix, 0) == 0 && contains(dir.read("logs/" + name), text))
            return true;
    }
    return false;
}

enum class listener_break
{
    done,
    not_found,
    not_permitted, // the system does not let this process take another's descriptors
};

// Makes the listening socket on `port` of the process stop listening, as a listener
// broken under a running program does: a copy of its descriptor is taken and shut down.
listener_break break_listener_of(int pid, uint16_t port)
{
    int process = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    if (process < 0)
        return listener_break::not_permitted;
    listener_break result = listener_break::not_found;
    for (int fd = 0; fd < 1024 && result == listener_break::not_found; ++fd)
    {
        int copy = static_cast<int>(syscall(SYS_pidfd_getfd, process, fd, 0));
        if (copy < 0)
        {
            if (errno == EPERM || errno == ENOSYS)
                result = listener_break::not_permitted;
            continue;
        }
        sockaddr_in address = {};
        socklen_t length = sizeof(address);
        int listening = 0;
        socklen_t size = sizeof(listening);
        if (getsockname(copy, reinterpret_cast<sockaddr *>(&address), &length) == 0 &&
            address.sin_family == AF_INET && ntohs(address.sin_port) == port &&
            getsockopt(copy, SOL_SOCKET, SO_ACCEPTCONN, &listening, &size) == 0 && listening != 0 &&
            shutdown(copy, SHUT_RDWR) == 0)
            result = listener_break::done;
        close(copy);
    }
    close(process);
    return result;
}

// The FIX port the test configuration's settings file names.
uint16_t fix_port_of(const temp_dir &dir)
{
    const std::string settings = dir.read("fix_settings.cfg");
    const std::string key = "SocketAcceptPort=";
    size_t at = settings.find(key);
    return at == std::string::npos ? 0 : static_cast<uint16_t>(atoi(settings.c_str() + at + key.size()));
}
} // namespace

TEST(QelIpCommandLine, UsageErrorsExitWith10005)
{
    temp_dir dir;
    struct
    {
        std::vector<std::string> args;
        const char *expected;
    } cases[] = {
        {{}, "\nUsage: "},
        {{"-c"}, "\nArgument missing for option c\n"},
        {{"-x"}, "\nInvalid option\n"},
        {{"config.cfg"}, "\nUsage: "},
    };
    for (const auto &c : cases)
    {
        process_result result = run_gateway(dir, c.args);
        EXPECT_EQ(result.exit_code, 10005) << c.expected;
        EXPECT_TRUE(contains(result.output, c.expected)) << result.output;
        EXPECT_TRUE(
            contains(result.output, "\tc [config-file name]: Starts QEL with the specified config file\n"));
    }
    EXPECT_TRUE(dir.list().empty());
}

TEST(QelIpCommandLine, VersionOptionsPrintAndCreateNoFile)
{
    temp_dir dir;
    process_result version = run_gateway(dir, {"-v"});
    EXPECT_EQ(version.exit_code, 0);
    EXPECT_TRUE(contains(version.output, "\nQel Application Version: 4.0 RC14 [41402]\nCompiled on "))
        << version.output;
    EXPECT_FALSE(contains(version.output, "Flags defined"));

    process_result flags = run_gateway(dir, {"-p"});
    EXPECT_EQ(flags.exit_code, 0);
    EXPECT_TRUE(contains(flags.output, "[41402]"));
    EXPECT_TRUE(contains(flags.output, "\n\nFlags defined:\n"));
    EXPECT_TRUE(dir.list().empty());
}

TEST(QelIpStartup, ConfigurationFailuresExitWith10003)
{
    struct
    {
        const char *key;
        const char *value; // null: the key is left out
    } cases[] = {
        {"LOG_FILE_PATH", nullptr},
        {"FIX_FILE_PATH", nullptr},
        {"MAX_TWS_CLIENTS", nullptr},
        {"MAX_TWS_CLIENTS", "40000"},
        {"NUMBER_OF_LINKS", "70000"},
        {"INTERFACE_REALTIME_PORT_NUMBER", "0"},
        {"INTERFACE_INTERACTIVE_PORT_NUMBER", "65536"},
        {"HOST_PORT_NUMBER", "70000"},
        {"HOST_PORT_NUMBER", nullptr},
        {"PORT_NUMBER", "65537"},
        {"MACHINE_WAN_IP", "127.000.000.001X"},
        {"BOX_ID", "0"},
        {"KOVA_EVENT_LOG_FILE", nullptr},
        {"FIX_FILE_PATH", "missing_fix_settings.cfg"},
    };
    for (const auto &c : cases)
    {
        temp_dir dir;
        gateway_config config;
        if (c.value == nullptr)
            config.omitted.insert(c.key);
        else
            config.values[c.key] = c.value;
        process_result result = run_gateway(dir, {"-c", config.write(dir)});
        EXPECT_EQ(result.exit_code, 10003) << c.key << "=" << (c.value ? c.value : "(missing)");
        EXPECT_FALSE(result.timed_out);
    }
}

// A blank value reads as empty: refused at start-up like a missing key, and the log says
// which key.
TEST(QelIpStartup, BlankContractExpiryOffsetExitsWith10003NamingTheKey)
{
    for (const char *value : {" ", "\t", "   15:30:00"})
    {
        SCOPED_TRACE(std::string("[") + value + "]");
        temp_dir dir;
        gateway_config config;
        config.values["CONTRACT_EXPIRY_OFFSET"] = value;
        process_result result = run_gateway(dir, {"-c", config.write(dir)});
        EXPECT_EQ(result.exit_code, 10003);
        EXPECT_FALSE(result.timed_out);
        bool named = false;
        for (const std::string &name : dir.list("logs"))
            named = named || contains(dir.read("logs/" + name),
                                      "[CONTRACT_EXPIRY_OFFSET] Parameter not found in config file [");
        EXPECT_TRUE(named) << "no log line names the key";
    }
}

// An address that is not one refuses the start, and the log says which setting is wrong
// instead of an error left over from an earlier call.
TEST(QelIpStartup, AnInvalidNicIpAddressExitsWith10003NamingTheAddress)
{
    temp_dir dir;
    gateway_config config;
    const std::string config_file = config.write(dir);
    dir.write("fix_settings.cfg", dir.read("fix_settings.cfg") + "NicIpAddress=127.0.0.300\n");
    process_result result = run_gateway(dir, {"-c", config_file});
    EXPECT_EQ(result.exit_code, 10003);
    EXPECT_FALSE(result.timed_out);
    EXPECT_TRUE(any_log_has(
        dir, "fix_network_handler_recv_thread_text.",
        "|Runtime error: Unable to create, bind, or listen to port " + std::to_string(config.fix_port) +
            " (Socket Error: Invalid argument: NicIpAddress=127.0.0.300)|fix_nw_info_create|"))
        << result.output;
    for (const std::string &name : dir.list("logs"))
        EXPECT_FALSE(contains(dir.read("logs/" + name), "File exists")) << name;
}

TEST(QelIpStartup, MissingConfigurationFileExitsWith10003)
{
    temp_dir dir;
    process_result result = run_gateway(dir, {"-c", dir.file("nowhere.cfg")});
    EXPECT_EQ(result.exit_code, 10003);
    EXPECT_TRUE(contains(result.output, "\nStarting QEL [4.0 RC14] with config file ["));
}

TEST(QelIpRun, StartsAndStopsInOrderOnTerminationRequest)
{
    // A supervisor's stop, and the hang-up of the terminal the gateway was started from.
    for (int signal_number : {SIGTERM, SIGHUP})
    {
        SCOPED_TRACE(strsignal(signal_number));
        temp_dir dir;
        gateway_config config;
        std::string config_file = config.write(dir);
        qel_test::child_process gateway({QEL_IP_BINARY, "-c", config_file}, dir.path());

        auto main_log_has = [&](const std::string &text)
        {
            for (const std::string &name : dir.list("logs"))
            {
                if (name.rfind("main_text.", 0) == 0 && contains(dir.read("logs/" + name), text))
                    return true;
            }
            return false;
        };
        ASSERT_TRUE(qel_test::wait_until(
            [&] { return main_log_has("[fix_network_handler_send_thread] thread created"); }, 10000));
        gateway.signal(signal_number);
        process_result result = gateway.wait(20000);
        EXPECT_FALSE(result.timed_out);
        EXPECT_EQ(result.signal, 0) << "ended by the signal itself";
        EXPECT_EQ(result.exit_code, 0);

        std::vector<std::string> logs = dir.list("logs");
        for (const std::string &name : logs)
            EXPECT_FALSE(contains(name, ".current.")) << name << " was left open";
        EXPECT_TRUE(main_log_has("============ QEL Parameters [START] ============"));
        EXPECT_TRUE(main_log_has("Thread routine[interface_thread] Thread id["));
        EXPECT_TRUE(main_log_has("Exit value[204]"));
        std::vector<std::string> files = dir.list();
        EXPECT_NE(std::find(files.begin(), files.end(), "qel_text_log_default.txt"), files.end());
    }
}

TEST(QelIpRun, LostFixListenerStopsTheGatewayInOrderWith10000)
{
    temp_dir dir;
    gateway_config config;
    std::string config_file = config.write(dir);
    qel_test::child_process gateway({QEL_IP_BINARY, "-c", config_file}, dir.path());
    ASSERT_TRUE(qel_test::wait_until(
        [&] { return any_log_has(dir, "main_text.", "[fix_network_handler_send_thread] thread created"); },
        10000));
    const listener_break broken = break_listener_of(gateway.pid(), fix_port_of(dir));
    if (broken == listener_break::not_permitted)
    {
        gateway.signal(SIGTERM);
        gateway.wait(20000);
        GTEST_SKIP() << "this system does not let a test take a child's descriptors";
    }
    ASSERT_EQ(broken, listener_break::done);
    // No signal: the gateway notices by itself and stops.
    process_result result = gateway.wait(20000);
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(result.exit_code, 10000);
    EXPECT_TRUE(any_log_has(
        dir, "main_text.",
        "The FIX acceptor has stopped and FIX clients can no longer connect. Stopping the gateway."));
    EXPECT_TRUE(any_log_has(dir, "main_text.", "Thread routine[interface_thread] Thread id["))
        << "the threads were stopped and joined";
    for (const std::string &name : dir.list("logs"))
        EXPECT_FALSE(contains(name, ".current.")) << name << " was left open";
}

// A run that is interrupted or killed leaves no gateway behind: every process a test starts
// is killed when the test process ends, however it ends.
TEST(QelIpRun, AGatewayStartedByATestEndsWhenTheTestIsKilled)
{
    temp_dir dir;
    gateway_config config;
    std::string config_file = config.write(dir);
    int pid_pipe[2];
    ASSERT_EQ(pipe(pid_pipe), 0);
    pid_t test = fork();
    ASSERT_GE(test, 0);
    if (test == 0)
    {
        // The stand-in for a test process: it starts a gateway and is then killed.
        qel_test::child_process gateway({QEL_IP_BINARY, "-c", config_file}, dir.path());
        int pid = gateway.pid();
        if (write(pid_pipe[1], &pid, sizeof pid) != static_cast<ssize_t>(sizeof pid))
            _exit(1);
        pause();
        _exit(0);
    }
    close(pid_pipe[1]);
    int gateway_pid = 0;
    ASSERT_EQ(read(pid_pipe[0], &gateway_pid, sizeof gateway_pid), static_cast<ssize_t>(sizeof gateway_pid));
    close(pid_pipe[0]);
    ASSERT_TRUE(qel_test::wait_until(
        [&] { return any_log_has(dir, "main_text.", "[fix_network_handler_send_thread] thread created"); },
        10000));

    kill(test, SIGKILL);
    waitpid(test, nullptr, 0);
    auto gateway_gone = [&]
    {
        std::string stat = qel_test::read_file("/proc/" + std::to_string(gateway_pid) + "/stat");
        // "pid (name) S ...": no such process, a zombie (Z) or a dead task (X) has ended.
        size_t close_paren = stat.rfind(')');
        return stat.empty() || close_paren == std::string::npos ||
               stat.compare(close_paren + 2, 1, "Z") == 0 || stat.compare(close_paren + 2, 1, "X") == 0;
    };
    bool gone = qel_test::wait_until(gateway_gone, 10000);
    if (!gone)
        kill(gateway_pid, SIGKILL);
    EXPECT_TRUE(gone) << "the gateway outlived the test that started it";
}
