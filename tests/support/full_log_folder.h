// A gateway's log folder (or FIX store folder) that fills and is freed again, and the
// gateway's standard error beside it, for the end-to-end tests of a full log folder and a
// full FIX store and the attack benchmark.
//
// The folder is a small tmpfs of the caller's own mount namespace (it goes with the
// caller's process), filled by a file of the caller's. Where mounting is not permitted,
// the gateway's file size limit stands in for the full disk (prlimit, SIGXFSZ ignored and
// inherited by the gateway), and its standard error then goes into a pipe, which no size
// limit stops. Mount before the gateway starts, so that it inherits the namespace.
#pragma once

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace qel_test
{

class full_log_folder
{
  public:
    explicit full_log_folder(const std::string &folder, const std::string &size = "32m") : m_folder(folder)
    {
        const std::string options = "size=" + size + ",mode=0700";
        m_mounted = unshare(CLONE_NEWNS) == 0 &&
                    mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
                    mount("tmpfs", folder.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0;
        signal(SIGXFSZ, SIG_IGN);
    }
    ~full_log_folder()
    {
        for (const std::string &other : m_others)
            umount2(other.c_str(), MNT_DETACH);
        if (m_mounted)
            umount2(m_folder.c_str(), MNT_DETACH);
        signal(SIGXFSZ, SIG_DFL);
    }
    full_log_folder(const full_log_folder &) = delete;
    full_log_folder &operator=(const full_log_folder &) = delete;

    bool mounted() const { return m_mounted; }
    // What a log write of the gateway fails with once the folder is full.
    int expected_error() const { return m_mounted ? ENOSPC : EFBIG; }

    // Fills the folder (or caps the gateway's files); false with the reason in *error. The
    // cap of the files stands for the disk's end: 0 refuses every write, a size lets a file
    // below it be written as a full disk lets a file write into the blocks it holds.
    bool fill(int gateway, std::string *error, rlim_t cap = 0)
    {
        if (!m_mounted)
        {
            struct rlimit full = {cap, RLIM_INFINITY};
            if (getrlimit(RLIMIT_FSIZE, &m_old) != 0)
                return failed(error, "getrlimit");
            full.rlim_max = m_old.rlim_max;
            return prlimit(gateway, RLIMIT_FSIZE, &full, nullptr) == 0 || failed(error, "prlimit");
        }
        int filler = open((m_folder + "/filler").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (filler < 0)
            return failed(error, "open filler");
        std::vector<char> block(1 << 20, 'f');
        while (write(filler, block.data(), block.size()) > 0)
        {
        }
        const int why = errno;
        close(filler);
        errno = why;
        return why == ENOSPC || failed(error, "fill");
    }
    // Another folder (made when missing) on a small tmpfs of the same namespace, filled at
    // once; mounted folders only.
    bool fill_another(const std::string &folder, const std::string &size, std::string *error)
    {
        const std::string options = "size=" + size + ",mode=0700";
        mkdir(folder.c_str(), 0700);
        if (!m_mounted || mount("tmpfs", folder.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0)
            return failed(error, "mount");
        m_others.push_back(folder);
        int filler = open((folder + "/filler").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (filler < 0)
            return failed(error, "open filler");
        std::vector<char> block(1 << 20, 'f');
        while (write(filler, block.data(), block.size()) > 0)
        {
        }
        const int why = errno;
        close(filler);
        errno = why;
        return why == ENOSPC || failed(error, "fill");
    }
    bool free_space(int gateway, std::string *error)
    {
        if (!m_mounted)
            return prlimit(gateway, RLIMIT_FSIZE, &m_old, nullptr) == 0 || failed(error, "prlimit");
        return unlink((m_folder + "/filler").c_str()) == 0 || failed(error, "unlink filler");
    }

  private:
    static bool failed(std::string *error, const char *what)
    {
        if (error != nullptr)
            *error = std::string(what) + ": " + strerror(errno);
        return false;
    }

    std::string m_folder;
    std::vector<std::string> m_others;
    bool m_mounted = false;
    struct rlimit m_old = {};
};

// The gateway's standard error: its redirect file, or a pipe in its place.
class gateway_stderr
{
  public:
    gateway_stderr(const std::string &path, bool as_pipe) : m_path(path), m_as_pipe(as_pipe)
    {
        if (!as_pipe)
            return;
        if (mkfifo(path.c_str(), 0600) != 0)
            return;
        m_pipe = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        fcntl(m_pipe, F_SETPIPE_SZ, 1 << 20);
    }
    ~gateway_stderr()
    {
        if (m_pipe >= 0)
            close(m_pipe);
    }
    gateway_stderr(const gateway_stderr &) = delete;
    gateway_stderr &operator=(const gateway_stderr &) = delete;

    // False when the pipe was asked for and could not be made.
    bool ready() const { return m_pipe >= 0 || !m_as_pipe; }

    std::string text()
    {
        if (m_pipe < 0)
            return read_file(m_path);
        char buffer[4096];
        ssize_t got;
        while ((got = read(m_pipe, buffer, sizeof buffer)) > 0)
            m_text.append(buffer, static_cast<size_t>(got));
        return m_text;
    }

  private:
    std::string m_path;
    bool m_as_pipe = false;
    int m_pipe = -1;
    std::string m_text;
};

} // namespace qel_test
