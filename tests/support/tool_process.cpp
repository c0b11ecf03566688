// fork and exec with both output pipes drained by poll, so that a chatty tool never
// blocks on a full pipe while the test waits for it.
#include "support/tool_process.h"
#include "support/permissions.h"
#include "support/test_support.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <stdexcept>

extern char **environ;

namespace qel_test
{

tool_result run_tool(const std::vector<std::string> &argv, const tool_options &options)
{
    // Everything the child needs is built before fork: the test may run other threads
    // (simulated peers), and a child of a threaded process must not allocate.
    std::vector<char *> args;
    for (const std::string &arg : argv)
        args.push_back(const_cast<char *>(arg.c_str()));
    args.push_back(nullptr);
    std::vector<std::string> env_text;
    for (char **e = environ; *e != nullptr; ++e)
    {
        std::string entry = *e;
        if (options.env.count(entry.substr(0, entry.find('='))) == 0)
            env_text.push_back(entry);
    }
    for (const auto &entry : options.env)
        env_text.push_back(entry.first + "=" + entry.second);
    std::vector<char *> envp;
    for (std::string &entry : env_text)
        envp.push_back(&entry[0]);
    envp.push_back(nullptr);
    rlimit limit = {static_cast<rlim_t>(options.file_size_limit),
                    static_cast<rlim_t>(options.file_size_limit)};

    int out_pipe[2], err_pipe[2];
    if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    const pid_t parent = getpid();
    const bool by_main_thread = main_thread_forks();
    pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0)
    {
        die_with_parent(parent, by_main_thread);
        if (!options.folder.empty() && chdir(options.folder.c_str()) != 0)
            _exit(127);
        if (options.permissions_bind && !drop_permission_override_before_exec())
        {
            static const char failed[] = "the capabilities that pass the mode bits could not be dropped\n";
            ssize_t written = write(err_pipe[1], failed, sizeof failed - 1);
            (void)written;
            _exit(126);
        }
        if (options.file_size_limit >= 0)
        {
            // Writes past the limit fail with EFBIG instead of raising SIGXFSZ.
            signal(SIGXFSZ, SIG_IGN);
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        int null_fd = open("/dev/null", O_RDONLY);
        dup2(null_fd, STDIN_FILENO);
        dup2(out_pipe[1], STDOUT_FILENO);
        dup2(err_pipe[1], STDERR_FILENO);
        execve(args[0], args.data(), envp.data());
        _exit(127);
    }
    close(out_pipe[1]);
    close(err_pipe[1]);

    tool_result result;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(options.timeout_ms);
    pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
    std::string *sinks[2] = {&result.out, &result.err};
    int open_count = 2;
    while (open_count > 0)
    {
        if (std::chrono::steady_clock::now() >= deadline)
        {
            result.timed_out = true;
            kill(pid, SIGKILL);
            break;
        }
        if (poll(fds, 2, 50) <= 0)
            continue;
        for (int i = 0; i < 2; ++i)
        {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            char buffer[4096];
            ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0)
            {
                sinks[i]->append(buffer, static_cast<size_t>(n));
                continue;
            }
            close(fds[i].fd);
            fds[i].fd = -1;
            --open_count;
        }
    }
    for (pollfd &p : fds)
    {
        if (p.fd >= 0)
            close(p.fd);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

} // namespace qel_test
