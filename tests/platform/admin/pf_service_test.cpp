// Process creation without a shell, and the service manager: entries and units, the
// control road with its Windows error numbers, the dispatcher's states and signals, a
// status whose process died.
#include "platform/admin/pf_service.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/admin/pf_spawn.h"
#include "platform/core/pf_socket.h"
#include "support/test_support.h"

using qel_test::temp_dir;

TEST(CommandLine, SplitsAtBlanksWithQuotesGrouping)
{
    struct
    {
        const char *text;
        std::vector<std::string> words;
    } cases[] = {
        {"-c qel_ip.cfg", {"-c", "qel_ip.cfg"}},
        {"  -c\t\tqel_ip.cfg  ", {"-c", "qel_ip.cfg"}},
        {"-c \"/opt/a b/qel_ip.cfg\"", {"-c", "/opt/a b/qel_ip.cfg"}},
        {"-c /opt/\"a b\"/x.cfg", {"-c", "/opt/a b/x.cfg"}},
        {"\"\" x", {"", "x"}},
        {"", {}},
        {"   ", {}},
    };
    for (const auto &c : cases)
    {
        std::vector<std::string> words{"left over"};
        EXPECT_TRUE(pf_split_command_line(c.text, &words)) << c.text;
        EXPECT_EQ(words, c.words) << c.text;
    }
    std::vector<std::string> words;
    EXPECT_FALSE(pf_split_command_line("-c \"unterminated", &words));
}

TEST(CommandLine, FolderOfAPathIsUpToItsLastSlash)
{
    EXPECT_EQ(pf_folder_of("/opt/qel/bin/qel_ip_tx"), "/opt/qel/bin");
    EXPECT_EQ(pf_folder_of("/qel_ip_tx"), "/");
    EXPECT_EQ(pf_folder_of("qel_ip_tx"), ".");
    EXPECT_EQ(pf_folder_of("bin/qel_ip_tx"), "bin");
}

