// Helpers shared by the test suites: a temporary folder that removes itself, files in
// it, free loopback ports, and child processes with a time limit.
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

// A TCP port on 127.0.0.1 that nothing listens on right now.
uint16_t free_port();

struct process_result
{
    int exit_code;      // the gateway's value (pf_exit_code_from_wait_status), -1 when killed
    int signal;         // the signal that ended it, 0 otherwise
    bool timed_out;     // it was killed after the time limit
    std::string output; // standard output and error together
};

// Runs a program in a folder, with a time limit; stdin is /dev/null.
process_result run_process(const std::vector<std::string> &argv, const std::string &folder, int timeout_ms);

// A child process running in the background until stopped.
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
