// Process creation over posix_spawn: safe in a threaded parent (no code of ours runs
// between fork and exec) and it reports a failed exec as an error number to the caller.
#include "platform/admin/pf_spawn.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern char **environ;

bool pf_split_command_line(const char *text, std::vector<std::string> *words)
{
    words->clear();
    if (text == nullptr)
        return true;
    std::string word;
    bool in_word = false;
    bool quoted = false;
    for (const char *p = text; *p != '\0'; ++p)
    {
        char c = *p;
        if (c == '"')
        {
            quoted = !quoted;
            in_word = true;
            continue;
        }
        if (!quoted && (c == ' ' || c == '\t'))
        {
            if (in_word)
                words->push_back(word);
            word.clear();
            in_word = false;
            continue;
        }
        word.push_back(c);
        in_word = true;
    }
    if (quoted)
        return false;
    if (in_word)
        words->push_back(word);
    return true;
}

std::string pf_folder_of(const char *path)
{
    const char *slash = path != nullptr ? strrchr(path, '/') : nullptr;
    if (slash == nullptr)
        return ".";
    if (slash == path)
        return "/";
    return std::string(path, static_cast<size_t>(slash - path));
}

namespace
{
// The caller's environment with the given "NAME=value" texts put in.
std::vector<std::string> merged_environment(const std::vector<std::string> &extra)
{
    std::vector<std::string> result;
    for (char **p = environ; p != nullptr && *p != nullptr; ++p)
    {
        std::string entry = *p;
        std::string name = entry.substr(0, entry.find('='));
        bool replaced = false;
        for (const std::string &e : extra)
            replaced = replaced || e.compare(0, name.size() + 1, name + "=") == 0;
        if (!replaced)
            result.push_back(entry);
    }
    result.insert(result.end(), extra.begin(), extra.end());
    return result;
}
} // namespace

int pf_spawn(const char *path, const std::vector<std::string> &argv, const pf_spawn_options &options,
             pid_t *pid_out)
{
    if (path == nullptr || *path == '\0' || argv.empty() || pid_out == nullptr)
        return EINVAL;
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    int rc = posix_spawn_file_actions_init(&actions);
    if (rc != 0)
        return rc;
    rc = posix_spawnattr_init(&attributes);
    if (rc != 0)
    {
        posix_spawn_file_actions_destroy(&actions);
        return rc;
    }

    if (options.working_folder != nullptr)
        rc = rc != 0 ? rc : posix_spawn_file_actions_addchdir_np(&actions, options.working_folder);
    rc = rc != 0 ? rc : posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (options.stdout_fd >= 0)
        rc = rc != 0 ? rc : posix_spawn_file_actions_adddup2(&actions, options.stdout_fd, STDOUT_FILENO);
    else
        rc = rc != 0 ? rc
                     : posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    if (options.stderr_fd >= 0)
        rc = rc != 0 ? rc : posix_spawn_file_actions_adddup2(&actions, options.stderr_fd, STDERR_FILENO);
    else
        rc = rc != 0 ? rc
                     : posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    rc = rc != 0 ? rc : posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);

    // Dispositions the parent set (SIGPIPE ignored, handlers) must not reach the program.
    sigset_t defaults, empty;
    sigfillset(&defaults);
    sigdelset(&defaults, SIGKILL);
    sigdelset(&defaults, SIGSTOP);
    sigemptyset(&empty);
    short flags = POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK;
    if (options.own_process_group && !options.new_session)
        flags |= POSIX_SPAWN_SETPGROUP;
    if (options.new_session)
        flags |= POSIX_SPAWN_SETSID;
    rc = rc != 0 ? rc : posix_spawnattr_setsigdefault(&attributes, &defaults);
    rc = rc != 0 ? rc : posix_spawnattr_setsigmask(&attributes, &empty);
    rc = rc != 0 ? rc : posix_spawnattr_setpgroup(&attributes, 0);
    rc = rc != 0 ? rc : posix_spawnattr_setflags(&attributes, flags);

    std::vector<char *> args;
    for (const std::string &arg : argv)
        args.push_back(const_cast<char *>(arg.c_str()));
    args.push_back(nullptr);
    std::vector<std::string> environment = merged_environment(options.environment);
    std::vector<char *> env;
    for (const std::string &entry : environment)
        env.push_back(const_cast<char *>(entry.c_str()));
    env.push_back(nullptr);

    if (rc == 0)
        rc = posix_spawn(pid_out, path, &actions, &attributes, args.data(), env.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return rc;
}