TEST(Spawn, ChildGetsItsFolderArgumentsAndNothingElseOfTheParent)
{
    temp_dir dir;
    mkdir(dir.file("work").c_str(), 0700);
    int out = open(dir.file("out.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ASSERT_GE(out, 0);
    int stray = open("/dev/null", O_RDONLY); // inheritable: must not reach the child
    signal(SIGPIPE, SIG_IGN);
    std::string work = dir.file("work");
    pf_spawn_options options;
    options.working_folder = work.c_str();
    options.stdout_fd = out;
    options.stderr_fd = out;
    options.own_process_group = true;
    options.environment = {"QEL_SPAWN_TEST=yes"};
    const char *script = "pwd; echo \"$0|$1|$QEL_SPAWN_TEST\"; ls -m /proc/$$/fd;"
                         "grep SigIgn /proc/$$/status; read line; echo \"read=$?\";"
                         "cut -d' ' -f5 /proc/$$/stat; echo $$";
    pid_t pid = 0;
    ASSERT_EQ(pf_spawn("/bin/sh", {"/bin/sh", "-c", script, "a b"}, options, &pid), 0);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    close(out);
    close(stray);
    std::vector<std::string> lines;
    std::string text = dir.read("out.txt");
    for (size_t at = 0; at < text.size();)
    {
        size_t end = text.find('\n', at);
        lines.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    ASSERT_EQ(lines.size(), 7u) << text;
    char resolved[4096];
    ASSERT_NE(realpath(dir.file("work").c_str(), resolved), nullptr);
    EXPECT_EQ(lines[0], resolved);
    EXPECT_EQ(lines[1], "a b||yes");
    EXPECT_EQ(lines[2], "0, 1, 2") << "only the standard streams";
    // The C library's own internal signals (32 and 33) are its business; the standard ones
    // (SIGPIPE among them, ignored here) are back at their defaults.
    unsigned long long ignored = std::stoull(lines[3].substr(lines[3].find('\t') + 1), nullptr, 16);
    EXPECT_EQ(ignored & 0x7FFFFFFFull, 0u) << lines[3];
    EXPECT_EQ(lines[4], "read=1") << "stdin is /dev/null";
    EXPECT_EQ(lines[5], lines[6]) << "own process group";
}

TEST(Spawn, MissingOrNonExecutableProgramFailsWithItsErrno)
{
    temp_dir dir;
    dir.write("plain", "not a program");
    pid_t pid = 0;
    pf_spawn_options options;
    EXPECT_EQ(pf_spawn(dir.file("absent").c_str(), {"absent"}, options, &pid), ENOENT);
    EXPECT_EQ(pf_spawn(dir.file("plain").c_str(), {"plain"}, options, &pid), EACCES);
    std::string missing = dir.file("no_such_folder");
    options.working_folder = missing.c_str();
    EXPECT_EQ(pf_spawn("/bin/true", {"/bin/true"}, options, &pid), ENOENT);
}

namespace
{
struct service_fixture
{
    temp_dir dir;
    service_fixture()
    {
        setenv("QEL_SERVICE_DIR", dir.path().c_str(), 1);
        setenv("QEL_REGISTRY_FILE", dir.file("registry").c_str(), 1);
    }
    ~service_fixture()
    {
        unsetenv("QEL_SERVICE_DIR");
        unsetenv("QEL_REGISTRY_FILE");
    }
    uint32_t create(const char *command = "\"/opt/qel ip/qelmon\" -w \"/opt/qel ip\" -a \"RUN\"")
    {
        pf_service_entry entry = {
            "QEL_IP", "QEL_IP", "Service to start/ stop and monitor Quick Exchange Link For IP", command, 30,
            10,       0};
        return pf_service_create(&entry);
    }
};

// A service in this process: main reports running and waits for the stop control.
std::atomic<pf_service_status_handle *> g_handle{nullptr};
std::vector<uint32_t> g_controls; // written on the dispatcher's thread
std::atomic<bool> g_stop{false};
std::atomic<bool> g_go_running{false};

void report(uint32_t state, uint32_t exit_code)
{
    pf_service_status status = {
        PF_SERVICE_WIN32_OWN_PROCESS, state, PF_SERVICE_ACCEPT_STOP, exit_code ? 1066u : 0u, exit_code, 0, 0};
    pf_service_set_status(g_handle, &status);
}

uint32_t test_handler(uint32_t control)
{
    g_controls.push_back(control);
    if (control == PF_SERVICE_CONTROL_STOP)
    {
        report(PF_SERVICE_STOP_PENDING, 0);
        g_stop = true;
    }
    return 0;
}

void test_main(uint32_t, char **)
{
    g_handle = pf_service_register_handler("QEL_IP", test_handler);
    while (!g_go_running)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    report(PF_SERVICE_RUNNING, 0);
    while (!g_stop)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    pf_service_set_note(g_handle, "stopped by\nrequest");
    report(PF_SERVICE_STOPPED, 1000);
}

// A connection to a control socket, -1 on failure.
int connect_control(const std::string &path)
{
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0)
        return fd;
    if (fd >= 0)
        pf_socket_close(fd);
    return -1;
}

uint32_t state_of(const char *name)
{
    pf_service_query_result result;
    return pf_service_query(name, &result) == 0 ? result.status.current_state : 0;
}
} // namespace

TEST(Service, CreateWritesTheEntryAndTheUnitOnce)
{
    service_fixture f;
    ASSERT_EQ(f.create(), 0u);
    EXPECT_EQ(f.create(), 1073u);
    char command[256];
    ASSERT_EQ(pf_service_read_command_line("QEL_IP", command, sizeof command), 0u);
    EXPECT_STREQ(command, "\"/opt/qel ip/qelmon\" -w \"/opt/qel ip\" -a \"RUN\"");
    EXPECT_EQ(f.dir.read("QEL_IP.service"),
              "[Unit]\n"
              "Description=Service to start/ stop and monitor Quick Exchange Link For IP\n"
              "StartLimitIntervalSec=30\n"
              "StartLimitBurst=10\n"
              "\n"
              "[Service]\n"
              "Type=simple\n"
              "ExecStart=\"/opt/qel ip/qelmon\" \"-w\" \"/opt/qel ip\" \"-a\" \"RUN\"\n"
              "Environment=\"QEL_REGISTRY_FILE=" +
                  f.dir.file("registry") +
                  "\"\n"
                  "Environment=\"QEL_SERVICE_DIR=" +
                  f.dir.path() +
                  "\"\n"
                  "Restart=on-failure\n"
                  "RestartSec=0ms\n"
                  "KillMode=process\n"
                  "\n"
                  "[Install]\n"
                  "WantedBy=multi-user.target\n");
    ASSERT_EQ(pf_service_delete("QEL_IP"), 0u);
    EXPECT_EQ(pf_service_delete("QEL_IP"), 1060u);
    EXPECT_TRUE(f.dir.list().empty());
}

TEST(Service, UnitCarriesTheEntrysDescriptorLimit)
{
    service_fixture f;
    pf_service_entry entry = {"QEL_IP", "QEL_IP", "", "/opt/qel/qelmon", 30, 10, 0, 65536};
    ASSERT_EQ(pf_service_create(&entry), 0u);
    std::string unit = f.dir.read("QEL_IP.service");
    EXPECT_NE(unit.find("\nKillMode=process\nLimitNOFILE=65536\n\n[Install]\n"), std::string::npos) << unit;
}

TEST(Service, ControlsFailWithoutEntryOrWhileNotRunning)
{
    service_fixture f;
    pf_service_query_result result;
    EXPECT_EQ(pf_service_control("QEL_IP", 130, nullptr), 1060u);
    EXPECT_EQ(pf_service_query("QEL_IP", &result), 1060u);
    EXPECT_EQ(pf_service_start("QEL_IP", nullptr), 1060u);
    ASSERT_EQ(f.create(), 0u);
    EXPECT_EQ(pf_service_control("QEL_IP", 130, nullptr), 1062u);
    ASSERT_EQ(pf_service_query("QEL_IP", &result), 0u);
    EXPECT_EQ(result.status.current_state, PF_SERVICE_STOPPED);
    EXPECT_EQ(result.process_id, 0u);
}

TEST(Service, DispatcherServesControlsByStateUntilStopped)
{
    service_fixture f;
    ASSERT_EQ(f.create(), 0u);
    g_controls.clear();
    g_stop = false;
    g_go_running = false;
    std::atomic<uint32_t> dispatcher_result{99};
    std::thread dispatcher([&] { dispatcher_result = pf_service_run_dispatcher("QEL_IP", test_main); });

    ASSERT_TRUE(qel_test::wait_until([&] { return g_handle.load() != nullptr; }, 5000));
    EXPECT_EQ(state_of("QEL_IP"), PF_SERVICE_START_PENDING);
    EXPECT_EQ(pf_service_control("QEL_IP", 130, nullptr), 1061u);
    EXPECT_EQ(pf_service_start("QEL_IP", nullptr), 1056u);
    // A second dispatcher on the folder (another process's lock) is refused.
    EXPECT_EQ(pf_service_run_dispatcher("QEL_IP", test_main), 1056u);

    g_go_running = true;
    ASSERT_TRUE(qel_test::wait_until([] { return state_of("QEL_IP") == PF_SERVICE_RUNNING; }, 5000));
    pf_service_query_result result;
    ASSERT_EQ(pf_service_query("QEL_IP", &result), 0u);
    EXPECT_EQ(result.process_id, static_cast<uint32_t>(getpid()));
    struct stat socket_info;
    ASSERT_EQ(stat(f.dir.file("QEL_IP.control").c_str(), &socket_info), 0);
    EXPECT_TRUE(S_ISSOCK(socket_info.st_mode));
    EXPECT_EQ(socket_info.st_mode & 0777, 0660u);

    pf_service_status status = {};
    EXPECT_EQ(pf_service_control("QEL_IP", 130, &status), 0u);
    EXPECT_EQ(status.current_state, PF_SERVICE_RUNNING);
    // A code that arrives in two pieces is answered once whole.
    int raw = connect_control(f.dir.file("QEL_IP.control"));
    ASSERT_GE(raw, 0);
    const uint8_t code[4] = {130, 0, 0, 0};
    ASSERT_EQ(send(raw, code, 2, 0), 2);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_EQ(send(raw, code + 2, 2, 0), 2);
    uint8_t reply[5] = {9, 9, 9, 9, 9};
    EXPECT_EQ(recv(raw, reply, 4, MSG_WAITALL), 4);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(reply), 4), std::string(4, '\0'));
    EXPECT_EQ(recv(raw, reply, 1, 0), 0) << "closed after the answer";
    pf_socket_close(raw);
    EXPECT_EQ(pf_service_control("QEL_IP", 2, nullptr), 1052u); // pause: not accepted
    EXPECT_EQ(pf_service_control("QEL_IP", 256, nullptr), 1052u);
    EXPECT_EQ(pf_service_control("QEL_IP", PF_SERVICE_CONTROL_STOP, nullptr), 0u);
    dispatcher.join();
    EXPECT_EQ(dispatcher_result, 0u);
    EXPECT_EQ(g_controls, (std::vector<uint32_t>{130, 130, 1}));

    ASSERT_EQ(pf_service_query("QEL_IP", &result), 0u);
    EXPECT_EQ(result.status.current_state, PF_SERVICE_STOPPED);
    EXPECT_EQ(result.status.win32_exit_code, 1066u);
    EXPECT_EQ(result.status.service_specific_exit_code, 1000u);
    EXPECT_STREQ(result.note, "stopped by request");
    EXPECT_EQ(stat(f.dir.file("QEL_IP.control").c_str(), &socket_info), -1);
    EXPECT_EQ(pf_service_control("QEL_IP", 130, nullptr), 1062u);
    g_handle = nullptr;
}

