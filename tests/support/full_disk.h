// A full disk for the test process itself, without mounting anything, and standard error
// caught beside it. The cap is RLIMIT_FSIZE: no file of the process grows past it (a
// write that would fails with EFBIG, a part of it going out first, as on a disk that
// fills); SIGXFSZ is ignored meanwhile, so that the write fails instead of ending the
// process. Header-only, C++14, so that the FIX engine's suites use it too.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/resource.h>
#include <unistd.h>

#include <string>

#include "support/test_support.h"

namespace qel_test
{

class file_size_cap
{
  public:
    explicit file_size_cap(rlim_t bytes)
    {
        m_old_handler = signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_old);
        struct rlimit capped = m_old;
        capped.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &capped);
    }
    // The disk has room again.
    void lift()
    {
        if (!m_lifted)
            setrlimit(RLIMIT_FSIZE, &m_old);
        m_lifted = true;
    }
    ~file_size_cap()
    {
        lift();
        signal(SIGXFSZ, m_old_handler);
    }
    file_size_cap(const file_size_cap &) = delete;
    file_size_cap &operator=(const file_size_cap &) = delete;

  private:
    struct rlimit m_old;
    void (*m_old_handler)(int);
    bool m_lifted = false;
};

// Standard error (descriptor 2 and the stream) goes into a pipe while this lives, which
// no file size cap stops; text() gives what has come so far (up to the pipe's 1 MiB).
class stderr_capture
{
  public:
    stderr_capture()
    {
        fflush(stderr);
        int ends[2];
        if (pipe2(ends, O_CLOEXEC) != 0)
            return;
        fcntl(ends[0], F_SETPIPE_SZ, 1 << 20);
        fcntl(ends[0], F_SETFL, O_NONBLOCK);
        m_read = ends[0];
        dup2(ends[1], 2);
        close(ends[1]);
    }
    std::string text()
    {
        fflush(stderr);
        char buffer[4096];
        ssize_t got;
        while (m_read >= 0 && (got = read(m_read, buffer, sizeof buffer)) > 0)
            m_text.append(buffer, static_cast<size_t>(got));
        return m_text;
    }
    ~stderr_capture()
    {
        fflush(stderr);
        dup2(m_saved, 2);
        close(m_saved);
        if (m_read >= 0)
            close(m_read);
    }
    stderr_capture(const stderr_capture &) = delete;
    stderr_capture &operator=(const stderr_capture &) = delete;

  private:
    int m_saved = dup(2);
    int m_read = -1;
    std::string m_text;
};

} // namespace qel_test
