// Test helpers over POSIX: these run only in tests, so they call the system directly.
#include "support/test_support.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "platform/admin/exit_status.h"

namespace qel_test
{

temp_dir::temp_dir()
{
    const char *base = getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/qel_test_XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    m_path = buffer.data();
}

static void remove_tree(const std::string &path)
{
    DIR *dir = opendir(path.c_str());
    if (dir != nullptr)
    {
        while (dirent *entry = readdir(dir))
        {
            std::string name = entry->d_name;
            if (name == "." || name == "..")
                continue;
            std::string child = path + "/" + name;
            struct stat info;
            if (lstat(child.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
                remove_tree(child);
            else
                unlink(child.c_str());
        }
        closedir(dir);
    }
    rmdir(path.c_str());
}

// QEL_KEEP_TEST_DIRS=1 keeps the folders (logs and all) for a look after a failure.
temp_dir::~temp_dir()
{
    const char *keep = getenv("QEL_KEEP_TEST_DIRS");
    if (keep == nullptr || strcmp(keep, "1") != 0)
        remove_tree(m_path);
}

void temp_dir::write(const std::string &name, const std::string &content) const
{
    std::ofstream out(file(name), std::ios::binary | std::ios::trunc);
    out << content;
}

std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

std::string temp_dir::read(const std::string &name) const
{
    return read_file(file(name));
}

std::vector<std::string> temp_dir::list(const std::string &subfolder) const
{
    std::vector<std::string> names;
    DIR *dir = opendir(subfolder.empty() ? m_path.c_str() : file(subfolder).c_str());
    if (dir == nullptr)
        return names;
    while (dirent *entry = readdir(dir))
    {
        std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

reserved_port::reserved_port()
{
    m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int on = 1;
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = 0;
    socklen_t length = sizeof(address);
    if (m_fd < 0 || setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        bind(m_fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) != 0 ||
        getsockname(m_fd, reinterpret_cast<sockaddr *>(&address), &length) != 0)
    {
        std::string reason = strerror(errno);
        if (m_fd >= 0)
            close(m_fd);
        throw std::runtime_error("reserving a port failed: " + reason);
    }
    m_number = ntohs(address.sin_port);
}

reserved_port::~reserved_port()
{
    if (m_fd >= 0)
        close(m_fd);
}

bool main_thread_forks()
{
    return syscall(SYS_gettid) == getpid();
}

void die_with_parent(int parent, bool forked_by_main_thread)
{
    if (!forked_by_main_thread)
        return;
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) // the test ended before the signal was armed
        _exit(127);
}

child_process::child_process(const std::vector<std::string> &argv, const std::string &folder)
{
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0)
        throw std::runtime_error("pipe failed");
    const pid_t parent = getpid();
    const bool by_main_thread = main_thread_forks();
    m_pid = fork();
    if (m_pid < 0)
        throw std::runtime_error("fork failed");
    if (m_pid == 0)
    {
        die_with_parent(parent, by_main_thread);
        // A hang-up reaches the program as it would from a terminal, also when the tests
        // themselves run under nohup.
        ::signal(SIGHUP, SIG_DFL);
        if (chdir(folder.c_str()) != 0)
            _exit(127);
        int null_fd = open("/dev/null", O_RDONLY);
        dup2(null_fd, STDIN_FILENO);
        dup2(pipe_fds[1], STDOUT_FILENO);
        dup2(pipe_fds[1], STDERR_FILENO);
        close(pipe_fds[0]);
        close(pipe_fds[1]);
        std::vector<char *> args;
        for (const std::string &arg : argv)
            args.push_back(const_cast<char *>(arg.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    close(pipe_fds[1]);
    m_output_fd = pipe_fds[0];
    fcntl(m_output_fd, F_SETFL, O_NONBLOCK);
}

child_process::~child_process()
{
    if (!m_reaped && m_pid > 0)
    {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
    if (m_output_fd >= 0)
        close(m_output_fd);
}

void child_process::signal(int signal_number) const
{
    kill(m_pid, signal_number);
}

process_result child_process::wait(int timeout_ms)
{
    process_result result = {-1, 0, false, ""};
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    int status = 0;
    for (;;)
    {
        char buffer[4096];
        ssize_t n;
        while ((n = read(m_output_fd, buffer, sizeof(buffer))) > 0)
            m_output.append(buffer, static_cast<size_t>(n));
        pid_t done = waitpid(m_pid, &status, WNOHANG);
        if (done == m_pid)
            break;
        if (std::chrono::steady_clock::now() >= deadline)
        {
            result.timed_out = true;
            kill(m_pid, SIGKILL);
            waitpid(m_pid, &status, 0);
            break;
        }
        pollfd pfd = {m_output_fd, POLLIN, 0};
        poll(&pfd, 1, 10);
    }
    m_reaped = true;
    char buffer[4096];
    ssize_t n;
    while ((n = read(m_output_fd, buffer, sizeof(buffer))) > 0)
        m_output.append(buffer, static_cast<size_t>(n));
    result.exit_code = pf_exit_code_from_wait_status(status, &result.signal);
    result.output = m_output;
    return result;
}

process_result run_process(const std::vector<std::string> &argv, const std::string &folder, int timeout_ms)
{
    child_process child(argv, folder);
    return child.wait(timeout_ms);
}

bool cap_send_buffer(int fd, int bytes)
{
    return setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes) == 0;
}

bool cap_receive_buffer(int fd, int bytes)
{
    return setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes) == 0;
}

} // namespace qel_test