TEST(Service, TerminationSignalIsTheStopControl)
{
    service_fixture f;
    ASSERT_EQ(f.create(), 0u);
    g_controls.clear();
    g_stop = false;
    g_go_running = true;
    std::thread dispatcher([&] { pf_service_run_dispatcher("QEL_IP", test_main); });
    ASSERT_TRUE(qel_test::wait_until([] { return state_of("QEL_IP") == PF_SERVICE_RUNNING; }, 5000));
    kill(getpid(), SIGTERM);
    dispatcher.join();
    EXPECT_EQ(g_controls, std::vector<uint32_t>{1});
    EXPECT_EQ(state_of("QEL_IP"), PF_SERVICE_STOPPED);
    g_handle = nullptr;
}

TEST(Service, DispatcherRefusesAFolderItCannotUse)
{
    {
        service_fixture f;
        EXPECT_EQ(pf_service_run_dispatcher("QEL_IP", test_main), 1060u); // no entry
        int folder = open(f.dir.path().c_str(), O_RDONLY | O_DIRECTORY);
        ASSERT_EQ(flock(folder, LOCK_EX), 0);
        ASSERT_EQ(f.create(), 0u);
        EXPECT_EQ(pf_service_run_dispatcher("QEL_IP", test_main), 1056u);
        close(folder);
    }
    {
        service_fixture f;
        std::string deep = f.dir.path() + "/" + std::string(100, 'd');
        ASSERT_EQ(mkdir(deep.c_str(), 0700), 0);
        setenv("QEL_SERVICE_DIR", deep.c_str(), 1);
        ASSERT_EQ(f.create(), 0u);
        EXPECT_EQ(pf_service_run_dispatcher("QEL_IP", test_main), static_cast<uint32_t>(ENAMETOOLONG));
        setenv("QEL_SERVICE_DIR", f.dir.file("missing").c_str(), 1);
        EXPECT_EQ(pf_service_run_dispatcher("QEL_IP", test_main), static_cast<uint32_t>(ENOENT));
    }
}

