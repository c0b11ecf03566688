// Helpers shared by the test suites: a temporary folder that removes itself, files in
// it, reserved ports, and child processes with a time limit.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qel_test
{

class temp_dir
{
  public:
    temp_dir();
    ~temp_dir();
    temp_dir(const temp_dir &) = delete;
    temp_dir &operator=(const temp_dir &) = delete;

    const std::string &path() const { return m_path; }
    std::string file(const std::string &name) const { return m_path + "/" + name; }
    void write(const std::string &name, const std::string &content) const;
    std::string read(const std::string &name) const;
    // Names (not paths) of the entries of a subfolder, sorted.
    std::vector<std::string> list(const std::string &subfolder = "") const;

  private:
    std::string m_path;
};

std::string read_file(const std::string &path);

// How often `part` stands in `text`.
inline size_t count_of(const std::string &text, const std::string &part)
{
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

// A TCP port kept for a server under test, for as long as the reservation lives. The
// reservation is a socket bound to the port on every address with address reuse and
// never listening: the kernel then skips the port when it picks one for another bind to
// port 0 or for an outgoing connection, while a server that sets address reuse (every
// listener here does: the gateway's, the simulated peers' and the FIX engine's) can still
// bind it and listen. Closing a probe socket and hoping instead lets a connection of a
// test running beside this one take the port first.
class reserved_port
{
  public:
    reserved_port();
    ~reserved_port();
    reserved_port(const reserved_port &) = delete;
    reserved_port &operator=(const reserved_port &) = delete;

    uint16_t number() const { return m_number; }
    std::string text() const { return std::to_string(m_number); }

  private:
    int m_fd = -1;
    uint16_t m_number = 0;
};

// Cap a socket's send or receive buffer at `bytes`, which also stops the kernel growing
// it: a test that fills a connection until a write would block then fills a known amount,
// whatever the machine's TCP settings allow (with automatic growth a loopback connection
// can swallow several megabytes). Cap a receiving end before it connects or listens.
// False when the kernel refused.
bool cap_send_buffer(int fd, int bytes);
bool cap_receive_buffer(int fd, int bytes);

struct process_result
{
    int exit_code;      // the gateway's value (pf_exit_code_from_wait_status), -1 when killed
    int signal;         // the signal that ended it, 0 otherwise
    bool timed_out;     // it was killed after the time limit
    std::string output; // standard output and error together
};

// Runs a program in a folder, with a time limit; stdin is /dev/null. It dies with the test.
process_result run_process(const std::vector<std::string> &argv, const std::string &folder, int timeout_ms);

// Called in a child between fork and exec: the child is killed when the test process ends,
// however it ends (an interrupted or killed run leaves no gateway behind). The kernel ties
// this to the thread that forked, so `forked_by_main_thread` (main_thread_forks() read
// before fork) keeps it off for children forked by a test's own threads, which may end
// before their children. Async-signal-safe; `parent` is the test's pid read before fork.
void die_with_parent(int parent, bool forked_by_main_thread);
bool main_thread_forks();

// A child process running in the background until stopped; it dies with the test.
class child_process
{
  public:
    child_process(const std::vector<std::string> &argv, const std::string &folder);
    ~child_process();
    child_process(const child_process &) = delete;
    child_process &operator=(const child_process &) = delete;

    int pid() const { return m_pid; }
    void signal(int signal_number) const;
    // Waits for the end, at most timeout_ms (then kills it and reports timed_out).
    process_result wait(int timeout_ms);

  private:
    int m_pid = -1;
    int m_output_fd = -1;
    std::string m_output;
    bool m_reaped = false;
};

// Polls a condition every 10 ms up to timeout_ms; true once it held.
template <typename Condition> bool wait_until(Condition condition, int timeout_ms);

} // namespace qel_test

#include "support/test_support_wait.h"