TEST(Service, StatusOfADeadProcessReadsStopped)
{
    service_fixture f;
    ASSERT_EQ(f.create(), 0u);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0)
        _exit(0);
    waitpid(child, nullptr, 0);
    f.dir.write("QEL_IP.status", "SERVICE_NAME: QEL_IP\nSTATE: 4 RUNNING\nPID: " + std::to_string(child) +
                                     "\nPROCESS_START: 1\nCONTROLS_ACCEPTED: 1\nWIN32_EXIT_CODE: 0\n");
    pf_service_query_result result;
    ASSERT_EQ(pf_service_query("QEL_IP", &result), 0u);
    EXPECT_EQ(result.status.current_state, PF_SERVICE_STOPPED);
    EXPECT_EQ(result.status.win32_exit_code, 1067u);
    EXPECT_EQ(result.process_id, 0u);
    EXPECT_EQ(pf_service_control("QEL_IP", 130, nullptr), 1062u);
}

TEST(Service, StartRunsTheStoredCommandDetachedWithTheEntrysEnvironment)
{
    service_fixture f;
    std::string command =
        "/bin/sh -c \"(echo $QEL_SERVICE_DIR $QEL_REGISTRY_FILE; cut -d' ' -f6 /proc/$$/stat; cut -d' ' -f1 "
        "/proc/$$/stat) > " +
        f.dir.file("started.txt") + "\"";
    ASSERT_EQ(f.create(command.c_str()), 0u);
    unsetenv("QEL_REGISTRY_FILE"); // the entry's value reaches the service all the same
    ASSERT_EQ(pf_service_start("QEL_IP", nullptr), 0u);
    ASSERT_TRUE(qel_test::wait_until(
        [&]
        {
            std::string t = f.dir.read("started.txt");
            return std::count(t.begin(), t.end(), '\n') == 3;
        },
        5000));
    std::string text = f.dir.read("started.txt");
    EXPECT_EQ(text.substr(0, text.find('\n')), f.dir.path() + " " + f.dir.file("registry"));
    std::string rest = text.substr(text.find('\n') + 1);
    std::string sid = rest.substr(0, rest.find('\n'));
    std::string pid = rest.substr(rest.find('\n') + 1);
    pid = pid.substr(0, pid.find('\n'));
    EXPECT_EQ(sid, pid) << "a session of its own";
    // Reap the started shell, which is this process's child.
    waitpid(static_cast<pid_t>(std::stol(pid)), nullptr, 0);
}
